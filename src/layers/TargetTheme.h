// Two themes a log with a rate and a target field works out per record: the
// rate less the target, and the rate in percent of the target (blank where
// the target is 0). Each colours through a diverging legend centred on 0 or
// on 100 %: an on-target class in the middle, three classes each side.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "layers/LayerSettings.h"
#include "layers/LogFields.h"

namespace kestrune {

class Layer;
class Legend;

constexpr const char* kThemeRateMinusTarget = "#20830000:Rate \xe2\x88\x92 Target";
constexpr const char* kThemeRatePctTarget = "#20830001:Rate % of Target";

// Whether the log fields give both themes: a rate and a distinct target field.
bool HasTargetThemes(const LogFields& fields);

// The rate and target columns by row (index = row - 1, NaN for a blank);
// both empty unless the table has two distinct readable numeric such fields.
struct RateTargetColumns {
  std::vector<double> rate, target;
};
RateTargetColumns ReadRateTargetColumns(const std::string& tablePath, const LogFields& fields);

// A record's value under a target theme (NaN for a blank or a zero target
// under the percent theme).
double TargetThemeValue(int16_t column, double rate, double target);

// The value of one row of the table under a target theme, read afresh.
double TargetThemeValueOfRow(const std::string& tablePath, const LogFields& fields, int16_t column, int row);

// The value the legend is centred on: 0, or 100 for the percent theme.
double TargetThemeCentre(int16_t column);

// The name kept with the legend file ("Rate - Target", "Rate % of Target"),
// the same in every language; and the text the Theme box shows.
std::string TargetThemeKey(int16_t column);
std::string TargetThemeLabel(int16_t column);

// The choices a layer offers besides its fields, as (label, legend column):
// "Z" and "M" of a Z or M file, then both target themes of a log with a rate
// and a target field.
std::vector<std::pair<std::string, int16_t>> ComputedThemeChoices(const Layer& layer);

// The width of a diverging class: 1, 2 or 5 × 10^n, the smallest such that
// 2.5 of them reach the 95th percentile of the values' distance from centre
// (1 when every value is the centre or there are none; NaN values left out).
double DivergingStep(const std::vector<double>& values, double centre);

// Replaces the legend by seven classes around centre: the middle one
// centre ± step/2, then two of step each way and an open class at each end,
// coloured from red (under) through green (on centre) to blue (over).
void BuildDivergingLegend(Legend& legend, double centre, double step);

}  // namespace kestrune
