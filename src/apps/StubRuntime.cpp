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
// - The thread calls that the runtime itself makes (once-only initialisation, the mutexes of
//   the exception allocator, the unwinder and function-local statics, the condition those
//   statics wait on, and the thread-local keys of its per-thread data): the threads library
//   that provides them brings its whole thread machinery (about 30 KB). These are made of
//   the system's critical sections, condition variables and thread-local slots. Setup.exe
//   starts its expansion threads with the system's own call, and a key's destructor, which
//   would run when a thread ends, is not run: an ended thread leaves its few blocks of runtime
//   state behind, once per installation.
// - The C99 formatter behind vsnprintf (and so Format): the C library's own carries a whole
//   floating-point conversion (about 25 KB). This one hands the work to the system's C
//   runtime, whose printf lacks only the C99 length letters and return value: "ll" and "j"
//   become "I64", "z" and "t" become "I" (the system's pointer-sized integer, 32 or 64 bits
//   with the program), "hh" becomes "h", and the length of the whole text is returned however
//   little of it fits. (Its %e writes three exponent digits; no
//   text of these programs uses %e.)
// This file is compiled to ordinary code (not to the intermediate code of whole-program
// optimisation), so that its definitions are the ones the runtime's objects link against.
#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <stdexcept>
#include <typeinfo>

#include <pthread.h>
#include <windows.h>

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

