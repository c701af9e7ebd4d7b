// kestrune-cli clean: a point log cleaned by the filters asked for and the
// records kept written as a new set; and the record choice of
// `kestrune-cli copy SRC DEST --where ...`.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "base/CliCommand.h"

namespace kestrune {

constexpr const char* kCleanUsage =
    "#20600020:clean LOG.shp OUT.shp [--range FIELD:MIN:MAX] [--speed MIN:MAX] [--sd FIELD:K] "
    "[--local FIELD:K:N] [--start-delay S] [--end-delay S] [--flow-delay FIELD:S] [--duplicates] [--min-width W]";

// Writes the cleaned set; one JSON line:
// {"clean":OUT,"records":N,"kept":K,"removed":{"range":..,...},"alone":{...}}
// with the filters that ran, in their order. Exit 1 on failure, 2 on bad arguments.
int RunCleanCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

constexpr CliCommand kCleanCommand{"clean", kCleanUsage, &RunCleanCommand};

// Whether copy's arguments ask for a record choice.
bool HasWhereArguments(const std::vector<std::string>& args);
// `copy SRC.shp DEST.shp --where "FIELD OP VALUE" [--where ...]`: the records
// meeting every condition saved as a new set (as clean saves). OP is one of
// = != < <= > >=; a numeric field compares numbers, any other its text
// (without the blanks around it). One JSON line {"copy":DEST,"records":N,"kept":K}.
int RunCopyWhere(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

constexpr const char* kCopyWhereUsage = "#20600021:copy SRC.shp DEST.shp --where \"FIELD OP VALUE\" [--where ...]";

}  // namespace kestrune
