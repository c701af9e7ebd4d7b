// How a layer's records look: the display settings kept in the ".gpe" beside
// the file (each setter writes its key at once), the numeric legend and the
// categories of a text legend column, and the colour each record gets by the
// colour method. It also works out each record's legend value from the rows
// of the attribute table. The style reads and writes its side files through
// the layer's source; a source without a file keeps it all in memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/Error.h"
#include "base/Units.h"
#include "geo/MapPoint.h"
#include "layers/CategoryLegend.h"
#include "layers/LayerSettings.h"
#include "layers/Legend.h"
#include "layers/LogFields.h"
#include "shapes/RecordList.h"
#include "shapes/RecordSink.h"
#include "shapes/Shape.h"

namespace kestrune {

class DbfTable;
class LayerSource;
struct RowScan;

// The status line when the values of the legend column cannot be read.
constexpr const char* kMsgTableValuesUnread = "#20010030:The values of %s could not be read (%s); they show as 0.";
constexpr const char* kMsgTableLocked = "#20010031:the table is locked by another program";

class LayerStyle {
 public:
  // The source whose side files hold the style (the layer's, for its life).
  void SetSource(const LayerSource* source) { source_ = source; }

  // ---- Display settings; every setter writes its ".gpe" key at once.
  double GetDisplaySize(bool metric) const {
    return metric ? settings_.displaySizeFt * kMetresPerFoot : settings_.displaySizeFt;
  }
  void SetDisplaySize(double value, bool metric);
  void SetDrawBorder(bool on);
  void SetFillOpacity(int percent);
  void SetColorMethod(int method);
  void SetSolidColor(Color color);
  void SetLegendColumn(int16_t column);
  const LayerSettings& GetSettings() const { return settings_; }
  // The display settings from the settings file (or the rules alone without
  // a file).
  void LoadSettings();

  // Settings file access: section "Options" of the ".gpe".
  bool ReadSetting(const std::string& key, int32_t& value) const;
  void WriteSetting(const std::string& key, const std::string& value) const;
  void WriteIntSetting(const std::string& key, int32_t value) const;

  // ---- Legend and categories.
  Legend& GetLegend() { return legend_; }
  const Legend& GetLegend() const { return legend_; }
  void SetLegend(const Legend& legend) { legend_ = legend; }
  bool IsCategorised() const { return categorised_; }
  const CategoryLegend& GetCategories() const { return categories_; }
  // The text of a record's category (empty without one).
  std::string GetCategoryOf(const Shape& shape) const;
  // Reads the ".lgd" when it was made for the legend column; false, with
  // what was wrong in notice, when the file is there but not a legend.
  bool LoadLegendFile(Error& notice);
  // Writes the legend to its ".lgd" when it carries its changed mark (the
  // categories to their ".lgc" when changed); false when a write failed.
  bool SaveLegend(Error* error);

  // ---- Values and colours.
  // Each record's value of the legend column from the rows, and the legend
  // rebuilt from their range (the categories for a text column).
  // For a Z or M legend column the values come from zm (indexed by record
  // number - 1): a point's own value, the middle of another record's range.
  // For a target theme the values come from the rate and target of fields.
  void ComputeValues(const RecordList& records, const RowScan& rows, const std::vector<RecordZM>* zm = nullptr,
                     const LogFields* fields = nullptr);
  // The legend rebuilt from the range of values already given to the records
  // (lowest and highest, or the starting bounds when none was read), as
  // ComputeValues rebuilds it for a numeric column.
  void ComputeLegendFromRange(const RecordList& records, double max, double min);
  // The bounds ComputeValues starts the range from.
  static double RangeMaxStart();
  static double RangeMinStart();
  // The legend column's value of a record read again from the table (a new
  // text is a new category); the record's own value without a column.
  double RereadValue(const Shape& shape);
  // The colour a record gets by the colour method.
  Color ColorFor(const Shape& shape) const {
    if (settings_.colorMethod != kColorMethodSolid && settings_.legendColumn != kNoLegendColumn) {
      if (categorised_) return shape.HasValue() ? categories_.ColorOf(static_cast<int>(shape.GetValue())) : kNeutralColor;
      return shape.HasValue() ? legend_.GetColor(shape.GetValue()) : kNeutralColor;
    }
    return settings_.solidColor;
  }
  // Gives every record its colour.
  void ApplyColors(const RecordList& records) const;
  // How the automatic legend is classed (CLASS_METHOD and CLASS_COUNT of the
  // ".gpe"; equal interval in 8 classes without them).
  int GetClassMethod() const;
  int GetClassCount() const;
  // Writes both keys and rebuilds the automatic legend from the records' values.
  void SetClassMethod(const RecordList& records, int method, int classes);
  // Rebuilds the automatic legend by the kept method from the records' values;
  // equal interval in 8 classes leaves the legend as it was built.
  void ApplyClassMethod(const RecordList& records);

 private:
  // Whether the source has a file, so side files are read and written.
  bool HasFile() const;
  // The legend column's field name, and whether the ".lgd" was made for it.
  std::string LegendColumnName() const;
  bool LegendFileFitsColumn() const;
  // Writes one display setting's key, when the layer has a file.
  void WriteKey(SettingKey key) const;
  // ComputeValues for a target theme.
  void ComputeTargetValues(const RecordList& records, const LogFields& fields);
  // ComputeValues for a text legend column.
  void ComputeCategories(const RecordList& records, DbfTable& table, int column);

  const LayerSource* source_ = nullptr;
  LayerSettings settings_;
  Legend legend_;
  CategoryLegend categories_;
  bool categorised_ = false;
  // Set once the user chose the legend column: only then are the categories
  // written beside the legend (opening a file to look at it writes nothing).
  bool categoriesChosen_ = false;
  // The log fields a target theme's values were worked out from.
  LogFields targetFields_;
};

}  // namespace kestrune
