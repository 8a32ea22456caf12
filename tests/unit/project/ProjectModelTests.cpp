#include <gtest/gtest.h>

#include "ProjectTestSupport.h"
#include "core/Sysconsts.h"
#include "core/TextUtils.h"
#include "project/OpenHistory.h"
#include "project/Project.h"
#include "project/ProjectFile.h"
#include "system/FileCtrl.h"
#include "system/Platform.h"
#include "system/Sandbox.h"
#include "system/SysKernel.h"

namespace {
TIntfPtr<IProject> NewProject() { return TIntfPtr<IProject>(new TProject()); }
TProject& Obj(const TIntfPtr<IProject>& p) { return *p->GetProjectObject(); }
}  // namespace

TEST_F(ProjectTest, NewProjectHasTheEightDefaultsAndSavesTo250Bytes) {
  WriteFile(FData + "Ins.ini", "[基本信息描述]\r\n项目名称=软件的名称\r\n");
  auto p = NewProject();
  TProject& o = Obj(p);
  ASSERT_EQ(o.FWorkInfos.Count(), 8);
  const char* names[] = {"项目名称", "作者名称", "版本号", "作者网址", "压缩类型", "安装程序图标", "卸载程序图标", "安装界面显示"};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(o.FWorkInfos[i]->Name, names[i]);
  EXPECT_EQ(o.FWorkInfos[0]->Hint, "软件的名称");
  EXPECT_EQ(o.FWorkInfos[1]->Hint, "");
  EXPECT_EQ(o.FWorkInfos[4]->Items, "不压缩,最快压缩,默认压缩,最好压缩");
  EXPECT_EQ(o.FWorkInfos[4]->Kind, twkSelect);
  EXPECT_EQ(o.FWorkInfos[5]->Kind, twkIco);
  EXPECT_EQ(o.FWorkInfos[7]->Value, "是");
  EXPECT_EQ(o.FPageInfos.Count(), 0);         // no Page.txt
  EXPECT_EQ(o.FComponentCatalog.Count(), 0);  // no ComList.ini

  p->SaveToFile(FWork + "new.gbp");
  AnsiString bytes = ReadFile(FWork + "new.gbp");
  ASSERT_EQ(bytes.size(), 250u);
  // Count 8, then "项目名称" as a stream string: 08 00 00 00 CF EE C4 BF C3 FB B3 C6.
  EXPECT_EQ(bytes.substr(0, 16), AnsiString("\x08\0\0\0\x08\0\0\0\xCF\xEE\xC4\xBF\xC3\xFB\xB3\xC6", 16));
  // The last setting ends with its kind byte 4, then six zero counts and the empty component text.
  EXPECT_EQ(bytes.substr(250 - 29), AnsiString("\x04", 1) + AnsiString(28, '\0'));
  EXPECT_EQ(o.FFileName, FWork + "new.gbp");
}

TEST_F(ProjectTest, FindWorkFoldsAsciiLettersOnlyAndKindNamesAreExact) {
  auto p = NewProject();
  EXPECT_EQ(p->FindWork("项目名称"), Obj(p).FWorkInfos[0]);
  TWorkInfoRec* r = Obj(p).FWorkInfos.Add();
  r->Name = "Setup Title\x81\x61";
  EXPECT_EQ(p->FindWork("SETUP title\x81\x41"), r);  // a trail byte folds like any letter byte
  EXPECT_EQ(p->FindWork("Setup Title\x81\x62"), nullptr);
  EXPECT_EQ(p->FindWork("Setup  Title\x81\x61"), nullptr);

  EXPECT_EQ(WorkKindFromName("twkJpg"), twkJpg);
  EXPECT_EQ(WorkKindFromName("twkComponent"), twkComponent);
  EXPECT_EQ(WorkKindFromName("TwkJpg"), 0);
  EXPECT_EQ(WorkKindFromName("twkjpg"), 0);
  EXPECT_EQ(WorkKindFromName("twkJpg "), 0);
}

