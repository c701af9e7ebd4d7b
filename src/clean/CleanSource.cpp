#include "clean/CleanSource.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <optional>
#include <cstring>
#include <limits>
#include <memory>

#include "base/Paths.h"
#include "base/Preferences.h"
#include "base/SafeFile.h"
#include "lang/LangString.h"
#include "layers/IniFile.h"
#include "layers/LayerSettings.h"
#include "shapes/DbfTable.h"
#include "shapes/FileSet.h"

namespace kestrune {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kEarthRadius = 6371008.8;  // metres, the mean radius
constexpr double kPi = 3.14159265358979323846;

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

Error ReadError(const char* text, const std::string& path, const std::string& reason = {}) {
  Error e;
  e.text = LangFormat(text, path.c_str());
  e.caption = LangText(kMsgCleanCaption);
  e.file = path;
  e.reason = reason;
  e.id = TextIdOf(text);
  return e;
}

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

int32_t BigInt(const unsigned char* p) { return int32_t(uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]); }
int32_t LittleInt(const unsigned char* p) { return int32_t(uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]); }
double LittleDouble(const unsigned char* p) {
  double d;
  std::memcpy(&d, p, 8);
  return d;
}

// The points of the ".shp", in file coordinates; false when it is no point file.
bool ReadPoints(const std::string& path, std::vector<double>& x, std::vector<double>& y, Error* error) {
  FilePtr file(std::fopen(path.c_str(), "rb"));
  if (!file) return Fail(error, ReadError(kMsgCleanReadFailed, path, std::strerror(errno)));
  unsigned char header[100];
  if (std::fread(header, 1, 100, file.get()) != 100 || BigInt(header) != 9994) {
    return Fail(error, ReadError(kMsgCleanReadFailed, path));
  }
  const int32_t type = LittleInt(header + 32);
  if (type != 1 && type != 11 && type != 21) return Fail(error, ReadError(kMsgCleanNotPoints, path));
  std::vector<unsigned char> buffer(size_t(1) << 22);
  size_t have = 0, at = 0;
  bool end = false;
  // Makes count bytes available from at; false at the end of the file.
  auto need = [&](size_t count) {
    if (have - at >= count) return true;
    std::memmove(buffer.data(), buffer.data() + at, have - at);
    have -= at;
    at = 0;
    if (buffer.size() < count) buffer.resize(count);
    while (!end && have < count) {
      const size_t got = std::fread(buffer.data() + have, 1, buffer.size() - have, file.get());
      if (got == 0) end = true;
      have += got;
    }
    return have >= count;
  };
  while (need(8)) {
    const int64_t words = BigInt(buffer.data() + at + 4);
    at += 8;
    const size_t bytes = size_t(std::max<int64_t>(words, 0)) * 2;
    if (!need(bytes)) break;  // a truncated record ends the file
    const unsigned char* p = buffer.data() + at;
    if (bytes >= 20 && LittleInt(p) != 0) {
      x.push_back(LittleDouble(p + 4));
      y.push_back(LittleDouble(p + 12));
    } else {
      x.push_back(kNaN);
      y.push_back(kNaN);
    }
    at += bytes;
  }
  return true;
}

// Puts the positions on a plane in metres.
void ToMetres(const std::string& base, std::vector<double>& x, std::vector<double>& y) {
  bool degrees = true;
  double latSum = 0.0;
  size_t count = 0;
  for (size_t i = 0; i < x.size(); ++i) {
    if (!std::isfinite(x[i]) || !std::isfinite(y[i])) continue;
    if (std::fabs(x[i]) > 180.0 || std::fabs(y[i]) > 90.0) degrees = false;
    latSum += y[i];
    ++count;
  }
  if (count == 0) return;
  std::string prj;
  const std::string prjPath = FindSideFile(base, "prj");
  if (!prjPath.empty()) ReadSideFile(prjPath, kMaxPrjFileBytes, prj);
  if (prj.rfind("PROJCS", 0) == 0) degrees = false;
  if (degrees) {
    const double scaleY = kEarthRadius * kPi / 180.0;
    const double scaleX = scaleY * std::cos(latSum / double(count) * kPi / 180.0);
    for (size_t i = 0; i < x.size(); ++i) {
      x[i] *= scaleX;
      y[i] *= scaleY;
    }
    return;
  }
  // The linear unit is the last UNIT of a projected system.
  const size_t unit = Upper(prj).rfind("UNIT[");
  if (unit != std::string::npos) {
    const size_t comma = prj.find(',', unit);
    if (comma != std::string::npos) {
      const double metres = std::atof(prj.c_str() + comma + 1);
      if (metres > 0.0 && metres != 1.0) {
        for (size_t i = 0; i < x.size(); ++i) {
          x[i] *= metres;
          y[i] *= metres;
        }
      }
    }
  }
}

