#include "layers/LayerSettings.h"

#include <cmath>
#include <limits>

#include "base/Platform.h"
#include "base/Saturate.h"
#include "lang/FileErrorText.h"
#include "lang/LangString.h"

namespace kestrune {

namespace {

// The white space the C library skips before a number.
bool IsCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Tells on the status line why a settings file could not be read or written:
// the change itself stays in memory, only the file keeps its old text.
void ReportSettingsLoad(const std::string& path, IniLoadStatus status, int error) {
  if (status == IniLoadStatus::TooLarge) {
    ShowStatus(SideFileRefusalText(path, SideFileStatus::TooLarge, kMaxSettingsFileBytes));
  } else if (status == IniLoadStatus::Unreadable) {
    ShowStatus(SideFileRefusalText(path, SideFileStatus::Unreadable, kMaxSettingsFileBytes, error));
  }
}

// Loads, edits and saves a settings file, telling the status line of a failure.
template <typename Edit>
bool RewriteSettings(const std::string& settingsPath, Edit edit) {
  IniFile file;
  // A file that exists but cannot be read must not be replaced by one holding only the new keys.
  const IniLoadStatus status = file.Load(settingsPath);
  if (status == IniLoadStatus::Unreadable || status == IniLoadStatus::TooLarge) {
    ShowStatus(LangFormat(kMsgSettingsNotWritten, settingsPath.c_str()));
    return false;
  }
  if (!edit(file)) return false;
  // A file the next read would refuse would lose every key it holds.
  if (file.ToText().size() > kMaxSettingsFileBytes) {
    ShowStatus(LangFormat(kMsgSettingsTooLargeToWrite, settingsPath.c_str(), ByteSizeText(kMaxSettingsFileBytes).c_str()));
    return false;
  }
  FileWriteError error;
  if (file.Save(settingsPath, &error)) return true;
  ShowStatus(FileWriteErrorText(error));
  return false;
}

}  // namespace

// The key text of a setting.
const char* SettingKeyName(SettingKey key) {
  switch (key) {
    case SettingKey::DisplaySize: return kKeyDisplaySize;
    case SettingKey::DrawBorder: return kKeyDrawBorder;
    case SettingKey::ColorMethod: return kKeyColorMethod;
    case SettingKey::SolidColor: return kKeySolidColor;
    case SettingKey::LegendColumn: return kKeyLegendColumn;
    case SettingKey::FillOpacity: return kKeyFillOpacity;
  }
  return "";
}

// atol of a 32-bit long: blanks, sign, digits, saturating.
int32_t ParseSettingInt(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsCSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // Accumulate in 64 bits and stop growing past the 32-bit range, which saturates.
  const int64_t limit = negative ? -static_cast<int64_t>(std::numeric_limits<int32_t>::min())
                                 : std::numeric_limits<int32_t>::max();
  int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > limit) magnitude = limit;
  }
  return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

// Feet to the stored hundredths, truncated and kept in range.
// Beyond the range of the stored long the nearest limit is the honest value.
int32_t DisplaySizeToSetting(double feet) { return SaturatingTruncate(feet * 100.0); }

// The low 16 bits of a stored legend column, as a signed field number.
int16_t LegendColumnFromSetting(int32_t value) {
  const int32_t low = static_cast<int32_t>(static_cast<uint32_t>(value) & 0xFFFFu);
  return static_cast<int16_t>(low >= 0x8000 ? low - 0x10000 : low);
}

// The display size in feet or metres.
double GetDisplaySize(const LayerSettings& settings, bool metric) {
  return metric ? settings.displaySizeFt * kMetresPerFoot : settings.displaySizeFt;
}

// Stores a display size given in feet or metres.
void SetDisplaySize(LayerSettings& settings, double value, bool metric) {
  settings.displaySizeFt = metric ? value * kFeetPerMetre : value;
}

// The decimal text written for one setting.
std::string SettingValueText(const LayerSettings& settings, SettingKey key) {
  switch (key) {
    case SettingKey::DisplaySize:
      return std::to_string(DisplaySizeToSetting(settings.displaySizeFt));
    case SettingKey::DrawBorder: return settings.drawBorder ? "1" : "0";
    case SettingKey::ColorMethod: return std::to_string(settings.colorMethod);
    // A COLORREF's top byte is zero, so as a long it is the same positive number;
    // any other top byte is kept as the same 32 bits.
    case SettingKey::SolidColor:
      return std::to_string(static_cast<int32_t>(settings.solidColor));
    case SettingKey::LegendColumn: return std::to_string(settings.legendColumn);
    case SettingKey::FillOpacity: return std::to_string(settings.fillOpacity);
  }
  return {};
}

