// Damaged and hostile file sets opened as layers: what `kestrune-cli info`
// and the load tell about records and rows they could not read.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "base/Platform.h"
#include "layers/LayerInfo.h"
#include "layers/LayerList.h"
#include "layers/LayerTestFiles.h"
#include "layers/RowScan.h"

namespace kestrune {
namespace {

using namespace kestrune::test;
namespace fs = std::filesystem;

// Collects the status-line notices told while it lives.
class StatusCatcher {
 public:
  StatusCatcher() {
    old_ = SetStatusHandler([this](const std::string& text) { notices.push_back(text); });
  }
  ~StatusCatcher() { SetStatusHandler(old_); }
  StatusCatcher(const StatusCatcher&) = delete;
  StatusCatcher& operator=(const StatusCatcher&) = delete;
  std::vector<std::string> notices;

 private:
  StatusHandler old_;
};

struct InfoCase {
  const char* name;
  std::function<std::string()> shp;
  int status;
  const char* skipped;  // the "skipped" object of the first line; null: no output
  const char* err;      // a part of stderr and the notices ("" for none)
};

TEST(InfoSkipped, TheFirstLineCountsTheSkippedRecordsAndTheStatusSaysWhetherAnyLoaded) {
  const InfoCase cases[] = {
      {"clean",
       [] { return ShpBuilder(1, -100, 40, -90, 45).Point(-95, 42).Point(-95.5, 42).Bytes(); }, 0, "{}", ""},
      {"some non-finite",
       [] { return ShpBuilder(1, -100, 40, -90, 45).Point(-95, 42).Point(NAN, 42).Point(-95, INFINITY).Bytes(); },
       0, "{\"bad_coordinates\": 2}", "2 records of \"t.shp\" were not read: 2 with unusable coordinates."},
      {"only non-finite",
       [] { return ShpBuilder(1, -100, 40, -90, 45).Point(NAN, NAN).Point(INFINITY, 42).Bytes(); }, 1,
       "{\"bad_coordinates\": 2}", "2 with unusable coordinates"},
      {"a count of 2^31-1 between two good records",
       [] {
         ShpBuilder b(3, -100, 40, -90, 45);
         const Ring line = {{-95, 42}, {-94, 43}};
         return b.Poly(3, {line}).PolyRaw(3, 1, 0x7FFFFFFF, {0}, line).Poly(3, {line}).Bytes();
       },
       0, "{\"count_past_file\": 1}", "whose counts run past the record or the file"},
      {"a tail that is no record",
       [] {
         return ShpBuilder(1, -100, 40, -90, 45).Point(-95, 42).RawBytes(std::string(20, '\xaa')).Bytes();
       },
       0, "{\"stopped_early\": 1}", "stopped before the end of the file"},
      {"nothing but a header",
       [] { return ShpBuilder(1, -100, 40, -90, 45).Bytes(); }, 0, "{}", ""},
      {"a 50-byte file", [] { return ShpBuilder(1).Point(10, 45).Bytes().substr(0, 50); }, 1, nullptr,
       "Invalid Shape file header."},
      {"metres under a box of degrees",
       [] { return ShpBuilder(1, -100, 40, -90, 45).Point(500000, 4500000).Point(500100, 4500100).Bytes(); }, 1,
       nullptr, "The coordinate system of this file is unknown"},
  };
  for (const InfoCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    WriteFileBytes(dir / "t.shp", c.shp());
    StatusCatcher status;
    std::ostringstream out, err;
    const int code = RunInfoCommand({(dir / "t.shp").string()}, out, err);
    EXPECT_EQ(code, c.status);
    std::string told = err.str();
    for (const std::string& n : status.notices) told += n + "\n";
    if (c.skipped) {
      EXPECT_NE(out.str().find(std::string(", \"skipped\": ") + c.skipped + "}\n"), std::string::npos)
          << out.str();
    } else {
      EXPECT_EQ(out.str(), "");
    }
    if (*c.err) {
      EXPECT_NE(told.find(c.err), std::string::npos) << told;
    } else {
      EXPECT_EQ(told, "");
    }
  }
}

TEST(LayerSkipped, ALostTailIsAMessageAndLesserSkipsAStatusNotice) {
  TempDir dir;
  // Three records, then bytes that are no record, with an index listing 10.
  WriteFileBytes(dir / "a.shp",
                 ShpBuilder(1, -100, 40, -90, 45).Point(-95, 42).Point(0, 0).Point(-95, 43)
                     .RawBytes(std::string(28, '\xaa')).Bytes());
  WriteFileBytes(dir / "a.shx", std::string(100 + 8 * 10, '\0'));
  StatusCatcher status;
  LayerList list;
  std::vector<Error> errors;
  Layer* layer = list.AddLayer((dir / "a.shp").string(), true, false, &errors);
  ASSERT_NE(layer, nullptr);
  EXPECT_EQ(layer->GetRecordCount(), 2u);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].icon, MessageIcon::Warning);
  EXPECT_EQ(errors[0].text,
            "Reading \"a.shp\" stopped before the end of the file: 8 records were not read (1 at position (0, 0), "
            "7 after bytes that are no record). The records before that point are shown.");
  EXPECT_TRUE(status.notices.empty());
}

