// How load, draw and reopen grow with the size of a point log.
//
// For each size (default 1M, 10M and 30M points; the sizes in millions may be
// given as arguments, e.g. `bench_scale 1 10`) the benchmark writes a point
// log with its own writer into a folder under /tmp (removed afterwards, or by
// the next run when this one is stopped before its end), with
// the fields of the shared field-log generator (Rate, Target, Boom, Speed,
// Elev, Product, Logged, Time, Width) and a ".gpe" colouring by Rate, then
// measures in this process:
//   load    Layer Open + Load, the public load path;
//   draw    Layer::Draw at full extent into a 1920x1080 image (median of 3);
//   reopen  a second Layer Open + Load of the same set (a fresh layer), after
//           the first is closed and its layer cache written: the open the
//           cache serves (the cache lives in the log's folder under /tmp).
// Each is given in wall seconds and in CPU seconds of all the process's
// threads (`*_cpu_s`), which a busy machine does not stretch.
// It prints one JSON line per size, then the growth of each cost from the
// size before over its share of points (1.00 is linear).
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "geo/gui/QPainterCanvas.h"
#include "layers/Layer.h"
#include "layers/LayerCache.h"
#include "mapview/MapView.h"

namespace {

using namespace kestrune;
using Clock = std::chrono::steady_clock;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

double Seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

// User and system time of every thread of the process so far: on a busy
// machine the wall times stretch, the work does not.
double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

void PutBE32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
}
void PutLE32(unsigned char* p, uint32_t v) { std::memcpy(p, &v, 4); }
void PutLE16(unsigned char* p, uint16_t v) { std::memcpy(p, &v, 2); }
void PutLEDouble(unsigned char* p, double v) { std::memcpy(p, &v, 8); }

// A right-aligned number of width characters with decimals places, rounded
// half away from zero as printf would nearly always round; blanks before it.
void PutNumber(char* p, int width, int decimals, double v) {
  static constexpr double kScale[] = {1.0, 10.0, 100.0, 1000.0};
  const bool negative = v < 0;
  auto whole = static_cast<uint64_t>(std::fabs(v) * kScale[decimals] + 0.5);
  char* end = p + width;
  char* at = end;
  for (int d = 0; d < decimals; ++d) {
    *--at = static_cast<char>('0' + whole % 10);
    whole /= 10;
  }
  if (decimals > 0) *--at = '.';
  do {
    *--at = static_cast<char>('0' + whole % 10);
    whole /= 10;
  } while (whole != 0 && at > p);
  if (negative && at > p) *--at = '-';
  while (at > p) *--at = ' ';
}

// Two digits of v.
void PutTwo(char* p, uint64_t v) {
  p[0] = static_cast<char>('0' + v / 10 % 10);
  p[1] = static_cast<char>('0' + v % 10);
}

// The log's fields: name, type, length, decimals (as the shared generator writes them).
struct Field {
  const char* name;
  char type;
  int length;
  int decimals;
};
constexpr Field kFields[] = {{"Rate", 'N', 10, 2},  {"Target", 'N', 10, 2}, {"Boom", 'N', 1, 0},
                             {"Speed", 'N', 6, 2},  {"Elev", 'N', 8, 2},    {"Product", 'C', 12, 0},
                             {"Logged", 'D', 8, 0}, {"Time", 'C', 8, 0},    {"Width", 'N', 6, 2}};
constexpr int kRecordLength = 1 + 10 + 10 + 1 + 6 + 8 + 12 + 8 + 8 + 6;

// A splitmix generator: quick and the same on every machine.
struct Random {
  uint64_t state;
  uint64_t Next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  double Unit() { return static_cast<double>(Next() >> 11) * 0x1p-53; }
  // About normal (a sum of four uniforms), mean 0 and the deviation given.
  double Gauss(double sd) { return (Unit() + Unit() + Unit() + Unit() - 2.0) * sd * 1.7320508; }
};

