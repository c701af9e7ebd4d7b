#include "base/SafeFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "base/LandingJournal.h"
#include "base/Paths.h"
#include "base/SideFileWrites.h"

namespace kestrune {

namespace {

SafeWriteFault& FaultSlot() {
  static SafeWriteFault fault;
  return fault;
}

// The errno a test wants this step to fail with, or 0.
int InjectedFault(SafeWriteStep step, const std::string& destination) {
  const SafeWriteFault& fault = FaultSlot();
  return fault ? fault(step, destination) : 0;
}

// The folder a path's file lives in, "." for a bare name.
std::string FolderFor(const std::string& path) {
  const std::string folder = FolderOf(path);
  return folder.empty() ? std::string(".") : folder;
}

// The permission bits a new file gets: 0666 less the process's umask, read
// where the kernel shows it (setting and restoring it would race with other
// threads creating files).
mode_t NewFileMode() {
  std::string status;
  if (ReadSideFile("/proc/self/status", 64 * 1024, status, SideFileLimit::Truncate) == SideFileStatus::Ok) {
    const std::size_t at = status.find("\nUmask:");
    if (at != std::string::npos) return 0666 & ~static_cast<mode_t>(std::strtoul(status.c_str() + at + 7, nullptr, 8));
  }
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// Flushes a folder's entries (the rename) to the disk; file systems that
// cannot do this for folders are not a failure.
void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// Why a destination cannot be replaced, from its own entry (links not followed).
FileWriteFailure CheckDestination(const std::string& path, struct stat& st, int& error) {
  error = 0;
  if (::lstat(path.c_str(), &st) != 0) {
    error = errno;
    return error == ENOENT ? FileWriteFailure::None : FileWriteFailure::System;
  }
  if (S_ISLNK(st.st_mode)) return FileWriteFailure::SymbolicLink;
  if (!S_ISREG(st.st_mode)) return FileWriteFailure::NotRegular;
  // Write protection binds by the file's mode, whoever asks.
  if (!ModeLetsUserWrite(st)) {
    error = EACCES;
    return FileWriteFailure::System;
  }
  return FileWriteFailure::None;
}

// Whether this process's user belongs to the group.
bool InGroup(gid_t gid) {
  if (gid == ::getegid()) return true;
  const int count = ::getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  const int got = ::getgroups(count, groups.data());
  return got > 0 && std::find(groups.begin(), groups.begin() + got, gid) != groups.begin() + got;
}

// A letter or digit, as mkstemp fills its X's.
bool IsAlnum(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

}  // namespace

void SetSafeWriteFaultForTesting(SafeWriteFault fault) { FaultSlot() = std::move(fault); }

// An unfinished replacement leaves nothing behind.
SafeFile::~SafeFile() { Cancel(); }

// Records the failure and discards the temporary file; always false.
bool SafeFile::Fail(FileWriteFailure failure, int error) {
  error_.failure = failure;
  error_.path = path_;
  error_.error = error;
  Cancel();
  return false;
}

// Checks the destination and makes the temporary file beside it.
bool SafeFile::Open(const std::string& path, Destination destination) {
  Cancel();
  path_ = path;
  destination_ = destination;
  finished_ = false;
  error_ = FileWriteError{};
  struct stat st {};
  int error = 0;
  FileWriteFailure refused = CheckDestination(path, st, error);
  if (refused == FileWriteFailure::SymbolicLink && destination == Destination::LinkReplaced) {
    refused = FileWriteFailure::None;
    error = ENOENT;  // the link goes; the new file is made as a new one
  }
  if (refused != FileWriteFailure::None) return Fail(refused, error);
  if (error == ENOENT) {
    mode_ = NewFileMode();
    haveOwner_ = false;
  } else {
    mode_ = st.st_mode & 07777;
    haveOwner_ = true;
    uid_ = st.st_uid;
    gid_ = st.st_gid;
  }
  if (int injected = InjectedFault(SafeWriteStep::Create, path)) return Fail(FileWriteFailure::System, injected);
  std::string pattern = FolderFor(path) + "/." + FileNameOf(path) + ".kestrune-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  RemoveDeadTemporaries(FolderFor(path));
  fd_ = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd_ < 0) return Fail(FileWriteFailure::System, errno);
  temp_ = name.data();
  // The lock tells later writes in the folder that this file is alive; it
  // lives on a descriptor of its own, so handing the file to another writer
  // by name keeps it.
  ::flock(fd_, LOCK_EX | LOCK_NB);
  lockFd_ = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
  // The replacement keeps the old file's permissions (and, where allowed, its owner).
  if (::fchmod(fd_, mode_) != 0) return Fail(FileWriteFailure::System, errno);
  if (haveOwner_ && (st.st_uid != ::geteuid() || st.st_gid != ::getegid())) {
    if (::fchown(fd_, uid_, gid_) != 0) {
      // Not allowed to give the file away: it stays this user's, as a new file would.
    }
  }
  return true;
}

// Later permission bits for the temporary file.
void SafeFile::SetMode(mode_t mode) {
  mode_ = mode;
  if (fd_ >= 0) ::fchmod(fd_, mode_);
}

// Writes every byte or fails.
bool SafeFile::Write(std::string_view bytes) {
  if (temp_.empty() || fd_ < 0 || finished_) return Fail(FileWriteFailure::System, EBADF);
  if (int injected = InjectedFault(SafeWriteStep::Write, path_)) return Fail(FileWriteFailure::System, injected);
  const char* data = bytes.data();
  std::size_t size = bytes.size();
  while (size > 0) {
    const ssize_t n = ::write(fd_, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail(FileWriteFailure::System, errno);
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool SafeFile::WriteAt(uint64_t offset, std::string_view bytes) {
  if (temp_.empty() || fd_ < 0 || finished_) return Fail(FileWriteFailure::System, EBADF);
  if (int injected = InjectedFault(SafeWriteStep::Write, path_)) return Fail(FileWriteFailure::System, injected);
  if (offset > static_cast<uint64_t>(INT64_MAX) - bytes.size()) return Fail(FileWriteFailure::System, EFBIG);
  const char* data = bytes.data();
  std::size_t size = bytes.size();
  while (size > 0) {
    const ssize_t n = ::pwrite(fd_, data, size, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail(FileWriteFailure::System, errno);
    }
    data += n;
    offset += static_cast<uint64_t>(n);
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

void SafeFile::StartFlush() {
  if (fd_ >= 0 && !finished_) ::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
}

// Hands the temporary file's name to a writer of its own.
const std::string& SafeFile::TemporaryPath() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  return temp_;
}

// Flush and close: the temporary file is whole on the disk.
bool SafeFile::Finish() {
  if (finished_) return true;
  if (temp_.empty()) return Fail(FileWriteFailure::System, EBADF);
  if (fd_ < 0) {
    // Written by another writer under the temporary name.
    fd_ = ::open(temp_.c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0) return Fail(FileWriteFailure::System, errno);
  }
  if (int injected = InjectedFault(SafeWriteStep::Flush, path_)) return Fail(FileWriteFailure::System, injected);
  if (::fsync(fd_) != 0) return Fail(FileWriteFailure::System, errno);
  const int fd = fd_;
  fd_ = -1;
  // A full disk can show only at the close.
  if (::close(fd) != 0) return Fail(FileWriteFailure::System, errno);
  finished_ = true;
  return true;
}

// Finish, last look at the destination, rename, flush the folder.
bool SafeFile::Commit() {
  if (!Finish()) return false;
  // A link or folder put in the destination's place meanwhile is not replaced.
  struct stat st {};
  int error = 0;
  FileWriteFailure refused = CheckDestination(path_, st, error);
  if (refused == FileWriteFailure::SymbolicLink && destination_ == Destination::LinkReplaced) {
    refused = FileWriteFailure::None;
  }
  if (refused != FileWriteFailure::None) return Fail(refused, error);
  if (int injected = InjectedFault(SafeWriteStep::Rename, path_)) return Fail(FileWriteFailure::System, injected);
  if (::rename(temp_.c_str(), path_.c_str()) != 0) return Fail(FileWriteFailure::System, errno);
  temp_.clear();
  SyncFolder(FolderFor(path_));
  DropLock();
  return true;
}

// Drops the temporary file, if any.
void SafeFile::Cancel() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  finished_ = false;
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
  DropLock();
}

// The caller keeps the lock.
int SafeFile::TakeLock() {
  const int fd = lockFd_;
  lockFd_ = -1;
  return fd;
}

// Lets go of the temporary file's lock.
void SafeFile::DropLock() {
  if (lockFd_ >= 0) ::close(lockFd_);
  lockFd_ = -1;
}

void SyncFolderOf(const std::string& path) { SyncFolder(FolderFor(path)); }

// The mode's bits for the class the user falls in.
bool ModeLetsUserWrite(const struct stat& st) {
  const uid_t uid = ::geteuid();
  if (uid == 0) return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
  if (st.st_uid == uid) return (st.st_mode & S_IWUSR) != 0;
  if (InGroup(st.st_gid)) return (st.st_mode & S_IWGRP) != 0;
  return (st.st_mode & S_IWOTH) != 0;
}

// ".NAME.kestrune-" and six letters or digits.
bool IsTemporaryFileName(std::string_view name) {
  constexpr std::string_view kMark = ".kestrune-";
  constexpr std::size_t kRandom = 6;
  if (name.size() < 1 + kMark.size() + kRandom || name.front() != '.') return false;
  const std::string_view tail = name.substr(name.size() - kRandom);
  if (!std::all_of(tail.begin(), tail.end(), IsAlnum)) return false;
  return name.substr(name.size() - kRandom - kMark.size(), kMark.size()) == kMark;
}

// Takes each candidate's lock without waiting: only a file no writer holds goes.
int RemoveDeadTemporaries(const std::string& folder) {
  std::vector<std::string> candidates;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      if (IsTemporaryFileName(entry->d_name)) candidates.emplace_back(entry->d_name);
    }
    ::closedir(dir);
  }
  if (candidates.empty()) return 0;
  // A dead copy's new files wait for its journal's recovery.
  const std::vector<std::string> held = FilesNamedByLandingJournals(folder);
  int removed = 0;
  for (const std::string& name : candidates) {
    if (std::find(held.begin(), held.end(), name) != held.end()) continue;
    const std::string path = folder + "/" + name;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) continue;
    struct stat st {}, now {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        ::lstat(path.c_str(), &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino &&
        ::unlink(path.c_str()) == 0) {
      ++removed;
    }
    ::close(fd);
  }
  return removed;
}

// Open, write, commit.
bool WriteFileSafely(const std::string& path, std::string_view bytes, FileWriteError* error) {
  SafeFile file;
  const bool ok = file.Open(path) && file.Write(bytes) && file.Commit();
  if (error) *error = ok ? FileWriteError{} : file.Error();
  return ok;
}

// Reads a regular file up to the limit, never blocking on anything else.
SideFileStatus ReadSideFile(const std::string& path, std::size_t maxBytes, std::string& bytes,
                            SideFileLimit limit, int* error) {
  bytes.clear();
  int ignored = 0;
  int& err = error ? *error : ignored;
  err = 0;
  // A batch command's own side-file writes, kept in memory, read back as written.
  std::string kept;
  if (FindSideFileInMemory(path, kept)) {
    if (kept.size() > maxBytes) {
      if (limit == SideFileLimit::Refuse) return SideFileStatus::TooLarge;
      kept.resize(maxBytes);
    }
    bytes.swap(kept);
    return SideFileStatus::Ok;
  }
  struct stat st {};
  // Looked at before opening: opening a device can have effects of its own.
  if (::stat(path.c_str(), &st) != 0) {
    err = errno;
    return err == ENOENT || err == ENOTDIR ? SideFileStatus::Missing : SideFileStatus::Unreadable;
  }
  if (!S_ISREG(st.st_mode)) return SideFileStatus::NotRegular;
  // Non-blocking, so a pipe swapped in since the look above cannot hang the open.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    err = errno;
    return err == ENOENT ? SideFileStatus::Missing : SideFileStatus::Unreadable;
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  if (::fstat(fd, &st) != 0) {
    err = errno;
    return SideFileStatus::Unreadable;
  }
  if (!S_ISREG(st.st_mode)) return SideFileStatus::NotRegular;
  // The size a file claims is only a hint: read until the end or one byte past the limit.
  std::string content;
  const std::size_t wanted = maxBytes < SIZE_MAX ? maxBytes + 1 : maxBytes;
  const std::size_t hint = static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 0);
  content.reserve(std::min(wanted, hint + 1));
  constexpr std::size_t kChunk = 64 * 1024;
  while (content.size() < wanted) {
    const std::size_t before = content.size();
    const std::size_t piece = std::min(kChunk, wanted - before);
    content.resize(before + piece);
    const ssize_t n = ::read(fd, content.data() + before, piece);
    if (n < 0) {
      content.resize(before);
      if (errno == EINTR) continue;
      err = errno;
      return SideFileStatus::Unreadable;
    }
    content.resize(before + static_cast<std::size_t>(n));
    if (n == 0) break;
  }
  if (content.size() > maxBytes) {
    if (limit == SideFileLimit::Refuse) return SideFileStatus::TooLarge;
    content.resize(maxBytes);
  }
  bytes.swap(content);
  return SideFileStatus::Ok;
}

}  // namespace kestrune
