// The side files of a set (".gpe", ".lgd", notes ".txt") under a hostile or
// unlucky disk: every write path keeps the old file on every failing step and
// says so, links are never written through, pipes and devices never block,
// oversized files are refused, and parsing stays small.
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/Platform.h"
#include "layers/IniFile.h"
#include "layers/Layer.h"
#include "layers/LayerList.h"
#include "layers/LayerSettings.h"
#include "layers/LayerTestFiles.h"
#include "layers/Legend.h"
#include "shapes/DbfTable.h"
#include "support/SafeWriteTesting.h"

namespace fs = std::filesystem;

namespace kestrune::test {
namespace {

// Collects message boxes while it lives.
class Messages {
 public:
  Messages() {
    old_ = SetMessageHandler([this](const MessageRequest& r) {
      seen.push_back(r.text);
      return MessageAnswer::Ok;
    });
  }
  ~Messages() { SetMessageHandler(old_); }
  std::vector<std::string> seen;

 private:
  MessageHandler old_;
};

// A point set whose ".gpe" lacks DISPLAY_SIZE, so loading it writes the key.
class SideFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    shp_ = WritePointSet(dir_, "log", {{-93.60, 42.03}, {-93.61, 42.04}}, {1.0, 2.0});
    gpe_ = dir_ / "log.gpe";
    WriteFileBytes(gpe_, kGpe);
  }
  void TearDown() override { SetSafeWriteFaultForTesting(nullptr); }

  // A layer opened and loaded as the viewer does.
  bool OpenLayer(Layer& layer) {
    layer.SetPathName(shp_);
    return layer.Open() && layer.Load();
  }

  static constexpr const char* kGpe = "[Options]\nLEGEND_COL=1\nCOLOR_METHOD=1\n";
  TempDir dir_;
  std::string shp_;
  fs::path gpe_;
};

TEST_F(SideFileTest, SettingsWritesKeepTheOldFileOnEveryFaultAndTellTheStatusLine) {
  for (const WriteFaultCase& fault : WriteFaultCases()) {
    SCOPED_TRACE(fault.name);
    StatusCapture status;
    Layer layer;
    {
      ScopedWriteFault injected(fault);
      ASSERT_TRUE(OpenLayer(layer));  // the default DISPLAY_SIZE fails to land
      layer.SetSolidColor(0x123456);  // so does a setter's key
    }
    EXPECT_EQ(ReadFileBytes(gpe_), kGpe);
    EXPECT_EQ(layer.GetSolidColor(), 0x123456u) << "the change stays in memory";
    ASSERT_EQ(status.seen.size(), 2u);
    for (const std::string& text : status.seen) {
      EXPECT_NE(text.find(gpe_.string()), std::string::npos) << text;
      EXPECT_NE(text.find(std::strerror(fault.error)), std::string::npos) << text;
    }
    EXPECT_TRUE(TemporaryFilesIn(dir_.path()).empty());
  }
}

TEST_F(SideFileTest, LegendAndNotesWritesKeepTheOldFileOnEveryFaultAndSaySo) {
  const fs::path lgd = dir_ / "log.lgd";
  const fs::path txt = dir_ / "log.txt";
  Legend old;
  old.Insert(5.0, 5);
  ASSERT_TRUE(old.SaveFile(lgd.string()));
  const std::string oldLegend = ReadFileBytes(lgd);
  WriteFileBytes(txt, "old notes");
  Layer layer;
  layer.SetPathName(shp_);
  for (const WriteFaultCase& fault : WriteFaultCases()) {
    SCOPED_TRACE(fault.name);
    Messages messages;
    Legend legend;
    legend.BuildAutomatic(70.0, 0.0);
    Error legendError, notesError;
    {
      ScopedWriteFault injected(fault);
      EXPECT_FALSE(legend.SaveFile(lgd.string(), &legendError));
      EXPECT_FALSE(SaveNotes(layer, "new notes", &notesError));
    }
    EXPECT_EQ(ReadFileBytes(lgd), oldLegend);
    EXPECT_EQ(ReadFileBytes(txt), "old notes");
    EXPECT_TRUE(messages.seen.empty()) << "the core shows nothing itself";
    ASSERT_TRUE(legendError);
    ASSERT_TRUE(notesError);
    EXPECT_NE(legendError.text.find(lgd.string()), std::string::npos) << legendError.text;
    EXPECT_NE(notesError.text.find(txt.string()), std::string::npos) << notesError.text;
    EXPECT_NE(notesError.text.find(std::strerror(fault.error)), std::string::npos) << notesError.text;
    EXPECT_TRUE(TemporaryFilesIn(dir_.path()).empty());
  }
}

