// The control of the planted-DLL test: a program that restricts nothing and loads each named
// library by its bare name, as a careless program would. Exit code: how many did not load.
#include <windows.h>
#include <shellapi.h>

int WINAPI wWinMain(HINSTANCE self, HINSTANCE prev, LPWSTR line, int show) {
  (void)self; (void)prev; (void)show;
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  int missing = 0;
  for (int i = 1; argv && i < argc; ++i)
    if (!LoadLibraryW(argv[i])) ++missing;
  (void)line;
  return missing;
}
