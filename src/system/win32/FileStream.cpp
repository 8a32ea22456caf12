// File streams on CreateFileW, with the share modes of the open mode.
#include <windows.h>

#include "core/Exceptions.h"
#include "system/FileStream.h"
#include "system/Platform.h"
#include "system/win32/WideText.h"

TFileStream::TFileStream(const AnsiString& fileName, uint16_t mode) : FFileName(fileName) {
  HANDLE h;
  if (mode == fmCreate || mode == fmCreateNew) {
    h = CreateFileW(wintext::W(fileName), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                    mode == fmCreate ? CREATE_ALWAYS : CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) RaiseFCreateError(fileName, SystemErrorMessage(LastSystemError()));
  } else {
    DWORD access = (mode & 3) == fmOpenWrite       ? GENERIC_WRITE
                   : (mode & 3) == fmOpenReadWrite ? GENERIC_READ | GENERIC_WRITE
                                                   : GENERIC_READ;
    DWORD share;
    switch (mode & 0xF0) {
      case fmShareExclusive: share = 0; break;
      case fmShareDenyWrite: share = FILE_SHARE_READ; break;
      case fmShareDenyNone: share = FILE_SHARE_READ | FILE_SHARE_WRITE; break;
      default: share = (mode & 3) == fmOpenRead ? FILE_SHARE_READ : 0; break;
    }
    h = CreateFileW(wintext::W(fileName), access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) RaiseFOpenError(fileName, SystemErrorMessage(LastSystemError()));
  }
  FHandle = reinterpret_cast<intptr_t>(h);
}

TFileStream::~TFileStream() {
  if (FHandle != -1) CloseHandle(reinterpret_cast<HANDLE>(FHandle));
}

size_t TFileStream::Read(void* buffer, size_t count) {
  size_t done = 0;
  auto* p = static_cast<char*>(buffer);
  while (done < count) {
    DWORD chunk = static_cast<DWORD>(count - done > 0x40000000 ? 0x40000000 : count - done), got = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(FHandle), p + done, chunk, &got, nullptr) || got == 0) break;
    done += got;
  }
  return done;
}

void TFileStream::Write(const void* buffer, size_t count) {
  size_t done = 0;
  auto* p = static_cast<const char*>(buffer);
  while (done < count) {
    DWORD chunk = static_cast<DWORD>(count - done > 0x40000000 ? 0x40000000 : count - done), put = 0;
    if (!WriteFile(reinterpret_cast<HANDLE>(FHandle), p + done, chunk, &put, nullptr) || put == 0) {
      // The file and the system's reason: a full disk is the common case.
      const DWORD e = GetLastError();
      const int err = static_cast<int>(e != 0 ? e : ERROR_DISK_FULL);
      throw EWriteError("Cannot write to file \"" + FFileName + "\". " + SystemErrorMessage(err));
    }
    done += put;
  }
}

int64_t TFileStream::Seek(int64_t offset, int origin) {
  LARGE_INTEGER dist, pos;
  dist.QuadPart = offset;
  DWORD method = origin == 0 ? FILE_BEGIN : origin == 1 ? FILE_CURRENT : FILE_END;
  if (!SetFilePointerEx(reinterpret_cast<HANDLE>(FHandle), dist, &pos, method)) return -1;
  return pos.QuadPart;
}

int64_t TFileStream::Size() {
  LARGE_INTEGER size;
  return GetFileSizeEx(reinterpret_cast<HANDLE>(FHandle), &size) ? size.QuadPart : 0;
}

void TFileStream::SetSize(int64_t size) {
  int64_t pos = Position();
  if (Seek(size, 0) != size || !SetEndOfFile(reinterpret_cast<HANDLE>(FHandle)))
    throw EWriteError("Stream write error");
  Seek(pos < size ? pos : size, 0);
}

void TFileStream::Flush() { FlushFileBuffers(reinterpret_cast<HANDLE>(FHandle)); }
