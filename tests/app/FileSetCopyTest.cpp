// Save As of whole file sets on real files in scratch folders: what arrives,
// what is never harmed, and what a failure reports.
#include <cerrno>
#include <filesystem>
#include <map>
#include <random>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "app/FileSetCopy.h"
#include "base/Paths.h"
#include "lang/LangFile.h"
#include "lang/LangStringCache.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace kestrune::test {
namespace {

// Distinct bytes per file, so a file that arrives under the wrong name shows.
std::string Bytes(const std::string& tag, size_t size = 300) {
  std::string out;
  std::mt19937 rng(static_cast<unsigned>(std::hash<std::string>{}(tag)));
  out.reserve(size);
  for (size_t i = 0; i < size; ++i) out.push_back(char(rng() & 0xFF));
  return out;
}

class FileSetCopyTest : public ::testing::Test {
 protected:
  void TearDown() override { SetFileCopyFaultForTesting(nullptr); }

  // Writes base + each extension with its own bytes and remembers them.
  void MakeSet(const fs::path& base, std::initializer_list<const char*> exts, size_t size = 300) {
    for (const char* ext : exts) {
      const fs::path file = base.string() + "." + ext;
      const std::string bytes = Bytes(file.string(), size);
      WriteFileBytes(file, bytes);
      written_[file.string()] = bytes;
    }
  }

  // Every file made by MakeSet still holds exactly its bytes.
  void ExpectSourcesWhole() {
    for (const auto& [path, bytes] : written_) {
      ASSERT_TRUE(fs::exists(path)) << path;
      EXPECT_EQ(ReadFileBytes(path), bytes) << path << " changed";
    }
  }

  // The names in a folder (the temporaries of a copy start with ".").
  std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  TempDir dir_;
  std::map<std::string, std::string> written_;
};

TEST_F(FileSetCopyTest, CopiesTheThreeRequiredFilesThenLegendAndSettingsButNotNotes) {
  fs::create_directory(dir_ / "src");
  fs::create_directory(dir_ / "dst");
  MakeSet(dir_ / "src" / "north", {"shp", "dbf", "shx", "lgd", "lgc", "gpe", "txt", "prj"});

  const FileSetCopyResult r = CopyShapeFileSet((dir_ / "src" / "north").string(), (dir_ / "dst" / "south").string());
  ASSERT_TRUE(r.ok) << r.failedSource << " errno " << r.errorCode;
  EXPECT_EQ(r.newShpPath, (dir_ / "dst" / "south.shp").string());
  EXPECT_EQ(r.written.size(), 6u);
  for (const char* ext : {"shp", "dbf", "shx", "lgd", "lgc", "gpe"}) {
    EXPECT_EQ(ReadFileBytes(dir_ / "dst" / (std::string("south.") + ext)),
              written_[(dir_ / "src" / (std::string("north.") + ext)).string()])
        << ext;
  }
  // Notes stay with their own file; no temporaries are left behind.
  EXPECT_EQ(Names(dir_ / "dst"),
            (std::vector<std::string>{"south.dbf", "south.gpe", "south.lgc", "south.lgd", "south.shp", "south.shx"}));
  ExpectSourcesWhole();
}

TEST_F(FileSetCopyTest, MissingLegendAndSettingsAreNotFailures) {
  MakeSet(dir_ / "north", {"shp", "dbf", "shx"});
  const FileSetCopyResult r = CopyShapeFileSet((dir_ / "north").string(), (dir_ / "south").string());
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.written.size(), 3u);
  EXPECT_FALSE(fs::exists(dir_ / "south.lgd"));
  EXPECT_FALSE(fs::exists(dir_ / "south.gpe"));
}

