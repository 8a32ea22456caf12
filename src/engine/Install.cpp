// The installation run: writes what the project describes from the package of the
// running setup onto this machine.
#include <unordered_map>
#include <unordered_set>

#include "core/TextUtils.h"
#include "engine/Compile.h"
#include "engine/ExpandAhead.h"
#include "engine/Package.h"
#include "engine/Uninstall.h"
#include "project/IniFile.h"
#include "system/RunLog.h"
#include "system/FileCtrl.h"
#include "system/FileStream.h"
#include "system/PathText.h"
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

// At most n bytes of text for a message, cut between characters.
AnsiString Shortened(const AnsiString& text, size_t n) {
  if (text.size() <= n) return text;
  size_t i = 0;
  while (i < n) i += IsGbkLeadByte(static_cast<unsigned char>(text[i])) ? 2 : 1;
  return text.substr(0, i) + "...";
}

// A registry write that fails names the value and the system's reason.
[[noreturn]] void RaiseRegistryError(const AnsiString& rootName, const AnsiString& key, const AnsiString& name,
                                     const Exception& e) {
  throw Exception(Format("无法写入注册表值“%s”：%s", Shortened(rootName + "\\" + key + "\\" + name, 300).c_str(),
                         e.Message().c_str()));
}

void WriteUninstallEntry(TRunJournal& journal, const AnsiString& uninstaller, const AnsiString& name,
                         const AnsiString& version, const AnsiString& url, const AnsiString& author,
                         const AnsiString& location, int64_t installedBytes) {
  // Without a name the values would land on the "Uninstall" key itself.
  if (name.empty()) return;
  const AnsiString path = AnsiString(SUninstallKeyPrefix) + name;
  journal.BeforeKey(TRootKey::LocalMachine, path);
  auto key = TRegKey::Open(TRootKey::LocalMachine, path, true);
  if (!key) return;
  const std::pair<const char*, AnsiString> values[] = {
      {"DisplayIcon", uninstaller}, {"DisplayName", name + version}, {"DisplayVersion", version},
      {"URLInfoAbout", url},        {"Publisher", author},
      // Quoted: a caller that hands it to CreateProcess must not start "C:\Program.exe".
      {"UninstallString", "\"" + uninstaller + "\""},
      // What deployment tools and the system's list of programs read besides.
      {"QuietUninstallString", "\"" + uninstaller + "\" /S"},
      {"InstallLocation", StripTrailingDelimiters(location)},
      {"InstallDate", LocalDateText()}};
  // Each value journalled before it is written, so a failed run restores what was there.
  auto write = [&](const char* valueName, const auto& writeValue) {
    journal.BeforeValue(TRootKey::LocalMachine, path, valueName);
    try {
      writeValue();
    } catch (const Exception& e) {
      RaiseRegistryError("HKEY_LOCAL_MACHINE", PlainKeyPath(path), valueName, e);
    }
  };
  for (const auto& [valueName, data] : values) write(valueName, [&] { key->WriteString(valueName, data); });
  const int64_t kib = (installedBytes + 1023) / 1024;
  const std::pair<const char*, int32_t> numbers[] = {
      {"EstimatedSize", static_cast<int32_t>(std::min<int64_t>(kib, 0x7fffffff))}, {"NoModify", 1}, {"NoRepair", 1}};
  for (const auto& [valueName, data] : numbers) write(valueName, [&] { key->WriteInteger(valueName, data); });
  runlog::Write("卸载项", "HKEY_LOCAL_MACHINE\\" + PlainKeyPath(path), "已写入");
}
}  // namespace

void TCompile::InstallFiles(const AnsiString& groupFolder, const AnsiString& installDir, const AnsiString& components,
                            const AnsiString& exeName, TInsPackList& list, TReleaseProgressEvent onProgress) {
  FJournal = std::make_unique<TRunJournal>();
  FJournal->FirstRecord = FLog->Count();
  FInstalledBytes = 0;
  auto nothingDone = [this] { return FJournal->Empty() && FLog->Count() == FJournal->FirstRecord; };
  try {
    InstallRun(groupFolder, installDir, components, exeName, list, onProgress);
  } catch (const Exception& e) {
    // Refused before anything was written: nothing to undo, and the reason as it was.
    if (nothingDone()) {
      FJournal.reset();
      throw;
    }
    RollBackRun(e.Message());
  } catch (const std::exception& e) {
    if (nothingDone()) {
      FJournal.reset();
      throw;
    }
    RollBackRun(e.what());
  }
}

void TCompile::WriteRunFile(TStream& setup, const TInsPackRec& entry, const AnsiString& target,
                            const AnsiString& setupName, std::optional<TDateTime> lastWrite, bool inNewFolder) {
  WriteRunFile([&](TStream& out) { return ExpandChunks(setup, out, entry.DataStart, entry.DataEnd, setupName); },
               target, lastWrite, inNewFolder);
}

