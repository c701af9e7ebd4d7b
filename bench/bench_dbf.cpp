// Reading one numeric column of a 1,000,000-row dBase table, against the floor of
// the least work any such read must do: the same bytes read into one small
// reused buffer and the column's digits summed with no checks at all; each
// whole-column benchmark runs the floor beside itself and reports the ratio
// (never below 1 for an honest floor).
//
// The table is KESTRUNE_BENCH_DBF when set (for example the points.dbf of
// make_field_log.py OUT --points 1000000); otherwise a table of the same layout
// is generated once under the temp folder.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>
#include <charconv>
#include <chrono>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "shapes/DbfTable.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRows = 1000000;

// Appends a little-endian integer.
void Put(std::string& out, unsigned long value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(char((value >> (8 * i)) & 0xFF));
}

// Writes a field log table: Rate N10.2, Target N10.2, Boom N1, Speed N6.2,
// Elev N8.2, Product C12, Logged D8, as an applicator log carries.
void GenerateTable(const fs::path& path) {
  struct F { const char* name; char letter; int length; int decimals; };
  const F fields[] = {{"Rate", 'N', 10, 2}, {"Target", 'N', 10, 2}, {"Boom", 'N', 1, 0},
                      {"Speed", 'N', 6, 2}, {"Elev", 'N', 8, 2},   {"Product", 'C', 12, 0},
                      {"Logged", 'D', 8, 0}};
  int recordLength = 1;
  for (const F& f : fields) recordLength += f.length;
  const int headerLength = 32 + 32 * 7 + 1;
  std::string out;
  out += std::string("\x03\x7c\x01\x02", 4);
  Put(out, kRows, 4);
  Put(out, unsigned(headerLength), 2);
  Put(out, unsigned(recordLength), 2);
  out += std::string(20, '\0');
  for (const F& f : fields) {
    std::string name(f.name);
    name.resize(11, '\0');
    out += name;
    out.push_back(f.letter);
    out += std::string(4, '\0');
    out.push_back(char(f.length));
    out.push_back(char(f.decimals));
    out += std::string(14, '\0');
  }
  out.push_back('\r');
  unsigned seed = 12345;
  char row[128];
  for (int i = 0; i < kRows; ++i) {
    seed = seed * 1103515245u + 12345u;
    const double rate = 140.0 + double(seed % 4000) / 100.0;
    std::snprintf(row, sizeof row, " %10.2f%10.2f%1d%6.2f%8.2f%-12s%8s", rate, 150.0, int(seed >> 31),
                  4.5, 300.0 + double(i % 500) / 10.0, "UAN-28", "20240501");
    out.append(row, std::size_t(recordLength));
  }
  out.push_back('\x1a');
  std::ofstream(path, std::ios::binary).write(out.data(), std::streamsize(out.size()));
}

// The table to measure, generated on first use.
const std::string& TablePath() {
  static const std::string path = [] {
    if (const char* env = std::getenv("KESTRUNE_BENCH_DBF")) return std::string(env);
    const fs::path p = fs::temp_directory_path() / "kestrune-bench-1000000.dbf";
    if (!fs::exists(p)) GenerateTable(p);
    return p.string();
  }();
  return path;
}

// The floor's read buffer: small enough to stay in the processor's cache, so
// the floor pays for moving the bytes once and no more, touched before any
// timing.
std::vector<char>& FloorBuffer() {
  static std::vector<char> bytes(std::size_t{256} << 10, 0);
  return bytes;
}

// The cheapest parse of a fixed-width number that still looks at every byte
// of the field: its digits summed as a scaled integer, no sign, blank,
// exponent or rounding work.
inline long CheapestFieldParse(const char* p, int length) {
  long v = 0;
  for (int i = 0; i < length; ++i) {
    const unsigned d = unsigned(p[i]) - '0';
    if (d < 10) v = v * 10 + long(d);
  }
  return v;
}

