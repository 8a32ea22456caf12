#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "system/Dialogs.h"
#include "system/FileCtrl.h"
#include "system/FileStream.h"
#include "system/Sandbox.h"
#include "system/SysKernel.h"
#include "unit/wizard/Fakes.h"
#include "wizard/SetupForm.h"

namespace {

struct TFinishBox {
  TBoxStyle Style;
  AnsiString Text;
};

TCheckRow Row(const AnsiString& code, const AnsiString& file = "") {
  TCheckRow r;
  r.Text = "row " + code;
  r.SubItems.Add(code);
  if (!file.empty()) r.SubItems.Add(file);
  return r;
}

AnsiString ReadAll(const AnsiString& fileName) {
  TFileStream f(fileName, fmOpenRead | fmShareDenyNone);
  AnsiString s(static_cast<size_t>(f.Size()), '\0');
  if (!s.empty()) f.ReadBuffer(s.data(), s.size());
  return s;
}

class FinishTest : public ::testing::Test {
protected:
  TFakeProject* Project = new TFakeProject;
  TFakeCompile* Engine = new TFakeCompile;
  TIntfPtr<IProject> ProjectRef{Project};
  TIntfPtr<ICompile> EngineRef{Engine};
  TFakeView View;
  std::vector<TFinishBox> Boxes;
  bool Answer = false;
  std::string Root;
  AnsiString Desktop, Programs, QuickLaunch;
  // Made by a test outside the fake engine's log, removed at the end as well.
  std::vector<AnsiString> Extra;

  static constexpr bool kSandbox =
#ifdef _WIN32
      false;
#else
      true;
#endif

