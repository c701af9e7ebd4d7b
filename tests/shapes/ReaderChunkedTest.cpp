// A Point file read in chunks by several threads gives what the one-thread
// reading gives, record for record: numbers, map points, owners, the counts
// of what was skipped and why, and the refusal of a file whose coordinates
// leave the range of degrees; on real files and on made ones, plain and
// damaged at every kind of place.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "ShapeTestFiles.h"

namespace kestrune {
namespace {

using namespace kestrune::test;
namespace fs = std::filesystem;

struct Loaded {
  std::unique_ptr<ShapeCollection> records = std::make_unique<ShapeCollection>();
  ShapeFileReader::LoadStats stats;
  Error error;
};

// The file loaded as a layer loads it, in chunks of chunkRecords records by
// that many threads, or (chunkRecords 0) by the one-thread reading alone.
Loaded Load(const fs::path& shp, size_t chunkRecords, unsigned threads) {
  Loaded f;
  f.records->SetPathName(shp.string());
  int coordSystemKind = 1, shapeKind = 0;
  {
    ShapeFileReader reader;
    if (!reader.CheckHeader(shp.string(), coordSystemKind, 8, -1, shapeKind)) return f;
  }
  ShapeFileReader reader;
  reader.SetChunkedPoints(chunkRecords ? 0 : SIZE_MAX, chunkRecords, threads);
  reader.LoadRecords(*f.records, coordSystemKind, 8, -1);
  f.stats = reader.GetLoadStats();
  f.error = reader.GetError();
  return f;
}

// Every fact of the two loads that a layer or `kestrune-cli info` shows.
void ExpectSameLoad(const Loaded& want, const Loaded& got, const std::string& what) {
  SCOPED_TRACE(what);
  const std::vector<RecordView> w = Views(*want.records), g = Views(*got.records);
  ASSERT_EQ(w.size(), g.size());
  for (size_t i = 0; i < w.size(); ++i) {
    ASSERT_EQ(w[i].number, g[i].number) << "record " << i;
    ASSERT_EQ(w[i].recordClass, g[i].recordClass) << "record " << i;
    ASSERT_EQ(w[i].points, g[i].points) << "record " << i;
  }
  for (Shape* shape : got.records->Records()) {
    ASSERT_EQ(shape->GetOwner(), got.records.get());
    ASSERT_EQ(shape->GetFilterFlags(), 0xFFFFu);
    ASSERT_TRUE(shape->IsVisible());
    ASSERT_FALSE(shape->IsModified());
  }
  EXPECT_EQ(want.stats.recordHeaders, got.stats.recordHeaders);
  EXPECT_EQ(want.stats.recordsMade, got.stats.recordsMade);
  EXPECT_EQ(want.stats.pointsDropped, got.stats.pointsDropped);
  EXPECT_EQ(want.stats.brokenRecords, got.stats.brokenRecords);
  EXPECT_EQ(want.stats.stoppedEarly, got.stats.stoppedEarly);
  EXPECT_EQ(want.stats.tailLost, got.stats.tailLost);
  EXPECT_EQ(want.stats.outsideDegrees, got.stats.outsideDegrees);
  for (int r = 0; r < kSkipReasonCount; ++r) EXPECT_EQ(want.stats.skipped[r], got.stats.skipped[r]) << SkipReasonKey(r);
  EXPECT_EQ(want.error.text, got.error.text);
}

// Each (chunk size, threads) against the one-thread reading of the file.
void ExpectChunkedEqualsOneThread(const fs::path& shp) {
  const Loaded one = Load(shp, 0, 1);
  for (const auto& [chunk, threads] : std::vector<std::pair<size_t, unsigned>>{{1, 2}, {7, 2}, {64, 3}, {1000, 2}, {7, 1}}) {
    ExpectSameLoad(one, Load(shp, chunk, threads),
                   shp.filename().string() + " chunks of " + std::to_string(chunk) + ", " + std::to_string(threads) + " threads");
  }
}

TEST(ReaderChunked, RealPointFilesLoadAsInOneThread) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  const TempDir dir;
  for (const char* name : {"field/yield-simple1.shp", "field/as-applied-simple1.shp", "shapes/point.shp",
                           "projected/yield-utm28.shp"}) {
    ExpectChunkedEqualsOneThread(CopyFileSet(data / name, dir.path()));
  }
}

// n points on a field in Iowa, a little apart, with the given records
// replaced by what the case puts there.
std::string Points(int n, const std::function<bool(ShpBuilder&, int)>& special = nullptr) {
  ShpBuilder b(kShapePoint, -94.0, 41.0, -93.0, 42.0);
  for (int i = 0; i < n; ++i) {
    if (special && special(b, i)) continue;
    b.Point(-93.5 + i * 1e-5, 41.5 + (i % 97) * 1e-5);
  }
  return b.Bytes();
}

TEST(ReaderChunked, MadeFilesLoadAsInOneThread) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct Case {
    const char* what;
    std::string bytes;
    bool plain;  // every record is made, none lost
  } cases[] = {
      {"plain, 1000 points (no chunk size divides it)", Points(1000), true},
      {"one point", Points(1), true},
      {"points at (0, 0) and not numbers among them",
       Points(1000,
              [nan](ShpBuilder& b, int i) {
                if (i % 61 == 5) b.Point(0.0, 0.0);
                else if (i % 89 == 3) b.Point(nan, 41.0);
                else if (i % 101 == 9) b.Point(-93.0, std::numeric_limits<double>::infinity());
                else return false;
                return true;
              }),
       false},
      {"a null record in the middle",
       Points(1000, [](ShpBuilder& b, int i) { return i == 503 ? (b.Null(), true) : false; }), false},
      {"a record of the wrong length in the middle",
       Points(1000,
              [](ShpBuilder& b, int i) {
                if (i != 640) return false;
                std::string c;
                AppendLittle32(c, 1);
                AppendDouble(c, -93.5);
                AppendDouble(c, 41.5);
                AppendDouble(c, 7.0);
                b.Record(c);
                return true;
              }),
       false},
      {"a multipoint among the points",
       Points(1000, [](ShpBuilder& b, int i) { return i == 321 ? (b.MultiPoint({{-93.4, 41.4}, {-93.3, 41.3}}), true) : false; }),
       false},
      {"coordinates past the range of degrees", Points(1000, [](ShpBuilder& b, int i) {
         return i == 777 ? (b.Point(500000.0, 4600000.0), true) : false;
       }),
       false},
      {"a record cut short at the end", Points(1000) + std::string("\0\0\x03\xe9\0\0\0\x0a\x01\0\0\0", 12), false},
      {"a zero-filled tail", Points(1000) + std::string(28 * 9, '\0'), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const TempDir dir;
    WriteFileBytes(dir / "t.shp", c.bytes);
    ExpectChunkedEqualsOneThread(dir / "t.shp");
    const Loaded one = Load(dir / "t.shp", 0, 1);
    EXPECT_GT(one.stats.recordsMade, 0);
    EXPECT_EQ(one.stats.recordsMade == one.stats.recordHeaders && !one.stats.tailLost, c.plain);
  }
}

// A chunk is read in pieces of 4096 records: chunks one below, at and above
// a piece, and of several pieces, give the one-thread reading, with an odd
// record (out of step, a multipoint, a point without position) on the first
// record of a later piece.
TEST(ReaderChunked, ChunksOfSeveralPiecesLoadAsInOneThread) {
  const struct Case {
    const char* what;
    int oddAt;  // the record made odd, or -1
    int kind;   // 0 number out of step, 1 multipoint, 2 at (0, 0)
  } cases[] = {{"plain", -1, 0}, {"out of step", 4096, 0}, {"a multipoint", 8192, 1}, {"no position", 4096 + 9000, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bytes = Points(16500, [&c](ShpBuilder& b, int i) {
      if (i != c.oddAt || c.kind == 0) return false;
      if (c.kind == 1) b.MultiPoint({{-93.4, 41.4}, {-93.3, 41.3}});
      else b.Point(0.0, 0.0);
      return true;
    });
    if (c.kind == 0 && c.oddAt >= 0) {
      // The record claims the number of one long before it.
      const size_t at = 100 + static_cast<size_t>(c.oddAt) * 28;
      bytes[at] = bytes[at + 1] = bytes[at + 2] = 0;
      bytes[at + 3] = 9;
    }
    const TempDir dir;
    WriteFileBytes(dir / "t.shp", bytes);
    const Loaded one = Load(dir / "t.shp", 0, 1);
    for (const auto& [chunk, threads] :
         std::vector<std::pair<size_t, unsigned>>{{4095, 2}, {4096, 2}, {4097, 2}, {9000, 2}, {16500, 1}}) {
      ExpectSameLoad(one, Load(dir / "t.shp", chunk, threads), "chunks of " + std::to_string(chunk));
    }
  }
}

// A record number out of step at a chunk's first record ends the reading
// where the one-thread reading ends it, whichever thread finds it.
TEST(ReaderChunked, RecordNumberOutOfStepAtAChunkBoundary) {
  std::string bytes = Points(100);
  // Record 15 (the first of the third chunk of 7) claims number 3.
  const size_t at = 100 + 14 * 28;
  bytes[at] = bytes[at + 1] = bytes[at + 2] = 0;
  bytes[at + 3] = 3;
  const TempDir dir;
  WriteFileBytes(dir / "t.shp", bytes);
  const Loaded one = Load(dir / "t.shp", 0, 1);
  EXPECT_EQ(one.stats.recordsMade, 14);
  EXPECT_TRUE(one.stats.stoppedEarly);
  ExpectChunkedEqualsOneThread(dir / "t.shp");
}

// Records made in chunks are the pool's like any other: a second load and
// the destruction of both leave nothing behind, and new records still come.
TEST(ReaderChunked, ChunkedRecordsLiveAndDieInThePool) {
  const TempDir dir;
  WriteFileBytes(dir / "t.shp", Points(5000, [](ShpBuilder& b, int i) {
                   return i % 13 == 0 ? (b.Point(0.0, 0.0), true) : false;
                 }));
  auto first = std::make_unique<Loaded>(Load(dir / "t.shp", 1000, 2));
  auto second = std::make_unique<Loaded>(Load(dir / "t.shp", 333, 2));
  ASSERT_EQ(first->records->Records().size(), 5000u - 385u);
  ExpectSameLoad(*first, *second, "two chunked loads");
  first.reset();
  auto extra = std::make_unique<PointShape>(1);
  extra->SetPoint({5, 6});
  EXPECT_EQ(extra->GetPoint(), (MapPoint{5, 6}));
  second.reset();
  extra.reset();
  ExpectSameLoad(Load(dir / "t.shp", 0, 1), Load(dir / "t.shp", 4999, 2), "after the pool emptied");
}

}  // namespace
}  // namespace kestrune
