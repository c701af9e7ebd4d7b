#include "zones/ZoneGeometry.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace kestrune {

namespace {

__extension__ typedef __int128 Int128;

// Twice the signed area of a ring (the shoelace sum), about its first point.
double TwiceSignedArea(const MapPoint* ring, int32_t count) {
  if (count < 2) return 0.0;
  const double ox = ring[0].x, oy = ring[0].y;
  double sum = 0.0;
  for (int32_t i = 0; i + 1 < count; ++i) {
    const double x0 = ring[i].x - ox, y0 = ring[i].y - oy;
    const double x1 = ring[i + 1].x - ox, y1 = ring[i + 1].y - oy;
    sum += x0 * y1 - x1 * y0;
  }
  return sum;
}

// Calls f(a, b) for every edge of the rings, each ring taken in the
// direction that puts its region on the left: outer rings with a positive
// shoelace sum, holes with a negative one.
template <class F>
void ForEachOrientedEdge(const RingSet& rings, F f) {
  size_t offset = 0;
  for (size_t r = 0; r < rings.ringSizes.size(); ++r) {
    const int32_t n = rings.ringSizes[r];
    const MapPoint* p = rings.points.data() + offset;
    offset += static_cast<size_t>(n);
    if (n < 2) continue;
    const bool positive = TwiceSignedArea(p, n) > 0.0;
    const bool forward = positive != static_cast<bool>(rings.holes[r]);
    for (int32_t i = 0; i + 1 < n; ++i) {
      if (forward) {
        f(p[i], p[i + 1]);
      } else {
        f(p[n - 1 - i], p[n - 2 - i]);
      }
    }
  }
}

// Calls f(a, b) for every edge of the rings as written.
template <class F>
void ForEachEdge(const RingSet& rings, F f) {
  size_t offset = 0;
  for (int32_t n : rings.ringSizes) {
    const MapPoint* p = rings.points.data() + offset;
    offset += static_cast<size_t>(n);
    for (int32_t i = 0; i + 1 < n; ++i) f(p[i], p[i + 1]);
  }
}

// The parameters in (0, 1) where segment a→b crosses an edge of the region,
// sorted, with 0 and 1 at the ends.
std::vector<double> CrossingParameters(const MapPoint& a, const MapPoint& b, const RingSet& region) {
  std::vector<double> ts{0.0, 1.0};
  const double ax = a.x, ay = a.y;
  const double dx = double(b.x) - ax, dy = double(b.y) - ay;
  const int32_t minX = std::min(a.x, b.x), maxX = std::max(a.x, b.x);
  const int32_t minY = std::min(a.y, b.y), maxY = std::max(a.y, b.y);
  ForEachEdge(region, [&](const MapPoint& c, const MapPoint& d) {
    if (std::max(c.x, d.x) < minX || std::min(c.x, d.x) > maxX || std::max(c.y, d.y) < minY ||
        std::min(c.y, d.y) > maxY) {
      return;
    }
    const double ex = double(d.x) - c.x, ey = double(d.y) - c.y;
    const double denom = dx * ey - dy * ex;
    if (denom == 0.0) return;  // parallel: the midpoints decide
    const double cx = c.x - ax, cy = c.y - ay;
    const double t = (cx * ey - cy * ex) / denom;
    const double s = (cx * dy - cy * dx) / denom;
    if (t > 0.0 && t < 1.0 && s >= 0.0 && s <= 1.0) ts.push_back(t);
  });
  std::sort(ts.begin(), ts.end());
  return ts;
}

}  // namespace

void RingSet::AddRing(const MapPoint* ring, int32_t count, bool hole) {
  if (count < 4) return;
  points.insert(points.end(), ring, ring + count);
  ringSizes.push_back(count);
  holes.push_back(hole);
  for (int32_t i = 0; i < count; ++i) {
    bounds.left = std::min(bounds.left, ring[i].x);
    bounds.top = std::min(bounds.top, ring[i].y);
    bounds.right = std::max(bounds.right, ring[i].x);
    bounds.bottom = std::max(bounds.bottom, ring[i].y);
  }
}

