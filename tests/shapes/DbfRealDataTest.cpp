// The dBase table on the real tables of the test data: field descriptors and
// every value compared with an independent reader (pyshp), a few values checked
// by hand, and every row rewritten from its own values without losing a digit.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "shapes/DbfTable.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace kestrune {
namespace {

using test::ReadFileBytes;
using test::TempDir;

// Every ".dbf" of the test data, as paths relative to its folder.
std::vector<std::string> RealTables() {
  return {"field/ab-line-simple1.dbf", "field/as-applied-simple1.dbf", "field/boundary-simple1.dbf",
          "field/field_boundary_with_holes.dbf", "field/ssurgo-simple1.dbf", "field/yield-simple1.dbf",
          "projected/yield-utm28.dbf", "shapes/multipatch.dbf", "shapes/multipoint.dbf",
          "shapes/point.dbf", "shapes/pointz.dbf", "shapes/polygon.dbf", "shapes/polygonz.dbf",
          "shapes/polyline.dbf", "shapes/polylinem.dbf"};
}

// Copies one table of the test data into dir (the originals are read-only).
fs::path CopyTable(const fs::path& data, const std::string& relative, const TempDir& dir) {
  const fs::path target = dir / fs::path(relative).filename().string();
  fs::copy_file(data / relative, target, fs::copy_options::overwrite_existing);
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
  return target;
}

// The table as pyshp reads it, or an empty object when python or pyshp is missing.
QJsonObject Oracle(const fs::path& dbf) {
  const std::string script = std::string(KESTRUNE_SOURCE_DIR) + "/tests/shapes/dbf_oracle.py";
  // Debian's interpreter carries python3-pyshp; a python of its own may not.
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

#define ORACLE_OR_SKIP(var, path)                                             \
  const QJsonObject var = Oracle(path);                                       \
  if (var.isEmpty()) {                                                        \
    if (::kestrune::test::TestDataRequired()) FAIL() << "pyshp is missing";   \
    GTEST_SKIP() << "python3 with pyshp (python3-pyshp) is missing";          \
  }

TEST(DbfRealData, DescriptorsAndEveryValueMatchPyshp) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  TempDir dir;
  int tablesChecked = 0;
  long valuesChecked = 0;
  for (const std::string& name : RealTables()) {
    SCOPED_TRACE(name);
    const fs::path path = CopyTable(data, name, dir);
    ORACLE_OR_SKIP(expected, path);
    DbfTable t(path.string());
    ASSERT_TRUE(t.IsReady()) << t.GetLastErrorText();

    const QJsonArray fields = expected["fields"].toArray();
    ASSERT_EQ(t.GetFieldCount(), fields.size());
    for (int f = 1; f <= t.GetFieldCount(); ++f) {
      const QJsonArray d = fields[f - 1].toArray();
      std::string fieldName;
      char letter = 0;
      int length = 0, decimals = 0;
      ASSERT_TRUE(t.GetFieldName(f, fieldName));
      ASSERT_TRUE(t.GetFieldLetter(f, letter));
      ASSERT_TRUE(t.GetFieldLength(f, length));
      ASSERT_TRUE(t.GetFieldDecimals(f, decimals));
      EXPECT_EQ(fieldName, d[0].toString().toStdString());
      EXPECT_EQ(std::string(1, letter), d[1].toString().toStdString());
      EXPECT_EQ(length, d[2].toInt());
      EXPECT_EQ(decimals, d[3].toInt());
    }

    const QJsonArray records = expected["records"].toArray();
    const QJsonArray deleted = expected["deleted"].toArray();
    ASSERT_EQ(t.GetRecordCount(), records.size());
    for (int r = 1; r <= t.GetRecordCount(); ++r) {
      ASSERT_TRUE(t.ReadRecord(r)) << "row " << r << ": " << t.GetLastErrorText();
      EXPECT_EQ(t.IsDeleted(), deleted[r - 1].toBool()) << "row " << r;
      if (t.IsDeleted()) continue;
      const QJsonArray values = records[r - 1].toArray();
      ASSERT_EQ(values.size(), t.GetFieldCount());
      for (int f = 1; f <= t.GetFieldCount(); ++f) {
        char letter = 0;
        t.GetFieldLetter(f, letter);
        const QJsonValue v = values[f - 1];
        if (letter == 'N' || letter == 'F') {
          double number = -1;
          ASSERT_TRUE(t.GetNumber(f, number));
          // pyshp gives no value where the scan finds no number; the table gives 0.
          EXPECT_EQ(number, v.isNull() ? 0.0 : v.toDouble()) << "row " << r << " field " << f;
        } else if (letter == 'C') {
          std::string text;
          ASSERT_TRUE(t.GetString(f, text));
          // pyshp also strips leading blanks; the table keeps them.
          text.erase(0, text.find_first_not_of(' ') == std::string::npos ? text.size()
                                                                         : text.find_first_not_of(' '));
          EXPECT_EQ(QString::fromLatin1(text.c_str()), v.toString()) << "row " << r << " field " << f;
        }
        ++valuesChecked;
      }
    }
    ++tablesChecked;
  }
  EXPECT_EQ(tablesChecked, 15);
  EXPECT_GT(valuesChecked, 3365 + 2081 * 3 + 11 * 9);
}

TEST(DbfRealData, KnownValuesOfTheFieldLogs) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  TempDir dir;
  {
    DbfTable t(CopyTable(data, "field/yield-simple1.dbf", dir).string());
    ASSERT_TRUE(t.IsReady());
    EXPECT_EQ(t.GetRecordCount(), 3365);
    EXPECT_EQ(t.GetFieldCount(), 1);
    std::string name;
    int type = 0, length = 0, decimals = 0;
    t.GetFieldName(1, name);
    t.GetFieldType(1, type);
    t.GetFieldLength(1, length);
    t.GetFieldDecimals(1, decimals);
    EXPECT_EQ(name, "Yld_Vol_Dr");
    EXPECT_EQ(type, kDbfNumeric);
    EXPECT_EQ(length, 24);
    EXPECT_EQ(decimals, 15);
    double v = 0;
    ASSERT_TRUE(t.ReadRecord(1));
    t.GetNumber(1, v);
    EXPECT_DOUBLE_EQ(v, 23.4985);
    // The last row, right before the end-of-file byte.
    ASSERT_TRUE(t.ReadRecord(3365));
    t.GetNumber(1, v);
    EXPECT_DOUBLE_EQ(v, 15.505);
    EXPECT_FALSE(t.ReadRecord(3366));
  }
  {
    DbfTable t(CopyTable(data, "field/ssurgo-simple1.dbf", dir).string());
    ASSERT_TRUE(t.IsReady());
    EXPECT_EQ(t.GetRecordLength(), 441);
    EXPECT_EQ(t.GetHeaderLength(), 321);
    ASSERT_TRUE(t.ReadRecord(1));
    std::string text;
    double v = 0;
    t.GetString(1, text);
    EXPECT_EQ(text, "3A");
    t.GetString(7, text);
    EXPECT_EQ(text, "Hoyleton silt loam, 0 to 2 percent slopes");
    t.GetNumber(2, v);
    EXPECT_EQ(v, 173452.0);
    t.GetNumber(3, v);
    EXPECT_DOUBLE_EQ(v, 29.38974358974359);
    // The 80-byte text through a buffer of 10 bytes gives its first 9.
    char buf[10];
    ASSERT_TRUE(t.GetString(7, buf, sizeof buf));
    EXPECT_STREQ(buf, "Hoyleton");  // "Hoyleton " with its space trimmed
    ASSERT_TRUE(t.ReadRecord(11));
    t.GetString(1, text);
    EXPECT_EQ(text, "218A");
  }
  {
    // Blank numeric fields read as 0.
    DbfTable t(CopyTable(data, "shapes/polygon.dbf", dir).string());
    ASSERT_TRUE(t.ReadRecord(1));
    double v = 5;
    EXPECT_TRUE(t.GetNumber(1, v));
    EXPECT_EQ(v, 0.0);
    EXPECT_TRUE(t.GetNumber(2, v));
    EXPECT_EQ(v, 0.0);
  }
}

