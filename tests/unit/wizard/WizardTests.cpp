#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "core/Sysconsts.h"
#include "system/Dialogs.h"
#include "system/FileCtrl.h"
#include "system/FileStream.h"
#include "system/Platform.h"
#include "system/Sandbox.h"
#include "system/SysKernel.h"
#include "unit/wizard/Fakes.h"
#include "engine/Compile.h"
#include "wizard/SetupEntry.h"
#include "wizard/SetupForm.h"

namespace {

void WriteText(const AnsiString& fileName, const AnsiString& text) {
  TFileStream f(fileName, fmCreate);
  f.Write(text.data(), text.size());
}

AnsiString ReadAll(const AnsiString& fileName) {
  if (!FileExists(fileName)) return "<missing>";
  TFileStream f(fileName, fmOpenRead | fmShareDenyNone);
  AnsiString s(static_cast<size_t>(f.Size()), '\0');
  if (!s.empty()) f.ReadBuffer(s.data(), s.size());
  return s;
}

struct TBox {
  TBoxStyle Style;
  AnsiString Caption, Text;
};

class WizardTest : public ::testing::Test {
protected:
  TFakeProject* Project = new TFakeProject;
  TFakeCompile* Engine = new TFakeCompile;
  TIntfPtr<IProject> ProjectRef{Project};
  TIntfPtr<ICompile> EngineRef{Engine};
  TFakeView View;
  std::vector<TBox> Boxes;
  bool Answer = false;
  std::string Root;

  void SetUp() override {
#ifndef _WIN32
    char tmpl[] = "/tmp/wizard-test-XXXXXX";
    Root = mkdtemp(tmpl);
    SetSandboxRoot(Root);
#endif
    auto responder = std::make_shared<TDialogResponder>();
    responder->MessageBox = [this](TBoxStyle style, const AnsiString& caption, const AnsiString& text) {
      Boxes.push_back({style, caption, text});
      return Answer;
    };
    SetDialogResponder(responder);
    Project->AddWork("项目名称", "示例软件");
    // A package of four entries: project, catalogue, one program file, the uninstaller.
    Engine->Release = [](TInsPackList& list, const TReleaseProgressEvent& progress) {
      const uint8_t kinds[] = {pkSupport, pkSupport, pkProgramFile, pkUninstaller};
      for (int i = 0; i < 4; ++i) {
        TInsPackRec* r = list.Add();
        r->Kind = kinds[i];
        r->FileSize = 1000 * (i + 1);
        if (progress) progress(4, i + 1, r->Name, false);
      }
    };
    Engine->Install = [](const TReleaseProgressEvent& progress) {
      progress(3, 2, "C:\\a.exe", false);
      progress(3, 3, "安装完成", true);
    };
  }
  void TearDown() override {
    SetDialogResponder(nullptr);
#ifndef _WIN32
    std::system(("rm -rf '" + Root + "'").c_str());
#endif
  }
  // The sandbox writes started programs to its command log; Windows would really start them.
  static constexpr bool kSandbox =
#ifdef _WIN32
      false;
#else
      true;
#endif
  std::string CommandLog() {
    std::ifstream f(Root + "/commands.log", std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }
};

}  // namespace

TEST_F(WizardTest, SilentProjectInstallsOnceSavesTheLogAndOpensTheAfterInstallFiles) {
  Project->AddWork("安装界面显示", "否");
  Project->Components = {"数据库", "帮助 文件"};
  Project->AddPage("选择安装文件夹", "程序文件夹名称", "示例\\软件");
  Project->AddPage("选择程序文件夹", "程序文件夹名称", "示例组");
  const AnsiString runFile = TempFolder() + "说明-wizard.txt";
  WriteText(runFile, "x");
  if (kSandbox) {
    Project->RunWebPage = "http://example.com/";
    Project->RunFile = runFile;
  }
  int cleared = 0;
  Engine->ClearCounter = &cleared;
  {
    TFrm_Setup form(ProjectRef, EngineRef, &View);
    EXPECT_EQ(Engine->SetProjectCalls, 1);
    form.FormShow();

    EXPECT_EQ(Engine->ReleasedFile, ApplicationExeName());
    EXPECT_EQ(form.FileList().Count(), 4);
    ASSERT_EQ(Engine->Installs.size(), 1u);
    const TInstallCall& call = Engine->Installs[0];
    EXPECT_EQ(call.GroupFolder, "示例组");
    EXPECT_EQ(call.InstallDir, ProgramFilesFolder() + "\\示例\\软件");
    EXPECT_EQ(call.Components, "数据库,\"帮助 文件\"");
    EXPECT_EQ(call.ExeName, ApplicationExeName());
    EXPECT_EQ(Engine->SaveLogCalls, 1);
    EXPECT_EQ(form.PageIndex(), TFrm_Setup::kFinishPage);
    EXPECT_TRUE(View.Destroyed);
    EXPECT_TRUE(Boxes.empty()) << "a silent setup never asks";
    EXPECT_EQ(form.Form.Caption, "“示例软件”安装向导");
    EXPECT_EQ(ApplicationTitle(), "“示例软件”安装向导");
    EXPECT_EQ(form.LB_WelInfo.Caption, "欢迎使用“示例软件”，这个向导将指引您完成对“示例软件”的安装进程。");
    EXPECT_FALSE(form.Failed());
  }
  EXPECT_EQ(cleared, 1);
  DeleteFileAt(runFile);
  if (!kSandbox) return;
  std::string log = CommandLog();
  EXPECT_NE(log.find("open: " + runFile), std::string::npos) << log;
  EXPECT_NE(log.find("open: http://example.com/"), std::string::npos) << log;
}

TEST_F(WizardTest, SilentDecisionFollowsTheFirstInterfaceSetting) {
  TFrm_Setup form(ProjectRef, EngineRef, &View);
  EXPECT_TRUE(form.IsSilentInstall()) << "no setting means silent";
  Project->AddWork("安装界面显示", "是");
  EXPECT_FALSE(form.IsSilentInstall());
  Project->Works[1]->Value = "是 ";
  EXPECT_TRUE(form.IsSilentInstall()) << "only exactly 是 is interactive";
  Project->Works[1]->Value = "是";
  Project->AddWork("安装界面显示", "否");
  EXPECT_FALSE(form.IsSilentInstall()) << "the first setting wins";
}

TEST_F(WizardTest, InteractiveProjectWaitsOnTheWelcomePage) {
  Project->AddWork("安装界面显示", "是");
  TFrm_Setup form(ProjectRef, EngineRef, &View);
  form.FormShow();
  EXPECT_TRUE(Engine->Installs.empty());
  EXPECT_FALSE(View.Destroyed);
  EXPECT_EQ(form.PageIndex(), 0);
  EXPECT_FALSE(form.bPrevious.Visible);
  EXPECT_EQ(form.bNext.Caption, "下一步(&N)->");
  EXPECT_EQ(form.Edt_SelectFolder.Caption, "示例软件");
  EXPECT_EQ(form.eInsDir.Caption, ProgramFilesFolder());

  EXPECT_EQ(form.ExitCode(), 1602) << "closed now, it was cancelled";

  // While it waits there, a second setup of the same product leaves with a box and 1618.
  {
    TFakeView second;
    TFrm_Setup busy(ProjectRef, EngineRef, &second);
    busy.FormShow();
    EXPECT_TRUE(Engine->Installs.empty());
    EXPECT_TRUE(second.Pages.empty());
    EXPECT_EQ(busy.ExitCode(), 1618);
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Style, TBoxStyle::Error);
    EXPECT_NE(Boxes[0].Text.find("“示例软件”的另一个安装程序或卸载程序正在运行"), std::string::npos) << Boxes[0].Text;
  }
}

