#include "engine/StoredNames.h"

#include "core/TextUtils.h"
#include "engine/Compile.h"
#include "project/Project.h"
#include "project/ProjectFile.h"

// Two different first folders, so that the release never unpacks a data file and a project
// file onto one name in its temporary folder (it drops the drive letter).
const char* const SStoredProjectRoot = "C:\\src\\";
const char* const SStoredDataRoot = "C:\\gbsetup\\";

namespace {
bool IsAbsolute(const AnsiString& path) {
  if (path.size() >= 3 && path[1] == ':' && path[2] == '\\') return true;
  return path.size() >= 3 && path[0] == '\\' && path[1] == '\\';
}

// "X:\a\b\" -> "X:\a\"; empty at the top.
AnsiString ParentFolder(const AnsiString& folder) {
  if (folder.size() <= 3) return AnsiString();
  return ExtractFilePath(folder.substr(0, folder.size() - 1));
}
}  // namespace

TStoredNames::TStoredNames(const AnsiString& dataFolder, const AnsiString& projectFolder)
    : FData(dataFolder), FProject(projectFolder) {}

void TStoredNames::Cover(const AnsiString& path) {
  if (FProject.empty() || !IsAbsolute(path) || (!FData.empty() && StartsText(FData, path))) return;
  AnsiString folder = FProject;
  while (!folder.empty() && !StartsText(folder, path)) folder = ParentFolder(folder);
  if (folder.size() >= 3) FProject = folder;
}

AnsiString TStoredNames::Map(const AnsiString& path) const {
  if (!FData.empty() && StartsText(FData, path)) return SStoredDataRoot + path.substr(FData.size());
  if (!FProject.empty() && StartsText(FProject, path)) return SStoredProjectRoot + path.substr(FProject.size());
  return path;
}

TStoredNames TStoredNames::ForProject(const AnsiString& dataFolder, const AnsiString& projectFile,
                                      const TProjectFileData& data) {
  TStoredNames names(dataFolder, IsAbsolute(projectFile) ? ExtractFilePath(projectFile) : AnsiString());
  for (const TFileInfoRec* f : data.Files) names.Cover(f->SourcePath);
  for (const TSpecailFileRec* g : data.SpecialFiles)
    for (const AnsiString& source : *g->Sources) names.Cover(source);
  for (const TPageInfoRec* item : data.Pages)
    if (IsFileKind(item->Kind)) names.Cover(item->Value);
  for (const TWorkInfoRec* w : data.Works)
    if (IsFileKind(w->Kind)) names.Cover(w->Value);
  return names;
}

void StoreProjectData(TProjectFileData& data, const TStoredNames& names, TDateTime clampTo) {
  TStringList sources;
  for (TFileInfoRec* f : data.Files) {
    sources.Add(f->SourcePath);
    f->SourcePath = names.Map(f->SourcePath);
    if (clampTo >= 0 && f->FileDate > clampTo) f->FileDate = clampTo;
  }
  auto isSource = [&](const AnsiString& s) { return !s.empty() && sources.IndexOf(s) >= 0; };
  for (TSpecailFileRec* g : data.SpecialFiles)
    for (AnsiString& source : g->Sources->Items()) source = names.Map(source);
  // The install finds the main program item and the links by the program file's source path.
  for (TPageInfoRec* item : data.Pages)
    if (IsFileKind(item->Kind) || isSource(item->Value)) item->Value = names.Map(item->Value);
  // The icons: not packed, but no path of the building machine stays in the setup.
  for (TWorkInfoRec* w : data.Works)
    if (IsFileKind(w->Kind)) w->Value = names.Map(w->Value);
  for (TShotCutInfoRec* s : data.Shortcuts)
    if (isSource(s->Target)) s->Target = names.Map(s->Target);
}

bool ParseSourceDateEpoch(const AnsiString& text, int64_t& seconds) {
  if (text.empty() || text.size() > 10) return false;
  int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v > 0xFFFFFFFFll) return false;
  seconds = v;
  return true;
}
