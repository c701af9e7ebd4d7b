#include "layers/FileSummary.h"

#include "lang/LangString.h"
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

// Date, start, end and duration, as far as the log gave them.
std::string FileSummary::FormatLogLine() const {
  if (hasTimes && hasDate) {
    return LangFormat(kMsgLogDateAndTimes, FormatDate().c_str(), FormatStartTime().c_str(),
                      FormatEndTime().c_str(), FormatDuration().c_str());
  }
  if (hasTimes) {
    return LangFormat(kMsgLogTimes, FormatStartTime().c_str(), FormatEndTime().c_str(), FormatDuration().c_str());
  }
  return hasDate ? FormatDate() : std::string();
}

}  // namespace kestrune
