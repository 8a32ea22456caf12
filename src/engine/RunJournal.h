#pragma once
// What an installation run changed beyond its install log records, and what was there before
// it changed it: enough for the uninstaller's engine to undo a run that failed.
#include <unordered_set>
#include <vector>

#include "core/StringList.h"
#include "core/Types.h"
#include "system/Registry.h"

struct TPriorValue {
  TRootKey Root = TRootKey::CurrentUser;
  AnsiString Key;   // without leading backslash
  AnsiString Name;
  bool Existed = false;
  uint32_t Type = 0;
  TArrayByte Data;
};

struct TCreatedKey {
  TRootKey Root = TRootKey::CurrentUser;
  AnsiString Key;
};

class TRunJournal {
public:
  // The run's first record in the engine's install log.
  int FirstRecord = 0;

  // A file the run has just opened for writing (created anew or replaced). existedBefore is
  // whether it was there before this call; a file the run made itself never counts as existing.
  void FileOpened(const AnsiString& path, bool existedBefore);
  // Every file the run opened, in the order of the first opening.
  const TStringList& Files() const { return FFiles; }
  // True for a file that was there before the run replaced it.
  bool Overwritten(const AnsiString& path) const;

  // Before a key is opened with create: notes the levels of it that do not exist yet, and
  // returns those this call noted first (outer ones first).
  std::vector<AnsiString> BeforeKey(TRootKey root, const AnsiString& key);
  // True when the run made the key (a level noted by BeforeKey).
  bool CreatedKey(TRootKey root, const AnsiString& key) const;
  // Before a value is written: keeps the value as it is now (the first time only).
  void BeforeValue(TRootKey root, const AnsiString& key, const AnsiString& name);
  const std::vector<TPriorValue>& Values() const { return FValues; }
  // Keys the run created, in the order they were made (outer ones first).
  const std::vector<TCreatedKey>& CreatedKeys() const { return FCreatedKeys; }
  // The noted state of a value; null when the run never wrote it.
  const TPriorValue* Prior(TRootKey root, const AnsiString& key, const AnsiString& name) const;

  bool Empty() const { return FFiles.Count() == 0 && FValues.empty() && FCreatedKeys.empty(); }

private:
  TStringList FFiles;
  std::unordered_set<AnsiString> FSeen, FOverwritten;  // upper-cased paths
  std::vector<TPriorValue> FValues;
  std::vector<TCreatedKey> FCreatedKeys;
};

// A registry key path without leading and trailing backslashes.
AnsiString PlainKeyPath(const AnsiString& key);
