// Whole-package checks: the executable image in front of the package, and verification.
#include "engine/PackageCheck.h"

#include <algorithm>

#include "core/Exceptions.h"
#include "core/TextUtils.h"
#include "engine/Package.h"
#include "system/FileStream.h"
#include "system/SysKernel.h"

namespace {
uint32_t Le32At(const uint8_t* p) { return GetLE32(p); }

bool ReadAt(TStream& file, int64_t offset, void* buffer, size_t n) {
  if (offset < 0 || offset + static_cast<int64_t>(n) > file.Size()) return false;
  file.SetPosition(offset);
  return file.Read(buffer, n) == n;
}

// Takes what expands and keeps only its length.
class TCountingSink : public TStream {
public:
  size_t Read(void*, size_t) override { return 0; }
  void Write(const void*, size_t count) override { FSize += static_cast<int64_t>(count); }
  int64_t Seek(int64_t, int) override { return FSize; }
  int64_t Size() override { return FSize; }
  void SetSize(int64_t size) override { FSize = size; }

private:
  int64_t FSize = 0;
};

AnsiString Hex8(uint32_t v) { return Format("%08X", static_cast<unsigned>(v)); }

// Expands every entry in index order; the first fault found, or empty when all is well.
AnsiString FirstFault(TStream& file, const TPackageTrailer& t, const AnsiString& fileName) {
  TInsPackList list;
  try {
    ReadPackageIndex(file, t, list, fileName);
  } catch (const EDamagedPackage& e) {
    return "the index does not read: " + e.What();
  }
  int64_t expect = t.P1;
  for (int i = 0; i < list.Count(); ++i) {
    const TInsPackRec* e = list[i];
    const AnsiString entry = Format("entry %d \"%s\"", i + 1, e->Name.c_str());
    if (e->DataStart != expect)
      return Format("%s starts at offset %lld, not where the data before it ends (%lld)", entry.c_str(),
                    static_cast<long long>(e->DataStart), static_cast<long long>(expect));
    TCountingSink sink;
    try {
      ExpandChunks(file, sink, e->DataStart, e->DataEnd, fileName);
    } catch (const EDamagedPackage& x) {
      return "first bad chunk in the data of " + entry + ": " + x.What();
    }
    if (e->Kind != pkUninstaller && sink.Size() != e->FileSize)
      return Format("%s expands to %lld bytes, its index entry says %lld", entry.c_str(),
                    static_cast<long long>(sink.Size()), static_cast<long long>(e->FileSize));
    expect = e->DataEnd;
  }
  if (expect != t.P2)
    return Format("the file data ends at offset %lld, the index starts at %lld", static_cast<long long>(expect),
                  static_cast<long long>(t.P2));
  return AnsiString();
}
}  // namespace

