// Z and M files read natively: each record's Z and M as the layer keeps them
// (an M part that is absent or holds "no measure" gives none), the records
// after a Z record still read in step, colouring by Z or M, and the
// Elevation and Measure rows of the Attributes dialog.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "attributes/IdentifyReport.h"
#include "layers/LayerList.h"
#include "layers/LayerZM.h"
#include "layers/LayerTestFiles.h"

namespace kestrune {
namespace {

using test::AppendDouble;
using test::AppendLittle32;
using test::ShpBuilder;
using test::TempDir;

constexpr double kNoMeasure = -1e39;
const double kNaN = std::nan("");

// A point record of the type with its Z and/or M values after X and Y.
std::string PointContent(int32_t type, double x, double y, const std::vector<double>& tail) {
  std::string c;
  AppendLittle32(c, type);
  AppendDouble(c, x);
  AppendDouble(c, y);
  for (double v : tail) AppendDouble(c, v);
  return c;
}

// A polyline, polygon or multipoint record of the type: parts, points, then
// each given run as its range and values.
std::string MultiContent(int32_t type, const std::vector<std::vector<test::XY>>& parts,
                         const std::vector<std::vector<double>>& runs) {
  std::string c;
  AppendLittle32(c, type);
  for (int i = 0; i < 4; ++i) AppendDouble(c, 0.0);
  std::vector<test::XY> points;
  std::vector<int32_t> starts;
  for (const auto& p : parts) {
    starts.push_back(static_cast<int32_t>(points.size()));
    points.insert(points.end(), p.begin(), p.end());
  }
  const bool multipoint = type == 18 || type == 28;
  if (!multipoint) AppendLittle32(c, static_cast<int32_t>(starts.size()));
  AppendLittle32(c, static_cast<int32_t>(points.size()));
  if (!multipoint) {
    for (int32_t s : starts) AppendLittle32(c, s);
  }
  for (const auto& p : points) {
    AppendDouble(c, p.first);
    AppendDouble(c, p.second);
  }
  for (const auto& run : runs) {
    AppendDouble(c, 0.0);
    AppendDouble(c, 0.0);
    for (double v : run) AppendDouble(c, v);
  }
  return c;
}

struct Expected {
  int rec;
  double zMin, zMax, mMin, mMax;
};

void ExpectSame(double want, double got, const std::string& what) {
  if (std::isnan(want)) {
    EXPECT_TRUE(std::isnan(got)) << what << " = " << got;
  } else {
    EXPECT_DOUBLE_EQ(got, want) << what;
  }
}

Layer* LoadSet(LayerList& list, const TempDir& dir, const std::string& name, const ShpBuilder& shp, int rows) {
  test::WriteFileBytes(dir / (name + ".shp"), shp.Bytes());
  std::vector<double> values(static_cast<size_t>(rows), 1.0);
  test::WriteFileBytes(dir / (name + ".dbf"), test::RateTable(values));
  std::vector<Error> errors;
  Layer* layer = list.AddLayer((dir / (name + ".shp")).string(), true, false, &errors);
  for (const Error& e : errors) ADD_FAILURE() << e.text;
  return layer;
}

TEST(LayerZM, RecordsKeepTheirZAndM) {
  struct Case {
    const char* name;
    int32_t type;
    std::vector<std::string> records;
    char kind;
    std::vector<Expected> expected;
  };
  const std::vector<Case> cases = {
      {"pointz", 11,
       {PointContent(11, -93.1, 42.1, {310.5, 7.0}), PointContent(11, -93.2, 42.2, {290.25}),
        PointContent(11, -93.3, 42.3, {280.0, kNoMeasure})},
       'z',
       {{1, 310.5, 310.5, 7.0, 7.0}, {2, 290.25, 290.25, kNaN, kNaN}, {3, 280.0, 280.0, kNaN, kNaN}}},
      {"pointm", 21, {PointContent(21, -93.1, 42.1, {12.5}), PointContent(21, -93.2, 42.2, {kNoMeasure})}, 'm',
       {{1, kNaN, kNaN, 12.5, 12.5}, {2, kNaN, kNaN, kNaN, kNaN}}},
      {"linez", 13,
       {MultiContent(13, {{{-93.1, 42.1}, {-93.2, 42.2}}, {{-93.3, 42.3}, {-93.4, 42.4}}}, {{300, 310, 305, 290}}),
        PointContent(0, 0, 0, {}).substr(0, 4)},
       'z', {{1, 290, 310, kNaN, kNaN}}},
      {"polygonm", 25,
       {MultiContent(25, {{{-93.1, 42.1}, {-93.2, 42.1}, {-93.2, 42.2}, {-93.1, 42.1}}}, {{4, kNoMeasure, 9, 4}})},
       'm', {{1, kNaN, kNaN, 4, 9}}},
      {"multipointz", 18,
       {MultiContent(18, {{{-93.1, 42.1}, {-93.2, 42.2}}}, {{100, 120}, {1, 2}}),
        PointContent(0, 0, 0, {}).substr(0, 4)},
       'z', {{1, 100, 120, 1, 2}, {1, 100, 120, 1, 2}}},
  };
  for (const Case& c : cases) {
    TempDir dir;
    ShpBuilder shp(c.type, -94, 41, -92, 43);
    for (const std::string& r : c.records) shp.Record(r);
    // A point after them must still be read in step.
    const bool points = c.type == 11 || c.type == 21;
    if (points) shp.Record(PointContent(c.type, -93.9, 42.9, {1.0, 2.0}));
    LayerList list;
    Layer* layer = LoadSet(list, dir, c.name, shp, static_cast<int>(c.records.size()) + 1);
    ASSERT_TRUE(layer) << c.name;
    EXPECT_EQ(layer->GetZMKind(), c.kind) << c.name;
    for (const Expected& e : c.expected) {
      const RecordZM* zm = layer->GetRecordZM(e.rec);
      ASSERT_TRUE(zm) << c.name << " record " << e.rec;
      ExpectSame(e.zMin, zm->zMin, std::string(c.name) + " zMin");
      ExpectSame(e.zMax, zm->zMax, std::string(c.name) + " zMax");
      ExpectSame(e.mMin, zm->mMin, std::string(c.name) + " mMin");
      ExpectSame(e.mMax, zm->mMax, std::string(c.name) + " mMax");
    }
    if (points) {
      // The last record, a point after the others, was read in step.
      const Shape* last = nullptr;
      for (const Shape* s : layer->Records()) {
        if (!last || s->GetRecordNumber() > last->GetRecordNumber()) last = s;
      }
      ASSERT_TRUE(last);
      EXPECT_EQ(last->GetRecordNumber(), static_cast<int>(c.records.size()) + 1) << c.name;
      EXPECT_EQ(static_cast<const PointShape*>(last)->GetPoint(), test::Map(-93.9, 42.9)) << c.name;
    }
  }
}

TEST(LayerZM, ColoursByZAndOffersMOnlyWhenThere) {
  TempDir dir;
  ShpBuilder shp(11, -94, 41, -92, 43);
  shp.Record(PointContent(11, -93.1, 42.1, {100.0}));
  shp.Record(PointContent(11, -93.2, 42.2, {200.0}));
  LayerList list;
  Layer* layer = LoadSet(list, dir, "elev", shp, 2);
  ASSERT_TRUE(layer);
  auto choices = ZMThemeChoices(*layer);
  ASSERT_EQ(choices.size(), 1u) << "no record has an M value";
  EXPECT_EQ(choices[0].first, "Z");
  layer->SetThemeField(choices[0].second);
  EXPECT_EQ(layer->GetLegendColumn(), kLegendColumnZ);
  EXPECT_EQ(layer->GetColorMethod(), kColorMethodLegend);
  std::vector<double> values;
  for (const Shape* s : layer->Records()) values.push_back(s->GetValue());
  std::sort(values.begin(), values.end());
  EXPECT_EQ(values, (std::vector<double>{100.0, 200.0}));
  EXPECT_NE(layer->GetValueColor(100.0), layer->GetValueColor(200.0));

  // The choice is kept in the ".gpe" and read back at the next open.
  list.RemoveAll();
  LayerList again;
  std::vector<Error> errors;
  Layer* reopened = again.AddLayer((dir / "elev.shp").string(), true, false, &errors);
  ASSERT_TRUE(reopened);
  EXPECT_EQ(reopened->GetLegendColumn(), kLegendColumnZ);
  EXPECT_EQ(reopened->GetColorMethod(), kColorMethodLegend);
}

TEST(LayerZM, ElevationAndMeasureRowTexts) {
  RecordZM point;
  point.point = true;
  point.zMin = point.zMax = 312.456;
  point.mMin = point.mMax = 17.0;
  RecordZM line;
  line.zMin = 290.0;
  line.zMax = 310.0;
  RecordZM none;
  struct Case {
    const RecordZM* zm;
    bool z;
    bool metric;
    const char* text;
  };
  const Case cases[] = {
      {&point, true, true, "312.46 m"},
      {&point, true, false, "1025.12 ft"},
      {&point, false, true, "17"},
      {&line, true, true, "290.00 \u2013 310.00 m"},
      {&line, false, true, ""},
      {&none, true, true, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(ZMRowText(*c.zm, c.z, c.metric), c.text);
}

}  // namespace
}  // namespace kestrune
