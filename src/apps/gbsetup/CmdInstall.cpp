// "gbsetup install": what a built setup would install, played on the sandbox machine
// without the wizard.
#include <cstdio>
#include <fstream>
#include <string>

#include "apps/gbsetup/Cli.h"
#include "core/ExitCodes.h"
#include "core/Sysconsts.h"
#include "core/TextUtils.h"
#include "engine/Compile.h"
#include "engine/PackageCheck.h"
#include "project/Project.h"
#include "system/Dialogs.h"
#include "system/RunLog.h"
#include "system/Platform.h"
#include "system/Sandbox.h"
#include "system/SysKernel.h"
#include "wizard/SetupForm.h"
#include "wizard/SetupSwitches.h"

namespace {

// The wizard's page item lookup: the first item of that page and name.
AnsiString PageItem(IProject& project, const AnsiString& page, const AnsiString& name) {
  for (TPageInfoRec* r : *project.GetPageList())
    if (r->Page == page && r->Name == name) return r->Value;
  return AnsiString();
}

int CountLines(const std::string& hostFile) {
  std::ifstream in(hostFile, std::ios::binary);
  int n = 0;
  for (std::string line; std::getline(in, line);) ++n;
  return n;
}

// The finish rows by their action codes (the wizard's lFinished SubItems[0]).
const char* const kFinishNames[] = {"run", "desktop", "startmenu", "quicklaunch", "readme"};

// "--finish a,b": the codes chosen; none given means every row the project offers (all true).
std::vector<bool> ParseFinishList(const TParsedArgs& p) {
  std::vector<bool> chosen(5, true);
  if (!p.Has("--finish")) return chosen;
  chosen.assign(5, false);
  const std::string list = p.Get("--finish");
  if (list == "none") return chosen;
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    const std::string name = list.substr(start, comma - start);
    int code = -1;
    for (int i = 0; i < 5; ++i)
      if (name == kFinishNames[i]) code = i;
    if (code < 0)
      throw ECliError("unknown finish row \"" + name + "\" (run, readme, desktop, startmenu, quicklaunch or none)");
    chosen[static_cast<size_t>(code)] = true;
    start = comma + 1;
  }
  return chosen;
}

class TProgressPrinter {
public:
  explicit TProgressPrinter(bool terminal) : FTerminal(terminal) {}
  ~TProgressPrinter() { Finish(); }

  void Show(const char* phase, int32_t max, int32_t position, const AnsiString& text) {
    if (!FTerminal) {
      if (!text.empty()) std::printf("%s %d/%d %s\n", phase, position, max, Out(text).c_str());
      return;
    }
    const int width = 30;
    int filled = max > 0 ? static_cast<int>(static_cast<int64_t>(position) * width / max) : width;
    if (filled > width) filled = width;
    std::string name = Out(ExtractFileName(text));
    if (name.size() > 40) name = "..." + name.substr(name.size() - 37);
    std::printf("\r%-8s [%s%s] %3d%% %-40s", phase, std::string(static_cast<size_t>(filled), '#').c_str(),
                std::string(static_cast<size_t>(width - filled), '.').c_str(),
                max > 0 ? static_cast<int>(static_cast<int64_t>(position) * 100 / max) : 100, name.c_str());
    std::fflush(stdout);
    FOpen = true;
  }
  void Finish() {
    if (FOpen) std::printf("\n");
    FOpen = false;
  }

private:
  bool FTerminal;
  bool FOpen = false;
};

// The run's part once the setup is unpacked: the switches' values checked, the installation,
// the finish; returns the setup program's exit code.
int InstallUnpacked(const TParsedArgs& p, const TSetupSwitches& switches, const AnsiString& setupFile,
                    TIntfPtr<IProject> project, TCompile* engine, TIntfPtr<ICompile> compile, TInsPackList& list,
                    TProgressPrinter& progress);

