// The Clean Log dialog on the sample farm's log: defaults from the data, live
// counts per filter, OK cleaning the layer and keeping the settings, Restore.
#include <gtest/gtest.h>

#include <QCheckBox>

#include <cstdlib>
#include <vector>

#include "base/Preferences.h"
#include "clean/LayerCleaning.h"
#include "clean/gui/CleanLogDialog.h"
#include "layers/Layer.h"
#include "layers/LayerList.h"
#include "support/TestSupport.h"

namespace kestrune {
namespace {

// The sample farm's as-applied log, open in metric units; the test skips
// when python3 with pyshp is missing.
class CleanLogDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string script = std::string(KESTRUNE_SOURCE_DIR) + "/tools/make_sample_farm.py";
    const std::string command = "/usr/bin/python3 '" + script + "' '" + dir_.path().string() + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) GTEST_SKIP() << "python3 with pyshp is needed to write the sample farm";
    GetPreferences().SetMetric(true);
    layer_ = list_.AddLayer((dir_ / "as-applied.shp").string(), true);
    ASSERT_NE(layer_, nullptr);
  }

  test::TempDir dir_;
  LayerList list_;
  Layer* layer_ = nullptr;
};

TEST_F(CleanLogDialog, CountsLiveAndCleansOnOk) {
  Layer* layer = layer_;

  CCleanLogDialog dialog(*layer);
  CleanSettings s = dialog.Settings();
  // Nothing is on before the user chooses; the range offers the field's percentiles.
  EXPECT_FALSE(s.Any());
  EXPECT_EQ(s.rangeField, 2);  // RATE, the theme
  EXPECT_LT(s.rangeMin, s.rangeMax);
  EXPECT_EQ(dialog.CountText(CleanFilter::Range), "");

  s.SetOn(CleanFilter::Range, true);
  s.rangeMin = 1;
  s.rangeMax = 1000;
  s.SetOn(CleanFilter::Duplicates, true);
  dialog.SetSettings(s);
  dialog.Recount();
  EXPECT_EQ(dialog.CountText(CleanFilter::Range), "158 removed (158 alone)");
  EXPECT_EQ(dialog.CountText(CleanFilter::Duplicates), "0 removed (0 alone)");
  EXPECT_EQ(dialog.TotalText(), "158 of 2,772 records removed");
  EXPECT_EQ(dialog.Settings().rangeMin, 1);

  dialog.accept();
  EXPECT_EQ(layer->GetFilter().GetCleanRemovedCount(), 158u);
  EXPECT_EQ(CleaningStatusNote(list_), "Cleaning: 158 of 2,772 records removed");

  // A new dialog starts from the kept settings.
  CCleanLogDialog again(*layer);
  EXPECT_TRUE(again.Settings().IsOn(CleanFilter::Range));
  EXPECT_EQ(again.CountText(CleanFilter::Range), "158 removed (158 alone)");
}


// OK cleans on a worker with a progress window; cancelled (here at once, and
// within the run), it leaves the layer's flags and kept settings as they
// were and the dialog open; run to its end, it cleans.
TEST_F(CleanLogDialog, CancelledCleaningLeavesTheLayerAsItWas) {
  Layer* layer = layer_;
  CleanSettings range;
  range.SetOn(CleanFilter::Range, true);
  range.rangeField = 2;
  range.rangeMin = 1;
  range.rangeMax = 1000;
  Error error;
  ASSERT_TRUE(CleanLayer(*layer, range, false, true, nullptr, &error)) << error.text;
  ASSERT_EQ(layer->GetFilter().GetCleanRemovedCount(), 158u);

  CCleanLogDialog dialog(*layer);
  CleanSettings more = dialog.Settings();
  more.SetOn(CleanFilter::Local, true);
  more.SetOn(CleanFilter::StdDev, true);
  more.sdField = more.localField = 2;
  more.sdK = 1;
  dialog.SetSettings(more);
  // Stopped when first told, and when told again (the next filter's start).
  for (const size_t stopAt : {1u, 2u}) {
    std::vector<int> told;
    dialog.SetRunObserver([&](int percent) {
      told.push_back(percent);
      return told.size() < stopAt;
    });
    dialog.accept();
    EXPECT_EQ(told.size(), stopAt);
    EXPECT_EQ(dialog.result(), 0) << stopAt;
    EXPECT_EQ(dialog.TotalText(), "Cleaning cancelled; the log is as it was.") << stopAt;
    EXPECT_EQ(layer->GetFilter().GetCleanRemovedCount(), 158u) << stopAt;
    EXPECT_FALSE(StoredCleanSettings(*layer).IsOn(CleanFilter::StdDev)) << stopAt;
  }
  dialog.SetRunObserver({});
  dialog.accept();
  EXPECT_EQ(dialog.result(), int(QDialog::Accepted));
  EXPECT_GT(layer->GetFilter().GetCleanRemovedCount(), 158u);
  EXPECT_TRUE(StoredCleanSettings(*layer).IsOn(CleanFilter::StdDev));
}

}  // namespace
}  // namespace kestrune
