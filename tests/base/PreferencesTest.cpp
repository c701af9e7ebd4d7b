// Preferences against a real settings file in a scratch folder.
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include <QSettings>
#include <QStringList>
#include <QString>

#include <gtest/gtest.h>

#include "base/Preferences.h"
#include "support/TestSupport.h"

namespace kestrune::test {
namespace {

class Preferences : public ::testing::Test {
 protected:
  void SetUp() override {
    // Both names of the user-scope format, so nothing reaches the real ~/.config.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(dir_.path().string()));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromStdString(dir_.path().string()));
  }

  // Writes raw values into the preferences group, as a user or installer would.
  void WriteRaw(std::initializer_list<std::pair<const char*, QVariant>> values) {
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Quillmer Software, Inc.", "Kestrune");
    settings.beginGroup("Prefs");
    for (const auto& [name, value] : values) settings.setValue(name, value);
    settings.endGroup();
    settings.sync();
  }

  QVariant ReadRaw(const char* name) {
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Quillmer Software, Inc.", "Kestrune");
    settings.beginGroup("Prefs");
    return settings.value(name);
  }

  TempDir dir_;
};

TEST_F(Preferences, NoStoredValuesGiveTheDefaults) {
  CPreferences prefs;
  prefs.LoadFromConfigFile();
  EXPECT_TRUE(prefs.IsMetric());
  EXPECT_EQ(prefs.GetMetric(), 1);
  EXPECT_EQ(prefs.GetLatLongStyle(), 3);
  EXPECT_EQ(prefs.GetProjectionDatum(), 8);
  EXPECT_EQ(prefs.GetProjectionZone(), 101);
  EXPECT_EQ(prefs.GetDefaultDisplaySize(false), 30.0);
  EXPECT_EQ(prefs.GetOpenFolder(), "");
  EXPECT_EQ(prefs.GetSaveFolder(), "");
  EXPECT_EQ(prefs.GetEdition(), "");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "Quillmer Software, Inc." / "Kestrune.conf"))
      << "loading must not create the settings file";
}

TEST_F(Preferences, StoredValuesAreLoaded) {
  WriteRaw({{"OpenFileDir", "/home/grower/fields 2024"},
            {"SaveFileDir", "/home/grower/Öut"},
            {"IsMetric", 0},
            {"LatLongStyle", 5},
            {"GCTPDatum", 0},
            {"GCTPZone", 1401},
            {"DefDisplaySizeFt", 3050},
            {"Edition", "Vantrel"}});
  CPreferences prefs;
  prefs.LoadFromConfigFile();
  EXPECT_EQ(prefs.GetOpenFolder(), "/home/grower/fields 2024");
  EXPECT_EQ(prefs.GetSaveFolder(), "/home/grower/Öut");
  EXPECT_FALSE(prefs.IsMetric());
  EXPECT_EQ(prefs.GetLatLongStyle(), 5);
  EXPECT_EQ(prefs.GetProjectionDatum(), 0);
  EXPECT_EQ(prefs.GetProjectionZone(), 1401);
  EXPECT_EQ(prefs.GetDefaultDisplaySize(false), 30.5) << "3050 hundredths of a foot";
  EXPECT_EQ(prefs.GetEdition(), "Vantrel");
}

TEST_F(Preferences, OnlyExactlyOneIsMetric) {
  for (auto [stored, metric] : {std::pair<QVariant, bool>{1, true}, {0, false}, {2, false},
                                {-1, false}, {QVariant(qlonglong(4294967297LL)), true}}) {
    WriteRaw({{"IsMetric", stored}});
    CPreferences prefs;
    prefs.LoadFromConfigFile();
    // 4294967297 is no 32-bit number: ignored, so the metric default stays.
    EXPECT_EQ(prefs.IsMetric(), metric) << stored.toString().toStdString();
  }
}

