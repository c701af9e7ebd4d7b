// The record parsers on hand-made files: points, multipoints, lines, areas,
// null and unknown records, truncated and broken records, ".prj" files.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <utility>
#include <vector>
#include <algorithm>
#include <cmath>
#include <random>

#include "base/Platform.h"
#include "geo/CMapTransform.h"
#include "shapes/Shape.h"
#include "shapes/ShapeFileReader.h"
#include "ShapeTestFiles.h"

namespace kestrune {
namespace {

using namespace kestrune::test;

std::vector<int> Numbers(const LoadedFile& f) {
  std::vector<int> out;
  for (const RecordView& v : f.Views()) out.push_back(v.number);
  return out;
}

TEST(ReaderPoints, PointsNearZeroAreDroppedButStillCountAndLatitudesAreClamped) {
  TempDir dir;
  ShpBuilder b(1);
  b.Point(0.5, -0.3)     // 1: dropped, near (0, 0)
      .Point(10.0, 1.5)  // 2: kept
      .Point(-1.0, 1.0)  // 3: dropped, the range is inclusive
      .Point(1.0, -1.0)  // 4: dropped
      .Point(0.5, 1.5)   // 5: kept, latitude outside the range
      .Point(10.0, 89.0)   // 6: stored at 85
      .Point(10.0, -90.0)  // 7: stored at -85
      .Point(-1.0001, 0.0);  // 8: kept, just outside
  const LoadedFile f = LoadBytes(dir, b.Bytes());
  ASSERT_TRUE(f.headerOk);
  const auto v = f.Views();
  ASSERT_EQ(v.size(), 5u);
  EXPECT_EQ(Numbers(f), (std::vector<int>{2, 5, 6, 7, 8}));
  for (const RecordView& r : v) EXPECT_EQ(r.recordClass, kRecordPoint);
  EXPECT_EQ(v[0].points[0], Map(10.0, 1.5));
  EXPECT_EQ(v[1].points[0], Map(0.5, 1.5));
  EXPECT_EQ(v[2].points[0], Map(10.0, 85.0));
  EXPECT_EQ(v[3].points[0], Map(10.0, -85.0));
  EXPECT_EQ(f.stats.recordHeaders, 8);
  EXPECT_EQ(f.stats.pointsDropped, 3);
  EXPECT_FALSE(f.stats.stoppedEarly);
}

TEST(ReaderPoints, NonFinitePositionsAreDroppedWithoutUndefinedArithmetic) {
  TempDir dir;
  ShpBuilder b(1);
  b.Point(std::nan(""), 45.0).Point(10.0, INFINITY).Point(10.0, 45.0);
  const LoadedFile f = LoadBytes(dir, b.Bytes());
  // NaN and infinity are dropped.
  EXPECT_EQ(Numbers(f), (std::vector<int>{3}));
  EXPECT_EQ(f.Views()[0].points[0], Map(10.0, 45.0));
  // A huge longitude is no degree: the file is not read as degrees.
  ShpBuilder huge(1);
  huge.Point(1e300, 45.0).Point(10.0, 45.0);
  EXPECT_TRUE(LoadBytes(dir, huge.Bytes()).stats.outsideDegrees);
}

TEST(ReaderPoints, MultiPointMakesOneRecordPerPointWithTheSameNumber) {
  TempDir dir;
  ShpBuilder b(8);
  b.MultiPoint({{10, 45}, {11, 45}, {12, 45}, {13, 45}, {14, 45}})
      .MultiPoint({})
      .MultiPoint({{20, 50}, {0.2, 0.2}, {21, 50}});
  const LoadedFile f = LoadBytes(dir, b.Bytes());
  EXPECT_EQ(f.shapeKind, kShapeKindPoints);
  EXPECT_EQ(Numbers(f), (std::vector<int>{1, 1, 1, 1, 1, 3, 3}));
  EXPECT_EQ(f.Views()[4].points[0], Map(14, 45));
  EXPECT_EQ(f.Views()[6].points[0], Map(21, 50));
}

TEST(ReaderLines, EachPartIsALineRecordAndRepeatedPointsStay) {
  TempDir dir;
  ShpBuilder b(3);
  b.Poly(3, {{{10, 45}, {10.001, 45}, {10.001, 45}}, {{11, 46}, {11.5, 46.5}}}).Poly(3, {{{0.1, 0.1}, {0.2, 0.2}}});
  const LoadedFile f = LoadBytes(dir, b.Bytes());
  EXPECT_EQ(f.shapeKind, kShapeKindLines);
  const auto v = f.Views();
  ASSERT_EQ(v.size(), 3u);
  EXPECT_EQ(v[0].number, 1);
  EXPECT_EQ(v[0].recordClass, kRecordLine);
  EXPECT_EQ(v[0].points, (std::vector<MapPoint>{Map(10, 45), Map(10.001, 45), Map(10.001, 45)}));
  EXPECT_EQ(v[1].number, 1);
  EXPECT_EQ(v[1].points, (std::vector<MapPoint>{Map(11, 46), Map(11.5, 46.5)}));
  // Lines near (0, 0) are not dropped: that rule is for points only.
  EXPECT_EQ(v[2].number, 2);
  EXPECT_EQ(v[2].points.size(), 2u);
}

TEST(ReaderAreas, RingsAreClosedOnceAndRepeatedMapPointsKeptOnce) {
  TempDir dir;
  ShpBuilder b(5);
  // Open ring, with a repeated point and a point within a map unit of the one before.
  b.Poly(5, {{{10, 45}, {10.01, 45}, {10.01, 45}, {10.01, 45.0000000001}, {10.01, 45.01}}});
  // Closed ring: not doubled.
  b.Poly(5, {{{20, 45}, {20.01, 45}, {20.01, 45.01}, {20, 45}}});
  const LoadedFile f = LoadBytes(dir, b.Bytes());
  const auto v = f.Views();
  ASSERT_EQ(v.size(), 2u);
  const RecordView& open = v[0].number == 1 ? v[0] : v[1];
  const RecordView& closed = v[0].number == 1 ? v[1] : v[0];
  EXPECT_EQ(open.points,
            (std::vector<MapPoint>{Map(10, 45), Map(10.01, 45), Map(10.01, 45.01), Map(10, 45)}));
  EXPECT_EQ(open.ringSizes, (std::vector<int32_t>{4}));
  EXPECT_EQ(closed.points, (std::vector<MapPoint>{Map(20, 45), Map(20.01, 45), Map(20.01, 45.01), Map(20, 45)}));
}

TEST(ReaderAreas, TheLargestRingLeadsAndSliverHolesAreDropped) {
  TempDir dir;
  ShpBuilder b(5);
  const Ring hole = {{10.4, 45.4}, {10.6, 45.4}, {10.6, 45.6}, {10.4, 45.6}, {10.4, 45.4}};
  const Ring outer = {{10, 45}, {11, 45}, {11, 46}, {10, 46}, {10, 45}};
  const Ring sliver = {{10.2, 45.2}, {10.3, 45.3}};                       // closes to 3 points
  const Ring triangle = {{10.1, 45.1}, {10.2, 45.1}, {10.1, 45.2}};       // closes to 4 points
  b.Poly(5, {hole, sliver, outer, triangle});
  const LoadedFile f = LoadBytes(dir, b.Bytes());
  const auto v = f.Views();
  ASSERT_EQ(v.size(), 1u);
  EXPECT_EQ(v[0].recordClass, kRecordArea);
  EXPECT_EQ(v[0].ringSizes, (std::vector<int32_t>{5, 5, 4}));
  EXPECT_EQ(v[0].points.front(), Map(10, 45));    // outer first
  EXPECT_EQ(v[0].points[5], Map(10.4, 45.4));     // then the holes in file order
  EXPECT_EQ(v[0].points[10], Map(10.1, 45.1));
}

TEST(ReaderAreas, NullRecordsKeepTheNumbersOfTheRecordsAfterThem) {
  TempDir dir;
  ShpBuilder b(5);
  const Ring sq = {{10, 45}, {11, 45}, {11, 46}, {10, 46}, {10, 45}};
  b.Null().Poly(5, {sq}).Null().Null().Poly(5, {sq});
  const LoadedFile f = LoadBytes(dir, b.Bytes());
  // Equal areas: the later record is drawn first.
  EXPECT_EQ(Numbers(f), (std::vector<int>{5, 2}));
  EXPECT_EQ(f.stats.recordHeaders, 5);
}

TEST(ReaderAreas, AreasAreDrawnLargestFirstWithLaterEqualsBeforeEarlierOnes) {
  TempDir dir;
  ShpBuilder b(5);
  auto square = [](double x, double side) {
    return Ring{{x, 45}, {x + side, 45}, {x + side, 45 + side}, {x, 45 + side}, {x, 45}};
  };
  b.Poly(5, {square(10, 0.1)}).Poly(5, {square(20, 0.5)}).Poly(5, {square(10, 0.1)}).Poly(5, {square(30, 0.01)});
  const LoadedFile f = LoadBytes(dir, b.Bytes());
  EXPECT_EQ(Numbers(f), (std::vector<int>{2, 3, 1, 4}));
}

// A closed square ring of the given half side (degrees) around a centre.
Ring SquareRing(double cx, double cy, double half) {
  return {{cx - half, cy - half}, {cx - half, cy + half}, {cx + half, cy + half}, {cx + half, cy - half},
          {cx - half, cy - half}};
}

TEST(ReaderAreas, SeparateParcelsOfOneRecordBecomeOneAreaRecordEachWithItsOwnHoles) {
  const Ring big = SquareRing(10, 45, 1), bigHole = SquareRing(10, 45, 0.3);
  const Ring small = SquareRing(14, 45, 0.5), smallHole = SquareRing(14, 45, 0.2);
  const Ring lake = SquareRing(10, 45, 0.6), island = SquareRing(10, 45, 0.2), pond = SquareRing(10, 45, 0.1);
  const Ring sliver = {{20, 45}, {20.5, 45}, {20, 45}};
  struct Case {
    const char* what;
    std::vector<Ring> rings;
    // The records in drawing order (largest first), each as its rings in order.
    std::vector<std::vector<Ring>> records;
  };
  const Case cases[] = {
      {"two parcels, each with a hole, and a sliver", {big, small, sliver, smallHole, bigHole},
       {{big, bigHole}, {small, smallHole}}},
      {"one parcel and its hole", {big, bigHole}, {{big, bigHole}}},
      {"a hole before its parcel", {bigHole, big}, {{big, bigHole}}},
      // The island lies inside two rings (even): a parcel. The lake's first
      // point is inside the outer ring only; the pond's inside three rings,
      // and the island is the smallest parcel holding it.
      {"an island with a pond in a lake", {big, lake, island, pond}, {{big, lake}, {island, pond}}},
  };
  for (const Case& c : cases) {
    TempDir dir;
    ShpBuilder b(5);
    b.Poly(5, c.rings).Poly(5, {small});
    const LoadedFile f = LoadBytes(dir, b.Bytes());
    const auto v = f.Views();
    ASSERT_EQ(v.size(), c.records.size() + 1) << c.what;
    size_t at = 0;
    for (const RecordView& r : v) {
      if (r.number == 2) continue;
      ASSERT_LT(at, c.records.size()) << c.what;
      std::vector<MapPoint> points;
      std::vector<int32_t> sizes;
      for (const Ring& ring : c.records[at]) {
        for (const XY& p : ring) points.push_back(Map(p.first, p.second));
        sizes.push_back(static_cast<int32_t>(ring.size()));
      }
      EXPECT_EQ(r.number, 1) << c.what;
      EXPECT_EQ(r.ringSizes, sizes) << c.what << ", record " << at;
      EXPECT_EQ(r.points, points) << c.what << ", record " << at;
      ++at;
    }
    EXPECT_EQ(f.stats.recordsMade, static_cast<int64_t>(c.records.size() + 1)) << c.what;
  }
}

// The parcel rule written out plainly, ring against ring, as the model the
// reader's faster search must agree with.
std::vector<std::vector<size_t>> ParcelModel(const std::vector<std::vector<MapPoint>>& rings) {
  const size_t n = rings.size();
  const auto inside = [&](size_t a, size_t b) {
    return PointInPolygon(rings[a][0], rings[b].data(), static_cast<int>(rings[b].size()));
  };
  const auto area = [&](size_t j) { return RingArea(rings[j].data(), static_cast<int64_t>(rings[j].size())); };
  std::vector<size_t> parcels;
  for (size_t a = 0; a < n; ++a) {
    int count = 0;
    for (size_t b = 0; b < n; ++b) count += b != a && inside(a, b);
    if (count % 2 == 0) parcels.push_back(a);
  }
  std::vector<std::vector<size_t>> records;
  if (parcels.size() < 2) return records;
  size_t largest = parcels[0];
  for (size_t p : parcels) largest = area(p) > area(largest) ? p : largest;
  for (size_t p : parcels) records.push_back({p});
  for (size_t a = 0; a < n; ++a) {
    if (std::find(parcels.begin(), parcels.end(), a) != parcels.end()) continue;
    size_t best = n;
    for (size_t p : parcels) {
      if (inside(a, p) && (best == n || area(p) < area(best))) best = p;
    }
    const size_t owner = best == n ? largest : best;
    records[static_cast<size_t>(std::find(parcels.begin(), parcels.end(), owner) - parcels.begin())].push_back(a);
  }
  return records;
}

TEST(ReaderAreas, ParcelsAgreeWithTheRingByRingRuleOnRandomRecords) {
  std::mt19937 random(1234);
  std::uniform_real_distribution<double> centre(-0.05, 0.05), half(0.002, 0.03);
  int severalParcels = 0;
  for (int trial = 0; trial < 60; ++trial) {
    std::vector<Ring> rings;
    const int count = 2 + trial % 9;
    for (int i = 0; i < count; ++i) rings.push_back(SquareRing(10 + centre(random), 45 + centre(random), half(random)));
    std::vector<std::vector<MapPoint>> mapped;
    for (const Ring& r : rings) {
      mapped.emplace_back();
      for (const XY& p : r) mapped.back().push_back(Map(p.first, p.second));
    }
    const auto model = ParcelModel(mapped);
    TempDir dir;
    ShpBuilder b(5);
    b.Poly(5, rings);
    const auto v = LoadBytes(dir, b.Bytes()).Views();
    if (model.empty()) {
      ASSERT_EQ(v.size(), 1u) << "trial " << trial;
      continue;
    }
    ASSERT_EQ(v.size(), model.size()) << "trial " << trial;
    ++severalParcels;
    // Each record read is one of the model's, its rings in order.
    std::vector<std::vector<MapPoint>> want;
    for (const auto& record : model) {
      want.emplace_back();
      for (size_t j : record) want.back().insert(want.back().end(), mapped[j].begin(), mapped[j].end());
    }
    for (const RecordView& r : v) {
      EXPECT_NE(std::find(want.begin(), want.end(), r.points), want.end()) << "trial " << trial;
    }
  }
  EXPECT_GT(severalParcels, 20) << "the trials must mostly be records of several parcels";
}

TEST(ReaderAreas, RingsAndRecordsBeyondSixteenBitCountsLoadWhole) {
  TempDir dir;
  ShpBuilder b(5);
  Ring big;
  for (int i = 0; i < 40000; ++i) {
    const double a = 2 * M_PI * i / 40000;
    big.push_back({10 + std::cos(a), 45 + std::sin(a)});
  }
  std::vector<Ring> rings = {big};
  for (int r = 0; r < 33000; ++r) {
    const double x = 9.5 + (r % 200) * 0.005, y = 44.5 + (r / 200) * 0.005;
    rings.push_back({{x, y}, {x + 0.001, y}, {x + 0.001, y + 0.001}, {x, y}});
  }
  b.Poly(5, rings);
  const LoadedFile f = LoadBytes(dir, b.Bytes());
  const auto v = f.Views();
  ASSERT_EQ(v.size(), 1u);
  ASSERT_EQ(v[0].ringSizes.size(), 33001u);
  EXPECT_EQ(v[0].ringSizes[0], 40001);
  EXPECT_EQ(v[0].ringSizes[33000], 4);
  EXPECT_EQ(v[0].points.size(), 40001u + 33000u * 4u);
}

TEST(ReaderBroken, ATruncatedLastRecordEndsTheLoadAndIsCountedWherever) {
  const Ring sq = {{10, 45}, {11, 45}, {11, 46}, {10, 46}, {10, 45}};
  for (int type : {1, 3, 5, 8}) {
    ShpBuilder b(type);
    for (int i = 0; i < 3; ++i) {
      if (type == 1) b.Point(10 + i, 45);
      if (type == 8) b.MultiPoint({{10 + i, 45}, {10 + i, 46}});
      if (type == 3 || type == 5) b.Poly(type, {sq});
    }
    const std::string whole = b.Bytes();
    const size_t recordSize = (whole.size() - 100) / 3;
    TempDir dir;
    MessageCatcher messages;
    const size_t full = LoadBytes(dir, whole).Views().size();
    const size_t perRecord = full / 3;
    for (size_t cut = whole.size() - 1; cut > whole.size() - recordSize; --cut) {
      const LoadedFile f = LoadBytes(dir, whole.substr(0, cut));
      // A record whose length runs past the end of the file is not read at
      // all; once its header is whole it is counted as skipped.
      const size_t inRecord = cut - (whole.size() - recordSize);
      ASSERT_EQ(f.Views().size(), 2 * perRecord) << "type " << type << " cut " << cut;
      EXPECT_EQ(f.stats.skipped[kSkipCountPastFile], inRecord >= 8 ? 1 : 0) << "type " << type << " cut " << cut;
    }
    EXPECT_TRUE(messages.messages.empty());
  }
}

TEST(ReaderBroken, CountsBeyondTheFileEndTheLoadWithoutHugeAllocations) {
  TempDir dir;
  for (int32_t numPoints : {0x7FFFFFFF, 1000, -1}) {
    for (int type : {3, 5}) {
      ShpBuilder b(type);
      b.Point(10, 45);  // a point record in a line file is read all the same
      b.PolyRaw(type, 1, numPoints, {0}, {{10, 45}, {11, 45}, {11, 46}, {10, 45}});
      b.Point(12, 45);
      const LoadedFile f = LoadBytes(dir, b.Bytes());
      // The record is stepped over by its length; the one after it stays.
      EXPECT_EQ(Numbers(f), (std::vector<int>{1, 3})) << numPoints;
      EXPECT_FALSE(f.stats.stoppedEarly);
      EXPECT_EQ(f.stats.skipped[kSkipCountPastFile], 1);
    }
  }
  ShpBuilder many(3);
  many.PolyRaw(3, 0x7FFFFFFF, 2, {0}, {{10, 45}, {11, 45}});
  EXPECT_TRUE(LoadBytes(dir, many.Bytes()).Views().empty());
  ShpBuilder multi(8);
  std::string content;
  AppendLittle32(content, 8);
  content += std::string(32, '\0');
  AppendLittle32(content, 0x40000000);
  multi.Record(content);
  EXPECT_TRUE(LoadBytes(dir, multi.Bytes()).Views().empty());
}

TEST(ReaderBroken, BadPartArraysSkipTheRecordAndKeepTheNextInStep) {
  TempDir dir;
  const std::vector<XY> pts = {{10, 45}, {11, 45}, {11, 46}, {10, 46}, {10, 45}};
  const std::vector<std::vector<int32_t>> bad = {{0, 3, 2}, {0, 5}, {0, -1}, {0, 0}, {2, 1}, {0, 7}};
  for (int type : {3, 5}) {
    for (const auto& parts : bad) {
      ShpBuilder b(type);
      b.PolyRaw(type, static_cast<int32_t>(parts.size()), 5, parts, pts);
      b.Poly(type, {pts});
      const LoadedFile f = LoadBytes(dir, b.Bytes());
      EXPECT_EQ(Numbers(f), (std::vector<int>{2})) << "type " << type << " parts " << parts[1];
      EXPECT_EQ(f.stats.brokenRecords, 1);
    }
    // No parts but points: nothing from it, and the points are stepped over.
    ShpBuilder b(type);
    b.PolyRaw(type, 0, 5, {}, pts);
    b.Poly(type, {pts});
    EXPECT_EQ(Numbers(LoadBytes(dir, b.Bytes())), (std::vector<int>{2}));
    // Parts that start after point 0: the points before the first part are not drawn.
    ShpBuilder late(type);
    late.PolyRaw(type, 1, 5, {1}, pts);
    const auto v = LoadBytes(dir, late.Bytes()).Views();
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0].points.front(), Map(11, 45));
  }
}

