// The rows of the Attributes dialog without a window: which fields give rows,
// the replacement rule of added rows, the code page of table texts, and the
// writing back with its refusals, checked byte by byte on hand-made tables.
#include <gtest/gtest.h>

#include <filesystem>

#include "attributes/AttributeRows.h"
#include "shapes/DbfTestTables.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace kestrune {
namespace {

using test::DbfTableLayout;
using test::Left;
using test::MakeDbf;
using test::ReadFileBytes;
using test::Right;
using test::TempDir;
using test::WriteFileBytes;

// NAME C10, RATE N8.3, DAY D8, OK L1, NOTE M10, in three rows.
DbfTableLayout MixedTable() {
  DbfTableLayout t;
  t.fields = {{"NAME", 'C', 10, 0}, {"RATE", 'N', 8, 3}, {"DAY", 'D', 8, 0}, {"OK", 'L', 1, 0},
              {"NOTE", 'M', 10, 0}};
  t.rows = {" " + Left("north", 10) + Right("1.500", 8) + "20240105" + "T" + Right("12", 10),
            " " + Left("south", 10) + Right("  3.1", 8) + "00000000" + "F" + Right("13", 10),
            " " + Left("east", 10) + Right("2.25", 8) + "        " + "?" + Right("", 10)};
  return t;
}

// Where a field's bytes start in a row of MixedTable (after the deletion flag).
constexpr int kNameAt = 1, kRateAt = 11, kDayAt = 19;

struct TableFile {
  TempDir dir;
  fs::path path;
  std::string bytes;
  explicit TableFile(const DbfTableLayout& layout) : path(dir / "t.dbf"), bytes(MakeDbf(layout)) {
    WriteFileBytes(path, bytes);
  }
  // Offset of a row's first byte in the file.
  size_t RowStart(int row) const { return 32 + 32 * 5 + 1 + size_t(row - 1) * 38; }
};

// The rows as LoadFileRows gives them for one record.
AttributeRowList Loaded(const TableFile& file, int record) {
  AttributeRowList list;
  EXPECT_TRUE(list.LoadFileRows(file.path.string(), record));
  return list;
}

// Sets a file row's value as the dialog would after the user typed it.
AttributeRow& Row(AttributeRowList& list, const char* name) {
  for (AttributeRow& row : list.Rows()) {
    if (row.name == QLatin1String(name)) return row;
  }
  ADD_FAILURE() << "no row " << name;
  static AttributeRow none;
  return none;
}

TEST(AttributeRowsLoad, CharacterNumericAndDateFieldsGiveRowsInFieldOrder) {
  TableFile file(MixedTable());
  AttributeRowList list = Loaded(file, 1);
  ASSERT_EQ(list.Count(), 4u);  // the logical field has no row
  const auto& rows = list.Rows();
  EXPECT_EQ(rows[0].name, "NAME");
  EXPECT_EQ(rows[0].type, kDbfCharacter);
  EXPECT_EQ(rows[0].valueText, "north");
  EXPECT_EQ(rows[0].width, 10);
  EXPECT_EQ(rows[1].name, "RATE");
  EXPECT_EQ(rows[1].type, kDbfNumeric);
  EXPECT_DOUBLE_EQ(rows[1].value, 1.5);
  EXPECT_EQ(rows[1].decimals, 3);
  EXPECT_EQ(rows[2].name, "DAY");
  EXPECT_EQ(rows[2].type, kDbfDate);
  EXPECT_EQ(rows[2].valueText, "20240105");
  EXPECT_TRUE(rows[2].editable);
  // A memo's block number is shown but cannot be typed over.
  EXPECT_EQ(rows[3].name, "NOTE");
  EXPECT_EQ(rows[3].valueText, "        12");
  EXPECT_FALSE(rows[3].editable);
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].key, rows[i].fieldNumber);
    EXPECT_FALSE(rows[i].IsEdited());
  }
  EXPECT_EQ(rows[3].fieldNumber, 5);
}