void TCompile::WriteRunFile(const std::function<int64_t(TStream&)>& expand, const AnsiString& target,
                            std::optional<TDateTime> lastWrite, bool inNewFolder) {
  // Under Wine, looking for a file that is not there reads its whole folder, as the creation
  // does again: in a folder the run made, only the run can have put a file, and the journal
  // keeps the first state of what the run wrote twice.
  const bool existed = !inNewFolder && FileExists(target);
  TFileStream out(target, fmCreate);  // names the file and the reason when it cannot be made
  FJournal->FileOpened(target, existed);
  try {
    // What was written, not what the index says: the uninstaller's entry gives no size.
    FInstalledBytes += expand(out);
  } catch (const EDecompressionError& e) {
    // The package is at fault, not the target; still say which file it was being written to.
    throw EDecompressionError(Format("无法写入文件“%s”：安装程序文件中的数据已损坏 (%s)", target.c_str(),
                                     e.Message().c_str()));
  }
  // Through the file still open: opening it again by name costs as much as writing a small one.
  if (lastWrite) SetFileStamp(out, 2, *lastWrite);
}

void TCompile::RollBackRun(const AnsiString& failure) {
  std::unique_ptr<TRunJournal> journal = std::move(FJournal);
  runlog::Write("错误", failure);
  TInstallLog runLog;
  runLog.Title = FLog->Title;
  for (int i = journal->FirstRecord; i < FLog->Count(); ++i) {
    const TInsLogRec* r = FLog->Records(i);
    runLog.AddRecord(r->Path, r->AutoRun, r->SelfRegister, r->RegServer, r->LogFlag, r->Text);
  }
  TUninstaller undo;
  undo.SetLog(runLog);
  undo.Rollback(*journal);
  // Undone: a log saved later must not name what is gone.
  FLog->Truncate(journal->FirstRecord);

  auto lines = [](const TStringList& items) {
    AnsiString out;
    const int shown = items.Count() > 12 ? 10 : items.Count();
    for (int i = 0; i < shown; ++i) out += "\r\n    " + items[i];
    if (shown < items.Count()) out += Format("\r\n    ……另有 %d 项", items.Count() - shown);
    return out;
  };
  for (const AnsiString& kept : undo.Kept()) runlog::Write("撤销", kept, "安装前已存在，已被覆盖，保持现状");
  for (const AnsiString& left : undo.NotRemoved()) runlog::Write("撤销", left, "未能撤销");
  runlog::Write("撤销", "本次安装所做的更改", "已撤销");
  AnsiString text = "安装没有完成：" + failure + "\r\n\r\n";
  if (undo.Kept().Empty() && undo.NotRemoved().Empty()) {
    text += "安装向导已撤销本次安装所做的全部更改。";
  } else {
    text += "安装向导已撤销本次安装所做的更改。";
    if (!undo.Kept().Empty())
      text += "\r\n下列文件在安装前已经存在，已被本次安装覆盖，保持现状：" + lines(undo.Kept());
    if (!undo.NotRemoved().Empty()) text += "\r\n下列项目未能撤销：" + lines(undo.NotRemoved());
  }
  throw EInstallFailed(text);
}

