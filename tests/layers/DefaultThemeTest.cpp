// The field a file without a theme of its own is coloured by: a log's rate,
// an area file's first measure after its id fields, nothing otherwise.
#include <gtest/gtest.h>

#include "layers/DefaultTheme.h"
#include "layers/IniFile.h"
#include "support/TestSupport.h"

namespace kestrune {
namespace {

DbfField F(const char* name, char letter) {
  DbfField f;
  f.name = name;
  f.letter = letter;
  f.type = letter == 'C' ? kDbfCharacter : kDbfNumeric;
  return f;
}

TEST(DefaultTheme, ALogTakesItsRateAnAreaItsFirstMeasureAfterTheIds) {
  struct Case {
    const char* what;
    std::vector<DbfField> fields;
    int rate;
    int32_t shapeType;
    int field;
  };
  const Case cases[] = {
      {"point log by rate", {F("Boom", 'N'), F("AppliedRat", 'N')}, 2, 1, 2},
      {"area log by rate", {F("ID", 'N'), F("Rate", 'N')}, 2, 5, 2},
      {"soils past the key", {F("musym", 'C'), F("mukey", 'N'), F("clay", 'N')}, 0, 5, 3},
      {"ids of every spelling", {F("FID", 'N'), F("polygon_ID", 'N'), F("OID", 'N'), F("AREA", 'F')}, 0, 5, 4},
      {"an area of ids alone", {F("FID", 'N'), F("Field", 'C')}, 0, 5, 0},
      {"points without a rate", {F("Yld_Vol_Dr", 'N')}, 0, 1, 0},
      {"a line without a rate", {F("Width", 'N')}, 0, 3, 0},
      {"a rate past the fields", {F("Rate", 'N')}, 4, 1, 0},
  };
  for (const Case& c : cases) {
    LogFields logs;
    logs[LogField::Rate] = c.rate;
    EXPECT_EQ(DefaultThemeField(c.fields, logs, c.shapeType), c.field) << c.what;
  }
}

TEST(DefaultTheme, OnlyALegendColumnKeyNamesATheme) {
  test::TempDir dir;
  const std::string gpe = (dir / "a.gpe").string();
  for (const auto& [text, names] : {std::pair{"[Options]\r\nDISPLAY_SIZE=30\r\n", false},
                                    std::pair{"[Options]\r\nLEGEND_COL=2\r\n", true},
                                    std::pair{"[Options]\r\nLEGEND_COL=\r\n", false}}) {
    test::WriteFileBytes(gpe, text);
    IniFile file;
    file.Load(gpe);
    EXPECT_EQ(SettingsNameTheme(file), names) << text;
  }
  EXPECT_EQ(ShapeTypeOfFile((dir / "none.shp").string()), 0);
}

}  // namespace
}  // namespace kestrune
