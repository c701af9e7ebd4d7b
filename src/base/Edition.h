// The edition the preferences choose ("Edition" in [Prefs]): the standard
// Kestrune, or Vantrel. Titles of message boxes that carry the program's name
// follow it.
#pragma once

#include <string>

namespace kestrune {

// Whether an edition name selects Vantrel ("Vantrel" in any case, blanks around it ignored).
bool IsVantrelEdition(const std::string& edition);
// The edition's own name in titles: "Vantrel" or "Kestrune", by the preferences.
std::string EditionTitle();

}  // namespace kestrune
