#include "layers/SpatialIndex.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <cmath>
#include <cstdlib>
#include <cstdint>

#include "layers/RecordShares.h"
#include "shapes/RecordList.h"
#include "shapes/Shape.h"

namespace kestrune {

namespace {

// Points per cell the grid aims at, and the most cells it takes.
constexpr int64_t kPointsPerCell = 2;
constexpr int64_t kMaxCells = int64_t{1} << 22;

// Whether a record is kept in the grid: a point with a point.
const PointShape* GridPoint(const Shape* shape) {
  if (shape->GetRecordClass() != kRecordPoint) return nullptr;
  const auto* point = static_cast<const PointShape*>(shape);
  return point->HasGeometry() ? point : nullptr;
}

std::atomic<int> g_layout{0};

constexpr SpatialIndex::Box kNoBox{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};

void Widen(SpatialIndex::Box& box, const SpatialIndex::Box& with) {
  box.left = std::min(box.left, with.left);
  box.top = std::min(box.top, with.top);
  box.right = std::max(box.right, with.right);
  box.bottom = std::max(box.bottom, with.bottom);
}

// A block's box holds this many times the area a grid cell of as many points
// would, on average, before the points count as out of order.
constexpr double kBlockAreaLimit = 64.0;

}  // namespace

void SpatialIndex::SetLayout(int layout) { g_layout = layout; }

// Positions in list order; then one walk by every core, each over a share of
// whole groups of blocks, for the extent, the records outside the grid and
// the blocks' boxes. Points in order keep the blocks; others go into the
// cells of their point by a counting sort, which keeps each cell's positions
// in list order.
void SpatialIndex::Build(const RecordList& records, const ShapeOwner* owner, double sizeFt, MapRect* bounds,
                         bool* allOwn, bool* labelled) {
  Clear();
  AddRunPositions(records);
  struct Share {
    size_t first = 0, last = 0;
    int64_t minX = INT64_MAX, minY = INT64_MAX, maxX = INT64_MIN, maxY = INT64_MIN;
    int32_t maxUnitsPerFoot = 0;
    int64_t points = 0;
    double blockArea = 0.0;
    int64_t blocksWithPoints = 0;
    std::vector<uint32_t> always;
    MapRect bounds = kEmptyBounds;
    bool others = false;
    bool labelled = false;
  };
  const size_t blockCount = (size_ + 63) >> kBlockShift;
  const size_t groupCount = (blockCount + 63) >> kGroupShift;
  blockBoxes_.assign(blockCount, kNoBox);
  groupBoxes_.assign(groupCount, kNoBox);
  const unsigned shareCount = static_cast<unsigned>(std::min<size_t>(RecordShareCount(size_), std::max<size_t>(groupCount, 1)));
  std::vector<Share> shares(shareCount);
  constexpr size_t kGroupPositions = size_t{1} << (kBlockShift + kGroupShift);
  for (unsigned k = 0; k < shareCount; ++k) {
    shares[k].first = std::min(size_, groupCount * k / shareCount * kGroupPositions);
    shares[k].last = std::min(size_, groupCount * (k + 1) / shareCount * kGroupPositions);
  }
  auto walk = [&](unsigned k) {
    Share& share = shares[k];
    size_t position = share.first;
    records.ForEachInRange(share.first, share.last, [&](Shape* shape) {
      const PointShape* point = GridPoint(shape);
      if (bounds && (shape->GetRecordClass() != kRecordPoint ||
                     static_cast<const PointShape*>(shape)->GetOwner() != owner)) {
        share.others = true;
      }
      if (bounds && shape->HasLabel()) share.labelled = true;
      if (point) {
        const MapPoint p = point->GetPoint();
        share.minX = std::min<int64_t>(share.minX, p.x);
        share.minY = std::min<int64_t>(share.minY, p.y);
        share.maxX = std::max<int64_t>(share.maxX, p.x);
        share.maxY = std::max<int64_t>(share.maxY, p.y);
        const int unitsPerFoot = point->UnitsPerFoot();
        share.maxUnitsPerFoot = std::max(share.maxUnitsPerFoot, std::abs(unitsPerFoot));
        ++share.points;
        Widen(blockBoxes_[position >> kBlockShift], {p.x, p.y, p.x, p.y});
        if (bounds) {
          const MapRect r = PointSymbolBounds(p, unitsPerFoot, sizeFt);
          share.bounds = {std::min(share.bounds.left, r.left), std::min(share.bounds.top, r.top),
                          std::max(share.bounds.right, r.right), std::max(share.bounds.bottom, r.bottom)};
        }
      } else {
        share.always.push_back(static_cast<uint32_t>(position));
      }
      ++position;
    });
    for (size_t b = share.first >> kBlockShift; b < (share.last + 63) >> kBlockShift; ++b) {
      const Box& box = blockBoxes_[b];
      if (box.left > box.right) continue;
      Widen(groupBoxes_[b >> kGroupShift], box);
      share.blockArea += (static_cast<double>(box.right) - box.left + 1) * (static_cast<double>(box.bottom) - box.top + 1);
      ++share.blocksWithPoints;
    }
  };
  std::vector<std::thread> helpers;
  for (unsigned k = 1; k < shareCount; ++k) helpers.emplace_back(walk, k);
  walk(0);
  for (std::thread& helper : helpers) helper.join();
  int64_t minX = INT64_MAX, minY = INT64_MAX, maxX = INT64_MIN, maxY = INT64_MIN;
  int64_t points = 0;
  double blockArea = 0.0;
  int64_t blocksWithPoints = 0;
  for (const Share& share : shares) {
    minX = std::min(minX, share.minX);
    minY = std::min(minY, share.minY);
    maxX = std::max(maxX, share.maxX);
    maxY = std::max(maxY, share.maxY);
    maxUnitsPerFoot_ = std::max(maxUnitsPerFoot_, share.maxUnitsPerFoot);
    points += share.points;
    blockArea += share.blockArea;
    blocksWithPoints += share.blocksWithPoints;
    always_.insert(always_.end(), share.always.begin(), share.always.end());
  }
  if (bounds) {
    MapRect all = kEmptyBounds;
    bool others = false, anyLabel = false;
    for (const Share& share : shares) {
      all = {std::min(all.left, share.bounds.left), std::min(all.top, share.bounds.top),
             std::max(all.right, share.bounds.right), std::max(all.bottom, share.bounds.bottom)};
      others = others || share.others;
      anyLabel = anyLabel || share.labelled;
    }
    *bounds = all;
    if (allOwn) *allOwn = !others;
    if (labelled) *labelled = anyLabel;
  }
  built_ = true;
  if (points > 0) {
    // The area a grid cell of as many points as a block holds would take.
    const double extent = (static_cast<double>(maxX - minX) + 1) * (static_cast<double>(maxY - minY) + 1);
    const double cellOfBlock = extent / static_cast<double>(blocksWithPoints);
    const int layout = g_layout.load();
    blocks_ = layout == 1 ||
              (layout == 0 && blockArea / static_cast<double>(blocksWithPoints) <= kBlockAreaLimit * cellOfBlock);
  }
  if (blocks_) return;
  blockBoxes_ = {};
  groupBoxes_ = {};
  if (points == 0) return;
  // Cells about square in map units, some kPointsPerCell points each on average.
  const double width = static_cast<double>(maxX - minX + 1);
  const double height = static_cast<double>(maxY - minY + 1);
  const double cells = static_cast<double>(std::clamp<int64_t>(points / kPointsPerCell, 1, kMaxCells));
  const double side = std::max(1.0, std::sqrt(width * height / cells));
  // A side of a power of two: a point's cell is two shifts, not two divisions.
  cellShift_ = 0;
  while (cellShift_ < 32 && static_cast<double>(int64_t{1} << cellShift_) < side) ++cellShift_;
  cellW_ = int64_t{1} << cellShift_;
  cellH_ = cellW_;
  columns_ = std::max<int64_t>(1, ((maxX - minX) >> cellShift_) + 1);
  rows_ = std::max<int64_t>(1, ((maxY - minY) >> cellShift_) + 1);
  // A long thin extent: fewer, longer cells along its short side.
  while (columns_ * rows_ > 2 * kMaxCells) {
    ++cellShift_;
    cellW_ *= 2;
    cellH_ *= 2;
    columns_ = ((maxX - minX) >> cellShift_) + 1;
    rows_ = ((maxY - minY) >> cellShift_) + 1;
  }
  originX_ = minX;
  originY_ = minY;
  cellStart_.assign(static_cast<size_t>(columns_ * rows_) + 1, 0);
  records.ForEach([this](Shape* shape) {
    if (const PointShape* point = GridPoint(shape)) ++cellStart_[CellOf(point->GetPoint()) + 1];
  });
  for (size_t c = 1; c < cellStart_.size(); ++c) cellStart_[c] += cellStart_[c - 1];
  cellItems_.resize(static_cast<size_t>(points));
  // Each cell's start serves as its cursor (no array of cursors beside it):
  // filled, a cell's cursor stands at the next cell's start, so the starts
  // move up one place once the points are in.
  uint32_t position = 0;
  records.ForEach([&](Shape* shape) {
    if (const PointShape* point = GridPoint(shape)) cellItems_[cellStart_[CellOf(point->GetPoint())]++] = position;
    ++position;
  });
  std::copy_backward(cellStart_.begin(), cellStart_.end() - 1, cellStart_.end());
  cellStart_[0] = 0;
}

SpatialIndex::Grid SpatialIndex::GetGrid() const {
  Grid grid;
  // Blocks are built again in one pass: only their mark is kept.
  if (blocks_) {
    grid.cellShift = -1;
    grid.maxUnitsPerFoot = maxUnitsPerFoot_;
    return grid;
  }
  grid.originX = originX_;
  grid.originY = originY_;
  grid.columns = columns_;
  grid.rows = rows_;
  grid.cellShift = cellShift_;
  grid.maxUnitsPerFoot = maxUnitsPerFoot_;
  grid.cellStart = cellStart_;
  grid.cellItems = cellItems_;
  grid.always = always_;
  return grid;
}

// Chunks of runs straight from the list's runs; the rest (and chunks that
// straddle runs) record by record through AddChunk.
void SpatialIndex::AddRunPositions(const RecordList& records) {
  std::vector<Shape*> pending;
  pending.reserve(kChunkSize);
  Shape* runFirst = nullptr;
  size_t runCount = 0;
  auto flush = [&] {
    size_t i = 0;
    while (i < runCount && !pending.empty()) {
      pending.push_back(RunAt(runFirst, i++));
      if (pending.size() == kChunkSize) {
        AddChunk(pending.data(), pending.size());
        pending.clear();
      }
    }
    for (; runCount - i >= kChunkSize; i += kChunkSize) {
      Chunk c;
      c.first = RunAt(runFirst, i);
      c.run = true;
      chunks_.push_back(c);
    }
    while (i < runCount) pending.push_back(RunAt(runFirst, i++));
  };
  records.ForEachRun([&](Shape* first, size_t count) {
    // Runs the list keeps apart that lie side by side make one.
    if (runFirst && first == RunAt(runFirst, runCount)) {
      runCount += count;
      return;
    }
    flush();
    runFirst = first;
    runCount = count;
  });
  flush();
  if (!pending.empty()) AddChunk(pending.data(), pending.size());
  size_ = records.size();
}

// The positions as Build makes them; the grid checked for being one of
// these positions (every position in one place, cells in ascending order).
bool SpatialIndex::Adopt(const RecordList& records, Grid grid) {
  Clear();
  if (grid.cellShift == -1 && grid.cellStart.empty() && grid.cellItems.empty() && grid.always.empty()) {
    Build(records);
    return true;
  }
  AddRunPositions(records);
  const bool empty = grid.cellStart.empty();
  bool fits = grid.cellItems.size() + grid.always.size() == size_ && grid.cellShift >= 0 && grid.cellShift <= 40;
  if (fits && empty) fits = grid.cellItems.empty();
  if (fits && !empty) {
    fits = grid.columns >= 1 && grid.rows >= 1 && grid.columns <= int64_t{1} << 32 &&
           static_cast<uint64_t>(grid.columns) * static_cast<uint64_t>(grid.rows) + 1 == grid.cellStart.size() &&
           grid.cellStart.front() == 0 && grid.cellStart.back() == grid.cellItems.size();
    for (size_t c = 1; fits && c < grid.cellStart.size(); ++c) fits = grid.cellStart[c - 1] <= grid.cellStart[c];
  }
  for (size_t i = 0; fits && i < grid.cellItems.size(); ++i) fits = grid.cellItems[i] < size_;
  for (size_t i = 0; fits && i < grid.always.size(); ++i) fits = grid.always[i] < size_;
  if (!fits) {
    Clear();
    return false;
  }
  originX_ = grid.originX;
  originY_ = grid.originY;
  columns_ = empty ? 0 : grid.columns;
  rows_ = empty ? 0 : grid.rows;
  cellShift_ = grid.cellShift;
  cellW_ = int64_t{1} << cellShift_;
  cellH_ = cellW_;
  maxUnitsPerFoot_ = grid.maxUnitsPerFoot;
  cellStart_ = std::move(grid.cellStart);
  cellItems_ = std::move(grid.cellItems);
  always_ = std::move(grid.always);
  built_ = true;
  return true;
}

// The record i strides after first, as the list keeps runs.
Shape* SpatialIndex::RunAt(Shape* first, size_t i) { return RecordList::RunAt(first, i); }

// A chunk whose records are a run keeps its first; any other is listed.
void SpatialIndex::AddChunk(Shape* const* records, size_t count) {
  Chunk c;
  c.first = records[0];
  c.run = true;
  for (size_t i = 1; i < count && c.run; ++i) c.run = records[i] == RunAt(c.first, i);
  if (!c.run) {
    c.listedAt = listed_.size();
    listed_.insert(listed_.end(), records, records + count);
  }
  chunks_.push_back(c);
}

// The records of consecutive positions within one chunk.
void SpatialIndex::AppendRecords(size_t first, size_t count, std::vector<Shape*>& into) const {
  const Chunk& c = chunks_[first >> kChunkShift];
  const size_t i = first & (kChunkSize - 1);
  if (!c.run) {
    into.insert(into.end(), listed_.begin() + static_cast<std::ptrdiff_t>(c.listedAt + i),
                listed_.begin() + static_cast<std::ptrdiff_t>(c.listedAt + i + count));
    return;
  }
  // Sized once and filled: the loop is a plain stride.
  const size_t at = into.size();
  into.resize(at + count);
  Shape** out = into.data() + at;
  char* base = reinterpret_cast<char*>(RunAt(c.first, i));
  for (size_t k = 0; k < count; ++k) out[k] = reinterpret_cast<Shape*>(base + k * RecordList::kRunStride);
}

// A word's 64 positions lie in one chunk: one look at it serves every bit.
void SpatialIndex::AppendMarked(size_t word, uint64_t bits, std::vector<Shape*>& into) const {
  const size_t first = word * 64;
  const Chunk& c = chunks_[first >> kChunkShift];
  const size_t i = first & (kChunkSize - 1);
  const size_t at = into.size();
  into.resize(at + static_cast<size_t>(__builtin_popcountll(bits)));
  Shape** out = into.data() + at;
  if (c.run) {
    char* base = reinterpret_cast<char*>(RunAt(c.first, i));
    for (; bits != 0; bits &= bits - 1) {
      *out++ = reinterpret_cast<Shape*>(base + static_cast<size_t>(__builtin_ctzll(bits)) * RecordList::kRunStride);
    }
  } else {
    Shape* const* listed = listed_.data() + c.listedAt + i;
    for (; bits != 0; bits &= bits - 1) *out++ = listed[__builtin_ctzll(bits)];
  }
}

// Forgets every record.
void SpatialIndex::Clear() {
  built_ = false;
  size_ = 0;
  chunks_ = {};
  listed_ = {};
  cellStart_ = {};
  cellItems_ = {};
  always_ = {};
  blocks_ = false;
  blockBoxes_ = {};
  groupBoxes_ = {};
  columns_ = rows_ = 0;
  maxUnitsPerFoot_ = 0;
}

// The cell holding a point of the grid's extent.
size_t SpatialIndex::CellOf(const MapPoint& p) const {
  const int64_t cx = (p.x - originX_) >> cellShift_;
  const int64_t cy = (p.y - originY_) >> cellShift_;
  return static_cast<size_t>(cy * columns_ + cx);
}

// Cells from the one holding the widened left top corner to the one holding the right bottom.
bool SpatialIndex::CellRange(const MapRect& rect, int64_t margin, int64_t& x0, int64_t& y0, int64_t& x1,
                             int64_t& y1) const {
  if (columns_ == 0) return false;
  const int64_t l = std::min<int64_t>(rect.left, rect.right) - margin - originX_;
  const int64_t r = std::max<int64_t>(rect.left, rect.right) + margin - originX_;
  const int64_t t = std::min<int64_t>(rect.top, rect.bottom) - margin - originY_;
  const int64_t b = std::max<int64_t>(rect.top, rect.bottom) + margin - originY_;
  if (r < 0 || b < 0 || l >= columns_ * cellW_ || t >= rows_ * cellH_) return false;
  x0 = std::max<int64_t>(0, l) / cellW_;
  y0 = std::max<int64_t>(0, t) / cellH_;
  x1 = std::min<int64_t>(r / cellW_, columns_ - 1);
  y1 = std::min<int64_t>(b / cellH_, rows_ - 1);
  return true;
}

// Grid points of the cells met and every record outside the grid.
void SpatialIndex::Mark(const MapRect& rect, int64_t margin, Bits& bits, Bits* sure, int64_t sureMargin) const {
  const size_t words = (size_ + 63) / 64;
  bits.assign(words, 0);
  if (sure) sure->assign(words, 0);
  size_t low = 0, high = 0;
  MarkInto(rect, margin, bits, sure, sureMargin, low, high);
}

// Marks into clear bits, keeping the range of words written.
void SpatialIndex::MarkSparse(const MapRect& rect, int64_t margin, Bits& bits, Bits& sure, int64_t sureMargin,
                              size_t& low, size_t& high, size_t* marked) const {
  const size_t words = (size_ + 63) / 64;
  if (bits.size() != words) bits.assign(words, 0);
  if (sure.size() != words) sure.assign(words, 0);
  MarkInto(rect, margin, bits, &sure, sureMargin, low, high, marked);
}

// The marking itself; low and high follow the words written.
void SpatialIndex::MarkInto(const MapRect& rect, int64_t margin, Bits& bits, Bits* sure, int64_t sureMargin,
                            size_t& low, size_t& high, size_t* marked) const {
  low = SIZE_MAX;
  high = 0;
  if (marked) *marked = always_.size();
  if (blocks_) {
    MarkBlocks(std::min<int64_t>(rect.left, rect.right) - margin, std::min<int64_t>(rect.top, rect.bottom) - margin,
               std::max<int64_t>(rect.left, rect.right) + margin, std::max<int64_t>(rect.top, rect.bottom) + margin,
               bits, sure, std::min<int64_t>(rect.left, rect.right) + sureMargin,
               std::min<int64_t>(rect.top, rect.bottom) + sureMargin,
               std::max<int64_t>(rect.left, rect.right) - sureMargin,
               std::max<int64_t>(rect.top, rect.bottom) - sureMargin, low, high, marked);
  }
  // After the blocks: a record outside the grid is never sure.
  for (uint32_t position : always_) {
    const uint64_t bit = uint64_t{1} << (position & 63);
    bits[position >> 6] |= bit;
    if (sure && blocks_) (*sure)[position >> 6] &= ~bit;
    low = std::min<size_t>(low, position >> 6);
    high = std::max<size_t>(high, position >> 6);
  }
  if (blocks_) return;
  int64_t x0 = 0, y0 = 0, x1 = -1, y1 = -1;
  if (!CellRange(rect, margin, x0, y0, x1, y1)) return;
  // Cells wholly inside the narrowed rectangle, in map units.
  const int64_t innerL = std::min<int64_t>(rect.left, rect.right) + sureMargin;
  const int64_t innerR = std::max<int64_t>(rect.left, rect.right) - sureMargin;
  const int64_t innerT = std::min<int64_t>(rect.top, rect.bottom) + sureMargin;
  const int64_t innerB = std::max<int64_t>(rect.top, rect.bottom) - sureMargin;
  for (int64_t cy = y0; cy <= y1; ++cy) {
    const int64_t top = originY_ + cy * cellH_;
    const bool rowInside = top >= innerT && top + cellH_ - 1 <= innerB;
    for (int64_t cx = x0; cx <= x1; ++cx) {
      const size_t cell = static_cast<size_t>(cy * columns_ + cx);
      const int64_t left = originX_ + cx * cellW_;
      Bits& into = (sure && rowInside && left >= innerL && left + cellW_ - 1 <= innerR) ? *sure : bits;
      const uint32_t begin = cellStart_[cell], end = cellStart_[cell + 1];
      if (begin == end) continue;
      if (marked) *marked += end - begin;
      // A cell's positions are in list order: its first and last bound the words.
      low = std::min<size_t>(low, cellItems_[begin] >> 6);
      high = std::max<size_t>(high, cellItems_[end - 1] >> 6);
      for (uint32_t i = begin; i < end; ++i) {
        const uint32_t position = cellItems_[i];
        into[position >> 6] |= uint64_t{1} << (position & 63);
      }
    }
  }
}

// The cells' positions and the records outside the grid, sorted.
void SpatialIndex::Collect(const MapRect& rect, int64_t margin, std::vector<uint32_t>& positions) const {
  positions.assign(always_.begin(), always_.end());
  if (blocks_) {
    const int64_t l = std::min<int64_t>(rect.left, rect.right) - margin;
    const int64_t r = std::max<int64_t>(rect.left, rect.right) + margin;
    const int64_t t = std::min<int64_t>(rect.top, rect.bottom) - margin;
    const int64_t b = std::max<int64_t>(rect.top, rect.bottom) + margin;
    const auto meets = [&](const Box& box) { return box.left <= r && box.right >= l && box.top <= b && box.bottom >= t; };
    for (size_t g = 0; g < groupBoxes_.size(); ++g) {
      if (!meets(groupBoxes_[g])) continue;
      const size_t end = std::min(blockBoxes_.size(), (g + 1) << kGroupShift);
      for (size_t k = g << kGroupShift; k < end; ++k) {
        if (!meets(blockBoxes_[k])) continue;
        for (uint64_t word = BlockMask(k); word != 0; word &= word - 1) {
          positions.push_back(static_cast<uint32_t>((k << kBlockShift) + static_cast<size_t>(__builtin_ctzll(word))));
        }
      }
    }
    // A record outside the grid may share a block with points met.
    std::sort(positions.begin(), positions.end());
    positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
    return;
  }
  int64_t x0 = 0, y0 = 0, x1 = -1, y1 = -1;
  if (CellRange(rect, margin, x0, y0, x1, y1)) {
    for (int64_t cy = y0; cy <= y1; ++cy) {
      for (int64_t cx = x0; cx <= x1; ++cx) {
        const size_t cell = static_cast<size_t>(cy * columns_ + cx);
        positions.insert(positions.end(), cellItems_.begin() + cellStart_[cell], cellItems_.begin() + cellStart_[cell + 1]);
      }
    }
  }
  // Each position lies in one place only: sorting restores list order.
  std::sort(positions.begin(), positions.end());
}

// Blocks met go whole into bits, or into sure when their box lies inside the
// narrowed rectangle; a group met or inside settles its blocks at once.
void SpatialIndex::MarkBlocks(int64_t l, int64_t t, int64_t r, int64_t b, Bits& bits, Bits* sure, int64_t innerL,
                              int64_t innerT, int64_t innerR, int64_t innerB, size_t& low, size_t& high,
                              size_t* marked) const {
  const auto meets = [&](const Box& box) { return box.left <= r && box.right >= l && box.top <= b && box.bottom >= t; };
  const auto inside = [&](const Box& box) {
    return sure && box.left >= innerL && box.right <= innerR && box.top >= innerT && box.bottom <= innerB;
  };
  size_t count = 0;
  for (size_t g = 0; g < groupBoxes_.size(); ++g) {
    const Box& group = groupBoxes_[g];
    if (!meets(group)) continue;
    const bool groupInside = inside(group);
    const size_t first = g << kGroupShift;
    const size_t end = std::min(blockBoxes_.size(), first + (size_t{1} << kGroupShift));
    bool any = false;
    for (size_t k = first; k < end; ++k) {
      const Box& box = blockBoxes_[k];
      if (box.left > box.right || (!groupInside && !meets(box))) continue;
      const uint64_t mask = BlockMask(k);
      ((groupInside || inside(box)) ? *sure : bits)[k] |= mask;
      count += static_cast<size_t>(__builtin_popcountll(mask));
      if (!any) low = std::min(low, k);
      high = std::max(high, k);
      any = true;
    }
  }
  if (marked) *marked += count;
}

// The index's own arrays.
size_t SpatialIndex::MemoryBytes() const {
  return (blockBoxes_.capacity() + groupBoxes_.capacity()) * sizeof(Box) + chunks_.capacity() * sizeof(Chunk) +
         listed_.capacity() * sizeof(Shape*) +
         (cellStart_.capacity() + cellItems_.capacity() + always_.capacity()) *
                                                    sizeof(uint32_t);
}

}  // namespace kestrune