TEST_F(ProjectTest, PageTemplateFieldRulesAndPictureRewrite) {
  WriteFile(FData + "Page.txt",
            "欢迎;标题图片;C:\\pic.jpg;;twkJpg\r\n"
            "选择安装文件夹;标题图片;C:\\pic.jpg;;twkJpg\n"
            "安装完毕;标题图片;C:\\pic.jpg;;twkStr\r"
            "p;v;c d;e;twkInt\r\n"
            "  p ; v ;\"c d\";\"x,\"\"y\"\"\";twkInt\r\n"
            "p;v;c;d;\r\n"
            "安装完毕;标题图片;x;;twkJpg;extra;fields");
  auto p = NewProject();
  const TPageInfoList& l = *p->GetPageList();
  ASSERT_EQ(l.Count(), 7);
  EXPECT_EQ(l[0]->Value, FData + "Image\\Head.jpg");
  EXPECT_EQ(l[1]->Value, FData + "Image\\Caption.jpg");
  EXPECT_EQ(l[1]->Kind, twkJpg);
  EXPECT_EQ(l[2]->Value, "C:\\pic.jpg");
  // An unquoted blank splits the value and shifts later fields.
  EXPECT_EQ(l[3]->Value, "c");
  EXPECT_EQ(l[3]->Items, "d");
  EXPECT_EQ(l[3]->Kind, 0);
  EXPECT_EQ(l[4]->Page, "p");
  EXPECT_EQ(l[4]->Name, "v");
  EXPECT_EQ(l[4]->Value, "c d");
  EXPECT_EQ(l[4]->Items, "x,\"y\"");
  EXPECT_EQ(l[4]->Kind, twkInt);
  // A trailing ";" gives an empty fifth field: kind 0.
  EXPECT_EQ(l[5]->Items, "d");
  EXPECT_EQ(l[5]->Kind, 0);
  EXPECT_EQ(l[6]->Value, FData + "Image\\Head.jpg");

  // A short line (an empty one too) stops the construction.
  WriteFile(FData + "Page.txt", "a;b;c;d;twkStr\r\n\r\na;b;c;d;twkStr\r\n");
  EXPECT_THROW(NewProject(), EListError);
  WriteFile(FData + "Page.txt", "a;b;c;d\r\n");
  EXPECT_THROW(NewProject(), EListError);
}

TEST_F(ProjectTest, ShippedDataFolderGivesEveryPageItsItems) {
  AnsiString data = ProgramPath(GBSETUP_SOURCE_DIR "/data");
  if (!IsSandbox()) data = "Z:" + ReplaceAll(data, "/", "\\");
  SetBaseFolder(data + "\\");
  auto p = NewProject();
  TStringList pages;
  p->GetPageNames(pages);
  EXPECT_EQ(pages.CommaText(), "欢迎,安装协议说明,软件使用说明,选择程序文件夹,选择安装组件,选择安装文件夹,确认安装,安装进程,安装完毕");
  for (const AnsiString& page : pages) {
    bool shown = false, picture = false;
    for (TPageInfoRec* r : *p->GetPageList()) {
      if (r->Page != page) continue;
      if (r->Name == "页面显示") shown = r->Value == "是" && r->Kind == twkSelect && r->Items == "是,否";
      if (r->Name == "标题图片") picture = r->Kind == twkJpg && FileExists(r->Value);
    }
    EXPECT_TRUE(shown) << GbkToUtf8(page);
    EXPECT_TRUE(picture) << GbkToUtf8(page);
  }
  ASSERT_NE(p->GetMainProgramItem(), nullptr);
  EXPECT_EQ(p->GetMainProgramItem()->Kind, twkFile);
  for (TWorkInfoRec* r : *p->GetWorkList()) EXPECT_FALSE(r->Hint.empty()) << GbkToUtf8(r->Name);
}

TEST_F(ProjectTest, ComponentCatalogueNamesWithDescriptions) {
  WriteFile(FData + "Imports\\ComList.ini",
            "[Com]\r\nVC运行库=VC运行库\r\nDX=DX\r\n[Description]\r\nvc运行库=运行库 2008\r\n[ComSize]\r\nDX=100\r\n");
  auto p = NewProject();
  TIntfPtr<IProjectComponents> c = QueryIntf<IProjectComponents>(p);
  EXPECT_EQ(c->GetComponentCatalog()->Text(), "VC运行库=运行库 2008\r\nDX=\r\n");
  EXPECT_EQ(c->GetComponents()->Count(), 0);
}

