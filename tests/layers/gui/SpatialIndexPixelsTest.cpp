// The spatial index changes nothing anyone can see: on random views, whole
// and in parts, the pictures, the visible flags, the clicks and the
// rectangles are those of the walk over every record. Drawing with several
// threads (symbols written in bands of rows) changes nothing either.
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <utility>

#include "geo/gui/QPainterCanvas.h"
#include "layers/Layer.h"
#include "layers/LayerRenderer.h"
#include "layers/LayerTestFiles.h"
#include "mapview/MapView.h"

namespace kestrune {
namespace {

using test::TempDir;

// The extent the records lie in (map units), with room around it in the views.
constexpr int32_t kLeft = 957100000, kTop = 813300000, kWidth = 200000, kHeight = 120000;

// How a view is painted: on a plain image, a painter that clips, or a part
// drawn through the view moved by the part's corner, as the map window does.
enum class Painting { Whole, Clipped, Part };

class SpatialIndexPixels : public ::testing::Test {
 protected:
  // Only point records (the bands' own path), or lines and areas among them.
  virtual bool PointsOnly() const { return false; }

  void TearDown() override {
    LayerRenderer::SetDrawThreads(0);
    LayerRenderer::SetDrawSlab(0);
  }

  void SetUp() override {
    const bool others = !PointsOnly();
    layer_.SetPathName((dir_ / "idx.shp").string());
    layer_.SetDisplaySize(30.0, false);
    std::mt19937 rng(1717);
    std::uniform_int_distribution<int32_t> x(kLeft, kLeft + kWidth), y(kTop, kTop + kHeight);
    std::uniform_int_distribution<int32_t> near(-600, 600);
    MapPoint last{x(rng), y(rng)};
    for (int i = 1; i <= 20000; ++i) {
      if (others && i % 1000 == 0) {
        Shape* line = layer_.CreateRecord(kRecordLine, i, true);
        const MapPoint pts[] = {{x(rng), y(rng)}, {x(rng), y(rng)}, {x(rng), y(rng)}};
        line->AddPoints(pts, 3);
        line->SetColor(0x2080F0);
      } else if (others && i % 1500 == 0) {
        Shape* area = layer_.CreateRecord(kRecordArea, i, false);
        const MapPoint c{x(rng), y(rng)};
        const MapPoint ring[] = {c, {c.x, c.y + 9000}, {c.x + 12000, c.y + 9000}, {c.x + 12000, c.y}, c};
        area->AddPoints(ring, 5);
        area->FinishGeometry();
        layer_.AddRecord(area, false);
        area->SetColor(0x40C040);
      } else if (i % 2300 == 0) {
        layer_.CreateRecord(kRecordPoint, i, true);  // no geometry
      } else {
        // A log's track: each point near the one before, now and then a jump.
        last = i % 50 == 0 ? MapPoint{x(rng), y(rng)} : MapPoint{last.x + near(rng), last.y + near(rng)};
        Shape* p = layer_.CreateRecord(kRecordPoint, i, true);
        p->SetPoint(last);
        p->SetColor(static_cast<Color>(rng() & 0xFFFFFF));
        if (i % 700 == 0) p->SetLabel("L" + std::to_string(i), i % 1400 == 0);
      }
    }
    int n = 0;
    for (Shape* s : layer_.Records()) {
      s->SetFilterFlags(++n % 31 == 0 ? kFilterBoomOff : kComputedRecordFlags);
      if (n % 97 == 0) layer_.Select(s);
    }
    layer_.ApplyFilter();
    view_.Resize(320, 240);
  }

  // A random view: anything from the whole extent to a few symbols, partly
  // off the records now and then.
  void RandomView(std::mt19937& rng) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double w = kWidth * 1.4 * std::pow(2.0, -10.0 * unit(rng));
    const double cx = kLeft - 0.2 * kWidth + unit(rng) * kWidth * 1.4;
    const double cy = kTop - 0.2 * kHeight + unit(rng) * kHeight * 1.4;
    MapRect r{static_cast<int32_t>(cx - w / 2), static_cast<int32_t>(cy - w * 0.375),
              static_cast<int32_t>(cx + w / 2), static_cast<int32_t>(cy + w * 0.375)};
    view_.ZoomToRect(r, false);
  }

