// Summary by zones: the zone geometry on drawn cases, and the real yield log
// by the soil zones against a point-in-polygon count written here.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/TestSupport.h"
#include "layers/Layer.h"
#include "layers/LayerList.h"
#include "shapes/DbfTable.h"
#include "shapes/DbfTestTables.h"
#include "shapes/ShapeTestFiles.h"
#include "zones/CliZones.h"
#include "zones/ZoneGeometry.h"
#include "zones/ZoneSummary.h"

namespace kestrune {
namespace {

namespace fs = std::filesystem;

// A closed square ring, corners given clockwise or not as asked.
std::vector<MapPoint> Square(int32_t x0, int32_t y0, int32_t x1, int32_t y1, bool reversed = false) {
  std::vector<MapPoint> r{{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}, {x0, y0}};
  if (reversed) std::reverse(r.begin(), r.end());
  return r;
}

RingSet Rings(const std::vector<std::pair<std::vector<MapPoint>, bool>>& rings) {
  RingSet set;
  for (const auto& [ring, hole] : rings) set.AddRing(ring.data(), static_cast<int32_t>(ring.size()), hole);
  return set;
}

// A 100 × 100 square at (1000, 1000) with a 20 × 20 hole at (1040, 1040).
PreparedZone SquareWithHole() {
  return PreparedZone(Rings({{Square(1000, 1000, 1100, 1100), false}, {Square(1040, 1040, 1060, 1060, true), true}}));
}

TEST(ZoneGeometry, PointsInsideEdgesAndHoles) {
  const PreparedZone zone = SquareWithHole();
  struct Case {
    MapPoint p;
    bool inside;
  } cases[] = {
      {{1010, 1010}, true},  {{1050, 1050}, false},  // in the hole
      {{1000, 1050}, true},                          // on the left edge: in
      {{1100, 1050}, false},                         // on the right edge: out
      {{1039, 1050}, true},  {{1060, 1050}, true},   // the hole's right edge is the zone's left
      {{999, 1050}, false},  {{1050, 1200}, false},
  };
  for (const Case& c : cases) EXPECT_EQ(zone.Contains(c.p), c.inside) << c.p.x << "," << c.p.y;
  // Zones sharing an edge share no point.
  const PreparedZone right(Rings({{Square(1100, 1000, 1200, 1100), false}}));
  for (int32_t y = 1000; y <= 1100; y += 7) {
    EXPECT_NE(zone.Contains(MapPoint{1100, y}) && right.Contains(MapPoint{1100, y}), true);
  }
}

TEST(ZoneGeometry, SegmentSharesAndOverlapAreas) {
  const PreparedZone zone = SquareWithHole();
  EXPECT_NEAR(zone.InsideShare({900, 1020}, {1100, 1020}), 0.5, 1e-12);
  // Through the hole: 80 of 200 units lie in the zone.
  EXPECT_NEAR(zone.InsideShare({950, 1050}, {1150, 1050}), 80.0 / 200.0, 1e-12);
  EXPECT_EQ(zone.InsideShare({0, 0}, {10, 10}), 0.0);

  struct Case {
    RingSet area;
    double overlap;
  } cases[] = {
      {Rings({{Square(1050, 900, 1150, 1050), false}}), 50.0 * 50.0 - 10.0 * 10.0},  // a corner, a corner of the hole
      {Rings({{Square(1010, 1010, 1020, 1020, true), false}}), 100.0},               // wholly inside, reversed
      {Rings({{Square(1030, 1030, 1070, 1070), false}}), 40.0 * 40.0 - 20.0 * 20.0},  // over the hole
      {Rings({{Square(900, 900, 1200, 1200), false}}), 100.0 * 100.0 - 20.0 * 20.0},  // holds the zone
      {Rings({{Square(900, 900, 1200, 1200), false}, {Square(950, 950, 1150, 1150), true}}), 0.0},
      {Rings({{Square(2000, 2000, 2100, 2100), false}}), 0.0},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_NEAR(zone.OverlapArea(cases[i].area), cases[i].overlap, 1e-6) << "case " << i;
  }
}

TEST(ZoneFieldStats, MeanSdAndWeightedMean) {
  ZoneFieldStats s;
  const double values[] = {2, 4, 4, 4, 5, 5, 7, 9};
  const double weights[] = {1, 0, 0, 0, 0, 0, 0, 3};
  for (size_t i = 0; i < 8; ++i) s.Add(values[i], weights[i]);
  EXPECT_EQ(s.count, 8);
  EXPECT_DOUBLE_EQ(s.min, 2);
  EXPECT_DOUBLE_EQ(s.max, 9);
  EXPECT_DOUBLE_EQ(s.mean, 5);
  EXPECT_DOUBLE_EQ(s.Sd(), std::sqrt(32.0 / 7.0));
  EXPECT_DOUBLE_EQ(s.WeightedMean(), (2 * 1 + 9 * 3) / 4.0);
}

TEST(ZoneFieldStats, MergedHalvesGiveWhatOnePassGives) {
  const double values[] = {2, 4, 4, 4, 5, 5, 7, 9, 1e6, -3.5};
  const double weights[] = {1, 0, 2, 0, 0, 0.5, 0, 3, 1, 0};
  ZoneFieldStats whole;
  for (size_t i = 0; i < 10; ++i) whole.Add(values[i], weights[i]);
  for (size_t split : {size_t{0}, size_t{1}, size_t{5}, size_t{9}, size_t{10}}) {
    ZoneFieldStats a, b;
    for (size_t i = 0; i < 10; ++i) (i < split ? a : b).Add(values[i], weights[i]);
    a.Merge(b);
    EXPECT_EQ(a.count, whole.count) << split;
    EXPECT_EQ(a.min, whole.min) << split;
    EXPECT_EQ(a.max, whole.max) << split;
    EXPECT_NEAR(a.mean, whole.mean, 1e-12 * std::fabs(whole.mean)) << split;
    EXPECT_NEAR(a.Sd(), whole.Sd(), 1e-12 * whole.Sd()) << split;
    EXPECT_NEAR(a.WeightedMean(), whole.WeightedMean(), 1e-12 * std::fabs(whole.WeightedMean())) << split;
  }
}

// Even-odd ray casting over every ring of a zone's parcels.
bool InZone(const std::vector<const AreaShape*>& parcels, double px, double py) {
  bool c = false;
  for (const AreaShape* area : parcels) {
    const auto& pts = area->GetPoints();
    size_t offset = 0;
    for (int r = 0; r < area->GetRingCount(); ++r) {
      const size_t n = static_cast<size_t>(area->GetRingSize(r));
      for (size_t i = offset, j = offset + n - 1; i < offset + n; j = i++) {
        const double xi = pts[i].x, yi = pts[i].y, xj = pts[j].x, yj = pts[j].y;
        if ((yi > py) != (yj > py) && px < (xj - xi) * (py - yi) / (yj - yi) + xi) c = !c;
      }
      offset += n;
    }
  }
  return c;
}

// The names and bytes of every file in a folder.
std::map<std::string, std::string> FolderBytes(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::directory_iterator(dir)) files[e.path().filename().string()] = test::ReadFileBytes(e.path());
  return files;
}

TEST(ZoneSummary, YieldBySoilZonesAgreesWithDirectCount) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  test::TempDir dir;
  const fs::path zonesPath = test::CopyFileSet(data / "field" / "ssurgo-simple1.shp", dir.path());
  const fs::path logPath = test::CopyFileSet(data / "field" / "yield-simple1.shp", dir.path());
  LayerList list;
  Layer* zones = list.AddLayer(zonesPath.string(), true);
  Layer* log = list.AddLayer(logPath.string(), true);
  ASSERT_TRUE(zones && log);
  DbfTable logTable;
  ASSERT_TRUE(logTable.Open(log->GetTablePath()));
  const int field = FindFieldByName(logTable, "yld_vol_dr", true);
  ASSERT_EQ(field, 1);
  logTable.Close();  // one reader of a table at a time

