// Reading a point log for cleaning: the positions straight from the ".shp"
// (degrees are put on a local plane in metres, projected coordinates are
// taken as metres, or feet when the ".prj" says so), the time, boom, width and
// speed from the ".dbf" through the log fields, and the values of the fields
// the filters read. Also the cleaning's own ".gpe" keys: SPEED_COL (the speed
// field, beside the other log-field keys) and the filter settings, so a log
// opens cleaned again.
#pragma once

#include <string>
#include <vector>

#include "base/Error.h"
#include "clean/LogClean.h"
#include "layers/LogFields.h"

namespace kestrune {

class DbfTable;
class IniFile;

constexpr const char* kSpeedColKey = "SPEED_COL";

// The speed field: SPEED_COL when the settings hold it (0 for none), else the
// first numeric field whose name holds "SPEED" or "VEL", ignoring case.
int SpeedField(const std::vector<DbfField>& fields, const IniFile* settings);

// A field named by its name (ignoring case) or its 1-based number; 0 for none.
int FindFieldByName(const DbfTable& table, const std::string& name);

// Reads the log at shpPath: the positions, the log fields' data and the
// values of the fields the settings name. False, with error, when the files
// cannot be read or are not a point log.
bool LoadCleanInput(const std::string& shpPath, const CleanSettings& settings, CleanInput& input, Error* error);

// Reads the values of one more field into input.
bool LoadCleanField(const std::string& shpPath, int field, CleanInput& input, Error* error);

// ---- Settings kept in the ".gpe" (section "Options").
// CLEAN_ON "0"/"1" ... per filter, and each filter's settings under
// CLEAN_<NAME>_... keys. Absent keys leave the filter off.
CleanSettings ReadCleanSettings(const IniFile& settings);
// Writes (or with no filter on, removes) the cleaning keys into the file.
void StoreCleanSettings(IniFile& settings, const CleanSettings& clean);
// Removes every cleaning key; true when one was there.
bool RemoveCleanSettings(IniFile& settings);

// Parses "12" (seconds) or "12r" (records).
bool ParseCleanDelay(const std::string& text, CleanDelay& delay);
std::string CleanDelayText(const CleanDelay& delay);

constexpr const char* kMsgCleanReadFailed = "#20600000:The log \"%s\" could not be read for cleaning.";
constexpr const char* kMsgCleanNotPoints = "#20600001:\"%s\" is not a point log; only point logs can be cleaned.";
constexpr const char* kMsgCleanCaption = "#20600002:Clean Log";

}  // namespace kestrune
