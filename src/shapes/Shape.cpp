#include "shapes/Shape.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <sys/mman.h>
#include <thread>
#include <unordered_map>

#include "base/Preferences.h"
#include "shapes/RecordList.h"
#include "shapes/SelectionLook.h"
#include "geo/CMapTransform.h"
#include "geo/MapProjection.h"

// Under AddressSanitizer every point record gets its own allocation, so
// use-after-free and overflows of records are caught.
#if defined(__SANITIZE_ADDRESS__)
#define KESTRUNE_POOL_OFF 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KESTRUNE_POOL_OFF 1
#endif
#endif

namespace kestrune {

namespace {

constexpr Color kShadowColor = 0xE0E0E0;

std::atomic<uint64_t> g_labelGeneration{0};

// Keeps a map coordinate computed in 64 bits within the 32-bit map range.
int32_t ClampToInt32(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

// What a record keeps outside its own bytes, for the few records that need it.
struct SideEntry {
  bool hasLabel = false;
  std::string text;
  bool opaque = false;
  MapPoint point;  // cached label point; x == 0 means not computed
  Color color = 0;            // when the colour index is kSideColor
  uint16_t filterFlags = 0;   // when the filter code is kSideFilter
  ShapeOwner* owner = nullptr;
};

// The side table, never destroyed (records may outlive static destruction).
// A layer may be read in a worker thread while the window works on others, so
// every look-up and change of the table itself holds its lock; an entry's
// contents belong to its record, which one thread uses at a time. Entries
// stay where they are as the table grows.
class SideTableAccess {
 public:
  // The record's entry, made when it has none.
  static SideEntry& Of(const Shape* shape) {
    std::lock_guard<std::mutex> lock(Mutex());
    return Table()[shape];
  }
  // The record's existing entry.
  static SideEntry& At(const Shape* shape) {
    std::lock_guard<std::mutex> lock(Mutex());
    return Table().at(shape);
  }
  static void Erase(const Shape* shape) {
    std::lock_guard<std::mutex> lock(Mutex());
    Table().erase(shape);
  }
  // Whether no record has an entry (then none has kHasSideEntry set).
  static bool Empty() {
    std::lock_guard<std::mutex> lock(Mutex());
    return Table().empty();
  }

 private:
  static std::unordered_map<const Shape*, SideEntry>& Table() {
    static auto* table = new std::unordered_map<const Shape*, SideEntry>();
    return *table;
  }
  static std::mutex& Mutex() {
    static auto* mutex = new std::mutex();
    return *mutex;
  }
};

// Every colour any record has had, so a record keeps a two-byte index. A
// legend has at most a few hundred colours; should a session ever gather
// 65,535, further colours go to the side table. The colours sit in one array
// that never moves, so a colour is read without a lock by any thread that got
// its index; finding or adding an index holds the lock, after a small cache
// of the thread's own answers.
class ColorPalette {
 public:
  static constexpr size_t kCapacity = 65536;

  ColorPalette() : colors_(new Color[kCapacity]) { Add(kNeutralColor); }

  Color At(uint16_t index) const { return colors_[index]; }

  // The colour's index, added when new; kSide when the palette is full.
  uint16_t IndexOf(Color color, uint16_t side) {
    // Neighbouring records mostly share a colour: a small cache answers first.
    thread_local Recent recent[kRecent];
    Recent& r = recent[(color ^ (color >> 11) ^ (color >> 19)) & (kRecent - 1)];
    if (r.valid && r.color == color && r.palette == this) return r.index;
    uint16_t index = side;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto it = indexes_.find(color);
      if (it != indexes_.end()) {
        index = it->second;
      } else if (size_ < side) {
        index = Add(color);
      } else {
        return side;
      }
    }
    r = Recent{color, index, true, this};
    return index;
  }

 private:
  struct Recent {
    Color color = 0;
    uint16_t index = 0;
    bool valid = false;
    const ColorPalette* palette = nullptr;
  };
  static constexpr size_t kRecent = 64;

  uint16_t Add(Color color) {
    const auto index = static_cast<uint16_t>(size_);
    colors_[size_++] = color;
    indexes_.emplace(color, index);
    return index;
  }

  std::unique_ptr<Color[]> colors_;
  size_t size_ = 0;
  std::unordered_map<Color, uint16_t> indexes_;
  std::mutex mutex_;
};

// The process-wide palette, never destroyed (records may outlive statics).
ColorPalette& Palette() {
  static auto* palette = new ColorPalette();
  return *palette;
}

// Sets a pen and a brush for one drawing call and puts the previous ones back.
class ScopedTools {
 public:
  ScopedTools(Canvas& dc, const Pen& pen, const Brush* brush)
      : dc_(dc), oldPen_(dc.GetPen()), oldBrush_(dc.GetBrush()), brushSet_(brush != nullptr) {
    dc.SetPen(pen);
    if (brush) dc.SetBrush(*brush);
  }
  ~ScopedTools() {
    dc_.SetPen(oldPen_);
    if (brushSet_) dc_.SetBrush(oldBrush_);
  }
  ScopedTools(const ScopedTools&) = delete;
  ScopedTools& operator=(const ScopedTools&) = delete;

