// Several number columns read in one pass (two threads over a big table)
// give, row by row, what reading each column on its own gives, NaN where a
// field is blank or a row is missing from the file.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "layers/NumberColumns.h"
#include "shapes/DbfTable.h"
#include "shapes/DbfTestTables.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace kestrune {
namespace {

bool Blank(const DbfTable& table, int row, int field) {
  DbfTable& t = const_cast<DbfTable&>(table);
  if (!t.ReadRecord(row)) return true;
  std::string text;
  if (!t.GetString(field, text)) return true;
  for (char c : text) {
    if (c != ' ' && c != '\0') return false;
  }
  return true;
}

// Every numeric field of the table read in one pass against one column at a time.
void ExpectSameAsOneByOne(const fs::path& path, int64_t wantRows) {
  DbfTable table;
  ASSERT_TRUE(table.Open(path.string()));
  ASSERT_EQ(table.GetRecordCount(), wantRows);
  std::vector<int> numbers;
  std::vector<const DbfField*> fields;
  for (int f = 1; f <= table.GetFieldCount(); ++f) {
    const DbfField* field = table.GetField(f);
    if (field->letter == 'N' || field->letter == 'F') {
      numbers.push_back(f);
      fields.push_back(field);
    }
  }
  ASSERT_GE(fields.size(), 2u);
  fields.insert(fields.begin() + 1, nullptr);  // a field not asked for stays empty
  std::vector<std::vector<double>> together;
  ASSERT_TRUE(ReadNumberColumns(table, fields, together));
  ASSERT_EQ(together.size(), fields.size());
  EXPECT_TRUE(together[1].empty());
  together.erase(together.begin() + 1);
  for (size_t k = 0; k < numbers.size(); ++k) {
    std::vector<double> alone;
    ASSERT_TRUE(table.ReadNumberColumn(numbers[k], alone));
    ASSERT_EQ(together[k].size(), static_cast<size_t>(wantRows));
    for (size_t i = 0; i < alone.size(); ++i) {
      const int row = static_cast<int>(i) + 1;
      if (Blank(table, row, numbers[k])) {
        ASSERT_TRUE(std::isnan(together[k][i])) << "field " << numbers[k] << " row " << row;
      } else {
        ASSERT_EQ(together[k][i], alone[i]) << "field " << numbers[k] << " row " << row;
        ASSERT_EQ(std::signbit(together[k][i]), std::signbit(alone[i]));
      }
    }
    // Rows the file no longer holds whole.
    for (size_t i = alone.size(); i < together[k].size(); ++i) ASSERT_TRUE(std::isnan(together[k][i]));
  }
}

TEST(NumberColumns, RealLogReadInOnePassEqualsColumnByColumn) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  test::TempDir dir;
  const fs::path shp = test::CopyFileSet(data / "field" / "as-applied-simple1.shp", dir.path());
  DbfTable table;
  ASSERT_TRUE(table.Open(fs::path(shp).replace_extension(".dbf").string()));
  const int64_t rows = table.GetRecordCount();
  table.Close();
  ASSERT_GT(rows, 100);
  ExpectSameAsOneByOne(fs::path(shp).replace_extension(".dbf"), rows);
}

// Enough rows for both threads, with blanks, NUL-ended and left-aligned
// fields, deleted rows, awkward texts, and a part row at the end.
TEST(NumberColumns, GeneratedTableReadInOnePassEqualsColumnByColumn) {
  using test::Right;
  const char* awkward[] = {"   1.5e3", "  +2.250", "   .5   ", "0x10    ", "  12,5  ", "   -.000", " 1 2    ",
                           "99999999", "-9999999"};
  test::DbfTableLayout layout;
  layout.fields = {{"RATE", 'N', 10, 2}, {"NAME", 'C', 5, 0}, {"WIDTH", 'N', 6, 2}, {"ODD", 'N', 8, 3}};
  const int rows = 150000;
  for (int i = 0; i < rows; ++i) {
    std::string row(1, i % 97 == 5 ? '*' : ' ');
    std::string rate =
        i % 31 == 0 ? std::string(10, ' ') : Right(std::to_string(i % 5000) + "." + std::to_string(10 + i % 90), 10);
    if (i % 53 == 0) rate = std::string("12.5\0\0\0\0\0\0", 10);
    if (i % 59 == 0) rate = std::string(10, '\0');
    row += rate;
    row += "ab   ";
    std::string width = i % 7 == 0 ? "-0.00 " : Right(std::to_string(40 + i % 20) + ".00", 6);
    if (i % 43 == 0) width = "59.06 ";
    row += width;
    row += awkward[i % 9];
    layout.rows.push_back(row);
  }
  // Bytes after the last row that make no whole row.
  layout.tail = std::string(20, ' ');
  test::TempDir dir;
  const fs::path path = dir / "log.dbf";
  test::WriteFileBytes(path, test::MakeDbf(layout));
  ExpectSameAsOneByOne(path, rows);
}

}  // namespace
}  // namespace kestrune
