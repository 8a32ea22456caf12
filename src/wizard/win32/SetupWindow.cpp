#include "wizard/win32/SetupWindow.h"

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "system/SysKernel.h"
#include "system/win32/WideText.h"
#include "wizard/LayoutGeometry.h"
#include "wizard/win32/ReleasePlanWindow.h"
#include "wizard/win32/WinUi.h"
#if __has_include("wizard/win32/WinPicture.h")
#include "wizard/win32/WinPicture.h"
#define GB_HAVE_WIN_PICTURE 1
#endif

namespace {
const wchar_t* const kClassName = L"TFrm_Setup";
const wchar_t* const kPageClassName = L"TFrm_Setup.Page";
constexpr UINT_PTR kMemoTimer = 1;
constexpr ULONGLONG kMemoInterval = 50;  // ms between two pictures of the detail lines
constexpr UINT WM_FIX_FOCUS = WM_APP + 1;

using K = TLayoutKind;

// One layout row and what the window made of it.
struct TRowWindow {
  const TLayoutItem* Item = nullptr;
  TControl* Control = nullptr;  // null for fixed labels, frames and pages
  HWND Hwnd = nullptr;          // null for the window row and for pictures (their page paints them)
  HWND Parent = nullptr;
  RECT Box{};                   // in the parent's client area
  HFONT Font = nullptr;
  AnsiString Sent;  // the caption last given to the window
#ifdef GB_HAVE_WIN_PICTURE
  std::unique_ptr<TWinPicture> Picture;
#endif
};

bool HasFlag(const TLayoutItem& item, uint32_t flag) { return (item.Flags & flag) != 0; }

// A multi-line edit wants \r\n between lines; the texts come from files with either.
AnsiString WithCrLf(const AnsiString& text) {
  AnsiString out;
  out.reserve(text.size() + text.size() / 32);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
    out += text[i];
  }
  return out;
}