  void SetUp() override {
#ifndef _WIN32
    char tmpl[] = "/tmp/finish-test-XXXXXX";
    Root = mkdtemp(tmpl);
    SetSandboxRoot(Root);
#endif
    auto responder = std::make_shared<TDialogResponder>();
    responder->MessageBox = [this](TBoxStyle style, const AnsiString&, const AnsiString& text) {
      Boxes.push_back({style, text});
      return Answer;
    };
    SetDialogResponder(responder);
    Project->AddWork("项目名称", "示例软件");
    // A package the wizard accepts: project, catalogue, one program file, the uninstaller.
    Engine->Release = [](TInsPackList& list, const TReleaseProgressEvent&) {
      for (uint8_t kind : {pkSupport, pkSupport, pkProgramFile, pkUninstaller}) list.Add()->Kind = kind;
    };
    Desktop = ShellFolderPath(CSIDL_DESKTOP_);
    Programs = ShellFolderPath(CSIDL_PROGRAMS_);
    QuickLaunch = ShellFolderPath(CSIDL_APPDATA_) + "\\Microsoft\\Internet Explorer\\Quick Launch";
  }
  void TearDown() override {
    SetDialogResponder(nullptr);
    // Under Wine the links went to the prefix's real folders: take back what was made, the
    // files first, then the folders deepest first.
    std::vector<AnsiString> all = Extra;
    for (const TLogCall& c : Engine->LogRecords) all.push_back(c.Path);
    std::vector<AnsiString> folders;
    for (const AnsiString& p : all)
      if (!DeleteFileAt(p)) folders.push_back(p);
    std::sort(folders.begin(), folders.end(), [](const AnsiString& a, const AnsiString& b) { return a.size() > b.size(); });
    for (const AnsiString& p : folders) RemoveFolder(p);
#ifndef _WIN32
    std::system(("rm -rf '" + Root + "'").c_str());
#endif
  }
  std::string CommandLog() {
    std::ifstream f(Root + "/commands.log", std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }
  std::vector<AnsiString> Links() const {
    std::vector<AnsiString> v;
    for (const TLogCall& c : Engine->LogRecords)
      if (c.Text.empty()) v.push_back(c.Path);
    return v;
  }
  std::vector<AnsiString> Folders() const {
    std::vector<AnsiString> v;
    for (const TLogCall& c : Engine->LogRecords)
      if (!c.Text.empty()) v.push_back(c.Path);
    return v;
  }
  // The wizard on its finish page, pages filled from the project.
  void ShowFinishPage(TFrm_Setup& form) {
    Project->AddWork("安装界面显示", "是");
    form.FormShow();
    form.SetPageIndex(TFrm_Setup::kFinishPage);
  }
};

}  // namespace

TEST_F(FinishTest, ProgressPercentRoundsAndNeverDividesByZero) {
  TFrm_Setup form(ProjectRef, EngineRef, &View);
  struct {
    int32_t Max, Position;
    bool Flag;
    const char* Want;
  } cases[] = {
      {3, 1, false, "33%"},       {3, 2, false, "67%"},  {8, 1, false, "13%"},  // 12.5 rounds up
      {200, 1, false, "1%"},      {3, 5, false, "100%"}, {0, 0, false, "0%"},   {0, 3, false, "100%"},
      {-4, -9, false, "0%"},      {3, -1, false, "0%"},  {INT32_MAX, INT32_MAX, false, "100%"},
      {INT32_MAX, 1, false, "0%"}, {0, 0, true, "100%"},
  };
  for (const auto& c : cases) {
    form.OnInstallProgress(c.Max, c.Position, "x", c.Flag);
    EXPECT_EQ(form.Label31.Caption, c.Want) << c.Max << "/" << c.Position << " " << c.Flag;
    EXPECT_EQ(form.ProgressBar1.Max, c.Max);
    EXPECT_EQ(form.ProgressBar1.Position, c.Position);
  }
  EXPECT_EQ(form.PageIndex(), TFrm_Setup::kFinishPage) << "the completion report moves to the finish page";
  EXPECT_EQ(form.bCancel.Tag, 1);
}

TEST_F(FinishTest, ThreePlacesWithAndWithoutSubfoldersAndWithoutSeparator) {
  const AnsiString target = "C:\\Program Files\\示例\\main.exe";
  Project->AddShortcut("桌面", "直接", target, "-a", "说明");
  Project->AddShortcut("桌面\\工具\\子", "深", target);
  Project->AddShortcut("桌面Tools", "连写", target);
  Project->AddShortcut("开始菜单", "主", target);
  Project->AddShortcut("开始菜单\\帮助", "帮", target);
  Project->AddShortcut("快速启动栏", "快", target);
  Project->AddShortcut("快速启动栏\\组", "快组", target);
  Project->AddShortcut("其他", "不做", target);
  Project->AddShortcut("桌", "也不做", target);
  TFrm_Setup form(ProjectRef, EngineRef, &View);
  form.Edt_SelectFolder.Caption = "示例组";
  const AnsiString group = Programs + "\\示例组";
  // The prefix's real folders may hold some of these already (a run before this one): only
  // the ones missing now are to be made.
  std::vector<AnsiString> folders;
  for (const AnsiString& f : {Desktop + "\\工具\\子", Desktop + "\\Tools", group, group + "\\帮助", QuickLaunch,
                              QuickLaunch + "\\组"})
    if (!FolderExists(f)) folders.push_back(f);
  form.lFinished = {Row("1"), Row("2"), Row("3")};
  form.RunFinishActions();

  EXPECT_EQ(Links(), (std::vector<AnsiString>{Desktop + "\\直接.lnk", Desktop + "\\工具\\子\\深.lnk",
                                               Desktop + "\\Tools\\连写.lnk", group + "\\主.lnk",
                                               group + "\\帮助\\帮.lnk", QuickLaunch + "\\快.lnk",
                                               QuickLaunch + "\\组\\快组.lnk"}));
  EXPECT_EQ(Folders(), folders) << "only missing folders are made, each once";
  for (const AnsiString& link : Links()) EXPECT_TRUE(FileExists(link)) << link;
  EXPECT_TRUE(Boxes.empty());

  // Each row runs only its own place.
  Extra = Links();
  for (const AnsiString& f : Folders()) Extra.push_back(f);
  Extra.push_back(Desktop + "\\工具");
  Engine->LogRecords.clear();
  form.lFinished = {Row("1")};
  form.lFinished[0].Checked = false;
  form.RunFinishActions();
  EXPECT_TRUE(Engine->LogRecords.empty()) << "an unticked row does nothing";
}

TEST_F(FinishTest, StartMenuGetsTheUninstallLinkBesideTheMainProgramOnly) {
  Project->AddPage("安装完毕", "主程序", "C:\\Program Files\\示例\\main.exe");
  Project->AddShortcut("开始菜单", "示例", "c:\\program files\\示例\\MAIN.EXE", "", "");
  Project->AddShortcut("开始菜单\\文档", "说明", "C:\\Program Files\\示例\\readme.txt");
  Project->AddShortcut("桌面", "桌面示例", "C:\\Program Files\\示例\\main.exe");
  TFrm_Setup form(ProjectRef, EngineRef, &View);
  form.Edt_SelectFolder.Caption = "示例";
  form.lFinished = {Row("2")};
  form.RunFinishActions();
  const AnsiString group = Programs + "\\示例";
  ASSERT_EQ(Links(), (std::vector<AnsiString>{group + "\\示例.lnk", group + "\\卸载.lnk", group + "\\文档\\说明.lnk"}));
  if (kSandbox) {
    // The link info holds the target as GBK: the main program's own folder, as the record spells it.
    const AnsiString bytes = ReadAll(group + "\\卸载.lnk");
    EXPECT_NE(bytes.find(AnsiString("c:\\program files\\示例\\UnIns.exe") + '\0'), AnsiString::npos);
  }
}

TEST_F(FinishTest, ExistingLinkIsKeptAndLoggedAgain) {
  Project->AddShortcut("桌面", "已有", "C:\\Program Files\\示例\\main.exe");
  const AnsiString link = Desktop + "\\已有.lnk";
  {
    TFileStream f(link, fmCreate);
    f.WriteBuffer("keep", 4);
  }
  TFrm_Setup form(ProjectRef, EngineRef, &View);
  form.lFinished = {Row("1")};
  form.RunFinishActions();
  form.RunFinishActions();
  EXPECT_EQ(Links(), (std::vector<AnsiString>{link, link}));
  EXPECT_EQ(ReadAll(link), "keep");
}

TEST_F(FinishTest, BadInputSkipsOnlyItsOwnLink) {
  Project->AddPage("安装完毕", "主程序", "C:\\Program Files\\示例\\gone.exe");  // not installed
  const AnsiString target = "C:\\Program Files\\示例\\main.exe";
  Project->AddShortcut("桌面", "", target);
  Project->AddShortcut("桌面", "a\\b", target);
  Project->AddShortcut("桌面", "a:b", target);
  Project->AddShortcut("桌面", "..", target);
  Project->AddShortcut("桌面", "无目标", "");
  Project->AddShortcut("桌面", "相对", "bin\\main.exe");
  Project->AddShortcut("桌面", "坏目标", "C:\\a|b.exe");
  Project->AddShortcut("桌面\\..\\上", "上层", target);
  Project->AddShortcut("桌面\\a?b", "问号", target);
  Project->AddShortcut("桌面", "长" + AnsiString(300, 'x'), target);
  // GBK characters whose trail byte is 0x5C or 0x7C are letters, not delimiters.
  Project->AddShortcut("桌面\\\\乗\\", "億乗", target);
  TFrm_Setup form(ProjectRef, EngineRef, &View);
  form.lFinished = {Row("0"), Row("x"), Row("9"), TCheckRow{"no code", true, {}}, Row("4"), Row("1")};
  form.RunFinishActions();
  EXPECT_EQ(Links(), (std::vector<AnsiString>{Desktop + "\\乗\\億乗.lnk"}));
  EXPECT_EQ(Folders(), (std::vector<AnsiString>{Desktop + "\\乗"}));
  EXPECT_TRUE(Boxes.empty());
  if (kSandbox) {
    EXPECT_EQ(CommandLog(), "") << "neither the missing main program nor an empty read-me opens";
  }

  // A folder that cannot be made skips its link; the ones already there still get theirs.
  Extra = {Desktop + "\\乗\\億乗.lnk", Desktop + "\\乗"};
  Engine->LogRecords.clear();
  Engine->FailFolders = true;
  Project->Shortcuts.Clear();
  Project->AddShortcut("桌面\\新的", "不能", target);
  Project->AddShortcut("桌面", "能", target);
  form.RunFinishActions();
  EXPECT_EQ(Links(), (std::vector<AnsiString>{Desktop + "\\能.lnk"}));
  EXPECT_FALSE(FileExists(Desktop + "\\新的\\不能.lnk"));
}

TEST_F(FinishTest, FinishRunsRowsThenSavesTheLogThenAsksAboutTheReboot) {
  const AnsiString main = TempFolder() + "finish-main.exe";
  {
    TFileStream f(main, fmCreate);
  }
  Extra.push_back(main);
  Project->AddPage("安装完毕", "主程序", main);
  Project->AddPage("安装完毕", "显示重启计算机选项", "是");
  Project->AddShortcut("桌面", "示例", main);
  size_t boxesAtSave = 99;
  size_t linksAtSave = 99;
  Engine->OnSaveLog = [&] {
    boxesAtSave = Boxes.size();
    linksAtSave = Links().size();
  };
  {
    TFrm_Setup form(ProjectRef, EngineRef, &View);
    ShowFinishPage(form);
    ASSERT_TRUE(form.RebootOffered());
    // Windows would really start the program and the read-me: there only the link row runs.
    if (kSandbox) {
      form.lFinished = {Row("0"), Row("4", "C:\\Readme.txt"), Row("1")};
    } else {
      form.lFinished = {Row("1")};
    }
    Answer = false;
    form.bCancelClick();
    EXPECT_EQ(Engine->SaveLogCalls, 1);
    EXPECT_EQ(linksAtSave, 1u) << "the link is in the log that is saved";
    EXPECT_EQ(boxesAtSave, 0u) << "the log is saved before the question";
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Style, TBoxStyle::Question);
    EXPECT_EQ(Boxes[0].Text, "“示例软件”安装向导需要重启操作系统，方可完成安装。要自动重启吗？");
    EXPECT_TRUE(View.Destroyed);
    EXPECT_EQ(form.ExitCode(), 3010) << "installed, the restart it needs not done";
    if (kSandbox) {
      EXPECT_EQ(CommandLog(), "open: " + main + "\nopen: C:\\Readme.txt\n") << "declined: no reboot";
    }
  }
  if (!kSandbox) return;  // a real restart is not something a test asks Windows for
  Boxes.clear();
  Engine->LogRecords.clear();
  TFakeView view2;
  TFrm_Setup form(ProjectRef, EngineRef, &view2);
  ShowFinishPage(form);
  form.lFinished.clear();
  Answer = true;
  const size_t before = CommandLog().size();
  form.bCancelClick();
  EXPECT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(CommandLog().substr(before), "reboot: SeShutdownPrivilege, EWX_REBOOT\n");
  EXPECT_EQ(form.ExitCode(), 1641) << "installed, and the restart started";
  EXPECT_TRUE(Links().empty()) << "no row ticked: only the log and the question";
  EXPECT_EQ(Engine->SaveLogCalls, 2);
}

