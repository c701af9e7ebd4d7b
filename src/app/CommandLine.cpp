#include "app/CommandLine.h"

namespace kestrune {

// Switches start with "-"; "/" starts absolute paths here.
bool IsCommandLineSwitch(const std::string& word) { return !word.empty() && word[0] == '-'; }

// Joins the words that are not switches with single spaces.
std::string FileNameFromCommandLine(const std::vector<std::string>& words) {
  std::string name;
  bool first = true;
  for (const std::string& word : words) {
    if (IsCommandLineSwitch(word)) continue;
    // An empty word ("" on a shell line) still counts as a word and keeps its
    // blank, as a joined path would.
    if (!first) name += ' ';
    name += word;
    first = false;
  }
  return name;
}

}  // namespace kestrune
