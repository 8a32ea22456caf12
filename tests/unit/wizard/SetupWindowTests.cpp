// The wizard window's Win32 view, looked at through Win32 calls (Windows only), and the
// folder picker of the installation folder page (portable).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "core/Sysconsts.h"
#include "system/Dialogs.h"
#include "system/FileCtrl.h"
#include "system/FileStream.h"
#include "system/Sandbox.h"
#include "system/SysKernel.h"
#include "unit/wizard/Fakes.h"
#include "wizard/SetupForm.h"

#ifdef _WIN32
#include <windows.h>
#include <commctrl.h>
#undef MessageBox  // the responder's field, not the Win32 call

#include "unit/wizard/PictureFixtures.h"
#include "wizard/win32/SetupWindow.h"
#include "wizard/win32/WinUi.h"
#include "system/win32/WideText.h"
#endif

namespace {
struct TQuestion {
  TBoxStyle Style;
  AnsiString Text;
};

class ViewTest : public ::testing::Test {
protected:
  TFakeProject* Project = new TFakeProject;
  TFakeCompile* Engine = new TFakeCompile;
  TIntfPtr<IProject> ProjectRef{Project};
  TIntfPtr<ICompile> EngineRef{Engine};
  std::shared_ptr<TDialogResponder> Responder = std::make_shared<TDialogResponder>();
  std::vector<TQuestion> Boxes;
  bool Answer = false;

  std::string Root;

  void SetUp() override {
#ifndef _WIN32
    char tmpl[] = "/tmp/wizard-view-XXXXXX";
    Root = mkdtemp(tmpl);
    SetSandboxRoot(Root);
#endif
    Responder->MessageBox = [this](TBoxStyle style, const AnsiString&, const AnsiString& text) {
      Boxes.push_back({style, text});
      return Answer;
    };
    SetDialogResponder(Responder);
    Project->AddWork("项目名称", "示例软件");
    Project->AddWork("安装界面显示", "是");
  }
  void TearDown() override {
    SetDialogResponder(nullptr);
#ifndef _WIN32
    std::system(("rm -rf '" + Root + "'").c_str());
#endif
  }
};
}  // namespace

TEST_F(ViewTest, BrowseTakesTheChosenFolderOnlyAndNeverWhenDisabled) {
  TFrm_Setup form(ProjectRef, EngineRef);
  const AnsiString start = TempFolder() + "浏览起点";  // the picker starts at an existing folder only
  ASSERT_TRUE(ForceFolders(start));
  form.EditChanged(form.eInsDir, start);
  std::vector<AnsiString> asked;
  AnsiString choice;
  Responder->BrowseFolder = [&](const AnsiString& title, AnsiString& folder) {
    asked.push_back(title + "|" + folder);
    if (choice.empty()) return false;
    folder = choice;
    return true;
  };
  form.bBrowseClick();  // cancelled
  EXPECT_EQ(form.eInsDir.Caption, start);
  choice = "D:\\软件";
  form.bBrowseClick();
  EXPECT_EQ(form.eInsDir.Caption, "D:\\软件");
  EXPECT_EQ(form.lDrvSize.Caption, TFrm_Setup::SizeText(DriveFreeBytes('D'))) << "the free space follows the folder";
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[0], "选择安装文件夹|" + start);
  EXPECT_EQ(asked[1], "选择安装文件夹|" + start);
  form.bBrowse.Enabled = false;
  form.bBrowseClick();
  EXPECT_EQ(asked.size(), 2u);
}

#ifdef _WIN32
namespace {
struct TFind {
  int Id;
  HWND Found;
};
BOOL CALLBACK FindChild(HWND h, LPARAM lp) {
  auto* f = reinterpret_cast<TFind*>(lp);
  if (GetDlgCtrlID(h) != f->Id) return TRUE;
  f->Found = h;
  return FALSE;
}
// Every descendant is searched: the controls sit on their pages.
HWND FindById(HWND top, int id) {
  TFind find{id, nullptr};
  EnumChildWindows(top, FindChild, reinterpret_cast<LPARAM>(&find));
  return find.Found;
}

size_t RowOf(const char* name) {
  for (size_t i = 0; i < kLayoutCount; ++i)
    if (AnsiString(kLayout[i].Name) == name) return i;
  return kLayoutCount;
}

// Read in UTF-16, as the window keeps it (a Unicode window): no code page in between.
AnsiString TextOf(HWND h) {
  wchar_t buf[1024] = L"";
  GetWindowTextW(h, buf, 1024);
  return wintext::Narrow(buf);
}
AnsiString ItemText(HWND list, int item) {
  wchar_t buf[256] = L"";
  LVITEMW it{};
  it.iSubItem = 0;
  it.pszText = buf;
  it.cchTextMax = 256;
  SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&it));
  return wintext::Narrow(buf);
}