// The text of a field in a row, without the blanks around it.
std::string_view FieldText(const unsigned char* row, const DbfField& f) {
  const char* p = reinterpret_cast<const char*>(row) + f.offset;
  size_t b = 0, e = size_t(f.length);
  while (b < e && (p[b] == ' ' || p[b] == '\0')) ++b;
  while (e > b && (p[e - 1] == ' ' || p[e - 1] == '\0')) --e;
  return std::string_view(p + b, e - b);
}

double NumberOf(const unsigned char* row, const DbfField& f) {
  const std::string_view text = FieldText(row, f);
  // Blank, or no number at all ("*****" is how some writers leave a value out).
  if (text.find_first_of("0123456789") == std::string_view::npos) return kNaN;
  return ParseDbfNumber(text.data(), text.size());
}

}  // namespace

int SpeedField(const std::vector<DbfField>& fields, const IniFile* settings) {
  if (settings) {
    int32_t value = 0;
    if (ReadSetting(*settings, kSpeedColKey, value)) return value >= 1 && size_t(value) <= fields.size() ? value : 0;
  }
  for (size_t i = 0; i < fields.size(); ++i) {
    const std::string name = Upper(fields[i].name);
    if (IsNumericLogField(fields[i]) &&
        (name.find("SPEED") != std::string::npos || name.find("VEL") != std::string::npos)) {
      return int(i) + 1;
    }
  }
  return 0;
}

int FindFieldByName(const DbfTable& table, const std::string& name) {
  const std::string wanted = Upper(name);
  for (int f = 1; f <= table.GetFieldCount(); ++f) {
    const DbfField* field = table.GetField(f);
    if (field && Upper(field->name) == wanted) return f;
  }
  if (!name.empty() && std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    const long number = std::strtol(name.c_str(), nullptr, 10);
    if (number >= 1 && number <= table.GetFieldCount()) return int(number);
  }
  return 0;
}

bool LoadCleanField(const std::string& shpPath, int field, CleanInput& input, Error* error) {
  if (input.Values(field)) return true;
  const std::string base = BasePathOf(shpPath);
  DbfTable table;
  const std::string dbfPath = FindSideFile(base, "dbf");
  if (dbfPath.empty() || !table.Open(dbfPath)) return Fail(error, ReadError(kMsgCleanReadFailed, base + ".dbf"));
  const DbfField* f = table.GetField(field);
  if (!f || !f->readable) return Fail(error, ReadError(kMsgCleanReadFailed, dbfPath));
  if (input.values.size() <= size_t(field)) input.values.resize(size_t(field) + 1);
  std::vector<double>& out = input.values[size_t(field)];
  out.assign(input.size(), kNaN);
  const size_t rows = std::min<size_t>(input.size(), size_t(std::max(table.GetRecordCount(), 0)));
  for (size_t r = 0; r < rows; ++r) {
    const unsigned char* row = table.RowBytes(int(r) + 1);
    if (row) out[r] = NumberOf(row, *f);
  }
  return true;
}

