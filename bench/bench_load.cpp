// Loading shape files into records, against the floor of the same work: the
// whole file read into memory and every point projected with the sphere
// Mercator, nothing more. The layer loads are also held against the
// streaming floor of theirs: the ".shp" points projected and the ".dbf"
// theme column parsed, each file streamed through a reused buffer, both
// files at once in two threads (stream_floor_ms, stream_ratio). Both run in the same process, iteration by iteration,
// and every benchmark reports its ratio to the floor. LayerAgainstFloor loads
// a whole layer (values, legend, colours, index and bounds) from a copy of the
// data coloured by Rate; FirstLayerLoad does so in a fresh process.
//
// Data: python3 make_field_log.py DIR --points 1000000 --polygons 100000
// then run with KESTRUNE_BENCH_DATA=DIR (default /tmp/kbench), or with the
// file paths in KESTRUNE_BENCH_POINTS and KESTRUNE_BENCH_POLYGONS.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <time.h>

#include <algorithm>
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
#include <thread>
#include <vector>

#include "BenchData.h"
#include "base/Platform.h"
#include "layers/Layer.h"
#include "shapes/DbfTable.h"
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

// The CPU time of every thread of the process, in milliseconds.
double ProcessCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

// The highest resident set size since the last reset (VmHWM), in bytes.
int64_t PeakResidentBytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atoll(line.c_str() + 6) * 1024;
  }
  return 0;
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

// A file read front to back through one reused buffer, as a stream: Need
// gives n bytes in a row (refilling, and growing for a record larger than
// the buffer), or null at the end.
class Stream {
 public:
  explicit Stream(const std::string& path) : in_(std::fopen(path.c_str(), "rb")), buffer_(size_t{1} << 20) {}
  ~Stream() {
    if (in_) std::fclose(in_);
  }
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  const unsigned char* Need(size_t n) {
    if (end_ - at_ < n) {
      std::memmove(buffer_.data(), buffer_.data() + at_, end_ - at_);
      end_ -= at_;
      at_ = 0;
      if (buffer_.size() < n) buffer_.resize(n);
      while (in_ && end_ < n) {
        const size_t got = std::fread(buffer_.data() + end_, 1, buffer_.size() - end_, in_);
        if (got == 0) break;
        end_ += got;
      }
      if (end_ < n) return nullptr;
    }
    const unsigned char* p = buffer_.data() + at_;
    at_ += n;
    return p;
  }

 private:
  FILE* in_;
  std::vector<unsigned char> buffer_;
  size_t at_ = 0, end_ = 0;
};

