// One value into a field's statistics, inlined into the passes over a log,
// where the running mean's division chain is the floor. Every pass adds with
// this one function, so the same values in the same order give the same bits.
#pragma once

#include <algorithm>

#include "zones/ZoneSummary.h"

namespace kestrune {

__attribute__((always_inline)) inline void AddZoneValue(ZoneFieldStats& s, double value, double w) {
  ++s.count;
  if (s.count == 1) {
    s.min = s.max = value;
  } else {
    s.min = std::min(s.min, value);
    s.max = std::max(s.max, value);
  }
  const double delta = value - s.mean;
  s.mean += delta / static_cast<double>(s.count);
  s.m2 += delta * (value - s.mean);
  if (w > 0.0) {
    s.weight += w;
    s.weightedSum += w * value;
  }
}

}  // namespace kestrune
