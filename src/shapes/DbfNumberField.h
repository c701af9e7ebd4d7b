// A numeric field's value read in place, for passes over millions of rows:
// the right-aligned decimal text such fields hold ("  -12.50") is read digit
// by digit, anything else goes through ParseDbfNumber, so the value is always
// the double ParseDbfNumber gives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

#include "shapes/DbfTable.h"

namespace kestrune {

// Blank-aware parsing: a field of spaces and NUL bytes only gives NaN.
double ParseDbfNumberOrBlankSlow(const char* text, std::size_t length);

inline double ParseDbfNumberOrBlank(const char* text, std::size_t length) {
  // Up to 15 digits over 10^decimals: both exact doubles, so their quotient
  // is the correctly rounded value, the one ParseDbfNumber computes the same way.
  static constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                            1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  std::size_t i = 0;
  while (i < length && text[i] == ' ') ++i;
  if (i == length) return std::numeric_limits<double>::quiet_NaN();
  const bool negative = text[i] == '-';
  if (negative) ++i;
  std::uint64_t digits = 0;
  int count = 0;
  int decimals = 0;
  bool point = false;
  for (; i < length; ++i) {
    const unsigned d = static_cast<unsigned char>(text[i]) - unsigned{'0'};
    if (d < 10) {
      digits = digits * 10 + d;
      ++count;
      decimals += point;
    } else if (text[i] == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  // Only spaces may follow the number.
  std::size_t rest = i;
  while (rest < length && text[rest] == ' ') ++rest;
  if (rest != length || count == 0 || count > 15) return ParseDbfNumberOrBlankSlow(text, length);
  const double v = static_cast<double>(digits) / kPowersOfTen[decimals];
  return negative ? -v : v;
}

}  // namespace kestrune
