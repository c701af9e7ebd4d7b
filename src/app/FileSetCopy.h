// Save As of a whole shape file set: ".shp", ".shx" and ".dbf" must all be
// there; the ".prj", ".cpg", the viewer's ".gpe", ".lgd" and ".lgc" and the
// notes ".txt" come along when they exist, so the copy opens exactly like the
// original. Side files of those kinds already under the new name that the
// source set does not have are removed, so the copy adopts nobody else's
// legend, settings, notes or coordinate system.
//
// Every file is first copied to a temporary file beside its destination and
// flushed to the disk. Only then does the set land: whatever stands under the
// new names is moved aside, the new files are renamed in, and the old ones are
// deleted. A failure at any step removes the temporary files and puts the old
// files back, so both the source set and any set under the new name stay as
// they were. Copies never write through a file onto itself: saving a set onto
// its own name leaves it untouched.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace kestrune {

// The extensions of a set's files in the order they are copied; the first
// kRequiredSetFiles must exist.
constexpr const char* kSetFileExtensions[] = {"shp", "shx", "dbf", "prj", "cpg", "gpe", "lgd", "lgc", "txt"};
constexpr int kRequiredSetFiles = 3;

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
  std::vector<std::string> removed;  // stale side files removed from under the new name
};

// Copies the set at oldBase to newBase. Sources are found whatever the case of
// their extension; destinations keep the spelling of a file already there, or
// take the case of the set being written. A source side file that is not a
// regular file (a pipe, a device) counts as absent.
FileSetCopyResult CopyShapeFileSet(const std::string& oldBase, const std::string& newBase);

// The translated error text of a failed copy ("#10000048" and the system's
// reason), and its caption.
std::string FileSetCopyErrorText(const FileSetCopyResult& result);
std::string FileSetCopyErrorCaption();

// Test seam: called before each step of a copy with the step name ("open",
// "write", "aside", "rename") and the destination; a non-zero errno makes
// that step fail.
using FileCopyFault = std::function<int(const std::string& step, const std::string& destination)>;
void SetFileCopyFaultForTesting(FileCopyFault fault);

}  // namespace kestrune