// The library's messages use %zu, %lu, %u, %d and %s only (%zd and %td are read as well).
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
    // "l" is 32 bits on Windows whatever the program's width; "z" and "t" are pointer-sized.
    bool isLong = false, isSize = false;
    while (*p == 'l' || *p == 'z' || *p == 't') {
      if (*p == 'l') isLong = true;
      else isSize = true;
      ++p;
    }
    switch (*p) {
      case 'd': {
        long long v = isSize ? va_arg(args, ptrdiff_t) : isLong ? va_arg(args, long) : va_arg(args, int);
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

// ---- The runtime's thread calls ----
//
// A mutex or condition word holds its static initializer (a small negative number) until it
// is first used, then the address of its system object, made once even when two threads get
// there together.

namespace {

template <class T>
T* SystemObject(intptr_t* word, void (*init)(T*)) {
  intptr_t v = __atomic_load_n(word, __ATOMIC_ACQUIRE);
  if (v >= 0 && v != 0) return reinterpret_cast<T*>(v);
  T* made = static_cast<T*>(HeapAlloc(GetProcessHeap(), 0, sizeof(T)));
  if (!made) std::abort();
  init(made);
  if (__atomic_compare_exchange_n(word, &v, reinterpret_cast<intptr_t>(made), false, __ATOMIC_ACQ_REL,
                                  __ATOMIC_ACQUIRE))
    return made;
  HeapFree(GetProcessHeap(), 0, made);  // another thread was first
  return reinterpret_cast<T*>(v);
}

void InitSection(CRITICAL_SECTION* cs) { InitializeCriticalSection(cs); }
void InitCondition(CONDITION_VARIABLE* cv) { InitializeConditionVariable(cv); }

CRITICAL_SECTION* Section(pthread_mutex_t* m) { return SystemObject<CRITICAL_SECTION>(m, InitSection); }

}  // namespace

extern "C" {

int pthread_once(pthread_once_t* once, void (*func)(void)) {
  // 0: not run, 1: running, 2: done.
  long expected = 0;
  if (__atomic_compare_exchange_n(once, &expected, 1L, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) {
    func();
    __atomic_store_n(once, 2L, __ATOMIC_RELEASE);
    return 0;
  }
  while (__atomic_load_n(once, __ATOMIC_ACQUIRE) != 2) Sleep(0);
  return 0;
}

int pthread_mutex_init(pthread_mutex_t* m, const pthread_mutexattr_t*) {
  // Critical sections may be entered again by their owner: every kind of mutex is served.
  *m = PTHREAD_MUTEX_INITIALIZER;
  Section(m);
  return 0;
}

int pthread_mutex_destroy(pthread_mutex_t* m) {
  const intptr_t v = *m;
  if (v > 0) {
    DeleteCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(v));
    HeapFree(GetProcessHeap(), 0, reinterpret_cast<void*>(v));
  }
  *m = PTHREAD_MUTEX_INITIALIZER;
  return 0;
}

int pthread_mutex_lock(pthread_mutex_t* m) {
  EnterCriticalSection(Section(m));
  return 0;
}

int pthread_mutex_unlock(pthread_mutex_t* m) {
  LeaveCriticalSection(Section(m));
  return 0;
}

int pthread_cond_wait(pthread_cond_t* c, pthread_mutex_t* m) {
  return SleepConditionVariableCS(SystemObject<CONDITION_VARIABLE>(c, InitCondition), Section(m), INFINITE) ? 0
                                                                                                         : EINVAL;
}

int pthread_cond_broadcast(pthread_cond_t* c) {
  WakeAllConditionVariable(SystemObject<CONDITION_VARIABLE>(c, InitCondition));
  return 0;
}

int pthread_cond_destroy(pthread_cond_t* c) {
  // A condition variable holds no system resource: only its block goes.
  const intptr_t v = *c;
  if (v > 0) HeapFree(GetProcessHeap(), 0, reinterpret_cast<void*>(v));
  *c = PTHREAD_COND_INITIALIZER;
  return 0;
}

int pthread_key_create(pthread_key_t* key, void (*)(void*)) {
  const DWORD slot = TlsAlloc();
  if (slot == TLS_OUT_OF_INDEXES) return EAGAIN;
  *key = slot;
  return 0;
}

int pthread_key_delete(pthread_key_t key) { return TlsFree(key) ? 0 : EINVAL; }

void* pthread_getspecific(pthread_key_t key) {
  // The slot read must not disturb the thread's last error, as the library's does not.
  const DWORD error = GetLastError();
  void* value = TlsGetValue(key);
  SetLastError(error);
  return value;
}

int pthread_setspecific(pthread_key_t key, const void* value) {
  return TlsSetValue(key, const_cast<void*>(value)) ? 0 : EINVAL;
}

}  // extern "C"

// ---- The C99 formatter ----

namespace {

// The pattern with C99 length letters in the system runtime's spelling; false when it does
// not fit.
bool SystemPattern(const char* in, char* out, size_t size) {
  size_t n = 0;
  auto put = [&](const char* text, size_t len) {
    if (n + len >= size) return false;
    std::memcpy(out + n, text, len);
    n += len;
    return true;
  };
  while (*in) {
    if (*in != '%') {
      if (!put(in++, 1)) return false;
      continue;
    }
    const char* start = in++;
    while (*in && std::strchr("-+ #0'", *in)) ++in;           // flags
    while (*in == '*' || (*in >= '0' && *in <= '9')) ++in;    // width
    if (*in == '.') {
      ++in;
      while (*in == '*' || (*in >= '0' && *in <= '9')) ++in;  // precision
    }
    if (!put(start, size_t(in - start))) return false;
    if (in[0] == 'l' && in[1] == 'l') {
      if (!put("I64", 3)) return false;
      in += 2;
    } else if (*in == 'j') {
      if (!put("I64", 3)) return false;
      ++in;
    } else if (*in == 'z' || *in == 't') {
      if (!put("I", 1)) return false;
      ++in;
    } else if (in[0] == 'h' && in[1] == 'h') {
      if (!put("h", 1)) return false;
      in += 2;
    }
    if (*in && !put(in++, 1)) return false;  // the rest of the length and the conversion
  }
  out[n] = '\0';
  return true;
}

}  // namespace

extern "C" int __mingw_vsnprintf(char* buffer, size_t size, const char* pattern, va_list args) {
  char local[512];
  char* converted = local;
  size_t room = sizeof local;
  while (!SystemPattern(pattern, converted, room)) {
    if (converted != local) HeapFree(GetProcessHeap(), 0, converted);
    room *= 2;
    converted = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, room));
    if (!converted) return -1;
  }
  va_list count;
  va_copy(count, args);
  const int length = _vscprintf(converted, count);
  va_end(count);
  if (size > 0 && buffer) {
    const int written = _vsnprintf(buffer, size, converted, args);
    if (written < 0 || size_t(written) >= size) buffer[size - 1] = '\0';
  }
  if (converted != local) HeapFree(GetProcessHeap(), 0, converted);
  return length;
}