TEST_F(FileSetCopyTest, LargeFilesArriveByteForByteWithTheirPermissions) {
  MakeSet(dir_ / "log", {"shp", "dbf", "shx"}, 1'000'003);
  ::chmod((dir_ / "log.dbf").c_str(), 0640);
  const FileSetCopyResult r = CopyShapeFileSet((dir_ / "log").string(), (dir_ / "copy").string());
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(ReadFileBytes(dir_ / "copy.shp"), written_[(dir_ / "log.shp").string()]);
  EXPECT_EQ(ReadFileBytes(dir_ / "copy.dbf"), written_[(dir_ / "log.dbf").string()]);
  struct stat st {};
  ASSERT_EQ(::stat((dir_ / "copy.dbf").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(FileSetCopyTest, MissingTableStopsBeforeAnythingLandsAndNamesTheTable) {
  MakeSet(dir_ / "north", {"shp", "shx", "lgd"});
  const FileSetCopyResult r = CopyShapeFileSet((dir_ / "north").string(), (dir_ / "south").string());
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.failedSource, (dir_ / "north.dbf").string());
  EXPECT_EQ(r.failedDestination, (dir_ / "south.dbf").string());
  EXPECT_EQ(r.errorCode, ENOENT);
  EXPECT_TRUE(r.written.empty());
  // Not even the ".shp" that copied fine: half a set under the new name would
  // open as a broken file.
  EXPECT_EQ(Names(dir_.path()), (std::vector<std::string>{"north.lgd", "north.shp", "north.shx"}));
  ExpectSourcesWhole();
}

TEST_F(FileSetCopyTest, AFailureKeepsAnExistingSetUnderTheNewNameIntact) {
  MakeSet(dir_ / "north", {"shp", "dbf", "shx"});
  MakeSet(dir_ / "south", {"shp", "dbf", "shx", "lgd"});
  // The disk fills while the index is being written.
  SetFileCopyFaultForTesting([](const std::string& step, const std::string& dest) {
    return step == "write" && dest.size() > 4 && dest.compare(dest.size() - 4, 4, ".shx") == 0 ? ENOSPC : 0;
  });
  const FileSetCopyResult r = CopyShapeFileSet((dir_ / "north").string(), (dir_ / "south").string());
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.failedSource, (dir_ / "north.shx").string());
  EXPECT_EQ(r.failedDestination, (dir_ / "south.shx").string());
  EXPECT_EQ(r.errorCode, ENOSPC);
  ExpectSourcesWhole();  // covers the old south set too
  EXPECT_EQ(Names(dir_.path()).size(), 7u) << "temporaries left behind";
}

TEST_F(FileSetCopyTest, OptionalFileFailuresAreIgnored) {
  MakeSet(dir_ / "north", {"shp", "dbf", "shx", "lgd", "gpe"});
  SetFileCopyFaultForTesting([](const std::string& step, const std::string& dest) {
    return step == "open" && dest.find(".lgd") != std::string::npos ? EACCES : 0;
  });
  const FileSetCopyResult r = CopyShapeFileSet((dir_ / "north").string(), (dir_ / "south").string());
  ASSERT_TRUE(r.ok);
  EXPECT_FALSE(fs::exists(dir_ / "south.lgd"));
  EXPECT_EQ(ReadFileBytes(dir_ / "south.gpe"), written_[(dir_ / "north.gpe").string()]);
}

TEST_F(FileSetCopyTest, SaveAsOntoItsOwnNameLeavesEveryFileWhole) {
  MakeSet(dir_ / "north", {"shp", "dbf", "shx", "lgd", "gpe"}, 5000);
  const FileSetCopyResult r = CopyShapeFileSet((dir_ / "north").string(), (dir_ / "north").string());
  ASSERT_TRUE(r.ok);
  EXPECT_TRUE(r.written.empty());
  EXPECT_EQ(r.newShpPath, (dir_ / "north.shp").string());
  ExpectSourcesWhole();
  EXPECT_EQ(Names(dir_.path()).size(), 5u);
}

TEST_F(FileSetCopyTest, OtherSpellingsOfTheSameFilesAreRecognised) {
  fs::create_directory(dir_ / "farm");
  MakeSet(dir_ / "farm" / "north", {"shp", "dbf", "shx"});
  fs::create_directory_symlink(dir_ / "farm", dir_ / "link");
  for (const fs::path& spelling :
       {dir_ / "farm" / "." / "north", dir_ / "link" / "north", dir_ / "farm" / ".." / "farm" / "north"}) {
    const FileSetCopyResult r = CopyShapeFileSet((dir_ / "farm" / "north").string(), spelling.string());
    ASSERT_TRUE(r.ok) << spelling;
    EXPECT_TRUE(r.written.empty()) << spelling;
  }
  // A hard link is the same file under another name: writing it would write the source.
  fs::create_hard_link(dir_ / "farm" / "north.dbf", dir_ / "farm" / "twin.dbf");
  const FileSetCopyResult r = CopyShapeFileSet((dir_ / "farm" / "north").string(), (dir_ / "farm" / "twin").string());
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.written.size(), 2u);  // .shp and .shx; the table already is the source's
  ExpectSourcesWhole();
}

