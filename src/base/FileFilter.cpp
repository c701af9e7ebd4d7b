#include "base/FileFilter.h"

namespace kestrune {

namespace {

// The text without blanks at either end.
std::string Trimmed(const std::string& s) {
  const size_t first = s.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

}  // namespace

// Pairs of description and patterns as Qt name filters.
std::vector<std::string> NameFiltersFromPipeFilter(const std::string& filter) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t bar = filter.find('|', start);
    parts.push_back(filter.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  std::vector<std::string> filters;
  for (size_t i = 0; i + 1 < parts.size(); i += 2) {
    std::string description = Trimmed(parts[i]);
    std::string patterns = Trimmed(parts[i + 1]);
    if (patterns.empty()) continue;
    for (char& c : patterns) {
      if (c == ';') c = ' ';
    }
    if (!description.empty() && description.back() == ')') {
      const size_t open = description.rfind('(');
      if (open != std::string::npos) description = Trimmed(description.substr(0, open));
    }
    filters.push_back(description.empty() ? patterns : description + " (" + patterns + ")");
  }
  return filters;
}

}  // namespace kestrune
