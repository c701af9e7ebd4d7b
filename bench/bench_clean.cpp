// Times cleaning a point log with every filter against one pass over its
// records, and saving the kept records as a new set against copying the set.
//
//   bench_clean [POINTS]        a log of POINTS points (default 1,000,000)
//                               written by the shared generator into a
//                               temporary folder
//   KESTRUNE_BENCH_CLEAN=FILE.shp measures another log
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/FileSetCopy.h"
#include "base/Paths.h"
#include "clean/CleanSource.h"
#include "clean/LogClean.h"
#include "clean/SubsetWriter.h"
#include "shapes/DbfTable.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// A hash (FNV-1a) of which filter removed each record and of the shifted
// values' bits: equal hashes before and after a change to the filters say
// the removals did not move.
uint64_t RemovalHash(const kestrune::CleanResult& result) {
  uint64_t h = 0xcbf29ce484222325ull;
  const auto add = [&](const void* data, size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (size_t k = 0; k < size; ++k) h = (h ^ bytes[k]) * 0x100000001b3ull;
  };
  add(result.removedBy.data(), result.removedBy.size());
  add(result.shifted.data(), result.shifted.size() * sizeof(double));
  return h;
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  using namespace kestrune;
  const long points = argc > 1 ? std::atol(argv[1]) : 1000000;
  const fs::path dir = fs::temp_directory_path() / ("kestrune-bench-clean-" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::string shp;
  if (const char* given = std::getenv("KESTRUNE_BENCH_CLEAN")) {
    shp = given;
  } else {
    const std::string command = std::string("/usr/bin/python3 ") + KESTRUNE_BENCH_TOOLS + "/make_field_log.py " +
                                dir.string() + " --points " + std::to_string(points) + " > /dev/null";
    if (std::system(command.c_str()) != 0) {
      std::fprintf(stderr, "the generator failed: %s\n", command.c_str());
      return 1;
    }
    shp = (dir / "points.shp").string();
  }

  DbfTable table((BasePathOf(shp) + ".dbf"));
  CleanSettings s;
  const int rate = FindFieldByName(table, "Rate");
  table.Close();
  for (int f = 0; f < kCleanFilterCount; ++f) s.SetOn(static_cast<CleanFilter>(f), true);
  s.rangeField = s.sdField = s.localField = s.flowField = rate;
  s.startDelay = {3, false};
  s.endDelay = {2, false};
  s.flowDelay = {12, false};
  s.minWidth = 1;

  auto start = Clock::now();
  CleanInput input;
  Error error;
  if (!LoadCleanInput(shp, s, input, &error)) {
    std::fprintf(stderr, "%s\n", error.text.c_str());
    return 1;
  }
  const double load = Seconds(start);
  // Defaults from the data, as the dialog offers them.
  s.rangeMin = Percentile(input.values[size_t(rate)], 0.01);
  s.rangeMax = Percentile(input.values[size_t(rate)], 0.99);
  const std::vector<double> speeds = RecordSpeeds(input);
  s.speedMin = Percentile(speeds, 0.01);
  s.speedMax = Percentile(speeds, 0.99);

  // The floor: one pass reading every record's position, time and value.
  start = Clock::now();
  double sum = 0.0;
  const std::vector<double>& values = input.values[size_t(rate)];
  for (size_t i = 0; i < input.size(); ++i) sum += input.x[i] + input.y[i] + input.time[i] + values[i];
  const double pass = Seconds(start);

  start = Clock::now();
  const std::clock_t cpuStart = std::clock();
  const CleanResult result = CleanLog(input, s, false);
  const double clean = Seconds(start);
  // The processor time over both cores: on a shared machine the wall time
  // also holds the waits for a core.
  const double cleanCpu = double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
  // KESTRUNE_BENCH_CLEAN_ONLY=1: the run with every filter, three times
  // more (for a profiler), without the rest; =local (any filter's name):
  // those three runs with that filter alone.
  if (const char* only = std::getenv("KESTRUNE_BENCH_CLEAN_ONLY")) {
    // A filter's name instead of 1: that filter alone.
    for (int f = 0; f < kCleanFilterCount; ++f) {
      if (std::string(only) == CleanFilterName(static_cast<CleanFilter>(f))) {
        s.on.fill(false);
        s.SetOn(static_cast<CleanFilter>(f), true);
      }
    }
    double best = 1e30, cpuLeast = 1e30;
    for (int again = 0; again < 3; ++again) {
      start = Clock::now();
      const std::clock_t cpuAgain = std::clock();
      CleanLog(input, s, false);
      best = std::min(best, Seconds(start));
      cpuLeast = std::min(cpuLeast, double(std::clock() - cpuAgain) / CLOCKS_PER_SEC);
    }
    std::printf("records %zu, kept %lld\nremovals hash %016llx\n", input.size(),
                static_cast<long long>(result.kept), static_cast<unsigned long long>(RemovalHash(result)));
    std::printf(
        "clean, every filter %.3f s first, %.3f s best of 3 more (%.0f x one pass %.4f s), processor time %.3f s "
        "first, %.3f s least\n",
        clean, best, best / pass, pass, cleanCpu, cpuLeast);
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    return 0;
  }
  start = Clock::now();
  const CleanResult withAlone = CleanLog(input, s, true);
  const double cleanAlone = Seconds(start);

  // Each filter on its own over the whole log.
  double each[kCleanFilterCount] = {};
  for (int f = 0; f < kCleanFilterCount; ++f) {
    CleanSettings one = s;
    one.on.fill(false);
    one.SetOn(static_cast<CleanFilter>(f), true);
    start = Clock::now();
    CleanLog(input, one, false);
    each[f] = Seconds(start);
  }

  // The flow delay and the duplicates again over the records put in time
  // order, as a log mostly comes (the generator's longer logs log days
  // again under one date): the time order then needs no sort.
  double inOrder[2] = {};
  {
    std::vector<uint32_t> order(input.size());
    for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](uint32_t a, uint32_t b) { return input.time[a] < input.time[b]; });
    CleanInput sorted = input;
    const auto permute = [&](std::vector<double>& to, const std::vector<double>& from) {
      if (from.size() != order.size()) return;
      for (size_t k = 0; k < order.size(); ++k) to[k] = from[order[k]];
    };
    permute(sorted.x, input.x);
    permute(sorted.y, input.y);
    permute(sorted.time, input.time);
    permute(sorted.values[size_t(rate)], input.values[size_t(rate)]);
    const CleanFilter filters[2] = {CleanFilter::Flow, CleanFilter::Duplicates};
    for (int f = 0; f < 2; ++f) {
      CleanSettings one = s;
      one.on.fill(false);
      one.SetOn(filters[f], true);
      start = Clock::now();
      CleanLog(sorted, one, false);
      inOrder[f] = Seconds(start);
    }
  }

  std::vector<uint8_t> keep(result.removedBy.size());
  for (size_t i = 0; i < keep.size(); ++i) keep[i] = result.removedBy[i] == 0;
  SubsetOptions options;
  options.replaceField = result.flowField;
  options.replaceValues = &result.shifted;
  // Each twice, taking turns, the faster run counting: both then read a
  // source in the page cache and neither pays for the other's dirty pages.
  SubsetResult saved;
  double save = 1e30, copy = 1e30;
  bool copiedOk = true;
  for (int round = 0; round < 2; ++round) {
    start = Clock::now();
    const FileSetCopyResult copied = CopyShapeFileSet(BasePathOf(shp), (dir / "copy").string());
    copy = std::min(copy, Seconds(start));
    copiedOk = copiedOk && copied.ok;
    start = Clock::now();
    if (!WriteShapeSubset(shp, (dir / "kept.shp").string(), keep, options, saved, &error)) {
      std::fprintf(stderr, "%s\n", error.text.c_str());
      return 1;
    }
    save = std::min(save, Seconds(start));
  }

  std::printf("records %zu, kept %lld (checksum %.0f, with alone counts kept %lld)\n", input.size(),
              static_cast<long long>(result.kept), sum, static_cast<long long>(withAlone.kept));
  std::printf("removals hash %016llx\n", static_cast<unsigned long long>(RemovalHash(result)));
  std::printf("load %.3f s\n", load);
  std::printf("one pass %.4f s\n", pass);
  std::printf("clean, every filter %.3f s (%.0f x one pass), processor time %.3f s\n", clean, clean / pass, cleanCpu);
  std::printf("clean with alone counts %.3f s\n", cleanAlone);
  for (int f = 0; f < kCleanFilterCount; ++f) {
    std::printf("  %s alone %.3f s\n", CleanFilterName(static_cast<CleanFilter>(f)), each[f]);
  }
  std::printf("  flow alone, records in time order %.3f s\n  duplicates alone, records in time order %.3f s\n",
              inOrder[0], inOrder[1]);
  std::printf("save kept %.3f s, copy set %.3f s (%.2f x)%s\n", save, copy, save / copy, copiedOk ? "" : " copy failed");
  std::error_code ignored;
  fs::remove_all(dir, ignored);
  return 0;
}
