#pragma once
// The list of opened project files, kept in "OpenLog.dat" in the base folder: a plain
// sequence of stream strings, oldest first, only ever appended to.
#include "core/SysIntfs.h"

class TOpenHistory : public TInterfacedObject, public IOpenHistory {
public:
  TOpenHistory();
  ~TOpenHistory() override;
  GB_INTERFACED

  // Lower-cased paths of the recorded files that still exist, most recent first.
  TStringList FList;

  // Fills list from the history file; a missing file leaves it unchanged. A last entry cut
  // short is ignored.
  void LoadHistory(TStringList& list);
  // Appends path (as given) to the file unless the loaded list already holds it.
  void AddHistory(const AnsiString& path);
  TStringList* GetHistoryList() override { return &FList; }
};

AnsiString HistoryFileName();
