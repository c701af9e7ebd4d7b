// Point symbols written straight into an image must be the very pixels
// QPainter gives when every record draws itself through the canvas, in list
// order, overlaps and image edges included; painters that transform or clip
// take the ordinary way.
#include <QImage>
#include <QPainter>
#include <QPixmap>

#include <gtest/gtest.h>

#include <random>

#include "geo/gui/ImageRectangles.h"
#include "geo/gui/QPainterCanvas.h"
#include "layers/Layer.h"
#include "layers/LayerTestFiles.h"
#include "mapview/MapView.h"

namespace kestrune {
namespace {

using test::TempDir;

// The first differing pixel, for a readable failure.
::testing::AssertionResult SameImages(const QImage& a, const QImage& b) {
  if (a.size() != b.size()) return ::testing::AssertionFailure() << "sizes differ";
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      if (a.pixel(x, y) != b.pixel(x, y)) {
        return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << "): " << std::hex << a.pixel(x, y)
                                             << " against " << b.pixel(x, y);
      }
    }
  }
  return ::testing::AssertionSuccess();
}

TEST(ImageRectangles, TheSamePixelsAsTheCanvasRectangle) {
  std::mt19937 rng(17);
  std::uniform_int_distribution<int> coord(-12, 70);
  std::uniform_int_distribution<int> size(-3, 9);
  for (QImage::Format format : {QImage::Format_RGB32, QImage::Format_ARGB32, QImage::Format_ARGB32_Premultiplied}) {
    for (const Pen& pen : {BlackPen(), NullPen(), Pen{PenStyle::Solid, 1, 0x00FF00}}) {
      std::vector<DeviceRect> rects;
      std::vector<Color> fills;
      // Boxes of every small size, inverted ones, and boxes over every edge.
      for (int i = 0; i < 3000; ++i) {
        const int l = coord(rng), t = coord(rng);
        rects.push_back({l, t, l + size(rng), t + size(rng)});
        fills.push_back(static_cast<Color>(rng() & 0xFFFFFF));
      }
      rects.push_back({-32768, -5, 32768, 3});  // the widest a transform gives
      fills.push_back(0x123456);
      QImage direct(64, 48, format);
      direct.fill(Qt::white);
      QImage painted = direct.copy();
      ASSERT_TRUE(WriteSolidRectangles(direct, pen, rects.data(), fills.data(), static_cast<int>(rects.size())));
      {
        QPainter painter(&painted);
        QPainterCanvas canvas(painter);
        canvas.SetPen(pen);
        for (size_t i = 0; i < rects.size(); ++i) {
          canvas.SetBrush(SolidBrush(fills[i]));
          canvas.Rectangle(rects[i].left, rects[i].top, rects[i].right, rects[i].bottom);
        }
      }
      ASSERT_TRUE(SameImages(direct, painted)) << "format " << format;
    }
  }
  // Wide pens and other formats are not written directly.
  QImage image(8, 8, QImage::Format_RGB32);
  const DeviceRect r{1, 1, 5, 5};
  const Color c = 0;
  EXPECT_FALSE(WriteSolidRectangles(image, Pen{PenStyle::Solid, 3, 0}, &r, &c, 1));
  QImage small(8, 8, QImage::Format_RGB16);
  EXPECT_FALSE(WriteSolidRectangles(small, BlackPen(), &r, &c, 1));
}

TEST(ImageRectangles, TheSameHatchAsTheCanvasRectangle) {
  std::mt19937 rng(31);
  std::uniform_int_distribution<int> coord(-12, 70);
  std::uniform_int_distribution<int> size(-3, 12);
  for (QImage::Format format : {QImage::Format_RGB32, QImage::Format_ARGB32_Premultiplied}) {
    for (const Pen& pen : {BlackPen(), NullPen(), Pen{PenStyle::Solid, 1, 0x00FF00}}) {
      std::vector<DeviceRect> rects;
      for (int i = 0; i < 400; ++i) {
        const int l = coord(rng), t = coord(rng);
        rects.push_back({l, t, l + size(rng), t + size(rng)});
      }
      // A coloured background, so pixels the hatch leaves alone show.
      QImage direct(64, 48, format);
      direct.fill(QColor(0x40, 0xA0, 0x60));
      QImage painted = direct.copy();
      ASSERT_TRUE(WriteHatchedRectangles(direct, pen, rects.data(), static_cast<int>(rects.size())));
      {
        QPainter painter(&painted);
        QPainterCanvas canvas(painter);
        canvas.SetPen(pen);
        canvas.SetBrush(Brush{BrushStyle::SelectionHatch, 0});
        for (const DeviceRect& r : rects) canvas.Rectangle(r.left, r.top, r.right, r.bottom);
      }
      ASSERT_TRUE(SameImages(direct, painted)) << "format " << format;
    }
  }
}

