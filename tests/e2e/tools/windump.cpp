// Prints the visible top-level windows of the Wine session and their child windows, one line
// each, in UTF-8, so that a test script driving a program with xdotool can read what a person
// would see: class, text, visibility, enabled state, screen rectangle and, for lists, rows and
// check boxes; for a top-level window its client area on the screen (client=x,y,w,h).
//   windump            every visible top-level window
//   windump CLASS      only top-level windows of that class
//   windump --dpi      the system's pixels an inch
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "system/win32/WideText.h"

namespace {
// Line breaks and the separator stay on one line.
std::string Flat(std::string s) {
  std::string out;
  for (char c : s) {
    if (c == '\r') continue;
    if (c == '\n') out += "\\n";
    else if (c == '|') out += "\\|";
    else out += c;
  }
  return out;
}

// Asked in UTF-16, which is how the window keeps its text: no code page in between.
std::string TextOf(HWND h) {
  static wchar_t buf[1 << 15];
  buf[0] = 0;
  // Sent, not read from the window's caption: an edit keeps its text to itself.
  DWORD_PTR got = 0;
  if (!SendMessageTimeoutW(h, WM_GETTEXT, sizeof buf / sizeof buf[0], reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 2000,
                           &got) ||
      got == 0 || got >= sizeof buf / sizeof buf[0])
    return "";
  return wintext::Utf8(std::wstring(buf, got));
}

// A window that does not answer within two seconds counts as empty.
LRESULT Ask(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(h, msg, wp, lp, SMTO_ABORTIFHUNG, 2000, &result)) return -1;
  return static_cast<LRESULT>(result);
}

std::string Extra(HWND h, const std::string& cls) {
  std::string out;
  if (cls == "ListBox") {
    const LRESULT n = Ask(h, LB_GETCOUNT, 0, 0);
    out += " items=";
    for (LRESULT i = 0; i < n && i < 200; ++i) {
      // The row comes back as UTF-16 however it is asked for; a roomy buffer either way.
      static wchar_t row[1 << 14];
      row[0] = 0;
      DWORD_PTR len = 0;
      if (!SendMessageTimeoutW(h, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(row), SMTO_ABORTIFHUNG, 2000,
                               &len) ||
          static_cast<LRESULT>(len) < 0 || len >= sizeof row / sizeof row[0])
        len = 0;
      out += (i ? "|" : "") + Flat(wintext::Utf8(std::wstring(row, len)));
    }
    out += " count=" + std::to_string(n);
  } else if (cls == "SysListView32") {
    const LRESULT n = Ask(h, LVM_GETITEMCOUNT, 0, 0);
    out += " checks=";
    for (LRESULT i = 0; i < n && i < 200; ++i) {
      const LRESULT state = Ask(h, LVM_GETITEMSTATE, static_cast<WPARAM>(i), LVIS_STATEIMAGEMASK);
      out += (i ? "," : "") + std::to_string(((state & LVIS_STATEIMAGEMASK) >> 12) == 2 ? 1 : 0);
    }
    out += " count=" + std::to_string(n);
  } else if (cls == "Edit") {
    const LONG style = GetWindowLongW(h, GWL_STYLE);
    out += std::string(" readonly=") + ((style & ES_READONLY) ? "1" : "0");
  }
  return out;
}

// Class names are ASCII, but asked for in UTF-16 as every text.
std::string ClassOf(HWND h) {
  wchar_t cls[128] = {};
  const int n = GetClassNameW(h, cls, 128);
  return wintext::Utf8(std::wstring(cls, n > 0 ? static_cast<size_t>(n) : 0));
}

void Print(HWND h, int depth) {
  const std::string cls = ClassOf(h);
  RECT r{};
  GetWindowRect(h, &r);
  const std::string text = Flat(TextOf(h));
  std::string extra = Extra(h, cls);
  if (depth == 0) {
    RECT c{};
    GetClientRect(h, &c);
    POINT at{0, 0};
    ClientToScreen(h, &at);
    extra += " client=" + std::to_string(at.x) + "," + std::to_string(at.y) + "," + std::to_string(c.right) + "," +
             std::to_string(c.bottom);
  }
  std::printf("%d|%s|%s|vis=%d|en=%d|rect=%ld,%ld,%ld,%ld|id=%d%s\n", depth, cls.c_str(), text.c_str(),
              IsWindowVisible(h) ? 1 : 0, IsWindowEnabled(h) ? 1 : 0, r.left, r.top, r.right - r.left, r.bottom - r.top,
              GetDlgCtrlID(h), extra.c_str());
  std::fflush(stdout);
}

struct TWalk {
  HWND Top;
  std::vector<HWND> Children;
};

BOOL CALLBACK ChildProc(HWND h, LPARAM lp) {
  reinterpret_cast<TWalk*>(lp)->Children.push_back(h);
  return TRUE;
}

int Depth(HWND h, HWND top) {
  int d = 0;
  for (HWND p = h; p && p != top; p = GetParent(p)) ++d;
  return d;
}

std::string gClass;  // empty: every class

BOOL CALLBACK TopProc(HWND h, LPARAM) {
  if (!IsWindowVisible(h)) return TRUE;
  if (!gClass.empty() && CompareStringOrdinal(wintext::FromUtf8(ClassOf(h)).c_str(), -1, wintext::FromUtf8(gClass).c_str(),
                                               -1, TRUE) != CSTR_EQUAL)
    return TRUE;
  Print(h, 0);
  TWalk walk{h, {}};
  EnumChildWindows(h, ChildProc, reinterpret_cast<LPARAM>(&walk));
  for (HWND c : walk.Children) Print(c, Depth(c, h));
  return TRUE;
}
}  // namespace

int main() {
  const std::vector<std::string> args = wintext::ArgumentsUtf8();
  if (!args.empty() && args[0] == "--dpi") {
    HDC screen = GetDC(nullptr);
    std::printf("%d\n", GetDeviceCaps(screen, LOGPIXELSY));
    ReleaseDC(nullptr, screen);
    return 0;
  }
  if (!args.empty()) gClass = args[0];
  EnumWindows(TopProc, 0);
  return 0;
}
