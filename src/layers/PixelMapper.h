// The view transform's map-to-pixel arithmetic, inline, for loops over a
// million records: the same operations in the same order as CMapTransform's
// WorldToDevice and IsWorldRectVisible, so the pixels agree exactly, without
// a call per coordinate.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/Saturate.h"
#include "geo/Canvas.h"
#include "geo/CMapTransform.h"
#include "geo/MapPoint.h"

namespace kestrune {

class PixelMapper {
 public:
  explicit PixelMapper(const CMapTransform& transform) {
    const MapPoint origin = transform.GetWorldOrigin();
    int32_t ww = 0, wh = 0, dw = 0, dh = 0, dx = 0, dy = 0;
    transform.GetWorldExtent(ww, wh);
    transform.GetDeviceExtent(dw, dh);
    transform.GetDeviceOrigin(dx, dy);
    worldX_ = origin.x;
    worldY_ = origin.y;
    worldW_ = ww;
    worldH_ = wh;
    deviceW_ = dw;
    deviceH_ = dh;
    deviceX_ = dx;
    deviceY_ = dy;
    usable_ = ww != 0 && wh != 0;
    inverseW_ = usable_ ? 1.0 / worldW_ : 0.0;
    inverseH_ = usable_ ? 1.0 / worldH_ : 0.0;
    quickCorners_ = usable_;
#if defined(__SSE2__)
    // v * scale + offset is (v - origin) * device / world + deviceOrigin with
    // an error far below a thousandth of a pixel for any 32-bit v.
    scale2_ = _mm_setr_pd(deviceW_ * inverseW_, deviceH_ * inverseH_);
    offset2_ = _mm_setr_pd(deviceX_ - worldX_ * deviceW_ * inverseW_, deviceY_ - worldY_ * deviceH_ * inverseH_);
    // The rounding errors grow with the largest magnitude met (any 32-bit v):
    // beyond 2^40 they could reach the margin, so such views go the exact way.
    const double largest = std::max(std::fabs(deviceW_ * inverseW_), std::fabs(deviceH_ * inverseH_)) * 2147483648.0 +
                           std::max(std::fabs(deviceX_ - worldX_ * deviceW_ * inverseW_),
                                    std::fabs(deviceY_ - worldY_ * deviceH_ * inverseH_));
    quickCorners_ = quickCorners_ && largest < 0x1p40;
#endif
  }

  // False when a world extent is 0: nothing can be converted or drawn.
  bool Usable() const { return usable_; }

  // WorldToDevice of one coordinate (only when Usable).
  int32_t X(int32_t x) const { return Convert(x, worldX_, deviceW_, worldW_, inverseW_, deviceX_); }
  int32_t Y(int32_t y) const { return Convert(y, worldY_, deviceH_, worldH_, inverseH_, deviceY_); }

  // From now on IsRectVisible answers the canvas's RectVisible itself, for
  // a canvas whose GetPlainVisibleArea gave this area.
  void SetPlainArea(const DeviceRect& area) {
    plain_ = area;
    hasPlain_ = true;
    // Rectangles whose corners fall two pixels or more inside the area, the
    // device and the clamp range are visible whatever the rounding: they are
    // told apart by an approximate conversion (for views that do not mirror).
    scaleX_ = deviceW_ / worldW_;
    scaleY_ = deviceH_ / worldH_;
    fastVisible_ = usable_ && scaleX_ > 0.0 && scaleY_ > 0.0;
    constexpr double kVisibleClamp = 10000.0;
    insideLeft_ = std::max({deviceX_, static_cast<double>(area.left), -kVisibleClamp}) + 2.0;
    insideTop_ = std::max({deviceY_, static_cast<double>(area.top), -kVisibleClamp}) + 2.0;
    insideRight_ = std::min({deviceX_ + deviceW_, static_cast<double>(area.right), kVisibleClamp}) - 2.0;
    insideBottom_ = std::min({deviceY_ + deviceH_, static_cast<double>(area.bottom), kVisibleClamp}) - 2.0;
    boxTest_ = fastVisible_;
    boxLeft_ = std::max({static_cast<int64_t>(deviceX_), static_cast<int64_t>(area.left), int64_t{-10000}});
    boxTop_ = std::max({static_cast<int64_t>(deviceY_), static_cast<int64_t>(area.top), int64_t{-10000}});
    boxRight_ = std::min({static_cast<int64_t>(deviceX_) + static_cast<int64_t>(deviceW_),
                          static_cast<int64_t>(area.right), int64_t{10000}});
    boxBottom_ = std::min({static_cast<int64_t>(deviceY_) + static_cast<int64_t>(deviceH_),
                           static_cast<int64_t>(area.bottom), int64_t{10000}});
  }

