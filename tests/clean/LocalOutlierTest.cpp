// The local-outlier filter against a brute-force search over every pair, on
// layouts that reach each way the search settles: far clusters and lone
// records (the search widening ring by ring), jumps between distant records
// (a loose cap), records on one spot (ties at distance 0), whole-number values
// (the median between two equal values), a k at or below 1 (no shortcut
// by the mean), passes along either axis on a lattice (ties on both sides of
// a record) and a pile of more than n records on one spot at the grid's corner.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "clean/LogClean.h"

namespace kestrune {
namespace {

std::vector<size_t> BruteForce(const CleanInput& in, size_t n, double k) {
  std::vector<size_t> out;
  const std::vector<double>& v = in.values[1];
  for (size_t i = 0; i < in.size(); ++i) {
    std::vector<std::pair<double, size_t>> d;
    for (size_t j = 0; j < in.size(); ++j) {
      if (j == i) continue;
      const double dx = in.x[j] - in.x[i], dy = in.y[j] - in.y[i];
      d.emplace_back(dx * dx + dy * dy, j);
    }
    std::sort(d.begin(), d.end());
    const size_t m = std::min(n, d.size());
    std::vector<double> vals;
    double sum = 0;
    for (size_t q = 0; q < m; ++q) {
      vals.push_back(v[d[q].second]);
      sum += vals.back();
    }
    const double mean = sum / double(m);
    double squares = 0;
    for (double x : vals) squares += (x - mean) * (x - mean);
    const double sigma = std::sqrt(squares / double(m));
    std::sort(vals.begin(), vals.end());
    const double median = m % 2 ? vals[m / 2] : (vals[m / 2 - 1] + vals[m / 2]) / 2;
    if (std::fabs(v[i] - median) > k * sigma) out.push_back(i);
  }
  return out;
}

TEST(LocalOutliers, EveryLayoutMatchesBruteForce) {
  struct Case {
    const char* name;
    int layout;
    size_t n;
    double k;
  };
  const Case cases[] = {
      {"far clusters", 0, 24, 3}, {"lone records", 1, 8, 2},     {"jumps along the file", 2, 24, 2},
      {"one spot", 3, 6, 1},      {"whole values, k 0.5", 4, 24, 0.5}, {"fewer than n", 5, 24, 1},
      {"serpentine passes along x", 6, 24, 2}, {"a pile on the grid's corner", 7, 24, 2},
  };
  for (const Case& c : cases) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> u(0, 1);
    CleanInput in;
    in.values.resize(2);
    const int count = c.layout == 5 ? 12 : 1500;
    for (int i = 0; i < count; ++i) {
      double x = 0, y = 0;
      switch (c.layout) {
        case 0:  // four tight clusters kilometres apart
          x = (i % 4) * 5000.0 + u(rng) * 30;
          y = (i % 4 == 3 ? 9000.0 : 0.0) + u(rng) * 30;
          break;
        case 1:  // a dense block and a few lone records far out
          x = i % 50 == 0 ? 1e4 + i * 300.0 : u(rng) * 100;
          y = i % 50 == 0 ? -2e4 : u(rng) * 100;
          break;
        case 2:  // passes, every other record far from the one before
          x = (i % 2 ? 0.0 : 4000.0) + (i / 200) * 18.0;
          y = (i / 2 % 100) * 2.2;
          break;
        case 3:  // groups of records on one spot
          x = (i / 5) * 3.0;
          y = (i / 5 % 7) * 3.0;
          break;
        case 6:  // back and forth along x on a lattice: ties on both sides
          x = (i / 100 % 2 ? 99 - i % 100 : i % 100) * 2.2;
          y = (i / 100) * 18.0;
          break;
        case 7:  // a third of the records on one spot at the corner, more than n
          x = i % 3 == 0 ? 0.0 : 1 + u(rng) * 300;
          y = i % 3 == 0 ? 0.0 : 1 + u(rng) * 300;
          break;
        default:
          x = u(rng) * 200;
          y = u(rng) * 200;
      }
      in.x.push_back(x);
      in.y.push_back(y);
      const double value = c.layout == 4 ? std::round(u(rng) * 4) : 50 + u(rng) * 6 + (i % 41 == 0 ? 12 : 0);
      in.values[1].push_back(value);
    }
    CleanSettings s;
    s.SetOn(CleanFilter::Local, true);
    s.localField = 1;
    s.localK = c.k;
    s.localN = int(c.n);
    const CleanResult r = CleanLog(in, s, false);
    std::vector<size_t> removed;
    for (size_t i = 0; i < r.removedBy.size(); ++i) {
      if (r.removedBy[i]) removed.push_back(i);
    }
    const std::vector<size_t> expected = BruteForce(in, c.n, c.k);
    EXPECT_EQ(removed, expected) << c.name;
    EXPECT_FALSE(expected.empty()) << c.name;
  }
}

// The layouts the search's shortcuts make risky, on vectors of four doubles
// and of two: runs of every length (vectors cut short at a run's end, the
// record itself anywhere in one) on a lattice of whole metres (ties at cell
// edges), a dense patch beside a sparse line (the threshold from the record
// before far too wide), piles of more than n on spots along a pass (ties at
// distance 0), exactly n + 1 records, and k at or below 1 (no shortcut by the
// sums).
TEST(LocalOutliers, RiskyLayoutsMatchBruteForceOnEitherLanes) {
  struct Case {
    const char* name;
    int layout;
    int count;
    size_t n;
    double k;
  };
  const Case cases[] = {
      {"runs of every length on a lattice", 0, 1200, 24, 2},
      {"a dense patch beside a sparse line", 1, 1500, 24, 2},
      {"piles along a pass", 2, 1200, 24, 1.5},
      {"exactly n + 1 records", 3, 25, 24, 1},
      {"k below 1 on a lattice", 0, 1200, 8, 0.75},
  };
  for (const Case& c : cases) {
    std::mt19937 rng(23);
    std::uniform_real_distribution<double> u(0, 1);
    CleanInput in;
    in.values.resize(2);
    int row = 0, at = 0;
    for (int i = 0; i < c.count; ++i) {
      double x = 0, y = 0;
      switch (c.layout) {
        case 0:  // row r holds r % 9 + 1 records, one metre apart
          if (at > row % 9) {
            at = 0;
            ++row;
          }
          x = at++;
          y = row % 40;
          x += (row / 40) * 12.0;
          break;
        case 1:  // a line of records 5 m apart, then a patch of a metre
          x = i < 300 ? i * 5.0 : 1500.0 + u(rng);
          y = i < 300 ? 0.0 : u(rng);
          break;
        case 2:  // every tenth place along a pass holds a pile of 30
          x = i % 40 < 30 ? (i / 40) * 10.0 : (i / 40) * 10.0 + 2.2 * (i % 40 - 29);
          y = 0;
          break;
        default:
          x = u(rng) * 50;
          y = u(rng) * 50;
      }
      in.x.push_back(x);
      in.y.push_back(y);
      in.values[1].push_back(50 + std::round(u(rng) * 8) + (i % 37 == 0 ? 15 : 0));
    }
    CleanSettings s;
    s.SetOn(CleanFilter::Local, true);
    s.localField = 1;
    s.localK = c.k;
    s.localN = int(c.n);
    const std::vector<size_t> expected = BruteForce(in, c.n, c.k);
    EXPECT_FALSE(expected.empty()) << c.name;
    for (const int lanes : {0, 2}) {
      SetLocalOutlierLanes(lanes);
      const CleanResult r = CleanLog(in, s, false);
      std::vector<size_t> removed;
      for (size_t i = 0; i < r.removedBy.size(); ++i) {
        if (r.removedBy[i]) removed.push_back(i);
      }
      EXPECT_EQ(removed, expected) << c.name << " on lanes " << lanes;
    }
    SetLocalOutlierLanes(0);
  }
}

// Logs large enough for the grid to be built on every core, the records of
// each half of the file in the same cells: scattered in any order, a lattice
// of whole metres visited twice (equal x within a cell, ties at every
// distance) and piles of more than n on spots, one part of each pile in
// each half. Every 53rd record against a search over every pair.
TEST(LocalOutliers, GridBuiltInPartsMatchesBruteForce) {
  struct Case {
    const char* name;
    int layout;
    double k;
  };
  const Case cases[] = {{"scattered in any order", 0, 2}, {"a lattice visited twice", 1, 1.5}, {"piles split between halves", 2, 2}};
  for (const Case& c : cases) {
    std::mt19937 rng(31);
    std::uniform_real_distribution<double> u(0, 1);
    CleanInput in;
    in.values.resize(2);
    const int count = 30000;
    for (int i = 0; i < count; ++i) {
      double x = 0, y = 0;
      if (c.layout == 0) {
        x = u(rng) * 400;
        y = u(rng) * 300;
      } else if (c.layout == 1) {
        x = (i % 15000) % 150;
        y = (i % 15000) / 150;
      } else {
        const int spot = i % 600;  // records i and i + 15000 share a spot
        x = spot % 30 * 7.0;
        y = spot / 30 * 7.0;
      }
      in.x.push_back(x);
      in.y.push_back(y);
      in.values[1].push_back(50 + std::round(u(rng) * 8) + (i % 37 == 0 ? 15 : 0));
    }
    const size_t n = 24;
    std::vector<size_t> expected;
    for (size_t i = 0; i < in.size(); i += 53) {
      std::vector<std::pair<double, size_t>> d;
      d.reserve(in.size());
      for (size_t j = 0; j < in.size(); ++j) {
        if (j == i) continue;
        const double dx = in.x[j] - in.x[i], dy = in.y[j] - in.y[i];
        d.emplace_back(dx * dx + dy * dy, j);
      }
      std::partial_sort(d.begin(), d.begin() + long(n), d.end());
      std::vector<double> vals;
      double sum = 0;
      for (size_t q = 0; q < n; ++q) {
        vals.push_back(in.values[1][d[q].second]);
        sum += vals.back();
      }
      const double mean = sum / double(n);
      double squares = 0;
      for (double x : vals) squares += (x - mean) * (x - mean);
      const double sigma = std::sqrt(squares / double(n));
      std::sort(vals.begin(), vals.end());
      const double median = (vals[n / 2 - 1] + vals[n / 2]) / 2;
      if (std::fabs(in.values[1][i] - median) > c.k * sigma) expected.push_back(i);
    }
    CleanSettings s;
    s.SetOn(CleanFilter::Local, true);
    s.localField = 1;
    s.localK = c.k;
    s.localN = int(n);
    std::vector<size_t> removed;
    const CleanResult r = CleanLog(in, s, false);
    for (size_t i = 0; i < r.removedBy.size(); i += 53) {
      if (r.removedBy[i]) removed.push_back(i);
    }
    EXPECT_EQ(removed, expected) << c.name;
    EXPECT_FALSE(expected.empty()) << c.name;
  }
}

// The progress rises to 100 over a run; told to stop, the run stops at once
// (within the local filter's shares too) and says so.
TEST(LocalOutliers, ProgressRisesAndCancelStops) {
  CleanInput in;
  in.values.resize(2);
  for (int i = 0; i < 60000; ++i) {
    in.x.push_back((i / 300) * 18.0);
    in.y.push_back((i % 300) * 2.2);
    in.values[1].push_back(50 + (i % 7));
  }
  CleanSettings s;
  s.SetOn(CleanFilter::Local, true);
  s.SetOn(CleanFilter::StdDev, true);
  s.localField = s.sdField = 1;
  for (const int stopAt : {-1, 0, 30}) {
    std::vector<int> told;
    const CleanResult r = CleanLog(in, s, true, [&](int percent) {
      told.push_back(percent);
      return stopAt < 0 || percent < stopAt;
    });
    ASSERT_FALSE(told.empty());
    EXPECT_TRUE(std::is_sorted(told.begin(), told.end())) << stopAt;
    if (stopAt < 0) {
      EXPECT_FALSE(r.cancelled);
      EXPECT_EQ(told.back(), 100);
      EXPECT_GT(told.size(), 5u);  // within the local filter too
      EXPECT_EQ(r.kept, CleanLog(in, s, true).kept);
    } else {
      EXPECT_TRUE(r.cancelled) << stopAt;
      EXPECT_GE(told.back(), stopAt);
      EXPECT_LT(told.back(), stopAt + 10) << "the run went on after the cancel";
    }
  }
}

}  // namespace
}  // namespace kestrune
