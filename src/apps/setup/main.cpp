// Setup.exe: decides in which process the wizard runs, then runs it.
#include "core/TextUtils.h"
#include "engine/Compile.h"
#include "project/Project.h"
#include "system/SysKernel.h"
#include "wizard/SetupEntry.h"
#include "wizard/SetupForm.h"
#include "wizard/win32/SetupWindow.h"

int main(int argc, char** argv) {
  // Until the project names it, boxes carry the program's own name.
  const AnsiString exeName = ExtractFileName(ApplicationExeName());
  SetApplicationTitle(exeName.substr(0, exeName.rfind('.')));
  return SetupEntry(argc - 1, [] {
    TIntfPtr<IProject> project(new TProject());
    TIntfPtr<ICompile> compile(new TCompile());
    TFrm_Setup form(project, compile);
    return RunSetupWindow(form);
  });
}
