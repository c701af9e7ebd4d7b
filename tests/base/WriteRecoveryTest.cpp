// What a killed write leaves, and what the next write or recovery makes of
// it: temporary files of dead writers go, live ones stay; landing journals
// are finished or rolled back, and hostile ones never acted on. Write
// protection by the mode bits, and side-file writes kept in memory.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/LandingJournal.h"
#include "base/SafeFile.h"
#include "base/SideFileWrites.h"
#include "support/SafeWriteTesting.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace kestrune::test {
namespace {

std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(TemporaryNames, OnlyTheSafeWritePathsOwnNamesCount) {
  const struct {
    const char* name;
    bool temporary;
    bool aside;
    bool journal;
  } cases[] = {
      {".north.gpe.kestrune-Ab3xY9", true, false, false},
      {".north.gpe.kestrune-Ab3xY", false, false, false},     // five characters
      {".north.gpe.kestrune-Ab3xY9Z", false, false, false},   // seven
      {".north.gpe.kestrune-Ab3x-9", false, false, false},    // not a letter or digit
      {"north.gpe.kestrune-Ab3xY9", false, false, false},     // not hidden
      {".north.gpe.kestrune-old-Ab3xY9", false, true, false},
      {".north.kestrune-journal", false, false, true},
      {".north.kestrune-journal.kestrune-Qw12er", true, false, false},  // the journal's own temporary
      {"north.shp", false, false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsTemporaryFileName(c.name), c.temporary) << c.name;
    EXPECT_EQ(IsAsideFileName(c.name), c.aside) << c.name;
    EXPECT_EQ(IsLandingJournalName(c.name), c.journal) << c.name;
  }
}

// A child process starts a safe write of name and dies before committing it.
void DieWhileWriting(const fs::path& path) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    SafeFile file;
    if (file.Open(path.string()) && file.Write("half")) ::_exit(9);  // no destructor runs
    ::_exit(1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 9);
}

TEST(DeadTemporaries, TheNextWriteInTheFolderRemovesThemAndLiveOnesStay) {
  TempDir dir;
  WriteFileBytes(dir / "north.gpe", "old");
  // A write in progress in this process holds its temporary file, even
  // against the dead writer's own sweep.
  SafeFile live;
  ASSERT_TRUE(live.Open((dir / "south.gpe").string()));
  DieWhileWriting(dir / "north.gpe");
  ASSERT_EQ(TemporaryFilesIn(dir.path()).size(), 2u);
  ASSERT_TRUE(WriteFileSafely((dir / "other.lgd").string(), "x"));
  const std::vector<std::string> left = TemporaryFilesIn(dir.path());
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].rfind(".south.gpe.kestrune-", 0), 0u) << left[0];
  EXPECT_TRUE(live.Write("new") && live.Commit());
  EXPECT_EQ(ReadFileBytes(dir / "north.gpe"), "old");
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"north.gpe", "other.lgd", "south.gpe"}));
  // A second dead write is gone with the next one's start.
  DieWhileWriting(dir / "north.gpe");
  DieWhileWriting(dir / "north.gpe");
  EXPECT_EQ(TemporaryFilesIn(dir.path()).size(), 1u);
}

TEST(DeadTemporaries, FilesAJournalNamesWaitForItsRecovery) {
  TempDir dir;
  DieWhileWriting(dir / "south.shp");
  const std::string incoming = TemporaryFilesIn(dir.path()).at(0);
  WriteFileBytes(dir / ".south.kestrune-journal",
                 "KESTRUNE LANDING 1\nforward\nsouth.shp\t" + incoming + "\t\n");
  EXPECT_EQ(RemoveDeadTemporaries(dir.path().string()), 0);
  EXPECT_TRUE(fs::exists(dir / incoming));
  const std::vector<LandingRecovery> done = RecoverLandings(dir.path().string());
  ASSERT_EQ(done.size(), 1u);
  EXPECT_EQ(done[0].outcome, LandingOutcome::Finished);
  EXPECT_EQ(ReadFileBytes(dir / "south.shp"), "half");
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"south.shp"}));
}

// One file of a half-landed set: what stands where when the kill came.
struct FileState {
  bool oldAtDestination;  // else the old file is aside (or there was none)
  bool newLanded;         // else the new file is still under its temporary name
};