int RunInstall(const TArgs& args) {
  TParsedArgs p = ParseArgs(args, {"--root", "--windows", "--dir", "--components", "--finish", "--reboot"}, {"--log"});
  if (p.Positional.empty() || !p.Has("--root"))
    throw ECliError("usage: gbsetup install SETUP [SWITCHES] --root DIR [--windows 32|64] [--dir INSTALLDIR] "
                    "[--components A,B] [--finish LIST] [--reboot yes|no] [--log]");
  // After the setup, the switches its program takes (/VERYSILENT, /DIR=..., ...).
  std::vector<AnsiString> switchArgs;
  for (size_t i = 1; i < p.Positional.size(); ++i) switchArgs.push_back(In(p.Positional[i]));
  const TSetupSwitches switches = ParseSetupSwitches(switchArgs);
  if (switches.OtherParameters) throw ECliError("after SETUP only the setup's switches: /VERYSILENT, /DIR=..., /? for the list");
  if (!switches.Bad.empty() || switches.Help) {
    if (!switches.Bad.empty()) std::fprintf(stderr, "gbsetup: %s\n", Out("无效的开关或开关值：" + switches.Bad).c_str());
    std::printf("%s\n", Out(ReplaceAll(SetupSwitchesHelp(), "\r\n", "\n")).c_str());
    std::printf("exit code: %d\n", switches.Bad.empty() ? kExitSuccess : kExitBadSwitch);
    return switches.Bad.empty() ? kExitSuccess : kExitBadSwitch;
  }
  if (const std::string r = p.Get("--reboot", "no"); r != "yes" && r != "no") throw ECliError("--reboot takes yes or no");
  ParseFinishList(p);  // a bad list is refused before anything is unpacked
  // On Windows this would install onto the real machine; the command is for trying a setup out.
  if (!IsSandbox()) throw ECliError("install runs only on the sandbox machine (Linux)");
  SetSandboxRoot(p.Get("--root"));
  UseSandboxWindows(p);
  const AnsiString setupFile = ArgPath(p.Positional[0]);
  // The sandbox plays the setup's own kind of program (a stub that is no executable, as in
  // tests, counts as the 32-bit one).
  const bool setup64 = ExecutableArchOf(setupFile) == TImageArch::X64;
  const bool windows64 = SandboxWindowsBits() == 64;
  if (setup64 && !windows64)
    throw ECliError("an x64 setup does not start on 32-bit Windows: try it with --windows 64");
  SetSandboxProgram64(setup64);
  if (!windows64)
    std::printf("setup: %s, on 32-bit Windows\n", setup64 ? "x64" : "x86");
  else if (setup64)
    std::printf("setup: x64, on 64-bit Windows: Program Files, System32 and the 64-bit registry\n");
  else
    std::printf("setup: x86 (32-bit), on 64-bit Windows: redirected to Program Files (x86), SysWOW64 and "
                "HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\n");
  // The setup program has no base folder; its project must not see the builder's data.
  SetBaseFolder(AnsiString());
  if (switches.Log) {
    const AnsiString stem = ExtractFileName(setupFile);
    runlog::Open(switches.LogFile, stem.substr(0, stem.rfind('.')) + " 安装日志");
    std::printf("log: %s\n  in the sandbox: %s\n", Out(runlog::FileName()).c_str(), HostPath(runlog::FileName()).c_str());
  }
  if (switches.NoBoxes()) AnswerBoxesByDefault();
  struct TLogCloser {
    ~TLogCloser() { runlog::Close(); }
  } logCloser;

  TIntfPtr<IProject> project(new TProject());
  TCompile* engine = new TCompile();
  TIntfPtr<ICompile> compile(engine);
  compile->SetProject(project);
  TIntfPtr<IReleaseWork> work = QueryIntf<IReleaseWork>(compile);
  // As the setup's window does when it goes: what the release unpacked into the temporary
  // folder is removed on every way out.
  struct TReleasedFilesRemover {
    TIntfPtr<ICompile> Compile;
    ~TReleasedFilesRemover() { TFrm_Setup::RemoveReleasedFiles(Compile); }
  } remover{compile};
  TInsPackList list;

  TProgressPrinter progress(StdoutIsTerminal());
  work->ReleaseFiles(setupFile, list, [&](int32_t max, int32_t pos, const AnsiString&, bool checking) {
    if (checking) return progress.Show("check", max, pos, AnsiString());
    // Only the wizard's own files are unpacked now; the rest waits for the installation.
    const TInsPackRec* e = pos > 0 && pos <= list.Count() ? list[pos - 1] : nullptr;
    bool unpacked = e && (e->Kind == pkSupport || e->Kind == pkComponentFile || e->Kind == pkPageFile);
    progress.Show("unpack", max, pos, unpacked ? e->Name : AnsiString());
  });
  progress.Finish();
  if (list.Count() == 0) throw ECliError("no package in " + p.Positional[0]);
  const int code = InstallUnpacked(p, switches, setupFile, project, engine, compile, list, progress);
  runlog::Write("结果", "退出代码 " + IntToStr(code));
  // A Linux exit status keeps the low 8 bits only (as Wine passes a Windows program's on).
  std::printf("exit code: %d\n", code);
  return code;
}

