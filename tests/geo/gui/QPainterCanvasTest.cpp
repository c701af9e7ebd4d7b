// Pixels drawn by the QPainter canvas on an image: the desktop conventions of
// rectangles, ellipses, lines and alternate-filled rings, colours, the
// selection hatch and visibility against the clip.
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include "geo/CMapTransform.h"
#include "geo/gui/QPainterCanvas.h"

namespace kestrune {
namespace {

constexpr QRgb kWhite = 0xFFFFFFFF;
constexpr QRgb kBlack = 0xFF000000;
constexpr QRgb kRed = 0xFFFF0000;
constexpr QRgb kGreen = 0xFF00FF00;
constexpr QRgb kBlue = 0xFF0000FF;

QImage Blank(int w = 24, int h = 20, QRgb fill = kWhite) {
  QImage image(w, h, QImage::Format_ARGB32);
  image.fill(fill);
  return image;
}

// Runs the drawing on a canvas over a painter on the image.
template <typename F>
void Draw(QImage& image, F&& f) {
  QPainter painter(&image);
  QPainterCanvas canvas(painter);
  f(canvas);
}

// The bounding box of pixels differing from the background, as (l, t, r, b) inclusive.
QRect Extent(const QImage& image, QRgb background = kWhite) {
  QRect box;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (image.pixel(x, y) != background) box |= QRect(x, y, 1, 1);
    }
  }
  return box;
}

int Count(const QImage& image, QRgb colour) {
  int n = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) n += image.pixel(x, y) == colour;
  }
  return n;
}

TEST(QPainterCanvasRectangle, OutlineInPenAndFillInsideTheBox) {
  QImage image = Blank();
  Draw(image, [](Canvas& c) {
    c.SetPen(BlackPen());
    c.SetBrush(SolidBrush(0x0000FF));  // red in 0x00BBGGRR
    EXPECT_TRUE(c.Rectangle(2, 3, 8, 7));
  });
  // Pixels 2..7 by 3..6.
  EXPECT_EQ(Extent(image), QRect(QPoint(2, 3), QPoint(7, 6)));
  for (int x = 2; x <= 7; ++x) {
    EXPECT_EQ(image.pixel(x, 3), kBlack) << x;
    EXPECT_EQ(image.pixel(x, 6), kBlack) << x;
  }
  for (int y = 3; y <= 6; ++y) {
    EXPECT_EQ(image.pixel(2, y), kBlack) << y;
    EXPECT_EQ(image.pixel(7, y), kBlack) << y;
  }
  EXPECT_EQ(Count(image, kRed), 4 * 2);
  EXPECT_EQ(image.pixel(3, 4), kRed);
  EXPECT_EQ(image.pixel(6, 5), kRed);
}

TEST(QPainterCanvasRectangle, NullPenFillsOnePixelLess) {
  QImage image = Blank();
  Draw(image, [](Canvas& c) {
    c.SetPen(NullPen());
    c.SetBrush(SolidBrush(0x00FF00));
    c.Rectangle(2, 3, 8, 7);
  });
  EXPECT_EQ(Extent(image), QRect(QPoint(2, 3), QPoint(6, 5)));
  EXPECT_EQ(Count(image, kGreen), 5 * 3);
}

TEST(QPainterCanvasRectangle, NullBrushLeavesTheInsideAndCornersMayBeSwapped) {
  QImage image = Blank();
  Draw(image, [](Canvas& c) {
    c.SetPen({PenStyle::Solid, 1, 0xFF0000});  // blue
    c.SetBrush({BrushStyle::Null, 0});
    c.Rectangle(8, 7, 2, 3);
  });
  EXPECT_EQ(Extent(image), QRect(QPoint(2, 3), QPoint(7, 6)));
  EXPECT_EQ(Count(image, kBlue), 6 * 2 + 2 * 2);
  EXPECT_EQ(image.pixel(4, 4), kWhite);
}

TEST(QPainterCanvasRectangle, TheTransformDrawsOnePixelLargerOnEverySide) {
  QImage image = Blank();
  CMapTransform view;
  view.SetWorldOrigin({1000, 1000});
  view.SetWorldExtent(240, 200);
  view.SetDeviceExtent(24, 20);
  Draw(image, [&](Canvas& c) {
    c.SetPen(BlackPen());
    c.SetBrush(SolidBrush(0x0000FF));
    EXPECT_EQ(view.DrawWorldRectangle(c, 1050, 1050, 1100, 1100), 1);
  });
  // Device corners (5, 5) and (10, 10), drawn as Rectangle(4, 4, 11, 11).
  EXPECT_EQ(Extent(image), QRect(QPoint(4, 4), QPoint(10, 10)));
}

