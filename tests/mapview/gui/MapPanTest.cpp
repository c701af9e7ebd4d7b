// Pans move the window's picture by whole pixels and draw only what comes
// into view; after any pan by key or by drag, at any scale, the window shows
// exactly what a fresh drawing of the whole view gives.
#include <QImage>
#include <QPainter>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <iterator>
#include <random>
#include <string>

#include "geo/gui/QPainterCanvas.h"
#include "layers/Layer.h"
#include "layers/LayerFilter.h"
#include "layers/LayerList.h"
#include "mapview/MapView.h"
#include "mapview/gui/CMapWnd.h"
#include "support/TestSupport.h"

namespace kestrune {
namespace {

// The extent the records lie in (map units).
constexpr int32_t kLeft = 957100000, kTop = 813300000, kWidth = 200000, kHeight = 120000;
constexpr int kClientWidth = 320, kClientHeight = 240;

class MapPan : public ::testing::Test {
 protected:
  // A log's track of points, some selected, some filtered out (drawn as
  // shadows); with withLine a line among them.
  void Build(bool withLine) {
    layer_ = new Layer();
    layer_->SetPathName((dir_ / "pan.shp").string());
    layer_->SetDisplaySize(30.0, false);
    std::mt19937 rng(4242);
    std::uniform_int_distribution<int32_t> x(kLeft, kLeft + kWidth), y(kTop, kTop + kHeight);
    std::uniform_int_distribution<int32_t> near(-700, 700);
    MapPoint last{x(rng), y(rng)};
    for (int i = 1; i <= 12000; ++i) {
      if (withLine && i == 6000) {
        Shape* line = layer_->CreateRecord(kRecordLine, i, true);
        const MapPoint pts[] = {{x(rng), y(rng)}, {x(rng), y(rng)}, {x(rng), y(rng)}};
        line->AddPoints(pts, 3);
        line->SetColor(0x2080F0);
        continue;
      }
      last = i % 40 == 0 ? MapPoint{x(rng), y(rng)} : MapPoint{last.x + near(rng), last.y + near(rng)};
      Shape* p = layer_->CreateRecord(kRecordPoint, i, true);
      p->SetPoint(last);
      p->SetColor(static_cast<Color>(rng() & 0xFFFFFF));
    }
    int n = 0;
    for (Shape* s : layer_->Records()) {
      s->SetFilterFlags(++n % 29 == 0 ? kFilterBoomOff : kComputedRecordFlags);
      if (n % 83 == 0) layer_->Select(s);
    }
    layer_->ApplyFilter();
    list_.Adopt(layer_);
    wnd_.SetLayers(&list_);
    wnd_.resize(kClientWidth, kClientHeight);
    wnd_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&wnd_));
  }

  // What the window shows now.
  QImage Shown() {
    QImage image(wnd_.size(), QImage::Format_RGB32);
    wnd_.render(&image);
    return image;
  }

  // The whole view drawn afresh.
  QImage Fresh() {
    QImage image(wnd_.size(), QImage::Format_RGB32);
    QPainter painter(&image);
    painter.fillRect(image.rect(), QColor(255, 255, 255));
    QPainterCanvas canvas(painter);
    list_.DrawAll(canvas, wnd_.Transform());
    return image;
  }

  // A view of the records at a width from all of them down to a few symbols.
  void ZoomTo(double width, std::mt19937& rng) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double cx = kLeft + unit(rng) * kWidth, cy = kTop + unit(rng) * kHeight;
    MapRect r{static_cast<int32_t>(cx - width / 2), static_cast<int32_t>(cy - width * 0.375),
              static_cast<int32_t>(cx + width / 2), static_cast<int32_t>(cy + width * 0.375)};
    wnd_.GetMapView().ZoomToRect(r, false);
  }

  // Random pans by key and by drag with the middle button; each picture must
  // be the fresh drawing. Gives how many of them moved the picture.
  int PanAndCompare(std::mt19937& rng, int pans) {
    const int movedBefore = wnd_.MovedPictureCount();
    std::uniform_int_distribution<int> kind(0, 5), px(0, kClientWidth - 1), py(0, kClientHeight - 1);
    for (int i = 0; i < pans; ++i) {
      const int k = kind(rng);
      if (k < 4) {
        const Qt::Key keys[] = {Qt::Key_Left, Qt::Key_Right, Qt::Key_Up, Qt::Key_Down};
        QTest::keyClick(&wnd_, keys[k]);
      } else {
        const QPoint from(px(rng), py(rng)), to(px(rng), py(rng));
        QTest::mousePress(&wnd_, Qt::MiddleButton, {}, from);
        QTest::mouseMove(&wnd_, to);
        QTest::mouseRelease(&wnd_, Qt::MiddleButton, {}, to);
      }
      const QImage shown = Shown();
      const QImage fresh = Fresh();
      if (shown == fresh) continue;
      // Where they differ, for the message.
      int diffs = 0;
      QRect box;
      for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
          if (shown.pixel(x, y) != fresh.pixel(x, y)) {
            ++diffs;
            box |= QRect(x, y, 1, 1);
          }
        }
      }
      ADD_FAILURE() << "pan " << i << " kind " << k << ": " << diffs << " pixels differ in " << box.width() << "x"
                    << box.height() << " at " << box.x() << "," << box.y();
      break;
    }
    return wnd_.MovedPictureCount() - movedBefore;
  }

  test::TempDir dir_;
  LayerList list_;
  Layer* layer_ = nullptr;
  CMapWnd wnd_;
};

