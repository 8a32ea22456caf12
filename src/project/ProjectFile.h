#pragma once
// The project file: seven sections of stream strings and fixed-width little-endian
// numbers, no header. These routines read and write it exactly as stored, without the
// merging that TProject::LoadFromFile adds.
#include "core/Stream.h"
#include "core/SysIntfs.h"

struct TProjectFileData {
  TWorkInfoList Works;
  TFileInfoList Files;
  TSpecialFileList SpecialFiles;
  TRegistryInfoList Registry;
  TStringList Components;
  TPageInfoList Pages;
  TDirectoryInfoList Directories;
  TShortcutList Shortcuts;
};

struct TProjectFileLists {
  const TWorkInfoList& Works;
  const TFileInfoList& Files;
  const TSpecialFileList& SpecialFiles;
  const TRegistryInfoList& Registry;
  const TStringList& Components;
  const TPageInfoList& Pages;
  const TDirectoryInfoList& Directories;
  const TShortcutList& Shortcuts;
};

inline TProjectFileLists ListsOf(const TProjectFileData& d) {
  return {d.Works, d.Files, d.SpecialFiles, d.Registry, d.Components, d.Pages, d.Directories, d.Shortcuts};
}

void WriteProjectSections(TStream& s, const TProjectFileLists& lists);
// Reads the seven sections from s into data (which should be empty). A count or length that
// runs past the end raises EDamagedData naming fileName and the section.
void ReadProjectSections(TStream& s, const AnsiString& fileName, TProjectFileData& data);

// Reads the whole file, then its sections.
void ReadProjectFile(const AnsiString& fileName, TProjectFileData& data);
// Writes to a temporary file beside fileName and renames it over fileName once every byte
// is on the disk; on failure the old file stays as it was and the error is raised.
void WriteProjectFile(const AnsiString& fileName, const TProjectFileLists& lists);