TEST(ReaderBroken, RecordsOfOtherTypesAreSteppedOverByTheirLength) {
  TempDir dir;
  ShpBuilder b(1);
  // A MultiPatch record (Z types are read as their plain types).
  std::string patch;
  AppendLittle32(patch, 31);
  for (double d : {10.0, 45.0, 100.0, 0.0}) AppendDouble(patch, d);
  b.Point(10, 45).Record(patch).Point(11, 45);
  EXPECT_EQ(Numbers(LoadBytes(dir, b.Bytes())), (std::vector<int>{1, 3}));
  // A length running past the end stops the load there.
  ShpBuilder c(1);
  c.Point(10, 45).RawBytes(std::string("\0\0\0\2\0\0\x10\0", 8)).RawBytes(std::string("\x0b\0\0\0", 4));
  const LoadedFile f = LoadBytes(dir, c.Bytes());
  EXPECT_EQ(Numbers(f), (std::vector<int>{1}));
  EXPECT_TRUE(f.stats.stoppedEarly);
}

TEST(ReaderFiles, AMissingFileLoadsNothingAndSaysNothing) {
  TempDir dir;
  MessageCatcher messages;
  ShapeCollection sink((dir / "none.shp").string());
  ShapeFileReader reader;
  EXPECT_TRUE(reader.LoadRecords(sink, 1, 8, -1));
  EXPECT_TRUE(sink.Records().empty());
  EXPECT_TRUE(messages.messages.empty());
}

