#include "wizard/win32/WinUi.h"

#include <commctrl.h>

#include "system/SysKernel.h"

namespace winui {
namespace {
bool gQuit = false;
bool (*gFilter)(const MSG&) = nullptr;
int gQuitCode = 0;
}  // namespace

int SystemDpi() {
  int dpi = 0;
  if (HDC screen = GetDC(nullptr)) {
    dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
  }
  return dpi > 0 ? dpi : TLayoutScale::kDesignDpi;
}

HFONT UiFont(int height, bool bold, bool underline) {
  // A window uses four kinds; the window tests make windows at several densities.
  struct TKind {
    int Height;
    bool Bold, Underline;
    HFONT Font;
  };
  static TKind kinds[24];
  static size_t count = 0;
  for (size_t i = 0; i < count; ++i)
    if (kinds[i].Height == height && kinds[i].Bold == bold && kinds[i].Underline == underline) return kinds[i].Font;
  HFONT font = CreateFontA(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, underline, FALSE, GB2312_CHARSET,
                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "宋体");
  if (count < sizeof kinds / sizeof kinds[0]) kinds[count++] = {height, bold, underline, font};
  return font;
}

SIZE TextSize(HFONT font, const AnsiString& text, int wrapWidth) {
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font);
  RECT r{0, 0, wrapWidth > 0 ? wrapWidth : 0, 0};
  const UINT flags = DT_CALCRECT | DT_LEFT | (wrapWidth > 0 ? DT_WORDBREAK : DT_SINGLELINE);
  if (!text.empty()) DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &r, flags);
  SelectObject(dc, old);
  DeleteDC(dc);
  return SIZE{r.right - r.left, r.bottom - r.top};
}

void InitControls() {
  static bool done = false;
  if (done) return;
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_PROGRESS_CLASS | ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&icc);
  done = true;
}

RECT CentredWindowRect(int clientWidth, int clientHeight, DWORD style, DWORD exStyle) {
  RECT r{0, 0, clientWidth, clientHeight};
  AdjustWindowRectEx(&r, style, FALSE, exStyle);
  const int w = r.right - r.left, h = r.bottom - r.top;
  RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  const int x = work.left + ((work.right - work.left) - w) / 2;
  const int y = work.top + ((work.bottom - work.top) - h) / 2;
  return RECT{x, y, x + w, y + h};
}

void PumpPending() {
  MSG msg;
  while (!gQuit && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      gQuit = true;
      gQuitCode = static_cast<int>(msg.wParam);
      SetApplicationTerminated(true);
      break;
    }
    if (FilterMessage(msg)) continue;
    HWND top = GetAncestor(msg.hwnd, GA_ROOT);
    if (top && IsDialogMessageA(top, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

void PumpPaced() {
  static ULONGLONG last = 0;
  const ULONGLONG now = GetTickCount64();
  if (last != 0 && now - last < 10) return;
  last = now;
  PumpPending();
}

bool QuitReceived() { return gQuit; }
void SetMessageFilter(bool (*filter)(const MSG& msg)) { gFilter = filter; }
bool FilterMessage(const MSG& msg) { return gFilter && gFilter(msg); }
int QuitCode() { return gQuitCode; }

void RegisterWindowClass(const char* name, WNDPROC proc, bool withIcon) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = proc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  if (withIcon) wc.hIcon = LoadIconA(wc.hInstance, "MAINICON");
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = name;
  RegisterClassA(&wc);
}

void* WindowObject(HWND hwnd, UINT msg, LPARAM lp) {
  if (msg == WM_NCCREATE)
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(lp)->lpCreateParams));
  return reinterpret_cast<void*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
}

void TBarFeed::Show(HWND bar, int32_t position, int32_t max) {
  if (max != FMax) {
    FMax = max;
    FPixel = -1;
    SendMessageA(bar, PBM_SETRANGE32, 0, max);
  }
  RECT r{};
  GetClientRect(bar, &r);
  const int64_t width = r.right - r.left;
  const int64_t pixel = max <= 0 || position <= 0 ? 0 : position >= max ? width : int64_t{position} * width / max;
  const bool end = position >= max;
  if (pixel == FPixel && !end) return;
  const ULONGLONG now = GetTickCount64();
  if (!end && FPixel >= 0 && now - FSentAt < 20) return;
  FPixel = pixel;
  FSentAt = now;
  SendMessageA(bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

HWND MakeControl(HWND parent, const char* cls, const AnsiString& text, DWORD style, const TScaledRect& r, HFONT font) {
  HWND hwnd = CreateWindowExA(0, cls, text.c_str(), WS_CHILD | style, r.X, r.Y, r.W, r.H, parent, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
  SendMessageA(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return hwnd;
}
}  // namespace winui
