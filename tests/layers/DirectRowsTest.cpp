// A big point log's rows read straight into its records give every record the
// value, flags and colour that reading the rows beside the shapes gives, and
// the same legend and summary: themed by a number, by a text, by nothing, with
// a table shorter than the log, on generated logs and the real ones, and
// whatever the threads and spans the records are shared out in.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "layers/DirectRows.h"
#include "layers/Layer.h"
#include "layers/LayerInfo.h"
#include "layers/LayerList.h"
#include "layers/LogFields.h"
#include "layers/RowScan.h"
#include "support/TestSupport.h"

namespace kestrune {
namespace {

using namespace kestrune::test;
namespace fs = std::filesystem;

struct RecordState {
  int number;
  uint64_t valueBits;
  uint32_t flags;
  Color color;
  bool operator==(const RecordState& o) const {
    return number == o.number && valueBits == o.valueBits && flags == o.flags && color == o.color;
  }
};

std::vector<RecordState> StateOf(const Layer& layer) {
  std::vector<RecordState> out;
  layer.Records().ForEach([&out](Shape* s) {
    const double v = s->GetValue();
    uint64_t bits = 0;
    // Every NaN is "no value".
    if (!std::isnan(v)) std::memcpy(&bits, &v, sizeof bits);
    else bits = 1;
    out.push_back({s->GetRecordNumber(), bits, s->GetFilterFlags(), s->GetColor()});
  });
  return out;
}

// The layer loaded with its rows read beside the shapes (direct false) or
// straight into its records.
std::unique_ptr<Layer> LoadLayer(const std::string& shp, bool direct) {
  SetDirectRowsMinRecords(direct ? 0 : SIZE_MAX);
  auto layer = std::make_unique<Layer>();
  layer->SetPathName(shp);
  const bool ok = layer->Open() && layer->Load();
  SetDirectRowsMinRecords(4096);
  if (!ok) return nullptr;
  return layer;
}

void ExpectSameLoads(const std::string& shp) {
  SCOPED_TRACE(shp);
  const auto beside = LoadLayer(shp, false);
  const auto direct = LoadLayer(shp, true);
  ASSERT_TRUE(beside && direct);
  const std::vector<RecordState> want = StateOf(*beside);
  ASSERT_EQ(StateOf(*direct), want);
  EXPECT_EQ(direct->GetLegend().SaveBytes(), beside->GetLegend().SaveBytes());
  EXPECT_EQ(direct->GetLegend().GetClassLabels(), beside->GetLegend().GetClassLabels());
  EXPECT_EQ(direct->IsCategorised(), beside->IsCategorised());
  EXPECT_EQ(direct->IsFieldAreaKnown(0), beside->IsFieldAreaKnown(0));
  EXPECT_EQ(direct->GetSummary().fieldArea[0], beside->GetSummary().fieldArea[0]);
  EXPECT_EQ(direct->GetSummary().fieldVolume[0], beside->GetSummary().fieldVolume[0]);
  EXPECT_EQ(direct->GetSummary().date, beside->GetSummary().date);
  // Any threads and spans give the same records.
  for (const auto& [threads, span] : std::vector<std::pair<unsigned, size_t>>{{2, 7}, {3, 1}, {1, 100}}) {
    direct->Records().ForEach([](Shape* s) {
      s->SetValue(-12345.0);
      s->SetFilterFlags(0);
    });
    const DirectRows again = ApplyRowsDirect(*direct, direct->GetTablePath(), direct->GetLegendColumn(),
                                             direct->GetLogFields(), nullptr, MaxRowsOfShapeFile(shp), threads, span);
    ASSERT_TRUE(again.applied || direct->IsCategorised());
    if (!again.applied) continue;
    direct->ApplyColors();
    EXPECT_EQ(StateOf(*direct), want) << threads << " threads, spans of " << span;
  }
}

// Writes a ".gpe" that colours by the field of that name through the legend.
void ThemeBy(const fs::path& shp, int field) {
  std::ofstream(fs::path(shp).replace_extension(".gpe"))
      << "[Options]\r\nLEGEND_COL=" << field << "\r\nCOLOR_METHOD=1\r\n";
}

class GeneratedLog : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string command = std::string("/usr/bin/python3 '") + KESTRUNE_SHARED_TOOLS_DIR +
                                "/make_field_log.py' '" + dir_.path().string() + "' --points 5003 >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) GTEST_SKIP() << "python3 with pyshp is needed to write the log";
    shp_ = (dir_ / "points.shp").string();
  }
  TempDir dir_;
  std::string shp_;
};

