#pragma once
// Helpers shared by the wizard's Win32 windows.
#include <windows.h>

#include "core/Types.h"

namespace winui {
// The user interface font: "宋体", height -12.
HFONT UiFont();
HFONT BoldFont(int height);
// Registers the common controls used (progress bars, list views) once.
void InitControls();
// Outer size for a client area of the given size and style; the window's top-left so it is
// centred on the desktop's work area.
RECT CentredWindowRect(int clientWidth, int clientHeight, DWORD style, DWORD exStyle);
// The message pump behind ProcessMessages(): handles everything pending. A WM_QUIT marks
// the application terminated and ends every loop.
void PumpPending();
bool QuitReceived();
int QuitCode();
// Registers a window class with the arrow cursor and the dialog colour; top-level classes
// also carry the program's icon (MAINICON, which the builder replaces).
void RegisterWindowClass(const char* name, WNDPROC proc, bool withIcon);
// The object a window was created for (its creation parameter), kept in the window's user
// data from WM_NCCREATE on; null for the messages that come before.
void* WindowObject(HWND hwnd, UINT msg, LPARAM lp);
// A child control with the UI font.
HWND MakeControl(HWND parent, const char* cls, const AnsiString& text, DWORD style, int x, int y, int w, int h,
                 int id = 0, DWORD exStyle = 0);
}  // namespace winui
