// The drawing of one layer, apart from its data: the passes that paint its
// records (shadows, normal, selected on top, labels) with point symbols
// handed to the canvas in batches, the spatial index that finds the records
// a view, a click or a rectangle touches, and the bounds kept from the
// index's building. The renderer reads the layer's records, style, selection
// and filter; what it keeps is drawing state (the index, which records the
// last drawing may have left visible, scratch of the batches).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "geo/Canvas.h"
#include "geo/MapPoint.h"
#include "layers/SpatialIndex.h"
#include "shapes/RecordList.h"
#include "shapes/Shape.h"

namespace kestrune {

class Canvas;
class CMapTransform;
class Layer;
class LayerFilter;
class LayerSelection;
class LayerStyle;
class PixelMapper;

class LayerRenderer {
 public:
  LayerRenderer(const Layer& layer, const RecordList& records, const LayerStyle& style,
                const LayerSelection& selection, const LayerFilter& filter);
  LayerRenderer(const LayerRenderer&) = delete;
  LayerRenderer& operator=(const LayerRenderer&) = delete;

  // Draws the visible records in passes: shadows, normal, selected on top, labels.
  void Draw(const CMapTransform& transform, Canvas& dc);
  // Draws the records through the transform at once (the map window's
  // immediate drawing of a selection).
  void DrawRecords(const CMapTransform& transform, Canvas& dc, Shape* const* records, size_t count);
  // The union of the records' hit bounds; right and bottom start from 0.
  MapRect GetBounds() const;
  // Records wholly inside the rectangle, or for a one-point rectangle the one
  // record hit there.
  std::vector<Shape*> FindInRect(const MapRect& rect);
  // The best record at a map point: a point beats a line beats an area;
  // among equals the nearest, the later of equal distances.
  Shape* HitTestPoint(const MapPoint& point);

  // Whether drawing, clicks and rectangles look records up in the spatial
  // index (the default) or walk every record.
  void SetSpatialIndexUsed(bool used) { useIndex_ = used; }
  bool IsSpatialIndexUsed() const { return useIndex_; }
  const SpatialIndex& GetSpatialIndex() const { return index_; }
  // Builds the index when it is used and missing (not while the layer
  // loads); true when it can answer.
  bool EnsureIndex();
  // The same with a grid made for these records before (a cached load);
  // false, with no index, when it is not used or the grid does not fit.
  bool AdoptIndex(SpatialIndex::Grid grid);
  // Drops the index after the records changed (cheap when there is none:
  // every record a load adds comes here).
  void DropIndex() {
    if (index_.IsBuilt()) ForgetIndex();
  }

 private:
  // Drawing of one pass in list order, point symbols in batches.
  enum class DrawPassKind { Shadows, Normal, NormalDecidingVisibility };
  void DrawPass(const PixelMapper& mapper, const CMapTransform& transform, Canvas& dc, DrawPassKind pass,
                bool indexed);
  // Calls f for every record to draw: the index's candidates, or every record.
  template <class F>
  void ForEachDrawn(bool indexed, F f);
  // Forgets the built index and what the drawings kept of it.
  void ForgetIndex();
  // Map units a point's symbol box reaches beyond its point, with room to spare.
  int64_t PointMargin() const;
  // Marks in drawn_ the records that may be visible in the view (within the
  // plain visible area when given) and clears the visible flag of records
  // marked last time but not now; false when the index cannot tell.
  bool MarkDrawn(const CMapTransform& transform, const DeviceRect* area);
  // Draws records as they are, selected point symbols in batches (only the
  // visible ones with visibleOnly).
  void DrawSelected(const PixelMapper& mapper, const CMapTransform& transform, Canvas& dc, Shape* const* records,
                    size_t count, bool visibleOnly);

  const Layer& layer_;
  const RecordList& records_;
  const LayerStyle& style_;
  const LayerSelection& selection_;
  const LayerFilter& filter_;

  // Scratch of the point symbol batches while drawing.
  std::vector<DeviceRect> batchRects_;
  std::vector<Color> batchFills_;
  // Whether a record drawn in this drawing carries a label.
  bool labelled_ = false;

  SpatialIndex index_;
  bool useIndex_ = true;
  // Records the last drawing may have left visible, and those of this drawing.
  SpatialIndex::Bits maybeVisible_;
  SpatialIndex::Bits drawn_;
  SpatialIndex::Bits sure_;
  SpatialIndex::Bits found_;
  // The bounds as of the index's building, for the display size they were taken at.
  mutable MapRect bounds_ = kEmptyBounds;
  mutable double boundsSizeFt_ = 0.0;
  mutable bool boundsKept_ = false;
  std::vector<uint32_t> positions_;
};

}  // namespace kestrune
