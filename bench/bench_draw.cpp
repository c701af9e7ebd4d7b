// Drawing and loading a large point log.
//
// Data: a point log made by
//   python3 ../shared/tools/make_field_log.py /tmp/pts --points 1000000
// (KESTRUNE_BENCH_POINTS names another ".shp"), copied into a temporary
// folder whose ".gpe" colours it by its "Rate" field, and drawn at full extent
// into a 1920x1080 image.
//
// Drawing, measured in one run:
//   BM_Floor            the same outlined squares written straight into the
//                       image memory from a prepared array (the least any
//                       drawing can cost);
//   BM_FloorRows        the same, squares inside the image written row by row
//                       without clipping each side (the writer's shortcut);
//   BM_LayerDraw        Layer::Draw through the QPainter canvas (the viewer's path),
//                       on all cores;
//   BM_LayerDrawOneThread  the same on one thread;
//   BM_LayerDrawWalk    the same walking every record, without the spatial index;
//   BM_RecordByRecord   every record drawing itself through the QPainter canvas;
//   BM_NaiveDrawRect    QPainter setBrush + drawRect per record from the prepared array.
// Loading:
//   BM_LoadGeometry     the shape file reader into a plain record holder;
//   BM_LoadLayer        Layer Open + Load with its values, legend and colours.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "BenchData.h"
#include "geo/gui/QPainterCanvas.h"
#include "layers/Layer.h"
#include "layers/LayerRenderer.h"
#include "mapview/MapView.h"
#include "shapes/ShapeCollection.h"
#include "shapes/ShapeFileReader.h"

namespace {

using namespace kestrune;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

std::string DataPath() {
  const char* env = std::getenv("KESTRUNE_BENCH_POINTS");
  return env ? env : "/tmp/pts/points.shp";
}

// A square as drawn: its box (right and bottom excluded) and its fill pixel.
struct Square {
  int left, top, right, bottom;
  uint32_t fill;
};

// The loaded layer, its full-extent view and the squares it draws, made once.
struct Scene {
  std::unique_ptr<bench::DataCopy> copy;
  std::unique_ptr<Layer> layer;
  MapView view;
  std::vector<Square> squares;
  bool ok = false;
};

uint32_t ToPixel(Color c) {
  return 0xFF000000u | (static_cast<uint32_t>(RedOf(c)) << 16) | (static_cast<uint32_t>(GreenOf(c)) << 8) |
         static_cast<uint32_t>(BlueOf(c));
}

// Records the symbol boxes a drawing produces, to build the prepared array.
class BoxCollector : public Canvas {
 public:
  void SetPen(const Pen& pen) override { pen_ = pen; }
  void SetBrush(const Brush& brush) override { brush_ = brush; }
  Pen GetPen() const override { return pen_; }
  Brush GetBrush() const override { return brush_; }
  bool Polyline(const DevicePoint*, int) override { return true; }
  bool PolyPolygon(const DevicePoint*, const int*, int) override { return true; }
  bool Ellipse(int, int, int, int) override { return true; }
  bool RectVisible(const DeviceRect&) const override { return true; }
  bool Rectangle(int l, int t, int r, int b) override {
    squares.push_back({l, t, r, b, ToPixel(brush_.color)});
    return true;
  }
  std::vector<Square> squares;