  ZoneSummaryRequest request;
  request.fields = {field};
  ZoneSummary summary;
  Error error;
  ASSERT_TRUE(SummariseByZones(*zones, *log, request, summary, &error)) << error.text;
  ASSERT_TRUE(logTable.Open(log->GetTablePath()));

  // The direct computation: every point against every zone.
  std::map<int, std::vector<const AreaShape*>> parcels;
  zones->Records().ForEach([&](Shape* s) {
    if (s->GetRecordClass() == kRecordArea) parcels[s->GetRecordNumber()].push_back(static_cast<AreaShape*>(s));
  });
  std::map<int, std::pair<int64_t, double>> expected;  // count, sum of values
  int64_t outside = 0;
  double outsideSum = 0.0;
  log->Records().ForEach([&](Shape* s) {
    ASSERT_EQ(s->GetRecordClass(), kRecordPoint);
    const MapPoint p = static_cast<PointShape*>(s)->GetPoint();
    double v = 0.0;
    ASSERT_TRUE(logTable.ReadRecord(s->GetRecordNumber()));
    logTable.GetNumber(field, v);
    bool any = false;
    for (const auto& [record, areas] : parcels) {
      if (!InZone(areas, p.x, p.y)) continue;
      any = true;
      expected[record].first += 1;
      expected[record].second += v;
    }
    if (!any) {
      ++outside;
      outsideSum += v;
    }
  });

