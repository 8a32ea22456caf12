#pragma once
// The wizard's main window (Win32).
#include <memory>

#include "wizard/SetupForm.h"

// Creates the window for form as the application's main window, runs its first show and the
// message loop until it closes. Returns the process exit code: 0, or 1 when the setup failed.
int RunSetupWindow(TFrm_Setup& form);

// The window of every layout row has the control id kFirstSetupControlId + its index in kLayout.
constexpr int kFirstSetupControlId = 100;

// Builds the window and all its controls for form and attaches it as the form's view, without
// showing it or running a loop, so that tests can look at it through Win32 calls. The view
// detaches itself and destroys the window when it is destroyed. The window is laid out for
// dpi (0: the system's, as RunSetupWindow does), its unpack dialog too.
std::unique_ptr<ISetupView> CreateSetupWindow(TFrm_Setup& form, int dpi = 0);
// The top-level window (HWND) of a view made by CreateSetupWindow.
void* SetupWindowHandle(ISetupView& view);
