// Drawing a layer: the passes (shadows, normal, selected) and their order, and
// that batching point symbols changes nothing a canvas can see: the same
// calls with the same pens and brushes, in the same order, as every record
// drawing itself.
#include <gtest/gtest.h>

#include <list>
#include <random>

#include "geo/RecordingCanvas.h"
#include "layers/Layer.h"
#include "shapes/SelectionLook.h"
#include "layers/LayerTestFiles.h"
#include "mapview/MapView.h"

namespace kestrune {
namespace {

using test::TempDir;

constexpr Color kShadow = 0xE0E0E0;

// A recording canvas whose RectVisible is an overlap with one area, and says
// so, like a painter on an image without clip or transform.
class PlainRecordingCanvas : public RecordingCanvas {
 public:
  explicit PlainRecordingCanvas(DeviceRect area) : area_(area) {}
  bool RectVisible(const DeviceRect& r) const override {
    const int l = std::min(r.left, r.right), rr = std::max(r.left, r.right);
    const int t = std::min(r.top, r.bottom), b = std::max(r.top, r.bottom);
    if (rr <= l || b <= t) return false;
    return std::max(l, area_.left) < std::min(rr, area_.right) && std::max(t, area_.top) < std::min(b, area_.bottom);
  }
  bool GetPlainVisibleArea(DeviceRect& area) const override {
    area = area_;
    return true;
  }

 private:
  DeviceRect area_;
};

void ExpectSameCalls(const RecordingCanvas& actual, const RecordingCanvas& expected) {
  ASSERT_EQ(actual.calls.size(), expected.calls.size());
  for (size_t i = 0; i < actual.calls.size(); ++i) {
    const auto& a = actual.calls[i];
    const auto& e = expected.calls[i];
    ASSERT_EQ(a.kind, e.kind) << "call " << i;
    ASSERT_EQ(a.pen, e.pen) << "call " << i;
    ASSERT_EQ(a.brush, e.brush) << "call " << i;
    ASSERT_EQ(a.points, e.points) << "call " << i;
    ASSERT_EQ(a.ringSizes, e.ringSizes) << "call " << i;
  }
}

// Every record drawing itself, pass by pass, in the plain way.
void DrawRecordByRecord(Layer& layer, const CMapTransform& t, Canvas& dc, std::vector<bool>* visible = nullptr) {
  Shape::PrepareView(t);
  std::vector<Shape*> records(layer.Records().begin(), layer.Records().end());
  std::vector<bool> seen;
  for (Shape* s : records) seen.push_back(t.IsWorldRectVisible(dc, s->GetHitBounds()));
  if (layer.GetFilterMask() & kFilterShowShadows) {
    for (size_t i = 0; i < records.size(); ++i) {
      if (seen[i] && records[i]->IsFilteredOut()) records[i]->Draw(t, dc);
    }
  }
  for (size_t i = 0; i < records.size(); ++i) {
    if (seen[i] && !records[i]->IsSelected() && !records[i]->IsFilteredOut()) records[i]->Draw(t, dc);
  }
  std::list<Shape*> selection;
  for (Shape* s : layer.GetSelection()) {
    auto it = selection.begin();
    while (it != selection.end() && (*it)->PrecedesInDrawOrder(*s)) ++it;
    selection.insert(it, s);
  }
  for (Shape* s : selection) {
    const size_t i = static_cast<size_t>(std::find(records.begin(), records.end(), s) - records.begin());
    if (seen[i]) s->Draw(t, dc);
  }
  if (visible) *visible = seen;
}

class LayerDraw : public ::testing::Test {
 protected:
  void SetUp() override {
    layer_.SetPathName((dir_ / "draw.shp").string());
    layer_.SetDisplaySize(30.0, false);
  }
  Shape* AddPoint(int n, MapPoint p, Color c) {
    Shape* s = layer_.CreateRecord(kRecordPoint, n, true);
    s->SetPoint(p);
    s->SetColor(c);
    return s;
  }
  std::vector<DevicePoint> BoxOf(const RecordingCanvas::Call& call) { return call.points; }