PreparedZone::PreparedZone(RingSet rings) : rings_(std::move(rings)) {
  // Horizontal edges never cross a horizontal ray: left out.
  ForEachEdge(rings_, [&](const MapPoint& a, const MapPoint& b) {
    if (a.y != b.y) edges_.push_back({a, b});
  });
  if (rings_.Empty()) return;
  const int64_t height = int64_t{rings_.bounds.bottom} - rings_.bounds.top + 1;
  const int64_t bands = std::clamp<int64_t>(static_cast<int64_t>(edges_.size() / 4), 1, 4096);
  bandTop_ = rings_.bounds.top;
  bandHeight_ = std::max<int64_t>(1, (height + bands - 1) / bands);
  const size_t count = static_cast<size_t>((height + bandHeight_ - 1) / bandHeight_);
  std::vector<uint32_t> sizes(count + 1, 0);
  const auto bandRange = [&](const Edge& e, size_t& k0, size_t& k1) {
    k0 = static_cast<size_t>((std::min(e.a.y, e.b.y) - bandTop_) / bandHeight_);
    k1 = static_cast<size_t>((std::max(e.a.y, e.b.y) - bandTop_) / bandHeight_);
  };
  for (const Edge& e : edges_) {
    size_t k0, k1;
    bandRange(e, k0, k1);
    for (size_t k = k0; k <= k1; ++k) ++sizes[k + 1];
  }
  bandStart_.assign(count + 1, 0);
  for (size_t k = 0; k < count; ++k) bandStart_[k + 1] = bandStart_[k] + sizes[k + 1];
  bandEdges_.resize(bandStart_[count]);
  std::vector<uint32_t> fill(bandStart_.begin(), bandStart_.end() - 1);
  for (uint32_t i = 0; i < edges_.size(); ++i) {
    size_t k0, k1;
    bandRange(edges_[i], k0, k1);
    for (size_t k = k0; k <= k1; ++k) bandEdges_[fill[k]++] = i;
  }
}

bool PreparedZone::Contains(const MapPoint& p) const {
  const MapRect& b = rings_.bounds;
  if (rings_.Empty() || p.x < b.left || p.x > b.right || p.y < b.top || p.y > b.bottom) return false;
  const size_t band = static_cast<size_t>((p.y - bandTop_) / bandHeight_);
  bool inside = false;
  for (uint32_t i = bandStart_[band]; i < bandStart_[band + 1]; ++i) {
    const Edge& e = edges_[bandEdges_[i]];
    if ((e.a.y > p.y) == (e.b.y > p.y)) continue;
    // The crossing lies right of the point: px - ax < (py - ay)(bx - ax) / dy.
    const Int128 dy = int64_t{e.b.y} - e.a.y;
    const Int128 left = static_cast<Int128>(int64_t{p.x} - e.a.x) * dy;
    const Int128 right = static_cast<Int128>(int64_t{p.y} - e.a.y) * (int64_t{e.b.x} - e.a.x);
    if (dy > 0 ? left < right : left > right) inside = !inside;
  }
  return inside;
}

bool PreparedZone::Contains(double x, double y) const {
  const MapRect& b = rings_.bounds;
  if (rings_.Empty() || x < b.left || x > b.right || y < b.top || y > b.bottom) return false;
  const size_t band = std::min(static_cast<size_t>((static_cast<int64_t>(std::floor(y)) - bandTop_) / bandHeight_),
                               bandStart_.size() - 2);
  bool inside = false;
  // An edge crossing y lies in the band of floor(y) or, for y on a band's
  // last unit, the next one; both are asked, each edge once.
  const size_t last = std::min(band + 1, bandStart_.size() - 2);
  for (size_t k = band; k <= last; ++k) {
    for (uint32_t i = bandStart_[k]; i < bandStart_[k + 1]; ++i) {
      const uint32_t index = bandEdges_[i];
      const Edge& e = edges_[index];
      if (k > band) {
        // Already asked in the band before.
        const size_t first = static_cast<size_t>((std::min(e.a.y, e.b.y) - bandTop_) / bandHeight_);
        if (first <= band) continue;
      }
      if ((e.a.y > y) == (e.b.y > y)) continue;
      const double xCross = e.a.x + (y - e.a.y) * (double(e.b.x) - e.a.x) / (double(e.b.y) - e.a.y);
      if (x < xCross) inside = !inside;
    }
  }
  return inside;
}

