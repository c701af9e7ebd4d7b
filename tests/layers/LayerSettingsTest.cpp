#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <string>

#include "layers/LayerSettings.h"
#include "support/TestSupport.h"

namespace kestrune {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

constexpr double kDefaultSizeFt = 30.0;

// Loads a settings file holding text into fresh settings.
struct Loaded {
  LayerSettings settings;
  SettingsLoadResult result;
  std::string fileAfter;
};
Loaded LoadFromText(const std::string& text) {
  TempDir dir;
  const std::string path = (dir / "field.gpe").string();
  WriteFileBytes(path, text);
  Loaded loaded;
  loaded.result = LoadLayerSettings(path, loaded.settings, kDefaultSizeFt);
  loaded.fileAfter = ReadFileBytes(path);
  return loaded;
}

TEST(SettingsNumbers, ConvertAsTheCLibraryDoesWithin32Bits) {
  EXPECT_EQ(ParseSettingInt("150"), 150);
  EXPECT_EQ(ParseSettingInt(" \t-12x"), -12);
  EXPECT_EQ(ParseSettingInt("+7"), 7);
  EXPECT_EQ(ParseSettingInt("abc"), 0);
  EXPECT_EQ(ParseSettingInt("-"), 0);
  EXPECT_EQ(ParseSettingInt("1.9"), 1);
  EXPECT_EQ(ParseSettingInt("2147483647"), 2147483647);
  EXPECT_EQ(ParseSettingInt("99999999999999999999999"), 2147483647);
  EXPECT_EQ(ParseSettingInt("-2147483648"), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(ParseSettingInt("-99999999999"), std::numeric_limits<int32_t>::min());
}

TEST(SettingsNumbers, DisplaySizeIsHundredthsOfAFootTruncated) {
  EXPECT_EQ(DisplaySizeToSetting(2.345), 234);
  EXPECT_DOUBLE_EQ(DisplaySizeFromSetting(234), 2.34);
  EXPECT_EQ(DisplaySizeToSetting(-2.345), -234);
  EXPECT_EQ(DisplaySizeToSetting(1e300), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(DisplaySizeToSetting(-std::numeric_limits<double>::infinity()),
            std::numeric_limits<int32_t>::min());
  EXPECT_EQ(DisplaySizeToSetting(std::nan("")), 0);

  // One metre in metric mode is kept as feet and written as 328.
  LayerSettings s;
  SetDisplaySize(s, 1.0, true);
  EXPECT_DOUBLE_EQ(s.displaySizeFt, 3.280839895);
  EXPECT_EQ(SettingValueText(s, SettingKey::DisplaySize), "328");
  EXPECT_NEAR(GetDisplaySize(s, true), 1.0, 1e-12);
  EXPECT_DOUBLE_EQ(GetDisplaySize(s, false), 3.280839895);
}

TEST(SettingsNumbers, LegendColumnKeepsItsLow16BitsAndIsWrittenSignExtended) {
  EXPECT_EQ(LegendColumnFromSetting(65539), 3);
  EXPECT_EQ(LegendColumnFromSetting(-1), -1);
  EXPECT_EQ(LegendColumnFromSetting(65535), -1);
  EXPECT_EQ(LegendColumnFromSetting(32768), -32768);
  LayerSettings s;
  EXPECT_EQ(SettingValueText(s, SettingKey::LegendColumn), "-1");
  s.solidColor = 0xC0C0C0;
  EXPECT_EQ(SettingValueText(s, SettingKey::SolidColor), "12632256");
  s.drawBorder = false;
  EXPECT_EQ(SettingValueText(s, SettingKey::DrawBorder), "0");
}

TEST(SettingsRead, EmptyValuesAreAbsentNonNumbersAreZeroAndLongValuesAreCut) {
  const IniFile file = IniFile::Parse(
      "[Options]\nDRAW_BORDER=\nCOLOR_METHOD=abc\nLEGEND_COL= 3 \n"
      "DISPLAY_SIZE=" + std::string(49, '0') + "1\n");
  int32_t value = 77;
  EXPECT_FALSE(ReadSetting(file, "DRAW_BORDER", value));
  EXPECT_EQ(value, 0);  // set even when absent
  EXPECT_TRUE(ReadSetting(file, "COLOR_METHOD", value));
  EXPECT_EQ(value, 0);
  EXPECT_TRUE(ReadSetting(file, "legend_col", value));
  EXPECT_EQ(value, 3);
  // Only 49 characters fit the buffer: the final 1 is cut off.
  EXPECT_TRUE(ReadSetting(file, "DISPLAY_SIZE", value));
  EXPECT_EQ(value, 0);
  value = 5;
  EXPECT_FALSE(ReadSetting(file, "SOLID_COLOR", value));
  EXPECT_EQ(value, 0);
}

TEST(SettingsLoad, KeysPresentAreAppliedAndOthersKeepTheirValues) {
  const Loaded a = LoadFromText(
      "[Options]\r\nDISPLAY_SIZE=150\r\nDRAW_BORDER=2\r\nCOLOR_METHOD=1\r\n"
      "SOLID_COLOR=65280\r\nLEGEND_COL=65539\r\n");
  EXPECT_EQ(a.result.keysRead, 5);
  EXPECT_DOUBLE_EQ(a.settings.displaySizeFt, 1.5);
  EXPECT_FALSE(a.settings.drawBorder);  // only 1 means a border
  EXPECT_EQ(a.settings.colorMethod, 1);
  EXPECT_EQ(a.settings.solidColor, 0x00FF00u);
  EXPECT_EQ(a.settings.legendColumn, 3);
  EXPECT_FALSE(a.result.displaySizeDefaulted);

  const Loaded b = LoadFromText("[OPTIONS]\nDISPLAY_SIZE=1500\n");
  EXPECT_EQ(b.result.keysRead, 1);
  EXPECT_TRUE(b.settings.drawBorder);
  EXPECT_EQ(b.settings.solidColor, 0xC0C0C0u);
  EXPECT_EQ(b.settings.legendColumn, -1);
  EXPECT_EQ(b.fileAfter, "[OPTIONS]\nDISPLAY_SIZE=1500\n");  // nothing written
}

TEST(SettingsLoad, LegendColoursWithoutAColumnFallBackToSolidInMemoryOnly) {
  for (const std::string& text : {std::string("[Options]\r\nDISPLAY_SIZE=150\r\nCOLOR_METHOD=1\r\n"),
                                  std::string("[Options]\r\nDISPLAY_SIZE=150\r\nCOLOR_METHOD=1\r\n"
                                              "LEGEND_COL=0\r\n"),
                                  std::string("[Options]\r\nDISPLAY_SIZE=150\r\nCOLOR_METHOD=1\r\n"
                                              "LEGEND_COL=x\r\n")}) {
    const Loaded loaded = LoadFromText(text);
    EXPECT_EQ(loaded.settings.colorMethod, kColorMethodSolid) << text;
    EXPECT_TRUE(loaded.result.colorMethodForced);
    EXPECT_EQ(loaded.fileAfter, text);
  }
}

TEST(SettingsLoad, ASizeBelowOneFootTakesTheDefaultAndWritesItBack) {
  const Loaded small = LoadFromText("[Options]\r\nDISPLAY_SIZE=99\r\nLEGEND_COL=2\r\n");
  EXPECT_TRUE(small.result.displaySizeDefaulted);
  EXPECT_TRUE(small.result.displaySizeWritten);
  EXPECT_DOUBLE_EQ(small.settings.displaySizeFt, kDefaultSizeFt);
  EXPECT_EQ(small.fileAfter, "[Options]\r\nDISPLAY_SIZE=3000\r\nLEGEND_COL=2\r\n");

  const Loaded exact = LoadFromText("[Options]\r\nDISPLAY_SIZE=100\r\n");
  EXPECT_FALSE(exact.result.displaySizeDefaulted);
  EXPECT_DOUBLE_EQ(exact.settings.displaySizeFt, 1.0);

  // No file at all: every field keeps its value and the default size creates the file.
  TempDir dir;
  const std::string path = (dir / "new.gpe").string();
  LayerSettings settings;
  settings.legendColumn = 4;
  settings.colorMethod = 1;
  const SettingsLoadResult result = LoadLayerSettings(path, settings, 12.345);
  EXPECT_EQ(result.keysRead, 0);
  EXPECT_EQ(settings.legendColumn, 4);
  EXPECT_EQ(settings.colorMethod, 1);
  EXPECT_DOUBLE_EQ(settings.displaySizeFt, 12.345);
  EXPECT_EQ(ReadFileBytes(path), "[Options]\r\nDISPLAY_SIZE=1234\r\n");
}

TEST(SettingsLoad, AFileThatCannotBeWrittenKeepsTheChangeInMemory) {
  TempDir dir;
  // A folder in the file's place cannot be read nor replaced.
  const std::filesystem::path folder = dir / "field.gpe";
  std::filesystem::create_directory(folder);
  LayerSettings settings;
  const SettingsLoadResult result = LoadLayerSettings(folder.string(), settings, kDefaultSizeFt);
  EXPECT_TRUE(result.displaySizeDefaulted);
  EXPECT_FALSE(result.displaySizeWritten);
  EXPECT_DOUBLE_EQ(settings.displaySizeFt, kDefaultSizeFt);
  EXPECT_TRUE(std::filesystem::is_directory(folder));
}

TEST(SettingsLoad, AReadOnlyFileIsLeftAsItIs) {
  // The mode decides, for root too.
  TempDir dir;
  const std::string path = (dir / "field.gpe").string();
  WriteFileBytes(path, "[Options]\r\nDISPLAY_SIZE=50\r\n");
  chmod(path.c_str(), 0444);
  LayerSettings settings;
  const SettingsLoadResult result = LoadLayerSettings(path, settings, kDefaultSizeFt);
  EXPECT_TRUE(result.displaySizeDefaulted);
  EXPECT_FALSE(result.displaySizeWritten);
  EXPECT_DOUBLE_EQ(settings.displaySizeFt, kDefaultSizeFt);
  EXPECT_EQ(ReadFileBytes(path), "[Options]\r\nDISPLAY_SIZE=50\r\n");
}

TEST(SettingsWrite, SettersWriteTheirKeyAndValuesReadBack) {
  TempDir dir;
  const std::string path = (dir / "field.gpe").string();
  LayerSettings written;
  written.displaySizeFt = 2.345;
  written.drawBorder = false;
  written.colorMethod = 1;
  written.solidColor = 0x123456;
  written.legendColumn = 7;
  ASSERT_TRUE(WriteDisplayDialogSettings(path, written));
  EXPECT_EQ(ReadFileBytes(path),
            "[Options]\r\nSOLID_COLOR=1193046\r\nDISPLAY_SIZE=234\r\nDRAW_BORDER=0\r\n"
            "COLOR_METHOD=1\r\nLEGEND_COL=7\r\n");

  LayerSettings read;
  LoadLayerSettings(path, read, kDefaultSizeFt);
  EXPECT_DOUBLE_EQ(read.displaySizeFt, 2.34);
  EXPECT_FALSE(read.drawBorder);
  EXPECT_EQ(read.colorMethod, 1);
  EXPECT_EQ(read.solidColor, 0x123456u);
  EXPECT_EQ(read.legendColumn, 7);

  // Choosing a theme field rewrites two keys in place, the others untouched.
  written.legendColumn = -1;
  ASSERT_TRUE(WriteLayerSetting(path, written, SettingKey::LegendColumn));
  ASSERT_TRUE(WriteIntSetting(path, kKeyColorMethod, 0));
  EXPECT_EQ(ReadFileBytes(path),
            "[Options]\r\nSOLID_COLOR=1193046\r\nDISPLAY_SIZE=234\r\nDRAW_BORDER=0\r\n"
            "COLOR_METHOD=0\r\nLEGEND_COL=-1\r\n");
}

TEST(SettingsRealFiles, TheFieldFilesLoadAsTheViewerShowsThem) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  TempDir dir;
  auto load = [&](const std::string& name, LayerSettings& settings) {
    const std::filesystem::path copy = dir / (name + ".gpe");
    std::filesystem::copy_file(data / "field" / (name + ".gpe"), copy);
    // The test data is read-only; the copy stands for a user's own file.
    std::filesystem::permissions(copy, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
    LoadLayerSettings(copy.string(), settings, kDefaultSizeFt);
    return ReadFileBytes(copy);
  };

  LayerSettings applied;
  const std::string appliedAfter = load("as-applied-simple1", applied);
  EXPECT_DOUBLE_EQ(applied.displaySizeFt, 20.0);
  EXPECT_FALSE(applied.drawBorder);
  EXPECT_EQ(applied.colorMethod, 1);
  EXPECT_EQ(applied.solidColor, 12632256u);
  EXPECT_EQ(applied.legendColumn, 1);
  EXPECT_EQ(appliedAfter, ReadFileBytes(data / "field" / "as-applied-simple1.gpe"));

  LayerSettings yield;
  load("yield-simple1", yield);
  EXPECT_DOUBLE_EQ(yield.displaySizeFt, 15.0);
  EXPECT_TRUE(yield.drawBorder);
  EXPECT_EQ(yield.colorMethod, 1);
  EXPECT_EQ(yield.solidColor, 12632256u);
  EXPECT_EQ(yield.legendColumn, 1);

  // No "DISPLAY_SIZE": the default is taken and added after the existing keys.
  LayerSettings soil;
  const std::string soilAfter = load("ssurgo-simple1", soil);
  EXPECT_DOUBLE_EQ(soil.displaySizeFt, 30.0);
  EXPECT_TRUE(soil.drawBorder);
  EXPECT_EQ(soil.colorMethod, 1);
  EXPECT_EQ(soil.solidColor, 65280u);
  EXPECT_EQ(soil.legendColumn, 3);
  EXPECT_EQ(soilAfter, ReadFileBytes(data / "field" / "ssurgo-simple1.gpe") + "DISPLAY_SIZE=3000\r\n");
}

}  // namespace
}  // namespace kestrune
