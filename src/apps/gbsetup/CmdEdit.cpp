// Editing commands: the designer's operations on a project, with the folder and file
// choices given on the command line instead of dialogs.
#include <cstdio>
#include <memory>

#include "apps/gbsetup/Cli.h"
#include "core/SysIntfs.h"
#include "core/TextUtils.h"
#include "project/Project.h"
#include "system/Dialogs.h"
#include "system/FileCtrl.h"
#include "system/Platform.h"
#include "system/SysKernel.h"

namespace {

TIntfPtr<IProject> OpenForEdit(const std::string& path) {
  TIntfPtr<IProject> project(new TProject());
  project->LoadFromFile(ArgPath(path), false);
  return project;
}

void Save(const TIntfPtr<IProject>& project, const std::string& path) { project->SaveToFile(ArgPath(path)); }

// Answers the operations' dialogs from the command line: confirmations are yes (the user
// asked for the change), warnings are printed, the pickers return what was given.
class TCommandLineAnswers {
public:
  TCommandLineAnswers() {
    auto r = std::make_shared<TDialogResponder>();
    r->MessageBox = [](TBoxStyle style, const AnsiString&, const AnsiString& text) {
      if (style != TBoxStyle::Question) std::fprintf(stderr, "gbsetup: %s\n", Out(text).c_str());
      return true;
    };
    r->BrowseFolder = [this](const AnsiString&, AnsiString& folder) {
      if (FFolder.empty()) return false;
      folder = FFolder;
      return true;
    };
    r->OpenFiles = [this](const AnsiString&, TStringList& files) {
      files = FFiles;
      return FFiles.Count() > 0;
    };
    FPrevious = DialogResponder();
    SetDialogResponder(r);
  }
  ~TCommandLineAnswers() { SetDialogResponder(FPrevious); }
  AnsiString FFolder;
  TStringList FFiles;

private:
  std::shared_ptr<TDialogResponder> FPrevious;
};

// A tree path "Program Files\App" names the node whose Path is "Program Files" and Name "App".
TDirectoryInfoRec* FindNode(IProject& project, const AnsiString& treePath) {
  for (TDirectoryInfoRec* node : *project.GetDirectoryList())
    if (SameText(node->Path.empty() ? node->Name : node->Path + "\\" + node->Name, treePath)) return node;
  return nullptr;
}

void Need(const TParsedArgs& a, size_t n, const char* usage) {
  if (a.Positional.size() != n) throw ECliError(std::string("usage: ") + usage);
}

int CmdSet(const TArgs& args) {
  TParsedArgs a = ParseArgs(args, {});
  Need(a, 3, "gbsetup set PROJECT NAME VALUE");
  auto project = OpenForEdit(a.Positional[0]);
  TWorkInfoRec* w = project->FindWork(In(a.Positional[1]));
  if (!w) throw ECliError("no setting named '" + a.Positional[1] + "'");
  // Values of file-type items are host paths on the command line.
  w->Value = IsFileKind(w->Kind) && !a.Positional[2].empty() ? ArgPath(a.Positional[2]) : In(a.Positional[2]);
  Save(project, a.Positional[0]);
  return 0;
}

int CmdPage(const TArgs& args) {
  TParsedArgs a = ParseArgs(args, {});
  Need(a, 4, "gbsetup page PROJECT PAGE ITEM VALUE");
  auto project = OpenForEdit(a.Positional[0]);
  AnsiString page = In(a.Positional[1]), item = In(a.Positional[2]);
  for (TPageInfoRec* p : *project->GetPageList()) {
    if (SameText(p->Page, page) && SameText(p->Name, item)) {
      p->Value = IsFileKind(p->Kind) && !a.Positional[3].empty() ? ArgPath(a.Positional[3]) : In(a.Positional[3]);
      Save(project, a.Positional[0]);
      return 0;
    }
  }
  throw ECliError("no page item '" + a.Positional[2] + "' on page '" + a.Positional[1] + "'");
}

int CmdAddFolder(const TArgs& args) {
  TParsedArgs a = ParseArgs(args, {"--to"});
  Need(a, 2, "gbsetup add-folder PROJECT DISKDIR --to TREEPATH");
  if (!a.Has("--to")) throw ECliError("add-folder needs --to TREEPATH");
  auto project = OpenForEdit(a.Positional[0]);
  TCommandLineAnswers answers;
  std::string dir = a.Positional[1];
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  answers.FFolder = ArgPath(dir);
  // The folder picker offers only existing folders; a mistyped one would add an empty node.
  if (!FolderExists(answers.FFolder)) throw ECliError(a.Positional[1] + " is not a folder");
  auto files = QueryIntf<IProjectFiles>(project);
  int before = files->GetFileList()->Count();
  TakeUnlistedEntries();
  files->AddFolder(In(a.Get("--to")));
  RefuseUnlistedEntries();
  Save(project, a.Positional[0]);
  std::printf("%d files added\n", files->GetFileList()->Count() - before);
  return 0;
}

int CmdAddFiles(const TArgs& args) {
  TParsedArgs a = ParseArgs(args, {"--to"});
  if (a.Positional.size() < 2 || !a.Has("--to")) throw ECliError("usage: gbsetup add-files PROJECT FILE... --to TREEPATH");
  auto project = OpenForEdit(a.Positional[0]);
  TCommandLineAnswers answers;
  for (size_t i = 1; i < a.Positional.size(); ++i) answers.FFiles.Add(ArgPath(a.Positional[i]));
  auto files = QueryIntf<IProjectFiles>(project);
  int before = files->GetFileList()->Count();
  AnsiString last;
  files->AddFiles(In(a.Get("--to")), last);
  Save(project, a.Positional[0]);
  std::printf("%d files added\n", files->GetFileList()->Count() - before);
  return 0;
}

int CmdAddRegistry(const TArgs& args) {
  TParsedArgs a = ParseArgs(args, {"--type", "--os"});
  Need(a, 4, "gbsetup add-registry PROJECT KEYPATH NAME DATA [--type string|dword|binary] [--os FILTER]");
  auto project = OpenForEdit(a.Positional[0]);
  std::string type = a.Get("--type", "string");
  uint8_t valueType;
  if (type == "string") valueType = 0;
  else if (type == "dword") valueType = 1;
  else if (type == "binary") valueType = 2;
  else throw ECliError("--type must be string, dword or binary");
  AnsiString keyPath = In(a.Positional[1]);
  if (keyPath.find('\\') == AnsiString::npos)
    throw ECliError("KEYPATH is a root key name, a backslash and the subkey (HKEY_LOCAL_MACHINE\\SOFTWARE\\...)");
  TRegistryInfoRec* r = QueryIntf<IProjectRegistry>(project)->GetRegistryList()->Add();
  r->KeyPath = keyPath;
  r->ValueName = In(a.Positional[2]);
  r->ValueData = In(a.Positional[3]);
  r->ValueType = valueType;
  r->OsFilter = In(a.Get("--os"));
  Save(project, a.Positional[0]);
  return 0;
}

int CmdAddShortcut(const TArgs& args) {
  TParsedArgs a = ParseArgs(args, {"--args", "--description"});
  Need(a, 4, "gbsetup add-shortcut PROJECT FOLDER NAME TARGET [--args TEXT] [--description TEXT]");
  auto project = OpenForEdit(a.Positional[0]);
  TShotCutInfoRec* s = QueryIntf<IProjectShortcuts>(project)->GetShortcutList()->Add();
  s->Folder = In(a.Positional[1]);
  s->Name = In(a.Positional[2]);
  // The target names a source file of the project; the installation points it at the installed copy.
  s->Target = ArgPath(a.Positional[3]);
  s->Arguments = In(a.Get("--args"));
  s->Description = In(a.Get("--description"));
  Save(project, a.Positional[0]);
  return 0;
}

int CmdAddGroup(const TArgs& args) {
  TParsedArgs a = ParseArgs(args, {});
  if (a.Positional.size() < 3) throw ECliError("usage: gbsetup add-group PROJECT TARGETDIR SOURCE...");
  auto project = OpenForEdit(a.Positional[0]);
  auto sources = std::make_unique<TStringList>();
  for (size_t i = 2; i < a.Positional.size(); ++i) sources->Add(ArgPath(a.Positional[i]));
  QueryIntf<IProjectFiles>(project)->AddSpecialFile(In(a.Positional[1]), sources.release());
  Save(project, a.Positional[0]);
  return 0;
}

int CmdAddNode(const TArgs& args) {
  TParsedArgs a = ParseArgs(args, {"--kind"});
  Need(a, 3, "gbsetup add-node PROJECT PARENTPATH NAME [--kind 0|1|2]");
  auto project = OpenForEdit(a.Positional[0]);
  int32_t kind = StrToIntDef(a.Get("--kind", "0"), -1);
  if (kind < 0 || kind > 2) throw ECliError("--kind must be 0 (files), 1 (registry) or 2 (shortcuts)");
  project->AddDirectory(In(a.Positional[2]), In(a.Positional[1]), static_cast<uint8_t>(kind));
  Save(project, a.Positional[0]);
  return 0;
}

int CmdRmNode(const TArgs& args) {
  TParsedArgs a = ParseArgs(args, {});
  Need(a, 2, "gbsetup rm-node PROJECT TREEPATH");
  auto project = OpenForEdit(a.Positional[0]);
  TDirectoryInfoRec* node = FindNode(*project, In(a.Positional[1]));
  if (!node) throw ECliError("no folder-tree node '" + a.Positional[1] + "'");
  TCommandLineAnswers answers;
  project->DeleteDirectory(node);
  Save(project, a.Positional[0]);
  return 0;
}

int CmdRenameNode(const TArgs& args) {
  TParsedArgs a = ParseArgs(args, {});
  Need(a, 3, "gbsetup rename-node PROJECT TREEPATH NEWTEXT");
  auto project = OpenForEdit(a.Positional[0]);
  TDirectoryInfoRec* node = FindNode(*project, In(a.Positional[1]));
  if (!node) throw ECliError("no folder-tree node '" + a.Positional[1] + "'");
  project->RenameDirectory(node, In(a.Positional[2]));
  Save(project, a.Positional[0]);
  return 0;
}

int CmdComponent(const TArgs& args) {
  if (args.empty()) throw ECliError("usage: gbsetup component import|rm|use ...");
  std::string verb = args[0];
  TParsedArgs a = ParseArgs(TArgs(args.begin() + 1, args.end()), {}, {"--none"});
  if (verb == "import") {
    if (a.Positional.size() < 4) throw ECliError("usage: gbsetup component import PROJECT NAME DESCRIPTION SOURCE...");
    auto project = OpenForEdit(a.Positional[0]);
    TStringList sources;
    for (size_t i = 3; i < a.Positional.size(); ++i) sources.Add(ArgPath(a.Positional[i]));
    // The copy would leave out what the catalogue cannot name: refused before anything is copied.
    TakeUnlistedEntries();
    for (const AnsiString& source : sources) {
      TStringList found;
      if (FolderExists(source)) CollectFiles(source, found);
    }
    RefuseUnlistedEntries();
    QueryIntf<IProjectComponents>(project)->ImportComponent(In(a.Positional[1]), In(a.Positional[2]), sources);
    return 0;
  }
  if (verb == "rm") {
    Need(a, 2, "gbsetup component rm PROJECT NAME");
    auto project = OpenForEdit(a.Positional[0]);
    TCommandLineAnswers answers;
    QueryIntf<IProjectComponents>(project)->DeleteComponent(In(a.Positional[1]));
    return 0;
  }
  if (verb == "use") {
    if (a.Positional.empty() || (a.Positional.size() < 2 && !a.Has("--none")))
      throw ECliError("usage: gbsetup component use PROJECT NAME... | --none");
    auto project = OpenForEdit(a.Positional[0]);
    auto components = QueryIntf<IProjectComponents>(project);
    TStringList* chosen = components->GetComponents();
    chosen->Clear();
    for (size_t i = 1; i < a.Positional.size(); ++i) {
      AnsiString name = In(a.Positional[i]);
      if (components->GetComponentCatalog()->IndexOfName(name) < 0)
        std::fprintf(stderr, "gbsetup: warning: '%s' is not in the component catalogue\n", a.Positional[i].c_str());
      chosen->Add(name);
    }
    Save(project, a.Positional[0]);
    return 0;
  }
  throw ECliError("unknown component command '" + verb + "' (import, rm, use)");
}

}  // namespace