 private:
  Canvas& dc_;
  Pen oldPen_;
  Brush oldBrush_;
  bool brushSet_;
};

#ifndef KESTRUNE_POOL_OFF
// Point records come by the million; each would cost a heap header and
// alignment slack. They are carved from 2 MiB blocks instead, with freed slots
// reused, and the blocks go back when the last point record is destroyed.
// A block's first slot is its header: the owner most of its records share,
// which they then need not keep. A layer read in a worker thread takes slots
// while the window may give back those of a layer it closes, so taking and
// giving back hold the pool's lock.
class PointPool {
 public:
  static constexpr size_t kBlockBytes = size_t{2} << 20;

  struct Header {
    ShapeOwner* owner = nullptr;  // none until a record of the block is given one
    size_t live = 0;              // the block's records in use
  };

  // The header of the block holding a pooled record.
  static Header& HeaderOf(const void* record) {
    return *reinterpret_cast<Header*>(reinterpret_cast<uintptr_t>(record) & ~(uintptr_t{kBlockBytes} - 1));
  }

  // A slot: a freed one, else the next of the current block.
  void* Allocate(size_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (free_) {
      FreeSlot* slot = free_;
      free_ = slot->next;
      Taken(slot);
      return slot;
    }
    if (static_cast<size_t>(end_ - next_) < size) {
      char* block = NewBlock();
      if (!block) throw std::bad_alloc();
      blocks_.push_back(block);
      new (block) Header();
      next_ = block + size;  // past the header slot
      end_ = block + kBlockBytes;
    }
    void* p = next_;
    next_ += size;
    Taken(p);
    return p;
  }

  // Records a block holds (its first slot is the header).
  static constexpr size_t kSlots = kBlockBytes / RecordList::kRunStride - 1;

  // Fresh blocks with every slot taken and the owner set; the first slot
  // of each. All or none.
  std::vector<void*> TakeBlocks(size_t count, ShapeOwner* owner, size_t lastSlots) {
    std::vector<void*> firsts;
    firsts.reserve(count);
    std::lock_guard<std::mutex> lock(mutex_);
    const size_t before = blocks_.size();
    for (size_t i = 0; i < count; ++i) {
      // A last block the load fills only in part keeps small pages: its
      // untouched slots then take no memory.
      char* block = NewBlock(i + 1 < count || lastSlots >= kSlots);
      if (!block) {
        for (size_t b = before; b < blocks_.size(); ++b) std::free(blocks_[b]);
        blocks_.resize(before);
        if (live_ == 0) ReleaseAll();
        return {};
      }
      blocks_.push_back(block);
      firsts.push_back(block + RecordList::kRunStride);
    }
    // Writing a header is the first touch of its block's memory, which the
    // system then clears (a whole huge page at once): every core takes a
    // share of the blocks, so the clearing runs on all of them.
    auto headers = [&](size_t share, size_t shares) {
      for (size_t i = share; i < count; i += shares) {
        Header* header = new (blocks_[before + i]) Header();
        header->owner = owner;
        header->live = kSlots;
      }
    };
    const size_t shares = count < 8 ? 1 : std::min<size_t>(std::max(1u, std::thread::hardware_concurrency()), 16);
    std::vector<std::thread> helpers;
    for (size_t t = 1; t < shares; ++t) helpers.emplace_back(headers, t, shares);
    headers(0, shares);
    for (std::thread& helper : helpers) helper.join();
    live_ += count * kSlots;
    return firsts;
  }

  // Slots of one block given back unused: a block's untouched tail becomes
  // the place new records are carved from when it is larger than what is
  // left there; other slots join the free list.
  void GiveBack(void* first, size_t count) {
    if (count == 0) return;
    std::lock_guard<std::mutex> lock(mutex_);
    char* from = static_cast<char*>(first);
    Header& header = HeaderOf(from);
    header.live -= count;
    if (header.live == 0) header.owner = nullptr;
    live_ -= count;
    if (live_ == 0) {
      ReleaseAll();
      return;
    }
    char* blockEnd = reinterpret_cast<char*>(&header) + kBlockBytes;
    const size_t bytes = count * RecordList::kRunStride;
    if (from + bytes == blockEnd && static_cast<size_t>(end_ - next_) < bytes) {
      next_ = from;
      end_ = blockEnd;
      return;
    }
    for (size_t i = 0; i < count; ++i) {
      auto* slot = reinterpret_cast<FreeSlot*>(from + i * RecordList::kRunStride);
      slot->next = free_;
      free_ = slot;
    }
  }

  // Runs of slots of whole records given back at once: when they are all
  // the pool holds, every block goes back without a free list.
  void GiveBackRuns(const std::vector<std::pair<Shape*, size_t>>& runs) {
    size_t total = 0;
    for (const auto& run : runs) total += run.second;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (total == live_) {
        live_ = 0;
        ReleaseAll();
        return;
      }
    }
    for (const auto& run : runs) GiveBack(run.first, run.second);
  }

  // Takes a slot back; the last one back releases every block.
  void Free(void* p) {
    std::lock_guard<std::mutex> lock(mutex_);
    Header& header = HeaderOf(p);
    // A block that empties is free to serve another owner.
    if (--header.live == 0) header.owner = nullptr;
    auto* slot = static_cast<FreeSlot*>(p);
    slot->next = free_;
    free_ = slot;
    if (--live_ == 0) ReleaseAll();
  }

 private:
  struct FreeSlot {
    FreeSlot* next;
  };
  static_assert(sizeof(Header) <= 32, "the header fits the first slot");

