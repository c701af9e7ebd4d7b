// The cleaning filters on small logs built in the test, each against values
// worked out by hand or by brute force.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <numeric>
#include <random>
#include <tuple>

#include "FlowDelayOracle.h"
#include "clean/CleanSource.h"
#include "clean/LogClean.h"
#include "layers/IniFile.h"

namespace kestrune {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A straight run of n records 2 m and 1 s apart, value field 1.
CleanInput Line(size_t n) {
  CleanInput in;
  for (size_t i = 0; i < n; ++i) {
    in.x.push_back(2.0 * double(i));
    in.y.push_back(0.0);
    in.time.push_back(100.0 + double(i));
  }
  in.values.resize(2);
  in.values[1].assign(n, 10.0);
  return in;
}

std::vector<size_t> Removed(const CleanResult& r) {
  std::vector<size_t> out;
  for (size_t i = 0; i < r.removedBy.size(); ++i) {
    if (r.removedBy[i]) out.push_back(i);
  }
  return out;
}

TEST(LogClean, FlowDelayShiftsBySecondsOrRecordsInTimeOrder) {
  struct Case {
    const char* name;
    CleanDelay delay;
    std::vector<double> times;  // per record
    std::vector<double> shifted;
  };
  const std::vector<Case> cases = {
      {"two seconds", {2, false}, {0, 1, 2, 3, 4}, {3, 4, 5, kNaN, kNaN}},
      {"two records", {2, true}, {0, 1, 2, 3, 4}, {3, 4, 5, kNaN, kNaN}},
      {"back one second", {-1, false}, {0, 1, 2, 3, 4}, {kNaN, 1, 2, 3, 4}},
      // File order is not time order: the value comes from the record logged later.
      {"out of order", {1, false}, {2, 0, 1, 3, 4}, {4, 3, 1, 5, kNaN}},
      // A gap in the logging leaves the records before it without a source.
      {"gap", {1, false}, {0, 1, 2, 10, 11}, {2, 3, kNaN, 5, kNaN}},
  };
  for (const Case& c : cases) {
    CleanInput in = Line(5);
    in.time = c.times;
    in.values[1] = {1, 2, 3, 4, 5};
    CleanSettings s;
    s.SetOn(CleanFilter::Flow, true);
    s.flowField = 1;
    s.flowDelay = c.delay;
    ASSERT_EQ(CleanSettingsProblem(in, s), "") << c.name;
    const CleanResult r = CleanLog(in, s, true);
    for (size_t i = 0; i < 5; ++i) {
      if (std::isnan(c.shifted[i])) {
        EXPECT_TRUE(std::isnan(r.shifted[i])) << c.name << " record " << i;
        EXPECT_EQ(r.removedBy[i], 1 + int(CleanFilter::Flow)) << c.name;
      } else {
        EXPECT_EQ(r.shifted[i], c.shifted[i]) << c.name << " record " << i;
        EXPECT_EQ(r.removedBy[i], 0) << c.name;
      }
    }
  }
}

TEST(LogClean, FiltersOnTheFlowFieldReadTheShiftedValues) {
  CleanInput in = Line(6);
  in.values[1] = {10, 10, 10, 99, 10, 10};  // 99 belongs to record 1 (logged two seconds late)
  CleanSettings s;
  s.SetOn(CleanFilter::Range, true);
  s.rangeField = 1;
  s.rangeMin = 0;
  s.rangeMax = 50;
  s.SetOn(CleanFilter::Flow, true);
  s.flowField = 1;
  s.flowDelay = {2, false};
  const CleanResult r = CleanLog(in, s, true);
  EXPECT_EQ(Removed(r), (std::vector<size_t>{1, 4, 5}));
  EXPECT_EQ(r.removedBy[1], 1);  // range, on the shifted value
  // Records left without a value by the shift are the flow filter's.
  EXPECT_EQ(r.after[size_t(CleanFilter::Range)], 1);
  EXPECT_EQ(r.after[size_t(CleanFilter::Flow)], 2);
  // A blank value shifted onto a record is outside the range.
  in.values[1][4] = kNaN;
  const CleanResult blank = CleanLog(in, s, true);
  EXPECT_EQ(blank.removedBy[2], 1);
  EXPECT_EQ(blank.after[size_t(CleanFilter::Range)], 2);
}

TEST(LogClean, PassDelayByBoomRunsOrByTurns) {
  // Two passes of boom on, split by two boom-off records.
  CleanInput in = Line(12);
  in.boom = {1, 1, 1, 1, 1, 0, 0, 1, 1, 1, 1, 1};
  CleanSettings s;
  s.SetOn(CleanFilter::Pass, true);
  s.startDelay = {2, false};
  s.endDelay = {1, true};
  EXPECT_EQ(Removed(CleanLog(in, s, false)), (std::vector<size_t>{0, 1, 4, 7, 8, 11}));

  // Without a boom field: a U-turn. Up the y axis 10 records, back down 10.
  CleanInput turn;
  for (int i = 0; i < 20; ++i) {
    turn.x.push_back(i < 10 ? 0.0 : 18.0);
    turn.y.push_back(i < 10 ? 2.0 * i : 2.0 * (19 - i));
    turn.time.push_back(i);
  }
  // At records 9 and 10 the heading turns by more than 90 degrees within
  // three records: the passes are 0 to 8 and 11 to 19.
  s.startDelay = {1, true};
  s.endDelay = {1, true};
  EXPECT_EQ(Removed(CleanLog(turn, s, false)), (std::vector<size_t>{0, 8, 11, 19}));
}

TEST(LogClean, DerivedSpeedAndDuplicatesOutOfOrder) {
  CleanInput in = Line(6);
  in.speedUnitsPerMps = 3.6;
  in.x = {0, 2, 4, 40, 42, 44};  // 2 m/s = 7.2 km/h, then a jump of 36 m in a second
  const std::vector<double> speeds = RecordSpeeds(in);
  EXPECT_NEAR(speeds[0], 7.2, 1e-9);
  EXPECT_NEAR(speeds[3], 129.6, 1e-9);
  in.time[4] = in.time[3];  // no time between: unknown speed, kept
  EXPECT_TRUE(std::isnan(RecordSpeeds(in)[4]));

  CleanSettings s;
  s.SetOn(CleanFilter::Speed, true);
  s.speedMin = 3;
  s.speedMax = 15;
  EXPECT_EQ(Removed(CleanLog(in, s, false)), (std::vector<size_t>{3}));

  CleanInput d = Line(5);
  d.time = {5, 1, 5, 1, 5};
  d.x = {1, 2, 1, 2, 3};
  d.y = {0, 0, 0, 0, 0};
  CleanSettings dup;
  dup.SetOn(CleanFilter::Duplicates, true);
  // The later record of each equal place and time goes; 4 differs in place.
  EXPECT_EQ(Removed(CleanLog(d, dup, false)), (std::vector<size_t>{2, 3}));
}

// The time order behind the flow delay and the duplicates, however the times
// come: in order, whole seconds out of order (days logged again under one
// date), fractions of seconds, whole seconds too far apart to count as one
// span, and blanks. Each against a stable sort and a first-seen table.
TEST(LogClean, TimeOrderAndDuplicatesAgreeWithAStableSort) {
  struct Case {
    const char* name;
    double (*time)(int i, std::mt19937& rng);
  };
  const Case cases[] = {
      {"in order", [](int i, std::mt19937&) { return 1000.0 + i / 2; }},
      {"whole, out of order", [](int i, std::mt19937& rng) { return double(i % 97 + rng() % 3) + 86400.0 * 9; }},
      {"fractions", [](int i, std::mt19937& rng) { return (i % 89) * 0.5 + double(rng() % 2) * 0.25; }},
      {"whole, a wide span", [](int i, std::mt19937& rng) { return i % 5 == 0 ? 1e10 : double(rng() % 50); }},
      {"blanks", [](int i, std::mt19937& rng) { return i % 7 == 0 ? kNaN : double(rng() % 60); }},
  };
  for (const Case& c : cases) {
    std::mt19937 rng(5);
    CleanInput in;
    in.values.resize(2);
    const int n = 3000;
    for (int i = 0; i < n; ++i) {
      in.time.push_back(c.time(i, rng));
      in.x.push_back(double(rng() % 4));
      in.y.push_back(i % 11 == 0 ? kNaN : double(rng() % 3));
      in.values[1].push_back(double(i));
    }
    std::vector<uint32_t> order;
    for (int i = 0; i < n; ++i) {
      if (std::isfinite(in.time[size_t(i)])) order.push_back(uint32_t(i));
    }
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return in.time[a] < in.time[b]; });
    CleanSettings s;
    s.SetOn(CleanFilter::Flow, true);
    s.flowField = 1;
    s.flowDelay = {3, true};
    const CleanResult flow = CleanLog(in, s, false);
    for (size_t k = 0; k < order.size(); ++k) {
      const double expected = k + 3 < order.size() ? double(order[k + 3]) : kNaN;
      const double got = flow.shifted[order[k]];
      ASSERT_TRUE(got == expected || (std::isnan(got) && std::isnan(expected))) << c.name << " at " << k;
    }