TEST(AttributeRowsLoad, NumbersShowEveryDigitTheFieldHolds) {
  DbfTableLayout t;
  // A field of 2 decimals holding 5, and one of 15 as the soil tables have.
  t.fields = {{"A", 'N', 10, 2}, {"B", 'N', 24, 15}, {"C", 'F', 12, 4}, {"D", 'N', 6, 0}};
  t.rows = {" " + Right("3.14159", 10) + Right("29.389743589743590", 24) + Right("-0.5000", 12) + Right("", 6)};
  TableFile file(t);
  AttributeRowList list = Loaded(file, 1);
  ASSERT_EQ(list.Count(), 4u);
  EXPECT_EQ(list.Rows()[0].decimals, 5);
  EXPECT_DOUBLE_EQ(list.Rows()[0].value, 3.14159);
  EXPECT_EQ(list.Rows()[1].decimals, 15);
  EXPECT_DOUBLE_EQ(list.Rows()[1].value, 29.38974358974359);
  // "F" is a number too.
  EXPECT_EQ(list.Rows()[2].type, kDbfNumeric);
  EXPECT_DOUBLE_EQ(list.Rows()[2].value, -0.5);
  EXPECT_EQ(list.Rows()[2].decimals, 4);
  EXPECT_DOUBLE_EQ(list.Rows()[3].value, 0.0);
}

TEST(AttributeRowsLoad, NoPathNoTableOrNoRecordGiveNoFileRows) {
  TableFile file(MixedTable());
  for (int record : {0, -1, 4}) {
    AttributeRowList list;
    EXPECT_FALSE(list.LoadFileRows(file.path.string(), record)) << record;
    EXPECT_EQ(list.Count(), 0u);
  }
  AttributeRowList none;
  EXPECT_FALSE(none.LoadFileRows("", 1));
  EXPECT_FALSE(none.LoadFileRows((file.dir / "missing.dbf").string(), 1));
  WriteFileBytes(file.dir / "junk.dbf", "not a table at all, just text");
  EXPECT_FALSE(none.LoadFileRows((file.dir / "junk.dbf").string(), 1));
  EXPECT_EQ(none.Count(), 0u);
}

TEST(AttributeRowsAdd, AddedRowsGoOnTopLastFirstAndReplaceByKeyOrName) {
  TableFile file(MixedTable());
  AttributeRowList list = Loaded(file, 1);
  list.AddRow("Longitude", "093 15' W", kRowKeyByName, false);
  list.AddRow("Latitude", "045 45' N", kRowKeyByName, false);
  ASSERT_EQ(list.Count(), 6u);
  EXPECT_EQ(list.Rows()[0].name, "Latitude");
  EXPECT_EQ(list.Rows()[1].name, "Longitude");
  EXPECT_EQ(list.Rows()[2].name, "NAME");
  for (int i : {0, 1}) {
    EXPECT_EQ(list.Rows()[i].fieldNumber, -1);
    EXPECT_EQ(list.Rows()[i].width, 40);
    EXPECT_EQ(list.Rows()[i].type, kDbfCharacter);
    EXPECT_FALSE(list.Rows()[i].editable);
  }

  // The same name under key -1 replaces the value in place.
  list.AddRow("Latitude", "046 00' N", kRowKeyByName, false);
  ASSERT_EQ(list.Count(), 6u);
  EXPECT_EQ(list.Rows()[0].valueText, "046 00' N");
  EXPECT_EQ(list.Rows()[1].valueText, "093 15' W");

  // Other keys match by key whatever the name; a key -1 row never matches a file row.
  list.AddRow("Area (calc)", "1.00 ha", -2, false);
  list.AddRow("Area", "2.00 ha", -2, true);
  list.AddRow("NAME", "x", kRowKeyByName, false);
  ASSERT_EQ(list.Count(), 8u);
  EXPECT_EQ(list.Rows()[0].name, "NAME");
  EXPECT_EQ(list.Rows()[0].fieldNumber, -1);
  EXPECT_EQ(list.Rows()[1].name, "Area");
  EXPECT_EQ(list.Rows()[1].valueText, "2.00 ha");
  // Replacing changes name and value only, not the editable flag.
  EXPECT_FALSE(list.Rows()[1].editable);
  // A key equal to a field number replaces that file row's text.
  list.AddRow("Name", "west", 1, false);
  EXPECT_EQ(list.Count(), 8u);
  EXPECT_EQ(Row(list, "Name").valueText, "west");
  EXPECT_EQ(Row(list, "Name").fieldNumber, 1);
}

