#include "mapview/MapView.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "base/Platform.h"
#include "geo/MapProjection.h"

namespace kestrune {

namespace {

// Keeps 64-bit intermediate results inside the 32-bit map range.
int32_t Clamp32(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

// Truncates a double toward zero into the 64-bit range.
int64_t Trunc64(double v) {
  if (!(v == v)) return 0;
  constexpr double kLimit = 9.0e18;
  return static_cast<int64_t>(std::clamp(v, -kLimit, kLimit));
}

// Pixels near a quarter of `pixels` that cover a whole number of map units
// at `extent` units over `pixels`: the nearest to the quarter from a fifth to
// a third, the smaller of two as near; 0 when there is none.
int QuarterStep(int64_t extent, int pixels) {
  if (pixels <= 0) return 0;
  const double quarter = pixels * 0.25;
  int best = 0;
  for (int k = std::max(1, pixels / 5); k <= std::max(1, pixels / 3); ++k) {
    if ((k * extent) % pixels != 0) continue;
    if (best == 0 || std::fabs(k - quarter) < std::fabs(best - quarter)) best = k;
  }
  return best;
}

// How far an extent may be nudged, in map units, to allow whole-pixel steps
// (never more than a thousandth of it: far below what the eye sees).
constexpr int kMaxExtentNudge = 8;

// The greatest common divisor, for the drag's whole-pixel steps.
int64_t Gcd(int64_t a, int64_t b) {
  a = a < 0 ? -a : a;
  b = b < 0 ? -b : b;
  while (b != 0) {
    const int64_t t = a % b;
    a = b;
    b = t;
  }
  return a;
}

}  // namespace

MapView::MapView() {
  transform_.SetWorldOrigin({1500000000, 1500000000});
  transform_.SetWorldExtent(1501000000, 1501000000);
}

int32_t MapView::Width() const {
  int32_t w = 0, h = 0;
  transform_.GetWorldExtent(w, h);
  return w;
}

int32_t MapView::Height() const {
  int32_t w = 0, h = 0;
  transform_.GetWorldExtent(w, h);
  return h;
}

void MapView::SetView(int64_t originX, int64_t originY, int64_t width, int64_t height) {
  transform_.SetWorldOrigin({Clamp32(originX), Clamp32(originY)});
  transform_.SetWorldExtent(Clamp32(width), Clamp32(height));
}

void MapView::Invalidate() {
  if (invalidate_) invalidate_();
}

// New client size: the centre and width stay, the height follows the aspect.
void MapView::Resize(int clientWidth, int clientHeight) {
  clientWidth_ = std::max(0, clientWidth);
  clientHeight_ = std::max(0, clientHeight);
  transform_.SetDeviceOrigin(0, 0);
  transform_.SetDeviceExtent(clientWidth_, clientHeight_);
  ZoomToWidth(Width(), nullptr);
}

// Zooms to a width, keeping the centre or the given map point under its pixel.
void MapView::ZoomToWidth(int32_t width, const MapPoint* fixed) {
  // A minimised window has no aspect to follow: keep the last good view.
  if (!HasClientArea()) return;
  const MapPoint origin = transform_.GetWorldOrigin();
  const int64_t oldWidth = Width();
  const int64_t oldHeight = Height();
  const int64_t newWidth = width;
  const int64_t newHeight = Trunc64(static_cast<double>(width) / clientWidth_ * clientHeight_);
  int64_t x = origin.x;
  int64_t y = origin.y;
  if (!fixed) {
    x += (oldWidth - newWidth) / 2;
    y += (oldHeight - newHeight) / 2;
  } else {
    // A zero old extent has no pixel to keep the point under; the origin stays.
    if (oldWidth != 0) {
      x = fixed->x - Trunc64(static_cast<double>(fixed->x - origin.x) * newWidth / oldWidth);
    }
    if (oldHeight != 0) {
      y = fixed->y - Trunc64(static_cast<double>(fixed->y - origin.y) * newHeight / oldHeight);
    }
  }
  SetView(x, y, newWidth, newHeight);
  Invalidate();
}

// Sets the width (height from the aspect) and leaves the origin.
void MapView::SetZoomWidth(int32_t width) {
  if (!HasClientArea()) return;
  const MapPoint origin = transform_.GetWorldOrigin();
  SetView(origin.x, origin.y, width, Trunc64(static_cast<double>(width) / clientWidth_ * clientHeight_));
  Invalidate();
}

// Shows the rectangle (grown by a margin and to the window's aspect); the rectangle is updated.
void MapView::ZoomToRect(MapRect& rect, bool margin) {
  if (!HasClientArea()) return;
  int64_t left = rect.left, top = rect.top, right = rect.right, bottom = rect.bottom;
  int64_t w = right - left;
  int64_t h = bottom - top;
  if (margin) {
    left -= w / 20;
    right += w / 20;
    top -= h / 20;
    bottom += h / 20;
    w = right - left;
    h = bottom - top;
  }
  if (w < kMinRectExtent) {
    left -= (kMinRectExtent - w) / 2;
    right += (kMinRectExtent - w) / 2;
  }
  if (h < kMinRectExtent) {
    top -= (kMinRectExtent - h) / 2;
    bottom += (kMinRectExtent - h) / 2;
  }
  w = right - left;
  h = bottom - top;
  const int64_t neededWidth = Trunc64(static_cast<double>(h) / clientHeight_ * clientWidth_);
  const int64_t neededHeight = Trunc64(static_cast<double>(w) / clientWidth_ * clientHeight_);
  if (w < neededWidth) {
    left -= (neededWidth - w) / 2;
    right += (neededWidth - w) / 2;
  }
  if (h < neededHeight) {
    top -= (neededHeight - h) / 2;
    bottom += (neededHeight - h) / 2;
  }
  rect = {Clamp32(left), Clamp32(top), Clamp32(right), Clamp32(bottom)};
  SetView(left, top, right - left, bottom - top);
  Invalidate();
}

// Puts the point at the centre; negative coordinates are not map positions.
void MapView::CenterOn(const MapPoint& point) {
  if (point.x < 0 || point.y < 0) return;
  SetView(static_cast<int64_t>(point.x) - Width() / 2, static_cast<int64_t>(point.y) - Height() / 2, Width(),
          Height());
  Invalidate();
}

// Moves the origin by map units.
void MapView::Pan(int32_t dx, int32_t dy) {
  const MapPoint origin = transform_.GetWorldOrigin();
  SetView(static_cast<int64_t>(origin.x) + dx, static_cast<int64_t>(origin.y) + dy, Width(), Height());
  Invalidate();
}

// Halves the width about the point (or the centre); beeps at the closest zoom.
void MapView::ZoomIn(const MapPoint* point) {
  if (Width() * 0.5 > kMinHalfExtent && Height() * 0.5 > kMinHalfExtent) {
    ZoomToWidth(static_cast<int32_t>(Width() * 0.5), point);
  } else {
    Beep();
  }
}

// Doubles the width about the point (or the centre); beeps at the widest zoom.
void MapView::ZoomOut(const MapPoint* point) {
  if (Width() < kMaxZoomOutExtent && Height() < kMaxZoomOutExtent) {
    ZoomToWidth(Width() * 2, point);
  } else {
    Beep();
  }
}

// Zooms to the union of all layers' bounds, or to the default width with none.
void MapView::ZoomAll(const std::vector<MapRect>& layerBounds) {
  MapRect all{kBoundsMax, kBoundsMax, 0, 0};
  for (const MapRect& b : layerBounds) {
    all.left = std::min(all.left, b.left);
    all.top = std::min(all.top, b.top);
    all.right = std::max(all.right, b.right);
    all.bottom = std::max(all.bottom, b.bottom);
  }
  if (all.left != kBoundsMax && all.top != kBoundsMax) {
    ZoomToRect(all, true);
  } else {
    SetZoomWidth(kDefaultWidth);
  }
}

void MapView::PanLeft() { PanQuarter(-1, 0); }
void MapView::PanRight() { PanQuarter(1, 0); }
void MapView::PanUp() { PanQuarter(0, -1); }
void MapView::PanDown() { PanQuarter(0, 1); }

// A quarter of the view in whole pixels that are whole map units, so the
// window can move its picture and draw only what comes into view. When the
// extent has no such step, it is nudged by a few map units to one that has
// (the whole view is drawn again this once); failing that, a quarter of the
// extent in map units as it is.
void MapView::PanQuarter(int sx, int sy) {
  const bool across = sx != 0;
  const int64_t extent = across ? Width() : Height();
  const int pixels = across ? clientWidth_ : clientHeight_;
  if (HasClientArea() && extent > 0) {
    if (const int k = QuarterStep(extent, pixels); k != 0 && PanPixels(sx * k, sy * k)) return;
    for (int64_t nudge = 1; nudge <= kMaxExtentNudge && nudge * 1000 <= extent; ++nudge) {
      for (const int64_t nudged : {extent - nudge, extent + nudge}) {
        const int k = QuarterStep(nudged, pixels);
        if (k == 0) continue;
        const MapPoint origin = transform_.GetWorldOrigin();
        const int64_t step = k * nudged / pixels;
        SetView(int64_t{origin.x} + sx * step, int64_t{origin.y} + sy * step, across ? nudged : Width(),
                across ? Height() : nudged);
        Invalidate();
        return;
      }
    }
  }
  if (across) {
    Pan(static_cast<int32_t>(sx * Width() * 0.25), 0);
  } else {
    Pan(0, static_cast<int32_t>(sy * Height() * 0.25));
  }
}

// Moves the origin by whole map units that are whole pixels.
bool MapView::PanPixels(int dx, int dy) {
  if (!HasClientArea()) return false;
  const int64_t w = Width(), h = Height();
  if ((dx * w) % clientWidth_ != 0 || (dy * h) % clientHeight_ != 0) return false;
  const MapPoint origin = transform_.GetWorldOrigin();
  const int64_t x = int64_t{origin.x} + dx * w / clientWidth_;
  const int64_t y = int64_t{origin.y} + dy * h / clientHeight_;
  // An origin the map range cuts off would not move by the pixels.
  if (x != Clamp32(x) || y != Clamp32(y)) return false;
  SetView(x, y, w, h);
  if (dx == 0 && dy == 0) return true;
  if (panned_) {
    panned_(dx, dy);
  } else {
    Invalidate();
  }
  return true;
}

// Shifts the origin by the map distance between the two pixels: by whole
// pixels when the distance is whole map units, or when rounding the move to
// such pixels shifts it by two pixels at most.
void MapView::PanByPixels(int fromX, int fromY, int toX, int toY) {
  if (HasClientArea()) {
    const int dx = fromX - toX, dy = fromY - toY;
    if (PanPixels(dx, dy)) return;
    // The smallest whole-pixel steps that are whole map units on each axis.
    const int64_t qx = clientWidth_ / Gcd(Width(), clientWidth_);
    const int64_t qy = clientHeight_ / Gcd(Height(), clientHeight_);
    if (qx <= 4 && qy <= 4) {
      const auto toSteps = [](int64_t v, int64_t q) {
        return static_cast<int>((v >= 0 ? (v + q / 2) / q : -((-v + q / 2) / q)) * q);
      };
      if (PanPixels(toSteps(dx, qx), toSteps(dy, qy))) return;
    }
  }
  const DevicePoint pixels[2] = {{fromX, fromY}, {toX, toY}};
  MapPoint points[2];
  if (!transform_.DeviceToWorld(pixels, 2, points)) return;
  Pan(Clamp32(int64_t{points[0].x} - points[1].x), Clamp32(int64_t{points[0].y} - points[1].y));
}

// Map units are 0.02 m of the Mercator plane, which stretches the ground by
// 1 / cos(latitude): the ground a pixel covers shrinks by that factor.
double MapView::ScaleAtCentre(double dotsPerInch) const {
  if (!HasClientArea() || !(dotsPerInch > 0.0)) return 0.0;
  constexpr double kMetresPerUnit = 0.02;
  constexpr double kMetresPerInch = 0.0254;
  constexpr double kRadiansPerDegree = 0.017453292519943295;
  const MapPoint origin = transform_.GetWorldOrigin();
  const MapPoint centre{Clamp32(int64_t{origin.x} + Width() / 2), Clamp32(int64_t{origin.y} + Height() / 2)};
  double latitude = 0.0, longitude = 0.0;
  GetMapProjection().MapToGeo(centre, latitude, longitude);
  const double groundPerPixel =
      static_cast<double>(Width()) / clientWidth_ * kMetresPerUnit * std::cos(latitude * kRadiansPerDegree);
  return groundPerPixel / (kMetresPerInch / dotsPerInch);
}

}  // namespace kestrune
