// Class breaks by each method on worked examples, on a skewed log and on a
// real yield log; value statistics and the histogram; the method kept in the
// ".gpe" shaping the layer's legend.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "support/TestSupport.h"
#include "layers/Classes.h"
#include "layers/Layer.h"
#include "layers/LayerInfo.h"
#include "layers/LayerList.h"
#include "layers/LayerStats.h"
#include "layers/Legend.h"
#include "shapes/DbfTable.h"

namespace kestrune {
namespace {

// Total squared deviation within the classes the breaks make.
double WithinClassSsd(const std::vector<double>& sorted, const std::vector<double>& breaks) {
  double total = 0.0;
  size_t i = 0;
  for (size_t c = 0; c <= breaks.size(); ++c) {
    const double upper = c < breaks.size() ? breaks[c] : std::numeric_limits<double>::infinity();
    std::vector<double> cls;
    while (i < sorted.size() && sorted[i] <= upper) cls.push_back(sorted[i++]);
    if (cls.empty()) continue;
    double mean = 0.0;
    for (double v : cls) mean += v;
    mean /= static_cast<double>(cls.size());
    for (double v : cls) total += (v - mean) * (v - mean);
  }
  return total;
}

// Records per class the breaks make.
std::vector<size_t> ClassCounts(const std::vector<double>& sorted, const std::vector<double>& breaks) {
  std::vector<size_t> counts(breaks.size() + 1, 0);
  for (double v : sorted) counts[static_cast<size_t>(std::lower_bound(breaks.begin(), breaks.end(), v) - breaks.begin())]++;
  return counts;
}

void ExpectBreaks(const std::vector<double>& got, const std::vector<double>& want, const char* what) {
  ASSERT_EQ(got.size(), want.size()) << what;
  for (size_t i = 0; i < want.size(); ++i) EXPECT_NEAR(got[i], want[i], 1e-9) << what << " break " << i;
}

TEST(ClassBreaks, WorkedExamples) {
  const std::vector<double> oneToTen{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  const double sd = std::sqrt(8.25);  // population deviation of 1..10
  struct Case {
    ClassMethod method;
    std::vector<double> values;
    int classes;
    std::vector<double> breaks;
  } cases[] = {
      {ClassMethod::EqualInterval, oneToTen, 5, {2.8, 4.6, 6.4, 8.2}},
      {ClassMethod::Quantiles, oneToTen, 5, {2, 4, 6, 8}},
      {ClassMethod::Quantiles, oneToTen, 3, {4, 7}},
      {ClassMethod::StdDeviations, oneToTen, 4, {5.5 - sd, 5.5, 5.5 + sd}},
      {ClassMethod::StdDeviations, oneToTen, 3, {5.5 - 0.5 * sd, 5.5 + 0.5 * sd}},
      {ClassMethod::Pretty, oneToTen, 5, {2, 4, 6, 8}},
      {ClassMethod::Pretty, {0.13, 0.2, 0.77}, 3, {0.2, 0.4, 0.6}},
      {ClassMethod::NaturalBreaks, {1, 2, 3, 10, 11, 12, 20, 21, 22}, 3, {3, 12}},
      {ClassMethod::NaturalBreaks, {1, 1, 1, 1, 5, 6}, 2, {1}},
      // Fewer distinct values than classes: every value closes its class.
      {ClassMethod::NaturalBreaks, {4, 4, 7, 9}, 8, {4, 7}},
      {ClassMethod::Quantiles, {5, 5, 5, 5}, 4, {}},
  };
  for (const Case& c : cases) {
    ExpectBreaks(ClassBreaks(c.method, c.values, c.classes), c.breaks,
                 kLabelClassMethods[static_cast<int>(c.method)]);
  }
}

TEST(ClassBreaks, NaturalBreaksAreTheBestSplit) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> u(0.0, 100.0);
  for (int round = 0; round < 5; ++round) {
    std::vector<double> v(14);
    for (double& x : v) x = std::round(u(random));
    std::sort(v.begin(), v.end());
    std::vector<double> distinct = v;
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    // Every choice of two breaks among the distinct values.
    double best = std::numeric_limits<double>::infinity();
    for (size_t i = 0; i + 1 < distinct.size(); ++i) {
      for (size_t j = i + 1; j + 1 < distinct.size(); ++j) best = std::min(best, WithinClassSsd(v, {distinct[i], distinct[j]}));
    }
    const std::vector<double> jenks = ClassBreaks(ClassMethod::NaturalBreaks, v, 3);
    ASSERT_EQ(jenks.size(), 2u);
    EXPECT_NEAR(WithinClassSsd(v, jenks), best, 1e-9 * std::max(1.0, best));
  }
}

TEST(ClassBreaks, SkewedLogSpreadsOverTheClasses) {
  // A yield-like skew: most values low, a long tail (60,000 values, so
  // natural breaks work on a sample).
  std::mt19937 random(11);
  std::lognormal_distribution<double> skew(2.0, 0.9);
  std::vector<double> v(60000);
  for (double& x : v) x = skew(random);
  std::sort(v.begin(), v.end());
  const std::vector<double> equal = ClassBreaks(ClassMethod::EqualInterval, v, 5);
  const std::vector<double> quant = ClassBreaks(ClassMethod::Quantiles, v, 5);
  const std::vector<double> jenks = ClassBreaks(ClassMethod::NaturalBreaks, v, 5);
  // Equal steps leave most records in the lowest class.
  EXPECT_GT(ClassCounts(v, equal)[0], v.size() * 3 / 4);
  for (size_t count : ClassCounts(v, quant)) EXPECT_NEAR(static_cast<double>(count), v.size() / 5.0, 1.0);
  ASSERT_EQ(jenks.size(), 4u);
  EXPECT_LT(WithinClassSsd(v, jenks), WithinClassSsd(v, equal));
  EXPECT_LT(WithinClassSsd(v, jenks), WithinClassSsd(v, quant));
  // Every break lies among the values, ascending.
  EXPECT_TRUE(std::is_sorted(jenks.begin(), jenks.end()));
  EXPECT_GT(jenks.front(), v.front());
  EXPECT_LT(jenks.back(), v.back());
}

TEST(ClassBreaks, YieldLogFromTheField) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  DbfTable table;
  ASSERT_TRUE(table.Open((data / "field" / "yield-simple1.dbf").string()));
  std::vector<double> v;
  ASSERT_TRUE(table.ReadNumberColumn(1, v));
  ASSERT_EQ(v.size(), 3365u);
  std::sort(v.begin(), v.end());
  for (int classes = kMinClasses; classes <= kMaxClasses; ++classes) {
    const auto quant = ClassBreaks(ClassMethod::Quantiles, v, classes);
    const auto counts = ClassCounts(v, quant);
    ASSERT_EQ(counts.size(), static_cast<size_t>(classes));
    for (size_t count : counts) EXPECT_NEAR(static_cast<double>(count), v.size() / double(classes), 2.0) << classes;
    const auto jenks = ClassBreaks(ClassMethod::NaturalBreaks, v, classes);
    EXPECT_EQ(jenks.size(), static_cast<size_t>(classes - 1));
    EXPECT_LE(WithinClassSsd(v, jenks), WithinClassSsd(v, quant) * (1 + 1e-12));
    EXPECT_LE(WithinClassSsd(v, jenks),
              WithinClassSsd(v, ClassBreaks(ClassMethod::EqualInterval, v, classes)) * (1 + 1e-12));
  }
  // Pretty breaks are round: whole multiples of one step of 1, 2 or 5 × 10^n.
  const auto pretty = ClassBreaks(ClassMethod::Pretty, v, 5);
  ASSERT_GE(pretty.size(), 2u);
  const double step = pretty[1] - pretty[0];
  const double mantissa = step / std::pow(10.0, std::floor(std::log10(step)));
  EXPECT_TRUE(std::fabs(mantissa - 1) < 1e-9 || std::fabs(mantissa - 2) < 1e-9 || std::fabs(mantissa - 5) < 1e-9);
  for (double b : pretty) EXPECT_NEAR(b / step, std::round(b / step), 1e-9);
}

TEST(ValueStats, StatisticsAndHistogram) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::vector<double> values{nan, 10, 1, 2, 3, 4, 5, 6, 7, 8, 9, nan};
  std::vector<double> sorted;
  const ValueStats s = ComputeValueStats(values, &sorted);
  EXPECT_EQ(s.count, 10u);
  EXPECT_EQ(s.blanks, 2u);
  EXPECT_EQ(s.min, 1);
  EXPECT_EQ(s.max, 10);
  EXPECT_DOUBLE_EQ(s.mean, 5.5);
  EXPECT_DOUBLE_EQ(s.median, 5.5);
  EXPECT_DOUBLE_EQ(s.sd, std::sqrt(82.5 / 9.0));
  EXPECT_DOUBLE_EQ(s.p5, 1.45);   // rank 0.45 between 1 and 2
  EXPECT_DOUBLE_EQ(s.p95, 9.55);  // rank 8.55 between 9 and 10
  EXPECT_EQ(sorted.size(), 10u);
  EXPECT_EQ(Histogram(values, 1, 10, 3), (std::vector<size_t>{3, 3, 4}));
  EXPECT_EQ(Histogram(values, 1, 10, 40).size(), 40u);
  EXPECT_EQ(Histogram({}, 0, 1, 4), (std::vector<size_t>{0, 0, 0, 0}));
}

