// The header check: kinds, the geographic test, the messages, file names.
#include <gtest/gtest.h>

#include <filesystem>

#include "shapes/BufferedFile.h"
#include "shapes/ShapeFileReader.h"
#include "ShapeTestFiles.h"

namespace kestrune {
namespace {

using namespace kestrune::test;
namespace fs = std::filesystem;

struct HeaderResult {
  bool ok = false;
  int kind = 1;
  int shapeKind = -1;
  std::vector<MessageRequest> messages;
};

HeaderResult Check(const fs::path& path, int startKind = 1) {
  MessageCatcher catcher;
  HeaderResult r;
  r.kind = startKind;
  ShapeFileReader reader;
  r.ok = reader.CheckHeader(path.string(), r.kind, 8, -1, r.shapeKind);
  // Shown as the window shows it.
  if (!r.ok) ShowError(reader.GetError());
  r.messages = catcher.messages;
  return r;
}

TEST(ReaderHeader, SupportedTypesGiveTheirKindAndOthersAreRefused) {
  TempDir dir;
  // Z and M types read as their plain types.
  const std::pair<int, int> supported[] = {{1, 1},  {8, 1},  {3, 2},  {5, 3},  {11, 1}, {13, 2},
                                           {15, 3}, {18, 1}, {21, 1}, {23, 2}, {25, 3}, {28, 1}};
  for (auto [type, kind] : supported) {
    WriteFileBytes(dir / "a.shp", ShpBuilder(type).Bytes());
    const HeaderResult r = Check(dir / "a.shp");
    EXPECT_TRUE(r.ok) << type;
    EXPECT_EQ(r.shapeKind, kind) << type;
    EXPECT_TRUE(r.messages.empty());
  }
  // The refusal names the type found; the box is titled with the file's name.
  const std::pair<int, const char*> refused[] = {{0, "0 (Null)"}, {2, "2"},      {4, "4"},     {6, "6"},
                                                 {7, "7"},        {9, "9"},      {31, "31 (MultiPatch)"},
                                                 {-1, "-1"},      {1000, "1000"}};
  for (auto [type, named] : refused) {
    WriteFileBytes(dir / "a.shp", ShpBuilder(type).Bytes());
    const HeaderResult r = Check(dir / "a.shp");
    EXPECT_FALSE(r.ok) << type;
    EXPECT_EQ(r.shapeKind, 0) << type;  // stored even when refused
    ASSERT_EQ(r.messages.size(), 1u);
    EXPECT_EQ(r.messages[0].text, std::string("Unknown Shape file type.\na.shp is of type ") + named +
                                      ", which the viewer does not read.");
    EXPECT_EQ(r.messages[0].caption, "a.shp");
    EXPECT_EQ(r.messages[0].icon, MessageIcon::Error);
  }
  // A file shorter than the 100-byte header is no shape file, whatever type it starts with.
  const std::string point = ShpBuilder(1).Bytes();
  for (size_t size : {0, 1, 34, 50, 99}) {
    WriteFileBytes(dir / "a.shp", point.substr(0, size));
    const HeaderResult shortFile = Check(dir / "a.shp");
    EXPECT_FALSE(shortFile.ok) << size;
    ASSERT_EQ(shortFile.messages.size(), 1u);
    EXPECT_EQ(shortFile.messages[0].text, "Invalid Shape file header.") << size;
  }
  WriteFileBytes(dir / "a.shp", point.substr(0, 100));
  EXPECT_TRUE(Check(dir / "a.shp").ok);
}

TEST(ReaderHeader, OnlyABoxBeyondTheRangeOfDegreesMarksTheFileProjected) {
  TempDir dir;
  struct Case {
    double box[4];
    int start;
    int want;
  };
  const Case cases[] = {
      {{-180, -90, 180, 90}, 1, 1},        // exactly the range: unchanged
      {{-180, -90, 180, 90}, 7, 7},        // never written back to 1
      {{-180, -90, 180.5, 90}, 1, 2},
      {{-180.5, -90, 180, 90}, 1, 2},
      {{-180, -90.1, 180, 90}, 1, 2},
      {{-180, -90, 180, 90.1}, 1, 2},
      {{300000, 4000000, 310000, 4010000}, 1, 2},
  };
  for (const Case& c : cases) {
    WriteFileBytes(dir / "b.shp", ShpBuilder(1, c.box[0], c.box[1], c.box[2], c.box[3]).Bytes());
    const HeaderResult r = Check(dir / "b.shp", c.start);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.kind, c.want) << c.box[0] << " " << c.box[2];
  }
}

TEST(ReaderHeader, FileCodeAndVersionAreNotChecked) {
  TempDir dir;
  WriteFileBytes(dir / "c.shp", ShpBuilder(5, -10, -10, 10, 10, 1234, 7).Bytes());
  const HeaderResult r = Check(dir / "c.shp");
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.shapeKind, 3);
}

