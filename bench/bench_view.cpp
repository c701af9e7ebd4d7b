// What the map window's work costs against what it is asked to show, with a
// large point log open, all measured in one run so the ratios hold on a busy
// machine.
//
// Data: a point log made by
//   python3 ../shared/tools/make_field_log.py /tmp/pts --points 10000000
// (KESTRUNE_BENCH_POINTS names another ".shp"). Its ".shp", ".shx" and ".dbf"
// are copied into a temporary folder, whose ".gpe" colours it by "Rate"; the
// data set's own files are only read. Shown whole in a 1920 x 1080 map window
// on the offscreen platform.
//   BM_Repaints     full repaint; repaint at 1/64 of the full area (ratio to
//                   full); a 120 x 80 part (ratio to full); a pan by a quarter
//                   of the window (ratio to full), and at 1/64 of the area,
//                   where the strips that come into view hold records (ratio
//                   to the repaint at 1/64); every record selected
//                   (ratio to none); each also with the walk over every record.
//   BM_HitTest      one click's hit test, with the index and with the walk.
//   BM_FindInRect   the records of a 200 x 200 pixel rectangle, against
//                   copying that many record pointers (the floor).
//   BM_Memory       resident bytes per record that loading the log adds.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "BenchData.h"
#include "layers/LayerList.h"
#include "mapview/gui/CMapWnd.h"

namespace {

using namespace kestrune;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

std::string SourcePath() {
  const char* env = std::getenv("KESTRUNE_BENCH_POINTS");
  return env ? env : "/tmp/pts/points.shp";
}

int64_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  int64_t pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * 4096;
}

struct Scene {
  std::unique_ptr<bench::DataCopy> copy;
  std::unique_ptr<LayerList> layers;
  std::unique_ptr<CMapWnd> map;
  Layer* layer = nullptr;
  MapRect full;
  double bytesPerRecord = 0;
  double loadMs = 0;
  bool ok = false;
};

std::unique_ptr<Scene> g_scene;

Scene& GetScene() {
  if (g_scene) return *g_scene;
  g_scene = std::make_unique<Scene>();
  Scene& s = *g_scene;
  if (!fs::exists(SourcePath())) return s;
  s.copy = std::make_unique<bench::DataCopy>(SourcePath(), true);
  s.layers = std::make_unique<LayerList>();
  malloc_trim(0);
  const int64_t before = ResidentBytes();
  const auto t0 = Clock::now();
  s.layer = s.layers->AddLayer(s.copy->Shp(), true);
  s.loadMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
  if (!s.layer) return s;
  malloc_trim(0);
  s.bytesPerRecord = static_cast<double>(ResidentBytes() - before) / static_cast<double>(s.layer->GetRecordCount());
  s.layers->SetActiveLayer(s.layer);
  s.map = std::make_unique<CMapWnd>();
  s.map->SetLayers(s.layers.get());
  s.map->resize(kWidth, kHeight);
  s.map->show();
  QApplication::processEvents();
  s.full = s.layer->GetBounds();
  s.map->GetMapView().ZoomToRect(s.full, true);
  s.map->repaint();
  s.ok = true;
  return s;
}

