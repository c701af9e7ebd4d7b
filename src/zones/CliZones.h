// `kestrune-cli zones ZONES.shp LOG.shp --field NAME [--field NAME...]
// [--label FIELD]`: the log summarised by the zones, one JSON line per zone
// and one for what lies outside every zone. Nothing is written beside either file.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "base/CliCommand.h"

namespace kestrune {

constexpr const char* kZonesUsage =
    "#20500010:zones ZONES.shp LOG.shp --field NAME [--field NAME...] [--label FIELD]";

int RunZonesCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

constexpr CliCommand kZonesCommand{"zones", kZonesUsage, &RunZonesCommand};

}  // namespace kestrune
