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
  // Whether the layer's picture, moved by whole pixels, is its drawing in
  // the view moved as much: its records are point symbols of its own, which
  // depend on their point alone, and carry no label (whose text reaches
  // beyond its record).
  bool MovesWithPicture() const;
  // The union of the records' hit bounds; right and bottom start from 0.
  MapRect GetBounds() const;
  // Records wholly inside the rectangle, or for a one-point rectangle the one
  // record hit there.
  std::vector<Shape*> FindInRect(const MapRect& rect);
  // The best record at a map point: a point beats a line beats an area;
  // among equals the nearest, the later of equal distances.
  Shape* HitTestPoint(const MapPoint& point);

  // Threads that draw a layer: 0 (the default) uses the machine's cores for
  // layers of kParallelMinRecords records or more and one thread below; 1
  // draws on one thread; more draws with that many on any layer. The picture
  // is the same whatever the count. Process-wide.
  static void SetDrawThreads(int threads);
  static int GetDrawThreads();
  // Records the threads take at a time (0: the default, about a million).
  static void SetDrawSlab(size_t records);
  static constexpr size_t kParallelMinRecords = 50000;
  // How the last drawing's normal pass wrote its point symbols (process-wide,
  // for tests and benchmarks): on one thread, each thread its share of the
  // records into a layer of its own, or each thread a band of rows.
  enum class SymbolPath { OneThread, Layers, Bands };
  static SymbolPath LastSymbolPath();

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
  // With bounds, those are kept as the records' bounds at the current
  // display size instead of being worked out from every record.
  bool AdoptIndex(SpatialIndex::Grid grid, const MapRect* bounds = nullptr);
  // Drops the index after the records changed (cheap when there is none:
  // every record a load adds comes here).
  void DropIndex() {
    movesKnown_ = false;
    if (index_.IsBuilt()) ForgetIndex();
  }

 private:
  // Drawing of one pass in list order, point symbols in batches.
  enum class DrawPassKind { Shadows, Normal, NormalDecidingVisibility };
  void DrawPass(const PixelMapper& mapper, const CMapTransform& transform, Canvas& dc, DrawPassKind pass,
                bool indexed);
  // The threads this drawing uses (1: the passes run as above).
  int ThreadsForDrawing() const;
  // The parallel forms: the records are taken in slabs; each slab's records
  // are converted by all threads at once (a share of the slab each), then the
  // symbols are written by all threads at once, each into its own band of
  // rows, in list order, so every pixel ends as one thread would leave it.
  // Records that draw themselves (lines, areas) are drawn on this thread in
  // their place. DecideVisibility is the visibility pass before the shadows.
  void DrawPassInParallel(const PixelMapper& mapper, const CMapTransform& transform, Canvas& dc, DrawPassKind pass,
                          bool indexed, const DeviceRect& area, int threads);
  // A normal pass on several threads: in layers when it can be, else in bands.
  void DrawNormalInParallel(const PixelMapper& mapper, const CMapTransform& transform, Canvas& dc, DrawPassKind pass,
                            bool indexed, const DeviceRect& area, int threads);
  // The normal passes with the records cut into one share per thread in list
  // order (by the index's marks, as many each, when it is used): each thread
  // writes its share's symbols into its own layer of the picture, then the
  // layers are laid over it in order, which is the one-thread picture since
  // a symbol's pixels replace what lies beneath. False, with the picture as
  // it was, when the canvas has no layers or a record draws itself (a line,
  // an area, another layer's point); the visible flags may be set already.
  bool DrawPassInLayers(const PixelMapper& mapper, Canvas& dc, DrawPassKind pass, bool indexed,
                        const DeviceRect& area, int threads);
  void DecideVisibilityInParallel(const PixelMapper& mapper, Canvas& dc, bool indexed, int threads);
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
  // Whether the picture moves with the view, as of the records and labels
  // when it was last worked out (a pan asks it each time; the records change
  // only through DropIndex).
  mutable bool movesKnown_ = false;
  mutable bool moves_ = false;
  mutable uint64_t movesLabelGeneration_ = 0;
  std::vector<uint32_t> positions_;
};

}  // namespace kestrune