TEST(ImageRectangles, OnlyPlainImagePaintersAreWrittenDirectly) {
  QImage image(32, 32, QImage::Format_RGB32);
  {
    QPainter painter(&image);
    EXPECT_EQ(DirectWritableImage(painter), &image);
    painter.translate(3, 0);
    EXPECT_EQ(DirectWritableImage(painter), nullptr);
    painter.resetTransform();
    painter.setClipRect(0, 0, 10, 10);
    EXPECT_EQ(DirectWritableImage(painter), nullptr);
    painter.setClipping(false);
    painter.setOpacity(0.5);
    EXPECT_EQ(DirectWritableImage(painter), nullptr);
    painter.setOpacity(1.0);
    painter.setCompositionMode(QPainter::CompositionMode_Xor);
    EXPECT_EQ(DirectWritableImage(painter), nullptr);
  }
  QImage hiDpi(32, 32, QImage::Format_RGB32);
  hiDpi.setDevicePixelRatio(2.0);
  {
    QPainter painter(&hiDpi);
    EXPECT_EQ(DirectWritableImage(painter), nullptr);
  }
  QImage rgb16(32, 32, QImage::Format_RGB16);
  {
    QPainter painter(&rgb16);
    EXPECT_EQ(DirectWritableImage(painter), nullptr);
  }
  QPixmap pixmap(32, 32);
  {
    QPainter painter(&pixmap);
    EXPECT_EQ(DirectWritableImage(painter), nullptr);
  }
}

// A point layer of overlapping symbols with lines and areas among them, some
// records selected and some filtered out.
class LayerPixels : public ::testing::Test {
 protected:
  void SetUp() override {
    layer_.SetPathName((dir_ / "pix.shp").string());
    layer_.SetDisplaySize(30.0, false);
    std::mt19937 rng(23);
    // 3000 symbols of about 6 pixels in a 300 by 200 view: they overlap many times.
    std::uniform_int_distribution<int32_t> x(957150000, 957160000), y(813300000, 813306600);
    for (int i = 1; i <= 3000; ++i) {
      if (i % 400 == 0) {
        Shape* line = layer_.CreateRecord(kRecordLine, i, true);
        const MapPoint pts[] = {{x(rng), y(rng)}, {x(rng), y(rng)}};
        line->AddPoints(pts, 2);
        line->SetColor(0x2080F0);
      } else if (i % 450 == 0) {
        Shape* area = layer_.CreateRecord(kRecordArea, i, false);
        const MapPoint c{x(rng), y(rng)};
        const MapPoint ring[] = {c, {c.x, c.y + 900}, {c.x + 1200, c.y + 900}, {c.x + 1200, c.y}, c};
        area->AddPoints(ring, 5);
        area->FinishGeometry();
        layer_.AddRecord(area, true);
        area->SetColor(0x40C040);
      } else {
        Shape* p = layer_.CreateRecord(kRecordPoint, i, true);
        p->SetPoint({x(rng), y(rng)});
        p->SetColor(static_cast<Color>(rng() & 0xFFFFFF));
      }
    }
    int n = 0;
    for (Shape* s : layer_.Records()) {
      s->SetFilterFlags(++n % 31 == 0 ? kFilterBoomOff : kComputedRecordFlags);
      if (n % 97 == 0) layer_.Select(s);
    }
    layer_.ApplyFilter();
    // Part of the layer lies off the image on every side.
    view_.Resize(300, 200);
    MapRect shown{957151000, 813301000, 957159000, 813305600};
    view_.ZoomToRect(shown, false);
  }