  void Taken(void* p) {
    ++live_;
    ++HeaderOf(p).live;
  }

  // A block aligned to its size (so a record finds its header); from the
  // second block on (a layer of more than some 65,000 points) the kernel is
  // asked to back it with a huge page.
  char* NewBlock(bool hugePage = true) {
    void* p = nullptr;
    if (posix_memalign(&p, kBlockBytes, kBlockBytes) != 0) return nullptr;
#if defined(MADV_HUGEPAGE) && defined(MADV_NOHUGEPAGE)
    if (!blocks_.empty()) madvise(p, kBlockBytes, hugePage ? MADV_HUGEPAGE : MADV_NOHUGEPAGE);
#endif
    return static_cast<char*>(p);
  }

  // Gives every block back to the system.
  void ReleaseAll() {
    for (char* block : blocks_) std::free(block);
    blocks_.clear();
    blocks_.shrink_to_fit();
    free_ = nullptr;
    next_ = end_ = nullptr;
  }

  std::vector<char*> blocks_;
  char* next_ = nullptr;
  char* end_ = nullptr;
  FreeSlot* free_ = nullptr;
  size_t live_ = 0;
  std::mutex mutex_;
};

// The process-wide pool of point records.
PointPool& GetPointPool() {
  // Never destroyed: records may outlive static destruction order.
  static auto* pool = new PointPool();
  return *pool;
}
#endif  // KESTRUNE_POOL_OFF

// The last computed line widths, shared by every line drawn in one view.
struct WidthCache {
  bool valid = false;
  MapPoint origin;
  int32_t width = 0;
  int32_t height = 0;
  double widthFt = 0.0;
  int32_t penWidth = 0;
  int32_t mapWidth = 0;
};
// The process-wide line width cache.
WidthCache& GetWidthCache() {
  thread_local WidthCache cache;
  return cache;
}

}  // namespace

double Shape::mapUnitsPerPixel_ = 0.0;

static_assert(sizeof(Shape) <= 24, "a record's common part stays within 24 bytes");
static_assert(sizeof(PointShape) <= 32, "a point record stays within 32 bytes");

// ---------------------------------------------------------------- Shape

// Starts an empty record for its 1-based position in the shape file.
Shape::Shape(int recordNumber) : recordNumber_(recordNumber) {}

// Frees the record's side entry, if it ever had one.
Shape::~Shape() {
  if (flags_ & kHasSideEntry) SideTableAccess::Erase(this);
}

// The cached label point (records that compute one override this).
MapPoint Shape::GetLabelPoint() { return CachedLabelPoint(); }

// Only areas order themselves among each other.
bool Shape::PrecedesInDrawOrder(const Shape&) const { return false; }

// Records that keep a single point or a vertex list override this.
const MapPoint* Shape::SetPoint(const MapPoint&) { return nullptr; }

// Records that take rings or point runs override this.
bool Shape::AddPoints(const MapPoint*, int) { return false; }

// The base record has no geometry of its own.
bool Shape::HasGeometry() const { return false; }

// Draws the label text at the label point. The text is never set in this
// program and the canvas has no text operation, so nothing is drawn.
void Shape::DrawLabel(const CMapTransform&, Canvas&) {}

// Marks the record selected or not.
void Shape::SetSelected(bool selected) { SetFlag(kSelected, selected); }

// Whether the record is selected.
bool Shape::IsSelected() const { return (flags_ & kSelected) != 0; }

// A record that cannot be hit answers "very far".
double Shape::HitDistance(const MapPoint&) { return kNoHit; }

// Only areas contain points.
bool Shape::Contains(const MapPoint&) const { return false; }

// Nothing to finish for most records.
void Shape::FinishGeometry() {}

// Only areas have a ground area.
double Shape::GetArea(bool) { return 0.0; }

// The record's colour, set by the layer from its legend.
Color Shape::GetColor() const {
  return colorIndex_ != kSideColor ? Palette().At(colorIndex_) : SideTableAccess::At(this).color;
}

bool Shape::SetPaletteColor(Color color) {
  const uint16_t index = Palette().IndexOf(color, kSideColor);
  if (index == kSideColor) return false;
  colorIndex_ = index;
  return true;
}

// Keeps the colour as a palette index, or in the side table when the palette is full.
void Shape::SetColor(Color color) {
  const uint16_t index = Palette().IndexOf(color, kSideColor);
  if (index == kSideColor) {
    SideTableAccess::Of(this).color = color;
    SetFlag(kHasSideEntry, true);
  }
  colorIndex_ = index;
}

// The filter bits from their one-byte code.
uint32_t Shape::GetFilterFlags() const {
  if (filterCode_ == kAllFilterBits) return 0xFFFF;
  if (filterCode_ == kSideFilter) return SideTableAccess::At(this).filterFlags;
  return filterCode_;
}

// Codes the low 16 bits in a byte; bits it cannot hold go to the side table.
void Shape::SetFilterFlags(uint32_t flags) {
  const auto bits = static_cast<uint16_t>(flags);
  if (bits == 0xFFFF) {
    filterCode_ = kAllFilterBits;
  } else if (bits < kSideFilter) {
    filterCode_ = static_cast<uint8_t>(bits);
  } else {
    SideTableAccess::Of(this).filterFlags = bits;
    SetFlag(kHasSideEntry, true);
    filterCode_ = kSideFilter;
  }
}

