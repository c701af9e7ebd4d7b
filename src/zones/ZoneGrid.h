// Which zones hold a point, for passes over millions of points: a grid of
// square cells over the zones' bounds lists, for each cell, the zones that
// wholly hold it and the zones whose edges come near it. A point in a cell
// a zone wholly holds is in that zone without a test; only the zones whose
// edges come near its cell ask the zone's own exact test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "geo/MapPoint.h"
#include "zones/ZoneGeometry.h"

namespace kestrune {

class ZoneGrid {
 public:
  // The zones must outlive the grid. maxCells bounds the cells of the grid.
  explicit ZoneGrid(const std::vector<const PreparedZone*>& zones, int64_t maxCells = int64_t{1} << 18);

  // Calls f(zone) for every zone (its index in the list given) holding p,
  // in zone order; the answer of PreparedZone::Contains for each.
  template <class F>
  void ForEachZoneHolding(const MapPoint& p, F f) const {
    if (p.x < bounds_.left || p.x > bounds_.right || p.y < bounds_.top || p.y > bounds_.bottom) return;
    const size_t cell = static_cast<size_t>(((int64_t{p.y} - bounds_.top) >> shift_) * columns_ +
                                            ((int64_t{p.x} - bounds_.left) >> shift_));
    for (uint32_t i = cellStart_[cell], end = cellStart_[cell + 1]; i < end; ++i) {
      const uint32_t code = cellZones_[i];
      const uint32_t zone = code >> 1;
      if (!(code & 1) || zones_[zone]->Contains(p)) f(zone);
    }
  }

  // Figures for tests and benchmarks: the cells, and how many (cell, zone)
  // pairs need the exact test.
  int64_t CellCount() const { return columns_ * rows_; }
  int64_t BoundaryPairs() const { return boundaryPairs_; }
  int CellShift() const { return shift_; }

 private:
  std::vector<const PreparedZone*> zones_;
  MapRect bounds_ = kEmptyBounds;
  int shift_ = 0;  // cells are 2^shift_ map units square
  int64_t columns_ = 0, rows_ = 0;
  // Cells row by row; cellStart_[c] .. cellStart_[c + 1] index cellZones_,
  // each zone index × 2, plus 1 where the zone's edges come near the cell.
  std::vector<uint32_t> cellStart_;
  std::vector<uint32_t> cellZones_;
  int64_t boundaryPairs_ = 0;
};

}  // namespace kestrune