const char* ClassFor(TLayoutKind kind) {
  switch (kind) {
    case TLayoutKind::Page: return "TFrm_Setup.Page";
    case TLayoutKind::Edit:
    case TLayoutKind::Memo: return "Edit";
    case TLayoutKind::List:
    case TLayoutKind::DetailList: return "ListBox";
    case TLayoutKind::CheckList:
    case TLayoutKind::ReportList: return "SysListView32";
    case TLayoutKind::ProgressBar: return "msctls_progress32";
    case TLayoutKind::Button:
    case TLayoutKind::GroupBox: return "Button";
    default: return "Static";
  }
}

// A project with two components of known sizes and a package of one program file.
class WindowTest : public ViewTest {
protected:
  std::unique_ptr<TFrm_Setup> Form;
  std::unique_ptr<ISetupView> View;
  HWND Main = nullptr;

  void SetUp() override {
    ViewTest::SetUp();
    Project->Components = {"甲", "乙"};
    for (const char* page : TFrm_Setup::ItemPages) Project->AddPage(page, "页面显示", "是");
    Project->AddPage("欢迎", "版权信息", "版权所有");
    Project->AddPage("选择安装文件夹", "允许用户更改文件夹名称", "否");
    Project->AddPage("安装完毕", "显示运行主程序选项", "是");
    Project->AddPage("安装完毕", "显示创建桌面快捷方式选项", "是");
    MakeForm();
    View = CreateSetupWindow(*Form);
    Main = static_cast<HWND>(SetupWindowHandle(*View));
    // Wine makes windows only with a display; scripts/test.sh gives the suites one.
    if (!Main) GTEST_SKIP() << "no window could be created (no display)";
    Form->FillPagesFromProject();
  }
  void MakeForm() {
    const AnsiString catalogue = TempFolder() + "ComList-view.ini";
    {
      TFileStream f(catalogue, fmCreate);
      const AnsiString text = "[ComSize]\r\n甲=2097152\r\n乙=1048576\r\n";
      f.Write(text.data(), text.size());
    }
    Form = std::make_unique<TFrm_Setup>(ProjectRef, EngineRef);
    Form->FileList().Add()->Kind = pkSupport;
    Form->FileList().Add()->Name = catalogue;
    TInsPackRec* program = Form->FileList().Add();
    program->Kind = pkProgramFile;
    program->FileSize = 1048576;
  }
  void TearDown() override {
    View.reset();
    Form.reset();
    ViewTest::TearDown();
  }
  HWND Row(const char* name) { return FindById(Main, kFirstSetupControlId + static_cast<int>(RowOf(name))); }
  // A new form and its window laid out for dpi (0: the system's), with the pages filled.
  void Rebuild(int dpi) {
    View.reset();
    MakeForm();
    View = CreateSetupWindow(*Form, dpi);
    Main = static_cast<HWND>(SetupWindowHandle(*View));
    ASSERT_NE(Main, nullptr);
    Form->FillPagesFromProject();
  }
};

// What a page paints under its controls (background and pictures), read back pixel by pixel.
class TPageShot {
public:
  explicit TPageShot(HWND page) {
    RECT r;
    GetClientRect(page, &r);
    FWidth = r.right;
    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = r.right;
    bmi.bmiHeader.biHeight = -r.bottom;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    FBitmap = CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
    FBits = static_cast<uint32_t*>(bits);
    FDC = CreateCompatibleDC(nullptr);
    FOld = SelectObject(FDC, FBitmap);
    SendMessageA(page, WM_ERASEBKGND, reinterpret_cast<WPARAM>(FDC), 0);
    GdiFlush();
  }
  ~TPageShot() {
    SelectObject(FDC, FOld);
    DeleteDC(FDC);
    DeleteObject(FBitmap);
  }
  TPageShot(const TPageShot&) = delete;
  TPageShot& operator=(const TPageShot&) = delete;
  uint32_t At(int x, int y) const { return FBits[y * FWidth + x] & 0xFFFFFF; }

private:
  int FWidth = 0;
  HBITMAP FBitmap = nullptr;
  uint32_t* FBits = nullptr;
  HDC FDC = nullptr;
  HGDIOBJ FOld = nullptr;
};

