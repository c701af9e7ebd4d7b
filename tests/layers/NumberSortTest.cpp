// The radix sort of a column's numbers gives std::sort's order exactly, on
// small and big sets, with negatives, zeros of both signs, infinities,
// subnormals, repeats and numbers that differ only in their lowest bits.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "layers/Classes.h"
#include "layers/NumberSort.h"

namespace kestrune {
namespace {

uint64_t Bits(double v) {
  uint64_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

void ExpectSortedLikeStdSort(std::vector<double> values) {
  std::vector<double> want = values;
  std::sort(want.begin(), want.end());
  SortNumbers(values);
  ASSERT_EQ(values.size(), want.size());
  for (size_t i = 0; i < values.size(); ++i) {
    ASSERT_EQ(values[i], want[i]) << i;
    // Only zeros may differ in their sign; -0 then comes first.
    if (values[i] != 0.0) {
      ASSERT_EQ(Bits(values[i]), Bits(want[i])) << i;
    }
    if (i > 0 && values[i] == 0.0 && values[i - 1] == 0.0) {
      ASSERT_LE(std::signbit(values[i]), std::signbit(values[i - 1]));
    }
  }
}

TEST(NumberSort, GivesTheOrderOfStdSort) {
  const double inf = std::numeric_limits<double>::infinity();
  const double tiny = std::numeric_limits<double>::denorm_min();
  const std::vector<double> specials = {0.0, -0.0, inf, -inf, tiny, -tiny, 1e-310, -1e-310,
                                        std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest(),
                                        1.0, std::nextafter(1.0, 2.0), std::nextafter(1.0, 0.0), -1.0};
  std::mt19937_64 random(20850);
  struct Case {
    std::string name;
    size_t size;
    int kind;  // 0 rates with 2 decimals, 1 any bits, 2 a few repeated values, 3 specials mixed in
  };
  const Case cases[] = {{"empty", 0, 0},        {"one", 1, 1},          {"small rates", 1000, 0},
                        {"big rates", 300000, 0}, {"any bits", 200000, 1}, {"repeats", 100000, 2},
                        {"specials", 250000, 3},   {"just below radix", 4095, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<double> values;
    for (size_t i = 0; i < c.size; ++i) {
      switch (c.kind) {
        case 0: values.push_back(static_cast<double>(random() % 30000) / 100.0 - (i % 50 == 0 ? 20.0 : 0.0)); break;
        case 1: {
          double v;
          uint64_t bits = random();
          std::memcpy(&v, &bits, sizeof v);
          values.push_back(std::isnan(v) ? 0.5 : v);
          break;
        }
        case 2: values.push_back(static_cast<double>(random() % 5) - 2.0); break;
        default:
          values.push_back(i % 3 == 0 ? specials[random() % specials.size()]
                                      : std::ldexp(1.0, static_cast<int>(random() % 200) - 100));
          break;
      }
    }
    ExpectSortedLikeStdSort(values);
  }
}

// The statistics from the radix-sorted values: the order statistics of a
// worked example, and the mean and deviation to the bit as before.
TEST(NumberSort, StatisticsOfABigColumn) {
  std::vector<double> values;
  for (int i = 0; i < 100000; ++i) values.push_back(static_cast<double>((i * 7919) % 100000) / 10.0);
  values.push_back(std::numeric_limits<double>::quiet_NaN());
  const ValueStats s = ComputeValueStats(values);
  EXPECT_EQ(s.count, 100000u);
  EXPECT_EQ(s.blanks, 1u);
  EXPECT_EQ(s.min, 0.0);
  EXPECT_EQ(s.max, 9999.9);
  EXPECT_DOUBLE_EQ(s.median, 4999.95);
  EXPECT_DOUBLE_EQ(s.p5, 499.995);
  EXPECT_DOUBLE_EQ(s.p95, 9499.905);
  // The mean and deviation exactly as summed over std::sort's order.
  std::vector<double> sorted(values.begin(), values.end() - 1);
  std::sort(sorted.begin(), sorted.end());
  double mean = 0.0, m2 = 0.0;
  size_t n = 0;
  for (double v : sorted) {
    const double d = v - mean;
    mean += d / static_cast<double>(++n);
    m2 += d * (v - mean);
  }
  EXPECT_EQ(Bits(s.mean), Bits(mean));
  EXPECT_EQ(Bits(s.sd), Bits(std::sqrt(m2 / static_cast<double>(n - 1))));
  EXPECT_NEAR(s.mean, 4999.95, 1e-6);
}

}  // namespace
}  // namespace kestrune
