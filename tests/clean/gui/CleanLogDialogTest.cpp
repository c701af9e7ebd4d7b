// The Clean Log dialog on the sample farm's log: defaults from the data, live
// counts per filter, OK cleaning the layer and keeping the settings, Restore.
#include <gtest/gtest.h>

#include <QCheckBox>

#include <cstdlib>

#include "base/Preferences.h"
#include "clean/LayerCleaning.h"
#include "clean/gui/CleanLogDialog.h"
#include "layers/Layer.h"
#include "layers/LayerList.h"
#include "support/TestSupport.h"

namespace kestrune {
namespace {

TEST(CleanLogDialog, CountsLiveAndCleansOnOk) {
  test::TempDir dir;
  const std::string script = std::string(KESTRUNE_SOURCE_DIR) + "/tools/make_sample_farm.py";
  const std::string command = "/usr/bin/python3 '" + script + "' '" + dir.path().string() + "' >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) GTEST_SKIP() << "python3 with pyshp is needed to write the sample farm";
  GetPreferences().SetMetric(true);
  LayerList list;
  Layer* layer = list.AddLayer((dir / "as-applied.shp").string(), true);
  ASSERT_NE(layer, nullptr);

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
  EXPECT_EQ(CleaningStatusNote(list), "Cleaning: 158 of 2,772 records removed");

  // A new dialog starts from the kept settings.
  CCleanLogDialog again(*layer);
  EXPECT_TRUE(again.Settings().IsOn(CleanFilter::Range));
  EXPECT_EQ(again.CountText(CleanFilter::Range), "158 removed (158 alone)");
}

}  // namespace
}  // namespace kestrune
