// Fuzzes the ini-file reader and the layer settings: the input is a ".gpe" text.
// What it reads must read the same after writing it out; replacing a key must
// change only that key's line; loading the settings from disk must agree with
// reading them from the text.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "layers/IniFile.h"
#include "layers/LayerSettings.h"

namespace {

using kestrune::IniFile;
using kestrune::LayerSettings;

// One scratch file per fuzzing process, rewritten for every input and removed at
// exit (its name lives in a plain array, which outlasts every destructor).
char gScratchName[] = "/tmp/fuzz_gpe_XXXXXX";
const std::string& ScratchPath() {
  static const std::string path = [] {
    int fd = mkstemp(gScratchName);
    if (fd < 0) std::abort();
    close(fd);
    std::atexit([] { std::remove(gScratchName); });
    return std::string(gScratchName);
  }();
  return path;
}

const char* const kKeys[] = {"DISPLAY_SIZE", "DRAW_BORDER", "COLOR_METHOD", "SOLID_COLOR",
                             "LEGEND_COL", "display_size", "A", "x"};
const char* const kSections[] = {"Options", "OPTIONS", "other", "A"};

// Every lookup of interest, to compare two readings of the same settings.
std::vector<std::optional<std::string>> Lookups(const IniFile& file) {
  std::vector<std::optional<std::string>> out;
  for (const char* section : kSections) {
    for (const char* key : kKeys) out.push_back(file.Find(section, key));
  }
  return out;
}

// True when every field of the two settings is equal.
bool SameSettings(const LayerSettings& a, const LayerSettings& b) {
  // Display sizes come from the same integer, so they compare exactly.
  return a.displaySizeFt == b.displaySizeFt && a.drawBorder == b.drawBorder &&
         a.colorMethod == b.colorMethod && a.solidColor == b.solidColor &&
         a.legendColumn == b.legendColumn;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const IniFile file = IniFile::Parse(text);
  const auto before = Lookups(file);

  // Written out (CRLF) and read again, it reads the same and has the same lines.
  const IniFile again = IniFile::Parse(file.ToText());
  if (Lookups(again) != before) std::abort();
  if (again.GetLines() != file.GetLines()) std::abort();

  LayerSettings settings;
  kestrune::ApplySettingsKeys(file, settings);
  if (settings.displaySizeFt != settings.displaySizeFt) std::abort();

  // Replacing a key changes its value and at most its own line, or adds lines.
  IniFile edited = file;
  if (!edited.SetString("Options", "DISPLAY_SIZE", "123")) std::abort();
  if (edited.GetString("options", "display_size") != "123") std::abort();
  const std::vector<std::string> oldLines = file.GetLines();
  const std::vector<std::string> newLines = edited.GetLines();
  if (newLines.size() == oldLines.size()) {
    int differing = 0;
    for (size_t i = 0; i < oldLines.size(); ++i) differing += oldLines[i] != newLines[i];
    if (differing > 1) std::abort();
  } else if (newLines.size() != oldLines.size() + 1 && newLines.size() != oldLines.size() + 2) {
    std::abort();
  }
  for (const char* key : {"DRAW_BORDER", "COLOR_METHOD", "SOLID_COLOR", "LEGEND_COL"}) {
    if (edited.Find("Options", key) != file.Find("Options", key)) std::abort();
  }

  // The same text on disk loads to the same settings, and the default size it may
  // write back reads as written. Safe writes sync the disk, so only one input in
  // eight (chosen by its bytes) takes this path, to keep the parser's pace.
  unsigned sum = 0;
  for (size_t i = 0; i < size; ++i) sum += data[i];
  if (sum % 8 != 0) return 0;
  const std::string& path = ScratchPath();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  if (size && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
  LayerSettings loaded;
  const kestrune::SettingsLoadResult result = kestrune::LoadLayerSettings(path, loaded, 30.0);
  if (settings.legendColumn <= 0) settings.colorMethod = kestrune::kColorMethodSolid;
  if (!(settings.displaySizeFt >= 1.0)) settings.displaySizeFt = 30.0;
  if (!SameSettings(settings, loaded)) std::abort();
  if (result.displaySizeDefaulted) {
    int32_t stored = 0;
    if (!kestrune::ReadSetting(path, "DISPLAY_SIZE", stored) || stored != 3000) std::abort();
  }
  return 0;
}
