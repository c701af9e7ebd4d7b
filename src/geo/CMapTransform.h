// The view transform between map units and client pixels, with the clipped
// drawing helpers every record draws through.
#pragma once

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "geo/Canvas.h"
#include "geo/MapPoint.h"

namespace kestrune {

class CMapTransform {
 public:
  CMapTransform();

  void SetWorldOrigin(const MapPoint& origin);
  void SetWorldExtent(int32_t width, int32_t height);
  void SetDeviceExtent(int32_t cx, int32_t cy);
  void SetDeviceOrigin(int32_t x, int32_t y);
  MapPoint GetWorldOrigin() const { return {worldOriginX_, worldOriginY_}; }
  void GetWorldExtent(int32_t& width, int32_t& height) const;
  void GetDeviceExtent(int32_t& cx, int32_t& cy) const;
  void GetDeviceOrigin(int32_t& x, int32_t& y) const;

  // Converts one map point to pixels in place; nothing when a world extent is 0.
  void WorldToDevice(MapPoint& point) const;
  bool DeviceToWorld(const DevicePoint* pixels, int count, MapPoint* out) const;
  bool WorldToDeviceArray(const MapPoint* points, int count, DevicePoint* out) const;

  int DrawWorldRectangle(Canvas& dc, int32_t left, int32_t top, int32_t right, int32_t bottom) const;
  // The device box DrawWorldRectangle draws for map corners: the clamped
  // pixels, one larger on every side (empty when the world extent is 0).
  DeviceRect WorldRectangleBox(int32_t left, int32_t top, int32_t right, int32_t bottom) const;
  int DrawWorldEllipse(Canvas& dc, int32_t left, int32_t top, int32_t right, int32_t bottom) const;
  // Draws the points as clipped polylines in runs of at most 128 points.
  bool DrawWorldPolyline(Canvas& dc, const std::vector<MapPoint>& points) const;
  bool DrawWorldPolyline(Canvas& dc, const MapPoint* points, int count) const;
  // Ring sizes are counts of consecutive points; rings are clipped Sutherland–Hodgman.
  bool DrawWorldPolyPolygon(Canvas& dc, const MapPoint* points, const int32_t* ringSizes,
                            int ringCount) const;
  void InvalidateWorldRect(InvalidateTarget& window, const MapRect& rect, bool erase, int margin) const;
  bool IsWorldRectVisible(const Canvas& dc, const MapRect& rect) const;

  static constexpr int kClipMin = -10000;
  static constexpr int kClipMax = 10000;
  static constexpr int kRunLimit = 128;

 private:
  int32_t worldOriginX_ = 0, worldOriginY_ = 0;
  int32_t worldWidth_ = 0, worldHeight_ = 0;
  int32_t deviceWidth_ = 0, deviceHeight_ = 0;
  int32_t deviceOriginX_ = 0, deviceOriginY_ = 0;
  int32_t clipXMin_, clipXMax_, clipYMin_, clipYMax_;
};

// Bounding box of points; an empty array gives (INT32_MAX, INT32_MAX, -INT32_MAX, -INT32_MAX).
MapRect BoundingBox(const MapPoint* points, int64_t count);
// Winding test of a closed ring (first point repeated at the end).
bool PointInPolygon(const MapPoint& point, const MapPoint* ring, int count);

// What the ring edge from p to q adds to the winding number of (px, py): +1
// or -1 when the point lies in the edge's x span (left end out, right end in)
// on or above it, 0 otherwise. PointInPolygon sums it over a ring's edges.
inline int EdgeWinding(const MapPoint& p, const MapPoint& q, double px, double py) {
  double xa = p.x, ya = p.y, xb = q.x, yb = q.y;
  if (xa > xb) {
    std::swap(xa, xb);
    std::swap(ya, yb);
  }
  if (!(xa < px && px <= xb)) return 0;
  const bool crossed =
      py <= std::min(ya, yb) || (py <= std::max(ya, yb) && py - ya <= (yb - ya) / (xb - xa) * (px - xa));
  if (!crossed) return 0;
  return p.x < q.x ? 1 : -1;
}

}  // namespace kestrune
