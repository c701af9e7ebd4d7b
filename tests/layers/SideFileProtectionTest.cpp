// A layer's side files when the user may not change them: write-protected
// files (by their mode, root included) are read but never replaced, and a
// load that keeps its writes in memory leaves the whole folder as it was
// while showing what the viewer would.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/Edition.h"
#include "base/Preferences.h"
#include "base/SideFileWrites.h"
#include "layers/Layer.h"
#include "layers/LayerList.h"
#include "layers/LayerSettings.h"
#include "layers/LayerTestFiles.h"
#include "layers/Legend.h"
#include "support/SafeWriteTesting.h"

namespace fs = std::filesystem;

namespace kestrune::test {
namespace {

// Every name in the folder with its bytes and mode.
std::vector<std::string> FolderState(const fs::path& folder) {
  std::vector<std::string> state;
  for (const auto& entry : fs::directory_iterator(folder)) {
    struct stat st {};
    ::lstat(entry.path().c_str(), &st);
    state.push_back(entry.path().filename().string() + " " + std::to_string(st.st_mode & 07777) + " " +
                    std::to_string(st.st_nlink) + " " + ReadFileBytes(entry.path()));
  }
  std::sort(state.begin(), state.end());
  return state;
}

class SideFileProtectionTest : public ::testing::Test {
 protected:
  void SetUp() override { shp_ = WritePointSet(dir_, "log", {{-93.60, 42.03}, {-93.61, 42.04}}, {1.0, 2.0}); }
  TempDir dir_;
  std::string shp_;
};

TEST_F(SideFileProtectionTest, WriteProtectedSideFilesAreReadButNeverReplaced) {
  const std::string gpeText = "[Options]\r\nLEGEND_COL=1\r\nCOLOR_METHOD=1\r\n";  // no DISPLAY_SIZE: the load adds it
  WriteFileBytes(dir_ / "log.gpe", gpeText);
  WriteFileBytes(dir_ / "log.txt", "old notes");
  Legend old;
  old.Insert(5.0, 5);
  ASSERT_TRUE(old.SaveFile((dir_ / "log.lgd").string()));
  const std::string oldLegend = ReadFileBytes(dir_ / "log.lgd");
  for (const char* ext : {"gpe", "txt", "lgd"}) ::chmod((dir_ / (std::string("log.") + ext)).c_str(), 0444);
  const std::string refusal = std::strerror(EACCES);

  StatusCapture status;
  Layer layer;
  layer.SetPathName(shp_);
  ASSERT_TRUE(layer.Open() && layer.Load());
  // Read: the legend column and colour method came from the protected file.
  EXPECT_EQ(layer.GetLegendColumn(), 1);
  std::string notes;
  EXPECT_TRUE(LoadNotes(layer, notes));
  EXPECT_EQ(notes, "old notes");
  // Written in passing: refused, and the status line says why.
  layer.SetSolidColor(0x123456);
  ASSERT_EQ(status.seen.size(), 2u);  // the load's DISPLAY_SIZE and the setter's key
  for (const std::string& text : status.seen) {
    EXPECT_NE(text.find((dir_ / "log.gpe").string()), std::string::npos) << text;
    EXPECT_NE(text.find(refusal), std::string::npos) << text;
  }
  // Written on purpose: refused with the message a failed write gives.
  Error notesError, legendError;
  EXPECT_FALSE(SaveNotes(layer, "new notes", &notesError));
  EXPECT_NE(notesError.text.find(refusal), std::string::npos) << notesError.text;
  Legend legend;
  legend.BuildAutomatic(70.0, 0.0);
  EXPECT_FALSE(legend.SaveFile((dir_ / "log.lgd").string(), &legendError));
  EXPECT_NE(legendError.text.find(refusal), std::string::npos) << legendError.text;

  EXPECT_EQ(ReadFileBytes(dir_ / "log.gpe"), gpeText);
  EXPECT_EQ(ReadFileBytes(dir_ / "log.txt"), "old notes");
  EXPECT_EQ(ReadFileBytes(dir_ / "log.lgd"), oldLegend);
  EXPECT_TRUE(TemporaryFilesIn(dir_.path()).empty());
}

TEST_F(SideFileProtectionTest, ALoadThatKeepsItsWritesInMemoryChangesNoFileButSeesThem) {
  // The cases a batch command meets in received folders.
  const struct {
    const char* name;
    bool gpe;
    mode_t mode;
    bool hardLink;
  } cases[] = {{"no settings file", false, 0644, false},
               {"write-protected", true, 0444, false},
               {"hard-linked", true, 0644, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string shp = WritePointSet(dir, "log", {{-93.60, 42.03}, {-93.61, 42.04}}, {1.0, 2.0});
    if (c.gpe) {
      WriteFileBytes(dir / "log.gpe", "[Options]\r\nLEGEND_COL=1\r\nCOLOR_METHOD=1\r\n");
      if (c.hardLink) fs::create_hard_link(dir / "log.gpe", dir / "other.gpe");
      ::chmod((dir / "log.gpe").c_str(), c.mode);
    }
    const std::vector<std::string> before = FolderState(dir.path());
    StatusCapture status;
    {
      const ScopedSideFileWrites inMemory(SideFileWrites::InMemory);
      Layer layer;
      layer.SetPathName(shp);
      ASSERT_TRUE(layer.Open() && layer.Load());
      // The DISPLAY_SIZE the load added is what a later read in the run sees.
      int32_t size = 0;
      EXPECT_TRUE(layer.ReadSetting("DISPLAY_SIZE", size));
      EXPECT_EQ(size, DisplaySizeToSetting(layer.GetDisplaySize(false)));
      layer.SetSolidColor(0x00FF00);
      int32_t color = 0;
      EXPECT_TRUE(layer.ReadSetting("SOLID_COLOR", color));
      EXPECT_EQ(color, 0x00FF00);
    }
    EXPECT_EQ(FolderState(dir.path()), before);
    EXPECT_TRUE(status.seen.empty()) << status.seen.front();
  }
}

TEST(SettingsSize, AKeyThatWouldPushTheFilePastTheReadLimitIsNotWritten) {
  TempDir dir;
  const fs::path gpe = dir / "log.gpe";
  // Just under 1 MiB with room for a short key but not a long one.
  std::string text = "[Options]\r\nLEGEND_COL=1\r\n;";
  text += std::string(kMaxSettingsFileBytes - text.size() - 20, 'x') + "\r\n";
  WriteFileBytes(gpe, text);
  StatusCapture status;
  EXPECT_TRUE(WriteSetting(gpe.string(), "A", "1"));  // 5 bytes more: still readable
  const std::string fits = ReadFileBytes(gpe);
  EXPECT_LE(fits.size(), kMaxSettingsFileBytes);
  EXPECT_FALSE(WriteSetting(gpe.string(), "DISPLAY_SIZE", "300"));
  EXPECT_EQ(ReadFileBytes(gpe), fits);
  ASSERT_EQ(status.seen.size(), 1u);
  EXPECT_NE(status.seen[0].find("1 MiB"), std::string::npos) << status.seen[0];
  int32_t column = 0;
  EXPECT_TRUE(ReadSetting(gpe.string(), "LEGEND_COL", column));
  EXPECT_EQ(column, 1);
}

TEST(NotesCaption, FollowsTheEdition) {
  EXPECT_EQ(NotesCaption(), IsVantrelEdition(GetPreferences().GetEdition()) ? "Vantrel Notes" : "Kestrune Notes");
  for (const char* name : {"Vantrel", " vantrel ", "VANTREL"}) EXPECT_TRUE(IsVantrelEdition(name)) << name;
  for (const char* name : {"", "Kestrune", "Vantrel2"}) EXPECT_FALSE(IsVantrelEdition(name)) << name;
}

}  // namespace
}  // namespace kestrune::test
