// Selecting records: once each, drawn at once, cleared with one repaint, kept
// in the order an ordered insert gives, found by rectangle or click, and fast
// for a million points.
#include <gtest/gtest.h>

#include <list>
#include <random>

#include "layers/Layer.h"
#include "layers/LayerList.h"
#include "layers/LayerTestFiles.h"
#include "mapview/MapView.h"

namespace kestrune {
namespace {

using test::RecordingHost;
using test::TempDir;

// A layer with a path in a scratch folder, so its setters have a file to write.
class SelectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    layer_.SetPathName((dir_ / "sel.shp").string());
    layer_.SetDisplaySize(30.0, false);
  }
  Shape* AddPoint(int number, MapPoint p) {
    Shape* s = layer_.CreateRecord(kRecordPoint, number, true);
    s->SetPoint(p);
    return s;
  }
  Shape* AddLine(int number, std::vector<MapPoint> pts) {
    Shape* s = layer_.CreateRecord(kRecordLine, number, true);
    s->AddPoints(pts.data(), static_cast<int>(pts.size()));
    return s;
  }
  Shape* AddArea(int number, MapPoint corner, int32_t side, bool ordered = false) {
    Shape* s = layer_.CreateRecord(kRecordArea, number, false);
    const MapPoint ring[] = {corner, {corner.x, corner.y + side}, {corner.x + side, corner.y + side},
                             {corner.x + side, corner.y}, corner};
    s->AddPoints(ring, 5);
    s->FinishGeometry();
    layer_.AddRecord(s, !ordered);
    return s;
  }

  TempDir dir_;
  Layer layer_;
};

TEST(ParcelSelection, AClickOnOneParcelSelectsTheWholeRecordAndItsAttributesOpen) {
  TempDir dir;
  // Record 1 holds two separate fields; record 2 lies between them.
  const test::Ring west = test::Square(-93.0, 42.0, 0.01), east = test::Square(-92.9, 42.0, 0.005);
  test::ShpBuilder shp(5, -94.0, 41.0, -92.0, 43.0);
  shp.Poly(5, {west, east}).Poly(5, {test::Square(-92.95, 42.0, 0.002)});
  const std::string path = (dir / "fields.shp").string();
  test::WriteFileBytes(path, shp.Bytes());
  test::WriteFileBytes(dir / "fields.dbf", test::RateTable({5.0, 7.0}));
  Layer layer;
  ASSERT_TRUE(test::OpenAndLoad(layer, path));
  ASSERT_EQ(layer.GetRecordCount(), 3u);
  const MapPoint inEast = test::Map(-92.9, 42.0);
  Shape* hit = layer.HitTestPoint(inEast);
  ASSERT_NE(hit, nullptr);
  EXPECT_EQ(hit->GetRecordNumber(), 1);
  // The layer's bounds reach the east parcel.
  EXPECT_GE(layer.GetBounds().right, test::Map(-92.895, 42.0).x - 1);

  ASSERT_TRUE(LayerList::SelectInRect(&layer, MapRect{inEast.x, inEast.y, inEast.x, inEast.y}, false));
  ASSERT_EQ(layer.GetSelectionCount(), 2);
  for (Shape* s : layer.GetSelection()) EXPECT_EQ(s->GetRecordNumber(), 1);
  EXPECT_TRUE(layer.IsOneRecordSelected()) << "one record: its attributes are offered";
  EXPECT_TRUE(layer.RereadSelectedRecord());
  EXPECT_EQ(layer.GetSelection().front()->GetRecordNumber(), 1);
}

