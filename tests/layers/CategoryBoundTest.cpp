// A categorised theme collects at most kMaxCategories values; past them new
// values fall into "Other" and are only counted.
#include <string>

#include <gtest/gtest.h>

#include "layers/CategoryLegend.h"

namespace kestrune {
namespace {

TEST(CategoryBound, CollectsUpToTheBoundAndCountsTheRest) {
  CategoryLegend legend;
  legend.Begin("HYBRID");
  for (int i = 0; i < 5000; ++i) {
    const int index = legend.IndexOf("v" + std::to_string(i));
    EXPECT_EQ(index, i < 4096 ? i : kBeyondCategories) << i;
  }
  // Values seen again: the listed keep their index, the others stay beyond.
  EXPECT_EQ(legend.IndexOf("v17"), 17);
  EXPECT_EQ(legend.IndexOf("v4999"), kBeyondCategories);
  EXPECT_EQ(legend.GetCount(), 4096u);
  EXPECT_EQ(legend.DistinctCount(), 5000u);
  EXPECT_TRUE(legend.IsBounded());
  EXPECT_EQ(legend.ColorOf(kBeyondCategories), kCategoryOtherColor);
  EXPECT_EQ(legend.ValueOf(4095), "v4095");
  const auto lines = legend.GetLines();
  ASSERT_EQ(lines.size(), 13u);
  EXPECT_EQ(lines[0].label, "v0");
  EXPECT_EQ(lines[12].color, kCategoryOtherColor);
  // A new field starts the count over.
  legend.Begin("MUSYM");
  EXPECT_FALSE(legend.IsBounded());
  EXPECT_EQ(legend.IndexOf("x"), 0);
  EXPECT_EQ(legend.DistinctCount(), 1u);
}

}  // namespace
}  // namespace kestrune