// A record of no particular class keeps its owner in the side table.
ShapeOwner* Shape::GetOwner() const { return SideOwner(); }
void Shape::SetOwner(ShapeOwner* owner) { SetSideOwner(owner); }

// The owner kept in the side table, or none.
ShapeOwner* Shape::SideOwner() const {
  if (!(flags_ & kHasSideEntry)) return nullptr;
  return SideTableAccess::At(this).owner;
}

// Keeps the owner in the side table; no owner needs no new entry.
void Shape::SetSideOwner(ShapeOwner* owner) {
  if (!owner && !(flags_ & kHasSideEntry)) return;
  SideTableAccess::Of(this).owner = owner;
  SetFlag(kHasSideEntry, true);
}

uint64_t Shape::LabelGeneration() { return g_labelGeneration.load(std::memory_order_relaxed); }

// Sets the label text and its opaque flag (an empty text removes the label).
void Shape::SetLabel(const std::string& text, bool opaque) {
  if (text.empty() && !HasLabel()) return;
  g_labelGeneration.fetch_add(1, std::memory_order_relaxed);
  SideEntry& entry = SideTableAccess::Of(this);
  entry.hasLabel = true;
  entry.text = text;
  entry.opaque = opaque;
  SetFlag(kHasLabel | kHasSideEntry, true);
}

// The label text, empty for records without one.
std::string Shape::GetLabel() const {
  if (!HasLabel()) return {};
  return SideTableAccess::At(this).text;
}

// The label point kept for a labelled record, or (0, 0).
MapPoint Shape::CachedLabelPoint() const {
  if (!HasLabel()) return {};
  return SideTableAccess::At(this).point;
}

// Keeps a computed label point, only for records that carry a label.
void Shape::CacheLabelPoint(const MapPoint& point) {
  if (!HasLabel()) return;
  SideTableAccess::At(this).point = point;
}

// East-west map units of one foot of ground at a point, from the projection.
int16_t ComputeUnitsPerFoot(const MapProjection& projection, const MapPoint& at) {
  MapPoint moved = at;
  projection.OffsetEast(moved, 1.0, true);
  const int64_t diff = int64_t{moved.x} - at.x;
  return static_cast<int16_t>(std::clamp<int64_t>(diff, INT16_MIN, INT16_MAX));
}

namespace {

// In the map's Mercator one foot east is the same number of map units all
// along a row: it depends on the latitude alone, and changes by one unit
// only every few degrees. Rows are taken in bands; a band whose first and
// last rows give the same count (the count is monotone in between, away
// from the equator) gives it to every point in it, which saves a record the
// inverse projection and its trigonometry. Near the 180th meridian, where
// the offset wraps, every point is computed.
class UnitsPerFootBands {
 public:
  static constexpr int kBandShift = 14;  // 16384 map units, some 330 m

  int16_t Get(const MapPoint& at) {
    const MapProjection& projection = GetMapProjection();
    if (&projection != projection_) Reset(projection);
    if (!mercator_ || at.x < westX_ || at.x > eastX_) return ComputeUnitsPerFoot(projection, at);
    const int32_t band = at.y >> kBandShift;
    Entry& e = entries_[static_cast<uint32_t>(band) % kEntries];
    if (e.band != band || !e.known) {
      const int32_t first = static_cast<int32_t>(static_cast<uint32_t>(band) << kBandShift);
      const int32_t last = first + ((1 << kBandShift) - 1);
      const bool equator = first <= equatorY_ && equatorY_ <= last;
      const int16_t a = ComputeUnitsPerFoot(projection, {at.x, first});
      const int16_t b = ComputeUnitsPerFoot(projection, {at.x, last});
      e = Entry{band, a, true, !equator && a == b && a > 0 && a < INT16_MAX};
    }
    return e.uniform ? e.value : ComputeUnitsPerFoot(projection, at);
  }

 private:
  struct Entry {
    int32_t band = 0;
    int16_t value = 0;
    bool known = false;
    bool uniform = false;
  };
  static constexpr uint32_t kEntries = 4096;

  void Reset(const MapProjection& projection) {
    projection_ = &projection;
    mercator_ = dynamic_cast<const SphereMercatorProjection*>(&projection) != nullptr;
    for (Entry& e : entries_) e = Entry{};
    MapPoint west, east, equator;
    projection.GeoToMap(0.0, -179.0, west);
    projection.GeoToMap(0.0, 179.0, east);
    projection.GeoToMap(0.0, 0.0, equator);
    westX_ = west.x;
    eastX_ = east.x;
    equatorY_ = equator.y;
  }

  const MapProjection* projection_ = nullptr;
  bool mercator_ = false;
  int32_t westX_ = 0, eastX_ = 0, equatorY_ = 0;
  Entry entries_[kEntries];
};

// Each thread's own bands: a layer read in a worker thread measures its
// records while the window draws others.
UnitsPerFootBands& GetUnitsPerFootBands() {
  thread_local UnitsPerFootBands bands;
  return bands;
}

}  // namespace

