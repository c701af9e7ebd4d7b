// The Attributes dialog on real windows: its grid built from a record, typing
// into it and OK writing the record (checked against the raw bytes and against
// pyshp), refusals and tables that cannot be written, and the identify report
// of a point, an area and a line of the real test files.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "attributes/gui/AttributeReportDlg.h"
#include "attributes/gui/AttributesDlg.h"
#include "attributes/IdentifyReport.h"
#include "base/Platform.h"
#include "base/Preferences.h"
#include "grid/gui/CellEditors.h"
#include "grid/gui/CSpreadSheet.h"
#include "layers/Layer.h"
#include "shapes/DbfTable.h"
#include "shapes/DbfTestTables.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace kestrune {
namespace {

using test::ReadFileBytes;
using test::TempDir;

// ---- Independent readers

// JSON printed by a python script of the test tree, or an empty object when
// python with pyshp is missing.
QJsonObject RunOracle(const std::string& script, const std::string& args) {
  const std::string path = std::string(KESTRUNE_SOURCE_DIR) + "/tests/" + script;
  for (const char* python : {"/usr/bin/python3", "python3"}) {
    const std::string command = std::string(python) + " '" + path + "' " + args + " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) continue;
    QByteArray out;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, qsizetype(n));
    if (pclose(pipe) == 0) return QJsonDocument::fromJson(out).object();
  }
  return {};
}

// The table as pyshp reads it.
QJsonObject DbfOracle(const fs::path& dbf) { return RunOracle("shapes/dbf_oracle.py", "'" + dbf.string() + "'"); }

// One record of a shape file as pyshp reads it, with its ground area and length.
QJsonObject ShapeOracle(const fs::path& shp, int record) {
  return RunOracle("attributes/shape_oracle.py", "'" + shp.string() + "' " + std::to_string(record));
}

#define ORACLE_OR_SKIP(object)                                                \
  if ((object).isEmpty()) {                                                   \
    if (::kestrune::test::TestDataRequired()) FAIL() << "pyshp is missing";   \
    GTEST_SKIP() << "python3 with pyshp (python3-pyshp) is missing";          \
  }

// Header length, row length and field offsets read straight from the bytes.
struct RawTable {
  int headerLength = 0;
  int recordLength = 0;
  std::vector<std::pair<std::string, std::pair<int, int>>> fields;  // name, (offset, length)

  explicit RawTable(const std::string& bytes) {
    headerLength = uint8_t(bytes[8]) | uint8_t(bytes[9]) << 8;
    recordLength = uint8_t(bytes[10]) | uint8_t(bytes[11]) << 8;
    int offset = 1;
    for (size_t d = 32; d + 32 <= size_t(headerLength) && bytes[d] != '\r'; d += 32) {
      std::string name = bytes.substr(d, 11);
      name = name.substr(0, name.find('\0'));
      const int length = uint8_t(bytes[d + 16]);
      fields.push_back({name, {offset, length}});
      offset += length;
    }
  }
  size_t RowStart(int row) const { return size_t(headerLength) + size_t(row - 1) * size_t(recordLength); }
  // A field's bytes in a row.
  std::string Field(const std::string& bytes, int row, const std::string& name) const {
    for (const auto& f : fields) {
      if (f.first == name) return bytes.substr(RowStart(row) + size_t(f.second.first), size_t(f.second.second));
    }
    ADD_FAILURE() << "no field " << name;
    return {};
  }
};

// ---- Helpers on the dialog

// Every message shown while it lives, with the previous handler put back after.
class MessageLog {
 public:
  MessageLog() {
    previous_ = SetMessageHandler([this](const MessageRequest& request) {
      texts.push_back(request.text);
      return MessageAnswer::Ok;
    });
  }
  ~MessageLog() { SetMessageHandler(previous_); }
  std::vector<std::string> texts;

 private:
  MessageHandler previous_;
};

// The grid row whose name cell shows the text, or -1.
int RowNamed(CSpreadSheet& grid, const QString& name) {
  for (int r = 0; r < grid.RowCount(); ++r) {
    if (grid.CellText(r, 0) == name) return r;
  }
  return -1;
}

