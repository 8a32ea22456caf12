#include "project/Operation.h"

#include "system/SysKernel.h"

void TOperation::ErrorBox(const AnsiString& text) { ShowErrorBox(text); }
bool TOperation::ConfirmBox(const AnsiString& text) { return AskYesNo(text); }
void TOperation::WarningBox(const AnsiString& text) { ShowWarningBox(text); }
