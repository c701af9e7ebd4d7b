// The numbered cartographic calls against coordinates computed with PROJ's
// cs2cs from the EPSG definitions (values hard-coded when the tests were written),
// and their failures for codes and positions PROJ cannot serve.
#include <cmath>

#include <gtest/gtest.h>

#include "geo/ZoneCalls.h"

namespace kestrune {
namespace {

constexpr double kRad = 0.017453292519943295;
constexpr double kUsFoot = 1200.0 / 3937.0;

TEST(UtmZone, UtmNorthAndSouthMatchPublishedEpsgZones) {
  double x = 0, y = 0;
  // cs2cs EPSG:4326 EPSG:32615: 42N 93.5W.
  ASSERT_TRUE(zones::UtmFromGeographic(-93.5 * kRad, 42.0 * kRad, &x, &y, 15, zones::kDatumWgs84));
  EXPECT_NEAR(x, 458591.1333, 0.001);
  EXPECT_NEAR(y, 4649897.1251, 0.001);
  // NAD83 differs from WGS 84 by nothing PROJ knows without grids.
  ASSERT_TRUE(zones::UtmFromGeographic(-93.5 * kRad, 42.0 * kRad, &x, &y, 15, zones::kDatumNad83));
  EXPECT_NEAR(x, 458591.1333, 0.001);
  EXPECT_NEAR(y, 4649897.1250, 0.001);
  // cs2cs EPSG:4326 EPSG:32734: Cape Town, zone 34 south.
  ASSERT_TRUE(zones::UtmFromGeographic(18.4 * kRad, -33.9 * kRad, &x, &y, -34, zones::kDatumWgs84));
  EXPECT_NEAR(x, 259583.2217, 0.001);
  EXPECT_NEAR(y, 6245888.0454, 0.001);
}

TEST(UtmZone, Nad27UtmIncludesTheDatumShift) {
  double x = 0, y = 0;
  // cs2cs EPSG:4326 EPSG:26715 (NAD27 / UTM zone 15N): about 200 m south of the WGS 84 grid.
  ASSERT_TRUE(zones::UtmFromGeographic(-93.5 * kRad, 42.0 * kRad, &x, &y, 15, zones::kDatumNad27));
  EXPECT_NEAR(x, 458607.6804, 0.01);
  EXPECT_NEAR(y, 4649684.0873, 0.01);
  double lon = 0, lat = 0;
  ASSERT_TRUE(zones::GeographicFromUtm(x, y, &lon, &lat, 15, zones::kDatumNad27));
  EXPECT_NEAR(lon / kRad, -93.5, 1e-8);
  EXPECT_NEAR(lat / kRad, 42.0, 1e-8);
}

TEST(UtmZone, SphereZoneUsesTheSphere) {
  double xs = 0, ys = 0, xw = 0, yw = 0;
  ASSERT_TRUE(zones::UtmFromGeographic(-93.5 * kRad, 42.0 * kRad, &xs, &ys, 15, zones::kDatumSphere));
  ASSERT_TRUE(zones::UtmFromGeographic(-93.5 * kRad, 42.0 * kRad, &xw, &yw, 15, zones::kDatumWgs84));
  // Same false easting, but the sphere's northing differs by kilometres from the ellipsoid's.
  EXPECT_GT(std::fabs(ys - yw), 1000.0);
  double lon = 0, lat = 0;
  ASSERT_TRUE(zones::GeographicFromUtm(xs, ys, &lon, &lat, 15, zones::kDatumSphere));
  EXPECT_NEAR(lon / kRad, -93.5, 1e-9);
  EXPECT_NEAR(lat / kRad, 42.0, 1e-9);
}

TEST(UtmZone, CodeThatIsNoUtmZoneMeansTheZoneOfThePosition) {
  double x = 0, y = 0, x15 = 0, y15 = 0;
  ASSERT_TRUE(zones::UtmFromGeographic(-93.5 * kRad, 42.0 * kRad, &x15, &y15, 15, zones::kDatumNad83));
  for (int code : {0, 101, 1401, 61, -61}) {
    ASSERT_TRUE(zones::UtmFromGeographic(-93.5 * kRad, 42.0 * kRad, &x, &y, code, zones::kDatumNad83)) << code;
    EXPECT_DOUBLE_EQ(x, x15) << code;
    EXPECT_DOUBLE_EQ(y, y15) << code;
  }
  // South of the equator the zone is a southern one (false northing 10,000 km).
  ASSERT_TRUE(zones::UtmFromGeographic(18.4 * kRad, -33.9 * kRad, &x, &y, 101, zones::kDatumWgs84));
  EXPECT_NEAR(y, 6245888.0454, 0.001);
}

TEST(UtmZone, InverseRoundTripsAcrossZones) {
  for (int zone : {1, 15, 31, 60, -1, -23, -60}) {
    const int number = zone < 0 ? -zone : zone;
    const double centre = -183.0 + 6.0 * number;
    for (double dlon : {-2.9, 0.0, 1.7}) {
      for (double magnitude : {0.5, 30.0, 71.0}) {
        const double lat = zone > 0 ? magnitude : -magnitude;
        const double lon = centre + dlon;
        double x = 0, y = 0, lam = 0, phi = 0;
        ASSERT_TRUE(zones::UtmFromGeographic(lon * kRad, lat * kRad, &x, &y, zone, zones::kDatumWgs84));
        EXPECT_GT(x, 160000.0);
        EXPECT_LT(x, 840000.0);
        ASSERT_TRUE(zones::GeographicFromUtm(x, y, &lam, &phi, zone, zones::kDatumWgs84));
        EXPECT_NEAR(lam / kRad, lon, 1e-9) << zone;
        EXPECT_NEAR(phi / kRad, lat, 1e-9) << zone;
      }
    }
  }
}

TEST(UtmZone, FailuresLeaveOutputsUntouched) {
  double x = -1, y = -2;
  // Unknown datum codes.
  EXPECT_FALSE(zones::UtmFromGeographic(-93.5 * kRad, 42.0 * kRad, &x, &y, 15, 5));
  EXPECT_FALSE(zones::UtmFromGeographic(-93.5 * kRad, 42.0 * kRad, &x, &y, 15, -1));
  // Not numbers.
  EXPECT_FALSE(zones::UtmFromGeographic(std::nan(""), 0.7, &x, &y, 15, zones::kDatumWgs84));
  // 90 degrees from the central meridian is outside the transverse Mercator.
  EXPECT_FALSE(zones::UtmFromGeographic(-3.0 * kRad, 0.0, &x, &y, 15, zones::kDatumWgs84));
  EXPECT_EQ(x, -1);
  EXPECT_EQ(y, -2);
  // The inverse cannot guess a zone.
  double lon = 7, lat = 8;
  for (int code : {0, 61, -61, 101, 1401}) {
    EXPECT_FALSE(zones::GeographicFromUtm(458591.0, 4649897.0, &lon, &lat, code, zones::kDatumWgs84)) << code;
  }
  EXPECT_FALSE(zones::GeographicFromUtm(458591.0, 4649897.0, &lon, &lat, 15, 3));
  EXPECT_FALSE(zones::GeographicFromUtm(INFINITY, 0.0, &lon, &lat, 15, zones::kDatumWgs84));
  EXPECT_EQ(lon, 7);
  EXPECT_EQ(lat, 8);
}

TEST(StatePlane, Nad83ZonesInMetresFromTheDatabase) {
  double x = 0, y = 0;
  // cs2cs EPSG:4326 EPSG:26975 (NAD83 / Iowa North).
  ASSERT_TRUE(zones::StatePlaneFromGeographic(-93.0 * kRad, 42.5 * kRad, &x, &y, 1401, zones::kDatumNad83));
  EXPECT_NEAR(x, 1541097.1961, 0.001);
  EXPECT_NEAR(y, 1111197.6286, 0.001);
  // cs2cs EPSG:4326 EPSG:26929 (NAD83 / Alabama East).
  ASSERT_TRUE(zones::StatePlaneFromGeographic(-85.9 * kRad, 32.5 * kRad, &x, &y, 101, zones::kDatumNad83));
  EXPECT_NEAR(x, 193735.1327, 0.001);
  EXPECT_NEAR(y, 221749.3878, 0.001);
}

TEST(StatePlane, Nad27ZonesAreGivenInMetresNotFeet) {
  double x = 0, y = 0;
  // cs2cs EPSG:4326 EPSG:26775 (NAD27 / Iowa North, US survey feet), converted to metres.
  ASSERT_TRUE(zones::StatePlaneFromGeographic(-93.0 * kRad, 42.5 * kRad, &x, &y, 1401, zones::kDatumNad27));
  EXPECT_NEAR(x, 2134890.3008 * kUsFoot, 0.01);
  EXPECT_NEAR(y, 364819.1987 * kUsFoot, 0.01);
}

TEST(StatePlane, UnservedCodesFail) {
  double x = -1, y = -2;
  // No such FIPS zone; 6001 lands on the EPSG number of a UTM conversion.
  for (int code : {0, -1401, 99, 1499, 6001, 9999, 10101, 1431}) {
    EXPECT_FALSE(zones::StatePlaneFromGeographic(-93.0 * kRad, 42.5 * kRad, &x, &y, code, zones::kDatumNad83)) << code;
    EXPECT_FALSE(zones::StatePlaneFromGeographic(-93.0 * kRad, 42.5 * kRad, &x, &y, code, zones::kDatumNad27)) << code;
  }
  // State Plane exists only on NAD27 and NAD83.
  EXPECT_FALSE(zones::StatePlaneFromGeographic(-93.0 * kRad, 42.5 * kRad, &x, &y, 1401, zones::kDatumWgs84));
  EXPECT_FALSE(zones::StatePlaneFromGeographic(-93.0 * kRad, 42.5 * kRad, &x, &y, 1401, zones::kDatumSphere));
  EXPECT_EQ(x, -1);
  EXPECT_EQ(y, -2);
  // A failed zone stays failed (it is cached) and a good one still works after it.
  EXPECT_FALSE(zones::StatePlaneFromGeographic(-93.0 * kRad, 42.5 * kRad, &x, &y, 6001, zones::kDatumNad83));
  EXPECT_TRUE(zones::StatePlaneFromGeographic(-93.0 * kRad, 42.5 * kRad, &x, &y, 1402, zones::kDatumNad83));
}

TEST(GctpMercator, ForwardAndInverseOnTheSphere) {
  double params[zones::kParamCount] = {};
  int error = -1;
  ASSERT_TRUE(zones::PrepareMercatorForward(zones::kProjectionMercator, 0, params, zones::kDatumSphere, &error));
  EXPECT_EQ(error, 0);
  double x = 0, y = 0;
  ASSERT_TRUE(zones::MercatorForward(1.0 * kRad, 0.0, &x, &y));
  EXPECT_NEAR(x, 111194.87428468118, 1e-6);
  EXPECT_NEAR(y, 0.0, 1e-6);
  ASSERT_TRUE(zones::MercatorForward(0.0, 60.0 * kRad, &x, &y));
  EXPECT_NEAR(y, 6370997.0 * std::log(std::tan((45.0 + 30.0) * kRad)), 1e-6);
  // A central meridian moves the origin.
  params[zones::kParamCentralMeridian] = 10.0;
  ASSERT_TRUE(zones::PrepareMercatorForward(zones::kProjectionMercator, 0, params, zones::kDatumSphere, &error));
  ASSERT_TRUE(zones::MercatorForward(11.0 * kRad, 0.0, &x, &y));
  EXPECT_NEAR(x, 111194.87428468118, 1e-6);
  ASSERT_TRUE(zones::PrepareMercatorInverse(zones::kProjectionMercator, 0, params, zones::kDatumSphere, &error));
  double lon = 0, lat = 0;
  ASSERT_TRUE(zones::MercatorInverse(x, y, &lon, &lat));
  EXPECT_NEAR(lon / kRad, 11.0, 1e-12);
  EXPECT_NEAR(lat, 0.0, 1e-12);
}

TEST(GctpMercator, EllipsoidsDifferFromTheSphere) {
  double params[zones::kParamCount] = {};
  double ys = 0, yw = 0, x = 0;
  ASSERT_TRUE(zones::PrepareMercatorForward(zones::kProjectionMercator, 0, params, zones::kDatumSphere, nullptr));
  ASSERT_TRUE(zones::MercatorForward(0.0, 45.0 * kRad, &x, &ys));
  ASSERT_TRUE(zones::PrepareMercatorForward(zones::kProjectionMercator, 0, params, zones::kDatumWgs84, nullptr));
  ASSERT_TRUE(zones::MercatorForward(0.0, 45.0 * kRad, &x, &yw));
  // WGS 84 Mercator at 45N: 5,591,295.92 m (EPSG:3395).
  EXPECT_NEAR(yw, 5591295.9186, 0.001);
  EXPECT_GT(std::fabs(ys - yw), 1000.0);
}

TEST(GctpMercator, UnknownCodesFailAndDisableTheTransformation) {
  double params[zones::kParamCount] = {};
  int error = 0;
  EXPECT_FALSE(zones::PrepareMercatorForward(1, 0, params, zones::kDatumSphere, &error));
  EXPECT_NE(error, 0);
  double x = 5, y = 6;
  EXPECT_FALSE(zones::MercatorForward(0.1, 0.1, &x, &y));
  EXPECT_EQ(x, 5);
  EXPECT_FALSE(zones::PrepareMercatorForward(zones::kProjectionMercator, 0, params, 77, &error));
  EXPECT_FALSE(zones::PrepareMercatorForward(zones::kProjectionMercator, 0, nullptr, zones::kDatumSphere, &error));
  params[zones::kParamCentralMeridian] = NAN;
  EXPECT_FALSE(zones::PrepareMercatorInverse(zones::kProjectionMercator, 0, params, zones::kDatumSphere, &error));
  double lon = 1, lat = 2;
  EXPECT_FALSE(zones::MercatorInverse(0.0, 0.0, &lon, &lat));
  EXPECT_EQ(lon, 1);
}

TEST(GctpDatum, Nad27ShiftInDegrees) {
  // cs2cs EPSG:4267 EPSG:4326 at 42N 93.5W.
  double lat = 42.0, lon = -93.5;
  ASSERT_TRUE(zones::Nad27ToWgs84(&lat, &lon));
  EXPECT_NEAR(lat, 41.9999945122, 1e-9);
  EXPECT_NEAR(lon, -93.5002135394, 1e-9);
  lat = NAN;
  lon = 0.0;
  EXPECT_FALSE(zones::Nad27ToWgs84(&lat, &lon));
  EXPECT_EQ(lon, 0.0);
}

TEST(GctpZoneOf, ZonesBySixDegreesAndHemisphere) {
  EXPECT_EQ(zones::UtmZoneOf(-93.5, 42.0), 15);
  EXPECT_EQ(zones::UtmZoneOf(18.4, -33.9), -34);
  EXPECT_EQ(zones::UtmZoneOf(-180.0, 0.0), 1);
  EXPECT_EQ(zones::UtmZoneOf(179.99, 5.0), 60);
  EXPECT_EQ(zones::UtmZoneOf(180.0, 5.0), 1);  // 180 E is 180 W
  EXPECT_EQ(zones::UtmZoneOf(0.0, 0.0), 31);
  EXPECT_EQ(zones::UtmZoneOf(-0.001, -0.001), -30);
  EXPECT_EQ(zones::UtmZoneOf(365.0, 1.0), 31);
}

}  // namespace
}  // namespace kestrune
