#pragma once
// The wizard window's layout, declared once: every control with its kind, page, rectangle,
// font, default caption and style. The window logic takes its default captions from here and
// the Win32 view builds its windows from the same rows.
#include <cstddef>
#include <cstdint>

enum class TLayoutKind : uint8_t {
  Window,       // the wizard window itself (caption pattern)
  Page,         // a notebook page (its caption identifies it)
  Label,        // static text; W and H 0 = sized to its text
  Link,         // a label that opens its own text when clicked
  Edit,         // one-line edit
  Memo,         // read-only multi-line text
  DetailList,   // the progress page's detail lines: a list that takes one line at a time
  Button,
  CheckList,    // list with a check box per row
  List,         // plain list box
  ReportList,   // list view in report mode with check boxes, one column, no header
  ProgressBar,
  Picture,
  Frame,        // lowered frame around a memo or list
  GroupBox,
  Bevel,        // horizontal line
};

enum TLayoutFlag : uint32_t {
  lfTransparent = 1u << 0,
  lfWordWrap = 1u << 1,
  lfHidden = 1u << 2,
  lfBold = 1u << 3,
  lfStretch = 1u << 4,
  lfVScroll = 1u << 5,
  lfNoBorder = 1u << 6,
  lfReadOnly = 1u << 7,
  lfDefault = 1u << 8,   // the default push button
  lfCancel = 1u << 9,    // the window's cancel button (Esc)
  lfWhite = 1u << 10,    // a page on a white panel
  lfFixedRows = 1u << 11,  // fixed item height of 18
};

struct TLayoutItem {
  const char* Name;
  TLayoutKind Kind;
  int8_t Page;          // notebook page 0-8; -1 below the notebook
  const char* Parent;   // group box whose client area the rectangle is relative to, or null
  int16_t X, Y, W, H;
  int8_t FontHeight;    // -12, or -16 where a heading says so
  uint32_t Flags;
  const char* Caption;  // default caption (labels, buttons, pages), empty for the others
};

// The rows in creation order, which is also the Tab order of each page.
extern const TLayoutItem kLayout[];
extern const size_t kLayoutCount;

// The window's client size and the notebook's height.
constexpr int kWizardClientWidth = 508;
constexpr int kWizardClientHeight = 331;
constexpr int kNotebookHeight = 289;

// The row of that name; null when there is none.
const TLayoutItem* FindLayoutItem(const char* name);
// Its caption; "" when there is none.
const char* LayoutCaption(const char* name);