namespace {
// A project with every kind of record, GBK text in every string field and extreme numbers.
void FillEverything(TProject& o) {
  o.FWorkInfos[0]->Value = "测试软件";
  o.FWorkInfos[4]->Value = "最好压缩";
  TWorkInfoRec* w = o.FWorkInfos.Add();
  *w = {"附加设置", "值\x81\x5C", "甲,乙", 255, ""};
  TFileInfoRec* f = o.FFileInfos.Add();
  f->FileName = "程序.exe";
  f->SourcePath = "Z:\\源\\程序.exe";
  f->TargetDir = "程序目录\\子目录";
  f->Extra = "额外";
  f->FileDate = -693593.75;
  f->FileSize = INT64_MIN;
  f->IconIndex = FileIconIndex(f->SourcePath, true);
  f->NoOverwrite = 1;
  f->AutoRun = 0xFF;
  f->SelfRegister = 2;
  f->RegServer = 3;
  f->DesignFlag = 0x80;
  f->LogFlag = 7;
  f->OsFilter = "5.1 6.1 系统";
  TFileInfoRec* f2 = o.FFileInfos.Add();
  f2->FileName = "大.dat";
  f2->SourcePath = "C:\\大.dat";
  f2->FileDate = 46000.123456789;
  f2->FileSize = INT64_MAX;
  f2->IconIndex = FileIconIndex(f2->SourcePath, true);
  TSpecailFileRec* s = o.FSpecialFiles.Add();
  s->TargetDir = "系统目录";
  s->Sources->Add("C:\\源\\甲.dll");
  s->Sources->Add("C:\\源\\文件夹");
  o.FSpecialFiles.Add()->TargetDir = "空组";
  TRegistryInfoRec* g = o.FRegistryInfos.Add();
  *g = {"HKEY_LOCAL_MACHINE\\SOFTWARE\\软件", "名称", "数据", 2, 0xFE, "6.1"};
  o.FComponents.Add("组件甲");
  o.FComponents.Add("B");
  TPageInfoRec* pg = o.FPageInfos.Add();
  *pg = {"欢迎", "欢迎信息", "选择,其它", 5, "欢迎使用 %s"};
  TDirectoryInfoRec* d = o.FDirectoryInfos.Add();
  *d = {"程序目录", "安装目录", 2};
  TShotCutInfoRec* sc = o.FShortcuts.Add();
  *sc = {"开始菜单\\测试", "快捷方式", "说明", "Z:\\源\\程序.exe", "-参数 \"x\"", 0x99, INT32_MIN};
  TShotCutInfoRec* sc2 = o.FShortcuts.Add();
  sc2->ExtraInt = INT32_MAX;
}
}  // namespace

TEST_F(ProjectTest, SaveLoadSaveIsByteIdentical) {
  auto a = NewProject();
  FillEverything(Obj(a));
  a->SaveToFile(FWork + "a.gbp");
  WriteFile(FData + "Ins.ini", "[基本信息描述]\r\n附加设置=载入方的说明\r\n");

  auto b = NewProject();
  b->LoadFromFile(FWork + "a.gbp", false);
  EXPECT_EQ(Obj(b).FFileName, FWork + "a.gbp");
  b->SaveToFile(FWork + "b.gbp");
  AnsiString bytes = ReadFile(FWork + "a.gbp");
  EXPECT_EQ(bytes, ReadFile(FWork + "b.gbp"));

  TProject& o = Obj(b);
  ASSERT_EQ(o.FWorkInfos.Count(), 9);
  EXPECT_EQ(o.FWorkInfos[8]->Hint, "载入方的说明");  // hints come from the loading side
  EXPECT_EQ(o.FWorkInfos[8]->Kind, 255);
  EXPECT_EQ(o.FFileInfos[0]->FileSize, INT64_MIN);
  EXPECT_EQ(o.FFileInfos[1]->FileDate, 46000.123456789);
  EXPECT_EQ(o.FSpecialFiles[0]->Sources->Count(), 2);
  EXPECT_EQ(o.FSpecialFiles[1]->Sources->Count(), 0);
  EXPECT_EQ(o.FShortcuts[0]->ExtraInt, INT32_MIN);
  EXPECT_EQ(o.FComponents.Text(), "组件甲\r\nB\r\n");
  // Components: one stream string, every line ended by CR LF.
  AnsiString comp = AnsiString("\x0B\0\0\0", 4) + "组件甲\r\nB\r\n";
  EXPECT_NE(bytes.find(comp), AnsiString::npos);
}