  ASSERT_EQ(summary.zones.size(), parcels.size());
  int64_t total = summary.outside.count;
  for (const ZoneRow& row : summary.zones) {
    const auto& [count, sum] = expected[row.record];
    EXPECT_EQ(row.count, count) << "zone " << row.record;
    total += row.count;
    if (count > 0) {
      EXPECT_NEAR(row.fields[0].mean, sum / count, 1e-9 * std::fabs(sum / count)) << row.record;
    }
  }
  EXPECT_EQ(summary.outside.count, outside);
  if (outside > 0) {
    EXPECT_NEAR(summary.outside.fields[0].mean, outsideSum / outside, 1e-9 * std::fabs(outsideSum / outside));
  }
  EXPECT_EQ(total, static_cast<int64_t>(log->GetRecordCount()));
  EXPECT_GT(summary.zones.size(), 1u);
}

TEST(ZoneSummary, CommandPrintsLinesAndLeavesInputsAlone) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  test::TempDir dir;
  const fs::path zonesPath = test::CopyFileSet(data / "field" / "ssurgo-simple1.shp", dir.path());
  const fs::path logPath = test::CopyFileSet(data / "field" / "yield-simple1.shp", dir.path());
  // No settings file beside the soil zones: a load would make one.
  fs::remove(dir / "ssurgo-simple1.gpe");
  const auto before = FolderBytes(dir.path());

  std::ostringstream out, err;
  ASSERT_EQ(RunZonesCommand({zonesPath.string(), logPath.string(), "--field", "Yld_Vol_Dr", "--label", "musym"}, out, err),
            0)
      << err.str();
  EXPECT_EQ(FolderBytes(dir.path()), before);
  std::vector<std::string> lines;
  std::istringstream in(out.str());
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 12u);  // 11 zones and the outside line
  EXPECT_EQ(lines[0].rfind("{\"zone\": \"", 0), 0u) << lines[0];
  EXPECT_NE(lines[0].find("\"fields\": {\"Yld_Vol_Dr\": {\"min\": "), std::string::npos) << lines[0];
  EXPECT_EQ(lines.back().rfind("{\"outside\": true, \"count\": ", 0), 0u) << lines.back();

  struct Bad {
    std::vector<std::string> args;
    int status;
  } bad[] = {
      {{zonesPath.string(), logPath.string()}, 2},
      {{zonesPath.string(), "--field", "Yld_Vol_Dr"}, 2},
      {{zonesPath.string(), logPath.string(), "--field"}, 2},
      {{zonesPath.string(), logPath.string(), "--field", "nope"}, 1},
      {{zonesPath.string(), logPath.string(), "--field", "Yld_Vol_Dr", "--label", "nope"}, 1},
      {{logPath.string(), logPath.string(), "--field", "Yld_Vol_Dr"}, 1},  // points are no zones
      {{(dir / "missing.shp").string(), logPath.string(), "--field", "Yld_Vol_Dr"}, 1},
  };
  for (const Bad& b : bad) {
    std::ostringstream o, e;
    EXPECT_EQ(RunZonesCommand(b.args, o, e), b.status) << b.args.back();
    EXPECT_TRUE(o.str().empty());
    EXPECT_FALSE(e.str().empty());
  }
  EXPECT_EQ(FolderBytes(dir.path()), before);
}

}  // namespace
}  // namespace kestrune

