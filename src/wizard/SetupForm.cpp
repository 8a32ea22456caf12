#include "wizard/SetupForm.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "core/ExitCodes.h"
#include "core/IniData.h"
#include "core/Sysconsts.h"
#include "core/TextUtils.h"
#include "system/FileCtrl.h"
#include "system/FileStream.h"
#include "system/RunLog.h"
#include "system/SysKernel.h"
#include "wizard/Picture.h"

const std::array<const char*, TFrm_Setup::kPageCount> TFrm_Setup::PageCaptions = {
    LayoutCaption("nPage0"), LayoutCaption("nPage1"), LayoutCaption("nPage2"), LayoutCaption("nPage3"), LayoutCaption("nPage4"),
    LayoutCaption("nPage5"), LayoutCaption("nPage6"), LayoutCaption("nPage7"), LayoutCaption("nPage8")};
const std::array<const char*, TFrm_Setup::kPageCount> TFrm_Setup::ItemPages = {
    "欢迎", "安装协议说明", "软件使用说明", "选择程序文件夹", "选择安装组件", "选择安装文件夹", "确认安装", "安装进程", "安装完毕"};

namespace {
const char* const kYes = "是";
const char* const kNo = "否";
constexpr int SW_SHOWNORMAL_ = 1;
constexpr int SW_SHOWMAXIMIZED_ = 3;

AnsiString ReadFileText(const AnsiString& fileName) {
  TFileStream f(fileName, fmOpenRead | fmShareDenyNone);
  AnsiString s(static_cast<size_t>(f.Size()), '\0');
  if (!s.empty()) f.ReadBuffer(s.data(), s.size());
  return s;
}

// Sizes come from the package index: a hostile one must not overflow the sum.
int64_t AddSize(int64_t a, int64_t b) {
  int64_t sum;
  if (__builtin_add_overflow(a, b, &sum)) return b > 0 ? INT64_MAX : INT64_MIN;
  return sum;
}

// Rounds half away from zero, as the pictures of numbers in captions always have.
int64_t RoundHalfAway(double v) { return v < 0 ? -static_cast<int64_t>(std::floor(-v + 0.5)) : static_cast<int64_t>(std::floor(v + 0.5)); }
}  // namespace

TFrm_Setup::TFrm_Setup(TIntfPtr<IProject> project, TIntfPtr<ICompile> compile, ISetupView* view)
    : FProject(std::move(project)), FCompile(std::move(compile)), FView(view) {
  // The application title keeps the program's own name until the project names it, so that
  // a box about a damaged package still has a caption.
  for (TControl* c : Controls()) {
    c->Caption = LayoutCaption(c->Name);
    if (const TLayoutItem* item = FindLayoutItem(c->Name)) c->Visible = (item->Flags & lfHidden) == 0;
  }
  FillExistingFolders();
  if (FCompile) FCompile->SetProject(FProject);
}

TFrm_Setup::~TFrm_Setup() {
  RemoveReleasedFiles(FCompile);
  if (FCompile) FCompile->ClearPackList(FFileList);
  FFileList.Clear();
}

void TFrm_Setup::RemoveReleasedFiles(const TIntfPtr<ICompile>& compile) {
  TIntfPtr<IReleasedFiles> released = Supports<IReleasedFiles>(compile);
  if (!released) return;
  TStringList files, folders;
  released->GetReleasedFiles(files, folders);
  for (const AnsiString& f : files)
    if (FileExists(f)) DeleteFileAt(f);
  // Inner folders first; one that holds something else now keeps it.
  for (int i = folders.Count() - 1; i >= 0; --i)
    if (FolderExists(folders[i])) RemoveFolder(folders[i]);
}

void TFrm_Setup::Changed(const TControl& c) {
  if (FView) FView->ControlChanged(c);
}

void TFrm_Setup::Fail(const AnsiString& message) {
  FFailed = true;
  runlog::Write("错误", message);
  ShowErrorBox(message);
  FModalResult = mrAbort;
  Close();
}

