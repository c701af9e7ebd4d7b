// The computed themes of a log with a rate and a target field: the values
// each record gets, the diverging legend around 0 or 100 %, the Theme box's
// choices, the statistics, and the choice kept in the ".gpe".
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "layers/LayerList.h"
#include "layers/LayerStats.h"
#include "layers/LayerTestFiles.h"
#include "layers/TargetTheme.h"

namespace kestrune {
namespace {

using test::TempDir;

TEST(TargetTheme, DivergingStepIsTheRoundWidthThatReachesThe95thPercentile) {
  struct Case {
    std::vector<double> values;
    double centre;
    double step;
  } cases[] = {
      // 95th percentile of the distances 10 → 10 / 2.5 = 4 → 5.
      {{90, 95, 100, 105, 110}, 100, 5},
      {{100, 100, 100}, 100, 1},  // all on the centre
      {{}, 0, 1},
      {{-3, 3}, 0, 2},          // 3 / 2.5 = 1.2 → 2
      {{-0.25, 0.25}, 0, 0.1},  // 0.1 exactly
      {{-60, 20, 1e9, NAN}, 0, 5e8},  // the far value is the 95th percentile of three
  };
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(DivergingStep(c.values, c.centre), c.step) << c.values.size() << " values";
  }
}

TEST(TargetTheme, DivergingLegendIsCentredWithAnOnTargetClass) {
  Legend legend;
  BuildDivergingLegend(legend, 100.0, 10.0);
  const std::vector<LegendEntry>& e = legend.GetEntries();
  ASSERT_EQ(e.size(), 7u);
  const double breaks[] = {75, 85, 95, 105, 115, 125};
  for (size_t i = 0; i < 6; ++i) EXPECT_DOUBLE_EQ(e[i].value, breaks[i]) << i;
  EXPECT_GT(e[6].value, kLegendTopThreshold);
  // The middle class holds the centre; classes mirror by distance from it.
  EXPECT_EQ(legend.GetColor(100.0), e[3].color);
  EXPECT_EQ(legend.GetColor(96.0), legend.GetColor(104.0));
  EXPECT_NE(legend.GetColor(90.0), legend.GetColor(110.0));
  EXPECT_EQ(legend.GetColor(10.0), e[0].color);
  EXPECT_EQ(legend.GetColor(1000.0), e[6].color);
  EXPECT_FALSE(legend.IsChanged());
}

TEST(TargetTheme, ValuesOfEachRecord) {
  struct Case {
    int16_t column;
    double rate, target, value;
  } cases[] = {
      {kLegendColumnRateMinusTarget, 110, 100, 10},  {kLegendColumnRateMinusTarget, 90, 100, -10},
      {kLegendColumnRatePctTarget, 110, 100, 110},   {kLegendColumnRatePctTarget, 45, 50, 90},
      {kLegendColumnRatePctTarget, 45, 0, NAN},      {kLegendColumnRateMinusTarget, 45, 0, 45},
      {kLegendColumnRateMinusTarget, NAN, 10, NAN},  {kLegendColumnRatePctTarget, 10, NAN, NAN},
  };
  for (const Case& c : cases) {
    const double v = TargetThemeValue(c.column, c.rate, c.target);
    if (std::isnan(c.value)) {
      EXPECT_TRUE(std::isnan(v)) << c.rate << " " << c.target;
    } else {
      EXPECT_DOUBLE_EQ(v, c.value) << c.rate << " " << c.target;
    }
  }
}

// A log of points with Rate and Tgt_Rate (a blank rate in the last row).
std::string WriteTargetLog(const TempDir& dir, const std::vector<double>& rates, const std::vector<double>& targets) {
  test::ShpBuilder shp(1, -94, 41, -92, 43);
  test::DbfTableLayout layout;
  layout.fields = {{"Rate", 'N', 10, 2}, {"Tgt_Rate", 'N', 10, 2}};
  for (size_t i = 0; i < rates.size(); ++i) {
    shp.Point(-93.0 + 0.001 * static_cast<double>(i), 42.0);
    const std::string rate = std::isnan(rates[i]) ? std::string(10, ' ') : test::Number(rates[i]);
    layout.rows.push_back(" " + rate + test::Number(targets[i]));
  }
  const std::string path = (dir / "log.shp").string();
  test::WriteFileBytes(path, shp.Bytes());
  test::WriteFileBytes(dir / "log.dbf", test::MakeDbf(layout));
  return path;
}

TEST(TargetTheme, LogColoursByRateAgainstTargetAndKeepsTheChoice) {
  TempDir dir;
  const std::vector<double> rates{100, 104, 120, 80, 50, 10, NAN};
  const std::vector<double> targets{100, 100, 100, 100, 0, 10, 10};
  const std::string path = WriteTargetLog(dir, rates, targets);
  LayerList list;
  std::vector<Error> errors;
  Layer* layer = list.AddLayer(path, true, false, &errors);
  ASSERT_TRUE(layer);
  ASSERT_EQ(layer->GetLogFields()[LogField::Rate], 1);
  ASSERT_EQ(layer->GetLogFields().target, 2);

  const auto choices = ComputedThemeChoices(*layer);
  ASSERT_EQ(choices.size(), 2u);
  EXPECT_EQ(choices[0].second, kLegendColumnRateMinusTarget);
  EXPECT_EQ(choices[1].second, kLegendColumnRatePctTarget);
  EXPECT_EQ(choices[1].first, "Rate % of Target");

  layer->SetThemeField(kLegendColumnRatePctTarget);
  std::vector<double> values;
  for (const Shape* s : layer->Records()) values.push_back(s->GetValue());
  const std::vector<double> expected{100, 104, 120, 80, NAN, 100, NAN};
  ASSERT_EQ(values.size(), expected.size());
  for (size_t i = 0; i < values.size(); ++i) {
    if (std::isnan(expected[i])) {
      EXPECT_TRUE(std::isnan(values[i])) << i;
    } else {
      EXPECT_DOUBLE_EQ(values[i], expected[i]) << i;
    }
  }
  // Distances 0, 4, 20, 20, 0: the 95th percentile 20 / 2.5 = 8 → 10.
  EXPECT_DOUBLE_EQ(layer->GetLegend().GetEntries()[2].value, 95.0);
  EXPECT_DOUBLE_EQ(layer->GetLegend().GetEntries()[3].value, 105.0);
  EXPECT_EQ(layer->GetValueColor(100.0), layer->GetValueColor(104.0));
  EXPECT_NE(layer->GetValueColor(80.0), layer->GetValueColor(120.0));

  // The statistics follow the computed values (blanks: the zero target and the blank rate).
  const ValueStats stats = ComputeValueStats(LegendColumnValues(*layer));
  EXPECT_EQ(stats.count, 5u);
  EXPECT_EQ(stats.blanks, 2u);
  EXPECT_DOUBLE_EQ(stats.min, 80.0);
  EXPECT_DOUBLE_EQ(stats.max, 120.0);
  EXPECT_DOUBLE_EQ(stats.mean, 100.8);

  // Rate less target, then reopened: the choice and the legend come back.
  layer->SetThemeField(kLegendColumnRateMinusTarget);
  EXPECT_DOUBLE_EQ(layer->Records().front()->GetValue(), 0.0);
  EXPECT_DOUBLE_EQ(layer->GetLegend().GetEntries()[3].value, 10.0);  // distances up to 50: step 20
  const std::vector<LegendEntry> before = layer->GetLegend().GetEntries();
  errors.clear();
  list.RemoveAll(&errors);
  LayerList again;
  Layer* reopened = again.AddLayer(path, true, false, &errors);
  ASSERT_TRUE(reopened);
  EXPECT_EQ(reopened->GetLegendColumn(), kLegendColumnRateMinusTarget);
  EXPECT_EQ(reopened->GetColorMethod(), kColorMethodLegend);
  EXPECT_EQ(reopened->GetLegend().GetEntries(), before);
  std::vector<double> reopenedValues;
  for (const Shape* s : reopened->Records()) reopenedValues.push_back(s->GetValue());
  EXPECT_DOUBLE_EQ(reopenedValues[2], 20.0);
  EXPECT_DOUBLE_EQ(reopenedValues[4], 50.0);

  // Without a target field the theme has nothing to work from: every record is blank.
  LogFields fields = reopened->GetLogFields();
  fields.target = 0;
  reopened->SetLogFields(fields);
  for (const Shape* s : reopened->Records()) EXPECT_TRUE(std::isnan(s->GetValue()));
}

TEST(TargetTheme, NoChoicesWithoutATarget) {
  TempDir dir;
  LayerList list;
  std::vector<Error> errors;
  Layer* layer = list.AddLayer(test::WritePointSet(dir, "plain", {{-93.0, 42.0}}, {5.0}), true, false, &errors);
  ASSERT_TRUE(layer);
  EXPECT_TRUE(ComputedThemeChoices(*layer).empty());
}

}  // namespace
}  // namespace kestrune
