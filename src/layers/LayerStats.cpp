#include "layers/LayerStats.h"

#include <cmath>
#include <limits>

#include "base/JsonText.h"
#include "lang/LangString.h"
#include "layers/Layer.h"
#include "layers/LogFields.h"
#include "layers/NumberColumns.h"
#include "layers/TargetTheme.h"
#include "shapes/DbfTable.h"

namespace kestrune {

std::vector<double> LegendColumnValues(const Layer& layer) {
  std::vector<double> values;
  const int column = layer.GetLegendColumn();
  const bool targetTheme = IsTargetLegendColumn(static_cast<int16_t>(column));
  if ((column <= 0 && !targetTheme) || layer.IsCategorised()) return values;
  // The computed columns first: the table is opened by one reader at a time.
  RateTargetColumns computed;
  if (targetTheme) {
    computed = ReadRateTargetColumns(layer.GetTablePath(), layer.GetLogFields());
    if (computed.rate.empty()) return values;
  }
  DbfTable table;
  if (!table.Open(layer.GetTablePath())) return values;
  const DbfField* field = targetTheme ? nullptr : table.GetField(column);
  if (!targetTheme && (!field || !field->readable || (field->letter != 'N' && field->letter != 'F'))) return values;
  const int rows = table.GetRecordCount();
  std::vector<bool> seen(static_cast<size_t>(std::max(rows, 0)) + 1, false);
  // Record numbers in file order, each once; a record without a row is blank.
  std::vector<int> records;
  size_t withoutRow = 0;
  layer.Records().ForEach([&](Shape* shape) {
    if (shape->IsFilteredOut()) return;
    const int r = shape->GetRecordNumber();
    if (r < 1 || r > rows) {
      ++withoutRow;
    } else if (!seen[static_cast<size_t>(r)]) {
      seen[static_cast<size_t>(r)] = true;
      records.push_back(r);
    }
  });
  values.reserve(records.size() + withoutRow);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // The column read in one pass (two threads on a big table): NaN for a
  // blank cell or a row the file no longer holds.
  std::vector<std::vector<double>> cells;
  if (!targetTheme && !ReadNumberColumns(table, {field}, cells)) return {};
  for (int r = 1; r <= rows; ++r) {
    if (!seen[static_cast<size_t>(r)]) continue;
    if (targetTheme) {
      const size_t i = static_cast<size_t>(r) - 1;
      values.push_back(i < computed.rate.size()
                           ? TargetThemeValue(static_cast<int16_t>(column), computed.rate[i], computed.target[i])
                           : nan);
      continue;
    }
    values.push_back(cells[0][static_cast<size_t>(r) - 1]);
  }
  values.insert(values.end(), withoutRow, nan);
  return values;
}

std::string ValueStatsJson(const ValueStats& s) {
  std::string out = "{\"count\": ";
  AppendJsonInt(out, static_cast<int64_t>(s.count));
  out += ", \"blanks\": ";
  AppendJsonInt(out, static_cast<int64_t>(s.blanks));
  const std::pair<const char*, double> figures[] = {{"min", s.min},       {"max", s.max}, {"mean", s.mean},
                                                    {"median", s.median}, {"sd", s.sd},   {"p5", s.p5},
                                                    {"p95", s.p95}};
  for (const auto& [name, value] : figures) {
    out += ", ";
    AppendJsonString(out, name);
    out += ": ";
    if (s.count > 0) {
      AppendJsonDouble(out, value);
    } else {
      out += "null";
    }
  }
  out += '}';
  return out;
}

std::string ValueStatsText(const ValueStats& s) {
  std::string out;
  const auto line = [&](int label, const std::string& value) {
    out += LangText(kStatLabels[label]);
    out += ": ";
    out += value;
    out += '\n';
  };
  line(0, GroupedCount(s.count));
  line(1, GroupedCount(s.blanks));
  const double figures[] = {s.min, s.max, s.mean, s.median, s.sd, s.p5, s.p95};
  for (int i = 0; i < 7; ++i) {
    std::string number;
    if (s.count > 0) {
      AppendJsonDouble(number, figures[i]);
    } else {
      number = "-";
    }
    line(i + 2, number);
  }
  return out;
}

}  // namespace kestrune
