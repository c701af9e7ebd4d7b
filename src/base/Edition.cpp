#include "base/Edition.h"

#include <algorithm>
#include <cctype>

#include "base/AppIdentity.h"
#include "base/Preferences.h"

namespace kestrune {

bool IsVantrelEdition(const std::string& edition) {
  std::string e = edition;
  auto notBlank = [](unsigned char c) { return !std::isspace(c); };
  e.erase(e.begin(), std::find_if(e.begin(), e.end(), notBlank));
  e.erase(std::find_if(e.rbegin(), e.rend(), notBlank).base(), e.end());
  std::transform(e.begin(), e.end(), e.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return e == "vantrel";
}

std::string EditionTitle() { return IsVantrelEdition(GetPreferences().GetEdition()) ? "Vantrel" : kApplicationName; }

}  // namespace kestrune