void TFrm_Setup::FormShow() {
  {
    TFrm_ReleasePlan dialog(Supports<IReleaseWork>(FCompile));
    dialog.SetFileList(&FFileList);
    // With /VERYSILENT not even the unpack dialog appears.
    if (FView && FSwitches.Mode != TSetupSwitches::TMode::VerySilent) {
      FView->ShowReleaseDialog(dialog);
    } else {
      dialog.FormShow();
    }
    if (dialog.Failed()) return Fail(dialog.ErrorText());
    // The component catalogue is entry 2 and the uninstaller the last one: without them
    // this is not a package the installation can use.
    if (FFileList.Count() < 2) return Fail("安装程序中没有可用的安装数据，安装文件可能已损坏。");
  }
  // One run of a product at a time: two would write the same files and the same log.
  const TWorkInfoRec* nameRec = FProject ? FProject->FindWork("项目名称") : nullptr;
  const AnsiString product = nameRec ? nameRec->Value : AnsiString();
  FRunLock = std::make_unique<TProductLock>(product);
  if (!FRunLock->Held()) {
    FBusy = true;
    return Fail(Format(SProductBusy, product.c_str()));
  }
  try {
    FillPagesFromProject();
  } catch (const Exception& e) {
    return Fail(e.Message());
  }
  if (!ApplySwitches()) return;
  if (FSwitches.Unattended() || IsSilentInstall() || !FView || !FView->HasInteractivePages()) InstallWithoutPages();
}

bool TFrm_Setup::ApplySwitches() {
  auto refuse = [this](const AnsiString& message) {
    FBadSwitch = true;
    Fail(message);
    return false;
  };
  if (FSwitches.Dir) {
    const AnsiString dir = *FSwitches.Dir;
    if (eInsDir.ReadOnly && !SameText(dir, eInsDir.Caption))
      return refuse("“" + FProjectName + "”的安装文件夹不能更改：/DIR 或 /D 给出的“" + dir + "”不能使用。");
    if (!ValidInstallFolder(dir)) return refuse("“" + dir + "”不是有效的安装文件夹（/DIR 或 /D）。请给出完整路径，如 C:\\Program Files\\程序。");
    EditChanged(eInsDir, dir);
  }
  if (FSwitches.Components) {
    std::vector<AnsiString> offered;
    for (size_t i = 1; i < List_Component.size(); ++i) offered.push_back(List_Component[i].Text);
    std::vector<bool> chosen;
    AnsiString unknown;
    if (!MatchComponents(offered, *FSwitches.Components, chosen, unknown))
      return refuse("安装程序中没有组件“" + unknown + "”（/COMPONENTS）。");
    for (size_t i = 0; i < chosen.size(); ++i) List_Component[i + 1].Checked = chosen[i];
    if (FView) FView->RowsChanged("List_Component");
    List_ComponentClickCheck();
  }
  return true;
}

int TFrm_Setup::ExitCode() const {
  if (FBusy) return kExitAlreadyRunning;
  if (FBadSwitch) return kExitBadSwitch;
  if (FFailed) return FInstallStarted ? kExitInstallFailed : kExitFailed;
  if (!FInstalled && !FLogSaved) return kExitCancelled;
  if (FRestarting) return kExitRestarting;
  // The project asks for a restart after the installation; this run did not do it.
  return FRebootOffered ? kExitRestartNeeded : kExitSuccess;
}

void TFrm_Setup::InstallWithoutPages() {
  // A project that wants the wizard at least sees the progress page while it installs.
  if (!IsSilentInstall()) SetPageIndex(kProgressPage);
  try {
    StartInstallation();
    FInstalled = true;
    // A run from the command line makes the links the finish page would have ticked; it
    // starts nothing.
    if (FSwitches.Unattended()) RunFinishActions(false);
    // The uninstaller needs the log; a silent setup would otherwise leave it nothing to read.
    if (FCompile) FCompile->SaveInstallLog();
    FLogSaved = true;
  } catch (const Exception& e) {
    return Fail(e.Message());
  }
  FModalResult = mrOk;
  // Unasked, the restart question has its default answer, Yes, unless /NORESTART said no.
  if (FSwitches.Unattended() && FRebootOffered) {
    if (FSwitches.NoRestart) {
      runlog::Write("重启", "需要重启计算机", "未重启（/NORESTART）");
    } else {
      runlog::Write("重启", "需要重启计算机", "已开始重启");
      FRestarting = true;
      RebootSystem();
    }
  }
  Close();
}

