#include "wizard/win32/SetupWindow.h"

#include <windows.h>
#include <commctrl.h>

#include <map>
#include <vector>

#include "system/SysKernel.h"
#include "wizard/win32/ReleasePlanWindow.h"
#include "wizard/win32/WinUi.h"

namespace {
const char* const kClassName = "TFrm_Setup";
const char* const kPageClassName = "TFrm_Setup.Page";
enum { IdPrevious = 101, IdNext, IdCancel };
constexpr UINT_PTR kMemoTimer = 1;
constexpr ULONGLONG kMemoInterval = 50;  // ms between two pictures of the detail lines

class TSetupWindow : public ISetupView {
public:
  explicit TSetupWindow(TFrm_Setup& form) : FForm(form) {}

  int Run() {
    Register();
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    RECT r = winui::CentredWindowRect(TFrm_Setup::kClientWidth, TFrm_Setup::kClientHeight, style, 0);
    FHwnd = CreateWindowExA(0, kClassName, FForm.Form.Caption.c_str(), style, r.left, r.top, r.right - r.left,
                            r.bottom - r.top, nullptr, nullptr, GetModuleHandleA(nullptr), this);
    if (FHwnd) CreateControls();
    FForm.SetView(this);
    SetProcessMessagesHandler(winui::PumpPaced);
    // The window appears only when a page is to be seen: a silent setup shows the unpack dialog alone.
    FForm.FormShow();
    MSG msg;
    while (!FForm.Closed() && !winui::QuitReceived() && GetMessageA(&msg, nullptr, 0, 0) > 0) {
      if (FHwnd && IsDialogMessageA(FHwnd, &msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    FForm.SetView(nullptr);
    SetProcessMessagesHandler(nullptr);
    if (FHwnd) ::DestroyWindow(FHwnd);
    FHwnd = nullptr;
    return FForm.Failed() ? 1 : 0;
  }

  // ISetupView
  void ControlChanged(const TControl& c) override {
    if (&c == &FForm.Form) {
      if (FHwnd) SetWindowTextA(FHwnd, c.Caption.c_str());
      return;
    }
    auto it = FControls.find(&c);
    if (it == FControls.end()) return;
    HWND h = it->second;
    if (&c == &FForm.ProgressBar1) {
      // One report per installed file: only those that change the picture reach the bar.
      FBarFeed.Show(h, c.Position, c.Max);
    } else if (&c == &FForm.Label31) {
      // The percentage changes a hundred times in a run of any length.
      if (c.Caption != FPercentText) {
        FPercentText = c.Caption;
        SetWindowTextA(h, c.Caption.c_str());
      }
    } else if (&c == &FForm.Label30 && FHwnd && !IsWindowVisible(FHwnd)) {
      // A silent setup reports every file to a window that never appears, and each text
      // costs a round trip to the Wine server: it is sent when the window is shown.
      FStepTextPending = true;
    } else if (&c != &FForm.mInstall) {  // the memo's lines arrive through LineAdded
      SetWindowTextA(h, c.Caption.c_str());
    }
    // Only real changes: each call costs a round of messages under Wine.
    const bool shown = (GetWindowLongA(h, GWL_STYLE) & WS_VISIBLE) != 0;  // its own flag, whatever the page's
    if (shown != c.Visible) ShowWindow(h, c.Visible ? SW_SHOWNA : SW_HIDE);
    if (!IsWindowEnabled(h) != !c.Enabled) EnableWindow(h, c.Enabled);
  }

  void LineAdded(const TControl& memo, const AnsiString& line) override {
    auto it = FControls.find(&memo);
    if (it == FControls.end()) return;
    // Each line goes in with drawing off; the list is shown, scrolled to its newest line,
    // at most every kMemoInterval and once more that long after the last line. Scrolling
    // and repainting it for each line would cost more than installing a small file.
    HWND h = it->second;
    if (!FMemoPending) SendMessageA(h, WM_SETREDRAW, FALSE, 0);
    FMemoPending = true;
    SendMessageA(h, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
    if (GetTickCount64() - FMemoShownAt >= kMemoInterval) {
      ShowMemoLines();
    } else if (!FMemoTimer) {
      FMemoTimer = SetTimer(FHwnd, kMemoTimer, static_cast<UINT>(kMemoInterval), nullptr) != 0;
    }
  }

  void ShowMemoLines() {
    if (FMemoTimer) KillTimer(FHwnd, kMemoTimer);
    FMemoTimer = false;
    if (!FMemoPending) return;
    FMemoPending = false;
    HWND h = FControls[&FForm.mInstall];
    const LRESULT count = SendMessageA(h, LB_GETCOUNT, 0, 0);
    if (count > 0) SendMessageA(h, LB_SETTOPINDEX, static_cast<WPARAM>(count - 1), 0);
    SendMessageA(h, WM_SETREDRAW, TRUE, 0);
    RedrawWindow(h, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME);
    FMemoShownAt = GetTickCount64();
  }

  void PageChanged(int index) override {
    for (size_t i = 0; i < FPages.size(); ++i) ShowWindow(FPages[i], static_cast<int>(i) == index ? SW_SHOWNA : SW_HIDE);
    // A silent setup moves to the finish page too, but its window never appears.
    if (FHwnd && !IsWindowVisible(FHwnd) && !FForm.IsSilentInstall()) {
      ShowWindow(FHwnd, SW_SHOWNORMAL);
      if (FStepTextPending) {
        FStepTextPending = false;
        ControlChanged(FForm.Label30);
      }
      UpdateWindow(FHwnd);
    }
  }

  void RowsChanged(const char*) override {}
  void ShowReleaseDialog(TFrm_ReleasePlan& dialog) override { ShowReleasePlanModal(dialog); }

  void DestroyWindow() override {
    // A close granted during the installation only ends the loop; the call runs to its end.
    if (FHwnd) ShowWindow(FHwnd, SW_HIDE);
    PostQuitMessage(0);
  }

  bool HasInteractivePages() const override { return false; }

private:
  static void Register() {
    static bool done = false;
    if (done) return;
    winui::InitControls();
    winui::RegisterWindowClass(kClassName, WndProc, true);
    winui::RegisterWindowClass(kPageClassName, PageProc, false);
    done = true;
  }

  HWND Add(const TControl& c, HWND parent, const char* cls, DWORD style, int x, int y, int w, int h, int id = 0,
           DWORD exStyle = 0) {
    HWND hwnd = winui::MakeControl(parent, cls, c.Caption, style | (c.Visible ? WS_VISIBLE : 0), x, y, w, h, id, exStyle);
    FControls[&c] = hwnd;
    return hwnd;
  }

  // The notebook is a stack of panels; each page keeps the layout of its controls so that
  // the pages can be filled in without moving anything.
  void CreateControls() {
    for (int i = 0; i < TFrm_Setup::kPageCount; ++i)
      FPages.push_back(CreateWindowExA(WS_EX_CONTROLPARENT, kPageClassName, TFrm_Setup::PageCaptions[static_cast<size_t>(i)],
                                       WS_CHILD | WS_CLIPSIBLINGS | (i == 0 ? WS_VISIBLE : 0), 0, 0, TFrm_Setup::kClientWidth,
                                       289, FHwnd, nullptr, GetModuleHandleA(nullptr), nullptr));
    HWND p0 = FPages[0];
    SendMessageA(Add(FForm.LB_Head, p0, "STATIC", 0, 167, 17, 330, 54), WM_SETFONT,
                 reinterpret_cast<WPARAM>(winui::BoldFont(-16)), FALSE);
    Add(FForm.LB_WelInfo, p0, "STATIC", 0, 167, 77, 330, 28);
    HWND p7 = FPages[7];
    SendMessageA(winui::MakeControl(p7, "STATIC", LayoutCaption("Label28"), WS_VISIBLE, 16, 15, 400, 14), WM_SETFONT,
                 reinterpret_cast<WPARAM>(winui::BoldFont(-12)), FALSE);
    winui::MakeControl(p7, "STATIC", "安装过程中，请不要强制退出安装向导。否则会导致文件安装不完整", WS_VISIBLE, 45, 34, 440, 14);
    Add(FForm.Label30, p7, "STATIC", SS_LEFTNOWORDWRAP | SS_PATHELLIPSIS, 24, 89, 398, 14);
    Add(FForm.Label31, p7, "STATIC", 0, 452, 90, 40, 14);
    Add(FForm.ProgressBar1, p7, PROGRESS_CLASSA, 0, 24, 111, 446, 19);
    // The details are a list: it takes a line at its end at the same cost however many it
    // holds, where a multi-line edit (under Wine) goes over all its text for each new line.
    Add(FForm.mInstall, p7, "LISTBOX", WS_VSCROLL | LBS_NOINTEGRALHEIGHT | LBS_NOSEL, 23, 136, 447, 142, 0,
        WS_EX_CLIENTEDGE);
    HWND p8 = FPages[8];
    SendMessageA(Add(FForm.Lb_Insted_Prog, p8, "STATIC", 0, 171, 28, 302, 45), WM_SETFONT,
                 reinterpret_cast<WPARAM>(winui::BoldFont(-16)), FALSE);
    // Bevel1 and the three buttons below the notebook.
    winui::MakeControl(FHwnd, "STATIC", "", WS_VISIBLE | SS_ETCHEDHORZ, 0, 289, TFrm_Setup::kClientWidth, 2);
    Add(FForm.bPrevious, FHwnd, "BUTTON", WS_TABSTOP | BS_PUSHBUTTON, 231, 302, 79, 20, IdPrevious);
    Add(FForm.bNext, FHwnd, "BUTTON", WS_TABSTOP | BS_DEFPUSHBUTTON, 315, 302, 79, 20, IdNext);
    Add(FForm.bCancel, FHwnd, "BUTTON", WS_TABSTOP | BS_PUSHBUTTON, 414, 302, 79, 20, IdCancel);
  }

  static LRESULT CALLBACK PageProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_COMMAND || msg == WM_NOTIFY || msg == WM_CTLCOLORSTATIC)
      return SendMessageA(GetParent(hwnd), msg, wp, lp);
    return DefWindowProcA(hwnd, msg, wp, lp);
  }

  static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = static_cast<TSetupWindow*>(winui::WindowObject(hwnd, msg, lp));
    if (!self) return DefWindowProcA(hwnd, msg, wp, lp);
    switch (msg) {
      case WM_CLOSE:
        self->FForm.Close();
        return 0;
      case WM_TIMER:
        if (wp == kMemoTimer) self->ShowMemoLines();
        return 0;
      case WM_COMMAND:
        if (HIWORD(wp) == BN_CLICKED) {
          switch (LOWORD(wp)) {
            case IdPrevious: self->FForm.bPreviousClick(); return 0;
            case IdNext: self->FForm.bNextClick(); return 0;
            case IdCancel:
            case IDCANCEL:
              if (IsWindowEnabled(self->FControls[&self->FForm.bCancel])) self->FForm.bCancelClick();
              return 0;
          }
        }
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
  }

  TFrm_Setup& FForm;
  HWND FHwnd = nullptr;
  std::vector<HWND> FPages;
  std::map<const TControl*, HWND> FControls;
  winui::TBarFeed FBarFeed;
  bool FStepTextPending = false;
  bool FMemoPending = false, FMemoTimer = false;
  ULONGLONG FMemoShownAt = 0;
  AnsiString FPercentText = "\x01";  // no caption: the first one is always sent
};
}  // namespace

int RunSetupWindow(TFrm_Setup& form) {
  TSetupWindow window(form);
  return window.Run();
}
