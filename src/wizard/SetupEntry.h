#pragma once
// The setup program's entry routine: on NT 6.0 and later a start that is not elevated, with no
// parameters or switches only, relaunches the program elevated with "Ins" and the switches,
// and ends with that instance's code; every other start runs the wizard here.
#include <functional>

#include "core/Types.h"
#include "wizard/SetupSwitches.h"

// The version text read as a decimal number, "." being the decimal point.
double VersionNumber(const AnsiString& text);

// runWizard runs the wizard in this process and returns its exit code; a relaunch returns the
// elevated instance's. /? shows the switches (0), a bad switch shows them too (87); a refused
// elevation shows "Operation aborted" and gives 1.
int SetupEntry(const TSetupSwitches& switches, const std::function<int()>& runWizard);
