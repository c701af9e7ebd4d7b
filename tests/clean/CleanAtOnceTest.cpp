// A cleaning without the counts alone does some filters' work beside others
// (the time order beside the speeds, passes and widths; the duplicates'
// groups beside the local grid; the grid itself on every core). Each layout
// here is cleaned both ways, and the run counting alone, which takes the
// filters one after the other, must remove the same records by the same
// filters, with the same counts and shifted values. The logs are large
// enough for the local filter to share its work among threads, and hold
// duplicates whose first record an earlier filter removes (the next one then
// stays).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "FlowDelayOracle.h"
#include "clean/LogClean.h"

namespace kestrune {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

enum Times { kInOrder, kOutOfOrder, kNoTimes };

// Passes 18 m apart along y (records 2.2 m apart), values round 50 with
// spikes, a boom off now and then, some zero widths, blank values and places,
// and every 50th record logged again at its own place and time (its first
// copy a spike every 150th record, so the range takes it and the copy stays).
CleanInput Log(size_t count, Times times, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(0, 1);
  CleanInput in;
  in.values.resize(3);
  for (size_t i = 0; in.size() < count; ++i) {
    const double x = double(i / 120) * 18 + (u(rng) - 0.5) * 0.4;
    const double y = double(i / 120 % 2 ? 119 - i % 120 : i % 120) * 2.2 + (u(rng) - 0.5) * 0.4;
    double value = 50 + u(rng) * 6 + (i % 41 == 0 ? 14 : 0) + (i % 150 == 0 ? 400 : 0);
    if (i % 997 == 0) value = kNaN;
    const double t = times == kOutOfOrder && i % 3000 >= 1500 ? double(i) - 1500.0 : double(i);
    const int copies = i % 50 == 0 ? 2 : 1;
    for (int c = 0; c < copies; ++c) {
      in.x.push_back(i % 1999 == 0 ? kNaN : x);
      in.y.push_back(y);
      if (times != kNoTimes) in.time.push_back(t);
      in.boom.push_back(i % 400 < 380 ? 1.0 : 0.0);
      in.width.push_back(i % 613 == 0 ? 0.0 : 30.0);
      in.values[1].push_back(c == 0 ? value : 52.0);
      in.values[2].push_back(100 + u(rng) * 20);
    }
  }
  return in;
}

CleanSettings EveryFilter(int flowField) {
  CleanSettings s;
  s.on.fill(true);
  s.rangeField = 1;
  s.rangeMin = 40;
  s.rangeMax = 300;
  s.speedMin = 0.5;
  s.speedMax = 30;
  s.sdField = 1;
  s.sdK = 2.5;
  s.localField = 1;
  s.localK = 2;
  s.localN = 24;
  s.startDelay = {3, false};
  s.endDelay = {2, true};
  s.flowField = flowField;
  s.flowDelay = {4, false};
  s.minWidth = 1;
  return s;
}

void ExpectSame(const CleanResult& atOnce, const CleanResult& inTurn, const char* name) {
  ASSERT_FALSE(atOnce.cancelled) << name;
  EXPECT_EQ(atOnce.removedBy, inTurn.removedBy) << name;
  EXPECT_EQ(atOnce.after, inTurn.after) << name;
  EXPECT_EQ(atOnce.kept, inTurn.kept) << name;
  EXPECT_EQ(atOnce.flowField, inTurn.flowField) << name;
  ASSERT_EQ(atOnce.shifted.size(), inTurn.shifted.size()) << name;
  // Bit for bit (blanks included); an empty result has no bytes to compare.
  if (!atOnce.shifted.empty()) {
    EXPECT_EQ(0, std::memcmp(atOnce.shifted.data(), inTurn.shifted.data(), atOnce.shifted.size() * sizeof(double)))
        << name;
  }
  for (int64_t count : atOnce.alone) EXPECT_EQ(count, -1) << name;
}

TEST(CleanAtOnce, SameRemovalsAsTheFiltersInTurn) {
  struct Case {
    const char* name;
    Times times;
    int flowField;  // 0: no flow delay
    bool records;   // delays in records
    bool local;
    bool boom;
  };
  const Case cases[] = {
      {"every filter, times in order, the flow field filtered", kInOrder, 1, false, true, true},
      {"every filter, times out of order", kOutOfOrder, 1, false, true, true},
      {"the flow delay on another field", kOutOfOrder, 2, false, true, true},
      {"no time field: delays in records, duplicates by place", kNoTimes, 1, true, true, true},
      {"without the local filter (groups found on their own)", kOutOfOrder, 1, false, false, true},
      {"without the flow delay, passes by turns", kInOrder, 0, false, true, false},
  };
  for (const Case& c : cases) {
    CleanInput in = Log(30000, c.times, 7);
    if (!c.boom) in.boom.clear();
    if (c.times == kNoTimes) {
      for (size_t i = 0; i < in.size(); ++i) in.speed.push_back(i % 211 == 0 ? 60.0 : 8.0);
    }
    CleanSettings s = EveryFilter(c.flowField > 0 ? c.flowField : 1);
    s.SetOn(CleanFilter::Flow, c.flowField > 0);
    s.SetOn(CleanFilter::Local, c.local);
    if (c.records) {
      s.startDelay.records = true;
      s.flowDelay.records = true;
    }
    ASSERT_EQ(CleanSettingsProblem(in, s), "") << c.name;
    const CleanResult inTurn = CleanLog(in, s, true);
    const CleanResult atOnce = CleanLog(in, s, false);
    ExpectSame(atOnce, inTurn, c.name);
    // Every filter that is on removes something here.
    for (int f = 0; f < kCleanFilterCount; ++f) {
      if (s.on[size_t(f)]) {
        EXPECT_GT(atOnce.after[size_t(f)], 0) << c.name << ": " << CleanFilterName(CleanFilter(f));
      }
    }
  }
}

// Duplicates after the filters before them: in each pair of one place and
// time, the first record goes to an earlier filter where it is a spike, and
// then the second stays; else the second goes.
TEST(CleanAtOnce, DuplicateOfARemovedRecordStays) {
  CleanInput in;
  in.values.resize(2);
  for (int i = 0; i < 40; ++i) {
    for (int copy = 0; copy < 2; ++copy) {
      in.x.push_back(i * 2.0);
      in.y.push_back(0.0);
      in.time.push_back(i % 2 ? 1000.0 - i : double(i));  // out of order
      in.values[1].push_back(copy == 0 && i % 4 == 0 ? 500.0 : 50.0);
    }
  }
  CleanSettings s;
  s.SetOn(CleanFilter::Range, true);
  s.SetOn(CleanFilter::Duplicates, true);
  s.rangeField = 1;
  s.rangeMin = 0;
  s.rangeMax = 100;
  const CleanResult r = CleanLog(in, s, false);
  for (int i = 0; i < 40; ++i) {
    EXPECT_EQ(r.removedBy[size_t(2 * i)], i % 4 == 0 ? 1 : 0) << i;
    EXPECT_EQ(r.removedBy[size_t(2 * i + 1)], i % 4 == 0 ? 0 : 7) << i;
  }
  EXPECT_EQ(r.after[size_t(CleanFilter::Duplicates)], 30);
  ExpectSame(r, CleanLog(in, s, true), "pairs");
}

// Logs of no, one and two records with every filter on: nothing to judge a
// record against, the same as the filters in turn.
TEST(CleanAtOnce, TinyLogsAsTheFiltersInTurn) {
  for (const size_t count : {0u, 1u, 2u}) {
    CleanInput in = Log(count, kOutOfOrder, 5);
    in.x.resize(count);
    in.y.resize(count);
    in.time.resize(count);
    in.boom.resize(count);
    in.width.resize(count);
    in.values[1].resize(count);
    in.values[2].resize(count);
    const CleanSettings s = EveryFilter(1);
    const CleanResult atOnce = CleanLog(in, s, false);
    ExpectSame(atOnce, CleanLog(in, s, true), "tiny");
    EXPECT_EQ(atOnce.removedBy.size(), count);
  }
}

// A run told to stop stops at once and says so: before any filter, before
// the standard deviations, and in the filters after the local outliers.
TEST(CleanAtOnce, CancelStops) {
  const CleanInput in = Log(30000, kOutOfOrder, 3);
  const CleanSettings s = EveryFilter(1);
  for (const int stopAt : {0, 10, 90}) {
    int last = -1;
    const CleanResult r = CleanLog(in, s, false, [&](int percent) {
      last = percent;
      return percent < stopAt;
    });
    EXPECT_TRUE(r.cancelled) << stopAt;
    EXPECT_GE(last, stopAt);
    EXPECT_LT(last, stopAt + 10) << "the run went on after the cancel";
  }
}

// The time order is scanned in a part of the log on each core: whether the
// times are in order must come out the same where the parts meet. A flow
// delay of 3 records against a stable sort, on logs large enough for parts:
// in order with blanks about the middle, in order but for one step back
// right at the middle, each half in order but the halves swapped, the
// second half blank, and whole seconds out of order over a short span
// (counted by second in parts, each second's records in both halves).
// Records one unit apart along a line, at the given times, each record's
// field 1 holding its own number.
CleanInput AlongALine(int count, double (*time)(int i)) {
  CleanInput in;
  in.values.resize(2);
  for (int i = 0; i < count; ++i) {
    in.x.push_back(i);
    in.y.push_back(0);
    in.time.push_back(time(i));
    in.values[1].push_back(i);
  }
  return in;
}

TEST(CleanAtOnce, TimeOrderScannedInPartsAgreesWithAStableSort) {
  constexpr int kCount = 40000;
  struct Case {
    const char* name;
    double (*time)(int i);
  };
  const Case cases[] = {
      {"in order, blanks about the middle",
       [](int i) { return i > kCount / 2 - 5 && i < kCount / 2 + 5 ? kNaN : 100.0 + i; }},
      {"one step back at the middle", [](int i) { return i == kCount / 2 ? 100.0 + i - 2 : 100.0 + i; }},
      {"halves swapped", [](int i) { return i < kCount / 2 ? 1e5 + i : 100.0 + i; }},
      {"second half blank", [](int i) { return i < kCount / 2 ? 100.0 + i : kNaN; }},
      // Counted by second in parts: equal seconds in both halves keep file order.
      {"whole seconds out of order, each twice or more", [](int i) { return 5e5 + double((i * 7919) % 30011 % 20000); }},
  };
  for (const Case& c : cases) {
    const CleanInput in = AlongALine(kCount, c.time);
    std::vector<uint32_t> order;
    for (uint32_t i = 0; i < uint32_t(kCount); ++i) {
      if (std::isfinite(in.time[i])) order.push_back(i);
    }
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return in.time[a] < in.time[b]; });
    CleanSettings s;
    s.SetOn(CleanFilter::Flow, true);
    s.flowField = 1;
    s.flowDelay = {3, true};
    const CleanResult r = CleanLog(in, s, false);
    size_t wrong = 0;
    for (size_t k = 0; k < order.size(); ++k) {
      const double expected = k + 3 < order.size() ? double(order[k + 3]) : kNaN;
      const double got = r.shifted[order[k]];
      wrong += !(got == expected || (std::isnan(got) && std::isnan(expected)));
    }
    EXPECT_EQ(wrong, 0u) << c.name;
  }
}

