// The layer's whole table without the window: every table of the test data
// against pyshp, sorting a large generated table, every find operator on
// numbers, text and dates, refused conditions, encodings, and records by number.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "attributes/LayerTable.h"
#include "layers/LayerTestFiles.h"
#include "shapes/DbfTestTables.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace kestrune {
namespace {

using test::DbfTableLayout;
using test::Left;
using test::Right;
using test::TempDir;

// The table as pyshp reads it, or an empty object when pyshp is missing.
QJsonObject Oracle(const fs::path& dbf) {
  const std::string script = std::string(KESTRUNE_SOURCE_DIR) + "/tests/shapes/dbf_oracle.py";
  for (const char* python : {"/usr/bin/python3", "python3"}) {
    const std::string command = std::string(python) + " '" + script + "' '" + dbf.string() + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) continue;
    QByteArray out;
    char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, qsizetype(n));
    if (pclose(pipe) == 0) return QJsonDocument::fromJson(out).object();
  }
  return {};
}

TEST(LayerTableRealData, EveryCellMatchesPyshp) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  int tables = 0;
  for (const auto& entry : fs::recursive_directory_iterator(data)) {
    if (entry.path().extension() != ".dbf") continue;
    SCOPED_TRACE(entry.path().string());
    const QJsonObject expected = Oracle(entry.path());
    if (expected.isEmpty()) {
      if (test::TestDataRequired()) FAIL() << "pyshp is missing";
      GTEST_SKIP() << "python3 with pyshp is missing";
    }
    LayerTable table;
    ASSERT_TRUE(table.Open(entry.path().string()));
    const QJsonArray fields = expected["fields"].toArray();
    const QJsonArray records = expected["records"].toArray();
    ASSERT_EQ(table.ColumnCount(), fields.size());
    ASSERT_EQ(table.RowCount(), records.size());
    for (int c = 0; c < table.ColumnCount(); ++c) {
      EXPECT_EQ(table.FieldName(c), fields[c].toArray()[0].toString());
      const QString letter = fields[c].toArray()[1].toString();
      EXPECT_EQ(table.Kind(c) == ColumnKind::Number, letter == "N" || letter == "F");
    }
    for (int r = 0; r < table.RowCount(); ++r) {
      const QJsonArray row = records[r].toArray();
      for (int c = 0; c < table.ColumnCount(); ++c) {
        const QString shown = table.Text(r, c);
        const QJsonValue want = row[c];
        if (table.Kind(c) == ColumnKind::Number) {
          if (want.isNull()) {
            EXPECT_TRUE(shown.isEmpty()) << shown.toStdString();
            continue;
          }
          // Shown with the field's decimals and the same number, or, where the
          // stored digits carry binary rounding, as the shortest text that
          // reads back as the very same value.
          const int decimals = table.Field(c).decimals;
          const int point = int(shown.indexOf('.'));
          const int shownDecimals = point < 0 ? 0 : int(shown.size()) - point - 1;
          if (shownDecimals != decimals) {
            EXPECT_LT(shownDecimals, decimals) << shown.toStdString();
            EXPECT_EQ(shown.toDouble(), want.toDouble()) << shown.toStdString();
          }
          EXPECT_NEAR(shown.toDouble(), want.toDouble(), 0.5 * std::pow(10.0, -decimals) + 1e-9 * std::fabs(want.toDouble()));
        } else {
          EXPECT_EQ(shown, want.toString().trimmed());
        }
      }
    }
    ++tables;
  }
  EXPECT_GE(tables, 15);
}

// A table of n rows: an "N" field with few distinct values, a text field and a date field.
std::string GeneratedTable(int n, std::vector<double>& rates, std::vector<std::string>& names) {
  DbfTableLayout layout;
  layout.fields = {{"Rate", 'N', 8, 1}, {"Name", 'C', 6, 0}, {"When", 'D', 8, 0}};
  std::mt19937 random(7);
  const char* words[] = {"corn", "Corn", "soy", "Wheat", "", "oats"};
  for (int i = 0; i < n; ++i) {
    const double rate = double(random() % 200) / 2.0;
    const std::string name = words[random() % 6];
    rates.push_back(rate);
    names.push_back(name);
    char date[16];
    std::snprintf(date, sizeof date, "2024%02d%02d", int(random() % 12) + 1, int(random() % 28) + 1);
    char text[16];
    std::snprintf(text, sizeof text, "%8.1f", rate);
    layout.rows.push_back(" " + std::string(text) + Left(name, 6) + date);
  }
  return test::MakeDbf(layout);
}

