// The package reader on arbitrary setup files: the trailer, the index and every entry's
// chunks. Only EDamagedPackage may come out, and expansion stays bounded.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "engine/Package.h"

namespace {

// Counts what it is given and keeps nothing.
class TCountingSink : public TStream {
public:
  size_t Read(void*, size_t) override { return 0; }
  void Write(const void*, size_t count) override { FSize += static_cast<int64_t>(count); }
  int64_t Seek(int64_t offset, int origin) override { return origin == 2 ? FSize + offset : FSize; }
  int64_t Size() override { return FSize; }
  void SetSize(int64_t size) override { FSize = size; }

private:
  int64_t FSize = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TMemoryStream setup(std::vector<uint8_t>(data, data + size));
  TInsPackList list;
  TPackageTrailer t;
  try {
    t = ReadPackage(setup, list, "fuzz.exe");
  } catch (const EDamagedPackage&) {
    if (list.Count() != 0) std::abort();  // a refused index leaves the list alone
    return 0;
  }
  if (!t.HasPackage && list.Count() != 0) std::abort();
  for (TInsPackRec* e : list) {
    if (e->DataStart < t.P1 || e->DataEnd < e->DataStart || e->DataEnd > t.P2) std::abort();
    TCountingSink sink;
    try {
      ExpandChunks(setup, sink, e->DataStart, e->DataEnd, "fuzz.exe");
    } catch (const EDamagedPackage&) {
      continue;
    }
    // Each chunk takes at least 5 bytes and gives at most one piece.
    if (sink.Size() > (e->DataEnd - e->DataStart) / 5 * kChunkSize) std::abort();
  }
  return 0;
}