// The floor: the least real work any column read must do. The same bytes
// come off the file by plain reads into one reused buffer (no copy the
// table could avoid, no fresh pages) and the first field of every row gets
// the cheapest parse there is. No checks, no table. Gives the rows read.
long FloorReadFileAndParseColumn(const std::string& path, std::vector<char>& bytes) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return 0;
  unsigned char header[32];
  if (::read(fd, header, 32) != 32) {
    ::close(fd);
    return 0;
  }
  const long count = long(header[4]) | long(header[5]) << 8 | long(header[6]) << 16 | long(header[7]) << 24;
  const int headerLength = header[8] | header[9] << 8;
  const int recordLength = header[10] | header[11] << 8;
  unsigned char field[32];
  if (recordLength <= 0 || ::read(fd, field, 32) != 32 || ::lseek(fd, headerLength, SEEK_SET) < 0) {
    ::close(fd);
    return 0;
  }
  const int length = field[16];
  const std::size_t rowsPerRead = bytes.size() / std::size_t(recordLength);
  long sum = 0, rows = 0;
  while (rows < count) {
    const ssize_t got = ::read(fd, bytes.data(), rowsPerRead * std::size_t(recordLength));
    if (got <= 0) break;
    const long whole = long(got) / recordLength;
    for (long r = 0; r < whole && rows < count; ++r, ++rows) {
      sum += CheapestFieldParse(bytes.data() + r * recordLength + 1, length);
    }
    if (got % recordLength != 0) break;
  }
  ::close(fd);
  benchmark::DoNotOptimize(sum);
  return rows;
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Runs the floor once beside each iteration's measured work and reports
// both and their ratio; the floor's time is not counted in the iteration.
template <class Work>
void AgainstFloor(benchmark::State& state, Work work) {
  const std::string path = TablePath();
  double floorMs = 0, workMs = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<char>& bytes = FloorBuffer();
    const auto f0 = Clock::now();
    state.counters["rows"] = double(FloorReadFileAndParseColumn(path, bytes));
    floorMs += Ms(Clock::now() - f0);
    state.ResumeTiming();
    const auto t0 = Clock::now();
    if (!work(path)) {
      state.SkipWithError("the table did not open");
      return;
    }
    workMs += Ms(Clock::now() - t0);
  }
  const double n = double(state.iterations());
  state.counters["floor_ms"] = floorMs / n;
  state.counters["ms"] = workMs / n;
  state.counters["ratio"] = workMs / floorMs;
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_Floor_ReadFileAndParseColumn(benchmark::State& state) {
  AgainstFloor(state, [](const std::string& path) {
    return FloorReadFileAndParseColumn(path, FloorBuffer()) > 0;
  });
}
BENCHMARK(BM_Floor_ReadFileAndParseColumn)->Unit(benchmark::kMillisecond);

// The table: open, ReadRecord and GetNumber of the first field for every row.
void BM_DbfTable_ReadColumn(benchmark::State& state) {
  AgainstFloor(state, [](const std::string& path) {
    kestrune::DbfTable table(path);
    if (!table.IsReady()) return false;
    const int rows = table.GetRecordCount();
    double sum = 0;
    for (int r = 1; r <= rows; ++r) {
      double v = 0;
      if (table.ReadRecord(r) && table.GetNumber(1, v)) sum += v;
    }
    benchmark::DoNotOptimize(sum);
    return true;
  });
}
BENCHMARK(BM_DbfTable_ReadColumn)->Unit(benchmark::kMillisecond);

// The table's bulk read of one column, as a layer takes its legend values.
void BM_DbfTable_ReadNumberColumn(benchmark::State& state) {
  AgainstFloor(state, [](const std::string& path) {
    kestrune::DbfTable table(path);
    if (!table.IsReady()) return false;
    std::vector<double> values;
    table.ReadNumberColumn(1, values);
    benchmark::DoNotOptimize(values.data());
    return true;
  });
}
BENCHMARK(BM_DbfTable_ReadNumberColumn)->Unit(benchmark::kMillisecond);

// Every field of every row, numbers and texts, as a full scan of the table.
void BM_DbfTable_ReadEveryField(benchmark::State& state) {
  const std::string path = TablePath();
  for (auto _ : state) {
    kestrune::DbfTable table(path);
    const int rows = table.GetRecordCount();
    const int fields = table.GetFieldCount();
    double sum = 0;
    std::size_t chars = 0;
    std::string text;
    for (int r = 1; r <= rows; ++r) {
      if (!table.ReadRecord(r)) continue;
      for (int f = 1; f <= fields; ++f) {
        double v = 0;
        table.GetNumber(f, v);
        table.GetString(f, text);
        sum += v;
        chars += text.size();
      }
    }
    benchmark::DoNotOptimize(sum);
    benchmark::DoNotOptimize(chars);
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_DbfTable_ReadEveryField)->Unit(benchmark::kMillisecond);

// Random single rows, as identify and the Attributes dialog read them.
void BM_DbfTable_ReadScatteredRows(benchmark::State& state) {
  kestrune::DbfTable table(TablePath());
  const int rows = table.GetRecordCount();
  unsigned seed = 7;
  double sum = 0;
  for (auto _ : state) {
    seed = seed * 1103515245u + 12345u;
    const int r = 1 + int(seed % unsigned(rows));
    double v = 0;
    if (table.ReadRecord(r) && table.GetNumber(1, v)) sum += v;
  }
  benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_DbfTable_ReadScatteredRows)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
