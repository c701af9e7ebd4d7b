#include "layers/FileSummary.h"

#include "shapes/AttributeReport.h"

namespace kestrune {

// The start time.
std::string FileSummary::FormatStartTime() const { return FormatClockTime(startHour, startMinute); }

// The end time.
std::string FileSummary::FormatEndTime() const { return FormatClockTime(endHour, endMinute); }

// Hours and minutes from start to end.
std::string FileSummary::FormatDuration() const {
  return kestrune::FormatDuration(startHour, startMinute, endHour, endMinute);
}

// The logging date as month/day/year.
std::string FileSummary::FormatDate() const { return FormatFileDate(date); }

}  // namespace kestrune
