#pragma once
// Helpers shared by the wizard's Win32 windows.
#include <windows.h>

#include "core/Types.h"
#include "wizard/LayoutScale.h"

namespace winui {
// The system's density in pixels an inch, which a DPI-aware program draws at (96 is 100 %).
int SystemDpi();
// The user interface font "宋体" of that height (negative: the character height, as in the
// layout), bold or underlined (links); made once for each kind and kept.
HFONT UiFont(int height = -12, bool bold = false, bool underline = false);
// Size of text drawn with font: one line when wrapWidth is 0, else wrapped to that width.
// & marks an accelerator and takes no room, as in a label.
SIZE TextSize(HFONT font, const AnsiString& text, int wrapWidth);
// Registers the common controls used (progress bars, list views) once.
void InitControls();
// Outer size for a client area of the given size and style; the window's top-left so it is
// centred on the desktop's work area.
RECT CentredWindowRect(int clientWidth, int clientHeight, DWORD style, DWORD exStyle);
// The message pump behind ProcessMessages(): handles everything pending. A WM_QUIT marks
// the application terminated and ends every loop.
void PumpPending();
// PumpPending, but at most once every 10 ms. The release and the installation report every
// file and let messages through after each report; under Wine each look at the queue is a
// round trip to the server (about 0.2 ms), more than writing a small file. A hundred looks
// a second still repaint the window and take the user's input without a delay one can see.
void PumpPaced();
bool QuitReceived();
// Looks at each message before the dialog manager does; true means it was handled. The
// wizard takes Alt+letter for its buttons first, since its labels show the same letters.
void SetMessageFilter(bool (*filter)(const MSG& msg));
bool FilterMessage(const MSG& msg);
int QuitCode();
// Registers a Unicode window class with the arrow cursor and the dialog colour; top-level classes
// also carry the program's icon (MAINICON, which the builder replaces).
void RegisterWindowClass(const wchar_t* name, WNDPROC proc, bool withIcon);
// The object a window was created for (its creation parameter), kept in the window's user
// data from WM_NCCREATE on; null for the messages that come before.
void* WindowObject(HWND hwnd, UINT msg, LPARAM lp);
// Sends a progress bar the reports worth drawing. Each position it is sent repaints it at
// once (about 1.4 ms under Wine) and a new range repaints all of it, while a release or an
// installation reports every file: so the range goes out only when it changes, and a
// position only when it moves the bar by a pixel, no sooner than 20 ms after the last one,
// except the end, which is always shown.
class TBarFeed {
public:
  void Show(HWND bar, int32_t position, int32_t max);

private:
  int32_t FMax = -1;
  int64_t FPixel = -1;
  ULONGLONG FSentAt = 0;
};
// A child control with that font.
HWND MakeControl(HWND parent, const wchar_t* cls, const AnsiString& text, DWORD style, const TScaledRect& r, HFONT font);
}  // namespace winui
