// The PE resource parser and the whole in-memory rewrite on arbitrary executables: either a
// clean refusal or an image whose resources read back as written.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/Exceptions.h"
#include "system/IconEdit.h"

namespace {
// Two images of 4 and 3 bytes.
const TArrayByte& Icon() {
  static const TArrayByte icon = {0, 0, 1, 0, 2, 0,
                                  16, 16, 0, 0, 1, 0, 32, 0, 4, 0, 0, 0, 38, 0, 0, 0,
                                  32, 32, 0, 0, 1, 0, 32, 0, 3, 0, 0, 0, 42, 0, 0, 0,
                                  'a', 'b', 'c', 'd', 'e', 'f', 'g'};
  return icon;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    ReadPeResources(data, size);
  } catch (const Exception&) {
    return 0;
  }
  TArrayByte image;
  try {
    image = ReplaceIconInImage(TArrayByte(data, data + size), Icon());
  } catch (const Exception&) {
    return 0;
  }
  // What was written must parse again and hold the new images.
  const auto resources = ReadPeResources(image.data(), image.size());
  size_t icons = 0;
  for (const TPeResource& r : resources)
    if (r.Type == TResName::FromId(3) && r.Language == IconResourceLanguage && !r.Name.IsName &&
        (r.Name.Id == 1 || r.Name.Id == 2))
      ++icons;
  if (icons != 2) std::abort();
  return 0;
}
