#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "layers/IniFile.h"
#include "support/TestSupport.h"

namespace kestrune {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

TEST(IniFileRead, SectionsAndKeysMatchWithoutCaseAndBlanksAreTrimmed) {
  const IniFile file = IniFile::Parse(
      "[Options]\r\n"
      "  Display_Size  =   150  \r\n"
      "\tDRAW_BORDER=\t1\r\n"
      "[ other ]\r\n"
      "DISPLAY_SIZE=7\r\n");
  EXPECT_EQ(file.GetString("options", "DISPLAY_SIZE"), "150");
  EXPECT_EQ(file.GetString("OPTIONS", "draw_border"), "1");
  EXPECT_EQ(file.GetString("Other", "display_size"), "7");
  EXPECT_EQ(file.GetString("Options", "COLOR_METHOD", "dflt  "), "dflt");
  EXPECT_FALSE(file.Find("Options", "COLOR_METHOD").has_value());
  EXPECT_FALSE(file.Find("Missing", "DISPLAY_SIZE").has_value());
}

TEST(IniFileRead, LfCrAndCrlfLineEndsAndNoFinalLineEnd) {
  for (const char* text : {"[Options]\nA=1\nB=2", "[Options]\rA=1\rB=2\r",
                           "[Options]\r\nA=1\r\nB=2\r\n", "\xEF\xBB\xBF[Options]\nA=1\r\nB=2"}) {
    const IniFile file = IniFile::Parse(text);
    EXPECT_EQ(file.GetString("Options", "A"), "1") << text;
    EXPECT_EQ(file.GetString("Options", "B"), "2") << text;
  }
}

TEST(IniFileRead, CommentsKeysWithoutValueAndKeysBeforeAnySectionAreNotFound) {
  const IniFile file = IniFile::Parse(
      "A=outside\n"
      "[Options]\n"
      ";A=commented\n"
      "B\n"
      "=5\n"
      "C=\n"
      "D=\"quoted value\"\n"
      "E='x'\n"
      "F=\"open\n"
      "A=first\n"
      "A=second\n");
  EXPECT_EQ(file.GetString("Options", "A"), "first");
  EXPECT_FALSE(file.Find("Options", "B").has_value());
  ASSERT_TRUE(file.Find("Options", "C").has_value());
  EXPECT_EQ(*file.Find("Options", "C"), "");
  EXPECT_EQ(file.GetString("Options", "D"), "quoted value");
  EXPECT_EQ(file.GetString("Options", "E"), "x");
  EXPECT_EQ(file.GetString("Options", "F"), "\"open");
}

TEST(IniFileRead, AKeyIsFoundInALaterSectionOfTheSameName) {
  const IniFile file = IniFile::Parse("[Options]\nA=1\n[Other]\nB=9\n[OPTIONS]\nB=2\n");
  EXPECT_EQ(file.GetString("Options", "B"), "2");
}

TEST(IniFileWrite, ReplacingAKeyKeepsEveryOtherLineAndWritesCrlf) {
  const std::string original =
      "; settings written by hand\r\n"
      "[Other]\r\n"
      "DISPLAY_SIZE=1\r\n"
      "\r\n"
      "[options]\r\n"
      "  Display_Size = 150   \r\n"
      "; border below\r\n"
      "DRAW_BORDER=1\r\n"
      "junk line\r\n"
      "[Last]\r\n"
      "X=y\r\n";
  IniFile file = IniFile::Parse(original);
  ASSERT_TRUE(file.SetString("Options", "DISPLAY_SIZE", "234"));
  EXPECT_EQ(file.ToText(),
            "; settings written by hand\r\n"
            "[Other]\r\n"
            "DISPLAY_SIZE=1\r\n"
            "\r\n"
            "[options]\r\n"
            "Display_Size=234\r\n"
            "; border below\r\n"
            "DRAW_BORDER=1\r\n"
            "junk line\r\n"
            "[Last]\r\n"
            "X=y\r\n");
  EXPECT_EQ(IniFile::Parse(file.ToText()).GetString("OPTIONS", "display_size"), "234");
}

TEST(IniFileWrite, LfFileComesBackCrlfWithTheSameLines) {
  IniFile file = IniFile::Parse("[Options]\nA=1\n\n# note\nB=2");
  ASSERT_TRUE(file.SetString("Options", "B", "3"));
  EXPECT_EQ(file.ToText(), "[Options]\r\nA=1\r\n\r\n# note\r\nB=3\r\n");
}

TEST(IniFileWrite, NewKeysFollowTheLastKeyOfTheirSectionInWriteOrder) {
  IniFile file = IniFile::Parse(
      "[Options]\r\n"
      "DISPLAY_SIZE=150\r\n"
      "\r\n"
      "; the next section\r\n"
      "[Other]\r\n"
      "Z=1\r\n");
  ASSERT_TRUE(file.SetString("Options", "LEGEND_COL", "3"));
  ASSERT_TRUE(file.SetString("Options", "COLOR_METHOD", "1"));
  ASSERT_TRUE(file.SetString("Third", "K", "v"));
  EXPECT_EQ(file.ToText(),
            "[Options]\r\n"
            "DISPLAY_SIZE=150\r\n"
            "LEGEND_COL=3\r\n"
            "COLOR_METHOD=1\r\n"
            "\r\n"
            "; the next section\r\n"
            "[Other]\r\n"
            "Z=1\r\n"
            "[Third]\r\n"
            "K=v\r\n");
  // A section without keys takes its first key right after its header.
  IniFile bare = IniFile::Parse("[Options]\n; nothing yet\n");
  ASSERT_TRUE(bare.SetString("Options", "A", "1"));
  EXPECT_EQ(bare.ToText(), "[Options]\r\nA=1\r\n; nothing yet\r\n");
}

TEST(IniFileWrite, OnlyTheFirstOfDuplicateKeysIsReplaced) {
  IniFile file = IniFile::Parse("[Options]\nA=1\nA=2\n");
  ASSERT_TRUE(file.SetString("Options", "a", "5"));
  EXPECT_EQ(file.ToText(), "[Options]\r\nA=5\r\nA=2\r\n");
  EXPECT_TRUE(file.RemoveKey("Options", "A"));
  EXPECT_EQ(file.GetString("Options", "A"), "2");
}

TEST(IniFileWrite, NamesAndValuesThatWouldNotReadBackAreRefused) {
  IniFile file = IniFile::Parse("[Options]\nA=1\n");
  const std::string before = file.ToText();
  EXPECT_FALSE(file.SetString("Options", "A", "1\r\nB=2"));
  EXPECT_FALSE(file.SetString("Options", "A=B", "1"));
  EXPECT_FALSE(file.SetString("Options", "", "1"));
  EXPECT_FALSE(file.SetString("Options", " A", "1"));
  EXPECT_FALSE(file.SetString("Options", ";A", "1"));
  EXPECT_FALSE(file.SetString("Options", "[A", "1"));
  EXPECT_FALSE(file.SetString("Opt]ions", "A", "1"));
  EXPECT_FALSE(file.SetString("Opt\nions", "A", "1"));
  EXPECT_EQ(file.ToText(), before);
}

TEST(IniFileDisk, AMissingFileGivesTheDefaultAndAWriteCreatesIt) {
  TempDir dir;
  const std::string path = (dir / "field.gpe").string();
  EXPECT_EQ(ReadProfileString(path, "Options", "DISPLAY_SIZE", "none"), "none");
  IniFile file;
  EXPECT_EQ(file.Load(path), IniLoadStatus::Missing);
  ASSERT_TRUE(WriteProfileString(path, "Options", "DISPLAY_SIZE", "150"));
  ASSERT_TRUE(WriteProfileString(path, "Options", "DRAW_BORDER", "1"));
  ASSERT_TRUE(WriteProfileString(path, "Options", "DISPLAY_SIZE", "3000"));
  EXPECT_EQ(ReadFileBytes(path), "[Options]\r\nDISPLAY_SIZE=3000\r\nDRAW_BORDER=1\r\n");
  EXPECT_EQ(ReadProfileString(path, "OPTIONS", "display_size"), "3000");
  // No temporary file is left beside it.
  int files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) ++files;
  EXPECT_EQ(files, 1);
}

