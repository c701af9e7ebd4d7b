// The log fields of a layer: which attribute fields hold the applied rate, the
// boom or section state, the log date, the time of day and the swath width.
// They are kept in the ".gpe" as RATE_COL, BOOM_COL, DATE_COL, TIME_COL and
// WIDTH_COL (1-based field numbers, 0 for none); a key that is absent is
// detected from the field names each time the layer loads, and detection
// writes nothing. From the fields come each record's filter flags (the data of
// the Show Me filter) and the layer's summary (product slot 0: dates, times,
// applied area and volume).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "layers/FileSummary.h"
#include "shapes/DbfTable.h"

namespace kestrune {

class IniFile;
class Layer;
class LayerList;
struct RowScan;

enum class LogField { Rate = 0, Boom, Date, Time, Width };
constexpr int kLogFieldCount = 5;
constexpr LogField kLogFieldOrder[kLogFieldCount] = {LogField::Rate, LogField::Boom, LogField::Date,
                                                     LogField::Time, LogField::Width};

// "RATE_COL", "BOOM_COL", "DATE_COL", "TIME_COL", "WIDTH_COL".
const char* LogFieldKey(LogField field);
// "rate", "boom", "date", "time", "width" (the names of the info JSON).
const char* LogFieldName(LogField field);

// The key of the target rate field, kept beside the five.
constexpr const char* kKeyTargetColumn = "TARGET_COL";

// The 1-based field number of each log field; 0 for none. The target rate
// field is kept apart from the five (it does not change the flags or the
// summary): what the rate is compared with.
struct LogFields {
  std::array<int, kLogFieldCount> column{};
  int target = 0;

  int operator[](LogField f) const { return column[static_cast<std::size_t>(f)]; }
  int& operator[](LogField f) { return column[static_cast<std::size_t>(f)]; }
  bool Has(LogField f) const { return (*this)[f] > 0; }
  bool Any() const;
  friend bool operator==(const LogFields& a, const LogFields& b) { return a.column == b.column; }
  friend bool operator!=(const LogFields& a, const LogFields& b) { return !(a == b); }
};

// Whether a field holds numbers ('N', or 'F' floating point).
bool IsNumericLogField(const DbfField& field);

// The fields detected from the names and types of a table's fields (in order,
// field 1 first), names compared ignoring case:
// - rate: the first numeric field whose name holds "RATE" and neither "TGT"
//   nor "TARGET"; failing that the first numeric one holding "RATE";
// - boom: the first numeric field holding "BOOM" or "SECTION";
// - date: the first 'D' field; failing that a field named "DATE";
// - time: the first field holding "TIME";
// - width: the first numeric field holding "WIDTH", "SWATH" or "SWTH".
LogFields DetectLogFields(const std::vector<DbfField>& fields);
// The fields of an open table, for DetectLogFields.
std::vector<DbfField> TableFields(const DbfTable& table);

// The target rate field: the first numeric field whose name holds "TGT" or
// "TARGET" and that is not the rate field; 0 for none.
int DetectTargetField(const std::vector<DbfField>& fields, int rateField);

// The keys present in the settings file replace the detected fields; a key
// whose number is not one of the table's fields (0, negative, too large) is
// "none". Returns the fields.
LogFields ApplyLogFieldKeys(const IniFile& settings, LogFields detected, int fieldCount);
// What a layer loading from these files uses: the detected fields of the table
// with the keys of the settings file over them. Nothing is written.
LogFields LoadLogFields(const std::string& settingsPath, const std::string& tablePath);
// Writes all five keys with one rewrite of the settings file (0 for none).
bool WriteLogFieldKeys(const std::string& settingsPath, const LogFields& fields);
// Writes TARGET_COL (0 for none).
bool WriteTargetFieldKey(const std::string& settingsPath, int target);

// The two computed values of a record with a rate and a target: the rate
// less the target, and the rate in percent of the target (NaN where the
// target is 0 or either is blank).
double RateMinusTarget(double rate, double target);
double RatePercentOfTarget(double rate, double target);

// ---- Values of a row.

// Days from 1 January 1601 for a calendar date, and back.
int64_t DaysFromCivil(int year, int month, int day);
void CivilFromDays(int64_t days, int& year, int& month, int& day);
// The file time (100 ns ticks since 1601) of midnight starting a day.
uint64_t FileTimeOfDay(int64_t days);
// A date text as logs write it: "YYYYMMDD" (a dBase date), "YYYY-MM-DD",
// "YYYY/MM/DD" or "MM/DD/YYYY"; blanks around it are ignored. False when it is
// none of these or no calendar date.
bool ParseLogDate(std::string_view text, int64_t& days);
// A time of day: "HH:MM" or "HH:MM:SS" text, or a number of seconds after
// midnight (0 to 86399.999); gives the seconds after midnight.
bool ParseLogTime(std::string_view text, double& seconds);
// "YYYY-MM-DD" of a file time.
std::string IsoDate(uint64_t fileTime);
// "HH:MM" of an hour and minute.
std::string ClockText(double hour, double minute);

// One record's log values as read from its row.
struct LogRecordValues {
  bool hasRow = false;
  double rate = 0.0;
  double boom = 0.0;
  double width = 0.0;
  bool hasDate = false;
  int64_t days = 0;
  bool hasTime = false;
  double seconds = 0.0;
};


// A record's filter flags: boom 0x1 when its value is above 0, 0x2 when not
// (0x1 without a boom field); rate 0x4 above 0, 0x8 when not (0x4 without a
// rate field); a record without an attribute row 0x5.
uint32_t LogFilterFlags(const LogFields& fields, const LogRecordValues& values);
// Whether flags pass the default mask (boom on, rate above zero): the records
// whose area counts as applied.
bool IsAppliedRecord(uint32_t flags);

// Gathers a summary record by record: the earliest date, the earliest and
// latest time of day, and the applied area and volume (Σ rate × area).
class LogSummaryBuilder {
 public:
  void AddDateTime(const LogRecordValues& values);
  // An applied record's area (acres or hectares) at its rate.
  void AddApplied(double area, double rate);
  // Takes the dates and times of another builder in place of its own.
  void TakeDates(const LogSummaryBuilder& other);
  // The summary: empty without a rate field; otherwise count 1, slot 0 holding
  // the area and volume, and the date and times when there were any.
  FileSummary Build(bool hasRateField) const;