TEST(TableText, EveryByteRoundTripsAndTheWesternCodePageIsUsed) {
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(char(b));
  const QString text = DecodeTableText(all);
  ASSERT_EQ(text.size(), 255);
  std::string back;
  ASSERT_TRUE(EncodeTableText(text, back));
  EXPECT_EQ(back, all);

  EXPECT_EQ(DecodeTableText("\x80"), QString(QChar(0x20AC)));
  EXPECT_EQ(DecodeTableText("caf\xE9"), QString::fromUtf8("caf\xC3\xA9"));
  EXPECT_EQ(DecodeTableText("\x93q\x94"), QString::fromUtf8("\xE2\x80\x9Cq\xE2\x80\x9D"));
  ASSERT_TRUE(EncodeTableText(QString::fromUtf8("\xE2\x82\xAC 5"), back));
  EXPECT_EQ(back, "\x80 5");
}

TEST(TableText, CharactersWithoutAByteAreNamed) {
  std::string bytes;
  QString bad;
  EXPECT_FALSE(EncodeTableText(QString::fromUtf8("field \xE4\xB8\xAD 1"), bytes, &bad));
  EXPECT_EQ(bad, QString::fromUtf8("\xE4\xB8\xAD"));
  // A character beyond the basic plane is named whole.
  EXPECT_FALSE(EncodeTableText(QString::fromUtf8("a\xF0\x9F\x8C\xBD"), bytes, &bad));
  EXPECT_EQ(bad, QString::fromUtf8("\xF0\x9F\x8C\xBD"));
  // U+0080 is not the euro's byte: it would read back as another character.
  EXPECT_FALSE(EncodeTableText(QString(QChar(0x80)), bytes, &bad));
  EXPECT_FALSE(EncodeTableText(QString(QChar(0)), bytes, &bad));
}

TEST(AttributeRowsSave, OnlyTheEditedFieldsOfTheRecordChange) {
  TableFile file(MixedTable());
  AttributeRowList list = Loaded(file, 2);
  list.AddRow("Latitude", "045 N", kRowKeyByName, false);
  Row(list, "NAME").valueText = QString::fromUtf8("s\xC3\xBC" "d");
  Row(list, "RATE").value = 42.125;
  const SaveOutcome out = SaveAttributeRows(file.path.string(), 2, list.Rows());
  EXPECT_EQ(out.status, SaveStatus::Saved);
  EXPECT_TRUE(out.message.empty());

  std::string expected = file.bytes;
  const size_t row = file.RowStart(2);
  expected.replace(row + kNameAt, 10, Left("s\xFC" "d", 10));
  expected.replace(row + kRateAt, 8, Right("42.125", 8));
  // The unchanged date "00000000" (no real date) and the oddly spaced number of
  // the other rows keep their bytes.
  EXPECT_EQ(ReadFileBytes(file.path), expected);
}

TEST(AttributeRowsSave, ATableReplacedByAnotherLayoutIsNotWritten) {
  // Tables another program may put in the first one's place while the dialog is open.
  DbfTableLayout reordered = MixedTable();
  std::swap(reordered.fields[0], reordered.fields[1]);
  for (std::string& row : reordered.rows) row = " " + row.substr(11, 8) + row.substr(1, 10) + row.substr(19);
  DbfTableLayout wider = MixedTable();
  wider.fields[0].length = 11;
  for (std::string& row : wider.rows) row.insert(11, " ");
  DbfTableLayout renamed = MixedTable();
  renamed.fields[1].name = "SPEED";
  const struct {
    const char* what;
    DbfTableLayout layout;
  } cases[] = {{"fields swapped", reordered}, {"a field wider", wider}, {"a field renamed", renamed}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TableFile file(MixedTable());
    AttributeRowList list = Loaded(file, 2);
    Row(list, "RATE").value = 42.125;
    const std::string replaced = MakeDbf(c.layout);
    WriteFileBytes(file.path, replaced);
    const SaveOutcome out = SaveAttributeRows(file.path.string(), 2, list.Rows(), list.TableLayout());
    EXPECT_EQ(out.status, SaveStatus::LayoutChanged);
    EXPECT_NE(out.message.find(file.path.string()), std::string::npos) << out.message;
    EXPECT_EQ(ReadFileBytes(file.path), replaced);
  }
  // The same layout with other values is the same table: the edit lands.
  TableFile file(MixedTable());
  AttributeRowList list = Loaded(file, 2);
  Row(list, "RATE").value = 42.125;
  EXPECT_EQ(SaveAttributeRows(file.path.string(), 2, list.Rows(), list.TableLayout()).status, SaveStatus::Saved);
}