TEST(LayerTableSort, HundredThousandRowsByNumberAndTextStablyBothWays) {
  TempDir dir;
  std::vector<double> rates;
  std::vector<std::string> names;
  const int n = 100000;
  test::WriteFileBytes(dir / "big.dbf", GeneratedTable(n, rates, names));
  LayerTable table;
  ASSERT_TRUE(table.Open((dir / "big.dbf").string()));
  EXPECT_EQ(table.BytesPerRow(), 0u);
  for (bool ascending : {true, false}) {
    SCOPED_TRACE(ascending);
    ASSERT_TRUE(table.Sort(0, ascending));
    EXPECT_EQ(table.BytesPerRow(), 4u);
    std::vector<char> seen(n + 1, 0);
    for (int row = 1; row < n; ++row) {
      const int a = table.RecordAt(row - 1);
      const int b = table.RecordAt(row);
      const double ra = rates[size_t(a - 1)];
      const double rb = rates[size_t(b - 1)];
      ASSERT_TRUE(ascending ? ra <= rb : ra >= rb) << row;
      // Equal values keep record order.
      if (ra == rb) {
        ASSERT_LT(a, b) << row;
      }
      seen[size_t(b)] = 1;
    }
    seen[size_t(table.RecordAt(0))] = 1;
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), n);
    // Cells follow the order.
    EXPECT_EQ(table.Text(0, 0).toDouble(), ascending ? 0.0 : 99.5);
    EXPECT_EQ(table.RowOfRecord(table.RecordAt(54321)), 54321);
    const std::vector<int> rows = table.RowsOfRecords({table.RecordAt(5), table.RecordAt(99999), 1, 2, 3, 4, 5, 6});
    EXPECT_EQ(rows[0], 5);
    EXPECT_EQ(rows[1], 99999);
  }
  // Text ignores case; blank first ascending.
  ASSERT_TRUE(table.Sort(1, true));
  EXPECT_EQ(table.Text(0, 1), "");
  for (int row = 1; row < n; row += 97) {
    EXPECT_LE(table.Text(row - 1, 1).compare(table.Text(row, 1), Qt::CaseInsensitive), 0) << row;
  }
  // Dates as dates.
  ASSERT_TRUE(table.Sort(2, false));
  EXPECT_EQ(table.Text(0, 2).left(5), "2024-");
  EXPECT_GE(table.Text(0, 2), table.Text(n - 1, 2));
  table.ClearSort();
  EXPECT_EQ(table.RecordAt(777), 778);
  EXPECT_EQ(table.BytesPerRow(), 0u);
}

// Five rows: numbers, text and dates with a blank in each column.
class LayerTableFind : public ::testing::Test {
 protected:
  void SetUp() override {
    DbfTableLayout layout;
    layout.fields = {{"Rate", 'N', 6, 1}, {"Crop", 'C', 10, 0}, {"When", 'D', 8, 0}, {"Yield", 'F', 6, 0}};
    const char* rates[] = {"5.0", "0.0", "", "12.5", "-3.0"};
    const char* crops[] = {"Corn", "corn seed", "", "Soy", "Wheat"};
    const char* dates[] = {"20240105", "20231231", "", "20240105", "20250101"};
    for (int i = 0; i < 5; ++i) {
      layout.rows.push_back(" " + Right(rates[i], 6) + Left(crops[i], 10) + Left(dates[i], 8) + Right(std::to_string(i * 10), 6));
    }
    test::WriteFileBytes(dir_ / "find.dbf", test::MakeDbf(layout));
    ASSERT_TRUE(table_.Open((dir_ / "find.dbf").string()));
  }
  std::vector<int> Records(int column, FindOperator op, const char* value) {
    const FindResult r = table_.Find({column, op, QString::fromUtf8(value)});
    EXPECT_TRUE(r.ok) << r.error;
    return r.records;
  }
  TempDir dir_;
  LayerTable table_;
};

