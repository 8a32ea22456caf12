/* The example application: a window-less program that greets and exits. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  (void)instance;
  (void)previous;
  (void)show;
  /* "/quiet" lets scripts start it without a box. */
  if (lstrcmpiA(commandLine, "/quiet") != 0)
    MessageBoxA(NULL, "你好！这是示例程序。", "Hello 示例", MB_OK | MB_ICONINFORMATION);
  return 0;
}
