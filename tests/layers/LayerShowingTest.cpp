// What the user decides in the file list: a hidden layer is neither drawn nor
// hit, the order of the lines is the drawing order, and an area layer's fill
// opacity (FILL_OPACITY in the ".gpe") reaches its brush.
#include <gtest/gtest.h>

#include <filesystem>

#include "geo/RecordingCanvas.h"
#include "layers/LayerList.h"
#include "layers/LayerSettings.h"
#include "layers/LayerTestFiles.h"
#include "mapview/MapView.h"

namespace kestrune {
namespace {

using test::Square;
using test::TempDir;

class LayerShowingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    points_ = test::WritePointSet(dir_, "points", {{-93.60, 42.03}, {-93.59, 42.04}}, {1.0, 2.0});
    area_ = test::WriteAreaSet(dir_, "area", {Square(-93.595, 42.035, 0.02)}, {5.0});
  }
  // Every layer of the list drawn through a view of all of them.
  RecordingCanvas DrawAll(LayerList& list) {
    view_.Resize(400, 400);
    view_.ZoomAll({list.GetBounds()});
    RecordingCanvas canvas;
    list.DrawAll(canvas, view_.Transform());
    return canvas;
  }
  static MapPoint Middle(const MapRect& b) { return {b.left / 2 + b.right / 2, b.top / 2 + b.bottom / 2}; }

  TempDir dir_;
  std::string points_, area_;
  MapView view_;
};

TEST_F(LayerShowingTest, AHiddenLayerIsNeitherDrawnNorHit) {
  LayerList list;
  Layer* area = list.AddLayer(area_);
  Layer* points = list.AddLayer(points_);
  ASSERT_TRUE(area && points);
  list.SetActiveLayer(area);
  const MapPoint inside = Middle(area->GetBounds());
  ASSERT_NE(list.HitTestPoint(inside), nullptr);
  ASSERT_TRUE(list.SelectInRect({inside.x, inside.y, inside.x, inside.y}, false));
  EXPECT_EQ(DrawAll(list).CallsOf(RecordingCanvas::Kind::PolyPolygon).size(), 1u);

  area->SetHidden(true);
  const RecordingCanvas hidden = DrawAll(list);
  EXPECT_TRUE(hidden.CallsOf(RecordingCanvas::Kind::PolyPolygon).empty());
  // The other layer still draws its two symbols.
  EXPECT_EQ(hidden.CallsOf(RecordingCanvas::Kind::Rectangle).size() + hidden.CallsOf(RecordingCanvas::Kind::Ellipse).size(),
            2u);
  EXPECT_EQ(list.HitTestPoint(inside), nullptr);
  // Nothing found, and the selection made while it showed stays for when it shows again.
  EXPECT_FALSE(list.SelectInRect({inside.x, inside.y, inside.x, inside.y}, false));
  EXPECT_EQ(area->GetSelectionCount(), 1);

  area->SetHidden(false);
  EXPECT_NE(list.HitTestPoint(inside), nullptr);
}

TEST_F(LayerShowingTest, TheOrderSetIsTheDrawingOrder) {
  LayerList list;
  Layer* area = list.AddLayer(area_);
  Layer* points = list.AddLayer(points_);
  ASSERT_TRUE(area && points);
  // Newest on top: the area first, the points over it.
  RecordingCanvas canvas = DrawAll(list);
  ASSERT_FALSE(canvas.calls.empty());
  EXPECT_EQ(canvas.calls.front().kind, RecordingCanvas::Kind::PolyPolygon);

  ASSERT_TRUE(list.SetOrder({area, points}));
  EXPECT_EQ(list.Layers(), (std::vector<Layer*>{area, points}));
  canvas = DrawAll(list);
  EXPECT_EQ(canvas.calls.back().kind, RecordingCanvas::Kind::PolyPolygon);

  // Only the list's own layers, each once, make an order.
  EXPECT_FALSE(list.SetOrder({area}));
  EXPECT_FALSE(list.SetOrder({area, area}));
  EXPECT_FALSE(list.SetOrder({area, nullptr}));
  EXPECT_EQ(list.Layers(), (std::vector<Layer*>{area, points}));
}

TEST_F(LayerShowingTest, FillOpacityIsReadWrittenAndGivesTheBrushItsAlpha) {
  struct Case {
    const char* stored;  // FILL_OPACITY text, nullptr for none
    int percent;
    int alpha;
  };
  const Case cases[] = {{nullptr, 100, 255}, {"100", 100, 255}, {"50", 50, 128}, {"0", 0, 0},
                        {"150", 100, 255},   {"-5", 0, 0},      {"35", 35, 89}};
  for (const Case& c : cases) {
    const std::string gpe = (dir_ / "area.gpe").string();
    std::filesystem::remove(gpe);
    if (c.stored) {
      ASSERT_TRUE(WriteSetting(gpe, kKeyFillOpacity, c.stored));
    }
    LayerList list;
    Layer* area = list.AddLayer(area_);
    ASSERT_NE(area, nullptr);
    EXPECT_EQ(area->GetFillOpacity(), c.percent) << (c.stored ? c.stored : "none");
    const auto polygons = DrawAll(list).CallsOf(RecordingCanvas::Kind::PolyPolygon);
    ASSERT_EQ(polygons.size(), 1u);
    EXPECT_EQ(polygons[0].brush.alpha, c.alpha) << (c.stored ? c.stored : "none");
    // Fully opaque is the very brush of a layer without the key.
    if (c.percent == 100) {
      EXPECT_EQ(polygons[0].brush, SolidBrush(polygons[0].brush.color));
    }
  }
  // The setter keeps the value in range and writes the key at once.
  LayerList list;
  Layer* area = list.AddLayer(area_);
  area->SetFillOpacity(40);
  int32_t stored = 0;
  ASSERT_TRUE(area->ReadSetting(kKeyFillOpacity, stored));
  EXPECT_EQ(stored, 40);
  area->SetFillOpacity(250);
  ASSERT_TRUE(area->ReadSetting(kKeyFillOpacity, stored));
  EXPECT_EQ(stored, 100);
}

}  // namespace
}  // namespace kestrune
