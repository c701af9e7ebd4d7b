// The geometry a summary by zones needs: a zone's rings prepared for many
// point-in-zone questions (a bounds check, then only the edges of the point's
// horizontal band), and the part of a line or an area that lies inside a zone.
// Containment is even-odd over every ring of the zone, so holes and several
// parcels of one record count as the zone's shape.
#pragma once

#include <cstdint>
#include <vector>

#include "geo/MapPoint.h"

namespace kestrune {

// Rings in map units: each ring closed (its last point equals its first).
struct RingSet {
  std::vector<MapPoint> points;
  std::vector<int32_t> ringSizes;
  // Whether each ring is a hole (its region lies outside it); the others are outer rings.
  std::vector<bool> holes;
  MapRect bounds = kEmptyBounds;

  void AddRing(const MapPoint* ring, int32_t count, bool hole);
  bool Empty() const { return ringSizes.empty(); }
};

class PreparedZone {
 public:
  explicit PreparedZone(RingSet rings);

  const RingSet& Rings() const { return rings_; }
  const MapRect& Bounds() const { return rings_.bounds; }
  // Exact for map points: a point on a left or lower edge is in, one on a
  // right or upper edge out, so zones that share an edge share no point.
  bool Contains(const MapPoint& p) const;
  // The same for any position (the midpoints of clipped pieces).
  bool Contains(double x, double y) const;

  // The share (0 to 1) of the segment a→b that lies inside the zone.
  double InsideShare(const MapPoint& a, const MapPoint& b) const;
  // The area (square map units) of the zone's overlap with an area given by its rings.
  double OverlapArea(const RingSet& area) const;

 private:
  struct Edge {
    MapPoint a, b;
  };
  RingSet rings_;
  std::vector<Edge> edges_;
  // Edges by horizontal band of the bounds: bandStart_[k] .. bandStart_[k + 1] index bandEdges_.
  int64_t bandTop_ = 0;
  int64_t bandHeight_ = 1;
  std::vector<uint32_t> bandStart_;
  std::vector<uint32_t> bandEdges_;
};

// Even-odd containment of a position in rings (no bands: for the few
// questions a clip asks of a log's own area).
bool RingsContain(const RingSet& rings, double x, double y);
// Signed area terms (Green's formula) of the parts of edges' rings lying
// inside region, each ring's edges taken so its region lies on their left
// (outer rings positive, holes negative); square map units, about origin.
double InsideBoundaryIntegral(const RingSet& edges, const RingSet& region, const PreparedZone* prepared,
                              double originX, double originY);
// The net area of rings (outer rings positive, holes negative), square map units.
double NetRingArea(const RingSet& rings);

}  // namespace kestrune