bool TFrm_Setup::IsSilentInstall() {
  // /SILENT shows its progress, /VERYSILENT nothing at all.
  if (FSwitches.Mode == TSetupSwitches::TMode::VerySilent) return true;
  if (FSwitches.Mode == TSetupSwitches::TMode::Silent) return false;
  if (!FProject) return true;
  for (TWorkInfoRec* w : *FProject->GetWorkList())
    if (SameText(w->Name, "安装界面显示")) return w->Value != kYes;
  return true;
}

int TFrm_Setup::NextShownPage(int current, bool forward) {
  auto shown = [this](int i) {
    for (TPageInfoRec* p : *FProject->GetPageList())
      if (SameText(p->Page, ItemPages[static_cast<size_t>(i)]) && SameText(p->Name, "页面显示") && SameText(p->Value, kYes))
        return true;
    return false;
  };
  if (forward) {
    for (int i = current + 1; i < kPageCount; ++i)
      if (shown(i)) return i;
    return -1;
  }
  if (current <= 0) return -1;
  for (int i = current - 1; i >= 1; --i)
    if (shown(i)) return i;
  return 0;
}

void TFrm_Setup::SetPageIndex(int index) {
  if (index < 0 || index >= kPageCount || index == FPageIndex) return;
  FPageIndex = index;
  if (FView) FView->PageChanged(index);
  nPagesPageChanged();
}

void TFrm_Setup::nPagesPageChanged() {
  const int index = FPageIndex;
  bNext.Caption = SNextCaption;
  bPrevious.Caption = SPrevCaption;
  bPrevious.Visible = index != 0 && index < kPageCount - 2;
  bNext.Visible = index < kPageCount - 2;
  bCancel.Enabled = index != kPageCount - 2;
  const AnsiString caption = PageCaptions[static_cast<size_t>(index)];
  if (caption == "安装协议") bNext.Caption = SAgree;
  if (caption == "安装完成") {
    bCancel.Caption = AnsiString(SDone) + "(&F)";
    bCancel.Tag = 1;
  }
  Changed(bNext);
  Changed(bPrevious);
  Changed(bCancel);
}

void TFrm_Setup::bNextClick() {
  SetPageIndex(NextShownPage(FPageIndex, true));
  if (AnsiString(PageCaptions[static_cast<size_t>(FPageIndex)]) != "安装进程") return;
  try {
    StartInstallation();
    FInstalled = true;
  } catch (const Exception& e) {
    // The engine has undone the run; its message says what failed and what stays.
    Fail(e.Message());
  }
}

void TFrm_Setup::bPreviousClick() { SetPageIndex(NextShownPage(FPageIndex, false)); }

void TFrm_Setup::bCancelClick() {
  FModalResult = mrCancel;
  if (bCancel.Tag != 0) {
    FModalResult = mrOk;
    if (bCancel.Tag == 1) {
      // The links are logged too, so the log is written after them; a link that failed has
      // had its box and leaves the rest of the finish to run.
      RunFinishActions();
      try {
        if (FCompile) FCompile->SaveInstallLog();
        FLogSaved = true;
      } catch (const Exception& e) {
        return Fail(e.Message());  // without its log the installation was undone
      }
      if (FRebootOffered && !FSwitches.NoRestart &&
          AskYesNo("“" + FProjectName + "”安装向导需要重启操作系统，" + "方可完成安装。要自动重启吗？")) {
        FRestarting = true;
        RebootSystem();
      }
    }
  }
  Close();
}

