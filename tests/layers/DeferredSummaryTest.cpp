// A load reads the log fields for the filter flags alone and works the
// summary out on its first use: that summary, and the flags, equal what a
// whole reading of the rows gives at once, in both units, on generated logs
// (projected ones too) and on the real as-applied log.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "base/Preferences.h"
#include "layers/Layer.h"
#include "layers/LayerList.h"
#include "layers/LogFields.h"
#include "support/TestSupport.h"

namespace kestrune {
namespace {

using namespace kestrune::test;

class Units {
 public:
  explicit Units(bool metric) : was_(GetPreferences().IsMetric()) { GetPreferences().SetMetric(metric); }
  ~Units() { GetPreferences().SetMetric(was_); }
  Units(const Units&) = delete;
  Units& operator=(const Units&) = delete;

 private:
  bool was_;
};

void ExpectSameSummary(const FileSummary& want, const FileSummary& got) {
  EXPECT_EQ(want.productCount, got.productCount);
  for (int i = 0; i < kProductSlots; ++i) {
    EXPECT_EQ(want.fieldArea[i], got.fieldArea[i]) << "slot " << i;
    EXPECT_EQ(want.fieldVolume[i], got.fieldVolume[i]) << "slot " << i;
  }
  EXPECT_EQ(want.hasDate, got.hasDate);
  EXPECT_EQ(want.date, got.date);
  EXPECT_EQ(want.hasTimes, got.hasTimes);
  EXPECT_EQ(want.startHour, got.startHour);
  EXPECT_EQ(want.startMinute, got.startMinute);
  EXPECT_EQ(want.endHour, got.endHour);
  EXPECT_EQ(want.endMinute, got.endMinute);
}

std::vector<uint32_t> FlagsOf(const Layer& layer) {
  std::vector<uint32_t> flags;
  layer.Records().ForEach([&flags](Shape* s) { flags.push_back(s->GetFilterFlags()); });
  return flags;
}

// Loads the file, takes the summary the first use works out, then reads the
// rows whole (as a change of log fields or units does) and compares.
void ExpectDeferredEqualsEager(const std::string& shp, bool metric, bool wantArea) {
  SCOPED_TRACE(shp + (metric ? " (metric)" : " (U.S.)"));
  Units units(metric);
  LayerList list;
  Layer* layer = list.AddLayer(shp, true);
  ASSERT_NE(layer, nullptr);
  EXPECT_TRUE(layer->IsSummaryPending()) << "the load left the summary for later";
  EXPECT_TRUE(layer->IsFieldAreaKnown(0)) << "the totals know at once that the file has a summary";
  const std::vector<uint32_t> loadFlags = FlagsOf(*layer);
  const FileSummary deferred = layer->GetSummary();
  EXPECT_FALSE(layer->IsSummaryPending());
  ComputeLogValues(*layer);
  ExpectSameSummary(layer->GetSummary(), deferred);
  EXPECT_EQ(FlagsOf(*layer), loadFlags);
  EXPECT_EQ(deferred.fieldArea[0] > 0.0, wantArea);
}

TEST(DeferredSummary, GeneratedLogsGiveTheEagerSummary) {
  const TempDir dir;
  for (const char* utm : {"", " --utm"}) {
    const std::string out = (dir / (std::string("log") + (*utm ? "utm" : ""))).string();
    const std::string command = std::string("/usr/bin/python3 '") + KESTRUNE_SHARED_TOOLS_DIR +
                                "/make_field_log.py' '" + out + "' --points 5003" + utm + " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) GTEST_SKIP() << "python3 with pyshp is needed to write the log";
    for (bool metric : {false, true}) ExpectDeferredEqualsEager(out + "/points.shp", metric, true);
  }
}

// Records removed before the summary is first asked for leave it that of the
// log as loaded, as a summary worked out at the load is.
TEST(DeferredSummary, RemovedRecordsLeaveTheSummaryOfTheLoad) {
  const TempDir dir;
  const std::string command = std::string("/usr/bin/python3 '") + KESTRUNE_SHARED_TOOLS_DIR + "/make_field_log.py' '" +
                              dir.path().string() + "' --points 5003 >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) GTEST_SKIP() << "python3 with pyshp is needed to write the log";
  const std::string shp = (dir / "points.shp").string();
  LayerList list;
  Layer* eager = list.AddLayer(shp, true);
  ASSERT_NE(eager, nullptr);
  ComputeLogValues(*eager);
  const FileSummary want = eager->GetSummary();
  ASSERT_GT(want.fieldArea[0], 0.0);
  LayerList other;
  Layer* layer = other.AddLayer(shp, true);
  ASSERT_NE(layer, nullptr);
  ASSERT_TRUE(layer->IsSummaryPending());
  std::vector<Shape*> half;
  size_t i = 0;
  layer->Records().ForEach([&](Shape* s) {
    if (i++ % 2 == 0) half.push_back(s);
  });
  layer->SelectRecords(half);
  ASSERT_TRUE(layer->RemoveSelectedRecords());
  layer->RemoveRecord(layer->Records().front());
  EXPECT_EQ(layer->GetRecordCount(), 5003u / 2 - 1);
  ExpectSameSummary(want, layer->GetSummary());
}

TEST(DeferredSummary, TheRealAsAppliedLogGivesTheEagerSummary) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  const TempDir dir;
  const std::string shp = CopyFileSet(data / "field" / "as-applied-simple1.shp", dir.path()).string();
  for (bool metric : {false, true}) ExpectDeferredEqualsEager(shp, metric, false);
}

}  // namespace
}  // namespace kestrune
