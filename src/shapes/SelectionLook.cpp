#include "shapes/SelectionLook.h"

#include <algorithm>
#include <atomic>
#include <cstdint>

namespace kestrune {

namespace {
std::atomic<Color> g_highlight{kDefaultSelectionHighlight};

// A span of at least the minimum pixels, kept centred on the original. A
// rectangle drawn without a pen fills from low to two short of high, so the
// span is one more than the pixels.
void Widen(int& low, int& high) {
  constexpr int64_t kSpan = kSelectedSymbolMinPixels + 1;
  const int64_t width = int64_t{high} - low;
  if (width >= kSpan) return;
  const int64_t centre2 = int64_t{low} + high;  // twice the centre
  const int64_t newLow = (centre2 - kSpan) / 2;
  low = static_cast<int>(std::clamp<int64_t>(newLow, INT32_MIN + 8, INT32_MAX - 16));
  high = low + static_cast<int>(kSpan);
}
}  // namespace

Color SelectionHighlight() { return g_highlight.load(); }
void SetSelectionHighlight(Color color) { g_highlight.store(color); }

// The rectangle that, without a pen, fills the pixels the outlined box
// covers (as UnoutlinedSymbolRect), widened to the minimum, and the halo
// around it.
SelectedSymbolRects SelectedSymbolBoxes(const DeviceRect& box) {
  DeviceRect s{std::min(box.left, box.right), std::min(box.top, box.bottom), std::max(box.left, box.right),
               std::max(box.top, box.bottom)};
  s.right = static_cast<int>(std::min<int64_t>(int64_t{s.right} + 1, INT32_MAX - 16));
  s.bottom = static_cast<int>(std::min<int64_t>(int64_t{s.bottom} + 1, INT32_MAX - 16));
  Widen(s.left, s.right);
  Widen(s.top, s.bottom);
  const int h = kSelectionHaloPixels;
  const DeviceRect halo{static_cast<int>(std::max<int64_t>(int64_t{s.left} - h, INT32_MIN)),
                        static_cast<int>(std::max<int64_t>(int64_t{s.top} - h, INT32_MIN)), s.right + h,
                        s.bottom + h};
  return {halo, s};
}

}  // namespace kestrune