TEST_F(Preferences, ValuesThatAreNotNumbersKeepTheDefaults) {
  WriteRaw({{"IsMetric", "no"},
            {"LatLongStyle", "2.5"},
            {"GCTPDatum", ""},
            {"GCTPZone", "zone 14"},
            {"DefDisplaySizeFt", "thirty"}});
  CPreferences prefs;
  prefs.LoadFromConfigFile();
  EXPECT_TRUE(prefs.IsMetric());
  EXPECT_EQ(prefs.GetLatLongStyle(), 3);
  EXPECT_EQ(prefs.GetProjectionDatum(), 8);
  EXPECT_EQ(prefs.GetProjectionZone(), 101);
  EXPECT_EQ(prefs.GetDefaultDisplaySize(false), 30.0);
}

TEST_F(Preferences, NumbersAreThirtyTwoBitAndSizesKeepTheirHundredths) {
  WriteRaw({{"GCTPZone", -60}, {"GCTPDatum", "4294967295"}, {"DefDisplaySizeFt", -1599}});
  CPreferences prefs;
  prefs.LoadFromConfigFile();
  EXPECT_EQ(prefs.GetProjectionZone(), -60);
  EXPECT_EQ(prefs.GetProjectionDatum(), -1) << "an unsigned 32-bit value reads back as signed";
  EXPECT_EQ(prefs.GetDefaultDisplaySize(false), -15.99);
}

TEST_F(Preferences, LayerCacheIsOnWithFourGibibytesUnlessTheKeysSayOtherwise) {
  struct Case {
    std::vector<std::pair<const char*, QVariant>> stored;
    bool on;
    int megabytes;
  };
  const Case cases[] = {
      {{}, true, 4096},
      {{{"LayerCache", 0}}, false, 4096},
      {{{"LayerCache", 1}, {"LayerCacheMB", 100}}, true, 100},
      {{{"LayerCache", "no"}, {"LayerCacheMB", 0}}, true, 4096},
      {{{"LayerCacheMB", -5}}, true, 4096},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.megabytes);
    {
      QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Quillmer Software, Inc.", "Kestrune");
      settings.remove("Prefs/LayerCache");
      settings.remove("Prefs/LayerCacheMB");
      for (const auto& [name, value] : c.stored) settings.setValue(QString("Prefs/") + name, value);
      settings.sync();
    }
    CPreferences prefs;
    prefs.LoadFromConfigFile();
    EXPECT_EQ(prefs.IsLayerCacheOn(), c.on);
    EXPECT_EQ(prefs.GetLayerCacheMB(), c.megabytes);
  }
  // The choice is written with the other values.
  CPreferences prefs;
  prefs.SetLayerCacheOn(false);
  prefs.SaveToConfigFile();
  EXPECT_EQ(ReadRaw("LayerCache").toInt(), 0);
}

TEST_F(Preferences, MissingValuesKeepWhatTheObjectHolds) {
  WriteRaw({{"GCTPZone", 1402}});
  CPreferences prefs;
  prefs.SetLatLongStyle(4);
  prefs.LoadFromConfigFile();
  EXPECT_EQ(prefs.GetProjectionZone(), 1402);
  EXPECT_EQ(prefs.GetLatLongStyle(), 4);
  EXPECT_EQ(prefs.GetProjectionDatum(), 8);
}

TEST_F(Preferences, SavingWritesEveryValueAndLoadsBack) {
  CPreferences prefs;
  prefs.SetOpenFolder("/data/in");
  prefs.SetSaveFolder("/data/out");
  prefs.SetMetric(false);
  prefs.SetLatLongStyle(2);
  prefs.SetProjectionDatum(12);
  prefs.SetProjectionZone(-33);
  prefs.SetDefaultDisplaySize(30.5, false);
  prefs.SaveToConfigFile();

  const auto file = dir_ / "Quillmer Software, Inc." / "Kestrune.conf";
  ASSERT_TRUE(std::filesystem::exists(file));
  EXPECT_NE(ReadFileBytes(file).find("[Prefs]"), std::string::npos);
  EXPECT_EQ(ReadRaw("DefDisplaySizeFt").toInt(), 3050);
  EXPECT_EQ(ReadRaw("IsMetric").toInt(), 0);
  EXPECT_EQ(ReadRaw("OpenFileDir").toString(), "/data/in");
  EXPECT_FALSE(ReadRaw("Edition").isValid()) << "the edition is never written";

  CPreferences loaded;
  loaded.LoadFromConfigFile();
  EXPECT_EQ(loaded.GetOpenFolder(), "/data/in");
  EXPECT_EQ(loaded.GetSaveFolder(), "/data/out");
  EXPECT_FALSE(loaded.IsMetric());
  EXPECT_EQ(loaded.GetLatLongStyle(), 2);
  EXPECT_EQ(loaded.GetProjectionDatum(), 12);
  EXPECT_EQ(loaded.GetProjectionZone(), -33);
  EXPECT_EQ(loaded.GetDefaultDisplaySize(false), 30.5);

  prefs.SetMetric(true);
  prefs.SaveToConfigFile();
  EXPECT_EQ(ReadRaw("IsMetric").toInt(), 1);
}

