// The payload release: reads the package of the running setup and unpacks what the
// wizard needs into a folder of its own in the temporary folder.
#include <algorithm>
#include <cstdint>

#include "core/TextUtils.h"
#include "engine/Compile.h"
#include "engine/Package.h"
#include "engine/PackageCheck.h"
#include "system/FileCtrl.h"
#include "system/FileStream.h"
#include "system/SysKernel.h"

namespace {
bool UnpackedByRelease(uint8_t kind) { return kind == pkSupport || kind == pkComponentFile || kind == pkPageFile; }

void Report(const TReleaseProgressEvent& onProgress, int32_t max, int32_t position) {
  if (onProgress) onProgress(max, position, AnsiString(), false);
}

// Reads the package and checks it before anything is written. Any fault found reaches the
// user as one message: the file is damaged and should be downloaded again.
TPackageTrailer ReadCheckedPackage(TStream& setup, TInsPackList& found, const AnsiString& fileName,
                                   const TReleaseProgressEvent& onProgress) {
  try {
    TPackageTrailer trailer = ReadPackageTrailer(setup, fileName);
    // Bytes behind the program but no trailer at the end: a download that stopped early.
    if (!trailer.HasPackage && HasBytesAfterImage(setup))
      throw EDamagedPackage("the file does not end with a package trailer");
    if (trailer.HasChecksum) {
      // The check's reports stay below Max (Flag true), so they never read as the release's end.
      uint32_t crc = ComputePackageChecksum(setup, trailer, [&](int64_t done, int64_t total) {
        if (onProgress)
          onProgress(static_cast<int32_t>(std::min<int64_t>(total, INT32_MAX - 1) + 1),
                     static_cast<int32_t>(std::min<int64_t>(done, INT32_MAX - 1)), AnsiString(), true);
      });
      if (crc != trailer.Checksum)
        throw EDamagedPackage(Format("package checksum %08X, stored %08X", static_cast<unsigned>(crc),
                                     static_cast<unsigned>(trailer.Checksum)));
    }
    ReadPackageIndex(setup, trailer, found, fileName);
    return trailer;
  } catch (const EDamagedPackage& e) {
    throw EDamagedPackage(Format(SDamagedSetupFile, fileName.c_str()) + "\r\n\r\n(" + e.What() + ")", e.What(),
                          e.Offset());
  }
}
}  // namespace

const char* const SDamagedSetupFile = "安装程序文件“%s”已损坏或不完整，请重新下载后再安装。";

void TCompile::ReleaseFiles(const AnsiString& fileName, TInsPackList& list, TReleaseProgressEvent onProgress) {
  TFileStream setup(fileName, fmOpenRead | fmShareDenyNone);
  TInsPackList found;
  TPackageTrailer trailer = ReadCheckedPackage(setup, found, fileName, onProgress);
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

  if (FReleaseFolder.empty()) {
    FReleaseFolder = CreatePrivateFolder(TempFolder());
    FReleasedFolders.Add(FReleaseFolder.substr(0, FReleaseFolder.size() - 1));
  }
  const AnsiString base = FReleaseFolder;
  const int n = list.Count();
  for (int i = first; i < n; ++i) {
    TInsPackRec* e = list[i];
    if (UnpackedByRelease(e->Kind)) {
      const AnsiString target = base + e->Name.substr(3);
      const AnsiString folder = ExtractFilePath(target);
      if (!folder.empty() && !FolderExists(folder))
        MakeFolderLevels(folder, [this](const AnsiString& level) { FReleasedFolders.Add(level); });
      // Noted before it is made: a file cut short by a failure is removed as well.
      if (FReleasedFiles.IndexOf(target) < 0) FReleasedFiles.Add(target);
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
