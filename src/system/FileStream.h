#pragma once
// File streams over program (Windows) paths. Open failures raise the stream layer's
// errors: EFOpenError "Cannot open file \"%s\". %s" and EFCreateError
// "Cannot create file \"%s\". %s", with the system's message.
#include <cstdint>

#include "core/Stream.h"

enum : uint16_t {
  fmCreate = 0xFFFF,        // create anew, replacing an existing file; read and write
  fmCreateNew = 0xFFFE,     // create a file that is not there; a name taken (a link too) fails
  fmOpenRead = 0x0000,
  fmOpenWrite = 0x0001,
  fmOpenReadWrite = 0x0002,
  fmShareExclusive = 0x0010,
  fmShareDenyWrite = 0x0020,
  fmShareDenyNone = 0x0040,
};

class TFileStream : public TStream {
public:
  TFileStream(const AnsiString& fileName, uint16_t mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  size_t Read(void* buffer, size_t count) override;
  void Write(const void* buffer, size_t count) override;
  int64_t Seek(int64_t offset, int origin) override;
  int64_t Size() override;
  void SetSize(int64_t size) override;
  // Pushes written data to the disk (used before a file is renamed over another).
  void Flush();
  const AnsiString& FileName() const { return FFileName; }
  // The system's handle (a HANDLE on Windows, a descriptor in the sandbox), for calls on
  // the open file that need no second open by name.
  intptr_t Handle() const { return FHandle; }

private:
  AnsiString FFileName;
  intptr_t FHandle = -1;
};
