#pragma once
// Checking a setup file's package as a whole: where the executable image ends, whether a
// file without a trailer is a plain stub or a package cut short, and a full verification
// with a diagnosis of what is wrong.
#include <cstdint>
#include <functional>

#include "core/Stream.h"
#include "core/Types.h"

// End of the executable image at the start of the file: its headers, every section's raw
// data and a symbol table behind them. -1 when the file does not start with a PE image.
int64_t ExecutableImageEnd(TStream& file);
// True when the file is an executable with bytes behind its image, before the package's end:
// a file that was meant to carry a package. A bare stub has none.
bool HasBytesAfterImage(TStream& file);

// The architecture of the executable at the start of the file: a setup built with the 32-bit
// stub is x86 (PE32), one built with the 64-bit stub x64 (PE32+).
enum class TImageArch { None, X86, X64 };
TImageArch ExecutableArch(TStream& file);
TImageArch ExecutableArchOf(const AnsiString& fileName);  // None also when it cannot be read
// "x86", "x64", or "" for None.
const char* ImageArchText(TImageArch arch);

enum class TPackageState {
  Ok,                // the checksum matches and the index reads
  NoPackage,         // a file without a package: nothing behind the image, or no image at all
  Truncated,         // bytes behind the image, but no trailer at the end: cut short
  Damaged,           // a trailer whose positions, index or chunks do not fit the file
  NoChecksum,        // a package that reads, from a builder that wrote no checksum
  ChecksumMismatch,  // the stored checksum differs from the file's bytes
};

struct TPackageVerdict {
  TPackageState State = TPackageState::NoPackage;
  AnsiString Detail;  // what is wrong, for a person; empty for Ok and NoPackage
};

// Reads the whole package. On a checksum mismatch (or when there is no checksum) every
// entry's chunks are expanded to find the first bad one and name the entry it belongs to.
// onBlock hears the checksum's progress as ComputePackageChecksum reports it.
TPackageVerdict VerifyPackage(TStream& file, const AnsiString& fileName,
                              const std::function<void(int64_t done, int64_t total)>& onBlock = {});
// "ok", "no package", "truncated", "damaged", "no checksum", "checksum mismatch".
const char* PackageStateText(TPackageState state);