TEST(LayerSkipped, ATableAnnouncingMoreRowsThanItHoldsIsReadForItsRowsWithANotice) {
  TempDir dir;
  const std::string shp = WritePointSet(dir, "p", {{-95, 42}, {-95.5, 42}, {-96, 42}}, {1.5, 2.5, 3.5});
  std::string table = ReadFileBytes(dir / "p.dbf");
  // The header announces 119 million rows; the file holds three.
  const uint32_t claimed = 119000000;
  for (int i = 0; i < 4; ++i) table[4 + i] = static_cast<char>((claimed >> (8 * i)) & 0xFF);
  WriteFileBytes(dir / "p.dbf", table);
  WriteFileBytes(dir / "p.gpe", "[Options]\nLEGEND_COL=1\n");
  StatusCatcher status;
  Layer layer;
  ASSERT_TRUE(OpenAndLoad(layer, shp));
  std::vector<double> values;
  for (Shape* s : layer.Records()) values.push_back(s->GetValue());
  EXPECT_EQ(values, (std::vector<double>{1.5, 2.5, 3.5}));
  ASSERT_EQ(status.notices.size(), 1u);
  EXPECT_EQ(status.notices[0], "The table \"p.dbf\" announces 119000000 rows but holds 3; the rows it holds are read.");
}

TEST(LayerSkipped, ASparseTableOfMillionsOfRowsIsScannedNoFurtherThanTheShapesCanUse) {
  TempDir dir;
  const std::string shp = WritePointSet(dir, "s", {{-95, 42}, {-95.5, 42}, {-96, 42}}, {1.5, 2.5, 3.5});
  std::string table = ReadFileBytes(dir / "s.dbf");
  const uint32_t claimed = 119000000;
  for (int i = 0; i < 4; ++i) table[4 + i] = static_cast<char>((claimed >> (8 * i)) & 0xFF);
  const int headerLength = static_cast<unsigned char>(table[8]) | (static_cast<unsigned char>(table[9]) << 8);
  const int rowLength = static_cast<unsigned char>(table[10]) | (static_cast<unsigned char>(table[11]) << 8);
  WriteFileBytes(dir / "s.dbf", table.substr(0, static_cast<size_t>(headerLength + 3 * rowLength)));
  // Holes up to every announced row: the file holds them all, as zeros.
  fs::resize_file(dir / "s.dbf", static_cast<uintmax_t>(headerLength) + uintmax_t{claimed} * rowLength);

  // A ".shp" of 3 points (184 bytes) can hold at most 7 records.
  EXPECT_EQ(MaxRowsOfShapeFile(shp), 7u);
  const RowScan scan = ScanRows((dir / "s.dbf").string(), 1, LogFields{}, nullptr, MaxRowsOfShapeFile(shp));
  EXPECT_EQ(scan.rows, 7u);
  EXPECT_EQ(scan.heldRows, claimed);
  WriteFileBytes(dir / "s.gpe", "[Options]\nLEGEND_COL=1\n");
  Layer layer;
  ASSERT_TRUE(OpenAndLoad(layer, shp));
  std::vector<double> values;
  for (Shape* s : layer.Records()) values.push_back(s->GetValue());
  EXPECT_EQ(values, (std::vector<double>{1.5, 2.5, 3.5}));
}

TEST(LayerSkipped, TheRowBoundOfAShapeFileFollowsItsSize) {
  TempDir dir;
  const std::pair<size_t, size_t> sizes[] = {{0, 0}, {100, 0}, {111, 0}, {112, 1}, {184, 7}, {100 + 28000, 2333}};
  for (auto [size, rows] : sizes) {
    WriteFileBytes(dir / "x.shp", std::string(size, '\0'));
    EXPECT_EQ(MaxRowsOfShapeFile((dir / "x.shp").string()), rows) << size;
  }
  EXPECT_EQ(MaxRowsOfShapeFile((dir / "none.shp").string()), SIZE_MAX);
}

}  // namespace
}  // namespace kestrune
