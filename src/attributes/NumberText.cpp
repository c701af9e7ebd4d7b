#include "attributes/NumberText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <system_error>

namespace kestrune {

namespace {
constexpr int kMostDecimals = 18;
}  // namespace

int ShortestDecimals(double value) {
  if (!std::isfinite(value)) return 0;
  char text[400];
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
  if (result.ec != std::errc()) return kMostDecimals;
  const std::string_view shortest(text, size_t(result.ptr - text));
  const size_t point = shortest.find('.');
  return point == std::string_view::npos ? 0 : int(shortest.size() - point - 1);
}

// Written digits past the shortest text's that are not all zeros are noise.
int ShownNumberDecimals(const std::string& stored, double value, int fieldDecimals) {
  const int shortest = ShortestDecimals(value);
  int written = 0;
  bool noise = false;
  const size_t point = stored.find('.');
  if (point != std::string::npos) {
    for (size_t i = point + 1; i < stored.size() && stored[i] >= '0' && stored[i] <= '9'; ++i) {
      ++written;
      if (written > shortest && stored[i] != '0') noise = true;
    }
  }
  if (noise) return std::min(shortest, kMostDecimals);
  return std::clamp(std::max(fieldDecimals, written), 0, kMostDecimals);
}

}  // namespace kestrune