void TFrm_Setup::StartInstallation() {
  FInstallStarted = true;
  const AnsiString groupFolder = Edt_SelectFolder.Caption;
  const AnsiString installDir = eInsDir.Caption;
  TStringList components;
  for (size_t i = 1; i < List_Component.size(); ++i)
    if (List_Component[i].Checked) components.Add(List_Component[i].Text);
  const AnsiString exeName = ApplicationExeName();
  TIntfPtr<IReleaseWork> work = QueryIntf<IReleaseWork>(FCompile);
  work->InstallFiles(groupFolder, installDir, components.CommaText(), exeName, FFileList,
                     [this](int32_t max, int32_t position, const AnsiString& text, bool flag) {
                       OnInstallProgress(max, position, text, flag);
                     });
}

void TFrm_Setup::OnInstallProgress(int32_t max, int32_t position, const AnsiString& text, bool flag) {
  Label30.Caption = text;
  Changed(Label30);
  int64_t percent;
  if (max < position) {
    percent = 100;
  } else if (max <= 0) {
    percent = flag ? 100 : 0;  // no steps to count: done only when the run says so
  } else {
    percent = RoundHalfAway(static_cast<double>(position) / max * 100.0);
    if (percent < 0) percent = 0;
  }
  Label31.Caption = IntToStr(percent) + "%";
  Changed(Label31);
  ProgressBar1.Max = max;
  ProgressBar1.Position = position;
  Changed(ProgressBar1);
  if (mInstall.Visible && FView) FView->LineAdded(mInstall, text);
  if (flag) SetPageIndex(kFinishPage);
  ProcessMessages();
}

void TFrm_Setup::Close() {
  if (FClosed) return;
  if (!FormCloseQuery()) return;
  FClosed = true;
  // Closed on the finish page without Finish: the installation stays, and so must its log,
  // or the uninstaller would have nothing to remove it by.
  if (FInstalled && !FLogSaved && FCompile) {
    FLogSaved = true;
    try {
      FCompile->SaveInstallLog();
    } catch (const Exception& e) {
      ShowErrorBox(e.Message());
    }
  }
  if (FView) FView->DestroyWindow();
}

bool TFrm_Setup::FormCloseQuery() {
  bool canClose = true;
  if (FModalResult != mrOk && !FFailed) canClose = AskYesNo(Format(SExitQuestion, FProjectName.c_str()));
  if (FPageIndex == kPageCount - 1 && FProject && !FSwitches.Unattended()) {
    const AnsiString runFile = FProject->GetRunFile();
    if (!runFile.empty() && FileExists(runFile)) ShellOpen("Open", runFile, "", ExtractFilePath(runFile), SW_SHOWNORMAL_);
    const AnsiString webPage = FProject->GetRunWebPage();
    if (!webPage.empty()) ShellOpen("open", webPage, "", "", SW_SHOWMAXIMIZED_);
  }
  return canClose;
}

AnsiString TFrm_Setup::FindPageItem(const AnsiString& page, const AnsiString& name) {
  for (TPageInfoRec* p : *FProject->GetPageList())
    if (SameText(p->Page, page) && SameText(p->Name, name)) return p->Value;
  return AnsiString();
}

void TFrm_Setup::ApplyProjectName(const AnsiString& name) {
  FProjectName = name;
  for (TControl* c : {&LB_Head, &Label24, &Lb_Insted_Prog, &LB_WelInfo}) {
    c->Caption = ReplaceAll(c->Caption, "%s", name);
    Changed(*c);
  }
  Edt_SelectFolder.Caption = name;
  Changed(Edt_SelectFolder);
}

std::vector<TControl*> TFrm_Setup::Controls() {
  return {&Form,     &bPrevious,   &bNext,   &bCancel,        &Image1,  &LB_Head,   &LB_WelInfo,   &Label32,
          &lVersion, &lLink,       &Img_Pro_Head, &m_Protected, &Image2,  &m_ReadMe,  &Image3,       &Label24,
          &Edt_SelectFolder, &Image5, &Label9, &Image6,     &eInsDir, &bBrowse,   &lNeedsSize,   &lDrvSize,
          &Image7,   &Image8,      &Label30, &Label31,        &ProgressBar1, &mInstall, &Image9, &Lb_Insted_Prog};
}

TControl* TFrm_Setup::FindControl(const char* name) {
  for (TControl* c : Controls())
    if (std::strcmp(c->Name, name) == 0) return c;
  return nullptr;
}

