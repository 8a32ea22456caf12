#include "engine/Uninstall.h"

#include <unordered_set>

#include "core/Exceptions.h"
#include "core/TextUtils.h"
#include "engine/RunJournal.h"
#include "system/RunLog.h"
#include "system/FileCtrl.h"
#include "system/Registry.h"
#include "system/SysKernel.h"

const char* const SUninstallQuestion = "确定要完全删除“%s”及其所有组件吗？";
const char* const SUninstallLogName = "UnLog.txt";
const char* const SUninstallerName = "UnIns.exe";
const char* const SUninstallKeyPrefix = "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const char* const SRunKeyPath = "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

namespace {
const char* const kEntryValues[] = {"DisplayIcon",     "DisplayName",     "DisplayVersion", "URLInfoAbout",
                                    "Publisher",       "UninstallString", "QuietUninstallString",
                                    "InstallLocation", "InstallDate",     "EstimatedSize",  "NoModify",
                                    "NoRepair"};

// A full path on a drive ("C:\...") or a network share ("\\server\..."), more than a bare root.
// Anything else in a log would be resolved against whatever folder is current.
bool IsFullPath(const AnsiString& p) {
  if (p.size() > 3 && ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z')) && p[1] == ':' && p[2] == '\\')
    return true;
  return p.size() > 2 && p[0] == '\\' && p[1] == '\\';
}

bool EndsWithText(const AnsiString& text, const AnsiString& suffix) {
  return text.size() >= suffix.size() && SameText(text.substr(text.size() - suffix.size()), suffix);
}

AnsiString Unquoted(AnsiString s) {
  s = Trim(s);
  if (s.size() >= 2 && s.front() == '"') {
    size_t end = s.find('"', 1);
    if (end != AnsiString::npos) return s.substr(1, end - 1);
  }
  return s;
}

// Splits "HKEY_...\sub\key" at its first backslash; false when the root is not one of the five.
bool SplitRegistryPath(const AnsiString& path, TRootKey& root, AnsiString& subKey) {
  size_t slash = path.find('\\');
  AnsiString rootName = slash == AnsiString::npos ? path : path.substr(0, slash);
  if (!RootKeyFromName(rootName, root)) return false;
  subKey = slash == AnsiString::npos ? AnsiString() : path.substr(slash + 1);
  return true;
}
}  // namespace

namespace {
// How the run's log names a record of the install log.
const char* ItemWord(const TInsLogRec& rec) {
  switch (ClassifyLogRecord(rec)) {
    case TUninstallItem::Link: return "快捷方式";
    case TUninstallItem::Folder: return "文件夹";
    case TUninstallItem::Registry: return "注册表值";
    case TUninstallItem::Key: return "注册表项";
    default: return "文件";
  }
}
AnsiString ItemName(const TInsLogRec& rec) {
  return ClassifyLogRecord(rec) == TUninstallItem::Registry ? rec.Path + "\\" + rec.Text : rec.Path;
}
}  // namespace

TUninstallItem ClassifyLogRecord(const TInsLogRec& rec) {
  if (rec.Text == SCreatedFolderMark) return TUninstallItem::Folder;
  TRootKey root;
  AnsiString subKey;
  if (SplitRegistryPath(rec.Path, root, subKey))
    return rec.Text == SCreatedKeyMark ? TUninstallItem::Key : TUninstallItem::Registry;
  if (EndsWithText(rec.Path, ".lnk") && !rec.AutoRun && !rec.SelfRegister && !rec.RegServer)
    return TUninstallItem::Link;
  return TUninstallItem::File;
}

TUninstaller::TUninstaller(const AnsiString& logFileName) : FLogFileName(logFileName) {}

void TUninstaller::SetLog(const TInstallLog& log) {
  FLog = TInstallLog();
  FLog.Title = log.Title;
  for (const TInsLogRec* r : log.List()) FLog.AddRecord(r->Path, r->AutoRun, r->SelfRegister, r->RegServer, r->LogFlag, r->Text);
  FLoaded = true;
}

void TUninstaller::LoadLog() {
  FLog.LoadFromFile(FLogFileName);
  FLoaded = true;
}

AnsiString TUninstaller::Question() const { return Format(SUninstallQuestion, FLog.Title.c_str()); }

void TUninstaller::SetUninstallerFile(const AnsiString& fileName, std::function<bool(const AnsiString&)> deleteLater) {
  FUninstallerFile = fileName;
  FDeleteLater = std::move(deleteLater);
}

void TUninstaller::Run() {
  if (!FLoaded) LoadLog();
  FNotRemoved.Clear();
  FRemoved = 0;
  std::vector<const TInsLogRec*> leftFolders;
  std::vector<const TInsLogRec*> left;
  for (int i = FLog.Count() - 1; i >= 0; --i) {
    const TInsLogRec* rec = FLog.Records(i);
    if (UndoRecord(*rec)) {
      ++FRemoved;
      if (runlog::IsOpen()) runlog::Write(ItemWord(*rec), ItemName(*rec), "已删除");
    } else if (ClassifyLogRecord(*rec) == TUninstallItem::Folder) {
      leftFolders.push_back(rec);
    } else {
      left.push_back(rec);
    }
  }

  if (!RemoveUninstallEntry())
    FNotRemoved.Add("HKEY_LOCAL_MACHINE" + AnsiString(SUninstallKeyPrefix) + FLog.Title);
  if (!RemovePlainFile(FLogFileName)) FNotRemoved.Add(FLogFileName);
  if (!FUninstallerFile.empty() && !RemovePlainFile(FUninstallerFile)) {
    if (!FDeleteLater || !FDeleteLater(FUninstallerFile)) FNotRemoved.Add(FUninstallerFile);
  }

  // The program's folder held the log and the uninstaller until now.
  for (const TInsLogRec* rec : leftFolders) {
    if (RemoveFolderRecord(*rec)) {
      ++FRemoved;
      runlog::Write("文件夹", rec->Path, "已删除");
    } else {
      left.push_back(rec);
    }
  }
  if (runlog::IsOpen())
    for (const TInsLogRec* rec : left) runlog::Write(ItemWord(*rec), ItemName(*rec), "未删除");
  ListLeftovers(left);
}

void TUninstaller::ListLeftovers(const std::vector<const TInsLogRec*>& left) {
  // The setup unpacked its pictures and texts below the temporary folder; those files are not
  // in the log, so their folders stay, and nobody needs to hear about scratch space.
  const AnsiString temp = AppendPathDelimiter(TempFolder());
  for (const TInsLogRec* rec : left) {
    const TUninstallItem kind = ClassifyLogRecord(*rec);
    if (kind == TUninstallItem::Folder && StartsText(temp, AppendPathDelimiter(rec->Path))) continue;
    if (kind == TUninstallItem::Registry && !rec->Text.empty())
      FNotRemoved.Add(rec->Path + "\\" + rec->Text);
    else
      FNotRemoved.Add(rec->Path);
  }
}

void TUninstaller::Rollback(const TRunJournal& journal) {
  FNotRemoved.Clear();
  FKept.Clear();
  FRemoved = 0;
  FJournal = &journal;
  // The files the run opened but had not logged: the one it was writing when it failed, the
  // uninstaller. They are the newest, so they go first.
  std::unordered_set<AnsiString> logged;
  for (const TInsLogRec* r : FLog.List())
    if (ClassifyLogRecord(*r) != TUninstallItem::Folder) logged.insert(UpperCaseAscii(r->Path));
  std::vector<TInsLogRec> unlogged;
  for (const AnsiString& path : journal.Files())
    if (!logged.count(UpperCaseAscii(path))) unlogged.push_back({path, 0, 0, 0, 0, AnsiString()});
  std::vector<const TInsLogRec*> records;
  for (const TInsLogRec* r : FLog.List()) records.push_back(r);
  for (const TInsLogRec& r : unlogged) records.push_back(&r);

  std::vector<const TInsLogRec*> leftFolders, left;
  for (auto it = records.rbegin(); it != records.rend(); ++it) {
    const TInsLogRec* rec = *it;
    if (ClassifyLogRecord(*rec) == TUninstallItem::File && journal.Overwritten(rec->Path)) {
      if (FKept.IndexOf(rec->Path) < 0) FKept.Add(rec->Path);
      continue;
    }
    if (UndoRecord(*rec)) {
      ++FRemoved;
    } else if (ClassifyLogRecord(*rec) == TUninstallItem::Folder) {
      leftFolders.push_back(rec);
    } else {
      left.push_back(rec);
    }
  }
  // Every value the run wrote, its Run values and the uninstall entry among them.
  const auto& values = journal.Values();
  for (auto it = values.rbegin(); it != values.rend(); ++it)
    if (!RestoreValue(*it)) FNotRemoved.Add(RootKeyName(it->Root) + "\\" + it->Key + "\\" + it->Name);
  const auto& keys = journal.CreatedKeys();
  for (auto it = keys.rbegin(); it != keys.rend(); ++it)
    if (!TRegKey::DeleteKeyIfEmpty(it->Root, it->Key)) FNotRemoved.Add(RootKeyName(it->Root) + "\\" + it->Key);
  for (const TInsLogRec* rec : leftFolders) {
    if (RemoveFolderRecord(*rec)) {
      ++FRemoved;
    } else {
      left.push_back(rec);
    }
  }
  ListLeftovers(left);
  FJournal = nullptr;
}

bool TUninstaller::RestoreValue(const TPriorValue& prior) {
  if (prior.Existed) {
    auto key = TRegKey::Open(prior.Root, prior.Key, true);
    if (!key) return false;
    try {
      key->WriteRaw(prior.Name, prior.Type, prior.Data);
    } catch (const Exception&) {
      return false;
    }
    uint32_t type = 0;
    TArrayByte data;
    return key->ReadRaw(prior.Name, type, data) && type == prior.Type && data == prior.Data;
  }
  auto key = TRegKey::Open(prior.Root, prior.Key, false);
  if (!key) return true;
  if (key->ValueExists(prior.Name)) key->DeleteValue(prior.Name);
  return !key->ValueExists(prior.Name);
}

bool TUninstaller::UndoRecord(const TInsLogRec& rec) {
  switch (ClassifyLogRecord(rec)) {
    case TUninstallItem::Folder: return RemoveFolderRecord(rec);
    case TUninstallItem::Registry: return RemoveRegistryRecord(rec);
    case TUninstallItem::Key: return RemoveKeyRecord(rec);
    case TUninstallItem::Link: return IsFullPath(rec.Path) && RemovePlainFile(rec.Path);
    case TUninstallItem::File: return RemoveFileRecord(rec);
  }
  return false;
}

bool TUninstaller::RemovePlainFile(const AnsiString& path) {
  if (!FileExists(path)) return !FolderExists(path);  // a folder in a file's place stays
  DeleteFileAt(path);
  return !FileExists(path);
}

bool TUninstaller::RemoveFileRecord(const TInsLogRec& rec) {
  if (!IsFullPath(rec.Path)) return false;
  const bool present = FileExists(rec.Path);
  if (present && rec.RegServer) RunCommandAndWait(SystemFolder() + "\\regsvr32.exe", "/s/u \"" + rec.Path + "\"");
  if (present && rec.SelfRegister) RunCommandAndWait(rec.Path, "-unInstall");
  if (rec.AutoRun) {
    // Only the value that still starts this file: another program may have taken the name since.
    const AnsiString name = ExtractFileName(rec.Path);
    AnsiString command;
    auto key = TRegKey::Open(TRootKey::LocalMachine, SRunKeyPath, false);
    if (key && key->ReadString(name, command) && StartsText(rec.Path, Unquoted(command))) {
      key.reset();
      SetRunAtLogon(name, "", false);
    }
  }
  return RemovePlainFile(rec.Path);
}

bool TUninstaller::RemoveRegistryRecord(const TInsLogRec& rec) {
  TRootKey root;
  AnsiString subKey;
  SplitRegistryPath(rec.Path, root, subKey);
  if (FJournal) {
    // Undoing a run: the value gets back what it held; the keys are the journal's to remove.
    const TPriorValue* prior = FJournal->Prior(root, subKey, rec.Text);
    return prior ? RestoreValue(*prior) : true;
  }
  // A value written straight under a root key is removed, but a root key never is.
  while (!subKey.empty() && subKey.front() == '\\') subKey.erase(0, 1);
  auto key = TRegKey::Open(root, subKey, false);
  if (!key) return true;  // already gone
  if (key->ValueExists(rec.Text) && !key->DeleteValue(rec.Text)) return false;
  const bool gone = !key->ValueExists(rec.Text);
  key.reset();
  if (!subKey.empty() && !(rec.LogFlag & kLogKeyWasThere)) TRegKey::DeleteKeyIfEmpty(root, subKey);
  return gone;
}

bool TUninstaller::RemoveKeyRecord(const TInsLogRec& rec) {
  // Undoing a run, the journal removes the keys the run made.
  if (FJournal) return true;
  TRootKey root;
  AnsiString subKey;
  SplitRegistryPath(rec.Path, root, subKey);
  while (!subKey.empty() && subKey.front() == '\\') subKey.erase(0, 1);
  if (subKey.empty() || !TRegKey::KeyExists(root, subKey)) return true;
  // Only when empty: what the program or the user keeps there since keeps its key.
  TRegKey::DeleteKeyIfEmpty(root, subKey);
  return !TRegKey::KeyExists(root, subKey);
}

bool TUninstaller::RemoveFolderRecord(const TInsLogRec& rec) {
  if (!IsFullPath(rec.Path)) return false;
  if (!FolderExists(rec.Path)) return true;
  // RemoveFolder takes empty folders only: what a user put there keeps its folder.
  RemoveFolder(rec.Path);
  return !FolderExists(rec.Path);
}

bool TUninstaller::RemoveUninstallEntry() {
  // An empty title would name the Uninstall key itself, which holds every program's entry.
  if (FLog.Title.empty()) return true;
  const AnsiString path = AnsiString(SUninstallKeyPrefix) + FLog.Title;
  auto key = TRegKey::Open(TRootKey::LocalMachine, path, false);
  if (!key) return true;
  for (const char* name : kEntryValues)
    if (key->ValueExists(name)) key->DeleteValue(name);
  key.reset();
  TRegKey::DeleteKeyIfEmpty(TRootKey::LocalMachine, path);
  return !TRegKey::KeyExists(TRootKey::LocalMachine, path);
}
