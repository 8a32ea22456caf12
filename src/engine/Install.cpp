// The installation run: writes what the project describes from the package of the
// running setup onto this machine.
#include <unordered_map>

#include "core/TextUtils.h"
#include "engine/Compile.h"
#include "engine/Package.h"
#include "project/IniFile.h"
#include "system/FileCtrl.h"
#include "system/FileStream.h"
#include "system/Registry.h"
#include "system/SysKernel.h"

namespace {
struct TInstallData {
  AnsiString SourceName;
  AnsiString InstalledPath;
};

// Folder (with its backslash) of the first file installed from path; empty when none was.
AnsiString InstalledFolderOf(const std::vector<TInstallData>& data, const AnsiString& path) {
  for (const TInstallData& d : data)
    if (SameText(d.SourceName, path)) return ExtractFilePath(d.InstalledPath);
  return AnsiString();
}

AnsiString LastWorkValue(TWorkInfoList& works, const AnsiString& name) {
  AnsiString value;
  for (TWorkInfoRec* w : works)
    if (SameText(w->Name, name)) value = w->Value;
  return value;
}

void WriteUninstallEntry(const AnsiString& uninstaller, const AnsiString& name, const AnsiString& version,
                         const AnsiString& url, const AnsiString& author) {
  // Without a name the values would land on the "Uninstall" key itself.
  if (name.empty()) return;
  auto key = TRegKey::Open(TRootKey::LocalMachine, "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + name,
                           true);
  if (!key) return;
  key->WriteString("DisplayIcon", uninstaller);
  key->WriteString("DisplayName", name + version);
  key->WriteString("DisplayVersion", version);
  key->WriteString("URLInfoAbout", url);
  key->WriteString("Publisher", author);
  key->WriteString("UninstallString", uninstaller);
}
}  // namespace

