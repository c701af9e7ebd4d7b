// The cleaning of an open layer: removed records hidden like Show Me's, left
// out of the summary, the status note, the kept settings and Restore, and the
// subsets the File menu saves.
#include <gtest/gtest.h>

#include <cstdlib>

#include "base/Preferences.h"
#include "clean/CleanSource.h"
#include "clean/LayerCleaning.h"
#include "layers/IniFile.h"
#include "layers/Layer.h"
#include "layers/LayerList.h"
#include "shapes/DbfTable.h"
#include "shapes/Shape.h"
#include "support/TestSupport.h"

namespace kestrune {
namespace {

using test::TempDir;

// The sample farm's as-applied log (2,772 points; RATE is field 2, 158
// records have the boom off and no rate), written by tools/make_sample_farm.py.
class CleanSampleLog : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string script = std::string(KESTRUNE_SOURCE_DIR) + "/tools/make_sample_farm.py";
    const std::string command = "/usr/bin/python3 '" + script + "' '" + dir_.path().string() + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) GTEST_SKIP() << "python3 with pyshp is needed to write the sample farm";
    path_ = (dir_ / "as-applied.shp").string();
    metric_ = GetPreferences().IsMetric();
    GetPreferences().SetMetric(true);
  }
  void TearDown() override { GetPreferences().SetMetric(metric_); }

  // Counts the records of a layer that are filtered out, and those with the cleaning's flag.
  static std::pair<size_t, size_t> Hidden(const Layer& layer) {
    size_t out = 0, flagged = 0;
    layer.Records().ForEach([&](Shape* s) {
      out += s->IsFilteredOut() ? 1 : 0;
      flagged += (s->GetFilterFlags() & kFilterCleanRemoved) ? 1 : 0;
    });
    return {out, flagged};
  }

  TempDir dir_;
  std::string path_;
  bool metric_ = true;
};

TEST_F(CleanSampleLog, RemovedRecordsAreHiddenKeptAndRestored) {
  LayerList list;
  Layer* layer = list.AddLayer(path_, true);
  ASSERT_NE(layer, nullptr);
  ASSERT_TRUE(CanCleanLayer(layer));
  const double area = layer->GetSummary().fieldArea[0];
  ASSERT_GT(area, 0.0);
  ASSERT_FALSE(layer->GetLegend().GetEntries().empty());
  const double lowestBreak = layer->GetLegend().GetEntries().front().value;

  // The zero rates of the boom-off records are below the range.
  CleanSettings s;
  s.SetOn(CleanFilter::Range, true);
  s.rangeField = 2;
  s.rangeMin = 1;
  s.rangeMax = 1000;
  CleanResult result;
  Error error;
  ASSERT_TRUE(CleanLayer(*layer, s, false, true, &result, &error)) << error.text;
  EXPECT_EQ(result.Removed(), 158);
  EXPECT_EQ(Hidden(*layer), std::make_pair(size_t(158), size_t(158)));
  // A removed record cannot be selected by a rectangle.
  EXPECT_EQ(layer->FindInRect(MapRect{-2000000000, -2000000000, 2000000000, 2000000000}).size(), 2772u - 158u);
  // Nothing else is hidden, and the Show Me note does not count them.
  EXPECT_EQ(ShowMeStatusNote(list), "");
  EXPECT_EQ(CleaningStatusNote(list), "Cleaning: 158 of 2,772 records removed");
  // The boom-off records had no applied area: the summary stays.
  EXPECT_NEAR(layer->GetSummary().fieldArea[0], area, 1e-9);
  EXPECT_FALSE(layer->GetFilter().DrawsShadows());
  // The automatic legend spans the rates shown, no longer reaching down to 0.
  ASSERT_GT(layer->GetLegend().GetCount(), 1u);
  EXPECT_GT(layer->GetLegend().GetEntries().front().value, lowestBreak + 20.0);

  // The kept settings clean the log when it opens again.
  EXPECT_TRUE(StoredCleanSettings(*layer).IsOn(CleanFilter::Range));
  LayerList again;
  Layer* reopened = again.AddLayer(path_, true);
  ASSERT_NE(reopened, nullptr);
  EXPECT_EQ(Hidden(*reopened).second, 0u);
  ASSERT_TRUE(ApplyStoredCleaning(*reopened, &error)) << error.text;
  EXPECT_EQ(Hidden(*reopened), std::make_pair(size_t(158), size_t(158)));

  // A speed range removes applied records: their area leaves the summary, and
  // "show removed" draws them as shadows.
  s.SetOn(CleanFilter::Speed, true);
  s.speedMin = 0;
  s.speedMax = 9.0;
  ASSERT_TRUE(CleanLayer(*layer, s, true, true, &result, &error)) << error.text;
  const int64_t bySpeed = result.after[size_t(CleanFilter::Speed)];
  EXPECT_GT(bySpeed, 0);
  EXPECT_EQ(int64_t(Hidden(*layer).first), 158 + bySpeed);
  EXPECT_LT(layer->GetSummary().fieldArea[0], area);
  EXPECT_TRUE(layer->GetFilter().DrawsShadows());
  // Flags worked out again (a theme change) keep the cleaning.
  layer->ComputeValues();
  layer->ApplyFilter();
  EXPECT_EQ(int64_t(Hidden(*layer).second), 158 + bySpeed);

  // The subsets: what the cleaning kept, and what is shown.
  const std::vector<uint8_t> cleaned = RecordsToSave(*layer, SavedRecords::Cleaned);
  EXPECT_EQ(int64_t(std::count(cleaned.begin(), cleaned.end(), 1)), 2772 - 158 - bySpeed);
  EXPECT_EQ(RecordsToSave(*layer, SavedRecords::Shown), cleaned);
  const std::vector<uint8_t> selected = RecordsToSave(*layer, SavedRecords::Selection);
  EXPECT_EQ(std::count(selected.begin(), selected.end(), 1), 0);
  int64_t written = 0;
  ASSERT_TRUE(SaveLayerRecords(*layer, SavedRecords::Cleaned, (dir_ / "kept.shp").string(), &written, &error));
  EXPECT_EQ(written, 2772 - 158 - bySpeed);
  LayerList saved;
  Layer* subset = saved.AddLayer((dir_ / "kept.shp").string(), true);
  ASSERT_NE(subset, nullptr);
  EXPECT_EQ(int64_t(subset->GetRecordCount()), written);
  // The saved set is clean already: its settings hold no cleaning.
  EXPECT_FALSE(StoredCleanSettings(*subset).Any());

  // Restore: nothing removed, no keys.
  ASSERT_TRUE(RestoreLayer(*layer, &error)) << error.text;
  EXPECT_EQ(Hidden(*layer).second, 0u);
  EXPECT_EQ(CleaningStatusNote(list), "");
  EXPECT_FALSE(StoredCleanSettings(*layer).Any());
  EXPECT_NEAR(layer->GetSummary().fieldArea[0], area, 1e-9);
  EXPECT_EQ(layer->GetLegend().GetEntries().front().value, lowestBreak);
}