TEST(ReaderHeader, AShortHeaderKeepsTheDefaultsForTheBytesItLacks) {
  const std::string full = ShpBuilder(5, -200, 0, 0, 0, 1, 2000).Bytes();
  // 34 bytes: the low half of the type is read, the rest are defaults.
  ShapeFileHeader h = ShapeFileHeader::FromBytes(reinterpret_cast<const unsigned char*>(full.data()), 34);
  EXPECT_EQ(h.fileCode, 1);
  EXPECT_EQ(h.version, 2000);
  EXPECT_EQ(h.shapeType, 5);
  EXPECT_EQ(h.xMin, 0.0);
  // 30 bytes: half of the version field is the file's, half the default's.
  h = ShapeFileHeader::FromBytes(reinterpret_cast<const unsigned char*>(full.data()), 30);
  EXPECT_EQ(h.version, 2000 & 0xFFFF);
  EXPECT_EQ(h.shapeType, 0);
  h = ShapeFileHeader::FromBytes(nullptr, 0);
  EXPECT_EQ(h.fileCode, 9994);
  EXPECT_EQ(h.fileLengthWords, 50);
  EXPECT_EQ(h.version, 1000);
  h = ShapeFileHeader::FromBytes(reinterpret_cast<const unsigned char*>(full.data()), 100);
  EXPECT_EQ(h.xMin, -200.0);

}

TEST(ReaderHeader, AMissingFileAndAFolderGiveTheirMessages) {
  TempDir dir;
  HeaderResult r = Check(dir / "missing.shp");
  EXPECT_FALSE(r.ok);
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_EQ(r.messages[0].text, "File or path does not exist.\nError Code: 2");
  EXPECT_EQ(r.messages[0].caption, "missing.shp");
  EXPECT_EQ(r.shapeKind, -1);  // nothing stored

  fs::create_directory(dir / "folder.shp");
  r = Check(dir / "folder.shp");
  EXPECT_FALSE(r.ok);
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_EQ(r.messages[0].text, "Invalid Shape file header.");
}

TEST(ReaderHeader, TheGeometryFileIsFoundFromAnyFileOfTheSetInAnyCase) {
  TempDir dir;
  WriteFileBytes(dir / "FIELD.SHP", ShpBuilder(3).Bytes());
  WriteFileBytes(dir / "FIELD.Dbf", "x");
  EXPECT_TRUE(Check(dir / "FIELD.SHP").ok);
  EXPECT_TRUE(Check(dir / "FIELD.shp").ok);
  EXPECT_TRUE(Check(dir / "FIELD.dbf").ok);
  ShapeFileReader reader;
  reader.BuildFileNames((dir / "FIELD.shp").string());
  EXPECT_EQ(reader.GetShpPath(), (dir / "FIELD.SHP").string());
  EXPECT_EQ(reader.GetDbfPath(), (dir / "FIELD.Dbf").string());
  EXPECT_EQ(reader.GetShxPath(), (dir / "FIELD.shx").string());  // absent: as built
  // The base name keeps its case: "field" is another set.
  EXPECT_FALSE(Check(dir / "field.shp").ok);
  // A "." in a folder name is not an extension.
  fs::create_directory(dir / "v1.2");
  WriteFileBytes(dir / "v1.2" / "yield", ShpBuilder(1).Bytes());
  reader.BuildFileNames((dir / "v1.2" / "yield").string());
  EXPECT_EQ(reader.GetShpPath(), (dir / "v1.2" / "yield.shp").string());
}

TEST(ReaderHeader, ReadExactSucceedsOnlyForTheWholeCount) {
  TempDir dir;
  std::string bytes(BufferedFile::kBufferSize + 1000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
  WriteFileBytes(dir / "e.bin", bytes);
  BufferedFile file;
  int error = -1;
  ASSERT_TRUE(file.Open((dir / "e.bin").string(), error));
  EXPECT_EQ(error, 0);
  EXPECT_EQ(file.Remaining(), bytes.size());
  char small[10];
  ASSERT_TRUE(ShapeFileReader::ReadExact(file, small, 10));
  EXPECT_EQ(std::string(small, 10), bytes.substr(0, 10));
  // Across the buffer's end, and a read larger than the buffer.
  std::string big(BufferedFile::kBufferSize, '\0');
  ASSERT_TRUE(ShapeFileReader::ReadExact(file, big.data(), big.size()));
  EXPECT_EQ(big, bytes.substr(10, big.size()));
  ASSERT_TRUE(file.Skip(100));
  EXPECT_EQ(file.Remaining(), 1000u - 110u);
  std::string rest(1000, '\0');
  EXPECT_FALSE(ShapeFileReader::ReadExact(file, rest.data(), rest.size()));
  EXPECT_EQ(file.Remaining(), 0u);
  EXPECT_FALSE(file.Skip(1));
  BufferedFile none;
  EXPECT_FALSE(none.Open((dir / "nothing").string(), error));
  EXPECT_EQ(error, ENOENT);
}

}  // namespace
}  // namespace kestrune
