// Setup.exe: decides in which process the wizard runs, then runs it.
#include <windows.h>

#include <cstdlib>

#include "core/Exceptions.h"
#include "core/TextUtils.h"
#include "engine/Compile.h"
#include "project/Project.h"
#include "system/SysKernel.h"
#include "wizard/SetupForm.h"
#include "wizard/win32/SetupWindow.h"

namespace {
// The version text as a decimal number, "." being the decimal point whatever the locale.
double VersionNumber(const AnsiString& text) {
  double major = 0, fraction = 0, scale = 1;
  size_t i = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) major = major * 10 + (text[i] - '0');
  if (i < text.size() && text[i] == '.')
    for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) fraction += (text[i] - '0') * (scale /= 10);
  return major + fraction;
}

int RunWizard() {
  TIntfPtr<IProject> project(new TProject());
  TIntfPtr<ICompile> compile(new TCompile());
  TFrm_Setup form(project, compile);
  return RunSetupWindow(form);
}
}  // namespace

int main(int argc, char** argv) {
  // Until the project names it, boxes carry the program's own name.
  AnsiString exeName = ExtractFileName(ApplicationExeName());
  SetApplicationTitle(exeName.substr(0, exeName.rfind('.')));
  try {
    if (VersionNumber(WindowsVersionText()) >= 6.0 && argc <= 1) {
      uint32_t exitCode = 0;
      RelaunchElevated(ApplicationExeName(), "Ins", exitCode);
      return 0;
    }
    return RunWizard();
  } catch (const Exception& e) {
    ShowErrorBox(e.Message());
  } catch (const std::exception& e) {
    ShowErrorBox(e.what());
  }
  return 1;
}
