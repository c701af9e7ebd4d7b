// Map units: 32-bit integers of 0.02 m in the map's sphere Mercator, x east, y south.
#pragma once

#include <cstdint>
#include <limits>

#include "base/Units.h"

namespace kestrune {

struct MapPoint {
  int32_t x = 0;
  int32_t y = 0;
  friend bool operator==(const MapPoint& a, const MapPoint& b) { return a.x == b.x && a.y == b.y; }
  friend bool operator!=(const MapPoint& a, const MapPoint& b) { return !(a == b); }
};

// (left, top, right, bottom); in map units top is the northern, smaller y.
struct MapRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
  friend bool operator==(const MapRect& a, const MapRect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
  }
  friend bool operator!=(const MapRect& a, const MapRect& b) { return !(a == b); }
};

// The "nothing yet" bounds that growing code starts from.
constexpr int32_t kBoundsMax = std::numeric_limits<int32_t>::max();
constexpr MapRect kEmptyBounds{kBoundsMax, kBoundsMax, 0, 0};

// Colours are 0x00BBGGRR, red in the low byte.
using Color = uint32_t;
constexpr Color kNeutralColor = 0xC0C0C0;
constexpr Color RGBColor(int r, int g, int b) {
  return static_cast<Color>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
constexpr int RedOf(Color c) { return static_cast<int>(c & 0xFF); }
constexpr int GreenOf(Color c) { return static_cast<int>((c >> 8) & 0xFF); }
constexpr int BlueOf(Color c) { return static_cast<int>((c >> 16) & 0xFF); }


}  // namespace kestrune
