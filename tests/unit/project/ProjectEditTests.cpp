#include <gtest/gtest.h>

#include <filesystem>

#include "ProjectTestSupport.h"
#include "core/TextUtils.h"
#include "project/IniFile.h"
#include "project/Project.h"
#include "system/FileCtrl.h"
#include "system/Platform.h"
#include "system/Sandbox.h"
#include "system/SysKernel.h"

namespace {
TIntfPtr<IProject> NewProject() { return TIntfPtr<IProject>(new TProject()); }
TProject& Obj(const TIntfPtr<IProject>& p) { return *p->GetProjectObject(); }

AnsiString Nodes(const TProject& o) {
  AnsiString s;
  for (TDirectoryInfoRec* d : o.FDirectoryInfos) s += d->Path + "|" + d->Name + ";";
  return s;
}
AnsiString Targets(const TProject& o) {
  AnsiString s;
  for (TFileInfoRec* f : o.FFileInfos) s += f->TargetDir + "|" + f->FileName + ";";
  return s;
}
}  // namespace

TEST_F(ProjectTest, AddFolderScansTheTreeOnceAndSkipsHiddenEntries) {
  WriteFile(FWork + "src\\a.txt", "12345");
  WriteFile(FWork + "src\\sub\\b.txt", "");
  WriteFile(FWork + "src\\.secret", "x");
  WriteFile(FWork + "src\\.cache\\c.txt", "x");
  auto p = NewProject();
  auto files = QueryIntf<IProjectFiles>(p);
  auto script = Script();

  EXPECT_FALSE(files->AddFolder("目标"));  // cancelled
  EXPECT_EQ(script->BrowseTitle, "选择文件夹");
  EXPECT_EQ(Obj(p).FDirectoryInfos.Count(), 0);

  script->Folder = FWork + "src";
  ASSERT_TRUE(files->AddFolder("目标"));
  TProject& o = Obj(p);
  EXPECT_EQ(Nodes(o), "目标|src;目标\\src|sub;");
  EXPECT_EQ(Targets(o), "目标\\src|a.txt;目标\\src\\sub|b.txt;");
  TFileInfoRec* a = o.FFileInfos[0];
  EXPECT_EQ(a->SourcePath, FWork + "src\\a.txt");
  EXPECT_EQ(a->FileSize, 5);
  EXPECT_DOUBLE_EQ(a->FileDate, FileStampOf(a->SourcePath));  // x87 keeps excess precision on i686
  EXPECT_EQ(a->IconIndex, FileIconIndex(a->SourcePath, true));
  EXPECT_EQ(a->NoOverwrite + a->AutoRun + a->SelfRegister + a->RegServer + a->DesignFlag + a->LogFlag, 0);

  // The same folder again, given with a trailing backslash, adds nothing.
  script->Folder = FWork + "src\\";
  ASSERT_TRUE(files->AddFolder("目标"));
  EXPECT_EQ(o.FDirectoryInfos.Count(), 2);
  EXPECT_EQ(o.FFileInfos.Count(), 2);

  // Spelled in other letters: no new node, but the files are new source paths.
  script->Folder = FWork + "SRC";
  ASSERT_TRUE(files->AddFolder("目标"));
  EXPECT_EQ(o.FDirectoryInfos.Count(), 2);
  EXPECT_EQ(o.FFileInfos.Count(), 4);
  EXPECT_EQ(o.FFileInfos[2]->SourcePath, FWork + "SRC\\a.txt");

  // Two links back up: each is entered once, and no link below a linked folder is.
  if (IsSandbox()) {
    WriteFile(FWork + "loop\\f.txt", "x");
    std::filesystem::create_directory_symlink("..", HostPath(FWork + "loop\\up"));
    std::filesystem::create_directory_symlink("..", HostPath(FWork + "loop\\up2"));
    script->Folder = FWork + "loop";
    ASSERT_TRUE(files->AddFolder("L"));
    AnsiString found;
    for (TFileInfoRec* f : o.FFileInfos)
      if (f->FileName == "f.txt") found += f->TargetDir + ";";
    EXPECT_EQ(found, "L\\loop;L\\loop\\up\\loop;L\\loop\\up2\\loop;");
  }
}