std::vector<TCheckRow>* TFrm_Setup::FindRows(const char* name) {
  if (std::strcmp(name, "List_Component") == 0) return &List_Component;
  if (std::strcmp(name, "lFinished") == 0) return &lFinished;
  return nullptr;
}

void TFrm_Setup::lLinkClick() { ShellOpen("open", lLink.Caption, "", "", SW_SHOWMAXIMIZED_); }

void TFrm_Setup::ShowPicture(TControl& picture, const AnsiString& page, const AnsiString& fileName) {
  if (fileName.empty() || !FileExists(fileName)) return;
  // One bad picture costs that picture only: the rules after it (folders, finish rows, the
  // reboot question) still apply, so the box names the file and the page item and goes on.
  try {
    PictureFormatOf(fileName);
    picture.Caption = fileName;
    Changed(picture);
  } catch (const Exception& e) {
    picture.Caption.clear();
    Changed(picture);
    ShowErrorBox(e.Message() + "\r\n\r\n页面“" + page + "”的“标题图片”：" + fileName);
  }
}

void TFrm_Setup::LoadLines(TControl& memo, const AnsiString& fileName) {
  if (fileName.empty() || !FileExists(fileName)) return;
  TStringList lines;
  AnsiString text = ReadFileText(fileName);
  // A text of more than a few hundred pages is not read by anyone, and a hostile one would
  // keep the window busy laying it out: the memo takes its first part.
  constexpr size_t kMaxMemoText = 1 << 20;
  if (text.size() > kMaxMemoText) {
    size_t cut = text.rfind('\n', kMaxMemoText);
    text.resize(cut == AnsiString::npos ? kMaxMemoText : cut + 1);
  }
  lines.SetText(text);
  memo.Caption = lines.Text();
  Changed(memo);
}

void TFrm_Setup::AddFinishRow(const AnsiString& caption, const char* code, const AnsiString& file) {
  TCheckRow row{caption, true, {}};
  row.SubItems.Add(code);
  if (!file.empty()) row.SubItems.Add(file);
  lFinished.push_back(std::move(row));
}