GB_COMMAND("set", "change a setting of a project", "usage: gbsetup set PROJECT NAME VALUE\n\n"
           "Sets the value of the setting NAME (for example 项目名称, 版本号, 安装界面显示).\n"
           "Icon settings take a file path.", CmdSet);
GB_COMMAND("page", "change a wizard page item", "usage: gbsetup page PROJECT PAGE ITEM VALUE\n\n"
           "Sets the first page item ITEM on page PAGE (for example: page p.gbp 安装完毕 主程序 app/Hello.exe).\n"
           "Items holding files (pictures, texts, the main program) take a file path.", CmdPage);
GB_COMMAND("add-folder", "add a disk folder with its files", "usage: gbsetup add-folder PROJECT DISKDIR --to TREEPATH\n\n"
           "Adds DISKDIR as a node below TREEPATH (for example \"Program Files\") and every file\n"
           "below it, skipping hidden entries and files already listed there.", CmdAddFolder);
GB_COMMAND("add-files", "add files to a folder of the tree", "usage: gbsetup add-files PROJECT FILE... --to TREEPATH\n\n"
           "Adds the files to the tree folder TREEPATH; a file already listed there is reported and skipped.",
           CmdAddFiles);
GB_COMMAND("add-registry", "add a registry value", "usage: gbsetup add-registry PROJECT KEYPATH NAME DATA [--type string|dword|binary] [--os FILTER]\n\n"
           "KEYPATH is a root key name, a backslash and the subkey. dword and binary data are hexadecimal text.\n"
           "String data may begin with 安装目录\\工程名称, Windows\\System, Windows\\System32 or Program Files\\工程名称.",
           CmdAddRegistry);
