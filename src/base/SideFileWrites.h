// Where the side files a load or a command writes beside its input (the
// ".gpe", ".lgd", ".lgc" and notes) go: to the disk, as the viewer keeps them,
// or, for a batch command that must leave its inputs as they were, into
// memory. In memory every such write is kept by its path for the life of the
// process, and every later read of that path (ReadSideFile) gets what was
// written there, so the command sees exactly what the viewer would have left
// on the disk; the files themselves are never created, replaced or removed.
// Outputs named on a command line are written with SafeFile/WriteFileSafely
// and land on the disk in either mode.
//
// A batch command adopts it with one line at the top of its run function:
//     const ScopedSideFileWrites inputsUntouched(SideFileWrites::InMemory);
// (or KeepSideFileWritesInMemory() for the rest of the process).
#pragma once

#include <string>
#include <string_view>

#include "base/SafeFile.h"

namespace kestrune {

enum class SideFileWrites { ToDisk, InMemory };

// The mode for the whole process (ToDisk until changed).
void SetSideFileWrites(SideFileWrites mode);
SideFileWrites GetSideFileWrites();
inline void KeepSideFileWritesInMemory() { SetSideFileWrites(SideFileWrites::InMemory); }

// Sets a mode for a scope and puts the old one (and an empty memory) back.
class ScopedSideFileWrites {
 public:
  explicit ScopedSideFileWrites(SideFileWrites mode);
  ~ScopedSideFileWrites();
  ScopedSideFileWrites(const ScopedSideFileWrites&) = delete;
  ScopedSideFileWrites& operator=(const ScopedSideFileWrites&) = delete;

 private:
  SideFileWrites old_;
};

// Writes a side file: through the safe-write path, or into memory.
bool WriteSideFile(const std::string& path, std::string_view bytes, FileWriteError* error = nullptr);

// What a side-file write in memory left under path; false when none did.
bool FindSideFileInMemory(const std::string& path, std::string& bytes);

}  // namespace kestrune