TEST_F(FileSetCopyTest, UpperCaseSetsAreFoundAndOwnNameSaveMakesNoDuplicates) {
  MakeSet(dir_ / "FIELD", {"SHP", "DBF", "SHX", "LGD"});
  FileSetCopyResult r = CopyShapeFileSet((dir_ / "FIELD").string(), (dir_ / "FIELD").string());
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.newShpPath, (dir_ / "FIELD.SHP").string());
  EXPECT_EQ(Names(dir_.path()), (std::vector<std::string>{"FIELD.DBF", "FIELD.LGD", "FIELD.SHP", "FIELD.SHX"}));

  // A fresh name takes lower case; the bytes come from the upper-case files.
  r = CopyShapeFileSet((dir_ / "FIELD").string(), (dir_ / "copy").string());
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(ReadFileBytes(dir_ / "copy.dbf"), written_[(dir_ / "FIELD.DBF").string()]);
  EXPECT_EQ(ReadFileBytes(dir_ / "copy.lgd"), written_[(dir_ / "FIELD.LGD").string()]);
  ExpectSourcesWhole();
}

TEST_F(FileSetCopyTest, AnExistingSetUnderTheNewNameIsOverwrittenInItsOwnSpelling) {
  MakeSet(dir_ / "north", {"shp", "dbf", "shx"});
  MakeSet(dir_ / "OLD", {"SHP", "DBF", "SHX"});
  const FileSetCopyResult r = CopyShapeFileSet((dir_ / "north").string(), (dir_ / "OLD").string());
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.newShpPath, (dir_ / "OLD.SHP").string());
  EXPECT_EQ(ReadFileBytes(dir_ / "OLD.SHX"), written_[(dir_ / "north.shx").string()]);
  EXPECT_FALSE(fs::exists(dir_ / "OLD.shp"));
}

TEST_F(FileSetCopyTest, DottedBaseNamesKeepTheirDots) {
  MakeSet(dir_ / "a.b", {"shp", "dbf", "shx"});
  const FileSetCopyResult r =
      CopyShapeFileSet((dir_ / "a.b").string(), BasePathOf((dir_ / "x.y.shp").string()));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(Names(dir_.path()), (std::vector<std::string>{"a.b.dbf", "a.b.shp", "a.b.shx", "x.y.dbf", "x.y.shp",
                                                    "x.y.shx"}));
  // A chosen name without extension: the whole name is the new base.
  const FileSetCopyResult bare = CopyShapeFileSet((dir_ / "a.b").string(), BasePathOf((dir_ / "plain").string()));
  ASSERT_TRUE(bare.ok);
  EXPECT_EQ(bare.newShpPath, (dir_ / "plain.shp").string());
  EXPECT_TRUE(fs::exists(dir_ / "plain.shx"));
}

