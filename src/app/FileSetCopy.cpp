#include "app/FileSetCopy.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/LandingJournal.h"
#include "base/SetLanding.h"
#include "base/Paths.h"
#include "base/SafeFile.h"
#include "lang/LangString.h"
#include "shapes/FileSet.h"

namespace kestrune {

namespace {

// The installed test fault, if any.
FileCopyFault& FaultSlot() {
  static FileCopyFault fault;
  return fault;
}

// The errno a test wants this step to fail with, or 0.
int InjectedFault(const char* step, const std::string& destination) {
  const FileCopyFault& fault = FaultSlot();
  return fault ? fault(step, destination) : 0;
}

// Closes a descriptor on every path out of a scope.
class FdGuard {
 public:
  explicit FdGuard(int fd) : fd_(fd) {}
  ~FdGuard() {
    if (fd_ >= 0) ::close(fd_);
  }
  FdGuard(const FdGuard&) = delete;
  FdGuard& operator=(const FdGuard&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// The folder a path's file lives in, "." for a bare name.
std::string FolderFor(const std::string& path) {
  const std::string folder = FolderOf(path);
  return folder.empty() ? std::string(".") : folder;
}

// Whether the name leads to a regular file.
bool IsRegular(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Copies source into a flushed temporary file beside destination, with the
// source's permission bits; 0 or errno.
int CopyToTemporary(const std::string& source, const std::string& destination, SafeFile& out) {
  if (int injected = InjectedFault("open", destination)) return injected;
  FdGuard in(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (in.get() < 0) return errno;
  struct stat st {};
  if (::fstat(in.get(), &st) != 0) return errno;
  // A folder or device under a set's name is not a file to copy.
  if (!S_ISREG(st.st_mode)) return S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
  if (!out.Open(destination, SafeFile::Destination::LinkReplaced)) {
    return out.Error().error != 0 ? out.Error().error : EINVAL;
  }
  out.SetMode(st.st_mode & 0777);
  std::vector<char> buffer(1 << 16);
  for (;;) {
    const ssize_t n = ::read(in.get(), buffer.data(), buffer.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      out.Cancel();
      return error;
    }
    if (n == 0) break;
    if (!out.Write(std::string_view(buffer.data(), size_t(n)))) return out.Error().error;
  }
  if (int injected = InjectedFault("write", destination)) {
    out.Cancel();
    return injected;
  }
  // The copy must be on disk before it replaces anything under the final name.
  if (!out.Finish()) return out.Error().error;
  return 0;
}

// One file of the set on its way: where it comes from, where it goes, and its
// temporary copy while it is in flight. A stale one has no source: what stands
// under its destination is removed.
struct PendingFile {
  std::string source;
  std::string destination;
  std::unique_ptr<SafeFile> temp;
  bool stale = false;
};

// The source file of ext beside oldBase in whatever case; the lower-case name
// (for the message) when there is none.
std::string SourceOf(const std::string& oldBase, const char* ext) {
  const std::string found = FindSideFile(oldBase, ext);
  return found.empty() ? oldBase + "." + ext : found;
}

}  // namespace

// Compares device and inode, so any spelling of one file matches.
bool IsSameFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// Copies the set to temporaries, then lands it all together.
FileSetCopyResult CopyShapeFileSet(const std::string& oldBase, const std::string& newBase) {
  FileSetCopyResult result;
  auto failWith = [&result](const std::string& source, const std::string& destination, int error) {
    result.ok = false;
    result.failedSource = source;
    result.failedDestination = destination;
    result.errorCode = error;
    return result;
  };

  // A landing to this folder that a kill cut short is finished (or rolled
  // back) first, so the names below are those of a whole set.
  RecoverLandings(FolderFor(SideFilePath(newBase, "shp")));

  // Every name is settled before anything is written: a renamed ".shp" would
  // otherwise change the case the later names take.
  std::vector<PendingFile> files;
  int index = 0;
  for (const char* ext : kSetFileExtensions) {
    const bool required = index++ < kRequiredSetFiles;
    PendingFile file;
    file.source = required ? SourceOf(oldBase, ext) : FindSideFile(oldBase, ext);
    // A pipe or device in an optional file's place is no file of the set.
    if (!required && !file.source.empty() && !IsRegular(file.source)) file.source.clear();
    if (file.source.empty()) {
      // Nothing to copy; whatever stands under the new name would be adopted.
      file.destination = FindSideFile(newBase, ext);
      if (file.destination.empty()) continue;
      file.stale = true;
    } else {
      file.destination = SideFilePath(newBase, ext);
      // The same file under both names already holds what a copy would write.
      if (IsSameFile(file.source, file.destination)) continue;
    }
    files.push_back(std::move(file));
  }
  // A folder in the way of a destination would only be found at the renames,
  // and a write-protected file (by its mode, whoever the user) is not to be
  // replaced or removed: refuse either before anything is written.
  for (const PendingFile& file : files) {
    struct stat st {};
    if (::lstat(file.destination.c_str(), &st) != 0) continue;
    const int error = S_ISDIR(st.st_mode) ? EISDIR : (S_ISREG(st.st_mode) && !ModeLetsUserWrite(st) ? EACCES : 0);
    if (error) return failWith(file.stale ? file.destination : file.source, file.destination, error);
  }

  // Copy phase: every file whole on the disk under a temporary name.
  for (PendingFile& file : files) {
    if (file.stale) continue;
    file.temp = std::make_unique<SafeFile>();
    if (int error = CopyToTemporary(file.source, file.destination, *file.temp)) {
      return failWith(file.source, file.destination, error);  // the temporaries go with files
    }
  }

  // Landing: the journal first, then old files aside, new ones in, old ones
  // deleted, the journal removed; a failure puts everything back, a kill is
  // finished by the next recovery.
  std::vector<SetLandingFile> landing;
  for (PendingFile& file : files) landing.push_back({file.destination, file.stale ? nullptr : file.temp.get()});
  SetLandingFailure failure;
  if (!LandFileSet(newBase, landing, InjectedFault, &failure)) {
    if (std::string(failure.step) == "journal") {
      return failWith(files.front().stale ? files.front().destination : files.front().source, failure.path,
                      failure.error);
    }
    const PendingFile& file = files[failure.index];
    return failWith(file.stale ? file.destination : file.source, file.destination, failure.error);
  }
  for (const PendingFile& file : files) (file.stale ? result.removed : result.written).push_back(file.destination);

  result.ok = true;
  result.newShpPath = SideFilePath(newBase, "shp");
  return result;
}

// The failure message with the paths, the error number and its reason filled in.
std::string FileSetCopyErrorText(const FileSetCopyResult& result) {
  return LangFormat("#10000048:Unable to copy %s to %s.\n\nError Code = %ld",
                    result.failedSource.c_str(), result.failedDestination.c_str(), long(result.errorCode)) +
         " (" + std::strerror(result.errorCode) + ")";
}

// The failure message's title.
std::string FileSetCopyErrorCaption() { return LangText("#10000049:File Save As Error"); }

// Installs (or with null removes) the test fault.
void SetFileCopyFaultForTesting(FileCopyFault fault) { FaultSlot() = std::move(fault); }

}  // namespace kestrune