  // True when a rectangle's DrawWorldRectangle box after widening it by one
  // map unit on every side (a point symbol's drawing box) shows that the
  // rectangle itself is visible. Conversion is monotone, so the rectangle's
  // pixels lie within the box; a box inside the area, the device and the
  // clamp range settles it. False means "not known": ask IsRectVisible.
  bool BoxShowsWholeBounds(const DeviceRect& box) const {
    return boxTest_ && box.left + 1 >= boxLeft_ && box.right <= boxRight_ && box.top + 1 >= boxTop_ &&
           box.bottom <= boxBottom_;
  }

  // IsWorldRectVisible of the transform on the canvas.
  bool IsRectVisible(const Canvas& dc, const MapRect& rect) const {
    if (!usable_) return false;
    if (fastVisible_) {
      const double l = (rect.left - worldX_) * scaleX_ + deviceX_;
      const double r = (rect.right - worldX_) * scaleX_ + deviceX_;
      const double t = (rect.top - worldY_) * scaleY_ + deviceY_;
      const double b = (rect.bottom - worldY_) * scaleY_ + deviceY_;
      if (l >= insideLeft_ && r <= insideRight_ && l <= r && t >= insideTop_ && b <= insideBottom_ && t <= b) {
        return true;
      }
    }
    constexpr int kVisibleClamp = 10000;
    const DeviceRect r{std::clamp(X(rect.left), -kVisibleClamp, kVisibleClamp),
                       std::clamp(Y(rect.top), -kVisibleClamp, kVisibleClamp),
                       std::clamp(X(rect.right), -kVisibleClamp, kVisibleClamp) + 1,
                       std::clamp(Y(rect.bottom), -kVisibleClamp, kVisibleClamp) + 1};
    const int64_t il = std::max<int64_t>(r.left, static_cast<int64_t>(deviceX_));
    const int64_t it = std::max<int64_t>(r.top, static_cast<int64_t>(deviceY_));
    const int64_t ir = std::min<int64_t>(r.right, static_cast<int64_t>(deviceX_) + static_cast<int64_t>(deviceW_));
    const int64_t ib = std::min<int64_t>(r.bottom, static_cast<int64_t>(deviceY_) + static_cast<int64_t>(deviceH_));
    if (ir <= il || ib <= it) return false;
    if (!hasPlain_) return dc.RectVisible(r);
    const int l = std::min(r.left, r.right), rr = std::max(r.left, r.right);
    const int t = std::min(r.top, r.bottom), b = std::max(r.top, r.bottom);
    if (rr <= l || b <= t) return false;
    return std::max(l, plain_.left) < std::min(rr, plain_.right) && std::max(t, plain_.top) < std::min(b, plain_.bottom);
  }

  // DrawWorldRectangle's box for map corners: the clamped pixels, one larger
  // on every side.
#if defined(__GNUC__)
  __attribute__((always_inline))
#endif
  DeviceRect RectangleBox(int32_t left, int32_t top, int32_t right, int32_t bottom) const {
    constexpr int kRectClamp = 32767;
#if defined(__SSE2__)
    // All four at once; when any is not certain, the exact way for all.
    if (quickCorners_) {
      __m128i whole;
      if (QuickCorners(left, top, right, bottom, whole)) {
        // Saturated to 16 bits (32767 at the top), -32767 at the bottom, then widened again.
        __m128i clamped = _mm_max_epi16(_mm_packs_epi32(whole, whole), _mm_set1_epi16(-kRectClamp));
        clamped = _mm_srai_epi32(_mm_unpacklo_epi16(clamped, clamped), 16);
        DeviceRect box;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(&box), _mm_add_epi32(clamped, _mm_setr_epi32(-1, -1, 1, 1)));
        return box;
      }
    }
#endif
    return RectangleBoxExact(left, top, right, bottom);
  }

 private:
  // RectangleBox the careful way, kept out of the quick path's code.
#if defined(__GNUC__)
  __attribute__((noinline, cold))
#endif
  DeviceRect RectangleBoxExact(int32_t left, int32_t top, int32_t right, int32_t bottom) const {
    constexpr int kRectClamp = 32767;
    return DeviceRect{std::clamp(X(left), -kRectClamp, kRectClamp) - 1, std::clamp(Y(top), -kRectClamp, kRectClamp) - 1,
                      std::clamp(X(right), -kRectClamp, kRectClamp) + 1,
                      std::clamp(Y(bottom), -kRectClamp, kRectClamp) + 1};
  }