// Writes points.shp, .shx, .dbf, .prj and .gpe for n points into dir: a
// square field driven in back-and-forth passes near Ames, Iowa, one point a
// second from 15 April 2024 08:00:00, as the shared generator lays it out.
bool WriteLog(const std::filesystem::path& dir, uint64_t n) {
  constexpr double kLat0 = 42.0345, kLon0 = -93.6204;
  const double mPerDegLat = 111320.0, mPerDegLon = 111320.0 * std::cos(kLat0 * M_PI / 180.0);
  const double swath = 18.0;
  const double side = std::max(200.0, std::sqrt(static_cast<double>(n) * 2.2 * swath));
  const double step = side / std::max(1.0, static_cast<double>(n) * swath / side);

  std::ofstream shp(dir / "points.shp", std::ios::binary), shx(dir / "points.shx", std::ios::binary),
      dbf(dir / "points.dbf", std::ios::binary);
  if (!shp || !shx || !dbf) return false;
  // Headers: the bounds are filled in at the end.
  unsigned char header[100] = {};
  shp.write(reinterpret_cast<const char*>(header), 100);
  shx.write(reinterpret_cast<const char*>(header), 100);
  const int fieldCount = static_cast<int>(std::size(kFields));
  std::vector<unsigned char> dbfHeader(32 + 32 * fieldCount + 1, 0);
  dbfHeader[0] = 3;
  dbfHeader[1] = 124;
  dbfHeader[2] = 1;
  dbfHeader[3] = 1;
  PutLE32(&dbfHeader[4], static_cast<uint32_t>(n));
  PutLE16(&dbfHeader[8], static_cast<uint16_t>(dbfHeader.size()));
  PutLE16(&dbfHeader[10], kRecordLength);
  for (int f = 0; f < fieldCount; ++f) {
    unsigned char* d = &dbfHeader[32 + 32 * f];
    std::strncpy(reinterpret_cast<char*>(d), kFields[f].name, 10);
    d[11] = static_cast<unsigned char>(kFields[f].type);
    d[16] = static_cast<unsigned char>(kFields[f].length);
    d[17] = static_cast<unsigned char>(kFields[f].decimals);
  }
  dbfHeader.back() = 0x0D;
  dbf.write(reinterpret_cast<const char*>(dbfHeader.data()), static_cast<std::streamsize>(dbfHeader.size()));

  Random rng{20240415};
  double east = 0.0, north = 0.0;
  int heading = 1;
  double minX = 1e300, minY = 1e300, maxX = -1e300, maxY = -1e300;
  constexpr size_t kChunk = 65536;
  std::vector<unsigned char> shpBuf, shxBuf;
  std::vector<char> dbfBuf;
  shpBuf.reserve(kChunk * 28);
  shxBuf.reserve(kChunk * 8);
  dbfBuf.reserve(kChunk * kRecordLength);
  for (uint64_t i = 0; i < n; ++i) {
    const bool boom = !(north < 3 || north > side - 3 || rng.Unit() < 0.03);
    const double rate = boom ? std::max(0.0, 180.0 + rng.Gauss(8.0) + 25.0 * std::sin(east / 90.0)) : 0.0;
    const double x = kLon0 + east / mPerDegLon, y = kLat0 + north / mPerDegLat;
    minX = std::min(minX, x);
    minY = std::min(minY, y);
    maxX = std::max(maxX, x);
    maxY = std::max(maxY, y);
    unsigned char index[8];
    PutBE32(index, static_cast<uint32_t>((100 + i * 28) / 2));
    PutBE32(index + 4, 10);
    shxBuf.insert(shxBuf.end(), index, index + 8);
    unsigned char rec[28];
    PutBE32(rec, static_cast<uint32_t>(i + 1));
    PutBE32(rec + 4, 10);
    PutLE32(rec + 8, 1);
    PutLEDouble(rec + 12, x);
    PutLEDouble(rec + 20, y);
    shpBuf.insert(shpBuf.end(), rec, rec + 28);

    char row[kRecordLength + 1];
    row[0] = ' ';
    char* p = row + 1;
    PutNumber(p, 10, 2, rate);
    p += 10;
    PutNumber(p, 10, 2, 180.0);
    p += 10;
    *p++ = boom ? '1' : '0';
    PutNumber(p, 6, 2, 4.5 + rng.Gauss(0.3));
    p += 6;
    PutNumber(p, 8, 2, 300 + 4 * std::sin(east / 150) + 3 * std::cos(north / 110));
    p += 8;
    std::memcpy(p, "UAN 32%     ", 12);
    p += 12;
    const uint64_t seconds = 8 * 3600 + i;
    const uint64_t day = seconds / 86400;
    if (day < 16) {
      std::memcpy(p, "202404", 6);
      PutTwo(p + 6, 15 + day);
    } else {
      std::memcpy(p, "20240501", 8);
    }
    p += 8;
    const uint64_t s = seconds % 86400;
    PutTwo(p, s / 3600);
    p[2] = ':';
    PutTwo(p + 3, s / 60 % 60);
    p[5] = ':';
    PutTwo(p + 6, s % 60);
    p += 8;
    PutNumber(p, 6, 2, swath / 0.3048);
    dbfBuf.insert(dbfBuf.end(), row, row + kRecordLength);

    north += heading * step;
    if (north > side || north < 0) {
      heading = -heading;
      north = std::min(std::max(north, 0.0), side);
      east += swath;
    }
    if (dbfBuf.size() >= kChunk * kRecordLength || i + 1 == n) {
      shp.write(reinterpret_cast<const char*>(shpBuf.data()), static_cast<std::streamsize>(shpBuf.size()));
      shx.write(reinterpret_cast<const char*>(shxBuf.data()), static_cast<std::streamsize>(shxBuf.size()));
      dbf.write(dbfBuf.data(), static_cast<std::streamsize>(dbfBuf.size()));
      shpBuf.clear();
      shxBuf.clear();
      dbfBuf.clear();
    }
  }
  dbf.put(0x1A);
  // The main headers, with the file lengths in 16-bit words and the bounds.
  for (auto [stream, bytes] : {std::pair{&shp, 100 + n * 28}, std::pair{&shx, 100 + n * 8}}) {
    unsigned char h[100] = {};
    PutBE32(h, 9994);
    PutBE32(h + 24, static_cast<uint32_t>(bytes / 2));
    PutLE32(h + 28, 1000);
    PutLE32(h + 32, 1);
    PutLEDouble(h + 36, minX);
    PutLEDouble(h + 44, minY);
    PutLEDouble(h + 52, maxX);
    PutLEDouble(h + 60, maxY);
    stream->seekp(0);
    stream->write(reinterpret_cast<const char*>(h), 100);
  }
  std::ofstream(dir / "points.prj")
      << "GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID[\"WGS_1984\",6378137.0,298.257223563]],"
         "PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]]";
  // Coloured by Rate (the first field) through the legend.
  std::ofstream(dir / "points.gpe") << "[Options]\r\nLEGEND_COL=1\r\nCOLOR_METHOD=1\r\n";
  return static_cast<bool>(shp) && static_cast<bool>(shx) && static_cast<bool>(dbf);
}