TEST(LandingRecovery, ForwardFinishesAndBackRestoresFromEveryMixOfSteps) {
  // Three files: a.shp replaced, a.dbf new where nothing stood, a.gpe removed (stale).
  const struct {
    const char* name;
    bool forward;
    bool shpAside, shpLanded, dbfLanded, gpeAside;
  } cases[] = {
      {"forward before any rename", true, false, false, false, false},
      {"forward after the asides", true, true, false, false, true},
      {"forward half landed", true, true, true, false, true},
      {"forward all landed", true, true, true, true, true},
      {"back after the asides", false, true, false, false, true},
      {"back half landed", false, true, true, false, true},
      {"back all landed", false, true, true, true, true},
      {"back half restored", false, false, false, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string shpTemp = ".a.shp.kestrune-AAAAAA", dbfTemp = ".a.dbf.kestrune-BBBBBB";
    const std::string shpAside = ".a.shp.kestrune-old-CCCCCC", gpeAside = ".a.gpe.kestrune-old-DDDDDD";
    // The old file under its name or aside.
    WriteFileBytes(dir / (c.shpAside ? shpAside : "a.shp"), "old shp");
    WriteFileBytes(dir / (c.gpeAside ? gpeAside : "a.gpe"), "old gpe");
    // The new files under their names or still waiting.
    if (c.shpLanded) {
      WriteFileBytes(dir / "a.shp", "new shp");
    } else if (c.forward || c.shpAside) {
      WriteFileBytes(dir / shpTemp, "new shp");
    }
    if (c.dbfLanded) {
      WriteFileBytes(dir / "a.dbf", "new dbf");
    } else {
      WriteFileBytes(dir / dbfTemp, "new dbf");
    }
    if (!c.forward && !c.shpAside && !c.shpLanded) WriteFileBytes(dir / shpTemp, "new shp");
    WriteFileBytes(dir / ".a.kestrune-journal", std::string("KESTRUNE LANDING 1\n") + (c.forward ? "forward" : "back") +
                                                     "\na.shp\t" + shpTemp + "\t" + shpAside + "\na.dbf\t" + dbfTemp +
                                                     "\t\na.gpe\t\t" + gpeAside + "\n");
    const std::vector<LandingRecovery> done = RecoverLandings(dir.path().string());
    ASSERT_EQ(done.size(), 1u);
    if (c.forward) {
      EXPECT_EQ(done[0].outcome, LandingOutcome::Finished);
      EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"a.dbf", "a.shp"}));
      EXPECT_EQ(ReadFileBytes(dir / "a.shp"), "new shp");
      EXPECT_EQ(ReadFileBytes(dir / "a.dbf"), "new dbf");
    } else {
      EXPECT_EQ(done[0].outcome, LandingOutcome::RolledBack);
      EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"a.gpe", "a.shp"}));
      EXPECT_EQ(ReadFileBytes(dir / "a.shp"), "old shp");
      EXPECT_EQ(ReadFileBytes(dir / "a.gpe"), "old gpe");
    }
  }
}

TEST(LandingRecovery, JournalsThatBreakTheRulesAreNeverActedOn) {
  const struct {
    const char* name;
    const char* text;
  } cases[] = {
      {"wrong magic", "KESTRUNE LANDING 2\nforward\na.shp\t\t.a.shp.kestrune-old-CCCCCC\n"},
      {"no direction", "KESTRUNE LANDING 1\nsideways\na.shp\t\t.a.shp.kestrune-old-CCCCCC\n"},
      {"another set's file", "KESTRUNE LANDING 1\nforward\nkeep.txt\t\t.keep.txt.kestrune-old-CCCCCC\n"},
      {"a path, not a name", "KESTRUNE LANDING 1\nforward\n../a.shp\t\t.a.shp.kestrune-old-CCCCCC\n"},
      {"a user's file as new", "KESTRUNE LANDING 1\nforward\na.shp\tkeep.txt\t\n"},
      {"a user's file as old", "KESTRUNE LANDING 1\nback\na.shp\t\tkeep.txt\n"},
      {"cut short", "KESTRUNE LANDING 1\nforward\na.shp\t\t.a.shp.kes"},
      {"two tabs too many", "KESTRUNE LANDING 1\nforward\na.shp\t\t\t\n"},
      {"bad escape", "KESTRUNE LANDING 1\nforward\na.s\\qhp\t\t\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    WriteFileBytes(dir / "a.shp", "a");
    WriteFileBytes(dir / "keep.txt", "keep");
    WriteFileBytes(dir / ".a.kestrune-journal", c.text);
    const std::vector<LandingRecovery> done = RecoverLandings(dir.path().string());
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].outcome, LandingOutcome::Refused);
    EXPECT_EQ(ReadFileBytes(dir / "a.shp"), "a");
    EXPECT_EQ(ReadFileBytes(dir / "keep.txt"), "keep");
    EXPECT_FALSE(HasUnfinishedLanding((dir / "a.shp").string()));
  }
}

