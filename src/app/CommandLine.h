// The command line names one file: every word that is not a switch, in order,
// joined with single spaces, so a path with spaces typed without quotes
// arrives whole. On Linux an absolute path starts with "/", so only words
// starting with "-" are switches.
#pragma once

#include <string>
#include <vector>

namespace kestrune {

// True for a switch word (one starting with "-"); switches are ignored.
bool IsCommandLineSwitch(const std::string& word);

// The file name of the words after the program name; empty when none.
std::string FileNameFromCommandLine(const std::vector<std::string>& words);

}  // namespace kestrune