TEST(DbfRealData, RewritingEveryRowFromItsOwnValuesKeepsEveryValue) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  TempDir dir;
  for (const std::string& name : {std::string("field/as-applied-simple1.dbf"),
                                  std::string("field/ssurgo-simple1.dbf"),
                                  std::string("field/field_boundary_with_holes.dbf"),
                                  std::string("shapes/polygon.dbf")}) {
    SCOPED_TRACE(name);
    const fs::path path = CopyTable(data, name, dir);
    const std::string before = ReadFileBytes(path);
    std::vector<std::vector<double>> numbers;
    std::vector<std::vector<std::string>> texts;
    int headerLength = 0, recordLength = 0, rows = 0;
    {
      DbfTable t(path.string());
      ASSERT_TRUE(t.IsReady());
      headerLength = t.GetHeaderLength();
      recordLength = t.GetRecordLength();
      rows = t.GetRecordCount();
      for (int r = 1; r <= rows; ++r) {
        ASSERT_TRUE(t.ReadRecord(r));
        numbers.emplace_back();
        texts.emplace_back();
        for (int f = 1; f <= t.GetFieldCount(); ++f) {
          int type = 0;
          t.GetFieldType(f, type);
          double v = 0;
          std::string s;
          t.GetNumber(f, v);
          t.GetString(f, s);
          numbers.back().push_back(v);
          texts.back().push_back(s);
          // The Attributes dialog writes every field back, changed or not.
          if (type == kDbfNumeric) {
            ASSERT_TRUE(t.SetNumber(f, v)) << "row " << r << " field " << f << ": " << t.GetLastErrorText();
          } else {
            ASSERT_TRUE(t.SetString(f, s)) << "row " << r << " field " << f;
          }
        }
        ASSERT_TRUE(t.WriteRecord(r)) << t.GetLastErrorText();
      }
    }
    const std::string after = ReadFileBytes(path);
    ASSERT_EQ(after.size(), before.size());
    // Header, descriptors and the bytes after the last row are untouched.
    const std::size_t rowsEnd = std::size_t(headerLength) + std::size_t(rows) * std::size_t(recordLength);
    EXPECT_EQ(after.substr(0, std::size_t(headerLength)), before.substr(0, std::size_t(headerLength)));
    EXPECT_EQ(after.substr(rowsEnd), before.substr(rowsEnd));

    DbfTable t(path.string());
    ASSERT_TRUE(t.IsReady());
    for (int r = 1; r <= rows; ++r) {
      ASSERT_TRUE(t.ReadRecord(r));
      for (int f = 1; f <= t.GetFieldCount(); ++f) {
        double v = 0;
        std::string s;
        t.GetNumber(f, v);
        t.GetString(f, s);
        int type = 0;
        t.GetFieldType(f, type);
        EXPECT_EQ(v, numbers[std::size_t(r) - 1][std::size_t(f) - 1]) << "row " << r << " field " << f;
        if (type == kDbfCharacter) {
          EXPECT_EQ(s, texts[std::size_t(r) - 1][std::size_t(f) - 1]);
        }
      }
    }
  }
}

}  // namespace
}  // namespace kestrune
