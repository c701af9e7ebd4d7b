// The numbered cartographic calls against coordinates computed with PROJ's
// cs2cs from the EPSG definitions (values hard-coded when the tests were written),
// and their failures for codes and positions PROJ cannot serve.
#include <cmath>

#include <gtest/gtest.h>

#include "mapview/Gctp.h"

namespace kestrune {
namespace {

constexpr double kRad = 0.017453292519943295;
constexpr double kUsFoot = 1200.0 / 3937.0;

TEST(GctpZone, UtmNorthAndSouthMatchPublishedEpsgZones) {
  double x = 0, y = 0;
  // cs2cs EPSG:4326 EPSG:32615: 42N 93.5W.
  ASSERT_TRUE(gctp::ZoneForward(-93.5 * kRad, 42.0 * kRad, &x, &y, 15, gctp::kDatumWgs84));
  EXPECT_NEAR(x, 458591.1333, 0.001);
  EXPECT_NEAR(y, 4649897.1251, 0.001);
  // NAD83 differs from WGS 84 by nothing PROJ knows without grids.
  ASSERT_TRUE(gctp::ZoneForward(-93.5 * kRad, 42.0 * kRad, &x, &y, 15, gctp::kDatumNad83));
  EXPECT_NEAR(x, 458591.1333, 0.001);
  EXPECT_NEAR(y, 4649897.1250, 0.001);
  // cs2cs EPSG:4326 EPSG:32734: Cape Town, zone 34 south.
  ASSERT_TRUE(gctp::ZoneForward(18.4 * kRad, -33.9 * kRad, &x, &y, -34, gctp::kDatumWgs84));
  EXPECT_NEAR(x, 259583.2217, 0.001);
  EXPECT_NEAR(y, 6245888.0454, 0.001);
}

TEST(GctpZone, Nad27UtmIncludesTheDatumShift) {
  double x = 0, y = 0;
  // cs2cs EPSG:4326 EPSG:26715 (NAD27 / UTM zone 15N): about 200 m south of the WGS 84 grid.
  ASSERT_TRUE(gctp::ZoneForward(-93.5 * kRad, 42.0 * kRad, &x, &y, 15, gctp::kDatumNad27));
  EXPECT_NEAR(x, 458607.6804, 0.01);
  EXPECT_NEAR(y, 4649684.0873, 0.01);
  double lon = 0, lat = 0;
  ASSERT_TRUE(gctp::ZoneInverse(x, y, &lon, &lat, 15, gctp::kDatumNad27));
  EXPECT_NEAR(lon / kRad, -93.5, 1e-8);
  EXPECT_NEAR(lat / kRad, 42.0, 1e-8);
}

TEST(GctpZone, SphereZoneUsesTheSphere) {
  double xs = 0, ys = 0, xw = 0, yw = 0;
  ASSERT_TRUE(gctp::ZoneForward(-93.5 * kRad, 42.0 * kRad, &xs, &ys, 15, gctp::kDatumSphere));
  ASSERT_TRUE(gctp::ZoneForward(-93.5 * kRad, 42.0 * kRad, &xw, &yw, 15, gctp::kDatumWgs84));
  // Same false easting, but the sphere's northing differs by kilometres from the ellipsoid's.
  EXPECT_GT(std::fabs(ys - yw), 1000.0);
  double lon = 0, lat = 0;
  ASSERT_TRUE(gctp::ZoneInverse(xs, ys, &lon, &lat, 15, gctp::kDatumSphere));
  EXPECT_NEAR(lon / kRad, -93.5, 1e-9);
  EXPECT_NEAR(lat / kRad, 42.0, 1e-9);
}

TEST(GctpZone, CodeThatIsNoUtmZoneMeansTheZoneOfThePosition) {
  double x = 0, y = 0, x15 = 0, y15 = 0;
  ASSERT_TRUE(gctp::ZoneForward(-93.5 * kRad, 42.0 * kRad, &x15, &y15, 15, gctp::kDatumNad83));
  for (int code : {0, 101, 1401, 61, -61}) {
    ASSERT_TRUE(gctp::ZoneForward(-93.5 * kRad, 42.0 * kRad, &x, &y, code, gctp::kDatumNad83)) << code;
    EXPECT_DOUBLE_EQ(x, x15) << code;
    EXPECT_DOUBLE_EQ(y, y15) << code;
  }
  // South of the equator the zone is a southern one (false northing 10,000 km).
  ASSERT_TRUE(gctp::ZoneForward(18.4 * kRad, -33.9 * kRad, &x, &y, 101, gctp::kDatumWgs84));
  EXPECT_NEAR(y, 6245888.0454, 0.001);
}

TEST(GctpZone, InverseRoundTripsAcrossZones) {
  for (int zone : {1, 15, 31, 60, -1, -23, -60}) {
    const int number = zone < 0 ? -zone : zone;
    const double centre = -183.0 + 6.0 * number;
    for (double dlon : {-2.9, 0.0, 1.7}) {
      for (double magnitude : {0.5, 30.0, 71.0}) {
        const double lat = zone > 0 ? magnitude : -magnitude;
        const double lon = centre + dlon;
        double x = 0, y = 0, lam = 0, phi = 0;
        ASSERT_TRUE(gctp::ZoneForward(lon * kRad, lat * kRad, &x, &y, zone, gctp::kDatumWgs84));
        EXPECT_GT(x, 160000.0);
        EXPECT_LT(x, 840000.0);
        ASSERT_TRUE(gctp::ZoneInverse(x, y, &lam, &phi, zone, gctp::kDatumWgs84));
        EXPECT_NEAR(lam / kRad, lon, 1e-9) << zone;
        EXPECT_NEAR(phi / kRad, lat, 1e-9) << zone;
      }
    }
  }
}

TEST(GctpZone, FailuresLeaveOutputsUntouched) {
  double x = -1, y = -2;
  // Unknown datum codes.
  EXPECT_FALSE(gctp::ZoneForward(-93.5 * kRad, 42.0 * kRad, &x, &y, 15, 5));
  EXPECT_FALSE(gctp::ZoneForward(-93.5 * kRad, 42.0 * kRad, &x, &y, 15, -1));
  // Not numbers.
  EXPECT_FALSE(gctp::ZoneForward(std::nan(""), 0.7, &x, &y, 15, gctp::kDatumWgs84));
  // 90 degrees from the central meridian is outside the transverse Mercator.
  EXPECT_FALSE(gctp::ZoneForward(-3.0 * kRad, 0.0, &x, &y, 15, gctp::kDatumWgs84));
  EXPECT_EQ(x, -1);
  EXPECT_EQ(y, -2);
  // The inverse cannot guess a zone.
  double lon = 7, lat = 8;
  for (int code : {0, 61, -61, 101, 1401}) {
    EXPECT_FALSE(gctp::ZoneInverse(458591.0, 4649897.0, &lon, &lat, code, gctp::kDatumWgs84)) << code;
  }
  EXPECT_FALSE(gctp::ZoneInverse(458591.0, 4649897.0, &lon, &lat, 15, 3));
  EXPECT_FALSE(gctp::ZoneInverse(INFINITY, 0.0, &lon, &lat, 15, gctp::kDatumWgs84));
  EXPECT_EQ(lon, 7);
  EXPECT_EQ(lat, 8);
}

TEST(GctpStatePlane, Nad83ZonesInMetresFromTheDatabase) {
  double x = 0, y = 0;
  // cs2cs EPSG:4326 EPSG:26975 (NAD83 / Iowa North).
  ASSERT_TRUE(gctp::StatePlaneForward(-93.0 * kRad, 42.5 * kRad, &x, &y, 1401, gctp::kDatumNad83));
  EXPECT_NEAR(x, 1541097.1961, 0.001);
  EXPECT_NEAR(y, 1111197.6286, 0.001);
  // cs2cs EPSG:4326 EPSG:26929 (NAD83 / Alabama East).
  ASSERT_TRUE(gctp::StatePlaneForward(-85.9 * kRad, 32.5 * kRad, &x, &y, 101, gctp::kDatumNad83));
  EXPECT_NEAR(x, 193735.1327, 0.001);
  EXPECT_NEAR(y, 221749.3878, 0.001);
}

TEST(GctpStatePlane, Nad27ZonesAreGivenInMetresNotFeet) {
  double x = 0, y = 0;
  // cs2cs EPSG:4326 EPSG:26775 (NAD27 / Iowa North, US survey feet), converted to metres.
  ASSERT_TRUE(gctp::StatePlaneForward(-93.0 * kRad, 42.5 * kRad, &x, &y, 1401, gctp::kDatumNad27));
  EXPECT_NEAR(x, 2134890.3008 * kUsFoot, 0.01);
  EXPECT_NEAR(y, 364819.1987 * kUsFoot, 0.01);
}

TEST(GctpStatePlane, UnservedCodesFail) {
  double x = -1, y = -2;
  // No such FIPS zone; 6001 lands on the EPSG number of a UTM conversion.
  for (int code : {0, -1401, 99, 1499, 6001, 9999, 10101, 1431}) {
    EXPECT_FALSE(gctp::StatePlaneForward(-93.0 * kRad, 42.5 * kRad, &x, &y, code, gctp::kDatumNad83)) << code;
    EXPECT_FALSE(gctp::StatePlaneForward(-93.0 * kRad, 42.5 * kRad, &x, &y, code, gctp::kDatumNad27)) << code;
  }
  // State Plane exists only on NAD27 and NAD83.
  EXPECT_FALSE(gctp::StatePlaneForward(-93.0 * kRad, 42.5 * kRad, &x, &y, 1401, gctp::kDatumWgs84));
  EXPECT_FALSE(gctp::StatePlaneForward(-93.0 * kRad, 42.5 * kRad, &x, &y, 1401, gctp::kDatumSphere));
  EXPECT_EQ(x, -1);
  EXPECT_EQ(y, -2);
  // A failed zone stays failed (it is cached) and a good one still works after it.
  EXPECT_FALSE(gctp::StatePlaneForward(-93.0 * kRad, 42.5 * kRad, &x, &y, 6001, gctp::kDatumNad83));
  EXPECT_TRUE(gctp::StatePlaneForward(-93.0 * kRad, 42.5 * kRad, &x, &y, 1402, gctp::kDatumNad83));
}

TEST(GctpMercator, ForwardAndInverseOnTheSphere) {
  double params[gctp::kParamCount] = {};
  int error = -1;
  ASSERT_TRUE(gctp::ForwardInit(gctp::kProjectionMercator, 0, params, gctp::kDatumSphere, &error));
  EXPECT_EQ(error, 0);
  double x = 0, y = 0;
  ASSERT_TRUE(gctp::ForwardTransform(1.0 * kRad, 0.0, &x, &y));
  EXPECT_NEAR(x, 111194.87428468118, 1e-6);
  EXPECT_NEAR(y, 0.0, 1e-6);
  ASSERT_TRUE(gctp::ForwardTransform(0.0, 60.0 * kRad, &x, &y));
  EXPECT_NEAR(y, 6370997.0 * std::log(std::tan((45.0 + 30.0) * kRad)), 1e-6);
  // A central meridian moves the origin.
  params[gctp::kParamCentralMeridian] = 10.0;
  ASSERT_TRUE(gctp::ForwardInit(gctp::kProjectionMercator, 0, params, gctp::kDatumSphere, &error));
  ASSERT_TRUE(gctp::ForwardTransform(11.0 * kRad, 0.0, &x, &y));
  EXPECT_NEAR(x, 111194.87428468118, 1e-6);
  ASSERT_TRUE(gctp::InverseInit(gctp::kProjectionMercator, 0, params, gctp::kDatumSphere, &error));
  double lon = 0, lat = 0;
  ASSERT_TRUE(gctp::InverseTransform(x, y, &lon, &lat));
  EXPECT_NEAR(lon / kRad, 11.0, 1e-12);
  EXPECT_NEAR(lat, 0.0, 1e-12);
}

TEST(GctpMercator, EllipsoidsDifferFromTheSphere) {
  double params[gctp::kParamCount] = {};
  double ys = 0, yw = 0, x = 0;
  ASSERT_TRUE(gctp::ForwardInit(gctp::kProjectionMercator, 0, params, gctp::kDatumSphere, nullptr));
  ASSERT_TRUE(gctp::ForwardTransform(0.0, 45.0 * kRad, &x, &ys));
  ASSERT_TRUE(gctp::ForwardInit(gctp::kProjectionMercator, 0, params, gctp::kDatumWgs84, nullptr));
  ASSERT_TRUE(gctp::ForwardTransform(0.0, 45.0 * kRad, &x, &yw));
  // WGS 84 Mercator at 45N: 5,591,295.92 m (EPSG:3395).
  EXPECT_NEAR(yw, 5591295.9186, 0.001);
  EXPECT_GT(std::fabs(ys - yw), 1000.0);
}

TEST(GctpMercator, UnknownCodesFailAndDisableTheTransformation) {
  double params[gctp::kParamCount] = {};
  int error = 0;
  EXPECT_FALSE(gctp::ForwardInit(1, 0, params, gctp::kDatumSphere, &error));
  EXPECT_NE(error, 0);
  double x = 5, y = 6;
  EXPECT_FALSE(gctp::ForwardTransform(0.1, 0.1, &x, &y));
  EXPECT_EQ(x, 5);
  EXPECT_FALSE(gctp::ForwardInit(gctp::kProjectionMercator, 0, params, 77, &error));
  EXPECT_FALSE(gctp::ForwardInit(gctp::kProjectionMercator, 0, nullptr, gctp::kDatumSphere, &error));
  params[gctp::kParamCentralMeridian] = NAN;
  EXPECT_FALSE(gctp::InverseInit(gctp::kProjectionMercator, 0, params, gctp::kDatumSphere, &error));
  double lon = 1, lat = 2;
  EXPECT_FALSE(gctp::InverseTransform(0.0, 0.0, &lon, &lat));
  EXPECT_EQ(lon, 1);
}

TEST(GctpDatum, Nad27ShiftInDegrees) {
  // cs2cs EPSG:4267 EPSG:4326 at 42N 93.5W.
  double lat = 42.0, lon = -93.5;
  ASSERT_TRUE(gctp::ShiftNad27(&lat, &lon));
  EXPECT_NEAR(lat, 41.9999945122, 1e-9);
  EXPECT_NEAR(lon, -93.5002135394, 1e-9);
  lat = NAN;
  lon = 0.0;
  EXPECT_FALSE(gctp::ShiftNad27(&lat, &lon));
  EXPECT_EQ(lon, 0.0);
}

TEST(GctpZoneOf, ZonesBySixDegreesAndHemisphere) {
  EXPECT_EQ(gctp::UtmZoneOf(-93.5, 42.0), 15);
  EXPECT_EQ(gctp::UtmZoneOf(18.4, -33.9), -34);
  EXPECT_EQ(gctp::UtmZoneOf(-180.0, 0.0), 1);
  EXPECT_EQ(gctp::UtmZoneOf(179.99, 5.0), 60);
  EXPECT_EQ(gctp::UtmZoneOf(180.0, 5.0), 1);  // 180 E is 180 W
  EXPECT_EQ(gctp::UtmZoneOf(0.0, 0.0), 31);
  EXPECT_EQ(gctp::UtmZoneOf(-0.001, -0.001), -30);
  EXPECT_EQ(gctp::UtmZoneOf(365.0, 1.0), 31);
}

}  // namespace
}  // namespace kestrune