    std::map<std::tuple<double, double, double>, int> first;
    std::vector<size_t> duplicates;
    for (int i = 0; i < n; ++i) {
      const size_t at = size_t(i);
      if (!std::isfinite(in.time[at]) || !std::isfinite(in.y[at])) continue;
      if (!first.emplace(std::make_tuple(in.time[at], in.x[at], in.y[at]), i).second) duplicates.push_back(at);
    }
    CleanSettings d;
    d.SetOn(CleanFilter::Duplicates, true);
    EXPECT_EQ(Removed(CleanLog(in, d, false)), duplicates) << c.name;
    EXPECT_FALSE(duplicates.empty()) << c.name;
  }
}

// The time order's shortcuts (no sort for times in order, a count by second
// for whole seconds over a short span, passes of 8 bits over a wider one, a
// general sort for fractions) and the usual step (counted for whole seconds,
// selected otherwise) against a plain search over a stable sort: a flow delay
// in seconds puts on each record the value of the first record, in time
// order, within half the usual step of its time plus the delay; and the
// later of equal places and times goes.
TEST(LogClean, FlowDelayInSecondsAndDuplicatesAgreeWithAPlainSearch) {
  struct Case {
    const char* name;
    double (*time)(int i, int n, std::mt19937& rng);
    double delay;
  };
  const Case cases[] = {
      {"in order", [](int i, int, std::mt19937&) { return 5000.0 + i; }, 12},
      {"in order, stops in the logging", [](int i, int, std::mt19937&) { return 5000.0 + i + (i / 400) * 30; }, 12},
      {"in order, some blank", [](int i, int, std::mt19937&) { return i % 7 == 3 ? kNaN : 5000.0 + i; }, 12},
      {"reversed", [](int i, int n, std::mt19937&) { return 5000.0 + (n - i); }, 12},
      {"nearly in order", [](int i, int, std::mt19937& rng) { return 5000.0 + i + (rng() % 50 == 0 ? 7.0 : 0.0); }, 5},
      {"days logged again under one date", [](int i, int, std::mt19937&) { return 9e4 + (i * 7) % 1000; }, 12},
      {"whole, wider than the records", [](int i, int, std::mt19937&) { return double((i * 7919) % 3001) * 500.0; },
       1000},
      {"steps over a day", [](int i, int, std::mt19937&) { return double(i / 3) * 90000.0 + (i % 3); }, 90000},
      {"fractions", [](int i, int, std::mt19937& rng) { return 50.0 + i * 0.5 + double(rng() % 4) * 0.25; }, -3},
  };
  for (const Case& c : cases) {
    std::mt19937 rng(9);
    CleanInput in;
    in.values.resize(2);
    const int n = 3000;
    for (int i = 0; i < n; ++i) {
      in.time.push_back(c.time(i, n, rng));
      in.x.push_back(double(rng() % 3));
      in.y.push_back(double(rng() % 2));
      in.values[1].push_back(double(i));
    }
    const std::vector<double> expected = test::PlainFlowDelayMatches(in.time, c.delay);
    CleanSettings s;
    s.SetOn(CleanFilter::Flow, true);
    s.flowField = 1;
    s.flowDelay = {c.delay, false};
    const CleanResult flow = CleanLog(in, s, false);
    size_t shifted = 0;
    for (size_t i = 0; i < size_t(n); ++i) {
      const double got = flow.shifted[i];
      ASSERT_TRUE(got == expected[i] || (std::isnan(got) && std::isnan(expected[i]))) << c.name << " at " << i;
      shifted += std::isfinite(got);
    }
    EXPECT_GT(shifted, size_t(n) / 2) << c.name;

    std::map<std::tuple<double, double, double>, int> first;
    std::vector<size_t> duplicates;
    for (int i = 0; i < n; ++i) {
      if (!std::isfinite(in.time[size_t(i)])) continue;
      if (!first.emplace(std::make_tuple(in.time[size_t(i)], in.x[size_t(i)], in.y[size_t(i)]), i).second) {
        duplicates.push_back(size_t(i));
      }
    }
    CleanSettings d;
    d.SetOn(CleanFilter::Duplicates, true);
    EXPECT_EQ(Removed(CleanLog(in, d, false)), duplicates) << c.name;
  }
}

