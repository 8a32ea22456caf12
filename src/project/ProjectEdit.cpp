// The designer's edits: filling the folder tree and the file list from the disk, removing
// and renaming tree nodes with what hangs on them, and the component catalogue on disk.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string_view>

#include "core/Exceptions.h"
#include "core/Sysconsts.h"
#include "core/TextUtils.h"
#include "project/IniFile.h"
#include "project/Project.h"
#include "system/FileCtrl.h"
#include "system/PathText.h"
#include "system/SysKernel.h"

namespace {
// A component name becomes a folder below "Imports\" and a key of the catalogue INI: refuse
// anything that could leave that folder or break the INI line.
void CheckComponentName(const AnsiString& name) {
  bool bad = name.empty() || name == "." || name == ".." || name.back() == '.' || name.back() == ' ' ||
             name.front() == ' ' || name.front() == ';' || name.front() == '[';
  for (size_t i = 0; !bad && i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (IsGbkLeadByte(c) && i + 1 < name.size()) {
      ++i;  // the trail byte may be 0x5C or 0x7C without being a separator
      continue;
    }
    if (c < 32 || c == 127 || std::string_view("\\/:*?\"<>|=").find(static_cast<char>(c)) != std::string_view::npos)
      bad = true;
  }
  if (bad) throw Exception("组件名称无效: \"" + name + "\"");
}

// One INI line: line breaks would start new lines of their own.
AnsiString OneLine(AnsiString s) {
  for (char& c : s)
    if (c == '\r' || c == '\n') c = ' ';
  return s;
}

// The folder ending in exactly one real backslash; a drive root keeps its own.
AnsiString ClosedFolder(const AnsiString& folder) {
  AnsiString s = StripTrailingDelimiters(folder);
  return !s.empty() && s.back() == '\\' && ExtractFileName(s).empty() ? s : s + "\\";
}

// Whether inner is folder itself or lies below it.
bool FolderHolds(const AnsiString& folder, const AnsiString& inner) {
  return StartsText(ClosedFolder(folder), ClosedFolder(inner));
}

AnsiString ComponentFolder(const AnsiString& name) { return BaseFolder() + "Imports\\" + name; }
AnsiString CatalogFileName() { return BaseFolder() + "Imports\\ComList.ini"; }
}  // namespace

TFileInfoRec* TProject::MakeFileRecord(const AnsiString& sourcePath, const AnsiString& targetFolder) {
  // Size first: a file that cannot be opened adds nothing.
  auto r = std::make_unique<TFileInfoRec>();
  r->FileSize = FileSizeOf(sourcePath);
  r->FileName = ExtractFileName(sourcePath);
  r->SourcePath = sourcePath;
  r->TargetDir = targetFolder;
  r->FileDate = FileStampOf(sourcePath);
  r->IconIndex = FileIconIndex(sourcePath, true);
  return FFileInfos.Add(std::move(r));
}

void TProject::ScanFolder(const AnsiString& folder, const AnsiString& treePath, bool throughLink, bool ownNode) {
  // "C:\a\" scans as "C:\a"; a drive root keeps its backslash and names its node by the letter.
  // ExtractFileName, not a byte test: a GBK trail byte may be 0x5C.
  AnsiString dir = folder;
  if (dir.size() > 3 && ExtractFileName(dir).empty() && dir.back() == '\\') dir.pop_back();
  AnsiString name = ExtractFileName(dir);
  const AnsiString prefix = name.empty() ? dir : dir + "\\";
  if (name.empty()) name = ReplaceAll(ReplaceAll(dir, ":", ""), "\\", "");
  if (ownNode && !DirectoryNodeExists(name, treePath)) AddDirectory(name, treePath, 0);
  const AnsiString nodePath = ownNode ? treePath + "\\" + name : treePath;
  for (const TSearchRec& e : ListFolder(dir)) {
    if (e.Attr & faHidden) continue;
    const AnsiString path = prefix + e.Name;
    if (e.Attr & faDirectory) {
      // A linked folder is entered, but no link below it: a link back up would recurse
      // without end, two of them without bound.
      const bool link = (e.Attr & faReparsePoint) != 0;
      if (!(link && throughLink)) ScanFolder(path, nodePath, throughLink || link);
    } else if (!FileExistsIn(path, nodePath))
      MakeFileRecord(path, nodePath);
  }
}

void TProject::AddFolderTree(const AnsiString& folder, const AnsiString& treePath, bool contentsOnly) {
  ScanFolder(folder, treePath, false, !contentsOnly);
}

