// The parts a layer is made of, at their seams: a source that reads no file
// plugs into a layer and loads, draws and is hit like a shape file; the
// selection keeps selection order apart from drawing order; the filter counts
// and unselects what it hides.
#include <gtest/gtest.h>

#include <memory>

#include "geo/RecordingCanvas.h"
#include "layers/Layer.h"
#include "layers/LayerFilter.h"
#include "layers/LayerSelection.h"
#include "layers/LayerSource.h"
#include "layers/LayerTestFiles.h"
#include "mapview/MapView.h"

namespace kestrune {
namespace {

using test::TempDir;

// Point records held in memory, handed over in their order.
class MemoryPointSource : public LayerSource {
 public:
  explicit MemoryPointSource(std::vector<MapPoint> points) : points_(std::move(points)) {}
  bool Open() override {
    shapeKind_ = kShapeKindPoints;
    return true;
  }
  bool HasRecords() const override { return true; }
  bool ReadRecords(RecordSink& sink, const Progress& progress) override {
    for (size_t i = 0; i < points_.size(); ++i) {
      sink.CreateRecord(kRecordPoint, static_cast<int>(i) + 1, true)->SetPoint(points_[i]);
      if (progress && !progress(i + 1, points_.size())) return false;
    }
    return true;
  }

 private:
  std::vector<MapPoint> points_;
};

TEST(LayerParts, AMemorySourceLoadsDrawsAndIsHitAsTheShapeFileOfItsPointsIs) {
  TempDir dir;
  Layer file;
  ASSERT_TRUE(test::OpenAndLoad(file, test::WritePointSet(dir, "pts", {{-93.0, 42.0}, {-92.99, 42.0}, {-92.98, 42.01}},
                                                          {1.0, 2.0, 3.0})));
  std::vector<MapPoint> points;
  for (Shape* s : file.Records()) points.push_back(static_cast<PointShape*>(s)->GetPoint());

  Layer memory;
  memory.SetSource(std::make_unique<MemoryPointSource>(points));
  std::vector<std::pair<qint64, int>> progress;
  QObject::connect(&memory, &Layer::loadProgress, [&](qint64 n, int percent) { progress.emplace_back(n, percent); });
  ASSERT_TRUE(memory.Open());
  ASSERT_TRUE(memory.Load());
  EXPECT_EQ(memory.GetShapeKind(), kShapeKindPoints);
  EXPECT_TRUE(memory.GetPathName().empty());
  ASSERT_EQ(memory.GetRecordCount(), 3u);
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), (std::pair<qint64, int>{3, 100}));

  for (Layer* layer : {&file, &memory}) {
    layer->SetDisplaySize(30.0, false);
    layer->SetSolidColor(0x3366CC);
    layer->ApplyColors();
  }
  EXPECT_EQ(memory.GetBounds(), file.GetBounds());
  MapView view;
  view.Resize(400, 300);
  view.ZoomAll({file.GetBounds()});
  RecordingCanvas fromFile, fromMemory;
  file.Draw(view.Transform(), fromFile);
  memory.Draw(view.Transform(), fromMemory);
  ASSERT_FALSE(fromFile.calls.empty());
  ASSERT_EQ(fromMemory.calls.size(), fromFile.calls.size());
  for (size_t i = 0; i < fromFile.calls.size(); ++i) {
    EXPECT_EQ(fromMemory.calls[i].kind, fromFile.calls[i].kind) << "call " << i;
    EXPECT_EQ(fromMemory.calls[i].brush, fromFile.calls[i].brush) << "call " << i;
    EXPECT_EQ(fromMemory.calls[i].points, fromFile.calls[i].points) << "call " << i;
  }

  Shape* hit = memory.HitTestPoint(points[1]);
  ASSERT_NE(hit, nullptr);
  EXPECT_EQ(hit->GetRecordNumber(), 2);
  EXPECT_EQ(memory.FindInRect(memory.GetBounds()).size(), 3u);
}

