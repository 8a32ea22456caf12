#include "core/Exceptions.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

const char* const SOperationAborted = "Operation aborted";
const char* const SUnableToCreateDirectory = "Unable to create directory";

AnsiString Format(const char* pattern, ...) {
  va_list args;
  va_start(args, pattern);
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, pattern, copy);
  va_end(copy);
  AnsiString out;
  if (n > 0) {
    std::vector<char> buf(static_cast<size_t>(n) + 1);
    std::vsnprintf(buf.data(), buf.size(), pattern, args);
    out.assign(buf.data(), static_cast<size_t>(n));
  }
  va_end(args);
  return out;
}

void RaiseFOpenError(const AnsiString& fileName, const AnsiString& systemMessage) {
  throw EFOpenError("Cannot open file \"" + fileName + "\". " + systemMessage);
}

void RaiseFCreateError(const AnsiString& fileName, const AnsiString& systemMessage) {
  throw EFCreateError("Cannot create file \"" + fileName + "\". " + systemMessage);
}

void RaiseAbort() { throw EAbort(SOperationAborted); }

void RaiseListIndexError(long index) { throw EListError(Format("List index out of bounds (%ld)", index)); }
