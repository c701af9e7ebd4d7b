// A log step measured from map units alone against the flat approximation
// through degrees: the same within 1e-9 relative at every latitude a field
// lies at, for steps of centimetres to the longest short step (beyond the
// hundredth of a micrometre the route through degrees rounds a latitude's
// last bit to), a whole pass the same within 1e-9, and long steps measured
// exactly as Distance measures them; a meter carrying the scale along a
// pass gives the same steps.
#include <cmath>

#include <gtest/gtest.h>

#include "geo/MapProjection.h"

namespace kestrune {
namespace {

TEST(StepDistance, AgreesWithDistanceWithinOnePartInABillion) {
  const SphereMercatorProjection projection;
  const double latitudes[] = {-54.8, -33.9, 0.0, 0.3, 23.4, 42.03, 51.5, 64.1, 69.9};
  // Steps in metres north and east (a diagonal pass, a swath turn, a log gap).
  const double steps[][2] = {{0.0, 0.5}, {0.3, 0.0}, {1.5, 1.5}, {2.2, -0.1}, {-18.0, 2.0}, {60.0, -90.0}, {0.0, 150.0}};
  for (double latitude : latitudes) {
    for (const auto& step : steps) {
      for (bool feet : {false, true}) {
        MapPoint a, b;
        projection.GeoToMap(latitude, -93.6, a);
        const double north = step[0] / 111195.0, east = step[1] / (111195.0 * std::cos(latitude * M_PI / 180.0));
        projection.GeoToMap(latitude + north, -93.6 + east, b);
        const SphereMercatorProjection fresh;  // no remembered point
        const double exact = fresh.Distance(a, b, feet);
        const double quick = projection.StepDistance(a, b, feet);
        EXPECT_NEAR(quick, exact, 1e-9 * exact + 1e-8) << latitude << " " << step[0] << "," << step[1];
      }
    }
  }
}

TEST(StepDistance, APassAddsUpAsThroughDegrees) {
  const SphereMercatorProjection projection;
  for (double latitude : {-33.9, 0.1, 42.03, 64.1}) {
    double quick = 0.0, exact = 0.0, metered = 0.0;
    StepMeter meter(projection);
    MapPoint previous;
    projection.GeoToMap(latitude, -93.6, previous);
    for (int i = 1; i <= 2000; ++i) {
      // 2.2 m steps north-east with a little wobble, as a combine logs.
      MapPoint next;
      projection.GeoToMap(latitude + i * 1.5e-5, -93.6 + i * 1.2e-5 + (i % 7) * 1e-7, next);
      const SphereMercatorProjection fresh;
      quick += projection.StepDistance(previous, next, true);
      const double step = meter.Step(previous, next, true);
      EXPECT_NEAR(step, projection.StepDistance(previous, next, true), 1e-10 * step) << latitude << " step " << i;
      metered += step;
      exact += fresh.Distance(previous, next, true);
      previous = next;
    }
    EXPECT_NEAR(quick, exact, 1e-9 * exact) << latitude;
    EXPECT_NEAR(metered, exact, 1e-9 * exact) << latitude;
  }
}

TEST(StepDistance, LongStepsAndTheAntimeridianGoThroughDegrees) {
  const SphereMercatorProjection projection;
  struct Case {
    double lat1, lon1, lat2, lon2;
  } cases[] = {{42.0, -93.6, 42.01, -93.6}, {42.0, -93.6, 42.0, -93.0}, {10.0, 179.9999, 10.0, -179.9999}};
  for (const Case& c : cases) {
    MapPoint a, b;
    projection.GeoToMap(c.lat1, c.lon1, a);
    projection.GeoToMap(c.lat2, c.lon2, b);
    const SphereMercatorProjection fresh;
    EXPECT_DOUBLE_EQ(projection.StepDistance(a, b, false), fresh.Distance(a, b, false)) << c.lat1 << "," << c.lon1;
  }
}

}  // namespace
}  // namespace kestrune