using V = std::vector<int>;

TEST_F(LayerTableFind, EveryOperatorOnNumbersTextAndDates) {
  struct Case {
    int column;
    FindOperator op;
    const char* value;
    V want;
  };
  const Case cases[] = {
      {0, FindOperator::Equal, "5", {1}},
      {0, FindOperator::NotEqual, "5", {2, 4, 5}},  // the blank number meets no comparison
      {0, FindOperator::Less, "0", {5}},
      {0, FindOperator::LessEqual, "0", {2, 5}},
      {0, FindOperator::Greater, "5", {4}},
      {0, FindOperator::GreaterEqual, " 5.0 ", {1, 4}},
      {0, FindOperator::Contains, "2.5", {4}},
      {0, FindOperator::IsEmpty, "", {3}},
      {3, FindOperator::Greater, "15", {3, 4, 5}},  // "F" compares as a number
      {1, FindOperator::Equal, "Corn", {1}},
      {1, FindOperator::NotEqual, "Corn", {2, 3, 4, 5}},
      {1, FindOperator::Less, "Soy", {1, 3}},
      {1, FindOperator::LessEqual, "Soy", {1, 3, 4}},
      {1, FindOperator::Greater, "Soy", {2, 5}},
      {1, FindOperator::GreaterEqual, "Wheat", {2, 5}},
      {1, FindOperator::Contains, "CORN", {1, 2}},
      {1, FindOperator::IsEmpty, "", {3}},
      {2, FindOperator::Equal, "2024-01-05", {1, 4}},
      {2, FindOperator::Equal, "20240105", {1, 4}},
      {2, FindOperator::NotEqual, "2024-01-05", {2, 5}},
      {2, FindOperator::Less, "2024-01-05", {2}},
      {2, FindOperator::LessEqual, "2024-01-05", {1, 2, 4}},
      {2, FindOperator::Greater, "2024-01-05", {5}},
      {2, FindOperator::GreaterEqual, "2023-12-31", {1, 2, 4, 5}},
      {2, FindOperator::Contains, "2024", {1, 4}},
      {2, FindOperator::IsEmpty, "", {3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.column) + " " + std::to_string(int(c.op)) + " " + c.value);
    EXPECT_EQ(Records(c.column, c.op, c.value), c.want);
  }
}

TEST_F(LayerTableFind, ValuesThatDoNotParseAreRefusedAndSelectNothing) {
  struct Case {
    int column;
    FindOperator op;
    const char* value;
    const char* error;
  };
  const Case cases[] = {
      {0, FindOperator::Equal, "five", "\"five\" is not a number."},
      {0, FindOperator::Less, "", "Give a value to compare with."},
      {3, FindOperator::Greater, "1,2,3", "\"1,2,3\" is not a number."},
      {2, FindOperator::Equal, "2024-02-30", "\"2024-02-30\" is not a date; write it as YYYY-MM-DD."},
      {2, FindOperator::Greater, "yesterday", "\"yesterday\" is not a date; write it as YYYY-MM-DD."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    const FindResult r = table_.Find({c.column, c.op, QString::fromUtf8(c.value)});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, c.error);
    EXPECT_TRUE(r.records.empty());
  }
  // Contains and is-empty take any text on any field.
  EXPECT_EQ(Records(0, FindOperator::Contains, "five"), V{});
  EXPECT_EQ(Records(2, FindOperator::IsEmpty, "whatever"), V{3});
}