int InstallUnpacked(const TParsedArgs& p, const TSetupSwitches& switches, const AnsiString& setupFile,
                    TIntfPtr<IProject> project, TCompile* engine, TIntfPtr<ICompile> compile, TInsPackList& list,
                    TProgressPrinter& progress) {
  TIntfPtr<IReleaseWork> work = QueryIntf<IReleaseWork>(compile);
  // From the command line nothing is started and the restart question has its default answer:
  // the links the project ticks, and a restart unless /NORESTART.
  std::vector<bool> finishChosen = ParseFinishList(p);
  if (switches.Unattended() && !p.Has("--finish")) finishChosen = {false, true, true, true, false};
  const std::string reboot = switches.Unattended() && !p.Has("--reboot") ? (switches.NoRestart ? "no" : "yes")
                             : switches.NoRestart                        ? "no"
                                                                         : p.Get("--reboot", "no");

  // The defaults the wizard would show.
  const AnsiString projectName = project->GetProjectName();
  const TProductLock lock(projectName);
  if (!lock.Held()) {
    std::fprintf(stderr, "gbsetup: %s\n", Out(Format(SProductBusy, projectName.c_str())).c_str());
    return kExitAlreadyRunning;
  }
  AnsiString programFolder = projectName;
  if (AnsiString v = PageItem(*project, "选择程序文件夹", "程序文件夹名称"); !v.empty()) programFolder = v;
  AnsiString installDir = ProgramFilesFolder();
  if (AnsiString v = PageItem(*project, "选择安装文件夹", "程序文件夹名称"); !v.empty())
    installDir = v.find(':') == AnsiString::npos ? installDir + "\\" + v : v;
  if (p.Has("--dir")) installDir = In(p.Get("--dir"));
  const TStringList& offered = *QueryIntf<IProjectComponents>(project)->GetComponents();
  AnsiString components = offered.CommaText();
  if (p.Has("--components")) components = In(p.Get("--components"));
  // The switches are checked as the setup program checks them.
  auto badValue = [](const AnsiString& message) {
    runlog::Write("错误", message);
    std::fprintf(stderr, "gbsetup: %s\n", Out(message).c_str());
    return kExitBadSwitch;
  };
  if (switches.Dir) {
    if (PageItem(*project, "选择安装文件夹", "允许用户更改文件夹名称") == "否" && !SameText(*switches.Dir, installDir))
      return badValue("“" + projectName + "”的安装文件夹不能更改：/DIR 或 /D 给出的“" + *switches.Dir + "”不能使用。");
    if (!TFrm_Setup::ValidInstallFolder(*switches.Dir))
      return badValue("“" + *switches.Dir + "”不是有效的安装文件夹（/DIR 或 /D）。");
    installDir = *switches.Dir;
  }
  if (switches.Components) {
    const std::vector<AnsiString> names(offered.begin(), offered.end());
    std::vector<bool> chosen;
    AnsiString unknown;
    if (!MatchComponents(names, *switches.Components, chosen, unknown))
      return badValue("安装程序中没有组件“" + unknown + "”（/COMPONENTS）。");
    TStringList named;
    for (size_t i = 0; i < names.size(); ++i)
      if (chosen[i]) named.Add(names[i]);
    components = named.CommaText();
  }

  const std::string commandsLog = SandboxRoot() + "/commands.log";
  const int commandsBefore = CountLines(commandsLog);
  const int recordsBefore = engine->Log().Count();
  std::printf("installing %s into %s\n", Out(projectName).c_str(), Out(installDir).c_str());
  try {
    work->InstallFiles(programFolder, installDir, components, setupFile,
                       list, [&](int32_t max, int32_t pos, const AnsiString& text, bool done) {
                         if (!done) progress.Show("install", max, pos, text);
                       });
  } catch (const EInstallFailed& e) {
    // Undone: the message says what failed and what stays.
    progress.Finish();
    std::fflush(stdout);
    std::fprintf(stderr, "gbsetup: %s\n", Out(e.Message()).c_str());
    compile->ClearPackList(list);
    return kExitInstallFailed;
  }
  progress.Finish();
  compile->SaveInstallLog();
  const int recordsInstalled = engine->Log().Count();

  // The finish page as the wizard has it, and its Finish button: the chosen rows, the log
  // saved again with the links, the reboot question answered by --reboot.
  bool rebootAsked = false;
  {
    TFrm_Setup form(project, compile);
    form.FillPagesFromProject();  // the finish rows the project offers, the reboot question
    form.Edt_SelectFolder.Caption = programFolder;
    for (TCheckRow& row : form.lFinished) {
      const int code = row.SubItems.Count() > 0 ? StrToIntDef(row.SubItems[0], -1) : -1;
      row.Checked = code >= 0 && code < 5 && finishChosen[static_cast<size_t>(code)];
    }
    for (int code = 0; code < 5; ++code) {
      if (!p.Has("--finish") || !finishChosen[static_cast<size_t>(code)]) continue;
      bool offered = false;
      for (const TCheckRow& row : form.lFinished)
        if (row.SubItems.Count() > 0 && StrToIntDef(row.SubItems[0], -1) == code) offered = true;
      if (!offered) std::printf("finish: the project offers no \"%s\" row\n", kFinishNames[code]);
    }
    auto responder = std::make_shared<TDialogResponder>();
    responder->MessageBox = [&](TBoxStyle style, const AnsiString&, const AnsiString& text) {
      if (style == TBoxStyle::Question) {
        rebootAsked = true;
        std::printf("question: %s -> %s\n", Out(text).c_str(), reboot.c_str());
        runlog::Write("重启", "需要重启计算机", reboot == "yes" ? "已开始重启" : "未重启");
        return reboot == "yes";
      }
      runlog::Write("消息", text);
      std::fprintf(stderr, "gbsetup: %s\n", Out(text).c_str());
      return true;
    };
    SetDialogResponder(responder);
    form.SetPageIndex(TFrm_Setup::kFinishPage);
    form.bCancelClick();
    SetDialogResponder(nullptr);
    if (form.Failed()) {
      compile->ClearPackList(list);
      return kExitInstallFailed;  // the log could not be saved: the installation was undone
    }
  }
  const AnsiString logFile = engine->InstallLogFileName();

  int files = 0, folders = 0, values = 0, keys = 0;
  // The finish's links and their folders are listed apart, below.
  for (int i = recordsBefore; i < recordsInstalled; ++i) {
    TInsLogRec* r = engine->Log().Records(i);
    if (r->Text == SCreatedFolderMark) {
      ++folders;
    } else if (r->Text == SCreatedKeyMark) {
      ++keys;
    } else if (StartsText("HKEY_", r->Path)) {
      ++values;
    } else {
      ++files;
    }
  }
  if (p.Has("--log")) {
    std::printf("install log \"%s\":\n", Out(engine->Log().Title).c_str());
    for (TInsLogRec* r : engine->Log().List())
      std::printf("  %s%s%s [%u%u%u %u]\n", Out(r->Path).c_str(), r->Text.empty() ? "" : "  ",
                  Out(r->Text).c_str(), r->AutoRun, r->SelfRegister, r->RegServer, r->LogFlag);
  }
  for (int i = recordsInstalled; i < engine->Log().Count(); ++i) {
    TInsLogRec* r = engine->Log().Records(i);
    const bool folder = r->Text == SCreatedFolderMark;
    std::printf("%s %s\n  in the sandbox: %s\n", folder ? "link folder:" : "link:", Out(r->Path).c_str(),
                HostPath(r->Path).c_str());
  }
  if (!rebootAsked) std::printf("reboot: not offered\n");
  std::printf("files written: %d\nfolders created: %d\nregistry values: %d (keys created: %d)\n"
              "commands recorded: %d\ninstall log: %s\n",
              files, folders, values, keys, CountLines(commandsLog) - commandsBefore, Out(logFile).c_str());
  // An installation over an earlier one into the same folder: its log carries the earlier
  // records on, so the uninstall removes both.
  if (const TInstallLog* earlier = engine->EarlierLog())
    std::printf("install log: %d records of an earlier installation kept (\"%s\")\n", earlier->Count(),
                Out(earlier->Title).c_str());
  if (!engine->DamagedLogCopy().empty())
    std::printf("install log: the earlier one could not be read; kept as %s\n", Out(engine->DamagedLogCopy()).c_str());
  compile->ClearPackList(list);
  if (!rebootAsked) return kExitSuccess;
  return reboot == "yes" ? kExitRestarting : kExitRestartNeeded;
}

}  // namespace

