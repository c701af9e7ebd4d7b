#include "layers/DefaultTheme.h"

#include <atomic>
#include <fstream>
#include <optional>

#include <QString>

#include "layers/IniFile.h"
#include "layers/LayerSettings.h"

namespace kestrune {

namespace {
std::atomic<bool> g_defaultThemeOnOpen{false};
}  // namespace

void SetDefaultThemeOnOpen(bool on) { g_defaultThemeOnOpen.store(on); }
bool DefaultThemeOnOpen() { return g_defaultThemeOnOpen.load(); }

// "ID", "FID", "OBJECTID", "polygon_ID", "MUKEY" ...; any case.
bool IsIdFieldName(const std::string& name) {
  const QString upper = QString::fromLatin1(name.c_str()).trimmed().toUpper();
  return upper.endsWith(QLatin1String("ID")) || upper.endsWith(QLatin1String("KEY")) ||
         upper == QLatin1String("OID") || upper == QLatin1String("GID");
}

// The rate field first; an area file's first measure after that.
int DefaultThemeField(const std::vector<DbfField>& fields, const LogFields& logFields, int32_t shapeType) {
  const int rate = logFields[LogField::Rate];
  if (rate >= 1 && rate <= static_cast<int>(fields.size())) return rate;
  const int kind = shapeType % 10;  // Z and M kinds share the last digit
  if (kind != 5) return 0;
  for (size_t i = 0; i < fields.size(); ++i) {
    const DbfField& f = fields[i];
    if (!f.readable || !IsNumericLogField(f) || IsIdFieldName(f.name)) continue;
    return static_cast<int>(i) + 1;
  }
  return 0;
}

bool SettingsNameTheme(const IniFile& settings) {
  const std::optional<std::string> value = settings.Find(kSettingsSection, kKeyLegendColumn);
  return value && !value->empty();
}

// The little-endian type at byte 32 of the header.
int32_t ShapeTypeOfFile(const std::string& shpPath) {
  std::ifstream in(shpPath, std::ios::binary);
  unsigned char header[36];
  if (!in.read(reinterpret_cast<char*>(header), sizeof header)) return 0;
  return static_cast<int32_t>(uint32_t{header[32]} | uint32_t{header[33]} << 8 | uint32_t{header[34]} << 16 |
                              uint32_t{header[35]} << 24);
}

}  // namespace kestrune
