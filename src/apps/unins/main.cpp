// UnIns.exe: removes what the setup installed, as its UnLog.txt records it.
//   UnIns.exe [/S | /VERYSILENT] [/SUPPRESSMSGBOXES] [/NORESTART] [/LOG[=file]]
// /S and /VERYSILENT: no question and no boxes. A running program cannot delete its own file,
// so the uninstaller first copies itself into a new folder of its own in the temporary folder
// (see CreatePrivateFolder: nobody else can swap the copy that then runs with our rights) and
// lets the copy do the work, waiting for it: the copy reports its exit code through a pipe,
// then waits for this instance to end and removes what is left of the original. The copy is
// told which file is the original ("/Orig="), which process to wait for ("/Pid=") and where
// to report ("/Report=", an inherited pipe handle).
#include <windows.h>

#include <cstdlib>

#include "core/CommandLine.h"
#include "core/Exceptions.h"
#include "core/ExitCodes.h"
#include "core/Sysconsts.h"
#include "core/TextUtils.h"
#include "engine/Uninstall.h"
#include "system/Dialogs.h"
#include "system/RunLog.h"
#include "system/SysKernel.h"
#include "system/win32/WideText.h"

namespace {
// Items left behind that the user is asked to remove by hand.
constexpr int kExitItemsLeft = 3;

struct TOptions {
  bool Silent = false;      // no question, no box
  bool NoBoxes = false;     // boxes take their default answer
  bool Log = false;
  AnsiString LogFile;
  AnsiString Bad;           // a switch not understood
  AnsiString PassOn;        // the user's switches, for the copy
  AnsiString Original;      // set in the temporary copy
  DWORD WaitPid = 0;
  HANDLE Report = nullptr;  // the first instance's pipe
};

TOptions ParseOptions(const std::vector<TCommandArgument>& args) {
  TOptions o;
  for (const TCommandArgument& arg : args) {
    const AnsiString& a = arg.Text;
    if (StartsText("/Orig=", a)) {
      o.Original = a.substr(6);
    } else if (StartsText("/Pid=", a)) {
      o.WaitPid = static_cast<DWORD>(std::strtoul(a.c_str() + 5, nullptr, 10));
    } else if (StartsText("/Report=", a)) {
      o.Report = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::strtoull(a.c_str() + 8, nullptr, 10)));
    } else {
      if (SameText(a, "/S") || SameText(a, "/VERYSILENT")) o.Silent = o.NoBoxes = true;
      else if (SameText(a, "/SUPPRESSMSGBOXES")) o.NoBoxes = true;
      else if (SameText(a, "/NORESTART")) {
        // The uninstaller never restarts the machine; a restart it needs is its exit code.
      } else if (SameText(a, "/LOG") || StartsText("/LOG=", a)) {
        o.Log = true;
        o.LogFile = a.size() > 5 ? Trim(a.substr(5)) : AnsiString();
      } else if (o.Bad.empty()) {
        o.Bad = a;
      }
      o.PassOn += " " + QuoteArgument(a);
    }
  }
  return o;
}