double PreparedZone::InsideShare(const MapPoint& a, const MapPoint& b) const {
  const MapRect& z = rings_.bounds;
  if (rings_.Empty() || std::max(a.x, b.x) < z.left || std::min(a.x, b.x) > z.right || std::max(a.y, b.y) < z.top ||
      std::min(a.y, b.y) > z.bottom) {
    return 0.0;
  }
  if (a == b) return Contains(a) ? 1.0 : 0.0;
  const std::vector<double> ts = CrossingParameters(a, b, rings_);
  const double dx = double(b.x) - a.x, dy = double(b.y) - a.y;
  double share = 0.0;
  for (size_t i = 0; i + 1 < ts.size(); ++i) {
    const double t0 = ts[i], t1 = ts[i + 1];
    if (!(t1 > t0)) continue;
    const double tm = 0.5 * (t0 + t1);
    if (Contains(a.x + tm * dx, a.y + tm * dy)) share += t1 - t0;
  }
  return share;
}

bool RingsContain(const RingSet& rings, double x, double y) {
  const MapRect& b = rings.bounds;
  if (rings.Empty() || x < b.left || x > b.right || y < b.top || y > b.bottom) return false;
  bool inside = false;
  ForEachEdge(rings, [&](const MapPoint& c, const MapPoint& d) {
    if ((c.y > y) == (d.y > y)) return;
    const double xCross = c.x + (y - c.y) * (double(d.x) - c.x) / (double(d.y) - c.y);
    if (x < xCross) inside = !inside;
  });
  return inside;
}

double InsideBoundaryIntegral(const RingSet& edges, const RingSet& region, const PreparedZone* prepared,
                              double originX, double originY) {
  double sum = 0.0;
  const MapRect& rb = region.bounds;
  ForEachOrientedEdge(edges, [&](const MapPoint& a, const MapPoint& b) {
    const double ax = a.x - originX, ay = a.y - originY;
    const double dx = double(b.x) - a.x, dy = double(b.y) - a.y;
    const bool outside = std::max(a.x, b.x) < rb.left || std::min(a.x, b.x) > rb.right ||
                         std::max(a.y, b.y) < rb.top || std::min(a.y, b.y) > rb.bottom;
    if (outside) return;
    const std::vector<double> ts = CrossingParameters(a, b, region);
    for (size_t i = 0; i + 1 < ts.size(); ++i) {
      const double t0 = ts[i], t1 = ts[i + 1];
      if (!(t1 > t0)) continue;
      const double tm = 0.5 * (t0 + t1);
      const double mx = a.x + tm * dx, my = a.y + tm * dy;
      const bool in = prepared ? prepared->Contains(mx, my) : RingsContain(region, mx, my);
      if (!in) continue;
      const double ux = ax + t0 * dx, uy = ay + t0 * dy;
      const double vx = ax + t1 * dx, vy = ay + t1 * dy;
      sum += 0.5 * (ux * vy - vx * uy);
    }
  });
  return sum;
}

double PreparedZone::OverlapArea(const RingSet& area) const {
  const MapRect& a = area.bounds;
  const MapRect& z = rings_.bounds;
  if (area.Empty() || rings_.Empty() || a.right < z.left || a.left > z.right || a.bottom < z.top ||
      a.top > z.bottom) {
    return 0.0;
  }
  const double ox = z.left, oy = z.top;
  const double overlap =
      InsideBoundaryIntegral(area, rings_, this, ox, oy) + InsideBoundaryIntegral(rings_, area, nullptr, ox, oy);
  return std::max(0.0, overlap);
}

double NetRingArea(const RingSet& rings) {
  double sum = 0.0;
  size_t offset = 0;
  for (size_t r = 0; r < rings.ringSizes.size(); ++r) {
    const double a = std::fabs(TwiceSignedArea(rings.points.data() + offset, rings.ringSizes[r])) * 0.5;
    sum += rings.holes[r] ? -a : a;
    offset += static_cast<size_t>(rings.ringSizes[r]);
  }
  return sum;
}

}  // namespace kestrune
