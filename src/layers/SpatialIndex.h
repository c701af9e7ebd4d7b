// A grid over a layer's point records, so drawing, clicks and rectangle
// selections visit only the records near the area they look at, in drawing
// order. Each record has one position (its place in the list when the index
// was built) and lies in exactly one place of the index: the grid cell of its
// point, or, for every other record (lines, areas, points without geometry),
// the list of records visited by every query. A query hands back the
// positions in list order, so every record is seen in the order a walk of the
// whole list would see it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "geo/MapPoint.h"

namespace kestrune {

class RecordList;
class Shape;
class ShapeOwner;

// The symbol square of a point at p whose ground has unitsPerFoot east-west
// map units a foot, for a display size in feet: PointShape::GetBounds with
// the owner's size, clamped to the 32-bit map range the same way.
inline MapRect PointSymbolBounds(const MapPoint& p, int unitsPerFoot, double sizeFt) {
  const double half = sizeFt * unitsPerFoot * 0.5;
  const int64_t h = half > 0.0 ? static_cast<int32_t>(half < 1.0e9 ? half : 1.0e9) : 0;
  const auto clamp = [](int64_t v) {
    return static_cast<int32_t>(v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : v);
  };
  return {clamp(p.x - h), clamp(p.y - h), clamp(p.x + h), clamp(p.y + h)};
}

class SpatialIndex {
 public:
  // One bit per position.
  using Bits = std::vector<uint64_t>;

  // Indexes the records in list order. With bounds, the same walk unites
  // the symbol squares (PointSymbolBounds at sizeFt) of owner's points into
  // it, allOwn tells whether those were all the records and labelled
  // whether any record carries a label.
  void Build(const RecordList& records, const ShapeOwner* owner = nullptr, double sizeFt = 0.0,
             MapRect* bounds = nullptr, bool* allOwn = nullptr, bool* labelled = nullptr);
  void Clear();
  bool IsBuilt() const { return built_; }
  size_t size() const { return size_; }
  // The record at a position.
  Shape* At(size_t position) const {
    const Chunk& c = chunks_[position >> kChunkShift];
    const size_t i = position & (kChunkSize - 1);
    return c.run ? RunAt(c.first, i) : listed_[c.listedAt + i];
  }
  // Appends the records of count positions from first, which lie in one
  // chunk (a run of 64 aligned positions does).
  void AppendRecords(size_t first, size_t count, std::vector<Shape*>& into) const;
  // Appends the records of the set bits of one word of positions (64 from
  // word * 64), in order.
  void AppendMarked(size_t word, uint64_t bits, std::vector<Shape*>& into) const;

  // The largest east-west map units per foot of any point record: a point's
  // symbol reaches at most half the symbol size times this from its point.
  int32_t GetMaxUnitsPerFoot() const { return maxUnitsPerFoot_; }

  // Sets (after clearing and sizing bits) the bit of every position whose
  // record may meet the rectangle widened by margin on each side: the grid
  // points within it and every record outside the grid. With sure, the
  // points of cells wholly inside the rectangle narrowed by sureMargin go
  // into sure instead of bits.
  void Mark(const MapRect& rect, int64_t margin, Bits& bits, Bits* sure = nullptr, int64_t sureMargin = 0) const;
  // The same into bits (and sure) that are all clear already, or empty,
  // which are cleared and sized first; [low, high] gives the words that may
  // now have set bits (low > high for none), the only ones to clear again.
  // marked, when given, gets the number of positions marked.
  void MarkSparse(const MapRect& rect, int64_t margin, Bits& bits, Bits& sure, int64_t sureMargin, size_t& low,
                  size_t& high, size_t* marked = nullptr) const;
  // The same positions, in list order, for small areas (a click).
  void Collect(const MapRect& rect, int64_t margin, std::vector<uint32_t>& positions) const;

  // Calls f(position) for every set bit, in order.
  template <class F>
  static void ForEachSet(const Bits& bits, F f) {
    for (size_t w = 0; w < bits.size(); ++w) {
      uint64_t word = bits[w];
      while (word != 0) {
        const int bit = __builtin_ctzll(word);
        f(static_cast<uint32_t>(w * 64 + static_cast<size_t>(bit)));
        word &= word - 1;
      }
    }
  }

