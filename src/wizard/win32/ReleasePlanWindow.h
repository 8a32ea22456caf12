#pragma once
// The unpack dialog's window (Win32).
#include "wizard/ReleasePlanForm.h"

// Shows the dialog modally: the release starts once it is on screen, and the call returns
// when the dialog has closed.
void ShowReleasePlanModal(TFrm_ReleasePlan& dialog);
