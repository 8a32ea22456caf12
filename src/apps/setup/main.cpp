// Setup.exe: decides in which process the wizard runs, then runs it.
#include "core/Exceptions.h"
#include "core/ExitCodes.h"
#include "core/Sysconsts.h"
#include "core/TextUtils.h"
#include "engine/Compile.h"
#include "project/Project.h"
#include "system/RunLog.h"
#include "system/SysKernel.h"
#include "wizard/SetupEntry.h"
#include "wizard/SetupForm.h"
#include "wizard/SetupSwitches.h"
#include "wizard/win32/SetupWindow.h"
#include "wizard/win32/WinUi.h"
#include "system/win32/WideText.h"

int main() {
  // Before anything can load a DLL by name: only the system folder's copies are taken.
  RestrictDllSearch();
  // Until the project names it, boxes carry the program's own name.
  const AnsiString self = ApplicationExeName();
  const AnsiString exeName = ExtractFileName(self);
  const AnsiString stem = exeName.substr(0, exeName.rfind('.'));
  SetApplicationTitle(stem);
  const TSetupSwitches switches = ParseSetupSwitches(SplitCommandLine(wintext::CommandTail()));
  if (switches.NoBoxes()) AnswerBoxesByDefault();
  if (HasLocalRedirection(self)) {
    ShowErrorBox(Format(SLocalRedirection, (self + ".local").c_str()));
    return kExitTampered;
  }
  // A folder whose name program text cannot hold stops the run here, before anything is written.
  if (!SystemFolderNamesFit()) return 1;
  // The first instance has no window, but its queue is still serviced while it waits.
  SetProcessMessagesHandler(winui::PumpPending);
  return SetupEntry(switches, [&] {
    // The instance that installs keeps the log.
    if (switches.Log) {
      try {
        runlog::Open(switches.LogFile, stem + " 安装日志");
        runlog::Write("安装程序", self, wintext::CommandTail());
      } catch (const Exception& e) {
        ShowErrorBox("无法创建日志文件：" + e.Message());
        return static_cast<int>(kExitBadSwitch);
      }
    }
    int code;
    {
      TIntfPtr<IProject> project(new TProject());
      TIntfPtr<ICompile> compile(new TCompile());
      TFrm_Setup form(project, compile);
      form.SetSwitches(switches);
      code = RunSetupWindow(form);
    }
    runlog::Write("结果", "退出代码 " + IntToStr(code));
    runlog::Close();
    return code;
  });
}
