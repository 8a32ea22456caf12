#pragma once
// Reference-counted base of the project and the package engine, with the three message
// boxes they show (owned by the active window, captioned with the application title).
#include "core/Interfaces.h"
#include "core/Types.h"

class TOperation : public TInterfacedObject {
public:
  // Error icon, OK.
  void ErrorBox(const AnsiString& text);
  // Question icon, Yes and No; true exactly for Yes.
  bool ConfirmBox(const AnsiString& text);
  // Warning icon, OK.
  void WarningBox(const AnsiString& text);
};
