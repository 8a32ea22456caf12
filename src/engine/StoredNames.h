#pragma once
// The names a package stores for the builder's files. They are the builder's paths moved
// under fixed roots, so that a setup does not depend on where the sources lay, nor carry the
// building machine's user and folder names.
#include <cstdint>

#include "core/SysIntfs.h"

struct TProjectFileData;

// Where the project's side (the folder holding the project and its sources) is stored.
extern const char* const SStoredProjectRoot;
// Where the builder's data folder is stored.
extern const char* const SStoredDataRoot;

class TStoredNames {
public:
  // dataFolder and projectFolder end with a backslash; projectFolder may be empty.
  TStoredNames(const AnsiString& dataFolder, const AnsiString& projectFolder);
  // Widens the project side to the folder that holds path as well, unless path lies in the
  // data folder, is not absolute, or is on another drive (it is then stored as it is).
  void Cover(const AnsiString& path);
  // The stored name of path: under SStoredDataRoot or SStoredProjectRoot, or path itself.
  AnsiString Map(const AnsiString& path) const;
  const AnsiString& ProjectFolder() const { return FProject; }

  // The names for a project: its file's folder widened by every source it names.
  static TStoredNames ForProject(const AnsiString& dataFolder, const AnsiString& projectFile,
                                 const TProjectFileData& data);

private:
  AnsiString FData;
  AnsiString FProject;
};

// The project as the package stores it: every source path under its stored name (file
// records, special-file sources, settings and page items naming files, and the links and items that
// point at a program file), and, when clampTo is not negative, every file date later than it
// set to it.
void StoreProjectData(TProjectFileData& data, const TStoredNames& names, TDateTime clampTo);

// SOURCE_DATE_EPOCH's text -> seconds; false when it is not a plain decimal number that a
// PE header can hold (0 to 4294967295).
bool ParseSourceDateEpoch(const AnsiString& text, int64_t& seconds);