// Map units per device pixel of the view about to be drawn, measured at the
// centre pixel and the pixel to its right.
void Shape::PrepareView(const CMapTransform& transform) {
  int32_t ox = 0, oy = 0, cx = 0, cy = 0;
  transform.GetDeviceOrigin(ox, oy);
  transform.GetDeviceExtent(cx, cy);
  const DevicePoint pixels[2] = {{ox + cx / 2, oy + cy / 2}, {ox + cx / 2 + 1, oy + cy / 2}};
  MapPoint map[2];
  // A window without a size keeps the last good scale.
  if (transform.DeviceToWorld(pixels, 2, map)) {
    mapUnitsPerPixel_ = static_cast<double>(int64_t{map[1].x} - map[0].x);
  }
}

// ---------------------------------------------------------------- PointShape

// Whether point records come from the pool.
bool PointShape::IsPooled() {
#ifdef KESTRUNE_POOL_OFF
  return false;
#else
  return true;
#endif
}

// Takes a slot from the point pool.
void* PointShape::operator new(size_t size) {
#ifdef KESTRUNE_POOL_OFF
  return ::operator new(size);
#else
  return GetPointPool().Allocate(size);
#endif
}

// Gives the slot back to the point pool.
void PointShape::operator delete(void* p, size_t /*size*/) {
  if (!p) return;
#ifdef KESTRUNE_POOL_OFF
  ::operator delete(p);
#else
  GetPointPool().Free(p);
#endif
}

size_t PointShape::SlotsPerPoolBlock() {
#ifdef KESTRUNE_POOL_OFF
  return 0;
#else
  return PointPool::kSlots;
#endif
}

std::vector<void*> PointShape::TakePoolBlocks(size_t count, ShapeOwner* owner, size_t lastSlots) {
#ifdef KESTRUNE_POOL_OFF
  (void)count;
  (void)owner;
  (void)lastSlots;
  return {};
#else
  return GetPointPool().TakeBlocks(count, owner, lastSlots);
#endif
}

void PointShape::DestroyPooledRuns(const std::vector<std::pair<Shape*, size_t>>& runs) {
  // Without side entries a point record's destruction changes nothing.
  const bool plain = SideTableAccess::Empty();
  if (!plain) {
    for (const auto& run : runs) {
      for (size_t i = 0; i < run.second; ++i) RecordList::RunAt(run.first, i)->~Shape();
    }
  }
#ifndef KESTRUNE_POOL_OFF
  GetPointPool().GiveBackRuns(runs);
#else
  (void)runs;
#endif
}

void PointShape::GivePoolSlotsBack(void* first, size_t count) {
#ifdef KESTRUNE_POOL_OFF
  (void)first;
  (void)count;
#else
  GetPointPool().GiveBack(first, count);
#endif
}

// The block's owner when the record shares it, else the side table's.
ShapeOwner* PointShape::GetOwner() const {
#ifndef KESTRUNE_POOL_OFF
  if (flags_ & kBlockOwner) return PointPool::HeaderOf(this).owner;
#endif
  return SideOwner();
}

// The first owner a block's records are given becomes the block's; a record
// given another keeps it in the side table.
void PointShape::SetOwner(ShapeOwner* owner) {
#ifndef KESTRUNE_POOL_OFF
  if (owner) {
    PointPool::Header& header = PointPool::HeaderOf(this);
    if (!header.owner) header.owner = owner;
    if (header.owner == owner) {
      SetFlag(kBlockOwner, true);
      if (flags_ & kHasSideEntry) SetSideOwner(nullptr);
      return;
    }
  }
  SetFlag(kBlockOwner, false);
#endif
  SetSideOwner(owner);
}

// East-west map units of one foot of ground at the point, from the row bands.
int PointShape::UnitsPerFoot() const { return GetUnitsPerFootBands().Get(point_); }

// The point itself is the label point.
MapPoint PointShape::GetLabelPoint() {
  MapPoint cached = CachedLabelPoint();
  if (cached.x != 0) return cached;
  CacheLabelPoint(point_);
  return point_;
}

// Stores the record's point.
const MapPoint* PointShape::SetPoint(const MapPoint& point) {
  point_ = point;
  return &point_;
}

// The half side of the symbol: half the display size in map units at the point.
int32_t PointShape::HalfSize() {
  const ShapeOwner* owner = GetOwner();
  const double sizeFt = owner ? owner->GetDisplaySize(false) : 0.0;
  const double half = sizeFt * UnitsPerFoot() * 0.5;
  // A nonsense size must not overflow the integer arithmetic of the bounds.
  if (!(half > 0.0)) return 0;
  return static_cast<int32_t>(std::min(half, 1.0e9));
}

// The symbol square, or empty bounds without geometry or layer.
MapRect PointShape::GetBounds() {
  if (!HasGeometry() || !GetOwner()) return kEmptyBounds;
  const int64_t h = HalfSize();
  return {ClampToInt32(point_.x - h), ClampToInt32(point_.y - h), ClampToInt32(point_.x + h),
          ClampToInt32(point_.y + h)};
}

