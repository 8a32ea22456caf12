#include "wizard/LayoutScale.h"

TLayoutScale::TLayoutScale(int dpi) : FDpi(dpi < kDesignDpi || dpi > 480 ? kDesignDpi : dpi) {}

int TLayoutScale::Pos(int v) const {
  const long long n = static_cast<long long>(v) * FDpi;
  // Half away from zero, in integers: the same result on every build.
  const long long q = (n >= 0 ? n + kDesignDpi / 2 : n - kDesignDpi / 2) / kDesignDpi;
  return static_cast<int>(q);
}

TScaledRect TLayoutScale::Rect(const TLayoutItem& item) const { return Rect(item.X, item.Y, item.W, item.H); }