TEST(ReaderFiles, ProgressIsToldByTheClockNotPerRecord) {
  TempDir dir;
  ShpBuilder b(1);
  for (int i = 0; i < 200000; ++i) b.Point(10 + i * 1e-5, 45);
  WriteFileBytes(dir / "many.shp", b.Bytes());
  const uint64_t fileBytes = std::filesystem::file_size(dir / "many.shp");
  int waits = 0, waitEnds = 0;
  SetWaitCursorHandlers([&] { ++waits; }, [&] { ++waitEnds; });
  std::vector<std::pair<uint64_t, uint64_t>> reports;
  ShapeCollection sink((dir / "many.shp").string());
  ShapeFileReader reader;
  reader.SetProgressHandler([&](uint64_t read, uint64_t total) {
    reports.emplace_back(read, total);
    return true;
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(reader.LoadRecords(sink, 1, 8, -1));
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  SetWaitCursorHandlers(nullptr, nullptr);
  EXPECT_EQ(sink.Records().size(), 200000u);
  // About one report per 50 ms of work, each with the bytes read so far.
  EXPECT_LE(reports.size(), static_cast<size_t>(ms / 50.0) + 1);
  EXPECT_EQ(static_cast<int64_t>(reports.size()), reader.GetLoadStats().progressReports);
  for (size_t i = 0; i < reports.size(); ++i) {
    EXPECT_EQ(reports[i].second, fileBytes);
    EXPECT_LE(reports[i].first, fileBytes);
    if (i > 0) {
      EXPECT_GT(reports[i].first, reports[i - 1].first);
    }
  }
  EXPECT_EQ(waits, 1);
  EXPECT_EQ(waitEnds, 1);
}

// Forward transverse Mercator on WGS 84 (the series of the surveying
// textbooks, good to millimetres), independent of PROJ.
void Utm(double lon, double lat, double centralMeridian, double& x, double& y) {
  const double a = 6378137.0, f = 1 / 298.257223563, k0 = 0.9996;
  const double e2 = f * (2 - f), ep2 = e2 / (1 - e2);
  const double phi = lat * M_PI / 180, lam = (lon - centralMeridian) * M_PI / 180;
  const double n = a / std::sqrt(1 - e2 * std::sin(phi) * std::sin(phi));
  const double t = std::tan(phi) * std::tan(phi), c = ep2 * std::cos(phi) * std::cos(phi);
  const double aa = std::cos(phi) * lam;
  const double m = a * ((1 - e2 / 4 - 3 * e2 * e2 / 64 - 5 * e2 * e2 * e2 / 256) * phi -
                        (3 * e2 / 8 + 3 * e2 * e2 / 32 + 45 * e2 * e2 * e2 / 1024) * std::sin(2 * phi) +
                        (15 * e2 * e2 / 256 + 45 * e2 * e2 * e2 / 1024) * std::sin(4 * phi) -
                        (35 * e2 * e2 * e2 / 3072) * std::sin(6 * phi));
  x = k0 * n * (aa + (1 - t + c) * std::pow(aa, 3) / 6 + (5 - 18 * t + t * t + 72 * c - 58 * ep2) * std::pow(aa, 5) / 120) +
      500000.0;
  y = k0 * (m + n * std::tan(phi) *
                    (aa * aa / 2 + (5 - t + 9 * c + 4 * c * c) * std::pow(aa, 4) / 24 +
                     (61 - 58 * t + t * t + 600 * c - 330 * ep2) * std::pow(aa, 6) / 720));
}

TEST(ReaderPrj, AProjectedFileWithItsPrjLandsWhereItsDegreesWould) {
  TempDir dir;
  const std::string utm28 =
      "PROJCS[\"WGS_1984_UTM_Zone_28N\",GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID[\"WGS_1984\","
      "6378137.0,298.257223563]],PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]],"
      "PROJECTION[\"Transverse_Mercator\"],PARAMETER[\"False_Easting\",500000.0],PARAMETER["
      "\"False_Northing\",0.0],PARAMETER[\"Central_Meridian\",-15.0],PARAMETER[\"Scale_Factor\",0.9996],"
      "PARAMETER[\"Latitude_Of_Origin\",0.0],UNIT[\"Meter\",1.0]]";
  const std::vector<XY> degrees = {{-15.0, 0.0}, {-16.2, 14.5}, {-13.9, 28.1}, {-15.5, 60.0}};
  ShpBuilder b(1, 400000, 0, 600000, 7000000);
  for (const XY& d : degrees) {
    double x = 0, y = 0;
    Utm(d.first, d.second, -15.0, x, y);
    b.Point(x, y);
  }
  // Upper-case names, as file sets from Windows often have.
  WriteFileBytes(dir / "FIELD.SHP", b.Bytes());
  WriteFileBytes(dir / "FIELD.PRJ", utm28);
  const LoadedFile f = LoadShp(dir / "FIELD.SHP");
  ASSERT_TRUE(f.headerOk);
  EXPECT_EQ(f.coordSystemKind, kCoordProjected);  // the header test still decides the kind
  EXPECT_TRUE(f.stats.usedPrj);
  const auto v = f.Views();
  ASSERT_EQ(v.size(), degrees.size());
  for (size_t i = 0; i < degrees.size(); ++i) {
    const MapPoint want = Map(degrees[i].first, degrees[i].second);
    EXPECT_NEAR(v[i].points[0].x, want.x, 1) << i;
    EXPECT_NEAR(v[i].points[0].y, want.y, 1) << i;
  }

  // A ".prj" PROJ cannot read leaves the datum and zone in charge.
  WriteFileBytes(dir / "FIELD.PRJ", "not a coordinate system");
  ShpBuilder g(1);
  g.Point(10, 45);
  WriteFileBytes(dir / "FIELD.SHP", g.Bytes());
  const LoadedFile h = LoadShp(dir / "FIELD.SHP");
  EXPECT_FALSE(h.stats.usedPrj);
  ASSERT_EQ(h.Views().size(), 1u);
  EXPECT_EQ(h.Views()[0].points[0], Map(10, 45));
}

}  // namespace
}  // namespace kestrune
