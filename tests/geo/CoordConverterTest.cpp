// File coordinates to degrees: the converters a load chooses by coordinate
// system kind, and ".prj" coordinate systems read by PROJ, checked on the real
// yield log and its UTM copy.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "geo/MapProjection.h"
#include "geo/ProjSupport.h"
#include "geo/ZoneCalls.h"
#include "support/TestSupport.h"

namespace kestrune {
namespace {

struct XY {
  double x, y;
};

// The points of a point shape file, read plainly for comparison (the file's
// lengths are checked against its size before anything is copied).
std::vector<XY> ReadPointFile(const std::filesystem::path& path) {
  const std::string bytes = test::ReadFileBytes(path);
  std::vector<XY> points;
  if (bytes.size() < 100) return points;
  size_t pos = 100;
  while (pos + 8 <= bytes.size()) {
    const auto* h = reinterpret_cast<const unsigned char*>(bytes.data() + pos);
    const uint32_t words = (uint32_t{h[4]} << 24) | (uint32_t{h[5]} << 16) | (uint32_t{h[6]} << 8) | h[7];
    pos += 8;
    const size_t length = size_t{words} * 2;
    if (length > bytes.size() - pos) break;
    int32_t type = 0;
    if (length >= 20) std::memcpy(&type, bytes.data() + pos, 4);
    if (type == 1) {
      XY p{};
      std::memcpy(&p.x, bytes.data() + pos + 4, 8);
      std::memcpy(&p.y, bytes.data() + pos + 12, 8);
      points.push_back(p);
    }
    pos += length;
  }
  return points;
}

TEST(CoordConverterFactory, KindOneIsGeographicFromTheDatumAlone) {
  auto geo = MakeCoordConverter(1, zones::kDatumNad27, 15);
  ASSERT_NE(dynamic_cast<GeographicConverter*>(geo.get()), nullptr);
  EXPECT_EQ(geo->GetDatum(), 0);
  EXPECT_EQ(geo->GetZone(), 0);
  for (int kind : {2, 0, 3}) {
    auto projected = MakeCoordConverter(kind, zones::kDatumNad83, -34);
    ASSERT_NE(dynamic_cast<ProjectedConverter*>(projected.get()), nullptr) << kind;
    EXPECT_EQ(projected->GetDatum(), 8);
    EXPECT_EQ(projected->GetZone(), -34);
  }
}

TEST(GeographicConverterTest, PassesDegreesAndShiftsOnlyNad27) {
  double lon = 0, lat = 0;
  GeographicConverter nad83(zones::kDatumNad83);
  ASSERT_TRUE(nad83.ToGeographic(-93.5, 42.0, lon, lat));
  EXPECT_EQ(lon, -93.5);
  EXPECT_EQ(lat, 42.0);
  GeographicConverter wgs84(zones::kDatumWgs84);
  ASSERT_TRUE(wgs84.ToGeographic(-93.5, 42.0, lon, lat));
  EXPECT_EQ(lon, -93.5);
  GeographicConverter nad27(zones::kDatumNad27);
  ASSERT_TRUE(nad27.ToGeographic(-93.5, 42.0, lon, lat));
  // cs2cs EPSG:4267 EPSG:4326.
  EXPECT_NEAR(lon, -93.5002135394, 1e-9);
  EXPECT_NEAR(lat, 41.9999945122, 1e-9);
  EXPECT_FALSE(nad27.ToGeographic(NAN, 42.0, lon, lat));
}

TEST(ProjectedConverterTest, UtmMetresToDegrees) {
  ProjectedConverter utm(zones::kDatumWgs84, 15);
  double lon = 0, lat = 0;
  ASSERT_TRUE(utm.ToGeographic(458591.1333, 4649897.1251, lon, lat));
  EXPECT_NEAR(lon, -93.5, 2e-9);
  EXPECT_NEAR(lat, 42.0, 2e-9);
  ProjectedConverter south(zones::kDatumWgs84, -34);
  ASSERT_TRUE(south.ToGeographic(259583.2217, 6245888.0454, lon, lat));
  EXPECT_NEAR(lon, 18.4, 2e-9);
  EXPECT_NEAR(lat, -33.9, 2e-9);
}

TEST(ProjectedConverterTest, UnservedZonesAndDatumsFail) {
  double lon = 3, lat = 4;
  // The layer defaults (datum 8, zone -1) serve UTM 1 south; zone 101 and 0 cannot be inverted.
  EXPECT_FALSE(ProjectedConverter(zones::kDatumNad83, 101).ToGeographic(500000, 100000, lon, lat));
  EXPECT_FALSE(ProjectedConverter(zones::kDatumNad83, 0).ToGeographic(500000, 100000, lon, lat));
  EXPECT_FALSE(ProjectedConverter(42, 15).ToGeographic(500000, 100000, lon, lat));
  EXPECT_EQ(lon, 3);
  EXPECT_EQ(lat, 4);
  EXPECT_TRUE(ProjectedConverter(zones::kDatumNad83, -1).ToGeographic(500000, 9000000, lon, lat));
  EXPECT_NEAR(lon, -177.0, 1e-9);
}

TEST(PrjConverterTest, UnreadableTextGivesNoConverter) {
  EXPECT_EQ(MakePrjConverter(""), nullptr);
  EXPECT_EQ(MakePrjConverter("hello"), nullptr);
  EXPECT_EQ(MakePrjConverter("PROJCS[\"broken\",GEOGCS["), nullptr);
  // A datum alone is no coordinate system.
  EXPECT_EQ(MakePrjConverter("DATUM[\"D_WGS_1984\",SPHEROID[\"WGS_1984\",6378137.0,298.257223563]]"), nullptr);
}

TEST(PrjConverterTest, OnlyWktIsReadAndNothingInItNamesAFile) {
  const std::string wgs84 =
      "GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID[\"WGS_1984\",6378137.0,298.257223563]],"
      "PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]]";
  const std::string withExtension = wgs84.substr(0, wgs84.size() - 1) +
                                    ",EXTENSION[\"PROJ4\",\"+proj=longlat +nadgrids=/dev/stdin\"]]";
  const struct {
    const char* what;
    std::string text;
    std::string wkt;  // what is left for PROJ; empty: refused
  } cases[] = {
      {"plain WKT", wgs84, wgs84},
      {"blanks and a byte-order mark first", "\xEF\xBB\xBF \r\n" + wgs84, wgs84},
      {"an EXTENSION is dropped", withExtension, wgs84},
      {"a quoted keyword is text", "GEOGCS[\"EXTENSION[\"\"x\"\"]\"]", "GEOGCS[\"EXTENSION[\"\"x\"\"]\"]"},
      {"a PROJ string", "+proj=longlat +datum=WGS84 +nadgrids=/dev/stdin", ""},
      {"an authority name", "EPSG:4326", ""},
      {"a URN", "urn:ogc:def:crs:EPSG::4326", ""},
      {"a PARAMETERFILE", "PROJCRS[\"x\",PARAMETERFILE[\"grid\",\"/dev/stdin\"]]", ""},
      {"an unclosed EXTENSION", wgs84.substr(0, wgs84.size() - 1) + ",EXTENSION[\"PROJ4\"", ""},
      {"a zero byte", std::string("GEOGCS[\0]", 9), ""},
  };
  for (const auto& c : cases) EXPECT_EQ(PrjWktText(c.text), c.wkt) << c.what;
  // What PROJ would have read as a grid file never reaches it: no wait on a pipe.
  EXPECT_EQ(MakePrjConverter("+proj=longlat +datum=WGS84 +nadgrids=/dev/stdin +type=crs"), nullptr);
  EXPECT_NE(MakePrjConverter(withExtension), nullptr);
  // And PROJ never goes to the network for a grid.
  EXPECT_EQ(proj_context_is_network_enabled(ProjContext()), 0);
}

TEST(PrjConverterTest, StatePlaneFeetAndNad27Systems) {
  // ESRI WKT of EPSG:3417 (NAD83 / Iowa North, US survey feet), as ".prj" files carry it.
  auto feet = MakePrjConverter(
      "PROJCS[\"NAD_1983_StatePlane_Iowa_North_FIPS_1401_Feet\",GEOGCS[\"GCS_North_American_1983\","
      "DATUM[\"D_North_American_1983\",SPHEROID[\"GRS_1980\",6378137.0,298.257222101]],PRIMEM[\"Greenwich\",0.0],"
      "UNIT[\"Degree\",0.0174532925199433]],PROJECTION[\"Lambert_Conformal_Conic\"],PARAMETER[\"False_Easting\","
      "4921250.0],PARAMETER[\"False_Northing\",3280833.3333],PARAMETER[\"Central_Meridian\",-93.5],"
      "PARAMETER[\"Standard_Parallel_1\",43.2666666666667],PARAMETER[\"Standard_Parallel_2\",42.0666666666667],"
      "PARAMETER[\"Latitude_Of_Origin\",41.5],UNIT[\"US survey foot\",0.304800609601219]]");
  ASSERT_NE(feet, nullptr);
  double lon = 0, lat = 0;
  ASSERT_TRUE(feet->ToGeographic(4920000.0, 3580000.0, lon, lat));
  // cs2cs EPSG:3417 EPSG:4326.
  EXPECT_NEAR(lon, -93.5046221046, 1e-9);
  EXPECT_NEAR(lat, 42.3209346734, 1e-9);

  // NAD27 degrees come out shifted to WGS 84, as the geographic converter of datum 0 does.
  auto nad27 = MakePrjConverter(
      "GEOGCS[\"GCS_North_American_1927\",DATUM[\"D_North_American_1927\",SPHEROID[\"Clarke_1866\",6378206.4,"
      "294.978698213898]],PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]]");
  ASSERT_NE(nad27, nullptr);
  ASSERT_TRUE(nad27->ToGeographic(-93.5, 42.0, lon, lat));
  EXPECT_NEAR(lon, -93.5002135394, 1e-9);
  EXPECT_NEAR(lat, 41.9999945122, 1e-9);
  EXPECT_FALSE(nad27->ToGeographic(NAN, 42.0, lon, lat));
}

TEST(PrjConverterTest, LatitudeFirstGeographicIsReordered) {
  // EPSG:4326 in WKT2 lists latitude first; the converter still takes x as longitude.
  auto conv = MakePrjConverter(
      "GEOGCRS[\"WGS 84\",DATUM[\"World Geodetic System 1984\",ELLIPSOID[\"WGS 84\",6378137,298.257223563]],"
      "CS[ellipsoidal,2],AXIS[\"geodetic latitude (Lat)\",north,ANGLEUNIT[\"degree\",0.0174532925199433]],"
      "AXIS[\"geodetic longitude (Lon)\",east,ANGLEUNIT[\"degree\",0.0174532925199433]]]");
  ASSERT_NE(conv, nullptr);
  double lon = 0, lat = 0;
  ASSERT_TRUE(conv->ToGeographic(-93.5, 42.0, lon, lat));
  EXPECT_NEAR(lon, -93.5, 1e-12);
  EXPECT_NEAR(lat, 42.0, 1e-12);
}

TEST(PrjConverterRealData, GeographicPrjPassesDegreesUnchanged) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  const std::string wkt = test::ReadFileBytes(data / "field" / "yield-simple1.prj");
  auto conv = MakePrjConverter(wkt);
  ASSERT_NE(conv, nullptr);
  const std::vector<XY> points = ReadPointFile(data / "field" / "yield-simple1.shp");
  ASSERT_EQ(points.size(), 3365u);
  for (const XY& p : points) {
    double lon = 0, lat = 0;
    ASSERT_TRUE(conv->ToGeographic(p.x, p.y, lon, lat));
    ASSERT_EQ(lon, p.x);
    ASSERT_EQ(lat, p.y);
  }
}

TEST(PrjConverterRealData, UtmCopyLandsOnTheGeographicOriginal) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  const std::vector<XY> geographic = ReadPointFile(data / "field" / "yield-simple1.shp");
  const std::vector<XY> utm = ReadPointFile(data / "projected" / "yield-utm28.shp");
  ASSERT_EQ(geographic.size(), 3365u);
  ASSERT_EQ(utm.size(), geographic.size());
  // pyshp reads the first point of each as (-16.69838156433881, 39.11962068192783)
  // and (353177.67985472234, 4331424.357493293).
  EXPECT_DOUBLE_EQ(geographic[0].x, -16.69838156433881);
  EXPECT_DOUBLE_EQ(utm[0].y, 4331424.357493293);