TEST(LayerTableCells, NumbersDatesAndEncodings) {
  TempDir dir;
  DbfTableLayout layout;
  layout.fields = {{"Rate", 'N', 8, 3}, {"When", 'D', 8, 0}, {"Name", 'C', 8, 0}};
  layout.rows = {" " + Right("12.5", 8) + "20240229" + Left("Caf\xc3\xa9", 8),
                 " " + Right("7", 8) + "2024XX01" + Left("Caf\xe9", 8)};
  const std::string bytes = test::MakeDbf(layout);
  test::WriteFileBytes(dir / "west.dbf", bytes);
  test::WriteFileBytes(dir / "utf.dbf", bytes);
  test::WriteFileBytes(dir / "utf.cpg", "UTF-8\n");
  LayerTable west;
  ASSERT_TRUE(west.Open((dir / "west.dbf").string()));
  EXPECT_EQ(west.GetEncoding(), TableEncoding::Western);
  EXPECT_EQ(west.Text(0, 0), "12.500");
  EXPECT_EQ(west.Text(1, 0), "7.000");
  EXPECT_EQ(west.Text(0, 1), "2024-02-29");
  EXPECT_EQ(west.Text(1, 1), "2024XX01");  // no date: shown as stored
  EXPECT_EQ(west.Text(0, 2), QString::fromUtf8("Caf\xc3\x83\xc2\xa9"));
  EXPECT_EQ(west.Text(1, 2), QString::fromUtf8("Caf\xc3\xa9"));
  LayerTable utf;
  ASSERT_TRUE(utf.Open((dir / "utf.dbf").string()));
  EXPECT_EQ(utf.GetEncoding(), TableEncoding::Utf8);
  EXPECT_EQ(utf.Text(0, 2), QString::fromUtf8("Caf\xc3\xa9"));
  // A byte that is no UTF-8 falls back to the Western code page.
  EXPECT_EQ(utf.Text(1, 2), QString::fromUtf8("Caf\xc3\xa9"));
  EXPECT_EQ(utf.Text(5, 2), "");  // past the end
}

TEST(LayerTableCells, EditsShowAfterRefreshAndALockedTableIsRetried) {
  TempDir dir;
  DbfTableLayout layout;
  layout.fields = {{"Rate", 'N', 8, 1}};
  for (int i = 0; i < 300; ++i) layout.rows.push_back(" " + Right(std::to_string(i) + ".0", 8));
  test::WriteFileBytes(dir / "t.dbf", test::MakeDbf(layout));
  LayerTable table;
  ASSERT_TRUE(table.Open((dir / "t.dbf").string()));
  {
    DbfTable holder((dir / "t.dbf").string());
    ASSERT_TRUE(holder.IsReady());
    EXPECT_EQ(table.Text(3, 0), "");  // held elsewhere: nothing shown, nothing kept
    ASSERT_TRUE(holder.ReadRecord(4));
    ASSERT_TRUE(holder.SetNumber(1, 99.5));
    ASSERT_TRUE(holder.WriteRecord(4));
  }
  EXPECT_EQ(table.Text(3, 0), "99.5");
  EXPECT_EQ(table.Text(299, 0), "299.0");
  {
    DbfTable editor((dir / "t.dbf").string());
    ASSERT_TRUE(editor.ReadRecord(4));
    ASSERT_TRUE(editor.SetNumber(1, 1.0));
    ASSERT_TRUE(editor.WriteRecord(4));
  }
  EXPECT_EQ(table.Text(3, 0), "99.5");  // kept until refreshed
  table.Refresh();
  EXPECT_EQ(table.Text(3, 0), "1.0");
}

TEST(LayerTableSelection, RecordsByNumberTakesEveryParcel) {
  TempDir dir;
  const std::string shp = test::WritePointSet(dir, "pts", {{-95, 42}, {-95.1, 42}, {-95.2, 42}}, {1, 2, 3});
  Layer layer;
  layer.SetPathName(shp);
  ASSERT_TRUE(layer.Open());
  ASSERT_TRUE(layer.Load());
  // A second parcel of record 2, as a multi-parcel record gives.
  Shape* parcel = layer.CreateRecord(kRecordPoint, 2, true);
  ASSERT_NE(parcel, nullptr);
  const std::vector<Shape*> found = RecordsByNumber(layer, {2, 9});
  ASSERT_EQ(found.size(), 2u);
  for (Shape* s : found) EXPECT_EQ(s->GetRecordNumber(), 2);
  layer.SelectRecords(RecordsByNumber(layer, {3, 2}));
  EXPECT_EQ(SelectedRecordNumbers(layer), (V{2, 3}));
  EXPECT_TRUE(RecordsByNumber(layer, {}).empty());
}

}  // namespace
}  // namespace kestrune