// Clicks a value cell and types over its text; the editor stays open.
void TypeIntoValue(CSpreadSheet& grid, const QString& name, const QString& text) {
  const int r = RowNamed(grid, name);
  ASSERT_GE(r, 0) << name.toStdString();
  grid.EnsureVisible(r, 1);
  QTest::mouseClick(&grid, Qt::LeftButton, {}, grid.CellRectInWidget(r, 1).center());
  ASSERT_EQ(grid.CurrentRow(), r);
  ASSERT_TRUE(grid.IsEditOpen());
  QLineEdit* editor = grid.EditEditor();
  editor->selectAll();
  QTest::keyClicks(editor, text);
}

// Shows the dialog as the active window.
void ShowDialog(CAttributesDlg& dialog) {
  dialog.show();
  dialog.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
}

// Makes a file impossible to open for writing, even for root (immutable),
// and undoes that when it goes; Ok() is false where neither works.
class ReadOnlyFile {
 public:
  explicit ReadOnlyFile(const fs::path& path) : path_(path) {
    fs::permissions(path_, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    if (Writable()) SetImmutable(true);
  }
  ~ReadOnlyFile() {
    if (immutable_) SetImmutable(false);
    fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write);
  }
  bool Ok() const { return !Writable(); }

 private:
  bool Writable() const {
    const int fd = ::open(path_.c_str(), O_RDWR);
    if (fd >= 0) ::close(fd);
    return fd >= 0;
  }
  void SetImmutable(bool on) {
    const int fd = ::open(path_.c_str(), O_RDONLY);
    if (fd < 0) return;
    int flags = 0;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
      flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
      if (::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0) immutable_ = on;
    }
    ::close(fd);
  }
  fs::path path_;
  bool immutable_ = false;
};

// ---- The dialog on the soil map's table

class AttributesOnSoilTable : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path data = test::TestDataDir();
    if (data.empty()) {
      if (test::TestDataRequired()) FAIL() << "KESTRUNE_REQUIRE_TESTDATA=1 but the test data folder is missing";
      GTEST_SKIP() << "test data folder absent";
    }
    shp = test::CopyFileSet(data / "field" / "ssurgo-simple1.shp", dir.path());
    dbf = shp;
    dbf.replace_extension(".dbf");
    original = ReadFileBytes(dbf);
  }

  TempDir dir;
  fs::path shp;
  fs::path dbf;
  std::string original;
  static constexpr int kRecord = 4;
};

TEST_F(AttributesOnSoilTable, EditingATextAndANumberRewritesOnlyThatRow) {
  const QJsonObject before = DbfOracle(dbf);
  ORACLE_OR_SKIP(before);
  CAttributesDlg dialog(nullptr, dbf.string(), kRecord);
  ShowDialog(dialog);
  CSpreadSheet& grid = *dialog.Grid();
  ASSERT_EQ(grid.RowCount(), 9);
  const char* names[] = {"musym", "mukey", "clay", "sand", "silt", "wtr_str", "muname", "drclssd", "drclssw"};
  for (int r = 0; r < 9; ++r) EXPECT_EQ(grid.CellText(r, 0), names[r]);

  // Numbers show as stored, cut only where the stored digits are binary
  // rounding: the text shown reads back as the same value and begins the stored one.
  const RawTable raw(original);
  for (const char* number : {"clay", "sand", "wtr_str"}) {
    std::string stored = raw.Field(original, kRecord, number);
    stored = stored.substr(stored.find_first_not_of(' '));
    const std::string shown = grid.CellText(RowNamed(grid, number), 1).toStdString();
    EXPECT_EQ(std::stod(shown), std::stod(stored)) << number;
    EXPECT_EQ(stored.rfind(shown, 0), 0u) << number << ": " << shown << " of " << stored;
  }
  EXPECT_EQ(grid.CellText(RowNamed(grid, "clay"), 1).toStdString(), "25.41447368421053");

  TypeIntoValue(grid, "musym", "7B2");
  QTest::keyClick(grid.EditEditor(), Qt::Key_Tab);
  // OK while still typing stores the typed number.
  TypeIntoValue(grid, "clay", "31.25");
  QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_FALSE(dialog.isVisible());

  // Every byte outside the two fields of that row is as it was.
  const std::string after = ReadFileBytes(dbf);
  ASSERT_EQ(after.size(), original.size());
  EXPECT_EQ(raw.Field(after, kRecord, "musym"), test::Left("7B2", 80));
  EXPECT_EQ(raw.Field(after, kRecord, "clay"), test::Right("31.250000000000000", 24));
  std::string expected = original;
  for (const char* name : {"musym", "clay"}) {
    for (const auto& f : raw.fields) {
      if (f.first == name) {
        expected.replace(raw.RowStart(kRecord) + size_t(f.second.first), size_t(f.second.second),
                         raw.Field(after, kRecord, name));
      }
    }
  }
  EXPECT_EQ(after, expected);

  // pyshp reads the new values back, and every other record unchanged.
  const QJsonObject now = DbfOracle(dbf);
  const QJsonArray rowsBefore = before["records"].toArray();
  const QJsonArray rowsNow = now["records"].toArray();
  ASSERT_EQ(rowsNow.size(), rowsBefore.size());
  for (int i = 0; i < rowsNow.size(); ++i) {
    if (i == kRecord - 1) continue;
    EXPECT_EQ(rowsNow[i], rowsBefore[i]) << "record " << i + 1;
  }
  const QJsonArray edited = rowsNow[kRecord - 1].toArray();
  const QJsonArray was = rowsBefore[kRecord - 1].toArray();
  EXPECT_EQ(edited[0].toString(), "7B2");
  EXPECT_DOUBLE_EQ(edited[2].toDouble(), 31.25);
  for (int f : {1, 3, 4, 5, 6, 7, 8}) EXPECT_EQ(edited[f], was[f]) << "field " << f + 1;
}

