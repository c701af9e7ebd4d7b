// The QPainter canvas through a painter that scales window pixels onto a
// larger device, as a printed page does: visibility in window pixels, point
// symbols written as scaled boxes with one-device-pixel outlines instead of
// the direct pixel path, which only serves unscaled images.
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include "geo/gui/QPainterCanvas.h"

namespace kestrune {
namespace {

constexpr QRgb kWhite = 0xFFFFFFFF;
constexpr QRgb kBlack = 0xFF000000;
constexpr QRgb kRed = 0xFFFF0000;

// A 400-pixel image showing a 100-pixel window: four device pixels per window pixel.
struct ScaledPage {
  QImage image{400, 400, QImage::Format_RGB32};
  QPainter painter;
  ScaledPage() {
    image.fill(kWhite);
    painter.begin(&image);
    painter.setWindow(0, 0, 100, 100);
    painter.setViewport(0, 0, 400, 400);
  }
};

TEST(ScaledCanvas, VisibilityIsAnsweredInWindowPixels) {
  ScaledPage page;
  QPainterCanvas canvas(page.painter);
  EXPECT_TRUE(QPainterCanvas::IsScaling(page.painter));
  DeviceRect area;
  // The device's 400 pixels are not the window's area: no shortcut.
  EXPECT_FALSE(canvas.GetPlainVisibleArea(area));
  EXPECT_TRUE(canvas.RectVisible({90, 90, 110, 110}));
  EXPECT_FALSE(canvas.RectVisible({150, 150, 160, 160}));
  EXPECT_FALSE(canvas.RectVisible({-20, 0, -1, 50}));
}

TEST(ScaledCanvas, UnscaledImagesKeepThePlainArea) {
  QImage image(64, 32, QImage::Format_RGB32);
  QPainter painter(&image);
  QPainterCanvas canvas(painter);
  EXPECT_FALSE(QPainterCanvas::IsScaling(painter));
  DeviceRect area;
  ASSERT_TRUE(canvas.GetPlainVisibleArea(area));
  EXPECT_EQ(area.right, 64);
  EXPECT_EQ(area.bottom, 32);
}

TEST(ScaledCanvas, SymbolsInBulkAreScaledBoxesWithOneDevicePixelOutlines) {
  ScaledPage page;
  {
    QPainterCanvas canvas(page.painter);
    canvas.SetPen(BlackPen());
    const DeviceRect rects[] = {{10, 10, 15, 15}, {50, 50, 55, 55}};
    const Color fills[] = {0x0000FF, 0x0000FF};
    canvas.SolidRectangles(rects, fills, 2);
  }
  page.painter.end();
  const QImage& image = page.image;
  // The box 10..15 covers device pixels 40..60; its outline is one device pixel.
  EXPECT_EQ(image.pixel(41, 50), kRed);
  EXPECT_EQ(image.pixel(50, 41), kRed);
  EXPECT_EQ(image.pixel(50, 50), kRed);
  EXPECT_EQ(image.pixel(58, 58), kRed);
  int outline = 0;
  for (int x = 36; x <= 44; ++x) outline += image.pixel(x, 50) == kBlack;
  EXPECT_EQ(outline, 1);
  EXPECT_EQ(image.pixel(37, 50), kWhite);
  EXPECT_EQ(image.pixel(210, 210), kRed);
  EXPECT_EQ(image.pixel(100, 100), kWhite);
}

TEST(ScaledCanvas, NullPenBoxesLoseADevicePixelNotAWindowPixel) {
  ScaledPage page;
  {
    QPainterCanvas canvas(page.painter);
    canvas.SetPen(NullPen());
    canvas.SetBrush(SolidBrush(0x0000FF));
    canvas.Rectangle(10, 10, 15, 15);
  }
  page.painter.end();
  EXPECT_EQ(page.image.pixel(40, 40), kRed);
  EXPECT_EQ(page.image.pixel(58, 58), kRed);
  EXPECT_EQ(page.image.pixel(61, 50), kWhite);
  EXPECT_EQ(page.image.pixel(39, 50), kWhite);
}

}  // namespace
}  // namespace kestrune