GB_COMMAND("add-shortcut", "add a shortcut", "usage: gbsetup add-shortcut PROJECT FOLDER NAME TARGET [--args TEXT] [--description TEXT]\n\n"
           "FOLDER is 桌面, 开始菜单 or 快速启动栏, optionally followed by \\ and a subfolder.\n"
           "TARGET is the source file the shortcut starts; the installation points it at the installed copy.",
           CmdAddShortcut);
GB_COMMAND("add-group", "add a group of special files", "usage: gbsetup add-group PROJECT TARGETDIR SOURCE...\n\n"
           "Installs every SOURCE (a file, or every file below a folder) below TARGETDIR on the target machine.",
           CmdAddGroup);
GB_COMMAND("add-node", "add a node to the folder tree", "usage: gbsetup add-node PROJECT PARENTPATH NAME [--kind 0|1|2]\n\n"
           "Adds a folder-tree node (0 files, 1 registry key, 2 shortcut folder).", CmdAddNode);
GB_COMMAND("rm-node", "remove a folder-tree node and what hangs on it", "usage: gbsetup rm-node PROJECT TREEPATH\n\n"
           "Removes the node, the records that belong to it and its whole subtree.", CmdRmNode);
GB_COMMAND("rename-node", "rename a folder-tree node", "usage: gbsetup rename-node PROJECT TREEPATH NEWTEXT", CmdRenameNode);
GB_COMMAND("component", "import, remove or choose runtime components",
           "usage: gbsetup component import PROJECT NAME DESCRIPTION SOURCE...\n"
           "       gbsetup component rm PROJECT NAME\n"
           "       gbsetup component use PROJECT NAME... | --none\n\n"
           "import and rm change the component catalogue of the data folder; use sets the project's components.",
           CmdComponent);