TEST_F(AttributesOnSoilTable, AValueTooWideForItsFieldIsRefusedNamingTheField) {
  MessageLog log;
  CAttributesDlg dialog(nullptr, dbf.string(), kRecord);
  ShowDialog(dialog);
  CSpreadSheet& grid = *dialog.Grid();
  TypeIntoValue(grid, "musym", "ZZ");
  QTest::keyClick(grid.EditEditor(), Qt::Key_Tab);
  // 1234567890 with 15 decimals takes 26 characters; the field has 24.
  TypeIntoValue(grid, "clay", "1234567890");
  QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);

  ASSERT_EQ(log.texts.size(), 1u);
  EXPECT_NE(log.texts[0].find("\"clay\""), std::string::npos) << log.texts[0];
  EXPECT_NE(log.texts[0].find("24"), std::string::npos) << log.texts[0];
  // The dialog stays open on the refused cell, and the row is as it was.
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_NE(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(grid.CurrentRow(), RowNamed(grid, "clay"));
  EXPECT_EQ(ReadFileBytes(dbf), original);

  // A value that fits is then taken with the other edit.
  TypeIntoValue(grid, "clay", "12");
  QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
  EXPECT_EQ(log.texts.size(), 1u);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  DbfTable table(dbf.string());
  ASSERT_TRUE(table.ReadRecord(kRecord));
  std::string text;
  double value = 0;
  table.GetString(1, text);
  table.GetNumber(3, value);
  EXPECT_EQ(text, "ZZ");
  EXPECT_DOUBLE_EQ(value, 12.0);
}

TEST_F(AttributesOnSoilTable, AReadOnlyTableTellsThatTheEditsWereNotSaved) {
  ReadOnlyFile readOnly(dbf);
  if (!readOnly.Ok()) GTEST_SKIP() << "this system lets the test write a read-only file";
  MessageLog log;
  {
    CAttributesDlg dialog(nullptr, dbf.string(), kRecord);
    ShowDialog(dialog);
    // The values still show.
    const std::string stored = RawTable(original).Field(original, kRecord, "musym");
    EXPECT_EQ(dialog.Grid()->CellText(0, 1).toStdString(), stored.substr(0, stored.find_last_not_of(' ') + 1));
    TypeIntoValue(*dialog.Grid(), "muname", "Renamed");
    QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    ASSERT_EQ(log.texts.size(), 1u);
    EXPECT_NE(log.texts[0].find("not saved"), std::string::npos) << log.texts[0];
    EXPECT_NE(log.texts[0].find(dbf.string()), std::string::npos) << log.texts[0];
    EXPECT_TRUE(dialog.isVisible());
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
  }
  EXPECT_EQ(ReadFileBytes(dbf), original);

  // Nothing edited: OK closes without alarming anyone.
  CAttributesDlg quiet(nullptr, dbf.string(), kRecord);
  ShowDialog(quiet);
  QTest::mouseClick(quiet.OkButton(), Qt::LeftButton);
  EXPECT_EQ(log.texts.size(), 1u);
  EXPECT_EQ(quiet.result(), QDialog::Accepted);
}

