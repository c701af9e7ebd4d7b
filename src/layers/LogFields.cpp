#include "layers/LogFields.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string_view>

#include "base/Preferences.h"
#include "geo/MapProjection.h"
#include "lang/LangString.h"
#include "layers/IniFile.h"
#include "layers/Layer.h"
#include "layers/LayerList.h"
#include "layers/LayerSettings.h"
#include "layers/RowScan.h"

namespace kestrune {

namespace {

constexpr double kSecondsPerDay = 86400.0;
constexpr double kSquareFeetPerAcre = 43560.0;
constexpr double kSquareMetresPerHectare = 10000.0;
// A step longer than this many widths is a move without logging.
constexpr double kMaxStepWidths = 4.0;
// Days from 1 January 1601 to 1 January 1970.
constexpr int64_t kDaysFrom1601To1970 = 134774;
constexpr uint64_t kTicksPerDay = 864000000000ULL;

// The name in upper case (ASCII), for matching.
std::string Upper(const std::string& name) {
  std::string out = name;
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

// Whether the upper-case name holds the part.
bool Holds(const std::string& upperName, const char* part) { return upperName.find(part) != std::string::npos; }

// Blanks off both ends.
std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\0')) text.remove_suffix(1);
  return text;
}

// The digits of text from pos as a number; count tells how many were read.
int Digits(std::string_view text, std::size_t& pos, int& count) {
  int value = 0;
  count = 0;
  while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && count < 9) {
    value = value * 10 + (text[pos] - '0');
    ++pos;
    ++count;
  }
  return value;
}

// Whether the numbers are a day of the calendar (from 1601 on).
bool IsCalendarDate(int year, int month, int day) {
  if (year < 1601 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  static const int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= kMonthDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

}  // namespace

// The settings key of a log field.
const char* LogFieldKey(LogField field) {
  switch (field) {
    case LogField::Rate: return "RATE_COL";
    case LogField::Boom: return "BOOM_COL";
    case LogField::Date: return "DATE_COL";
    case LogField::Time: return "TIME_COL";
    case LogField::Width: return "WIDTH_COL";
  }
  return "";
}

// The info name of a log field.
const char* LogFieldName(LogField field) {
  switch (field) {
    case LogField::Rate: return "rate";
    case LogField::Boom: return "boom";
    case LogField::Date: return "date";
    case LogField::Time: return "time";
    case LogField::Width: return "width";
  }
  return "";
}

// Whether any field is set.
bool LogFields::Any() const {
  return std::any_of(column.begin(), column.end(), [](int c) { return c > 0; });
}

// 'N' and 'F' fields hold numbers.
bool IsNumericLogField(const DbfField& field) { return field.letter == 'N' || field.letter == 'F'; }

// The first field of each kind, by the name rules.
LogFields DetectLogFields(const std::vector<DbfField>& fields) {
  LogFields found;
  int anyRate = 0;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const int number = static_cast<int>(i) + 1;
    const DbfField& field = fields[i];
    const std::string name = Upper(field.name);
    const bool numeric = IsNumericLogField(field);
    const auto take = [&](LogField f, bool matches) {
      if (matches && !found.Has(f)) found[f] = number;
    };
    if (numeric && Holds(name, "RATE")) {
      if (anyRate == 0) anyRate = number;
      take(LogField::Rate, !Holds(name, "TGT") && !Holds(name, "TARGET"));
    }
    take(LogField::Boom, numeric && (Holds(name, "BOOM") || Holds(name, "SECTION")));
    take(LogField::Date, field.letter == 'D');
    take(LogField::Time, Holds(name, "TIME"));
    take(LogField::Width, numeric && (Holds(name, "WIDTH") || Holds(name, "SWATH") || Holds(name, "SWTH")));
  }
  // Only a target rate: it stands for the applied one.
  if (!found.Has(LogField::Rate)) found[LogField::Rate] = anyRate;
  if (!found.Has(LogField::Date)) {
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (Upper(fields[i].name) == "DATE") {
        found[LogField::Date] = static_cast<int>(i) + 1;
        break;
      }
    }
  }
  return found;
}

// The first numeric field naming a target, other than the rate.
int DetectTargetField(const std::vector<DbfField>& fields, int rateField) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const int number = static_cast<int>(i) + 1;
    const std::string name = Upper(fields[i].name);
    if (number != rateField && IsNumericLogField(fields[i]) && (Holds(name, "TGT") || Holds(name, "TARGET"))) {
      return number;
    }
  }
  return 0;
}

double RateMinusTarget(double rate, double target) { return rate - target; }

double RatePercentOfTarget(double rate, double target) {
  return target != 0.0 ? rate / target * 100.0 : std::numeric_limits<double>::quiet_NaN();
}