  // Every record drawing itself through the canvas, in the passes' order.
  QImage RecordByRecord(QImage image, void (*prepare)(QPainter&)) {
    QPainter painter(&image);
    prepare(painter);
    QPainterCanvas canvas(painter);
    const CMapTransform& t = view_.Transform();
    Shape::PrepareView(t);
    std::vector<Shape*> visible;
    for (Shape* s : layer_.Records()) {
      if (t.IsWorldRectVisible(canvas, s->GetHitBounds())) visible.push_back(s);
    }
    if (layer_.GetFilterMask() & kFilterShowShadows) {
      for (Shape* s : visible) {
        if (s->IsFilteredOut()) s->Draw(t, canvas);
      }
    }
    for (Shape* s : visible) {
      if (!s->IsSelected() && !s->IsFilteredOut()) s->Draw(t, canvas);
    }
    for (Shape* s : layer_.GetSelectionDrawOrder()) {
      if (std::find(visible.begin(), visible.end(), s) != visible.end()) s->Draw(t, canvas);
    }
    return image;
  }

  QImage LayerDraw(QImage image, void (*prepare)(QPainter&)) {
    QPainter painter(&image);
    prepare(painter);
    QPainterCanvas canvas(painter);
    layer_.Draw(view_.Transform(), canvas);
    return image;
  }

  TempDir dir_;
  Layer layer_;
  MapView view_;
};

void Nothing(QPainter&) {}
void Shifted(QPainter& p) { p.translate(7, -4); }
void Clipped(QPainter& p) { p.setClipRect(20, 10, 200, 150); }

TEST_F(LayerPixels, BatchedDrawingIsPixelIdenticalToRecordByRecord) {
  for (bool border : {true, false}) {
    layer_.SetDrawBorder(border);
    for (int mask : {kDefaultFilterMask, kDefaultFilterMask & ~kFilterShowShadows}) {
      layer_.SetFilterMask(mask);
      for (QImage::Format format : {QImage::Format_RGB32, QImage::Format_ARGB32_Premultiplied}) {
        QImage blank(300, 200, format);
        blank.fill(Qt::white);
        const QImage expected = RecordByRecord(blank, Nothing);
        const QImage actual = LayerDraw(blank, Nothing);
        ASSERT_TRUE(SameImages(actual, expected)) << "border " << border << " mask " << mask;
        // Something was drawn, not just a white image twice.
        ASSERT_FALSE(actual == blank);
      }
    }
  }
}

TEST_F(LayerPixels, TransformedOrClippedPaintersDrawTheOrdinaryWay) {
  for (void (*prepare)(QPainter&) : {Shifted, Clipped}) {
    QImage blank(300, 200, QImage::Format_RGB32);
    blank.fill(Qt::white);
    ASSERT_TRUE(SameImages(LayerDraw(blank, prepare), RecordByRecord(blank, prepare)));
  }
}

