// Save As killed at every step (each write, flush and rename of the copy, its
// journal and its landing) in a child process, then recovered by each of the
// three ways a later run finds the journal: a recovery of the folder, an open
// of the set, the next copy to the folder. The set under the new name must be
// wholly old or wholly new, byte for byte, with no hidden file left.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/CliCopy.h"
#include "app/FileSetCopy.h"
#include "base/LandingJournal.h"
#include "base/SafeFile.h"
#include "base/SideFileWrites.h"
#include "layers/LayerSource.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace kestrune::test {
namespace {

using Set = std::map<std::string, std::string>;  // name -> bytes

// Every file of the folder whose name starts with prefix.
Set SetIn(const fs::path& folder, const std::string& prefix) {
  Set set;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(prefix, 0) == 0) set[name] = ReadFileBytes(entry.path());
  }
  return set;
}

std::vector<std::string> HiddenIn(const fs::path& folder) {
  std::vector<std::string> hidden;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name[0] == '.') hidden.push_back(name);
  }
  return hidden;
}

// Runs the copy in a child that ends itself at the killAt-th step (counting
// from 1); true when the copy ran to its end without reaching that step.
bool CopyKilledAt(const fs::path& dir, int killAt) {
  const pid_t child = ::fork();
  if (child == 0) {
    static int steps = 0;
    static int limit = 0;
    limit = killAt;
    auto step = [] {
      if (++steps == limit) ::_exit(9);
      return 0;
    };
    SetFileCopyFaultForTesting([step](const std::string&, const std::string&) { return step(); });
    SetLandingFaultForTesting([step](const char*, const std::string&) { return step(); });
    SetSafeWriteFaultForTesting([step](SafeWriteStep, const std::string&) { return step(); });
    const FileSetCopyResult r = CopyShapeFileSet((dir / "north").string(), (dir / "south").string());
    ::_exit(r.ok ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status)) << "killAt " << killAt;
  EXPECT_NE(WEXITSTATUS(status), 1) << "the copy failed at step " << killAt;
  return WEXITSTATUS(status) == 0;
}

TEST(CopyKilled, EveryStepLeavesTheNewNameWhollyOldOrWhollyNewAfterRecovery) {
  TempDir dir;
  const Set north = {{"north.shp", "new geometry"}, {"north.shx", "new index"}, {"north.dbf", "new table"},
                     {"north.prj", "new projection"}, {"north.txt", "new notes"}};
  const Set south = {{"south.shp", "old geometry"}, {"south.shx", "old index"}, {"south.dbf", "old table"},
                     {"south.gpe", "old settings"}, {"south.txt", "old notes"}};
  Set wholeNew;
  for (const auto& [name, bytes] : north) wholeNew["south" + name.substr(5)] = bytes;
  int kills = 0, sawOld = 0, sawNew = 0;
  for (int killAt = 1; killAt < 200; ++killAt) {
    SCOPED_TRACE("killed at step " + std::to_string(killAt) + ", recovered by way " + std::to_string(killAt % 3));
    for (const auto& [name, bytes] : north) WriteFileBytes(dir / name, bytes);
    for (const auto& [name, bytes] : south) WriteFileBytes(dir / name, bytes);
    fs::remove(dir / "south.prj");
    if (CopyKilledAt(dir.path(), killAt)) {
      EXPECT_EQ(SetIn(dir.path(), "south"), wholeNew);
      break;
    }
    ++kills;
    switch (killAt % 3) {
      case 0: {
        std::ostringstream out, err;
        EXPECT_EQ(RunCopyCommand({"--recover", dir.path().string()}, out, err), kCliOk) << err.str();
        break;
      }
      case 1: {
        ShapeFileSource source;
        source.SetPathName((dir / "south.shp").string());
        source.Open();  // the bytes are no shape file; the recovery comes first
        break;
      }
      case 2: {
        // The next copy to the folder recovers, then copies another set in.
        WriteFileBytes(dir / "east.shp", "e");
        WriteFileBytes(dir / "east.shx", "e");
        WriteFileBytes(dir / "east.dbf", "e");
        ASSERT_TRUE(CopyShapeFileSet((dir / "east").string(), (dir / "west").string()).ok);
        for (const char* ext : {"shp", "shx", "dbf"}) {
          fs::remove(dir / (std::string("east.") + ext));
          fs::remove(dir / (std::string("west.") + ext));
        }
        break;
      }
    }
    const Set after = SetIn(dir.path(), "south");
    EXPECT_TRUE(after == south || after == wholeNew) << ::testing::PrintToString(after);
    sawOld += after == south;
    sawNew += after == wholeNew;
    EXPECT_EQ(SetIn(dir.path(), "north"), north);
    EXPECT_EQ(HiddenIn(dir.path()), std::vector<std::string>{});
  }
  // Four files copied (open, write, create, write, flush each), a journal, four
  // set aside, five renamed in, four deleted: every one of them was a kill point.
  EXPECT_GT(kills, 30);
  EXPECT_GT(sawOld, 0);
  EXPECT_GT(sawNew, 0);
}