TEST_F(ProjectTest, LoadMergesSettingsAndReplacesTheRest) {
  TProjectFileData d;
  *d.Works.Add() = {"SETUP title", "新值", "", 0, ""};
  *d.Works.Add() = {"项目名称", "名称", "", 1, ""};
  d.Components.Add("X");
  *d.Directories.Add() = {"n", "p", 0};
  TMemoryStream s;
  WriteProjectSections(s, ListsOf(d));
  WriteFile(FWork + "m.gbp", AnsiString(s.Data().begin(), s.Data().end()));

  WriteFile(FData + "Page.txt", "欢迎;页面显示;是;是,否;twkSelect\r\n");
  auto p = NewProject();
  TProject& o = Obj(p);
  TWorkInfoRec* own = o.FWorkInfos.Add();
  *own = {"Setup Title", "old", "a,b", 4, ""};
  o.FFileInfos.Add()->SourcePath = "gone";
  EXPECT_EQ(o.FPageInfos.Count(), 1);

  p->LoadFromFile(FWork + "m.gbp", false);
  ASSERT_EQ(o.FWorkInfos.Count(), 9);
  EXPECT_EQ(o.FWorkInfos[8], own);  // updated in place, stored spelling taken
  EXPECT_EQ(own->Name, "SETUP title");
  EXPECT_EQ(own->Value, "新值");
  EXPECT_EQ(own->Items, "");
  EXPECT_EQ(o.FWorkInfos[0]->Kind, 1);
  EXPECT_EQ(o.FWorkInfos[7]->Value, "是");  // not in the file: kept
  EXPECT_EQ(o.FFileInfos.Count(), 0);
  EXPECT_EQ(o.FPageInfos.Count(), 0);  // template items are gone
  EXPECT_EQ(o.FDirectoryInfos.Count(), 1);
  EXPECT_EQ(o.FComponents.Text(), "X\r\n");

  // A negative count reads as no records.
  TMemoryStream neg;
  WriteInt32(neg, -5);
  for (int i = 0; i < 3; ++i) WriteInt32(neg, 0);
  WriteInt32(neg, 0);  // component text
  for (int i = 0; i < 3; ++i) WriteInt32(neg, INT32_MIN);
  WriteFile(FWork + "neg.gbp", AnsiString(neg.Data().begin(), neg.Data().end()));
  p->LoadFromFile(FWork + "neg.gbp", false);
  EXPECT_EQ(o.FWorkInfos.Count(), 9);
  EXPECT_EQ(o.FDirectoryInfos.Count(), 0);
}

TEST_F(ProjectTest, IconIndexIsRecomputedOnLoad) {
  WriteFile(FWork + "tool.exe", "MZ");
  auto a = NewProject();
  TFileInfoRec* f = Obj(a).FFileInfos.Add();
  f->SourcePath = FWork + "tool.exe";
  f->IconIndex = 123456;
  a->SaveToFile(FWork + "i.gbp");
  auto b = NewProject();
  b->LoadFromFile(FWork + "i.gbp", false);
  EXPECT_EQ(Obj(b).FFileInfos[0]->IconIndex, FileIconIndex(FWork + "tool.exe", true));
  EXPECT_NE(Obj(b).FFileInfos[0]->IconIndex, 123456);
}

TEST_F(ProjectTest, EveryTruncationRaisesAndLeavesTheProjectUnchanged) {
  auto a = NewProject();
  FillEverything(Obj(a));
  a->SaveToFile(FWork + "full.gbp");
  const AnsiString full = ReadFile(FWork + "full.gbp");

  auto p = NewProject();
  Obj(p).FComponents.Add("before");
  p->SaveToFile(FWork + "before.gbp");
  const AnsiString before = ReadFile(FWork + "before.gbp");
  const AnsiString beforeName = Obj(p).FFileName;

  for (size_t n = 0; n < full.size(); ++n) {
    WriteFile(FWork + "cut.gbp", full.substr(0, n));
    try {
      p->LoadFromFile(FWork + "cut.gbp", true);
      ADD_FAILURE() << "no error at length " << n;
    } catch (const EDamagedData& e) {
      EXPECT_NE(e.Message().find(FWork + "cut.gbp"), AnsiString::npos);
      EXPECT_NE(e.Message().find(" section"), AnsiString::npos);
    }
  }
  EXPECT_EQ(Obj(p).FFileName, beforeName);
  EXPECT_FALSE(FileExists(HistoryFileName()));  // nothing recorded for a failed load
  p->SaveToFile(FWork + "after.gbp");
  EXPECT_EQ(ReadFile(FWork + "after.gbp"), before);

  // A count far past the end, and a negative string length, name their section.
  AnsiString huge = before.substr(0, 222) + AnsiString("\xFF\xFF\xFF\x7F", 4);
  WriteFile(FWork + "huge.gbp", huge);
  try {
    p->LoadFromFile(FWork + "huge.gbp", false);
    ADD_FAILURE();
  } catch (const EDamagedData& e) {
    EXPECT_NE(e.Message().find("files section"), AnsiString::npos) << e.Message();
  }
  AnsiString negative = AnsiString("\x01\0\0\0\xFF\xFF\xFF\xFF", 8) + AnsiString(20, 'x');
  WriteFile(FWork + "negative.gbp", negative);
  try {
    p->LoadFromFile(FWork + "negative.gbp", false);
    ADD_FAILURE();
  } catch (const EDamagedData& e) {
    EXPECT_NE(e.Message().find("settings section, record 1"), AnsiString::npos) << e.Message();
  }
  EXPECT_THROW(p->LoadFromFile(FWork + "missing.gbp", false), EFOpenError);
}

