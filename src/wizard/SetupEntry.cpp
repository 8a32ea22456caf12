#include "wizard/SetupEntry.h"

#include "core/ExitCodes.h"
#include "core/Exceptions.h"
#include "system/SysKernel.h"

double VersionNumber(const AnsiString& text) {
  double major = 0, fraction = 0, scale = 1;
  size_t i = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) major = major * 10 + (text[i] - '0');
  if (i < text.size() && text[i] == '.')
    for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) fraction += (text[i] - '0') * (scale /= 10);
  return major + fraction;
}

int SetupEntry(const TSetupSwitches& switches, const std::function<int()>& runWizard) {
  if (switches.Help || !switches.Bad.empty()) {
    if (!switches.NoBoxes()) {
      if (switches.Bad.empty()) ShowInfoBox(SetupSwitchesHelp());
      else ShowErrorBox("无效的开关或开关值：" + switches.Bad + "\r\n\r\n" + SetupSwitchesHelp());
    }
    return switches.Bad.empty() ? kExitSuccess : kExitBadSwitch;
  }
  try {
    // An administrator's or the system's process (a deployment tool's) installs itself.
    if (VersionNumber(WindowsVersionText()) >= 6.0 && !switches.OtherParameters && !RunsElevated()) {
      // The elevated instance's code is the run's: a deployment tool sees what it did.
      uint32_t exitCode = 0;
      RelaunchElevated(ApplicationExeName(), "Ins" + (switches.PassOn.empty() ? "" : " " + switches.PassOn),
                       exitCode);
      return static_cast<int>(exitCode);
    }
    return runWizard();
  } catch (const Exception& e) {
    ShowErrorBox(e.Message());
  } catch (const std::exception& e) {
    ShowErrorBox(e.what());
  }
  return kExitFailed;
}