TEST(LegendFromBreaks, PaletteSpreadOverTheClasses) {
  Legend legend;
  legend.BuildFromBreaks({1, 2, 3, 4, 5, 6, 7}, 0);
  ASSERT_EQ(legend.GetCount(), 8u);
  for (size_t i = 0; i < 8; ++i) EXPECT_EQ(legend.GetEntries()[i].color, kLegendPalette[i]);
  legend.BuildFromBreaks({10, 20}, 0);
  ASSERT_EQ(legend.GetCount(), 3u);
  EXPECT_EQ(legend.GetEntries()[0].color, kLegendPalette[0]);
  EXPECT_EQ(legend.GetEntries()[1].color, kLegendPalette[4]);
  EXPECT_EQ(legend.GetEntries()[2].value, kLegendTopValue);
  EXPECT_EQ(legend.GetColor(15), kLegendPalette[4]);
  legend.BuildFromBreaks({}, 3.5);
  EXPECT_EQ(legend.GetEntries().front().value, 3.5);
}

TEST(LegendFromBreaks, MethodKeptInSettingsShapesTheLegend) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  test::TempDir dir;
  const auto shp = test::CopyFileSet(data / "field" / "yield-simple1.shp", dir.path());
  Legend automatic;
  {
    LayerList list;
    Layer* layer = list.AddLayer(shp.string(), true);
    ASSERT_TRUE(layer);
    automatic = layer->GetLegend();
    EXPECT_EQ(layer->Style().GetClassMethod(), 0);
    EXPECT_EQ(layer->Style().GetClassCount(), 8);
  }
  // Quantiles in four classes, kept as two keys.
  std::string gpe = test::ReadFileBytes(dir / "yield-simple1.gpe");
  gpe += "CLASS_METHOD=1\nCLASS_COUNT=4\n";
  test::WriteFileBytes(dir / "yield-simple1.gpe", gpe);
  LayerList list;
  Layer* layer = list.AddLayer(shp.string(), true);
  ASSERT_TRUE(layer);
  std::vector<double> v;
  layer->Records().ForEach([&](Shape* s) { v.push_back(s->GetValue()); });
  std::sort(v.begin(), v.end());
  const auto want = ClassBreaks(ClassMethod::Quantiles, v, 4);
  const auto& entries = layer->GetLegend().GetEntries();
  ASSERT_EQ(entries.size(), 4u);
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(entries[i].value, want[i]);
  EXPECT_NE(layer->GetLegend(), automatic);
}

}  // namespace
}  // namespace kestrune

