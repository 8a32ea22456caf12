#pragma once
// The install log: what a setup run created, written as "UnLog.txt" for the uninstaller.
#include <cstdint>

#include "core/RecordList.h"
#include "core/Types.h"

// The folder mark in the Text of a created-folder record.
extern const char* const SCreatedFolderMark;  // "创建的文件夹"
// The mark in the Text of a record of a registry key the installation created (Path: root
// name, "\", key). An uninstaller that does not know it takes it for a value of that name,
// which is not there, and removes the key when it is empty: what the mark asks.
extern const char* const SCreatedKeyMark;  // "创建的注册表项"
// LogFlag of a registry value record whose key was there before the installation: the
// uninstall removes the value and leaves the key. (Records without it, those of older logs
// among them, have their key removed when it is left empty.)
constexpr uint8_t kLogKeyWasThere = 1;

struct TInsLogRec {
  AnsiString Path;
  uint8_t AutoRun = 0;
  uint8_t SelfRegister = 0;
  uint8_t RegServer = 0;
  uint8_t LogFlag = 0;
  AnsiString Text;
};

using TInsLogList = TRecordList<TInsLogRec>;

class TInstallLog {
public:
  void AddRecord(const AnsiString& path, uint8_t autoRun, uint8_t selfRegister, uint8_t regServer, uint8_t logFlag,
                 const AnsiString& text);
  void SetTitle(const AnsiString& text) { Title = text; }
  // Title, then per record: Path, Text (stream strings), AutoRun, SelfRegister, RegServer, LogFlag.
  // Creates the file anew; the records stay in memory.
  void WriteToFile(const AnsiString& fileName) const;
  // Replaces title and records by the file's. A file that ends inside a record, or whose
  // lengths run past its end, raises EDamagedData naming the file and offset; the log is
  // then left as it was.
  void LoadFromFile(const AnsiString& fileName);

  // Drops the records from index count on (an installation run that was undone).
  void Truncate(int count) {
    while (FList.Count() > count && count >= 0) FList.Delete(FList.Count() - 1);
  }

  // The records of earlier, an install log found where this one goes (the same program
  // installed before into the same folder), followed by this log's, each thing once: a record
  // for what earlier already names (the same file, link or folder, the same registry value or
  // key) keeps its earlier place, with the registration flags of both and, for a file, this
  // log's LogFlag. The title is this log's.
  TInstallLog MergedAfter(const TInstallLog& earlier) const;

  int Count() const { return FList.Count(); }
  TInsLogRec* Records(int i) const { return FList[i]; }
  const TInsLogList& List() const { return FList; }

  AnsiString Title;

private:
  TInsLogList FList;
};