// The table's field descriptors, field 1 first.
std::vector<DbfField> TableFields(const DbfTable& table) {
  std::vector<DbfField> fields;
  for (int f = 1; f <= table.GetFieldCount(); ++f) {
    if (const DbfField* field = table.GetField(f)) fields.push_back(*field);
  }
  return fields;
}

// Present keys win over detection; a number outside the fields is none.
LogFields ApplyLogFieldKeys(const IniFile& settings, LogFields detected, int fieldCount) {
  for (LogField f : kLogFieldOrder) {
    int32_t value = 0;
    if (!ReadSetting(settings, LogFieldKey(f), value)) continue;
    detected[f] = value >= 1 && value <= fieldCount ? value : 0;
  }
  int32_t target = 0;
  if (ReadSetting(settings, kKeyTargetColumn, target)) detected.target = target >= 1 && target <= fieldCount ? target : 0;
  return detected;
}

// The detected fields with the keys over them; a table that cannot be read has none.
LogFields LoadLogFields(const std::string& settingsPath, const std::string& tablePath) {
  DbfTable table;
  if (!table.Open(tablePath)) return {};
  const std::vector<DbfField> fields = TableFields(table);
  LogFields detected = DetectLogFields(fields);
  detected.target = DetectTargetField(fields, detected[LogField::Rate]);
  IniFile settings;
  settings.Load(settingsPath);
  return ApplyLogFieldKeys(settings, detected, table.GetFieldCount());
}

// The five keys in one safe rewrite of the settings file.
bool WriteLogFieldKeys(const std::string& settingsPath, const LogFields& fields) {
  IniFile file;
  // A file that exists but cannot be read must not be replaced by one holding only these keys.
  if (file.Load(settingsPath) == IniLoadStatus::Unreadable) return false;
  for (LogField f : kLogFieldOrder) {
    file.SetString(kSettingsSection, LogFieldKey(f), std::to_string(std::max(fields[f], 0)));
  }
  return file.Save(settingsPath);
}

// TARGET_COL in one safe rewrite.
bool WriteTargetFieldKey(const std::string& settingsPath, int target) {
  IniFile file;
  if (file.Load(settingsPath) == IniLoadStatus::Unreadable) return false;
  file.SetString(kSettingsSection, kKeyTargetColumn, std::to_string(std::max(target, 0)));
  return file.Save(settingsPath);
}

// ---------------------------------------------------------------- values

// Days since 1601 by the proleptic Gregorian calendar.
int64_t DaysFromCivil(int year, int month, int day) {
  const int64_t y = year - (month <= 2 ? 1 : 0);
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468 + kDaysFrom1601To1970;
}

// The calendar date of days since 1601.
void CivilFromDays(int64_t days, int& year, int& month, int& day) {
  const int64_t z = days - kDaysFrom1601To1970 + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

// Midnight of the day as a file time.
uint64_t FileTimeOfDay(int64_t days) { return days < 0 ? 0 : static_cast<uint64_t>(days) * kTicksPerDay; }

// The date forms logs write.
bool ParseLogDate(std::string_view text, int64_t& days) {
  text = Trim(text);
  std::size_t pos = 0;
  int n1 = 0;
  const int a = Digits(text, pos, n1);
  int year = 0, month = 0, day = 0;
  if (n1 == 8 && pos == text.size()) {
    year = a / 10000;
    month = a / 100 % 100;
    day = a % 100;
  } else if (pos < text.size() && (text[pos] == '-' || text[pos] == '/')) {
    const char sep = text[pos++];
    int n2 = 0, n3 = 0;
    const int b = Digits(text, pos, n2);
    if (pos >= text.size() || text[pos] != sep) return false;
    ++pos;
    const int c = Digits(text, pos, n3);
    if (pos != text.size() || n2 < 1 || n2 > 2 || n3 < 1) return false;
    if (n1 == 4 && n3 <= 2) {
      year = a, month = b, day = c;
    } else if (sep == '/' && n1 <= 2 && n3 == 4) {
      month = a, day = b, year = c;
    } else {
      return false;
    }
  } else {
    return false;
  }
  if (!IsCalendarDate(year, month, day)) return false;
  days = DaysFromCivil(year, month, day);
  return true;
}

// "HH:MM[:SS]" or seconds after midnight.
bool ParseLogTime(std::string_view text, double& seconds) {
  text = Trim(text);
  if (text.empty()) return false;
  if (text.find(':') == std::string_view::npos) {
    const std::string copy(text);
    char* end = nullptr;
    const double value = std::strtod(copy.c_str(), &end);
    if (end != copy.c_str() + copy.size() || !(value >= 0.0 && value < kSecondsPerDay)) return false;
    seconds = value;
    return true;
  }
  std::size_t pos = 0;
  int nh = 0, nm = 0, ns = 0;
  const int h = Digits(text, pos, nh);
  if (nh < 1 || nh > 2 || pos >= text.size() || text[pos] != ':') return false;
  ++pos;
  const int m = Digits(text, pos, nm);
  int s = 0;
  if (pos < text.size() && text[pos] == ':') {
    ++pos;
    s = Digits(text, pos, ns);
    if (ns != 2) return false;
  }
  if (nm != 2 || pos != text.size() || h > 23 || m > 59 || s > 59) return false;
  seconds = h * 3600.0 + m * 60.0 + s;
  return true;
}

// The calendar date of a file time as YYYY-MM-DD.
std::string IsoDate(uint64_t fileTime) {
  int year = 0, month = 0, day = 0;
  CivilFromDays(static_cast<int64_t>(fileTime / kTicksPerDay), year, month, day);
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, day);
  return text;
}

