// The one-pass summary of a point log against the general passes, figure by
// figure to the bit, and the zone grid against each zone's own test.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/TestSupport.h"
#include "layers/Layer.h"
#include "layers/LayerList.h"
#include "shapes/DbfTable.h"
#include "shapes/DbfTestTables.h"
#include "shapes/ShapeTestFiles.h"
#include "zones/ZoneGeometry.h"
#include "zones/ZoneGrid.h"
#include "zones/ZoneSummary.h"

namespace kestrune {
namespace {

namespace fs = std::filesystem;

std::vector<MapPoint> Ring(std::vector<MapPoint> corners) {
  corners.push_back(corners.front());
  return corners;
}

PreparedZone Zone(const std::vector<std::pair<std::vector<MapPoint>, bool>>& rings) {
  RingSet set;
  for (const auto& [ring, hole] : rings) set.AddRing(ring.data(), static_cast<int32_t>(ring.size()), hole);
  return PreparedZone(std::move(set));
}

// Every integer point of an area around the zones, at grids of every
// coarseness: the zones the grid names are the zones whose own test holds
// the point, points on edges, corners and in holes among them.
TEST(ZoneGrid, NamesTheZonesWhoseOwnTestHoldsEachPoint) {
  std::vector<PreparedZone> zones;
  // A square with a square hole.
  zones.push_back(Zone({{Ring({{100, 100}, {180, 100}, {180, 180}, {100, 180}}), false},
                        {Ring({{120, 120}, {120, 150}, {150, 150}, {150, 120}}), true}}));
  // Overlapping it, sharing the line x = 180 with the next.
  zones.push_back(Zone({{Ring({{140, 60}, {180, 60}, {180, 130}, {140, 130}}), false}}));
  zones.push_back(Zone({{Ring({{180, 60}, {230, 60}, {230, 130}, {180, 130}}), false}}));
  // Slanted edges.
  zones.push_back(Zone({{Ring({{90, 200}, {237, 170}, {160, 263}}), false}}));
  // One unit wide, and two parcels in one record.
  zones.push_back(Zone({{Ring({{60, 50}, {61, 50}, {61, 250}, {60, 250}}), false}}));
  zones.push_back(Zone({{Ring({{200, 200}, {220, 200}, {220, 220}, {200, 220}}), false},
                        {Ring({{230, 230}, {245, 230}, {245, 245}, {230, 245}}), true}}));
  // Empty: no ring of four points or more.
  zones.push_back(Zone({}));
  std::vector<const PreparedZone*> list;
  for (const PreparedZone& z : zones) list.push_back(&z);
  for (int64_t maxCells : {int64_t{1}, int64_t{7}, int64_t{64}, int64_t{4096}, int64_t{1} << 18}) {
    SCOPED_TRACE("cells at most " + std::to_string(maxCells));
    const ZoneGrid grid(list, maxCells);
    EXPECT_LE(grid.CellCount(), maxCells);
    int64_t mismatches = 0, held = 0;
    for (int32_t y = 40; y <= 270; ++y) {
      for (int32_t x = 40; x <= 260; ++x) {
        const MapPoint p{x, y};
        std::vector<uint32_t> named;
        grid.ForEachZoneHolding(p, [&](uint32_t z) { named.push_back(z); });
        std::vector<uint32_t> want;
        for (uint32_t z = 0; z < zones.size(); ++z) {
          if (zones[z].Contains(p)) want.push_back(z);
        }
        held += static_cast<int64_t>(want.size());
        if (named != want) {
          ++mismatches;
          if (mismatches < 5) ADD_FAILURE() << "point " << x << "," << y;
        }
      }
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_GT(held, 10000);
  }
}

// Many zones over one another: the grid grows coarser rather than listing
// every zone in every cell, and still names the right zones.
TEST(ZoneGrid, ManyZonesOverOneAnotherKeepTheGridSmall) {
  std::vector<PreparedZone> zones;
  for (int32_t k = 0; k < 300; ++k) {
    zones.push_back(Zone({{Ring({{k, 0}, {10000 + k, 300}, {5000, 9000 - k}}), false}}));
  }
  std::vector<const PreparedZone*> list;
  for (const PreparedZone& z : zones) list.push_back(&z);
  const ZoneGrid grid(list, 4096);
  EXPECT_LE(grid.CellCount() * 300, 16 * 4096 * 4);
  for (int32_t y = 0; y <= 9000; y += 97) {
    for (int32_t x = 0; x <= 10300; x += 89) {
      std::vector<uint32_t> named, want;
      grid.ForEachZoneHolding({x, y}, [&](uint32_t z) { named.push_back(z); });
      for (uint32_t z = 0; z < zones.size(); ++z) {
        if (zones[z].Contains(MapPoint{x, y})) want.push_back(z);
      }
      ASSERT_EQ(named, want) << x << "," << y;
    }
  }
}

void ExpectSameStats(const ZoneFieldStats& a, const ZoneFieldStats& b) {
  EXPECT_EQ(a.count, b.count);
  EXPECT_EQ(a.min, b.min);
  EXPECT_EQ(a.max, b.max);
  EXPECT_EQ(a.mean, b.mean);
  EXPECT_EQ(a.m2, b.m2);
  EXPECT_EQ(a.weight, b.weight);
  EXPECT_EQ(a.weightedSum, b.weightedSum);
}

void ExpectSameRow(const ZoneRow& a, const ZoneRow& b) {
  SCOPED_TRACE("zone " + a.label);
  EXPECT_EQ(a.label, b.label);
  EXPECT_EQ(a.record, b.record);
  EXPECT_EQ(a.count, b.count);
  EXPECT_EQ(a.area, b.area);
  EXPECT_EQ(a.volume, b.volume);
  EXPECT_EQ(a.areaWithin5, b.areaWithin5);
  EXPECT_EQ(a.areaWithin10, b.areaWithin10);
  ASSERT_EQ(a.fields.size(), b.fields.size());
  for (size_t f = 0; f < a.fields.size(); ++f) ExpectSameStats(a.fields[f], b.fields[f]);
}

// Both ways of working the summary out, and their figures compared.
void ExpectOnePassEqualsGeneral(Layer& zones, Layer& log, const std::vector<int>& fields, int labelField = 0) {
  ZoneSummaryRequest request;
  request.fields = fields;
  request.labelField = labelField;
  ZoneSummary fused, general;
  Error error;
  ASSERT_TRUE(SummariseByZones(zones, log, request, fused, &error)) << error.text;
  request.onePointPass = false;
  ASSERT_TRUE(SummariseByZones(zones, log, request, general, &error)) << error.text;
  EXPECT_EQ(fused.fieldNames, general.fieldNames);
  EXPECT_EQ(fused.hasVolume, general.hasVolume);
  EXPECT_EQ(fused.hasTarget, general.hasTarget);
  EXPECT_EQ(fused.hidden, general.hidden);
  ASSERT_EQ(fused.zones.size(), general.zones.size());
  for (size_t z = 0; z < fused.zones.size(); ++z) ExpectSameRow(fused.zones[z], general.zones[z]);
  ExpectSameRow(fused.outside, general.outside);
}

// A log driven in rows across overlapping zones, one with a hole, one far
// away and empty, with blank rates, widths and targets, a target at 0, rates
// at 0 and records the filter hides; below and above the size at which the
// pass takes two threads.
TEST(ZonePointPass, GeneratedLogGivesTheGeneralFiguresToTheBit) {
  for (int columns : {60, 600}) {
    SCOPED_TRACE(std::to_string(columns) + " columns");
    test::TempDir dir;
    const int rows = 400;
    test::DbfTableLayout table;
    table.fields = {{"Rate", 'N', 10, 2}, {"Target", 'N', 10, 2}, {"Width", 'N', 6, 2}, {"Elev", 'N', 8, 1}};
    test::ShpBuilder log(1, -100.0, 40.0, -90.0, 45.0);
    for (int i = 0; i < columns * rows; ++i) {
      const int row = i / columns, column = row % 2 ? columns - 1 - i % columns : i % columns;
      log.Point(-95.0 + column * 2e-5, 42.0 + row * 4e-5);
      char text[64];
      const double rate = i % 53 == 7 ? 0.0 : 150.0 + (i * 37 % 1000) / 10.0;
      const double target = i % 89 == 5 ? 0.0 : 180.0 + (i % 7) * 0.25;
      const double width = i % 1000 < 500 ? 30.0 : 40.5;
      std::snprintf(text, sizeof text, "%10.2f%10.2f%6.2f%8.1f", rate, target, width, -3.0 + (i % 211) * 0.7);
      std::string r = text;
      if (i % 97 == 3) r.replace(0, 10, std::string(10, ' '));
      if (i % 101 == 4) r.replace(10, 10, std::string(10, ' '));
      if (i % 211 == 9) r.replace(20, 6, std::string(6, ' '));
      if (i % 13 == 0) r.replace(26, 8, "  -12.50");
      table.rows.push_back(" " + r);
    }
    test::WriteFileBytes(dir / "log.shp", log.Bytes());
    test::WriteFileBytes(dir / "log.dbf", test::MakeDbf(table));
    const double x1 = -95.0 + columns * 2e-5, y1 = 42.0 + rows * 4e-5;
    const auto at = [&](double fx, double fy) { return test::XY{-95.0 + fx * (x1 + 95.0), 42.0 + fy * (y1 - 42.0)}; };
    test::ShpBuilder zoneShp(5, -100.0, 40.0, -90.0, 45.0);
    const auto square = [&](double a, double b, double c, double d) {
      return std::vector<test::XY>{at(a, b), at(a, d), at(c, d), at(c, b), at(a, b)};
    };
    zoneShp.Poly(5, {square(0.1, 0.1, 0.6, 0.6), square(0.25, 0.25, 0.4, 0.45)});  // a hole
    zoneShp.Poly(5, {square(0.5, 0.05, 0.9, 0.5)});                              // overlaps the first
    zoneShp.Poly(5, {{at(0.05, 0.7), at(0.5, 0.98), at(0.93, 0.62), at(0.05, 0.7)}});
    zoneShp.Poly(5, {{{-91.0, 44.0}, {-91.0, 44.01}, {-90.99, 44.01}, {-90.99, 44.0}, {-91.0, 44.0}}});  // empty
    test::DbfTableLayout zoneTable;
    zoneTable.fields = {{"Name", 'C', 8, 0}};
    for (const char* name : {"hole", "over", "slant", "far"}) zoneTable.rows.push_back(" " + std::string(name) + std::string(8 - std::strlen(name), ' '));
    test::WriteFileBytes(dir / "zones.shp", zoneShp.Bytes());
    test::WriteFileBytes(dir / "zones.dbf", test::MakeDbf(zoneTable));

    LayerList list;
    Layer* zones = list.AddLayer((dir / "zones.shp").string(), true);
    Layer* logLayer = list.AddLayer((dir / "log.shp").string(), true);
    ASSERT_TRUE(zones && logLayer);
    ASSERT_EQ(logLayer->GetRecordCount(), static_cast<size_t>(columns * rows));
    int n = 0;
    logLayer->Records().ForEach([&](Shape* s) {
      if (n++ % 31 == 11) s->SetFilteredOut(true);
    });
    ZoneSummaryRequest request;
    request.fields = {1, 4};
    ZoneSummary summary;
    ASSERT_TRUE(SummariseByZones(*zones, *logLayer, request, summary));
    // The log covers what the case is about.
    ASSERT_TRUE(summary.hasVolume && summary.hasTarget);
    ASSERT_EQ(summary.zones.size(), 4u);
    EXPECT_GT(summary.zones[0].count, 0);
    EXPECT_GT(summary.zones[1].count, 0);
    EXPECT_GT(summary.zones[2].count, 0);
    EXPECT_EQ(summary.zones[3].count, 0);
    EXPECT_GT(summary.outside.count, 0);
    EXPECT_GT(summary.hidden, 0);
    EXPECT_GT(summary.zones[0].area, 0.0);
    EXPECT_GT(summary.zones[0].areaWithin10, summary.zones[0].areaWithin5);
    EXPECT_LT(summary.zones[0].fields[0].count, summary.zones[0].count);  // blanks left out
    ExpectOnePassEqualsGeneral(*zones, *logLayer, {1, 4, 2, 1}, 1);
  }
}

// The real logs (numbers of 24 characters with 15 decimals, which the quick
// reader leaves to the general one) by soil zones and by a field boundary
// with holes.
TEST(ZonePointPass, RealLogsGiveTheGeneralFiguresToTheBit) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  const std::pair<const char*, const char*> cases[] = {{"ssurgo-simple1", "yield-simple1"},
                                                       {"ssurgo-simple1", "as-applied-simple1"},
                                                       {"field_boundary_with_holes", "yield-simple1"},
                                                       {"boundary-simple1", "as-applied-simple1"}};
  for (const auto& [zoneName, logName] : cases) {
    SCOPED_TRACE(std::string(logName) + " by " + zoneName);
    test::TempDir dir;
    LayerList list;
    Layer* zones =
        list.AddLayer(test::CopyFileSet(data / "field" / (std::string(zoneName) + ".shp"), dir.path()).string(), true);
    Layer* log =
        list.AddLayer(test::CopyFileSet(data / "field" / (std::string(logName) + ".shp"), dir.path()).string(), true);
    ASSERT_TRUE(zones && log);
    DbfTable table;
    ASSERT_TRUE(table.Open(log->GetTablePath()));
    std::vector<int> numeric;
    for (int f = 1; f <= table.GetFieldCount(); ++f) {
      if (table.GetField(f)->letter == 'N' || table.GetField(f)->letter == 'F') numeric.push_back(f);
    }
    table.Close();
    ASSERT_FALSE(numeric.empty());
    ExpectOnePassEqualsGeneral(*zones, *log, numeric);
  }
}

}  // namespace
}  // namespace kestrune
