#pragma once
// Helpers of the picture tests: the fixture folder as a program path, whole-file reads and
// writes through the file layer, colour comparison.
#include <cstdlib>
#include <string>

#include "core/Types.h"
#include "system/FileStream.h"
#include "system/Platform.h"

namespace picture_test {

inline AnsiString Fixture(const char* name) {
#ifdef _WIN32
  // Under Wine the source tree is on drive Z:.
  AnsiString p = AnsiString("Z:") + PICTURE_FIXTURES + "/" + name;
  for (char& c : p)
    if (c == '/') c = '\\';
  return p;
#else
  return ProgramPath(std::string(PICTURE_FIXTURES) + "/" + name);
#endif
}

inline TArrayByte ReadAll(const AnsiString& path) {
  TFileStream f(path, fmOpenRead | fmShareDenyNone);
  TArrayByte data(size_t(f.Size()));
  if (!data.empty()) f.ReadBuffer(data.data(), data.size());
  return data;
}

inline void WriteAll(const AnsiString& path, const TArrayByte& data) {
  TFileStream f(path, fmCreate);
  if (!data.empty()) f.WriteBuffer(data.data(), data.size());
}

// Each of the three channels of 0x??RRGGBB within tolerance.
inline bool Near(uint32_t pixel, uint32_t rgb, int tolerance) {
  for (int shift = 0; shift <= 16; shift += 8) {
    const int a = int((pixel >> shift) & 0xFF), b = int((rgb >> shift) & 0xFF);
    if (std::abs(a - b) > tolerance) return false;
  }
  return true;
}

}  // namespace picture_test
