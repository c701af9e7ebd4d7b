// The last step of writing a whole shape file set: its new files, each already
// flushed under a temporary name by SafeFile, land under their final names
// together. A landing journal (LandingJournal.h) is written first; then
// whatever stands under the final names is moved aside, the new files are
// renamed in, the old ones deleted and the journal removed. A failure on the
// way puts every old file back and removes every new one; a process killed on
// the way leaves the journal for RecoverLandings to finish or roll back. Both
// Save As of a set and the saving of a record subset land this way.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "base/SafeFile.h"

namespace kestrune {

struct SetLandingFile {
  std::string destination;       // the final name (full path, in the set's folder)
  SafeFile* incoming = nullptr;  // its flushed new file; null: the name is only removed
};

// Where a landing stopped.
struct SetLandingFailure {
  const char* step = "";   // "journal", "aside" or "rename"
  std::size_t index = 0;   // the file it stopped at (0 for the journal)
  std::string path;        // the path the failing step acted on
  int error = 0;           // errno
};

// Called before moving a file aside ("aside") and renaming one in ("rename")
// with its destination; a non-zero errno makes that step fail (a test seam).
using SetLandingStepFault = std::function<int(const char* step, const std::string& destination)>;

// Lands files as the set at basePath. A destination that is a folder, or a
// write-protected file (by its mode, whoever the user), is refused before
// anything moves. True when every file is in; false, with failure, when the
// set was put back as it was.
bool LandFileSet(const std::string& basePath, const std::vector<SetLandingFile>& files,
                 const SetLandingStepFault& fault, SetLandingFailure* failure);

}  // namespace kestrune
