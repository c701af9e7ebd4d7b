#include "shapes/AttributeReport.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "geo/MapProjection.h"
#include "geo/ZoneCalls.h"
#include "lang/LangString.h"

namespace kestrune {

namespace {

constexpr double kRadiansPerDegree = 0.017453292519943295;
constexpr double kAcresPerSquareFoot = 2.295684113865932e-05;
constexpr double kHectaresPerSquareMetre = 0.0001;
// The degree sign: texts are UTF-8 here.
constexpr const char* kDegree = "\xC2\xB0";

std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// snprintf into a string of whatever length the text needs.
std::string Printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string out;
  if (n > 0) {
    out.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(out.data(), out.size(), format, args);
    out.resize(static_cast<size_t>(n));
  }
  va_end(args);
  return out;
}

// Milliseconds of arc, split for the degree styles.
struct ArcParts {
  long long degrees, minutes, seconds, thousandths;
  bool negative;
};

ArcParts SplitArc(double value) {
  // Truncation toward zero, so −0.0000001 counts as 0 and takes the positive letter.
  const double scaled = value * 3600000.0;
  const long long m = std::isfinite(scaled) ? static_cast<long long>(scaled) : 0;
  const long long a = std::llabs(m);
  return {a / 3600000, (a % 3600000) / 60000, (a % 60000) / 1000, a % 1000, m < 0};
}

std::string DegreeText(double value, int style, char positive, char negative) {
  const ArcParts p = SplitArc(value);
  const char letter = p.negative ? negative : positive;
  switch (style) {
    case kStyleDecimalDegrees:
      return Printf("%.5f%s %c", std::fabs(value), kDegree, letter);
    case kStyleDecimalMinutes: {
      const double minutes = (std::fabs(value) - std::fabs(std::trunc(value))) * 60.0;
      return Printf("%3.3lld%s %.5f' %c", p.degrees, kDegree, minutes, letter);
    }
    case kStyleDegreesMinutesSeconds:
      return Printf("%3.3lld%s %2.2lld' %2.2lld.%3.3lld\" %c", p.degrees, kDegree, p.minutes, p.seconds,
                    p.thousandths, letter);
    default:
      return {};
  }
}

// Truncates toward zero; values no clock holds (NaN, beyond ±1e15) count as 0.
long long WholeNumber(double v) {
  if (!std::isfinite(v) || std::fabs(v) > 1e15) return 0;
  return static_cast<long long>(std::trunc(v));
}

}  // namespace

LatLongText FormatLatLong(double latitude, double longitude, int style, int zone, int datum) {
  LatLongText out;
  if (latitude == kNoPositionValue) latitude = 0.0;
  if (longitude == kNoPositionValue) longitude = 0.0;
  if (style >= kStyleDecimalDegrees && style <= kStyleDegreesMinutesSeconds) {
    out.latitude = DegreeText(latitude, style, 'N', 'S');
    out.longitude = DegreeText(longitude, style, 'E', 'W');
    return out;
  }
  if (style != kStyleZoneProjected && style != kStyleStatePlane) return out;

  double x = 0.0, y = 0.0;
  const double lon = longitude * kRadiansPerDegree;
  const double lat = latitude * kRadiansPerDegree;
  const bool ok = style == kStyleZoneProjected ? zones::UtmFromGeographic(lon, lat, &x, &y, zone, datum)
                                               : zones::StatePlaneFromGeographic(lon, lat, &x, &y, zone, datum);
  // A zone or datum the projection cannot serve shows nothing rather than a false 0.00.
  if (!ok) return out;
  if (style == kStyleStatePlane && datum == zones::kDatumNad27) {
    x *= kFeetPerMetre;
    y *= kFeetPerMetre;
  }
  out.latitude = Printf("%.2f %c", y, 'N');
  out.longitude = Printf("%.2f %c", x, 'E');
  return out;
}

std::string FormatAreaText(double groundArea, bool metric) {
  if (!(groundArea > 0.0)) return {};
  if (metric) {
    return Printf("%.2f %s", groundArea * kHectaresPerSquareMetre, GetLangString("#10000013:ha"));
  }
  return Printf("%.2f %s", groundArea * kAcresPerSquareFoot, GetLangString("#10000014:ac"));
}

std::string FormatLengthText(double groundLength, bool metric, bool keepSmallUnit) {
  if (!(groundLength > 0.0)) return {};
  if (metric) {
    if (!keepSmallUnit && groundLength >= 1000.0) {
      return Printf("%.2f %s", groundLength / 1000.0, GetLangString("#10000016:km"));
    }
    return Printf("%.2f %s", groundLength, GetLangString("#10000015:m"));
  }
  if (!keepSmallUnit && groundLength >= 5280.0) {
    return Printf("%.2f %s", groundLength / 5280.0, GetLangString("#10000018:mi"));
  }
  return Printf("%.2f %s", groundLength, GetLangString("#10000017:ft"));
}

double GroundLength(const std::vector<MapPoint>& points, bool inFeet) {
  const MapProjection& projection = GetMapProjection();
  double total = 0.0;
  for (size_t i = 1; i < points.size(); ++i) {
    total += projection.Distance(points[i - 1], points[i], inFeet);
  }
  return total;
}

std::string FormatClockTime(double hour, double minute) {
  long long h = WholeNumber(hour);
  const long long m = WholeNumber(minute);
  const char* suffix = "AM";
  if (h >= 12) {
    suffix = "PM";
    if (h > 12) h -= 12;
  }
  return Printf("%lld:%2.2lld %s", h, m, suffix);
}

std::string FormatDuration(double startHour, double startMinute, double endHour, double endMinute) {
  const auto whole = WholeNumber;
  const long long borrow = whole(endMinute) < whole(startMinute) ? 1 : 0;
  const long long minutes = whole(endMinute) - whole(startMinute) + 60 * borrow;
  long long hours = whole(endHour) - whole(startHour) - borrow;
  if (hours < 0) hours += 24;
  return Printf("%lld:%2.2lld", hours, minutes);
}

std::string FormatFileDate(uint64_t fileTime) {
  // File times count 100 ns ticks from 1601-01-01; the desktop converts up to year 30827.
  constexpr uint64_t kTicksPerDay = 864000000000ULL;
  if (fileTime >= 0x8000000000000000ULL) return {};
  long long days = static_cast<long long>(fileTime / kTicksPerDay);
  // Civil date from days since 1601-01-01 (a proleptic Gregorian 400-year cycle start).
  long long year = 1601;
  const long long cycles = days / 146097;
  year += cycles * 400;
  days %= 146097;
  auto isLeap = [](long long y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; };
  while (true) {
    const long long yearDays = isLeap(year) ? 366 : 365;
    if (days < yearDays) break;
    days -= yearDays;
    ++year;
  }
  static const int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int month = 0;
  while (month < 12) {
    const int len = kMonthDays[month] + (month == 1 && isLeap(year) ? 1 : 0);
    if (days < len) break;
    days -= len;
    ++month;
  }
  return Printf("%2.2d/%2.2lld/%4.4lld", month + 1, days + 1, year);
}

}  // namespace kestrune
