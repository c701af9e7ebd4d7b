// Loading shape files into records, against the floor of the same work: the
// whole file read into memory and every point projected with the sphere
// Mercator, nothing more. Both run in the same process, iteration by iteration,
// and every benchmark reports its ratio to the floor. LayerAgainstFloor loads
// a whole layer (values, legend, colours, index and bounds) from a copy of the
// data coloured by Rate; FirstLayerLoad does so in a fresh process.
//
// Data: python3 make_field_log.py DIR --points 1000000 --polygons 100000
// then run with KESTRUNE_BENCH_DATA=DIR (default /tmp/kbench), or with the
// file paths in KESTRUNE_BENCH_POINTS and KESTRUNE_BENCH_POLYGONS.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BenchData.h"
#include "base/Platform.h"
#include "layers/Layer.h"
#include "shapes/ShapeCollection.h"
#include "shapes/ShapeFileReader.h"

namespace {

using namespace kestrune;
using Clock = std::chrono::steady_clock;

std::string DataPath(const char* env, const char* name) {
  if (const char* p = std::getenv(env)) return p;
  const char* dir = std::getenv("KESTRUNE_BENCH_DATA");
  return (std::filesystem::path(dir ? dir : "/tmp/kbench") / name).string();
}

// Resident set size in bytes.
int64_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  int64_t pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * 4096;
}

int32_t Le32(const unsigned char* b) {
  int32_t v;
  std::memcpy(&v, b, 4);
  return v;
}
double LeDouble(const unsigned char* b) {
  double v;
  std::memcpy(&v, b, 8);
  return v;
}

// The sphere Mercator of the map, in map units, written out for the floor.
inline void Mercator(double lat, double lon, int32_t& x, int32_t& y) {
  constexpr double kR = 6370997.0, kToRad = 1.0 / 57.29577951308232, kPi = 3.14159265358979323846;
  x = static_cast<int32_t>(kR * lon * kToRad * 50.0 + 1050000000.0 + 0.5);
  y = static_cast<int32_t>(1050000000.0 - kR * std::log(std::tan(kPi / 4.0 + lat * kToRad / 2.0)) * 50.0 + 0.5);
}

// The floor: read the file whole, walk its records, project every point.
int64_t Floor(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(0, std::ios::end);
  const size_t size = static_cast<size_t>(in.tellg());
  in.seekg(0);
  std::vector<unsigned char> bytes(size);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
  int64_t sum = 0, points = 0;
  size_t at = 100;
  while (at + 12 <= size) {
    const int32_t type = Le32(&bytes[at + 8]);
    at += 12;
    const unsigned char* xy = nullptr;
    size_t n = 0;
    if (type == 1) {
      xy = &bytes[at];
      n = 1;
      at += 16;
    } else if (type == 3 || type == 5) {
      const int32_t parts = Le32(&bytes[at + 32]);
      n = static_cast<size_t>(Le32(&bytes[at + 36]));
      xy = &bytes[at + 40 + 4 * static_cast<size_t>(parts)];
      at += 40 + 4 * static_cast<size_t>(parts) + 16 * n;
    }
    if (at > size) break;
    for (size_t i = 0; i < n; ++i) {
      int32_t x, y;
      Mercator(LeDouble(xy + 16 * i + 8), LeDouble(xy + 16 * i), x, y);
      sum += x ^ y;
      ++points;
    }
  }
  benchmark::DoNotOptimize(sum);
  return points;
}

