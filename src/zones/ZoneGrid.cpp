#include "zones/ZoneGrid.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace kestrune {

ZoneGrid::ZoneGrid(const std::vector<const PreparedZone*>& zones, int64_t maxCells) : zones_(zones) {
  for (const PreparedZone* zone : zones_) {
    if (zone->Rings().Empty()) continue;
    const MapRect& b = zone->Bounds();
    bounds_.left = std::min(bounds_.left, b.left);
    bounds_.top = std::min(bounds_.top, b.top);
    bounds_.right = std::max(bounds_.right, b.right);
    bounds_.bottom = std::max(bounds_.bottom, b.bottom);
  }
  if (bounds_.left > bounds_.right || bounds_.top > bounds_.bottom) {
    bounds_ = kEmptyBounds;
    return;
  }
  const int64_t width = int64_t{bounds_.right} - bounds_.left + 1;
  const int64_t height = int64_t{bounds_.bottom} - bounds_.top + 1;
  // Coarse enough for the grid's cells, and for the cells of every zone's
  // bounds together (many zones over one another).
  const auto zoneCells = [&](int shift) {
    int64_t sum = 0;
    for (const PreparedZone* zone : zones_) {
      if (zone->Rings().Empty()) continue;
      const MapRect& b = zone->Bounds();
      sum += (((int64_t{b.right} - bounds_.left) >> shift) - ((int64_t{b.left} - bounds_.left) >> shift) + 1) *
             (((int64_t{b.bottom} - bounds_.top) >> shift) - ((int64_t{b.top} - bounds_.top) >> shift) + 1);
    }
    return sum;
  };
  while ((((width - 1) >> shift_) + 1) * (((height - 1) >> shift_) + 1) > maxCells ||
         (shift_ < 62 && zoneCells(shift_) > 16 * maxCells)) {
    ++shift_;
  }
  columns_ = ((width - 1) >> shift_) + 1;
  rows_ = ((height - 1) >> shift_) + 1;
  const int64_t cellSize = int64_t{1} << shift_;

  // (cell, code) of every zone in turn, so each cell's list comes in zone order.
  std::vector<std::pair<uint32_t, uint32_t>> pairs;
  std::vector<uint8_t> near;  // over the zone's own range of cells
  for (uint32_t z = 0; z < zones_.size(); ++z) {
    const PreparedZone& zone = *zones_[z];
    if (zone.Rings().Empty()) continue;
    const MapRect& b = zone.Bounds();
    const int64_t c0 = (int64_t{b.left} - bounds_.left) >> shift_, c1 = (int64_t{b.right} - bounds_.left) >> shift_;
    const int64_t r0 = (int64_t{b.top} - bounds_.top) >> shift_, r1 = (int64_t{b.bottom} - bounds_.top) >> shift_;
    const int64_t spanX = c1 - c0 + 1;
    near.assign(static_cast<size_t>(spanX * (r1 - r0 + 1)), 0);
    // A cell is near an edge when the edge meets the cell widened by one map
    // unit on every side: the cells no edge comes near hold points that are
    // all inside the zone or all outside it.
    const auto markEdge = [&](const MapPoint& a, const MapPoint& e) {
      const int64_t yMin = std::min(a.y, e.y), yMax = std::max(a.y, e.y);
      const int64_t rowFirst = std::max(r0, (yMin - 1 - bounds_.top) >> shift_);
      const int64_t rowLast = std::min(r1, (yMax + 1 - bounds_.top) >> shift_);
      for (int64_t r = rowFirst; r <= rowLast; ++r) {
        const int64_t top = bounds_.top + r * cellSize - 1, bottom = bounds_.top + (r + 1) * cellSize;
        const double ya = static_cast<double>(std::max(yMin, top)), yb = static_cast<double>(std::min(yMax, bottom));
        double xa, xb;
        if (a.y == e.y) {
          xa = std::min(a.x, e.x);
          xb = std::max(a.x, e.x);
        } else {
          const double slope = (double(e.x) - a.x) / (double(e.y) - a.y);
          xa = a.x + (ya - a.y) * slope;
          xb = a.x + (yb - a.y) * slope;
          if (xa > xb) std::swap(xa, xb);
        }
        const int64_t colFirst =
            std::max(c0, (static_cast<int64_t>(std::floor(xa)) - 2 - bounds_.left) >> shift_);
        const int64_t colLast = std::min(c1, (static_cast<int64_t>(std::ceil(xb)) + 2 - bounds_.left) >> shift_);
        for (int64_t c = colFirst; c <= colLast; ++c) near[static_cast<size_t>((r - r0) * spanX + (c - c0))] = 1;
      }
    };
    const RingSet& rings = zone.Rings();
    size_t offset = 0;
    for (int32_t n : rings.ringSizes) {
      const MapPoint* p = rings.points.data() + offset;
      offset += static_cast<size_t>(n);
      for (int32_t i = 0; i + 1 < n; ++i) markEdge(p[i], p[i + 1]);
    }
    // Runs of cells no edge comes near, along a row, lie all inside or all
    // outside: one point of the run answers for it.
    for (int64_t r = r0; r <= r1; ++r) {
      int64_t c = c0;
      while (c <= c1) {
        const size_t at = static_cast<size_t>((r - r0) * spanX + (c - c0));
        const uint32_t cell = static_cast<uint32_t>(r * columns_ + c);
        if (near[at]) {
          pairs.emplace_back(cell, z * 2 + 1);
          ++boundaryPairs_;
          ++c;
          continue;
        }
        int64_t end = c;
        while (end + 1 <= c1 && !near[static_cast<size_t>((r - r0) * spanX + (end + 1 - c0))]) ++end;
        const MapPoint probe{static_cast<int32_t>(bounds_.left + c * cellSize),
                             static_cast<int32_t>(bounds_.top + r * cellSize)};
        if (zone.Contains(probe)) {
          for (int64_t k = c; k <= end; ++k) pairs.emplace_back(static_cast<uint32_t>(r * columns_ + k), z * 2);
        }
        c = end + 1;
      }
    }
  }
  const size_t cells = static_cast<size_t>(columns_ * rows_);
  cellStart_.assign(cells + 1, 0);
  for (const auto& [cell, code] : pairs) ++cellStart_[cell + 1];
  for (size_t c = 0; c < cells; ++c) cellStart_[c + 1] += cellStart_[c];
  cellZones_.resize(pairs.size());
  std::vector<uint32_t> fill(cellStart_.begin(), cellStart_.end() - 1);
  for (const auto& [cell, code] : pairs) cellZones_[fill[cell]++] = code;
}

}  // namespace kestrune
