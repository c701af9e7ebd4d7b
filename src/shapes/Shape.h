// Shape records: one drawable, selectable feature of a layer (a point, one part
// of a polyline, or a polygon with its rings), held in map units.
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "geo/Canvas.h"
#include "geo/MapPoint.h"

namespace kestrune {

class CMapTransform;
class MapProjection;
class Shape;

// Record classes as the layer's CreateRecord takes them.
enum RecordClass : int { kRecordLine = 2, kRecordPoint = 4, kRecordArea = 8 };

// What a record asks of the layer that holds it.
class ShapeOwner {
 public:
  virtual ~ShapeOwner() = default;
  // The point symbol size or line width: feet, or metres when metric.
  virtual double GetDisplaySize(bool metric) const = 0;
  // Whether point symbols and areas are outlined.
  virtual bool GetDrawBorder() const = 0;
  // How opaque areas are filled, 0 to 100 percent.
  virtual int GetFillOpacity() const { return 100; }
};

// The legend value of a record that has none (its attribute row is missing).
constexpr double kNoValue = std::numeric_limits<double>::quiet_NaN();
constexpr double kNoHit = 1e99;

// The base of all records. Kept to 24 bytes: a layer of ten million points
// holds ten million of these, so the colour is an index into a process-wide
// palette, the filter bits a one-byte code, and what is rare (a label, a
// colour or filter bits the compact forms cannot hold, the owner of a point
// record outside its pool block's) lives in a side table keyed by the record.
class Shape {
 public:
  explicit Shape(int recordNumber);
  Shape(const Shape&) = delete;
  Shape& operator=(const Shape&) = delete;

  // Virtual operations, in the order the record classes define them.
  virtual MapPoint GetLabelPoint();
  virtual ~Shape();
  virtual bool PrecedesInDrawOrder(const Shape& other) const;
  virtual int GetRecordClass() const = 0;
  virtual const MapPoint* SetPoint(const MapPoint& point);
  virtual bool AddPoints(const MapPoint* points, int count);
  virtual bool HasGeometry() const;
  virtual void Draw(const CMapTransform& transform, Canvas& dc) = 0;
  virtual void DrawLabel(const CMapTransform& transform, Canvas& dc);
  virtual MapRect GetBounds() = 0;
  virtual MapRect GetHitBounds() = 0;
  virtual void SetSelected(bool selected);
  virtual bool IsSelected() const;
  virtual double HitDistance(const MapPoint& point);
  virtual bool Contains(const MapPoint& point) const;
  virtual int GetPointCount() const = 0;
  virtual void FinishGeometry();
  virtual double GetArea(bool flag);
  virtual Color GetColor() const;
  // The layer (or other holder) the record belongs to; none until set.
  virtual ShapeOwner* GetOwner() const;
  virtual void SetOwner(ShapeOwner* owner);

  // Non-virtual state the layer reads and writes.
  void SetLabel(const std::string& text, bool opaque);
  // Counts the labels set on any record in the process, so a reader that
  // kept whether its records carry labels knows when to look again.
  static uint64_t LabelGeneration();
  std::string GetLabel() const;
  // Whether the record carries a label (DrawLabel draws nothing without one).
  bool HasLabel() const { return (flags_ & kHasLabel) != 0; }
  void SetColor(Color color);
  // The colour as a palette index only: false, with nothing changed, when
  // the palette is full (SetColor keeps it aside then). Several threads may
  // colour different records so at once.
  bool SetPaletteColor(Color color);
  // The legend value; kNoValue for a record without an attribute row.
  double GetValue() const { return value_; }
  void SetValue(double value) { value_ = value; }
  bool HasValue() const { return !std::isnan(value_); }
  int GetRecordNumber() const { return recordNumber_; }
  bool IsModified() const { return (flags_ & kModified) != 0; }
  void SetModified(bool on) { SetFlag(kModified, on); }
  bool IsVisible() const { return (flags_ & kVisible) != 0; }
  void SetVisible(bool on) { SetFlag(kVisible, on); }
  bool IsFilteredOut() const { return (flags_ & kFilteredOut) != 0; }
  void SetFilteredOut(bool on) { SetFlag(kFilteredOut, on); }
  // Filter bits of the record (0x1 boom on, 0x2 boom off, 0x4 rate above zero,
  // 0x8 rate zero); initially 0xFFFF. Only the low 16 bits are kept.
  uint32_t GetFilterFlags() const;
  void SetFilterFlags(uint32_t flags);

  // Recomputes the process-wide map units per device pixel for one drawing.
  static void PrepareView(const CMapTransform& transform);
  static double GetMapUnitsPerPixel() { return mapUnitsPerPixel_; }
  static void SetMapUnitsPerPixel(double value) { mapUnitsPerPixel_ = value; }

