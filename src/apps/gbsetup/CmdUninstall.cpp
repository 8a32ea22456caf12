// "gbsetup uninstall": what UnIns.exe does, on the sandbox machine.
#include <cstdio>

#include "apps/gbsetup/Cli.h"
#include "core/Exceptions.h"
#include "core/ExitCodes.h"
#include "core/Sysconsts.h"
#include "core/TextUtils.h"
#include "engine/PackageCheck.h"
#include "engine/Uninstall.h"
#include "system/Sandbox.h"
#include "system/SysKernel.h"

namespace {

// "C:\..." is a path on the sandbox machine; anything else a host path.
AnsiString MachinePath(const std::string& arg) {
  if (arg.size() > 2 && arg[1] == ':' && (arg[2] == '\\' || arg[2] == '/')) return In(arg);
  return ArgPath(arg);
}

int RunUninstall(const TArgs& args) {
  TParsedArgs p = ParseArgs(args, {"--root", "--windows"}, {"--silent", "-S"});
  if (p.Positional.size() != 1)
    throw ECliError("usage: gbsetup uninstall [--root DIR] [--windows 32|64] [--silent] INSTALLED\\UnLog.txt");
  if (p.Has("--root")) SetSandboxRoot(p.Get("--root"));
  UseSandboxWindows(p);
  const bool silent = p.Has("--silent") || p.Has("-S");
  const AnsiString logFile = MachinePath(p.Positional[0]);
  // The uninstaller beside the log is of its setup's kind: on 64-bit Windows a 32-bit one
  // reaches what its setup reached, through the same redirection.
  SetSandboxProgram64(ExecutableArchOf(ExtractFilePath(logFile) + SUninstallerName) == TImageArch::X64);

  TUninstaller uninstaller(logFile);
  try {
    uninstaller.LoadLog();
  } catch (const Exception& e) {
    std::fprintf(stderr, "gbsetup: cannot read the install log, nothing was removed: %s\n", Out(e.Message()).c_str());
    return 1;
  }
  SetApplicationTitle("卸载“" + uninstaller.Title() + "”");
  const TProductLock lock(uninstaller.Title());
  if (!lock.Held()) {
    std::fprintf(stderr, "gbsetup: %s\n", Out(Format(SProductBusy, uninstaller.Title().c_str())).c_str());
    return kExitAlreadyRunning;
  }
  if (!silent && !AskYesNo(uninstaller.Question())) {
    std::printf("nothing removed\n");
    return 2;
  }
  uninstaller.SetUninstallerFile(ExtractFilePath(logFile) + SUninstallerName);
  uninstaller.Run();
  std::printf("uninstalled %s: %d item(s) removed\n", Out(uninstaller.Title()).c_str(), uninstaller.RemovedCount());
  if (uninstaller.NotRemoved().Count() == 0) return 0;
  std::printf("not removed:\n");
  for (const AnsiString& s : uninstaller.NotRemoved()) std::printf("  %s\n", Out(s).c_str());
  return 3;
}

}  // namespace

GB_COMMAND("uninstall", "undo an installation in the sandbox from its UnLog.txt",
           "usage: gbsetup uninstall [--root DIR] [--windows 32|64] [--silent] INSTALLED\\UnLog.txt\n"
           "\n"
           "Does on the sandbox machine what UnIns.exe does on Windows: reads the install log, asks\n"
           "whether to remove the program (--silent, -S: do not ask), undoes the log's records in\n"
           "reverse order (files with their registrations, registry values, shortcuts, empty created\n"
           "folders), then removes the uninstall entry, UnLog.txt and UnIns.exe beside it.\n"
           "\n"
           "  --root DIR   the sandbox root (default: $GBSETUP_ROOT)\n"
           "  --windows 32|64  the machine the sandbox plays (default: what the root was made as,\n"
           "               see install); a 32-bit uninstaller on 64-bit Windows is redirected\n"
           "               as its setup was\n"
           "  INSTALLED\\UnLog.txt  a machine path (C:\\...) or a host path below the sandbox\n"
           "\n"
           "Exit codes: 0 everything removed, 1 unreadable log (nothing removed), 2 declined,\n"
           "3 some items were left (listed).",
           RunUninstall);
