// IsValidIconFile on arbitrary bytes, and for every file it accepts the group that would be
// written: no image may reach past the data.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/Stream.h"
#include "system/IconEdit.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!IsValidIconFile(data, size)) return 0;
  const TArrayByte icon(data, data + size);
  const uint16_t count = GetLE16(data + 4);
  uint64_t total = 0;
  for (uint16_t i = 0; i < count; ++i) {
    const uint8_t* e = data + 6 + 16 * i;
    const uint64_t end = uint64_t(GetLE32(e + 12)) + GetLE32(e + 8);
    if (end > size) std::abort();
    total += GetLE32(e + 8);
  }
  if (total > size) std::abort();
  const TArrayByte group = BuildIconGroup(nullptr, 0, icon);
  if (group.size() != 6 + 14 * size_t(count) || IconGroupImageIds(group.data(), group.size()).size() != count)
    std::abort();
  return 0;
}