TEST_F(Preferences, DisplaySizeInMetresUsesTheSystemFactors) {
  CPreferences prefs;
  EXPECT_DOUBLE_EQ(prefs.GetDefaultDisplaySize(true), 9.144000000036576);
  EXPECT_EQ(prefs.GetDefaultDisplaySize(true), 30.0 * 0.3048000000012192);
  prefs.SetDefaultDisplaySize(2.0, true);
  EXPECT_EQ(prefs.GetDefaultDisplaySize(false), 2.0 * 3.280839895);
  EXPECT_DOUBLE_EQ(prefs.GetDefaultDisplaySize(false), 6.56167979);
}

TEST_F(Preferences, AMetricSizeSavesAsItsFeetNotAHundredthUnder) {
  CPreferences prefs;
  // 9.144 m is 29.99999999988 ft with these factors; it must save as 30 ft.
  prefs.SetDefaultDisplaySize(9.144, true);
  prefs.SaveToConfigFile();
  EXPECT_EQ(ReadRaw("DefDisplaySizeFt").toInt(), 3000);
  // Sizes past the 32-bit range save as its end instead of an undefined conversion.
  prefs.SetDefaultDisplaySize(1e12, false);
  prefs.SaveToConfigFile();
  EXPECT_EQ(ReadRaw("DefDisplaySizeFt").toInt(), 2147483647);
}

TEST(PreferencesGlobal, OneProcessWideObject) {
  EXPECT_EQ(&GetPreferences(), &GetPreferences());
  EXPECT_EQ(GetPreferences().GetProjectionZone(), 101);
}

TEST_F(Preferences, RecentFilesAreNewestFirstEightAtMostAndKeptOnTheirOwn) {
  CPreferences prefs;
  for (int i = 1; i <= 10; ++i) prefs.AddRecentFile("/f/" + std::to_string(i) + ".shp");
  // Opened again, a file moves to the top rather than showing twice.
  prefs.AddRecentFile("/f/5.shp");
  prefs.AddRecentFile("");
  EXPECT_EQ(prefs.GetRecentFiles(), (std::vector<std::string>{"/f/5.shp", "/f/10.shp", "/f/9.shp", "/f/8.shp",
                                                              "/f/7.shp", "/f/6.shp", "/f/4.shp", "/f/3.shp"}));
  EXPECT_TRUE(prefs.RemoveRecentFile("/f/9.shp"));
  EXPECT_FALSE(prefs.RemoveRecentFile("/f/9.shp"));
  prefs.SetMetric(false);
  prefs.SaveRecentFiles();
  // Only the list reached the file: the units wait for an explicit save.
  EXPECT_FALSE(ReadRaw("IsMetric").isValid());
  CPreferences loaded;
  loaded.LoadFromConfigFile();
  EXPECT_EQ(loaded.GetRecentFiles().size(), 7u);
  EXPECT_EQ(loaded.GetRecentFiles(), prefs.GetRecentFiles());
  // A list longer than the limit, written by hand, is cut to the newest eight.
  QStringList many;
  for (int i = 0; i < 12; ++i) many << QStringLiteral("/g/%1.shp").arg(i);
  WriteRaw({{"RecentFiles", many}});
  loaded.LoadFromConfigFile();
  ASSERT_EQ(loaded.GetRecentFiles().size(), 8u);
  EXPECT_EQ(loaded.GetRecentFiles().front(), "/g/0.shp");
  EXPECT_EQ(loaded.GetRecentFiles().back(), "/g/7.shp");
}

}  // namespace
}  // namespace kestrune::test
