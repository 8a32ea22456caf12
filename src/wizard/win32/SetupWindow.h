#pragma once
// The wizard's main window (Win32).
#include "wizard/SetupForm.h"

// Creates the window for form as the application's main window, runs its first show and the
// message loop until it closes. Returns the process exit code: 0, or 1 when the setup failed.
int RunSetupWindow(TFrm_Setup& form);