TEST_F(FinishTest, LinkWriterErrorShowsOneBoxAndTheRestStillRuns) {
  Project->AddShortcut("桌面", "坏一", "C:\\Program Files\\示例\\main.exe");
  Project->AddShortcut("桌面", "好", "C:\\Program Files\\示例\\main.exe");
  Project->AddShortcut("桌面", "坏二", "C:\\Program Files\\示例\\main.exe");
  // A folder where the link file should go: the writer cannot save it.
  for (const char* name : {"\\坏一.lnk", "\\坏二.lnk"}) {
    ASSERT_TRUE(ForceFolders(Desktop + name));
    Extra.push_back(Desktop + name);
  }
  TFrm_Setup form(ProjectRef, EngineRef, &View);
  ShowFinishPage(form);
  form.lFinished = {Row("1"), Row("4", "C:\\Readme.txt")};
  if (!kSandbox) form.lFinished[1].Checked = false;  // Windows would really open it
  form.bCancelClick();
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0].Style, TBoxStyle::Error);
  EXPECT_NE(Boxes[0].Text.find("坏一"), AnsiString::npos) << Boxes[0].Text;
  EXPECT_NE(Boxes[0].Text.find("坏二"), AnsiString::npos) << Boxes[0].Text;
  EXPECT_EQ(Links(), (std::vector<AnsiString>{Desktop + "\\好.lnk"})) << "failed links are not logged";
  EXPECT_TRUE(FileExists(Desktop + "\\好.lnk"));
  EXPECT_EQ(Engine->SaveLogCalls, 1) << "the log is still saved";
  EXPECT_TRUE(View.Destroyed);
  EXPECT_FALSE(form.Failed());
  if (kSandbox) {
    EXPECT_EQ(CommandLog(), "open: C:\\Readme.txt\n") << "the later row still ran";
  }
}