bool LoadCleanInput(const std::string& shpPath, const CleanSettings& settings, CleanInput& input, Error* error) {
  input = CleanInput{};
  const std::string base = BasePathOf(shpPath);
  if (!ReadPoints(shpPath, input.x, input.y, error)) return false;
  ToMetres(base, input.x, input.y);
  const size_t n = input.size();
  input.speedUnitsPerMps = GetPreferences().IsMetric() ? 3.6 : 3600.0 / 1609.344;

  const std::string dbfPath = FindSideFile(base, "dbf");
  DbfTable table;
  if (dbfPath.empty() || !table.Open(dbfPath)) return Fail(error, ReadError(kMsgCleanReadFailed, base + ".dbf"));
  IniFile gpe;
  const std::string gpePath = FindSideFile(base, "gpe");
  if (!gpePath.empty()) gpe.Load(gpePath);
  const std::vector<DbfField> fields = TableFields(table);
  const LogFields log = ApplyLogFieldKeys(gpe, DetectLogFields(fields), table.GetFieldCount());
  const int speedField = SpeedField(fields, &gpe);

  const DbfField* date = log.Has(LogField::Date) ? table.GetField(log[LogField::Date]) : nullptr;
  const DbfField* time = log.Has(LogField::Time) ? table.GetField(log[LogField::Time]) : nullptr;
  const DbfField* boom = log.Has(LogField::Boom) ? table.GetField(log[LogField::Boom]) : nullptr;
  const DbfField* width = log.Has(LogField::Width) ? table.GetField(log[LogField::Width]) : nullptr;
  const DbfField* speed = speedField > 0 ? table.GetField(speedField) : nullptr;
  std::vector<std::pair<const DbfField*, std::vector<double>*>> values;
  for (int field : settings.ValueFields()) {
    const DbfField* f = table.GetField(field);
    if (!f || !IsNumericLogField(*f)) continue;
    if (input.values.size() <= size_t(field)) input.values.resize(size_t(field) + 1);
    input.values[size_t(field)].assign(n, kNaN);
  }
  for (int field : settings.ValueFields()) {
    const DbfField* f = table.GetField(field);
    if (f && size_t(field) < input.values.size() && input.values[size_t(field)].size() == n) {
      values.emplace_back(f, &input.values[size_t(field)]);
    }
  }
  if (time) input.time.assign(n, kNaN);
  if (boom) input.boom.assign(n, kNaN);
  if (width) input.width.assign(n, kNaN);
  if (speed) input.speed.assign(n, kNaN);
  const bool needRows = time || boom || width || speed || !values.empty();
  const size_t rows = needRows ? std::min<size_t>(n, size_t(std::max(table.GetRecordCount(), 0))) : 0;
  for (size_t r = 0; r < rows; ++r) {
    const unsigned char* row = table.RowBytes(int(r) + 1);
    if (!row) break;
    if (time) {
      double seconds = 0.0;
      const std::string_view text = FieldText(row, *time);
      if (!text.empty() && ParseLogTime(text, seconds)) {
        int64_t days = 0;
        if (date && ParseLogDate(FieldText(row, *date), days)) seconds += double(days) * 86400.0;
        input.time[r] = seconds;
      }
    }
    if (boom) input.boom[r] = NumberOf(row, *boom);
    if (width) input.width[r] = NumberOf(row, *width);
    if (speed) input.speed[r] = NumberOf(row, *speed);
    for (auto& v : values) (*v.second)[r] = NumberOf(row, *v.first);
  }
  return true;
}

// ---- settings keys

namespace {

std::string Key(CleanFilter f, const char* what) {
  return std::string("CLEAN_") + Upper(CleanFilterName(f)) + (what[0] ? "_" : "") + what;
}

std::string Number(double v) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}

bool ReadDouble(const IniFile& ini, const std::string& key, double& value) {
  const std::optional<std::string> text = ini.Find(kSettingsSection, key);
  if (!text) return false;
  char* end = nullptr;
  const double v = std::strtod(text->c_str(), &end);
  if (end == text->c_str() || !std::isfinite(v)) return false;
  value = v;
  return true;
}

// Every key of the cleaning, with a reader and a writer of its value.
struct KeyDef {
  CleanFilter filter;
  const char* what;
  enum Kind { Field, Real, Int, Delay } kind;
  size_t offset;
};

#define CLEAN_KEY(filter, what, kind, member) \
  KeyDef { CleanFilter::filter, what, KeyDef::kind, offsetof(CleanSettings, member) }

const KeyDef kKeys[] = {
    CLEAN_KEY(Range, "COL", Field, rangeField),  CLEAN_KEY(Range, "MIN", Real, rangeMin),
    CLEAN_KEY(Range, "MAX", Real, rangeMax),     CLEAN_KEY(Speed, "MIN", Real, speedMin),
    CLEAN_KEY(Speed, "MAX", Real, speedMax),     CLEAN_KEY(StdDev, "COL", Field, sdField),
    CLEAN_KEY(StdDev, "K", Real, sdK),           CLEAN_KEY(Local, "COL", Field, localField),
    CLEAN_KEY(Local, "K", Real, localK),         CLEAN_KEY(Local, "N", Int, localN),
    CLEAN_KEY(Pass, "START", Delay, startDelay), CLEAN_KEY(Pass, "END", Delay, endDelay),
    CLEAN_KEY(Flow, "COL", Field, flowField),    CLEAN_KEY(Flow, "DELAY", Delay, flowDelay),
    CLEAN_KEY(Width, "MIN", Real, minWidth),
};
#undef CLEAN_KEY

}  // namespace