// ---- The grid's layout and rules on a hand-made table

class AttributesOnSmallTable : public ::testing::Test {
 protected:
  void SetUp() override {
    test::DbfTableLayout t;
    t.fields = {{"NAME", 'C', 10, 0}, {"RATE", 'N', 8, 3}, {"DAY", 'D', 8, 0}, {"OK", 'L', 1, 0}};
    t.rows = {" " + test::Left("north", 10) + test::Right("1.500", 8) + "20240105" + "T"};
    for (int i = 0; i < 30; ++i) t.rows.push_back(" " + test::Left("row", 10) + test::Right("0", 8) + "        F");
    path = dir / "small.dbf";
    test::WriteFileBytes(path, test::MakeDbf(t));
  }
  TempDir dir;
  fs::path path;
};

TEST_F(AttributesOnSmallTable, ComputedRowsOnTopLockedAndGreyFileRowsWhiteAndTheColumnsFill) {
  CAttributesDlg dialog(nullptr, path.string(), 1);
  dialog.AddRow(std::string("Longitude"), std::string("093 15' W"), -1, false);
  dialog.AddRow(std::string("Latitude"), std::string("045 45' N"), -1, false);
  dialog.AddRow(std::string("Latitude"), std::string("046 00' N"), -1, false);
  ShowDialog(dialog);
  EXPECT_EQ(dialog.windowTitle(), "Attributes");
  EXPECT_EQ(dialog.OkButton()->text(), "OK");
  CSpreadSheet& grid = *dialog.Grid();
  EXPECT_TRUE(grid.isVisible());
  ASSERT_EQ(grid.RowCount(), 5);
  const char* names[] = {"Latitude", "Longitude", "NAME", "RATE", "DAY"};
  for (int r = 0; r < 5; ++r) EXPECT_EQ(grid.CellText(r, 0), names[r]);
  EXPECT_EQ(grid.CellText(0, 1), "046 00' N");
  EXPECT_EQ(grid.CellText(1, 1), "093 15' W");
  EXPECT_EQ(grid.CellText(2, 1), "north");
  EXPECT_EQ(grid.CellText(3, 1), "1.500");
  EXPECT_EQ(grid.CellText(4, 1), "20240105");

  const Color face = grid.ButtonFaceColour();
  for (int r = 0; r < 5; ++r) {
    EXPECT_TRUE(grid.GetCell(r, 0)->locked);
    EXPECT_EQ(grid.GetCellBackColour(r, 0), face);
    const bool computed = r < 2;
    EXPECT_EQ(grid.GetCell(r, 1)->locked, computed) << r;
    EXPECT_EQ(grid.GetCellBackColour(r, 1), computed ? face : kWhite) << r;
  }
  EXPECT_EQ(grid.GetCell(3, 1)->kind, kCellNumber);
  EXPECT_EQ(grid.GetCell(3, 1)->decimals, 3);
  EXPECT_EQ(grid.GridLineColour(), kBlack);
  EXPECT_EQ(grid.GetColumnWidth(0), 100);
  EXPECT_EQ(grid.GetColumnWidth(1), grid.ClientRect().width() - grid.SystemVertScrollWidth() - 100);
  EXPECT_FALSE(grid.HorzScrollBar()->isVisible());
  EXPECT_TRUE(grid.VertScrollBar()->isVisible());
  const int perPage = grid.ClientRect().height() / grid.GetRowHeight(0);
  EXPECT_EQ(grid.RowsPerPage(), perPage);
  EXPECT_EQ(grid.VertScrollMax(), std::max(5 - perPage, 0));
  // The grid sits where the template puts it, left of the OK button.
  EXPECT_LT(grid.geometry().right(), dialog.OkButton()->geometry().left());
  EXPECT_GT(dialog.OkButton()->geometry().top(), dialog.height() / 2);

  // Clicking a computed value opens nothing.
  QTest::mouseClick(&grid, Qt::LeftButton, {}, grid.CellRectInWidget(0, 1).center());
  EXPECT_FALSE(grid.IsEditOpen() && grid.CurrentRow() == 0);
}