int64_t ExecutableImageEnd(TStream& file) {
  uint8_t dos[64];
  if (!ReadAt(file, 0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return -1;
  const int64_t pe = Le32At(dos + 0x3C);
  uint8_t head[24];
  if (!ReadAt(file, pe, head, sizeof head) || head[0] != 'P' || head[1] != 'E' || head[2] || head[3]) return -1;
  const unsigned sections = GetLE16(head + 6);
  const int64_t symbols = Le32At(head + 12), symbolCount = Le32At(head + 16);
  const unsigned optionalSize = GetLE16(head + 20);
  int64_t end = pe + 24 + optionalSize + 40 * int64_t(sections);
  uint8_t opt[64];
  if (optionalSize >= 64 && ReadAt(file, pe + 24, opt, sizeof opt)) end = std::max<int64_t>(end, Le32At(opt + 60));
  for (unsigned i = 0; i < sections; ++i) {
    uint8_t sh[40];
    if (!ReadAt(file, pe + 24 + optionalSize + 40 * int64_t(i), sh, sizeof sh)) return -1;
    const int64_t rawSize = Le32At(sh + 16), rawPointer = Le32At(sh + 20);
    if (rawSize > 0) end = std::max(end, rawPointer + rawSize);
  }
  if (symbols > 0) {
    // The symbol table, then its string table, whose first four bytes give its size.
    int64_t strings = symbols + 18 * symbolCount;
    uint8_t size[4];
    end = std::max(end, strings);
    if (ReadAt(file, strings, size, 4)) end = std::max(end, strings + Le32At(size));
  }
  return end;
}

TImageArch ExecutableArch(TStream& file) {
  uint8_t dos[64];
  if (!ReadAt(file, 0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return TImageArch::None;
  uint8_t head[26];
  if (!ReadAt(file, Le32At(dos + 0x3C), head, sizeof head) || head[0] != 'P' || head[1] != 'E' || head[2] || head[3])
    return TImageArch::None;
  switch (GetLE16(head + 24)) {  // the optional header's magic
    case 0x10B: return TImageArch::X86;
    case 0x20B: return TImageArch::X64;
    default: return TImageArch::None;
  }
}

TImageArch ExecutableArchOf(const AnsiString& fileName) {
  if (!FileExists(fileName)) return TImageArch::None;
  try {
    TFileStream f(fileName, fmOpenRead | fmShareDenyNone);
    return ExecutableArch(f);
  } catch (const Exception&) {
    return TImageArch::None;
  }
}

const char* ImageArchText(TImageArch arch) {
  switch (arch) {
    case TImageArch::X86: return "x86";
    case TImageArch::X64: return "x64";
    default: return "";
  }
}

bool HasBytesAfterImage(TStream& file) {
  const int64_t image = ExecutableImageEnd(file);
  return image >= 0 && PackageEnd(file) > image;
}

const char* PackageStateText(TPackageState state) {
  switch (state) {
    case TPackageState::Ok: return "ok";
    case TPackageState::NoPackage: return "no package";
    case TPackageState::Truncated: return "truncated";
    case TPackageState::Damaged: return "damaged";
    case TPackageState::NoChecksum: return "no checksum";
    case TPackageState::ChecksumMismatch: return "checksum mismatch";
  }
  return "damaged";
}

TPackageVerdict VerifyPackage(TStream& file, const AnsiString& fileName,
                              const std::function<void(int64_t done, int64_t total)>& onBlock) {
  const int64_t f = PackageEnd(file);
  TPackageTrailer t;
  try {
    t = ReadPackageTrailer(file, fileName);
  } catch (const EDamagedPackage& e) {
    // The end marker is read at F - 8; pointing outside the file, it is not the marker that was written.
    if (e.Offset() == f - 8)
      return {TPackageState::Truncated,
              Format("the file does not end with a package trailer (%s); it was probably cut short",
                     e.What().c_str())};
    return {TPackageState::Damaged, e.What()};
  }
  if (!t.HasPackage) {
    if (!HasBytesAfterImage(file)) return {TPackageState::NoPackage, AnsiString()};
    return {TPackageState::Truncated,
            Format("%lld bytes follow the executable image, but the file does not end with a package trailer",
                   static_cast<long long>(f - ExecutableImageEnd(file)))};
  }
  if (t.P1 <= 0 || t.P2 <= 0)
    return {TPackageState::Damaged, Format("the positions P1 = %lld, P2 = %lld leave the package without entries",
                                           static_cast<long long>(t.P1), static_cast<long long>(t.P2))};
  if (!t.HasChecksum) {
    AnsiString fault = FirstFault(file, t, fileName);
    if (!fault.empty()) return {TPackageState::Damaged, fault};
    return {TPackageState::NoChecksum, "the text block carries no checksum; every chunk expands"};
  }
  const uint32_t crc = ComputePackageChecksum(file, t, onBlock);
  if (crc == t.Checksum) {
    TInsPackList list;
    try {
      ReadPackageIndex(file, t, list, fileName);
    } catch (const EDamagedPackage& e) {
      return {TPackageState::Damaged, e.What()};  // written so by its builder
    }
    return {TPackageState::Ok, AnsiString()};
  }
  AnsiString fault = FirstFault(file, t, fileName);
  if (fault.empty())
    fault = "every chunk expands to its size: the damage is in the positions, the text block or the stored checksum";
  return {TPackageState::ChecksumMismatch,
          "stored " + Hex8(t.Checksum) + ", computed " + Hex8(crc) + "; " + fault};
}