TEST(FinishSystem, OsVersionCodeAndRebootLine) {
#ifdef _WIN32
  EXPECT_GE(OsVersionCode(), 30) << "an NT system";
#else
  char tmpl[] = "/tmp/finish-reboot-XXXXXX";
  const std::string root = mkdtemp(tmpl);
  SetSandboxRoot(root);
  const struct {
    const char* Version;
    uint16_t Code;
  } cases[] = {{"0", 0}, {"1", 1}, {"2", 2}, {"5.0", 31}, {"5.1", 32}, {"5.2", 33}, {"6.1", 30}, {"10.0", 30}, {"4.0", 30}};
  for (const auto& c : cases) {
    SetSandboxVersion(c.Version);
    EXPECT_EQ(OsVersionCode(), c.Code) << c.Version;
  }
  SetSandboxVersion("2");
  TFrm_Setup::OpenWithShell("C:\\A B\\r.txt");
  RebootMachine();
  SetSandboxVersion("5.1");
  RebootMachine();
  SetSandboxVersion("6.1");
  std::ifstream f(root + "/commands.log", std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  EXPECT_EQ(s.str(), "open: C:\\A B\\r.txt\nreboot: EWX_REBOOT\nreboot: SeShutdownPrivilege, EWX_REBOOT\n");
  std::system(("rm -rf '" + root + "'").c_str());
#endif
}

#ifdef _WIN32
// The shell's own link object writes the file. tests/e2e/finish.sh names the folder in
// GBSETUP_LINK_OUT (a Windows path), keeps the files and reads them back with lnkinfo.
TEST(FinishShellLink, TheShellLinkObjectWritesTheLinkFile) {
  const char* out = std::getenv("GBSETUP_LINK_OUT");
  const bool keep = out && *out;
  const AnsiString base = keep ? AnsiString(out) : TempFolder() + "gb-finish-link";
  const AnsiString target = base + "\\应用\\示例.exe";
  ASSERT_TRUE(ForceFolders(base + "\\应用"));
  {
    TFileStream f(target, fmCreate);
    f.WriteBuffer("MZ", 2);
  }
  TFakeProject* project = new TFakeProject;
  TFakeCompile* engine = new TFakeCompile;
  TIntfPtr<IProject> projectRef(project);
  TIntfPtr<ICompile> engineRef(engine);
  TFrm_Setup form(projectRef, engineRef);
  form.CreateShortcutIn(base, "链接", "示例", target, "-x \"a b\"", "说明文字");
  const AnsiString link = base + "\\链接\\示例.lnk";
  EXPECT_TRUE(FileExists(link));
  EXPECT_GT(FileSizeOf(link), 76) << "more than the bare header";
  ASSERT_EQ(engine->LogRecords.size(), 2u);
  EXPECT_EQ(engine->LogRecords[0], (TLogCall{base + "\\链接", "创建的文件夹"}));
  EXPECT_EQ(engine->LogRecords[1], (TLogCall{link, ""}));
  if (keep) return;
  DeleteFileAt(link);
  DeleteFileAt(target);
  RemoveFolder(base + "\\链接");
  RemoveFolder(base + "\\应用");
  RemoveFolder(base);
}
#endif