// Records of a layer (the owner of what a selection holds).
class PartsTest : public ::testing::Test {
 protected:
  Shape* AddArea(int number, int32_t side) {
    Shape* s = layer_.CreateRecord(kRecordArea, number, false);
    const MapPoint corner{957160000, 813300000};
    const MapPoint ring[] = {corner, {corner.x, corner.y + side}, {corner.x + side, corner.y + side},
                             {corner.x + side, corner.y}, corner};
    s->AddPoints(ring, 5);
    s->FinishGeometry();
    layer_.AddRecord(s, true);
    return s;
  }
  Shape* AddPoint(int number) {
    Shape* s = layer_.CreateRecord(kRecordPoint, number, true);
    s->SetPoint({957160000 + number, 813300000});
    return s;
  }
  Layer layer_;
};

TEST_F(PartsTest, TheSelectionDrawsLargestAreasFirstWhateverOrderItWasSelectedIn) {
  Shape* small = AddArea(1, 100);
  Shape* point = AddPoint(2);
  Shape* big = AddArea(3, 1000);
  Shape* mid = AddArea(4, 500);
  LayerSelection selection;
  for (Shape* s : {small, point, big, mid}) EXPECT_TRUE(selection.Add(s));
  EXPECT_FALSE(selection.Add(big)) << "a record is selected once";
  EXPECT_TRUE(big->IsSelected());
  EXPECT_EQ(selection.Records(), (std::vector<Shape*>{small, point, big, mid}));
  // The point went in front of the small area; the later areas before both.
  EXPECT_EQ(selection.DrawOrder(), (std::vector<Shape*>{big, mid, point, small}));
  EXPECT_FALSE(selection.IsOneRecordSelected());

  ASSERT_TRUE(selection.Remove(point));
  EXPECT_FALSE(selection.Remove(point));
  EXPECT_EQ(selection.DrawOrder(), (std::vector<Shape*>{big, mid, small}));

  const MapRect bounds = selection.Unselect();
  EXPECT_EQ(bounds, big->GetHitBounds()) << "the big area covers the others";
  EXPECT_FALSE(small->IsSelected());
  EXPECT_EQ(selection.Take(), (std::vector<Shape*>{small, big, mid}));
  EXPECT_TRUE(selection.IsEmpty());
  EXPECT_TRUE(selection.DrawOrder().empty());
}

TEST_F(PartsTest, TheFilterCountsTheRecordsItHidesAndUnselectsThem) {
  Shape* applied = AddPoint(1);
  Shape* boomOff = AddPoint(2);
  Shape* rateZero = AddPoint(3);
  applied->SetFilterFlags(kComputedRecordFlags);
  boomOff->SetFilterFlags(kFilterBoomOff | kFilterRateAboveZero);
  rateZero->SetFilterFlags(kFilterBoomOn | kFilterRateZero);
  LayerFilter filter;
  LayerSelection selection;
  selection.Add(applied);
  selection.Add(rateZero);
  EXPECT_EQ(filter.CountFilteredOut(layer_.Records()), 0u);
  EXPECT_FALSE(filter.IsApplied());

  filter.Apply(layer_.Records(), selection);
  EXPECT_TRUE(filter.IsApplied());
  EXPECT_EQ(filter.CountFilteredOut(layer_.Records()), 2u);
  EXPECT_TRUE(filter.DrawsShadows());
  EXPECT_TRUE(boomOff->IsFilteredOut());
  EXPECT_FALSE(applied->IsFilteredOut());
  EXPECT_EQ(selection.Records(), (std::vector<Shape*>{applied}));
  EXPECT_FALSE(rateZero->IsSelected());

  // Boom off let through; the rate of zero still hidden, drawn as no shadow.
  filter.SetMask((kDefaultFilterMask | kFilterBoomOff) & ~kFilterShowShadows);
  filter.Apply(layer_.Records(), selection);
  EXPECT_EQ(filter.CountFilteredOut(layer_.Records()), 1u);
  EXPECT_TRUE(rateZero->IsFilteredOut());
  EXPECT_FALSE(filter.DrawsShadows());
}

}  // namespace
}  // namespace kestrune
