// The zones of a summary as a new shape file set: each zone record's parcels
// (outer rings and holes, in WGS 84 degrees) with its figures as fields, so a
// general GIS or the next season's plan can take them up. The outside row
// has no geometry and is not written.
#pragma once

#include <string>

#include "base/Error.h"
#include "import/FeatureSet.h"
#include "zones/ZoneSummary.h"

namespace kestrune {

class Layer;

constexpr const char* kMsgZonesExportOntoInput =
    "#20830010:%s is one of the files summarised; the zones are written under another name.";
constexpr const char* kMsgZonesExportName = "#20830011:%s does not end in \".shp\".";

// The set's fields: ZONE (the label), RECORD, COUNT, AREA_AC or AREA_HA, for
// each chosen field its figures as NAME_MIN, NAME_MAX, NAME_AVG, NAME_WAV
// (area-weighted mean) and NAME_SD (the name cut to 6 bytes; the set writer
// keeps the names unique), then VOLUME with a rate field, IN5_AREA and
// IN10_AREA with a target field. A figure without values is blank.
FeatureSet ZoneFeatureSet(const Layer& zones, const ZoneSummary& summary);

// Writes the set as shpPath through the safe-write path, all files or none.
// Refused (false, with the reason) for a name not ending in ".shp" or one of
// the inputs' own files.
bool ExportZones(const Layer& zones, const Layer& log, const ZoneSummary& summary, const std::string& shpPath,
                 Error& error);

}  // namespace kestrune
