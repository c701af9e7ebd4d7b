// The values of a layer's legend column for its statistics and histogram:
// one per record number (the parcels of one record count once), blank cells
// as NaN, and the records its filter hides left out.
#pragma once

#include <string>
#include <vector>

#include "layers/Classes.h"

namespace kestrune {

class Layer;

// NaN for a blank cell or a record without a row; empty without a numeric legend column.
std::vector<double> LegendColumnValues(const Layer& layer);
// The "stats" object of `info`: {"count", "blanks", "min", "max", "mean",
// "median", "sd", "p5", "p95"} (null figures without values).
std::string ValueStatsJson(const ValueStats& stats);
// The same as lines of text, "Count: 3,365" and so on, numbers in their
// shortest exact form whatever the locale.
std::string ValueStatsText(const ValueStats& stats);

constexpr const char* kTextThemeStatistics = "#20500070:Theme Field Statistics";
constexpr const char* kMsgNoThemeStatistics = "#20500071:The active file is not coloured by a numeric field.";
constexpr const char* kStatLabels[9] = {"#20500072:Count", "#20500073:Blanks", "#20500074:Minimum",
                                        "#20500075:Maximum", "#20500076:Mean", "#20500077:Median",
                                        "#20500078:Standard deviation", "#20500079:5th percentile",
                                        "#20500080:95th percentile"};

}  // namespace kestrune