TEST(LandingRecovery, ALiveLandingIsLeftAloneAndNamesWithTabsRoundTrip) {
  TempDir dir;
  const std::string odd = "a\tb\\c";
  WriteFileBytes(dir / (odd + ".shp"), "old");
  {
    // The new file as a copy leaves it: flushed, held by its writer until the journal is in.
    SafeFile incoming;
    ASSERT_TRUE(incoming.Open((dir / (odd + ".shp")).string()) && incoming.Write("new") && incoming.Finish());
    LandingJournal journal;
    FileWriteError error;
    ASSERT_TRUE(journal.Begin((dir / odd).string(),
                              {{(dir / (odd + ".shp")).string(), incoming.TemporaryPath(),
                                (dir / ("." + odd + ".shp.kestrune-old-YYYYYY")).string()}},
                              &error));
    incoming.Release();
    EXPECT_TRUE(fs::exists(LandingJournalPath((dir / odd).string())));
    const std::vector<LandingRecovery> busy = RecoverLandings(dir.path().string());
    ASSERT_EQ(busy.size(), 1u);
    EXPECT_EQ(busy[0].outcome, LandingOutcome::Busy);
    EXPECT_FALSE(HasUnfinishedLanding((dir / (odd + ".shp")).string()));
    // The landing's process dies here: the journal stays, its lock goes.
  }
  EXPECT_TRUE(HasUnfinishedLanding((dir / (odd + ".shp")).string()));
  const std::vector<LandingRecovery> done = RecoverLandings(dir.path().string());
  ASSERT_EQ(done.size(), 1u);
  EXPECT_EQ(done[0].outcome, LandingOutcome::Finished);
  EXPECT_EQ(ReadFileBytes(dir / (odd + ".shp")), "new");
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{odd + ".shp"}));
}

TEST(WriteProtection, TheModeBitsDecideForEveryUserRootIncluded) {
  const struct {
    mode_t mode;
    bool written;
  } cases[] = {{0444, false}, {0400, false}, {0000, false}, {0644, true}, {0600, true}, {0200, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    TempDir dir;
    const fs::path path = dir / "north.gpe";
    WriteFileBytes(path, "old");
    ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
    FileWriteError error;
    EXPECT_EQ(WriteFileSafely(path.string(), "new", &error), c.written);
    ::chmod(path.c_str(), 0644);
    EXPECT_EQ(ReadFileBytes(path), c.written ? "new" : "old");
    if (!c.written) {
      EXPECT_EQ(error.failure, FileWriteFailure::System);
      EXPECT_EQ(error.error, EACCES);
      EXPECT_EQ(error.path, path.string());
    }
    EXPECT_TRUE(TemporaryFilesIn(dir.path()).empty());
  }
}

TEST(SideFileWritesInMemory, WritesReadBackAndTheDiskStaysAsItWas) {
  TempDir dir;
  const fs::path gpe = dir / "north.gpe";
  WriteFileBytes(gpe, "on disk");
  {
    ScopedSideFileWrites memory(SideFileWrites::InMemory);
    ASSERT_TRUE(WriteSideFile(gpe.string(), "in memory"));
    ASSERT_TRUE(WriteSideFile((dir / "new.lgd").string(), std::string(20, 'x')));
    std::string bytes;
    EXPECT_EQ(ReadSideFile(gpe.string(), 100, bytes), SideFileStatus::Ok);
    EXPECT_EQ(bytes, "in memory");
    // The limits apply to what memory holds as to a file.
    EXPECT_EQ(ReadSideFile((dir / "new.lgd").string(), 10, bytes), SideFileStatus::TooLarge);
    EXPECT_EQ(ReadSideFile((dir / "new.lgd").string(), 10, bytes, SideFileLimit::Truncate), SideFileStatus::Ok);
    EXPECT_EQ(bytes, std::string(10, 'x'));
    // Outputs still land on the disk.
    EXPECT_TRUE(WriteFileSafely((dir / "out.png").string(), "png"));
  }
  EXPECT_EQ(ReadFileBytes(gpe), "on disk");
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"north.gpe", "out.png"}));
  // Back on the disk, memory is forgotten.
  std::string bytes;
  EXPECT_EQ(ReadSideFile(gpe.string(), 100, bytes), SideFileStatus::Ok);
  EXPECT_EQ(bytes, "on disk");
}

}  // namespace
}  // namespace kestrune::test
