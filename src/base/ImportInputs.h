// Which inputs are not shape file sets but can be imported as such, told by
// their names alone, so every level can say what a file is and what to do
// with it.
#pragma once

#include <string>

namespace kestrune {

// The kind of input an import reads, as a name for the user ("GeoJSON",
// "KML", "zip archive", "ISOXML task data", ...), or empty for a path that
// is none of them. A folder named TASKDATA or a TASKDATA.XML file is task
// data; other inputs go by their extension, in any letter case.
std::string ImportInputKind(const std::string& path);

}  // namespace kestrune