// The letter after the & of a caption (lower case); 0 when there is none.
char AcceleratorOf(const AnsiString& caption) {
  for (size_t i = 0; i + 1 < caption.size(); ++i) {
    if (static_cast<unsigned char>(caption[i]) >= 0x80) {
      ++i;  // a double-byte character: its trail byte is no ampersand
      continue;
    }
    if (caption[i] == '&') {
      if (caption[i + 1] == '&') {
        ++i;
        continue;
      }
      const char c = caption[i + 1];
      return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
  }
  return 0;
}

class TSetupWindow;
TSetupWindow* gActive = nullptr;  // the window whose buttons take Alt+letter

class TSetupWindow : public ISetupView {
public:
  // dpi 0: the system's.
  TSetupWindow(TFrm_Setup& form, int dpi) : FForm(form), FScale(dpi ? dpi : winui::SystemDpi()), FRows(kLayoutCount) {}
  ~TSetupWindow() override {
    if (gActive == this) {
      gActive = nullptr;
      winui::SetMessageFilter(nullptr);
    }
    if (FMemoTimer && FHwnd) KillTimer(FHwnd, kMemoTimer);
    FForm.SetView(nullptr);
    if (FHwnd) ::DestroyWindow(FHwnd);
  }
  TSetupWindow(const TSetupWindow&) = delete;
  TSetupWindow& operator=(const TSetupWindow&) = delete;

  HWND Handle() const { return FHwnd; }

  // Builds the window and every control, attaches itself to the form; shows nothing.
  void Create() {
    Register();
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    const TScaledRect client = FScale.Rect(0, 0, TFrm_Setup::kClientWidth, TFrm_Setup::kClientHeight);
    RECT r = winui::CentredWindowRect(client.W, client.H, style, 0);
    FHwnd = CreateWindowExW(WS_EX_CONTROLPARENT, kClassName, wintext::W(FForm.Form.Caption), style, r.left, r.top,
                            r.right - r.left, r.bottom - r.top, nullptr, nullptr, GetModuleHandleW(nullptr), this);
    if (FHwnd) CreateControls();
    FForm.SetView(this);
    gActive = this;
    winui::SetMessageFilter(&TSetupWindow::Filter);
  }

  int Run() {
    Create();
    SetProcessMessagesHandler(winui::PumpPaced);
    // The window appears only when a page is to be seen: a silent setup shows the unpack dialog alone.
    FForm.FormShow();
    if (FHwnd && !FForm.Closed() && !IsWindowVisible(FHwnd) && !FForm.IsSilentInstall()) ShowMain();
    MSG msg;
    while (!FForm.Closed() && !winui::QuitReceived() && GetMessageW(&msg, nullptr, 0, 0) > 0) {
      if (winui::FilterMessage(msg)) continue;
      if (FHwnd && IsDialogMessageW(FHwnd, &msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    SetProcessMessagesHandler(nullptr);
    return FForm.ExitCode();
  }

  // ISetupView
  void ControlChanged(const TControl& c) override {
    if (&c == &FForm.Form) {
      if (FHwnd) wintext::SetText(FHwnd, c.Caption);
      return;
    }
    auto it = FByControl.find(&c);
    if (it == FByControl.end()) return;
    TRowWindow& row = FRows[it->second];
    const TLayoutItem& item = *row.Item;
    if (item.Kind == K::Picture) return ShowPicture(row);
    HWND h = row.Hwnd;
    if (!h) return;
    if (&c == &FForm.ProgressBar1) {
      // One report per installed file: only those that change the picture reach the bar.
      FBarFeed.Show(h, c.Position, c.Max);
    } else if (&c == &FForm.Label30 && !IsWindowVisible(FHwnd)) {
      // A silent setup reports every file to a window that never appears, and each text
      // costs a round trip to the Wine server: it is sent when the window is shown.
      FStepTextPending = true;
    } else if (item.Kind == K::Edit) {
      if (WindowText(h) != c.Caption) {
        FEcho = true;  // the logic set it: no EN_CHANGE back into the logic
        wintext::SetText(h, c.Caption);
        FEcho = false;
      }
      const bool readOnly = (GetWindowLongW(h, GWL_STYLE) & ES_READONLY) != 0;
      if (readOnly != c.ReadOnly) SendMessageW(h, EM_SETREADONLY, c.ReadOnly, 0);
    } else if (item.Kind == K::Memo) {
      if (row.Sent != c.Caption) {
        row.Sent = c.Caption;
        wintext::SetText(h, WithCrLf(c.Caption));
      }
    } else if (item.Kind != K::DetailList) {  // the detail lines arrive through LineAdded
      // Only real changes: the percentage alone changes a hundred times in a run, and
      // each text costs a round of messages under Wine.
      if (row.Sent != c.Caption) SetCaption(row, c.Caption);
    }
    const bool shown = (GetWindowLongW(h, GWL_STYLE) & WS_VISIBLE) != 0;  // its own flag, whatever the page's
    bool moved = false;
    if (shown != c.Visible) {
      ShowWindow(h, c.Visible ? SW_SHOWNA : SW_HIDE);
      moved = true;
    }
    if (!IsWindowEnabled(h) != !c.Enabled) {
      EnableWindow(h, c.Enabled);
      moved = true;
    }
    if (moved && item.Kind == K::Button) PostMessageW(FHwnd, WM_FIX_FOCUS, 0, 0);
  }

  void LineAdded(const TControl& memo, const AnsiString& line) override {
    auto it = FByControl.find(&memo);
    if (it == FByControl.end() || !FRows[it->second].Hwnd) return;
    // Each line goes in with drawing off; the list is shown, scrolled to its newest line,
    // at most every kMemoInterval and once more that long after the last line. Scrolling
    // and repainting it for each line would cost more than installing a small file.
    HWND h = FRows[it->second].Hwnd;
    if (!FMemoPending) SendMessageW(h, WM_SETREDRAW, FALSE, 0);
    FMemoPending = true;
    AddListLine(h, line);
    if (GetTickCount64() - FMemoShownAt >= kMemoInterval) {
      ShowMemoLines();
    } else if (!FMemoTimer) {
      FMemoTimer = SetTimer(FHwnd, kMemoTimer, static_cast<UINT>(kMemoInterval), nullptr) != 0;
    }
  }

  void PageChanged(int index) override {
    // The new page first, then the old one away: no frame shows the bare window.
    if (index >= 0 && index < static_cast<int>(FPages.size())) ShowWindow(FPages[static_cast<size_t>(index)], SW_SHOWNA);
    for (size_t i = 0; i < FPages.size(); ++i)
      if (static_cast<int>(i) != index) ShowWindow(FPages[i], SW_HIDE);
    // A silent setup moves to the finish page too, but its window never appears.
    if (FHwnd && !IsWindowVisible(FHwnd) && !FForm.IsSilentInstall()) ShowMain();
    // The buttons change after this call: the focus is put right once they have.
    if (FHwnd) PostMessageW(FHwnd, WM_FIX_FOCUS, 0, 0);
  }

  void RowsChanged(const char* listName) override {
    const size_t index = RowIndex(listName);
    if (index >= FRows.size() || !FRows[index].Hwnd) return;
    if (std::strcmp(listName, "List_SelectShot") == 0) return FillFolderList(FRows[index].Hwnd);
    FillCheckRows(FRows[index]);
  }

  void ShowReleaseDialog(TFrm_ReleasePlan& dialog) override { ShowReleasePlanModal(dialog, FScale.Dpi()); }

  void DestroyWindow() override {
    // A close granted during the installation only ends the loop; the call runs to its end.
    if (FHwnd) ShowWindow(FHwnd, SW_HIDE);
    PostQuitMessage(0);
  }

  bool HasInteractivePages() const override { return FHwnd != nullptr; }

private:
  static void Register() {
    static bool done = false;
    if (done) return;
    winui::InitControls();
    winui::RegisterWindowClass(kClassName, WndProc, true);
    winui::RegisterWindowClass(kPageClassName, PageProc, false);
    done = true;
  }

  static AnsiString WindowText(HWND h) { return wintext::TextOf(h); }

  static void AddListLine(HWND list, const AnsiString& line) {
    const wintext::W text(line);
    SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(static_cast<const wchar_t*>(text)));
  }

  size_t RowIndex(const char* name) const {
    for (size_t i = 0; i < kLayoutCount; ++i)
      if (std::strcmp(kLayout[i].Name, name) == 0) return i;
    return kLayoutCount;
  }
  HWND RowWindow(const char* name) const {
    const size_t i = RowIndex(name);
    return i < FRows.size() ? FRows[i].Hwnd : nullptr;
  }
  const TRowWindow* RowOf(HWND h) const {
    auto it = FByHwnd.find(h);
    return it == FByHwnd.end() ? nullptr : &FRows[it->second];
  }

  void ShowMain() {
    ShowWindow(FHwnd, SW_SHOWNORMAL);
    if (FStepTextPending) {
      FStepTextPending = false;
      ControlChanged(FForm.Label30);
    }
    UpdateWindow(FHwnd);
    FixFocus();
  }

  // A button that can be pressed: shown by its own flag and enabled.
  static bool Usable(HWND h) { return h && (GetWindowLongW(h, GWL_STYLE) & WS_VISIBLE) && IsWindowEnabled(h); }

  // The focus never stays on a control that went away with its page or its button state.
  void FixFocus() {
    if (!FHwnd) return;
    HWND f = GetFocus();
    if (f && IsChild(FHwnd, f) && IsWindowVisible(f) && IsWindowEnabled(f)) return;
    FSavedFocus = nullptr;
    if (!IsWindowVisible(FHwnd)) return;
    for (const char* name : {"bNext", "bCancel"}) {
      HWND b = RowWindow(name);
      if (Usable(b) && IsWindowVisible(b)) {
        SetFocus(b);
        return;
      }
    }
    HWND first = GetNextDlgTabItem(FHwnd, nullptr, FALSE);
    SetFocus(first && IsWindowVisible(first) ? first : FHwnd);
  }

  // A label's box for a caption, by the layout's rule (LayoutGeometry.h).
  RECT TextBox(const TRowWindow& row, const AnsiString& caption) const {
    const HFONT font = row.Font;
    const TScaledRect box = CaptionBox(*row.Item, FScale, caption,
                                       [font](const TLayoutItem&, const AnsiString& text, int wrapWidth) {
                                         const SIZE sz = winui::TextSize(font, text, wrapWidth);
                                         return TTextExtent{static_cast<int>(sz.cx), static_cast<int>(sz.cy)};
                                       });
    return RECT{box.X, box.Y, box.X + box.W, box.Y + box.H};
  }

  // Sets a label's or button's text; a label sized to its text takes the new size, and a
  // transparent one has the page repaint what lies under its old text.
  void SetCaption(TRowWindow& row, const AnsiString& caption) {
    row.Sent = caption;
    const TLayoutItem& item = *row.Item;
    const bool transparent = HasFlag(item, lfTransparent) || item.Kind == K::Link;
    RECT old = row.Box;
    wintext::SetText(row.Hwnd, caption);
    if (item.Kind == K::Label || item.Kind == K::Link) {
      const RECT box = TextBox(row, caption);
      if (!EqualRect(&box, &row.Box)) {
        row.Box = box;
        SetWindowPos(row.Hwnd, nullptr, 0, 0, box.right - box.left, box.bottom - box.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
      }
    }
    if (transparent) {
      RECT area;
      UnionRect(&area, &old, &row.Box);
      RedrawWindow(row.Parent, &area, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    }
  }

  void ShowPicture(TRowWindow& row) {
    const TControl& c = *row.Control;
#ifdef GB_HAVE_WIN_PICTURE
    // A file that cannot be shown raises out of here: the logic names it in a box.
    row.Picture.reset();
    if (!c.Caption.empty()) row.Picture = TWinPicture::Load(c.Caption);
#else
    (void)c;
#endif
    if (row.Parent) RedrawWindow(row.Parent, &row.Box, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
  }

  // Background and pictures of a page; the labels above them draw without a background.
  void PaintPage(HWND page, HDC dc) {
    RECT rc;
    GetClientRect(page, &rc);
    int index = -1;
    for (size_t i = 0; i < FPages.size(); ++i)
      if (FPages[i] == page) index = static_cast<int>(i);
    const TRowWindow* pageRow = RowOf(page);
    const bool white = pageRow && HasFlag(*pageRow->Item, lfWhite);
    FillRect(dc, &rc, white ? static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)) : GetSysColorBrush(COLOR_BTNFACE));
#ifdef GB_HAVE_WIN_PICTURE
    for (const TRowWindow& row : FRows)
      if (row.Item->Kind == K::Picture && row.Item->Page == index && row.Picture)
        row.Picture->Draw(dc, row.Box, HasFlag(*row.Item, lfStretch), FScale);
#else
    (void)index;
#endif
  }

  void FillFolderList(HWND h) {
    SendMessageW(h, WM_SETREDRAW, FALSE, 0);
    SendMessageW(h, LB_RESETCONTENT, 0, 0);
    for (const AnsiString& name : FForm.List_SelectShot) AddListLine(h, name);
    SendMessageW(h, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(h, nullptr, TRUE);
  }

  // Brings a check list in line with its rows. Called from inside the list's own
  // notification too (the logic re-checks row 0), so rows are changed in place when the
  // count is unchanged.
  void FillCheckRows(TRowWindow& row) {
    std::vector<TCheckRow>* rows = FForm.FindRows(row.Item->Name);
    if (!rows) return;
    HWND h = row.Hwnd;
    FEcho = true;
    const int count = static_cast<int>(SendMessageW(h, LVM_GETITEMCOUNT, 0, 0));
    if (count != static_cast<int>(rows->size())) {
      SendMessageW(h, LVM_DELETEALLITEMS, 0, 0);
      for (size_t i = 0; i < rows->size(); ++i) {
        wintext::W text((*rows)[i].Text);
        LVITEMW it{};
        it.mask = LVIF_TEXT;
        it.iItem = static_cast<int>(i);
        it.pszText = text.Data();
        SendMessageW(h, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&it));
      }
    }
    for (size_t i = 0; i < rows->size(); ++i) {
      const int item = static_cast<int>(i);
      wchar_t shown[512] = L"";
      LVITEMW get{};
      get.iSubItem = 0;
      get.pszText = shown;
      get.cchTextMax = 512;
      SendMessageW(h, LVM_GETITEMTEXTW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&get));
      wintext::W text((*rows)[i].Text);
      if (text.Str() != shown) {
        LVITEMW set{};
        set.iSubItem = 0;
        set.pszText = text.Data();
        SendMessageW(h, LVM_SETITEMTEXTW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&set));
      }
      // The check box is the state image: 1 unchecked, 2 checked.
      const UINT state = static_cast<UINT>(SendMessageW(h, LVM_GETITEMSTATE, static_cast<WPARAM>(item), LVIS_STATEIMAGEMASK));
      const bool checked = ((state & LVIS_STATEIMAGEMASK) >> 12) == 2;
      if (checked != (*rows)[i].Checked) {
        LVITEMW set{};
        set.stateMask = LVIS_STATEIMAGEMASK;
        set.state = INDEXTOSTATEIMAGEMASK((*rows)[i].Checked ? 2 : 1);
        SendMessageW(h, LVM_SETITEMSTATE, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&set));
      }
    }
    FEcho = false;
  }

  // The notebook is a stack of panels, one per page, each holding its rows at the table's
  // geometry at the window's density; a row inside a group box is placed by the box's
  // position on the page, and scaled where it lands, so its edges meet the page's others.
  void CreateControls() {
    HINSTANCE inst = GetModuleHandleW(nullptr);
    for (size_t i = 0; i < kLayoutCount; ++i) {
      const TLayoutItem& item = kLayout[i];
      TRowWindow& row = FRows[i];
      row.Item = &item;
      row.Control = FForm.FindControl(item.Name);
      if (row.Control) FByControl[row.Control] = i;
      if (item.Kind == K::Window) continue;
      row.Parent = item.Page >= 0 && static_cast<size_t>(item.Page) < FPages.size() ? FPages[static_cast<size_t>(item.Page)] : FHwnd;
      const TScaledRect box = LayoutBox(item, FScale);
      const int x = box.X, y = box.Y;
      row.Box = RECT{x, y, x + box.W, y + box.H};
      if (item.Kind == K::Page) {
        row.Hwnd = CreateWindowExW(WS_EX_CONTROLPARENT, kPageClassName, wintext::W(item.Caption),
                                   WS_CHILD | WS_CLIPSIBLINGS | (item.Page == 0 ? WS_VISIBLE : 0), x, y, box.W, box.H, FHwnd,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstSetupControlId + i)), inst, this);
        FPages.push_back(row.Hwnd);
        FByHwnd[row.Hwnd] = i;
        continue;
      }
      if (item.Kind == K::Picture) continue;  // drawn by its page, under the labels
      CreateRow(i, row);
    }
    // Frames and the group box lie under what they hold (the Tab order ignores them).
    for (TRowWindow& row : FRows)
      if (row.Hwnd && (row.Item->Kind == K::Frame || row.Item->Kind == K::GroupBox))
        SetWindowPos(row.Hwnd, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    FillFolderList(RowWindow("List_SelectShot"));
  }

  void CreateRow(size_t index, TRowWindow& row) {
    const TLayoutItem& item = *row.Item;
    const TControl* c = row.Control;
    const AnsiString caption = c ? c->Caption : AnsiString(item.Caption);
    const bool visible = c ? c->Visible : !HasFlag(item, lfHidden);
    const wchar_t* cls = L"STATIC";
    DWORD style = WS_CLIPSIBLINGS, ex = 0;
    AnsiString text = caption;
    row.Font = winui::UiFont(FScale.Font(item.FontHeight), HasFlag(item, lfBold));
    switch (item.Kind) {
      case K::Label:
      case K::Link:
        style |= HasFlag(item, lfWordWrap) ? SS_LEFT : SS_LEFTNOWORDWRAP;
        // A fixed box on one line (the current file) shows the end of a long path.
        if (ShowsPathEnd(item)) style |= SS_PATHELLIPSIS;
        if (item.Kind == K::Link) {
          style |= SS_NOTIFY;
          row.Font = winui::UiFont(FScale.Font(item.FontHeight), false, true);
        }
        break;
      case K::Edit:
        cls = L"EDIT";
        style |= WS_TABSTOP | ES_AUTOHSCROLL | (c && c->ReadOnly ? ES_READONLY : 0);
        if (!HasFlag(item, lfNoBorder)) ex |= WS_EX_CLIENTEDGE;
        break;
      case K::Memo:
        cls = L"EDIT";
        style |= WS_TABSTOP | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | (HasFlag(item, lfVScroll) ? WS_VSCROLL : 0);
        if (!HasFlag(item, lfNoBorder)) ex |= WS_EX_CLIENTEDGE;
        text.clear();  // set after the limit is lifted
        break;
      case K::DetailList:
        // The details are a list: it takes a line at its end at the same cost however many it
        // holds, where a multi-line edit (under Wine) goes over all its text for each new line.
        cls = L"LISTBOX";
        style |= WS_TABSTOP | WS_VSCROLL | LBS_NOINTEGRALHEIGHT | LBS_NOSEL;
        if (!HasFlag(item, lfNoBorder)) ex |= WS_EX_CLIENTEDGE;
        text.clear();
        break;
      case K::List:
        cls = L"LISTBOX";
        style |= WS_TABSTOP | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | (HasFlag(item, lfVScroll) ? WS_VSCROLL : 0);
        if (!HasFlag(item, lfNoBorder)) ex |= WS_EX_CLIENTEDGE;
        text.clear();
        break;
      case K::CheckList:
      case K::ReportList:
        cls = WC_LISTVIEWW;
        style |= WS_TABSTOP | LVS_REPORT | LVS_NOCOLUMNHEADER | LVS_SINGLESEL | LVS_SHOWSELALWAYS;
        if (!HasFlag(item, lfNoBorder)) ex |= WS_EX_CLIENTEDGE;
        text.clear();
        break;
      case K::ProgressBar:
        cls = PROGRESS_CLASSW;
        text.clear();
        break;
      case K::Frame:
        style |= SS_SUNKEN;
        break;
      case K::GroupBox:
        cls = L"BUTTON";
        style |= BS_GROUPBOX;
        break;
      case K::Bevel:
        style |= SS_ETCHEDHORZ;
        break;
      case K::Button:
        cls = L"BUTTON";
        style |= WS_TABSTOP | (HasFlag(item, lfDefault) ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
        break;
      default:
        return;
    }
    if (item.Kind == K::Label || item.Kind == K::Link) row.Box = TextBox(row, caption);
    const int w = row.Box.right - row.Box.left, h = row.Box.bottom - row.Box.top;
    row.Hwnd = CreateWindowExW(ex, cls, wintext::W(text), WS_CHILD | style | (visible ? WS_VISIBLE : 0), row.Box.left, row.Box.top,
                               w, h, row.Parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstSetupControlId + index)),
                               GetModuleHandleW(nullptr), nullptr);
    if (!row.Hwnd) return;
    FByHwnd[row.Hwnd] = index;
    // Some classes size themselves at creation (an etched line takes its edges): the table's box wins.
    RECT made;
    GetWindowRect(row.Hwnd, &made);
    if (made.right - made.left != w || made.bottom - made.top != h)
      SetWindowPos(row.Hwnd, nullptr, 0, 0, w, h, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(row.Hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(row.Font), FALSE);
    row.Sent = text;
    if (c && !c->Enabled) EnableWindow(row.Hwnd, FALSE);
    switch (item.Kind) {
      case K::Memo:
        SendMessageW(row.Hwnd, EM_SETLIMITTEXT, 0, 0);
        row.Sent = caption;
        if (!caption.empty()) wintext::SetText(row.Hwnd, WithCrLf(caption));
        break;
      case K::List:
        if (HasFlag(item, lfFixedRows)) SendMessageW(row.Hwnd, LB_SETITEMHEIGHT, 0, FScale.Size(kFixedRowHeight));
        break;
      case K::CheckList:
      case K::ReportList: {
        SendMessageW(row.Hwnd, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_CHECKBOXES, LVS_EX_CHECKBOXES);
        if (HasFlag(item, lfFixedRows)) {
          // The row height of a list view follows its small images: a blank one of the height.
          HIMAGELIST rows = ImageList_Create(1, FScale.Size(kFixedRowHeight), ILC_COLOR, 1, 0);
          SendMessageW(row.Hwnd, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(rows));
        }
        RECT client;
        GetClientRect(row.Hwnd, &client);
        LVCOLUMNW col{};
        col.mask = LVCF_WIDTH;
        col.cx = item.Kind == K::ReportList ? FScale.Size(kReportColumnWidth) : client.right - GetSystemMetrics(SM_CXVSCROLL) - 2;
        SendMessageW(row.Hwnd, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&col));
        FillCheckRows(row);
        break;
      }
      default:
        break;
    }
  }

  void ShowMemoLines() {
    if (FMemoTimer) KillTimer(FHwnd, kMemoTimer);
    FMemoTimer = false;
    if (!FMemoPending) return;
    FMemoPending = false;
    HWND h = RowWindow("mInstall");
    const LRESULT count = SendMessageW(h, LB_GETCOUNT, 0, 0);
    if (count > 0) SendMessageW(h, LB_SETTOPINDEX, static_cast<WPARAM>(count - 1), 0);
    SendMessageW(h, WM_SETREDRAW, TRUE, 0);
    RedrawWindow(h, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME);
    FMemoShownAt = GetTickCount64();
  }

  // Alt+letter presses the shown button with that accelerator before the dialog manager
  // sees it: several labels show the letters of the buttons and would take the focus.
  static bool Filter(const MSG& msg) {
    TSetupWindow* self = gActive;
    if (!self || !self->FHwnd || msg.message != WM_SYSCHAR) return false;
    if (msg.hwnd != self->FHwnd && !IsChild(self->FHwnd, msg.hwnd)) return false;
    char key = static_cast<char>(msg.wParam);
    if (key >= 'A' && key <= 'Z') key = static_cast<char>(key - 'A' + 'a');
    for (size_t i = 0; i < self->FRows.size(); ++i) {
      const TRowWindow& row = self->FRows[i];
      if (row.Item->Kind != K::Button || !Usable(row.Hwnd) || !IsWindowVisible(row.Hwnd)) continue;
      if (AcceleratorOf(row.Sent) != key) continue;
      self->Command(static_cast<int>(kFirstSetupControlId + i), BN_CLICKED, row.Hwnd);
      return true;
    }
    return false;
  }

  void Command(int id, int code, HWND ctl) {
    const TRowWindow* bCancel = RowOf(RowWindow("bCancel"));
    if (id == IDCANCEL) {  // Esc
      if (bCancel && Usable(bCancel->Hwnd)) FForm.bCancelClick();
      return;
    }
    if (id == IDOK) {  // Enter with no default button
      HWND next = RowWindow("bNext");
      if (Usable(next)) FForm.bNextClick();
      return;
    }
    const size_t index = static_cast<size_t>(id - kFirstSetupControlId);
    if (id < kFirstSetupControlId || index >= FRows.size()) return;
    TRowWindow& row = FRows[index];
    const char* name = row.Item->Name;
    switch (row.Item->Kind) {
      case K::Button:
        if (code != BN_CLICKED || !Usable(row.Hwnd)) return;
        if (std::strcmp(name, "bPrevious") == 0) FForm.bPreviousClick();
        else if (std::strcmp(name, "bNext") == 0) FForm.bNextClick();
        else if (std::strcmp(name, "bCancel") == 0) FForm.bCancelClick();
        else if (std::strcmp(name, "bBrowse") == 0) FForm.bBrowseClick();
        return;
      case K::Edit:
        if (code == EN_CHANGE && !FEcho && row.Control) FForm.EditChanged(*row.Control, WindowText(ctl ? ctl : row.Hwnd));
        return;
      case K::List:
        if (code == LBN_SELCHANGE) FForm.List_SelectShotClick(static_cast<int>(SendMessageW(row.Hwnd, LB_GETCURSEL, 0, 0)));
        return;
      case K::Link:
        if (code == STN_CLICKED) FForm.lLinkClick();
        return;
      default:
        return;
    }
  }

  void Notify(const NMHDR& hdr) {
    if (hdr.code != LVN_ITEMCHANGED || FEcho) return;
    const TRowWindow* row = RowOf(hdr.hwndFrom);
    if (!row) return;
    const auto& nm = reinterpret_cast<const NMLISTVIEW&>(hdr);
    if (!(nm.uChanged & LVIF_STATE) || !((nm.uNewState ^ nm.uOldState) & LVIS_STATEIMAGEMASK) || nm.iItem < 0) return;
    std::vector<TCheckRow>* rows = FForm.FindRows(row->Item->Name);
    if (!rows || static_cast<size_t>(nm.iItem) >= rows->size()) return;
    const bool checked = ((nm.uNewState & LVIS_STATEIMAGEMASK) >> 12) == 2;
    TCheckRow& r = (*rows)[static_cast<size_t>(nm.iItem)];
    if (r.Checked == checked) return;
    r.Checked = checked;
    if (rows == &FForm.List_Component) FForm.List_ComponentClickCheck();
  }

  LRESULT CtlColor(HWND page, HDC dc, HWND ctl) {
    const TRowWindow* row = RowOf(ctl);
    const TRowWindow* pageRow = RowOf(page);
    const bool white = pageRow && pageRow->Item->Kind == K::Page && HasFlag(*pageRow->Item, lfWhite);
    if (row) {
      const TLayoutItem& item = *row->Item;
      if (item.Kind == K::Edit || item.Kind == K::Memo) {
        // Read-only boxes keep the look of text to read, not of a disabled box.
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
      }
      if (HasFlag(item, lfTransparent) || item.Kind == K::Link) {
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, item.Kind == K::Link ? RGB(0, 0, 255) : GetSysColor(COLOR_BTNTEXT));
        return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
      }
    }
    if (white) {
      SetBkColor(dc, RGB(255, 255, 255));
      return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
    }
    return DefWindowProcW(page, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(ctl));
  }

  static LRESULT CALLBACK PageProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = static_cast<TSetupWindow*>(winui::WindowObject(hwnd, msg, lp));
    if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
    switch (msg) {
      case WM_COMMAND:
        self->Command(LOWORD(wp), HIWORD(wp), reinterpret_cast<HWND>(lp));
        return 0;
      case WM_NOTIFY:
        self->Notify(*reinterpret_cast<const NMHDR*>(lp));
        return 0;
      case WM_CTLCOLORSTATIC:
        return self->CtlColor(hwnd, reinterpret_cast<HDC>(wp), reinterpret_cast<HWND>(lp));
      case WM_ERASEBKGND:
        self->PaintPage(hwnd, reinterpret_cast<HDC>(wp));
        return 1;
      case WM_PAINT: {
        PAINTSTRUCT ps;
        BeginPaint(hwnd, &ps);
        EndPaint(hwnd, &ps);
        return 0;
      }
      case WM_SETCURSOR: {
        const TRowWindow* row = self->RowOf(reinterpret_cast<HWND>(wp));
        if (row && row->Item->Kind == K::Link) {
          SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32649)));  // IDC_HAND
          return TRUE;
        }
        break;
      }
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
  }

  static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = static_cast<TSetupWindow*>(winui::WindowObject(hwnd, msg, lp));
    if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
    switch (msg) {
      case WM_CLOSE:  // the title bar's close button and Alt+F4
        self->FForm.Close();
        return 0;
      case WM_TIMER:
        if (wp == kMemoTimer) self->ShowMemoLines();
        return 0;
      case WM_FIX_FOCUS:
        self->FixFocus();
        return 0;
      case WM_ACTIVATE:
        // As a dialog does: the focus comes back to the control that had it, after a box.
        if (LOWORD(wp) == WA_INACTIVE) {
          HWND f = GetFocus();
          self->FSavedFocus = f && IsChild(hwnd, f) ? f : nullptr;
        } else if (self->FSavedFocus && IsWindow(self->FSavedFocus) && IsWindowVisible(self->FSavedFocus) &&
                   IsWindowEnabled(self->FSavedFocus)) {
          SetFocus(self->FSavedFocus);
        } else {
          self->FixFocus();
        }
        return 0;
      case DM_GETDEFID: {
        const size_t next = self->RowIndex("bNext");
        return MAKELRESULT(kFirstSetupControlId + next, DC_HASDEFID);
      }
      case WM_COMMAND:
        self->Command(LOWORD(wp), HIWORD(wp), reinterpret_cast<HWND>(lp));
        return 0;
      case WM_NOTIFY:
        self->Notify(*reinterpret_cast<const NMHDR*>(lp));
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
  }

  TFrm_Setup& FForm;
  const TLayoutScale FScale;  // the table's 96-dpi sizes at the window's density
  HWND FHwnd = nullptr;
  std::vector<TRowWindow> FRows;  // one per kLayout row, same order
  std::vector<HWND> FPages;
  std::map<const TControl*, size_t> FByControl;
  std::map<HWND, size_t> FByHwnd;
  winui::TBarFeed FBarFeed;
  HWND FSavedFocus = nullptr;
  bool FEcho = false;  // the view itself is changing a control: its notifications are not the user's
  bool FStepTextPending = false;
  bool FMemoPending = false, FMemoTimer = false;
  ULONGLONG FMemoShownAt = 0;
};
}  // namespace

int RunSetupWindow(TFrm_Setup& form) {
  TSetupWindow window(form, 0);
  return window.Run();
}

std::unique_ptr<ISetupView> CreateSetupWindow(TFrm_Setup& form, int dpi) {
  auto window = std::make_unique<TSetupWindow>(form, dpi);
  window->Create();
  return window;
}

void* SetupWindowHandle(ISetupView& view) { return static_cast<TSetupWindow&>(view).Handle(); }