// The real load: header check and records, as a layer does it.
std::unique_ptr<ShapeCollection> Load(const std::string& path) {
  auto records = std::make_unique<ShapeCollection>(path);
  int kind = 1, shapeKind = 0;
  {
    ShapeFileReader reader;
    if (!reader.CheckHeader(path, kind, 8, -1, shapeKind)) return records;
  }
  ShapeFileReader reader;
  reader.LoadRecords(*records, kind, 8, -1);
  return records;
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

void LoadAgainstFloor(benchmark::State& state, const std::string& path) {
  if (!std::filesystem::exists(path)) {
    state.SkipWithError(("no data: " + path + " (see make_field_log.py)").c_str());
    return;
  }
  double floorMs = 0, loadMs = 0;
  int64_t points = 0;
  size_t records = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    points = Floor(path);
    auto t1 = Clock::now();
    auto loaded = Load(path);
    auto t2 = Clock::now();
    records = loaded->Records().size();
    floorMs += Ms(t1 - t0);
    loadMs += Ms(t2 - t1);
    state.SetIterationTime(std::chrono::duration<double>(t2 - t1).count());
    state.PauseTiming();
    loaded.reset();
    state.ResumeTiming();
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["floor_ms"] = floorMs / n;
  state.counters["load_ms"] = loadMs / n;
  state.counters["ratio"] = loadMs / floorMs;
  state.counters["points"] = static_cast<double>(points);
  state.counters["records"] = static_cast<double>(records);
}

// Resident memory that one load adds, per record (records and list included).
// The first load of a process also starts PROJ (its database and caches, a
// few megabytes once); the second load shows what the records themselves take.
void PointMemory(benchmark::State& state) {
  const std::string path = DataPath("KESTRUNE_BENCH_POINTS", "points.shp");
  if (!std::filesystem::exists(path)) {
    state.SkipWithError(("no data: " + path).c_str());
    return;
  }
  double first = 0, perRecord = 0;
  size_t records = 0;
  for (auto _ : state) {
    for (int pass = 0; pass < 2; ++pass) {
      malloc_trim(0);
      const int64_t before = ResidentBytes();
      auto loaded = Load(path);
      malloc_trim(0);
      const int64_t after = ResidentBytes();
      records = loaded->Records().size();
      (pass == 0 ? first : perRecord) = static_cast<double>(after - before) / static_cast<double>(records);
      state.PauseTiming();
      loaded.reset();
      state.ResumeTiming();
    }
  }
  state.counters["bytes_per_record"] = perRecord;
  state.counters["first_load_bytes_per_record"] = first;
  state.counters["records"] = static_cast<double>(records);
}

void Points(benchmark::State& state) { LoadAgainstFloor(state, DataPath("KESTRUNE_BENCH_POINTS", "points.shp")); }
void Polygons(benchmark::State& state) {
  LoadAgainstFloor(state, DataPath("KESTRUNE_BENCH_POLYGONS", "zones.shp"));
}

// A layer's whole load: records, settings, the legend column's values, the
// legend, the colours, the spatial index and the bounds. The layer is handed
// back, so closing it is not timed as part of the load.
std::unique_ptr<Layer> LayerLoad(const std::string& path) {
  auto layer = std::make_unique<Layer>();
  layer->SetPathName(path);
  if (!layer->Open() || !layer->Load()) return nullptr;
  benchmark::DoNotOptimize(layer->GetBounds());
  return layer;
}

// The layer load against the floor, on a copy coloured by Rate.
void LayerAgainstFloor(benchmark::State& state) {
  const std::string source = DataPath("KESTRUNE_BENCH_POINTS", "points.shp");
  if (!std::filesystem::exists(source)) {
    state.SkipWithError(("no data: " + source).c_str());
    return;
  }
  const bench::DataCopy copy(source, true);
  double floorMs = 0, loadMs = 0;
  size_t records = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    Floor(copy.Shp());
    auto t1 = Clock::now();
    auto layer = LayerLoad(copy.Shp());
    auto t2 = Clock::now();
    records = layer ? layer->GetRecordCount() : 0;
    floorMs += Ms(t1 - t0);
    loadMs += Ms(t2 - t1);
    state.SetIterationTime(std::chrono::duration<double>(t2 - t1).count());
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["floor_ms"] = floorMs / n;
  state.counters["load_ms"] = loadMs / n;
  state.counters["ratio"] = loadMs / floorMs;
  state.counters["records"] = static_cast<double>(records);
}

// The first layer load of a fresh process (this program started again with
// --first-load), which also starts PROJ and takes its heap from the system,
// against the floor measured here.
void FirstLayerLoad(benchmark::State& state) {
  const std::string source = DataPath("KESTRUNE_BENCH_POINTS", "points.shp");
  if (!std::filesystem::exists(source)) {
    state.SkipWithError(("no data: " + source).c_str());
    return;
  }
  const bench::DataCopy copy(source, true);
  double floorMs = 0, loadMs = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    Floor(copy.Shp());
    floorMs += Ms(Clock::now() - t0);
    const std::string command = "/proc/" + std::to_string(getpid()) + "/exe --first-load '" + copy.Shp() + "'";
    FILE* child = popen(command.c_str(), "r");
    double ms = 0;
    if (!child || std::fscanf(child, "%lf", &ms) != 1) {
      if (child) pclose(child);
      state.SkipWithError("the fresh process gave no time");
      return;
    }
    pclose(child);
    loadMs += ms;
    state.SetIterationTime(ms / 1000.0);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["floor_ms"] = floorMs / n;
  state.counters["first_load_ms"] = loadMs / n;
  state.counters["ratio"] = loadMs / floorMs;
}

// Memory first, while the heap is fresh.
BENCHMARK(PointMemory)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(Points)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(Polygons)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(LayerAgainstFloor)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(FirstLayerLoad)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  // The child of FirstLayerLoad: one layer load, its milliseconds on stdout.
  if (argc == 3 && std::strcmp(argv[1], "--first-load") == 0) {
    const auto t0 = Clock::now();
    const auto layer = LayerLoad(argv[2]);
    std::printf("%.3f\n", Ms(Clock::now() - t0));
    return layer && layer->GetRecordCount() > 0 ? 0 : 1;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
