// The payload release: reads the package of the running setup and unpacks what the
// wizard needs into the temporary folder.
#include "core/TextUtils.h"
#include "engine/Compile.h"
#include "engine/Package.h"
#include "system/FileCtrl.h"
#include "system/FileStream.h"
#include "system/SysKernel.h"

namespace {
bool UnpackedByRelease(uint8_t kind) { return kind == pkSupport || kind == pkComponentFile || kind == pkPageFile; }

void Report(const TReleaseProgressEvent& onProgress, int32_t max, int32_t position) {
  if (onProgress) onProgress(max, position, AnsiString(), false);
}
}  // namespace

void TCompile::ReleaseFiles(const AnsiString& fileName, TInsPackList& list, TReleaseProgressEvent onProgress) {
  TFileStream setup(fileName, fmOpenRead | fmShareDenyNone);
  TInsPackList found;
  TPackageTrailer trailer = ReadPackage(setup, found, fileName);
  // A waiting unpack dialog closes on a report with Position = Max; a file without
  // entries still sends that one report.
  if (!trailer.HasPackage || trailer.P1 <= 0 || trailer.P2 <= 0) {
    Report(onProgress, 1, 1);
    return;
  }
  // Names come from the file: refuse the package before anything is written when one of
  // the entries unpacked here would land outside the temporary folder.
  for (TInsPackRec* e : found)
    if (UnpackedByRelease(e->Kind) && !IsSafeEntryName(e->Name))
      throw EDamagedData(Format("安装包中的文件名不安全，拒绝解压: %s", e->Name.c_str()));

  if (found.Empty()) {
    Report(onProgress, 1, 1);
    return;
  }
  const int first = list.Count();
  for (TInsPackRec* e : found) list.Add(std::make_unique<TInsPackRec>(*e));
  found.Clear();

  const AnsiString base = TempFolder();
  const int n = list.Count();
  for (int i = first; i < n; ++i) {
    TInsPackRec* e = list[i];
    if (UnpackedByRelease(e->Kind)) {
      const AnsiString target = base + e->Name.substr(3);
      const AnsiString folder = ExtractFilePath(target);
      if (!folder.empty() && !FolderExists(folder)) CreateFolder(folder);
      WriteEntry(setup, *e, target, fileName);
      if (e->Kind == pkPageFile && FProject) {
        for (TPageInfoRec* item : *FProject->GetPageList()) {
          if (IsMainProgramItem(*item)) continue;
          if (SameText(item->Value, e->Name)) item->Value = target;
        }
      }
      e->Name = target;
      if (i == first && FProject) FProject->LoadFromFile(target, false);
    }
    Report(onProgress, n, i + 1);
  }
}
