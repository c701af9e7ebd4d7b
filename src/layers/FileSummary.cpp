#include "layers/FileSummary.h"

#include <cmath>
#include <cstdio>

namespace kestrune {

namespace {

// Truncates toward zero; values beyond the range of a clock reading (or not
// numbers) become 0 rather than undefined conversions.
long long TruncateClock(double v) {
  if (!(std::fabs(v) < 1e15)) return 0;
  return static_cast<long long>(v);
}

constexpr uint64_t kTicksPerDay = 864000000000ULL;
// Days from 1 January 1601 to 1 January 1970.
constexpr int64_t kDaysTo1970 = 134774;

// Civil date of a day count from 1 January 1970 (proleptic Gregorian).
void CivilFromDays(int64_t z, int64_t& year, unsigned& month, unsigned& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = doy - (153 * mp + 2) / 5 + 1;
  month = mp < 10 ? mp + 3 : mp - 9;
  year = y + (month <= 2 ? 1 : 0);
}

}  // namespace

std::string FormatClockTime(double hour, double minute) {
  long long h = TruncateClock(hour);
  const long long m = TruncateClock(minute);
  const char* suffix = "AM";
  if (h >= 12) {
    suffix = "PM";
    if (h > 12) h -= 12;
  }
  char text[64];
  std::snprintf(text, sizeof text, "%lld:%2.2lld %s", h, m, suffix);
  return text;
}

std::string FileSummary::FormatStartTime() const { return FormatClockTime(startHour, startMinute); }

std::string FileSummary::FormatEndTime() const { return FormatClockTime(endHour, endMinute); }

std::string FileSummary::FormatDuration() const {
  const long long startM = TruncateClock(startMinute);
  const long long endM = TruncateClock(endMinute);
  const long long borrow = endM < startM ? 1 : 0;
  const long long minutes = endM - startM + 60 * borrow;
  long long hours = TruncateClock(endHour) - TruncateClock(startHour) - borrow;
  if (hours < 0) hours += 24;
  char text[64];
  std::snprintf(text, sizeof text, "%lld:%2.2lld", hours, minutes);
  return text;
}

std::string FileSummary::FormatDate() const {
  // The platform's conversion refuses file times with the top bit set.
  if (date > 0x7FFFFFFFFFFFFFFFULL) return {};
  const int64_t days = static_cast<int64_t>(date / kTicksPerDay) - kDaysTo1970;
  int64_t year = 0;
  unsigned month = 0, day = 0;
  CivilFromDays(days, year, month, day);
  char text[64];
  std::snprintf(text, sizeof text, "%2.2u/%2.2u/%4.4lld", month, day, static_cast<long long>(year));
  return text;
}

}  // namespace kestrune