// Draws the symbol square one map unit larger than its bounds on each side.
void PointShape::Draw(const CMapTransform& transform, Canvas& dc) {
  const ShapeOwner* owner = GetOwner();
  if (!owner || !HasGeometry()) return;
  const int64_t d = int64_t{HalfSize()} + 1;
  const Pen pen = owner->GetDrawBorder() ? BlackPen() : NullPen();
  if (IsSelected()) {
    // Its own colour in a halo of the highlight, never smaller than the minimum.
    const SelectedSymbolRects r = SelectedSymbolBoxes(transform.WorldRectangleBox(
        ClampToInt32(point_.x - d), ClampToInt32(point_.y - d), ClampToInt32(point_.x + d), ClampToInt32(point_.y + d)));
    const Brush halo = SolidBrush(SelectionHighlight());
    ScopedTools tools(dc, NullPen(), &halo);
    dc.Rectangle(r.halo.left, r.halo.top, r.halo.right, r.halo.bottom);
    dc.SetBrush(SolidBrush(GetColor()));
    dc.Rectangle(r.symbol.left, r.symbol.top, r.symbol.right, r.symbol.bottom);
    return;
  }
  Brush brush;
  if (IsFilteredOut()) {
    brush = SolidBrush(kShadowColor);
  } else {
    brush = SolidBrush(GetColor());
  }
  const DeviceRect box = transform.WorldRectangleBox(ClampToInt32(point_.x - d), ClampToInt32(point_.y - d),
                                                     ClampToInt32(point_.x + d), ClampToInt32(point_.y + d));
  // Too small for an outline: the whole box in the fill.
  if (pen.style != PenStyle::Null && !SymbolKeepsOutline(box)) {
    ScopedTools tools(dc, NullPen(), &brush);
    const DeviceRect r = UnoutlinedSymbolRect(box);
    dc.Rectangle(r.left, r.top, r.right, r.bottom);
    return;
  }
  ScopedTools tools(dc, pen, &brush);
  transform.DrawWorldRectangle(dc, ClampToInt32(point_.x - d), ClampToInt32(point_.y - d),
                               ClampToInt32(point_.x + d), ClampToInt32(point_.y + d));
}

// Squared distance from the point when the click falls on the symbol.
double PointShape::HitDistance(const MapPoint& point) {
  if (!HasGeometry()) return kNoHit;
  const MapRect b = GetHitBounds();
  if (point.x < b.left || point.x >= b.right || point.y < b.top || point.y >= b.bottom) return kNoHit;
  const double dx = static_cast<double>(int64_t{point.x} - point_.x);
  const double dy = static_cast<double>(int64_t{point.y} - point_.y);
  return dx * dx + dy * dy;
}

// ---------------------------------------------------------------- LineShape

// The vertex reached by stepping half the vertex count from the first.
MapPoint LineShape::GetLabelPoint() {
  MapPoint cached = CachedLabelPoint();
  if (cached.x != 0) return cached;
  if (points_.empty()) return {};
  const MapPoint p = points_[points_.size() / 2];
  CacheLabelPoint(p);
  return p;
}

// Appends a vertex, grows the bounds and marks the record changed.
const MapPoint* LineShape::SetPoint(const MapPoint& point) {
  points_.push_back(point);
  bounds_.left = std::min(bounds_.left, point.x);
  bounds_.top = std::min(bounds_.top, point.y);
  bounds_.right = std::max(bounds_.right, point.x);
  bounds_.bottom = std::max(bounds_.bottom, point.y);
  SetModified(true);
  return &points_.back();
}

// Appends each point as a vertex.
bool LineShape::AddPoints(const MapPoint* points, int count) {
  if (count > 0 && points) {
    points_.reserve(points_.size() + static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) SetPoint(points[i]);
  }
  return true;
}

// Gives back spare vertex capacity once the line is complete.
void LineShape::FinishGeometry() {
  if (points_.capacity() > points_.size()) points_.shrink_to_fit();
}

// The layer's display size, or 1.0 for a line outside any layer.
double LineShape::GetWidth(bool metric) const {
  return owner_ ? owner_->GetDisplaySize(metric) : 1.0;
}

// Forgets the widths computed for the last view.
void LineShape::ResetWidthCache() { GetWidthCache() = WidthCache{}; }

// Pen width in pixels and width in map units for the current view, measured
// at the view's centre; one cache serves every line of the same view.
void LineShape::UpdateWidths(const CMapTransform& transform) {
  widthFt_ = GetWidth(false);
  if (!(widthFt_ > 0.0)) {
    penWidth_ = 0;
    mapWidth_ = 0;
    return;
  }
  const MapPoint origin = transform.GetWorldOrigin();
  int32_t w = 0, h = 0;
  transform.GetWorldExtent(w, h);
  WidthCache& cache = GetWidthCache();
  if (cache.valid && cache.origin == origin && cache.width == w && cache.height == h &&
      cache.widthFt == widthFt_) {
    penWidth_ = cache.penWidth;
    mapWidth_ = cache.mapWidth;
    return;
  }
  const MapPoint centre{ClampToInt32(int64_t{origin.x} + w / 2), ClampToInt32(int64_t{origin.y} + h / 2)};
  MapPoint east = centre;
  GetMapProjection().OffsetEast(east, widthFt_, true);
  MapPoint centrePx = centre;
  MapPoint eastPx = east;
  transform.WorldToDevice(centrePx);
  transform.WorldToDevice(eastPx);
  // Across the 180th meridian the offset wraps; no width is better than a negative one.
  penWidth_ = static_cast<int32_t>(std::clamp<int64_t>(int64_t{eastPx.x} - centrePx.x + 1, 0, 32767));
  mapWidth_ = ClampToInt32(std::max<int64_t>(0, int64_t{east.x} - centre.x));
  cache = WidthCache{true, origin, w, h, widthFt_, penWidth_, mapWidth_};
}