GB_COMMAND("install", "install a built setup into the sandbox, without the wizard",
           "usage: gbsetup install SETUP [SWITCHES] --root DIR [--windows 32|64] [--dir INSTALLDIR]\n"
           "                       [--components A,B] [--finish LIST] [--reboot yes|no] [--log]\n"
           "\n"
           "Unpacks SETUP (a built setup program) and runs its installation on the sandbox machine\n"
           "rooted at DIR, as the wizard does with its default choices, then presses the finish page's\n"
           "Finish button: runs the ticked finish rows (links are real .lnk files, each one printed\n"
           "as its Windows path and its path in the sandbox), writes UnLog.txt beside the main\n"
           "program and answers the reboot question when the project asks it. Drive C: is\n"
           "DIR/drive_c, the registry DIR/registry.reg, started programs are listed in\n"
           "DIR/commands.log. A damaged setup is refused before anything\n"
           "is written; an installation that fails half-way is undone, and the message says what\n"
           "failed and which files that were there before stay as they now are (exit code 1603).\n"
           "\n"
           "SWITCHES are the setup program's own, and do here what they do there: /VERYSILENT, /S or\n"
           "/SILENT (the links the finish page ticks, nothing started, the restart question answered\n"
           "Yes), /DIR=\"C:\\...\" or /D=C:\\... (last), /COMPONENTS=\"A,B\", /LOG[=\"C:\\...\"] (the\n"
           "run's UTF-8 log, in the sandbox), /NORESTART, /SUPPRESSMSGBOXES, /? for the list. The\n"
           "exit code is the setup program's, printed as \"exit code: N\" (the exit status holds its low\n"
           "8 bits): 0 installed, 3010 a restart needed, 1641 the restart\n"
           "recorded, 87 a bad switch or value, 1603 failed and undone, 1618 another run of the\n"
           "product, 1 refused before anything was written.\n"
           "\n"
           "  --root DIR          the sandbox root\n"
           "  --windows 32|64     the machine the sandbox plays: 32-bit Windows (the default) or\n"
           "                      64-bit Windows, kept by the root from the first command that names\n"
           "                      it. On 64-bit Windows an x86 setup is redirected as Windows\n"
           "                      redirects a 32-bit program (Program Files (x86), System32 to\n"
           "                      SysWOW64, HKLM\\SOFTWARE to WOW6432Node); an x64 setup is not\n"
           "  --dir INSTALLDIR    installation folder as typed in the wizard (C:\\...); default: the\n"
           "                      Program Files folder, or the project's own choice\n"
           "  --components A,B    components to install (default: all of the project's)\n"
           "  --finish LIST       finish rows to tick, comma-separated: run, readme, desktop,\n"
           "                      startmenu, quicklaunch; none for none (default: every row the\n"
           "                      project offers). Started programs go to commands.log\n"
           "  --reboot yes|no     the answer to the reboot question (default no); yes records\n"
           "                      the restart in commands.log, it never restarts this machine\n"
           "  --log               print the install log's records",
           RunInstall);
