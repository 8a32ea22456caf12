// UnIns.exe: removes what the setup installed, as its UnLog.txt records it.
//   UnIns.exe [/S]    /S: no question and no boxes
// A running program cannot delete its own file, so the uninstaller first copies itself into a
// new folder of its own in the temporary folder (see CreatePrivateFolder: nobody else can swap
// the copy that then runs with our rights) and lets the copy do the work; the copy is told which
// file is the original ("/Orig=") and which process to wait for ("/Pid=").
#include <windows.h>

#include <cstdlib>

#include "core/Exceptions.h"
#include "core/ExitCodes.h"
#include "core/Sysconsts.h"
#include "core/TextUtils.h"
#include "engine/Uninstall.h"
#include "system/SysKernel.h"
#include "system/win32/WideText.h"

namespace {
struct TOptions {
  bool Silent = false;
  AnsiString Original;  // set in the temporary copy
  DWORD WaitPid = 0;
};

TOptions ParseOptions(const std::vector<AnsiString>& args) {
  TOptions o;
  for (const AnsiString& a : args) {
    if (SameText(a, "/S"))
      o.Silent = true;
    else if (StartsText("/Orig=", a))
      o.Original = a.substr(6);
    else if (StartsText("/Pid=", a))
      o.WaitPid = static_cast<DWORD>(std::strtoul(a.c_str() + 5, nullptr, 10));
  }
  return o;
}

// Starts a copy of this program from a folder of its own; true when it runs.
bool RestartFromTemp(const AnsiString& self, bool silent) {
  AnsiString folder;
  try {
    folder = CreatePrivateFolder(TempFolder());
  } catch (const Exception&) {
    return false;  // then this instance does the work
  }
  const AnsiString copy = folder + "UnIns.exe";
  if (!CopyFileTo(self, copy, true)) {
    RemoveFolder(folder);
    return false;
  }
  AnsiString cmd = "\"" + copy + "\"" + (silent ? " /S" : "") + " \"/Orig=" + self + "\" /Pid=" +
                   IntToStr(GetCurrentProcessId());
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  wintext::W commandLine(cmd);
  if (!CreateProcessW(wintext::W(copy), commandLine.Data(), nullptr, nullptr, FALSE, 0, nullptr, wintext::W(folder),
                      &si, &pi)) {
    DeleteFileAt(copy);
    RemoveFolder(folder);
    return false;
  }
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return true;
}

bool DeleteAtReboot(const AnsiString& file) {
  return MoveFileExW(wintext::W(file), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
}

void InfoBox(const AnsiString& text) {
  MessageBoxW(nullptr, wintext::W(text), wintext::W(ApplicationTitle()), MB_OK | MB_ICONINFORMATION);
}

int Uninstall(const TOptions& o, const AnsiString& self) {
  const bool isCopy = !o.Original.empty();
  const AnsiString original = isCopy ? o.Original : self;
  if (isCopy && o.WaitPid) {
    // The first instance ends right after starting us; until then its file is locked.
    if (HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, o.WaitPid)) {
      WaitForSingleObject(h, 10000);
      CloseHandle(h);
    }
  }
  const AnsiString logFile = ExtractFilePath(original) + SUninstallLogName;
  TUninstaller uninstaller(logFile);
  try {
    uninstaller.LoadLog();
  } catch (const Exception& e) {
    if (!o.Silent)
      ShowErrorBox("无法读取卸载信息文件“" + logFile + "”，没有删除任何内容。\r\n\r\n" + e.Message());
    return 1;
  }
  SetApplicationTitle("卸载“" + uninstaller.Title() + "”");
  // Not while a setup or another uninstaller of the product is at work.
  const TProductLock lock(uninstaller.Title());
  if (!lock.Held()) {
    if (!o.Silent) ShowErrorBox(Format(SProductBusy, uninstaller.Title().c_str()));
    return kExitAlreadyRunning;
  }
  if (!o.Silent && !AskYesNo(uninstaller.Question())) return 2;
  uninstaller.SetUninstallerFile(original, DeleteAtReboot);
  uninstaller.Run();
  const TStringList& left = uninstaller.NotRemoved();
  if (!o.Silent) {
    if (left.Count() == 0) {
      InfoBox("“" + uninstaller.Title() + "”已从您的计算机中删除。");
    } else {
      AnsiString text = "卸载已完成，但以下项目无法删除，请手动删除：\r\n";
      for (int i = 0; i < left.Count() && i < 20; ++i) text += "\r\n" + left[i];
      if (left.Count() > 20) text += "\r\n...";
      ShowWarningBox(text);
    }
  }
  return left.Count() == 0 ? 0 : 3;
}
}  // namespace

int main() {
  // Before anything can load a DLL by name: only the system folder's copies are taken.
  RestrictDllSearch();
  SetApplicationTitle("卸载");
  const TOptions options = ParseOptions(wintext::Arguments());
  const AnsiString self = ApplicationExeName();
  if (HasLocalRedirection(self)) {
    if (!options.Silent) ShowErrorBox(Format(SLocalRedirection, (self + ".local").c_str()));
    return kExitTampered;
  }
  if (!SystemFolderNamesFit()) return 1;
  try {
    if (options.Original.empty() && RestartFromTemp(self, options.Silent)) return 0;
    int code = Uninstall(options, self);
    // The temporary copy and its folder go with the next restart, in that order.
    if (!options.Original.empty()) {
      DeleteAtReboot(self);
      const AnsiString folder = ExtractFilePath(self);
      DeleteAtReboot(folder.substr(0, folder.size() - 1));
    }
    return code;
  } catch (const Exception& e) {
    if (!options.Silent) ShowErrorBox(e.Message());
  } catch (const std::exception& e) {
    if (!options.Silent) ShowErrorBox(e.what());
  }
  return 1;
}
