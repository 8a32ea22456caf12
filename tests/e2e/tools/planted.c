// A DLL planted beside a program under a system library's name: when it is loaded it leaves
// "<its own path>.loaded", holding the path of the program that loaded it (UTF-16), and does
// nothing else. Built without the C runtime, so it runs whatever loads it.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t path[MAX_PATH + 16];
  DWORD n = GetModuleFileNameW(self, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return TRUE;
  lstrcatW(path, L".loaded");
  HANDLE h = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (h == INVALID_HANDLE_VALUE) return TRUE;
  wchar_t host[MAX_PATH];
  DWORD m = GetModuleFileNameW(NULL, host, MAX_PATH);
  DWORD written;
  WriteFile(h, host, m * sizeof(wchar_t), &written, NULL);
  CloseHandle(h);
  return TRUE;
}