TEST(AttributeRowsSave, UnchangedValuesKeepTheirBytesButShownValuesAreWritten) {
  TableFile file(MixedTable());
  AttributeRowList list = Loaded(file, 2);
  // OK without changes leaves "  3.1" as it is, not "   3.100".
  EXPECT_EQ(SaveAttributeRows(file.path.string(), 2, list.Rows()).status, SaveStatus::Saved);
  EXPECT_EQ(ReadFileBytes(file.path), file.bytes);

  // Another program changed the row while the dialog was open: the shown
  // values are what OK writes.
  std::string changed = file.bytes;
  const size_t row = file.RowStart(2);
  changed.replace(row + kNameAt, 10, Left("other", 10));
  changed.replace(row + kRateAt, 8, Right("9.000", 8));
  WriteFileBytes(file.path, changed);
  EXPECT_EQ(SaveAttributeRows(file.path.string(), 2, list.Rows()).status, SaveStatus::Saved);
  std::string expected = changed;
  expected.replace(row + kNameAt, 10, Left("south", 10));
  expected.replace(row + kRateAt, 8, Right("3.100", 8));
  EXPECT_EQ(ReadFileBytes(file.path), expected);
}

TEST(AttributeRowsSave, ATooWideNumberNamesTheFieldAndWritesNothing) {
  TableFile file(MixedTable());
  AttributeRowList list = Loaded(file, 1);
  list.AddRow("Latitude", "045 N", kRowKeyByName, false);
  Row(list, "NAME").valueText = "changed";
  Row(list, "RATE").value = 123456.5;  // "123456.500" is 10 characters, the field 8
  const SaveOutcome out = SaveAttributeRows(file.path.string(), 1, list.Rows());
  EXPECT_EQ(out.status, SaveStatus::Refused);
  EXPECT_EQ(out.refusedRow, 2);  // the added row is on top
  EXPECT_NE(out.message.find("\"RATE\""), std::string::npos) << out.message;
  EXPECT_NE(out.message.find(" 8 "), std::string::npos) << out.message;
  EXPECT_EQ(ReadFileBytes(file.path), file.bytes);

  // The largest value that fits is taken.
  Row(list, "RATE").value = -999.999;
  EXPECT_EQ(SaveAttributeRows(file.path.string(), 1, list.Rows()).status, SaveStatus::Saved);
  EXPECT_EQ(ReadFileBytes(file.path).substr(file.RowStart(1) + kRateAt, 8), "-999.999");
}

TEST(AttributeRowsSave, DatesTakeOnlyARealDayOrBlank) {
  TableFile file(MixedTable());
  AttributeRowList list = Loaded(file, 1);
  for (const char* bad : {"20240230", "2024-1-5", "yesterday"}) {
    Row(list, "DAY").valueText = bad;
    const SaveOutcome out = SaveAttributeRows(file.path.string(), 1, list.Rows());
    EXPECT_EQ(out.status, SaveStatus::Refused) << bad;
    EXPECT_EQ(out.refusedRow, 2);
    EXPECT_NE(out.message.find("\"DAY\""), std::string::npos) << out.message;
    EXPECT_EQ(ReadFileBytes(file.path), file.bytes);
  }
  Row(list, "DAY").valueText = "20240229";
  EXPECT_EQ(SaveAttributeRows(file.path.string(), 1, list.Rows()).status, SaveStatus::Saved);
  EXPECT_EQ(ReadFileBytes(file.path).substr(file.RowStart(1) + kDayAt, 8), "20240229");
  Row(list, "DAY").valueText = "";
  EXPECT_EQ(SaveAttributeRows(file.path.string(), 1, list.Rows()).status, SaveStatus::Saved);
  EXPECT_EQ(ReadFileBytes(file.path).substr(file.RowStart(1) + kDayAt, 8), "        ");
}

TEST(AttributeRowsSave, ATextOutsideTheCodePageNamesFieldAndCharacter) {
  TableFile file(MixedTable());
  AttributeRowList list = Loaded(file, 3);
  Row(list, "NAME").valueText = QString::fromUtf8("\xE4\xB8\x9C");
  const SaveOutcome out = SaveAttributeRows(file.path.string(), 3, list.Rows());
  EXPECT_EQ(out.status, SaveStatus::Refused);
  EXPECT_EQ(out.refusedRow, 0);
  EXPECT_NE(out.message.find("\"NAME\""), std::string::npos) << out.message;
  EXPECT_NE(out.message.find("\xE4\xB8\x9C"), std::string::npos) << out.message;
  EXPECT_EQ(ReadFileBytes(file.path), file.bytes);
}