TEST(QPainterCanvasEllipse, WithinTheBoxAndSmallerWithoutPen) {
  QImage image = Blank();
  Draw(image, [](Canvas& c) {
    c.SetPen(BlackPen());
    c.SetBrush(SolidBrush(0x0000FF));
    c.Ellipse(1, 1, 11, 9);
  });
  EXPECT_EQ(Extent(image), QRect(QPoint(1, 1), QPoint(10, 8)));
  EXPECT_EQ(image.pixel(5, 4), kRed);
  EXPECT_EQ(image.pixel(1, 1), kWhite);  // corners of the box are outside the ellipse
  EXPECT_EQ(image.pixel(1, 4), kBlack);

  QImage bare = Blank();
  Draw(bare, [](Canvas& c) {
    c.SetPen(NullPen());
    c.SetBrush(SolidBrush(0x0000FF));
    c.Ellipse(1, 1, 11, 9);
  });
  const QRect extent = Extent(bare);
  EXPECT_LE(extent.right(), 9);
  EXPECT_LE(extent.bottom(), 7);
  EXPECT_GE(extent.left(), 1);
  EXPECT_GE(extent.top(), 1);
  EXPECT_EQ(Count(bare, kBlack), 0);
}

TEST(QPainterCanvasPolyline, OnePixelLinesLeaveOutTheLastPixel) {
  for (int width : {0, 1}) {
    QImage image = Blank();
    const DevicePoint pts[3] = {{1, 1}, {10, 1}, {10, 6}};
    Draw(image, [&](Canvas& c) {
      c.SetPen({PenStyle::Solid, width, 0});
      EXPECT_TRUE(c.Polyline(pts, 3));
    });
    for (int x = 1; x <= 10; ++x) EXPECT_EQ(image.pixel(x, 1), kBlack) << x;
    for (int y = 1; y <= 5; ++y) EXPECT_EQ(image.pixel(10, y), kBlack) << y;
    EXPECT_EQ(image.pixel(10, 6), kWhite) << "width " << width;
    EXPECT_EQ(Count(image, kBlack), 10 + 4);  // the corner pixel is shared
    EXPECT_EQ(image.pixel(0, 1), kWhite);
    EXPECT_EQ(image.pixel(11, 1), kWhite);
  }
}

TEST(QPainterCanvasPolyline, TheLastPointIsLeftOutInEveryDirection) {
  const DevicePoint centre{10, 10};
  const DevicePoint ends[8] = {{18, 10}, {2, 10}, {10, 2}, {10, 18}, {17, 13}, {3, 7}, {4, 16}, {16, 4}};
  for (const DevicePoint& end : ends) {
    QImage image = Blank();
    const DevicePoint pts[2] = {centre, end};
    Draw(image, [&](Canvas& c) { c.Polyline(pts, 2); });
    EXPECT_EQ(image.pixel(centre.x, centre.y), kBlack) << end.x << "," << end.y;
    EXPECT_EQ(image.pixel(end.x, end.y), kWhite) << end.x << "," << end.y;
    // And the line reaches the pixel before its end.
    const int dx = end.x > centre.x ? 1 : end.x < centre.x ? -1 : 0;
    const int dy = end.y > centre.y ? 1 : end.y < centre.y ? -1 : 0;
    const bool near = image.pixel(end.x - dx, end.y - dy) == kBlack ||
                      image.pixel(end.x - dx, end.y) == kBlack || image.pixel(end.x, end.y - dy) == kBlack;
    EXPECT_TRUE(near) << end.x << "," << end.y;
  }
}

TEST(QPainterCanvasPolyline, SlantedLineMatchesQtsLineWithoutItsEnd) {
  QImage reference = Blank();
  {
    QPainter p(&reference);
    QPen pen(Qt::black, 0, Qt::SolidLine, Qt::SquareCap);
    pen.setCosmetic(true);
    p.setPen(pen);
    p.drawLine(QPoint(2, 3), QPoint(19, 11));
  }
  reference.setPixel(19, 11, kWhite);
  QImage image = Blank();
  const DevicePoint pts[2] = {{2, 3}, {19, 11}};
  Draw(image, [&](Canvas& c) { c.Polyline(pts, 2); });
  EXPECT_EQ(image, reference);
  EXPECT_GT(Count(image, kBlack), 15);
}