TEST_F(WizardTest, AProjectWithoutPagesInstallsAtOnceAndOtherProductsAreNotHeldUp) {
  Project->AddWork("安装界面显示", "是");
  TFrm_Setup waiting(ProjectRef, EngineRef, &View);
  waiting.FormShow();
  ASSERT_EQ(waiting.PageIndex(), 0);
  Project->Works[0]->Value = "另一软件";

  // Until the pages exist the window installs such a project straight away.
  TFakeView noPages;
  noPages.Interactive = false;
  TFrm_Setup form2(ProjectRef, EngineRef, &noPages);
  form2.FormShow();
  EXPECT_EQ(Engine->Installs.size(), 1u);
  EXPECT_EQ(noPages.Pages, (std::vector<int>{7, 8})) << "installs on the progress page";
  EXPECT_TRUE(noPages.Destroyed);
  EXPECT_EQ(form2.ExitCode(), 0);
  EXPECT_TRUE(Boxes.empty());
}

TEST_F(WizardTest, NavigationSkipsHiddenPagesAndStartsTheInstallationOnTheProgressPage) {
  for (const char* page : {"欢迎", "确认安装", "安装进程", "安装完毕"}) Project->AddPage(page, "页面显示", "是");
  Project->AddPage("软件使用说明", "页面显示", "否");
  TFrm_Setup form(ProjectRef, EngineRef, &View);
  EXPECT_EQ(form.NextShownPage(0, true), 6);
  EXPECT_EQ(form.NextShownPage(6, false), 0) << "welcome is always reachable backward";
  EXPECT_EQ(form.NextShownPage(0, false), -1);
  EXPECT_EQ(form.NextShownPage(8, true), -1);

  form.bNextClick();
  EXPECT_EQ(form.PageIndex(), 6);
  EXPECT_TRUE(form.bPrevious.Visible);
  EXPECT_TRUE(Engine->Installs.empty());
  form.bPreviousClick();
  EXPECT_EQ(form.PageIndex(), 0);
  EXPECT_FALSE(form.bPrevious.Visible);
  form.bNextClick();
  form.bNextClick();
  ASSERT_EQ(Engine->Installs.size(), 1u) << "landing on the progress page installs";
  EXPECT_EQ(form.PageIndex(), 8) << "the completion report moves to the finish page";
  EXPECT_FALSE(form.bNext.Visible);
  EXPECT_FALSE(form.bPrevious.Visible);
  EXPECT_TRUE(form.bCancel.Enabled);
  EXPECT_EQ(form.bCancel.Caption, "完成(&F)");
  EXPECT_EQ(form.bCancel.Tag, 1);
  EXPECT_EQ(View.Pages, (std::vector<int>{6, 0, 6, 7, 8}));

  // Without a shown progress page Next skips to the finish page and installs nothing.
  TFakeProject* p2 = new TFakeProject;
  TIntfPtr<IProject> ref2(p2);
  p2->AddPage("安装协议说明", "页面显示", "是");
  p2->AddPage("安装完毕", "页面显示", "是");
  TFakeCompile* e2 = new TFakeCompile;
  TIntfPtr<ICompile> eref2(e2);
  TFrm_Setup form2(ref2, eref2, &View);
  form2.bNextClick();
  EXPECT_EQ(form2.PageIndex(), 1);
  EXPECT_EQ(form2.bNext.Caption, "我同意");
  form2.bNextClick();
  EXPECT_EQ(form2.PageIndex(), 8);
  EXPECT_TRUE(e2->Installs.empty());
}

TEST_F(WizardTest, InstallationArgumentsFollowTheChecksAndFolderItems) {
  Project->AddWork("安装界面显示", "是");
  Project->Components = {"A", "B\"C", ""};
  Project->AddPage("选择安装文件夹", "程序文件夹名称", "D:\\软件");
  Project->AddPage("选择安装文件夹", "程序文件夹名称", "第二个");
  TFrm_Setup form(ProjectRef, EngineRef, &View);
  form.FormShow();
  EXPECT_EQ(form.eInsDir.Caption, "D:\\软件") << "a value with a colon is the folder itself; the first item wins";
  ASSERT_EQ(form.List_Component.size(), 4u);
  EXPECT_EQ(form.List_Component[0].Text, "主程序");
  form.List_Component[0].Checked = false;  // row 0 is never passed
  form.List_Component[1].Checked = false;
  form.StartInstallation();
  ASSERT_EQ(Engine->Installs.size(), 1u);
  EXPECT_EQ(Engine->Installs[0].Components, "\"B\"\"C\",");
  EXPECT_EQ(Engine->Installs[0].GroupFolder, "示例软件");

  form.List_Component[2].Checked = false;
  form.StartInstallation();
  EXPECT_EQ(Engine->Installs[1].Components, "\"\"") << "one empty item gives two quotes";
  form.List_Component[3].Checked = false;
  form.StartInstallation();
  EXPECT_EQ(Engine->Installs[2].Components, "");
}

