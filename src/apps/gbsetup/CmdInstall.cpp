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
#include "system/Platform.h"
#include "system/Sandbox.h"
#include "system/SysKernel.h"
#include "wizard/SetupForm.h"

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

int RunInstall(const TArgs& args) {
  TParsedArgs p = ParseArgs(args, {"--root", "--windows", "--dir", "--components", "--finish", "--reboot"}, {"--log"});
  if (p.Positional.size() != 1 || !p.Has("--root"))
    throw ECliError("usage: gbsetup install SETUP --root DIR [--windows 32|64] [--dir INSTALLDIR] [--components A,B] "
                    "[--finish LIST] [--reboot yes|no] [--log]");
  const std::vector<bool> finishChosen = ParseFinishList(p);
  const std::string reboot = p.Get("--reboot", "no");
  if (reboot != "yes" && reboot != "no") throw ECliError("--reboot takes yes or no");
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
  AnsiString components = QueryIntf<IProjectComponents>(project)->GetComponents()->CommaText();
  if (p.Has("--components")) components = In(p.Get("--components"));

  const std::string commandsLog = SandboxRoot() + "/commands.log";
  const int commandsBefore = CountLines(commandsLog);
  const int recordsBefore = engine->Log().Count();
  std::printf("installing %s into %s\n", Out(projectName).c_str(), Out(installDir).c_str());
  work->InstallFiles(programFolder, installDir, components, setupFile,
                     list, [&](int32_t max, int32_t pos, const AnsiString& text, bool done) {
                       if (!done) progress.Show("install", max, pos, text);
                     });
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
        return reboot == "yes";
      }
      std::fprintf(stderr, "gbsetup: %s\n", Out(text).c_str());
      return true;
    };
    SetDialogResponder(responder);
    form.SetPageIndex(TFrm_Setup::kFinishPage);
    form.bCancelClick();
    SetDialogResponder(nullptr);
    if (form.Failed()) {
      compile->ClearPackList(list);
      return 1;
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
  return 0;
}

}  // namespace

GB_COMMAND("install", "install a built setup into the sandbox, without the wizard",
           "usage: gbsetup install SETUP --root DIR [--windows 32|64] [--dir INSTALLDIR] [--components A,B]\n"
           "                       [--finish LIST] [--reboot yes|no] [--log]\n"
           "\n"
           "Unpacks SETUP (a built setup program) and runs its installation on the sandbox machine\n"
           "rooted at DIR, as the wizard does with its default choices, then presses the finish page's\n"
           "Finish button: runs the ticked finish rows (links are real .lnk files, each one printed\n"
           "as its Windows path and its path in the sandbox), writes UnLog.txt beside the main\n"
           "program and answers the reboot question when the project asks it. Drive C: is\n"
           "DIR/drive_c, the registry DIR/registry.reg, started programs are listed in\n"
           "DIR/commands.log. A damaged setup is refused before anything\n"
           "is written; an installation that fails half-way is undone, and the message says what\n"
           "failed and which files that were there before stay as they now are (exit code 1).\n"
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
