// Prints the owner and access list of a file or folder as SDDL (one line), or "error N".
//   sddl PATH
//   sddl --mkdir SDDL PATH    makes the folder with that descriptor first (does Wine keep it?)
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shellapi.h>

#include <cstdio>

int main() {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  const bool make = argv && argc == 4 && lstrcmpW(argv[1], L"--mkdir") == 0;
  if (!argv || (argc != 2 && !make)) {
    std::fprintf(stderr, "usage: sddl [--mkdir SDDL] PATH\n");
    return 2;
  }
  LPCWSTR path = argv[argc - 1];
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (make) {
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(argv[2], SDDL_REVISION_1, &sd, nullptr)) {
      std::printf("error %lu\n", GetLastError());
      return 1;
    }
    SECURITY_ATTRIBUTES sa{sizeof sa, sd, FALSE};
    if (!CreateDirectoryW(path, &sa)) {
      std::printf("error %lu\n", GetLastError());
      return 1;
    }
    LocalFree(sd);
    sd = nullptr;
  }
  const SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  DWORD error = GetNamedSecurityInfoW(path, SE_FILE_OBJECT, what, nullptr, nullptr, nullptr, nullptr, &sd);
  if (error != ERROR_SUCCESS) {
    std::printf("error %lu\n", error);
    return 1;
  }
  LPWSTR text = nullptr;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(sd, SDDL_REVISION_1, what, &text, nullptr)) {
    std::printf("error %lu\n", GetLastError());
    return 1;
  }
  for (LPWSTR c = text; *c; ++c) std::putchar(*c < 128 ? char(*c) : '?');  // SDDL is ASCII
  std::putchar('\n');
  LocalFree(text);
  LocalFree(sd);
  return 0;
}
