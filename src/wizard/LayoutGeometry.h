#pragma once
// The geometry rules every view of the wizard applies to the layout's rows in the same way:
// where a row lies on its page, how a label takes the size of its text, the row height of the
// lists. The Win32 window and the preview both place their controls through these.
#include <functional>

#include "core/Types.h"
#include "wizard/Layout.h"
#include "wizard/LayoutScale.h"

// Design sizes: the row height of a list with lfFixedRows, the width of a report list's column.
constexpr int kFixedRowHeight = 18;
constexpr int kReportColumnWidth = 200;

struct TTextExtent {
  int W = 0, H = 0;
};
// The size of caption in the row's font at the view's density: one line when wrapWidth is 0,
// else wrapped to that width. An & marks an accelerator and takes no room, as in a label.
using TTextMeasure = std::function<TTextExtent(const TLayoutItem& item, const AnsiString& caption, int wrapWidth)>;

// The row's rectangle on its page (below the notebook: in the window's client area) at the
// scale's density; a row inside a group box is placed by the box's position.
TScaledRect LayoutBox(const TLayoutItem& item, const TLayoutScale& scale);

// A label's box for a caption: the table's, or sized to the text where the table gives 0. A
// wrapped label whose text needs more lines than its box has (a font other than the one the
// layout was made for) grows downwards within the page, so no line is cut off.
TScaledRect CaptionBox(const TLayoutItem& item, const TLayoutScale& scale, const AnsiString& caption,
                       const TTextMeasure& measure);

// A label of fixed width on one line (the file being installed) shows the end of a long path.
bool ShowsPathEnd(const TLayoutItem& item);