// The median milliseconds of runs of f.
template <class F>
double MedianMs(int runs, F f) {
  std::vector<double> ms;
  for (int i = 0; i < runs; ++i) {
    const auto t0 = Clock::now();
    f();
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
  }
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

void ShowFull(Scene& s) {
  MapRect r = s.full;
  s.map->GetMapView().ZoomToRect(r, true);
}

// Zooms to 1/64 of the full view's area about its centre.
void ShowSixtyFourth(Scene& s) {
  ShowFull(s);
  MapView& view = s.map->GetMapView();
  view.ZoomToWidth(view.Width() / 8);
}

// The median of arrow-key pans right and left in turn, each with its repaint.
double PanRepaint(Scene& s) {
  int pans = 0;
  return MedianMs(8, [&] {
    if (pans++ % 2 == 0) {
      s.map->GetMapView().PanRight();
    } else {
      s.map->GetMapView().PanLeft();
    }
    s.map->repaint();
  });
}

double FullRepaint(Scene& s) {
  return MedianMs(7, [&] {
    s.map->InvalidateMap(true);
    s.map->repaint();
  });
}

void Repaints(Scene& s, bool indexed, benchmark::State& state, const std::string& suffix) {
  s.layer->SetSpatialIndexUsed(indexed);
  ShowFull(s);
  const double full = FullRepaint(s);
  const double part = MedianMs(7, [&] {
    s.map->InvalidateRect(DeviceRect{900, 500, 1020, 580}, true);
    s.map->repaint(QRect(900, 500, 120, 80));
  });
  const double pan = PanRepaint(s);
  ShowSixtyFourth(s);
  const double zoomed = FullRepaint(s);
  const double zoomedPan = PanRepaint(s);
  ShowFull(s);
  // Every record selected, then none again.
  std::vector<Shape*> all(s.layer->Records().begin(), s.layer->Records().end());
  s.layer->SelectRecords(all);
  const double selected = FullRepaint(s);
  s.layer->ClearSelection();
  s.map->repaint();
  state.counters["full_ms" + suffix] = full;
  state.counters["sixtyfourth_ms" + suffix] = zoomed;
  state.counters["sixtyfourth_to_full" + suffix] = zoomed / full;
  state.counters["part_ms" + suffix] = part;
  state.counters["part_to_full" + suffix] = part / full;
  state.counters["pan_ms" + suffix] = pan;
  state.counters["pan_to_full" + suffix] = pan / full;
  state.counters["sixtyfourth_pan_ms" + suffix] = zoomedPan;
  state.counters["sixtyfourth_pan_to_sixtyfourth" + suffix] = zoomedPan / zoomed;
  state.counters["all_selected_ms" + suffix] = selected;
  state.counters["all_selected_to_none" + suffix] = selected / full;
}

void BM_Repaints(benchmark::State& state) {
  Scene& s = GetScene();
  if (!s.ok) {
    state.SkipWithError("no point log; see the comment at the top");
    return;
  }
  for (auto _ : state) {
    Repaints(s, true, state, "");
    Repaints(s, false, state, "_walk");
  }
  s.layer->SetSpatialIndexUsed(true);
  state.counters["records"] = static_cast<double>(s.layer->GetRecordCount());
}

// Map points under random pixels of the full view.
std::vector<MapPoint> RandomClicks(Scene& s, int count) {
  ShowFull(s);
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> x(0, kWidth - 1), y(0, kHeight - 1);
  std::vector<MapPoint> points;
  for (int i = 0; i < count; ++i) {
    const DevicePoint p{x(rng), y(rng)};
    MapPoint m;
    s.map->Transform().DeviceToWorld(&p, 1, &m);
    points.push_back(m);
  }
  return points;
}

void BM_HitTest(benchmark::State& state) {
  Scene& s = GetScene();
  if (!s.ok) {
    state.SkipWithError("no point log; see the comment at the top");
    return;
  }
  const std::vector<MapPoint> clicks = RandomClicks(s, 200);
  Shape::PrepareView(s.map->Transform());
  for (auto _ : state) {
    s.layer->SetSpatialIndexUsed(true);
    size_t hits = 0;
    const double indexed = MedianMs(3, [&] {
      for (const MapPoint& p : clicks) hits += s.layer->HitTestPoint(p) != nullptr;
    });
    s.layer->SetSpatialIndexUsed(false);
    const double walked = MedianMs(1, [&] {
      for (size_t i = 0; i < 10; ++i) s.layer->HitTestPoint(clicks[i]);
    });
    s.layer->SetSpatialIndexUsed(true);
    state.counters["hit_ms"] = indexed / static_cast<double>(clicks.size());
    state.counters["hit_ms_walk"] = walked / 10.0;
    state.counters["hits_per_run"] = static_cast<double>(hits) / 3.0;
  }
}

void BM_FindInRect(benchmark::State& state) {
  Scene& s = GetScene();
  if (!s.ok) {
    state.SkipWithError("no point log; see the comment at the top");
    return;
  }
  ShowFull(s);
  const DevicePoint corners[2] = {{kWidth / 2 - 100, kHeight / 2 - 100}, {kWidth / 2 + 100, kHeight / 2 + 100}};
  MapPoint m[2];
  s.map->Transform().DeviceToWorld(corners, 2, m);
  const MapRect rect{std::min(m[0].x, m[1].x), std::min(m[0].y, m[1].y), std::max(m[0].x, m[1].x),
                     std::max(m[0].y, m[1].y)};
  for (auto _ : state) {
    std::vector<Shape*> found;
    const double find = MedianMs(31, [&] { found = s.layer->FindInRect(rect); });
    std::vector<Shape*> copied;
    const double copy = MedianMs(31, [&] {
      copied = std::vector<Shape*>(found.begin(), found.end());
      benchmark::DoNotOptimize(copied.data());
    });
    s.layer->SetSpatialIndexUsed(false);
    const double walked = MedianMs(1, [&] { benchmark::DoNotOptimize(s.layer->FindInRect(rect).size()); });
    s.layer->SetSpatialIndexUsed(true);
    state.counters["find_ms"] = find;
    state.counters["copy_ms"] = copy;
    state.counters["find_to_copy"] = find / copy;
    state.counters["find_ms_walk"] = walked;
    state.counters["found"] = static_cast<double>(found.size());
  }
}

void BM_Memory(benchmark::State& state) {
  Scene& s = GetScene();
  if (!s.ok) {
    state.SkipWithError("no point log; see the comment at the top");
    return;
  }
  for (auto _ : state) {
  }
  state.counters["bytes_per_record"] = s.bytesPerRecord;
  state.counters["load_ms"] = s.loadMs;
  state.counters["index_bytes_per_record"] =
      static_cast<double>(s.layer->GetSpatialIndex().MemoryBytes()) / static_cast<double>(s.layer->GetRecordCount());
}

BENCHMARK(BM_Memory)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Repaints)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HitTest)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindInRect)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  g_scene.reset();
  return 0;
}