namespace kestrune {
namespace {

TEST(LayerStats, InfoGivesTheLegendColumnsStatisticsWithoutHiddenRecords) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  test::TempDir dir;
  const auto shp = test::CopyFileSet(data / "field" / "yield-simple1.shp", dir.path());
  LayerList list;
  Layer* layer = list.AddLayer(shp.string(), true);
  ASSERT_TRUE(layer);
  DbfTable table;
  ASSERT_TRUE(table.Open(layer->GetTablePath()));
  std::vector<double> column;
  ASSERT_TRUE(table.ReadNumberColumn(1, column));
  table.Close();  // one reader of a table at a time
  const ValueStats direct = ComputeValueStats(column);
  EXPECT_EQ(direct.count, 3365u);
  const std::string line = LayerSummaryJson(*layer, shp.string());
  EXPECT_NE(line.find("\"stats\": " + ValueStatsJson(direct)), std::string::npos) << line;
  EXPECT_EQ(ValueStatsText(direct).substr(0, 13), "Count: 3,365\n");

  // Records the filter hides are left out.
  std::vector<double> shown;
  size_t i = 0;
  layer->Records().ForEach([&](Shape* s) {
    if (i++ % 3 == 0) {
      s->SetFilteredOut(true);
    } else {
      shown.push_back(column[static_cast<size_t>(s->GetRecordNumber()) - 1]);
    }
  });
  const ValueStats partial = ComputeValueStats(LegendColumnValues(*layer));
  EXPECT_EQ(partial.count, shown.size());
  EXPECT_DOUBLE_EQ(partial.mean, ComputeValueStats(shown).mean);
  EXPECT_DOUBLE_EQ(partial.p95, ComputeValueStats(shown).p95);
}

}  // namespace
}  // namespace kestrune