void TCompile::InstallFiles(const AnsiString& groupFolder, const AnsiString& installDir, const AnsiString& components,
                            const AnsiString& exeName, TInsPackList& list, TReleaseProgressEvent onProgress) {
  IProject& project = Project();
  TIntfPtr<IProjectFiles> files = QueryIntf<IProjectFiles>(FProject);
  TIntfPtr<IProjectRegistry> registry = QueryIntf<IProjectRegistry>(FProject);
  TIntfPtr<IProjectShortcuts> shortcuts = QueryIntf<IProjectShortcuts>(FProject);

  // Everything that can be known to fail is checked before the first write.
  if (list.Count() < 2 || list.Last()->Kind != pkUninstaller)
    throw EDamagedData("安装包不完整（缺少组件目录或卸载程序），无法安装");
  TPageInfoRec* mainItem = project.GetMainProgramItem();
  if (!mainItem) throw Exception("项目中没有“安装完毕”页的“主程序”项，无法安装");

  std::unordered_map<AnsiString, TInsPackRec*> byName;
  for (TInsPackRec* e : list) byName.emplace(UpperCaseAscii(e->Name), e);
  auto entryFor = [&](const AnsiString& source) -> TInsPackRec* {
    auto it = byName.find(UpperCaseAscii(source));
    return it == byName.end() ? nullptr : it->second;
  };
  for (TFileInfoRec* rec : *files->GetFileList())
    if (entryFor(rec->SourcePath) && !IsSafeEntryName("C:\\" + rec->FileName))
      throw EDamagedData(Format("安装文件名不安全，拒绝安装: %s", rec->FileName.c_str()));
  for (TInsPackRec* e : list)
    if (e->Kind == pkGroupFile && !IsSafeEntryName(e->Name))
      throw EDamagedData(Format("安装包中的文件名不安全，拒绝安装: %s", e->Name.c_str()));

  // 1. Preparation.
  TFileStream setup(exeName, fmOpenRead | fmShareDenyNone);
  std::vector<TInstallData> installed;
  FLog->SetTitle(project.GetProjectName());
  const int32_t max = list.Count();
  int32_t position = 1;
  auto report = [&](const AnsiString& text) {
    if (onProgress) onProgress(max, position, text, false);
  };
  const AnsiString version = WindowsVersionText();

  // 2. Folders of the file tree.
  for (TDirectoryInfoRec* node : *project.GetDirectoryList()) {
    if (node->Kind != 0) continue;
    AnsiString folder = ResolveTargetFolder(node->Path + "\\" + node->Name, installDir);
    if (!FolderExists(folder)) CreateFolder(folder);
  }

  // 3. Program files. The files of one folder come one after another: its check is made
  // once for them, not once per file.
  AnsiString checkedFolder;
  for (TFileInfoRec* rec : *files->GetFileList()) {
    TInsPackRec* entry = entryFor(rec->SourcePath);
    if (!entry) continue;
    ++position;
    AnsiString folder = ResolveTargetFolder(rec->TargetDir, installDir);
    if (folder != checkedFolder && !FolderExists(folder)) CreateFolder(folder);
    checkedFolder = folder;
    AnsiString target = WithPathDelimiter(folder) + rec->FileName;
    if (!OsFilterAllows(rec->OsFilter, version)) continue;
    if (rec->NoOverwrite && FileExists(target)) continue;
    installed.push_back({rec->SourcePath, target});
    WriteEntry(setup, *entry, target, exeName, rec->FileDate);
    if (SameText(mainItem->Value, rec->SourcePath)) mainItem->Value = target;
    for (TShotCutInfoRec* s : *shortcuts->GetShortcutList())
      if (SameText(s->Target, rec->SourcePath)) s->Target = target;
    if (rec->AutoRun) SetRunAtLogon(rec->FileName, target, true);
    if (rec->SelfRegister) RunInstallSwitch(target, true);
    if (rec->RegServer) RunRegSvr32(target, true);
    report(target);
    FLog->AddRecord(target, rec->AutoRun, rec->SelfRegister, rec->RegServer, rec->LogFlag, AnsiString());
  }

  // 4. Special-file groups.
  for (TSpecailFileRec* group : *files->GetSpecialFileList()) {
    for (TInsPackRec* e : list) {
      if (e->Kind != pkGroupFile) continue;
      bool matched = false;
      for (const AnsiString& source : *group->Sources)
        // An empty source line would match every entry of every group.
        if (!source.empty() && e->Name.find(source) != AnsiString::npos) {
          matched = true;
          break;
        }
      if (!matched) continue;
      ++position;
      AnsiString target = WithPathDelimiter(group->TargetDir) + e->Name.substr(3);
      AnsiString folder = ExtractFilePath(target);
      if (!folder.empty() && !FolderExists(folder)) CreateFolder(folder);
      installed.push_back({e->Name, target});
      WriteEntry(setup, *e, target, exeName, e->FileDate);
      FLog->AddRecord(target, 0, 0, 0, 0, AnsiString());
      e->Name = target;
      report(target);
    }
  }

  // 5. Runtime components, from the catalogue the release unpacked.
  {
    const AnsiString catalogueName = list[1]->Name;
    const AnsiString importsDir = ExtractFilePath(catalogueName);
    const TIniFile catalogue(catalogueName);
    TStringList chosen;
    chosen.SetCommaText(components);
    // The catalogue and the descriptors come from the package: a name that climbs out of
    // the components' folder, or out of the Windows folder, skips that piece.
    auto plain = [](const AnsiString& name) { return IsSafeEntryName("C:\\" + name); };
    for (const AnsiString& c : chosen) {
      AnsiString folder = catalogue.ReadString("Com", c, "");
      if (folder.empty() || !plain(folder) || !plain(c)) continue;
      const TIniFile descriptor(importsDir + folder + "\\" + c + ".ini");
      AnsiString regType = descriptor.ReadString("RegistryList", "Regtype", "");
      AnsiString filesDir = importsDir + folder + "\\" + folder + "\\";
      if (regType == "System") {
        AnsiString exeFile = descriptor.ReadString("Option", "ExeFile", "");
        if (!exeFile.empty() && plain(exeFile)) RunAndWait(filesDir + exeFile);
      } else if (regType == "User") {
        static const AnsiString kSystemDirectory = "[System Directory]";
        TStringList keys;
        descriptor.ReadSection("SysDirList", keys);
        for (const AnsiString& k : keys) {
          AnsiString value = descriptor.ReadString("SysDirList", k, "");
          if (value.empty() || value.find(kSystemDirectory) == AnsiString::npos || !plain(k)) continue;
          AnsiString rest = value.substr(std::min(value.size(), kSystemDirectory.size()));
          if (!plain(rest.empty() || rest[0] != '\\' ? rest : rest.substr(1))) continue;
          AnsiString dest = WindowsFolder() + rest;
          CopyFileTo(filesDir + k, dest, false);
        }
      }
    }
  }

  // 6. Registry values.
  {
    const AnsiString projectName = [&] {
      TWorkInfoRec* w = project.FindWork("项目名称");
      return w ? w->Value : AnsiString();
    }();
    for (TRegistryInfoRec* r : *registry->GetRegistryList()) {
      if (!OsFilterAllows(r->OsFilter, version)) continue;
      size_t slash = r->KeyPath.find('\\');
      if (slash == AnsiString::npos) continue;  // no root to write under
      AnsiString rootName = r->KeyPath.substr(0, slash);
      r->KeyPath = r->KeyPath.substr(slash + 1);
      TRootKey root;
      if (!RootKeyFromName(rootName, root)) continue;  // never into a hive the project did not name
      auto key = TRegKey::Open(root, r->KeyPath, true);
      if (!key) continue;
      switch (r->ValueType) {
        case 0: key->WriteString(r->ValueName, ExpandPathPrefix(r->ValueData, installDir, projectName)); break;
        case 1: key->WriteInteger(r->ValueName, static_cast<int32_t>(static_cast<uint32_t>(HexTextToInt(r->ValueData)))); break;
        case 2: key->WriteBinary(r->ValueName, HexTextToBytes(r->ValueData)); break;
        default: break;
      }
      FLog->AddRecord(rootName + "\\" + r->KeyPath, 0, 0, 0, 0, r->ValueName);
    }
  }

  // 7. Uninstaller and its uninstall entry.
  {
    AnsiString folder = InstalledFolderOf(installed, mainItem->Value);
    if (folder.empty()) folder = ExtractFilePath(mainItem->Value);
    const AnsiString uninstaller = folder + "UnIns.exe";
    WriteEntry(setup, *list.Last(), uninstaller, exeName);
    TWorkInfoList& works = *project.GetWorkList();
    WriteUninstallEntry(uninstaller, LastWorkValue(works, "项目名称"), LastWorkValue(works, "版本号"),
                        LastWorkValue(works, "作者网址"), LastWorkValue(works, "作者名称"));
  }

  // 8. Shortcut targets, 9. the main program.
  for (TShotCutInfoRec* s : *shortcuts->GetShortcutList()) {
    AnsiString folder = InstalledFolderOf(installed, s->Target);
    if (!folder.empty()) s->Target = folder + ExtractFileName(s->Target);
  }
  {
    AnsiString folder = InstalledFolderOf(installed, mainItem->Value);
    if (!folder.empty()) mainItem->Value = folder + ExtractFileName(mainItem->Value);
  }

  // 10. Final report.
  if (onProgress) onProgress(max, max, "安装完成", true);
}
