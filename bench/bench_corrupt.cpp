// Corrupt files cost what their valid part costs. Each case is opened and
// loaded as a layer, as `kestrune-cli info` does, from files made in a
// temporary folder:
//   SparseShp: a 1 GiB sparse ".shp" whose header claims 1 GiB and which holds
//     two point records, the rest zeros (bound: under 2 s);
//   SparseDbf: a 3-point layer whose ".dbf" announces 119 million rows and
//     holds them as a sparse file of zeros (bound: what 3 rows cost, well under
//     a second).
// Each reports the seconds of one open and load; the run fails (status 1) when
// a case passes its bound.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "base/Platform.h"
#include "layers/Layer.h"

namespace {

using namespace kestrune;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

bool g_failed = false;

void Big32(std::string& s, uint32_t v) {
  for (int shift : {24, 16, 8, 0}) s.push_back(static_cast<char>((v >> shift) & 0xFF));
}
void Little32(std::string& s, uint32_t v) {
  for (int shift : {0, 8, 16, 24}) s.push_back(static_cast<char>((v >> shift) & 0xFF));
}
void Little16(std::string& s, uint32_t v) {
  for (int shift : {0, 8}) s.push_back(static_cast<char>((v >> shift) & 0xFF));
}
void Double(std::string& s, double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  for (int i = 0; i < 8; ++i) s.push_back(static_cast<char>((bits >> (8 * i)) & 0xFF));
}

// A point ".shp" of the positions, its header claiming fileBytes.
std::string PointShp(const std::vector<std::pair<double, double>>& points, uint64_t fileBytes) {
  std::string s;
  Big32(s, 9994);
  for (int i = 0; i < 5; ++i) Big32(s, 0);
  Big32(s, static_cast<uint32_t>(fileBytes / 2));
  Little32(s, 1000);
  Little32(s, 1);
  for (double d : {-100.0, 40.0, -90.0, 45.0, 0.0, 0.0, 0.0, 0.0}) Double(s, d);
  uint32_t number = 0;
  for (const auto& p : points) {
    Big32(s, ++number);
    Big32(s, 10);
    Little32(s, 1);
    Double(s, p.first);
    Double(s, p.second);
  }
  return s;
}

// A table of one numeric field "Rate" (N 10.2) whose header announces claimed rows.
std::string RateDbf(const std::vector<double>& values, uint32_t claimed) {
  std::string s;
  s.push_back(3);
  s += std::string("\x7c\x01\x02", 3);
  Little32(s, claimed);
  Little16(s, 32 + 32 + 1);
  Little16(s, 11);
  s += std::string(20, '\0');
  std::string name = "Rate";
  name.resize(11, '\0');
  s += name;
  s.push_back('N');
  s += std::string(4, '\0');
  s.push_back(10);
  s.push_back(2);
  s += std::string(14, '\0');
  s.push_back('\r');
  for (double v : values) {
    char text[32];
    std::snprintf(text, sizeof text, " %10.2f", v);
    s += text;
  }
  return s;
}

void Write(const fs::path& path, const std::string& bytes, uint64_t size) {
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  if (size > bytes.size()) fs::resize_file(path, size);
}

struct Folder {
  fs::path path;
  Folder() {
    char name[] = "/tmp/bench_corrupt_XXXXXX";
    if (!mkdtemp(name)) std::abort();
    path = name;
  }
  ~Folder() { fs::remove_all(path); }
};

// Opens and loads the layer once per iteration and checks the bound.
void Measure(benchmark::State& state, const char* name, const fs::path& shp, size_t wantRecords,
             double boundSeconds) {
  SetMessageHandler([](const MessageRequest&) { return MessageAnswer::Ok; });
  SetStatusHandler([](const std::string&) {});
  double worst = 0.0;
  for (auto _ : state) {
    const auto start = Clock::now();
    Layer layer;
    layer.SetPathName(shp.string());
    const bool ok = layer.Open() && layer.Load();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    worst = std::max(worst, seconds);
    if (!ok || layer.GetRecordCount() != wantRecords) {
      state.SkipWithError("the layer did not load its records");
      g_failed = true;
      return;
    }
  }
  state.counters["worst_s"] = worst;
  state.counters["bound_s"] = boundSeconds;
  if (worst >= boundSeconds) {
    std::fprintf(stderr, "%s: %.3f s, over the bound of %.1f s\n", name, worst, boundSeconds);
    g_failed = true;
  }
}

void SparseShp(benchmark::State& state) {
  Folder folder;
  constexpr uint64_t kGigabyte = uint64_t{1} << 30;
  Write(folder.path / "sparse.shp", PointShp({{-95, 42}, {-96, 43}}, kGigabyte), kGigabyte);
  Measure(state, "SparseShp", folder.path / "sparse.shp", 2, 2.0);
}
BENCHMARK(SparseShp)->Unit(benchmark::kMillisecond)->Iterations(3);

void SparseDbf(benchmark::State& state) {
  Folder folder;
  const std::vector<std::pair<double, double>> points = {{-95, 42}, {-95.5, 42}, {-96, 42}};
  Write(folder.path / "log.shp", PointShp(points, 100 + 28 * points.size()), 0);
  constexpr uint32_t kClaimed = 119000000;
  Write(folder.path / "log.dbf", RateDbf({1.5, 2.5, 3.5}, kClaimed), 65 + uint64_t{kClaimed} * 11);
  Write(folder.path / "log.gpe", "[Options]\nLEGEND_COL=1\n", 0);
  Measure(state, "SparseDbf", folder.path / "log.shp", 3, 0.5);
}
BENCHMARK(SparseDbf)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return g_failed ? 1 : 0;
}