TEST_F(AttributesOnSmallTable, ATextTakesItsFieldLengthAndADateOnlyARealDay) {
  MessageLog log;
  CAttributesDlg dialog(nullptr, path.string(), 1);
  ShowDialog(dialog);
  CSpreadSheet& grid = *dialog.Grid();
  TypeIntoValue(grid, "NAME", "abcdefghijk");  // 11 typed, 10 kept
  EXPECT_EQ(grid.EditEditor()->text(), "abcdefghij");
  QTest::keyClick(grid.EditEditor(), Qt::Key_Tab);
  EXPECT_EQ(grid.CellText(RowNamed(grid, "NAME"), 1), "abcdefghij");

  TypeIntoValue(grid, "DAY", "20230229");
  QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
  ASSERT_EQ(log.texts.size(), 1u);
  EXPECT_NE(log.texts[0].find("\"DAY\""), std::string::npos) << log.texts[0];
  EXPECT_TRUE(dialog.isVisible());

  TypeIntoValue(grid, "DAY", "20240229");
  QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  DbfTable table(path.string());
  ASSERT_TRUE(table.ReadRecord(1));
  std::string name, day;
  table.GetString(1, name);
  table.GetString(3, day);
  EXPECT_EQ(name, "abcdefghij");
  EXPECT_EQ(day, "20240229");
}

TEST_F(AttributesOnSmallTable, EnterWhileTypingStoresTheValueAndStaysInTheCell) {
  CAttributesDlg dialog(nullptr, path.string(), 2);
  ShowDialog(dialog);
  CSpreadSheet& grid = *dialog.Grid();
  // Typed with more decimals than the field: the cell keeps the field's three.
  TypeIntoValue(grid, "RATE", "2.71828");
  QTest::keyClick(grid.EditEditor(), Qt::Key_Return);
  EXPECT_TRUE(dialog.isVisible()) << "Enter does not press OK";
  EXPECT_EQ(grid.CurrentRow(), RowNamed(grid, "RATE"));
  EXPECT_TRUE(grid.IsEditOpen());
  EXPECT_EQ(grid.CellText(RowNamed(grid, "RATE"), 1), "2.718");
  QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  DbfTable table(path.string());
  ASSERT_TRUE(table.ReadRecord(2));
  std::string rate;
  table.GetString(2, rate);
  EXPECT_EQ(rate, "   2.718");
}