TEST(LogClean, RangeSdAndWidthCountAloneAndAfter) {
  CleanInput in = Line(10);
  in.values[1] = {10, 11, 9, 10, 10, 11, 9, 10, 500, kNaN};
  in.width = {30, 30, 0, 30, kNaN, 30, 30, 30, 30, -1};
  CleanSettings s;
  s.SetOn(CleanFilter::StdDev, true);
  s.sdField = 1;
  s.sdK = 2;
  s.SetOn(CleanFilter::Width, true);
  s.minWidth = 0;
  const CleanResult r = CleanLog(in, s, true);
  EXPECT_EQ(Removed(r), (std::vector<size_t>{2, 4, 8, 9}));
  EXPECT_EQ(r.after[size_t(CleanFilter::StdDev)], 1);
  EXPECT_EQ(r.after[size_t(CleanFilter::Width)], 3);
  EXPECT_EQ(r.alone[size_t(CleanFilter::Width)], 3);
  EXPECT_EQ(r.after[size_t(CleanFilter::Range)], -1);
  EXPECT_EQ(r.kept, 6);
  s.minWidth = 31;
  EXPECT_EQ(CleanLog(in, s, false).kept, 0);
}

// The grid's nearest records against a brute-force search, on a lattice where
// distances tie (ties go to the lower record number) and on scattered points.
TEST(LogClean, LocalOutliersMatchBruteForce) {
  std::mt19937 rng(5);
  for (const int layout : {0, 1, 2, 3}) {
    CleanInput in;
    in.values.resize(2);
    std::uniform_real_distribution<double> u(0, 100), v(-3, 3), jitter(-0.2, 0.2);
    // Layout 3 is large enough to be shared among threads; every 97th record is checked.
    const int count = layout == 3 ? 40000 : layout == 2 ? 2000 : 400;
    const size_t every = layout == 3 ? 97 : 1;
    for (int i = 0; i < count; ++i) {
      if (layout == 0) {  // a lattice: many equal distances
        in.x.push_back(double(i % 20) * 3);
        in.y.push_back(double(i / 20) * 3);
      } else if (layout == 1) {  // scattered
        in.x.push_back(u(rng));
        in.y.push_back(u(rng) * 0.3);
      } else {  // passes 18 m apart, a point every 2.2 m (for 2 and 3)
        in.x.push_back(double(i / 100) * 18 + jitter(rng));
        in.y.push_back(double(i % 100) * 2.2 + jitter(rng));
      }
      in.values[1].push_back(50 + v(rng) + (i % 37 == 0 ? 9 : 0));
    }
    const size_t n = layout >= 2 ? 24 : 8;
    std::vector<size_t> expected;
    for (size_t i = 0; i < in.size(); i += every) {
      std::vector<std::pair<double, size_t>> d;
      for (size_t j = 0; j < in.size(); ++j) {
        if (j == i) continue;
        const double dx = in.x[j] - in.x[i], dy = in.y[j] - in.y[i];
        d.emplace_back(dx * dx + dy * dy, j);
      }
      std::sort(d.begin(), d.end());
      std::vector<double> vals;
      double sum = 0;
      for (size_t k = 0; k < n; ++k) {
        vals.push_back(in.values[1][d[k].second]);
        sum += vals.back();
      }
      const double mean = sum / double(n);
      double squares = 0;
      for (double x : vals) squares += (x - mean) * (x - mean);
      const double var = squares / double(n);
      std::sort(vals.begin(), vals.end());
      const double median = (vals[n / 2 - 1] + vals[n / 2]) / 2;
      if (std::fabs(in.values[1][i] - median) > 2.0 * std::sqrt(var)) expected.push_back(i);
    }
    CleanSettings s;
    s.SetOn(CleanFilter::Local, true);
    s.localField = 1;
    s.localK = 2;
    s.localN = int(n);
    std::vector<size_t> removed;
    for (size_t i : Removed(CleanLog(in, s, false))) {
      if (i % every == 0) removed.push_back(i);
    }
    EXPECT_EQ(removed, expected) << "layout " << layout;
    EXPECT_FALSE(expected.empty());
  }
}

