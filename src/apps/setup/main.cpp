// Setup.exe: decides in which process the wizard runs, then runs it.
#include "core/TextUtils.h"
#include "engine/Compile.h"
#include "project/Project.h"
#include "system/SysKernel.h"
#include "wizard/SetupEntry.h"
#include "wizard/SetupForm.h"
#include "wizard/win32/SetupWindow.h"
#include "wizard/win32/WinUi.h"

int main(int argc, char** argv) {
  // Until the project names it, boxes carry the program's own name.
  const AnsiString exeName = ExtractFileName(ApplicationExeName());
  SetApplicationTitle(exeName.substr(0, exeName.rfind('.')));
  // The first instance has no window, but its queue is still serviced while it waits.
  SetProcessMessagesHandler(winui::PumpPending);
  return SetupEntry(argc - 1, [] {
    TIntfPtr<IProject> project(new TProject());
    TIntfPtr<ICompile> compile(new TCompile());
    TFrm_Setup form(project, compile);
    return RunSetupWindow(form);
  });
}
