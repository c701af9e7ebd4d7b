// Hostile and damaged ".shp" files: what the load makes of them, and every
// record it does not make counted with its reason.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "shapes/ShapeFileReader.h"
#include "shapes/SkippedRecords.h"
#include "ShapeTestFiles.h"

namespace kestrune {
namespace {

using namespace kestrune::test;
namespace fs = std::filesystem;

constexpr double kNaN = NAN;
constexpr double kInf = INFINITY;

std::vector<int> Numbers(const LoadedFile& f) {
  std::vector<int> out;
  for (const RecordView& v : f.Views()) out.push_back(v.number);
  return out;
}

// A ".shx" that lists n records (only its length is looked at).
std::string ShxOf(int records) { return std::string(100 + 8 * static_cast<size_t>(records), '\0'); }

// A record header with the stored number and the content length in bytes.
std::string RecordHeader(int32_t number, int32_t contentBytes) {
  std::string s;
  AppendBig32(s, number);
  AppendBig32(s, contentBytes / 2);
  return s;
}

using Skips = std::array<int64_t, kSkipReasonCount>;

struct SkipCase {
  const char* name;
  std::function<std::string()> bytes;
  int shxRecords;  // 0: no ".shx"
  std::vector<int> numbers;
  Skips skipped;
  bool tailLost;
};

TEST(ReaderSkips, EveryRecordNotMadeIsCountedWithItsReason) {
  const std::vector<XY> square = {{10, 45}, {11, 45}, {11, 46}, {10, 46}, {10, 45}};
  const SkipCase cases[] = {
      {"non-finite points, each its own record",
       [] {
         ShpBuilder b(1);
         b.Point(10, 45).Point(kNaN, 45).Point(10, kInf).Point(-kInf, 45).Point(10, kNaN).Point(kInf, kInf).Point(11, 45);
         return b.Bytes();
       },
       0, {1, 7}, {5, 0, 0, 0, 0, 0}, false},
      {"points at (0, 0) beside a non-finite one",
       [] {
         ShpBuilder b(1);
         b.Point(0, 0).Point(0.5, -0.5).Point(kNaN, kNaN).Point(10, 45);
         return b.Bytes();
       },
       0, {4}, {1, 2, 0, 0, 0, 0}, false},
      {"non-finite points inside a multipoint",
       [] {
         ShpBuilder b(8);
         b.MultiPoint({{10, 45}, {kNaN, 45}, {11, 45}, {kInf, 1}, {12, 45}});
         return b.Bytes();
       },
       0, {1, 1, 1}, {2, 0, 0, 0, 0, 0}, false},
      {"a line part with a non-finite point, the other part kept",
       [square] {
         ShpBuilder b(3);
         b.Poly(3, {{{10, 45}, {kNaN, 46}, {11, 47}}, square});
         return b.Bytes();
       },
       0, {1}, {1, 0, 0, 0, 0, 0}, false},
      {"an area with a non-finite vertex",
       [square] {
         ShpBuilder b(5);
         b.Poly(5, {{{10, 45}, {11, 45}, {11, kInf}, {10, 45}}}).Poly(5, {square});
         return b.Bytes();
       },
       0, {2}, {1, 0, 0, 0, 0, 0}, false},
      {"a point count of 2^31-1 is stepped over, the records after it stay",
       [square] {
         ShpBuilder b(3);
         b.Poly(3, {square}).PolyRaw(3, 1, 0x7FFFFFFF, {0}, square).Poly(3, {square});
         return b.Bytes();
       },
       0, {1, 3}, {0, 0, 1, 0, 0, 0}, false},
      {"a point count past the record but inside the file",
       [square] {
         ShpBuilder b(5);
         b.PolyRaw(5, 1, 6, {0}, square).Poly(5, {square}).Poly(5, {square});
         return b.Bytes();
       },
       0, {3, 2}, {0, 0, 1, 0, 0, 0}, false},
      {"negative counts",
       [square] {
         ShpBuilder b(3);
         b.PolyRaw(3, -1, 5, {0}, square).Poly(3, {square});
         return b.Bytes();
       },
       0, {2}, {0, 0, 1, 0, 0, 0}, false},
      {"a multipoint count past its record",
       [] {
         ShpBuilder b(8);
         std::string c;
         AppendLittle32(c, 8);
         c += std::string(32, '\0');
         AppendLittle32(c, 0x40000000);
         AppendDouble(c, 10);
         AppendDouble(c, 45);
         b.Record(c).MultiPoint({{12, 45}});
         return b.Bytes();
       },
       0, {1, 2}, {0, 0, 1, 0, 0, 0}, false},
      {"part starts out of order",
       [square] {
         ShpBuilder b(3);
         b.PolyRaw(3, 2, 5, {3, 1}, square).Poly(3, {square});
         return b.Bytes();
       },
       0, {2}, {0, 0, 0, 1, 0, 0}, false},
      {"a zero-filled tail is the end, not a loss",
       [] {
         ShpBuilder b(1);
         b.Point(10, 45).Point(11, 45).RawBytes(std::string(4096, '\0'));
         return b.Bytes();
       },
       5, {1, 2}, {0, 0, 0, 0, 0, 0}, false},
      {"a record number out of order stops the load; the index tells how many are lost",
       [] {
         ShpBuilder b(1);
         b.Point(10, 45).Point(11, 45);
         std::string bytes = b.Bytes();
         ShpBuilder rest(1);
         rest.Point(12, 45).Point(13, 45).Point(14, 45);
         return bytes + rest.Bytes().substr(100);  // numbered 1, 2, 3 again
       },
       5, {1, 2}, {0, 0, 0, 0, 3, 0}, true},
      {"a record number 0 with a length is no record",
       [] {
         ShpBuilder b(1);
         b.Point(10, 45);
         std::string c;
         AppendLittle32(c, 1);
         AppendDouble(c, 11);
         AppendDouble(c, 45);
         return b.RawBytes(RecordHeader(0, 20) + c).Bytes();
       },
       0, {1}, {0, 0, 0, 0, 1, 0}, true},
      {"a length without room for the type is no record",
       [] {
         ShpBuilder b(1);
         b.Point(10, 45).RawBytes(RecordHeader(2, 2) + std::string(40, 'x'));
         return b.Bytes();
       },
       0, {1}, {0, 0, 0, 0, 1, 0}, true},
      {"a last record cut short",
       [] {
         ShpBuilder b(1);
         b.Point(10, 45).Point(11, 45).Point(12, 45);
         const std::string whole = b.Bytes();
         return whole.substr(0, whole.size() - 5);
       },
       3, {1, 2}, {0, 0, 1, 0, 0, 0}, true},
      {"trailing bytes shorter than a record header are no loss",
       [] {
         ShpBuilder b(1);
         b.Point(10, 45).RawBytes("abc");
         return b.Bytes();
       },
       0, {1}, {0, 0, 0, 0, 0, 0}, false},
  };
  for (const SkipCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    if (c.shxRecords > 0) WriteFileBytes(dir / "t.shx", ShxOf(c.shxRecords));
    const LoadedFile f = LoadBytes(dir, c.bytes());
    ASSERT_TRUE(f.headerOk);
    EXPECT_EQ(Numbers(f), c.numbers);
    for (int r = 0; r < kSkipReasonCount; ++r) EXPECT_EQ(f.stats.skipped[r], c.skipped[r]) << SkipReasonKey(r);
    EXPECT_EQ(f.stats.tailLost, c.tailLost);
    EXPECT_FALSE(f.stats.outsideDegrees);
  }
}

TEST(ReaderSkips, TheTextsNameEveryReasonCountedAndAMessageOnlyForALostTail) {
  ShapeFileReader::LoadStats stats;
  std::string status;
  EXPECT_FALSE(SkippedRecordsNotice(stats, "/d/f.shp", status));
  EXPECT_EQ(status, "");
  stats.skipped[kSkipBadCoordinates] = 5;
  stats.skipped[kSkipNoPosition] = 2;
  EXPECT_FALSE(SkippedRecordsNotice(stats, "/d/f.shp", status));
  EXPECT_EQ(status, "7 records of \"f.shp\" were not read: 5 with unusable coordinates, 2 at position (0, 0).");
  stats.skipped[kSkipStoppedEarly] = 40;
  stats.tailLost = true;
  const Error notice = SkippedRecordsNotice(stats, "/d/f.shp", status);
  EXPECT_EQ(status, "");
  EXPECT_EQ(notice.text,
            "Reading \"f.shp\" stopped before the end of the file: 47 records were not read (5 with unusable "
            "coordinates, 2 at position (0, 0), 40 after bytes that are no record). The records before that point "
            "are shown.");
  EXPECT_EQ(notice.caption, "/d/f.shp");
  EXPECT_EQ(notice.icon, MessageIcon::Warning);
}

TEST(ReaderSkips, AFileCutWhileItIsReadTellsTheLostTail) {
  TempDir dir;
  ShpBuilder b(1);
  constexpr int kPoints = 600000;
  for (int i = 0; i < kPoints; ++i) b.Point(10 + i * 1e-5, 45);
  const std::string bytes = b.Bytes();
  // Read by one thread, and in small chunks by one thread (several threads
  // may have read every chunk before the first report comes).
  for (const bool chunked : {false, true}) {
    SCOPED_TRACE(chunked ? "in chunks" : "one thread");
    WriteFileBytes(dir / "big.shp", bytes);
    WriteFileBytes(dir / "big.shx", ShxOf(kPoints));
    ShapeCollection sink((dir / "big.shp").string());
    ShapeFileReader reader;
    if (chunked) {
      reader.SetChunkedPoints(0, 1000, 1);
    } else {
      reader.SetChunkedPoints(SIZE_MAX);
    }
    bool cut = false;
    // The first report cuts the file to its header and a few records.
    reader.SetProgressHandler([&](uint64_t, uint64_t) {
      if (!cut) fs::resize_file(dir / "big.shp", 100 + 28 * 10);
      cut = true;
      return true;
    });
    reader.LoadRecords(sink, kCoordGeographic, 8, -1);
    if (!cut) GTEST_SKIP() << "the load ended before its first progress report";
    const auto& stats = reader.GetLoadStats();
    EXPECT_TRUE(stats.tailLost);
    EXPECT_TRUE(stats.stoppedEarly);
    const int64_t made = static_cast<int64_t>(sink.Records().size());
    EXPECT_LT(made, kPoints);
    // Every listed record is either made or counted as lost.
    EXPECT_EQ(made + stats.skipped[kSkipTruncated], kPoints);
  }
}

TEST(ReaderSkips, ASparseGigabyteWithTwoRecordsReadsTwoRecords) {
  TempDir dir;
  ShpBuilder b(1);
  b.Point(10, 45).Point(11, 46);
  std::string bytes = b.Bytes();
  constexpr uint64_t kGigabyte = uint64_t{1} << 30;
  // The header claims the whole gigabyte, as the file's length says.
  const std::string words = [] {
    std::string s;
    AppendBig32(s, static_cast<int32_t>(kGigabyte / 2));
    return s;
  }();
  bytes.replace(24, 4, words);
  WriteFileBytes(dir / "sparse.shp", bytes);
  fs::resize_file(dir / "sparse.shp", kGigabyte);
  uint64_t lastRead = 0;
  ShapeCollection sink((dir / "sparse.shp").string());
  ShapeFileReader reader;
  reader.SetProgressHandler([&](uint64_t read, uint64_t) {
    lastRead = read;
    return true;
  });
  EXPECT_TRUE(reader.LoadRecords(sink, kCoordGeographic, 8, -1));
  EXPECT_EQ(sink.Records().size(), 2u);
  EXPECT_EQ(reader.GetLoadStats().recordHeaders, 2);
  EXPECT_EQ(reader.GetLoadStats().SkippedTotal(), 0);
  EXPECT_FALSE(reader.GetLoadStats().tailLost);
  EXPECT_LT(lastRead, kGigabyte / 2);
}

TEST(ReaderDegrees, CoordinatesBeyondDegreesUnderADegreeBoxAreRefusedWithoutAPrj) {
  struct Case {
    std::vector<XY> points;
    bool outside;
  };
  const Case cases[] = {
      {{{10, 45}, {11, 46}}, false},
      {{{-180, -90}, {180, 90}}, false},              // the very edges are degrees
      {{{10, 45}, {500000, 4500000}}, true},          // UTM metres after a degree point
      {{{500000, 4500000}, {500100, 4500100}}, true}, // a UTM log under a degree box
      {{{10, 90.5}}, true},
      {{{-180.5, 0}}, true},
      {{{kNaN, 45}, {10, 45}}, false},                // not a number is a bad point, not a place
  };
  for (const Case& c : cases) {
    TempDir dir;
    ShpBuilder b(1, -1, -1, 1, 1);
    for (const XY& p : c.points) b.Point(p.first, p.second);
    MessageCatcher messages;
    const LoadedFile f = LoadBytes(dir, b.Bytes());
    ASSERT_TRUE(f.headerOk);
    EXPECT_EQ(f.coordSystemKind, kCoordGeographic);
    EXPECT_EQ(f.stats.outsideDegrees, c.outside) << c.points[0].first;
  }
}

}  // namespace
}  // namespace kestrune
