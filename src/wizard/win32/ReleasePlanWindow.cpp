#include "wizard/win32/ReleasePlanWindow.h"

#include <windows.h>
#include <commctrl.h>

#include "system/SysKernel.h"
#include "system/win32/WideText.h"
#include "wizard/win32/WinUi.h"

namespace {
constexpr UINT WM_START_RELEASE = WM_APP + 1;
constexpr UINT_PTR kTimer1 = 1;
const wchar_t* const kClassName = L"TFrm_ReleasePlan";

class TReleasePlanWindow : public IReleasePlanView {
public:
  TReleasePlanWindow(TFrm_ReleasePlan& form, int dpi) : FForm(form), FScale(dpi ? dpi : winui::SystemDpi()) {}

  void Run() {
    Register();
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    const DWORD exStyle = WS_EX_DLGMODALFRAME;
    const TScaledRect client = FScale.Rect(0, 0, TFrm_ReleasePlan::kClientWidth, TFrm_ReleasePlan::kClientHeight);
    RECT r = winui::CentredWindowRect(client.W, client.H, style, exStyle);
    FHwnd = CreateWindowExW(exStyle, kClassName, wintext::W(FForm.Caption), style, r.left, r.top, r.right - r.left,
                            r.bottom - r.top, nullptr, nullptr, GetModuleHandleW(nullptr), this);
    if (!FHwnd) {
      // No window: the release still has to run, without a picture of its progress.
      FForm.FormShow();
      return;
    }
    HFONT font = winui::UiFont(FScale.Font(-12));
    FLabel = winui::MakeControl(FHwnd, L"STATIC", FForm.Label1.Caption, WS_VISIBLE | SS_LEFT, FScale.Rect(15, 25, 357, 14), font);
    FBar = winui::MakeControl(FHwnd, PROGRESS_CLASSW, "", WS_VISIBLE, FScale.Rect(15, 51, 357, 19), font);
    FForm.SetView(this);
    SetTimer(FHwnd, kTimer1, TFrm_ReleasePlan::kTimerInterval, nullptr);
    ShowWindow(FHwnd, SW_SHOWNORMAL);
    UpdateWindow(FHwnd);
    PostMessageW(FHwnd, WM_START_RELEASE, 0, 0);
    MSG msg;
    while (!FClosed && !winui::QuitReceived()) {
      BOOL got = GetMessageW(&msg, nullptr, 0, 0);
      if (got == 0) {
        PostQuitMessage(static_cast<int>(msg.wParam));  // for the caller's loop
        break;
      }
      if (got < 0) break;
      if (IsDialogMessageW(FHwnd, &msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    FForm.SetView(nullptr);
    KillTimer(FHwnd, kTimer1);
    DestroyWindow(FHwnd);
    FHwnd = nullptr;
  }

  void ProgressChanged(const TControl& bar) override {
    // One report per entry of the package: only those that change the picture reach the bar.
    FBarFeed.Show(FBar, bar.Position, bar.Max);
    ProcessMessages();
  }

  void CaptionChanged(const TControl& label) override { wintext::SetText(FLabel, label.Caption); }

  void CloseDialog() override { PostMessageW(FHwnd, WM_CLOSE, 0, 0); }

private:
  static void Register() {
    static bool done = false;
    if (done) return;
    winui::RegisterWindowClass(kClassName, WndProc, true);
    done = true;
  }

  static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = static_cast<TReleasePlanWindow*>(winui::WindowObject(hwnd, msg, lp));
    if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
    switch (msg) {
      case WM_START_RELEASE:
        if (!self->FStarted) {
          self->FStarted = true;
          self->FForm.FormShow();
        }
        return 0;
      case WM_TIMER:
        if (wp == kTimer1) self->FForm.Timer1Timer();
        return 0;
      case WM_CLOSE:
        // Refused silently until the release is done.
        if (self->FForm.FormCloseQuery()) {
          self->FClosed = true;
          ShowWindow(hwnd, SW_HIDE);
        }
        return 0;
      case WM_COMMAND:
        return 0;  // Esc and Enter do nothing here
      case WM_CTLCOLORSTATIC:
        SetTextColor(reinterpret_cast<HDC>(wp), RGB(0, 0, 0));
        SetBkMode(reinterpret_cast<HDC>(wp), TRANSPARENT);
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
  }

  TFrm_ReleasePlan& FForm;
  const TLayoutScale FScale;
  HWND FHwnd = nullptr;
  HWND FBar = nullptr;
  HWND FLabel = nullptr;
  winui::TBarFeed FBarFeed;
  bool FClosed = false;
  bool FStarted = false;
};
}  // namespace

void ShowReleasePlanModal(TFrm_ReleasePlan& dialog, int dpi) {
  winui::InitControls();
  TReleasePlanWindow window(dialog, dpi);
  window.Run();
}
