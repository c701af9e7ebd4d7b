// The scale bar's round lengths in both unit systems, and the orientation that
// prints a view larger.
#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "mapview/PageScale.h"

namespace kestrune {
namespace {

TEST(PageScaleTest, ScaleBarIsTheRoundLengthNearestAFifthOfTheMap) {
  struct Case {
    double mapWidthMetres;
    bool metric;
    double metres;
    const char* label;
  };
  const Case cases[] = {
      // A fifth of 1000 m is 656 ft: 500 ft is nearer by ratio than 1000 ft.
      {1000.0, false, 152.4, "500 ft"},
      {1000.0, true, 200.0, "200 m"},
      // 32.8 ft: 50 ft (× 1.52) is nearer than 20 ft (÷ 1.64).
      {50.0, false, 15.24, "50 ft"},
      {50.0, true, 10.0, "10 m"},
      // From about three quarters of a mile, miles; from about 700 m, kilometres.
      {10000.0, false, 1609.344, "1 mi"},
      {10000.0, true, 2000.0, "2 km"},
      {4000.0, true, 1000.0, "1 km"},
      {3000.0, true, 500.0, "500 m"},
      {80000.0, false, 16093.44, "10 mi"},
      // Lengths under a unit keep their decimals.
      {0.5, true, 0.1, "0.1 m"},
      {0.6, false, 0.1524, "0.5 ft"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const ScaleBar bar = ChooseScaleBar(c.mapWidthMetres, c.metric);
    EXPECT_NEAR(bar.metres, c.metres, 1e-9 * c.metres);
    EXPECT_EQ(bar.label, c.label);
  }
  for (double none : {0.0, -5.0, std::nan("")}) {
    EXPECT_EQ(ChooseScaleBar(none, false).metres, 0.0);
    EXPECT_EQ(ChooseScaleBar(none, false).label, "");
  }
}

TEST(PageScaleTest, LandscapeWhenTheViewPrintsLargerTurned) {
  struct Case {
    double w, h, paperW, paperH;
    bool landscape;
  };
  const Case cases[] = {
      // Letter with 2.5 inches kept: upright 8.5 × 8.5, turned 11 × 6.
      {1000, 700, 8.5, 11, true},   // min(11/1000, 6/700) = 0.0086 > 0.0085
      {1000, 800, 8.5, 11, false},  // 0.0075 < 0.0085
      {200, 800, 8.5, 11, false},
      {1600, 500, 8.5, 11, true},
      // The paper's sides may come in either order.
      {1600, 500, 11, 8.5, true},
      {1000, 1000, 8.27, 11.69, false},
      {0, 700, 8.5, 11, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
    EXPECT_EQ(LandscapePrintsLarger(c.w, c.h, c.paperW, c.paperH, kBlocksBelowInches), c.landscape);
  }
}

}  // namespace
}  // namespace kestrune