 private:
  // Laid out without padding, so its bytes are all its own (a cache file
  // keeps them as they are).
  int64_t firstDay_ = 0;
  double start_ = 0.0;
  double end_ = 0.0;
  double area_ = 0.0;
  double volume_ = 0.0;
  bool hasDate_ = false;
  bool hasTime_ = false;
  [[maybe_unused]] uint8_t unused_[6] = {};
};

// The ground area a point covers: its width times the step from the record
// before it in file order; 0 for the first record and for a step longer than
// four widths (the applicator moved without logging).
double PointStepArea(double width, double step, bool first);

// ---- Over a layer.

// Reads the layer's log fields from every record's row: sets each record's
// filter flags and rebuilds the layer's summary and its slot 0 flags. Areas
// are in acres with U.S. units and hectares with metric; a width is read in
// feet with U.S. units and metres with metric.
void ComputeLogValues(Layer& layer);
// The same from rows already read (rows read for the flags alone leave the
// summary to its first use).
void ApplyLogValues(Layer& layer, const RowScan& scan);
// Its two parts: the records' filter flags (and slot 0's known figures), and
// the summary from rows read whole.
void ApplyLogFlags(Layer& layer, const RowScan& scan);
void BuildLogSummary(Layer& layer, const RowScan& scan);

// The status-bar note of the Show Me filter: "Show Me: 158 of 2,081 records
// hidden" for the active layer; empty when it hides none (or none is active).
std::string ShowMeStatusNote(const LayerList& layers);
// A count with "," between thousands.
std::string GroupedCount(uint64_t count);

constexpr const char* kMsgShowMeNote = "#20012000:Show Me: %s of %s records hidden";

}  // namespace kestrune