bool ParseCleanDelay(const std::string& text, CleanDelay& delay) {
  if (text.empty()) return false;
  std::string number = text;
  CleanDelay d;
  if (number.back() == 'r' || number.back() == 'R') {
    d.records = true;
    number.pop_back();
  } else if (number.back() == 's' || number.back() == 'S') {
    number.pop_back();
  }
  char* end = nullptr;
  d.amount = std::strtod(number.c_str(), &end);
  if (number.empty() || end != number.c_str() + number.size() || !std::isfinite(d.amount)) return false;
  delay = d;
  return true;
}

// Whether the removed records draw as shadows: "0" or "1".
constexpr const char* kShowRemovedKey = "CLEAN_SHOW_REMOVED";

std::string CleanDelayText(const CleanDelay& delay) { return Number(delay.amount) + (delay.records ? "r" : ""); }

CleanSettings ReadCleanSettings(const IniFile& ini) {
  CleanSettings s;
  for (int i = 0; i < kCleanFilterCount; ++i) {
    const CleanFilter f = static_cast<CleanFilter>(i);
    s.SetOn(f, ini.GetString(kSettingsSection, Key(f, "")) == "1");
  }
  s.showRemoved = ini.GetString(kSettingsSection, kShowRemovedKey) == "1";
  char* bytes = reinterpret_cast<char*>(&s);
  for (const KeyDef& k : kKeys) {
    const std::string key = Key(k.filter, k.what);
    double v = 0.0;
    switch (k.kind) {
      case KeyDef::Field:
      case KeyDef::Int:
        if (ReadDouble(ini, key, v)) *reinterpret_cast<int*>(bytes + k.offset) = int(v);
        break;
      case KeyDef::Real:
        if (ReadDouble(ini, key, v)) *reinterpret_cast<double*>(bytes + k.offset) = v;
        break;
      case KeyDef::Delay:
        if (auto text = ini.Find(kSettingsSection, key)) {
          ParseCleanDelay(*text, *reinterpret_cast<CleanDelay*>(bytes + k.offset));
        }
        break;
    }
  }
  return s;
}

void StoreCleanSettings(IniFile& ini, const CleanSettings& clean) {
  RemoveCleanSettings(ini);
  if (!clean.Any()) return;
  const char* bytes = reinterpret_cast<const char*>(&clean);
  for (int i = 0; i < kCleanFilterCount; ++i) {
    const CleanFilter f = static_cast<CleanFilter>(i);
    ini.SetString(kSettingsSection, Key(f, ""), clean.IsOn(f) ? "1" : "0");
  }
  ini.SetString(kSettingsSection, kShowRemovedKey, clean.showRemoved ? "1" : "0");
  for (const KeyDef& k : kKeys) {
    std::string value;
    switch (k.kind) {
      case KeyDef::Field:
      case KeyDef::Int: value = std::to_string(*reinterpret_cast<const int*>(bytes + k.offset)); break;
      case KeyDef::Real: value = Number(*reinterpret_cast<const double*>(bytes + k.offset)); break;
      case KeyDef::Delay: value = CleanDelayText(*reinterpret_cast<const CleanDelay*>(bytes + k.offset)); break;
    }
    ini.SetString(kSettingsSection, Key(k.filter, k.what), value);
  }
}

bool RemoveCleanSettings(IniFile& ini) {
  bool any = false;
  for (int i = 0; i < kCleanFilterCount; ++i) {
    while (ini.RemoveKey(kSettingsSection, Key(static_cast<CleanFilter>(i), ""))) any = true;
  }
  for (const KeyDef& k : kKeys) {
    while (ini.RemoveKey(kSettingsSection, Key(k.filter, k.what))) any = true;
  }
  while (ini.RemoveKey(kSettingsSection, kShowRemovedKey)) any = true;
  return any;
}

}  // namespace kestrune