TEST_F(ProjectTest, FailedSaveKeepsTheOldFile) {
  auto p = NewProject();
  p->SaveToFile(FWork + "keep.gbp");
  const AnsiString old = ReadFile(FWork + "keep.gbp");
  Obj(p).FComponents.Add("new");
  // The temporary file cannot be made: a folder stands in its place.
  ASSERT_TRUE(ForceFolders(FWork + "keep.gbp.~sv"));
  EXPECT_THROW(p->SaveToFile(FWork + "keep.gbp"), EFCreateError);
  EXPECT_EQ(ReadFile(FWork + "keep.gbp"), old);
  try {
    p->SaveToFile(FWork + "no\\such\\folder\\x.gbp");
    ADD_FAILURE();
  } catch (const EFCreateError& e) {
    EXPECT_NE(e.Message().find("Cannot create file \"" + FWork + "no\\such\\folder\\x.gbp\""), AnsiString::npos);
  }
  EXPECT_EQ(Obj(p).FFileName, FWork + "keep.gbp");
}

TEST_F(ProjectTest, InterfacesShareOneObjectAndCountBalances) {
  TProject* raw = new TProject();
  TIntfPtr<IProject> p(raw);
  EXPECT_EQ(raw->RefCount(), 1);
  {
    auto c = QueryIntf<IProjectComponents>(p);
    auto s = QueryIntf<IProjectShortcuts>(p);
    auto r = QueryIntf<IProjectRegistry>(p);
    auto f = QueryIntf<IProjectFiles>(p);
    EXPECT_EQ(raw->RefCount(), 5);
    auto back = QueryIntf<IProject>(f);
    EXPECT_EQ(back->GetProjectObject(), raw);
    EXPECT_EQ(QueryIntf<IProject>(c).Get(), p.Get());
    EXPECT_EQ(QueryIntf<IProject>(s).Get(), p.Get());
    EXPECT_EQ(QueryIntf<IProject>(r).Get(), p.Get());
    EXPECT_EQ(static_cast<void*>(f->GetFileList()), static_cast<void*>(&raw->FFileInfos));
    EXPECT_EQ(c->GetComponents(), &raw->FComponents);
    void* unk = nullptr;
    EXPECT_EQ(p->QueryInterface(IID_IInterface, &unk), S_OK_);
    static_cast<IInterface*>(unk)->_Release();
    EXPECT_FALSE(Supports<IOpenHistory>(p));
    EXPECT_THROW(QueryIntf<ICompile>(p), EIntfCastError);
  }
  EXPECT_EQ(raw->RefCount(), 1);
}