// Peak resident memory of the process so far, in bytes.
double PeakResidentBytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) * 1024.0;
}

struct Figures {
  uint64_t points = 0;
  double write = 0, load = 0, draw = 0, reopen = 0, peakBytes = 0;
  double loadCpu = 0, drawCpu = 0, reopenCpu = 0;
};

// Opens and loads the set; false when it fails.
bool Load(Layer& layer, const std::string& shp) {
  layer.SetPathName(shp);
  return layer.Open() && layer.Load();
}

const char kLogFolderPrefix[] = "kestrune-bench-scale-";

// A run that was stopped before its end leaves its log behind (gigabytes at
// 30M points): the folders of runs whose process is gone are removed.
void RemoveLogsOfEndedRuns() {
  namespace fs = std::filesystem;
  const std::string prefix = kLogFolderPrefix;
  std::vector<fs::path> stale;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(fs::temp_directory_path(), ec)) {
    const std::string name = entry.path().filename().string();
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    char* end = nullptr;
    const long pid = std::strtol(name.c_str() + prefix.size(), &end, 10);
    if (pid > 0 && *end == '\0' && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
      stale.push_back(entry.path());
    }
  }
  for (const auto& dir : stale) {
    std::fprintf(stderr, "removing %s, left by a run that ended early\n", dir.c_str());
    fs::remove_all(dir, ec);
  }
}

