// The summary block of one logged file (and the totals over all open files):
// product slots with their field area and volume, the logging times and date.
// A layer fills it from its log fields (LogFields.h); without them it reads as zero.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace kestrune {

constexpr int kProductSlots = 10;

constexpr const char* kMsgLogDateAndTimes = "#20012020:%s, %s to %s (%s)";
constexpr const char* kMsgLogTimes = "#20012021:%s to %s (%s)";

struct FileSummary {
  std::array<std::string, 4> texts;  // free texts of the logger
  int productCount = 0;              // product slots in use
  std::array<double, kProductSlots> fieldArea{};
  std::array<double, kProductSlots> fieldVolume{};
  std::array<double, kProductSlots> extraA{};  // further per-slot figures (not read yet)
  std::array<double, kProductSlots> extraB{};
  double startHour = 0.0;
  double startMinute = 0.0;
  double endHour = 0.0;
  double endMinute = 0.0;
  uint64_t date = 0;  // 100-nanosecond ticks since 1 January 1601, as stored
  bool hasDate = false;   // the date came from the log
  bool hasTimes = false;  // the start and end times came from the log

  // "1:05 PM" from the start hour and minute.
  std::string FormatStartTime() const;
  // "1:05 PM" from the end hour and minute.
  std::string FormatEndTime() const;
  // "2:30" from start to end, across midnight when the end is earlier.
  std::string FormatDuration() const;
  // "MM/DD/YYYY" of the date; empty when the value is no date.
  std::string FormatDate() const;
  // The log's date and times on one line, "04/15/2026, 8:00 AM to 9:32 AM
  // (1:32)", of what the summary has; empty with neither.
  std::string FormatLogLine() const;
};

}  // namespace kestrune
