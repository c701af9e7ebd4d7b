// File dialog filters in the pipe form "Description|pattern;pattern|...",
// as the language texts carry them, turned into the "Description (pattern pattern)"
// form of Qt's file dialogs.
#pragma once

#include <string>
#include <vector>

namespace kestrune {

// One name filter per description and pattern pair; a trailing description
// without its pattern is dropped. The description's own "(...)" ending is
// replaced by the patterns, so the dialog filters by what the text lists.
std::vector<std::string> NameFiltersFromPipeFilter(const std::string& filter);

}  // namespace kestrune
