// How a logged process value is named, scaled and shown without a device
// description: the names and resolutions of the data dictionary identifiers
// (DDIs) the reader knows, and the units shown to the user.
#pragma once

#include <set>
#include <string>

namespace kestrune {

struct DdiShown {
  std::string name;     // the DDI's name, or "DDI_nnnnn"
  double factor = 1;    // from the raw integer to the shown unit
  int decimals = 0;
  std::string unit;     // the shown unit ("L/ha", "m", ...; empty for a state)
};

// The presentation of DDI in metric (else U.S.) units.
DdiShown DdiDefault(int ddi, bool metric);

// A value of DDI shown by a device in UNIT (its value presentation), converted
// for a user of U.S. units where the unit is a metric one the log fields use
// (m, km/h, L/ha, kg/ha, ha, L, km), and a working width (DDI 67) shown in mm
// or cm to m (ft), as the log fields read it: the factor to multiply by, the
// new unit and decimals. Factor 1 and the unit itself otherwise.
DdiShown PresentedUnitForUser(const std::string& unit, int decimals, bool metric, int ddi);

// Cuts NAME to at most 10 bytes (not splitting a UTF-8 character, dropping
// trailing blanks) and makes it differ, ignoring case, from every name in
// TAKEN by ending it in "_2", "_3", ...; adds the result to TAKEN (upper case).
std::string UniqueFieldName(const std::string& name, std::set<std::string>& taken);

}  // namespace kestrune