TEST_F(GeneratedLog, EveryThemeReadsAsBesideTheShapes) {
  // Fields: Rate, Target, Boom, Speed, Elev, Product, Logged, Time, Width.
  for (int field : {1, 3, 5, 6, 7, 0}) {
    SCOPED_TRACE("theme field " + std::to_string(field));
    if (field > 0) ThemeBy(shp_, field);
    else fs::remove(fs::path(shp_).replace_extension(".gpe"));
    ExpectSameLoads(shp_);
  }
}

// What `kestrune-cli info --records` prints is the same line for line, the
// summary of the direct load (worked out on first use) against the summary
// worked out at once from rows read whole.
TEST_F(GeneratedLog, InfoLinesAreTheSame) {
  ThemeBy(shp_, 1);
  const auto eager = LoadLayer(shp_, false);
  const auto direct = LoadLayer(shp_, true);
  ASSERT_TRUE(eager && direct);
  ComputeLogValues(*eager);
  EXPECT_FALSE(eager->IsSummaryPending());
  EXPECT_TRUE(direct->IsSummaryPending());
  const std::vector<std::string> want = LayerInfoLines(*eager, "points.shp", true);
  const std::vector<std::string> got = LayerInfoLines(*direct, "points.shp", true);
  ASSERT_EQ(got.size(), want.size());
  ASSERT_GT(want.size(), 5000u);
  for (size_t i = 0; i < want.size(); ++i) ASSERT_EQ(got[i], want[i]) << "line " << i;
  EXPECT_NE(want[0].find("\"summary\": {"), std::string::npos) << want[0].substr(0, 400);
}

TEST_F(GeneratedLog, ATableShorterThanTheLogReadsAsBesideTheShapes) {
  ThemeBy(shp_, 1);
  // The table's last 1000 rows cut off (its header still announces them).
  const fs::path dbf = fs::path(shp_).replace_extension(".dbf");
  std::string bytes = ReadFileBytes(dbf);
  const size_t header = static_cast<unsigned char>(bytes[8]) | static_cast<unsigned char>(bytes[9]) << 8;
  const size_t row = static_cast<unsigned char>(bytes[10]) | static_cast<unsigned char>(bytes[11]) << 8;
  bytes.resize(header + row * 4003 + row / 2);
  WriteFileBytes(dbf, bytes);
  ExpectSameLoads(shp_);
  const auto direct = LoadLayer(shp_, true);
  ASSERT_TRUE(direct);
  size_t without = 0;
  direct->Records().ForEach([&without](Shape* s) { without += s->HasValue() ? 0 : 1; });
  EXPECT_EQ(without, 1000u);
}

// Rate (the theme) and Boom hold texts of every form a number field may hold,
// in the last rows too: the quick reader and ParseDbfNumber agree on each.
TEST_F(GeneratedLog, OddNumberTextsReadAsBesideTheShapes) {
  ThemeBy(shp_, 1);
  const fs::path dbf = fs::path(shp_).replace_extension(".dbf");
  std::string bytes = ReadFileBytes(dbf);
  const auto word = [&bytes](size_t at) {
    return static_cast<size_t>(static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8);
  };
  const size_t header = word(8), rowBytes = word(10);
  // Field descriptors: Rate first, Boom third; offsets after the deletion flag.
  const size_t rateLength = static_cast<unsigned char>(bytes[32 + 16]);
  const size_t boomOffset = 1 + rateLength + static_cast<unsigned char>(bytes[64 + 16]);
  const size_t boomLength = static_cast<unsigned char>(bytes[96 + 16]);
  const char* const texts[] = {"",        "   ",      "-0.00",  "0.5",     "  +12.25", "1e2",   ".75",
                               "12.",     "-.5",      "7.125",  "1234567.89", "  - 3.0", "abc", "12.3.4",
                               "99999999999", "0.0000001", "  12.50", "NUL"};
  const size_t count = sizeof texts / sizeof texts[0];
  const auto put = [&](size_t row, size_t offset, size_t length, std::string text) {
    if (text == "NUL") text = std::string(3, '\0');
    text = text.substr(0, length);
    const std::string field = std::string(length - text.size(), ' ') + text;
    bytes.replace(header + row * rowBytes + offset, length, field);
  };
  for (size_t i = 0; i < count; ++i) {
    for (size_t row : {i * 7, 5003 - 1 - i}) {
      put(row, 1, rateLength, texts[i]);
      put(row, boomOffset, boomLength, texts[(i + 3) % count]);
    }
  }
  WriteFileBytes(dbf, bytes);
  ExpectSameLoads(shp_);
}

TEST(DirectRows, RealPointFilesReadAsBesideTheShapes) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  const TempDir dir;
  for (const char* name : {"field/yield-simple1.shp", "field/as-applied-simple1.shp"}) {
    ExpectSameLoads(CopyFileSet(data / name, dir.path()).string());
  }
}

}  // namespace
}  // namespace kestrune
