#include "wizard/LayoutGeometry.h"

#include <algorithm>

TScaledRect LayoutBox(const TLayoutItem& item, const TLayoutScale& scale) {
  int x = item.X, y = item.Y;
  if (item.Parent) {
    if (const TLayoutItem* box = FindLayoutItem(item.Parent)) x += box->X, y += box->Y;
  }
  return scale.Rect(x, y, item.W, item.H);
}

TScaledRect CaptionBox(const TLayoutItem& item, const TLayoutScale& scale, const AnsiString& caption,
                       const TTextMeasure& measure) {
  TScaledRect box = LayoutBox(item, scale);
  const bool autoWidth = item.W == 0, autoHeight = item.H == 0;
  if (item.Kind != TLayoutKind::Label && item.Kind != TLayoutKind::Link) return box;
  if (autoWidth || autoHeight) {
    const TTextExtent size = measure(item, caption, autoWidth ? 0 : box.W);
    if (autoWidth) box.W = size.W;
    if (autoHeight) box.H = size.H;
  } else if (item.Flags & lfWordWrap) {
    const TTextExtent size = measure(item, caption, box.W);
    const int room = scale.Pos(item.Page >= 0 ? kNotebookHeight : kWizardClientHeight) - box.Y;
    if (size.H > box.H) box.H = std::max(box.H, std::min(size.H, room));
  }
  return box;
}

bool ShowsPathEnd(const TLayoutItem& item) {
  return item.Kind == TLayoutKind::Label && !(item.Flags & lfWordWrap) && item.W > 0;
}
