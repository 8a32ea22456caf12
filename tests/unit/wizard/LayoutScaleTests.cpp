#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "wizard/LayoutScale.h"

// At 96 dpi nothing changes; at every other density the rows keep touching where they touched,
// and the whole window scales to its scaled client size.
TEST(LayoutScale, EdgesScaleAsCoordinatesSoNeighboursStayTouching) {
  for (int dpi : {96, 120, 144, 168, 192}) {
    SCOPED_TRACE(dpi);
    const TLayoutScale s(dpi);
    for (size_t i = 0; i < kLayoutCount; ++i) {
      const TLayoutItem& a = kLayout[i];
      const TScaledRect r = s.Rect(a);
      if (dpi == 96) {
        EXPECT_EQ(r.X, a.X);
        EXPECT_EQ(r.W, a.W);
        EXPECT_EQ(s.Font(a.FontHeight), a.FontHeight);
      }
      // Within one pixel of the exact product.
      EXPECT_LE(std::abs(r.X * 96 - a.X * dpi), 96);
      EXPECT_LE(std::abs(r.W * 96 - a.W * dpi), 96 * 2);
      for (size_t j = 0; j < kLayoutCount; ++j) {
        const TLayoutItem& b = kLayout[j];
        if (a.Page != b.Page || (a.Parent == nullptr) != (b.Parent == nullptr)) continue;
        if (a.Parent && std::strcmp(a.Parent, b.Parent) != 0) continue;
        if (a.W && a.X + a.W == b.X) {
          EXPECT_EQ(r.X + r.W, s.Rect(b).X) << a.Name << " / " << b.Name;
        }
        if (a.H && a.Y + a.H == b.Y) {
          EXPECT_EQ(r.Y + r.H, s.Rect(b).Y) << a.Name << " / " << b.Name;
        }
      }
    }
  }
  EXPECT_EQ(TLayoutScale(144).Rect(0, 0, kWizardClientWidth, kWizardClientHeight).W, 762);
  EXPECT_EQ(TLayoutScale(144).Rect(0, 0, kWizardClientWidth, kWizardClientHeight).H, 497);
  EXPECT_EQ(TLayoutScale(192).Rect(0, 0, kWizardClientWidth, kWizardClientHeight).W, 1016);
  EXPECT_EQ(TLayoutScale(192).Rect(0, 0, kWizardClientWidth, kWizardClientHeight).H, 662);
  EXPECT_EQ(TLayoutScale(144).Font(-12), -18);
  EXPECT_EQ(TLayoutScale(120).Font(-12), -15);
  EXPECT_EQ(TLayoutScale(144).Pos(-3), -5);  // half away from zero, also below it
  EXPECT_EQ(TLayoutScale(0).Dpi(), 96);
  EXPECT_EQ(TLayoutScale(100000).Dpi(), 96);
}
