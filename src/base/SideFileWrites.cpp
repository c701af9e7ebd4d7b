#include "base/SideFileWrites.h"

#include <atomic>
#include <map>
#include <mutex>

namespace kestrune {

namespace {

std::atomic<SideFileWrites>& Mode() {
  static std::atomic<SideFileWrites> mode{SideFileWrites::ToDisk};
  return mode;
}

// The files written in memory, by path; loads run in worker threads.
struct Memory {
  std::mutex mutex;
  std::map<std::string, std::string> files;
};

Memory& TheMemory() {
  static Memory memory;
  return memory;
}

}  // namespace

void SetSideFileWrites(SideFileWrites mode) { Mode() = mode; }
SideFileWrites GetSideFileWrites() { return Mode(); }

ScopedSideFileWrites::ScopedSideFileWrites(SideFileWrites mode) : old_(GetSideFileWrites()) { SetSideFileWrites(mode); }

ScopedSideFileWrites::~ScopedSideFileWrites() {
  SetSideFileWrites(old_);
  Memory& memory = TheMemory();
  std::lock_guard<std::mutex> lock(memory.mutex);
  memory.files.clear();
}

bool WriteSideFile(const std::string& path, std::string_view bytes, FileWriteError* error) {
  if (GetSideFileWrites() == SideFileWrites::ToDisk) return WriteFileSafely(path, bytes, error);
  Memory& memory = TheMemory();
  std::lock_guard<std::mutex> lock(memory.mutex);
  memory.files[path] = std::string(bytes);
  if (error) *error = FileWriteError{};
  return true;
}

bool FindSideFileInMemory(const std::string& path, std::string& bytes) {
  if (GetSideFileWrites() == SideFileWrites::ToDisk) return false;
  Memory& memory = TheMemory();
  std::lock_guard<std::mutex> lock(memory.mutex);
  const auto found = memory.files.find(path);
  if (found == memory.files.end()) return false;
  bytes = found->second;
  return true;
}

}  // namespace kestrune
