#pragma once
// The state of the wizard's controls as the window logic sets it. A view (the Win32
// window, or a test double) draws it and reports the user's input back.
#include <cstdint>
#include <vector>

#include "core/StringList.h"
#include "core/Types.h"

struct TControl {
  explicit TControl(const char* name, AnsiString caption = AnsiString()) : Name(name), Caption(std::move(caption)) {}
  const char* Name;    // the control's name (bNext, eInsDir, ...)
  AnsiString Caption;  // caption of a label or button, text of an edit or memo
  bool Visible = true;
  bool Enabled = true;
  bool ReadOnly = false;
  int32_t Tag = 0;
  int32_t Max = 100;  // progress bars
  int32_t Position = 0;
};

// A row of a list with check boxes (List_Component, lFinished).
struct TCheckRow {
  AnsiString Text;
  bool Checked = true;
  TStringList SubItems;
};

enum TModalResult { mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3 };
