// The safe-write path and the side-file reader on real files: every failing
// step keeps the old file, links and pipes are never followed into, and a
// really full disk is handled like an injected one.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "base/SafeFile.h"
#include "lang/FileErrorText.h"
#include "support/SafeWriteTesting.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace kestrune::test {
namespace {

TEST(SafeWrite, EveryFailingStepKeepsTheOldFileAndLeavesNoTemporary) {
  for (const WriteFaultCase& fault : WriteFaultCases()) {
    for (const bool existed : {true, false}) {
      SCOPED_TRACE(std::string(fault.name) + (existed ? " over an old file" : " as a new file"));
      TempDir dir;
      const fs::path path = dir / "north.gpe";
      if (existed) WriteFileBytes(path, "[Options]\r\nDISPLAY_SIZE=3000\r\n");
      FileWriteError error;
      {
        ScopedWriteFault injected(fault);
        EXPECT_FALSE(WriteFileSafely(path.string(), "replacement", &error));
      }
      EXPECT_EQ(error.failure, FileWriteFailure::System);
      EXPECT_EQ(error.error, fault.error);
      EXPECT_EQ(error.path, path.string());
      if (existed) {
        EXPECT_EQ(ReadFileBytes(path), "[Options]\r\nDISPLAY_SIZE=3000\r\n");
      } else {
        EXPECT_FALSE(fs::exists(path));
      }
      EXPECT_TRUE(TemporaryFilesIn(dir.path()).empty());
      // The message names the file and the system's reason.
      const std::string text = FileWriteErrorText(error);
      EXPECT_NE(text.find(path.string()), std::string::npos) << text;
      EXPECT_NE(text.find(std::strerror(fault.error)), std::string::npos) << text;
    }
  }
}

// Parts written out of order land where they were put, a gap reads as
// zeros, Write goes on where the last Write ended, and a flush started
// midway changes nothing.
TEST(SafeWrite, PartsWrittenAtOffsetsLandInPlace) {
  TempDir dir;
  const fs::path path = dir / "parts.bin";
  WriteFileBytes(path, "old");
  SafeFile file;
  ASSERT_TRUE(file.Open(path.string()));
  ASSERT_TRUE(file.Write("h"));
  ASSERT_TRUE(file.WriteAt(10, "tail"));
  ASSERT_TRUE(file.WriteAt(1, "ead"));
  file.StartFlush();
  ASSERT_TRUE(file.WriteAt(2, "AD"));
  ASSERT_TRUE(file.Write("e"));
  EXPECT_EQ(ReadFileBytes(path), "old");
  ASSERT_TRUE(file.Commit());
  EXPECT_EQ(ReadFileBytes(path), std::string("heAD") + std::string(6, '\0') + "tail");
  // A failing write at an offset keeps the old file whole.
  SafeFile failing;
  ASSERT_TRUE(failing.Open(path.string()));
  {
    ScopedWriteFault injected(WriteFaultCases()[1]);
    EXPECT_FALSE(failing.WriteAt(0, "x"));
  }
  EXPECT_EQ(failing.Error().error, ENOSPC);
  failing.Cancel();
  EXPECT_EQ(ReadFileBytes(path), std::string("heAD") + std::string(6, '\0') + "tail");
  EXPECT_TRUE(TemporaryFilesIn(dir.path()).empty());
}

TEST(SafeWrite, ReplacesWholeAndKeepsThePermissions) {
  TempDir dir;
  const fs::path path = dir / "north.lgd";
  WriteFileBytes(path, std::string(100000, 'o'));
  ::chmod(path.c_str(), 0640);
  ASSERT_TRUE(WriteFileSafely(path.string(), "new"));
  EXPECT_EQ(ReadFileBytes(path), "new");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_TRUE(TemporaryFilesIn(dir.path()).empty());
  // A new file gets what any new file of the process would: 0666 less the umask.
  const mode_t old = ::umask(027);
  ASSERT_TRUE(WriteFileSafely((dir / "new.txt").string(), "notes"));
  ::umask(old);
  ASSERT_EQ(::stat((dir / "new.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(SafeWrite, LinksPipesAndFoldersInTheWayAreRefusedAndNeverWrittenThrough) {
  TempDir dir;
  WriteFileBytes(dir / "bashrc", "export PATH=/bin\n");
  fs::create_symlink(dir / "bashrc", dir / "x.gpe");
  fs::create_symlink(dir / "nowhere", dir / "dangling.gpe");
  ASSERT_EQ(::mkfifo((dir / "pipe.gpe").c_str(), 0600), 0);
  fs::create_directory(dir / "folder.gpe");
  const struct {
    const char* name;
    FileWriteFailure failure;
  } cases[] = {{"x.gpe", FileWriteFailure::SymbolicLink},
               {"dangling.gpe", FileWriteFailure::SymbolicLink},
               {"pipe.gpe", FileWriteFailure::NotRegular},
               {"folder.gpe", FileWriteFailure::NotRegular}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FileWriteError error;
    EXPECT_FALSE(WriteFileSafely((dir / c.name).string(), "[Options]\r\n", &error));
    EXPECT_EQ(error.failure, c.failure);
    EXPECT_NE(FileWriteErrorText(error).find(c.name), std::string::npos);
  }
  EXPECT_EQ(ReadFileBytes(dir / "bashrc"), "export PATH=/bin\n");
  EXPECT_TRUE(fs::is_symlink(dir / "x.gpe"));
  EXPECT_FALSE(fs::exists(dir / "nowhere"));
  EXPECT_TRUE(TemporaryFilesIn(dir.path()).empty());
}

TEST(SafeWrite, AReallyFullDiskKeepsTheOldFile) {
  KESTRUNE_TINY_DISK_OR_SKIP(disk);
  const fs::path path = disk / "north.txt";
  WriteFileBytes(path, "old notes");
  disk.Fill();
  FileWriteError error;
  EXPECT_FALSE(WriteFileSafely(path.string(), std::string(32 * 1024, 'n'), &error));
  EXPECT_EQ(error.error, ENOSPC);
  EXPECT_EQ(ReadFileBytes(path), "old notes");
  EXPECT_TRUE(TemporaryFilesIn(disk.path()).empty());
  // Once there is room again the same write lands.
  fs::remove(disk / "filler");
  EXPECT_TRUE(WriteFileSafely(path.string(), std::string(32 * 1024, 'n')));
  EXPECT_EQ(fs::file_size(path), 32u * 1024);
}

TEST(SideFileRead, OnlyRegularFilesAreReadAndNothingBlocks) {
  TempDir dir;
  WriteFileBytes(dir / "plain", "abc");
  WriteFileBytes(dir / "big", std::string(5000, 'b'));
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  fs::create_directory(dir / "folder");
  fs::create_symlink("/dev/zero", dir / "zero");
  fs::create_symlink(dir / "plain", dir / "link");
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::string sockPath = (dir / "sock").string();
  ASSERT_LT(sockPath.size(), sizeof addr.sun_path);
  std::memcpy(addr.sun_path, sockPath.data(), sockPath.size());
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);

  const struct {
    const char* name;
    std::size_t limit;
    SideFileLimit mode;
    SideFileStatus status;
    std::size_t bytes;
  } cases[] = {
      {"plain", 3, SideFileLimit::Refuse, SideFileStatus::Ok, 3},
      {"link", 100, SideFileLimit::Refuse, SideFileStatus::Ok, 3},
      {"missing", 100, SideFileLimit::Refuse, SideFileStatus::Missing, 0},
      {"pipe", 100, SideFileLimit::Refuse, SideFileStatus::NotRegular, 0},
      {"folder", 100, SideFileLimit::Refuse, SideFileStatus::NotRegular, 0},
      {"zero", 100, SideFileLimit::Truncate, SideFileStatus::NotRegular, 0},
      {"sock", 100, SideFileLimit::Refuse, SideFileStatus::NotRegular, 0},
      {"big", 4999, SideFileLimit::Refuse, SideFileStatus::TooLarge, 0},
      {"big", 4096, SideFileLimit::Truncate, SideFileStatus::Ok, 4096},
      {"big", 5000, SideFileLimit::Refuse, SideFileStatus::Ok, 5000},
  };
  alarm(20);  // a read that blocks ends the test program instead of hanging it
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " limit " + std::to_string(c.limit));
    std::string bytes = "stale";
    EXPECT_EQ(ReadSideFile((dir / c.name).string(), c.limit, bytes, c.mode), c.status);
    EXPECT_EQ(bytes.size(), c.bytes);
  }
  alarm(0);
  ::close(sock);
  EXPECT_EQ(SideFileRefusalText("/f/a.gpe", SideFileStatus::TooLarge, kMaxSettingsFileBytes),
            "/f/a.gpe is larger than 1 MiB and was not read.");
  EXPECT_EQ(SideFileRefusalText("/f/a.txt", SideFileStatus::NotRegular, kMaxNotesFileBytes), "");
}

}  // namespace
}  // namespace kestrune::test
