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
  const int n = static_cast<int>(got);
  const int m = WideCharToMultiByte(CP_UTF8, 0, buf, n, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(m), '\0');
  WideCharToMultiByte(CP_UTF8, 0, buf, n, out.data(), m, nullptr, nullptr);
  return out;
}

// A window that does not answer within two seconds counts as empty.
LRESULT Ask(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(h, msg, wp, lp, SMTO_ABORTIFHUNG, 2000, &result)) return -1;
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
      std::string u(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, row, static_cast<int>(len), nullptr, 0, nullptr, nullptr)), '\0');
      WideCharToMultiByte(CP_UTF8, 0, row, static_cast<int>(len), u.data(), static_cast<int>(u.size()), nullptr, nullptr);
      out += (i ? "|" : "") + Flat(u);
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
    const LONG style = GetWindowLongA(h, GWL_STYLE);
    out += std::string(" readonly=") + ((style & ES_READONLY) ? "1" : "0");
  }
  return out;
}

void Print(HWND h, int depth) {
  char cls[128] = {};
  GetClassNameA(h, cls, sizeof cls);
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
  std::printf("%d|%s|%s|vis=%d|en=%d|rect=%ld,%ld,%ld,%ld|id=%d%s\n", depth, cls, text.c_str(),
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

const char* gClass = nullptr;

BOOL CALLBACK TopProc(HWND h, LPARAM) {
  if (!IsWindowVisible(h)) return TRUE;
  char cls[128] = {};
  GetClassNameA(h, cls, sizeof cls);
  if (gClass && lstrcmpiA(cls, gClass) != 0) return TRUE;
  Print(h, 0);
  TWalk walk{h, {}};
  EnumChildWindows(h, ChildProc, reinterpret_cast<LPARAM>(&walk));
  for (HWND c : walk.Children) Print(c, Depth(c, h));
  return TRUE;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--dpi") {
    HDC screen = GetDC(nullptr);
    std::printf("%d\n", GetDeviceCaps(screen, LOGPIXELSY));
    ReleaseDC(nullptr, screen);
    return 0;
  }
  if (argc > 1) gClass = argv[1];
  EnumWindows(TopProc, 0);
  return 0;
}