TEST_F(SideFileTest, LinkedSideFilesAreNeverWrittenThrough) {
  const fs::path bashrc = dir_ / "bashrc";
  const std::string original = "alias ll='ls -l'\nexport EDITOR=vi\n";
  WriteFileBytes(bashrc, original);
  fs::remove(gpe_);
  for (const char* ext : {"gpe", "lgd", "txt"}) fs::create_symlink(bashrc, dir_ / (std::string("log.") + ext));
  StatusCapture status;
  Messages messages;
  Layer layer;
  ASSERT_TRUE(OpenLayer(layer));
  layer.GetLegend().BuildAutomatic(10.0, 0.0);
  layer.GetLegend().SetChanged(true);
  Error legendError, notesError;
  layer.SaveLegend(&legendError);
  EXPECT_FALSE(SaveNotes(layer, "notes", &notesError));
  EXPECT_EQ(ReadFileBytes(bashrc), original);
  for (const char* ext : {"gpe", "lgd", "txt"}) EXPECT_TRUE(fs::is_symlink(dir_ / (std::string("log.") + ext)));
  ASSERT_FALSE(status.seen.empty());
  EXPECT_NE(status.seen[0].find("symbolic link"), std::string::npos) << status.seen[0];
  // The legend's and the notes' refusals (after the linked file was found to be no legend).
  int refusals = 0;
  for (const std::string& text : messages.seen) refusals += text.find("symbolic link") != std::string::npos;
  for (const Error* error : {&legendError, &notesError}) refusals += error->text.find("symbolic link") != std::string::npos;
  EXPECT_EQ(refusals, 2);
}

TEST_F(SideFileTest, PipesAndDevicesAreAbsentAndNeverBlock) {
  const struct {
    const char* what;
    bool fifo;  // else a link to /dev/zero
  } kinds[] = {{"pipe", true}, {"zero", false}};
  for (const auto& kind : kinds) {
    SCOPED_TRACE(kind.what);
    for (const char* ext : {"gpe", "lgd", "txt"}) {
      const fs::path side = dir_ / (std::string("log.") + ext);
      fs::remove(side);
      if (kind.fifo) {
        ASSERT_EQ(::mkfifo(side.c_str(), 0600), 0);
      } else {
        fs::create_symlink("/dev/zero", side);
      }
    }
    alarm(30);  // a blocked read ends the test program instead of hanging it
    StatusCapture status;
    Layer layer;
    ASSERT_TRUE(OpenLayer(layer));
    std::string notes = "x";
    EXPECT_FALSE(LoadNotes(layer, notes));
    EXPECT_EQ(notes, "");
    EXPECT_EQ(layer.GetLegend().GetCount(), 0u);
    LayerList list;
    ASSERT_NE(list.AddLayer(shp_), nullptr);
    EXPECT_EQ(list.GatherNotes(), "");
    alarm(0);
    // The settings file in the way is not replaced either.
    EXPECT_FALSE(fs::is_regular_file(fs::symlink_status(dir_ / "log.gpe")));
  }
}

TEST_F(SideFileTest, OversizedSideFilesAreRefusedWithAMessageAndKept) {
  // A ".gpe" past 1 MiB: not read, not rewritten, told.
  const std::string bigGpe = std::string(kGpe) + std::string(kMaxSettingsFileBytes, '\n');
  WriteFileBytes(gpe_, bigGpe);
  StatusCapture status;
  Layer layer;
  ASSERT_TRUE(OpenLayer(layer));
  EXPECT_EQ(ReadFileBytes(gpe_), bigGpe);
  ASSERT_FALSE(status.seen.empty());
  EXPECT_NE(status.seen[0].find("larger than 1 MiB"), std::string::npos) << status.seen[0];

  // Notes past 16 MiB: refused with the reason, so an editor keeps them.
  const fs::path txt = dir_ / "log.txt";
  WriteFileBytes(txt, std::string(kMaxNotesFileBytes + 1, 'n'));
  std::string notes, refusal;
  EXPECT_FALSE(LoadNotes(layer, notes, &refusal));
  EXPECT_NE(refusal.find("larger than 16 MiB"), std::string::npos) << refusal;

  // A ".lgd" of a million classes gives the first kMaxLegendEntries.
  std::string lgd(kLegendMagic, kLegendMagicSize);
  for (int i = 0; i < 1000000; ++i) {
    const double value = i;
    char entry[kLegendEntrySize] = {};
    std::memcpy(entry, &value, 8);
    lgd.append(entry, kLegendEntrySize);
  }
  WriteFileBytes(dir_ / "log.lgd", lgd);
  Legend legend;
  ASSERT_TRUE(legend.LoadFile((dir_ / "log.lgd").string()));
  EXPECT_EQ(legend.GetCount(), kMaxLegendEntries);
  EXPECT_EQ(legend.GetEntries().back().value, double(kMaxLegendEntries - 1));
}

