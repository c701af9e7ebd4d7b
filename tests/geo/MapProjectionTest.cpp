// The closed-form sphere Mercator: fixed points, round trips, distances,
// offsets, and agreement with PROJ's own sphere Mercator.
#include <cmath>
#include <memory>
#include <utility>

#include <gtest/gtest.h>
#include <proj.h>

#include "geo/MapProjection.h"
#include "geo/ZoneCalls.h"

namespace kestrune {
namespace {

constexpr double kRadiansPerDegree = 0.017453292519943295;

TEST(SphereMercator, OriginAndOneDegreeEast) {
  SphereMercatorProjection projection;
  MapPoint p;
  projection.GeoToMap(0.0, 0.0, p);
  EXPECT_EQ(p, (MapPoint{1050000000, 1050000000}));
  // One degree of the sphere is 111,194.87 m = 5,559,743.7 map units.
  MapPoint east;
  projection.GeoToMap(0.0, 1.0, east);
  EXPECT_EQ(east.y, 1050000000);
  EXPECT_EQ(east.x - p.x, 5559744);
  MapPoint west;
  projection.GeoToMap(0.0, -1.0, west);
  EXPECT_EQ(p.x - west.x, 5559744);
}

TEST(SphereMercator, NorthIsSmallerY) {
  SphereMercatorProjection projection;
  MapPoint north, south;
  projection.GeoToMap(42.0, -93.0, north);
  projection.GeoToMap(-42.0, -93.0, south);
  EXPECT_LT(north.y, 1050000000);
  EXPECT_GT(south.y, 1050000000);
  // The sphere Mercator is symmetric about the equator (to the rounding unit).
  EXPECT_NEAR(north.y - 1050000000, 1050000000 - south.y, 1);
  // y = R ln tan(45 + 21) at 42 degrees: 5,131,331.8 m northing.
  const double northing = 6370997.0 * std::log(std::tan((45.0 + 21.0) * kRadiansPerDegree));
  EXPECT_EQ(north.y, static_cast<int32_t>(1050000000.0 - northing * 50.0 + 0.5));
}

TEST(SphereMercator, RoundTripWithinOneUnit) {
  SphereMercatorProjection projection;
  for (double lat = -85.0; lat <= 85.0; lat += 8.5) {
    for (double lon = -180.0; lon <= 180.0; lon += 15.0) {
      MapPoint p;
      projection.GeoToMap(lat, lon, p);
      double lat2 = 0.0, lon2 = 0.0;
      projection.MapToGeo(p, lat2, lon2);
      MapPoint q;
      projection.GeoToMap(lat2, lon2, q);
      // At +-180 degrees the point may come back on the other edge of the map.
      if (std::fabs(lon) < 180.0) {
        EXPECT_NEAR(q.x, p.x, 1) << lat << "," << lon;
      }
      EXPECT_NEAR(q.y, p.y, 1) << lat << "," << lon;
      // 0.02 m is under 2e-7 degrees anywhere below 85 degrees of latitude.
      EXPECT_NEAR(lat2, lat, 2e-7);
      // At 180 degrees the rounded unit may sit just past the meridian and come back as -180.
      EXPECT_NEAR(std::remainder(lon2 - lon, 360.0), 0.0, 2e-7);
    }
  }
}

TEST(SphereMercator, DistanceAlongMeridianAndParallel) {
  SphereMercatorProjection projection;
  MapPoint a, b;
  projection.GeoToMap(40.0, -95.0, a);
  projection.GeoToMap(41.0, -95.0, b);
  EXPECT_NEAR(projection.Distance(a, b, false), 111194.9, 0.5);
  EXPECT_NEAR(projection.Distance(a, b, true), 111194.9 * 3.280839895, 2.0);
  // Along a parallel the distance shrinks by the cosine of the latitude.
  MapPoint c, d;
  projection.GeoToMap(60.0, 10.0, c);
  projection.GeoToMap(60.0, 11.0, d);
  EXPECT_NEAR(projection.Distance(c, d, false), 111194.9 * 0.5, 0.5);
  EXPECT_DOUBLE_EQ(projection.Distance(c, c, false), 0.0);
  // Across the 180 degree meridian the short way round counts: 0.02 degrees at 60 S.
  MapPoint e, w;
  projection.GeoToMap(-60.0, 179.99, e);
  projection.GeoToMap(-60.0, -179.99, w);
  EXPECT_NEAR(projection.Distance(e, w, false), 111194.9 * 0.5 * 0.02, 0.05);
}

TEST(SphereMercator, OffsetEastMovesByGroundDistance) {
  SphereMercatorProjection projection;
  MapPoint p;
  projection.GeoToMap(45.0, -93.0, p);
  const MapPoint start = p;
  projection.OffsetEast(p, 1000.0, false);
  EXPECT_EQ(p.y, start.y);
  EXPECT_NEAR(projection.Distance(start, p, false), 1000.0, 0.05);
  // 3280.84 ft is the same kilometre.
  MapPoint f = start;
  projection.OffsetEast(f, 3280.839895, true);
  EXPECT_NEAR(f.x, p.x, 1);
  // A negative distance moves west.
  MapPoint w = start;
  projection.OffsetEast(w, -1000.0, false);
  EXPECT_LT(w.x, start.x);
}

TEST(SphereMercator, OffsetEastWrapsAcross180) {
  SphereMercatorProjection projection;
  MapPoint p;
  projection.GeoToMap(10.0, 179.999, p);
  // 1 km at 10 degrees north is 0.00915 degrees of longitude: past the meridian.
  projection.OffsetEast(p, 1000.0, false);
  double lat = 0.0, lon = 0.0;
  projection.MapToGeo(p, lat, lon);
  EXPECT_NEAR(lat, 10.0, 1e-6);
  EXPECT_NEAR(lon, 179.999 + 1000.0 / 6370997.0 / std::cos(10.0 * kRadiansPerDegree) / kRadiansPerDegree - 360.0,
              1e-6);
  EXPECT_LT(lon, -179.99);
  // The point now sits at the far west of the map.
  EXPECT_LT(p.x, 1050000000 - 999000000);
  // And back westward across the meridian again.
  projection.OffsetEast(p, -1000.0, false);
  projection.MapToGeo(p, lat, lon);
  EXPECT_NEAR(lon, 179.999, 1e-6);
}

TEST(SphereMercator, LongitudePast180WrapsLikeThePackage) {
  SphereMercatorProjection projection;
  MapPoint over, under;
  projection.GeoToMap(20.0, 181.0, over);
  projection.GeoToMap(20.0, -179.0, under);
  EXPECT_NEAR(over.x, under.x, 1);
  EXPECT_EQ(over.y, under.y);
}

TEST(SphereMercator, ExtremeInputSaturatesInsteadOfOverflowing) {
  SphereMercatorProjection projection;
  MapPoint p;
  // Beyond 85 degrees the northing leaves the 32-bit range; the value saturates.
  projection.GeoToMap(89.9999, 0.0, p);
  EXPECT_EQ(p.y, INT32_MIN);
  projection.GeoToMap(-89.9999, 0.0, p);
  EXPECT_EQ(p.y, INT32_MAX);
  projection.GeoToMap(std::nan(""), std::nan(""), p);
  EXPECT_EQ(p, (MapPoint{0, 0}));
}

TEST(SphereMercator, AgreesWithProjWithinAMillimetre) {
  PJ* merc = proj_create(nullptr, "+proj=merc +R=6370997 +lon_0=0");
  ASSERT_NE(merc, nullptr);
  SphereMercatorProjection projection;
  int exact = 0;
  auto check = [&](double lat, double lon) {
    PJ_COORD c = proj_trans(merc, PJ_FWD, proj_coord(lon * kRadiansPerDegree, lat * kRadiansPerDegree, 0, 0));
    MapPoint p;
    projection.GeoToMap(lat, lon, p);
    // The map point in metres again: within half a unit (1 cm) of PROJ's metres.
    const double mx = (static_cast<double>(p.x) - 1050000000.0) * 0.02;
    const double my = (1050000000.0 - static_cast<double>(p.y)) * 0.02;
    EXPECT_NEAR(mx, c.xy.x, 0.0101) << lat << "," << lon;
    EXPECT_NEAR(my, c.xy.y, 0.0101) << lat << "," << lon;
    // Agreement within a millimetre (0.05 unit) means the same map unit after
    // rounding, wherever PROJ's value is not within 0.05 unit of a rounding edge.
    const double ux = c.xy.x * 50 + 1050000000.0 + 0.5;
    const double uy = 1050000000.0 - c.xy.y * 50 + 0.5;
    for (const auto& [u, got] : {std::pair<double, int32_t>{ux, p.x}, std::pair<double, int32_t>{uy, p.y}}) {
      const double frac = u - std::floor(u);
      if (frac > 0.05 && frac < 0.95) {
        ++exact;
        EXPECT_EQ(got, static_cast<int32_t>(u)) << lat << "," << lon;
      }
    }
    // The inverse of the closed form against PROJ's inverse.
    double lat2 = 0.0, lon2 = 0.0;
    projection.MapToGeo(p, lat2, lon2);
    PJ_COORD back = proj_trans(merc, PJ_INV, proj_coord(mx, my, 0, 0));
    EXPECT_NEAR(lat2, back.lp.phi / kRadiansPerDegree, 1e-9);
    EXPECT_NEAR(lon2, back.lp.lam / kRadiansPerDegree, 1e-9);
  };
  for (double lat = -85.0; lat <= 85.0; lat += 0.85) {
    for (double lon = -180.0; lon <= 180.0; lon += 7.5) check(lat, lon);
  }
  // Across the 180 degree meridian, both ways.
  for (double lon : {179.9, 179.999999, 180.0, 180.000001, 180.1, -179.9, -180.0, -180.1}) {
    for (double lat : {-85.0, -30.0, 0.0, 45.0, 85.0}) check(lat, lon);
  }
  EXPECT_GT(exact, 15000);
  proj_destroy(merc);
}

TEST(SphereMercator, ClosedFormMatchesTheNumberedMercatorCalls) {
  double params[zones::kParamCount] = {};
  int error = -1;
  ASSERT_TRUE(zones::PrepareMercatorForward(zones::kProjectionMercator, 0, params, zones::kDatumSphere, &error));
  EXPECT_EQ(error, 0);
  ASSERT_TRUE(zones::PrepareMercatorInverse(zones::kProjectionMercator, 0, params, zones::kDatumSphere, &error));
  SphereMercatorProjection projection;
  for (double lat : {-85.0, -45.5, 0.0, 12.25, 60.0, 85.0}) {
    for (double lon : {-180.0, -93.5, 0.0, 15.0, 179.5}) {
      double x = 0, y = 0;
      ASSERT_TRUE(zones::MercatorForward(lon * kRadiansPerDegree, lat * kRadiansPerDegree, &x, &y));
      MapPoint expected{static_cast<int32_t>(x * 50 + 1050000000.0 + 0.5),
                        static_cast<int32_t>(1050000000.0 - y * 50 + 0.5)};
      MapPoint p;
      projection.GeoToMap(lat, lon, p);
      EXPECT_NEAR(p.x, expected.x, 1);
      EXPECT_NEAR(p.y, expected.y, 1);
      double lam = 0, phi = 0;
      ASSERT_TRUE(zones::MercatorInverse(x, y, &lam, &phi));
      EXPECT_NEAR(phi / kRadiansPerDegree, lat, 1e-9);
      EXPECT_NEAR(lam / kRadiansPerDegree, lon, 1e-9);
    }
  }
}

class CountingProjection : public SphereMercatorProjection {
 public:
  void GeoToMap(double latitude, double longitude, MapPoint& out) const override {
    ++calls;
    SphereMercatorProjection::GeoToMap(latitude, longitude, out);
  }
  mutable int calls = 0;
};

TEST(MapProjectionAccessor, DefaultUntilInstalledAndAfterRemoval) {
  MapProjection& fallback = GetMapProjection();
  MapPoint p;
  fallback.GeoToMap(0.0, 0.0, p);
  EXPECT_EQ(p, (MapPoint{1050000000, 1050000000}));

  CountingProjection mine;
  SetMapProjection(&mine);
  EXPECT_EQ(&GetMapProjection(), &mine);
  GetMapProjection().GeoToMap(1.0, 1.0, p);
  EXPECT_EQ(mine.calls, 1);
  SetMapProjection(nullptr);
  EXPECT_EQ(&GetMapProjection(), &fallback);
}

}  // namespace
}  // namespace kestrune