 protected:
  enum Flag : uint8_t {
    kModified = 0x01,
    kSelected = 0x02,
    kVisible = 0x04,
    kFilteredOut = 0x08,
    kHasLabel = 0x10,
    kHasSideEntry = 0x20,  // the record has an entry in the side table
    kBlockOwner = 0x40,    // a point record owned by its pool block's owner
  };
  // The colour index of a colour kept in the side table.
  static constexpr uint16_t kSideColor = 0xFFFF;
  // Filter codes: 0xFF stands for 0xFFFF, 0xFE for bits kept in the side
  // table, anything lower for itself.
  static constexpr uint8_t kAllFilterBits = 0xFF;
  static constexpr uint8_t kSideFilter = 0xFE;

  void SetFlag(uint8_t flag, bool on) {
    flags_ = static_cast<uint8_t>(on ? (flags_ | flag) : (flags_ & ~flag));
  }
  // The cached label point, or (0, 0) when none is cached.
  MapPoint CachedLabelPoint() const;
  void CacheLabelPoint(const MapPoint& point);
  // The owner kept in the side table, or none.
  ShapeOwner* SideOwner() const;
  // Keeps an owner in the side table (none removes it).
  void SetSideOwner(ShapeOwner* owner);

  double value_ = 0.0;
  int32_t recordNumber_ = 0;
  uint16_t colorIndex_ = 0;  // kNeutralColor
  uint8_t filterCode_ = kAllFilterBits;
  uint8_t flags_ = kVisible;

  static double mapUnitsPerPixel_;
};

// A record that keeps its owner beside its data (lines and areas: few enough
// that eight bytes each do not matter).
class OwnedShape : public Shape {
 public:
  explicit OwnedShape(int recordNumber) : Shape(recordNumber) {}
  ShapeOwner* GetOwner() const override { return owner_; }
  void SetOwner(ShapeOwner* owner) override { owner_ = owner; }

 protected:
  ShapeOwner* owner_ = nullptr;
};

// One point of a Point or MultiPoint record.
class PointShape final : public Shape {
 public:
  explicit PointShape(int recordNumber) : Shape(recordNumber) {}

  MapPoint GetLabelPoint() override;
  int GetRecordClass() const override { return kRecordPoint; }
  const MapPoint* SetPoint(const MapPoint& point) override;
  bool HasGeometry() const override { return point_.x >= 1 && point_.y > 0; }
  void Draw(const CMapTransform& transform, Canvas& dc) override;
  MapRect GetBounds() override;
  MapRect GetHitBounds() override { return GetBounds(); }
  double HitDistance(const MapPoint& point) override;
  int GetPointCount() const override { return HasGeometry() ? 1 : 0; }
  // A pooled point record takes its owner from its pool block: eight bytes
  // saved per point.
  ShapeOwner* GetOwner() const override;
  void SetOwner(ShapeOwner* owner) override;

  const MapPoint& GetPoint() const { return point_; }
  // East-west map units of one foot of ground at the point.
  int UnitsPerFoot() const;

  // Point records come by the million: they are carved from large blocks
  // (except in builds that check every allocation).
  static bool IsPooled();
  static void* operator new(size_t size);
  static void operator delete(void* p, size_t size);

  // ---- Whole pool blocks, for a load that makes point records side by side
  // in several threads (pooled builds only; see IsPooled).
  // The record slots of one block.
  static size_t SlotsPerPoolBlock();
  // Takes count fresh blocks whose records share the owner; every slot counts
  // as taken until made into a record and deleted, or given back. Gives the
  // first slot of each block; empty when the memory is not there. lastSlots,
  // when fewer than a block's, is how many slots of the last block the
  // caller means to fill.
  static std::vector<void*> TakePoolBlocks(size_t count, ShapeOwner* owner, size_t lastSlots = SIZE_MAX);
  // A point record made in a slot of such a block, owned by the block's owner.
  static PointShape* MakeInSlot(void* slot, int recordNumber, const MapPoint& point) {
    auto* shape = ::new (slot) PointShape(recordNumber);
    shape->point_ = point;
    shape->flags_ = static_cast<uint8_t>(shape->flags_ | kBlockOwner);
    return shape;
  }
  // Gives back count slots from the slot first on, in one block, that hold
  // no record (never made, or their records destroyed in place).
  static void GivePoolSlotsBack(void* first, size_t count);
  // Destroys runs of pooled point records (count records kRunStride bytes
  // apart from first, each run within one block) and gives their slots back
  // under one lock: what deleting each record does, without a lock and a
  // free-list entry per record when nothing else holds the pool's slots.
  static void DestroyPooledRuns(const std::vector<std::pair<Shape*, size_t>>& runs);