bool Measure(uint64_t n, Figures& out) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / (kLogFolderPrefix + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  out.points = n;
  bool ok = false;
  {
    auto start = Clock::now();
    if (WriteLog(dir, n)) {
      out.write = Seconds(start);
      const std::string shp = (dir / "points.shp").string();
      // The cache of the first load serves the reopen; it is written beside
      // the log, never in the user's cache folder.
      setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
      SetLayerCacheEnabled(true);
      auto layer = std::make_unique<Layer>();
      start = Clock::now();
      double cpu = CpuSeconds();
      if (Load(*layer, shp)) {
        out.load = Seconds(start);
        out.loadCpu = CpuSeconds() - cpu;
        // The cache is written in the background; it is done before the draw is timed.
        FinishLayerCacheWrites();
        MapView view;
        view.Resize(kWidth, kHeight);
        view.ZoomAll({layer->GetBounds()});
        QImage image(kWidth, kHeight, QImage::Format_RGB32);
        std::vector<double> draws;
        cpu = CpuSeconds();
        for (int run = 0; run < 3; ++run) {
          image.fill(Qt::white);
          QPainter painter(&image);
          QPainterCanvas canvas(painter);
          start = Clock::now();
          layer->Draw(view.Transform(), canvas);
          draws.push_back(Seconds(start));
        }
        out.drawCpu = (CpuSeconds() - cpu) / 3;
        std::sort(draws.begin(), draws.end());
        out.draw = draws[1];
        layer.reset();
        auto again = std::make_unique<Layer>();
        start = Clock::now();
        cpu = CpuSeconds();
        if (Load(*again, shp)) {
          out.reopen = Seconds(start);
          out.reopenCpu = CpuSeconds() - cpu;
          ok = true;
        }
        out.peakBytes = PeakResidentBytes();
      }
    }
  }
  std::error_code ignored;
  fs::remove_all(dir, ignored);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication app(argc, argv);
  std::vector<uint64_t> sizes;
  for (int i = 1; i < argc; ++i) {
    const double millions = std::atof(argv[i]);
    if (millions > 0) sizes.push_back(static_cast<uint64_t>(millions * 1e6));
  }
  if (sizes.empty()) sizes = {1000000, 10000000, 30000000};
  RemoveLogsOfEndedRuns();
  std::vector<Figures> all;
  for (uint64_t n : sizes) {
    Figures f;
    if (!Measure(n, f)) {
      std::fprintf(stderr, "bench_scale: the %llu-point log could not be written or loaded\n",
                   static_cast<unsigned long long>(n));
      return 1;
    }
    std::printf(
        "{\"points\":%llu,\"write_s\":%.3f,\"load_s\":%.3f,\"draw_s\":%.3f,\"reopen_s\":%.3f,"
        "\"load_cpu_s\":%.3f,\"draw_cpu_s\":%.3f,\"reopen_cpu_s\":%.3f,"
        "\"peak_rss_mb\":%.0f,\"peak_bytes_per_point\":%.1f}\n",
        static_cast<unsigned long long>(f.points), f.write, f.load, f.draw, f.reopen, f.loadCpu, f.drawCpu,
        f.reopenCpu, f.peakBytes / 1048576.0, f.peakBytes / static_cast<double>(f.points));
    std::fflush(stdout);
    all.push_back(f);
  }
  // Growth over the size before, per point: 1.00 is linear.
  for (size_t i = 1; i < all.size(); ++i) {
    const Figures& before = all[i - 1];
    const double share = static_cast<double>(all[i].points) / static_cast<double>(before.points);
    std::printf(
        "{\"points\":%llu,\"versus\":%llu,\"load_growth\":%.2f,\"draw_growth\":%.2f,\"reopen_growth\":%.2f,"
        "\"load_cpu_growth\":%.2f,\"draw_cpu_growth\":%.2f,\"reopen_cpu_growth\":%.2f}\n",
        static_cast<unsigned long long>(all[i].points), static_cast<unsigned long long>(before.points),
        all[i].load / before.load / share, all[i].draw / before.draw / share, all[i].reopen / before.reopen / share,
        all[i].loadCpu / before.loadCpu / share, all[i].drawCpu / before.drawCpu / share,
        all[i].reopenCpu / before.reopenCpu / share);
  }
  return 0;
}
