// The draw passes, the immediate drawing of a selection, the kept bounds, the
// hit tests and the spatial index's upkeep, in one unit so the per-record
// loops stay inlined.
#include "layers/LayerRenderer.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <thread>

#include "geo/CMapTransform.h"
#include "geo/Canvas.h"
#include "layers/Layer.h"
#include "layers/LayerFilter.h"
#include "layers/LayerSelection.h"
#include "shapes/SelectionLook.h"
#include "layers/LayerStyle.h"
#include "layers/PixelMapper.h"
#include "layers/RecordShares.h"
#include "shapes/ShapeCollection.h"

namespace kestrune {

namespace {

// Points symbols handed to the canvas per batch.
constexpr size_t kBatchSize = 4096;

// Keeps a widened map coordinate within the 32-bit map range.
int32_t Clamp32(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

// Grows a union of rectangles by one more.
void Unite(MapRect& into, const MapRect& r) {
  into.left = std::min(into.left, r.left);
  into.top = std::min(into.top, r.top);
  into.right = std::max(into.right, r.right);
  into.bottom = std::max(into.bottom, r.bottom);
}

// One set bit per position of count.
void SetAllBits(SpatialIndex::Bits& bits, size_t count) {
  bits.assign((count + 63) / 64, ~uint64_t{0});
  if (count % 64 != 0) bits.back() = (uint64_t{1} << (count % 64)) - 1;
}

// The threads setting (see SetDrawThreads).
std::atomic<int> gDrawThreads{0};

// Records taken per slab of a parallel pass (see SetDrawSlab): few slabs, so
// the threads meet seldom, of 20 MB of symbols at most.
constexpr size_t kDefaultSlabSize = size_t{1} << 20;
std::atomic<size_t> gSlabSize{kDefaultSlabSize};

// See LastSymbolPath.
std::atomic<LayerRenderer::SymbolPath> gLastSymbolPath{LayerRenderer::SymbolPath::OneThread};

// Runs work(part) for parts 0..parts-1, part 0 on this thread, and waits.
template <class F>
void RunParts(int parts, F work) {
  std::vector<std::thread> helpers;
  helpers.reserve(static_cast<size_t>(parts > 1 ? parts - 1 : 0));
  for (int part = 1; part < parts; ++part) helpers.emplace_back([&work, part] { work(part); });
  work(0);
  for (std::thread& helper : helpers) helper.join();
}

// One thread's share of a slab: its point symbols in list order, and the
// steps that give them out: runs of symbols with one pen, and records that
// draw themselves (count 0).
struct SlabShare {
  struct Step {
    uint32_t count = 0;
    bool outlined = false;
    Shape* shape = nullptr;
  };
  std::vector<DeviceRect> rects;
  std::vector<Color> fills;
  std::vector<Step> steps;
  bool labelled = false;
  bool drawsItself = false;

  void Clear() {
    rects.clear();
    fills.clear();
    steps.clear();
    labelled = false;
    drawsItself = false;
  }
  void AddSymbol(const DeviceRect& box, Color fill, bool outlined) {
    if (steps.empty() || steps.back().count == 0 || steps.back().outlined != outlined) {
      steps.push_back({0, outlined, nullptr});
    }
    ++steps.back().count;
    rects.push_back(box);
    fills.push_back(fill);
  }
  void AddSelfDrawn(Shape* shape) {
    steps.push_back({0, false, shape});
    drawsItself = true;
  }
};


// PointShape::GetBounds of one of the layer's own points with geometry, the
// layer's display size (feet) asked once per drawing instead of per point:
// the same half side and the same clamping.
MapRect PointBoundsAtSize(const PointShape* point, double sizeFt) {
  return PointSymbolBounds(point->GetPoint(), point->UnitsPerFoot(), sizeFt);
}

// The drawing box of a point's symbol, one map unit outside its bounds as the
// record draws it (empty without geometry). On a pass that decides
// visibility, the point's visible mark is set from it.
// sizeFt is the owner's display size: the point is the layer's own.
DeviceRect PointSymbolBox(const PixelMapper& mapper, const Canvas& dc, PointShape* point, bool setVisibility,
                          double sizeFt) {
  const bool geometry = point->HasGeometry();
  const MapRect b = geometry ? PointBoundsAtSize(point, sizeFt) : kEmptyBounds;
  const DeviceRect box =
      geometry ? mapper.RectangleBox(Clamp32(int64_t{b.left} - 1), Clamp32(int64_t{b.top} - 1),
                                     Clamp32(int64_t{b.right} + 1), Clamp32(int64_t{b.bottom} + 1))
               : DeviceRect{};
  if (setVisibility) {
    // The drawing box settles most symbols' visibility without converting the bounds too.
    const bool visible = (geometry && mapper.BoxShowsWholeBounds(box)) || mapper.IsRectVisible(dc, b);
    // Written only when it changes: a million records stay clean in the cache.
    if (point->IsVisible() != visible) point->SetVisible(visible);
  }
  return box;
}

// Puts POINT's symbol into the batch RECTS and FILLS, whose symbols are
// OUTLINED or not; FLUSH hands the batch on when it is full or the symbol's
// outline differs from the batch's. False when the point has no place or is
// not visible.
template <typename Flush>
bool BatchPointSymbol(const PixelMapper& mapper, const Canvas& dc, PointShape* point, bool setVisibility,
                      double sizeFt, bool border, bool& outlined, std::vector<DeviceRect>& rects,
                      std::vector<Color>& fills, const Flush& flush) {
  const DeviceRect box = PointSymbolBox(mapper, dc, point, setVisibility, sizeFt);
  if (!point->HasGeometry() || !point->IsVisible()) return false;
  const bool keep = border && SymbolKeepsOutline(box);
  if (border && keep != outlined) {
    flush();
    outlined = keep;
  }
  rects.push_back(keep || !border ? box : UnoutlinedSymbolRect(box));
  fills.push_back(point->GetColor());
  if (rects.size() >= kBatchSize) flush();
  return true;
}

}  // namespace

void LayerRenderer::SetDrawThreads(int threads) { gDrawThreads.store(std::max(0, threads)); }
void LayerRenderer::SetDrawSlab(size_t records) { gSlabSize.store(records > 0 ? records : kDefaultSlabSize); }
int LayerRenderer::GetDrawThreads() { return gDrawThreads.load(); }
LayerRenderer::SymbolPath LayerRenderer::LastSymbolPath() { return gLastSymbolPath.load(); }

// The machine's cores for a big layer unless the setting says otherwise.
int LayerRenderer::ThreadsForDrawing() const {
  const int setting = gDrawThreads.load();
  if (setting > 0) return setting;
  if (records_.size() < kParallelMinRecords) return 1;
  return static_cast<int>(std::clamp<unsigned>(std::thread::hardware_concurrency(), 1, 16));
}

LayerRenderer::LayerRenderer(const Layer& layer, const RecordList& records, const LayerStyle& style,
                             const LayerSelection& selection, const LayerFilter& filter)
    : layer_(layer), records_(records), style_(style), selection_(selection), filter_(filter) {}

// ---------------------------------------------------------------- drawing

// Point symbols of the normal pass are collected and handed to the canvas
// together; anything else draws itself. A batch gives the same calls, in the
// same order, as each symbol drawing itself would. Without a shadow pass
// before it, the normal pass also decides each record's visibility.
void LayerRenderer::DrawPass(const PixelMapper& mapper, const CMapTransform& transform, Canvas& dc, DrawPassKind pass,
                             bool indexed) {
  const bool normal = pass != DrawPassKind::Shadows;
  const bool setVisibility = pass == DrawPassKind::NormalDecidingVisibility;
  const bool border = style_.GetSettings().drawBorder;
  const ShapeOwner* owner = &layer_;
  const double sizeFt = owner->GetDisplaySize(false);
  std::vector<DeviceRect>& rects = batchRects_;
  std::vector<Color>& fills = batchFills_;
  rects.clear();
  fills.clear();
  // Whether the batch's symbols are outlined; symbols too small for an
  // outline go in batches of their own, so the order stays that of the list.
  bool outlined = border;
  const auto flush = [&]() {
    if (rects.empty()) return;
    const Pen old = dc.GetPen();
    dc.SetPen(outlined ? BlackPen() : NullPen());
    dc.SolidRectangles(rects.data(), fills.data(), static_cast<int>(rects.size()));
    dc.SetPen(old);
    rects.clear();
    fills.clear();
  };
  const bool batching = normal && mapper.Usable();
  ForEachDrawn(indexed, [&](Shape* shape) {
    if (batching && shape->GetRecordClass() == kRecordPoint && shape->GetOwner() == owner) {
      auto* point = static_cast<PointShape*>(shape);
      // Selected and shadowed symbols use other brushes; they draw themselves.
      if (!point->IsSelected() && !point->IsFilteredOut()) {
        if (BatchPointSymbol(mapper, dc, point, setVisibility, sizeFt, border, outlined, rects, fills, flush)) {
          labelled_ = labelled_ || point->HasLabel();
        }
        return;
      }
    }
    if (setVisibility) shape->SetVisible(mapper.IsRectVisible(dc, shape->GetHitBounds()));
    if (!shape->IsVisible()) return;
    labelled_ = labelled_ || shape->HasLabel();
    if (normal ? (shape->IsSelected() || shape->IsFilteredOut()) : !shape->IsFilteredOut()) return;
    if (!normal && !filter_.ShadowsRecord(shape->GetFilterFlags())) return;
    flush();
    shape->Draw(transform, dc);
  });
  flush();
}

// The normal passes in slabs: each thread converts a share of the slab, then
// each writes its band of rows of every symbol of the slab in list order.
// Pixels of a row are written in the order one thread would write them, so
// the picture is the same. A slab with records that draw themselves is given
// out on this thread instead, in list order.
void LayerRenderer::DrawPassInParallel(const PixelMapper& mapper, const CMapTransform& transform, Canvas& dc,
                                       DrawPassKind pass, bool indexed, const DeviceRect& area, int threads) {
  const bool setVisibility = pass == DrawPassKind::NormalDecidingVisibility;
  const bool border = style_.GetSettings().drawBorder;
  const ShapeOwner* owner = &layer_;
  const double sizeFt = owner->GetDisplaySize(false);
  std::vector<SlabShare> shares(static_cast<size_t>(threads));
  const size_t slabSize = gSlabSize.load();
  std::vector<Shape*> slab;
  slab.reserve(slabSize);
  const int top = std::min(area.top, area.bottom), rows = std::max(area.top, area.bottom) - top;

  // One record of a thread's share: what DrawPass does with it, the drawing put off.
  const auto take = [&](Shape* shape, SlabShare& share) {
    if (shape->GetRecordClass() != kRecordPoint || shape->GetOwner() != owner) {
      share.AddSelfDrawn(shape);
      return;
    }
    auto* point = static_cast<PointShape*>(shape);
    if (point->IsSelected() || point->IsFilteredOut()) {
      // Drawn by other passes; here only their visibility and labels count.
      if (setVisibility) point->SetVisible(mapper.IsRectVisible(dc, point->GetHitBounds()));
      if (point->IsVisible()) share.labelled = share.labelled || point->HasLabel();
      return;
    }
    const DeviceRect box = PointSymbolBox(mapper, dc, point, setVisibility, sizeFt);
    if (!point->HasGeometry() || !point->IsVisible()) return;
    share.labelled = share.labelled || point->HasLabel();
    const bool keep = border && SymbolKeepsOutline(box);
    share.AddSymbol(keep || !border ? box : UnoutlinedSymbolRect(box), point->GetColor(), keep);
  };

  const auto drawSlab = [&]() {
    if (slab.empty()) return;
    const size_t n = slab.size();
    RunParts(threads, [&](int part) {
      SlabShare& share = shares[static_cast<size_t>(part)];
      share.Clear();
      const size_t from = n * static_cast<size_t>(part) / static_cast<size_t>(threads);
      const size_t to = n * static_cast<size_t>(part + 1) / static_cast<size_t>(threads);
      for (size_t i = from; i < to; ++i) take(slab[i], share);
    });
    slab.clear();
    bool selfDrawn = false;
    for (const SlabShare& share : shares) {
      labelled_ = labelled_ || share.labelled;
      selfDrawn = selfDrawn || share.drawsItself;
    }
    if (!selfDrawn && dc.CanFillRowBands()) {
      RunParts(threads, [&](int band) {
        const int from = top + static_cast<int>(int64_t{rows} * band / threads);
        const int to = top + static_cast<int>(int64_t{rows} * (band + 1) / threads);
        if (from >= to) return;
        for (const SlabShare& share : shares) {
          size_t at = 0;
          for (const SlabShare::Step& step : share.steps) {
            dc.SolidRectanglesInRows(share.rects.data() + at, share.fills.data() + at, static_cast<int>(step.count),
                                     step.outlined ? BlackPen() : NullPen(), from, to);
            at += step.count;
          }
        }
      });
      return;
    }
    // In list order on this thread.
    for (const SlabShare& share : shares) {
      size_t at = 0;
      for (const SlabShare::Step& step : share.steps) {
        if (step.count != 0) {
          const Pen old = dc.GetPen();
          dc.SetPen(step.outlined ? BlackPen() : NullPen());
          for (size_t done = 0; done < step.count; done += kBatchSize) {
            const size_t count = std::min(kBatchSize, step.count - done);
            dc.SolidRectangles(share.rects.data() + at + done, share.fills.data() + at + done,
                               static_cast<int>(count));
          }
          dc.SetPen(old);
          at += step.count;
          continue;
        }
        Shape* shape = step.shape;
        if (setVisibility) shape->SetVisible(mapper.IsRectVisible(dc, shape->GetHitBounds()));
        if (!shape->IsVisible()) continue;
        labelled_ = labelled_ || shape->HasLabel();
        if (shape->IsSelected() || shape->IsFilteredOut()) continue;
        shape->Draw(transform, dc);
      }
    }
  };
  ForEachDrawn(indexed, [&](Shape* shape) {
    slab.push_back(shape);
    if (slab.size() == slabSize) drawSlab();
  });
  drawSlab();
}

void LayerRenderer::DrawNormalInParallel(const PixelMapper& mapper, const CMapTransform& transform, Canvas& dc,
                                         DrawPassKind pass, bool indexed, const DeviceRect& area, int threads) {
  if (DrawPassInLayers(mapper, dc, pass, indexed, area, threads)) {
    gLastSymbolPath.store(SymbolPath::Layers);
    return;
  }
  gLastSymbolPath.store(SymbolPath::Bands);
  DrawPassInParallel(mapper, transform, dc, pass, indexed, area, threads);
}

// Each thread walks its share of the records as DrawPass does, its symbols
// in batches into its own layer; a record that would draw itself stops them
// all. Then the layers are laid over the picture, each thread a band of rows.
bool LayerRenderer::DrawPassInLayers(const PixelMapper& mapper, Canvas& dc, DrawPassKind pass, bool indexed,
                                     const DeviceRect& area, int threads) {
  if (!dc.BeginSymbolLayers(threads)) return false;
  const bool setVisibility = pass == DrawPassKind::NormalDecidingVisibility;
  const bool border = style_.GetSettings().drawBorder;
  const ShapeOwner* owner = &layer_;
  const double sizeFt = owner->GetDisplaySize(false);
  const auto parts = static_cast<size_t>(threads);
  // Share k is list positions cuts[k]..cuts[k+1]-1 of the walk, or the index's
  // marks in words cuts[k]..cuts[k+1]-1, cut so each holds as many marks.
  std::vector<size_t> cuts(parts + 1, 0);
  if (indexed) {
    size_t total = 0;
    for (uint64_t word : drawn_) total += static_cast<size_t>(__builtin_popcountll(word));
    size_t seen = 0, w = 0;
    for (size_t k = 1; k < parts; ++k) {
      const size_t wanted = total * k / parts;
      while (w < drawn_.size() && seen < wanted) seen += static_cast<size_t>(__builtin_popcountll(drawn_[w++]));
      cuts[k] = w;
    }
    cuts[parts] = drawn_.size();
  } else {
    for (size_t k = 0; k <= parts; ++k) cuts[k] = records_.size() * k / parts;
  }
  std::atomic<bool> selfDrawn{false};
  std::vector<char> labelled(parts, 0);
  RunParts(threads, [&](int part) {
    std::vector<DeviceRect> rects;
    std::vector<Color> fills;
    rects.reserve(kBatchSize);
    fills.reserve(kBatchSize);
    bool outlined = border;
    bool stop = false;
    bool anyLabel = false;
    const auto flush = [&]() {
      if (rects.empty()) return;
      dc.SolidRectanglesInLayer(part, rects.data(), fills.data(), static_cast<int>(rects.size()),
                                outlined ? BlackPen() : NullPen());
      rects.clear();
      fills.clear();
      // Another share met a record that draws itself: this drawing is given up.
      stop = selfDrawn.load(std::memory_order_relaxed);
    };
    const auto take = [&](Shape* shape) {
      if (stop) return;
      if (shape->GetRecordClass() != kRecordPoint || shape->GetOwner() != owner) {
        selfDrawn.store(true, std::memory_order_relaxed);
        stop = true;
        return;
      }
      auto* point = static_cast<PointShape*>(shape);
      if (point->IsSelected() || point->IsFilteredOut()) {
        // Drawn by other passes; here only their visibility and labels count.
        if (setVisibility) point->SetVisible(mapper.IsRectVisible(dc, point->GetHitBounds()));
        if (point->IsVisible()) anyLabel = anyLabel || point->HasLabel();
        return;
      }
      if (BatchPointSymbol(mapper, dc, point, setVisibility, sizeFt, border, outlined, rects, fills, flush)) {
        anyLabel = anyLabel || point->HasLabel();
      }
    };
    const size_t from = cuts[static_cast<size_t>(part)], to = cuts[static_cast<size_t>(part) + 1];
    if (indexed) {
      for (size_t w = from; w < to && !stop; ++w) {
        uint64_t word = drawn_[w];
        while (word != 0) {
          take(index_.At(w * 64 + static_cast<size_t>(__builtin_ctzll(word))));
          word &= word - 1;
        }
      }
    } else {
      records_.ForEachInRange(from, to, take);
    }
    if (!stop) flush();
    labelled[static_cast<size_t>(part)] = anyLabel ? 1 : 0;
  });
  if (selfDrawn.load()) {
    dc.EndSymbolLayers(false);
    return false;
  }
  const int top = std::min(area.top, area.bottom), rows = std::max(area.top, area.bottom) - top;
  RunParts(threads, [&](int band) {
    dc.MergeSymbolLayers(top + static_cast<int>(int64_t{rows} * band / threads),
                         top + static_cast<int>(int64_t{rows} * (band + 1) / threads));
  });
  dc.EndSymbolLayers(true);
  for (char l : labelled) labelled_ = labelled_ || l != 0;
  return true;
}

// The visibility of every record to draw, before the shadows: the layer's
// own point records by all threads at once, any other record on this thread.
void LayerRenderer::DecideVisibilityInParallel(const PixelMapper& mapper, Canvas& dc, bool indexed, int threads) {
  const ShapeOwner* owner = &layer_;
  const size_t slabSize = gSlabSize.load();
  std::vector<Shape*> slab;
  slab.reserve(slabSize);
  const auto decideSlab = [&]() {
    const size_t n = slab.size();
    RunParts(threads, [&](int part) {
      const size_t from = n * static_cast<size_t>(part) / static_cast<size_t>(threads);
      const size_t to = n * static_cast<size_t>(part + 1) / static_cast<size_t>(threads);
      for (size_t i = from; i < to; ++i) {
        Shape* shape = slab[i];
        if (shape->GetRecordClass() == kRecordPoint && shape->GetOwner() == owner) {
          shape->SetVisible(mapper.IsRectVisible(dc, shape->GetHitBounds()));
        }
      }
    });
    for (Shape* shape : slab) {
      if (shape->GetRecordClass() != kRecordPoint || shape->GetOwner() != owner) {
        shape->SetVisible(mapper.IsRectVisible(dc, shape->GetHitBounds()));
      }
    }
    slab.clear();
  };
  ForEachDrawn(indexed, [&](Shape* shape) {
    slab.push_back(shape);
    if (slab.size() == slabSize) decideSlab();
  });
  decideSlab();
}

// The index's candidates in list order, or every record.
template <class F>
void LayerRenderer::ForEachDrawn(bool indexed, F f) {
  if (indexed) {
    SpatialIndex::ForEachSet(drawn_, [&](uint32_t position) { f(index_.At(position)); });
  } else {
    records_.ForEach(f);
  }
}

// Draws the visible records in passes: shadows, normal, selected on top, labels.
void LayerRenderer::Draw(const CMapTransform& transform, Canvas& dc) {
  Shape::PrepareView(transform);
  PixelMapper mapper(transform);
  DeviceRect area;
  const bool plain = dc.GetPlainVisibleArea(area);
  if (plain) mapper.SetPlainArea(area);
  labelled_ = false;
  // Records the index leaves out are not visible: they are skipped, their
  // visible flags cleared.
  const bool indexed = mapper.Usable() && MarkDrawn(transform, plain ? &area : nullptr);
  // The walk may leave any record visible.
  if (!indexed && index_.IsBuilt()) SetAllBits(maybeVisible_, index_.size());
  // Threads share the work on a plain image (visibility answered without the
  // canvas, symbols written in bands of rows).
  const int threads = plain && mapper.Usable() ? ThreadsForDrawing() : 1;
  if (threads == 1) gLastSymbolPath.store(SymbolPath::OneThread);
  if (filter_.DrawsShadows()) {
    if (threads > 1) {
      DecideVisibilityInParallel(mapper, dc, indexed, threads);
    } else {
      ForEachDrawn(indexed,
                   [&](Shape* shape) { shape->SetVisible(mapper.IsRectVisible(dc, shape->GetHitBounds())); });
    }
    DrawPass(mapper, transform, dc, DrawPassKind::Shadows, indexed);
    if (threads > 1) {
      DrawNormalInParallel(mapper, transform, dc, DrawPassKind::Normal, indexed, area, threads);
    } else {
      DrawPass(mapper, transform, dc, DrawPassKind::Normal, indexed);
    }
  } else if (threads > 1) {
    DrawNormalInParallel(mapper, transform, dc, DrawPassKind::NormalDecidingVisibility, indexed, area, threads);
  } else {
    // Without shadows the visibility is decided on the way, in one pass.
    DrawPass(mapper, transform, dc, DrawPassKind::NormalDecidingVisibility, indexed);
  }
  const std::vector<Shape*>& selected = selection_.DrawOrder();
  DrawSelected(mapper, transform, dc, selected.data(), selected.size(), true);
  // Only records with a label draw one; when no visible record has one
  // (the passes above saw them all) the pass is skipped.
  if (labelled_) {
    ForEachDrawn(indexed, [&](Shape* shape) {
      if (shape->IsVisible() && shape->HasLabel()) shape->DrawLabel(transform, dc);
    });
  }
  batchRects_ = {};
  batchFills_ = {};
}

// Draws the given records as they are (selected ones hatched) for the immediate drawing of a selection.
void LayerRenderer::DrawRecords(const CMapTransform& transform, Canvas& dc, Shape* const* records, size_t count) {
  Shape::PrepareView(transform);
  DrawSelected(PixelMapper(transform), transform, dc, records, count, false);
}

// Selected point symbols of the layer's own go to the canvas in batches of
// rectangles without a pen, each symbol's halo in the highlight colour then
// the symbol in its own colour, widened to the minimum; anything else draws
// itself. The calls and their order are those of each record drawing itself.
void LayerRenderer::DrawSelected(const PixelMapper& mapper, const CMapTransform& transform, Canvas& dc,
                                 Shape* const* records, size_t count, bool visibleOnly) {
  const ShapeOwner* owner = &layer_;
  const Color highlight = SelectionHighlight();
  std::vector<DeviceRect>& rects = batchRects_;
  std::vector<Color>& fills = batchFills_;
  rects.clear();
  fills.clear();
  const auto flush = [&]() {
    if (rects.empty()) return;
    const Pen old = dc.GetPen();
    dc.SetPen(NullPen());
    dc.SolidRectangles(rects.data(), fills.data(), static_cast<int>(rects.size()));
    dc.SetPen(old);
    rects.clear();
    fills.clear();
  };
  for (size_t i = 0; i < count; ++i) {
    Shape* shape = records[i];
    if (!shape || (visibleOnly && !shape->IsVisible())) continue;
    if (mapper.Usable() && shape->IsSelected() && shape->GetRecordClass() == kRecordPoint &&
        shape->GetOwner() == owner) {
      auto* point = static_cast<PointShape*>(shape);
      if (!point->HasGeometry()) continue;
      const MapRect b = point->GetBounds();
      const SelectedSymbolRects r = SelectedSymbolBoxes(mapper.RectangleBox(
          Clamp32(int64_t{b.left} - 1), Clamp32(int64_t{b.top} - 1), Clamp32(int64_t{b.right} + 1),
          Clamp32(int64_t{b.bottom} + 1)));
      rects.push_back(r.halo);
      fills.push_back(highlight);
      rects.push_back(r.symbol);
      fills.push_back(point->GetColor());
      if (rects.size() >= kBatchSize) flush();
      continue;
    }
    flush();
    shape->Draw(transform, dc);
  }
  flush();
  batchRects_ = {};
  batchFills_ = {};
}

// Only point records of the layer's own, none with a label.
bool LayerRenderer::MovesWithPicture() const {
  const uint64_t labels = Shape::LabelGeneration();
  if (movesKnown_ && movesLabelGeneration_ == labels) return moves_;
  const ShapeOwner* owner = &layer_;
  moves_ = true;
  for (Shape* shape : records_) {
    if (shape->HasLabel() || shape->GetRecordClass() != kRecordPoint || shape->GetOwner() != owner) {
      moves_ = false;
      break;
    }
  }
  movesKnown_ = true;
  movesLabelGeneration_ = labels;
  return moves_;
}

// The union of the records' hit bounds; right and bottom start from 0. Kept
// from the walk that builds the index, for as long as the records and the
// display size stay as they were.
MapRect LayerRenderer::GetBounds() const {
  if (index_.IsBuilt() && boundsKept_ && boundsSizeFt_ == style_.GetSettings().displaySizeFt) return bounds_;
  MapRect bounds = kEmptyBounds;
  // Point records by every core (their bounds read nothing shared that
  // changes); any other record, should one be listed, on one thread.
  const unsigned shares = RecordShareCount(records_.size());
  std::vector<MapRect> shareBounds(shares, kEmptyBounds);
  std::atomic<bool> others{false};
  // The layer's own points with the display size asked once.
  const ShapeOwner* owner = &layer_;
  const double sizeFt = owner->GetDisplaySize(false);
  ForEachRecordInShares(records_, shares, [&](unsigned share, Shape* shape) {
    if (shape->GetRecordClass() == kRecordPoint) {
      const auto* point = static_cast<const PointShape*>(shape);
      if (point->GetOwner() != owner) {
        Unite(shareBounds[share], shape->GetHitBounds());
      } else if (point->HasGeometry()) {
        Unite(shareBounds[share], PointBoundsAtSize(point, sizeFt));
      }
    } else {
      others.store(true, std::memory_order_relaxed);
    }
  });
  for (const MapRect& b : shareBounds) Unite(bounds, b);
  if (others) {
    for (Shape* shape : records_) {
      if (shape->GetRecordClass() != kRecordPoint) Unite(bounds, shape->GetHitBounds());
    }
  }
  if (index_.IsBuilt()) {
    bounds_ = bounds;
    boundsSizeFt_ = style_.GetSettings().displaySizeFt;
    boundsKept_ = true;
  }
  return bounds;
}

// The records a selection rectangle (or a click) takes.
std::vector<Shape*> LayerRenderer::FindInRect(const MapRect& rect) {
  const bool anyFilteredOut = filter_.AnyFilteredOut();
  std::vector<Shape*> found;
  if (rect.left == rect.right && rect.top == rect.bottom) {
    if (Shape* hit = HitTestPoint({rect.left, rect.top})) found.push_back(hit);
    return found;
  }
  const auto consider = [&](Shape* shape) {
    // A record the filter hides cannot be selected.
    if (shape->IsFilteredOut()) return;
    const MapRect b = shape->GetHitBounds();
    if (b.left <= b.right && b.left >= rect.left && b.right <= rect.right && b.top >= rect.top &&
        b.bottom <= rect.bottom) {
      found.push_back(shape);
    }
  };
  if (!EnsureIndex()) {
    for (Shape* shape : records_) consider(shape);
    return found;
  }
  // A record's hit bounds inside the rectangle hold its point; the points of
  // cells deep enough inside are taken without a look at their bounds.
  size_t low = 0, high = 0;
  size_t marked = 0;
  index_.MarkSparse(rect, 0, found_, sure_, PointMargin(), low, high, &marked);
  found.reserve(marked);
  for (size_t w = low; w <= high && w < found_.size(); ++w) {
    const uint64_t sure = sure_[w];
    uint64_t word = found_[w] | sure;
    if (!anyFilteredOut && word == sure) {
      // Only records taken unread: a log's passes give long runs of them.
      if (sure == ~uint64_t{0}) {
        index_.AppendRecords(w * 64, 64, found);
      } else if (sure != 0) {
        index_.AppendMarked(w, sure, found);
      }
      word = 0;
    }
    while (word != 0) {
      const int bit = __builtin_ctzll(word);
      Shape* shape = index_.At(w * 64 + static_cast<size_t>(bit));
      if ((sure >> bit) & 1) {
        // Without hidden records a sure record is taken unread.
        if (!anyFilteredOut || !shape->IsFilteredOut()) found.push_back(shape);
      } else {
        consider(shape);
      }
      word &= word - 1;
    }
    // Left clear for the next rectangle.
    found_[w] = 0;
    sure_[w] = 0;
  }
  return found;
}

// The best record under a map point.
Shape* LayerRenderer::HitTestPoint(const MapPoint& point) {
  Shape* best = nullptr;
  double bestDistance = kNoHit;
  int bestClass = 0;
  const auto consider = [&](Shape* shape) {
    if (shape->IsFilteredOut()) return;
    const double d = shape->HitDistance(point);
    if (!(d < kNoHit)) return;
    const int c = shape->GetRecordClass();
    bool wins = false;
    if (c == bestClass) {
      wins = d <= bestDistance;
    } else if (c == kRecordPoint) {
      wins = true;
    } else if (c == kRecordLine) {
      wins = bestClass != kRecordPoint;
    } else {
      wins = bestClass == 0;
    }
    if (wins) {
      best = shape;
      bestDistance = d;
      bestClass = c;
    }
  };
  if (EnsureIndex()) {
    // A point is hit only on its symbol; every other record is looked at.
    index_.Collect({point.x, point.y, point.x, point.y}, PointMargin(), positions_);
    for (uint32_t position : positions_) consider(index_.At(position));
  } else {
    for (Shape* shape : records_) consider(shape);
  }
  return best;
}

// ---------------------------------------------------------------- spatial index

// Indexes the records once they are all in, and after each change of the list.
bool LayerRenderer::EnsureIndex() {
  if (!useIndex_ || layer_.IsLoading()) return false;
  if (!index_.IsBuilt()) {
    // The walk that indexes the records also finds their bounds, when they
    // are all the layer's own points.
    const ShapeOwner* owner = &layer_;
    MapRect bounds = kEmptyBounds;
    bool allOwn = false, labelled = false;
    const uint64_t labels = Shape::LabelGeneration();
    index_.Build(records_, owner, owner->GetDisplaySize(false), &bounds, &allOwn, &labelled);
    // The same walk tells whether the picture moves with the view.
    moves_ = allOwn && !labelled;
    movesKnown_ = true;
    movesLabelGeneration_ = labels;
    // Every record starts visible.
    SetAllBits(maybeVisible_, index_.size());
    boundsKept_ = false;
    if (allOwn) {
      bounds_ = bounds;
      boundsSizeFt_ = style_.GetSettings().displaySizeFt;
      boundsKept_ = true;
    } else {
      GetBounds();
    }
  }
  return true;
}

bool LayerRenderer::AdoptIndex(SpatialIndex::Grid grid, const MapRect* bounds) {
  if (!useIndex_ || layer_.IsLoading()) return false;
  if (!index_.Adopt(records_, std::move(grid))) return false;
  SetAllBits(maybeVisible_, index_.size());
  boundsKept_ = false;
  if (bounds) {
    bounds_ = *bounds;
    boundsSizeFt_ = style_.GetSettings().displaySizeFt;
    boundsKept_ = true;
  }
  GetBounds();
  return true;
}

// Forgets the index and the bits and bounds taken from it.
void LayerRenderer::ForgetIndex() {
  index_.Clear();
  boundsKept_ = false;
  maybeVisible_ = {};
  drawn_ = {};
  sure_ = {};
  found_ = {};
}

// Half the symbol size in map units at the steepest scale of any point, two units more.
int64_t LayerRenderer::PointMargin() const {
  double half = style_.GetSettings().displaySizeFt * index_.GetMaxUnitsPerFoot() * 0.5;
  if (!(half > 0.0)) half = 0.0;
  return static_cast<int64_t>(std::ceil(std::min(half, 1.0e9))) + 2;
}

// The view's pixels (two more on every side) in map units, widened by the
// point margin, give the grid cells to draw.
bool LayerRenderer::MarkDrawn(const CMapTransform& transform, const DeviceRect* area) {
  if (!EnsureIndex()) return false;
  int32_t ox = 0, oy = 0, cx = 0, cy = 0, ww = 0, wh = 0;
  transform.GetDeviceOrigin(ox, oy);
  transform.GetDeviceExtent(cx, cy);
  transform.GetWorldExtent(ww, wh);
  if (cx == 0 || cy == 0 || ww == 0 || wh == 0) return false;
  int64_t left = std::min<int64_t>(ox, int64_t{ox} + cx), right = std::max<int64_t>(ox, int64_t{ox} + cx);
  int64_t top = std::min<int64_t>(oy, int64_t{oy} + cy), bottom = std::max<int64_t>(oy, int64_t{oy} + cy);
  // Visibility clamps pixels to 10000: beyond it a record far off could still count as shown.
  constexpr int64_t kClampSafe = 9000;
  if (left < -kClampSafe || top < -kClampSafe || right > kClampSafe || bottom > kClampSafe) return false;
  if (area) {
    left = std::max<int64_t>(left, std::min(area->left, area->right));
    right = std::min<int64_t>(right, std::max(area->left, area->right));
    top = std::max<int64_t>(top, std::min(area->top, area->bottom));
    bottom = std::min<int64_t>(bottom, std::max(area->top, area->bottom));
  }
  const MapPoint origin = transform.GetWorldOrigin();
  const auto worldX = [&](int64_t px) {
    return static_cast<double>(px - ox) * ww / cx + origin.x;
  };
  const auto worldY = [&](int64_t py) {
    return static_cast<double>(py - oy) * wh / cy + origin.y;
  };
  const double x0 = worldX(left - 2), x1 = worldX(right + 2), y0 = worldY(top - 2), y1 = worldY(bottom + 2);
  const auto clamp = [](double v) {
    return static_cast<int32_t>(std::clamp(v, -2147483648.0, 2147483647.0));
  };
  const MapRect view{clamp(std::floor(std::min(x0, x1))), clamp(std::floor(std::min(y0, y1))),
                     clamp(std::ceil(std::max(x0, x1))), clamp(std::ceil(std::max(y0, y1)))};
  // When every record lies in the view the index would mark them all, and
  // the plain walk over the records is cheaper than visiting its marks.
  const MapRect all = GetBounds();
  if (all.left <= all.right && all.top <= all.bottom && all.left >= view.left && all.right <= view.right &&
      all.top >= view.top && all.bottom <= view.bottom) {
    return false;
  }
  index_.Mark(view, PointMargin(), drawn_);
  // Records left visible last time and not candidates now are not visible.
  for (size_t w = 0; w < drawn_.size(); ++w) {
    uint64_t stale = maybeVisible_[w] & ~drawn_[w];
    while (stale != 0) {
      index_.At(w * 64 + static_cast<size_t>(__builtin_ctzll(stale)))->SetVisible(false);
      stale &= stale - 1;
    }
  }
  maybeVisible_ = drawn_;
  return true;
}

}  // namespace kestrune