TEST(QPainterCanvasPolyline, WidePensNullPensAndTooFewPoints) {
  QImage image = Blank();
  const DevicePoint pts[2] = {{3, 8}, {15, 8}};
  Draw(image, [&](Canvas& c) {
    c.SetPen({PenStyle::Solid, 3, 0x0000FF});
    c.Polyline(pts, 2);
  });
  // Three pixels thick, with round ends reaching past both points.
  EXPECT_EQ(image.pixel(9, 7), kRed);
  EXPECT_EQ(image.pixel(9, 8), kRed);
  EXPECT_EQ(image.pixel(9, 9), kRed);
  EXPECT_EQ(image.pixel(9, 10), kWhite);
  EXPECT_EQ(image.pixel(15, 8), kRed);

  QImage none = Blank();
  Draw(none, [&](Canvas& c) {
    c.SetPen(NullPen());
    EXPECT_TRUE(c.Polyline(pts, 2));
    c.SetPen(BlackPen());
    EXPECT_FALSE(c.Polyline(pts, 1));
  });
  EXPECT_TRUE(Extent(none).isNull());
}

// Exclusive-or drawing (the rubber band) needs every pixel of an outline
// touched exactly once: drawn once it shows the same pixels as plain drawing,
// drawn twice it leaves no trace.
TEST(QPainterCanvasXor, OutlinesTouchEachPixelOnce) {
  const DevicePoint open[4] = {{1, 1}, {12, 1}, {12, 7}, {8, 17}};
  const DevicePoint ring[5] = {{2, 2}, {20, 3}, {15, 15}, {4, 12}, {2, 2}};
  auto drawAll = [&](Canvas& c) {
    c.SetPen({PenStyle::Solid, 1, 0xFFFFFF});
    c.SetBrush({BrushStyle::Null, 0});
    c.Rectangle(5, 4, 17, 13);
    c.Rectangle(18, 16, 20, 18);
    c.Polyline(open, 4);
    c.Polyline(ring, 5);
  };
  for (int times : {1, 2}) {
    QImage xored(24, 20, QImage::Format_RGB32);
    xored.fill(Qt::black);
    {
      QPainter painter(&xored);
      painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
      QPainterCanvas canvas(painter);
      for (int i = 0; i < times; ++i) drawAll(canvas);
    }
    if (times == 2) {
      EXPECT_EQ(Count(xored, kBlack), 24 * 20);
      continue;
    }
    // Each shape alone, drawn plainly: a pixel drawn by two different shapes cancels under XOR.
    QImage expected(24, 20, QImage::Format_RGB32);
    expected.fill(Qt::black);
    for (int shape = 0; shape < 4; ++shape) {
      QImage one(24, 20, QImage::Format_RGB32);
      one.fill(Qt::black);
      Draw(one, [&](Canvas& c) {
        c.SetPen({PenStyle::Solid, 1, 0xFFFFFF});
        c.SetBrush({BrushStyle::Null, 0});
        if (shape == 0) c.Rectangle(5, 4, 17, 13);
        if (shape == 1) c.Rectangle(18, 16, 20, 18);
        if (shape == 2) c.Polyline(open, 4);
        if (shape == 3) c.Polyline(ring, 5);
      });
      for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 24; ++x) {
          if (one.pixel(x, y) != kBlack) expected.setPixel(x, y, expected.pixel(x, y) ^ 0x00FFFFFF);
        }
      }
    }
    EXPECT_EQ(xored, expected);
    EXPECT_GT(Count(xored, kWhite), 60);
    // The ring's start pixel is drawn (once); the open line's end is not.
    EXPECT_EQ(xored.pixel(2, 2), kWhite);
    EXPECT_EQ(xored.pixel(8, 17), kBlack);
  }
}

TEST(QPainterCanvasPolyPolygon, AlternateFillLeavesHolesAndExcludesFarEdges) {
  QImage image = Blank();
  const DevicePoint pts[10] = {{1, 1}, {11, 1}, {11, 9}, {1, 9}, {1, 1},
                               {4, 3}, {7, 3}, {7, 6}, {4, 6}, {4, 3}};
  const int sizes[2] = {5, 5};
  Draw(image, [&](Canvas& c) {
    c.SetPen(NullPen());
    c.SetBrush(SolidBrush(0x0000FF));
    EXPECT_TRUE(c.PolyPolygon(pts, sizes, 2));
  });
  EXPECT_EQ(Extent(image), QRect(QPoint(1, 1), QPoint(10, 8)));
  EXPECT_EQ(image.pixel(5, 4), kWhite);  // the hole
  EXPECT_EQ(image.pixel(2, 2), kRed);
  EXPECT_EQ(Count(image, kRed), 10 * 8 - 3 * 3);
}