void TFrm_Setup::FillPagesFromProject() {
  TWorkInfoRec* nameRec = FProject->FindWork("项目名称");
  ApplyProjectName(nameRec ? nameRec->Value : AnsiString());
  // The default texts, from the release's own folder: a file that another program left in the
  // temporary folder never reaches the wizard.
  TIntfPtr<IReleasedFiles> released = Supports<IReleasedFiles>(FCompile);
  const AnsiString unpacked = released ? released->ReleaseFolder() : AnsiString();
  if (!unpacked.empty()) {
    LoadLines(m_ReadMe, unpacked + "Readme.txt");
    LoadLines(m_Protected, unpacked + "Protocel.txt");
  }
  FillComponents();
  ShowNeededSize(InitialNeededSize());
  const AnsiString programFiles = ProgramFilesFolder();
  EditChanged(eInsDir, programFiles);

  Form.Caption = ReplaceAll(Form.Caption, "%s", FProjectName);
  Changed(Form);
  SetApplicationTitle(Form.Caption);

  auto setCaption = [this](TControl& c, const AnsiString& v, bool show = false) {
    if (v.empty()) return;
    c.Caption = v;
    if (show) c.Visible = true;
    Changed(c);
  };
  ShowPicture(Image1, "欢迎", FindPageItem("欢迎", "标题图片"));
  setCaption(LB_WelInfo, FindPageItem("欢迎", "欢迎信息"));
  setCaption(Label32, FindPageItem("欢迎", "安装说明"));
  setCaption(lVersion, FindPageItem("欢迎", "版权信息"), true);
  setCaption(lLink, FindPageItem("欢迎", "网站链接"), true);
  ShowPicture(Img_Pro_Head, "安装协议说明", FindPageItem("安装协议说明", "标题图片"));
  LoadLines(m_Protected, FindPageItem("安装协议说明", "安装协议"));
  ShowPicture(Image2, "软件使用说明", FindPageItem("软件使用说明", "标题图片"));
  LoadLines(m_ReadMe, FindPageItem("软件使用说明", "说明协议"));
  ShowPicture(Image3, "选择程序文件夹", FindPageItem("选择程序文件夹", "标题图片"));
  AnsiString v = FindPageItem("选择程序文件夹", "程序文件夹名称");
  if (!v.empty()) EditChanged(Edt_SelectFolder, v);
  if (FindPageItem("选择程序文件夹", "允许用户更改文件夹名称") == kNo) {
    Edt_SelectFolder.ReadOnly = true;
    Changed(Edt_SelectFolder);
  }
  ShowPicture(Image5, "选择安装组件", FindPageItem("选择安装组件", "标题图片"));
  ShowPicture(Image6, "选择安装文件夹", FindPageItem("选择安装文件夹", "标题图片"));
  v = FindPageItem("选择安装文件夹", "程序文件夹名称");
  if (!v.empty()) EditChanged(eInsDir, v.find(':') == AnsiString::npos ? programFiles + "\\" + v : v);
  if (FindPageItem("选择安装文件夹", "允许用户更改文件夹名称") == kNo) {
    eInsDir.ReadOnly = true;
    bBrowse.Enabled = false;
    Changed(eInsDir);
    Changed(bBrowse);
  }
  ShowPicture(Image7, "确认安装", FindPageItem("确认安装", "标题图片"));
  ShowPicture(Image8, "安装进程", FindPageItem("安装进程", "标题图片"));
  if (FindPageItem("安装进程", "显示进度") == kNo) {
    for (TControl* c : {&Label30, &Label31, &ProgressBar1}) {
      c->Visible = false;
      Changed(*c);
    }
  }
  if (FindPageItem("安装进程", "显示详细内容") == kYes) {
    mInstall.Visible = true;
    Changed(mInstall);
  }
  ShowPicture(Image9, "安装完毕", FindPageItem("安装完毕", "标题图片"));
  lFinished.clear();
  if (FindPageItem("安装完毕", "显示运行主程序选项") == kYes) AddFinishRow("运行“" + FProjectName + "”", "0");
  v = FindPageItem("安装完毕", "自述文件");
  if (!v.empty()) AddFinishRow("运行自述文件", "4", v);
  if (FindPageItem("安装完毕", "显示创建桌面快捷方式选项") == kYes) AddFinishRow("创建快捷方式到桌面", "1");
  if (FindPageItem("安装完毕", "显示创建开始菜单选项") == kYes) AddFinishRow("创建快捷方式到开始菜单", "2");
  if (FindPageItem("安装完毕", "显示创建快速启动栏选项") == kYes) AddFinishRow("创建快捷方式到启动栏", "3");
  if (FView) FView->RowsChanged("lFinished");
  FRebootOffered = FindPageItem("安装完毕", "显示重启计算机选项") == kYes;
  nPagesPageChanged();
}

void TFrm_Setup::FillExistingFolders() {
  List_SelectShot.Clear();
  const AnsiString folder = ShellFolderPath(CSIDL_COMMON_PROGRAMS_) + "\\";
  // Plain and read-only folders only: hidden, system or otherwise flagged entries stay out.
  for (const TSearchRec& r : ListFolder(folder))
    if ((r.Attr & faDirectory) && (r.Attr & ~(faDirectory | faReadOnly)) == 0) List_SelectShot.Add(r.Name);
  if (FView) FView->RowsChanged("List_SelectShot");
}

void TFrm_Setup::List_SelectShotClick(int row) {
  if (Edt_SelectFolder.ReadOnly || row < 0 || row >= List_SelectShot.Count()) return;
  EditChanged(Edt_SelectFolder, List_SelectShot[row]);
}

void TFrm_Setup::List_ComponentClickCheck() {
  if (!List_Component.empty() && !List_Component[0].Checked) {
    List_Component[0].Checked = true;
    if (FView) FView->RowsChanged("List_Component");
  }
  int64_t size = BaseSize();
  for (size_t i = 1; i < List_Component.size(); ++i)
    if (List_Component[i].Checked) size = AddSize(size, ComponentSize(List_Component[i].Text));
  ShowNeededSize(size);
}