TEST_F(SideFileTest, ATableLockedByAnotherProgramIsToldNotShownAsZeros) {
  DbfTable holder;  // another program holding the table
  ASSERT_TRUE(holder.Open((dir_ / "log.dbf").string()));
  StatusCapture status;
  Layer layer;
  ASSERT_TRUE(OpenLayer(layer));
  ASSERT_EQ(status.seen.size(), 1u);
  EXPECT_EQ(status.seen[0], "The values of " + (dir_ / "log.dbf").string() +
                                " could not be read (the table is locked by another program); they show as 0.");
  holder.Close();
  // Once it is free the values are read.
  StatusCapture quiet;
  Layer again;
  ASSERT_TRUE(OpenLayer(again));
  EXPECT_TRUE(quiet.seen.empty());
  EXPECT_EQ(again.Records().size(), 2u);
}

TEST_F(SideFileTest, APrjIsUsedOnlyWhenItIsARegularFileOfWkt) {
  const std::string wkt =
      "GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID[\"WGS_1984\",6378137.0,298.257223563]],"
      "PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]]";
  const fs::path prj = dir_ / "log.prj";
  const struct {
    const char* what;
    std::string text;  // "fifo" makes a pipe
    bool used;
    bool told;
  } cases[] = {
      {"WKT", wkt, true, false},
      {"a PROJ string naming a file", "+proj=longlat +datum=WGS84 +nadgrids=/dev/stdin", false, false},
      {"a pipe", "fifo", false, false},
      {"past 1 MiB", wkt + std::string(kMaxPrjFileBytes, ' '), false, true},
  };
  alarm(30);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(prj);
    if (c.text == "fifo") {
      ASSERT_EQ(::mkfifo(prj.c_str(), 0600), 0);
    } else {
      WriteFileBytes(prj, c.text);
    }
    StatusCapture status;
    Layer layer;
    ASSERT_TRUE(OpenLayer(layer));
    EXPECT_EQ(layer.GetReader().GetLoadStats().usedPrj, c.used);
    EXPECT_EQ(!status.seen.empty(), c.told);
  }
  alarm(0);
}

// Heap bytes in use, where the allocator tells (not under the sanitizers).
size_t HeapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

TEST(IniFileMemory, ParsingIsLinearAndASmallMultipleOfTheText) {
  const struct {
    const char* what;
    std::string text;
    size_t lines;
  } cases[] = {
      {"blank lines", std::string(kMaxSettingsFileBytes, '\n'), kMaxSettingsFileBytes},
      {"keys", [] {
         std::string t = "[Options]\n";
         while (t.size() < kMaxSettingsFileBytes - 4) t += "K=1\n";
         return t;
       }(), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const size_t before = HeapInUse();
    const auto start = std::chrono::steady_clock::now();
    const IniFile file = IniFile::Parse(c.text);
    const auto took = std::chrono::steady_clock::now() - start;
    const size_t used = HeapInUse() - before;
    EXPECT_LT(took, std::chrono::seconds(2));
    if (before != 0) {
      EXPECT_LT(used, 8 * c.text.size()) << used << " bytes for " << c.text.size();
    }
    if (c.lines) {
      EXPECT_EQ(file.GetLines().size(), c.lines);
    }
    // The text written back is the text read, with CRLF ends.
    EXPECT_EQ(IniFile::Parse(file.ToText()).GetLines(), file.GetLines());
  }
}

TEST_F(SideFileTest, OnAReallyFullDiskOpeningASetKeepsItsSettings) {
  KESTRUNE_TINY_DISK_OR_SKIP(disk);
  const std::string shp = (disk / "log.shp").string();
  fs::copy_file(shp_, shp);
  fs::copy_file(dir_ / "log.dbf", disk / "log.dbf");
  WriteFileBytes(disk / "log.gpe", kGpe);
  WriteFileBytes(disk / "log.txt", "old notes");
  disk.Fill();
  StatusCapture status;
  Messages messages;
  Layer layer;
  layer.SetPathName(shp);
  ASSERT_TRUE(layer.Open() && layer.Load());
  Error notesError;
  EXPECT_FALSE(SaveNotes(layer, std::string(64 * 1024, 'n'), &notesError));
  EXPECT_EQ(ReadFileBytes(disk / "log.gpe"), kGpe);
  EXPECT_EQ(ReadFileBytes(disk / "log.txt"), "old notes");
  ASSERT_FALSE(status.seen.empty());
  EXPECT_NE(status.seen[0].find(std::strerror(ENOSPC)), std::string::npos) << status.seen[0];
  EXPECT_TRUE(messages.seen.empty());
  EXPECT_TRUE(notesError);
  EXPECT_TRUE(TemporaryFilesIn(disk.path()).empty());
}

}  // namespace
}  // namespace kestrune::test
