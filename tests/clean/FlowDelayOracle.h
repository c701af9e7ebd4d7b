// A plain search for what a flow delay in seconds puts on each record: over
// a stable sort of the records with a time, the first record in time order
// within half the usual step (the median step between distinct times) of
// the record's time plus the delay, searched from the record on (forward)
// or from it back (a negative delay). Records with no match, or no time,
// get NaN; a match gives the matched record's index.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace kestrune::test {

inline std::vector<double> PlainFlowDelayMatches(const std::vector<double>& time, double delay) {
  std::vector<uint32_t> order;
  for (size_t i = 0; i < time.size(); ++i) {
    if (std::isfinite(time[i])) order.push_back(uint32_t(i));
  }
  std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return time[a] < time[b]; });
  std::vector<double> times, steps;
  for (uint32_t i : order) times.push_back(time[i]);
  for (size_t k = 1; k < times.size(); ++k) {
    if (times[k] > times[k - 1]) steps.push_back(times[k] - times[k - 1]);
  }
  std::vector<double> expected(time.size(), std::numeric_limits<double>::quiet_NaN());
  if (steps.empty()) return expected;
  std::sort(steps.begin(), steps.end());
  const double tolerance = steps[steps.size() / 2] / 2 + 1e-9;
  for (size_t k = 0; k < times.size(); ++k) {
    const double want = times[k] + delay;
    if (delay >= 0) {
      size_t j = k;
      while (j < times.size() && times[j] < want - tolerance) ++j;
      if (j < times.size() && std::fabs(times[j] - want) <= tolerance) expected[order[k]] = double(order[j]);
    } else {
      size_t j = k + 1;
      while (j > 0 && times[j - 1] > want + tolerance) --j;
      if (j > 0 && std::fabs(times[j - 1] - want) <= tolerance) expected[order[k]] = double(order[j - 1]);
    }
  }
  return expected;
}

}  // namespace kestrune::test
