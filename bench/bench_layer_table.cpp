// The Layer Table on a 1,000,000-point applicator log: opening the table (and
// a table view over it), scrolling it a page at a time, and sorting it by a
// number and by a text column.
//
// The table is KESTRUNE_BENCH_TABLE when set; otherwise the points.dbf that
// make_field_log.py writes for --points 1000000, generated once under the temp
// folder (never beside the sources).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include <QApplication>
#include <QScrollBar>
#include <QTableView>

#include "attributes/LayerTable.h"
#include "mapview/gui/LayerTablePanel.h"

namespace fs = std::filesystem;

namespace {

// The table to measure.
const std::string& TablePath() {
  static const std::string path = [] {
    if (const char* env = std::getenv("KESTRUNE_BENCH_TABLE")) return std::string(env);
    const fs::path dir = fs::temp_directory_path() / "kestrune-bench-table";
    const fs::path dbf = dir / "points.dbf";
    if (!fs::exists(dbf)) {
      const std::string tool = std::string(KESTRUNE_BENCH_TOOLS) + "/make_field_log.py";
      const std::string command = "/usr/bin/python3 '" + tool + "' '" + dir.string() + "' --points 1000000";
      if (std::system(command.c_str()) != 0) std::fprintf(stderr, "could not run %s\n", command.c_str());
    }
    return dbf.string();
  }();
  return path;
}

// Resident memory in kB, from /proc.
long ResidentKb() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      long kb = 0;
      status >> kb;
      return kb;
    }
  }
  return 0;
}

// The fields, the record count and the encoding.
void BM_OpenTable(benchmark::State& state) {
  for (auto _ : state) {
    kestrune::LayerTable table;
    if (!table.Open(TablePath())) state.SkipWithError("no table");
    benchmark::DoNotOptimize(table.RowCount());
  }
}
BENCHMARK(BM_OpenTable)->Unit(benchmark::kMillisecond);

// A table view over the model, shown and painted once; the memory it adds.
void BM_OpenInView(benchmark::State& state) {
  long added = 0;
  int rows = 0;
  for (auto _ : state) {
    const long before = ResidentKb();
    kestrune::LayerTableItemModel model;
    if (!model.SetTable(TablePath())) state.SkipWithError("no table");
    QTableView view;
    view.resize(1000, 400);
    view.setModel(&model);
    view.grab();
    added = std::max(added, ResidentKb() - before);
    rows = model.rowCount();
  }
  state.counters["rows"] = double(rows);
  state.counters["addedKB"] = double(added);
}
BENCHMARK(BM_OpenInView)->Unit(benchmark::kMillisecond)->Iterations(3);

// One page of the view's rows (40) at a random place, every cell formatted.
void BM_ScrollPageCells(benchmark::State& state) {
  kestrune::LayerTable table;
  if (!table.Open(TablePath())) state.SkipWithError("no table");
  std::mt19937 random(3);
  for (auto _ : state) {
    const int top = int(random() % unsigned(table.RowCount() - 40));
    for (int r = top; r < top + 40; ++r) {
      for (int c = 0; c < table.ColumnCount(); ++c) benchmark::DoNotOptimize(table.Text(r, c));
    }
  }
}
BENCHMARK(BM_ScrollPageCells)->Unit(benchmark::kMicrosecond);

// The view scrolled to a random place and painted, as a drag of the scroll bar does.
void BM_ScrollViewPaint(benchmark::State& state) {
  kestrune::LayerTableItemModel model;
  if (!model.SetTable(TablePath())) state.SkipWithError("no table");
  QTableView view;
  view.resize(1000, 400);
  view.setModel(&model);
  view.grab();
  std::mt19937 random(5);
  for (auto _ : state) {
    QScrollBar* bar = view.verticalScrollBar();
    bar->setValue(int(random() % unsigned(bar->maximum())));
    benchmark::DoNotOptimize(view.grab());
  }
}
BENCHMARK(BM_ScrollViewPaint)->Unit(benchmark::kMillisecond);

// Sorting by the applied rate (a number), both ways.
void BM_SortByNumber(benchmark::State& state) {
  kestrune::LayerTable table;
  if (!table.Open(TablePath())) state.SkipWithError("no table");
  bool ascending = true;
  for (auto _ : state) {
    table.Sort(0, ascending);
    ascending = !ascending;
  }
  state.counters["bytesPerRow"] = double(table.BytesPerRow());
}
BENCHMARK(BM_SortByNumber)->Unit(benchmark::kMillisecond);

// Sorting by the product (a text column).
void BM_SortByText(benchmark::State& state) {
  kestrune::LayerTable table;
  if (!table.Open(TablePath())) state.SkipWithError("no table");
  for (auto _ : state) table.Sort(5, true);
}
BENCHMARK(BM_SortByText)->Unit(benchmark::kMillisecond);

// One find over every row: the applied rate of 0.
void BM_FindRateZero(benchmark::State& state) {
  kestrune::LayerTable table;
  if (!table.Open(TablePath())) state.SkipWithError("no table");
  for (auto _ : state) {
    benchmark::DoNotOptimize(table.Find({0, kestrune::FindOperator::Equal, QStringLiteral("0")}));
  }
}
BENCHMARK(BM_FindRateZero)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  TablePath();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