  // threads as LayerRenderer::SetDrawThreads takes them; 1 is one thread.
  QImage Paint(bool indexed, Painting how, const QRect& part, int threads = 1) {
    LayerRenderer::SetDrawThreads(threads);
    layer_.SetSpatialIndexUsed(indexed);
    QImage image(how == Painting::Part ? part.size() : QSize(320, 240), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    CMapTransform t = view_.Transform();
    if (how == Painting::Part) {
      int32_t ox = 0, oy = 0;
      t.GetDeviceOrigin(ox, oy);
      t.SetDeviceOrigin(ox - part.left(), oy - part.top());
    } else if (how == Painting::Clipped) {
      painter.setClipRect(part);
    }
    QPainterCanvas canvas(painter);
    layer_.Draw(t, canvas);
    return image;
  }

  std::vector<bool> VisibleFlags() const {
    std::vector<bool> flags;
    for (Shape* s : layer_.Records()) flags.push_back(s->IsVisible());
    return flags;
  }

  TempDir dir_;
  Layer layer_;
  MapView view_;

  void RandomViewsPaintAndPickAsTheWalk();
};

// Only point records: every slab is written in bands.
class BandedPointPixels : public SpatialIndexPixels {
 protected:
  bool PointsOnly() const override { return true; }
};

TEST_F(SpatialIndexPixels, RandomViewsPaintAndPickAsTheWalkOverEveryRecord) { RandomViewsPaintAndPickAsTheWalk(); }
TEST_F(BandedPointPixels, RandomViewsPaintAndPickAsTheWalkOverEveryRecord) { RandomViewsPaintAndPickAsTheWalk(); }

void SpatialIndexPixels::RandomViewsPaintAndPickAsTheWalk() {
  std::mt19937 rng(99);
  std::uniform_int_distribution<int> px(-5, 325), py(-5, 245), side(1, 200);
  int drawnSomething = 0;
  for (int round = 0; round < 60; ++round) {
    if (round == 30) {
      // The second half hides nothing, so rectangles take records unread.
      for (Shape* s : layer_.Records()) s->SetFilterFlags(kComputedRecordFlags);
      layer_.ApplyFilter();
    }
    // Each indexed drawing follows one of another view, which left its own
    // records visible.
    RandomView(rng);
    Paint(true, Painting::Whole, {});
    RandomView(rng);
    // Symbol sizes, borders and shadows change between views.
    layer_.SetDisplaySize(round % 3 == 0 ? 90.0 : (round % 3 == 1 ? 30.0 : 2.0), false);
    layer_.SetDrawBorder(round % 2 == 0);
    layer_.SetFilterMask(round % 4 == 3 ? (kDefaultFilterMask & ~kFilterShowShadows) : kDefaultFilterMask);
    const int l = px(rng), t = py(rng);
    const QRect part(l, t, side(rng), side(rng));
    for (Painting how : {Painting::Whole, Painting::Clipped, Painting::Part}) {
      const QImage indexed = Paint(true, how, part);
      const std::vector<bool> indexedFlags = VisibleFlags();
      const QImage walked = Paint(false, how, part);
      ASSERT_TRUE(indexed == walked) << "round " << round << " painting " << static_cast<int>(how);
      ASSERT_EQ(indexedFlags, VisibleFlags()) << "round " << round << " painting " << static_cast<int>(how);
      // Two and three threads, through the index and walking, as one thread;
      // the walk in slabs of 1500 records.
      for (const auto& [useIndex, threads] : {std::pair{true, 2}, std::pair{false, 3}}) {
        LayerRenderer::SetDrawSlab(useIndex ? 0 : 1500);
        ASSERT_TRUE(Paint(useIndex, how, part, threads) == walked)
            << "round " << round << " painting " << static_cast<int>(how) << " threads " << threads;
        ASSERT_EQ(indexedFlags, VisibleFlags()) << "round " << round << " threads " << threads;
      }
      QImage blank(walked.size(), walked.format());
      blank.fill(Qt::white);
      drawnSomething += walked != blank;
    }
    // Clicks anywhere in the view, and rectangles of every size.
    Shape::PrepareView(view_.Transform());
    for (int k = 0; k < 20; ++k) {
      const DevicePoint pixels[2] = {{px(rng), py(rng)}, {px(rng), py(rng)}};
      MapPoint at[2];
      ASSERT_TRUE(view_.Transform().DeviceToWorld(pixels, 2, at));
      layer_.SetSpatialIndexUsed(false);
      Shape* walkedHit = layer_.HitTestPoint(at[0]);
      const MapRect rect{std::min(at[0].x, at[1].x), std::min(at[0].y, at[1].y), std::max(at[0].x, at[1].x),
                         std::max(at[0].y, at[1].y)};
      const std::vector<Shape*> walkedFound = layer_.FindInRect(rect);
      layer_.SetSpatialIndexUsed(true);
      ASSERT_EQ(layer_.HitTestPoint(at[0]), walkedHit) << "round " << round;
      ASSERT_EQ(layer_.FindInRect(rect), walkedFound) << "round " << round;
    }
  }
  // The views were not all empty.
  EXPECT_GT(drawnSomething, 60);
}

// A view holding every record draws by walking them, after views that left
// other records visible: pixels and visible flags as the walk's, with one
// thread and with three.
TEST_F(SpatialIndexPixels, AViewOfEveryRecordPaintsAsTheWalk) {
  std::mt19937 rng(3);
  for (int round = 0; round < 6; ++round) {
    RandomView(rng);
    Paint(true, Painting::Whole, {});
    MapRect all = layer_.GetBounds();
    view_.ZoomToRect(all, round % 2 == 0);
    layer_.SetFilterMask(round % 3 == 2 ? (kDefaultFilterMask & ~kFilterShowShadows) : kDefaultFilterMask);
    const int threads = round < 3 ? 1 : 3;
    const QImage indexed = Paint(true, Painting::Whole, {}, threads);
    const std::vector<bool> indexedFlags = VisibleFlags();
    EXPECT_TRUE(Paint(false, Painting::Whole, {}) == indexed) << "round " << round;
    EXPECT_EQ(VisibleFlags(), indexedFlags) << "round " << round;
    // Every record with geometry shows.
    EXPECT_GT(std::count(indexedFlags.begin(), indexedFlags.end(), true), 19000) << "round " << round;
  }
}

TEST_F(SpatialIndexPixels, TheIndexFollowsRecordsAddedAndRemoved) {
  MapRect all = layer_.GetBounds();
  view_.ZoomToRect(all, false);
  QImage before = Paint(true, Painting::Whole, {});
  // A new point where there was none, then the selection removed.
  Shape* added = layer_.CreateRecord(kRecordPoint, 30000, false);
  added->SetPoint({kLeft + kWidth / 2, kTop + kHeight / 2});
  added->SetColor(0x0000FF);
  layer_.AddRecord(added, true);
  EXPECT_EQ(layer_.HitTestPoint({kLeft + kWidth / 2, kTop + kHeight / 2}), added);
  layer_.RemoveSelectedRecords();
  const QImage walked = Paint(false, Painting::Whole, {});
  EXPECT_TRUE(Paint(true, Painting::Whole, {}) == walked);
  EXPECT_FALSE(walked == before);
  for (Shape* s : layer_.Records()) EXPECT_FALSE(s->IsSelected());
}

}  // namespace
}  // namespace kestrune