TEST_F(ProjectTest, AddFolderTreeWithContentsOnlyFillsTheTargetItself) {
  WriteFile(FWork + "app\\a.txt", "12345");
  WriteFile(FWork + "app\\doc\\b.txt", "bb");
  WriteFile(FWork + "app\\.git\\c.txt", "x");
  WriteFile(FWork + "app\\empty\\.keep", "");
  auto p = NewProject();
  TProject& o = Obj(p);
  o.AddFolderTree(FWork + "app\\", "Program Files", true);
  EXPECT_EQ(Nodes(o), "Program Files|doc;Program Files|empty;");
  EXPECT_EQ(Targets(o), "Program Files|a.txt;Program Files\\doc|b.txt;");
  EXPECT_EQ(o.FFileInfos[1]->SourcePath, FWork + "app\\doc\\b.txt");
  EXPECT_EQ(o.FFileInfos[1]->FileSize, 2);
  // Again, with a file more: only that one is added.
  WriteFile(FWork + "app\\doc\\new.txt", "n");
  o.AddFolderTree(FWork + "app", "Program Files", true);
  EXPECT_EQ(Targets(o), "Program Files|a.txt;Program Files\\doc|b.txt;Program Files\\doc|new.txt;");
  EXPECT_EQ(o.FDirectoryInfos.Count(), 2);
  // Without contentsOnly it is AddFolder's scan: a node of its own.
  o.AddFolderTree(FWork + "app", "X");
  EXPECT_EQ(o.FDirectoryInfos[2]->Path + "|" + o.FDirectoryInfos[2]->Name, "X|app");
  EXPECT_EQ(o.FFileInfos[3]->TargetDir, "X\\app");
}

TEST_F(ProjectTest, AddFilesWarnsAboutListedFiles) {
  for (const char* n : {"1.txt", "2.txt", "3.txt"}) WriteFile(FWork + n, n);
  auto p = NewProject();
  auto files = QueryIntf<IProjectFiles>(p);
  auto script = Script();
  AnsiString last = "unchanged";
  EXPECT_FALSE(files->AddFiles("Dir", last));
  EXPECT_EQ(last, "unchanged");

  script->Files = std::make_unique<TStringList>(TStringList{FWork + "2.txt"});
  ASSERT_TRUE(files->AddFiles("Dir", last));
  EXPECT_EQ(script->FileFilter, "所有文件(*.*)|*.*");
  script->Files = std::make_unique<TStringList>(TStringList{FWork + "1.txt", FWork + "2.txt", FWork + "3.txt"});
  ASSERT_TRUE(files->AddFiles("Dir", last));
  EXPECT_EQ(Targets(Obj(p)), "Dir|2.txt;Dir|1.txt;Dir|3.txt;");
  EXPECT_EQ(last, FWork + "3.txt");
  ASSERT_EQ(script->Boxes.size(), 1u);
  EXPECT_EQ(script->Boxes[0].first, TBoxStyle::Warning);
  EXPECT_EQ(script->Boxes[0].second, "文件'" + FWork + "2.txt'已添加在该目录下，不能继续添加。");

  // Only a listed file warns: the same file under another folder is added.
  script->Files = std::make_unique<TStringList>(TStringList{FWork + "1.txt", FWork + "missing.txt", FWork + "3.txt"});
  EXPECT_THROW(files->AddFiles("Other", last), EFOpenError);
  EXPECT_EQ(Obj(p).FFileInfos.Count(), 4);  // the one before the failure stays
  EXPECT_EQ(last, FWork + "1.txt");
}