int FontHeightOf(HWND h) {
  LOGFONTA lf{};
  HFONT font = reinterpret_cast<HFONT>(SendMessageA(h, WM_GETFONT, 0, 0));
  return font && GetObjectA(font, sizeof lf, &lf) ? lf.lfHeight : 0;
}

// A control's rectangle in its parent's client area.
RECT PlaceOf(HWND h) {
  RECT r;
  GetWindowRect(h, &r);
  MapWindowPoints(nullptr, GetParent(h), reinterpret_cast<POINT*>(&r), 2);
  return r;
}
}  // namespace

TEST_F(WindowTest, EveryLayoutRowIsAWindowWithItsClassPlaceCaptionAndVisibility) {
  ASSERT_NE(Main, nullptr);
  char cls[64] = "";
  GetClassNameA(Main, cls, sizeof(cls));
  EXPECT_STREQ(cls, "TFrm_Setup");
  RECT client;
  GetClientRect(Main, &client);
  EXPECT_EQ(client.right, 508);
  EXPECT_EQ(client.bottom, 331);
  const LONG style = GetWindowLongA(Main, GWL_STYLE);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_FALSE(style & (WS_MAXIMIZEBOX | WS_THICKFRAME)) << "fixed size";
  EXPECT_EQ(TextOf(Main), "“示例软件”安装向导");
  EXPECT_TRUE(IsWindowUnicode(Main)) << "the title bar and screen readers get UTF-16";
  wchar_t title[64] = L"";
  GetWindowTextW(Main, title, 64);
  EXPECT_EQ(std::wstring(title), std::wstring(L"“示例软件”安装向导"));
  EXPECT_FALSE(IsWindowVisible(Main)) << "built, not shown";

  for (size_t i = 0; i < kLayoutCount; ++i) {
    const TLayoutItem& item = kLayout[i];
    SCOPED_TRACE(item.Name);
    HWND h = FindById(Main, kFirstSetupControlId + static_cast<int>(i));
    if (item.Kind == TLayoutKind::Window || item.Kind == TLayoutKind::Picture) {
      EXPECT_EQ(h, nullptr) << "drawn by its page";
      continue;
    }
    ASSERT_NE(h, nullptr);
    GetClassNameA(h, cls, sizeof(cls));
    EXPECT_EQ(lstrcmpiA(cls, ClassFor(item.Kind)), 0) << cls;
    // The parent: its page, or the window for the rows below the notebook.
    HWND parent = GetParent(h);
    if (item.Page < 0) {
      EXPECT_EQ(parent, Main);
    } else if (item.Kind == TLayoutKind::Page) {
      EXPECT_EQ(parent, Main);
      EXPECT_EQ(TextOf(h), TFrm_Setup::PageCaptions[static_cast<size_t>(item.Page)]);
      EXPECT_TRUE(GetWindowLongA(h, GWL_EXSTYLE) & WS_EX_CONTROLPARENT);
    } else {
      EXPECT_EQ(GetDlgCtrlID(parent), kFirstSetupControlId + static_cast<int>(RowOf(("nPage" + IntToStr(item.Page)).c_str())));
    }
    RECT r;
    GetWindowRect(h, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    int x = item.X, y = item.Y;
    if (item.Parent) {
      const TLayoutItem* box = FindLayoutItem(item.Parent);
      x += box->X;
      y += box->Y;
    }
    EXPECT_EQ(r.left, x);
    EXPECT_EQ(r.top, y);
    if (item.W) { EXPECT_EQ(r.right - r.left, item.W); }
    if (item.H && (item.Flags & lfWordWrap)) { EXPECT_GE(r.bottom - r.top, item.H); }
    if (item.H && !(item.Flags & lfWordWrap)) { EXPECT_EQ(r.bottom - r.top, item.H); }
    if (!item.W && !item.H && !TextOf(h).empty()) { EXPECT_GT((r.right - r.left) * (r.bottom - r.top), 0) << "sized to its text"; }
    const TControl* c = Form->FindControl(item.Name);
    const bool visible = c ? c->Visible : (item.Flags & lfHidden) == 0;
    if (item.Kind != TLayoutKind::Page) { EXPECT_EQ((GetWindowLongA(h, GWL_STYLE) & WS_VISIBLE) != 0, visible); }
    EXPECT_EQ(IsWindowEnabled(h) != 0, c ? c->Enabled : true);
    if (item.Kind == TLayoutKind::Edit) { EXPECT_EQ((GetWindowLongA(h, GWL_STYLE) & ES_READONLY) != 0, c->ReadOnly); }
    const bool texty = item.Kind == TLayoutKind::Label || item.Kind == TLayoutKind::Link ||
                       item.Kind == TLayoutKind::Button || item.Kind == TLayoutKind::GroupBox || item.Kind == TLayoutKind::Edit;
    if (texty) { EXPECT_EQ(TextOf(h), c ? c->Caption : AnsiString(item.Caption)); }
    const bool tabStop = item.Kind == TLayoutKind::Edit || item.Kind == TLayoutKind::Memo || item.Kind == TLayoutKind::List ||
                         item.Kind == TLayoutKind::DetailList || item.Kind == TLayoutKind::CheckList || item.Kind == TLayoutKind::ReportList ||
                         item.Kind == TLayoutKind::Button;
    EXPECT_EQ((GetWindowLongA(h, GWL_STYLE) & WS_TABSTOP) != 0, tabStop);
  }

  // The pages as the logic filled them.
  EXPECT_TRUE(IsWindowVisible(Row("nPage0")) || (GetWindowLongA(Row("nPage0"), GWL_STYLE) & WS_VISIBLE));
  EXPECT_FALSE(GetWindowLongA(Row("nPage1"), GWL_STYLE) & WS_VISIBLE);
  EXPECT_EQ(TextOf(Row("lVersion")), "版权所有");
  EXPECT_EQ(TextOf(Row("bNext")), SNextCaption);
  EXPECT_TRUE(GetWindowLongA(Row("m_Protected"), GWL_STYLE) & ES_READONLY);
  EXPECT_GT(static_cast<DWORD>(SendMessageA(Row("m_Protected"), EM_GETLIMITTEXT, 0, 0)), DWORD{1} << 20) << "no 30,000-character cap";
  EXPECT_EQ(SendMessageA(Row("List_SelectShot"), LB_GETITEMHEIGHT, 0, 0), 18);
  HWND components = Row("List_Component");
  ASSERT_EQ(ListView_GetItemCount(components), 3);
  EXPECT_EQ(ItemText(components, 2), "乙");
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(ListView_GetCheckState(components, i));
  HWND finish = Row("lFinished");
  ASSERT_EQ(ListView_GetItemCount(finish), 2);
  EXPECT_EQ(ItemText(finish, 1), "创建快捷方式到桌面");
  EXPECT_EQ(ListView_GetColumnWidth(finish, 0), 200);
  EXPECT_TRUE(ListView_GetExtendedListViewStyle(finish) & LVS_EX_CHECKBOXES);

  EXPECT_TRUE(GetWindowLongA(Row("eInsDir"), GWL_STYLE) & ES_READONLY);
  EXPECT_FALSE(IsWindowEnabled(Row("bBrowse")));
  EXPECT_FALSE(GetWindowLongA(Row("Edt_SelectFolder"), GWL_STYLE) & ES_READONLY);

  // A page change shows that page only.
  Form->SetPageIndex(5);
  EXPECT_TRUE(GetWindowLongA(Row("nPage5"), GWL_STYLE) & WS_VISIBLE);
  EXPECT_FALSE(GetWindowLongA(Row("nPage0"), GWL_STYLE) & WS_VISIBLE);
  EXPECT_EQ(TextOf(Row("bPrevious")), SPrevCaption);
}

TEST_F(WindowTest, ToggledComponentChangesTheNeededSizeAndTheMainRowStaysChecked) {
  HWND list = Row("List_Component");
  const AnsiString all = TFrm_Setup::SizeText(4 * 1048576);
  EXPECT_EQ(TextOf(Row("Label9")), "所需空间大小:" + all);
  ListView_SetCheckState(list, 1, FALSE);  // 甲, 2 MB
  EXPECT_FALSE(Form->List_Component[1].Checked);
  EXPECT_EQ(TextOf(Row("Label9")), "所需空间大小:" + TFrm_Setup::SizeText(2 * 1048576));
  EXPECT_EQ(TextOf(Row("lNeedsSize")), TFrm_Setup::SizeText(2 * 1048576));
  ListView_SetCheckState(list, 0, FALSE);  // the main program cannot be left out
  EXPECT_TRUE(Form->List_Component[0].Checked);
  EXPECT_TRUE(ListView_GetCheckState(list, 0));
  EXPECT_EQ(TextOf(Row("Label9")), "所需空间大小:" + TFrm_Setup::SizeText(2 * 1048576));

  // A click on an existing folder names the program folder; the logic's text reaches the box.
  HWND folders = Row("List_SelectShot");
  SendMessageW(folders, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"现有组"));
  Form->List_SelectShot.Add("现有组");
  const int last = static_cast<int>(SendMessageA(folders, LB_GETCOUNT, 0, 0)) - 1;
  SendMessageA(folders, LB_SETCURSEL, static_cast<WPARAM>(last), 0);
  SendMessageA(GetParent(folders), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(folders), LBN_SELCHANGE), reinterpret_cast<LPARAM>(folders));
  EXPECT_EQ(Form->Edt_SelectFolder.Caption, "现有组");
  EXPECT_EQ(TextOf(Row("Edt_SelectFolder")), "现有组");

  // Typing into the folder box reaches the logic; the free space follows its drive.
  SetWindowTextA(Row("eInsDir"), "");
  EXPECT_EQ(Form->eInsDir.Caption, "");
  EXPECT_EQ(TextOf(Row("lDrvSize")), "0.00 KB");
}