TEST(IniFileDisk, AReplacedKeyKeepsAHandWrittenFileWhole) {
  TempDir dir;
  const std::string path = (dir / "field.gpe").string();
  WriteFileBytes(path, "\xEF\xBB\xBF; keep me\n[Options]\nDISPLAY_SIZE=150\n[Mine]\nK=v\n");
  ASSERT_TRUE(WriteProfileString(path, "Options", "DISPLAY_SIZE", "99"));
  EXPECT_EQ(ReadFileBytes(path),
            "\xEF\xBB\xBF; keep me\r\n[Options]\r\nDISPLAY_SIZE=99\r\n[Mine]\r\nK=v\r\n");
}

TEST(IniFileDisk, SomethingThatCannotBeReadIsNeverReplaced) {
  TempDir dir;
  // A folder where the file should be: it counts as absent, reads give the
  // default, and writes fail without touching it.
  const std::filesystem::path folder = dir / "field.gpe";
  std::filesystem::create_directory(folder);
  WriteFileBytes(folder / "inside", "x");
  EXPECT_EQ(ReadProfileString(folder.string(), "Options", "A", "d"), "d");
  IniFile file;
  EXPECT_EQ(file.Load(folder.string()), IniLoadStatus::Missing);
  EXPECT_FALSE(WriteProfileString(folder.string(), "Options", "A", "1"));
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  EXPECT_EQ(ReadFileBytes(folder / "inside"), "x");

  // A folder that does not exist cannot take a file.
  EXPECT_FALSE(WriteProfileString((dir / "none" / "f.gpe").string(), "Options", "A", "1"));
}

TEST(IniFileDisk, AReadOnlyFolderKeepsTheOldFile) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  TempDir dir;
  const std::filesystem::path sub = dir / "ro";
  std::filesystem::create_directory(sub);
  const std::string path = (sub / "field.gpe").string();
  WriteFileBytes(path, "[Options]\r\nA=1\r\n");
  chmod(sub.c_str(), 0555);
  EXPECT_FALSE(WriteProfileString(path, "Options", "A", "2"));
  chmod(sub.c_str(), 0755);
  EXPECT_EQ(ReadFileBytes(path), "[Options]\r\nA=1\r\n");
}

TEST(IniFileDisk, AnUnreadableFileIsNotReplacedByOneHoldingOnlyTheNewKey) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  TempDir dir;
  const std::string path = (dir / "field.gpe").string();
  WriteFileBytes(path, "[Options]\r\nA=1\r\nB=2\r\n");
  chmod(path.c_str(), 0200);
  EXPECT_FALSE(WriteProfileString(path, "Options", "A", "5"));
  chmod(path.c_str(), 0644);
  EXPECT_EQ(ReadFileBytes(path), "[Options]\r\nA=1\r\nB=2\r\n");
}

TEST(IniFileDisk, ARewrittenFileKeepsItsPermissions) {
  TempDir dir;
  const std::string path = (dir / "field.gpe").string();
  WriteFileBytes(path, "[Options]\r\nA=1\r\n");
  chmod(path.c_str(), 0640);
  ASSERT_TRUE(WriteProfileString(path, "Options", "A", "2"));
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

}  // namespace
}  // namespace kestrune
