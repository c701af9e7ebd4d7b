// Several threads drawing a point layer, each its share of the records into a
// layer of its own laid over the picture afterwards, give the one-thread
// picture pixel for pixel, where the order of overlapping symbols decides
// the colour of a pixel: a log whose second half passes again over the
// places of its first, in other colours.
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "geo/gui/QPainterCanvas.h"
#include "layers/Layer.h"
#include "layers/LayerRenderer.h"
#include "layers/LayerTestFiles.h"
#include "mapview/MapView.h"

namespace kestrune {
namespace {

using test::TempDir;

constexpr int32_t kLeft = 957100000, kTop = 813300000;
constexpr int kRecords = 8000;
constexpr int kWidth = 400, kHeight = 300;

// The first half's colours and the second half's: no colour in both.
constexpr Color kFirstColours[] = {0x0000C0, 0x00C000, 0xC00000, 0x404040};
constexpr Color kSecondColours[] = {0x00FFFF, 0xFF00FF, 0xFFFF00, 0x000000};

class LayeredDrawing : public ::testing::Test {
 protected:
  void SetUp() override {
    layer_.SetPathName((dir_ / "pass.shp").string());
    std::mt19937 rng(2024);
    std::uniform_int_distribution<int32_t> step(-900, 900);
    std::vector<MapPoint> track;
    MapPoint at{kLeft + 100000, kTop + 60000};
    for (int i = 0; i < kRecords / 2; ++i) {
      at = {at.x + step(rng), at.y + step(rng)};
      track.push_back(at);
    }
    // A second pass over the same places, the other way round.
    for (int i = 0; i < kRecords; ++i) {
      const bool second = i >= kRecords / 2;
      Shape* p = layer_.CreateRecord(kRecordPoint, i + 1, true);
      p->SetPoint(second ? track[static_cast<size_t>(kRecords - 1 - i)] : track[static_cast<size_t>(i)]);
      p->SetColor(second ? kSecondColours[i % 4] : kFirstColours[i % 4]);
    }
    layer_.SetDisplaySize(40.0, false);
    MapRect all = layer_.GetBounds();
    view_.Resize(kWidth, kHeight);
    view_.ZoomToRect(all, false);
  }

  void TearDown() override { LayerRenderer::SetDrawThreads(0); }

  QImage Paint(int threads) {
    LayerRenderer::SetDrawThreads(threads);
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    QPainterCanvas canvas(painter);
    layer_.Draw(view_.Transform(), canvas);
    return image;
  }

  std::vector<bool> VisibleFlags() const {
    std::vector<bool> flags;
    for (Shape* s : layer_.Records()) flags.push_back(s->IsVisible());
    return flags;
  }

  // The pixel at the centre of a record's symbol.
  QRgb CentrePixel(const QImage& image, Shape* shape) const {
    MapPoint p = static_cast<PointShape*>(shape)->GetPoint();
    view_.Transform().WorldToDevice(p);
    return image.pixel(p.x, p.y);
  }

