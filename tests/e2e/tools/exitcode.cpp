// Runs a program, waits for it and prints its whole exit code in decimal: Wine hands a Linux
// caller only the low 8 bits (1603 arrives as 67).
//   exitcode PROGRAM [ARGUMENTS...]    (the rest of the command line, as it stands)
//   exitcode @FILE                     (the command line as FILE holds it, UTF-8: quotes as typed)
//   exitcode --limited ...             (started with the caller's limited token, as a user's
//                                       program runs under user account control)
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
  bool limited = false;
  if (wcsncmp(line, L"--limited ", 10) == 0) {
    limited = true;
    for (line += 10; *line == L' '; ++line) {}
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
  HANDLE token = nullptr;
  if (limited) {
    // The elevated token's linked one is the same user's without the administrators' rights.
    HANDLE self = nullptr;
    TOKEN_LINKED_TOKEN linked{};
    DWORD size = 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &self) ||
        !GetTokenInformation(self, TokenLinkedToken, &linked, sizeof linked, &size) ||
        !DuplicateTokenEx(linked.LinkedToken, MAXIMUM_ALLOWED, nullptr, SecurityImpersonation, TokenPrimary, &token)) {
      std::printf("no limited token: error %lu\n", GetLastError());
      return 2;
    }
  }
  const BOOL started = token ? CreateProcessAsUserW(token, nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)
                             : CreateProcessW(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
  if (!started) {
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