// Hour and minute as HH:MM.
std::string ClockText(double hour, double minute) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d", static_cast<int>(hour), static_cast<int>(minute));
  return text;
}

// Boom and rate bits of a record's values.
uint32_t LogFilterFlags(const LogFields& fields, const LogRecordValues& values) {
  if (!values.hasRow) return kComputedRecordFlags;
  uint32_t flags = 0;
  flags |= !fields.Has(LogField::Boom) || values.boom > 0.0 ? kFilterBoomOn : kFilterBoomOff;
  flags |= !fields.Has(LogField::Rate) || values.rate > 0.0 ? kFilterRateAboveZero : kFilterRateZero;
  return flags;
}

// Whether the default mask passes the flags.
bool IsAppliedRecord(uint32_t flags) {
  const uint32_t mask = kDefaultFilterMask;
  return (mask & flags) == flags;
}

// Keeps the earliest date and the earliest and latest time.
void LogSummaryBuilder::AddDateTime(const LogRecordValues& values) {
  if (values.hasDate && (!hasDate_ || values.days < firstDay_)) {
    firstDay_ = values.days;
    hasDate_ = true;
  }
  if (values.hasTime) {
    if (!hasTime_ || values.seconds < start_) start_ = values.seconds;
    if (!hasTime_ || values.seconds > end_) end_ = values.seconds;
    hasTime_ = true;
  }
}

// The dates and times of another builder in place of these.
void LogSummaryBuilder::TakeDates(const LogSummaryBuilder& other) {
  hasDate_ = other.hasDate_;
  firstDay_ = other.firstDay_;
  hasTime_ = other.hasTime_;
  start_ = other.start_;
  end_ = other.end_;
}

// Adds an applied area and its volume.
void LogSummaryBuilder::AddApplied(double area, double rate) {
  area_ += area;
  volume_ += rate * area;
}

// The summary of what was added.
FileSummary LogSummaryBuilder::Build(bool hasRateField) const {
  FileSummary s;
  if (!hasRateField) return s;
  s.productCount = 1;
  s.fieldArea[0] = area_;
  s.fieldVolume[0] = volume_;
  if (hasDate_) {
    s.date = FileTimeOfDay(firstDay_);
    s.hasDate = true;
  }
  if (hasTime_) {
    // Hour and minute, the seconds dropped.
    const auto whole = [](double seconds) { return static_cast<int>(std::floor(seconds / 60.0)); };
    s.startHour = whole(start_) / 60;
    s.startMinute = whole(start_) % 60;
    s.endHour = whole(end_) / 60;
    s.endMinute = whole(end_) % 60;
    s.hasTimes = true;
  }
  return s;
}

// Width times step, unless first or too long a step.
double PointStepArea(double width, double step, bool first) {
  if (first || !(width > 0.0) || !(step <= kMaxStepWidths * width)) return 0.0;
  return width * step;
}

// ---------------------------------------------------------------- over a layer

// Flags of every record and the summary, from the rows as one pass read them;
// from rows read for the flags alone, the flags, the summary then worked out
// on its first use.
void ApplyLogValues(Layer& layer, const RowScan& scan) {
  layer.SetSummaryPending(false);
  if (scan.flagsOnly) {
    ApplyLogFlags(layer, scan);
    layer.SetSummaryPending(true);
    return;
  }
  ApplyLogFlags(layer, scan);
  BuildLogSummary(layer, scan);
}

// The filter flags of every record from the rows.
void ApplyLogFlags(Layer& layer, const RowScan& scan) {
  const LogFields& fields = layer.GetLogFields();
  const bool hasRate = fields.Has(LogField::Rate);
  const bool tableOpen = fields.Any() && scan.opened && scan.flags.size() == scan.rows;
  const uint32_t noRowFlags = LogFilterFlags(fields, LogRecordValues{});
  const LayerFilter& filter = layer.GetFilter();
  layer.Records().ForEach([&](Shape* shape) {
    const size_t index = static_cast<size_t>(shape->GetRecordNumber()) - 1;
    const bool hasRow = tableOpen && shape->GetRecordNumber() >= 1 && index < scan.rows;
    uint32_t flags = hasRow ? scan.flags[index] : noRowFlags;
    if (filter.IsCleanRemoved(index)) flags |= kFilterCleanRemoved;
    shape->SetFilterFlags(flags);
  });
  layer.SetFieldKnown(0, hasRate, hasRate);
}

