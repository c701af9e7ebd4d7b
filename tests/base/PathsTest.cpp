// The one set of path rules: folder, file name, base path and extension.
#include <gtest/gtest.h>

#include "base/Paths.h"

namespace kestrune {
namespace {

TEST(Paths, SplitOnlyTheFileNameAndKeepAHiddenNamesDot) {
  struct Case {
    const char* path;
    const char* folder;
    const char* name;
    const char* base;
    const char* extension;
  };
  const Case cases[] = {
      {"/data/field.shp", "/data", "field.shp", "/data/field", "shp"},
      {"/data/v1.2/field", "/data/v1.2", "field", "/data/v1.2/field", ""},
      {"/data/v1.2/field.tar.SHP", "/data/v1.2", "field.tar.SHP", "/data/v1.2/field.tar", "SHP"},
      {"/data/Feld_Müller.SHP", "/data", "Feld_Müller.SHP", "/data/Feld_Müller", "SHP"},
      {"/home/grower/My Fields 2024/north", "/home/grower/My Fields 2024", "north",
       "/home/grower/My Fields 2024/north", ""},
      {"/farm/.north", "/farm", ".north", "/farm/.north", ""},
      {"/farm/.north.shp", "/farm", ".north.shp", "/farm/.north", "shp"},
      {".shp", "", ".shp", ".shp", ""},
      {"north.v2.shp", "", "north.v2.shp", "north.v2", "shp"},
      {"rel/north.shp", "rel", "north.shp", "rel/north", "shp"},
      {"/north.shp", "/", "north.shp", "/north", "shp"},
      {"a.", "", "a.", "a", ""},
      {"", "", "", "", ""},
      // A backslash is an ordinary file-name character here.
      {"C:\\data\\east.shp", "", "C:\\data\\east.shp", "C:\\data\\east", "shp"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FolderOf(c.path), c.folder) << c.path;
    EXPECT_EQ(FileNameOf(c.path), c.name) << c.path;
    EXPECT_EQ(BasePathOf(c.path), c.base) << c.path;
    EXPECT_EQ(ExtensionOf(c.path), c.extension) << c.path;
  }
}

}  // namespace
}  // namespace kestrune
