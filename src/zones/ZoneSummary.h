// Figures of a log by zones: for each record of an area file (a soil zone, a
// field, a management zone) the log records that fall in it (a point inside
// it; the part of a line or an area inside it, weighting its values), their
// covered area, statistics of chosen numeric fields, the applied volume and,
// with a target field (the log fields' target), the area applied within 5 %
// and 10 % of the target.
// Records the layer's filter hides are left out and counted. A row gathers
// what lies outside every zone.
#pragma once

#include <atomic>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "base/Error.h"

namespace kestrune {

class DbfTable;
class Layer;

// Statistics of one field over the records of a zone.
struct ZoneFieldStats {
  int64_t count = 0;  // records with a value (blanks left out)
  double min = 0.0;
  double max = 0.0;
  double mean = 0.0;
  double m2 = 0.0;           // sum of squared deviations from the mean
  double weight = 0.0;       // sum of the weights (areas, or lengths without a width)
  double weightedSum = 0.0;  // sum of weight × value

  void Add(double value, double w);
  // Takes in the statistics of other values, as if each had been added.
  void Merge(const ZoneFieldStats& other);
  // The sample standard deviation (n - 1; 0 for one value).
  double Sd() const;
  bool HasWeightedMean() const { return weight > 0.0; }
  double WeightedMean() const { return weightedSum / weight; }
};

struct ZoneRow {
  std::string label;
  int record = 0;      // the zone's record number; 0 for the outside row
  int64_t count = 0;   // log records (or parts of records) in the zone
  double area = 0.0;   // acres, or hectares with metric units
  double volume = 0.0; // sum of rate × area
  double areaWithin5 = 0.0;   // applied area within ±5 % of the target
  double areaWithin10 = 0.0;  // within ±10 %
  std::vector<ZoneFieldStats> fields;
};

struct ZoneSummaryRequest {
  std::vector<int> fields;  // 1-based numeric fields of the log
  int labelField = 0;       // 1-based field of the zones; 0 labels by record number
  // A log of points goes through one fused pass over its records; false
  // takes it through the general passes, which give the same figures.
  bool onePointPass = true;
};

struct ZoneSummary {
  std::vector<std::string> fieldNames;
  std::vector<ZoneRow> zones;  // in record order of the zone file
  ZoneRow outside;
  int64_t hidden = 0;      // log records the filter hides, left out
  bool hasVolume = false;  // the log has a rate field
  bool hasTarget = false;  // the log has a target field
  bool metric = false;     // areas in hectares
};

constexpr const char* kMsgZonesNoAreas = "#20500000:%s holds no areas to summarise by.";
constexpr const char* kMsgZonesNoField = "#20500001:%s has no numeric field named \"%s\".";
constexpr const char* kMsgZonesNoTable = "#20500002:The attribute table of %s cannot be read: %s";
constexpr const char* kMsgZonesNoLabel = "#20500003:%s has no field named \"%s\".";
constexpr const char* kMsgZonesOutside = "#20500004:Outside every zone";

// The 1-based number of the field of that name (ignoring case), 0 for none;
// with numeric, only an "N" or "F" field.
int FindFieldByName(const DbfTable& table, const std::string& name, bool numeric);

// Works the summary out; false with the reason in error when the zone file has
// no areas or the log's table cannot be read. Once cancel is raised it stops
// and gives false with no error. percent, when given, follows the work from
// 0 to 100.
bool SummariseByZones(Layer& zones, Layer& log, const ZoneSummaryRequest& request, ZoneSummary& out,
                      Error* error = nullptr, const std::atomic<bool>* cancel = nullptr,
                      std::atomic<int>* percent = nullptr);

// A zone's JSON line: {"zone": label, "record": n, "count": .., "area": ..,
// "fields": {NAME: {"min", "max", "mean", "wmean", "sd"}}, "volume": ..}
// ("within5" and "within10" with a target field); the outside row
// {"outside": true, "count": .., ..., "hidden": n}.
std::string ZoneRowJson(const ZoneSummary& summary, const ZoneRow& row, bool outside);
std::vector<std::string> ZoneSummaryJsonLines(const ZoneSummary& summary);

constexpr const char* kCsvZone = "#20500020:Zone";
constexpr const char* kCsvRecord = "#20500021:Record";
constexpr const char* kCsvCount = "#20500022:Count";
constexpr const char* kCsvAreaAcres = "#20500023:Area (ac)";
constexpr const char* kCsvAreaHectares = "#20500024:Area (ha)";
constexpr const char* kCsvVolume = "#20500025:Volume";
constexpr const char* kCsvWithin5 = "#20500026:Within 5 % of target";
constexpr const char* kCsvWithin10 = "#20500027:Within 10 % of target";
constexpr const char* kCsvStatNames[5] = {"#20500028:min", "#20500029:max", "#20500030:mean",
                                          "#20500031:area-weighted mean", "#20500032:sd"};

// The table as text: a header row, one row per zone and the outside row;
// numbers with decimalPoint, fields separated by "," (";" when the decimal
// point is ","), texts quoted where they need it, lines ending in CR LF
// (with tab as separator: for the clipboard, lines ending in LF). Empty
// figures stay empty.
std::string ZoneSummaryTable(const ZoneSummary& summary, char decimalPoint, bool tabs = false);

}  // namespace kestrune
