// A numeric field read in place gives exactly the double the C library's
// strtod gives for the field's text (up to its first NUL byte), and NaN for a
// blank field, whether the text takes the quick digit-by-digit way or not.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "shapes/DbfNumberField.h"
#include "shapes/DbfTable.h"

namespace kestrune {
namespace {

uint64_t Bits(double v) {
  uint64_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

// What strtod reads from the field's text (the field is a C string of its own).
double Strtod(const std::string& field) {
  const std::string text(field.c_str());
  return std::strtod(text.c_str(), nullptr);
}

bool Blank(const std::string& field) {
  for (char c : field) {
    if (c != ' ' && c != '\0') return false;
  }
  return true;
}

TEST(DbfNumberField, AwkwardTextsGiveWhatStrtodGives) {
  const std::string cases[] = {
      "    188.90", "      0.00", "     -0.00", "-12.5", "  .5", "5.", "  -.5", "  +3.25", "12.5  ",
      "   12.5   ", "1 2", "\t7.5", "  12.5x", "12,5", "1.2.3", "1e5", "  1.5E-3", "0x1A", "000000000000001.5",
      "0000000000000001.5", "123456789012345", "1234567890123456", "9007199254740993", "999999999999999.9",
      "0.1", "0.30000000000000004", "4.35", "1.005", "  -2147483648", "1.7976931348623157e308", "1e400",
      std::string("12.5\0\0\0", 7), std::string("\0 5", 3), std::string(" 1\0 9", 5), "-", ".", "--1", "-+1",
      "abc", "  -", " . 5", "+.", "0.000000000000001", "0.0000000000000001"};
  for (const std::string& text : cases) {
    SCOPED_TRACE("\"" + text + "\"");
    const double got = ParseDbfNumberOrBlank(text.data(), text.size());
    ASSERT_FALSE(std::isnan(got));
    EXPECT_EQ(Bits(got), Bits(Strtod(text)));
    EXPECT_EQ(Bits(got), Bits(ParseDbfNumber(text.data(), text.size())));
  }
}

TEST(DbfNumberField, BlankFieldsGiveNaN) {
  for (const std::string& text : {std::string(""), std::string("          "), std::string("\0\0\0\0", 4),
                                  std::string("  \0 \0", 5)}) {
    ASSERT_TRUE(Blank(text));
    EXPECT_TRUE(std::isnan(ParseDbfNumberOrBlank(text.data(), text.size()))) << '"' << text << '"';
  }
}

// Numbers as a log writes them, right-aligned in fields of every width with
// any number of decimals, and left-aligned ones: the same bits as strtod.
TEST(DbfNumberField, GeneratedFieldsGiveWhatStrtodGives) {
  std::mt19937_64 random(20850);
  int checked = 0;
  for (int i = 0; i < 200000; ++i) {
    const int width = 1 + static_cast<int>(random() % 20);
    const int decimals = static_cast<int>(random() % 16);
    const int digits = 1 + static_cast<int>(random() % 18);
    std::string number;
    if (random() % 3 == 0) number += '-';
    for (int d = 0; d < digits; ++d) number += static_cast<char>('0' + random() % 10);
    if (decimals > 0 && decimals < digits) number.insert(number.size() - static_cast<size_t>(decimals), ".");
    if (static_cast<int>(number.size()) > width) continue;
    const size_t pad = static_cast<size_t>(width) - number.size();
    const std::string field = random() % 4 == 0 ? number + std::string(pad, ' ') : std::string(pad, ' ') + number;
    ASSERT_EQ(Bits(ParseDbfNumberOrBlank(field.data(), field.size())), Bits(Strtod(field))) << '"' << field << '"';
    ++checked;
  }
  EXPECT_GT(checked, 50000);
}

// The fixed-field reader gives the bits ParseDbfNumberOrBlank gives (NaN for
// NaN) for every text and every declared number of decimals, whether the
// text has the layout it reads quickly or not. Each field sits at the end of
// its buffer but for the 8 bytes the reader may read.
TEST(DbfNumberField, FixedFieldReaderGivesWhatTheGeneralOneGives) {
  const auto check = [](const std::string& field, int decimals) {
    std::string buffer = field + std::string(8, '9');
    const double fixed = ParseDbfNumberOrBlankFixed(buffer.data(), field.size(), decimals);
    const double general = ParseDbfNumberOrBlank(field.data(), field.size());
    if (std::isnan(general)) {
      EXPECT_TRUE(std::isnan(fixed)) << '"' << field << "\" " << decimals;
    } else {
      EXPECT_EQ(Bits(fixed), Bits(general)) << '"' << field << "\" " << decimals;
    }
  };
  const std::string cases[] = {
      "    188.90", "      0.00", "     -0.00", "   -12.50", "  -.50", "    5.", "  +3.25", "12.50  ", " 1 2.50",
      "\t7.50", " 12.5x", "  12,50", "1.2.30", "-", ".", "--1.00", "- 1.00", " -1-1.00", "12345678.00",
      "123456789.00", "99999999.9999999", "-99999999.9999999", "00000001.50", "        ", "", "5", "-5", "  42",
      "     1.5", "    -1.05", "  1.005", std::string("  12.50\0", 8), std::string("\0 12.50", 8),
      std::string(" 1\0.50", 7), "abcdefgh", "12.5e3", "1234.5678"};
  for (const std::string& text : cases) {
    for (int decimals = -1; decimals <= 9; ++decimals) check(text, decimals);
  }
  // Right-aligned logs with the declared decimals, and everything else the
  // generator makes.
  std::mt19937_64 random(20880);
  for (int i = 0; i < 200000; ++i) {
    const int width = 1 + static_cast<int>(random() % 16);
    const int decimals = static_cast<int>(random() % 9);
    const int digits = 1 + static_cast<int>(random() % 15);
    std::string number;
    if (random() % 3 == 0) number += '-';
    for (int d = 0; d < digits; ++d) number += static_cast<char>('0' + random() % 10);
    const int written = random() % 4 == 0 ? static_cast<int>(random() % 9) : decimals;
    if (written > 0 && written < digits) number.insert(number.size() - static_cast<size_t>(written), ".");
    if (static_cast<int>(number.size()) > width) continue;
    const size_t pad = static_cast<size_t>(width) - number.size();
    check(random() % 8 == 0 ? number + std::string(pad, ' ') : std::string(pad, ' ') + number, decimals);
  }
}

}  // namespace
}  // namespace kestrune