  // The grid Build made: its origin, cell size and counts, and the positions
  // by cell; kept with the records so the same records are indexed again
  // without looking at every point.
  struct Grid {
    int64_t originX = 0, originY = 0;
    int64_t columns = 0, rows = 0;
    int32_t cellShift = 0;
    int32_t maxUnitsPerFoot = 0;
    std::vector<uint32_t> cellStart, cellItems, always;
    bool operator==(const Grid& o) const {
      return originX == o.originX && originY == o.originY && columns == o.columns && rows == o.rows &&
             cellShift == o.cellShift && maxUnitsPerFoot == o.maxUnitsPerFoot && cellStart == o.cellStart &&
             cellItems == o.cellItems && always == o.always;
    }
  };
  Grid GetGrid() const;
  // The same without its arrays, and the arrays themselves: for a writer
  // that copies them out as they are instead of through a copy of its own.
  Grid GetGridShape() const {
    Grid grid;
    grid.originX = originX_;
    grid.originY = originY_;
    grid.columns = columns_;
    grid.rows = rows_;
    // Blocks are built again in one pass: only their mark is kept.
    grid.cellShift = blocks_ ? -1 : cellShift_;
    grid.maxUnitsPerFoot = maxUnitsPerFoot_;
    return grid;
  }
  const std::vector<uint32_t>& GridCellStart() const { return cellStart_; }
  const std::vector<uint32_t>& GridCellItems() const { return cellItems_; }
  const std::vector<uint32_t>& GridAlways() const { return always_; }
  // Indexes the records in list order with the grid Build made for those
  // same records; false, with nothing built, when it does not fit them.
  bool Adopt(const RecordList& records, Grid grid);

  // Blocks: the box of the grid points of the positions [64 b, 64 b + 64)
  // and of the blocks [64 g, 64 g + 64); left > right for none.
  struct Box {
    int32_t left, top, right, bottom;
  };

  // Bytes held, for the memory figures.
  size_t MemoryBytes() const;

  // Whether the points are indexed by blocks rather than by the grid.
  bool UsesBlocks() const { return blocks_; }
  // How Build indexes: 0 as the points suit (the default), 1 always by
  // blocks, 2 always by the grid (tests and benchmarks).
  static void SetLayout(int layout);

 private:
  // The range of cells a rectangle widened by margin meets; false for none.
  bool CellRange(const MapRect& rect, int64_t margin, int64_t& x0, int64_t& y0, int64_t& x1, int64_t& y1) const;
  size_t CellOf(const MapPoint& p) const;
  void MarkInto(const MapRect& rect, int64_t margin, Bits& bits, Bits* sure, int64_t sureMargin, size_t& low,
                size_t& high, size_t* marked = nullptr) const;

  // Positions by chunks of kChunkSize: a chunk whose records lie a run's
  // stride apart keeps its first record only, any other lists them all.
  static constexpr size_t kChunkShift = 10;
  static constexpr size_t kChunkSize = size_t{1} << kChunkShift;
  struct Chunk {
    Shape* first = nullptr;
    size_t listedAt = 0;
    bool run = false;
  };
  static Shape* RunAt(Shape* first, size_t i);
  // Keeps a chunk of records (count of them, the last chunk may be short).
  void AddChunk(Shape* const* records, size_t count);
  // Gives every record its position, in list order, a run at a time: whole
  // chunks inside a run of records side by side are kept without a look at
  // each record.
  void AddRunPositions(const RecordList& records);

  bool built_ = false;
  size_t size_ = 0;
  std::vector<Chunk> chunks_;
  std::vector<Shape*> listed_;
  // Grid: cells row by row; cellStart_[c] .. cellStart_[c + 1] index cellItems_.
  int64_t originX_ = 0, originY_ = 0;
  int64_t cellW_ = 1, cellH_ = 1;
  int cellShift_ = 0;  // cells are 2^cellShift_ map units square
  int64_t columns_ = 0, rows_ = 0;
  std::vector<uint32_t> cellStart_;
  std::vector<uint32_t> cellItems_;
  // Records every query visits, in list order.
  std::vector<uint32_t> always_;
  int32_t maxUnitsPerFoot_ = 0;

  static constexpr size_t kBlockShift = 6;
  static constexpr size_t kGroupShift = 6;
  bool blocks_ = false;
  std::vector<Box> blockBoxes_;
  std::vector<Box> groupBoxes_;
  // The block marking and collecting.
  void MarkBlocks(int64_t l, int64_t t, int64_t r, int64_t b, Bits& bits, Bits* sure, int64_t innerL,
                  int64_t innerT, int64_t innerR, int64_t innerB, size_t& low, size_t& high, size_t* marked) const;
  // The bits of the positions of block b the list holds.
  uint64_t BlockMask(size_t b) const {
    const size_t left = size_ - (b << kBlockShift);
    return left >= 64 ? ~uint64_t{0} : (uint64_t{1} << left) - 1;
  }
};

}  // namespace kestrune
