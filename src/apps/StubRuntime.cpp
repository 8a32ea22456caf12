// A lighter C++ runtime for the two small programs that travel with every setup (Setup.exe,
// UnIns.exe). Linked before the C++ library, these definitions replace the library's own:
//
// - The terminate handler: the library's prints the demangled type of the exception and so
//   brings its whole name demangler (about 45 KB). This one prints what() and aborts.
// - The throw helpers behind the containers' and strings' range and length checks: the
//   library's throw std::out_of_range and its kin, whose message strings need the second
//   (copy-on-write) string implementation and its exception classes (about 45 KB). These
//   throw an exception derived from std::exception with the same message, which is how every
//   caller in these programs catches them (as std::exception, showing what()).
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <stdexcept>
#include <typeinfo>

namespace {

class TLibraryError : public std::exception {
public:
  explicit TLibraryError(const char* message) {
    std::strncpy(FMessage, message ? message : "", sizeof FMessage - 1);
    FMessage[sizeof FMessage - 1] = '\0';
  }
  const char* what() const noexcept override { return FMessage; }

private:
  char FMessage[256];
};

// The library's messages use %zu, %lu, %u, %d and %s only.
void FormatInto(char (&out)[256], const char* pattern, va_list args) {
  size_t n = 0;
  auto put = [&](const char* s) {
    while (*s && n + 1 < sizeof out) out[n++] = *s++;
  };
  auto putNumber = [&](unsigned long long v, bool negative) {
    char digits[24];
    int i = 0;
    do {
      digits[i++] = char('0' + v % 10);
      v /= 10;
    } while (v != 0);
    if (negative) digits[i++] = '-';
    char text[24];
    for (int j = 0; j < i; ++j) text[j] = digits[i - 1 - j];
    text[i] = '\0';
    put(text);
  };
  for (const char* p = pattern ? pattern : ""; *p; ++p) {
    if (*p != '%') {
      const char c[2] = {*p, '\0'};
      put(c);
      continue;
    }
    ++p;
    bool isLong = false, isSize = false;
    while (*p == 'l' || *p == 'z') {
      if (*p == 'z') isSize = true;
      else isLong = true;
      ++p;
    }
    switch (*p) {
      case 'd': {
        long long v = isLong ? va_arg(args, long) : isSize ? va_arg(args, long) : va_arg(args, int);
        putNumber(v < 0 ? 0ull - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v), v < 0);
        break;
      }
      case 'u':
        putNumber(isSize ? va_arg(args, size_t) : isLong ? va_arg(args, unsigned long) : va_arg(args, unsigned), false);
        break;
      case 's': put(va_arg(args, const char*)); break;
      case '%': put("%"); break;
      case '\0': --p; break;
      default: break;
    }
  }
  out[n] = '\0';
}

}  // namespace

namespace __gnu_cxx {
void __verbose_terminate_handler() {
  static bool terminating = false;
  if (terminating) {
    std::fputs("terminate called recursively\n", stderr);
    std::abort();
  }
  terminating = true;
  if (std::current_exception()) {
    std::fputs("terminate called after throwing an exception\n", stderr);
    try {
      throw;
    } catch (const std::exception& e) {
      std::fputs("  what():  ", stderr);
      std::fputs(e.what(), stderr);
      std::fputs("\n", stderr);
    } catch (...) {
    }
  } else {
    std::fputs("terminate called without an active exception\n", stderr);
  }
  std::abort();
}
}  // namespace __gnu_cxx

namespace std {
void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_array_new_length(); }
void __throw_bad_cast() { throw bad_cast(); }
void __throw_bad_typeid() { throw bad_typeid(); }
void __throw_bad_exception() { throw bad_exception(); }
void __throw_logic_error(const char* s) { throw TLibraryError(s); }
void __throw_domain_error(const char* s) { throw TLibraryError(s); }
void __throw_invalid_argument(const char* s) { throw TLibraryError(s); }
void __throw_length_error(const char* s) { throw TLibraryError(s); }
void __throw_out_of_range(const char* s) { throw TLibraryError(s); }
void __throw_runtime_error(const char* s) { throw TLibraryError(s); }
void __throw_range_error(const char* s) { throw TLibraryError(s); }
void __throw_overflow_error(const char* s) { throw TLibraryError(s); }
void __throw_underflow_error(const char* s) { throw TLibraryError(s); }
void __throw_out_of_range_fmt(const char* pattern, ...) {
  char message[256];
  va_list args;
  va_start(args, pattern);
  FormatInto(message, pattern, args);
  va_end(args);
  throw TLibraryError(message);
}
}  // namespace std