TEST_F(SelectionTest, ARecordIsSelectedOnceAndDrawnAtOnce) {
  RecordingHost host;
  host.Listen(layer_);
  Shape* a = AddPoint(1, {957160000, 813300000});
  layer_.Select(a);
  layer_.Select(a);
  EXPECT_EQ(layer_.GetSelectionCount(), 1);
  EXPECT_TRUE(a->IsSelected());
  EXPECT_EQ(host.drawn, std::vector<Shape*>{a});
  // Nothing, and records of other layers, are not selected.
  Layer other;
  Shape* foreign = other.CreateRecord(kRecordPoint, 1, true);
  layer_.Select(foreign);
  layer_.Select(nullptr);
  EXPECT_EQ(layer_.GetSelectionCount(), 1);
  EXPECT_FALSE(foreign->IsSelected());
  EXPECT_EQ(host.drawCalls, 1);
}

TEST_F(SelectionTest, ClearingRepaintsTheUnionOfTheSelectedRecordsOnce) {
  RecordingHost host;
  host.Listen(layer_);
  MapView view;
  view.Resize(500, 400);
  Shape* a = AddPoint(1, {957160000, 813300000});
  Shape* b = AddPoint(2, {957170000, 813310000});
  view.ZoomAll({layer_.GetBounds()});
  host.SetTransform(&view.Transform());
  layer_.ClearSelection();
  EXPECT_TRUE(host.invalidated.empty()) << "an empty selection repaints nothing";
  layer_.Select(a);
  layer_.Select(b);
  layer_.ClearSelection();
  EXPECT_FALSE(a->IsSelected());
  EXPECT_FALSE(b->IsSelected());
  EXPECT_EQ(layer_.GetSelectionCount(), 0);
  RecordingCanvas::Window expected;
  const MapRect ra = a->GetHitBounds(), rb = b->GetHitBounds();
  view.Transform().InvalidateWorldRect(expected, {ra.left, ra.top, rb.right, rb.bottom}, true, 1);
  ASSERT_EQ(host.invalidated.size(), 1u);
  EXPECT_EQ(host.invalidated[0].rect.left, expected.invalidated.at(0).rect.left);
  EXPECT_EQ(host.invalidated[0].rect.bottom, expected.invalidated.at(0).rect.bottom);
  EXPECT_TRUE(host.invalidated[0].erase);
}

// The order a walk-from-the-head ordered insert gives, one record at a time.
std::vector<Shape*> NaiveOrderedInsert(const std::vector<Shape*>& inserted) {
  std::list<Shape*> list;
  for (Shape* s : inserted) {
    auto it = list.begin();
    while (it != list.end() && (*it)->PrecedesInDrawOrder(*s)) ++it;
    list.insert(it, s);
  }
  return {list.begin(), list.end()};
}

TEST_F(SelectionTest, SelectionDrawOrderIsTheOrderedInsertOrder) {
  // Points, a line and areas of repeated sizes, selected in random orders.
  std::vector<Shape*> records;
  for (int i = 0; i < 12; ++i) records.push_back(AddPoint(i + 1, {957160000 + i * 100, 813300000}));
  records.push_back(AddLine(13, {{957150000, 813290000}, {957150500, 813290500}}));
  for (int i = 0; i < 20; ++i) records.push_back(AddArea(14 + i, {957100000, 813200000}, 100 + (i % 5) * 50));
  std::mt19937 rng(3);
  for (int round = 0; round < 200; ++round) {
    std::vector<Shape*> order = records;
    std::shuffle(order.begin(), order.end(), rng);
    order.resize(1 + rng() % order.size());
    // Sometimes areas only, where the largest-first rule shows alone.
    if (round % 4 == 0) {
      order.erase(std::remove_if(order.begin(), order.end(),
                                 [](Shape* s) { return s->GetRecordClass() != kRecordArea; }),
                  order.end());
    }
    layer_.ClearSelection();
    for (Shape* s : order) layer_.Select(s);
    ASSERT_EQ(layer_.GetSelection(), order);
    ASSERT_EQ(layer_.GetSelectionDrawOrder(), NaiveOrderedInsert(order)) << "round " << round;
  }
}