TEST_F(WizardTest, ProgressReportsShowPercentAndDetailLines) {
  Project->AddWork("安装界面显示", "是");
  {
    TFrm_Setup hidden(ProjectRef, EngineRef, &View);
    hidden.FormShow();
    hidden.OnInstallProgress(3, 1, "a", false);
    EXPECT_FALSE(hidden.mInstall.Visible) << "the details stay hidden unless the project shows them";
    EXPECT_TRUE(View.Lines["mInstall"].empty());
  }
  Project->AddPage("安装进程", "显示详细内容", "是");
  TFrm_Setup form(ProjectRef, EngineRef, &View);
  form.FormShow();
  form.OnInstallProgress(3, 1, "a", false);
  EXPECT_EQ(form.Label31.Caption, "33%");
  form.OnInstallProgress(3, 2, "b", false);
  EXPECT_EQ(form.Label31.Caption, "67%");
  EXPECT_EQ(form.Label30.Caption, "b");
  EXPECT_EQ(form.ProgressBar1.Position, 2);
  form.OnInstallProgress(3, 5, "c", false);
  EXPECT_EQ(form.Label31.Caption, "100%");
  form.OnInstallProgress(0, 0, "d", false);
  EXPECT_EQ(form.Label31.Caption, "0%") << "no steps: done only with the completion report";
  EXPECT_EQ(View.Lines["mInstall"], (std::vector<AnsiString>{"a", "b", "c", "d"}));
  EXPECT_TRUE(form.mInstall.Caption.empty()) << "the lines are the view's, not copied into the model";
  EXPECT_EQ(form.PageIndex(), 0);
}

TEST_F(WizardTest, UnpackDialogClosesOnlyAfterCompletion) {
  TInsPackList list;
  TFrm_ReleasePlan dialog(Supports<IReleaseWork>(EngineRef));
  dialog.SetFileList(&list);
  dialog.SetView(&View);
  View.Dialog = &dialog;
  View.DialogOpen = true;
  dialog.OnProgress(3, 1, "", false);
  dialog.Timer1Timer();
  View.CloseDialog();  // Alt+F4 before completion
  EXPECT_TRUE(View.DialogOpen);
  EXPECT_FALSE(dialog.FormCloseQuery());
  dialog.OnProgress(3, 2, "", false);
  dialog.OnProgress(3, 3, "", false);
  EXPECT_EQ(dialog.pRelease.Position, dialog.pRelease.Max);
  EXPECT_TRUE(View.DialogOpen) << "the last report alone does not close it: the release may still be writing";
  dialog.Timer1Timer();
  EXPECT_FALSE(View.DialogOpen) << "a tick after completion closes it";

  // Through the wizard: the release reports 4 of 4 and returns, and the dialog goes at once,
  // with no tick of the timer.
  TFrm_Setup form(ProjectRef, EngineRef, &View);
  form.FormShow();
  EXPECT_FALSE(View.DialogOpen);
  EXPECT_EQ(View.DialogTicks, 0);
}

TEST_F(WizardTest, DamagedOrEmptyPackageShowsOneErrorAndEndsWithoutQuestion) {
  Engine->Release = [](TInsPackList& list, const TReleaseProgressEvent& progress) {
    list.Add();
    progress(5, 1, "", false);
    throw EDamagedData("damaged package \"x\": index runs past the end at offset 12");
  };
  {
    TFrm_Setup form(ProjectRef, EngineRef, &View);
    form.FormShow();
    EXPECT_FALSE(View.DialogOpen) << "closed when the release call returned";
    EXPECT_TRUE(form.Failed());
    EXPECT_TRUE(View.Destroyed);
    EXPECT_EQ(form.ExitCode(), 1) << "refused before anything was written";
  }
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0].Style, TBoxStyle::Error);
  EXPECT_EQ(Boxes[0].Text, "damaged package \"x\": index runs past the end at offset 12");
  EXPECT_TRUE(Engine->Installs.empty());

  // A setup program without any package: the release reports nothing at all.
  Boxes.clear();
  Engine->Release = nullptr;
  TFakeView view2;
  TFrm_Setup form(ProjectRef, EngineRef, &view2);
  form.FormShow();
  EXPECT_TRUE(form.Failed());
  EXPECT_EQ(Boxes.size(), 1u);
  EXPECT_TRUE(Engine->Installs.empty());

  // A failing silent installation also reports once and ends.
  Boxes.clear();
  Engine->Release = [](TInsPackList& list, const TReleaseProgressEvent& p) {
    list.Add();
    list.Add();
    p(2, 2, "", false);
  };
  Engine->Install = [](const TReleaseProgressEvent&) { throw EFCreateError("Cannot create file \"C:\\x\". denied"); };
  TFakeView view3;
  TFrm_Setup form3(ProjectRef, EngineRef, &view3);
  form3.FormShow();
  EXPECT_TRUE(form3.Failed());
  EXPECT_TRUE(view3.Destroyed);
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Engine->SaveLogCalls, 0) << "no log beside a main program that was never placed";
}