  TempDir dir_;
  Layer layer_;
};

TEST_F(LayerDraw, AnEmptyLayerDrawsNothing) {
  MapView view;
  view.Resize(300, 200);
  RecordingCanvas canvas;
  layer_.Draw(view.Transform(), canvas);
  EXPECT_TRUE(canvas.calls.empty());
}

TEST_F(LayerDraw, ShadowsFirstThenNormalThenSelectedOnTop) {
  Shape* a = AddPoint(1, {957160000, 813300000}, 0x0000FF);
  Shape* b = AddPoint(2, {957161000, 813300000}, 0x00FF00);
  Shape* c = AddPoint(3, {957162000, 813300000}, 0xFF0000);
  Shape* d = AddPoint(4, {957163000, 813300000}, 0x00FFFF);
  MapView view;
  view.Resize(400, 300);
  view.ZoomAll({layer_.GetBounds()});
  for (Shape* s : layer_.Records()) s->SetFilterFlags(kComputedRecordFlags);
  b->SetFilterFlags(kFilterBoomOff);
  layer_.ApplyFilter();
  layer_.Select(d);
  layer_.Select(a);

  RecordingCanvas canvas;
  layer_.Draw(view.Transform(), canvas);
  std::vector<Brush> brushes;
  for (const auto& call : canvas.calls) brushes.push_back(call.brush);
  // b as a shadow; c normal; then the selection, a (selected last) first,
  // each a halo and its own colour.
  const Brush halo = SolidBrush(SelectionHighlight());
  ASSERT_EQ(brushes, (std::vector<Brush>{SolidBrush(kShadow), SolidBrush(0xFF0000), halo, SolidBrush(0x0000FF), halo,
                                         SolidBrush(0x00FFFF)}));
  RecordingCanvas aAlone;
  a->Draw(view.Transform(), aAlone);
  EXPECT_EQ(canvas.calls[2].points, aAlone.calls.at(0).points);
  EXPECT_EQ(canvas.calls[3].points, aAlone.calls.at(1).points);

  // Without the shadow bit filtered-out records are not drawn at all.
  layer_.SetFilterMask(kDefaultFilterMask & ~kFilterShowShadows);
  RecordingCanvas noShadows;
  layer_.Draw(view.Transform(), noShadows);
  EXPECT_EQ(noShadows.calls.size(), 5u);
  (void)c;
}

TEST_F(LayerDraw, RecordsOutsideTheViewAreNeitherDrawnNorVisible) {
  Shape* in = AddPoint(1, {957160000, 813300000}, 0x0000FF);
  Shape* out = AddPoint(2, {957960000, 813300000}, 0x00FF00);
  MapView view;
  view.Resize(400, 300);
  view.ZoomAll({in->GetHitBounds()});
  RecordingCanvas canvas;
  layer_.Draw(view.Transform(), canvas);
  EXPECT_EQ(canvas.calls.size(), 1u);
  EXPECT_TRUE(in->IsVisible());
  EXPECT_FALSE(out->IsVisible());
}

TEST_F(LayerDraw, AWindowWithoutSizeDrawsNothing) {
  AddPoint(1, {957160000, 813300000}, 0x0000FF);
  Shape* line = layer_.CreateRecord(kRecordLine, 2, true);
  const MapPoint pts[] = {{957150000, 813290000}, {957170000, 813310000}};
  line->AddPoints(pts, 2);
  for (auto size : {std::pair{0, 0}, std::pair{0, 300}, std::pair{400, 0}}) {
    MapView view;
    view.Resize(size.first, size.second);
    view.ZoomAll({layer_.GetBounds()});
    RecordingCanvas canvas;
    layer_.Draw(view.Transform(), canvas);
    EXPECT_TRUE(canvas.calls.empty());
    for (Shape* s : layer_.Records()) EXPECT_FALSE(s->IsVisible());
  }
  // Nor does a transform with no world extent.
  CMapTransform empty;
  empty.SetDeviceExtent(400, 300);
  RecordingCanvas canvas;
  layer_.Draw(empty, canvas);
  EXPECT_TRUE(canvas.calls.empty());
}

TEST_F(LayerDraw, BatchedSymbolsGiveTheCallsOfEveryRecordDrawingItself) {
  // Points scattered over and around the view, overlapping, with lines and
  // areas among them, some selected and some filtered out.
  std::mt19937 rng(5);
  std::uniform_int_distribution<int32_t> x(957100000, 957200000), y(813250000, 813350000);
  std::uniform_int_distribution<int> pick(0, 19);
  for (int i = 1; i <= 3000; ++i) {
    const int kind = pick(rng);
    if (kind == 0) {
      Shape* line = layer_.CreateRecord(kRecordLine, i, true);
      const MapPoint pts[] = {{x(rng), y(rng)}, {x(rng), y(rng)}, {x(rng), y(rng)}};
      line->AddPoints(pts, 3);
      line->SetColor(0x123456);
    } else if (kind == 1) {
      Shape* area = layer_.CreateRecord(kRecordArea, i, false);
      const MapPoint c{x(rng), y(rng)};
      const MapPoint ring[] = {c, {c.x, c.y + 3000}, {c.x + 3000, c.y + 3000}, {c.x + 3000, c.y}, c};
      area->AddPoints(ring, 5);
      area->FinishGeometry();
      layer_.AddRecord(area, true);
      area->SetColor(0x654321);
    } else {
      AddPoint(i, {x(rng), y(rng)}, static_cast<Color>(rng() & 0xFFFFFF));
    }
  }
  int n = 0;
  for (Shape* s : layer_.Records()) {
    s->SetFilterFlags(++n % 17 == 0 ? kFilterRateZero : kComputedRecordFlags);
    if (n % 23 == 0) layer_.Select(s);
  }
  layer_.ApplyFilter();
  MapView view;
  view.Resize(640, 480);
  view.ZoomAll({MapRect{957120000, 813270000, 957180000, 813330000}});

  for (bool border : {true, false}) {
    layer_.SetDrawBorder(border);
    for (int mask : {kDefaultFilterMask, kDefaultFilterMask & ~kFilterShowShadows}) {
      layer_.SetFilterMask(mask);
      {
        RecordingCanvas batched, single;
        layer_.Draw(view.Transform(), batched);
        std::vector<bool> visible;
        DrawRecordByRecord(layer_, view.Transform(), single, &visible);
        ExpectSameCalls(batched, single);
      }
      {
        // A plain canvas lets the layer decide visibility itself: same calls, same flags.
        PlainRecordingCanvas batched({0, 0, 640, 480}), single({0, 0, 640, 480});
        layer_.Draw(view.Transform(), batched);
        std::vector<bool> visible;
        DrawRecordByRecord(layer_, view.Transform(), single, &visible);
        ExpectSameCalls(batched, single);
        size_t i = 0;
        for (Shape* s : layer_.Records()) ASSERT_EQ(s->IsVisible(), visible[i++]);
        EXPECT_GT(std::count(visible.begin(), visible.end(), false), 100);
        EXPECT_GT(std::count(visible.begin(), visible.end(), true), 100);
      }
    }
  }
}

}  // namespace
}  // namespace kestrune