TEST_F(AttributesOnSmallTable, TextInANumberFieldIsRefusedByNameAndStaysInItsCell) {
  MessageLog log;
  const std::string before = test::ReadFileBytes(path);
  CAttributesDlg dialog(nullptr, path.string(), 2);
  ShowDialog(dialog);
  CSpreadSheet& grid = *dialog.Grid();
  const int rate = RowNamed(grid, "RATE");
  for (const auto& [how, key] : {std::pair<const char*, int>{"OK", 0}, {"Enter", Qt::Key_Return}, {"Tab", Qt::Key_Tab}}) {
    log.texts.clear();
    TypeIntoValue(grid, "RATE", "12O.5");
    if (key) {
      QTest::keyClick(grid.EditEditor(), static_cast<Qt::Key>(key));
    } else {
      QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    }
    ASSERT_EQ(log.texts.size(), 1u) << how;
    EXPECT_NE(log.texts[0].find("\"RATE\""), std::string::npos) << log.texts[0];
    EXPECT_NE(log.texts[0].find("\"12O.5\""), std::string::npos) << log.texts[0];
    EXPECT_TRUE(dialog.isVisible()) << how;
    EXPECT_EQ(grid.CurrentRow(), rate) << how;
    ASSERT_TRUE(grid.IsEditOpen()) << how;
    EXPECT_EQ(grid.EditEditor()->text(), "12O.5") << how;
  }
  EXPECT_EQ(test::ReadFileBytes(path), before) << "nothing written";
  // Spaces round a number, or an empty cell, are taken.
  log.texts.clear();
  TypeIntoValue(grid, "RATE", " 4.5 ");
  QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
  EXPECT_TRUE(log.texts.empty());
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST(AttributesWithoutTable, OnlyAddedRowsShowAndOkWritesNothing) {
  MessageLog log;
  CAttributesDlg dialog(nullptr, "", 3);
  dialog.AddRow(std::string("Area (calc)"), std::string("1.00 ha"), -2, false);
  ShowDialog(dialog);
  ASSERT_EQ(dialog.Grid()->RowCount(), 1);
  EXPECT_EQ(dialog.Grid()->CellText(0, 1), "1.00 ha");
  EXPECT_EQ(dialog.Grid()->VertScrollMax(), 0);
  QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_TRUE(log.texts.empty());

  // A table that cannot be read gives no file rows either.
  CAttributesDlg missing(nullptr, "/nonexistent/none.dbf", 1);
  ShowDialog(missing);
  EXPECT_EQ(missing.Grid()->RowCount(), 0);
}

// ---- The identify report of the real files

class IdentifyReport : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = GetPreferences();
    data_ = test::TestDataDir();
    if (data_.empty()) {
      if (test::TestDataRequired()) FAIL() << "KESTRUNE_REQUIRE_TESTDATA=1 but the test data folder is missing";
      GTEST_SKIP() << "test data folder absent";
    }
  }
  void TearDown() override { GetPreferences() = saved_; }

  // Loads a file set of the test data as a layer.
  Layer& Load(const std::string& relative) {
    shp_ = test::CopyFileSet(data_ / relative, dir_.path());
    layer_ = std::make_unique<Layer>();
    layer_->SetPathName(shp_.string());
    EXPECT_TRUE(layer_->Open());
    EXPECT_TRUE(layer_->Load());
    return *layer_;
  }
  // The layer's record of that number.
  Shape* Record(int number) {
    for (Shape* shape : layer_->Records()) {
      if (shape->GetRecordNumber() == number) return shape;
    }
    return nullptr;
  }
  // The leading number of a value text.
  static double NumberOf(const QString& text) {
    return QRegularExpression(QStringLiteral("^-?[0-9]+(\\.[0-9]+)?")).match(text).captured(0).toDouble();
  }

  fs::path data_;
  fs::path shp_;
  TempDir dir_;
  std::unique_ptr<Layer> layer_;
  CPreferences saved_;
};

TEST_F(IdentifyReport, APointShowsLatitudeAboveLongitudeAboveItsAttributes) {
  GetPreferences().SetLatLongStyle(1);
  Load("field/as-applied-simple1.shp");
  const QJsonObject expected = ShapeOracle(shp_, 5);
  ORACLE_OR_SKIP(expected);
  Shape* point = Record(5);
  ASSERT_NE(point, nullptr);
  std::unique_ptr<CAttributesDlg> dialog = BuildAttributeReport(*point, nullptr);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->GetRecordIndex(), 5);
  ShowDialog(*dialog);
  CSpreadSheet& grid = *dialog->Grid();
  ASSERT_EQ(grid.RowCount(), 5);
  EXPECT_EQ(grid.CellText(0, 0), "Latitude");
  EXPECT_EQ(grid.CellText(1, 0), "Longitude");
  EXPECT_EQ(grid.CellText(2, 0), "Tgt_Rate_k");
  const QJsonArray lonLat = expected["points"].toArray()[0].toArray();
  const QString latitude = grid.CellText(0, 1);
  const QString longitude = grid.CellText(1, 1);
  // Map units of 0.02 m hold a position to about 2e-7 degrees.
  EXPECT_NEAR(NumberOf(latitude), std::fabs(lonLat[1].toDouble()), 2e-5) << latitude.toStdString();
  EXPECT_NEAR(NumberOf(longitude), std::fabs(lonLat[0].toDouble()), 2e-5) << longitude.toStdString();
  EXPECT_TRUE(latitude.endsWith(lonLat[1].toDouble() >= 0 ? " N" : " S")) << latitude.toStdString();
  EXPECT_TRUE(longitude.endsWith(lonLat[0].toDouble() >= 0 ? " E" : " W")) << longitude.toStdString();
  EXPECT_TRUE(grid.GetCell(0, 1)->locked);
  EXPECT_TRUE(grid.GetCell(1, 1)->locked);
  EXPECT_FALSE(grid.GetCell(2, 1)->locked);
}