  auto conv = MakePrjConverter(test::ReadFileBytes(data / "projected" / "yield-utm28.prj"));
  ASSERT_NE(conv, nullptr);
  // The same file's coordinates through zone 28 of our own codes must agree too.
  ProjectedConverter zone28(zones::kDatumWgs84, 28);
  SphereMercatorProjection projection;
  constexpr double kMetresPerDegree = 111195.0;
  double worst = 0.0;
  for (size_t i = 0; i < utm.size(); ++i) {
    double lon = 0, lat = 0, lon2 = 0, lat2 = 0;
    ASSERT_TRUE(conv->ToGeographic(utm[i].x, utm[i].y, lon, lat));
    ASSERT_TRUE(zone28.ToGeographic(utm[i].x, utm[i].y, lon2, lat2));
    const double dx = (lon - geographic[i].x) * kMetresPerDegree * std::cos(lat * M_PI / 180.0);
    const double dy = (lat - geographic[i].y) * kMetresPerDegree;
    worst = std::max(worst, std::hypot(dx, dy));
    EXPECT_NEAR(lon2, lon, 1e-9);
    EXPECT_NEAR(lat2, lat, 1e-9);
    MapPoint a, b;
    projection.GeoToMap(lat, lon, a);
    projection.GeoToMap(geographic[i].y, geographic[i].x, b);
    ASSERT_NEAR(a.x, b.x, 2) << i;
    ASSERT_NEAR(a.y, b.y, 2) << i;
  }
  EXPECT_LT(worst, 0.03) << "metres";
}

}  // namespace
}  // namespace kestrune