TEST(QPainterCanvasPolyPolygon, OverlappingRingsCancelAndPenOutlines) {
  QImage image = Blank();
  // Two overlapping squares: the shared part is filled twice, so it is empty.
  const DevicePoint pts[10] = {{1, 1}, {9, 1}, {9, 9}, {1, 9}, {1, 1},
                               {5, 5}, {13, 5}, {13, 13}, {5, 13}, {5, 5}};
  const int sizes[2] = {5, 5};
  Draw(image, [&](Canvas& c) {
    c.SetPen(NullPen());
    c.SetBrush(SolidBrush(0x00FF00));
    c.PolyPolygon(pts, sizes, 2);
  });
  EXPECT_EQ(image.pixel(6, 6), kWhite);
  EXPECT_EQ(image.pixel(2, 2), kGreen);
  EXPECT_EQ(image.pixel(11, 11), kGreen);

  QImage outlined = Blank();
  Draw(outlined, [&](Canvas& c) {
    c.SetPen(BlackPen());
    c.SetBrush(SolidBrush(0x00FF00));
    c.PolyPolygon(pts, sizes, 1);
  });
  EXPECT_EQ(outlined.pixel(1, 5), kBlack);
  EXPECT_EQ(outlined.pixel(4, 4), kGreen);
}

TEST(QPainterCanvasBrush, SelectionHatchIsBlackOverWhatLiesBeneath) {
  QImage image = Blank(24, 20, kGreen);
  Draw(image, [](Canvas& c) {
    c.SetPen(NullPen());
    c.SetBrush({BrushStyle::SelectionHatch, 0});
    c.Rectangle(0, 0, 17, 17);
  });
  const int black = Count(image, kBlack);
  EXPECT_GT(black, 16 * 16 / 8);
  EXPECT_LT(black, 16 * 16 / 2);
  EXPECT_EQ(black + Count(image, kGreen), 24 * 20);
  // Nothing outside the filled area changes.
  EXPECT_EQ(image.pixel(16, 3), kGreen);
  EXPECT_EQ(image.pixel(20, 18), kGreen);
}

TEST(QPainterCanvasState, PenAndBrushAreKeptAndThePainterRestored) {
  QImage image = Blank();
  QPainter painter(&image);
  painter.setPen(QPen(Qt::green, 4));
  {
    QPainterCanvas canvas(painter);
    const Pen pen{PenStyle::Solid, 2, 0x123456};
    canvas.SetPen(pen);
    canvas.SetBrush(SolidBrush(0x654321));
    EXPECT_EQ(canvas.GetPen(), pen);
    EXPECT_EQ(canvas.GetBrush(), SolidBrush(0x654321));
    EXPECT_EQ(painter.pen().color(), QColor(0x56, 0x34, 0x12));
    EXPECT_EQ(painter.brush().color(), QColor(0x21, 0x43, 0x65));
  }
  EXPECT_EQ(painter.pen().color(), QColor(Qt::green));
  EXPECT_EQ(painter.pen().width(), 4);
}

TEST(QPainterCanvasVisibility, DeviceAndClipRegion) {
  QImage image = Blank(20, 20);
  QPainter painter(&image);
  QPainterCanvas canvas(painter);
  EXPECT_TRUE(canvas.RectVisible({5, 5, 10, 10}));
  EXPECT_TRUE(canvas.RectVisible({-100, -100, 1, 1}));
  EXPECT_FALSE(canvas.RectVisible({-10, -10, 0, 0}));  // right and bottom excluded
  EXPECT_FALSE(canvas.RectVisible({20, 0, 30, 10}));
  EXPECT_FALSE(canvas.RectVisible({5, 5, 5, 10}));     // empty
  painter.setClipRect(QRect(0, 0, 5, 5));
  EXPECT_FALSE(canvas.RectVisible({6, 6, 10, 10}));
  EXPECT_TRUE(canvas.RectVisible({4, 4, 10, 10}));
  EXPECT_FALSE(canvas.RectVisible({5, 0, 10, 5}));
}

TEST(QPainterCanvasVisibility, TransformWorksWithTheClippedDrawingOfTheView) {
  QImage image = Blank(20, 20);
  CMapTransform view;
  view.SetWorldOrigin({0, 0});
  view.SetWorldExtent(20, 20);
  view.SetDeviceExtent(20, 20);
  {
    QPainter painter(&image);
    QPainterCanvas canvas(painter);
    EXPECT_TRUE(view.IsWorldRectVisible(canvas, {18, 18, 40, 40}));
    EXPECT_FALSE(view.IsWorldRectVisible(canvas, {21, 0, 40, 40}));
    painter.setClipRect(QRect(0, 0, 10, 10));
    EXPECT_FALSE(view.IsWorldRectVisible(canvas, {12, 12, 15, 15}));
    // A line far beyond the image is clipped by the view and still lands on the right pixels.
    EXPECT_TRUE(view.DrawWorldPolyline(canvas, {{-50000, 5}, {50000, 5}}));
  }
  EXPECT_EQ(image.pixel(0, 5), kBlack);
  EXPECT_EQ(image.pixel(9, 5), kBlack);
  EXPECT_EQ(image.pixel(10, 5), kWhite);  // outside the clip
}

}  // namespace
}  // namespace kestrune