TEST_F(WindowTest, EscAndCloseAskAndNoKeepsTheWindowWhileAltLettersPressButtons) {
  auto press = [this](UINT message, WPARAM key) {
    MSG m{};
    m.hwnd = Row("bNext");
    m.message = message;
    m.wParam = key;
    if (!winui::FilterMessage(m)) IsDialogMessageA(Main, &m);
  };
  press(WM_KEYDOWN, VK_ESCAPE);
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0].Style, TBoxStyle::Question);
  EXPECT_EQ(Boxes[0].Text, Format(SExitQuestion, "示例软件"));
  EXPECT_FALSE(Form->Closed());
  SendMessageA(Main, WM_CLOSE, 0, 0);  // the title bar's close button, Alt+F4
  EXPECT_EQ(Boxes.size(), 2u);
  EXPECT_FALSE(Form->Closed());
  EXPECT_TRUE(IsWindow(Main));

  // Alt+N and Alt+P press Next and Previous of the shown page; the window must be on screen.
  ShowWindow(Main, SW_SHOWNA);
  press(WM_SYSCHAR, 'n');
  EXPECT_EQ(Form->PageIndex(), 1);
  press(WM_SYSCHAR, 'N');  // 我同意 has no letter: the licence page stays
  EXPECT_EQ(Form->PageIndex(), 1);
  press(WM_SYSCHAR, 'p');
  EXPECT_EQ(Form->PageIndex(), 0);

  // Tab walks the shown page in layout order, then the buttons; Enter presses Next.
  Form->SetPageIndex(3);
  SetFocus(Row("Edt_SelectFolder"));
  std::vector<HWND> order;
  for (HWND h = Row("Edt_SelectFolder"); order.size() < 5; h = GetNextDlgTabItem(Main, h, FALSE)) order.push_back(h);
  EXPECT_EQ(order, (std::vector<HWND>{Row("Edt_SelectFolder"), Row("List_SelectShot"), Row("bPrevious"), Row("bNext"),
                                       Row("bCancel")}));
  press(WM_KEYDOWN, VK_RETURN);
  EXPECT_EQ(Form->PageIndex(), 4);

  // On the progress page Cancel is disabled: Esc asks nothing.
  Form->SetPageIndex(TFrm_Setup::kProgressPage);
  EXPECT_FALSE(IsWindowEnabled(Row("bCancel")));
  press(WM_KEYDOWN, VK_ESCAPE);
  EXPECT_EQ(Boxes.size(), 2u);
  ShowWindow(Main, SW_HIDE);
}
#endif