// The ".shp" streamed, every point projected; gives the points.
int64_t StreamShapes(const std::string& path) {
  Stream in(path);
  int64_t sum = 0, points = 0;
  if (!in.Need(100)) return 0;
  while (const unsigned char* head = in.Need(12)) {
    const int32_t type = Le32(head + 8);
    const unsigned char* xy = nullptr;
    size_t n = 0;
    if (type == 1) {
      xy = in.Need(16);
      n = 1;
    } else if (type == 3 || type == 5) {
      const unsigned char* box = in.Need(40);
      if (!box) break;
      const size_t parts = static_cast<size_t>(Le32(box + 32));
      n = static_cast<size_t>(Le32(box + 36));
      const unsigned char* rest = in.Need(4 * parts + 16 * n);
      xy = rest ? rest + 4 * parts : nullptr;
    }
    if (!xy && n > 0) break;
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

// The ".dbf" streamed row by row, the theme field of each parsed with the
// table's own number parser; gives the rows.
int64_t StreamThemeColumn(const std::string& path, int field) {
  Stream in(path);
  const unsigned char* h = in.Need(32);
  if (!h) return 0;
  const int64_t count = Le32(h + 4);
  const size_t headerLength = size_t(h[8]) | size_t(h[9]) << 8;
  const size_t recordLength = size_t(h[10]) | size_t(h[11]) << 8;
  size_t offset = 1, length = 0, consumed = 32;
  for (int f = 1; consumed + 32 <= headerLength; ++f) {
    const unsigned char* d = in.Need(32);
    consumed += 32;
    if (!d || d[0] == '\r') break;
    if (f < field) offset += d[16];
    if (f == field) length = d[16];
  }
  if (consumed < headerLength && !in.Need(headerLength - consumed)) return 0;
  double sum = 0;
  int64_t rows = 0;
  for (; rows < count; ++rows) {
    const unsigned char* row = in.Need(recordLength);
    if (!row) break;
    sum += ParseDbfNumber(reinterpret_cast<const char*>(row) + offset, length);
  }
  benchmark::DoNotOptimize(sum);
  return rows;
}

// The streaming floor of a layer's load: the ".shp" points and the ".dbf"
// theme column, each file streamed once, in two threads at the same time.
void StreamingFloor(const std::string& shpPath) {
  const std::string dbf = std::filesystem::path(shpPath).replace_extension(".dbf").string();
  const int field = bench::FieldNumber(dbf, "Rate");
  std::thread rows([&] { StreamThemeColumn(dbf, field); });
  StreamShapes(shpPath);
  rows.join();
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
  double floorMs = 0, streamMs = 0, loadMs = 0, loadCpuMs = 0, floorCpuMs = 0, streamCpuMs = 0;
  size_t records = 0;
  for (auto _ : state) {
    const double floorCpu0 = ProcessCpuMs();
    auto t0 = Clock::now();
    Floor(copy.Shp());
    auto t1 = Clock::now();
    const double streamCpu0 = ProcessCpuMs();
    StreamingFloor(copy.Shp());
    auto t2 = Clock::now();
    const double cpu0 = ProcessCpuMs();
    floorCpuMs += streamCpu0 - floorCpu0;
    streamCpuMs += cpu0 - streamCpu0;
    auto layer = LayerLoad(copy.Shp());
    auto t3 = Clock::now();
    loadCpuMs += ProcessCpuMs() - cpu0;
    records = layer ? layer->GetRecordCount() : 0;
    floorMs += Ms(t1 - t0);
    streamMs += Ms(t2 - t1);
    loadMs += Ms(t3 - t2);
    state.SetIterationTime(std::chrono::duration<double>(t3 - t2).count());
    state.PauseTiming();
    layer.reset();
    state.ResumeTiming();
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["floor_ms"] = floorMs / n;
  state.counters["stream_floor_ms"] = streamMs / n;
  state.counters["load_ms"] = loadMs / n;
  state.counters["load_cpu_ms"] = loadCpuMs / n;
  state.counters["ratio"] = loadMs / floorMs;
  state.counters["stream_ratio"] = loadMs / streamMs;
  // The same in CPU time (every thread's), steadier on a busy machine.
  state.counters["floor_cpu_ms"] = floorCpuMs / n;
  state.counters["stream_floor_cpu_ms"] = streamCpuMs / n;
  state.counters["cpu_ratio"] = loadCpuMs / floorCpuMs;
  state.counters["stream_cpu_ratio"] = loadCpuMs / streamCpuMs;
  state.counters["records"] = static_cast<double>(records);
}

// The first layer load of a fresh process (this program started again with
// --first-load), which also starts PROJ and takes its heap from the system,
// against the floors measured here; with the peak resident memory the load
// added there, per record (peak_bytes_per_record).
void FirstLayerLoad(benchmark::State& state) {
  const std::string source = DataPath("KESTRUNE_BENCH_POINTS", "points.shp");
  if (!std::filesystem::exists(source)) {
    state.SkipWithError(("no data: " + source).c_str());
    return;
  }
  const bench::DataCopy copy(source, true);
  double floorMs = 0, streamMs = 0, loadMs = 0, peakBytes = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    Floor(copy.Shp());
    auto t1 = Clock::now();
    StreamingFloor(copy.Shp());
    floorMs += Ms(t1 - t0);
    streamMs += Ms(Clock::now() - t1);
    const std::string command = "/proc/" + std::to_string(getpid()) + "/exe --first-load '" + copy.Shp() + "'";
    FILE* child = popen(command.c_str(), "r");
    double ms = 0, peakPerRecord = 0;
    if (!child || std::fscanf(child, "%lf %lf", &ms, &peakPerRecord) != 2) {
      if (child) pclose(child);
      state.SkipWithError("the fresh process gave no time");
      return;
    }
    pclose(child);
    loadMs += ms;
    peakBytes = std::max(peakBytes, peakPerRecord);
    state.SetIterationTime(ms / 1000.0);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["floor_ms"] = floorMs / n;
  state.counters["stream_floor_ms"] = streamMs / n;
  state.counters["first_load_ms"] = loadMs / n;
  state.counters["ratio"] = loadMs / floorMs;
  state.counters["stream_ratio"] = loadMs / streamMs;
  state.counters["peak_bytes_per_record"] = peakBytes;
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
    // The peak is counted from here: what the load itself adds at its height.
    std::ofstream("/proc/self/clear_refs") << "5";
    const int64_t before = ResidentBytes();
    const auto t0 = Clock::now();
    const auto layer = LayerLoad(argv[2]);
    const double ms = Ms(Clock::now() - t0);
    const int64_t peak = PeakResidentBytes();
    const double records = layer ? static_cast<double>(layer->GetRecordCount()) : 0.0;
    std::printf("%.3f %.2f\n", ms, records > 0 ? static_cast<double>(peak - before) / records : 0.0);
    return layer && layer->GetRecordCount() > 0 ? 0 : 1;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
