// Save As of a whole shape file set: ".shp", ".dbf" and ".shx" must all arrive,
// the viewer's ".lgd" and ".gpe" come along when they exist. Copies never
// touch the source set, never write through a file onto itself, and land in
// their final names only once every required file has been copied, so a
// failure part-way leaves both the source set and any set already under the
// new name as they were.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace kestrune {

// True when both paths name one existing file (same device and inode, so hard
// links, symbolic links, "." and ".." spellings all count as one).
bool IsSameFile(const std::string& a, const std::string& b);

// Where a set copy stopped. errorCode is the system error number (errno).
struct FileSetCopyResult {
  bool ok = false;
  std::string failedSource;       // the file that could not be copied
  std::string failedDestination;  // where it was going
  int errorCode = 0;
  std::string newShpPath;         // the ".shp" path of the new set, when ok
  std::vector<std::string> written;  // destinations written (same-file copies excluded)
};

// Copies the set at oldBase to newBase. Sources are found whatever the case of
// their extension; destinations keep the spelling of a file already there, or
// take the case of the set being written. The three required files are copied
// to temporary files beside their destinations first and renamed into place
// only when all three copies succeeded; ".lgd" and ".gpe" follow, and their
// absence or failure is ignored. A copy whose source and destination are one
// file is skipped: the file already holds what a copy would write.
FileSetCopyResult CopyShapeFileSet(const std::string& oldBase, const std::string& newBase);

// The translated error text of a failed copy ("#10000048"), and its caption.
std::string FileSetCopyErrorText(const FileSetCopyResult& result);
std::string FileSetCopyErrorCaption();

// Test seam: called before each step of a copy with the step name ("open",
// "write", "rename") and the destination; a non-zero errno makes that step fail.
using FileCopyFault = std::function<int(const std::string& step, const std::string& destination)>;
void SetFileCopyFaultForTesting(FileCopyFault fault);

}  // namespace kestrune
