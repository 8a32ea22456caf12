// What the stubs' light runtime must keep: the library's messages for range errors, printf
// formatting through the system's runtime, function-local statics and exceptions on several
// threads, and a terminate report that names what() before the program aborts.
#include <windows.h>

#include <atomic>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/Exceptions.h"

namespace {

int failures = 0, checks = 0;

void Check(bool ok, const std::string& what, const std::string& detail = std::string()) {
  ++checks;
  if (ok) return;
  ++failures;
  std::printf("FAILED: %s %s\n", what.c_str(), detail.c_str());
}

std::string CaughtMessage(void (*f)()) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(nothing thrown)";
}

void RangeErrors() {
  std::string m = CaughtMessage([] {
    std::string s = "abc";
    (void)s.substr(10);
  });
  Check(m == "basic_string::substr: __pos (which is 10) > this->size() (which is 3)", "substr message", m);
  m = CaughtMessage([] {
    std::vector<int> v(2);
    (void)v.at(5);
  });
  Check(m == "vector::_M_range_check: __n (which is 5) >= this->size() (which is 2)", "vector::at message", m);
  m = CaughtMessage([] {
    std::string s;
    s.reserve(s.max_size() + 1);
  });
  Check(m == "basic_string::_M_create", "length error message", m);
  m = CaughtMessage([] {
    const char* none = nullptr;
    std::string s(none);
  });
  Check(m == "basic_string: construction from null is not valid", "logic error message", m);
  // The sizes in those messages are pointer-sized: a 64-bit index is not cut to 32 bits.
  m = CaughtMessage([] {
    std::vector<int> v(2);
    (void)v.at(size_t(-1));
  });
  Check(m == "vector::_M_range_check: __n (which is " + std::to_string(size_t(-1)) + ") >= this->size() (which is 2)",
        "vector::at message with the largest index", m);
  // A throw that is not a range check keeps its own type.
  bool badAlloc = false;
  try {
    std::vector<char> huge(size_t(-1) / 2);
  } catch (const std::bad_alloc&) {
    badAlloc = true;
  } catch (const std::exception&) {
  }
  Check(badAlloc, "bad_alloc stays std::bad_alloc");
}

// Format is declared with the printf archetype, which the compiler checks as the system
// runtime's printf here, without the C99 letters this test is about.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
#pragma GCC diagnostic ignored "-Wformat-extra-args"
void Formatting() {
  const AnsiString a = Format("%s|%d|%ld|%lld|%u|%zu|%5d|%-3d|%03d|%x|%X|%c|%%|%.2s|%llu|%hhd", "text", -12, 70000L,
                              -1234567890123LL, 4000000000u, size_t(77), 42, 7, 5, 255, 0xABCu, 'z', "abcdef",
                              18446744073709551615ULL, 65);
  Check(a == "text|-12|70000|-1234567890123|4000000000|77|   42|7  |005|ff|ABC|z|%|ab|18446744073709551615|65",
        "Format conversions", a);
  const AnsiString b = Format("%.3f %g %8.1f", 3.14159, 0.5, -2.26);
  Check(b == "3.142 0.5     -2.3", "Format floating point", b);
  // "z" and "t" are as wide as a pointer (64 bits in an x86_64 program), "l" stays 32 bits.
  const size_t big = size_t(-1) - 6;
  const ptrdiff_t low = PTRDIFF_MIN + 5;
  const AnsiString s = Format("%zu|%zd|%td|%zx|%tu|%lu|%d", big, low, low, big, size_t(low), 4000000000ul, 3);
  char hex[32] = {};
  std::to_chars(hex, hex + sizeof hex - 1, big, 16);
  Check(s == std::to_string(big) + "|" + std::to_string(low) + "|" + std::to_string(low) + "|" + hex + "|" +
                 std::to_string(size_t(low)) + "|4000000000|3",
        "Format of pointer-sized values", s);
  // Longer than any buffer inside: the whole text, and the C99 length.
  const std::string longText(3000, 'x');
  const AnsiString c = Format("[%s]%d", longText.c_str(), 9);
  Check(c == "[" + longText + "]9", "Format of a long text", std::to_string(c.size()));
  char small[8];
  const int n = std::snprintf(small, sizeof small, "%s", "0123456789");
  Check(n == 10 && std::strcmp(small, "0123456") == 0, "snprintf truncates and counts", small);
  std::string pattern(1000, 'p');
  pattern += "%lld";
  const AnsiString d = Format(pattern.c_str(), 5LL);
  Check(d == std::string(1000, 'p') + "5", "a pattern longer than the converter's buffer");
}
#pragma GCC diagnostic pop

struct TSlowInit {
  static std::atomic<int> Made;
  int Value;
  TSlowInit() : Value(7) {
    ++Made;
    Sleep(50);
  }
};
std::atomic<int> TSlowInit::Made{0};

int UseStatic() {
  static TSlowInit once;
  return once.Value;
}

std::atomic<int> caught{0}, statics{0};

DWORD WINAPI Worker(void*) {
  if (UseStatic() == 7) ++statics;
  for (int i = 0; i < 2000; ++i) {
    try {
      throw Exception("thread " + std::to_string(i));
    } catch (const Exception& e) {
      if (e.Message() == "thread " + std::to_string(i)) ++caught;
    }
  }
  return 0;
}

void Threads() {
  HANDLE threads[6];
  for (HANDLE& t : threads) t = CreateThread(nullptr, 0, Worker, nullptr, 0, nullptr);
  WaitForMultipleObjects(6, threads, TRUE, 60000);
  for (HANDLE t : threads) CloseHandle(t);
  Check(TSlowInit::Made == 1, "a function-local static is made once", std::to_string(TSlowInit::Made));
  Check(statics == 6, "every thread waits for the static", std::to_string(statics));
  Check(caught == 6 * 2000, "exceptions on six threads at once", std::to_string(caught));
}

void Terminate(const char* self) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string log = std::string(temp) + "stubruntime-" + std::to_string(GetCurrentProcessId()) + ".txt";
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE out = CreateFileA(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdError = out;
  si.hStdOutput = out;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi{};
  std::string cmd = std::string("\"") + self + "\" terminate";
  DWORD code = 0;
  if (CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    WaitForSingleObject(pi.hProcess, 60000);
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  CloseHandle(out);
  std::string text;
  if (FILE* f = std::fopen(log.c_str(), "rb")) {
    char buf[512];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
    std::fclose(f);
  }
  DeleteFileA(log.c_str());
  Check(code == 3, "an uncaught exception aborts (exit code 3)", std::to_string(code));
  Check(text.find("terminate called after throwing an exception") != std::string::npos &&
            text.find("what():  the uncaught one") != std::string::npos,
        "the terminate report names what()", text);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "terminate") == 0) {
    std::setvbuf(stderr, nullptr, _IONBF, 0);
    throw Exception("the uncaught one");
  }
  RangeErrors();
  Formatting();
  Threads();
  Terminate(argv[0]);
  if (failures == 0) {
    std::printf("[  PASSED  ] %d tests.\n", checks);
    return 0;
  }
  std::printf("[  FAILED  ] %d tests, listed below:\n", failures);
  return 1;
}
