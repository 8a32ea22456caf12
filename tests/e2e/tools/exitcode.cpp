// Runs a program, waits for it and prints its whole exit code in decimal: Wine hands a Linux
// caller only the low 8 bits (1603 arrives as 67).
//   exitcode PROGRAM [ARGUMENTS...]    (the rest of the command line, as it stands)
//   exitcode @FILE                     (the command line as FILE holds it, UTF-8: quotes as typed)
#include <windows.h>

#include <cstdio>
#include <string>

int main() {
  // Past our own name, quoted or not, and the blanks after it.
  LPWSTR line = GetCommandLineW();
  if (*line == L'"') {
    for (++line; *line && *line != L'"'; ++line) {}
    if (*line) ++line;
  } else {
    while (*line && *line != L' ' && *line != L'\t') ++line;
  }
  while (*line == L' ' || *line == L'\t') ++line;
  if (!*line) {
    std::fprintf(stderr, "usage: exitcode PROGRAM [ARGUMENTS...]\n");
    return 2;
  }
  std::wstring fromFile;
  if (*line == L'@') {
    HANDLE f = CreateFileW(line + 1, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    char buffer[4096];
    DWORD got = 0;
    if (f == INVALID_HANDLE_VALUE || !ReadFile(f, buffer, sizeof buffer, &got, nullptr)) {
      std::fprintf(stderr, "exitcode: cannot read %ls\n", line + 1);
      return 2;
    }
    CloseHandle(f);
    while (got > 0 && (buffer[got - 1] == '\n' || buffer[got - 1] == '\r')) --got;
    fromFile.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, buffer, static_cast<int>(got), nullptr, 0)));
    MultiByteToWideChar(CP_UTF8, 0, buffer, static_cast<int>(got), fromFile.data(), static_cast<int>(fromFile.size()));
    line = fromFile.data();
  }
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    std::printf("not started: error %lu\n", GetLastError());
    return 2;
  }
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  std::printf("%lu\n", code);
  std::fflush(stdout);
  return code == 0 ? 0 : 1;
}