bool TProject::AddFolder(const AnsiString& targetFolder) {
  AnsiString folder;
  if (!BrowseFolder("选择文件夹", std::u16string(), folder)) return false;
  ScanFolder(folder, targetFolder);
  return true;
}

bool TProject::AddFiles(const AnsiString& targetFolder, AnsiString& lastFile) {
  TStringList files;
  if (!OpenFilesDialog("所有文件(*.*)|*.*", files)) return false;
  for (const AnsiString& file : files) {
    if (FileExistsIn(file, targetFolder)) {
      WarningBox("文件'" + file + "'已添加在该目录下，不能继续添加。");
      continue;
    }
    MakeFileRecord(file, targetFolder);
    lastFile = file;
  }
  return true;
}

bool TProject::DeleteDirectory(TDirectoryInfoRec* node) {
  if (!ConfirmBox("要删除选中的节点吗?")) return false;
  if (!node) return true;
  const AnsiString full = node->Path + "\\" + node->Name;
  const AnsiString parent = node->Path;
  switch (node->Kind) {
    case 0:
      RemoveFilesUnder(node);
      break;
    case 1:
      FRegistryInfos.RemoveIf([&](const TRegistryInfoRec& r) { return ContainsStr(r.KeyPath, parent); });
      break;
    case 2:
      FShortcuts.RemoveIf([&](const TShotCutInfoRec& r) { return ContainsStr(r.Folder, parent); });
      break;
    default:
      break;
  }
  FDirectoryInfos.RemoveIf([&](const TDirectoryInfoRec& r) { return &r != node && ContainsStr(r.Path, full); });
  FDirectoryInfos.Remove(node);
  return true;
}

bool TProject::RenameDirectory(TDirectoryInfoRec* node, const AnsiString& newText) {
  if (!node) return true;
  switch (node->Kind) {
    case 0:
      for (TFileInfoRec* r : FFileInfos)
        if (SameText(r->TargetDir, node->Path)) r->TargetDir = newText;
      break;
    case 1:
      for (TRegistryInfoRec* r : FRegistryInfos)
        if (SameText(r->KeyPath, node->Path)) r->KeyPath = newText;
      break;
    case 2:
      for (TShotCutInfoRec* r : FShortcuts)
        if (SameText(r->Folder, node->Path)) r->Folder = newText;
      break;
    default:
      break;
  }
  node->Name = newText;
  return true;
}

void TProject::ImportComponent(const AnsiString& name, const AnsiString& description, const TStringList& sources) {
  CheckComponentName(name);
  {
    TIniFile catalog(CatalogFileName());
    catalog.WriteString("Com", name, name);
    catalog.WriteString("Description", name, OneLine(description));
  }
  const AnsiString dest = ComponentFolder(name) + "\\" + name;
  bool copied = false;
  for (const AnsiString& source : sources) {
    if (!FolderExists(dest)) ForceFolders(dest);
    if (FileExists(source))
      CopyFileTo(source, dest + "\\" + ExtractFileName(source), false);
    else if (FolderExists(source)) {
      // A folder holding the destination would copy into itself; the shell refuses that too.
      if (!FolderHolds(source, dest)) ShellCopyFolder(source, dest);
    }
    else
      continue;
    copied = true;
    TIniFile ini(ComponentFolder(name) + "\\" + name + ".ini");
    ini.WriteString("RegistryList", "Regtype", "System");
    ini.WriteString("Option", "ExeFile", "Setup.exe");
  }
  if (!copied) return;
  // The wizard shows each component at its catalogue size: that of what the component installs.
  TStringList files;
  CollectFiles(dest, files);
  int64_t size = 0;
  bool hasProgram = false;
  for (const AnsiString& f : files) {
    size += FileSizeOf(f);
    if (SameText(f, dest + "\\Setup.exe")) hasProgram = true;
  }
  // The catalogue holds a 32-bit number; a larger component shows as the largest it can hold.
  TIniFile(CatalogFileName()).WriteString("ComSize", name, IntToStr(std::min<int64_t>(size, INT32_MAX)));
  // Installing the component runs its Setup.exe; without one, choosing it does nothing.
  if (!hasProgram)
    WarningBox("组件“" + name + "”中没有 Setup.exe：安装该组件时会运行 Setup.exe，它不会被安装。"
               "请导入组件的安装程序 Setup.exe。");
}

bool TProject::DeleteComponent(const AnsiString& name) {
  CheckComponentName(name);
  if (!ConfirmBox("要删除该条记录吗?")) return false;
  {
    TIniFile catalog(CatalogFileName());
    catalog.DeleteKey("Com", name);
    catalog.DeleteKey("Description", name);
  }
  ShellDeleteFolder(ComponentFolder(name));
  return true;
}