TEST_F(ProjectTest, ListOperationsOfTheInterfaces) {
  auto p = NewProject();
  auto files = QueryIntf<IProjectFiles>(p);
  auto reg = QueryIntf<IProjectRegistry>(p);
  auto sc = QueryIntf<IProjectShortcuts>(p);
  auto script = Script();
  TProject& o = Obj(p);

  EXPECT_EQ(p->GetRunFile(), "");
  EXPECT_EQ(p->GetRunWebPage(), "");
  *o.FPageInfos.Add() = {"安装完毕", "安装完成后运行文件", "", 2, "first"};
  *o.FPageInfos.Add() = {"安装完毕", "安装完成后运行文件", "", 2, "second"};
  EXPECT_EQ(p->GetRunFile(), "first");

  o.FFileInfos.Add()->TargetDir = "Dir\\A";
  o.FFileInfos.Add()->TargetDir = "Dir\\B";
  EXPECT_EQ(files->FileCount("dir\\a"), 1);
  EXPECT_EQ(files->FindFile("DIR\\A", 0), o.FFileInfos[0]);
  EXPECT_EQ(files->FindFile("Dir\\A", 1), nullptr);
  EXPECT_EQ(files->FindFile("Dir\\A", -1), nullptr);

  for (const char* k : {"HKEY_CURRENT_USER\\Soft\\X", "HKEY_CURRENT_USER\\Soft\\Y", "HKEY_CURRENT_USER\\soft\\Z", "HKEY_USERS\\A"})
    o.FRegistryInfos.Add()->KeyPath = k;
  EXPECT_EQ(reg->RegistryCount("hkey_current_user\\soft\\x"), 1);
  script->Answer = false;
  EXPECT_FALSE(reg->DeleteRegistryKey("HKEY_CURRENT_USER\\Soft"));
  EXPECT_EQ(o.FRegistryInfos.Count(), 4);
  script->Answer = true;
  EXPECT_TRUE(reg->DeleteRegistryKey("HKEY_CURRENT_USER\\Soft"));
  ASSERT_EQ(o.FRegistryInfos.Count(), 2);  // the lower-case key path stays
  EXPECT_EQ(o.FRegistryInfos[0]->KeyPath, "HKEY_CURRENT_USER\\soft\\Z");
  EXPECT_EQ(script->Boxes.back().second, "要删除选中的记录吗");
  EXPECT_TRUE(reg->DeleteRegistryValue(o.FRegistryInfos[0]));
  EXPECT_EQ(script->Boxes.back().second, "要删除该条记录吗");
  EXPECT_EQ(o.FRegistryInfos.Count(), 1);

  o.FShortcuts.Add()->Folder = "桌面";
  o.FShortcuts.Add()->Folder = "开始菜单";
  o.FShortcuts.Add()->Folder = "桌面";
  EXPECT_EQ(sc->ShortcutCount("桌面"), 2);
  EXPECT_EQ(sc->FindShortcut("桌面", 1), o.FShortcuts[2]);
  script->Answer = false;
  EXPECT_FALSE(sc->DeleteShortcut(o.FShortcuts[0]));
  EXPECT_EQ(o.FShortcuts.Count(), 3);

  EXPECT_EQ(files->AddSpecialFile("Sys", new TStringList{"a", "b"}), 0);
  EXPECT_EQ(files->AddSpecialFile("Other", nullptr), 1);
  EXPECT_TRUE(files->SpecialFileExists("SYS"));
  EXPECT_EQ(o.FSpecialFiles[0]->Sources->Count(), 2);
  files->RemoveSpecialFile(o.FSpecialFiles[0]);
  EXPECT_FALSE(files->SpecialFileExists("Sys"));

  TDirectoryInfoRec* node = p->AddDirectory("Dir", "", 0);  // full path "\Dir"
  o.FFileInfos.Add()->TargetDir = "\\Dir\\X";
  files->RemoveFilesUnder(node);
  EXPECT_EQ(o.FFileInfos.Count(), 2);
  files->RemoveFile(o.FFileInfos[0]);
  EXPECT_EQ(o.FFileInfos[0]->TargetDir, "Dir\\B");
}

TEST_F(ProjectTest, PageNamesBuildOptionsAndHiding) {
  WriteFile(FData + "Page.txt", "B;x;;;twkStr\r\nA;x;;;twkStr\r\nb;y;;;twkStr\r\nA;z;;;twkStr\r\n");
  auto p = NewProject();
  TStringList names;
  p->GetPageNames(names);
  EXPECT_EQ(names.CommaText(), "B,A");  // the list's own search folds case

  TBuildOptions opt;
  opt.AuthorName = "作者";
  opt.AuthorUrl = "http://例子";
  opt.CompressionLevel = 2;
  p->SetBuildOptions(&opt);
  EXPECT_EQ(p->GetBuildOptions(), &opt);
  EXPECT_EQ(p->FindWork("压缩类型")->Value, "默认压缩");
  EXPECT_EQ(p->FindWork("作者网址")->Value, "http://例子");
  TBuildOptions bad;
  bad.AuthorName = "另一个";
  bad.CompressionLevel = 4;
  EXPECT_THROW(p->SetBuildOptions(&bad), EListError);
  EXPECT_EQ(p->FindWork("作者名称")->Value, "另一个");
  EXPECT_EQ(p->FindWork("压缩类型")->Value, "默认压缩");

  p->HideInterface();
  EXPECT_EQ(p->FindWork("安装界面显示")->Value, "否");
  p->FindWork("安装程序图标")->Value = "a.ico";
  EXPECT_EQ(Obj(p).GetSetupIcon(), "a.ico");
  EXPECT_EQ(Obj(p).GetUninstallIcon(), "");
}
