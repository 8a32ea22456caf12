// Shell link (.lnk) files written byte by byte, as the shell's link object saves them:
// header, link info with the local path, then the description, working folder and
// arguments as counted UTF-16 strings.
#include <sys/stat.h>

#include "core/DateTime.h"
#include "core/Exceptions.h"
#include "core/TextUtils.h"
#include "system/FileStream.h"
#include "system/Platform.h"
#include "system/SysKernel.h"

namespace {
enum : uint32_t {
  kHasLinkInfo = 0x02,
  kHasName = 0x04,
  kHasWorkingDir = 0x10,
  kHasArguments = 0x20,
  kIsUnicode = 0x80,
};

void Put32(TArrayByte& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Put16(TArrayByte& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put64(TArrayByte& b, uint64_t v) {
  Put32(b, static_cast<uint32_t>(v));
  Put32(b, static_cast<uint32_t>(v >> 32));
}

void PutStringData(TArrayByte& b, const AnsiString& text) {
  std::u16string w = GbkToUtf16(text);
  if (w.size() > 0xFFFF) w.resize(0xFFFF);
  Put16(b, static_cast<uint16_t>(w.size()));
  for (char16_t c : w) Put16(b, static_cast<uint16_t>(c));
}

TArrayByte LinkInfo(const AnsiString& target) {
  TArrayByte volume;
  Put32(volume, 0x11);  // VolumeIDSize
  Put32(volume, 3);     // DRIVE_FIXED
  Put32(volume, 0);     // serial number
  Put32(volume, 0x10);  // label offset: an empty label follows
  volume.push_back(0);
  const uint32_t headerSize = 0x1C;
  uint32_t basePathOffset = headerSize + static_cast<uint32_t>(volume.size());
  uint32_t suffixOffset = basePathOffset + static_cast<uint32_t>(target.size()) + 1;
  uint32_t total = suffixOffset + 1;
  TArrayByte b;
  Put32(b, total);
  Put32(b, headerSize);
  Put32(b, 1);  // VolumeIDAndLocalBasePath
  Put32(b, headerSize);
  Put32(b, basePathOffset);
  Put32(b, 0);  // no network part
  Put32(b, suffixOffset);
  b.insert(b.end(), volume.begin(), volume.end());
  b.insert(b.end(), target.begin(), target.end());  // the ANSI (GBK) path
  b.push_back(0);
  b.push_back(0);  // empty common path suffix
  return b;
}
}  // namespace

void CreateShellLink(const AnsiString& linkPath, const AnsiString& target, const AnsiString& arguments,
                     const AnsiString& description) {
  AnsiString workDir = ExtractFilePath(target);
  uint32_t flags = kHasLinkInfo | kIsUnicode | kHasWorkingDir;
  if (!description.empty()) flags |= kHasName;
  if (!arguments.empty()) flags |= kHasArguments;

  uint32_t attributes = 0x20;
  uint64_t writeTime = 0;
  uint32_t size = 0;
  struct stat st;
  if (stat(HostPath(target).c_str(), &st) == 0) {
    attributes = S_ISDIR(st.st_mode) ? 0x10 : 0x20;
    writeTime = DateTimeToFileTime(UnixToDateTime(st.st_mtim.tv_sec, static_cast<int32_t>(st.st_mtim.tv_nsec)));
    size = static_cast<uint32_t>(st.st_size);
  }

  TArrayByte b;
  Put32(b, 0x4C);
  // {00021401-0000-0000-C000-000000000046}
  const uint8_t clsid[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                             0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
  b.insert(b.end(), clsid, clsid + 16);
  Put32(b, flags);
  Put32(b, attributes);
  Put64(b, writeTime);  // creation
  Put64(b, writeTime);  // access
  Put64(b, writeTime);  // write
  Put32(b, size);
  Put32(b, 0);  // icon index
  Put32(b, 1);  // SW_SHOWNORMAL
  Put16(b, 0);  // no hot key
  Put16(b, 0);
  Put32(b, 0);
  Put32(b, 0);

  TArrayByte info = LinkInfo(target);
  b.insert(b.end(), info.begin(), info.end());
  if (flags & kHasName) PutStringData(b, description);
  PutStringData(b, workDir);
  if (flags & kHasArguments) PutStringData(b, arguments);
  Put32(b, 0);  // terminal block

  TFileStream out(linkPath, fmCreate);
  out.WriteBuffer(b.data(), b.size());
}