TEST_F(MapPan, PansOfPointsMoveThePictureAndEqualAFreshDrawing) {
  Build(false);
  std::mt19937 rng(7);
  int moved = 0;
  // From the whole extent to a few symbols across, borders on and off.
  for (const double width : {kWidth * 1.3, kWidth * 0.31, 9000.0, 1100.0}) {
    for (const bool border : {true, false}) {
      layer_->SetDrawBorder(border);
      ZoomTo(width, rng);
      Shown();
      moved += PanAndCompare(rng, 10);
    }
  }
  // Most key pans find a whole-pixel step (nudging the extent at most once per view).
  EXPECT_GT(moved, 20);
}

TEST_F(MapPan, AViewWithALineIsDrawnWholeAndStillEqual) {
  Build(true);
  std::mt19937 rng(11);
  ZoomTo(kWidth * 0.5, rng);
  Shown();
  EXPECT_EQ(PanAndCompare(rng, 8), 0);
}

// Whether the picture may move is kept between pans: a label set on a record
// or a line added after pans that moved it makes the next pans draw whole,
// with the spatial index or without.
TEST_F(MapPan, ALabelOrALineAddedAfterPansStopsThePictureMoving) {
  for (const int c : {0, 1, 2, 3}) {
    const bool label = c % 2 == 0, indexed = c < 2;
    SCOPED_TRACE(std::string(label ? "label" : "line") + (indexed ? ", indexed" : ", walked"));
    if (layer_) list_.RemoveLayer(layer_, true);
    Build(false);
    layer_->SetSpatialIndexUsed(indexed);
    std::mt19937 rng(23);
    ZoomTo(kWidth * 0.31, rng);
    Shown();
    EXPECT_GT(PanAndCompare(rng, 8), 0);
    if (label) {
      (*std::next(layer_->Records().begin(), 500))->SetLabel("Gate", true);
    } else {
      Shape* line = layer_->CreateRecord(kRecordLine, 20000, true);
      const MapPoint pts[] = {{kLeft, kTop}, {kLeft + kWidth, kTop + kHeight}};
      line->AddPoints(pts, 2);
    }
    wnd_.InvalidateMap(true);
    Shown();
    EXPECT_EQ(PanAndCompare(rng, 8), 0);
  }
}

TEST(MapPanSteps, KeyStepsAreWholePixelsOfWholeMapUnits) {
  // The extent, the window's pixels and how far the right arrow moves the origin.
  struct Case {
    int32_t width;
    int pixels;
    int32_t originMoves;
  };
  const Case cases[] = {
      {64000, 320, 16000},   // 200 units a pixel: a quarter, 80 pixels
      {64100, 320, 16025},   // 200.3125 a pixel: 80 pixels are 16025 units
      {64003, 320, 16001},   // nudged to 64004: the first pan draws everything
      {1002, 100, 250},      // too small to nudge: a quarter in map units
  };
  for (const Case& c : cases) {
    MapView view;
    view.Resize(c.pixels, c.pixels / 2);
    view.Transform().SetWorldOrigin({1000000, 1000000});
    view.Transform().SetWorldExtent(c.width, c.width / 2);
    int moves = 0;
    view.SetPannedHandler([&](int dx, int dy) {
      EXPECT_EQ(dy, 0);
      EXPECT_EQ(static_cast<int64_t>(dx) * view.Width() % c.pixels, 0);
      ++moves;
    });
    view.PanRight();
    EXPECT_EQ(view.Transform().GetWorldOrigin().x, 1000000 + c.originMoves) << c.width;
    EXPECT_EQ(moves, c.width == 64000 || c.width == 64100 ? 1 : 0) << c.width;
  }
}

}  // namespace
}  // namespace kestrune