// Starts a copy of this program from a folder of its own and waits for its report; false when
// it could not be started (then this instance does the work).
bool RunFromTemp(const AnsiString& self, const TOptions& o, int& exitCode) {
  AnsiString folder;
  try {
    folder = CreatePrivateFolder(TempFolder());
  } catch (const Exception&) {
    return false;
  }
  const AnsiString copy = folder + "UnIns.exe";
  if (!CopyFileTo(self, copy, true)) {
    RemoveFolder(folder);
    return false;
  }
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) {
    DeleteFileAt(copy);
    RemoveFolder(folder);
    return false;
  }
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  AnsiString cmd = "\"" + copy + "\"" + o.PassOn + " \"/Orig=" + self + "\" /Pid=" + IntToStr(GetCurrentProcessId()) +
                   " /Report=" + IntToStr(static_cast<int64_t>(reinterpret_cast<uintptr_t>(writeEnd)));
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  wintext::W commandLine(cmd);
  // Started from a link, this instance's current folder is the program's: out of it, so that
  // the copy can remove it.
  SetCurrentDirectoryW(wintext::W(TempFolder()));
  const BOOL started = CreateProcessW(wintext::W(copy), commandLine.Data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      wintext::W(folder), &si, &pi);
  CloseHandle(writeEnd);
  if (!started) {
    CloseHandle(readEnd);
    DeleteFileAt(copy);
    RemoveFolder(folder);
    return false;
  }
  CloseHandle(pi.hThread);
  // The report comes when the work is done; a copy that ended without one gives its own code.
  DWORD code = 0, got = 0;
  if (!ReadFile(readEnd, &code, sizeof code, &got, nullptr) || got != sizeof code) {
    WaitForSingleObject(pi.hProcess, INFINITE);
    if (!GetExitCodeProcess(pi.hProcess, &code)) code = kExitInstallFailed;
  }
  CloseHandle(readEnd);
  CloseHandle(pi.hProcess);
  exitCode = static_cast<int>(code);
  return true;
}

bool DeleteAtReboot(const AnsiString& file) {
  return MoveFileExW(wintext::W(file), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
}

void InfoBox(const AnsiString& text) {
  if (bool answer; ResponderMessageBox(TBoxStyle::Info, text, answer)) return;
  MessageBoxW(nullptr, wintext::W(text), wintext::W(ApplicationTitle()), MB_OK | MB_ICONINFORMATION);
}

struct TRunState {
  bool RestartNeeded = false;  // the original's file goes only with the next restart
  AnsiString MovedOriginal;    // where the original was moved while its first instance ran
};

int Uninstall(const TOptions& o, const AnsiString& self, TRunState& state) {
  const bool isCopy = !o.Original.empty();
  const AnsiString original = isCopy ? o.Original : self;
  const AnsiString logFile = ExtractFilePath(original) + SUninstallLogName;
  TUninstaller uninstaller(logFile);
  try {
    uninstaller.LoadLog();
  } catch (const Exception& e) {
    runlog::Write("错误", "无法读取卸载信息文件“" + logFile + "”", e.Message());
    if (!o.NoBoxes)
      ShowErrorBox("无法读取卸载信息文件“" + logFile + "”，没有删除任何内容。\r\n\r\n" + e.Message());
    return kExitInstallFailed;
  }
  SetApplicationTitle("卸载“" + uninstaller.Title() + "”");
  // Not while a setup or another uninstaller of the product is at work.
  const TProductLock lock(uninstaller.Title());
  if (!lock.Held()) {
    runlog::Write("错误", Format(SProductBusy, uninstaller.Title().c_str()));
    if (!o.NoBoxes) ShowErrorBox(Format(SProductBusy, uninstaller.Title().c_str()));
    return kExitAlreadyRunning;
  }
  if (!o.Silent && !AskYesNo(uninstaller.Question())) {
    runlog::Write("卸载", uninstaller.Title(), "用户取消");
    return kExitCancelled;
  }
  // The running original cannot be deleted; moved beside this copy, it leaves its folder free
  // and goes once its instance has ended. Elsewhere (another drive) it goes with the restart.
  uninstaller.SetUninstallerFile(original, [&](const AnsiString& file) {
    if (isCopy) {
      const AnsiString moved = ExtractFilePath(self) + "UnIns-original.exe";
      if (MoveFileExW(wintext::W(file), wintext::W(moved), MOVEFILE_REPLACE_EXISTING)) {
        state.MovedOriginal = moved;
        return true;
      }
    }
    if (!DeleteAtReboot(file)) return false;
    state.RestartNeeded = true;
    runlog::Write("文件", file, "重启计算机后删除");
    return true;
  });
  uninstaller.Run();
  const TStringList& left = uninstaller.NotRemoved();
  if (!o.NoBoxes) {
    if (left.Count() == 0) {
      InfoBox("“" + uninstaller.Title() + "”已从您的计算机中删除。");
    } else {
      AnsiString text = "卸载已完成，但以下项目无法删除，请手动删除：\r\n";
      for (int i = 0; i < left.Count() && i < 20; ++i) text += "\r\n" + left[i];
      if (left.Count() > 20) text += "\r\n...";
      ShowWarningBox(text);
    }
  }
  if (left.Count() != 0) return kExitItemsLeft;
  return state.RestartNeeded ? kExitRestartNeeded : kExitSuccess;
}
}  // namespace

