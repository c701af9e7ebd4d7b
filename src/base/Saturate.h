// Conversions of doubles into 32-bit integers that saturate at the limits
// instead of overflowing (NaN gives 0), so far-off points, huge zooms and bad
// input stay defined.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace kestrune {

// Truncates toward zero.
inline int32_t SaturatingTruncate(double value) {
  if (std::isnan(value)) return 0;
  if (value >= static_cast<double>(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
  if (value <= static_cast<double>(std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

// Rounds half away from zero: values <= 0 lose 0.5, positive values gain 0.5,
// then the fraction is cut off.
inline int32_t SaturatingRoundHalfAway(double value) {
  return SaturatingTruncate(value <= 0.0 ? value - 0.5 : value + 0.5);
}

}  // namespace kestrune