 private:
  // The half side of the symbol square in map units.
  int32_t HalfSize();

  MapPoint point_;
};

// One part of a PolyLine record.
class LineShape final : public OwnedShape {
 public:
  explicit LineShape(int recordNumber) : OwnedShape(recordNumber) {}

  MapPoint GetLabelPoint() override;
  int GetRecordClass() const override { return kRecordLine; }
  const MapPoint* SetPoint(const MapPoint& point) override;
  bool AddPoints(const MapPoint* points, int count) override;
  void Draw(const CMapTransform& transform, Canvas& dc) override;
  MapRect GetBounds() override { return bounds_; }
  MapRect GetHitBounds() override;
  double HitDistance(const MapPoint& point) override;
  int GetPointCount() const override { return static_cast<int>(points_.size()); }
  void FinishGeometry() override;
  // The owning layer's display size (feet, or metres when metric), 1.0 without one.
  virtual double GetWidth(bool metric) const;

  const std::vector<MapPoint>& GetPoints() const { return points_; }
  int GetPenWidth() const { return penWidth_; }
  int32_t GetMapWidth() const { return mapWidth_; }

  // Forgets the process-wide pen width cache (a new view or a test).
  static void ResetWidthCache();

 private:
  // Refreshes the pen and map-unit widths for the view about to be drawn.
  void UpdateWidths(const CMapTransform& transform);

  std::vector<MapPoint> points_;
  MapRect bounds_ = kEmptyBounds;
  double widthFt_ = 0.0;
  int32_t penWidth_ = 0;
  int32_t mapWidth_ = 0;
};

// One Polygon record: its outer ring first, then its holes, each stored closed.
class AreaShape final : public OwnedShape {
 public:
  explicit AreaShape(int recordNumber) : OwnedShape(recordNumber) {}

  MapPoint GetLabelPoint() override;
  bool PrecedesInDrawOrder(const Shape& other) const override;
  int GetRecordClass() const override { return kRecordArea; }
  bool AddPoints(const MapPoint* points, int count) override;
  bool HasGeometry() const override { return points_.size() >= 3; }
  void Draw(const CMapTransform& transform, Canvas& dc) override;
  MapRect GetBounds() override { return bounds_; }
  MapRect GetHitBounds() override { return bounds_; }
  double HitDistance(const MapPoint& point) override;
  bool Contains(const MapPoint& point) const override;
  int GetPointCount() const override { return static_cast<int>(points_.size()); }
  void FinishGeometry() override;
  // Ground area: square feet with U.S. units, square metres with metric.
  double GetArea(bool flag) override;

  double GetOuterArea() const { return outerArea_; }
  double GetNetArea() const { return netArea_; }
  int GetRingCount() const { return static_cast<int>(ringSizes_.size()); }
  int GetRingSize(int ring) const { return ringSizes_[static_cast<size_t>(ring)]; }
  const std::vector<MapPoint>& GetPoints() const { return points_; }
  const std::vector<int32_t>& GetRingSizes() const { return ringSizes_; }

 private:
  std::vector<MapPoint> points_;
  std::vector<int32_t> ringSizes_;
  MapRect bounds_ = kEmptyBounds;
  double netArea_ = 0.0;
  double outerArea_ = 0.0;
};

// A point symbol whose square is drawn under this many pixels wide or high
// is drawn filled without its outline, so its colour shows at any zoom.
constexpr int kOutlinedSymbolMinPixels = 3;

// Whether a symbol drawn in this box (its square widened by one pixel on
// every side) keeps its outline.
inline bool SymbolKeepsOutline(const DeviceRect& box) {
  const int64_t w = box.right > box.left ? int64_t{box.right} - box.left : int64_t{box.left} - box.right;
  const int64_t h = box.bottom > box.top ? int64_t{box.bottom} - box.top : int64_t{box.top} - box.bottom;
  return w - 2 >= kOutlinedSymbolMinPixels && h - 2 >= kOutlinedSymbolMinPixels;
}

// The rectangle that, drawn without a pen, fills every pixel the outlined
// box would cover (a rectangle without a pen leaves out its right column and
// bottom row).
inline DeviceRect UnoutlinedSymbolRect(const DeviceRect& box) {
  return {box.left < box.right ? box.left : box.right, box.top < box.bottom ? box.top : box.bottom,
          (box.left < box.right ? box.right : box.left) + 1, (box.top < box.bottom ? box.bottom : box.top) + 1};
}

// Area of a closed ring in square map units (0 for fewer than four points).
double RingArea(const MapPoint* points, int64_t count);

// East-west map units of one foot of ground at a point, asked of the
// projection itself (records take it from a cache by rows of the map).
int16_t ComputeUnitsPerFoot(const MapProjection& projection, const MapPoint& at);

}  // namespace kestrune
