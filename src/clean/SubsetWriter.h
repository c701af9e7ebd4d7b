// Saving some of a set's records as a new shape file set: the chosen records
// in the file's own order, renumbered from 1, with their attribute rows and a
// numeric SRC_REC field holding each one's number in the source (a field of
// that name already there takes the number instead). A ".shx" matching the
// ".shp" is written, the ".prj", ".cpg", ".lgd" and ".lgc" come along, and
// the ".gpe" keeps the display settings (without the cleaning keys: the new
// set is already clean). Side files of those kinds under the new name that
// are not written are removed, so the set adopts nobody else's.
//
// All or nothing: every file goes to a flushed temporary beside its
// destination through SafeFile; then the set lands as a Save As of a whole
// set does (SetLanding.h), behind a landing journal: a failure at any step
// puts the old files back, and a save killed on the way is finished or rolled
// back by the next recovery of the folder (the next save or copy there, an
// open of the set, or `kestrune-cli copy --recover DIR`).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/Error.h"

namespace kestrune {

struct SubsetOptions {
  // Replaces the values of one field (1-based) in the saved rows, by source
  // record; NaN writes a blank. 0 for none.
  int replaceField = 0;
  const std::vector<double>* replaceValues = nullptr;
};

struct SubsetResult {
  int64_t records = 0;               // records written
  std::vector<std::string> written;  // the files landed
  std::vector<std::string> removed;  // stale side files removed
};

// Writes the records whose keep entry is not 0 (by source record number - 1;
// records past keep's end are left out). False, with error, on any failure;
// then nothing under newBase changed.
bool WriteShapeSubset(const std::string& sourceShp, const std::string& newShp, const std::vector<uint8_t>& keep,
                      const SubsetOptions& options, SubsetResult& result, Error* error);

constexpr const char* kSourceRecordField = "SRC_REC";

constexpr const char* kMsgSubsetCaption = "#20600010:Save Records As";
constexpr const char* kMsgSubsetFailed = "#20600011:The file \"%s\" could not be written.";
constexpr const char* kMsgSubsetSource = "#20600012:The file \"%s\" could not be read.";
constexpr const char* kMsgSubsetOntoItself = "#20600013:A set cannot be saved onto its own files (\"%s\").";

}  // namespace kestrune