namespace kestrune {
namespace {

// Real logs drawn with three threads (bands of a 1920 by 1080 picture) and
// with one give the same pixels and visible flags on random views, with a
// selection and with records filtered out into shadows.
TEST(BandedDrawing, RealLogsPaintAsOneThread) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  for (const char* name : {"field/yield-simple1.shp", "field/as-applied-simple1.shp"}) {
    test::TempDir dir;
    Layer layer;
    ASSERT_TRUE(test::OpenAndLoad(layer, test::CopyFileSet(data / name, dir.path()).string())) << name;
    int n = 0;
    for (Shape* s : layer.Records()) {
      s->SetFilterFlags(++n % 17 == 0 ? kFilterBoomOff : kComputedRecordFlags);
      if (n % 41 == 0) layer.Select(s);
    }
    layer.ApplyFilter();
    MapView view;
    view.Resize(1920, 1080);
    const MapRect all = layer.GetBounds();
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const auto paint = [&](int threads) {
      LayerRenderer::SetDrawThreads(threads);
      QImage image(1920, 1080, QImage::Format_RGB32);
      image.fill(Qt::white);
      QPainter painter(&image);
      QPainterCanvas canvas(painter);
      layer.Draw(view.Transform(), canvas);
      std::vector<bool> flags;
      for (Shape* s : layer.Records()) flags.push_back(s->IsVisible());
      return std::pair{image, flags};
    };
    for (int round = 0; round < 12; ++round) {
      // From the whole log to a few symbols across, shadows on and off.
      const double w = (all.right - all.left) * 1.2 * std::pow(2.0, -8.0 * unit(rng));
      const double cx = all.left + unit(rng) * (all.right - all.left);
      const double cy = all.top + unit(rng) * (all.bottom - all.top);
      MapRect r{static_cast<int32_t>(cx - w / 2), static_cast<int32_t>(cy - w * 0.3),
                static_cast<int32_t>(cx + w / 2), static_cast<int32_t>(cy + w * 0.3)};
      view.ZoomToRect(r, false);
      layer.SetFilterMask(round % 2 ? kDefaultFilterMask : (kDefaultFilterMask & ~kFilterShowShadows));
      layer.SetDrawBorder(round % 3 != 0);
      const auto one = paint(1);
      const auto three = paint(3);
      ASSERT_TRUE(one.first == three.first) << name << " round " << round;
      ASSERT_EQ(one.second, three.second) << name << " round " << round;
    }
    LayerRenderer::SetDrawThreads(0);
  }
}

}  // namespace
}  // namespace kestrune