// What the release unpacked into the temporary folder goes with the window, however it
// ends; the folders it made go once empty, and nothing else is touched.
TEST_F(WizardTest, TheReleasedFilesGoWithTheWindowOnEveryWayOut) {
  const AnsiString t = TempFolder() + "gbwizard-clean\\";
  const AnsiString theirs = TempFolder() + "gbwizard-theirs.txt";
  for (const char* way : {"silent", "cancel", "failed run", "refused package"}) {
    SCOPED_TRACE(way);
    ForceFolders(t);
    WriteText(theirs, "not the setup's");
    WriteText(t + "other.txt", "there before, in a folder the release made");
    auto engine = new TFakeCompile;
    TIntfPtr<ICompile> engineRef(engine);
    const bool refused = AnsiString(way) == "refused package";
    if (!refused) {
      engine->UnpackedFiles = {t + "p.gbp", t + "pic\\head.jpg", t + "pic\\cut-short.jpg"};
      engine->UnpackedFolders = {TempFolder() + "gbwizard-clean", t + "pic"};
    }
    engine->Release = [&, refused](TInsPackList& list, const TReleaseProgressEvent& progress) {
      if (refused) throw EDamagedData("damaged");
      ForceFolders(t + "pic");
      WriteText(t + "p.gbp", "project");
      WriteText(t + "pic\\head.jpg", "picture");  // the third was never made
      for (int i = 0; i < 3; ++i) list.Add()->Kind = i == 2 ? pkUninstaller : pkSupport;
      if (progress) progress(3, 3, "", false);
    };
    engine->Install = [way](const TReleaseProgressEvent& progress) {
      if (AnsiString(way) == "failed run") throw EInstallFailed("安装没有完成");
      progress(1, 1, "安装完成", true);
    };
    auto project = new TFakeProject;
    TIntfPtr<IProject> projectRef(project);
    project->AddWork("项目名称", "示例软件");
    project->AddWork("安装界面显示", AnsiString(way) == "cancel" ? "是" : "否");
    Answer = true;
    {
      TFakeView view;
      TFrm_Setup form(projectRef, engineRef, &view);
      form.FormShow();
      if (AnsiString(way) == "cancel") {
        EXPECT_TRUE(FileExists(t + "pic\\head.jpg")) << "still there while the wizard shows";
        form.bCancelClick();
      }
      EXPECT_TRUE(view.Destroyed);
    }
    EXPECT_FALSE(FileExists(t + "p.gbp"));
    EXPECT_FALSE(FolderExists(t + "pic"));
    EXPECT_EQ(ReadAll(t + "other.txt"), "there before, in a folder the release made");
    EXPECT_EQ(ReadAll(theirs), "not the setup's");
    DeleteFileAt(t + "other.txt");
    RemoveFolder(t + "pic");
    RemoveFolder(TempFolder() + "gbwizard-clean");
    DeleteFileAt(theirs);
  }
}

TEST_F(WizardTest, CloseAsksUnlessFinishedAndOpensAfterInstallFilesOnTheLastPage) {
  Project->AddWork("安装界面显示", "是");
  if (kSandbox) Project->RunWebPage = "http://example.com/";
  TFrm_Setup form(ProjectRef, EngineRef, &View);
  form.FormShow();
  Answer = false;
  form.bCancelClick();
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0].Style, TBoxStyle::Question);
  EXPECT_EQ(Boxes[0].Caption, "“示例软件”安装向导");
  EXPECT_EQ(Boxes[0].Text, "安装向导没有完成\"示例软件\"安装, \r\n确定要退出该安装向导吗?");
  EXPECT_FALSE(View.Destroyed) << "No keeps the wizard";
  if (kSandbox) { EXPECT_EQ(CommandLog().find("http"), std::string::npos) << "only the last page opens the web page"; }

  // The title-bar close on the finish page: asked, and the web page opens whatever the answer.
  form.SetPageIndex(TFrm_Setup::kFinishPage);
  form.SetModalResult(mrNone);
  form.Close();
  EXPECT_EQ(Boxes.size(), 2u);
  EXPECT_FALSE(View.Destroyed);
  if (kSandbox) { EXPECT_NE(CommandLog().find("open: http://example.com/"), std::string::npos); }
  Answer = true;
  form.Close();
  EXPECT_TRUE(View.Destroyed);
}

// Installed, then closed on the finish page without Finish: the log is still written, once.
TEST_F(WizardTest, ClosingAfterTheInstallationWithoutFinishStillSavesTheLog) {
  for (const char* page : {"欢迎", "安装进程", "安装完毕"}) Project->AddPage(page, "页面显示", "是");
  Project->AddWork("安装界面显示", "是");
  TFrm_Setup form(ProjectRef, EngineRef, &View);
  form.FormShow();
  form.bNextClick();
  ASSERT_EQ(form.PageIndex(), TFrm_Setup::kFinishPage);
  EXPECT_EQ(Engine->SaveLogCalls, 0);
  Answer = true;
  form.Close();
  EXPECT_TRUE(View.Destroyed);
  EXPECT_EQ(Engine->SaveLogCalls, 1);
  form.Close();
  EXPECT_EQ(Engine->SaveLogCalls, 1);
  // Closed before the installation: nothing to log.
  TFakeView view2;
  TFrm_Setup before(ProjectRef, EngineRef, &view2);
  before.FormShow();
  before.Close();
  EXPECT_TRUE(view2.Destroyed);
  EXPECT_EQ(Engine->SaveLogCalls, 1);
}

TEST(WizardSizes, SizeTextPicksTheUnitAndRoundsHalfAway) {
  EXPECT_EQ(TFrm_Setup::SizeText(0), "0.00 KB");
  EXPECT_EQ(TFrm_Setup::SizeText(1536), "1.50 KB");
  EXPECT_EQ(TFrm_Setup::SizeText(1048575), "1024.00 KB");
  EXPECT_EQ(TFrm_Setup::SizeText(1048576), "1.00 MB");
  EXPECT_EQ(TFrm_Setup::SizeText(1073741823), "1024.00 MB");
  EXPECT_EQ(TFrm_Setup::SizeText(5368709120LL), "5.00 GB");
  EXPECT_EQ(TFrm_Setup::SizeText(-1), "0.00 KB");
  EXPECT_EQ(TFrm_Setup::SizeText(-1536), "-1.50 KB");
  // 87 / 1024 = 0.08496...: four decimals give 0.0850, which shows as 0.09, not 0.08.
  EXPECT_EQ(TFrm_Setup::SizeText(87), "0.09 KB");
}

