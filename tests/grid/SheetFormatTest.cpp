// Number text of the grid: formatting against the C library, truncation that
// keeps the digits a user sees, and the reading of typed numbers.
#include <cmath>
#include <cstdio>

#include <gtest/gtest.h>

#include "grid/SheetFormat.h"

namespace kestrune {
namespace {

TEST(SheetFormat, FixedFormattingMatchesPrintfInTheCLocale) {
  const double values[] = {0.0,      0.5,    3.14159, 2.675,  -1.239, 1e15,   123456.789,
                           1.005,    -99.995, 0.125,  1e-7,   42.0,   -7.5,   1e20};
  for (double v : values) {
    for (int decimals = 0; decimals <= 6; ++decimals) {
      char expected[512];
      std::snprintf(expected, sizeof expected, "%.*f", decimals, v);
      EXPECT_EQ(FormatFixed(v, decimals).toStdString(), expected) << v << " / " << decimals;
    }
  }
}

TEST(SheetFormat, FixedFormattingDropsTheSignOfZeroAndClampsDecimals) {
  EXPECT_EQ(FormatFixed(-0.001, 2), "0.00");
  EXPECT_EQ(FormatFixed(-0.0, 1), "0.0");
  EXPECT_EQ(FormatFixed(-0.5, 0), "0");  // printf rounds -0.5 to "-0"
  EXPECT_EQ(FormatFixed(1.5, -3), "2");
  EXPECT_EQ(FormatFixed(1.0, 40), "1.000000000000000000");
}

TEST(SheetFormat, TruncationCutsTheVisibleDigitsTowardZero) {
  EXPECT_DOUBLE_EQ(TruncateToDecimals(1.239, 2), 1.23);
  EXPECT_DOUBLE_EQ(TruncateToDecimals(-1.239, 2), -1.23);
  EXPECT_DOUBLE_EQ(TruncateToDecimals(3.14159, 2), 3.14);
  EXPECT_DOUBLE_EQ(TruncateToDecimals(7.9, 0), 7.0);
  EXPECT_DOUBLE_EQ(TruncateToDecimals(-7.9, 0), -7.0);
  EXPECT_DOUBLE_EQ(TruncateToDecimals(1e20, 2), 1e20);
  EXPECT_DOUBLE_EQ(TruncateToDecimals(0.000123, 5), 0.00012);
}

TEST(SheetFormat, TruncationKeepsValuesThatBinaryScalingWouldLose) {
  // x * 100 lands just below the integer for these, so trunc(x * 100) / 100
  // would drop a cent from a value the field holds exactly.
  for (double v : {1.15, 0.29, 4.35, 8.2, 1.13, 64.1, 1234.56}) {
    EXPECT_DOUBLE_EQ(TruncateToDecimals(v, 2), v) << v;
    EXPECT_EQ(FormatFixed(TruncateToDecimals(v, 2), 2), FormatFixed(v, 2)) << v;
  }
  EXPECT_DOUBLE_EQ(TruncateToDecimals(2.3, 1), 2.3);
}

TEST(SheetFormat, TruncationToZeroIsPositiveAndNonFiniteIsUntouched) {
  const double z = TruncateToDecimals(-0.004, 2);
  EXPECT_EQ(z, 0.0);
  EXPECT_FALSE(std::signbit(z));
  EXPECT_TRUE(std::isinf(TruncateToDecimals(INFINITY, 2)));
  EXPECT_TRUE(std::isnan(TruncateToDecimals(NAN, 2)));
}

TEST(SheetFormat, ParsingTakesTheLongestNumberPrefix) {
  EXPECT_DOUBLE_EQ(ParseNumberPrefix("3.14159"), 3.14159);
  EXPECT_DOUBLE_EQ(ParseNumberPrefix("12abc"), 12.0);
  EXPECT_DOUBLE_EQ(ParseNumberPrefix("  \t-3.5e2x"), -350.0);
  EXPECT_DOUBLE_EQ(ParseNumberPrefix("+7"), 7.0);
  EXPECT_DOUBLE_EQ(ParseNumberPrefix(".5"), 0.5);
  EXPECT_DOUBLE_EQ(ParseNumberPrefix("5."), 5.0);
  EXPECT_DOUBLE_EQ(ParseNumberPrefix("1e"), 1.0);
  EXPECT_DOUBLE_EQ(ParseNumberPrefix("1e+"), 1.0);
  EXPECT_DOUBLE_EQ(ParseNumberPrefix("2E-1"), 0.2);
  EXPECT_DOUBLE_EQ(ParseNumberPrefix("3,75"), 3.0);  // the comma is not a decimal mark here
  EXPECT_DOUBLE_EQ(ParseNumberPrefix("1 000"), 1.0);
}

TEST(SheetFormat, ParsingGivesZeroForTextsWithoutAUsableNumber) {
  for (const char* text : {"", "abc", "-", ".", "+.", "e5", "0x1A", "inf", "nan", "-inf",
                           "1e400", "   "}) {
    const double v = ParseNumberPrefix(text);
    EXPECT_EQ(v, 0.0) << text;
    EXPECT_FALSE(std::signbit(v)) << text;
  }
  EXPECT_EQ(ParseNumberPrefix("-0"), 0.0);
  EXPECT_FALSE(std::signbit(ParseNumberPrefix("-0")));
}

}  // namespace
}  // namespace kestrune

namespace kestrune {
namespace {

TEST(ParseWholeNumber, OnlyATextThatIsOneNumberIsTaken) {
  const std::pair<const char*, double> numbers[] = {
      {"12.5", 12.5}, {" -3 ", -3.0}, {"+.25", 0.25}, {"1e3", 1000.0}, {"7.", 7.0}, {"\t0\t", 0.0}};
  for (const auto& [text, want] : numbers) {
    double value = -1;
    EXPECT_TRUE(ParseWholeNumber(QString::fromLatin1(text), value)) << text;
    EXPECT_EQ(value, want) << text;
  }
  for (const char* text : {"12O.5", "", "  ", "1e", "3,5", ".", "-", "inf", "nan", "0x10", "1e999", "5 kg"}) {
    double value = -1;
    EXPECT_FALSE(ParseWholeNumber(QString::fromLatin1(text), value)) << text;
    EXPECT_EQ(value, 0.0) << text;
  }
  double value = -1;
  EXPECT_FALSE(ParseWholeNumber(QString::fromUtf8("\xD9\xA3"), value)) << "an Arabic-Indic digit is no digit here";
}

}  // namespace
}  // namespace kestrune
