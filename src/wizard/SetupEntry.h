#pragma once
// The setup program's entry routine: on NT 6.0 and later a start without parameters relaunches
// the program elevated with "Ins" and ends; every other start runs the wizard here.
#include <functional>

#include "core/Types.h"

// The version text read as a decimal number, "." being the decimal point.
double VersionNumber(const AnsiString& text);

// paramCount: the command line's parameters (0 for none). runWizard runs the wizard in this
// process and returns its exit code; a relaunch returns the elevated instance's. A refused
// elevation shows "Operation aborted" and gives 1.
int SetupEntry(int paramCount, const std::function<int()>& runWizard);