void TCompile::InstallRun(const AnsiString& groupFolder, const AnsiString& installDir, const AnsiString& components,
                          const AnsiString& exeName, TInsPackList& list, const TReleaseProgressEvent& onProgress) {
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

  // 2. Folders of the file tree. The run notes those it makes, by name as written: no file
  // in one of them can have been there before the run.
  std::unordered_set<AnsiString> madeFolders;
  auto makeFolder = [&](const AnsiString& folder) {
    CreateFolder(folder);
    madeFolders.insert(folder);
    runlog::Write("文件夹", folder, "已创建");
  };
  for (TDirectoryInfoRec* node : *project.GetDirectoryList()) {
    if (node->Kind != 0) continue;
    AnsiString folder = ResolveTargetFolder(node->Path + "\\" + node->Name, installDir);
    if (!FolderExists(folder)) makeFolder(folder);
  }

  // 3. Program files. The files of one folder come one after another: its check is made
  // once for them, not once per file. They are expanded on two threads of their own, in
  // the order of this loop, while the files before them are written.
  std::vector<TExpandAhead::TItem> order;
  for (TFileInfoRec* rec : *files->GetFileList())
    if (TInsPackRec* entry = entryFor(rec->SourcePath); entry && OsFilterAllows(rec->OsFilter, version))
      order.push_back({entry->DataStart, entry->DataEnd, entry->FileSize});
  TExpandAhead ahead(exeName, std::move(order));
  AnsiString checkedFolder;
  bool checkedFolderIsNew = false;
  for (TFileInfoRec* rec : *files->GetFileList()) {
    TInsPackRec* entry = entryFor(rec->SourcePath);
    if (!entry) continue;
    ++position;
    const AnsiString target = ProgramFileTarget(*rec, installDir);
    const AnsiString folder = ResolveTargetFolder(rec->TargetDir, installDir);
    if (folder != checkedFolder) {
      if (!FolderExists(folder)) makeFolder(folder);
      checkedFolder = folder;
      checkedFolderIsNew = madeFolders.count(folder) > 0;
    }
    if (!OsFilterAllows(rec->OsFilter, version)) {
      runlog::Write("文件", target, "跳过：不用于此版本的 Windows");
      continue;
    }
    if (rec->NoOverwrite && FileExists(target)) {
      ahead.SkipNext();
      runlog::Write("文件", target, "已存在，保留（不覆盖）");
      continue;
    }
    installed.push_back({rec->SourcePath, target});
    WriteRunFile([&](TStream& out) { return ahead.TakeNext(out); }, target, rec->FileDate, checkedFolderIsNew);
    runlog::Write("文件", target, "已写入");
    if (SameText(mainItem->Value, rec->SourcePath)) mainItem->Value = target;
    for (TShotCutInfoRec* s : *shortcuts->GetShortcutList())
      if (SameText(s->Target, rec->SourcePath)) s->Target = target;
    if (rec->AutoRun) {
      FJournal->BeforeKey(TRootKey::LocalMachine, SRunKeyPath);
      FJournal->BeforeValue(TRootKey::LocalMachine, SRunKeyPath, rec->FileName);
      SetRunAtLogon(rec->FileName, target, true);
    }
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
      if (!folder.empty() && !FolderExists(folder)) makeFolder(folder);
      installed.push_back({e->Name, target});
      WriteRunFile(setup, *e, target, exeName, e->FileDate, madeFolders.count(folder) > 0);
      runlog::Write("文件", target, "已写入");
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
      if (folder.empty() || !plain(folder) || !plain(c)) {
        runlog::Write("组件", c, "跳过：组件目录中没有它");
        continue;
      }
      const TIniFile descriptor(importsDir + folder + "\\" + c + ".ini");
      AnsiString regType = descriptor.ReadString("RegistryList", "Regtype", "");
      AnsiString filesDir = importsDir + folder + "\\" + folder + "\\";
      if (regType == "System") {
        AnsiString exeFile = descriptor.ReadString("Option", "ExeFile", "");
        if (!exeFile.empty() && plain(exeFile)) {
          RunAndWait(filesDir + exeFile);
          runlog::Write("组件", c, "已运行其安装程序 " + exeFile);
        }
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
          // Not logged (the uninstall leaves shared system files), but a failed run takes
          // back the copies it made, and keeps what was there before.
          FJournal->FileOpened(dest, FileExists(dest));
          const bool copied = CopyFileTo(filesDir + k, dest, false);
          runlog::Write("文件", dest, copied ? "已复制（组件“" + c + "”）" : "无法复制（组件“" + c + "”）");
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
      const std::vector<AnsiString> newKeys = FJournal->BeforeKey(root, r->KeyPath);
      auto key = TRegKey::Open(root, r->KeyPath, true);
      if (!key) continue;
      // The keys it made are the run's to remove again once empty; a key that was there
      // before stays, whatever the uninstall takes out of it.
      for (const AnsiString& made : newKeys) FLog->AddRecord(rootName + "\\" + made, 0, 0, 0, 0, SCreatedKeyMark);
      const uint8_t keyFlag = FJournal->CreatedKey(root, r->KeyPath) ? 0 : kLogKeyWasThere;
      FJournal->BeforeValue(root, r->KeyPath, r->ValueName);
      try {
        switch (r->ValueType) {
          case 0: key->WriteString(r->ValueName, ExpandPathPrefix(r->ValueData, installDir, projectName)); break;
          case 1: key->WriteInteger(r->ValueName, static_cast<int32_t>(static_cast<uint32_t>(HexTextToInt(r->ValueData)))); break;
          case 2: key->WriteBinary(r->ValueName, HexTextToBytes(r->ValueData)); break;
          default: break;
        }
      } catch (const Exception& e) {
        RaiseRegistryError(rootName, r->KeyPath, r->ValueName, e);
      }
      FLog->AddRecord(rootName + "\\" + r->KeyPath, 0, 0, 0, keyFlag, r->ValueName);
      runlog::Write("注册表值", rootName + "\\" + r->KeyPath + "\\" + r->ValueName, "已写入");
    }
  }

  // 7. Uninstaller and its uninstall entry.
  {
    AnsiString folder = InstalledFolderOf(installed, mainItem->Value);
    if (folder.empty()) folder = ExtractFilePath(mainItem->Value);
    const AnsiString uninstaller = folder + "UnIns.exe";
    WriteRunFile(setup, *list.Last(), uninstaller, exeName);
    runlog::Write("文件", uninstaller, "已写入");
    TWorkInfoList& works = *project.GetWorkList();
    WriteUninstallEntry(*FJournal, uninstaller, LastWorkValue(works, "项目名称"), LastWorkValue(works, "版本号"),
                        LastWorkValue(works, "作者网址"), LastWorkValue(works, "作者名称"), installDir,
                        FInstalledBytes);
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
