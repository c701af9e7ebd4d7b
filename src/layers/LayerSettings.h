// The display settings a layer keeps beside its shape file in "<base>.gpe":
// section "Options", one decimal integer per key. The layer embeds a
// LayerSettings, loads it with LoadLayerSettings when it loads, and writes the
// key of every field it changes at once with WriteLayerSetting.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "layers/IniFile.h"
#include "geo/MapPoint.h"

namespace kestrune {

constexpr const char* kSettingsExtension = ".gpe";
constexpr const char* kSettingsSection = "Options";
constexpr const char* kKeyDisplaySize = "DISPLAY_SIZE";
constexpr const char* kKeyDrawBorder = "DRAW_BORDER";
constexpr const char* kKeyColorMethod = "COLOR_METHOD";
constexpr const char* kKeySolidColor = "SOLID_COLOR";
constexpr const char* kKeyLegendColumn = "LEGEND_COL";
// The name of the field the ".lgd" was made for, written with the ".lgd".
constexpr const char* kKeyLegendField = "LEGEND_FIELD";
constexpr const char* kKeyFillOpacity = "FILL_OPACITY";
// The status line when a key could not be written because its file could not be read.
constexpr const char* kMsgSettingsNotWritten =
    "#20010010:The display settings in \"%s\" could not be read, so the change was not written to it.";
constexpr const char* kMsgSettingsTooLargeToWrite =
    "#20100011:The display settings in \"%s\" would grow past %s, more than is ever read back, so the change was not written to it.";
// Values are read into a buffer of this many characters, the last one the terminator.
constexpr std::size_t kSettingBufferSize = 50;

constexpr int kColorMethodSolid = 0;
constexpr int kColorMethodLegend = 1;
constexpr int16_t kNoLegendColumn = -1;
// Legend columns that colour a Z or M file by its records' Z or M values
// rather than by a field of its table.
constexpr int16_t kLegendColumnZ = -2;
constexpr int16_t kLegendColumnM = -3;
inline bool IsZMLegendColumn(int16_t column) { return column == kLegendColumnZ || column == kLegendColumnM; }
// Legend columns that colour a log by each record's rate less its target, or
// its rate in percent of its target (the log fields' rate and target).
constexpr int16_t kLegendColumnRateMinusTarget = -4;
constexpr int16_t kLegendColumnRatePctTarget = -5;
inline bool IsTargetLegendColumn(int16_t column) {
  return column == kLegendColumnRateMinusTarget || column == kLegendColumnRatePctTarget;
}
// A legend column whose values are worked out rather than read from one field.
inline bool IsComputedLegendColumn(int16_t column) { return IsZMLegendColumn(column) || IsTargetLegendColumn(column); }

// The settings, in the order a layer reads them. The fill opacity is written
// only when it is changed, so a file that never had one keeps its five keys.
enum class SettingKey { DisplaySize, DrawBorder, ColorMethod, SolidColor, LegendColumn, FillOpacity };
constexpr SettingKey kSettingReadOrder[] = {SettingKey::DisplaySize, SettingKey::DrawBorder,
                                            SettingKey::ColorMethod, SettingKey::SolidColor,
                                            SettingKey::LegendColumn, SettingKey::FillOpacity};
// The order in which the Display dialog's OK writes them.
constexpr SettingKey kDisplayDialogWriteOrder[] = {SettingKey::SolidColor, SettingKey::DisplaySize,
                                                   SettingKey::DrawBorder, SettingKey::ColorMethod,
                                                   SettingKey::LegendColumn};

// The key text of a setting ("DISPLAY_SIZE" ...).
const char* SettingKeyName(SettingKey key);

// A layer's display state with its initial values.
struct LayerSettings {
  double displaySizeFt = 0.0;        // point size or line width, feet
  bool drawBorder = true;            // outlines of areas, borders of point symbols
  int colorMethod = kColorMethodSolid;  // 0 solid colour, otherwise legend colours
  Color solidColor = kNeutralColor;  // colour of every record under the solid method
  int16_t legendColumn = kNoLegendColumn;  // 1-based field number; -1 or 0 none
  int fillOpacity = 100;             // areas' fill, percent opaque
};

// A fill opacity brought into 0 to 100 percent.
inline int ClampFillOpacity(int32_t percent) { return percent < 0 ? 0 : (percent > 100 ? 100 : static_cast<int>(percent)); }

// The settings file of a shape file's base path (the path without its extension).
inline std::string SettingsPathFor(const std::string& basePath) {
  return basePath + kSettingsExtension;
}

// The C library's decimal-to-long conversion as the settings were written with:
// leading blanks, an optional sign, digits up to the first non-digit (0 when
// none), saturating at the limits of a 32-bit long.
int32_t ParseSettingInt(std::string_view text);

// "DISPLAY_SIZE" text: hundredths of a foot, truncated toward zero (saturated,
// and 0 for a size that is not a number).
int32_t DisplaySizeToSetting(double feet);
// The feet a stored "DISPLAY_SIZE" stands for.
inline double DisplaySizeFromSetting(int32_t value) { return value * 0.01; }
// A stored "LEGEND_COL" keeps its low 16 bits (65539 is field 3).
int16_t LegendColumnFromSetting(int32_t value);

// Display size in feet, or metres when metric.
double GetDisplaySize(const LayerSettings& settings, bool metric);
// Stores a display size given in feet, or in metres when metric.
void SetDisplaySize(LayerSettings& settings, double value, bool metric);

// The value text written for a setting ("%ld" of its stored integer).
std::string SettingValueText(const LayerSettings& settings, SettingKey key);

// The layer's ReadSetting: the key's text from section "Options" (at most 49
// characters), converted as ParseSettingInt does; value is set in every case
// (0 for no text) and the result tells whether the text was not empty.
bool ReadSetting(const IniFile& file, std::string_view key, int32_t& value);
bool ReadSetting(const std::string& settingsPath, std::string_view key, int32_t& value);
// A key's text from section "Options"; empty when it is absent.
std::string ReadSettingText(const std::string& settingsPath, std::string_view key);
// The layer's WriteSetting and WriteIntSetting: key = value in section "Options",
// creating the file or section, through the safe-write path. A failure changes
// nothing on disk and is told on the status line (ShowStatus) with the file's
// name and the reason; a settings file that is a symbolic link is never written.
bool WriteSetting(const std::string& settingsPath, std::string_view key, std::string_view value);
bool WriteIntSetting(const std::string& settingsPath, std::string_view key, int32_t value);

// Applies every key present in file to settings, in the read order, and nothing
// else. Returns how many keys were present.
int ApplySettingsKeys(const IniFile& file, LayerSettings& settings);

// What LoadLayerSettings did beyond reading.
struct SettingsLoadResult {
  int keysRead = 0;                 // keys present in the file
  bool colorMethodForced = false;   // no legend column, so the solid colour method
  bool displaySizeDefaulted = false;  // below 1 foot, so the default (and written)
  bool displaySizeWritten = false;  // that default reached the file
};

// The settings step of loading a layer: read the keys present; without a legend
// column above 0 use the solid colour method (in memory only); with a display size
// below 1 foot take defaultDisplaySizeFt and write "DISPLAY_SIZE" at once.
SettingsLoadResult LoadLayerSettings(const std::string& settingsPath, LayerSettings& settings,
                                     double defaultDisplaySizeFt);

// Writes one setting's key from settings (what each layer setter does).
bool WriteLayerSetting(const std::string& settingsPath, const LayerSettings& settings,
                       SettingKey key);
// Writes several keys in the order given with one rewrite of the file; new keys
// are added in that order.
bool WriteLayerSettings(const std::string& settingsPath, const LayerSettings& settings,
                        std::initializer_list<SettingKey> keys);
// The Display dialog's OK: all five keys in kDisplayDialogWriteOrder.
bool WriteDisplayDialogSettings(const std::string& settingsPath, const LayerSettings& settings);

}  // namespace kestrune