TEST_F(SelectionTest, ARectangleSelectsRecordsWhollyInsideIt) {
  Shape* inside = AddPoint(1, {957160000, 813300000});
  Shape* edge = AddPoint(2, {957170000, 813300000});
  const MapRect b = inside->GetHitBounds();
  const MapRect e = edge->GetHitBounds();
  // The rectangle takes all of the first symbol and half of the second.
  const MapRect rect{b.left, b.top, (e.left + e.right) / 2, b.bottom};
  EXPECT_TRUE(LayerList::SelectInRect(&layer_, rect, false));
  EXPECT_EQ(layer_.GetSelection(), std::vector<Shape*>{inside});

  // Extending adds; extending with nothing found keeps the selection.
  EXPECT_TRUE(LayerList::SelectInRect(&layer_, e, true));
  EXPECT_EQ(layer_.GetSelectionCount(), 2);
  EXPECT_FALSE(LayerList::SelectInRect(&layer_, {1, 1, 2, 2}, true));
  EXPECT_EQ(layer_.GetSelectionCount(), 2);
  // A plain click on empty ground clears it; without a layer nothing happens.
  EXPECT_FALSE(LayerList::SelectInRect(&layer_, {5, 5, 5, 5}, false));
  EXPECT_EQ(layer_.GetSelectionCount(), 0);
  EXPECT_FALSE(LayerList::SelectInRect(nullptr, rect, false));
}

TEST_F(SelectionTest, AClickPrefersPointsToLinesToAreas) {
  const MapPoint centre{957160000, 813300000};
  AddArea(1, {centre.x - 5000, centre.y - 5000}, 10000);
  Shape* line = AddLine(2, {{centre.x - 3000, centre.y}, {centre.x + 3000, centre.y}});
  Shape::SetMapUnitsPerPixel(10.0);
  EXPECT_EQ(layer_.HitTestPoint({centre.x + 100, centre.y + 20})->GetRecordNumber(), 2);
  EXPECT_EQ(layer_.HitTestPoint({centre.x + 4000, centre.y + 4000})->GetRecordNumber(), 1) << "only the area there";
  Shape* point = AddPoint(3, {centre.x + 200, centre.y + 50});
  EXPECT_EQ(layer_.HitTestPoint({centre.x + 200, centre.y + 40}), point);
  (void)line;
  // Of two points at the same distance the later one wins.
  Shape* twin = AddPoint(4, {centre.x + 200, centre.y + 50});
  EXPECT_EQ(layer_.HitTestPoint({centre.x + 200, centre.y + 40}), twin);
  EXPECT_EQ(layer_.HitTestPoint({centre.x + 900000, centre.y}), nullptr);

  // A click (a one-point rectangle) selects that one record.
  EXPECT_TRUE(LayerList::SelectInRect(&layer_, {centre.x + 200, centre.y + 40, centre.x + 200, centre.y + 40}, false));
  EXPECT_EQ(layer_.GetSelection(), std::vector<Shape*>{twin});
}

TEST_F(SelectionTest, AMillionPointsAreSelectedAndCleared) {
  constexpr int kCount = 1000000;
  for (int i = 0; i < kCount; ++i) AddPoint(i + 1, {957000000 + (i % 1000) * 500, 813000000 + (i / 1000) * 500});
  const MapRect all = layer_.GetBounds();
  ASSERT_TRUE(LayerList::SelectInRect(&layer_, all, false));
  EXPECT_EQ(layer_.GetSelectionCount(), kCount);
  size_t selected = 0;
  for (Shape* s : layer_.Records()) selected += s->IsSelected() ? 1 : 0;
  EXPECT_EQ(selected, static_cast<size_t>(kCount));
  layer_.ClearSelection();
  EXPECT_EQ(layer_.GetSelectionCount(), 0);
  for (Shape* s : layer_.Records()) ASSERT_FALSE(s->IsSelected());
}

}  // namespace
}  // namespace kestrune
