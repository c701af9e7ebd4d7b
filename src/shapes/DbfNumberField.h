// A numeric field's value read in place, for passes over millions of rows:
// the right-aligned decimal text such fields hold ("  -12.50") is read digit
// by digit, anything else goes through ParseDbfNumber, so the value is always
// the double ParseDbfNumber gives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

#include "shapes/DbfTable.h"

namespace kestrune {

// Blank-aware parsing: a field of spaces and NUL bytes only gives NaN.
double ParseDbfNumberOrBlankSlow(const char* text, std::size_t length);
// ParseDbfNumberOrBlank as a call, for the rare texts of quicker readers.
double ParseDbfNumberOrBlankCall(const char* text, std::size_t length);

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

// The same for a field of length bytes declared with decimals: a number
// written right-aligned with exactly that many decimals and at most 8
// characters before its point (as logs write them) is read without a branch
// per character; any other text goes through ParseDbfNumberOrBlank. Reads 8
// bytes from text whatever the length: the caller makes sure they are there.
__attribute__((always_inline)) inline double ParseDbfNumberOrBlankFixed(const char* text, std::size_t length,
                                                                       int decimals) {
  static constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7};
  static constexpr std::int64_t kIntegerPowers[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000};
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  constexpr std::uint64_t kHigh = 0x8080808080808080ULL;
  constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
  const std::size_t d = static_cast<std::size_t>(decimals);
  if (decimals < 0 || d > 7 || length < (d ? d + 2 : 1)) return ParseDbfNumberOrBlankCall(text, length);
  // The characters before the point (all of them without decimals).
  const std::size_t m = d ? length - d - 1 : length;
  if (m > 8 || (d && text[m] != '.')) return ParseDbfNumberOrBlankCall(text, length);
  std::uint64_t fraction = 0;
  bool digitsOnly = true;
  for (std::size_t k = 0; k < d; ++k) {
    const unsigned c = static_cast<unsigned char>(text[m + 1 + k]) - unsigned{'0'};
    digitsOnly &= c < 10;
    fraction = fraction * 10 + c;
  }
  // The part before the point in the word's top bytes (the first character
  // lowest): one high bit per byte marks its kind.
  std::uint64_t word;
  std::memcpy(&word, text, sizeof word);
  const unsigned emptyBits = 8 * static_cast<unsigned>(8 - m);
  word = m == 8 ? word : word << emptyBits;
  const std::uint64_t empty = m == 8 ? 0 : kHigh & ((std::uint64_t{1} << emptyBits) - 1);
  const std::uint64_t x = word ^ (0x30 * kOnes);
  const std::uint64_t digit = ~(((x | kHigh) - 10 * kOnes) | x) & kHigh;
  const std::uint64_t s = word ^ (0x20 * kOnes);
  const std::uint64_t space = ~(((s & kLow7) + kLow7) | s) & kHigh;
  const std::uint64_t n = word ^ (0x2D * kOnes);
  const std::uint64_t minus = ~(((n & kLow7) + kLow7) | n) & kHigh;
  // Spaces, at most one minus right before the digits, then digits to the point.
  const int lowest = digit ? __builtin_ctzll(digit) : 0;  // the high bit of the first digit
  const bool shape = digitsOnly && digit != 0 && (digit | space | empty | minus) == kHigh &&
                     digit == (kHigh & (~std::uint64_t{0} << lowest)) &&
                     (minus == 0 || (lowest >= 15 && minus == std::uint64_t{1} << (lowest - 8)));
  if (!shape) return ParseDbfNumberOrBlankCall(text, length);
  const std::uint64_t digitBytes = (digit >> 7) * 0xFF;
  std::uint64_t v = (word & digitBytes) - ((0x30 * kOnes) & digitBytes);
  v = (v * 10) + (v >> 8);
  v = (((v & 0x000000FF000000FFULL) * (100 + (1000000ULL << 32))) +
       (((v >> 16) & 0x000000FF000000FFULL) * (1 + (10000ULL << 32)))) >>
      32;
  // Below 10^15: exact as a double, and the quotient correctly rounded.
  const std::int64_t digits = static_cast<std::int64_t>(v) * kIntegerPowers[d] + static_cast<std::int64_t>(fraction);
  const double value = static_cast<double>(digits) / kPowersOfTen[d];
  return minus ? -value : value;
}

}  // namespace kestrune
