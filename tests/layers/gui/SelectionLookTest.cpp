// A selected record keeps its colour: a point symbol at least five pixels wide
// in its own colour inside a halo of the highlight colour at every zoom, an
// area under a strong outline of the highlight, a line over a wider one; the
// same pixels through the fast image path and through the painter.
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include "geo/gui/QPainterCanvas.h"
#include "layers/Layer.h"
#include "layers/LayerTestFiles.h"
#include "mapview/MapView.h"
#include "shapes/SelectionLook.h"

namespace kestrune {
namespace {

using test::TempDir;

constexpr Color kOwn = RGBColor(200, 30, 30);
constexpr Color kHighlight = RGBColor(10, 120, 220);
const QColor kOwnQ(200, 30, 30);
const QColor kHighlightQ(10, 120, 220);

class SelectionLook : public ::testing::Test {
 protected:
  void SetUp() override {
    SetSelectionHighlight(kHighlight);
    layer_.SetPathName((dir_ / "sel.shp").string());
    layer_.SetDisplaySize(10.0, false);
    view_.Resize(100, 100);
  }
  void TearDown() override { SetSelectionHighlight(kDefaultSelectionHighlight); }

  // The layer drawn into a white picture, the view centred on a point with
  // half an extent each way; on a transformed painter when slow.
  QImage Draw(MapPoint centre, int32_t half, bool slow = false) {
    MapRect shown{centre.x - half, centre.y - half, centre.x + half, centre.y + half};
    view_.ZoomToRect(shown, false);
    QImage image(100, 100, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    if (slow) painter.translate(0, 0.0001);  // not plain: every rectangle through QPainter
    QPainterCanvas canvas(painter);
    layer_.Draw(view_.Transform(), canvas);
    return image;
  }
  QPoint PixelOf(MapPoint p) {
    view_.Transform().WorldToDevice(p);
    return {p.x, p.y};
  }

  TempDir dir_;
  Layer layer_;
  MapView view_;
};

// Pixels of one colour from a pixel to the right, the first included.
int RunRight(const QImage& image, QPoint from, const QColor& colour) {
  int n = 0;
  while (from.x() + n < image.width() && image.pixelColor(from.x() + n, from.y()) == colour) ++n;
  return n;
}

TEST_F(SelectionLook, ASelectedPointShowsInItsColourWithAHaloAtEveryZoom) {
  const MapPoint at{957150000, 813300000};
  Shape* point = layer_.CreateRecord(kRecordPoint, 1, true);
  point->SetPoint(at);
  point->SetColor(kOwn);
  struct Case {
    const char* what;
    int32_t half;
  };
  // From a field's width (the symbol well under a pixel) to a close zoom.
  for (const Case& c : {Case{"far", 4000000}, Case{"field", 400000}, Case{"near", 4000}}) {
    for (bool slow : {false, true}) {
      layer_.ClearSelection();
      const QImage plain = Draw(at, c.half, slow);
      layer_.Select(point);
      const QImage image = Draw(at, c.half, slow);
      const QPoint centre = PixelOf(at);
      ASSERT_EQ(image.pixelColor(centre), kOwnQ) << c.what << slow;
      // The symbol's row: its own colour at least five wide, then two of halo.
      int left = centre.x();
      while (left > 0 && image.pixelColor(left - 1, centre.y()) == kOwnQ) --left;
      const int width = RunRight(image, {left, centre.y()}, kOwnQ);
      EXPECT_GE(width, kSelectedSymbolMinPixels) << c.what << slow;
      EXPECT_EQ(RunRight(image, {left + width, centre.y()}, kHighlightQ), kSelectionHaloPixels) << c.what << slow;
      EXPECT_EQ(image.pixelColor(left - 1, centre.y()), kHighlightQ) << c.what << slow;
      EXPECT_EQ(image.pixelColor(left - 2, centre.y()), kHighlightQ) << c.what << slow;
      EXPECT_EQ(image.pixelColor(left - 3, centre.y()), QColor(Qt::white)) << c.what << slow;
      if (c.half > 400000 - 1) {
        // Unselected, the same point is smaller than the selected one.
        int plainLeft = centre.x();
        while (plainLeft > 0 && plain.pixelColor(plainLeft - 1, centre.y()) == kOwnQ) --plainLeft;
        EXPECT_LT(RunRight(plain, {plainLeft, centre.y()}, kOwnQ), width) << c.what;
      }
    }
  }
}

TEST_F(SelectionLook, ASelectedAreaKeepsItsFillUnderAHighlightOutline) {
  Shape* area = layer_.CreateRecord(kRecordArea, 1, false);
  const MapPoint c{957150000, 813300000};
  const MapPoint ring[] = {c, {c.x, c.y + 20000}, {c.x + 20000, c.y + 20000}, {c.x + 20000, c.y}, c};
  area->AddPoints(ring, 5);
  area->FinishGeometry();
  layer_.AddRecord(area, true);
  area->SetColor(kOwn);
  layer_.Select(area);
  const QImage image = Draw({c.x + 10000, c.y + 10000}, 20000);
  const QPoint middle = PixelOf({c.x + 10000, c.y + 10000});
  EXPECT_EQ(image.pixelColor(middle), kOwnQ);
  // Along the middle row from the left: white, then the outline, then the fill.
  int x = 0;
  while (x < 100 && image.pixelColor(x, middle.y()) == QColor(Qt::white)) ++x;
  const int outline = RunRight(image, {x, middle.y()}, kHighlightQ);
  EXPECT_GE(outline, 2);
  EXPECT_EQ(image.pixelColor(x + outline, middle.y()), kOwnQ);
}

}  // namespace
}  // namespace kestrune