TEST(AttributeRowsSave, AFieldNameInTheWesternCodePageIsNamedReadably) {
  DbfTableLayout t;
  t.fields = {{"DOS\xC9", 'N', 4, 1}};
  t.rows = {" " + Right("1.5", 4)};
  TableFile file(t);
  AttributeRowList list = Loaded(file, 1);
  ASSERT_EQ(list.Count(), 1u);
  EXPECT_EQ(list.Rows()[0].name, QString::fromUtf8("DOS\xC3\x89"));
  list.Rows()[0].value = 100.0;  // "100.0" needs 5 characters
  const SaveOutcome out = SaveAttributeRows(file.path.string(), 1, list.Rows());
  EXPECT_EQ(out.status, SaveStatus::Refused);
  EXPECT_NE(out.message.find("\"DOS\xC3\x89\""), std::string::npos) << out.message;
  EXPECT_EQ(ReadFileBytes(file.path), file.bytes);
}

TEST(AttributeRowsSave, ATableThatCannotBeWrittenTellsOnlyWhenEditsAreLost) {
  TableFile file(MixedTable());
  AttributeRowList list = Loaded(file, 1);
  {
    // Another table object holds the file: it cannot be opened now.
    DbfTable holder(file.path.string());
    ASSERT_TRUE(holder.IsReady());
    SaveOutcome out = SaveAttributeRows(file.path.string(), 1, list.Rows());
    EXPECT_EQ(out.status, SaveStatus::NotWritable);
    EXPECT_TRUE(out.message.empty());
    Row(list, "RATE").value = 2.0;
    out = SaveAttributeRows(file.path.string(), 1, list.Rows());
    EXPECT_EQ(out.status, SaveStatus::NotWritable);
    EXPECT_NE(out.message.find("not saved"), std::string::npos) << out.message;
    EXPECT_NE(out.message.find(file.path.string()), std::string::npos) << out.message;
  }
  EXPECT_EQ(ReadFileBytes(file.path), file.bytes);

  // The record went away (the file was cut short) between opening and OK.
  WriteFileBytes(file.path, file.bytes.substr(0, file.RowStart(1) + 20));
  const SaveOutcome out = SaveAttributeRows(file.path.string(), 1, list.Rows());
  EXPECT_EQ(out.status, SaveStatus::RowUnreadable);
  EXPECT_NE(out.message.find("not saved"), std::string::npos) << out.message;

  fs::remove(file.path);
  EXPECT_EQ(SaveAttributeRows(file.path.string(), 1, list.Rows()).status, SaveStatus::NotWritable);
}

TEST(AttributeRowsSave, TextsFollowTheEncodingTheCpgNames) {
  DbfTableLayout t;
  t.fields = {{"NAME", 'C', 12, 0}, {"NOTE", 'C', 4, 0}};
  t.rows = {" " + Left("Fl\xC3\xA4" "che", 12) + Left("\xFF\xFE", 4)};  // the note is no UTF-8
  TableFile file(t);
  WriteFileBytes(file.dir / "t.cpg", "UTF-8");
  AttributeRowList list = Loaded(file, 1);
  EXPECT_EQ(Row(list, "NAME").valueText, QString::fromUtf8("Fl\xC3\xA4" "che"));
  Row(list, "NAME").valueText = QString::fromUtf8("\xE4\xB8\xAD");
  EXPECT_EQ(SaveAttributeRows(file.path.string(), 1, list.Rows()).status, SaveStatus::Saved);
  const size_t row = 32 + 32 * 2 + 1;
  // The edited field is written in UTF-8; the one left alone keeps its bytes.
  EXPECT_EQ(ReadFileBytes(file.path).substr(row + 1, 16), Left("\xE4\xB8\xAD", 12) + Left("\xFF\xFE", 4));
}

TEST(AttributeRowsSave, NoPathOrANegativeRecordWritesNothing) {
  TableFile file(MixedTable());
  AttributeRowList list = Loaded(file, 1);
  Row(list, "RATE").value = 7.0;
  EXPECT_EQ(SaveAttributeRows("", 1, list.Rows()).status, SaveStatus::Saved);
  EXPECT_EQ(SaveAttributeRows(file.path.string(), -1, list.Rows()).status, SaveStatus::Saved);
  EXPECT_EQ(ReadFileBytes(file.path), file.bytes);
}

}  // namespace
}  // namespace kestrune
