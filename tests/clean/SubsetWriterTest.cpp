// Saving some records of a set as a new set: the bytes of the ".shp", ".shx"
// and ".dbf" against the source, and all or nothing under every write fault.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>

#include "clean/SubsetWriter.h"
#include "layers/LayerTestFiles.h"
#include "support/SafeWriteTesting.h"

namespace kestrune {
namespace {

using test::TempDir;

double kNaNValue() { return std::numeric_limits<double>::quiet_NaN(); }

int32_t Big(const std::string& b, size_t at) {
  return int32_t(uint32_t(uint8_t(b[at])) << 24 | uint32_t(uint8_t(b[at + 1])) << 16 |
                 uint32_t(uint8_t(b[at + 2])) << 8 | uint8_t(b[at + 3]));
}
int32_t Little(const std::string& b, size_t at) {
  int32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}
double Double(const std::string& b, size_t at) {
  double v;
  std::memcpy(&v, b.data() + at, 8);
  return v;
}

// The records of a ".shp": (offset in words, content) in order.
std::vector<std::pair<int32_t, std::string>> Records(const std::string& shp) {
  std::vector<std::pair<int32_t, std::string>> out;
  for (size_t at = 100; at + 8 <= shp.size();) {
    const size_t bytes = size_t(Big(shp, at + 4)) * 2;
    out.emplace_back(int32_t(at / 2), shp.substr(at + 8, bytes));
    at += 8 + bytes;
  }
  return out;
}

TEST(SubsetWriter, KeptRecordsRenumberedWithIndexTableAndSourceNumbers) {
  TempDir dir;
  const std::string src = test::WriteAreaSet(
      dir, "zones", {test::Square(-95, 42, 0.5), test::Square(-94, 43, 0.25), test::Square(-93, 41, 1.0)},
      {10.5, 20.25, 30});
  test::WriteFileBytes(dir / "zones.prj", "GEOGCS[\"x\"]");
  test::WriteFileBytes(dir / "zones.gpe", "[Options]\r\nLEGEND_COL=1\r\nCLEAN_RANGE=1\r\nCLEAN_RANGE_MIN=3\r\n");
  // A side file of another set under the new name is not adopted.
  test::WriteFileBytes(dir / "part.lgd", "stale");

  std::vector<double> replaced = {1.5, 2.5, 3.5};
  SubsetOptions options;
  options.replaceField = 1;
  options.replaceValues = &replaced;
  SubsetResult result;
  Error error;
  ASSERT_TRUE(WriteShapeSubset(src, (dir / "part.shp").string(), {1, 0, 1}, options, result, &error)) << error.text;
  EXPECT_EQ(result.records, 2);
  EXPECT_EQ(result.removed, std::vector<std::string>{(dir / "part.lgd").string()});
  EXPECT_FALSE(std::filesystem::exists(dir / "part.lgd"));

  const std::string in = test::ReadFileBytes(src);
  const std::string shp = test::ReadFileBytes(dir / "part.shp");
  const std::string shx = test::ReadFileBytes(dir / "part.shx");
  const auto source = Records(in);
  const auto kept = Records(shp);
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_EQ(kept[0].second, source[0].second);
  EXPECT_EQ(kept[1].second, source[2].second);
  EXPECT_EQ(Big(shp, 100), 1);
  EXPECT_EQ(Big(shp, 100 + 8 + kept[0].second.size()), 2);
  EXPECT_EQ(Big(shp, 24) * 2, int32_t(shp.size()));
  // The box of the kept records only.
  EXPECT_EQ(Double(shp, 36), -95.5);
  EXPECT_EQ(Double(shp, 44), 40.0);
  EXPECT_EQ(Double(shp, 52), -92.0);
  EXPECT_EQ(Double(shp, 60), 42.5);
  EXPECT_EQ(Little(shp, 32), 5);
  // The index: same header but its own length, then offset and length per record.
  ASSERT_EQ(shx.size(), 100u + 16u);
  EXPECT_EQ(shx.substr(0, 24), shp.substr(0, 24));
  EXPECT_EQ(Big(shx, 24), 58);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(Big(shx, 100 + 8 * i), kept[i].first);
    EXPECT_EQ(Big(shx, 104 + 8 * i) * 2, int32_t(kept[i].second.size()));
  }

