#pragma once
// The unpack dialog's window (Win32).
#include "wizard/ReleasePlanForm.h"

// Shows the dialog modally: the release starts once it is on screen, and the call returns
// when the dialog has closed. It is laid out for dpi (0: the system's).
void ShowReleasePlanModal(TFrm_ReleasePlan& dialog, int dpi = 0);
