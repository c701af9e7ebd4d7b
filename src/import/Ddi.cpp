#include "import/Ddi.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace kestrune {

namespace {

constexpr double kLitresPerGallon = 3.785411784;
constexpr double kSquareMetresPerAcre = 4046.8564224;
constexpr double kHectaresPerAcre = kSquareMetresPerAcre / 10000.0;
constexpr double kKgPerPound = 0.45359237;
constexpr double kMetresPerFoot = 0.3048;
constexpr double kMetresPerMile = 1609.344;

struct DdiRow {
  int ddi;
  const char* name;
  double resolution;
  // metric: factor from the DDI's unit, decimals, unit; then U.S.
  double mFactor;
  int mDecimals;
  const char* mUnit;
  double uFactor;
  int uDecimals;
  const char* uUnit;
};

// Volume per area: mm³/m² = 0.01 L/ha. Mass per area: mg/m² = 0.01 kg/ha.
constexpr double kLHa = 0.01, kGalAc = 0.01 * kHectaresPerAcre / kLitresPerGallon;
constexpr double kKgHa = 0.01, kLbAc = 0.01 * kHectaresPerAcre / kKgPerPound;

const DdiRow kRows[] = {
    {1, "Setpoint Volume Per Area Application Rate", 0.01, kLHa, 2, "L/ha", kGalAc, 2, "gal/ac"},
    {2, "Actual Volume Per Area Application Rate", 0.01, kLHa, 2, "L/ha", kGalAc, 2, "gal/ac"},
    {6, "Setpoint Mass Per Area Application Rate", 1, kKgHa, 2, "kg/ha", kLbAc, 2, "lb/ac"},
    {7, "Actual Mass Per Area Application Rate", 1, kKgHa, 2, "kg/ha", kLbAc, 2, "lb/ac"},
    {11, "Setpoint Count Per Area Application Rate", 0.001, 10000, 0, "/ha", kSquareMetresPerAcre, 0, "/ac"},
    {12, "Actual Count Per Area Application Rate", 0.001, 10000, 0, "/ha", kSquareMetresPerAcre, 0, "/ac"},
    {16, "Setpoint Spacing Application Rate", 1, 1, 0, "mm", 1 / 25.4, 2, "in"},
    {17, "Actual Spacing Application Rate", 1, 1, 0, "mm", 1 / 25.4, 2, "in"},
    {67, "Actual Working Width", 1, 0.001, 3, "m", 0.001 / kMetresPerFoot, 2, "ft"},
    {84, "Mass Per Area Yield", 1, 1e-5, 2, "t/ha", 1e-5, 2, "t/ha"},
    {87, "Mass Per Time Yield", 1, 3.6e-6, 2, "t/h", 3.6e-6, 2, "t/h"},
    {90, "Yield Total Mass", 1, 0.001, 3, "t", 0.001, 3, "t"},
    {99, "Crop Moisture", 1, 1e-4, 2, "%", 1e-4, 2, "%"},
    {116, "Total Area", 1, 1e-4, 4, "ha", 1 / kSquareMetresPerAcre, 4, "ac"},
    {117, "Effective Total Distance", 1, 0.001, 1, "m", 0.001 / kMetresPerFoot, 1, "ft"},
    {118, "Ineffective Total Distance", 1, 0.001, 1, "m", 0.001 / kMetresPerFoot, 1, "ft"},
    {119, "Effective Total Time", 1, 1, 0, "s", 1, 0, "s"},
    {120, "Ineffective Total Time", 1, 1, 0, "s", 1, 0, "s"},
    {141, "Actual Work State", 1, 1, 0, "", 1, 0, ""},
    {148, "Total Fuel Consumption", 1, 0.001, 2, "L", 0.001 / kLitresPerGallon, 2, "gal"},
    {149, "Instantaneous Fuel Consumption per Time", 1, 0.0036, 2, "L/h",
     0.0036 / kLitresPerGallon, 2, "gal/h"},
    {161, "Actual Condensed Work State (1-16)", 1, 1, 0, "", 1, 0, ""},
    {177, "Actual length of cut", 0.001, 1, 3, "mm", 1, 3, "mm"},
    {262, "Average Crop Moisture", 1, 1e-4, 2, "%", 1e-4, 2, "%"},
    {397, "Actual Speed", 1, 0.0036, 1, "km/h", 0.001 / kMetresPerMile * 3600, 1, "mph"},
};

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

DdiShown DdiDefault(int ddi, bool metric) {
  for (const DdiRow& row : kRows) {
    if (row.ddi != ddi) continue;
    DdiShown s;
    s.name = row.name;
    s.factor = row.resolution * (metric ? row.mFactor : row.uFactor);
    s.decimals = metric ? row.mDecimals : row.uDecimals;
    s.unit = metric ? row.mUnit : row.uUnit;
    return s;
  }
  DdiShown s;
  char name[16];
  std::snprintf(name, sizeof name, "DDI_%05d", ddi < 0 ? 0 : ddi);
  s.name = name;
  return s;
}

DdiShown PresentedUnitForUser(const std::string& unit, int decimals, bool metric, int ddi) {
  DdiShown s;
  s.unit = unit;
  s.decimals = decimals;
  const std::string trimmed = Lower(unit.substr(std::min(unit.size(), unit.find_first_not_of(' '))));
  if (ddi == 67 && (trimmed == "mm" || trimmed == "cm")) {
    const double metres = trimmed == "mm" ? 0.001 : 0.01;
    s.factor = metric ? metres : metres / kMetresPerFoot;
    s.unit = metric ? "m" : "ft";
    s.decimals = metric ? 3 : 2;
    return s;
  }
  if (metric) return s;
  struct Conversion {
    const char* from;
    double factor;
    const char* to;
    int decimals;
  };
  static const Conversion kConversions[] = {
      {"m", 1 / kMetresPerFoot, "ft", 2},
      {"km/h", 1000 / kMetresPerMile, "mph", 1},
      {"l/ha", kHectaresPerAcre / kLitresPerGallon, "gal/ac", 2},
      {"kg/ha", kHectaresPerAcre / kKgPerPound, "lb/ac", 2},
      {"ha", 1 / kHectaresPerAcre, "ac", 4},
      {"l", 1 / kLitresPerGallon, "gal", 2},
      {"km", 1000 / kMetresPerMile, "mi", 2},
      {"l/h", 1 / kLitresPerGallon, "gal/h", 2},
  };
  for (const Conversion& c : kConversions) {
    if (trimmed == c.from) {
      s.factor = c.factor;
      s.unit = c.to;
      s.decimals = c.decimals;
      break;
    }
  }
  return s;
}

namespace {

std::string CutBytes(const std::string& s, std::size_t limit) {
  if (s.size() <= limit) return s;
  std::size_t n = limit;
  // Step back over continuation bytes so no character is split.
  while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  return s.substr(0, n);
}

std::string Trimmed(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.pop_back();
  std::size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  return s.substr(i);
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

std::string UniqueFieldName(const std::string& name, std::set<std::string>& taken) {
  std::string base = Trimmed(CutBytes(Trimmed(name), 10));
  if (base.empty()) base = "FIELD";
  std::string candidate = base;
  for (int n = 2; taken.count(Upper(candidate)) != 0; ++n) {
    const std::string tail = "_" + std::to_string(n);
    candidate = Trimmed(CutBytes(base, 10 - tail.size())) + tail;
  }
  taken.insert(Upper(candidate));
  return candidate;
}

}  // namespace kestrune