namespace kestrune {
namespace {

TEST(ZoneSummaryTable, DecimalPointSeparatorsAndQuotes) {
  ZoneSummary summary;
  summary.fieldNames = {"Rate"};
  summary.hasVolume = true;
  ZoneRow row;
  row.label = "Clay, \"heavy\"";
  row.record = 3;
  row.count = 2;
  row.area = 1.5;
  row.volume = 30.25;
  row.fields.resize(1);
  row.fields[0].Add(10.0, 1.0);
  row.fields[0].Add(20.5, 0.5);
  summary.zones.push_back(row);
  summary.outside.label = "Outside every zone";
  summary.outside.fields.resize(1);  // no values: empty figures
  const std::string point = ZoneSummaryTable(summary, '.');
  EXPECT_EQ(point,
            "Zone,Record,Count,Area (ac),Rate min,Rate max,Rate mean,Rate area-weighted mean,Rate sd,Volume\r\n"
            "\"Clay, \"\"heavy\"\"\",3,2,1.5,10.0,20.5,15.25,13.5,7.424621202458749,30.25\r\n"
            "Outside every zone,,0,0.0,,,,,,0.0\r\n");
  const std::string comma = ZoneSummaryTable(summary, ',');
  EXPECT_NE(comma.find("Clay, \"\"heavy\"\"\";3;2;1,5;10,0;20,5;15,25;13,5;"), std::string::npos) << comma;
  const std::string tabs = ZoneSummaryTable(summary, '.', true);
  EXPECT_NE(tabs.find("\"Clay, \"\"heavy\"\"\"\t3\t2\t1.5\t"), std::string::npos) << tabs;
  EXPECT_EQ(tabs.back(), '\n');
}

}  // namespace
}  // namespace kestrune