// Reads one key of section "Options" as the layer reads its settings.
bool ReadSetting(const IniFile& file, std::string_view key, int32_t& value) {
  std::string text = file.GetString(kSettingsSection, key, "");
  // The text is read into a fixed buffer, so longer values are cut there.
  if (text.size() > kSettingBufferSize - 1) text.resize(kSettingBufferSize - 1);
  value = ParseSettingInt(text);
  return !text.empty();
}

// Reads one key of a settings file on disk.
bool ReadSetting(const std::string& settingsPath, std::string_view key, int32_t& value) {
  IniFile file;
  int error = 0;
  const IniLoadStatus status = file.Load(settingsPath, &error);
  ReportSettingsLoad(settingsPath, status, error);
  return ReadSetting(file, key, value);
}

// The text of one key of a settings file on disk.
std::string ReadSettingText(const std::string& settingsPath, std::string_view key) {
  IniFile file;
  file.Load(settingsPath);
  return file.GetString(kSettingsSection, key, "");
}

// Writes one key text into section "Options" of a settings file.
bool WriteSetting(const std::string& settingsPath, std::string_view key, std::string_view value) {
  return RewriteSettings(settingsPath,
                         [&](IniFile& file) { return file.SetString(kSettingsSection, key, value); });
}

// Writes one integer key into section "Options" of a settings file.
bool WriteIntSetting(const std::string& settingsPath, std::string_view key, int32_t value) {
  return WriteSetting(settingsPath, key, std::to_string(value));
}

// Copies every present key into the settings.
int ApplySettingsKeys(const IniFile& file, LayerSettings& settings) {
  int present = 0;
  for (SettingKey key : kSettingReadOrder) {
    int32_t value = 0;
    if (!ReadSetting(file, SettingKeyName(key), value)) continue;
    ++present;
    switch (key) {
      case SettingKey::DisplaySize: settings.displaySizeFt = DisplaySizeFromSetting(value); break;
      case SettingKey::DrawBorder: settings.drawBorder = value == 1; break;
      case SettingKey::ColorMethod: settings.colorMethod = value; break;
      case SettingKey::SolidColor: settings.solidColor = static_cast<Color>(value); break;
      case SettingKey::LegendColumn: settings.legendColumn = LegendColumnFromSetting(value); break;
      case SettingKey::FillOpacity: settings.fillOpacity = ClampFillOpacity(value); break;
    }
  }
  return present;
}

// Reads a layer's settings file and applies the load rules.
SettingsLoadResult LoadLayerSettings(const std::string& settingsPath, LayerSettings& settings,
                                     double defaultDisplaySizeFt) {
  SettingsLoadResult result;
  IniFile file;
  int error = 0;
  const IniLoadStatus status = file.Load(settingsPath, &error);
  ReportSettingsLoad(settingsPath, status, error);
  result.keysRead = ApplySettingsKeys(file, settings);
  // Legend colours need a column to read the values from.
  if (settings.legendColumn <= 0 && !IsComputedLegendColumn(settings.legendColumn)) {
    result.colorMethodForced = settings.colorMethod != kColorMethodSolid;
    settings.colorMethod = kColorMethodSolid;
  }
  // "Not at least 1" so that a size that is not a number is replaced too.
  if (!(settings.displaySizeFt >= 1.0)) {
    SetDisplaySize(settings, defaultDisplaySizeFt, false);
    result.displaySizeDefaulted = true;
    // A file that was refused keeps its text (and has been reported already).
    if (status == IniLoadStatus::Ok || status == IniLoadStatus::Missing) {
      result.displaySizeWritten = WriteLayerSetting(settingsPath, settings, SettingKey::DisplaySize);
    }
  }
  return result;
}

// Writes the key of one setting.
bool WriteLayerSetting(const std::string& settingsPath, const LayerSettings& settings,
                       SettingKey key) {
  return WriteSetting(settingsPath, SettingKeyName(key), SettingValueText(settings, key));
}

namespace {

// One read and one rewrite of the file for any number of keys.
template <typename Keys>
bool WriteKeys(const std::string& settingsPath, const LayerSettings& settings, const Keys& keys) {
  return RewriteSettings(settingsPath, [&](IniFile& file) {
    for (SettingKey key : keys) {
      file.SetString(kSettingsSection, SettingKeyName(key), SettingValueText(settings, key));
    }
    return true;
  });
}

}  // namespace

// Writes the keys of several settings at once.
bool WriteLayerSettings(const std::string& settingsPath, const LayerSettings& settings,
                        std::initializer_list<SettingKey> keys) {
  return WriteKeys(settingsPath, settings, keys);
}

// Writes all five keys in the Display dialog's order.
bool WriteDisplayDialogSettings(const std::string& settingsPath, const LayerSettings& settings) {
  return WriteKeys(settingsPath, settings, kDisplayDialogWriteOrder);
}

}  // namespace kestrune