// An area layer drawn into a white picture through a view of all of it.
QImage DrawLayer(Layer& layer, MapView& view) {
  view.Resize(120, 90);
  MapRect bounds = layer.GetBounds();
  view.ZoomToRect(bounds, true);
  QImage image(120, 90, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  QPainterCanvas canvas(painter);
  layer.Draw(view.Transform(), canvas);
  return image;
}

TEST(AreaFillOpacity, FullOpacityIsTheOpaqueFillAndLessLetsTheGroundThrough) {
  TempDir dir;
  const std::string shp = test::WriteAreaSet(dir, "zone", {test::Square(-93.6, 42.0, 0.01)}, {4.0});
  MapView view;
  Layer plain;
  plain.SetPathName(shp);
  ASSERT_TRUE(plain.Open() && plain.Load());
  const QImage before = DrawLayer(plain, view);
  // The record as every area has always drawn: black outline, opaque fill of its colour.
  Shape* record = plain.Records().empty() ? nullptr : plain.Records().front();
  ASSERT_NE(record, nullptr);
  const Color colour = record->GetColor();
  QImage opaque(120, 90, QImage::Format_RGB32);
  opaque.fill(Qt::white);
  {
    QPainter painter(&opaque);
    QPainterCanvas canvas(painter);
    canvas.SetPen(BlackPen());
    canvas.SetBrush(SolidBrush(colour));
    auto* area = dynamic_cast<AreaShape*>(record);
    ASSERT_NE(area, nullptr);
    view.Transform().DrawWorldPolyPolygon(canvas, area->GetPoints().data(), area->GetRingSizes().data(),
                                          area->GetRingCount());
  }
  EXPECT_TRUE(SameImages(before, opaque));

  plain.SetFillOpacity(100);
  EXPECT_TRUE(SameImages(DrawLayer(plain, view), before));

  plain.SetFillOpacity(40);
  const QImage light = DrawLayer(plain, view);
  const QPoint middle(60, 45);
  const QColor fill = ToQColor(colour);
  const QColor seen = light.pixelColor(middle);
  // 40 % of the colour over white, to a step of rounding.
  EXPECT_NEAR(seen.red(), 0.4 * fill.red() + 0.6 * 255, 2);
  EXPECT_NEAR(seen.green(), 0.4 * fill.green() + 0.6 * 255, 2);
  EXPECT_NEAR(seen.blue(), 0.4 * fill.blue() + 0.6 * 255, 2);
  // The outline stays as it was.
  int outlineDiffers = 0;
  for (int y = 0; y < 90; ++y) {
    for (int x = 0; x < 120; ++x) {
      if (before.pixel(x, y) == qRgb(0, 0, 0)) outlineDiffers += light.pixel(x, y) != qRgb(0, 0, 0);
    }
  }
  EXPECT_EQ(outlineDiffers, 0);
}

}  // namespace
}  // namespace kestrune

namespace kestrune {
namespace {

// Counts the black pixels of an image.
int BlackPixels(const QImage& image) {
  int n = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) n += (image.pixel(x, y) & 0xFFFFFF) == 0;
  }
  return n;
}

// Counts the pixels of one colour (0x00BBGGRR).
int ColourPixels(const QImage& image, Color colour) {
  const QRgb want = qRgb(RedOf(colour), GreenOf(colour), BlueOf(colour));
  int n = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) n += (image.pixel(x, y) & 0xFFFFFF) == (want & 0xFFFFFF);
  }
  return n;
}

TEST(SmallSymbols, UnderThreePixelsTheyAreFilledWithoutOutlineAboveThatOutlined) {
  TempDir dir;
  Layer layer;
  layer.SetPathName((dir / "small.shp").string());
  layer.SetDrawBorder(true);
  // A log of 60 by 40 points 500 map units apart.
  int n = 0;
  for (int i = 0; i < 60; ++i) {
    for (int j = 0; j < 40; ++j) {
      Shape* p = layer.CreateRecord(kRecordPoint, ++n, true);
      p->SetPoint({957150000 + i * 500, 813300000 + j * 500});
      p->SetColor(0x3060C0);
    }
  }
  MapView view;
  view.Resize(300, 200);
  MapRect shown{957150000, 813300000, 957180000, 813320000};  // 100 map units a pixel
  view.ZoomToRect(shown, false);
  // Feet per symbol: about 2 pixels, 2.5 pixels, 8 pixels.
  for (const auto& [feet, outlined] : {std::pair{10.0, false}, std::pair{12.0, false}, std::pair{40.0, true}}) {
    layer.SetDisplaySize(feet, false);
    QImage direct(300, 200, QImage::Format_RGB32);
    direct.fill(Qt::white);
    QImage painted = direct.copy();
    {
      QPainter painter(&direct);
      QPainterCanvas canvas(painter);
      layer.Draw(view.Transform(), canvas);
    }
    {
      // A clip sends every symbol through QPainter one by one.
      QPainter painter(&painted);
      painter.setClipRect(0, 0, 300, 200);
      QPainterCanvas canvas(painter);
      layer.Draw(view.Transform(), canvas);
    }
    ASSERT_TRUE(SameImages(direct, painted)) << feet;
    EXPECT_EQ(BlackPixels(direct) > 0, outlined) << feet << " ft: " << BlackPixels(direct) << " black pixels";
    // The colour shows either way.
    EXPECT_GT(ColourPixels(direct, 0x3060C0), 300) << feet;
  }
}

}  // namespace
}  // namespace kestrune
