// Every file the program writes, and every side file it reads, goes through here.
//
// Writing (SafeFile, WriteFileSafely): the new contents go into a temporary file
// in the destination's own folder; every write is checked, the file is flushed
// to the disk (fsync), and only then renamed over the old name, after which the
// folder is flushed too. Any failure removes the temporary file and leaves the
// old file byte for byte as it was. A destination that is a symbolic link is
// refused (its target is never modified), and so is one that is not a regular
// file (a folder, a pipe, a device), and so is one whose permission bits do not
// let this user write it (EACCES, whoever the user is: root included). A
// replaced file keeps its permission bits; a new one gets the usual 0666 less
// the umask.
//
// Temporary files are named ".NAME.kestrune-XXXXXX" (six letters or digits)
// and locked (flock) by their writer while it lives. Every write first removes
// the temporary files in its folder that no live writer holds and no landing
// journal (LandingJournal.h) names: what a killed write left behind.
//
// Reading (ReadSideFile): only regular files are read, without ever blocking
// (a pipe opens non-blocking and is then refused), and never more than a given
// number of bytes, whatever size the file claims.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace kestrune {

// Why a write did not land.
enum class FileWriteFailure {
  None,
  SymbolicLink,  // the destination is a symbolic link: refused
  NotRegular,    // the destination is a folder, pipe, device or socket
  System,        // a system call failed; error holds its errno
};

struct FileWriteError {
  FileWriteFailure failure = FileWriteFailure::None;
  std::string path;  // the destination
  int error = 0;     // errno for System
  explicit operator bool() const { return failure != FileWriteFailure::None; }
};

// The steps a test can make fail.
enum class SafeWriteStep { Create, Write, Flush, Rename };
// Returns the errno the step is to fail with, or 0.
using SafeWriteFault = std::function<int(SafeWriteStep step, const std::string& destination)>;
// Installs (or with null removes) a fault for every safe write of the process.
void SetSafeWriteFaultForTesting(SafeWriteFault fault);

// One replacement of a file in progress. The destructor discards an
// uncommitted temporary file.
class SafeFile {
 public:
  SafeFile() = default;
  ~SafeFile();
  SafeFile(const SafeFile&) = delete;
  SafeFile& operator=(const SafeFile&) = delete;

  // What Open accepts in the destination's place besides a regular file.
  enum class Destination {
    RegularOnly,   // a symbolic link or anything else is refused
    LinkReplaced,  // a symbolic link is allowed; the caller renames over the link itself
  };
  // Checks the destination and creates the temporary file beside it.
  bool Open(const std::string& path, Destination destination = Destination::RegularOnly);
  // Gives the temporary file (and so the result) these permission bits.
  void SetMode(mode_t mode);
  // Appends bytes to the temporary file; every short write is retried.
  bool Write(std::string_view bytes);
  // Writes bytes at an offset of the temporary file (for a writer that fills
  // its parts out of order; a gap reads as zeros); checked like Write. Where
  // Write goes on is left as it was.
  bool WriteAt(uint64_t offset, std::string_view bytes);
  // Lets the system start putting what was written so far on the disk,
  // without waiting for it, so the flush of Finish has less left to do.
  void StartFlush();
  // Flushes the temporary file to the disk and closes it, without renaming
  // (for callers that land several files together).
  bool Finish();
  // Finishes (unless done) and renames the temporary file into place.
  bool Commit();
  // After Finish, for a caller that renamed the temporary file itself: it is
  // no longer this object's to remove.
  void Release() {
    temp_.clear();
    DropLock();
  }
  // Removes the temporary file; the destination is untouched.
  void Cancel();
  // Hands the caller the descriptor that holds the temporary file's lock (it
  // then stays held, after a Commit on the file under its new name, until the
  // caller closes it); -1 when there is none.
  int TakeLock();

  // For output another library writes by name (a PDF, an image): the
  // temporary file to hand it. It is closed by this object first, so the
  // library may reopen and truncate it; Commit then flushes it by name.
  const std::string& TemporaryPath();

  const FileWriteError& Error() const { return error_; }

 private:
  bool Fail(FileWriteFailure failure, int error);
  void DropLock();
  int fd_ = -1;
  int lockFd_ = -1;
  bool finished_ = false;
  Destination destination_ = Destination::RegularOnly;
  std::string path_;
  std::string temp_;
  mode_t mode_ = 0;
  bool haveOwner_ = false;
  uid_t uid_ = 0;
  gid_t gid_ = 0;
  FileWriteError error_;
};

// Flushes the folder that holds path, so renames in it survive a crash.
void SyncFolderOf(const std::string& path);

// Whether the permission bits of a file let this process's user write it: the
// owner's bits for its owner, the group's for a member, the others' else; for
// root, any write bit.
bool ModeLetsUserWrite(const struct stat& st);
// Whether a file name is one the safe-write path gives its temporary files.
bool IsTemporaryFileName(std::string_view name);
// Removes the temporary files of dead writes from a folder (see above); gives
// how many went.
int RemoveDeadTemporaries(const std::string& folder);

// The whole replacement in one call; error (when given) tells why it failed.
bool WriteFileSafely(const std::string& path, std::string_view bytes, FileWriteError* error = nullptr);

// How reading a side file went.
enum class SideFileStatus {
  Ok,
  Missing,     // no such file (or a dangling link)
  NotRegular,  // a folder, pipe, device or socket: treated as absent
  TooLarge,    // over the limit: not read
  Unreadable,  // no permission, or a read failed
};

// What exceeding the limit does.
enum class SideFileLimit {
  Refuse,    // TooLarge and nothing read
  Truncate,  // the first maxBytes are read and the status is Ok
};

// Reads a side file whole, at most maxBytes of it. bytes is empty unless Ok.
SideFileStatus ReadSideFile(const std::string& path, std::size_t maxBytes, std::string& bytes,
                            SideFileLimit limit = SideFileLimit::Refuse, int* error = nullptr);

// The sizes side files are read to.
constexpr std::size_t kMaxSettingsFileBytes = std::size_t{1} << 20;  // ".gpe"
constexpr std::size_t kMaxPrjFileBytes = std::size_t{1} << 20;       // ".prj"
constexpr std::size_t kMaxNotesFileBytes = std::size_t{16} << 20;    // notes ".txt"

}  // namespace kestrune
