// The theme a file opened for the first time is coloured by when its settings
// file names none: a log's rate field, else for an area file its first
// numeric field after the id fields (FID, OBJECTID, names ending in "ID" or
// "KEY"). The layer writes the choice as if the user had made it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "layers/LogFields.h"
#include "shapes/DbfTable.h"

namespace kestrune {

class IniFile;

// Whether layers opened from now on take the default theme; off unless the
// viewer turns it on, so the command line reports files as they are.
void SetDefaultThemeOnOpen(bool on);
bool DefaultThemeOnOpen();

// Whether a field name names a record id or key rather than a measure.
bool IsIdFieldName(const std::string& name);
// The 1-based field to colour by, or 0 to stay with the solid colour.
int DefaultThemeField(const std::vector<DbfField>& fields, const LogFields& logFields, int32_t shapeType);
// Whether a settings file names a theme (has a LEGEND_COL key).
bool SettingsNameTheme(const IniFile& settings);
// The shape type of a ".shp" file's header (0 when it cannot be read).
int32_t ShapeTypeOfFile(const std::string& shpPath);

}  // namespace kestrune