// The summary from rows read whole: the applied records' areas and volumes
// by the rows' flags, and the dates and times of the rows the records use.
void BuildLogSummary(Layer& layer, const RowScan& scan) {
  const LogFields& fields = layer.GetLogFields();
  const bool hasRate = fields.Has(LogField::Rate);
  const bool tableOpen = fields.Any() && scan.opened && scan.flags.size() == scan.rows;
  const bool inFeet = !GetPreferences().IsMetric();
  const double perUnitArea = inFeet ? 1.0 / kSquareFeetPerAcre : 1.0 / kSquareMetresPerHectare;
  const bool pointSteps = SumsPointSteps(fields) && tableOpen && scan.widths.size() == scan.rows;
  const uint32_t noRowFlags = LogFilterFlags(fields, LogRecordValues{});
  const MapProjection& projection = GetMapProjection();
  LogSummaryBuilder builder;
  // The scan's dates are those of every row: the records' own only when
  // they use every row.
  std::vector<bool> used(hasRate && tableOpen ? scan.rows : 0, false);
  size_t usedCount = 0;
  // Points are appended as they are read, so the point before in the list is
  // the one before in the file.
  const PointShape* previous = nullptr;
  if (!hasRate) {
    layer.GetSummary() = builder.Build(false);
    return;
  }
  layer.Records().ForEach([&](Shape* shape) {
    const size_t index = static_cast<size_t>(shape->GetRecordNumber()) - 1;
    const bool hasRow = tableOpen && shape->GetRecordNumber() >= 1 && index < scan.rows;
    uint32_t flags = hasRow ? scan.flags[index] : noRowFlags;
    if (layer.GetFilter().IsCleanRemoved(index)) flags |= kFilterCleanRemoved;
    if (hasRow && !used[index]) {
      used[index] = true;
      ++usedCount;
    }
    const bool applied = IsAppliedRecord(flags);
    const double rate = hasRow ? scan.RateOf(index) : 0.0;
    const int recordClass = shape->GetRecordClass();
    if (recordClass == kRecordArea) {
      if (applied) builder.AddApplied(shape->GetArea(false) * perUnitArea, rate);
    } else if (SumsPointSteps(fields) && recordClass == kRecordPoint) {
      const auto* point = static_cast<const PointShape*>(shape);
      const bool first = !previous || !previous->HasGeometry() || !point->HasGeometry();
      const double width = hasRow && pointSteps ? scan.widths[index] : 0.0;
      if (applied && width > 0.0) {
        const double step = first ? 0.0 : projection.Distance(previous->GetPoint(), point->GetPoint(), inFeet);
        builder.AddApplied(PointStepArea(width, step, first) * perUnitArea, rate);
      }
      previous = point;
    }
  });
  if (hasRate && tableOpen) {
    if (usedCount == scan.rows) {
      builder.TakeDates(scan.dates);
    } else {
      // Rows no record uses: the dates and times of the records' rows alone.
      DbfTable table;
      LogSummaryBuilder dates;
      if (table.Open(scan.path)) {
        const LogRowReader reader(table, fields);
        for (size_t i = 0; i < used.size(); ++i) {
          if (!used[i]) continue;
          if (const unsigned char* row = table.RowBytes(static_cast<int>(i + 1))) dates.AddDateTime(reader.Read(row));
        }
      }
      builder.TakeDates(dates);
    }
  }
  layer.GetSummary() = builder.Build(hasRate);
}

// Flags of every record, then the summary, in one pass over the rows.
void ComputeLogValues(Layer& layer) { ApplyLogValues(layer, ScanRows(layer.GetTablePath(), 0, layer.GetLogFields())); }

// Digits in groups of three.
std::string GroupedCount(uint64_t count) {
  std::string digits = std::to_string(count);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

// The active layer's hidden records.
std::string ShowMeStatusNote(const LayerList& layers) {
  // The note is about the active file alone: another file's hidden records
  // say nothing of the one the Theme, the legend and Show Me act on.
  const Layer* layer = layers.GetActiveLayer();
  if (!layer) return {};
  // The records the cleaning removed have a note of their own.
  const uint64_t hidden = layer->CountFilteredOut() -
                          std::min<uint64_t>(layer->CountFilteredOut(), layer->GetFilter().GetCleanRemovedCount());
  if (hidden == 0) return {};
  return LangFormat(kMsgShowMeNote, GroupedCount(hidden).c_str(), GroupedCount(layer->GetRecordCount()).c_str());
}

}  // namespace kestrune