  TempDir dir_;
  Layer layer_;
  MapView view_;
};

struct Setting {
  const char* name;
  double sizeFt;
  bool border;
  bool shadows;   // some records filtered out, drawn as shadows
  bool select;    // some records selected
  bool indexed;
  bool zoomed;    // a view of part of the log, through the index's marks
};

TEST_F(LayeredDrawing, TwoAndThreeThreadsPaintAsOneWhereOrderDecides) {
  const Setting settings[] = {
      {"big outlined symbols", 40.0, true, false, false, false, false},
      {"big symbols without outline", 40.0, false, false, false, true, false},
      {"small symbols, outlines on and off", 3.0, true, false, false, true, false},
      {"shadows and a selection", 25.0, true, true, true, true, false},
      {"a part of the log through the index", 25.0, true, false, true, true, true},
      {"a part of the log walking", 60.0, false, true, false, false, true},
  };
  for (const Setting& s : settings) {
    layer_.SetDisplaySize(s.sizeFt, false);
    layer_.SetDrawBorder(s.border);
    layer_.SetSpatialIndexUsed(s.indexed);
    layer_.ClearSelection();
    int n = 0;
    for (Shape* shape : layer_.Records()) {
      shape->SetFilterFlags(s.shadows && ++n % 13 == 0 ? kFilterBoomOff : kComputedRecordFlags);
      if (s.select && n % 29 == 0) layer_.Select(shape);
    }
    layer_.ApplyFilter();
    MapRect all = layer_.GetBounds();
    if (s.zoomed) {
      const int32_t w = (all.right - all.left) / 4, h = (all.bottom - all.top) / 4;
      const int32_t cx = (all.left + all.right) / 2, cy = (all.top + all.bottom) / 2;
      MapRect part{cx - w, cy - h, cx + w, cy + h};
      view_.ZoomToRect(part, false);
    } else {
      view_.ZoomToRect(all, false);
    }

    const QImage one = Paint(1);
    const std::vector<bool> oneFlags = VisibleFlags();
    EXPECT_EQ(LayerRenderer::LastSymbolPath(), LayerRenderer::SymbolPath::OneThread) << s.name;
    for (int threads : {2, 3}) {
      const QImage layered = Paint(threads);
      EXPECT_EQ(LayerRenderer::LastSymbolPath(), LayerRenderer::SymbolPath::Layers) << s.name;
      ASSERT_TRUE(layered == one) << s.name << ", " << threads << " threads";
      ASSERT_EQ(VisibleFlags(), oneFlags) << s.name << ", " << threads << " threads";
    }
  }
}

// Where the two passes meet, the later one shows: the last record's symbol
// centre has its colour, not that of the first-half record beneath it.
TEST_F(LayeredDrawing, TheSecondPassCoversTheFirst) {
  layer_.SetDisplaySize(40.0, true);
  layer_.SetDrawBorder(true);
  const QImage layered = Paint(2);
  ASSERT_EQ(LayerRenderer::LastSymbolPath(), LayerRenderer::SymbolPath::Layers);
  Shape* last = layer_.Records().back();
  Shape* beneath = layer_.Records().front();  // the same place, in the first half
  ASSERT_EQ(static_cast<PointShape*>(last)->GetPoint(), static_cast<PointShape*>(beneath)->GetPoint());
  const auto pixelOf = [](Color c) { return qRgb(RedOf(c), GreenOf(c), BlueOf(c)); };
  ASSERT_NE(pixelOf(last->GetColor()), pixelOf(beneath->GetColor()));
  EXPECT_EQ(CentrePixel(layered, last), pixelOf(last->GetColor()));
  EXPECT_TRUE(layered == Paint(1));
}

// A line among the points: the threads give the layers up and the bands
// draw it in its place, as one thread does.
TEST_F(LayeredDrawing, ARecordThatDrawsItselfGivesTheLayersUp) {
  Shape* line = layer_.CreateRecord(kRecordLine, kRecords + 1, true);
  const MapPoint pts[] = {{kLeft + 95000, kTop + 55000}, {kLeft + 105000, kTop + 65000}};
  line->AddPoints(pts, 2);
  line->SetColor(0x2080F0);
  for (int i = 0; i < 500; ++i) {
    Shape* p = layer_.CreateRecord(kRecordPoint, kRecords + 2 + i, true);
    p->SetPoint({kLeft + 95000 + 20 * i, kTop + 55000 + 20 * i});
    p->SetColor(0x808000);
  }
  const QImage one = Paint(1);
  const QImage two = Paint(2);
  EXPECT_EQ(LayerRenderer::LastSymbolPath(), LayerRenderer::SymbolPath::Bands);
  EXPECT_TRUE(two == one);
}

// A real log drawn at 1920 by 1080 with two threads, whole and zoomed in,
// with shadows: the one-thread picture and flags.
TEST(LayeredDrawingRealLog, TwoThreadsPaintAsOne) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  test::TempDir dir;
  Layer layer;
  ASSERT_TRUE(test::OpenAndLoad(layer, test::CopyFileSet(data / "field/yield-simple1.shp", dir.path()).string()));
  int n = 0;
  for (Shape* s : layer.Records()) s->SetFilterFlags(++n % 11 == 0 ? kFilterBoomOff : kComputedRecordFlags);
  layer.ApplyFilter();
  MapView view;
  view.Resize(1920, 1080);
  const MapRect all = layer.GetBounds();
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
  const int32_t w = all.right - all.left, h = all.bottom - all.top;
  const MapRect views[] = {all, {all.left + w / 3, all.top + h / 3, all.left + w / 2, all.top + h / 2}};
  for (MapRect r : views) {
    view.ZoomToRect(r, false);
    const auto one = paint(1);
    const auto two = paint(2);
    EXPECT_EQ(LayerRenderer::LastSymbolPath(), LayerRenderer::SymbolPath::Layers);
    EXPECT_TRUE(one.first == two.first);
    EXPECT_EQ(one.second, two.second);
  }
  LayerRenderer::SetDrawThreads(0);
}

}  // namespace
}  // namespace kestrune
