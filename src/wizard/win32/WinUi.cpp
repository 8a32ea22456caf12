#include "wizard/win32/WinUi.h"

#include <commctrl.h>

#include "system/SysKernel.h"
#include "system/win32/WideText.h"

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
  // 宋体 by name; GB2312_CHARSET lets the font mapper take another Chinese face where the
  // machine lacks it, and the system's font linking fills in what a face does not hold.
  HFONT font = CreateFontW(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, underline, FALSE, GB2312_CHARSET,
                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                           wintext::W("宋体"));
  if (count < sizeof kinds / sizeof kinds[0]) kinds[count++] = {height, bold, underline, font};
  return font;
}

SIZE TextSize(HFONT font, const AnsiString& text, int wrapWidth) {
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font);
  RECT r{0, 0, wrapWidth > 0 ? wrapWidth : 0, 0};
  const UINT flags = DT_CALCRECT | DT_LEFT | (wrapWidth > 0 ? DT_WORDBREAK : DT_SINGLELINE);
  if (!text.empty()) {
    const std::wstring w = wintext::Wide(text);
    DrawTextW(dc, w.c_str(), static_cast<int>(w.size()), &r, flags);
  }
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
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int x = work.left + ((work.right - work.left) - w) / 2;
  const int y = work.top + ((work.bottom - work.top) - h) / 2;
  return RECT{x, y, x + w, y + h};
}

void PumpPending() {
  MSG msg;
  while (!gQuit && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      gQuit = true;
      gQuitCode = static_cast<int>(msg.wParam);
      SetApplicationTerminated(true);
      break;
    }
    if (FilterMessage(msg)) continue;
    HWND top = GetAncestor(msg.hwnd, GA_ROOT);
    if (top && IsDialogMessageW(top, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
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

void RegisterWindowClass(const wchar_t* name, WNDPROC proc, bool withIcon) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  if (withIcon) wc.hIcon = LoadIconW(wc.hInstance, L"MAINICON");
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = name;
  RegisterClassW(&wc);
}

void* WindowObject(HWND hwnd, UINT msg, LPARAM lp) {
  if (msg == WM_NCCREATE)
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams));
  return reinterpret_cast<void*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

void TBarFeed::Show(HWND bar, int32_t position, int32_t max) {
  if (max != FMax) {
    FMax = max;
    FPixel = -1;
    SendMessageW(bar, PBM_SETRANGE32, 0, max);
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
  SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

HWND MakeControl(HWND parent, const wchar_t* cls, const AnsiString& text, DWORD style, const TScaledRect& r, HFONT font) {
  HWND hwnd = CreateWindowExW(0, cls, wintext::W(text), WS_CHILD | style, r.X, r.Y, r.W, r.H, parent, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
  SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return hwnd;
}
}  // namespace winui
