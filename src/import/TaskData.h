// The ISOXML (ISO 11783-10) task data reader: partfields, guidance lines,
// prescription grids and time logs, read into feature sets for the import.
#pragma once

#include <functional>
#include <string>

#include "import/FeatureSet.h"

namespace kestrune {

// True when PATH is a folder holding TASKDATA.XML (any letter case) or such a
// file itself. PATH may be a GDAL virtual path ("/vsizip/x.zip/TASKDATA").
bool IsTaskData(const std::string& path);

// Reads the task set at PATH (as IsTaskData takes it) into CONTENT: one
// feature set per kind of data found, and what was skipped and why. PROGRESS,
// when given, is called with 0..100 and returns false to cancel. Returns false
// with WHY (a sentence for the user) when nothing could be read or on cancel.
bool ReadTaskData(const std::string& path, ImportContent& content, std::string& why,
                  const std::function<bool(int percent)>& progress = {});

}  // namespace kestrune