TEST(LogClean, ProblemsNameWhatIsMissing) {
  CleanInput in = Line(3);
  in.time.clear();
  CleanSettings s;
  s.SetOn(CleanFilter::Flow, true);
  s.flowField = 1;
  s.flowDelay = {12, false};
  EXPECT_NE(CleanSettingsProblem(in, s).find("time"), std::string::npos);
  s.flowDelay = {12, true};
  EXPECT_EQ(CleanSettingsProblem(in, s), "");
  s.flowField = 2;
  EXPECT_NE(CleanSettingsProblem(in, s).find("flow"), std::string::npos);
  CleanSettings w;
  w.SetOn(CleanFilter::Width, true);
  EXPECT_NE(CleanSettingsProblem(in, w).find("width"), std::string::npos);
}

TEST(LogClean, PercentilesInterpolate) {
  EXPECT_DOUBLE_EQ(Percentile({4, 1, 3, 2, kNaN}, 0.5), 2.5);
  EXPECT_DOUBLE_EQ(Percentile({0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100}, 0.99), 99.0);
  EXPECT_DOUBLE_EQ(Percentile({0, 100}, 0.01), 1.0);
  EXPECT_TRUE(std::isnan(Percentile({kNaN}, 0.5)));
}

TEST(CleanSettingsKeys, RoundTripAndRemoval) {
  CleanSettings s;
  s.SetOn(CleanFilter::Range, true);
  s.rangeField = 3;
  s.rangeMin = 12.5;
  s.rangeMax = 412.25;
  s.SetOn(CleanFilter::Pass, true);
  s.startDelay = {4, false};
  s.endDelay = {3, true};
  s.SetOn(CleanFilter::Local, true);
  s.localN = 16;
  s.localK = 2.5;
  s.flowDelay = {-1.5, false};
  IniFile ini = IniFile::Parse("[Options]\r\nLEGEND_COL=1\r\n");
  StoreCleanSettings(ini, s);
  const CleanSettings back = ReadCleanSettings(IniFile::Parse(ini.ToText()));
  EXPECT_EQ(back.on, s.on);
  EXPECT_EQ(back.rangeField, 3);
  EXPECT_EQ(back.rangeMin, 12.5);
  EXPECT_EQ(back.rangeMax, 412.25);
  EXPECT_EQ(back.startDelay, s.startDelay);
  EXPECT_EQ(back.endDelay, s.endDelay);
  EXPECT_EQ(back.flowDelay, s.flowDelay);
  EXPECT_EQ(back.localN, 16);
  EXPECT_EQ(back.localK, 2.5);
  EXPECT_TRUE(RemoveCleanSettings(ini));
  EXPECT_EQ(ini.ToText(), "[Options]\r\nLEGEND_COL=1\r\n");
  EXPECT_FALSE(ReadCleanSettings(ini).Any());

  struct DelayCase {
    const char* text;
    bool ok;
    CleanDelay delay;
  };
  for (const DelayCase& c : {DelayCase{"12", true, {12, false}}, DelayCase{"12s", true, {12, false}},
                             DelayCase{"5r", true, {5, true}}, DelayCase{"-2.5", true, {-2.5, false}},
                             DelayCase{"", false, {}}, DelayCase{"r", false, {}}, DelayCase{"3x", false, {}}}) {
    CleanDelay d;
    EXPECT_EQ(ParseCleanDelay(c.text, d), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(d, c.delay) << c.text;
    }
  }
}

}  // namespace
}  // namespace kestrune
