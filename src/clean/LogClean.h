// Cleaning a yield or as-applied point log: eight filters that remove the
// records agronomists distrust, applied in a fixed order, each to what the
// ones before it kept.
//
//   range       the field's value outside [min, max] (a blank value too; a
//               record the flow delay leaves without a value is the flow
//               filter's);
//   speed       the speed outside [min, max]: the speed field's value, or,
//               without one, the distance from the record before in file
//               order over the time between them (mph with U.S. units, km/h
//               with metric); a record of unknown speed stays;
//   sd          beyond k population standard deviations of the field's mean;
//   local       beyond k standard deviations (population, of the neighbours'
//               values) of the median of the N nearest records;
//   pass        the first and last S seconds (or records) of each pass. A pass
//               is a run of records in file order whose boom value is above 0;
//               without a boom field, a run of records at none of which the
//               heading from three records before to three records after
//               turns by more than 90 degrees;
//   flow        the field's values shifted by S seconds (or R records) along
//               the log in time order: each record takes the value logged S
//               seconds after it, where the crop it cut reached the sensor.
//               The shift is worked out over the whole log, before any
//               filter, and every filter on that field reads the shifted
//               values; the filter removes the records that get no value (the
//               end of the log, a gap in the logging);
//   duplicates  a record at the same position and time as an earlier one in
//               file order (the same position alone without a time field);
//   width       a zero, negative, blank or below-minimum width.
//
// Each filter counts the records it removes alone (over the whole log) and
// after the filters before it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kestrune {

enum class CleanFilter { Range = 0, Speed, StdDev, Local, Pass, Flow, Duplicates, Width };
constexpr int kCleanFilterCount = 8;

// "range", "speed", "sd", "local", "pass", "flow", "duplicates", "width": the
// names of the JSON and of the ".gpe" keys.
const char* CleanFilterName(CleanFilter filter);

// A delay in seconds, or in records.
struct CleanDelay {
  double amount = 0.0;
  bool records = false;
  friend bool operator==(const CleanDelay& a, const CleanDelay& b) {
    return a.amount == b.amount && a.records == b.records;
  }
};

// Which filters run and how. Fields are 1-based numbers of the table.
struct CleanSettings {
  std::array<bool, kCleanFilterCount> on{};
  int rangeField = 0;
  double rangeMin = 0.0, rangeMax = 0.0;
  double speedMin = 0.0, speedMax = 0.0;
  int sdField = 0;
  double sdK = 3.0;
  int localField = 0;
  double localK = 3.0;
  int localN = 24;
  CleanDelay startDelay, endDelay;
  int flowField = 0;
  CleanDelay flowDelay;
  double minWidth = 0.0;
  // The removed records draw as shadows (a display choice kept with the
  // settings; it removes nothing).
  bool showRemoved = false;

  bool IsOn(CleanFilter f) const { return on[static_cast<size_t>(f)]; }
  void SetOn(CleanFilter f, bool value) { on[static_cast<size_t>(f)] = value; }
  bool Any() const;
  // The value fields the filters read (range, sd, local, flow), without repeats.
  std::vector<int> ValueFields() const;
};

// The log as the filters see it, one entry per record in file order. A value
// that is missing (no point, a blank field) is NaN.
struct CleanInput {
  std::vector<double> x, y;  // metres on a local plane
  std::vector<double> time;  // seconds (days × 86400 + time of day); empty without a time field
  std::vector<double> boom;  // empty without a boom field
  std::vector<double> width; // empty without a width field
  std::vector<double> speed; // the speed field; empty without one
  // The values of field f at values[f] (empty when not read).
  std::vector<std::vector<double>> values;
  // Derived speeds: units per metre per second (mph 2.2369, km/h 3.6).
  double speedUnitsPerMps = 3.6;

  size_t size() const { return x.size(); }
  const std::vector<double>* Values(int field) const;
};

struct CleanResult {
  // 0 for a kept record, else 1 + the index of the filter that removed it.
  std::vector<uint8_t> removedBy;
  std::array<int64_t, kCleanFilterCount> alone{};  // -1 when the filter is off or not counted
  std::array<int64_t, kCleanFilterCount> after{};  // -1 when the filter is off
  int64_t kept = 0;
  // The flow field's values after the shift (empty without the flow filter).
  int flowField = 0;
  std::vector<double> shifted;

  // The run was stopped by its progress callback: nothing above holds.
  bool cancelled = false;

  int64_t Removed() const { return static_cast<int64_t>(removedBy.size()) - kept; }
};

// Told the share of the work done (0 to 100) now and then, on the thread that
// runs CleanLog; returning false stops the run.
using CleanProgress = std::function<bool(int percent)>;

// What keeps the settings from running on the input (a field not read, a
// delay in seconds without times, speed or width filters without their
// data), as an English reason for the caller's message; empty when they run.
std::string CleanSettingsProblem(const CleanInput& input, const CleanSettings& settings);

// Runs the filters that are on. With countAlone, each also counts what it
// removes on its own, one filter after the other; without, the work that
// does not wait on the filters before it runs beside the work that does, on
// the machine's cores, with the same removals. The settings must have no
// problem.
// With progress, tells how far it is and stops when told to (the result
// then says cancelled).
CleanResult CleanLog(const CleanInput& input, const CleanSettings& settings, bool countAlone,
                     const CleanProgress& progress = {});

// Each record's speed in the input's units, NaN when unknown: the speed field,
// or the step from the record before (the one after, for the first).
std::vector<double> RecordSpeeds(const CleanInput& input);

// The local outliers are judged over vectors of four doubles where the
// processor has AVX2, else of two. For tests: 2 keeps to two; 0 (as at the
// start) lets the processor decide. The removals are the same either way.
void SetLocalOutlierLanes(int lanes);

// The value at fraction q (0 to 1) of the sorted finite values, by linear
// interpolation between neighbours; NaN when there are none.
double Percentile(std::vector<double> values, double q);

}  // namespace kestrune
