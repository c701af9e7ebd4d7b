#include "layers/TargetTheme.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "lang/LangString.h"
#include "layers/Layer.h"
#include "layers/LayerZM.h"
#include "layers/Legend.h"
#include "layers/NumberColumns.h"
#include "shapes/DbfTable.h"

namespace kestrune {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

constexpr Color Rgb(uint32_t r, uint32_t g, uint32_t b) { return r | (g << 8) | (b << 16); }

// Under the centre warm, on it green, over it blue; the far classes darkest.
constexpr Color kDivergingPalette[7] = {Rgb(0xB2, 0x18, 0x2B), Rgb(0xF4, 0x6D, 0x43), Rgb(0xFE, 0xE0, 0x8B),
                                        Rgb(0x1A, 0x98, 0x50), Rgb(0x92, 0xC5, 0xDE), Rgb(0x43, 0x93, 0xC3),
                                        Rgb(0x21, 0x66, 0xAC)};

bool IsNumber(const DbfField* f) { return f && f->readable && (f->letter == 'N' || f->letter == 'F'); }

double Number(const unsigned char* row, const DbfField& f) {
  const char* text = reinterpret_cast<const char*>(row) + f.offset;
  bool blank = true;
  for (int i = 0; i < f.length && blank; ++i) blank = text[i] == ' ' || text[i] == '\0';
  return blank ? kNaN : ParseDbfNumber(text, static_cast<size_t>(f.length));
}

}  // namespace

bool HasTargetThemes(const LogFields& fields) {
  return fields.Has(LogField::Rate) && fields.target > 0 && fields.target != fields[LogField::Rate];
}

RateTargetColumns ReadRateTargetColumns(const std::string& tablePath, const LogFields& fields) {
  RateTargetColumns columns;
  if (!HasTargetThemes(fields)) return columns;
  DbfTable table;
  if (!table.Open(tablePath)) return columns;
  const DbfField* rate = table.GetField(fields[LogField::Rate]);
  const DbfField* target = table.GetField(fields.target);
  if (!IsNumber(rate) || !IsNumber(target)) return columns;
  std::vector<std::vector<double>> values;
  if (!ReadNumberColumns(table, {rate, target}, values)) return columns;
  columns.rate = std::move(values[0]);
  columns.target = std::move(values[1]);
  return columns;
}

double TargetThemeValue(int16_t column, double rate, double target) {
  return column == kLegendColumnRatePctTarget ? RatePercentOfTarget(rate, target) : RateMinusTarget(rate, target);
}

double TargetThemeValueOfRow(const std::string& tablePath, const LogFields& fields, int16_t column, int row) {
  if (!HasTargetThemes(fields)) return kNaN;
  DbfTable table;
  if (!table.Open(tablePath)) return kNaN;
  const DbfField* rate = table.GetField(fields[LogField::Rate]);
  const DbfField* target = table.GetField(fields.target);
  const unsigned char* bytes = table.RowBytes(row);
  if (!IsNumber(rate) || !IsNumber(target) || !bytes) return kNaN;
  return TargetThemeValue(column, Number(bytes, *rate), Number(bytes, *target));
}

double TargetThemeCentre(int16_t column) { return column == kLegendColumnRatePctTarget ? 100.0 : 0.0; }

std::string TargetThemeKey(int16_t column) {
  return column == kLegendColumnRatePctTarget ? "Rate % of Target" : "Rate - Target";
}

std::string TargetThemeLabel(int16_t column) {
  return LangText(column == kLegendColumnRatePctTarget ? kThemeRatePctTarget : kThemeRateMinusTarget);
}

std::vector<std::pair<std::string, int16_t>> ComputedThemeChoices(const Layer& layer) {
  std::vector<std::pair<std::string, int16_t>> choices = ZMThemeChoices(layer);
  if (HasTargetThemes(layer.GetLogFields())) {
    for (int16_t column : {kLegendColumnRateMinusTarget, kLegendColumnRatePctTarget}) {
      choices.emplace_back(TargetThemeLabel(column), column);
    }
  }
  return choices;
}

double DivergingStep(const std::vector<double>& values, double centre) {
  std::vector<double> distance;
  distance.reserve(values.size());
  for (double v : values) {
    if (std::isfinite(v)) distance.push_back(std::fabs(v - centre));
  }
  if (distance.empty()) return 1.0;
  const size_t at = static_cast<size_t>(std::ceil(0.95 * static_cast<double>(distance.size() - 1)));
  std::nth_element(distance.begin(), distance.begin() + static_cast<std::ptrdiff_t>(at), distance.end());
  const double wanted = distance[at] / 2.5;
  if (!(wanted > 0.0) || !std::isfinite(wanted)) return 1.0;
  double scale = std::pow(10.0, std::floor(std::log10(wanted)));
  for (;;) {
    for (double m : {1.0, 2.0, 5.0}) {
      // A relative tolerance keeps 0.3 / 0.1 from stepping past 5 × 10^n.
      if (m * scale >= wanted * (1.0 - 1e-12)) return m * scale;
    }
    scale *= 10.0;
  }
}

void BuildDivergingLegend(Legend& legend, double centre, double step) {
  legend.RemoveAll();
  legend.SetChanged(false);
  for (int i = 0; i < 6; ++i) legend.Insert(centre + (i - 2.5) * step, kDivergingPalette[i]);
  legend.Insert(kLegendTopValue, kDivergingPalette[6]);
}

}  // namespace kestrune