void TFrm_Setup::FillComponents() {
  List_Component.clear();
  List_Component.push_back({"主程序", true, {}});
  if (TIntfPtr<IProjectComponents> comps = Supports<IProjectComponents>(FProject)) {
    if (TStringList* names = comps->GetComponents())
      for (const AnsiString& n : *names) List_Component.push_back({n, true, {}});
  }
  if (FView) FView->RowsChanged("List_Component");
}

void TFrm_Setup::EditChanged(TControl& edit, const AnsiString& text) {
  edit.Caption = text;
  Changed(edit);
  if (&edit == &eInsDir) eInsDirChange();
}

void TFrm_Setup::eInsDirChange() {
  if (eInsDir.Caption.empty()) {
    lDrvSize.Caption = SizeText(0);
  } else {
    lDrvSize.Caption = SizeText(DriveFreeBytes(eInsDir.Caption[0]));
  }
  Changed(lDrvSize);
}

void TFrm_Setup::bBrowseClick() {
  if (!bBrowse.Enabled) return;
  AnsiString folder = eInsDir.Caption;
  if (BrowseFolder("选择安装文件夹", std::u16string(), folder)) EditChanged(eInsDir, folder);
}

void TFrm_Setup::ShowNeededSize(int64_t size) {
  FNeededSize = size;
  lNeedsSize.Caption = SizeText(size);
  Label9.Caption = "所需空间大小:" + SizeText(size);
  Changed(lNeedsSize);
  Changed(Label9);
}

int64_t TFrm_Setup::BaseSize() {
  int64_t sum = 0;
  for (TInsPackRec* r : FFileList)
    if (r->Kind == pkProgramFile || r->Kind == pkGroupFile) sum = AddSize(sum, r->FileSize);
  return sum;
}

int64_t TFrm_Setup::ComponentSize(const AnsiString& name) {
  // No catalogue entry (a list of fewer than two) counts every component as 0 bytes.
  if (FFileList.Count() < 2) return 0;
  // Read once: every click on the list asks for the size of every ticked component.
  const AnsiString catalogue = FFileList[1]->Name;
  if (!FCatalogue || FCatalogueName != catalogue) {
    FCatalogueName = catalogue;
    FCatalogue = std::make_unique<TIniData>(AnsiString());
    try {
      if (!catalogue.empty() && FileExists(catalogue)) FCatalogue = std::make_unique<TIniData>(ReadFileText(catalogue));
    } catch (const Exception&) {
    }
  }
  return FCatalogue->ReadInteger("ComSize", name, 0);
}

int64_t TFrm_Setup::InitialNeededSize() {
  int64_t size = BaseSize();
  if (TIntfPtr<IProjectComponents> comps = Supports<IProjectComponents>(FProject)) {
    if (TStringList* names = comps->GetComponents())
      for (const AnsiString& n : *names) size = AddSize(size, ComponentSize(n));
  }
  return size;
}

AnsiString TFrm_Setup::SizeText(int64_t count) {
  const char* unit;
  double divisor;
  if (count < 1048576LL) {
    unit = " KB";
    divisor = 1024.0;
  } else if (count < 1073741824LL) {
    unit = " MB";
    divisor = 1048576.0;
  } else {
    unit = " GB";
    divisor = 1073741824.0;
  }
  // Four decimals first, then two, both half away from zero, in whole numbers so that
  // 1.005 does not turn into 1.00 through binary fractions.
  const int64_t tenThousandths = RoundHalfAway(static_cast<double>(count) / divisor * 10000.0);
  const int64_t magnitude = tenThousandths < 0 ? -tenThousandths : tenThousandths;
  const int64_t hundredths = (magnitude + 50) / 100;
  AnsiString text = (tenThousandths < 0 && hundredths != 0) ? "-" : "";
  text += IntToStr(hundredths / 100) + DecimalSeparator();
  const int64_t cents = hundredths % 100;
  if (cents < 10) text += "0";
  text += IntToStr(cents);
  return text + unit;
}
