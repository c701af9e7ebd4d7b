// Symbols written into layers of a picture and laid over it in order give the
// picture of writing them all in that order, whatever each layer overlaps,
// black symbols and symbols past the edges included; a drawing given up
// leaves the picture and the kept layers untouched.
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "geo/gui/ImageRectangles.h"
#include "geo/gui/QPainterCanvas.h"
#include "geo/gui/SymbolLayers.h"

namespace kestrune {
namespace {

// Symbols in list order: boxes that overlap one another and the edges.
struct Symbols {
  std::vector<DeviceRect> rects;
  std::vector<Color> fills;
};

Symbols RandomSymbols(int count, int width, int height, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> x(-6, width + 2), y(-6, height + 2), side(1, 9);
  // Black among the colours: a written black pixel is not an empty one.
  const Color colours[] = {0x000000, 0x0000FF, 0x00FF00, 0xFF0000, 0x808080, 0xFFFFFF};
  Symbols s;
  for (int i = 0; i < count; ++i) {
    const int l = x(rng), t = y(rng);
    s.rects.push_back({l, t, l + side(rng), t + side(rng)});
    s.fills.push_back(colours[rng() % 6]);
  }
  return s;
}

QImage Ground(int width, int height, QImage::Format format) {
  QImage image(width, height, format);
  image.fill(QColor(0x12, 0x34, 0x56));
  return image;
}

struct Case {
  const char* name;
  int layers;
  bool outlined;
  QImage::Format format;
  int width, height;
};

// Each layer takes a run of the list (as the drawing's shares do); the
// merged picture is the one-thread picture, and every layer is empty again.
TEST(SymbolLayers, MergedLayersAreTheSymbolsWrittenInOrder) {
  const Case cases[] = {
      {"two layers, outlined", 2, true, QImage::Format_RGB32, 97, 61},
      {"three layers, no pen", 3, false, QImage::Format_RGB32, 64, 48},
      {"four layers on ARGB32", 4, true, QImage::Format_ARGB32_Premultiplied, 33, 70},
      {"one layer", 1, true, QImage::Format_ARGB32, 40, 40},
  };
  for (const Case& c : cases) {
    const Symbols s = RandomSymbols(3000, c.width, c.height, 7u + static_cast<unsigned>(c.layers));
    const Pen pen = c.outlined ? BlackPen() : NullPen();
    QImage expected = Ground(c.width, c.height, c.format);
    ASSERT_TRUE(WriteSolidRectangles(expected, pen, s.rects.data(), s.fills.data(), static_cast<int>(s.rects.size())));

    QImage merged = Ground(c.width, c.height, c.format);
    {
      merged.bits();
      SymbolLayers layers(merged, c.layers);
      ASSERT_TRUE(layers.IsReady()) << c.name;
      // Later layers first, to show the order of writing does not matter.
      for (int k = c.layers - 1; k >= 0; --k) {
        const size_t from = s.rects.size() * static_cast<size_t>(k) / static_cast<size_t>(c.layers);
        const size_t to = s.rects.size() * static_cast<size_t>(k + 1) / static_cast<size_t>(c.layers);
        layers.Write(k, pen, s.rects.data() + from, s.fills.data() + from, static_cast<int>(to - from));
      }
      // In two bands of rows, the second first.
      layers.Merge(c.height / 3, c.height);
      layers.Merge(0, c.height / 3);
    }
    EXPECT_TRUE(merged == expected) << c.name;

    // The layers kept for the next drawing are empty: merging them changes nothing.
    QImage again = expected.copy();
    again.bits();
    {
      SymbolLayers layers(again, c.layers);
      ASSERT_TRUE(layers.IsReady());
      layers.Merge(0, c.height);
    }
    EXPECT_TRUE(again == expected) << c.name;
  }
}

// A drawing given up through the canvas: the picture is as it was, and the
// layers handed back hold nothing for the next one.
TEST(SymbolLayers, AGivenUpDrawingLeavesThePictureAndTheLayersEmpty) {
  const Symbols s = RandomSymbols(500, 50, 40, 3);
  QImage image = Ground(50, 40, QImage::Format_RGB32);
  const QImage before = image.copy();
  {
    QPainter painter(&image);
    QPainterCanvas canvas(painter);
    ASSERT_TRUE(canvas.BeginSymbolLayers(2));
    canvas.SolidRectanglesInLayer(0, s.rects.data(), s.fills.data(), 250, BlackPen());
    canvas.SolidRectanglesInLayer(1, s.rects.data() + 250, s.fills.data() + 250, 250, BlackPen());
    canvas.MergeSymbolLayers(0, 10);  // part merged, then given up
    canvas.EndSymbolLayers(false);
  }
  // Rows 0..9 took their symbols; the rest is as it was.
  for (int y = 10; y < 40; ++y) {
    for (int x = 0; x < 50; ++x) ASSERT_EQ(image.pixel(x, y), before.pixel(x, y)) << x << "," << y;
  }
  EXPECT_GE(SymbolLayers::SpareLayers(), 2u);
  QImage next = before.copy();
  {
    QPainter painter(&next);
    QPainterCanvas canvas(painter);
    ASSERT_TRUE(canvas.BeginSymbolLayers(2));
    canvas.MergeSymbolLayers(0, 40);
    canvas.EndSymbolLayers(true);
  }
  EXPECT_TRUE(next == before);
}

// Only a plain image painter gets layers: one that clips, transforms or
// paints on a format not written directly draws the ordinary way.
TEST(SymbolLayers, OnlyPlainImagePaintersHaveLayers) {
  QImage image = Ground(30, 30, QImage::Format_RGB32);
  {
    QPainter painter(&image);
    painter.setClipRect(QRect(2, 2, 10, 10));
    QPainterCanvas canvas(painter);
    EXPECT_FALSE(canvas.BeginSymbolLayers(2));
  }
  {
    QPainter painter(&image);
    painter.translate(3, 0);
    QPainterCanvas canvas(painter);
    EXPECT_FALSE(canvas.BeginSymbolLayers(2));
  }
  QImage rgb16(30, 30, QImage::Format_RGB16);
  rgb16.fill(Qt::white);
  {
    QPainter painter(&rgb16);
    QPainterCanvas canvas(painter);
    EXPECT_FALSE(canvas.BeginSymbolLayers(2));
  }
  {
    QPainter painter(&image);
    QPainterCanvas canvas(painter);
    EXPECT_TRUE(canvas.BeginSymbolLayers(2));
    canvas.EndSymbolLayers(false);
  }
}

}  // namespace
}  // namespace kestrune
