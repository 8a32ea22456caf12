// File streams on the sandbox: POSIX descriptors behind program paths.
#include "system/FileStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "core/Exceptions.h"
#include "system/Platform.h"

TFileStream::TFileStream(const AnsiString& fileName, uint16_t mode) : FFileName(fileName) {
  std::string host = HostPath(fileName);
  int flags;
  if (mode == fmCreate)
    flags = O_RDWR | O_CREAT | O_TRUNC;
  else if (mode == fmCreateNew)
    flags = O_RDWR | O_CREAT | O_EXCL;
  else if ((mode & 3) == fmOpenWrite)
    flags = O_WRONLY;
  else if ((mode & 3) == fmOpenReadWrite)
    flags = O_RDWR;
  else
    flags = O_RDONLY;
  int fd = open(host.c_str(), flags | O_CLOEXEC, 0666);
  int err = errno;
  if (fd >= 0) {
    // Windows cannot open a folder as a file; neither do we.
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
      close(fd);
      fd = -1;
      err = EISDIR;
    }
  }
  if (fd < 0) {
    if (mode == fmCreate || mode == fmCreateNew) RaiseFCreateError(fileName, SystemErrorMessage(err));
    RaiseFOpenError(fileName, SystemErrorMessage(err));
  }
  FHandle = fd;
}

TFileStream::~TFileStream() {
  if (FHandle >= 0) close(static_cast<int>(FHandle));
}

size_t TFileStream::Read(void* buffer, size_t count) {
  size_t done = 0;
  auto* p = static_cast<char*>(buffer);
  while (done < count) {
    ssize_t n = read(static_cast<int>(FHandle), p + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

void TFileStream::Write(const void* buffer, size_t count) {
  size_t done = 0;
  auto* p = static_cast<const char*>(buffer);
  while (done < count) {
    ssize_t n = write(static_cast<int>(FHandle), p + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // The file and the system's reason: a full disk is the common case.
      const int err = n < 0 ? errno : ENOSPC;
      throw EWriteError("Cannot write to file \"" + FFileName + "\". " + SystemErrorMessage(err));
    }
    done += static_cast<size_t>(n);
  }
}

int64_t TFileStream::Seek(int64_t offset, int origin) {
  int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : SEEK_END;
  off_t r = lseek(static_cast<int>(FHandle), static_cast<off_t>(offset), whence);
  return r < 0 ? -1 : static_cast<int64_t>(r);
}

int64_t TFileStream::Size() {
  struct stat st;
  return fstat(static_cast<int>(FHandle), &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
}

void TFileStream::SetSize(int64_t size) {
  if (ftruncate(static_cast<int>(FHandle), static_cast<off_t>(size)) != 0)
    throw EWriteError("Stream write error");
  if (Position() > size) Seek(size, 0);
}

void TFileStream::Flush() { fsync(static_cast<int>(FHandle)); }