TEST(CopyKilled, ACommandThatWritesNothingRefusesAHalfLandedSet) {
  TempDir dir;
  WriteFileBytes(dir / "south.shp", "old");
  WriteFileBytes(dir / ".south.shp.kestrune-AAAAAA", "new");
  WriteFileBytes(dir / ".south.kestrune-journal", "KESTRUNE LANDING 1\nforward\nsouth.shp\t.south.shp.kestrune-AAAAAA\t\n");
  {
    const ScopedSideFileWrites inMemory(SideFileWrites::InMemory);
    ShapeFileSource source;
    source.SetPathName((dir / "south.shp").string());
    EXPECT_FALSE(source.Open());
    EXPECT_EQ(source.GetError().id, TextIdOf(kMsgUnfinishedLanding));
    EXPECT_NE(source.GetError().text.find("south.shp"), std::string::npos);
    EXPECT_EQ(ReadFileBytes(dir / "south.shp"), "old");
    EXPECT_TRUE(fs::exists(dir / ".south.kestrune-journal"));
  }
  std::ostringstream out, err;
  EXPECT_EQ(RunCopyCommand({"--recover", dir.path().string()}, out, err), kCliOk);
  EXPECT_EQ(out.str(), "{\"recover\":\"" + dir.path().string() + "\",\"finished\":[\"" + dir.path().string() +
                           "/.south.kestrune-journal\"],\"rolled_back\":[],\"busy\":[],\"refused\":[]}\n");
  EXPECT_EQ(ReadFileBytes(dir / "south.shp"), "new");
  std::ostringstream out2, err2;
  EXPECT_EQ(RunCopyCommand({"--recover", (dir / "none").string()}, out2, err2), kCliFailed);
  EXPECT_NE(err2.str(), "");
}

TEST(CopyWriteProtection, AWriteProtectedFileUnderTheNewNameIsNotReplaced) {
  for (const char* ext : {"dbf", "gpe"}) {
    SCOPED_TRACE(ext);
    TempDir dir;
    for (const char* e : {"shp", "shx", "dbf", "gpe"}) {
      WriteFileBytes(dir / (std::string("north.") + e), "new");
      WriteFileBytes(dir / (std::string("south.") + e), "old");
    }
    const fs::path locked = dir / (std::string("south.") + ext);
    ::chmod(locked.c_str(), 0444);
    const FileSetCopyResult r = CopyShapeFileSet((dir / "north").string(), (dir / "south").string());
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.errorCode, EACCES);
    EXPECT_EQ(r.failedDestination, locked.string());
    for (const char* e : {"shp", "shx", "dbf", "gpe"}) EXPECT_EQ(ReadFileBytes(dir / (std::string("south.") + e)), "old");
    EXPECT_EQ(HiddenIn(dir.path()), std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace kestrune::test