// Draws the vertices as a polyline in the record's colour; a selected line
// over a wider one in the highlight colour.
void LineShape::Draw(const CMapTransform& transform, Canvas& dc) {
  UpdateWidths(transform);
  if (IsSelected()) {
    const Pen halo{PenStyle::Solid, std::max(penWidth_, 1) + 2 * kSelectionHaloPixels, SelectionHighlight()};
    ScopedTools tools(dc, halo, nullptr);
    transform.DrawWorldPolyline(dc, points_);
  }
  const Pen pen{PenStyle::Solid, penWidth_, GetColor()};
  ScopedTools tools(dc, pen, nullptr);
  transform.DrawWorldPolyline(dc, points_);
}

// The vertex bounds widened by half the line width on each side.
MapRect LineShape::GetHitBounds() {
  MapRect b = bounds_;
  if (b.left == kBoundsMax) return b;
  const double width = GetWidth(false);
  if (width != widthFt_) {
    widthFt_ = width;
    if (!points_.empty() && width > 0.0) {
      MapPoint moved = points_.front();
      GetMapProjection().OffsetEast(moved, width, true);
      mapWidth_ = ClampToInt32(std::max<int64_t>(0, int64_t{moved.x} - points_.front().x));
    } else if (!(width > 0.0)) {
      // A line without width has nothing to widen by.
      mapWidth_ = 0;
    }
  }
  if (b.left >= 1 && b.top >= 1 && b.right >= 1 && b.bottom >= 1) {
    const int64_t half = mapWidth_ / 2;
    b = {ClampToInt32(b.left - half), ClampToInt32(b.top - half), ClampToInt32(b.right + half),
         ClampToInt32(b.bottom + half)};
  }
  return b;
}

// Distance from the click to the nearest segment within the pick tolerance:
// the perpendicular distance beside a segment, else the overshoot past an end.
double LineShape::HitDistance(const MapPoint& point) {
  if (points_.size() < 2) return kNoHit;
  const double tolerance = std::max(penWidth_ / 2, 10) * mapUnitsPerPixel_;
  double best = kNoHit;
  double beyond = kNoHit;
  for (size_t i = 0; i + 1 < points_.size(); ++i) {
    const MapPoint& a = points_[i];
    const MapPoint& b = points_[i + 1];
    const double px = static_cast<double>(int64_t{point.x} - a.x);
    const double py = static_cast<double>(int64_t{point.y} - a.y);
    const double dx = static_cast<double>(int64_t{b.x} - a.x);
    const double dy = static_cast<double>(int64_t{b.y} - a.y);
    const double len = std::sqrt(dx * dx + dy * dy);
    if (len == 0.0) continue;
    const double perp = std::fabs(px * dy - dx * py) / len;
    const double along = (dx * px + dy * py) / len;
    if (perp > tolerance) continue;
    if (along >= 0.0 && along < len && perp <= best) {
      best = perp;
    } else if (along >= -tolerance && along < len + tolerance && perp <= beyond) {
      beyond = along >= 0.0 ? along - len : -along;
    }
  }
  return best < kNoHit ? best : beyond;
}

// ---------------------------------------------------------------- AreaShape

// Shoelace area of a closed ring, relative to its bounding corner.
double RingArea(const MapPoint* points, int64_t count) {
  if (!points || count < 4) return 0.0;
  const MapRect b = BoundingBox(points, count);
  double sum = 0.0;
  for (int64_t i = 0; i + 1 < count; ++i) {
    const double x0 = static_cast<double>(int64_t{points[i].x} - b.left);
    const double y0 = static_cast<double>(int64_t{points[i].y} - b.top);
    const double x1 = static_cast<double>(int64_t{points[i + 1].x} - b.left);
    const double y1 = static_cast<double>(int64_t{points[i + 1].y} - b.top);
    sum += y1 * x0 - y0 * x1;
  }
  return std::fabs(sum * 0.5);
}

// Larger outer areas are drawn first, so smaller areas lie on top of them.
bool AreaShape::PrecedesInDrawOrder(const Shape& other) const {
  if (other.GetRecordClass() != kRecordArea) return false;
  return outerArea_ > static_cast<const AreaShape&>(other).outerArea_;
}

// Appends one ring: the first ring sets the outer and net areas and the
// bounds, later rings are holes taken off the net area. Ring sizes are 32-bit,
// so rings and ring counts beyond 32767 are kept whole.
bool AreaShape::AddPoints(const MapPoint* points, int count) {
  if (count < 0 || (count > 0 && !points)) return false;
  try {
    ringSizes_.reserve(ringSizes_.size() + 1);
    if (points_.empty()) {
      points_.reserve(static_cast<size_t>(count));
    } else if (points_.capacity() - points_.size() < static_cast<size_t>(count)) {
      // A few rings are fitted exactly; beyond that the array grows
      // geometrically, so a record of many rings does not copy its points per ring.
      const size_t exact = points_.size() + static_cast<size_t>(count);
      points_.reserve(ringSizes_.size() < 8 ? exact : std::max(exact, points_.size() * 2));
    }
    points_.insert(points_.end(), points, points + count);
    ringSizes_.push_back(count);
  } catch (const std::bad_alloc&) {
    return false;
  }
  const double area = RingArea(points, count);
  if (ringSizes_.size() == 1) {
    outerArea_ = netArea_ = area;
    // A first ring without points leaves the record without bounds.
    bounds_ = count > 0 ? BoundingBox(points, count) : kEmptyBounds;
  } else {
    netArea_ -= area;
  }
  return true;
}