int main() {
  // Before anything can load a DLL by name: only the system folder's copies are taken.
  RestrictDllSearch();
  SetApplicationTitle("卸载");
  const TOptions options = ParseOptions(SplitCommandLine(wintext::CommandTail()));
  if (options.NoBoxes) AnswerBoxesByDefault();
  const AnsiString self = ApplicationExeName();
  if (HasLocalRedirection(self)) {
    if (!options.NoBoxes) ShowErrorBox(Format(SLocalRedirection, (self + ".local").c_str()));
    return kExitTampered;
  }
  if (!options.Bad.empty()) {
    if (!options.NoBoxes)
      ShowErrorBox("无效的开关：" + options.Bad +
                   "\r\n\r\n卸载程序可以使用以下开关：\r\n\r\n/S 或 /VERYSILENT\t不提问，不显示消息框\r\n"
                   "/SUPPRESSMSGBOXES\t消息框取默认回答\r\n/NORESTART\t不重启计算机\r\n"
                   "/LOG[=\"文件\"]\t把卸载过程写入 UTF-8 文本日志");
    return kExitBadSwitch;
  }
  if (!SystemFolderNamesFit()) return 1;
  int code = kExitInstallFailed;
  TRunState state;
  try {
    if (options.Original.empty() && RunFromTemp(self, options, code)) return code;
    // The copy (or a first instance that could not start one) does the work and keeps the log.
    if (options.Log) {
      try {
        runlog::Open(options.LogFile, "UnIns 卸载日志");
        runlog::Write("卸载程序", options.Original.empty() ? self : options.Original, wintext::CommandTail());
      } catch (const Exception& e) {
        if (!options.NoBoxes) ShowErrorBox("无法创建日志文件：" + e.Message());
      }
    }
    code = Uninstall(options, self, state);
  } catch (const Exception& e) {
    runlog::Write("错误", e.Message());
    if (!options.NoBoxes) ShowErrorBox(e.Message());
  } catch (const std::exception& e) {
    runlog::Write("错误", e.what());
    if (!options.NoBoxes) ShowErrorBox(e.what());
  }
  runlog::Write("结果", "退出代码 " + IntToStr(code));
  runlog::Close();
  if (!options.Original.empty()) {
    if (options.Report) {
      const DWORD report = static_cast<DWORD>(code);
      DWORD put = 0;
      WriteFile(options.Report, &report, sizeof report, &put, nullptr);
      CloseHandle(options.Report);
    }
    // The first instance ends on the report; then its file can go.
    if (!state.MovedOriginal.empty()) {
      if (HANDLE h = options.WaitPid ? OpenProcess(SYNCHRONIZE, FALSE, options.WaitPid) : nullptr) {
        WaitForSingleObject(h, 10000);
        CloseHandle(h);
      }
      if (!DeleteFileW(wintext::W(state.MovedOriginal))) DeleteAtReboot(state.MovedOriginal);
    }
    // The temporary copy and its folder go with the next restart, in that order.
    DeleteAtReboot(self);
    const AnsiString folder = ExtractFilePath(self);
    DeleteAtReboot(folder.substr(0, folder.size() - 1));
  }
  return code;
}
