#include "app/FileSetCopy.h"

#include <cerrno>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
  // Closes now and reports the close's own error (a full disk can show only here).
  int Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0 ? 0 : errno;
  }

 private:
  int fd_;
};

// Writes all of size bytes, retrying short writes and interruptions; 0 or errno.
int WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data += n;
    size -= size_t(n);
  }
  return 0;
}

// Copies source into a new temporary file beside destination, with the
// source's permission bits. On success tempPath names the finished copy;
// on failure nothing is left behind and the errno is returned.
int CopyToTemporary(const std::string& source, const std::string& destination, std::string& tempPath) {
  tempPath.clear();
  if (int injected = InjectedFault("open", destination)) return injected;
  FdGuard in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0) return errno;
  struct stat st {};
  if (::fstat(in.get(), &st) != 0) return errno;
  // A folder or device under a set's name is not a file to copy.
  if (!S_ISREG(st.st_mode)) return S_ISDIR(st.st_mode) ? EISDIR : EINVAL;

  const std::string folder = FolderOf(destination);
  std::string pattern = (folder.empty() ? std::string(".") : folder) + "/." + FileNameOf(destination) + ".kestrune-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  FdGuard out(::mkstemp(name.data()));
  if (out.get() < 0) return errno;
  const std::string temp(name.data());

  auto fail = [&](int error) {
    ::unlink(temp.c_str());
    return error;
  };
  ::fchmod(out.get(), st.st_mode & 0777);
  std::vector<char> buffer(1 << 16);
  for (;;) {
    const ssize_t n = ::read(in.get(), buffer.data(), buffer.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(errno);
    }
    if (n == 0) break;
    if (int error = WriteAll(out.get(), buffer.data(), size_t(n))) return fail(error);
  }
  if (int injected = InjectedFault("write", destination)) return fail(injected);
  // The copy must be on disk before it replaces anything under the final name.
  if (::fsync(out.get()) != 0) return fail(errno);
  if (int error = out.Close()) return fail(error);
  tempPath = temp;
  return 0;
}

// Puts a finished temporary copy under its final name; 0 or errno.
int RenameIntoPlace(const std::string& tempPath, const std::string& destination) {
  if (int injected = InjectedFault("rename", destination)) return injected;
  return ::rename(tempPath.c_str(), destination.c_str()) == 0 ? 0 : errno;
}

// One file of the set on its way: where it comes from, where it goes, and the
// temporary copy while it is in flight.
struct PendingCopy {
  std::string source;
  std::string destination;
  std::string temp;
  bool sameFile = false;
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

// Copies the set: required files through temporaries, then the optional ones.
FileSetCopyResult CopyShapeFileSet(const std::string& oldBase, const std::string& newBase) {
  FileSetCopyResult result;
  // Every name is settled before anything is written: a renamed ".shp" would
  // otherwise change the case the later names take.
  std::vector<PendingCopy> required;
  for (const char* ext : {"shp", "dbf", "shx"}) {
    PendingCopy copy;
    copy.source = SourceOf(oldBase, ext);
    copy.destination = SideFilePath(newBase, ext);
    copy.sameFile = IsSameFile(copy.source, copy.destination);
    required.push_back(copy);
  }
  // A folder in the way of a destination would only be found at the renames,
  // after others had landed; refuse it before anything is written.
  for (const PendingCopy& copy : required) {
    struct stat st {};
    if (::stat(copy.destination.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      result.failedSource = copy.source;
      result.failedDestination = copy.destination;
      result.errorCode = EISDIR;
      return result;
    }
  }

  auto discardTemps = [&required] {
    for (PendingCopy& copy : required) {
      if (!copy.temp.empty()) ::unlink(copy.temp.c_str());
      copy.temp.clear();
    }
  };
  auto failWith = [&result](const PendingCopy& copy, int error) {
    result.ok = false;
    result.failedSource = copy.source;
    result.failedDestination = copy.destination;
    result.errorCode = error;
  };

  for (PendingCopy& copy : required) {
    if (copy.sameFile) continue;
    if (int error = CopyToTemporary(copy.source, copy.destination, copy.temp)) {
      failWith(copy, error);
      discardTemps();
      return result;
    }
  }
  for (PendingCopy& copy : required) {
    if (copy.sameFile) continue;
    if (int error = RenameIntoPlace(copy.temp, copy.destination)) {
      failWith(copy, error);
      discardTemps();
      return result;
    }
    copy.temp.clear();
    result.written.push_back(copy.destination);
  }

  // The viewer's own files need not exist; their failures are not reported.
  for (const char* ext : {"lgd", "lgc", "gpe"}) {
    const std::string source = FindSideFile(oldBase, ext);
    if (source.empty()) continue;
    const std::string destination = SideFilePath(newBase, ext);
    if (IsSameFile(source, destination)) continue;
    std::string temp;
    if (CopyToTemporary(source, destination, temp) != 0) continue;
    if (RenameIntoPlace(temp, destination) != 0) {
      ::unlink(temp.c_str());
      continue;
    }
    result.written.push_back(destination);
  }

  result.ok = true;
  result.newShpPath = required[0].destination;
  return result;
}

// The failure message with the paths and the error number filled in.
std::string FileSetCopyErrorText(const FileSetCopyResult& result) {
  return LangFormat("#10000048:Unable to copy %s to %s.\n\nError Code = %ld",
                    result.failedSource.c_str(), result.failedDestination.c_str(),
                    long(result.errorCode));
}

// The failure message's title.
std::string FileSetCopyErrorCaption() { return LangText("#10000049:File Save As Error"); }

// Installs (or with null removes) the test fault.
void SetFileCopyFaultForTesting(FileCopyFault fault) { FaultSlot() = std::move(fault); }

}  // namespace kestrune
