// Names of a file set's side files, whatever the case of their extensions.
#include <gtest/gtest.h>

#include "shapes/FileSet.h"
#include "support/TestSupport.h"

namespace kestrune {
namespace {

using test::TempDir;
using test::WriteFileBytes;

TEST(FileSet, SideFilesAreFoundInAnyCaseExactSpellingFirst) {
  TempDir dir;
  const std::string base = (dir / "FIELD").string();
  WriteFileBytes(dir / "FIELD.SHP", "s");
  WriteFileBytes(dir / "FIELD.Dbf", "d");
  WriteFileBytes(dir / "FIELD.prj", "p");
  WriteFileBytes(dir / "field.gpe", "other set");
  EXPECT_EQ(FindSideFile(base, "shp"), base + ".SHP");
  EXPECT_EQ(FindSideFile(base, "dbf"), base + ".Dbf");
  EXPECT_EQ(FindSideFile(base, "PRJ"), base + ".prj");
  EXPECT_EQ(FindSideFile(base, "gpe"), "");  // "field" is not "FIELD"
  WriteFileBytes(dir / "FIELD.shp", "s2");
  EXPECT_EQ(FindSideFile(base, "shp"), base + ".shp");
  EXPECT_EQ(FindSideFile(base, "SHP"), base + ".SHP");
  // A folder with the name is not a file of the set.
  std::filesystem::create_directory(dir / "FIELD.lgd");
  EXPECT_EQ(FindSideFile(base, "lgd"), "");
  EXPECT_EQ(FindSideFile((dir / "nofolder" / "x").string(), "shp"), "");
}

TEST(FileSet, NewSideFilesTakeTheCaseTheSetUses) {
  TempDir dir;
  WriteFileBytes(dir / "UPPER.SHP", "s");
  WriteFileBytes(dir / "lower.shp", "s");
  WriteFileBytes(dir / "Mixed.Shp", "s");
  WriteFileBytes(dir / "TABLE.DBF", "d");
  WriteFileBytes(dir / "UPPER.Txt", "note");
  EXPECT_EQ(SideFilePath((dir / "UPPER").string(), "gpe"), (dir / "UPPER.GPE").string());
  EXPECT_EQ(SideFilePath((dir / "UPPER").string(), "lgd"), (dir / "UPPER.LGD").string());
  EXPECT_EQ(SideFilePath((dir / "UPPER").string(), "txt"), (dir / "UPPER.Txt").string());  // existing
  EXPECT_EQ(SideFilePath((dir / "lower").string(), "GPE"), (dir / "lower.gpe").string());
  EXPECT_EQ(SideFilePath((dir / "Mixed").string(), "gpe"), (dir / "Mixed.gpe").string());
  EXPECT_EQ(SideFilePath((dir / "TABLE").string(), "gpe"), (dir / "TABLE.GPE").string());
  EXPECT_EQ(SideFilePath((dir / "none").string(), "gpe"), (dir / "none.gpe").string());
  EXPECT_TRUE(SetUsesUpperCase((dir / "UPPER").string()));
  EXPECT_FALSE(SetUsesUpperCase((dir / "lower").string()));
}

}  // namespace
}  // namespace kestrune
