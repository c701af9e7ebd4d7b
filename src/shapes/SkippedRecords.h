// What a load of a ".shp" did not make into records, told to the user: one
// line for the status bar, or, when the load stopped before the end of the
// file, a message saying the tail is missing.
#pragma once

#include <string>

#include "base/Error.h"
#include "shapes/ShapeFileReader.h"

namespace kestrune {

// "N records of "NAME" were not read: 3 with unusable coordinates, ..." for
// the reasons that were counted; empty when nothing was skipped.
std::string SkippedRecordsText(const ShapeFileReader::LoadStats& stats, const std::string& fileName);

// The notice of a load that skipped records, for the file at path: a warning
// message when the load stopped before the end of the file, otherwise empty
// (statusText then holds the status-line text; empty when nothing was skipped).
Error SkippedRecordsNotice(const ShapeFileReader::LoadStats& stats, const std::string& path,
                           std::string& statusText);

}  // namespace kestrune