TEST_F(FileSetCopyTest, UnwritableDestinationsAreReportedOnTheGeometryFile) {
  MakeSet(dir_ / "north", {"shp", "dbf", "shx"});
  // A missing folder fails for everybody, root included.
  FileSetCopyResult r = CopyShapeFileSet((dir_ / "north").string(), (dir_ / "nowhere" / "south").string());
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.failedSource, (dir_ / "north.shp").string());
  EXPECT_EQ(r.failedDestination, (dir_ / "nowhere" / "south.shp").string());
  EXPECT_EQ(r.errorCode, ENOENT);

  // A folder standing where the table would go: refused before anything is written.
  fs::create_directory(dir_ / "south.dbf");
  r = CopyShapeFileSet((dir_ / "north").string(), (dir_ / "south").string());
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.failedSource, (dir_ / "north.dbf").string());
  EXPECT_EQ(r.errorCode, EISDIR);
  EXPECT_FALSE(fs::exists(dir_ / "south.shp"));
  ExpectSourcesWhole();
}

TEST_F(FileSetCopyTest, ReadOnlyDestinationFolderFailsCleanly) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  MakeSet(dir_ / "north", {"shp", "dbf", "shx"});
  fs::create_directory(dir_ / "ro");
  ::chmod((dir_ / "ro").c_str(), 0555);
  const FileSetCopyResult r = CopyShapeFileSet((dir_ / "north").string(), (dir_ / "ro" / "south").string());
  ::chmod((dir_ / "ro").c_str(), 0755);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.failedSource, (dir_ / "north.shp").string());
  EXPECT_EQ(r.errorCode, EACCES);
  EXPECT_TRUE(fs::is_empty(dir_ / "ro"));
}

TEST_F(FileSetCopyTest, ARenameFailureReportsItsFileAndLeavesNoTemporaries) {
  MakeSet(dir_ / "north", {"shp", "dbf", "shx"});
  SetFileCopyFaultForTesting([](const std::string& step, const std::string& dest) {
    return step == "rename" && dest.find(".dbf") != std::string::npos ? EXDEV : 0;
  });
  const FileSetCopyResult r = CopyShapeFileSet((dir_ / "north").string(), (dir_ / "south").string());
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.failedDestination, (dir_ / "south.dbf").string());
  EXPECT_EQ(r.errorCode, EXDEV);
  for (const std::string& name : Names(dir_.path())) EXPECT_NE(name[0], '.') << name;
  ExpectSourcesWhole();
}

TEST(FileSetCopyMessage, ErrorTextIsFilledAndTranslated) {
  FileSetCopyResult r;
  r.failedSource = "/farm/north.dbf";
  r.failedDestination = "/backup/south.dbf";
  r.errorCode = 13;
  EXPECT_EQ(FileSetCopyErrorText(r), "Unable to copy /farm/north.dbf to /backup/south.dbf.\n\nError Code = 13");
  EXPECT_EQ(FileSetCopyErrorCaption(), "File Save As Error");

  TempDir dir;
  const std::string lang = (dir / "KRLang.dat").string();
  ASSERT_TRUE(WriteLangFile(lang,
                            {{10000048, "Kopieren von %s nach %s fehlgeschlagen (Fehler %ld)."},
                             {10000049, "Fehler beim Speichern"}},
                            false, 0, nullptr));
  SetLangFilePath(lang);
  ResetLangStringCacheForTesting();
  EXPECT_EQ(FileSetCopyErrorText(r), "Kopieren von /farm/north.dbf nach /backup/south.dbf fehlgeschlagen (Fehler 13).");
  EXPECT_EQ(FileSetCopyErrorCaption(), "Fehler beim Speichern");
  SetLangFilePath("KRLang.dat");
  ResetLangStringCacheForTesting();
}

}  // namespace
}  // namespace kestrune::test
