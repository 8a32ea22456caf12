// Runs a program, waits for it and prints its whole exit code in decimal: Wine hands a Linux
// caller only the low 8 bits (1603 arrives as 67).
//   exitcode PROGRAM [ARGUMENTS...]    (the rest of the command line, as it stands)
#include <windows.h>

#include <cstdio>

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
