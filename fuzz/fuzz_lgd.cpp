// Fuzzes the legend file reader: the input is a ".lgd" file read from bytes and
// from disk; a loaded legend must be ascending, colour values as a plain walk of
// its entries does, and save and load back to the same entries. The first 16
// bytes also serve as a (max, min) pair for the automatic legend, which must
// always give finite breaks in ascending order.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "base/Platform.h"
#include "layers/Legend.h"

namespace {

using kestrune::Color;
using kestrune::Legend;
using kestrune::LegendEntry;

// One scratch file per fuzzing process, rewritten for every input and removed at
// exit (its name lives in a plain array, which outlasts every destructor).
char gScratchName[] = "/tmp/fuzz_lgd_XXXXXX";
const std::string& ScratchPath() {
  static const std::string path = [] {
    int fd = mkstemp(gScratchName);
    if (fd < 0) std::abort();
    close(fd);
    std::atexit([] { std::remove(gScratchName); });
    return std::string(gScratchName);
  }();
  return path;
}

// The 8 input bytes at at as a double, 0 past the end.
double DoubleAt(const uint8_t* data, size_t size, size_t at) {
  double v = 0.0;
  if (at + 8 <= size) std::memcpy(&v, data + at, 8);
  return v;
}

// The colour rule walked entry by entry, as the reference for GetColor.
Color WalkColor(const Legend& legend, double value) {
  const auto& entries = legend.GetEntries();
  if (entries.empty()) return kestrune::kNeutralColor;
  for (const LegendEntry& e : entries) {
    if (value <= e.value) return e.color;
  }
  return entries.back().color;
}

// Aborts unless the entries are ascending and free of NaN (and finite if asked).
void CheckAscending(const Legend& legend, bool finite) {
  const auto& entries = legend.GetEntries();
  for (size_t i = 0; i < entries.size(); ++i) {
    if (std::isnan(entries[i].value)) std::abort();
    if (finite && !std::isfinite(entries[i].value)) std::abort();
    if (i > 0 && entries[i].value < entries[i - 1].value) std::abort();
  }
}

// Aborts unless GetColor agrees with the plain walk on values around every break.
void CheckColors(const Legend& legend, const uint8_t* data, size_t size) {
  std::vector<double> probes = {0.0, -1.0, 1e300, -1e300, NAN, INFINITY, -INFINITY,
                                DoubleAt(data, size, 10), DoubleAt(data, size, 22)};
  for (const LegendEntry& e : legend.GetEntries()) {
    probes.push_back(e.value);
    probes.push_back(std::nextafter(e.value, INFINITY));
  }
  for (double v : probes) {
    if (legend.GetColor(v) != WalkColor(legend, v)) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = [] {
    kestrune::SetMessageHandler(
        [](const kestrune::MessageRequest&) { return kestrune::MessageAnswer::Ok; });
    return true;
  }();
  (void)quiet;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  Legend legend;
  legend.Insert(42.0, 42);
  const bool ok = legend.LoadBytes(bytes) == kestrune::LegendLoadResult::Ok;
  if (!ok && (legend.GetCount() != 1 || legend.GetEntries()[0].value != 42.0)) std::abort();
  if (ok) {
    // Only whole, non-NaN entries are read.
    if (legend.GetCount() > (size - kestrune::kLegendMagicSize) / kestrune::kLegendEntrySize) {
      std::abort();
    }
    CheckAscending(legend, false);
    CheckColors(legend, data, size);
    const std::vector<std::string> labels = legend.GetClassLabels();
    if (labels.size() != legend.GetCount()) std::abort();

    // Saving and loading again gives the same entries.
    const std::string saved = legend.SaveBytes();
    Legend again;
    if (again.LoadBytes(saved) != kestrune::LegendLoadResult::Ok) std::abort();
    if (again.GetEntries() != legend.GetEntries()) std::abort();

    // The dialog's rows, top first, rebuild an ascending legend (or stop with a message).
    std::vector<kestrune::LegendRow> rows;
    for (auto it = legend.GetEntries().rbegin(); it != legend.GetEntries().rend(); ++it) {
      rows.push_back({it->value, it->color});
    }
    Legend fromRows;
    fromRows.BuildFromRows(rows);
    CheckAscending(fromRows, false);
  }

  // The same bytes through the file reader.
  const std::string& path = ScratchPath();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  if (size && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
  Legend fromFile;
  if (fromFile.LoadFile(path) != ok) std::abort();
  if (ok && fromFile.GetEntries() != legend.GetEntries()) std::abort();

  // Any (max, min) pair gives a sound automatic legend.
  Legend automatic;
  automatic.BuildAutomatic(DoubleAt(data, size, 0), DoubleAt(data, size, 8));
  if (automatic.GetCount() < 1 || automatic.GetCount() > 8) std::abort();
  CheckAscending(automatic, true);
  CheckColors(automatic, data, size);
  automatic.GetClassLabels();
  return 0;
}
