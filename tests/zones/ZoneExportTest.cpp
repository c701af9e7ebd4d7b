// The zones written as a shape file set: its fields and records, and a set
// already under the name left whole by a write that fails at any step.
#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/LandingJournal.h"
#include "base/SafeFile.h"
#include "layers/LayerList.h"
#include "layers/LayerTestFiles.h"
#include "shapes/DbfTable.h"
#include "zones/ZoneExport.h"

namespace kestrune {
namespace {

namespace fs = std::filesystem;

std::map<std::string, std::string> FolderBytes(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::directory_iterator(dir)) {
    if (e.is_regular_file()) files[e.path().filename().string()] = test::ReadFileBytes(e.path());
  }
  return files;
}

class ZoneExport : public ::testing::Test {
 protected:
  void SetUp() override {
    // Two zones side by side; three points in the first, one in the second, one outside.
    zonesPath_ = test::WriteAreaSet(dir_, "zones", {test::Square(-93.0, 42.0, 0.01), test::Square(-92.97, 42.0, 0.01)},
                                    {1.0, 2.0});
    logPath_ = test::WritePointSet(dir_, "log", {{-93.0, 42.0}, {-93.005, 42.002}, {-92.995, 41.998}, {-92.97, 42.0},
                                                 {-92.0, 43.0}},
                                   {10.0, 20.0, 30.0, 7.0, 99.0});
    zones_ = list_.AddLayer(zonesPath_, true);
    log_ = list_.AddLayer(logPath_, true);
    ASSERT_TRUE(zones_ && log_);
    ZoneSummaryRequest request;
    request.fields = {1};
    Error error;
    ASSERT_TRUE(SummariseByZones(*zones_, *log_, request, summary_, &error)) << error.text;
    fs::create_directory(dir_ / "out");
    out_ = (dir_ / "out" / "zones-by-rate.shp").string();
  }
  void TearDown() override {
    SetSafeWriteFaultForTesting(nullptr);
    SetLandingFaultForTesting(nullptr);
  }

  test::TempDir dir_;
  std::string zonesPath_, logPath_, out_;
  LayerList list_;
  Layer* zones_ = nullptr;
  Layer* log_ = nullptr;
  ZoneSummary summary_;
};

TEST_F(ZoneExport, WritesEachZoneWithItsFigures) {
  Error error;
  ASSERT_TRUE(ExportZones(*zones_, *log_, summary_, out_, error)) << error.text;
  DbfTable table;
  ASSERT_TRUE(table.Open((dir_ / "out" / "zones-by-rate.dbf").string()));
  std::vector<std::string> names;
  for (int f = 1; f <= table.GetFieldCount(); ++f) names.push_back(table.GetField(f)->name);
  // "Rate" is the log's rate field too: the volume follows the figures.
  ASSERT_TRUE(summary_.hasVolume);
  EXPECT_EQ(names, (std::vector<std::string>{"ZONE", "RECORD", "COUNT", summary_.metric ? "AREA_HA" : "AREA_AC",
                                             "Rate_MIN", "Rate_MAX", "Rate_AVG", "Rate_WAV", "Rate_SD", "VOLUME"}));
  ASSERT_EQ(table.GetRecordCount(), 2);
  struct Expected {
    std::string zone;
    double count, min, max, mean;
  } expected[] = {{"1", 3, 10, 30, 20}, {"2", 1, 7, 7, 7}};
  for (int r = 1; r <= 2; ++r) {
    ASSERT_TRUE(table.ReadRecord(r));
    const Expected& e = expected[r - 1];
    std::string zone;
    table.GetString(1, zone);
    EXPECT_EQ(zone.substr(0, zone.find_last_not_of(' ') + 1), e.zone);
    const double want[] = {static_cast<double>(r), e.count, summary_.zones[r - 1].area, e.min, e.max, e.mean};
    for (int f = 2; f <= 7; ++f) {
      double v = -1;
      table.GetNumber(f, v);
      EXPECT_NEAR(v, want[f - 2], 1e-9 * std::max(1.0, std::abs(want[f - 2]))) << "record " << r << " field " << f;
    }
  }
  table.Close();
  // The geometry reads back as the zones: one area record each, where they were.
  LayerList back;
  Layer* written = back.AddLayer(out_, true);
  ASSERT_TRUE(written);
  ASSERT_EQ(written->GetRecordCount(), 2u);
  const MapRect a = written->GetBounds(), b = zones_->GetBounds();
  EXPECT_NEAR(a.left, b.left, 2);
  EXPECT_NEAR(a.right, b.right, 2);
  EXPECT_NEAR(a.top, b.top, 2);
  EXPECT_NEAR(a.bottom, b.bottom, 2);
}

TEST_F(ZoneExport, AFailureAtAnyStepLeavesTheOldSetWhole) {
  Error error;
  ASSERT_TRUE(ExportZones(*zones_, *log_, summary_, out_, error)) << error.text;
  const auto before = FolderBytes(dir_ / "out");
  summary_.zones[0].label = "changed";  // a second write would differ
  struct Case {
    const char* what;
    std::function<void()> arm;
  } cases[] = {
      {"the table's temporary file", [] {
         SetSafeWriteFaultForTesting([](SafeWriteStep step, const std::string& path) {
           return step == SafeWriteStep::Write && path.size() > 4 && path.substr(path.size() - 4) == ".dbf" ? ENOSPC
                                                                                                             : 0;
         });
       }},
      {"the index's rename", [] {
         SetLandingFaultForTesting([](const char* step, const std::string& path) {
           return std::string(step) == "rename" && path.substr(path.size() - 4) == ".shx" ? EIO : 0;
         });
       }},
      {"moving the projection aside", [] {
         SetLandingFaultForTesting([](const char* step, const std::string& path) {
           return std::string(step) == "aside" && path.substr(path.size() - 4) == ".prj" ? EACCES : 0;
         });
       }},
  };
  for (const Case& c : cases) {
    c.arm();
    Error failure;
    EXPECT_FALSE(ExportZones(*zones_, *log_, summary_, out_, failure)) << c.what;
    EXPECT_FALSE(failure.text.empty()) << c.what;
    SetSafeWriteFaultForTesting(nullptr);
    SetLandingFaultForTesting(nullptr);
    EXPECT_EQ(FolderBytes(dir_ / "out"), before) << c.what;
  }
}

TEST_F(ZoneExport, RefusesAnInputsFilesAndNamesWithoutShp) {
  const auto before = FolderBytes(dir_.path());
  for (const std::string& target : {zonesPath_, logPath_, (dir_ / "zones.dbf").string(), (dir_ / "table").string()}) {
    Error error;
    EXPECT_FALSE(ExportZones(*zones_, *log_, summary_, target, error)) << target;
    EXPECT_FALSE(error.text.empty()) << target;
  }
  EXPECT_EQ(FolderBytes(dir_.path()), before);
}

}  // namespace
}  // namespace kestrune
