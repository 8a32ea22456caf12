#include "ProjectTestSupport.h"

#include <filesystem>
#include <random>

#include "core/Sysconsts.h"
#include "core/TextUtils.h"
#include "project/IniFile.h"
#include "system/FileCtrl.h"
#include "system/FileStream.h"
#include "system/Sandbox.h"
#include "system/SysKernel.h"

namespace {
std::string UniqueName() {
  std::random_device rd;
  return "gbproj" + std::to_string(rd()) + std::to_string(rd() % 100000);
}
}  // namespace

void ProjectTest::SetUp() {
  if (IsSandbox()) {
    FRoot = (std::filesystem::temp_directory_path() / UniqueName()).string();
    std::filesystem::create_directories(FRoot);
    SetSandboxRoot(FRoot);
  }
  AnsiString base = TempFolder() + UniqueName();
  FData = base + "\\data\\";
  FWork = base + "\\work\\";
  ASSERT_TRUE(ForceFolders(FData + "Imports"));
  ASSERT_TRUE(ForceFolders(FWork));
  SetBaseFolder(FData);
}

void ProjectTest::TearDown() {
  SetDialogResponder(nullptr);
  SetBaseFolder("");
  AnsiString base = FData.substr(0, FData.size() - 6);
  ShellDeleteFolder(base);
  if (!FRoot.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(FRoot, ec);
  }
}

void ProjectTest::WriteFile(const AnsiString& path, const AnsiString& bytes) {
  AnsiString dir = ExtractFilePath(path);
  if (!dir.empty() && !FolderExists(dir)) ForceFolders(dir);
  TFileStream f(path, fmCreate);
  f.WriteBuffer(bytes.data(), bytes.size());
}

AnsiString ProjectTest::ReadFile(const AnsiString& path) { return ReadFileText(path); }

std::shared_ptr<ProjectTest::TScript> ProjectTest::Script() {
  auto script = std::make_shared<TScript>();
  auto r = std::make_shared<TDialogResponder>();
  r->MessageBox = [script](TBoxStyle style, const AnsiString&, const AnsiString& text) {
    script->Boxes.emplace_back(style, text);
    return style == TBoxStyle::Question ? script->Answer : true;
  };
  r->BrowseFolder = [script](const AnsiString& title, AnsiString& folder) {
    script->BrowseTitle = title;
    if (script->Folder.empty()) return false;
    folder = script->Folder;
    return true;
  };
  r->OpenFiles = [script](const AnsiString& filter, TStringList& files) {
    script->FileFilter = filter;
    if (!script->Files) return false;
    files = *script->Files;
    return true;
  };
  SetDialogResponder(r);
  return script;
}
