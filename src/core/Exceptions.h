#pragma once
// The exception classes and their message texts. Every error the program raises derives
// from Exception and carries the exact text that reaches the user.
#include <stdexcept>
#include <string>

#include "core/Types.h"

class Exception : public std::exception {
public:
  explicit Exception(AnsiString message) : FMessage(std::move(message)) {}
  const char* what() const noexcept override { return FMessage.c_str(); }
  const AnsiString& Message() const { return FMessage; }

private:
  AnsiString FMessage;
};

#define GB_EXCEPTION(Name, Base)                        \
  class Name : public Base {                            \
  public:                                               \
    using Base::Base;                                   \
  };

GB_EXCEPTION(EStreamError, Exception)
GB_EXCEPTION(EFOpenError, EStreamError)    // "Cannot open file \"%s\". %s"
GB_EXCEPTION(EFCreateError, EStreamError)  // "Cannot create file \"%s\". %s"
GB_EXCEPTION(EReadError, EStreamError)
GB_EXCEPTION(EWriteError, EStreamError)
GB_EXCEPTION(ECompressionError, Exception)    // "error"
GB_EXCEPTION(EDecompressionError, Exception)  // "error"
GB_EXCEPTION(EAbort, Exception)               // "Operation aborted"
GB_EXCEPTION(EListError, Exception)
GB_EXCEPTION(EIntfCastError, Exception)
GB_EXCEPTION(EConvertError, Exception)
GB_EXCEPTION(EInOutError, Exception)
GB_EXCEPTION(EDamagedData, Exception)  // a file whose content is malformed or runs past its end
GB_EXCEPTION(ENotAvailable, Exception)

// printf-style formatting into an AnsiString.
AnsiString Format(const char* pattern, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// The stream layer's messages.
[[noreturn]] void RaiseFOpenError(const AnsiString& fileName, const AnsiString& systemMessage);
[[noreturn]] void RaiseFCreateError(const AnsiString& fileName, const AnsiString& systemMessage);
[[noreturn]] void RaiseAbort();  // the silent abort, "Operation aborted"
[[noreturn]] void RaiseListIndexError(long index);  // "List index out of bounds (%d)"

extern const char* const SOperationAborted;
extern const char* const SUnableToCreateDirectory;
