#pragma once
// The uninstaller's engine, shared by UnIns.exe and "gbsetup uninstall": it reads the
// install log and undoes its records in reverse order. It removes only what the log
// names, never a folder that still holds something, and lists what it had to leave.
#include <functional>

#include "core/StringList.h"
#include "core/Types.h"
#include "engine/InstallLog.h"

class TRunJournal;
struct TPriorValue;

extern const char* const SUninstallQuestion;      // %s = the log's title
extern const char* const SUninstallLogName;       // "UnLog.txt"
extern const char* const SUninstallerName;        // "UnIns.exe"
extern const char* const SUninstallKeyPrefix;     // HKEY_LOCAL_MACHINE subkey, ends with "\"
extern const char* const SRunKeyPath;             // HKEY_LOCAL_MACHINE Run key

enum class TUninstallItem { File, Link, Folder, Registry, Key };

// What a record is about: a created-folder mark, a root key name before the first "\" (a
// created key with the key mark, else a value), a ".lnk" file, or else an installed file.
TUninstallItem ClassifyLogRecord(const TInsLogRec& rec);

class TUninstaller {
public:
  explicit TUninstaller(const AnsiString& logFileName);
  // Works on records in memory instead of a log file (an installation run being undone).
  TUninstaller() = default;
  void SetLog(const TInstallLog& log);

  // Reads the log. A missing or damaged log raises (EFOpenError, EDamagedData) and leaves
  // everything on disk as it is.
  void LoadLog();
  const AnsiString& Title() const { return FLog.Title; }
  const TInstallLog& Log() const { return FLog; }
  AnsiString Question() const;

  // The uninstaller program beside the log, removed with it (empty: none). When it cannot
  // be deleted now (it is the running program), deleteLater is asked to remove it later.
  void SetUninstallerFile(const AnsiString& fileName, std::function<bool(const AnsiString&)> deleteLater = {});

  // Undoes every record, then removes the uninstall entry, the log and the uninstaller, and
  // tries the folders once more that only these kept from being empty.
  void Run();

  // Undoes an installation run that failed, newest first: the records of the log set with
  // SetLog, and the files the journal names that the log does not. A file that was there
  // before the run stays as it now is (Kept); a registry value the run wrote gets back what it
  // held before, or goes when it was new; the keys the run made go when empty.
  void Rollback(const TRunJournal& journal);
  const TStringList& Kept() const { return FKept; }

  // What was still there afterwards, one line each (paths; registry values as key\value).
  // Folders below the temporary folder are left without a word.
  const TStringList& NotRemoved() const { return FNotRemoved; }
  int RemovedCount() const { return FRemoved; }

private:
  bool UndoRecord(const TInsLogRec& rec);  // true when nothing of it is left
  bool RemoveFileRecord(const TInsLogRec& rec);
  bool RemoveRegistryRecord(const TInsLogRec& rec);
  bool RemoveFolderRecord(const TInsLogRec& rec);
  bool RemoveKeyRecord(const TInsLogRec& rec);
  bool RemoveUninstallEntry();
  bool RemovePlainFile(const AnsiString& path);
  bool RestoreValue(const TPriorValue& prior);
  void ListLeftovers(const std::vector<const TInsLogRec*>& left);

  AnsiString FLogFileName;
  AnsiString FUninstallerFile;
  std::function<bool(const AnsiString&)> FDeleteLater;
  TInstallLog FLog;
  bool FLoaded = false;
  TStringList FNotRemoved;
  TStringList FKept;
  int FRemoved = 0;
  const TRunJournal* FJournal = nullptr;  // set while a run is rolled back
};