  DbfTable table((dir / "part.dbf").string());
  ASSERT_TRUE(table.IsReady());
  ASSERT_EQ(table.GetRecordCount(), 2);
  ASSERT_EQ(table.GetFieldCount(), 2);
  EXPECT_EQ(table.GetField(2)->name, "SRC_REC");
  EXPECT_EQ(table.GetField(2)->letter, 'N');
  const double expected[2][2] = {{1.5, 1}, {3.5, 3}};
  for (int row = 1; row <= 2; ++row) {
    ASSERT_TRUE(table.ReadRecord(row));
    for (int f = 1; f <= 2; ++f) {
      double v = 0;
      EXPECT_TRUE(table.GetNumber(f, v));
      EXPECT_EQ(v, expected[row - 1][f - 1]) << "row " << row << " field " << f;
    }
  }
  EXPECT_EQ(test::ReadFileBytes(dir / "part.prj"), "GEOGCS[\"x\"]");
  // The display settings come along, the cleaning keys do not.
  EXPECT_EQ(test::ReadFileBytes(dir / "part.gpe"), "[Options]\r\nLEGEND_COL=1\r\n");

  // A subset of the subset numbers its records from its own source.
  ASSERT_TRUE(WriteShapeSubset((dir / "part.shp").string(), (dir / "again.shp").string(), {0, 1}, {}, result, &error));
  DbfTable again((dir / "again.dbf").string());
  ASSERT_EQ(again.GetFieldCount(), 2);
  ASSERT_TRUE(again.ReadRecord(1));
  double number = 0;
  again.GetNumber(2, number);
  EXPECT_EQ(number, 2);
}

// The replaced values are written into the rows in place, as the table
// writes any number: the same bytes as FormatDbfNumber, a blank for NaN, and a
// value too wide for the field refused.
TEST(SubsetWriter, ReplacedValuesWrittenAsTheTableWritesNumbers) {
  TempDir dir;
  const std::vector<double> values = {0.1,   -0.0,  2.675, 1e-7,      123456.789, -9999.995, 0.125, 7,
                                      -3.5,  1234567.8, 0.005, kNaNValue(), 180.25, -0.01, 9999999.99, 0.3};
  std::vector<std::pair<double, double>> points(values.size(), {-93, 42});
  const std::string src = test::WritePointSet(dir, "log", points, std::vector<double>(values.size(), 1));
  SubsetOptions options;
  options.replaceField = 1;
  options.replaceValues = &values;
  SubsetResult result;
  Error error;
  ASSERT_TRUE(WriteShapeSubset(src, (dir / "out.shp").string(), std::vector<uint8_t>(values.size(), 1), options,
                               result, &error))
      << error.text;
  const std::string dbf = test::ReadFileBytes(dir / "out.dbf");
  const size_t header = size_t(uint8_t(dbf[8]) | uint8_t(dbf[9]) << 8);
  const size_t length = size_t(uint8_t(dbf[10]) | uint8_t(dbf[11]) << 8);
  ASSERT_EQ(length, 21u);  // deletion flag, Rate (10), SRC_REC (10)
  for (size_t i = 0; i < values.size(); ++i) {
    const std::string field = dbf.substr(header + i * length + 1, 10);
    const std::string expected = std::isnan(values[i]) ? std::string(10, ' ') : FormatDbfNumber(values[i], 10, 2);
    EXPECT_EQ(field, expected) << values[i];
    EXPECT_EQ(dbf.substr(header + i * length + 11, 10), FormatDbfNumber(double(i + 1), 10, 0));
  }
  const std::vector<double> wide = {1e12};
  options.replaceValues = &wide;
  EXPECT_FALSE(WriteShapeSubset(src, (dir / "wide.shp").string(), {1}, options, result, &error));
  EXPECT_FALSE(std::filesystem::exists(dir / "wide.dbf"));
}

// Records chosen past the end of the ".shp" are left out of every file: the
// table is written for the records the ".shp" holds.
TEST(SubsetWriter, ChosenRecordsPastTheShapesEndAreLeftOut) {
  TempDir dir;
  const std::string src = test::WritePointSet(dir, "log", {{-93, 42}, {-93.1, 42.1}, {-93.2, 42.2}}, {1, 2, 3});
  SubsetResult result;
  Error error;
  ASSERT_TRUE(WriteShapeSubset(src, (dir / "out.shp").string(), {1, 0, 1, 1, 1}, {}, result, &error)) << error.text;
  EXPECT_EQ(result.records, 2);
  const std::string dbf = test::ReadFileBytes(dir / "out.dbf");
  const size_t header = size_t(uint8_t(dbf[8]) | uint8_t(dbf[9]) << 8);
  const size_t length = size_t(uint8_t(dbf[10]) | uint8_t(dbf[11]) << 8);
  EXPECT_EQ(Little(dbf, 4), 2);
  ASSERT_EQ(dbf.size(), header + 2 * length + 1);
  EXPECT_EQ(dbf.substr(header + length - 10, 10), FormatDbfNumber(1, 10, 0));
  EXPECT_EQ(dbf.substr(header + 2 * length - 10, 10), FormatDbfNumber(3, 10, 0));
  EXPECT_EQ(Records(test::ReadFileBytes(dir / "out.shp")).size(), 2u);
}

TEST(SubsetWriter, NothingKeptGivesAnEmptySet) {
  TempDir dir;
  const std::string src = test::WritePointSet(dir, "log", {{-93, 42}, {-93.1, 42.1}}, {1, 2});
  SubsetResult result;
  Error error;
  ASSERT_TRUE(WriteShapeSubset(src, (dir / "none.shp").string(), {0, 0}, {}, result, &error));
  EXPECT_EQ(test::ReadFileBytes(dir / "none.shp").size(), 100u);
  EXPECT_EQ(test::ReadFileBytes(dir / "none.shx").size(), 100u);
  DbfTable table((dir / "none.dbf").string());
  EXPECT_EQ(table.GetRecordCount(), 0);
}

TEST(SubsetWriter, FailuresLeaveTheOldSetWhole) {
  TempDir dir;
  const std::string src = test::WritePointSet(dir, "log", {{-93, 42}, {-93.1, 42.1}, {-93.2, 42.2}}, {1, 2, 3});
  SubsetResult result;
  Error error;
  const std::string out = (dir / "out.shp").string();
  ASSERT_TRUE(WriteShapeSubset(src, out, {1, 1, 1}, {}, result, &error));
  const std::string before[3] = {test::ReadFileBytes(dir / "out.shp"), test::ReadFileBytes(dir / "out.shx"),
                                 test::ReadFileBytes(dir / "out.dbf")};
  for (const test::WriteFaultCase& fault : test::WriteFaultCases()) {
    if (fault.step == SafeWriteStep::Rename) continue;  // the set lands by its own renames
    test::ScopedWriteFault scoped(fault);
    EXPECT_FALSE(WriteShapeSubset(src, out, {0, 1, 0}, {}, result, &error)) << fault.name;
    EXPECT_FALSE(error.text.empty()) << fault.name;
    EXPECT_EQ(test::ReadFileBytes(dir / "out.shp"), before[0]) << fault.name;
    EXPECT_EQ(test::ReadFileBytes(dir / "out.shx"), before[1]) << fault.name;
    EXPECT_EQ(test::ReadFileBytes(dir / "out.dbf"), before[2]) << fault.name;
    EXPECT_TRUE(test::TemporaryFilesIn(dir.path()).empty()) << fault.name;
  }
  // A folder in the way of one file stops the landing before any file moved.
  std::filesystem::create_directory(dir / "out.prj");
  test::WriteFileBytes(dir / "log.prj", "GEOGCS[\"x\"]");
  EXPECT_FALSE(WriteShapeSubset(src, out, {0, 1, 0}, {}, result, &error));
  EXPECT_EQ(test::ReadFileBytes(dir / "out.shp"), before[0]);
  EXPECT_TRUE(test::TemporaryFilesIn(dir.path()).empty());
  // Onto its own files: refused, nothing touched.
  EXPECT_FALSE(WriteShapeSubset(src, src, {0, 1, 0}, {}, result, &error));
  EXPECT_EQ(error.id, TextIdOf(kMsgSubsetOntoItself));
  EXPECT_EQ(test::ReadFileBytes(dir / "log.dbf").size(), test::RateTable({1, 2, 3}).size());
}

}  // namespace
}  // namespace kestrune