// "Show removed" is the cleaning's own choice: kept in the ".gpe" and back
// when the log opens, shadowing only the removed records, and leaving Show
// Me's shadow setting as it was either way.
TEST_F(CleanSampleLog, ShowRemovedIsItsOwnStateKeptWithTheSettings) {
  LayerList list;
  Layer* layer = list.AddLayer(path_, true);
  ASSERT_NE(layer, nullptr);
  CleanSettings s;
  s.SetOn(CleanFilter::Range, true);
  s.rangeField = 2;
  s.rangeMin = 1;
  s.rangeMax = 1000;
  Error error;
  struct Case {
    int mask;
    bool showRemoved;
  };
  // Show Me shows every record, with and without its shadows.
  const int all = kFilterBoomOn | kFilterBoomOff | kFilterRateAboveZero | kFilterRateZero;
  for (const Case c : {Case{all | kFilterShowShadows, false}, Case{all, true}, Case{all | kFilterShowShadows, true}}) {
    layer->SetFilterMask(c.mask);
    s.showRemoved = c.showRemoved;
    ASSERT_TRUE(CleanLayer(*layer, s, c.showRemoved, true, nullptr, &error)) << error.text;
    const LayerFilter& filter = layer->GetFilter();
    EXPECT_EQ(layer->GetFilterMask() & kFilterShowShadows, c.mask & kFilterShowShadows) << c.showRemoved;
    EXPECT_EQ(filter.ShowsCleanRemoved(), c.showRemoved);
    EXPECT_EQ(filter.DrawsShadows(), c.showRemoved);
    EXPECT_EQ(filter.ShadowsRecord(kFilterCleanRemoved | kFilterBoomOff), c.showRemoved);
    EXPECT_EQ(filter.ShadowsRecord(kFilterBoomOff), (c.mask & kFilterShowShadows) != 0);
    EXPECT_EQ(StoredCleanSettings(*layer).showRemoved, c.showRemoved);
    LayerList again;
    Layer* reopened = again.AddLayer(path_, true);
    ASSERT_NE(reopened, nullptr);
    ASSERT_TRUE(ApplyStoredCleaning(*reopened, &error)) << error.text;
    EXPECT_EQ(reopened->GetFilter().ShowsCleanRemoved(), c.showRemoved);
  }
  ASSERT_TRUE(RestoreLayer(*layer, &error));
  EXPECT_FALSE(layer->GetFilter().ShowsCleanRemoved());
  EXPECT_FALSE(layer->GetFilter().DrawsShadows());
}

}  // namespace
}  // namespace kestrune
