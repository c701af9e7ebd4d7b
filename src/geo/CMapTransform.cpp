// The view transform between map units and client pixels, and the clipped
// drawing helpers: polylines in short runs, rings clipped Sutherland–Hodgman,
// rectangles and ellipses clamped to what 16-bit drawing coordinates hold.
#include "geo/CMapTransform.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <vector>

#include "base/Saturate.h"

namespace kestrune {

namespace {

constexpr int kRectClamp = 32767;
constexpr int kVisibleClamp = 10000;
constexpr int kInvalidateLimit = 32000;
constexpr int kPixelLimit = 32768;

// Saturating, so a view zoomed far in cannot overflow when converting distant points.
int32_t RoundHalfAway(double value) { return SaturatingRoundHalfAway(value); }

// Keeps a value within [low, high].
int Clamp(int value, int low, int high) { return std::min(std::max(value, low), high); }

struct ClipBox {
  int xmin, xmax, ymin, ymax;
  bool Contains(const DevicePoint& p) const {
    return p.x >= xmin && p.x <= xmax && p.y >= ymin && p.y <= ymax;
  }
};

// Moves `self` onto the edge x = edge along the segment from `other`.
void MoveToVerticalEdge(DevicePoint& self, const DevicePoint& other, int edge) {
  const double dx = static_cast<double>(self.x) - other.x;
  const double dy = static_cast<double>(self.y) - other.y;
  self.y = SaturatingTruncate(other.y + dy / dx * (static_cast<double>(edge) - other.x));
  self.x = edge;
}

// Moves `self` onto the edge y = edge along the segment from `other`.
void MoveToHorizontalEdge(DevicePoint& self, const DevicePoint& other, int edge) {
  const double dx = static_cast<double>(self.x) - other.x;
  const double dy = static_cast<double>(self.y) - other.y;
  self.x = SaturatingTruncate(other.x + dx / dy * (static_cast<double>(edge) - other.y));
  self.y = edge;
}

// Clips one endpoint against the edges right, left, bottom, top; false when
// the other endpoint lies beyond the same edge (nothing of the segment shows).
bool ClipEndpoint(DevicePoint& self, const DevicePoint& other, const ClipBox& box) {
  if (self.x > box.xmax) {
    if (other.x > box.xmax) return false;
    MoveToVerticalEdge(self, other, box.xmax);
  }
  if (self.x < box.xmin) {
    if (other.x < box.xmin) return false;
    MoveToVerticalEdge(self, other, box.xmin);
  }
  if (self.y > box.ymax) {
    if (other.y > box.ymax) return false;
    MoveToHorizontalEdge(self, other, box.ymax);
  }
  if (self.y < box.ymin) {
    if (other.y < box.ymin) return false;
    MoveToHorizontalEdge(self, other, box.ymin);
  }
  return true;
}

// Clips a segment to the box, second endpoint first; false when it is rejected.
bool ClipSegment(DevicePoint& a, DevicePoint& b, const ClipBox& box) {
  if (!ClipEndpoint(b, a, box)) return false;
  return ClipEndpoint(a, b, box);
}

enum class Edge { Top, Right, Bottom, Left };

// Whether a point lies on the kept side of one clip edge.
bool InsideEdge(const DevicePoint& p, Edge edge, const ClipBox& box) {
  switch (edge) {
    case Edge::Top: return p.y >= box.ymin;
    case Edge::Right: return p.x <= box.xmax;
    case Edge::Bottom: return p.y <= box.ymax;
    case Edge::Left: return p.x >= box.xmin;
  }
  return true;
}

// Where the segment s-e crosses the edge line, truncated toward zero.
DevicePoint Intersect(const DevicePoint& s, const DevicePoint& e, Edge edge, const ClipBox& box) {
  DevicePoint p = e;
  switch (edge) {
    case Edge::Top: MoveToHorizontalEdge(p, s, box.ymin); break;
    case Edge::Right: MoveToVerticalEdge(p, s, box.xmax); break;
    case Edge::Bottom: MoveToHorizontalEdge(p, s, box.ymax); break;
    case Edge::Left: MoveToVerticalEdge(p, s, box.xmin); break;
  }
  return p;
}

using Ring = std::vector<DevicePoint>;

// One Sutherland–Hodgman pass of closed rings against one edge. Rings of 3
// points or fewer take no part; a ring that keeps more than 2 points is closed
// again by repeating its first point.
std::vector<Ring> ClipRings(const std::vector<Ring>& rings, Edge edge, const ClipBox& box) {
  std::vector<Ring> result;
  result.reserve(rings.size());
  for (const Ring& ring : rings) {
    if (ring.size() <= 3) continue;
    Ring out;
    out.reserve(ring.size() + 4);
    for (size_t i = 0; i + 1 < ring.size(); ++i) {
      const DevicePoint& s = ring[i];
      const DevicePoint& e = ring[i + 1];
      const bool sIn = InsideEdge(s, edge, box);
      const bool eIn = InsideEdge(e, edge, box);
      if (sIn && eIn) {
        out.push_back(e);
      } else if (sIn) {
        out.push_back(Intersect(s, e, edge, box));
      } else if (eIn) {
        out.push_back(Intersect(e, s, edge, box));
        out.push_back(e);
      }
    }
    if (out.size() > 2) out.push_back(out.front());
    result.push_back(std::move(out));
  }
  return result;
}

// Runs the callback on every ring of the consecutive points; sizes below 1 are empty rings.
template <typename F>
void ForEachRing(const int32_t* ringSizes, int ringCount, F&& f) {
  int64_t start = 0;
  for (int r = 0; r < ringCount; ++r) {
    const int64_t size = std::max<int32_t>(ringSizes[r], 0);
    f(start, size);
    start += size;
  }
}

}  // namespace

// Sets the device origin and the fixed clip box; the owner sets the world.
CMapTransform::CMapTransform()
    : clipXMin_(kClipMin), clipXMax_(kClipMax), clipYMin_(kClipMin), clipYMax_(kClipMax) {}

// The map point shown at the device origin.
void CMapTransform::SetWorldOrigin(const MapPoint& origin) {
  worldOriginX_ = origin.x;
  worldOriginY_ = origin.y;
}

// The size of the view in map units.
void CMapTransform::SetWorldExtent(int32_t width, int32_t height) {
  worldWidth_ = width;
  worldHeight_ = height;
}

// The size of the client area in pixels.
void CMapTransform::SetDeviceExtent(int32_t cx, int32_t cy) {
  deviceWidth_ = cx;
  deviceHeight_ = cy;
}

// The pixel of the world origin.
void CMapTransform::SetDeviceOrigin(int32_t x, int32_t y) {
  deviceOriginX_ = x;
  deviceOriginY_ = y;
}

// Reads back the world extent.
void CMapTransform::GetWorldExtent(int32_t& width, int32_t& height) const {
  width = worldWidth_;
  height = worldHeight_;
}

// Reads back the device extent.
void CMapTransform::GetDeviceExtent(int32_t& cx, int32_t& cy) const {
  cx = deviceWidth_;
  cy = deviceHeight_;
}

// Reads back the device origin.
void CMapTransform::GetDeviceOrigin(int32_t& x, int32_t& y) const {
  x = deviceOriginX_;
  y = deviceOriginY_;
}

// Map point to pixel in place.
void CMapTransform::WorldToDevice(MapPoint& point) const {
  if (worldWidth_ == 0 || worldHeight_ == 0) return;
  const double x = (static_cast<double>(point.x) - worldOriginX_) * deviceWidth_ / worldWidth_ +
                   deviceOriginX_;
  const double y = (static_cast<double>(point.y) - worldOriginY_) * deviceHeight_ / worldHeight_ +
                   deviceOriginY_;
  point.x = RoundHalfAway(x);
  point.y = RoundHalfAway(y);
}

// Pixels to map points; false without a device extent.
bool CMapTransform::DeviceToWorld(const DevicePoint* pixels, int count, MapPoint* out) const {
  if (deviceWidth_ == 0 || deviceHeight_ == 0) return false;
  if (count < 1) return true;
  for (int i = 0; i < count; ++i) {
    const double x = (static_cast<double>(pixels[i].x) - deviceOriginX_) * worldWidth_ /
                         deviceWidth_ + worldOriginX_;
    const double y = (static_cast<double>(pixels[i].y) - deviceOriginY_) * worldHeight_ /
                         deviceHeight_ + worldOriginY_;
    out[i].x = RoundHalfAway(x);
    out[i].y = RoundHalfAway(y);
  }
  return true;
}

// Map points to pixels; false without a world extent, or (after converting
// everything) when a pixel coordinate reaches 32768 in magnitude.
bool CMapTransform::WorldToDeviceArray(const MapPoint* points, int count, DevicePoint* out) const {
  if (worldWidth_ == 0 || worldHeight_ == 0) return false;
  bool fits = true;
  for (int i = 0; i < count; ++i) {
    MapPoint p = points[i];
    WorldToDevice(p);
    out[i].x = p.x;
    out[i].y = p.y;
    // Compared in 64 bits: the magnitude of INT32_MIN does not fit 32.
    if (std::llabs(static_cast<long long>(p.x)) >= kPixelLimit ||
        std::llabs(static_cast<long long>(p.y)) >= kPixelLimit) {
      fits = false;
    }
  }
  return fits;
}

// Draws a rectangle on map corners, one pixel larger on every side.
int CMapTransform::DrawWorldRectangle(Canvas& dc, int32_t left, int32_t top, int32_t right,
                                      int32_t bottom) const {
  if (worldWidth_ == 0 || worldHeight_ == 0) return 0;
  const DeviceRect box = WorldRectangleBox(left, top, right, bottom);
  return dc.Rectangle(box.left, box.top, box.right, box.bottom) ? 1 : 0;
}

// The corners' clamped pixels, one larger on every side.
DeviceRect CMapTransform::WorldRectangleBox(int32_t left, int32_t top, int32_t right, int32_t bottom) const {
  if (worldWidth_ == 0 || worldHeight_ == 0) return {};
  MapPoint a{left, top};
  MapPoint b{right, bottom};
  WorldToDevice(a);
  WorldToDevice(b);
  const int l = Clamp(a.x, -kRectClamp, kRectClamp);
  const int t = Clamp(a.y, -kRectClamp, kRectClamp);
  const int r = Clamp(b.x, -kRectClamp, kRectClamp);
  const int bt = Clamp(b.y, -kRectClamp, kRectClamp);
  return {l - 1, t - 1, r + 1, bt + 1};
}

// Draws an ellipse in the box of map corners.
int CMapTransform::DrawWorldEllipse(Canvas& dc, int32_t left, int32_t top, int32_t right,
                                    int32_t bottom) const {
  if (worldWidth_ == 0 || worldHeight_ == 0) return 0;
  MapPoint a{left, top};
  MapPoint b{right, bottom};
  WorldToDevice(a);
  WorldToDevice(b);
  return dc.Ellipse(Clamp(a.x, -kRectClamp, kRectClamp), Clamp(a.y, -kRectClamp, kRectClamp),
                    Clamp(b.x, -kRectClamp, kRectClamp), Clamp(b.y, -kRectClamp, kRectClamp))
             ? 1
             : 0;
}

// Draws a vector of map points as clipped polylines.
bool CMapTransform::DrawWorldPolyline(Canvas& dc, const std::vector<MapPoint>& points) const {
  // Sizes past INT_MAX cannot come from a shape file; draw what an int can count.
  const size_t n = std::min<size_t>(points.size(), static_cast<size_t>(std::numeric_limits<int>::max()));
  return DrawWorldPolyline(dc, points.data(), static_cast<int>(n));
}

// Draws the points as polylines clipped to the clip box, in runs of at most
// 128 points each, allocated per run.
bool CMapTransform::DrawWorldPolyline(Canvas& dc, const MapPoint* points, int count) const {
  if (worldWidth_ == 0 || worldHeight_ == 0 || points == nullptr) return false;
  const ClipBox box{clipXMin_, clipXMax_, clipYMin_, clipYMax_};
  auto toDevice = [this](const MapPoint& m) {
    MapPoint p = m;
    WorldToDevice(p);
    return DevicePoint{p.x, p.y};
  };

  bool result = false;
  int pos = 0;  // the next node to take; count means the list has ended
  while (pos < count) {
    const int remaining = count - pos;
    if (remaining < 2) break;
    const int limit = std::min(kRunLimit, remaining);
    std::vector<DevicePoint> out;
    out.reserve(static_cast<size_t>(limit));

    DevicePoint start = toDevice(points[pos++]);
    while (pos < count) {
      const DevicePoint next = toDevice(points[pos++]);
      const bool leaving = !box.Contains(next);
      DevicePoint a = start;
      DevicePoint b = next;
      if (ClipSegment(a, b, box)) {
        if (out.empty()) out.push_back(a);
        out.push_back(b);
      }
      if (!leaving) {
        start = next;
      } else if (out.empty()) {
        // Leading segments that show nothing are skipped within the run.
        start = next;
      } else {
        break;
      }
      if (static_cast<int>(out.size()) >= limit) break;
    }
    if (pos < count) {
      // The next run starts again at the last point taken; after a full run
      // it starts one point earlier still, so the runs overlap by a segment.
      --pos;
      if (static_cast<int>(out.size()) >= limit) --pos;
    }
    if (out.size() >= 2) {
      result = dc.Polyline(out.data(), static_cast<int>(out.size()));
    }
  }
  return result;
}

// Draws filled rings with one PolyPolygon call, clipped to the clip box when
// any point lies outside it. Returns the drawing call's result; false when
// nothing is left to draw.
bool CMapTransform::DrawWorldPolyPolygon(Canvas& dc, const MapPoint* points,
                                         const int32_t* ringSizes, int ringCount) const {
  if (worldWidth_ == 0 || worldHeight_ == 0) return false;
  if (points == nullptr || ringSizes == nullptr || ringCount < 1) return false;
  const ClipBox box{clipXMin_, clipXMax_, clipYMin_, clipYMax_};

  std::vector<Ring> rings;
  rings.reserve(static_cast<size_t>(ringCount));
  bool anyOutside = false;
  ForEachRing(ringSizes, ringCount, [&](int64_t start, int64_t size) {
    Ring ring;
    ring.reserve(static_cast<size_t>(size));
    for (int64_t i = 0; i < size; ++i) {
      MapPoint p = points[start + i];
      WorldToDevice(p);
      const DevicePoint d{p.x, p.y};
      if (!box.Contains(d)) anyOutside = true;
      ring.push_back(d);
    }
    rings.push_back(std::move(ring));
  });

  if (anyOutside) {
    for (Edge edge : {Edge::Top, Edge::Right, Edge::Bottom, Edge::Left}) {
      rings = ClipRings(rings, edge, box);
    }
  }

  std::vector<DevicePoint> all;
  std::vector<int> sizes;
  for (const Ring& ring : rings) {
    if (ring.size() <= 3) continue;
    all.insert(all.end(), ring.begin(), ring.end());
    sizes.push_back(static_cast<int>(ring.size()));
  }
  if (sizes.empty()) return false;
  return dc.PolyPolygon(all.data(), sizes.data(), static_cast<int>(sizes.size()));
}

// Asks the window to repaint the pixels under a map rectangle widened by a margin.
void CMapTransform::InvalidateWorldRect(InvalidateTarget& window, const MapRect& rect, bool erase,
                                        int margin) const {
  if (worldWidth_ == 0 || worldHeight_ == 0) return;
  MapPoint a{rect.left, rect.top};
  MapPoint b{rect.right, rect.bottom};
  WorldToDevice(a);
  WorldToDevice(b);
  // 64-bit arithmetic: the corners may sit at the ends of the 32-bit range.
  const int64_t m = margin;
  const int64_t left = std::max<int64_t>(a.x, m);
  const int64_t top = std::max<int64_t>(a.y, m);
  const int64_t right = std::min<int64_t>(b.x, kInvalidateLimit - m);
  const int64_t bottom = std::min<int64_t>(b.y, kInvalidateLimit - m);
  DeviceRect r{static_cast<int>(left - m), static_cast<int>(top - m),
               static_cast<int>(std::min<int64_t>(right + m + 1, std::numeric_limits<int>::max())),
               static_cast<int>(std::min<int64_t>(bottom + m + 1, std::numeric_limits<int>::max()))};
  // A rectangle wholly off the client area comes out empty: nothing to repaint.
  if (r.right <= r.left || r.bottom <= r.top) return;
  window.InvalidateRect(r, erase);
}

// Whether any part of a map rectangle shows in the client area and the clip region.
bool CMapTransform::IsWorldRectVisible(const Canvas& dc, const MapRect& rect) const {
  if (worldWidth_ == 0 || worldHeight_ == 0) return false;
  MapPoint a{rect.left, rect.top};
  MapPoint b{rect.right, rect.bottom};
  WorldToDevice(a);
  WorldToDevice(b);
  DeviceRect r{Clamp(a.x, -kVisibleClamp, kVisibleClamp), Clamp(a.y, -kVisibleClamp, kVisibleClamp),
               Clamp(b.x, -kVisibleClamp, kVisibleClamp) + 1,
               Clamp(b.y, -kVisibleClamp, kVisibleClamp) + 1};
  const int64_t il = std::max<int64_t>(r.left, deviceOriginX_);
  const int64_t it = std::max<int64_t>(r.top, deviceOriginY_);
  const int64_t ir = std::min<int64_t>(r.right, static_cast<int64_t>(deviceOriginX_) + deviceWidth_);
  const int64_t ib = std::min<int64_t>(r.bottom, static_cast<int64_t>(deviceOriginY_) + deviceHeight_);
  if (ir <= il || ib <= it) return false;
  return dc.RectVisible(r);
}

// Smallest rectangle holding every point.
MapRect BoundingBox(const MapPoint* points, int64_t count) {
  MapRect box{kBoundsMax, kBoundsMax, -kBoundsMax, -kBoundsMax};
  for (int64_t i = 0; i < count; ++i) {
    box.left = std::min(box.left, points[i].x);
    box.top = std::min(box.top, points[i].y);
    box.right = std::max(box.right, points[i].x);
    box.bottom = std::max(box.bottom, points[i].y);
  }
  return box;
}

// Winding test of a closed ring; right and bottom edges of its box are outside.
bool PointInPolygon(const MapPoint& point, const MapPoint* ring, int count) {
  if (ring == nullptr || count < 4) return false;
  const MapRect box = BoundingBox(ring, count);
  if (point.x < box.left || point.x >= box.right || point.y < box.top || point.y >= box.bottom) {
    return false;
  }
  const double px = point.x;
  const double py = point.y;
  int winding = 0;
  for (int i = 0; i + 1 < count; ++i) winding += EdgeWinding(ring[i], ring[i + 1], px, py);
  return winding != 0;
}

}  // namespace kestrune