TEST_F(ProjectTest, DeleteDirectoryTakesMatchingRecordsAndTheSubtree) {
  auto p = NewProject();
  TProject& o = Obj(p);
  auto script = Script();
  TDirectoryInfoRec* app = p->AddDirectory("App", "Root", 0);
  p->AddDirectory("App2", "Root", 0);  // its full path starts with App's
  p->AddDirectory("Deep", "Root\\App\\Sub", 0);
  p->AddDirectory("Other", "Root", 0);
  p->AddDirectory("Kid", "Root\\App2", 0);
  for (const char* t : {"Root\\App", "Root\\App\\Sub", "Root\\App2", "Root\\Other", "root\\app"}) o.FFileInfos.Add()->TargetDir = t;

  script->Answer = false;
  EXPECT_FALSE(p->DeleteDirectory(app));
  EXPECT_EQ(o.FDirectoryInfos.Count(), 5);
  EXPECT_EQ(script->Boxes.back().second, "要删除选中的节点吗?");
  script->Answer = true;
  EXPECT_TRUE(p->DeleteDirectory(app));
  EXPECT_EQ(Nodes(o), "Root|App2;Root|Other;");  // the sibling's child goes with the substring test
  EXPECT_EQ(Targets(o), "Root\\Other|;root\\app|;");  // a byte-exact substring test

  TDirectoryInfoRec* key = p->AddDirectory("Soft", "HKEY_CURRENT_USER\\Soft", 1);
  for (const char* k : {"HKEY_CURRENT_USER\\Soft\\A", "HKEY_CURRENT_USER\\soft", "HKEY_USERS\\X"}) o.FRegistryInfos.Add()->KeyPath = k;
  EXPECT_TRUE(p->DeleteDirectory(key));
  ASSERT_EQ(o.FRegistryInfos.Count(), 2);
  EXPECT_EQ(o.FRegistryInfos[0]->KeyPath, "HKEY_CURRENT_USER\\soft");

  TDirectoryInfoRec* menu = p->AddDirectory("游戏", "开始菜单", 2);
  for (const char* f : {"开始菜单", "开始菜单\\游戏", "桌面"}) o.FShortcuts.Add()->Folder = f;
  EXPECT_TRUE(p->DeleteDirectory(menu));
  ASSERT_EQ(o.FShortcuts.Count(), 1);
  EXPECT_EQ(o.FShortcuts[0]->Folder, "桌面");
  EXPECT_EQ(Nodes(o), "Root|App2;Root|Other;");
}

TEST_F(ProjectTest, RenameDirectoryRewritesOnlyMatchingRecords) {
  auto p = NewProject();
  TProject& o = Obj(p);
  TDirectoryInfoRec* node = p->AddDirectory("Old", "Root\\Old", 0);
  for (const char* t : {"Root\\Old", "ROOT\\old", "Root\\Old\\Sub", "Root"}) o.FFileInfos.Add()->TargetDir = t;
  TDirectoryInfoRec* key = p->AddDirectory("K", "HKEY_USERS\\K", 1);
  o.FRegistryInfos.Add()->KeyPath = "hkey_users\\k";
  o.FRegistryInfos.Add()->KeyPath = "HKEY_USERS\\K\\Sub";
  EXPECT_TRUE(p->RenameDirectory(node, "Root\\New"));
  EXPECT_EQ(node->Name, "Root\\New");
  EXPECT_EQ(Targets(o), "Root\\New|;Root\\New|;Root\\Old\\Sub|;Root|;");
  EXPECT_TRUE(p->RenameDirectory(key, "HKEY_USERS\\L"));
  EXPECT_EQ(o.FRegistryInfos[0]->KeyPath, "HKEY_USERS\\L");
  EXPECT_EQ(o.FRegistryInfos[1]->KeyPath, "HKEY_USERS\\K\\Sub");
}