TEST_F(WizardTest, NeededSizeCountsProgramFilesAndCatalogueSizes) {
  Project->AddWork("安装界面显示", "是");
  Project->Components = {"甲", "乙", "丙"};
  const AnsiString catalogue = TempFolder() + "ComList-wizard.ini";
  WriteText(catalogue, "[ComSize]\r\n甲=2048\r\n乙=-1000\r\n丙=abc\r\n");
  Engine->Release = [catalogue](TInsPackList& list, const TReleaseProgressEvent& p) {
    list.Add()->Kind = pkSupport;
    TInsPackRec* cat = list.Add();
    cat->Name = catalogue;
    for (uint8_t k : {pkProgramFile, pkGroupFile, pkComponentFile}) {
      TInsPackRec* r = list.Add();
      r->Kind = k;
      r->FileSize = 10000;
    }
    p(1, 1, "", false);
  };
  TFrm_Setup form(ProjectRef, EngineRef, &View);
  form.FormShow();
  EXPECT_EQ(form.BaseSize(), 20000);
  EXPECT_EQ(form.NeededSize(), 20000 + 2048 - 1000);
  EXPECT_EQ(form.Label9.Caption, "所需空间大小:" + TFrm_Setup::SizeText(21048));
  EXPECT_EQ(form.lNeedsSize.Caption, TFrm_Setup::SizeText(21048));

  // The main program row cannot be unchecked; unchecking 甲 drops its 2048 bytes.
  form.List_Component[0].Checked = false;
  form.List_Component[1].Checked = false;
  form.List_ComponentClickCheck();
  EXPECT_TRUE(form.List_Component[0].Checked);
  EXPECT_EQ(form.NeededSize(), 20000 - 1000);
  for (TCheckRow& r : form.List_Component) r.Checked = false;
  form.List_ComponentClickCheck();
  EXPECT_EQ(form.NeededSize(), form.BaseSize());

  // Sizes of a hostile index stop at the largest count instead of wrapping round.
  for (int i = 0; i < 2; ++i) {
    TInsPackRec* huge = form.FileList().Add();
    huge->Kind = pkProgramFile;
    huge->FileSize = INT64_MAX;
  }
  EXPECT_EQ(form.BaseSize(), INT64_MAX);
  form.List_Component[1].Checked = true;
  form.List_ComponentClickCheck();
  EXPECT_EQ(form.NeededSize(), INT64_MAX);
  EXPECT_EQ(form.Label9.Caption, "所需空间大小:8589934592.00 GB");
  DeleteFileAt(catalogue);
}

#ifndef _WIN32
TEST_F(WizardTest, EntryRelaunchesElevatedOnlyOnNt6WithoutParameters) {
  EXPECT_DOUBLE_EQ(VersionNumber("6.1"), 6.1);
  EXPECT_DOUBLE_EQ(VersionNumber("10.0"), 10.0);
  EXPECT_DOUBLE_EQ(VersionNumber("2"), 2.0);
  int wizardRuns = 0;
  auto wizard = [&] {
    ++wizardRuns;
    return 7;
  };
  const TSetupSwitches none = ParseSetupSwitches(std::vector<AnsiString>{});
  const TSetupSwitches other = ParseSetupSwitches(std::vector<AnsiString>{"x"});
  SetSandboxElevation(false, 1603);
  SetSandboxVersion("6.1");
  EXPECT_EQ(SetupEntry(none, wizard), 1603) << "the elevated instance's code is the run's";
  EXPECT_EQ(wizardRuns, 0);
  EXPECT_NE(CommandLog().find("runas: " + ApplicationExeName() + " Ins\n"), std::string::npos) << CommandLog();
  EXPECT_EQ(SetupEntry(other, wizard), 7) << "any parameter runs the wizard here";
  for (const char* v : {"5.1", "2", "1", "0"}) {
    SetSandboxVersion(v);
    EXPECT_EQ(SetupEntry(none, wizard), 7) << v;
  }
  EXPECT_EQ(wizardRuns, 5);

  // Switches alone still relaunch, and go with it: /D= last and unquoted.
  SetSandboxVersion("6.1");
  SetSandboxElevation(false, 3010);
  EXPECT_EQ(SetupEntry(ParseSetupSwitches(std::vector<AnsiString>{"/d=C:\\Deploy", "2\\X"}), wizard), 3010);
  const TSetupSwitches many = ParseSetupSwitches(
      std::vector<AnsiString>{"/VerySilent", "/DIR=C:\\Deploy\\Hello 示例\\", "/LOG", "/NORESTART"});
  EXPECT_EQ(SetupEntry(many, wizard), 3010);
  EXPECT_EQ(wizardRuns, 5);
  EXPECT_NE(CommandLog().find("runas: " + ApplicationExeName() + " Ins /D=C:\\Deploy 2\\X\n"), std::string::npos)
      << CommandLog();
  EXPECT_NE(CommandLog().find("runas: " + ApplicationExeName() +
                              " Ins /VerySilent \"/DIR=C:\\Deploy\\Hello 示例\\\\\" /LOG /NORESTART\n"),
            std::string::npos)
      << CommandLog();
  // What the elevated instance reads back is what was typed.
  const TSetupSwitches again = ParseSetupSwitches(SplitCommandLine("Ins " + many.PassOn));
  EXPECT_TRUE(again.OtherParameters);
  EXPECT_EQ(again.Dir.value_or(""), "C:\\Deploy\\Hello 示例\\");
  EXPECT_TRUE(again.Log && again.NoRestart && again.NoBoxes());

  // /? and a bad switch: the list in a box, nothing relaunched or run; none with /VERYSILENT.
  const size_t logged = CommandLog().size();
  EXPECT_EQ(SetupEntry(ParseSetupSwitches(std::vector<AnsiString>{"/?"}), wizard), 0);
  EXPECT_EQ(SetupEntry(ParseSetupSwitches(std::vector<AnsiString>{"/DIR"}), wizard), 87);
  EXPECT_EQ(SetupEntry(ParseSetupSwitches(std::vector<AnsiString>{"/bogus", "/S"}), wizard), 87);
  EXPECT_EQ(wizardRuns, 5);
  EXPECT_EQ(CommandLog().size(), logged);
  ASSERT_EQ(Boxes.size(), 2u);
  EXPECT_EQ(Boxes[0].Style, TBoxStyle::Info);
  EXPECT_NE(Boxes[0].Text.find("3010"), AnsiString::npos);
  EXPECT_EQ(Boxes[1].Style, TBoxStyle::Error);
  EXPECT_NE(Boxes[1].Text.find("/DIR"), AnsiString::npos);
  EXPECT_NE(Boxes[1].Text.find("/SUPPRESSMSGBOXES"), AnsiString::npos);
  Boxes.clear();

  SetSandboxVersion("6.0");
  SetSandboxElevation(true, 0);
  EXPECT_EQ(SetupEntry(none, wizard), 1);
  EXPECT_EQ(wizardRuns, 5);
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0].Style, TBoxStyle::Error);
  EXPECT_EQ(Boxes[0].Text, "Operation aborted");
  SetSandboxElevation(false, 0);
  SetSandboxVersion("6.1");
}
#endif

