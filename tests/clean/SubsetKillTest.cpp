// A subset save killed at every step (each write and flush of its files, its
// journal and its landing) in a child process, then the folder recovered: the
// set under the new name must be wholly the old one or wholly the new one,
// byte for byte, with no hidden file left.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "base/LandingJournal.h"
#include "base/SafeFile.h"
#include "clean/SubsetWriter.h"
#include "layers/LayerTestFiles.h"

namespace kestrune {
namespace {

using Set = std::map<std::string, std::string>;  // name -> bytes

Set FilesIn(const std::filesystem::path& folder, const std::string& prefix, bool hidden) {
  Set set;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (hidden ? name[0] == '.' : name.rfind(prefix, 0) == 0) set[name] = test::ReadFileBytes(entry.path());
  }
  return set;
}

// 0: the save ran to its end; 9: it was ended at step killAt; 1: it failed.
int SaveKilledAt(const std::string& src, const std::string& out, int killAt) {
  const pid_t child = ::fork();
  if (child == 0) {
    static int steps = 0, limit = 0;
    limit = killAt;
    const auto step = [] {
      if (++steps == limit) ::_exit(9);
      return 0;
    };
    SetLandingFaultForTesting([step](const char*, const std::string&) { return step(); });
    SetSafeWriteFaultForTesting([step](SafeWriteStep, const std::string&) { return step(); });
    SubsetResult result;
    ::_exit(WriteShapeSubset(src, out, {1, 0, 1}, {}, result, nullptr) ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(SubsetKilled, EveryStepLeavesTheSetWhollyOldOrWhollyNewAfterRecovery) {
  test::TempDir dir;
  const std::string src = test::WritePointSet(dir, "log", {{-93, 42}, {-93.1, 42.1}, {-93.2, 42.2}}, {1, 2, 3});
  test::WriteFileBytes(dir / "log.prj", "GEOGCS[\"x\"]");
  const auto makeOld = [&] {
    for (const auto& [name, bytes] : FilesIn(dir.path(), "part.", false)) std::filesystem::remove(dir / name);
    test::WritePointSet(dir, "part", {{-90, 40}}, {7});
    test::WriteFileBytes(dir / "part.gpe", "[Options]\r\nDISPLAY_SIZE=3\r\n");
  };
  makeOld();
  const Set old = FilesIn(dir.path(), "part.", false);
  std::map<int, Set> outcomes;
  Set fresh;
  int step = 1;
  for (; step < 80; ++step) {
    makeOld();
    const int status = SaveKilledAt(src, (dir / "part.shp").string(), step);
    if (status == 0) {
      fresh = FilesIn(dir.path(), "part.", false);
      break;
    }
    ASSERT_EQ(status, 9) << "the save failed at step " << step;
    RecoverLandings(dir.path().string());
    outcomes[step] = FilesIn(dir.path(), "part.", false);
    EXPECT_TRUE(FilesIn(dir.path(), "", true).empty()) << "hidden files left after step " << step;
  }
  ASSERT_FALSE(fresh.empty()) << "the save never ran to its end";
  ASSERT_EQ(fresh.count("part.prj"), 1u);
  ASSERT_EQ(fresh.count("part.gpe"), 0u);  // the source has none: the old one goes
  int sawOld = 0, sawNew = 0;
  for (const auto& [at, set] : outcomes) {
    if (set == old) {
      ++sawOld;
    } else if (set == fresh) {
      ++sawNew;
    } else {
      ADD_FAILURE() << "killed at step " << at << ": neither wholly old nor wholly new";
    }
  }
  EXPECT_GT(sawOld, 5);
  EXPECT_GT(sawNew, 0);
  EXPECT_GT(step, 10);
}

}  // namespace
}  // namespace kestrune
