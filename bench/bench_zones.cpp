// Summary by zones and the statistics of a field on a large log: the log's
// points by 100 zones, a 40-bin histogram, quantile and natural breaks and the
// value statistics, each beside the floor of one plain pass over the values.
//
// The log and the zones are written by make_field_log.py (--points N,
// --polygons 100) once under the temp folder; N is KESTRUNE_BENCH_POINTS
// (default 1,000,000); KESTRUNE_BENCH_ZONES may name another zone file.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <QCoreApplication>

#include "layers/Classes.h"
#include "layers/Layer.h"
#include "layers/LayerList.h"
#include "shapes/DbfTable.h"
#include "zones/ZoneSummary.h"

namespace fs = std::filesystem;
using namespace kestrune;

namespace {

long Points() {
  const char* env = std::getenv("KESTRUNE_BENCH_POINTS");
  return env ? std::atol(env) : 1000000L;
}

const fs::path& DataDir() {
  static const fs::path dir = [] {
    const fs::path d = fs::temp_directory_path() / ("kestrune-bench-zones-" + std::to_string(Points()));
    if (!fs::exists(d / "points.shp") || !fs::exists(d / "zones.shp")) {
      const std::string command = "/usr/bin/python3 '" + std::string(KESTRUNE_BENCH_TOOLS) + "/make_field_log.py' '" +
                                  d.string() + "' --points " + std::to_string(Points()) + " --polygons 100";
      if (std::system(command.c_str()) != 0) std::fprintf(stderr, "could not run %s\n", command.c_str());
    }
    return d;
  }();
  return dir;
}

struct Loaded {
  LayerList list;
  Layer* zones = nullptr;
  Layer* log = nullptr;
  int rate = 0;
  std::vector<double> values;
  Loaded() {
    // KESTRUNE_BENCH_ZONES names another zone file: the generated zones sit in
    // one corner of the log, so a file of zones covering the whole log shows
    // the zone pass at its full cost.
    const char* zonesFile = std::getenv("KESTRUNE_BENCH_ZONES");
    zones = list.AddLayer(zonesFile && *zonesFile ? std::string(zonesFile) : (DataDir() / "zones.shp").string(), true);
    log = list.AddLayer((DataDir() / "points.shp").string(), true);
    DbfTable table;
    if (log && table.Open(log->GetTablePath())) {
      rate = FindFieldByName(table, "Rate", true);
      table.ReadNumberColumn(rate, values);
    }
  }
};

Loaded& Data() {
  static Loaded loaded;
  return loaded;
}

// The floor: one pass adding up the values in memory.
void BM_PlainPass(benchmark::State& state) {
  const std::vector<double>& v = Data().values;
  for (auto _ : state) {
    double sum = 0.0;
    for (double x : v) sum += x;
    benchmark::DoNotOptimize(sum);
  }
  state.counters["values"] = static_cast<double>(v.size());
}
BENCHMARK(BM_PlainPass)->Unit(benchmark::kMillisecond);

// The floor of reading the one column from the table.
void BM_ReadColumn(benchmark::State& state) {
  for (auto _ : state) {
    DbfTable table;
    std::vector<double> v;
    table.Open(Data().log->GetTablePath());
    table.ReadNumberColumn(Data().rate, v);
    benchmark::DoNotOptimize(v.data());
  }
}
BENCHMARK(BM_ReadColumn)->Unit(benchmark::kMillisecond);

void BM_ZonesSummary(benchmark::State& state) {
  Loaded& d = Data();
  ZoneSummaryRequest request;
  request.fields = {d.rate};
  int64_t counted = 0;
  for (auto _ : state) {
    ZoneSummary summary;
    if (!SummariseByZones(*d.zones, *d.log, request, summary)) state.SkipWithError("summary failed");
    counted = summary.outside.count;
    for (const ZoneRow& row : summary.zones) counted += row.count;
  }
  state.counters["records"] = static_cast<double>(counted);
  state.counters["zones"] = 100;
}
// The summary works in two threads: its CPU time is the process's.
BENCHMARK(BM_ZonesSummary)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

// The same through the general passes (whole columns, then steps, zones and
// the outside), which a log with lines or areas takes.
void BM_ZonesSummaryGeneral(benchmark::State& state) {
  Loaded& d = Data();
  ZoneSummaryRequest request;
  request.fields = {d.rate};
  request.onePointPass = false;
  for (auto _ : state) {
    ZoneSummary summary;
    if (!SummariseByZones(*d.zones, *d.log, request, summary)) state.SkipWithError("summary failed");
  }
}
BENCHMARK(BM_ZonesSummaryGeneral)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

void BM_Histogram40(benchmark::State& state) {
  const std::vector<double>& v = Data().values;
  const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
  for (auto _ : state) benchmark::DoNotOptimize(Histogram(v, *lo, *hi, 40).data());
}
BENCHMARK(BM_Histogram40)->Unit(benchmark::kMillisecond);

// Quantiles need the values sorted: the sort is part of the cost.
void BM_Quantiles(benchmark::State& state) {
  for (auto _ : state) {
    std::vector<double> v = Data().values;
    std::sort(v.begin(), v.end());
    benchmark::DoNotOptimize(ClassBreaks(ClassMethod::Quantiles, v, 5).data());
  }
}
BENCHMARK(BM_Quantiles)->Unit(benchmark::kMillisecond);

void BM_NaturalBreaksSample(benchmark::State& state) {
  std::vector<double> v = Data().values;
  std::sort(v.begin(), v.end());
  for (auto _ : state) benchmark::DoNotOptimize(ClassBreaks(ClassMethod::NaturalBreaks, v, 5).data());
}
BENCHMARK(BM_NaturalBreaksSample)->Unit(benchmark::kMillisecond);

void BM_ValueStats(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(ComputeValueStats(Data().values).p95);
}
BENCHMARK(BM_ValueStats)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
