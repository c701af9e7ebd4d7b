// The encoding of a table's text: the ".cpg" beside the set names it, code
// page 1252 without one.
#include <gtest/gtest.h>

#include "shapes/TableEncoding.h"
#include "support/TestSupport.h"

namespace kestrune {
namespace {

TEST(TableEncoding, CpgNamesInTheSpellingsOfShapeFileWriters) {
  const std::pair<const char*, const char*> names[] = {
      {"UTF-8", "UTF-8"},          {"utf8\r\n", "UTF-8"},     {"65001", "UTF-8"},
      {"ANSI 1251", "windows-1251"}, {"1250", "windows-1250"}, {"CP1257", "windows-1257"},
      {"8859_2", "ISO-8859-2"},    {"88595", "ISO-8859-5"},   {"ISO-8859-15", "ISO-8859-15"},
      {"1252", "windows-1252"},    {"ANSI 1252", "windows-1252"}, {"windows-1252", "windows-1252"},
      {"", "windows-1252"},        {"no such code page", "windows-1252"},
  };
  for (const auto& [cpg, name] : names) EXPECT_EQ(TableEncoding::FromName(cpg).Name(), name) << cpg;
}

TEST(TableEncoding, TheCpgBesideTheTableDecidesHowTextReadsAndWrites) {
  test::TempDir dir;
  const std::string dbf = (dir / "zones.dbf").string();
  // Without a ".cpg": code page 1252, every byte kept.
  EXPECT_EQ(TableEncoding::ForTable(dbf).Decode("caf\xE9"), QString::fromUtf8("caf\xC3\xA9"));

  test::WriteFileBytes(dir / "zones.cpg", "UTF-8\n");
  const TableEncoding utf8 = TableEncoding::ForTable(dbf);
  EXPECT_EQ(utf8.Decode("Fl\xC3\xA4" "che"), QString::fromUtf8("Fl\xC3\xA4" "che"));
  std::string bytes;
  ASSERT_TRUE(utf8.Encode(QString::fromUtf8("\xE4\xB8\xAD 1"), bytes));
  EXPECT_EQ(bytes, "\xE4\xB8\xAD 1");

  test::WriteFileBytes(dir / "zones.cpg", "ANSI 1251");
  const TableEncoding cyrillic = TableEncoding::ForTable(dbf);
  EXPECT_EQ(cyrillic.Decode("\xCF\xEE\xEB\xE5"), QString::fromUtf8("\xD0\x9F\xD0\xBE\xD0\xBB\xD0\xB5"));  // "Поле"
  ASSERT_TRUE(cyrillic.Encode(QString::fromUtf8("\xD0\x9F\xD0\xBE\xD0\xBB\xD0\xB5"), bytes));
  EXPECT_EQ(bytes, "\xCF\xEE\xEB\xE5");
  QString bad;
  EXPECT_FALSE(cyrillic.Encode(QString::fromUtf8("caf\xC3\xA9"), bytes, &bad));
  EXPECT_EQ(bad, QString::fromUtf8("\xC3\xA9"));
}

}  // namespace
}  // namespace kestrune
