// The display settings and their keys, the legend and category files, and
// the legend values and colours of the records.
#include "layers/LayerStyle.h"

#include <atomic>
#include <cmath>
#include <algorithm>
#include <utility>
#include <vector>

#include "base/Platform.h"
#include "base/Preferences.h"
#include "lang/LangString.h"
#include "layers/Classes.h"
#include "layers/LayerSource.h"
#include "layers/LogFields.h"
#include "layers/RecordShares.h"
#include "layers/RowScan.h"
#include "layers/TargetTheme.h"
#include "shapes/DbfTable.h"

namespace kestrune {

namespace {

// A field's number in the row read (0 for a field the table cannot give).
double ReadNumber(const DbfTable& table, int16_t column) {
  double value = 0.0;
  table.GetNumber(column, value);
  return value;
}

// The start and end of the lowest and highest values ComputeValues looks for.
constexpr double kValueMaxStart = -1e99;
constexpr double kValueMinStart = 1e99;

// Tells the status line that a table's values could not be read, and why.
void ReportUnreadableTable(const RowScan& rows) {
  const std::string reason = rows.error == DbfError::Locked ? LangText(kMsgTableLocked) : rows.errorText;
  ShowStatus(LangFormat(kMsgTableValuesUnread, rows.path.c_str(), reason.c_str()));
}

}  // namespace

bool LayerStyle::HasFile() const { return source_ && !source_->GetBasePath().empty(); }

// ---------------------------------------------------------------- display settings

// Stores a symbol size or line width (metres when metric) and writes "DISPLAY_SIZE".
void LayerStyle::SetDisplaySize(double value, bool metric) {
  kestrune::SetDisplaySize(settings_, value, metric);
  WriteKey(SettingKey::DisplaySize);
}

// Stores the border choice and writes "DRAW_BORDER".
void LayerStyle::SetDrawBorder(bool on) {
  settings_.drawBorder = on;
  WriteKey(SettingKey::DrawBorder);
}

// Stores the fill opacity (kept within 0 to 100) and writes "FILL_OPACITY".
void LayerStyle::SetFillOpacity(int percent) {
  settings_.fillOpacity = ClampFillOpacity(percent);
  WriteKey(SettingKey::FillOpacity);
}

// Stores the colour method and writes "COLOR_METHOD".
void LayerStyle::SetColorMethod(int method) {
  settings_.colorMethod = method;
  WriteKey(SettingKey::ColorMethod);
}

// Stores the solid colour and writes "SOLID_COLOR".
void LayerStyle::SetSolidColor(Color color) {
  settings_.solidColor = color;
  WriteKey(SettingKey::SolidColor);
}

// Stores the legend column and writes "LEGEND_COL".
void LayerStyle::SetLegendColumn(int16_t column) {
  settings_.legendColumn = column;
  categoriesChosen_ = true;
  WriteKey(SettingKey::LegendColumn);
}

// The settings file's display state, or the same rules on what is in memory.
void LayerStyle::LoadSettings() {
  const double defaultSize = GetPreferences().GetDefaultDisplaySize(false);
  if (HasFile()) {
    LoadLayerSettings(source_->GetSettingsPath(), settings_, defaultSize);
  } else {
    // No file, no settings file: the same rules on what is in memory.
    if (settings_.legendColumn <= 0 && !IsComputedLegendColumn(settings_.legendColumn)) {
      settings_.colorMethod = kColorMethodSolid;
    }
    if (!(settings_.displaySizeFt >= 1.0)) settings_.displaySizeFt = defaultSize;
  }
}

// A layer without a file has no settings file: nothing is read or written
// (a relative ".gpe" in the current folder is no file of the layer's).
bool LayerStyle::ReadSetting(const std::string& key, int32_t& value) const {
  if (!HasFile()) {
    value = 0;
    return false;
  }
  return kestrune::ReadSetting(source_->GetSettingsPath(), key, value);
}

// Writes key = value into the settings file.
void LayerStyle::WriteSetting(const std::string& key, const std::string& value) const {
  if (HasFile()) kestrune::WriteSetting(source_->GetSettingsPath(), key, value);
}

// Writes key = a decimal number into the settings file.
void LayerStyle::WriteIntSetting(const std::string& key, int32_t value) const {
  if (HasFile()) kestrune::WriteIntSetting(source_->GetSettingsPath(), key, value);
}

// Writes one display setting's key from the layer's state.
void LayerStyle::WriteKey(SettingKey key) const {
  if (HasFile()) WriteLayerSetting(source_->GetSettingsPath(), settings_, key);
}

// ---------------------------------------------------------------- legend files

// Reads the legend file, when the layer has one made for its legend column.
bool LayerStyle::LoadLegendFile(Error& notice) {
  // A legend file applies only to the field it was made for.
  if (!HasFile() || !LegendFileFitsColumn()) return true;
  return legend_.LoadFile(source_->GetLegendPath(), &notice);
}

// Writes the legend when the legend dialog changed it, and the categories
// when they differ from their file; false, with the error, when that failed.
bool LayerStyle::SaveLegend(Error* error) {
  // A layer coloured by a text field has no numeric legend to keep.
  if (!categorised_ && legend_.IsChanged() && HasFile()) {
    if (!legend_.SaveFile(source_->GetLegendPath(), error)) return false;
    WriteSetting(kKeyLegendField, LegendColumnName());
  }
  if (categorised_ && categories_.IsChanged() && HasFile()) {
    if (!categories_.SaveFile(source_->GetCategoryPath(), error)) return false;
    categories_.SetChanged(false);
  }
  return true;
}

// The name of the legend column's field; empty without one.
std::string LayerStyle::LegendColumnName() const {
  std::string name;
  if (settings_.legendColumn == kLegendColumnZ) return "Z";
  if (settings_.legendColumn == kLegendColumnM) return "M";
  if (IsTargetLegendColumn(settings_.legendColumn)) return TargetThemeKey(settings_.legendColumn);
  if (settings_.legendColumn > 0 && source_) {
    DbfTable table;
    if (table.Open(source_->GetTablePath())) table.GetFieldName(settings_.legendColumn, name);
  }
  return name;
}

// Whether the legend file was made for the legend column's field: a settings
// file that names no field (one written before the name was kept) says yes.
bool LayerStyle::LegendFileFitsColumn() const {
  const std::string made = ReadSettingText(source_->GetSettingsPath(), kKeyLegendField);
  return made.empty() || made == LegendColumnName();
}

// ---------------------------------------------------------------- values

// The values and the legend's range (the log fields' flags and summary are
// the layer's to work out next).
void LayerStyle::ComputeValues(const RecordList& records, const RowScan& rows, const std::vector<RecordZM>* zm,
                               const LogFields* fields) {
  const int16_t column = settings_.legendColumn;
  if (IsTargetLegendColumn(column)) {
    ComputeTargetValues(records, fields ? *fields : LogFields{});
    return;
  }
  if (IsZMLegendColumn(column)) {
    categorised_ = false;
    const bool z = column == kLegendColumnZ;
    double max = kValueMaxStart;
    double min = kValueMinStart;
    records.ForEach([&](Shape* shape) {
      const size_t row = static_cast<size_t>(shape->GetRecordNumber());
      double value = kNoValue;
      if (zm && row >= 1 && row <= zm->size()) {
        const RecordZM& r = (*zm)[row - 1];
        const double lo = z ? r.zMin : r.mMin;
        const double hi = z ? r.zMax : r.mMax;
        if (!std::isnan(lo)) value = lo == hi ? lo : lo + (hi - lo) / 2;
      }
      shape->SetValue(value);
      if (value > max) max = value;
      if (value < min) min = value;
    });
    legend_.BuildAutomatic(max, min);
    return;
  }
  // Without a column nothing is read, so the table need not be opened. A table
  // that cannot be read is told, rather than every value silently showing 0.
  if (column > 0 && !rows.opened) ReportUnreadableTable(rows);
  categorised_ = false;
  if (column > 0 && rows.textColumn) {
    DbfTable table;
    if (table.Open(source_->GetTablePath())) ComputeCategories(records, table, column);
    return;
  }
  double value = 0.0;
  double max = kValueMaxStart;
  double min = kValueMinStart;
  records.ForEach([&](Shape* shape) {
    // A record without a readable attribute row has no value.
    const int row = shape->GetRecordNumber();
    if (column > 0) {
      value = row >= 1 && static_cast<size_t>(row) <= rows.values.size() ? rows.values[static_cast<size_t>(row) - 1]
                                                                        : kNoValue;
    }
    shape->SetValue(value);
    if (value > max) max = value;
    if (value < min) min = value;
  });
  if (column > 0) {
    legend_.BuildAutomatic(max, min);
    ApplyClassMethod(records);
  }
}

void LayerStyle::ComputeLegendFromRange(const RecordList& records, double max, double min) {
  categorised_ = false;
  if (settings_.legendColumn > 0) {
    legend_.BuildAutomatic(max, min);
    ApplyClassMethod(records);
  }
}

double LayerStyle::RangeMaxStart() { return kValueMaxStart; }
double LayerStyle::RangeMinStart() { return kValueMinStart; }

// Each record's rate less its target (or rate in percent of it), and the
// diverging legend around 0 (or 100) that fits them.
void LayerStyle::ComputeTargetValues(const RecordList& records, const LogFields& fields) {
  categorised_ = false;
  targetFields_ = fields;
  const int16_t column = settings_.legendColumn;
  const RateTargetColumns columns =
      source_ ? ReadRateTargetColumns(source_->GetTablePath(), fields) : RateTargetColumns{};
  // The step is found from at most about a million values, taken evenly.
  const size_t stride = std::max<size_t>(1, records.size() / 1000000);
  std::vector<double> sample;
  size_t at = 0;
  records.ForEach([&](Shape* shape) {
    const size_t row = static_cast<size_t>(std::max(shape->GetRecordNumber(), 0));
    double value = kNoValue;
    if (row >= 1 && row <= columns.rate.size()) {
      value = TargetThemeValue(column, columns.rate[row - 1], columns.target[row - 1]);
    }
    shape->SetValue(value);
    if (at++ % stride == 0 && std::isfinite(value)) sample.push_back(value);
  });
  const double centre = TargetThemeCentre(column);
  BuildDivergingLegend(legend_, centre, DivergingStep(sample, centre));
}

int LayerStyle::GetClassMethod() const {
  int32_t method = 0;
  if (!ReadSetting(kKeyClassMethod, method) || method < 0 || method >= kClassMethodCount) method = 0;
  return method;
}

int LayerStyle::GetClassCount() const {
  int32_t count = kMaxClasses;
  if (!ReadSetting(kKeyClassCount, count) || count < kMinClasses || count > kMaxClasses) count = kMaxClasses;
  return count;
}

void LayerStyle::SetClassMethod(const RecordList& records, int method, int classes) {
  WriteIntSetting(kKeyClassMethod, std::clamp(method, 0, kClassMethodCount - 1));
  WriteIntSetting(kKeyClassCount, std::clamp(classes, kMinClasses, kMaxClasses));
  double max = kValueMaxStart, min = kValueMinStart;
  records.ForEach([&](Shape* shape) {
    if (!shape->HasValue()) return;
    max = std::max(max, shape->GetValue());
    min = std::min(min, shape->GetValue());
  });
  legend_.BuildAutomatic(max, min);
  ApplyClassMethod(records);
  legend_.SetChanged(true);
}

void LayerStyle::ApplyClassMethod(const RecordList& records) {
  if (!HasFile() || categorised_) return;
  const int method = GetClassMethod();
  const int classes = GetClassCount();
  if (method == static_cast<int>(ClassMethod::EqualInterval) && classes == kMaxClasses) return;
  std::vector<double> values;
  records.ForEach([&](Shape* shape) {
    if (shape->HasValue()) values.push_back(shape->GetValue());
  });
  std::sort(values.begin(), values.end());
  legend_.BuildFromBreaks(ClassBreaks(static_cast<ClassMethod>(method), values, classes),
                          values.empty() ? 0.0 : values.back());
}

// Categories in the order their values first appear in the table; each
// record's value is its category's index.
void LayerStyle::ComputeCategories(const RecordList& records, DbfTable& table, int column) {
  categorised_ = true;
  CategoryLegend fresh;
  fresh.Begin(table.GetField(column)->name);
  const int rows = table.GetRecordCount();
  std::vector<int> categoryOfRow(static_cast<size_t>(rows) + 1, -1);
  std::string text;
  for (int row = 1; row <= rows; ++row) {
    if (table.ReadRecord(row) && table.GetString(column, text)) categoryOfRow[static_cast<size_t>(row)] = fresh.IndexOf(text);
  }
  table.Close();
  if (fresh.IsBounded()) {
    ShowStatus(LangFormat(kMsgCategoriesBounded, fresh.GetField().c_str(), GroupedCount(fresh.DistinctCount()).c_str()));
  }
  CategoryLegend stored;
  if (HasFile() && stored.LoadFile(source_->GetCategoryPath())) fresh.ApplyStored(stored);
  fresh.SetChanged(categoriesChosen_ && fresh.SaveBytes() != stored.SaveBytes());
  categories_ = std::move(fresh);
  for (Shape* shape : records) {
    const int r = shape->GetRecordNumber();
    // A record without an attribute row has no value, as under a numeric legend.
    shape->SetValue(r >= 1 && r <= rows ? categoryOfRow[static_cast<size_t>(r)] : kNoValue);
  }
}

// The record's row read again; a text never seen is listed after the others.
double LayerStyle::RereadValue(const Shape& shape) {
  double value = shape.GetValue();
  if (IsTargetLegendColumn(settings_.legendColumn)) {
    return source_ ? TargetThemeValueOfRow(source_->GetTablePath(), targetFields_, settings_.legendColumn,
                                           shape.GetRecordNumber())
                   : kNoValue;
  }
  if (settings_.legendColumn != kNoLegendColumn && !IsComputedLegendColumn(settings_.legendColumn)) {
    DbfTable table;
    table.Open(source_->GetTablePath());
    std::string text;
    if (!table.ReadRecord(shape.GetRecordNumber())) {
      value = kNoValue;
    } else if (categorised_) {
      // An edited text may be a new category, listed after the others.
      value = -1;
      if (table.GetString(settings_.legendColumn, text)) {
        const size_t before = categories_.GetCount();
        value = categories_.IndexOf(text);
        if (categories_.GetCount() != before) categories_.SetChanged(true);
      }
    } else {
      value = ReadNumber(table, settings_.legendColumn);
    }
    table.Close();
  }
  return value;
}

// The category text of a record of a categorised layer.
std::string LayerStyle::GetCategoryOf(const Shape& shape) const {
  return categorised_ && shape.HasValue() ? categories_.ValueOf(static_cast<int>(shape.GetValue())) : std::string();
}

// Gives every record its colour by the layer's method.
// By every core into the palette; should it be full, once more on one
// thread, where colours beyond it are kept aside.
void LayerStyle::ApplyColors(const RecordList& records) const {
  std::atomic<bool> full{false};
  ForEachRecordInShares(records, RecordShareCount(records.size()), [&](unsigned, Shape* shape) {
    if (!shape->SetPaletteColor(ColorFor(*shape))) full.store(true, std::memory_order_relaxed);
  });
  if (full) {
    for (Shape* shape : records) shape->SetColor(ColorFor(*shape));
  }
}

}  // namespace kestrune