TEST_F(WizardTest, ExistingProgramFoldersListPlainFoldersAndFillTheFolderBox) {
  const AnsiString programs = ShellFolderPath(CSIDL_COMMON_PROGRAMS_) + "\\";
  ASSERT_TRUE(ForceFolders(programs + "GbWizard附件"));
  WriteText(programs + "GbWizard文件.txt", "x");
  TFrm_Setup form(ProjectRef, EngineRef, &View);
  const int row = form.List_SelectShot.IndexOf("GbWizard附件");
  EXPECT_GE(row, 0);
  EXPECT_LT(form.List_SelectShot.IndexOf("GbWizard文件.txt"), 0) << "files are not program folders";
  form.List_SelectShotClick(row);
  EXPECT_EQ(form.Edt_SelectFolder.Caption, "GbWizard附件");
  form.Edt_SelectFolder.ReadOnly = true;
  form.Edt_SelectFolder.Caption = "固定";
  form.List_SelectShotClick(row);
  EXPECT_EQ(form.Edt_SelectFolder.Caption, "固定") << "a read-only box keeps its text";
  RemoveFolder(programs + "GbWizard附件");
  DeleteFileAt(programs + "GbWizard文件.txt");
}

TEST_F(WizardTest, UnpackDialogShowsThePackageCheckWithoutCountingItAsDone) {
  TInsPackList list;
  TFrm_ReleasePlan dialog(Supports<IReleaseWork>(EngineRef));
  dialog.SetFileList(&list);
  dialog.SetView(&View);
  View.Dialog = &dialog;
  View.DialogOpen = true;
  dialog.OnProgress(11, 0, "", true);
  EXPECT_EQ(dialog.Label1.Caption, TFrm_ReleasePlan::kCheckText);
  dialog.OnProgress(11, 10, "", true);
  EXPECT_EQ(dialog.pRelease.Position, 10);
  dialog.OnProgress(1, 1, "", true);  // even a check report at its maximum
  dialog.Timer1Timer();
  EXPECT_TRUE(View.DialogOpen);
  EXPECT_FALSE(dialog.Done());
  dialog.OnProgress(2, 1, "", false);
  EXPECT_EQ(dialog.Label1.Caption, TFrm_ReleasePlan::kUnpackText);
  EXPECT_EQ(dialog.pRelease.Max, 2);
  dialog.OnProgress(2, 2, "", false);
  dialog.Timer1Timer();
  EXPECT_FALSE(View.DialogOpen);
}

TEST_F(WizardTest, AFailedInstallationShowsItsOneBoxAndEnds) {
  const AnsiString message = "安装没有完成：Cannot create file \"C:\\A\\a.dll\". 拒绝访问。\r\n\r\n安装向导已撤销本次安装所做的全部更改。";
  Engine->Install = [&](const TReleaseProgressEvent& progress) {
    progress(4, 2, "C:\\A\\b.dll", false);
    throw EInstallFailed(message);
  };
  // Interactive: Next onto the progress page.
  for (const char* page : {"欢迎", "安装进程", "安装完毕"}) Project->AddPage(page, "页面显示", "是");
  Project->AddWork("安装界面显示", "是");
  {
    TFrm_Setup form(ProjectRef, EngineRef, &View);
    form.FormShow();
    form.bNextClick();
    EXPECT_TRUE(form.Failed());
    EXPECT_TRUE(View.Destroyed) << "ends without the exit question";
    EXPECT_EQ(form.PageIndex(), TFrm_Setup::kProgressPage);
    EXPECT_EQ(form.ExitCode(), 1603) << "failed and undone";
  }
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0].Style, TBoxStyle::Error);
  EXPECT_EQ(Boxes[0].Text, message);
  EXPECT_EQ(Engine->SaveLogCalls, 0);

  // Silent: the same single box.
  Boxes.clear();
  Project->Works[1]->Value = "否";
  TFakeView silentView;
  TFrm_Setup silent(ProjectRef, EngineRef, &silentView);
  silent.FormShow();
  EXPECT_TRUE(silent.Failed());
  EXPECT_EQ(silent.ExitCode(), 1603);
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0].Text, message);
  EXPECT_EQ(Engine->SaveLogCalls, 0);
}