namespace kestrune {
namespace {

TEST(ZoneSummary, ProgressRunsToTheEndAndCancelStopsWithoutAnError) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  test::TempDir dir;
  LayerList list;
  Layer* zones = list.AddLayer(test::CopyFileSet(data / "field" / "ssurgo-simple1.shp", dir.path()).string(), true);
  Layer* log = list.AddLayer(test::CopyFileSet(data / "field" / "yield-simple1.shp", dir.path()).string(), true);
  ASSERT_TRUE(zones && log);
  ZoneSummaryRequest request;
  request.fields = {1};
  ZoneSummary summary;
  Error error;
  std::atomic<bool> cancel{false};
  std::atomic<int> percent{-1};
  ASSERT_TRUE(SummariseByZones(*zones, *log, request, summary, &error, &cancel, &percent));
  EXPECT_EQ(percent.load(), 100);
  cancel = true;
  EXPECT_FALSE(SummariseByZones(*zones, *log, request, summary, &error, &cancel, &percent));
  EXPECT_TRUE(error.text.empty());
  EXPECT_LT(percent.load(), 100);
}

// A log big enough for the zone pass to share the zones between two threads,
// with overlapping zones, an empty one and blank values: each zone's figures
// are the statistics of its points added one by one in list order, to the
// bit, as one thread adding them would give them.
TEST(ZoneSummary, BigLogByOverlappingZonesGivesEachZoneItsPointsInListOrder) {
  test::TempDir dir;
  std::vector<test::XY> points;
  test::DbfTableLayout table;
  table.fields = {{"Rate", 'N', 10, 2}};
  const int columns = 600, rows = 400;
  for (int i = 0; i < columns * rows; ++i) {
    points.push_back({-95.0 + (i % columns) * 1e-4, 42.0 + (i / columns) * 1e-4});
    const double v = 150.0 + (i * 37 % 1000) / 10.0;
    char text[16];
    std::snprintf(text, sizeof text, "%10.2f", v);
    table.rows.push_back(" " + (i % 97 == 3 ? std::string(10, ' ') : std::string(text)));
  }
  test::ShpBuilder log(1, -100.0, 40.0, -90.0, 45.0);
  for (const test::XY& p : points) log.Point(p.first, p.second);
  test::WriteFileBytes(dir / "log.shp", log.Bytes());
  test::WriteFileBytes(dir / "log.dbf", test::MakeDbf(table));
  // Squares off the points' grid, two of them overlapping, one far away.
  const std::vector<std::pair<test::XY, double>> squares = {
      {{-94.98997, 42.00503}, 0.004}, {{-94.98497, 42.01003}, 0.005}, {{-94.96997, 42.02003}, 0.006},
      {{-94.94497, 42.03003}, 0.008}, {{-91.0, 44.0}, 0.01},           {{-94.95997, 42.03503}, 0.003}};
  test::ShpBuilder zoneShp(5, -100.0, 40.0, -90.0, 45.0);
  test::DbfTableLayout zoneTable;
  zoneTable.fields = {{"Zone", 'N', 6, 0}};
  for (size_t z = 0; z < squares.size(); ++z) {
    const auto& [c, half] = squares[z];
    zoneShp.Poly(5, {{{c.first - half, c.second - half},
                      {c.first - half, c.second + half},
                      {c.first + half, c.second + half},
                      {c.first + half, c.second - half},
                      {c.first - half, c.second - half}}});
    zoneTable.rows.push_back(" " + std::string(5, ' ') + std::to_string(z + 1));
  }
  test::WriteFileBytes(dir / "zones.shp", zoneShp.Bytes());
  test::WriteFileBytes(dir / "zones.dbf", test::MakeDbf(zoneTable));

  LayerList list;
  Layer* zones = list.AddLayer((dir / "zones.shp").string(), true);
  Layer* logLayer = list.AddLayer((dir / "log.shp").string(), true);
  ASSERT_TRUE(zones && logLayer);
  ASSERT_EQ(logLayer->GetRecordCount(), static_cast<size_t>(columns * rows));
  ZoneSummaryRequest request;
  request.fields = {1};
  ZoneSummary summary;
  Error error;
  ASSERT_TRUE(SummariseByZones(*zones, *logLayer, request, summary, &error)) << error.text;

  std::map<int, std::vector<const AreaShape*>> parcels;
  zones->Records().ForEach([&](Shape* s) {
    if (s->GetRecordClass() == kRecordArea) parcels[s->GetRecordNumber()].push_back(static_cast<AreaShape*>(s));
  });
  std::map<int, ZoneFieldStats> expected;
  std::map<int, int64_t> counts;
  ZoneFieldStats outside;
  int64_t outsideCount = 0;
  logLayer->Records().ForEach([&](Shape* s) {
    const MapPoint p = static_cast<PointShape*>(s)->GetPoint();
    const size_t i = static_cast<size_t>(s->GetRecordNumber()) - 1;
    const bool blank = i % 97 == 3;
    const double v = 150.0 + static_cast<double>(i * 37 % 1000) / 10.0;
    bool any = false;
    for (const auto& [record, areas] : parcels) {
      if (!InZone(areas, p.x, p.y)) continue;
      any = true;
      ++counts[record];
      if (!blank) expected[record].Add(v, 0.0);
    }
    if (!any) {
      ++outsideCount;
      if (!blank) outside.Add(v, 0.0);
    }
  });
  ASSERT_EQ(summary.zones.size(), squares.size());
  EXPECT_EQ(summary.zones[4].count, 0);
  EXPECT_GT(counts[1] + counts[2], counts[1]);
  for (const ZoneRow& row : summary.zones) {
    SCOPED_TRACE("zone " + std::to_string(row.record));
    const ZoneFieldStats& want = expected[row.record];
    EXPECT_EQ(row.label, std::to_string(row.record));
    EXPECT_EQ(row.count, counts[row.record]);
    EXPECT_EQ(row.fields[0].count, want.count);
    EXPECT_EQ(row.fields[0].min, want.min);
    EXPECT_EQ(row.fields[0].max, want.max);
    EXPECT_EQ(row.fields[0].mean, want.mean);
    EXPECT_EQ(row.fields[0].m2, want.m2);
  }
  EXPECT_EQ(summary.outside.count, outsideCount);
  EXPECT_EQ(summary.outside.fields[0].count, outside.count);
  EXPECT_NEAR(summary.outside.fields[0].mean, outside.mean, 1e-9 * outside.mean);
  EXPECT_EQ(summary.hidden, 0);
}

}  // namespace
}  // namespace kestrune
