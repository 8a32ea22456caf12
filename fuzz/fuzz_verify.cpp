// gbsetup verify's check on arbitrary files: it always comes back with a verdict (nothing
// raised), and a file it calls ok reads as a package.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "engine/Package.h"
#include "engine/PackageCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TMemoryStream file(std::vector<uint8_t>(data, data + size));
  const int64_t image = ExecutableImageEnd(file);
  if (image == 0) std::abort();  // an image is never empty
  TPackageVerdict v;
  try {
    v = VerifyPackage(file, "fuzz.exe");
  } catch (...) {
    std::abort();
  }
  if (v.State == TPackageState::Ok) {
    TInsPackList list;
    TPackageTrailer t = ReadPackage(file, list, "fuzz.exe");  // raises, and so aborts, when it does not read
    if (!t.HasChecksum || list.Count() == 0) std::abort();
  }
  return 0;
}
