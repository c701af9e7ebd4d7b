// Sorting the Layer Table panel of a point log with part of it selected: the
// sort, the selection put back on the rows and one paint of the view, for a
// selection of 0 records and of a tenth of the log.
//
// Data: KESTRUNE_BENCH_POINTS names a ".shp"; otherwise make_field_log.py
// writes KESTRUNE_BENCH_ROWS points (default 1,000,000) once under the temp
// folder. The log is copied before it is opened.
//   BM_SortSelected/0        nothing selected
//   BM_SortSelected/10       every tenth record selected at random
// The acceptance bound is the second at most 1.5 times the first.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTableView>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "BenchData.h"
#include "layers/LayerList.h"
#include "mapview/gui/LayerTablePanel.h"

namespace {

using namespace kestrune;
namespace fs = std::filesystem;

std::string DataPath() {
  if (const char* env = std::getenv("KESTRUNE_BENCH_POINTS")) return env;
  const char* rowsEnv = std::getenv("KESTRUNE_BENCH_ROWS");
  const std::string rows = rowsEnv ? rowsEnv : "1000000";
  const fs::path dir = fs::temp_directory_path() / ("kestrune-bench-sort-" + rows);
  const fs::path shp = dir / "points.shp";
  if (!fs::exists(shp)) {
    const std::string tool = std::string(KESTRUNE_BENCH_TOOLS) + "/make_field_log.py";
    const std::string command = "/usr/bin/python3 '" + tool + "' '" + dir.string() + "' --points " + rows;
    if (std::system(command.c_str()) != 0) std::fprintf(stderr, "could not run %s\n", command.c_str());
  }
  return shp.string();
}

struct Scene {
  std::unique_ptr<bench::DataCopy> copy;
  std::unique_ptr<LayerList> layers;
  std::unique_ptr<CLayerTablePanel> panel;
  Layer* layer = nullptr;
};
std::unique_ptr<Scene> g_scene;

Scene& GetScene() {
  if (g_scene) return *g_scene;
  g_scene = std::make_unique<Scene>();
  Scene& s = *g_scene;
  s.copy = std::make_unique<bench::DataCopy>(DataPath(), false);
  s.layers = std::make_unique<LayerList>();
  s.layer = s.layers->AddLayer(s.copy->Shp(), true);
  if (!s.layer) return s;
  s.layers->SetActiveLayer(s.layer);
  s.panel = std::make_unique<CLayerTablePanel>();
  s.panel->SetLayers(s.layers.get());
  s.panel->resize(1200, 500);
  s.panel->show();
  s.panel->ShowLayer(s.layer);
  QApplication::processEvents();
  return s;
}

// Selects every record with a chance of one in ten (none for 0), then sorts
// by the rate and the product in turn, each followed by one paint.
void BM_SortSelected(benchmark::State& state) {
  Scene& s = GetScene();
  if (!s.layer) {
    state.SkipWithError("no point log");
    return;
  }
  s.layer->ClearSelection();
  const int percent = int(state.range(0));
  if (percent > 0) {
    std::mt19937 random(11);
    std::vector<Shape*> chosen;
    for (Shape* shape : s.layer->Records()) {
      if (int(random() % 100) < percent) chosen.push_back(shape);
    }
    s.layer->SelectRecords(chosen);
  }
  QApplication::processEvents();
  int column = 0;
  for (auto _ : state) {
    s.panel->Model()->sort(column, Qt::AscendingOrder);
    benchmark::DoNotOptimize(s.panel->View()->grab());
    column = column == 0 ? 5 : 0;
  }
  state.counters["selected"] = double(s.layer->GetSelectionCount());
  state.counters["rows"] = double(s.panel->Model()->rowCount());
}
BENCHMARK(BM_SortSelected)->Arg(0)->Arg(10)->Unit(benchmark::kMillisecond)->Iterations(4);

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