TEST_F(WizardTest, PageItemsFillThePagesInTheirOrderAndFirstItemWins) {
  Project->AddWork("安装界面显示", "是");
  ForceFolders(TempFolder());
  WriteText(TempFolder() + "Readme.txt", "自述\r\n第二行\r\n");
  WriteText(TempFolder() + "Protocel.txt", "默认协议\r\n");
  const AnsiString licence = TempFolder() + "协议.txt";
  WriteText(licence, "项目协议\n第二行");
  Project->AddPage("欢迎", "欢迎信息", "欢迎 %s 原样");
  Project->AddPage("欢迎", "欢迎信息", "第二个不用");
  Project->AddPage("欢迎", "版权信息", "版权所有");
  Project->AddPage("欢迎", "网站链接", "http://example.com/软件");
  Project->AddPage("安装协议说明", "安装协议", licence);
  Project->AddPage("软件使用说明", "说明协议", TempFolder() + "没有这个文件.txt");
  Project->AddPage("选择程序文件夹", "程序文件夹名称", "我的程序");
  Project->AddPage("选择程序文件夹", "允许用户更改文件夹名称", "否");
  Project->AddPage("选择安装文件夹", "程序文件夹名称", "示例");
  Project->AddPage("选择安装文件夹", "允许用户更改文件夹名称", "否");
  Project->AddPage("安装进程", "显示进度", "否");
  Project->AddPage("安装完毕", "显示创建快速启动栏选项", "是");
  Project->AddPage("安装完毕", "显示创建开始菜单选项", "是");
  Project->AddPage("安装完毕", "显示创建桌面快捷方式选项", "是");
  Project->AddPage("安装完毕", "自述文件", "C:\\程序\\readme.txt");
  Project->AddPage("安装完毕", "显示运行主程序选项", "是");
  Project->AddPage("安装完毕", "显示重启计算机选项", "是");
  TFrm_Setup form(ProjectRef, EngineRef, &View);
  form.FormShow();

  EXPECT_EQ(form.Form.Caption, "“示例软件”安装向导");
  EXPECT_EQ(form.LB_Head.Caption, "欢迎使用“示例软件”安装向导");
  EXPECT_EQ(form.LB_WelInfo.Caption, "欢迎 %s 原样") << "the item replaces the caption, %s and all";
  EXPECT_NE(form.Label24.Caption.find("把“示例软件”的快捷方式"), AnsiString::npos);
  EXPECT_EQ(form.Lb_Insted_Prog.Caption, "“示例软件”安装向导已完成安装");
  EXPECT_NE(form.Label32.Caption.find("建议先关闭其它应用程序"), AnsiString::npos) << "no item: the layout's text";
  EXPECT_TRUE(form.lVersion.Visible);
  EXPECT_EQ(form.lVersion.Caption, "版权所有");
  EXPECT_TRUE(form.lLink.Visible);
  EXPECT_EQ(form.m_Protected.Caption, "项目协议\r\n第二行\r\n") << "the page's licence replaces Protocel.txt";
  EXPECT_EQ(form.m_ReadMe.Caption, "自述\r\n第二行\r\n") << "a missing file keeps Readme.txt";
  EXPECT_EQ(form.Edt_SelectFolder.Caption, "我的程序");
  EXPECT_TRUE(form.Edt_SelectFolder.ReadOnly);
  form.List_SelectShot.Add("别的文件夹");
  form.List_SelectShotClick(0);
  EXPECT_EQ(form.Edt_SelectFolder.Caption, "我的程序") << "a read-only box ignores the list";
  EXPECT_EQ(form.eInsDir.Caption, ProgramFilesFolder() + "\\示例");
  EXPECT_TRUE(form.eInsDir.ReadOnly);
  EXPECT_FALSE(form.bBrowse.Enabled);
  EXPECT_FALSE(form.Label30.Visible);
  EXPECT_FALSE(form.Label31.Visible);
  EXPECT_FALSE(form.ProgressBar1.Visible);
  EXPECT_FALSE(form.mInstall.Visible);
  EXPECT_TRUE(form.RebootOffered());

  // The rows come in the order of the rules, not of the items, each ticked.
  std::vector<std::string> rows, codes;
  for (const TCheckRow& r : form.lFinished) {
    rows.push_back(r.Text);
    codes.push_back(r.SubItems[0]);
    EXPECT_TRUE(r.Checked);
  }
  EXPECT_EQ(rows, (std::vector<std::string>{"运行“示例软件”", "运行自述文件", "创建快捷方式到桌面", "创建快捷方式到开始菜单",
                                           "创建快捷方式到启动栏"}));
  EXPECT_EQ(codes, (std::vector<std::string>{"0", "4", "1", "2", "3"}));
  EXPECT_EQ(form.lFinished[1].SubItems[1], "C:\\程序\\readme.txt");

  if (kSandbox) {
    form.lLinkClick();
    EXPECT_NE(CommandLog().find("http://example.com/软件"), std::string::npos);
  }

  // Without items every control keeps its layout state.
  TFakeProject* bare = new TFakeProject;
  TIntfPtr<IProject> bareRef(bare);
  bare->AddWork("项目名称", "空");
  TFrm_Setup plain(bareRef, EngineRef, &View);
  plain.FormShow();
  EXPECT_FALSE(plain.lVersion.Visible);
  EXPECT_FALSE(plain.lLink.Visible);
  EXPECT_FALSE(plain.Edt_SelectFolder.ReadOnly);
  EXPECT_TRUE(plain.bBrowse.Enabled);
  EXPECT_TRUE(plain.ProgressBar1.Visible);
  EXPECT_TRUE(plain.lFinished.empty());
  EXPECT_FALSE(plain.RebootOffered());
  EXPECT_EQ(plain.LB_WelInfo.Caption, "欢迎使用“空”，这个向导将指引您完成对“空”的安装进程。");
}

TEST_F(WizardTest, ABadPictureCostsOnlyThatPicture) {
  Project->AddWork("安装界面显示", "是");
  ForceFolders(TempFolder());
  const AnsiString gif = TempFolder() + "head.gif", jpg = TempFolder() + "broken.JPG", bmp = TempFolder() + "ok.bmp";
  for (const AnsiString& f : {gif, jpg, bmp}) WriteText(f, "not really a picture");
  Project->AddPage("欢迎", "标题图片", gif);
  Project->AddPage("安装协议说明", "标题图片", TempFolder() + "missing.bmp");
  Project->AddPage("软件使用说明", "标题图片", jpg);
  Project->AddPage("选择程序文件夹", "标题图片", bmp);
  Project->AddPage("安装完毕", "显示重启计算机选项", "是");
  Project->AddPage("安装完毕", "显示创建桌面快捷方式选项", "是");
  // The window fails on the JPEG's content, as a real decoder would.
  View.OnControlChanged = [&](const TControl& c) {
    if (c.Caption == jpg) throw Exception("图片文件无法读取");
  };
  TFrm_Setup form(ProjectRef, EngineRef, &View);
  form.FormShow();
  ASSERT_EQ(Boxes.size(), 2u) << "one box per bad picture, none for a missing file";
  EXPECT_EQ(Boxes[0].Style, TBoxStyle::Error);
  EXPECT_NE(Boxes[0].Text.find("Unknown picture file extension (.gif)"), AnsiString::npos);
  EXPECT_NE(Boxes[0].Text.find("欢迎"), AnsiString::npos);
  EXPECT_NE(Boxes[0].Text.find(gif), AnsiString::npos);
  EXPECT_NE(Boxes[1].Text.find("图片文件无法读取"), AnsiString::npos);
  EXPECT_NE(Boxes[1].Text.find("软件使用说明"), AnsiString::npos);
  EXPECT_TRUE(form.Image1.Caption.empty());
  EXPECT_TRUE(form.Img_Pro_Head.Caption.empty());
  EXPECT_TRUE(form.Image2.Caption.empty());
  EXPECT_EQ(form.Image3.Caption, bmp);
  EXPECT_TRUE(form.RebootOffered()) << "the rules after a bad picture still apply";
  EXPECT_EQ(form.lFinished.size(), 1u);
  EXPECT_FALSE(View.Destroyed);
}

TEST_F(WizardTest, HostileTextsAndComponentListsStayBounded) {
  Project->AddWork("安装界面显示", "是");
  ForceFolders(TempFolder());
  AnsiString big;
  for (int i = 0; big.size() < 10u * 1024 * 1024; ++i) big += "第" + IntToStr(i) + "行协议文字协议文字\r\n";
  WriteText(TempFolder() + "Protocel.txt", big);
  for (int i = 0; i < 5000; ++i) Project->Components.Add("组件" + IntToStr(i));
  TFrm_Setup form(ProjectRef, EngineRef, &View);
  form.FormShow();
  EXPECT_LE(form.m_Protected.Caption.size(), 1u << 20);
  EXPECT_GT(form.m_Protected.Caption.size(), 1000u * 1000);
  EXPECT_EQ(form.m_Protected.Caption.substr(form.m_Protected.Caption.size() - 2), "\r\n") << "cut at a line end";
  EXPECT_EQ(form.List_Component.size(), 5001u);
}