TEST_F(ProjectTest, ImportAndDeleteComponentOnDisk) {
  WriteFile(FData + "Imports\\ComList.ini", "[Com]\r\n[Description]\r\n[ComSize]\r\nX=1\r\n");
  WriteFile(FWork + "setup.exe", "MZ");
  WriteFile(FWork + "runtime\\lib\\a.dll", "dll");
  auto p = NewProject();
  auto c = QueryIntf<IProjectComponents>(p);
  auto script = Script();
  c->ImportComponent("运行库", "第一行\r\n[Com]", TStringList{FWork + "setup.exe", FWork + "runtime", FWork + "none"});

  TIniFile catalog(FData + "Imports\\ComList.ini");
  EXPECT_EQ(catalog.ReadString("Com", "运行库", "?"), "运行库");
  EXPECT_EQ(catalog.ReadString("Description", "运行库", "?"), "第一行  [Com]");  // kept on one line
  const AnsiString dir = FData + "Imports\\运行库\\";
  EXPECT_EQ(ReadFile(dir + "运行库\\setup.exe"), "MZ");
  EXPECT_EQ(ReadFile(dir + "运行库\\runtime\\lib\\a.dll"), "dll");
  TIniFile ini(dir + "运行库.ini");
  EXPECT_EQ(ini.ReadString("RegistryList", "Regtype", ""), "System");
  EXPECT_EQ(ini.ReadString("Option", "ExeFile", ""), "Setup.exe");
  EXPECT_EQ(c->GetComponentCatalog()->Count(), 0);  // read only at construction
  // Its size, for the wizard's component page: every file it copied.
  EXPECT_EQ(TIniFile(FData + "Imports\\ComList.ini").ReadString("ComSize", "运行库", "?"), "5");
  EXPECT_TRUE(script->Boxes.empty()) << "it has its Setup.exe";

  // Without a Setup.exe the component would install nothing: one warning that says so.
  WriteFile(FWork + "tools\\readme.txt", "0123456789");
  c->ImportComponent("工具", "t", TStringList{FWork + "tools", FWork + "none"});
  ASSERT_EQ(script->Boxes.size(), 1u);
  EXPECT_NE(script->Boxes[0].second.find("组件“工具”中没有 Setup.exe"), AnsiString::npos) << script->Boxes[0].second;
  EXPECT_EQ(TIniFile(FData + "Imports\\ComList.ini").ReadString("ComSize", "工具", "?"), "10");
  // Nothing copied: no size, no warning, no component INI.
  script->Boxes.clear();
  c->ImportComponent("空", "e", TStringList{FWork + "none"});
  EXPECT_TRUE(script->Boxes.empty());
  EXPECT_EQ(TIniFile(FData + "Imports\\ComList.ini").ReadString("ComSize", "空", "?"), "?");
  EXPECT_FALSE(FileExists(FData + "Imports\\空\\空.ini"));

  // A folder that holds the component's own folder is not copied into itself.
  c->ImportComponent("自身", "d", TStringList{FData + "Imports\\", FData});
  EXPECT_TRUE(FolderExists(FData + "Imports\\自身\\自身"));
  EXPECT_FALSE(FolderExists(FData + "Imports\\自身\\自身\\Imports"));
  EXPECT_FALSE(FolderExists(FData + "Imports\\自身\\自身\\data"));
  if (IsSandbox()) {  // the sandbox's drive C holds only this test's folders
    ASSERT_EQ(FData.substr(0, 3), "C:\\");
    c->ImportComponent("自身", "d", TStringList{"C:\\"});
    EXPECT_FALSE(FolderExists(FData + "Imports\\自身\\自身\\C"));
    EXPECT_TRUE(ListFolder(FData + "Imports\\自身\\自身").empty());
  }

  // Names that would leave the Imports folder or break the INI are refused before any change.
  script->Boxes.clear();
  for (const char* bad : {"..", "..\\..\\x", "a/b", "", "k=v", "C:x"})
    EXPECT_THROW(c->ImportComponent(bad, "d", TStringList{FWork + "setup.exe"}), Exception) << bad;
  EXPECT_THROW(c->DeleteComponent(".."), Exception);
  EXPECT_TRUE(script->Boxes.empty());
  EXPECT_TRUE(FolderExists(FData + "Imports"));

  script->Answer = false;
  EXPECT_FALSE(c->DeleteComponent("运行库"));
  EXPECT_TRUE(FolderExists(dir));
  script->Answer = true;
  EXPECT_TRUE(c->DeleteComponent("运行库"));
  EXPECT_EQ(script->Boxes.back().second, "要删除该条记录吗?");
  EXPECT_FALSE(FolderExists(dir));
  TIniFile after(FData + "Imports\\ComList.ini");
  EXPECT_FALSE(after.ValueExists("Com", "运行库"));
  EXPECT_FALSE(after.ValueExists("Description", "运行库"));
  EXPECT_EQ(after.ReadString("ComSize", "X", ""), "1");
}
