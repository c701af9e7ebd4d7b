// The set writer: dBase columns planned from the fields and values, and the
// files read back by GDAL's own shape file reader as the oracle.
#include <gtest/gtest.h>

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <memory>
#include <string>

#include "support/TestSupport.h"
#include "import/GdalReader.h"
#include "import/SetWriter.h"

namespace kestrune {
namespace {

using test::TempDir;

FeatureSet OnePointSet(const std::vector<FeatureField>& fields, const std::vector<std::vector<FeatureValue>>& rows) {
  FeatureSet set;
  set.name = "points";
  set.kind = FeatureKind::Points;
  set.fields = fields;
  double x = -93.5;
  for (const auto& row : rows) {
    Feature f;
    f.parts.push_back({{{x, 42.0}}, false});
    f.values = row;
    set.features.push_back(f);
    x += 0.001;
  }
  return set;
}

TEST(SetWriterColumns, NamesCutToTenBytesAndUniqueIgnoringCase) {
  struct Case {
    std::vector<std::string> names;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {{"Rate"}, {"Rate"}},
      {{"ApplicationRate", "ApplicationTarget"}, {"Applicatio", "Applicat_1"}},
      {{"rate", "RATE", "Rate"}, {"rate", "RATE_1", "Rate_2"}},
      // "é" takes two bytes: the cut never splits it.
      {{"ééééééé"}, {"ééééé"}},
      {{"", "my field"}, {"FIELD1", "my_field"}},
  };
  for (const Case& c : cases) {
    std::vector<FeatureField> fields;
    for (const std::string& n : c.names) fields.push_back({n, FeatureFieldType::Text, -1});
    const auto columns = PlanColumns(OnePointSet(fields, {}));
    ASSERT_EQ(columns.size(), c.expected.size());
    for (size_t i = 0; i < columns.size(); ++i) {
      EXPECT_EQ(columns[i].name, c.expected[i]) << c.names[i];
      EXPECT_LE(columns[i].name.size(), 10u);
    }
  }
}

TEST(SetWriterColumns, WidthsAndDecimalsFollowTheValues) {
  const std::vector<FeatureField> fields = {{"N0", FeatureFieldType::Number, -1},
                                            {"N3", FeatureFieldType::Number, -1},
                                            {"FIXED", FeatureFieldType::Number, 2},
                                            {"T", FeatureFieldType::Text, -1},
                                            {"D", FeatureFieldType::Date, -1}};
  const auto set = OnePointSet(fields, {{FeatureValue::Of(12.0), FeatureValue::Of(0.125), FeatureValue::Of(1.0),
                                         FeatureValue::Of(std::string("abc")), FeatureValue::Of(std::string("20240501"))},
                                        {FeatureValue::Of(-1234.0), FeatureValue::Of(902.8536), FeatureValue::Of(3.14159),
                                         FeatureValue::Of(std::string(300, 'x')), FeatureValue{}}});
  const auto columns = PlanColumns(set);
  ASSERT_EQ(columns.size(), 5u);
  EXPECT_EQ(columns[0].letter, 'N');
  EXPECT_EQ(columns[0].decimals, 0);
  EXPECT_EQ(columns[0].length, 5);  // "-1234"
  EXPECT_EQ(columns[1].decimals, 4);  // 902.8536, not its binary noise
  EXPECT_EQ(columns[1].length, 8);
  EXPECT_EQ(columns[2].decimals, 2);
  EXPECT_EQ(columns[3].letter, 'C');
  EXPECT_EQ(columns[3].length, 254);
  EXPECT_EQ(columns[4].letter, 'D');
  EXPECT_EQ(columns[4].length, 8);
  EXPECT_EQ(NumberText(902.8536, 4), "902.8536");
  EXPECT_EQ(NumberText(-0.0001, 2), "0.00");
}

// The files as GDAL reads them: values, places, ring roles and the side files.
TEST(SetWriterFiles, GdalReadsBackValuesPlacesAndRings) {
  TempDir dir;
  FeatureSet set;
  set.name = "field";
  set.kind = FeatureKind::Areas;
  set.fields = {{"NAME", FeatureFieldType::Text, -1}, {"AREA", FeatureFieldType::Number, -1},
                {"SOWN", FeatureFieldType::Date, -1}};
  Feature f;
  // Outer ring written counter-clockwise and a hole clockwise: the writer
  // turns them to the format's order.
  f.parts.push_back({{{0.5, 50.0}, {0.6, 50.0}, {0.6, 50.1}, {0.5, 50.1}}, false});
  f.parts.push_back({{{0.52, 50.02}, {0.52, 50.05}, {0.55, 50.05}, {0.55, 50.02}}, true});
  f.values = {FeatureValue::Of(std::string("Nordfeld äö")), FeatureValue::Of(12345.67),
              FeatureValue::Of(std::string("20230415"))};
  set.features.push_back(f);
  Feature blank;
  blank.parts.push_back({{{1.0, 51.0}, {1.1, 51.0}, {1.1, 51.1}}, false});
  blank.values = {FeatureValue{}, FeatureValue{}, FeatureValue{}};
  set.features.push_back(blank);
  set.settings = {{"RATE_COL", "2"}};
  Error error;
  ASSERT_TRUE(WriteFeatureSet(set, dir.path().string(), error)) << error.text;

  EXPECT_EQ(test::ReadFileBytes(dir / "field.cpg"), "UTF-8");
  EXPECT_NE(test::ReadFileBytes(dir / "field.prj").find("WGS_1984"), std::string::npos);
  EXPECT_EQ(test::ReadFileBytes(dir / "field.gpe"), "[Options]\r\nRATE_COL=2\r\n");

  EnsureGdal();
  std::unique_ptr<GDALDataset> ds(
      GDALDataset::Open((dir / "field.shp").c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr, nullptr, nullptr));
  ASSERT_TRUE(ds);
  OGRLayer* layer = ds->GetLayer(0);
  ASSERT_EQ(layer->GetFeatureCount(), 2);
  std::unique_ptr<OGRFeature> first(layer->GetNextFeature());
  EXPECT_STREQ(first->GetFieldAsString("NAME"), "Nordfeld äö");
  EXPECT_DOUBLE_EQ(first->GetFieldAsDouble("AREA"), 12345.67);
  int y = 0, m = 0, d = 0, hh, mm, tz;
  float ss;
  first->GetFieldAsDateTime(2, &y, &m, &d, &hh, &mm, &ss, &tz);
  EXPECT_EQ(y * 10000 + m * 100 + d, 20230415);
  const OGRPolygon* polygon = first->GetGeometryRef()->toPolygon();
  ASSERT_EQ(polygon->getNumInteriorRings(), 1);
  EXPECT_TRUE(polygon->getExteriorRing()->isClockwise());
  EXPECT_FALSE(polygon->getInteriorRing(0)->isClockwise());
  EXPECT_DOUBLE_EQ(polygon->getExteriorRing()->getX(0), 0.5);
  std::unique_ptr<OGRFeature> second(layer->GetNextFeature());
  EXPECT_FALSE(second->IsFieldSetAndNotNull(1)) << "a blank number stays blank";
  // The open ring was closed.
  const OGRLinearRing* ring = second->GetGeometryRef()->toPolygon()->getExteriorRing();
  EXPECT_EQ(ring->getNumPoints(), 4);
}

TEST(SetWriterFiles, AFailedWriteSaysWhichFile) {
  TempDir dir;
  auto set = OnePointSet({{"A", FeatureFieldType::Number, -1}}, {{FeatureValue::Of(1.0)}});
  Error error;
  EXPECT_FALSE(WriteFeatureSet(set, (dir / "missing-folder").string(), error));
  EXPECT_NE(error.text.find("points.shp"), std::string::npos) << error.text;
}

TEST(SetWriterNames, SetNamesAreSafeAndUnique) {
  std::vector<std::string> taken;
  EXPECT_EQ(UniqueSetName("boundaries", taken), "boundaries");
  EXPECT_EQ(UniqueSetName("Boundaries", taken), "Boundaries_1");
  EXPECT_EQ(UniqueSetName("a/b:c", taken), "a_b_c");
  EXPECT_EQ(UniqueSetName("..", taken), "layer");
}

}  // namespace
}  // namespace kestrune
