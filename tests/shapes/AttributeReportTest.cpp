#include <gtest/gtest.h>

#include "geo/MapProjection.h"
#include "geo/ZoneCalls.h"
#include "shapes/AttributeReport.h"

namespace kestrune {
namespace {

const std::string kDeg = "\xC2\xB0";

TEST(FormatLatLong, DegreeStylesSplitArcAndPickTheHemisphere) {
  LatLongText t = FormatLatLong(45.75, -93.25, kStyleDegreesMinutesSeconds, 0, 0);
  EXPECT_EQ(t.latitude, "045" + kDeg + " 45' 00.000\" N");
  EXPECT_EQ(t.longitude, "093" + kDeg + " 15' 00.000\" W");

  t = FormatLatLong(-45.5, 10.0, kStyleDecimalMinutes, 0, 0);
  EXPECT_EQ(t.latitude, "045" + kDeg + " 30.00000' S");
  EXPECT_EQ(t.longitude, "010" + kDeg + " 0.00000' E");

  t = FormatLatLong(41.123456, -93.5, kStyleDecimalDegrees, 0, 0);
  EXPECT_EQ(t.latitude, "41.12346" + kDeg + " N");
  EXPECT_EQ(t.longitude, "93.50000" + kDeg + " W");

  // Seconds and thousandths come from truncated milliseconds of arc.
  t = FormatLatLong(12.3456789, 0.0, kStyleDegreesMinutesSeconds, 0, 0);
  EXPECT_EQ(t.latitude, "012" + kDeg + " 20' 44.444\" N");
}

TEST(FormatLatLong, TinyNegativesAndTheNoValueMarkShowAsNorthZero) {
  LatLongText t = FormatLatLong(-0.0000001, -999.0, kStyleDegreesMinutesSeconds, 0, 0);
  EXPECT_EQ(t.latitude, "000" + kDeg + " 00' 00.000\" N");
  EXPECT_EQ(t.longitude, "000" + kDeg + " 00' 00.000\" E");
  t = FormatLatLong(-999.0, 5.0, kStyleDecimalDegrees, 0, 0);
  EXPECT_EQ(t.latitude, "0.00000" + kDeg + " N");
}

TEST(FormatLatLong, UnknownStylesGiveEmptyTexts) {
  for (int style : {0, 6, -1, 1000}) {
    LatLongText t = FormatLatLong(45.0, -93.0, style, 15, 8);
    EXPECT_TRUE(t.latitude.empty()) << style;
    EXPECT_TRUE(t.longitude.empty()) << style;
  }
}

TEST(FormatLatLong, ProjectedStylesUseTheZoneAndAlwaysNorthEastLetters) {
  // Iowa, UTM 15 north on NAD83: compare with the projection call itself.
  const double lat = 42.0, lon = -93.6;
  double x = 0, y = 0;
  ASSERT_TRUE(zones::UtmFromGeographic(lon * 0.017453292519943295, lat * 0.017453292519943295, &x, &y, 15, 8));
  LatLongText t = FormatLatLong(lat, lon, kStyleZoneProjected, 15, 8);
  char expectX[64], expectY[64];
  std::snprintf(expectX, sizeof expectX, "%.2f E", x);
  std::snprintf(expectY, sizeof expectY, "%.2f N", y);
  EXPECT_EQ(t.longitude, expectX);
  EXPECT_EQ(t.latitude, expectY);
  EXPECT_NEAR(x, 450000.0, 60000.0);

  // State Plane: NAD83 stays metres, NAD27 turns into feet.
  double x83 = 0, y83 = 0, x27 = 0, y27 = 0;
  ASSERT_TRUE(zones::StatePlaneFromGeographic(lon * 0.017453292519943295, lat * 0.017453292519943295, &x83, &y83, 1401, 8));
  ASSERT_TRUE(zones::StatePlaneFromGeographic(lon * 0.017453292519943295, lat * 0.017453292519943295, &x27, &y27, 1401, 0));
  LatLongText t83 = FormatLatLong(lat, lon, kStyleStatePlane, 1401, 8);
  LatLongText t27 = FormatLatLong(lat, lon, kStyleStatePlane, 1401, 0);
  std::snprintf(expectX, sizeof expectX, "%.2f E", x83);
  EXPECT_EQ(t83.longitude, expectX);
  std::snprintf(expectX, sizeof expectX, "%.2f E", x27 * 3.280839895);
  EXPECT_EQ(t27.longitude, expectX);
}

TEST(FormatLatLong, AProjectionThatCannotServeShowsNothing) {
  LatLongText t = FormatLatLong(42.0, -93.6, kStyleStatePlane, 99999, 8);
  EXPECT_TRUE(t.latitude.empty());
  EXPECT_TRUE(t.longitude.empty());
}

TEST(FormatArea, HectaresAcresAndNothingForZero) {
  EXPECT_EQ(FormatAreaText(10000.0, true), "1.00 ha");
  EXPECT_EQ(FormatAreaText(43560.0, false), "1.00 ac");
  EXPECT_EQ(FormatAreaText(0.0, true), "");
  EXPECT_EQ(FormatAreaText(-5.0, false), "");
}

TEST(FormatLength, SmallUnitsUntilAThousandMetresOrAMile) {
  EXPECT_EQ(FormatLengthText(999.994, true, false), "999.99 m");
  EXPECT_EQ(FormatLengthText(1000.0, true, false), "1.00 km");
  EXPECT_EQ(FormatLengthText(2500.0, true, true), "2500.00 m");
  EXPECT_EQ(FormatLengthText(5279.0, false, false), "5279.00 ft");
  EXPECT_EQ(FormatLengthText(10560.0, false, false), "2.00 mi");
  EXPECT_EQ(FormatLengthText(10560.0, false, true), "10560.00 ft");
  EXPECT_EQ(FormatLengthText(0.0, true, false), "");
}

TEST(GroundLength, SumsTheGroundDistanceOfEverySegment) {
  const MapProjection& p = GetMapProjection();
  MapPoint a, b, c;
  p.GeoToMap(0.0, 0.0, a);
  p.GeoToMap(1.0, 0.0, b);
  p.GeoToMap(2.0, 0.0, c);
  EXPECT_NEAR(GroundLength({a, b, c}, false), 2 * 111194.9, 5.0);
  EXPECT_NEAR(GroundLength({a, b}, true), 111194.9 * 3.280839895, 20.0);
  EXPECT_EQ(GroundLength({a}, false), 0.0);
  EXPECT_EQ(GroundLength({}, false), 0.0);
}

TEST(SummaryTimes, TwelveHourClockAndDurationsPastMidnight) {
  EXPECT_EQ(FormatClockTime(13.0, 5.0), "1:05 PM");
  EXPECT_EQ(FormatClockTime(12.0, 30.0), "12:30 PM");
  EXPECT_EQ(FormatClockTime(0.0, 15.0), "0:15 AM");
  EXPECT_EQ(FormatClockTime(11.9, 59.9), "11:59 AM");
  EXPECT_EQ(FormatDuration(22, 50, 1, 20), "2:30");
  EXPECT_EQ(FormatDuration(12, 0, 12, 0), "0:00");
  EXPECT_EQ(FormatDuration(11, 59, 12, 1), "0:02");
  EXPECT_EQ(FormatDuration(10, 50, 10, 20), "23:30");
  // A summary field holding garbage must not overflow the conversion.
  EXPECT_EQ(FormatClockTime(1e300, -1e300), "0:00 AM");
  EXPECT_EQ(FormatDuration(1e300, 0, 0, 0), "0:00");
}

TEST(SummaryDate, FileTimesBecomeMonthDayYear) {
  EXPECT_EQ(FormatFileDate(0), "01/01/1601");
  // 2000-02-29 00:00 UTC: 125,911,584,000,000,000 ticks... computed from the Unix epoch.
  const uint64_t unixEpoch = 116444736000000000ULL;
  EXPECT_EQ(FormatFileDate(unixEpoch), "01/01/1970");
  EXPECT_EQ(FormatFileDate(unixEpoch + 951782400ULL * 10000000ULL), "02/29/2000");
  EXPECT_EQ(FormatFileDate(unixEpoch + 1735689599ULL * 10000000ULL), "12/31/2024");
  EXPECT_EQ(FormatFileDate(0x8000000000000000ULL), "");
}

}  // namespace
}  // namespace kestrune