TEST_F(IdentifyReport, AnAreaShowsItsCalculatedAreaLessItsHoles) {
  Load("field/field_boundary_with_holes.shp");
  const QJsonObject expected = ShapeOracle(shp_, 1);
  ORACLE_OR_SKIP(expected);
  Shape* area = Record(1);
  ASSERT_NE(area, nullptr);
  const double squareMetres = expected["area_m2"].toDouble();
  for (bool metric : {true, false}) {
    GetPreferences().SetMetric(metric);
    std::unique_ptr<CAttributesDlg> dialog = BuildAttributeReport(*area, nullptr);
    ASSERT_NE(dialog, nullptr);
    ShowDialog(*dialog);
    CSpreadSheet& grid = *dialog->Grid();
    ASSERT_EQ(grid.RowCount(), 2);  // the area, then FID
    EXPECT_EQ(grid.CellText(0, 0), "Area (calc)");
    EXPECT_EQ(grid.CellText(1, 0), "FID");
    const QString text = grid.CellText(0, 1);
    const double shown = NumberOf(text);
    if (metric) {
      EXPECT_TRUE(text.endsWith(" ha")) << text.toStdString();
      EXPECT_NEAR(shown, squareMetres / 10000.0, squareMetres / 10000.0 * 0.01) << text.toStdString();
    } else {
      EXPECT_TRUE(text.endsWith(" ac")) << text.toStdString();
      const double acres = squareMetres / 4046.8564224;
      EXPECT_NEAR(shown, acres, acres * 0.01) << text.toStdString();
    }
  }
}

TEST_F(IdentifyReport, ALineShowsItsGroundLength) {
  Load("field/ab-line-simple1.shp");
  const QJsonObject expected = ShapeOracle(shp_, 1);
  ORACLE_OR_SKIP(expected);
  Shape* line = Record(1);
  ASSERT_NE(line, nullptr);
  const double metres = expected["length_m"].toDouble();
  ASSERT_GT(metres, 300.0);
  for (bool metric : {true, false}) {
    GetPreferences().SetMetric(metric);
    std::unique_ptr<CAttributesDlg> dialog = BuildAttributeReport(*line, nullptr);
    ASSERT_NE(dialog, nullptr);
    ShowDialog(*dialog);
    CSpreadSheet& grid = *dialog->Grid();
    ASSERT_EQ(grid.RowCount(), 2);
    EXPECT_EQ(grid.CellText(0, 0), "Length");
    EXPECT_EQ(grid.CellText(1, 0), "AB_Line");
    EXPECT_EQ(grid.CellText(1, 1), "AB Heading=359.95 deg");
    const QString text = grid.CellText(0, 1);
    const double want = metric ? metres : metres / 0.3048;
    EXPECT_TRUE(text.endsWith(metric ? " m" : " ft")) << text.toStdString();
    EXPECT_NEAR(NumberOf(text), want, want * 0.005) << text.toStdString();
  }
}

TEST_F(IdentifyReport, ShowAttributesOpensTheReportModallyAndTheLayerRecoloursTheRecord) {
  Layer& layer = Load("field/as-applied-simple1.shp");
  ASSERT_EQ(layer.GetLegendColumn(), 1);
  Shape* point = Record(9);
  ASSERT_NE(point, nullptr);
  layer.Select(point);
  const double newRate = 5.5;
  ASSERT_NE(layer.GetValueColor(newRate), point->GetColor());

  bool sawDialog = false;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<CAttributesDlg*>(QApplication::activeModalWidget());
    if (!dialog) return;
    sawDialog = true;
    CSpreadSheet& grid = *dialog->Grid();
    const int r = RowNamed(grid, "Tgt_Rate_k");
    grid.SetCellNumber(r, 1, newRate);
    QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
  });
  ShowAttributeReport(*point, nullptr);
  ASSERT_TRUE(layer.RereadSelectedRecord());
  EXPECT_TRUE(sawDialog);
  EXPECT_DOUBLE_EQ(point->GetValue(), newRate);
  EXPECT_EQ(point->GetColor(), layer.GetValueColor(newRate));

  // A record without a layer shows nothing and does not wait.
  PointShape loose(1);
  EXPECT_EQ(BuildAttributeReport(loose, nullptr), nullptr);
  bool modal = false;
  QTimer::singleShot(0, [&] {
    if (QWidget* w = QApplication::activeModalWidget()) {
      modal = true;
      w->close();
    }
  });
  ShowAttributeReport(loose, nullptr);
  QTest::qWait(10);
  EXPECT_FALSE(modal);
}

}  // namespace
}  // namespace kestrune