#ifdef _WIN32
TEST_F(WindowTest, PictureThatCannotBeLoadedIsNamedInABoxAndLeftEmpty) {
  const AnsiString bad = TempFolder() + "损坏-view.jpg";
  {
    TFileStream f(bad, fmCreate);
    f.Write("not a jpeg", 10);
  }
  const AnsiString good = TempFolder() + "head-view.bmp";
  {
    // A 2 x 1 bitmap, 24 bits: enough for the window to load and keep it.
    const unsigned char bmp[] = {'B', 'M', 62, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 1, 0, 24, 0,
                                 0, 0, 0, 0, 8, 0, 0, 0, 0x13, 0x0B, 0, 0, 0x13, 0x0B, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                 0, 0, 255, 0, 255, 0, 0, 0};
    TFileStream f(good, fmCreate);
    f.Write(bmp, sizeof(bmp));
  }
  Project->AddPage("确认安装", "标题图片", bad);
  Project->AddPage("安装进程", "标题图片", good);
  Boxes.clear();
  Form->FillPagesFromProject();
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0].Style, TBoxStyle::Error);
  EXPECT_NE(Boxes[0].Text.find(bad), AnsiString::npos) << Boxes[0].Text;
  EXPECT_EQ(Form->Image7.Caption, "");
  EXPECT_EQ(Form->Image8.Caption, good);
}
#endif

