// The rows the identify report computes for the three record classes, on
// geometry at the equator where map units and ground metres agree exactly.
#include <gtest/gtest.h>

#include "attributes/IdentifyReport.h"
#include "base/Preferences.h"
#include "geo/MapProjection.h"
#include "shapes/AttributeReport.h"
#include "shapes/Shape.h"

namespace kestrune {
namespace {

const std::string kDeg = "\xC2\xB0";

// Keeps the preferences a test changes and puts them back.
class ReportRows : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = GetPreferences(); }
  void TearDown() override { GetPreferences() = saved_; }

  // A map point at a position in degrees.
  static MapPoint At(double latitude, double longitude) {
    MapPoint p;
    GetMapProjection().GeoToMap(latitude, longitude, p);
    return p;
  }

 private:
  CPreferences saved_;
};

TEST_F(ReportRows, APointGivesLongitudeThenLatitudeInThePreferredStyle) {
  GetPreferences().SetLatLongStyle(kStyleDecimalDegrees);
  PointShape point(7);
  point.SetPoint(At(45.75, -93.25));
  const std::vector<ReportRow> rows = ComputeReportRows(point);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].label, "Longitude");
  EXPECT_EQ(rows[0].value, "93.25000" + kDeg + " W");
  EXPECT_EQ(rows[0].key, -1);
  EXPECT_EQ(rows[1].label, "Latitude");
  EXPECT_EQ(rows[1].value, "45.75000" + kDeg + " N");
  EXPECT_EQ(rows[1].key, -1);

  GetPreferences().SetLatLongStyle(kStyleDecimalMinutes);
  EXPECT_EQ(ComputeReportRows(point)[1].value.substr(0, 13), "045" + kDeg + " 45.0000");

  // An unknown style shows the rows with empty values.
  GetPreferences().SetLatLongStyle(9);
  const std::vector<ReportRow> none = ComputeReportRows(point);
  ASSERT_EQ(none.size(), 2u);
  EXPECT_TRUE(none[0].value.empty());
  EXPECT_TRUE(none[1].value.empty());
}

TEST_F(ReportRows, ProjectedStylesTakeTheZoneAndDatumOfThePreferences) {
  PointShape point(1);
  point.SetPoint(At(42.0, -93.6));
  GetPreferences().SetLatLongStyle(kStyleZoneProjected);
  GetPreferences().SetProjectionDatum(8);
  GetPreferences().SetProjectionZone(15);
  const std::vector<ReportRow> zone15 = ComputeReportRows(point);
  GetPreferences().SetProjectionZone(16);
  const std::vector<ReportRow> zone16 = ComputeReportRows(point);
  ASSERT_EQ(zone15.size(), 2u);
  ASSERT_EQ(zone16.size(), 2u);
  // UTM 15 puts Iowa's 93.6 W near its central meridian (93 W); zone 16 far west of 87 W.
  const double east15 = std::stod(zone15[0].value);
  const double east16 = std::stod(zone16[0].value);
  EXPECT_NEAR(east15, 450000.0, 10000.0) << zone15[0].value;
  EXPECT_LT(east16, east15 - 400000.0) << zone16[0].value;
  EXPECT_EQ(zone15[0].value.back(), 'E');
  EXPECT_EQ(zone15[1].value.back(), 'N');
  EXPECT_NEAR(std::stod(zone15[1].value), 4650000.0, 10000.0) << zone15[1].value;
}

TEST_F(ReportRows, AnAreaGivesHectaresOrAcresAndNothingWithoutExtent) {
  const MapPoint o = At(0.0, 0.0);
  // 5000 map units of 0.02 m: a 100 m square at the equator.
  const MapPoint square[] = {{o.x, o.y}, {o.x + 5000, o.y}, {o.x + 5000, o.y + 5000}, {o.x, o.y + 5000}, {o.x, o.y}};
  AreaShape area(3);
  area.AddPoints(square, 5);
  area.FinishGeometry();

  GetPreferences().SetMetric(true);
  std::vector<ReportRow> rows = ComputeReportRows(area);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].label, "Area (calc)");
  EXPECT_EQ(rows[0].value, "1.00 ha");
  EXPECT_EQ(rows[0].key, -2);

  GetPreferences().SetMetric(false);
  rows = ComputeReportRows(area);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].value, "2.47 ac");

  const MapPoint flat[] = {{o.x, o.y}, {o.x + 5000, o.y}, {o.x + 9000, o.y}, {o.x, o.y}};
  AreaShape sliver(4);
  sliver.AddPoints(flat, 4);
  sliver.FinishGeometry();
  rows = ComputeReportRows(sliver);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].value, "");
}

TEST_F(ReportRows, ALineGivesItsGroundLengthWithTheLargeUnitFromAThousandMetresOrAMile) {
  const MapPoint o = At(0.0, 0.0);
  GetPreferences().SetMetric(true);
  auto lengthOf = [](std::vector<MapPoint> points) {
    LineShape line(2);
    line.AddPoints(points.data(), int(points.size()));
    line.FinishGeometry();
    const std::vector<ReportRow> rows = ComputeReportRows(line);
    EXPECT_EQ(rows.size(), 1u);
    if (rows.empty()) return std::string("(none)");
    EXPECT_EQ(rows[0].label, "Length");
    EXPECT_EQ(rows[0].key, -3);
    return rows[0].value;
  };
  EXPECT_EQ(lengthOf({o, {o.x + 49000, o.y}}), "980.00 m");
  // Out and back: the length is the sum of the segments, not the distance of the ends.
  EXPECT_EQ(lengthOf({o, {o.x + 25000, o.y}, o}), "1.00 km");
  EXPECT_EQ(lengthOf({o, {o.x + 150000, o.y}}), "3.00 km");
  EXPECT_EQ(lengthOf({o}), "");

  GetPreferences().SetMetric(false);
  EXPECT_EQ(lengthOf({o, {o.x + 50000, o.y}}), "3280.84 ft");
  // 1609.344 m = 5280 ft is the first mile; 2 km is 1.24 mi.
  EXPECT_EQ(lengthOf({o, {o.x + 100000, o.y}}), "1.24 mi");
  EXPECT_EQ(lengthOf({o, {o.x + 80000, o.y}}), "5249.34 ft");
}

}  // namespace
}  // namespace kestrune