// From the command line: at once, with the switches' folder and components, the links the
// finish page ticks, nothing started, no box; the restart by the default answer or the code.
TEST_F(WizardTest, SwitchesInstallAtOnceWithTheirChoicesAndStartNothing) {
  Project->AddWork("安装界面显示", "是");
  Project->Components = {"ComA", "ComB"};
  const AnsiString mainProgram = "C:\\示例.exe";
  WriteText(mainProgram, "MZ");
  Project->AddPage("安装完毕", "主程序", mainProgram);
  Project->AddPage("安装完毕", "显示运行主程序选项", "是");
  Project->AddPage("安装完毕", "显示创建桌面快捷方式选项", "是");
  Project->AddPage("安装完毕", "显示重启计算机选项", "是");
  Project->AddShortcut("桌面", "示例", mainProgram);
  Project->RunFile = mainProgram;
  const AnsiString link = ShellFolderPath(CSIDL_DESKTOP_) + "\\示例.lnk";
  auto run = [&](std::vector<AnsiString> args) {
    Engine->Installs.clear();
    View.Destroyed = false;
    TFrm_Setup form(ProjectRef, EngineRef, &View);
    form.SetSwitches(ParseSetupSwitches(args));
    form.FormShow();
    return form.ExitCode();
  };
  // Interactive project, /VERYSILENT: the release dialog is not shown either.
  EXPECT_EQ(run({"/VERYSILENT", "/NORESTART", "/COMPONENTS=comb", "/D=C:\\Deploy 2\\X"}), 3010);
  ASSERT_EQ(Engine->Installs.size(), 1u);
  EXPECT_EQ(Engine->Installs[0].InstallDir, "C:\\Deploy 2\\X");
  EXPECT_EQ(Engine->Installs[0].Components, "ComB");
  EXPECT_EQ(Engine->SaveLogCalls, 1);
  EXPECT_FALSE(View.DialogOpen);
  EXPECT_TRUE(View.Destroyed);
  EXPECT_TRUE(Boxes.empty());
  EXPECT_TRUE(FileExists(link)) << "the ticked link is made";
  if (kSandbox) {
    EXPECT_EQ(CommandLog().find("open:"), std::string::npos) << CommandLog();
    EXPECT_EQ(CommandLog().find("reboot"), std::string::npos) << CommandLog();
  }
  // /SILENT shows the progress page; without /NORESTART the restart question says Yes.
  EXPECT_EQ(run({"/SILENT", "/COMPONENTS="}), 1641);
  ASSERT_EQ(Engine->Installs.size(), 1u);
  EXPECT_EQ(Engine->Installs[0].Components, "");
  EXPECT_NE(std::find(View.Pages.begin(), View.Pages.end(), TFrm_Setup::kProgressPage), View.Pages.end());
  EXPECT_TRUE(Boxes.empty());
  if (kSandbox) {
    EXPECT_NE(CommandLog().find("reboot: "), std::string::npos) << CommandLog();
  }

  // Values the project cannot take: 87, with the reason, and nothing installed.
  for (const std::vector<AnsiString>& bad :
       {std::vector<AnsiString>{"/S", "/DIR=Deploy"}, {"/S", "/DIR=C:\\a|b"}, {"/S", "/COMPONENTS=ComA,ComC"},
        {"/DIR=\\\\server"}}) {
    Boxes.clear();
    EXPECT_EQ(run(bad), 87) << bad.back();
    EXPECT_TRUE(Engine->Installs.empty()) << bad.back();
    EXPECT_EQ(Boxes.size(), 1u) << bad.back();
  }
  // A folder the project fixes is the only one /DIR may name.
  Project->AddPage("选择安装文件夹", "程序文件夹名称", "C:\\Fixed");
  Project->AddPage("选择安装文件夹", "允许用户更改文件夹名称", "否");
  EXPECT_EQ(run({"/S", "/DIR=C:\\Other"}), 87);
  EXPECT_EQ(run({"/S", "/NORESTART", "/DIR=c:\\fixed"}), 3010);
  DeleteFileAt(mainProgram);
}

TEST(SetupSwitches, NamesValuesAndTheirSpellings) {
  auto parse = [](const AnsiString& line) { return ParseSetupSwitches(SplitCommandLine(line)); };
  TSetupSwitches s = parse("/s /Silent /dir=\"C:\\Program Files\\A\" /LOG /components=\"a, b\"");
  EXPECT_EQ(s.Mode, TSetupSwitches::TMode::VerySilent) << "the quieter one wins";
  EXPECT_EQ(s.Dir.value_or(""), "C:\\Program Files\\A");
  EXPECT_TRUE(s.Log);
  EXPECT_EQ(s.LogFile, "");
  EXPECT_EQ(s.Components.value_or("-"), "a, b");
  EXPECT_TRUE(s.Bad.empty());
  EXPECT_FALSE(s.OtherParameters);
  // /D= takes the rest of the line as it was typed, blanks and all.
  s = parse("/SUPPRESSMSGBOXES /D=C:\\Deploy  2\\X  ");
  EXPECT_EQ(s.Dir.value_or(""), "C:\\Deploy  2\\X");
  EXPECT_TRUE(s.NoBoxes());
  EXPECT_EQ(s.Mode, TSetupSwitches::TMode::Interactive);
  EXPECT_EQ(parse("/D=C:\\x /S").Dir.value_or(""), "C:\\x /S") << "nothing after /D= is a switch";
  // A switch that takes no value, a value missing, an unknown name, a quote in a folder.
  for (const char* bad : {"/S=1", "/DIR", "/DIR=", "/VERYSILENTX", "/NORESTART=yes", "/LOG=\"a\"\"b\""})
    EXPECT_FALSE(parse(bad).Bad.empty()) << bad;
  EXPECT_TRUE(parse("Ins").OtherParameters);
  EXPECT_TRUE(parse("-S").OtherParameters) << "only / starts a switch";
  EXPECT_TRUE(parse("/?").Help);
  EXPECT_TRUE(parse("/help").Help);
}