#ifdef _WIN32
namespace {
// The room a control's text asks for, drawn as the control draws it: wrapped at its width
// where it wraps. Zero for a control that cuts its text on purpose (a path shown by its end).
SIZE TextNeed(HWND h) {
  const LONG style = GetWindowLongA(h, GWL_STYLE);
  char cls[64] = "";
  GetClassNameA(h, cls, sizeof cls);
  const bool label = lstrcmpiA(cls, "Static") == 0;
  if (label && (style & SS_ELLIPSISMASK)) return SIZE{0, 0};
  RECT client;
  GetClientRect(h, &client);
  const bool wraps = label && (style & SS_TYPEMASK) == SS_LEFT;
  RECT need{0, 0, wraps ? client.right : 0, 0};
  const AnsiString text = TextOf(h);
  HDC dc = GetDC(h);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(h, WM_GETFONT, 0, 0)));
  DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &need, DT_CALCRECT | (wraps ? DT_WORDBREAK : DT_SINGLELINE));
  SelectObject(dc, old);
  ReleaseDC(h, dc);
  return SIZE{need.right, need.bottom};
}
}  // namespace

// At the system's density and at 125 %, 150 % and 200 %, with a project name long enough to
// wrap the welcome page's labels onto more lines: every font takes its scaled height, no text
// of any page is cut, the lists' rows and the report column scale, pictures fill their scaled
// box or take their natural size times the scale, and the unpack dialog the window opens
// follows it. (The rows' rectangles at the system's density: tests/e2e/wine-dpi.sh.)
TEST_F(WindowTest, AtEachDensityFontsListsPicturesAndTheUnpackDialogScaleAndNoTextIsCut) {
  Project->FindWork("项目名称")->Value = "高分辨率显示缩放测试软件";
  const AnsiString quads = picture_test::Fixture("quads24.bmp");  // 32 x 32: red, lime / blue, white
  Project->AddPage("安装协议说明", "标题图片", quads);   // stretched into 508 x 60
  Project->AddPage("选择程序文件夹", "标题图片", quads);  // at its natural size
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  const uint32_t background = (GetRValue(face) << 16) | (GetGValue(face) << 8) | GetBValue(face);
  const int system = winui::SystemDpi();
  std::vector<int> densities{system};
  for (int dpi : {120, 144, 192})
    if (dpi != system) densities.push_back(dpi);
  for (int dpi : densities) {
    SCOPED_TRACE(dpi);
    const auto S = [dpi](int v) { return static_cast<int>(std::floor(v * dpi / 96.0 + 0.5)); };
    Rebuild(dpi == system ? 0 : dpi);
    RECT client;
    GetClientRect(Main, &client);
    ASSERT_EQ(client.right, S(508));

    for (size_t i = 0; i < kLayoutCount; ++i) {
      const TLayoutItem& item = kLayout[i];
      // Every row that shows text; pages, bars, frames and lines have none.
      if (item.Kind == TLayoutKind::Window || item.Kind == TLayoutKind::Picture || item.Kind == TLayoutKind::Page ||
          item.Kind == TLayoutKind::ProgressBar || item.Kind == TLayoutKind::Frame || item.Kind == TLayoutKind::Bevel)
        continue;
      SCOPED_TRACE(item.Name);
      HWND h = FindById(Main, kFirstSetupControlId + static_cast<int>(i));
      ASSERT_NE(h, nullptr);
      EXPECT_EQ(FontHeightOf(h), -S(-item.FontHeight));
      if (item.Kind != TLayoutKind::Label && item.Kind != TLayoutKind::Link && item.Kind != TLayoutKind::Button &&
          item.Kind != TLayoutKind::GroupBox)
        continue;
      const SIZE need = TextNeed(h);
      RECT box;
      GetClientRect(h, &box);
      // A push button's text sits inside its edge.
      const int edge = item.Kind == TLayoutKind::Button ? 2 : 0;
      EXPECT_LE(need.cx, box.right - 2 * edge) << TextOf(h);
      EXPECT_LE(need.cy, box.bottom - 2 * edge) << TextOf(h);
    }

    EXPECT_EQ(SendMessageA(Row("List_SelectShot"), LB_GETITEMHEIGHT, 0, 0), S(18));
    // A list view's row takes the scaled height, or the line of its font where that rounds higher.
    HWND components = Row("List_Component");
    RECT item{};
    ASSERT_TRUE(ListView_GetItemRect(components, 0, &item, LVIR_BOUNDS));
    EXPECT_NEAR(item.bottom - item.top, S(18), 1);
    HDC dc = GetDC(components);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(components, WM_GETFONT, 0, 0)));
    TEXTMETRICA tm{};
    GetTextMetricsA(dc, &tm);
    SelectObject(dc, old);
    ReleaseDC(components, dc);
    EXPECT_LE(tm.tmHeight, item.bottom - item.top);
    EXPECT_EQ(ListView_GetColumnWidth(Row("lFinished"), 0), S(200));

    {
      TPageShot page(Row("nPage1"));
      const int right = S(508) - 1, bottom = S(60) - 1;
      EXPECT_TRUE(picture_test::Near(page.At(2, 2), 0xFF0000, 16)) << std::hex << page.At(2, 2);
      EXPECT_TRUE(picture_test::Near(page.At(right - 2, bottom - 2), 0xFFFFFF, 16)) << "stretched to the scaled strip";
      EXPECT_EQ(page.At(right - 2, bottom + 3), background) << "and no further";
    }
    {
      TPageShot page(Row("nPage3"));
      const int size = S(32);
      EXPECT_TRUE(picture_test::Near(page.At(size - 3, size - 3), 0xFFFFFF, 16)) << "natural size times the scale";
      EXPECT_TRUE(picture_test::Near(page.At(size - 3, 3), 0x00FF00, 16));
      EXPECT_EQ(page.At(size + 3, 3), background);
      EXPECT_EQ(page.At(3, size + 3), background);
    }

    // The dialog as the release sees it, while it runs.
    TFrm_ReleasePlan dialog(Supports<IReleaseWork>(EngineRef));
    TInsPackList list;
    dialog.SetFileList(&list);
    RECT dialogClient{}, label{}, bar{}, labelBox{};
    int labelFont = 0;
    SIZE labelText{};
    Engine->Release = [&](TInsPackList&, const TReleaseProgressEvent& progress) {
      HWND d = FindWindowA("TFrm_ReleasePlan", nullptr);
      ASSERT_NE(d, nullptr);
      GetClientRect(d, &dialogClient);
      for (HWND c = GetWindow(d, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        char cls[64] = "";
        GetClassNameA(c, cls, sizeof cls);
        if (lstrcmpiA(cls, "Static") == 0) {
          label = PlaceOf(c);
          GetClientRect(c, &labelBox);
          labelFont = FontHeightOf(c);
          labelText = TextNeed(c);
        } else if (lstrcmpiA(cls, PROGRESS_CLASSA) == 0) {
          bar = PlaceOf(c);
        }
      }
      progress(1, 1, "", false);
    };
    View->ShowReleaseDialog(dialog);
    EXPECT_TRUE(dialog.Completed());
    EXPECT_EQ(dialogClient.right, S(382));
    EXPECT_EQ(dialogClient.bottom, S(104));
    EXPECT_EQ(label.left, S(15));
    EXPECT_EQ(label.top, S(25));
    EXPECT_EQ(label.right, S(15 + 357));
    EXPECT_EQ(labelFont, -S(12));
    EXPECT_GT(labelText.cx, 0);
    EXPECT_LE(labelText.cx, labelBox.right);
    EXPECT_LE(labelText.cy, labelBox.bottom) << "the label's line is whole";
    EXPECT_EQ(bar.left, S(15));
    EXPECT_EQ(bar.top, S(51));
    EXPECT_EQ(bar.right, S(15 + 357));
    EXPECT_EQ(bar.bottom, S(51 + 19));
  }
}
#endif
