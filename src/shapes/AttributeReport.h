// Texts of the attribute report: positions in five styles, areas, lengths, and
// the times and date of a file summary.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "geo/MapPoint.h"

namespace kestrune {

// Position display styles of the preferences.
enum LatLongStyle : int {
  kStyleDecimalDegrees = 1,
  kStyleDecimalMinutes = 2,
  kStyleDegreesMinutesSeconds = 3,
  kStyleZoneProjected = 4,
  kStyleStatePlane = 5,
};

// Latitude −999 is the "no value" mark of positions.
constexpr double kNoPositionValue = -999.0;

struct LatLongText {
  std::string latitude;
  std::string longitude;
};

// Formats a position (degrees) in a style; zone and datum serve styles 4 and 5.
// An unknown style, or a projection that cannot serve the position, gives empty texts.
LatLongText FormatLatLong(double latitude, double longitude, int style, int zone, int datum);

// "%.2lf ha" or "%.2lf ac" of a ground area in square metres (metric) or square feet;
// empty for an area of 0 or less.
std::string FormatAreaText(double groundArea, bool metric);

// "%.2lf" with m/km or ft/mi of a ground length in metres (metric) or feet; the
// large unit from 1000 m or 5280 ft unless keepSmallUnit. Empty for 0 or less.
std::string FormatLengthText(double groundLength, bool metric, bool keepSmallUnit);

// Ground length along consecutive vertices, in metres or feet.
double GroundLength(const std::vector<MapPoint>& points, bool inFeet);

// "h:mm AM" of an hour and minute (12-hour clock; hour 0 stays 0).
std::string FormatClockTime(double hour, double minute);
// "h:mm" from start to end, past midnight when the end is earlier.
std::string FormatDuration(double startHour, double startMinute, double endHour, double endMinute);
// "MM/DD/YYYY" of a Windows file time (100 ns ticks since 1601-01-01), as stored;
// empty when it cannot be converted.
std::string FormatFileDate(uint64_t fileTime);

}  // namespace kestrune
