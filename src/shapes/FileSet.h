// The files of one shape file set share a base name: "FIELD.shp", "FIELD.dbf",
// "FIELD.prj", and the viewer's own ".gpe", ".lgd" and ".txt". Sets made on
// Windows often carry upper-case extensions, and Linux names are
// case-sensitive, so side files are looked up whatever the case of their
// extension, and new ones are named in the case the set already uses.
#pragma once

#include <string>

#include "base/Paths.h"

namespace kestrune {

// An existing file base + "." + ext, the extension in any case (the exact
// spelling first); empty when there is none. ext is given without the ".".
std::string FindSideFile(const std::string& base, const std::string& ext);

// True when the set's geometry file (or, without one, its table) has an
// upper-case extension.
bool SetUsesUpperCase(const std::string& base);

// The path for a side file of the set: the existing one in whatever case, or
// base + "." + ext in the case the set uses (".GPE" beside "FIELD.SHP").
std::string SideFilePath(const std::string& base, const std::string& ext);

}  // namespace kestrune