// Gives back spare point capacity once all rings are in.
void AreaShape::FinishGeometry() {
  if (points_.capacity() > points_.size()) points_.shrink_to_fit();
  if (ringSizes_.capacity() > ringSizes_.size()) ringSizes_.shrink_to_fit();
}

// Fills all rings at once; holes show through in alternate fill mode.
void AreaShape::Draw(const CMapTransform& transform, Canvas& dc) {
  if (!owner_ || points_.empty()) return;
  Pen pen;
  Brush brush;
  // Selected: its own fill under a strong outline in the highlight colour.
  pen = IsSelected() ? Pen{PenStyle::Solid, kSelectedAreaPenWidth, SelectionHighlight()}
                     : (owner_->GetDrawBorder() ? BlackPen() : NullPen());
  brush = SolidBrush(GetColor());
  // Percent to alpha, rounded; 100 % stays the plain opaque brush.
  const int opacity = std::clamp(owner_->GetFillOpacity(), 0, 100);
  if (opacity < 100) brush.alpha = (opacity * 255 + 50) / 100;
  ScopedTools tools(dc, pen, &brush);
  transform.DrawWorldPolyPolygon(dc, points_.data(), ringSizes_.data(), GetRingCount());
}

// Inside the outer ring and outside every hole.
bool AreaShape::Contains(const MapPoint& point) const {
  if (ringSizes_.empty()) return false;
  size_t offset = 0;
  for (size_t r = 0; r < ringSizes_.size(); ++r) {
    const int size = ringSizes_[r];
    const bool inside = PointInPolygon(point, points_.data() + offset, size);
    if (r == 0 && !inside) return false;
    if (r > 0 && inside) return false;
    offset += static_cast<size_t>(size);
  }
  return true;
}

// 1.0 inside the area, else "very far".
double AreaShape::HitDistance(const MapPoint& point) { return Contains(point) ? 1.0 : kNoHit; }

// Ground area from the net area in map units, scaled by the ground size of the
// bounds: square feet with U.S. units, square metres with metric.
double AreaShape::GetArea(bool) {
  if (points_.empty()) return 0.0;
  const MapRect b = bounds_;
  const bool inFeet = GetPreferences().GetMetric() == 0;
  const MapProjection& projection = GetMapProjection();
  const double height = projection.Distance({b.left, b.top}, {b.left, b.bottom}, inFeet);
  const double width = projection.Distance({b.left, b.top}, {b.right, b.top}, inFeet);
  const double box = (static_cast<double>(b.top) - b.bottom) * (static_cast<double>(b.right) - b.left);
  if (!(std::fabs(box) > 0.0)) return 0.0;
  return std::fabs(width * height * netArea_ / box);
}

// A point inside the area on the vertical line through the centre of its
// bounds, between the ring crossings nearest to the centre.
MapPoint AreaShape::GetLabelPoint() {
  MapPoint cached = CachedLabelPoint();
  if (cached.x != 0) return cached;
  if (points_.empty()) return {};
  const MapRect b = GetHitBounds();
  const int64_t cx = b.left + (int64_t{b.right} - b.left) / 2;
  const int64_t cy = b.top + (int64_t{b.bottom} - b.top) / 2;
  const bool inside = Contains({static_cast<int32_t>(cx), static_cast<int32_t>(cy)});

  // Two slots per side of the centre; -1 marks an empty slot.
  int64_t lowA = -1, lowB = -1, upA = -1, upB = -1;
  size_t offset = 0;
  for (int32_t size : ringSizes_) {
    for (int32_t i = 0; i + 1 < size; ++i) {
      const MapPoint& s = points_[offset + static_cast<size_t>(i)];
      const MapPoint& e = points_[offset + static_cast<size_t>(i) + 1];
      const bool crosses = (s.x < cx && cx <= e.x) || (e.x < cx && cx <= s.x);
      if (!crosses) continue;
      const double slope = static_cast<double>(int64_t{e.y} - s.y) / static_cast<double>(int64_t{e.x} - s.x);
      const int64_t y = static_cast<int64_t>(slope * static_cast<double>(cx - s.x)) + s.y;
      if (y >= cy) {
        if (lowA == -1) {
          lowA = y;
        } else if (lowB == -1) {
          lowB = y;
        } else if (!(y >= lowA && y >= lowB)) {
          (lowA > lowB ? lowA : lowB) = y;
        }
      } else {
        if (upA == -1) {
          upA = y;
        } else if (upB == -1) {
          upB = y;
        } else if (!(y <= upA && y <= upB)) {
          (upA < upB ? upA : upB) = y;
        }
      }
    }
    offset += static_cast<size_t>(size);
  }
  int64_t ly = cy;
  if (!inside) {
    if (upA != -1 && upB != -1) {
      ly = upA + (upB - upA) / 2;
    } else if (lowA != -1 && lowB != -1) {
      ly = lowA + (lowB - lowA) / 2;
    }
  } else if (upA != -1 && lowA != -1) {
    ly = upA + (lowA - upA) / 2;
  }
  const MapPoint p{static_cast<int32_t>(cx), ClampToInt32(ly)};
  CacheLabelPoint(p);
  return p;
}

}  // namespace kestrune
