// kestrune-cli import SRC [OUT_DIR] [--replace]: an import from the command
// line, through the same code as the viewer's File > Import.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "base/CliCommand.h"

namespace kestrune {

constexpr const char* kImportUsage = "#20300020:import SRC [OUT_DIR] [--replace]";

// Imports SRC into OUT_DIR/NAME-import/ (by default beside SRC, or in the
// user's data folder when that cannot be written) and prints one JSON line.
// An earlier result is replaced only with --replace. Exit 1 with the reason
// on stderr when the import failed, 2 on bad arguments.
int RunImportCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

constexpr CliCommand kImportCommand{"import", kImportUsage, &RunImportCommand};

}  // namespace kestrune
