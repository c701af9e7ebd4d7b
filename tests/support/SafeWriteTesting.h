// Test helpers for the safe-write path: the faults every write path is tried
// with, a tiny real disk that fills up, and a catcher of status-line notices.
#pragma once

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/Platform.h"
#include "base/SafeFile.h"
#include "support/TestSupport.h"

namespace kestrune::test {

// One way a write can fail.
struct WriteFaultCase {
  const char* name;
  SafeWriteStep step;
  int error;
};

// Every step of the safe-write path, each failing as a real disk would.
inline const std::vector<WriteFaultCase>& WriteFaultCases() {
  static const std::vector<WriteFaultCase> cases = {
      {"create", SafeWriteStep::Create, EACCES},
      {"write", SafeWriteStep::Write, ENOSPC},
      {"flush", SafeWriteStep::Flush, EIO},
      {"rename", SafeWriteStep::Rename, EXDEV},
  };
  return cases;
}

// Installs one fault for the life of the object.
class ScopedWriteFault {
 public:
  explicit ScopedWriteFault(const WriteFaultCase& fault) {
    SetSafeWriteFaultForTesting([fault](SafeWriteStep step, const std::string&) {
      return step == fault.step ? fault.error : 0;
    });
  }
  ~ScopedWriteFault() { SetSafeWriteFaultForTesting(nullptr); }
  ScopedWriteFault(const ScopedWriteFault&) = delete;
  ScopedWriteFault& operator=(const ScopedWriteFault&) = delete;
};

// The names in a folder that a safe write leaves while it works (".NAME.kestrune-...").
inline std::vector<std::string> TemporaryFilesIn(const std::filesystem::path& folder) {
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.find(".kestrune-") != std::string::npos) found.push_back(name);
  }
  return found;
}

// A 64 KiB tmpfs mounted on a scratch folder, for tests of a really full disk.
// mounted() is false where mounting is not allowed (not root, no mount
// namespace); tests then skip.
class TinyDisk {
 public:
  TinyDisk() : path_(dir_ / "disk") {
    std::filesystem::create_directory(path_);
    mounted_ = ::mount("tmpfs", path_.c_str(), "tmpfs", 0, "size=64k,mode=0755") == 0;
  }
  ~TinyDisk() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
  }
  TinyDisk(const TinyDisk&) = delete;
  TinyDisk& operator=(const TinyDisk&) = delete;

  bool mounted() const { return mounted_; }
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  // Fills the rest of the disk with one file.
  void Fill() {
    std::ofstream filler(path_ / "filler", std::ios::binary);
    const std::string block(4096, 'f');
    for (int i = 0; i < 64 && filler; ++i) filler.write(block.data(), block.size());
  }

 private:
  TempDir dir_;
  std::filesystem::path path_;
  bool mounted_ = false;
};

// Collects the status-line notices shown while it lives.
class StatusCapture {
 public:
  StatusCapture() {
    old_ = SetStatusHandler([this](const std::string& text) { seen.push_back(text); });
  }
  ~StatusCapture() { SetStatusHandler(old_); }
  StatusCapture(const StatusCapture&) = delete;
  StatusCapture& operator=(const StatusCapture&) = delete;
  std::vector<std::string> seen;

 private:
  StatusHandler old_;
};

}  // namespace kestrune::test

#define KESTRUNE_TINY_DISK_OR_SKIP(disk)                                         \
  ::kestrune::test::TinyDisk disk;                                               \
  do {                                                                           \
    if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (not root)"; \
  } while (0)