// The flow delay in seconds walks the records in time order in a part on
// each core, each part's walk starting at its own first record: against a
// plain search over a stable sort (the first record, in time order, within
// half the usual step of the time plus the delay), forward and back, on logs
// large enough for parts.
TEST(CleanAtOnce, FlowDelayInSecondsInPartsAgreesWithAPlainSearch) {
  constexpr int kCount = 40000;
  struct Case {
    const char* name;
    double (*time)(int i);
    double delay;
  };
  const Case cases[] = {
      {"in order, stops in the logging", [](int i) { return 5000.0 + i + (i / 400) * 30; }, 12},
      {"days logged again under one date", [](int i) { return 9e4 + (i * 7) % 25000; }, 12},
      {"fractions, looking back", [](int i) { return 50.0 + i * 0.5 + (i % 4) * 0.125; }, -3},
  };
  for (const Case& c : cases) {
    const CleanInput in = AlongALine(kCount, c.time);
    const std::vector<double> expected = test::PlainFlowDelayMatches(in.time, c.delay);
    CleanSettings s;
    s.SetOn(CleanFilter::Flow, true);
    s.flowField = 1;
    s.flowDelay = {c.delay, false};
    const CleanResult r = CleanLog(in, s, false);
    size_t wrong = 0, shifted = 0;
    for (size_t i = 0; i < size_t(kCount); ++i) {
      const double got = r.shifted[i];
      wrong += !(got == expected[i] || (std::isnan(got) && std::isnan(expected[i])));
      shifted += std::isfinite(got);
    }
    EXPECT_EQ(wrong, 0u) << c.name;
    EXPECT_GT(shifted, size_t(kCount) / 2) << c.name;
  }
}

}  // namespace
}  // namespace kestrune
