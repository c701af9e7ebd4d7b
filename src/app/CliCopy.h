// kestrune-cli copy SRC.shp DEST.shp: Save As from the command line, through
// the same code as the viewer's command.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "base/CliCommand.h"

namespace kestrune {

constexpr const char* kCopyUsage = "#20010020:copy SRC.shp DEST.shp";

// Copies the set of the first name to the base of the second. On success one
// JSON line: {"copy":NEW.shp,"written":[...],"removed":[...]}. Exit 1 with the
// Save As message on stderr when the copy failed, 2 on bad arguments.
int RunCopyCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

constexpr CliCommand kCopyCommand{"copy", kCopyUsage, &RunCopyCommand};

}  // namespace kestrune
