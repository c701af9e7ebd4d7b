// What the map window's repaints cost with a large point log open.
//
// Data: a point log made by
//   python3 ../shared/tools/make_field_log.py /tmp/pts --points 1000000
// (KESTRUNE_BENCH_POINTS names another ".shp"), copied to a temporary folder and shown whole in a 1600 x 900
// map window on the offscreen platform.
//   BM_FullRepaint     every layer drawn again (a zoom, a new file);
//   BM_PartRepaint     a 120 x 80 pixel part drawn again (a cleared selection);
//   BM_BandMove        one move of a drag's rubber band (the layers are not drawn).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QMouseEvent>

#include <cstdlib>
#include <memory>
#include <string>

#include "BenchData.h"
#include "layers/LayerList.h"
#include "mapview/gui/CMapWnd.h"

namespace {

using namespace kestrune;

std::string DataPath() {
  const char* env = std::getenv("KESTRUNE_BENCH_POINTS");
  return env ? env : "/tmp/pts/points.shp";
}

// The layer list with the log and a map window showing all of it, made once.
struct Scene {
  std::unique_ptr<bench::DataCopy> copy;
  std::unique_ptr<LayerList> layers;
  std::unique_ptr<CMapWnd> map;
  bool ok = false;
};

std::unique_ptr<Scene> g_scene;

// Loads the log and shows it whole, once; the window goes before the application.
Scene& GetScene() {
  if (g_scene) return *g_scene;
  g_scene = std::make_unique<Scene>();
  Scene& s = *g_scene;
  // A copy: whatever the layer writes to its ".gpe" stays out of the data set.
  s.copy = std::make_unique<bench::DataCopy>(DataPath(), false);
  s.layers = std::make_unique<LayerList>();
  Layer* layer = s.layers->AddLayer(s.copy->Shp(), true);
  if (!layer) return s;
  s.layers->SetActiveLayer(layer);
  s.map = std::make_unique<CMapWnd>();
  s.map->SetLayers(s.layers.get());
  s.map->resize(1600, 900);
  s.map->show();
  QApplication::processEvents();
  MapRect bounds = layer->GetBounds();
  s.map->GetMapView().ZoomToRect(bounds, true);
  s.map->repaint();
  s.ok = true;
  return s;
}

// Sends a mouse event to the map window.
void Mouse(CMapWnd& map, QEvent::Type type, const QPoint& at, Qt::MouseButtons buttons) {
  QMouseEvent event(type, QPointF(at), QPointF(map.mapToGlobal(at)), Qt::LeftButton, buttons, Qt::NoModifier);
  QApplication::sendEvent(&map, &event);
}

void BM_FullRepaint(benchmark::State& state) {
  Scene& s = GetScene();
  if (!s.ok) {
    state.SkipWithError("no point log; see the comment at the top");
    return;
  }
  for (auto _ : state) {
    s.map->InvalidateMap(true);
    s.map->repaint();
  }
}

void BM_PartRepaint(benchmark::State& state) {
  Scene& s = GetScene();
  if (!s.ok) {
    state.SkipWithError("no point log; see the comment at the top");
    return;
  }
  for (auto _ : state) {
    s.map->InvalidateRect(DeviceRect{700, 400, 820, 480}, true);
    s.map->repaint(QRect(700, 400, 120, 80));
  }
}

void BM_BandMove(benchmark::State& state) {
  Scene& s = GetScene();
  if (!s.ok) {
    state.SkipWithError("no point log; see the comment at the top");
    return;
  }
  Mouse(*s.map, QEvent::MouseButtonPress, QPoint(100, 100), Qt::LeftButton);
  int step = 0;
  for (auto _ : state) {
    const QPoint to(300 + step % 400, 200 + step % 300);
    ++step;
    Mouse(*s.map, QEvent::MouseMove, to, Qt::LeftButton);
    s.map->repaint();
  }
  Mouse(*s.map, QEvent::MouseButtonRelease, QPoint(100, 100), Qt::NoButton);
}

BENCHMARK(BM_FullRepaint)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_PartRepaint)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_BandMove)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

// Runs the measurements in a widget application on the offscreen platform.
int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  g_scene.reset();
  return 0;
}
