#pragma once
// The layout's rectangles and font heights are design sizes at 96 dpi. A view that draws at
// another density (the window at 150 %, a preview at --scale 2) scales every one of them here,
// between the layout table and the view: neither the table nor the window logic knows the
// density. Edges are scaled as coordinates, so neighbours that touch at 96 dpi still touch.
#include "wizard/Layout.h"

struct TScaledRect {
  int X, Y, W, H;
};

class TLayoutScale {
public:
  static constexpr int kDesignDpi = 96;

  // dpi below 96 or above 480 (a broken setting) is taken as 96.
  explicit TLayoutScale(int dpi = kDesignDpi);

  int Dpi() const { return FDpi; }
  bool IsIdentity() const { return FDpi == kDesignDpi; }

  // A coordinate: v * dpi / 96, rounded half away from zero.
  int Pos(int v) const;
  // A length that starts at `at`: the distance between the scaled edges.
  int Len(int at, int length) const { return Pos(at + length) - Pos(at); }
  // A length without a position (a row height, a border): scaled as from 0.
  int Size(int length) const { return Pos(length); }
  // A font height (negative: the character height in pixels, as in the layout).
  int Font(int height) const { return Pos(height); }
  // A row's rectangle, relative to what its X and Y are relative to.
  TScaledRect Rect(const TLayoutItem& item) const;
  TScaledRect Rect(int x, int y, int w, int h) const { return {Pos(x), Pos(y), Len(x, w), Len(y, h)}; }

private:
  int FDpi;
};