  // (v - origin) * device / world + deviceOrigin, rounded half away from
  // zero. A division per coordinate is most of the cost of drawing a point,
  // so the quotient is first taken by the reciprocal; it can differ from the
  // divided one by a few units in the last place, which changes the pixel
  // only when the value lies that close to a rounding boundary. Such values
  // (and any beyond 2^30) are divided exactly as the transform does.
  static int32_t Convert(int32_t v, double origin, double device, double world, double inverse,
                         double deviceOrigin) {
    const double p = (static_cast<double>(v) - origin) * device;
    const double q = p * inverse + deviceOrigin;
    const double t = q <= 0.0 ? q - 0.5 : q + 0.5;
    if (std::fabs(t) < 1073741824.0) {
      const double whole = static_cast<double>(static_cast<int64_t>(t));
      const double fraction = std::fabs(t - whole);
      // The reciprocal's error is below 1e-15 of the magnitudes (under 2^30
      // here, device origins included); the margin is far wider than that.
      constexpr double kMargin = 0x1p-10;
      if (fraction > kMargin && fraction < 1.0 - kMargin && std::fabs(deviceOrigin) < 1073741824.0) {
        return static_cast<int32_t>(whole);
      }
    }
    return RoundHalfAway(p / world + deviceOrigin);
  }

#if defined(__SSE2__)
  // Convert's quick path for one corner's x and y at once: the two pixels in
  // the low lanes of whole; false when either needs the exact division.
  bool QuickCorner(int32_t x, int32_t y, __m128i& whole) const {
    const __m128d sign = _mm_set1_pd(-0.0);
    const __m128d v = _mm_cvtepi32_pd(_mm_setr_epi32(x, y, 0, 0));
    const __m128d q = _mm_add_pd(_mm_mul_pd(v, scale2_), offset2_);
    // Half away from zero (a zero of either sign rounds to 0 both ways).
    const __m128d t = _mm_add_pd(q, _mm_or_pd(_mm_and_pd(q, sign), _mm_set1_pd(0.5)));
    whole = _mm_cvttpd_epi32(t);
    // Certain when the part cut off lies clear of 0 and 1. Values past the
    // 32-bit range convert to the "indefinite" integer and fail here too; up
    // to there the reciprocal's error stays below 1e-5 of a pixel.
    const __m128d fraction = _mm_andnot_pd(sign, _mm_sub_pd(t, _mm_cvtepi32_pd(whole)));
    const __m128d offCentre = _mm_andnot_pd(sign, _mm_sub_pd(fraction, _mm_set1_pd(0.5)));
    constexpr double kMargin = 0x1p-10;
    return _mm_movemask_pd(_mm_cmplt_pd(offCentre, _mm_set1_pd(0.5 - kMargin))) == 3;
  }

  bool QuickCorners(int32_t left, int32_t top, int32_t right, int32_t bottom, __m128i& whole) const {
    __m128i first, second;
    if (!QuickCorner(left, top, first) || !QuickCorner(right, bottom, second)) return false;
    whole = _mm_unpacklo_epi64(first, second);
    return true;
  }

  __m128d scale2_ = _mm_setzero_pd();
  __m128d offset2_ = _mm_setzero_pd();
#endif
  bool quickCorners_ = false;

  // Half away from zero, saturating; NaN gives 0.
  static int32_t RoundHalfAway(double value) { return SaturatingRoundHalfAway(value); }

  double worldX_ = 0, worldY_ = 0, worldW_ = 0, worldH_ = 0;
  double deviceW_ = 0, deviceH_ = 0, deviceX_ = 0, deviceY_ = 0;
  double inverseW_ = 0, inverseH_ = 0;
  double scaleX_ = 0, scaleY_ = 0;
  double insideLeft_ = 0, insideTop_ = 0, insideRight_ = 0, insideBottom_ = 0;
  DeviceRect plain_;
  bool hasPlain_ = false;
  bool fastVisible_ = false;
  bool boxTest_ = false;
  int64_t boxLeft_ = 0, boxTop_ = 0, boxRight_ = 0, boxBottom_ = 0;
  bool usable_ = false;
};

}  // namespace kestrune