 private:
  Pen pen_;
  Brush brush_;
};

Scene& GetScene() {
  static Scene scene = [] {
    Scene s;
    const std::string path = DataPath();
    if (!std::filesystem::exists(path)) return s;
    // The copy's ".gpe" colours by Rate; the data set is only read.
    s.copy = std::make_unique<bench::DataCopy>(path, true);
    s.layer = std::make_unique<Layer>();
    s.layer->SetPathName(s.copy->Shp());
    if (!s.layer->Open() || !s.layer->Load()) return s;
    s.view.Resize(kWidth, kHeight);
    s.view.ZoomAll({s.layer->GetBounds()});
    BoxCollector collector;
    s.layer->Draw(s.view.Transform(), collector);
    s.squares = std::move(collector.squares);
    s.ok = true;
    return s;
  }();
  return scene;
}

QImage NewImage() {
  QImage image(kWidth, kHeight, QImage::Format_RGB32);
  image.fill(Qt::white);
  return image;
}

void Fill(uint32_t* bits, int stride, int l, int t, int r, int b, uint32_t pixel) {
  l = std::max(l, 0);
  t = std::max(t, 0);
  r = std::min(r, kWidth);
  b = std::min(b, kHeight);
  for (int y = t; y < b; ++y) std::fill(bits + y * stride + l, bits + y * stride + r, pixel);
}

void BM_Floor(benchmark::State& state) {
  Scene& scene = GetScene();
  if (!scene.ok) {
    state.SkipWithError("no point log; see the file's comment");
    return;
  }
  QImage image = NewImage();
  for (auto _ : state) {
    image.fill(Qt::white);
    auto* bits = reinterpret_cast<uint32_t*>(image.bits());
    const int stride = static_cast<int>(image.bytesPerLine() / 4);
    for (const Square& s : scene.squares) {
      Fill(bits, stride, s.left + 1, s.top + 1, s.right - 1, s.bottom - 1, s.fill);
      Fill(bits, stride, s.left, s.top, s.right, s.top + 1, 0xFF000000u);
      Fill(bits, stride, s.left, s.bottom - 1, s.right, s.bottom, 0xFF000000u);
      Fill(bits, stride, s.left, s.top + 1, s.left + 1, s.bottom - 1, 0xFF000000u);
      Fill(bits, stride, s.right - 1, s.top + 1, s.right, s.bottom - 1, 0xFF000000u);
    }
    benchmark::DoNotOptimize(image.constBits());
  }
  state.counters["squares"] = static_cast<double>(scene.squares.size());
}

// The floor again, with the shortcut the viewer's writer takes: a square
// wholly inside the image is written row by row without clipping each side.
void BM_FloorRows(benchmark::State& state) {
  Scene& scene = GetScene();
  if (!scene.ok) {
    state.SkipWithError("no point log; see the file's comment");
    return;
  }
  QImage image = NewImage();
  for (auto _ : state) {
    image.fill(Qt::white);
    auto* bits = reinterpret_cast<uint32_t*>(image.bits());
    const int stride = static_cast<int>(image.bytesPerLine() / 4);
    for (const Square& s : scene.squares) {
      const int w = s.right - s.left;
      if (s.left >= 0 && s.top >= 0 && s.right <= kWidth && s.bottom <= kHeight && w > 2 && s.bottom - s.top > 2) {
        uint32_t* row = bits + s.top * stride + s.left;
        std::fill(row, row + w, 0xFF000000u);
        for (int y = s.top + 1; y < s.bottom - 1; ++y) {
          row = bits + y * stride + s.left;
          row[0] = 0xFF000000u;
          std::fill(row + 1, row + w - 1, s.fill);
          row[w - 1] = 0xFF000000u;
        }
        row = bits + (s.bottom - 1) * stride + s.left;
        std::fill(row, row + w, 0xFF000000u);
        continue;
      }
      Fill(bits, stride, s.left + 1, s.top + 1, s.right - 1, s.bottom - 1, s.fill);
      Fill(bits, stride, s.left, s.top, s.right, s.top + 1, 0xFF000000u);
      Fill(bits, stride, s.left, s.bottom - 1, s.right, s.bottom, 0xFF000000u);
      Fill(bits, stride, s.left, s.top + 1, s.left + 1, s.bottom - 1, 0xFF000000u);
      Fill(bits, stride, s.right - 1, s.top + 1, s.right, s.bottom - 1, 0xFF000000u);
    }
    benchmark::DoNotOptimize(image.constBits());
  }
}

void BM_LayerDraw(benchmark::State& state) {
  Scene& scene = GetScene();
  if (!scene.ok) {
    state.SkipWithError("no point log; see the file's comment");
    return;
  }
  QImage image = NewImage();
  for (auto _ : state) {
    image.fill(Qt::white);
    QPainter painter(&image);
    QPainterCanvas canvas(painter);
    scene.layer->Draw(scene.view.Transform(), canvas);
  }
}

// The same on one thread: the parallel drawing's gain is BM_LayerDraw over this.
void BM_LayerDrawOneThread(benchmark::State& state) {
  LayerRenderer::SetDrawThreads(1);
  BM_LayerDraw(state);
  LayerRenderer::SetDrawThreads(0);
}

// The same with the spatial index turned off: the plain walk over the records,
// which a full-extent drawing through the index must not exceed.
void BM_LayerDrawWalk(benchmark::State& state) {
  Scene& scene = GetScene();
  if (scene.ok) scene.layer->SetSpatialIndexUsed(false);
  BM_LayerDraw(state);
  if (scene.ok) scene.layer->SetSpatialIndexUsed(true);
}

void BM_RecordByRecord(benchmark::State& state) {
  Scene& scene = GetScene();
  if (!scene.ok) {
    state.SkipWithError("no point log; see the file's comment");
    return;
  }
  QImage image = NewImage();
  const CMapTransform& transform = scene.view.Transform();
  for (auto _ : state) {
    image.fill(Qt::white);
    QPainter painter(&image);
    QPainterCanvas canvas(painter);
    Shape::PrepareView(transform);
    for (Shape* shape : scene.layer->Records()) {
      if (transform.IsWorldRectVisible(canvas, shape->GetHitBounds())) shape->Draw(transform, canvas);
    }
  }
}

void BM_NaiveDrawRect(benchmark::State& state) {
  Scene& scene = GetScene();
  if (!scene.ok) {
    state.SkipWithError("no point log; see the file's comment");
    return;
  }
  QImage image = NewImage();
  for (auto _ : state) {
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setPen(QPen(Qt::black, 0));
    for (const Square& s : scene.squares) {
      painter.setBrush(QColor::fromRgb(s.fill));
      painter.drawRect(QRect(s.left, s.top, s.right - s.left - 1, s.bottom - s.top - 1));
    }
  }
}

void BM_LoadGeometry(benchmark::State& state) {
  const std::string path = DataPath();
  if (!std::filesystem::exists(path)) {
    state.SkipWithError("no point log; see the file's comment");
    return;
  }
  size_t records = 0;
  for (auto _ : state) {
    ShapeCollection collection(path);
    ShapeFileReader reader;
    int coordKind = kCoordGeographic, shapeKind = 0;
    reader.CheckHeader(path, coordKind, kDefaultLayerDatum, kDefaultLayerZone, shapeKind);
    reader.LoadRecords(collection, coordKind, kDefaultLayerDatum, kDefaultLayerZone);
    records = collection.Records().size();
  }
  state.counters["records"] = static_cast<double>(records);
}

void BM_LoadLayer(benchmark::State& state) {
  const std::string path = DataPath();
  if (!std::filesystem::exists(path)) {
    state.SkipWithError("no point log; see the file's comment");
    return;
  }
  size_t records = 0;
  const bench::DataCopy copy(path, true);
  for (auto _ : state) {
    Layer layer;
    layer.SetPathName(copy.Shp());
    layer.Open();
    layer.Load();
    records = layer.GetRecordCount();
    benchmark::DoNotOptimize(layer.GetLegend().GetCount());
  }
  state.counters["records"] = static_cast<double>(records);
}

BENCHMARK(BM_Floor)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_FloorRows)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_LayerDraw)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_LayerDrawOneThread)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_LayerDrawWalk)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_RecordByRecord)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_NaiveDrawRect)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LoadGeometry)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_LoadLayer)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
