// `kestrune-cli zones ZONES.shp LOG.shp --field NAME [--field NAME...]
// [--label FIELD] [--out OUT.shp]`: the log summarised by the zones, one JSON
// line per zone and one for what lies outside every zone; with --out also the
// zones with their figures as a new shape file set. Nothing is written beside
// either input.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "base/CliCommand.h"

namespace kestrune {

constexpr const char* kZonesUsage =
    "#20830012:zones ZONES.shp LOG.shp --field NAME [--field NAME...] [--label FIELD] [--out OUT.shp]";

int RunZonesCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

constexpr CliCommand kZonesCommand{"zones", kZonesUsage, &RunZonesCommand};

}  // namespace kestrune
