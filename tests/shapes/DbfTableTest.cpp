// The dBase table on hand-made tables: opening and refusing, field descriptors,
// reading rows and fields, formatting values and writing rows back in place.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <random>
#include <cmath>
#include <limits>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "shapes/DbfTable.h"
#include "support/TestSupport.h"
#include "DbfTestTables.h"

namespace kestrune {
namespace {

using test::DbfFieldLayout;
using test::DbfTableLayout;
using test::Left;
using test::MakeDbf;
using test::ReadFileBytes;
using test::Right;
using test::TempDir;
using test::WriteFileBytes;

// NAME C10, RATE N8.2, WHEN D8, OK L1: three rows, the second one deleted.
DbfTableLayout MixedLayout() {
  DbfTableLayout layout;
  layout.fields = {{"NAME", 'C', 10, 0}, {"RATE", 'N', 8, 2}, {"WHEN", 'D', 8, 0}, {"OK", 'L', 1, 0}};
  layout.rows = {" " + Left("Alpha", 10) + Right("12.50", 8) + "20240229" + "T",
               "*" + Left("Beta", 10) + Right("-3.25", 8) + Left("", 8) + "F",
               " " + Left("Gamma", 10) + Left("1e3", 8) + "19991231" + "?"};
  return layout;
}

// A scratch folder holding one table file.
class DbfFile {
 public:
  explicit DbfFile(const std::string& bytes, const std::string& name = "table.dbf")
      : path_((dir_ / name).string()) {
    WriteFileBytes(path_, bytes);
  }
  const std::string& path() const { return path_; }
  std::string bytes() const { return ReadFileBytes(path_); }

 private:
  TempDir dir_;
  std::string path_;
};

std::string Field(const DbfTable& t, int field) {
  std::string s;
  EXPECT_TRUE(t.GetString(field, s));
  return s;
}

// The raw bytes of a field in the record buffer.
std::string RawField(const DbfTable& t, int field) {
  const DbfField* f = t.GetField(field);
  if (!f) return "<no field>";
  const auto& b = t.GetRecordBuffer();
  return std::string(reinterpret_cast<const char*>(b.data()) + f->offset, std::size_t(f->length));
}

double Number(const DbfTable& t, int field) {
  double v = -1;
  EXPECT_TRUE(t.GetNumber(field, v));
  return v;
}

TEST(DbfTableOpen, ReadsHeaderAndDescriptorsOfAMixedTable) {
  DbfFile file(MakeDbf(MixedLayout()));
  DbfTable t(file.path());
  ASSERT_TRUE(t.IsReady()) << t.GetLastErrorText();
  EXPECT_TRUE(t.IsWritable());
  EXPECT_EQ(t.GetRecordCount(), 3);
  EXPECT_EQ(t.GetFieldCount(), 4);
  EXPECT_EQ(t.GetHeaderLength(), 32 + 4 * 32 + 1);
  EXPECT_EQ(t.GetRecordLength(), 28);
  EXPECT_EQ(t.GetCurrentRow(), 1);

  const char* names[] = {"NAME", "RATE", "WHEN", "OK"};
  const int types[] = {kDbfCharacter, kDbfNumeric, kDbfDate, kDbfLogical};
  const int lengths[] = {10, 8, 8, 1};
  const int decimals[] = {0, 2, 0, 0};
  const int offsets[] = {1, 11, 19, 27};
  for (int f = 1; f <= 4; ++f) {
    std::string name;
    int type = 0, length = 0, dec = -1;
    ASSERT_TRUE(t.GetFieldName(f, name));
    ASSERT_TRUE(t.GetFieldType(f, type));
    ASSERT_TRUE(t.GetFieldLength(f, length));
    ASSERT_TRUE(t.GetFieldDecimals(f, dec));
    EXPECT_EQ(name, names[f - 1]);
    EXPECT_EQ(type, types[f - 1]);
    EXPECT_EQ(length, lengths[f - 1]);
    EXPECT_EQ(dec, decimals[f - 1]);
    EXPECT_EQ(t.GetField(f)->offset, offsets[f - 1]);
  }
  EXPECT_EQ(t.FindField("WHEN"), 3);
  EXPECT_EQ(t.FindField("when"), 0);
}

TEST(DbfTableOpen, FieldNumbersOutsideTheTableAreRefused) {
  DbfFile file(MakeDbf(MixedLayout()));
  DbfTable t(file.path());
  ASSERT_TRUE(t.IsReady());
  std::string s = "kept";
  int n = 77;
  double v = 5;
  char buf[8] = "kept";
  for (int f : {0, -1, 5, 65535}) {
    EXPECT_FALSE(t.GetFieldName(f, s)) << f;
    EXPECT_FALSE(t.GetFieldType(f, n)) << f;
    EXPECT_FALSE(t.GetFieldLength(f, n)) << f;
    EXPECT_FALSE(t.GetNumber(f, v)) << f;
    EXPECT_FALSE(t.GetString(f, s)) << f;
    EXPECT_FALSE(t.GetString(f, buf, sizeof buf)) << f;
    EXPECT_FALSE(t.SetNumber(f, 1.0)) << f;
    EXPECT_FALSE(t.SetString(f, "x")) << f;
  }
  EXPECT_EQ(s, "kept");
  EXPECT_EQ(n, 77);
  EXPECT_EQ(v, 0.0);  // GetNumber clears its out value first
  // A refused field number (the computed rows of the dialog) blocks no write.
  EXPECT_EQ(t.GetRejectedField(), 0);
  EXPECT_TRUE(t.WriteRecord(1));
}

TEST(DbfTableOpen, TypeLettersMapToCodesAndFIsANumber) {
  DbfTableLayout layout;
  layout.fields = {{"A", 'C', 2, 0}, {"B", 'N', 2, 0}, {"C", 'F', 6, 2}, {"D", 'D', 8, 0},
                 {"E", 'L', 1, 0}, {"F", 'M', 10, 0}, {"G", 'X', 1, 0}, {"H", 'n', 1, 0}};
  layout.rows = {" " + std::string(31, ' ')};
  DbfFile file(MakeDbf(layout));
  DbfTable t(file.path());
  ASSERT_TRUE(t.IsReady()) << t.GetLastErrorText();
  const int expected[] = {kDbfCharacter, kDbfNumeric, kDbfNumeric, kDbfDate,
                          kDbfLogical,   kDbfCharacter, kDbfCharacter, kDbfCharacter};
  for (int f = 1; f <= 8; ++f) {
    int type = 0;
    ASSERT_TRUE(t.GetFieldType(f, type));
    EXPECT_EQ(type, expected[f - 1]) << "field " << f;
  }
  char letter = 0;
  ASSERT_TRUE(t.GetFieldLetter(3, letter));
  EXPECT_EQ(letter, 'F');
}

TEST(DbfTableOpen, NamesAreCutAtTheirFirstNulAndAtElevenBytes) {
  DbfTableLayout layout;
  layout.fields = {{"ELEVENCHARS", 'C', 1, 0}, {std::string("AB\0CD", 5), 'C', 1, 0}, {"", 'C', 1, 0}};
  layout.rows = {"    "};
  DbfFile file(MakeDbf(layout));
  DbfTable t(file.path());
  ASSERT_TRUE(t.IsReady());
  std::string name;
  ASSERT_TRUE(t.GetFieldName(1, name));
  EXPECT_EQ(name, "ELEVENCHARS");
  ASSERT_TRUE(t.GetFieldName(2, name));
  EXPECT_EQ(name, "AB");
  ASSERT_TRUE(t.GetFieldName(3, name));
  EXPECT_EQ(name, "");
}

TEST(DbfTableOpen, VersionByteDecidesWhetherItIsATable) {
  for (int version : {0x03, 0x83}) {
    DbfTableLayout layout = MixedLayout();
    layout.version = std::uint8_t(version);
    DbfFile file(MakeDbf(layout));
    DbfTable t(file.path());
    EXPECT_TRUE(t.IsReady()) << version;
    ASSERT_TRUE(t.ReadRecord(1));
    EXPECT_EQ(Field(t, 1), "Alpha");
  }
  for (int version : {0x30, 0x00, 0x04, 0x8B, 0xF5}) {
    DbfTableLayout layout = MixedLayout();
    layout.version = std::uint8_t(version);
    DbfFile file(MakeDbf(layout));
    DbfTable t(file.path());
    EXPECT_FALSE(t.IsReady()) << version;
    EXPECT_EQ(t.GetLastError(), DbfError::NotATable);
    EXPECT_EQ(t.GetFieldCount(), 0);
    EXPECT_EQ(t.GetRecordCount(), 0);
    EXPECT_TRUE(t.GetRecordBuffer().empty());
  }
}

TEST(DbfTableOpen, HeaderLengthsBelowOneDescriptorGiveNoFields) {
  for (int headerLength : {32, 33, 40, 63}) {
    DbfTableLayout layout;
    layout.headerLength = headerLength;
    layout.recordLength = 3;
    layout.rows = {"abc", "def"};
    DbfFile file(MakeDbf(layout));
    DbfTable t(file.path());
    ASSERT_TRUE(t.IsReady()) << headerLength << ": " << t.GetLastErrorText();
    EXPECT_EQ(t.GetFieldCount(), 0);
    EXPECT_EQ(t.GetRecordCount(), 2);
    // Rows still start at the header length.
    ASSERT_TRUE(t.ReadRecord(2));
    const auto& b = t.GetRecordBuffer();
    EXPECT_EQ(std::string(b.begin(), b.end()), "def") << headerLength;
  }
  // 64 gives one descriptor, read from the bytes after the header.
  DbfTableLayout layout;
  layout.fields = {{"ONE", 'N', 4, 1}};
  layout.headerLength = 64;
  layout.rows = {" 12.5"};
  DbfFile file(MakeDbf(layout));
  DbfTable t(file.path());
  ASSERT_TRUE(t.IsReady());
  EXPECT_EQ(t.GetFieldCount(), 1);
  ASSERT_TRUE(t.ReadRecord(1));
  EXPECT_EQ(Number(t, 1), 12.5);
}

TEST(DbfTableOpen, DamagedHeadersLeaveTheTableNotReady) {
  struct Case {
    const char* what;
    std::string bytes;
    DbfError error;
  };
  std::vector<Case> cases;
  cases.push_back({"empty file", "", DbfError::NotATable});
  cases.push_back({"one byte", "\x03", DbfError::NotATable});
  cases.push_back({"31 bytes", MakeDbf(MixedLayout()).substr(0, 31), DbfError::NotATable});
  {
    // Four descriptors announced, the file ends inside the third.
    cases.push_back({"descriptors past the end", MakeDbf(MixedLayout()).substr(0, 32 + 32 * 2 + 10),
                     DbfError::BadHeader});
  }
  {
    DbfTableLayout layout = MixedLayout();
    layout.headerLength = 20;  // rows would start inside the header
    cases.push_back({"header length below 32", MakeDbf(layout), DbfError::BadHeader});
  }
  {
    std::string bytes = MakeDbf(MixedLayout());
    bytes[8] = bytes[9] = '\xFF';  // 2046 descriptors, far past the end
    cases.push_back({"huge header length", bytes, DbfError::BadHeader});
  }
  for (const Case& c : cases) {
    DbfFile file(c.bytes);
    DbfTable t(file.path());
    EXPECT_FALSE(t.IsReady()) << c.what;
    EXPECT_EQ(t.GetLastError(), c.error) << c.what << ": " << t.GetLastErrorText();
    EXPECT_EQ(t.GetFieldCount(), 0) << c.what;
    EXPECT_EQ(t.GetRecordCount(), 0) << c.what;
    // The refused file is not held: another table may open it.
    DbfTable again(file.path());
    EXPECT_EQ(again.GetLastError(), c.error) << c.what;
  }
}

TEST(DbfTableOpen, AFieldRunningPastTheRowIsTheOnlyOneUnreadable) {
  DbfTableLayout layout = MixedLayout();
  layout.recordLength = 19;  // NAME (1-10) and RATE (11-18) fit; WHEN and OK run past
  for (std::string& row : layout.rows) row = row.substr(0, 19);
  DbfFile file(MakeDbf(layout));
  DbfTable t(file.path());
  ASSERT_TRUE(t.IsReady()) << t.GetLastErrorText();
  EXPECT_EQ(t.GetFieldCount(), 4);  // every field keeps its number
  ASSERT_TRUE(t.ReadRecord(1));
  std::string text;
  EXPECT_TRUE(t.GetString(1, text));
  EXPECT_EQ(text, "Alpha");
  EXPECT_EQ(Number(t, 2), 12.5);
  for (int f : {3, 4}) {
    double v = -1;
    EXPECT_FALSE(t.GetNumber(f, v)) << f;
    EXPECT_EQ(v, 0.0);
    EXPECT_FALSE(t.GetString(f, text)) << f;
    EXPECT_EQ(t.GetLastError(), DbfError::BadField);
    EXPECT_FALSE(t.SetString(f, "20240101")) << f;
    EXPECT_FALSE(t.SetNumber(f, 1)) << f;
  }
  // The row is still written, the fields inside it with their new values.
  ASSERT_TRUE(t.SetNumber(2, 7.25));
  ASSERT_TRUE(t.WriteRecord(1));
  t.Close();
  DbfTable again(file.path());
  ASSERT_TRUE(again.ReadRecord(1));
  EXPECT_EQ(Number(again, 2), 7.25);
}

TEST(DbfTableOpen, ANotReadyTableAnswersEverythingWithFalse) {
  TempDir dir;
  DbfTable t((dir / "missing.dbf").string());
  EXPECT_FALSE(t.IsReady());
  EXPECT_EQ(t.GetLastError(), DbfError::CannotOpen);
  EXPECT_EQ(t.GetRecordCount(), 0);
  EXPECT_EQ(t.GetFieldCount(), 0);
  std::string s;
  int n = 0;
  double v = 3;
  char buf[4];
  EXPECT_FALSE(t.GetFieldName(1, s));
  EXPECT_FALSE(t.GetFieldType(1, n));
  EXPECT_FALSE(t.GetFieldLength(1, n));
  EXPECT_FALSE(t.ReadRecord(1));
  EXPECT_FALSE(t.WriteRecord(1));
  EXPECT_FALSE(t.GetNumber(1, v));
  EXPECT_EQ(v, 0.0);
  EXPECT_FALSE(t.GetString(1, s));
  EXPECT_FALSE(t.GetString(1, buf, 4));
  EXPECT_FALSE(t.SetNumber(1, 1));
  EXPECT_FALSE(t.SetString(1, "a"));
  EXPECT_FALSE(std::filesystem::exists(dir / "missing.dbf")) << "open must never create the file";

  // A folder is no table either.
  DbfTable folder(dir.path().string());
  EXPECT_FALSE(folder.IsReady());
}

TEST(DbfTableOpen, TheFileIsHeldSoASecondTableIsNotReadyUntilClose) {
  DbfFile file(MakeDbf(MixedLayout()));
  DbfTable first(file.path());
  ASSERT_TRUE(first.IsReady());
  DbfTable second(file.path());
  EXPECT_FALSE(second.IsReady());
  EXPECT_EQ(second.GetLastError(), DbfError::Locked);
  EXPECT_EQ(second.GetFieldCount(), 0);
  first.Close();
  EXPECT_FALSE(first.IsReady());
  EXPECT_EQ(first.GetFieldCount(), 0);
  EXPECT_TRUE(first.GetRecordBuffer().empty());
  EXPECT_TRUE(second.Open(file.path()));
  // Reopening an open table lets go of the first file.
  DbfFile other(MakeDbf(MixedLayout()), "other.dbf");
  EXPECT_TRUE(second.Open(other.path()));
  DbfTable third(file.path());
  EXPECT_TRUE(third.IsReady());
}

// Makes a file unwritable for the life of the object: by its mode, or for root
// (who writes any file whatever its mode) by the immutable attribute.
class Unwritable {
 public:
  explicit Unwritable(const std::string& path) : path_(path) {
    ok_ = chmod(path.c_str(), 0444) == 0;
    if (ok_ && geteuid() == 0) {
      immutable_ = SetImmutable(true);
      ok_ = immutable_;
    }
  }
  ~Unwritable() {
    if (immutable_) SetImmutable(false);
  }
  bool ok() const { return ok_; }

 private:
  bool SetImmutable(bool on) {
    const int fd = ::open(path_.c_str(), O_RDONLY);
    if (fd < 0) return false;
    int flags = 0;
    bool done = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (done) {
      flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
      done = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return done;
  }
  std::string path_;
  bool ok_ = false;
  bool immutable_ = false;
};

TEST(DbfTableOpen, ReadOnlyFileIsReadButNeverWritten) {
  DbfFile file(MakeDbf(MixedLayout()));
  Unwritable guard(file.path());
  if (!guard.ok()) GTEST_SKIP() << "cannot make a file unwritable here";
  const std::string before = file.bytes();
  DbfTable t(file.path());
  ASSERT_TRUE(t.IsReady());
  EXPECT_FALSE(t.IsWritable());
  ASSERT_TRUE(t.ReadRecord(1));
  EXPECT_EQ(Field(t, 1), "Alpha");
  EXPECT_FALSE(t.WriteRecord(1));
  EXPECT_EQ(t.GetLastError(), DbfError::ReadOnly);
  EXPECT_EQ(file.bytes(), before);
}

TEST(DbfTableBlankRow, OpeningBlanksTheBufferByFieldType) {
  DbfTableLayout layout = MixedLayout();
  layout.fields.push_back({"TOO", 'N', 3, 5});  // 0 with 5 decimals does not fit in 3
  for (auto& row : layout.rows) row += "   ";
  DbfFile file(MakeDbf(layout));
  DbfTable t(file.path());
  ASSERT_TRUE(t.IsReady());
  EXPECT_EQ(t.GetCurrentRow(), 1);
  const auto& b = t.GetRecordBuffer();
  ASSERT_EQ(b.size(), 31u);
  EXPECT_EQ(b[0], 0) << "the deletion flag stays a zero byte";
  EXPECT_EQ(RawField(t, 1), std::string(10, ' '));
  EXPECT_EQ(RawField(t, 2), "    0.00");
  EXPECT_EQ(RawField(t, 3), std::string(8, '\0'));
  EXPECT_EQ(RawField(t, 4), "0");
  EXPECT_EQ(RawField(t, 5), std::string(3, '\0'));
  // The blank row made on opening is no refused edit.
  EXPECT_EQ(t.GetRejectedField(), 0);
}

TEST(DbfTableRead, RowsAndTheirFields) {
  DbfFile file(MakeDbf(MixedLayout()));
  DbfTable t(file.path());
  ASSERT_TRUE(t.ReadRecord(2));
  EXPECT_EQ(t.GetCurrentRow(), 2);
  EXPECT_TRUE(t.IsDeleted());
  EXPECT_EQ(Field(t, 1), "Beta");
  EXPECT_EQ(Number(t, 2), -3.25);
  EXPECT_EQ(Field(t, 3), "");
  EXPECT_EQ(Field(t, 4), "F");

  ASSERT_TRUE(t.ReadRecord(1));
  EXPECT_FALSE(t.IsDeleted());
  EXPECT_EQ(Field(t, 1), "Alpha");
  EXPECT_EQ(Number(t, 2), 12.5);
  EXPECT_EQ(Field(t, 3), "20240229");
  EXPECT_EQ(Number(t, 3), 20240229.0);
  EXPECT_EQ(Field(t, 4), "T");

  ASSERT_TRUE(t.ReadRecord(3));
  EXPECT_EQ(Number(t, 2), 1000.0);  // left-aligned exponent form is still a number
  EXPECT_EQ(Number(t, 1), 0.0);     // text holds no number: 0, and still true
}

TEST(DbfTableRead, RowsOutsideTheCountLeaveTheCurrentRow) {
  DbfFile file(MakeDbf(MixedLayout()));
  DbfTable t(file.path());
  ASSERT_TRUE(t.ReadRecord(2));
  const auto before = t.GetRecordBuffer();
  for (int row : {0, -1, 4, std::numeric_limits<int>::max(), std::numeric_limits<int>::min()}) {
    EXPECT_FALSE(t.ReadRecord(row)) << row;
    EXPECT_EQ(t.GetLastError(), DbfError::BadRow);
    EXPECT_EQ(t.GetCurrentRow(), 2);
    EXPECT_EQ(t.GetRecordBuffer(), before);
  }
}

TEST(DbfTableRead, ARowPastTheEndFailsAndShowsNothingFromBeyondIt) {
  // The header claims 5 rows, the file holds 3 and half of a fourth: the
  // table has the 3 whole rows.
  DbfTableLayout layout = MixedLayout();
  layout.recordCount = 5;
  layout.tail = (" " + Left("Delta", 10)).substr(0, 9);
  DbfFile file(MakeDbf(layout));
  DbfTable t(file.path());
  ASSERT_TRUE(t.IsReady());
  EXPECT_EQ(t.GetRecordCount(), 3);
  EXPECT_EQ(t.GetClaimedRecordCount(), 5);
  ASSERT_TRUE(t.ReadRecord(3));
  const auto third = t.GetRecordBuffer();
  EXPECT_FALSE(t.ReadRecord(4));
  EXPECT_EQ(t.GetLastError(), DbfError::BadRow);
  EXPECT_EQ(t.GetRecordBuffer(), third);
  EXPECT_FALSE(t.ReadRecord(5));
  EXPECT_EQ(t.GetRecordBuffer(), third);
  // Reads before the end still work after failed ones.
  ASSERT_TRUE(t.ReadRecord(1));
  EXPECT_EQ(Field(t, 1), "Alpha");
}

TEST(DbfTableRead, EndOfFileByteOrSpareBytesAfterTheLastRowAreFine) {
  for (const std::string& tail : {std::string(), std::string("\x1a"), std::string("\x1a\0\0\0\0", 5),
                                  std::string(100, 'x')}) {
    DbfTableLayout layout = MixedLayout();
    layout.tail = tail;
    DbfFile file(MakeDbf(layout));
    DbfTable t(file.path());
    ASSERT_TRUE(t.ReadRecord(3)) << tail.size();
    EXPECT_EQ(Field(t, 1), "Gamma");
    EXPECT_EQ(Field(t, 3), "19991231");
  }
}

TEST(DbfTableRead, ZeroRecordTableHasNoRowsButABlankBuffer) {
  DbfTableLayout layout = MixedLayout();
  layout.rows.clear();
  DbfFile file(MakeDbf(layout));
  DbfTable t(file.path());
  ASSERT_TRUE(t.IsReady());
  EXPECT_EQ(t.GetRecordCount(), 0);
  EXPECT_FALSE(t.ReadRecord(1));
  EXPECT_FALSE(t.WriteRecord(1));
  EXPECT_EQ(Number(t, 2), 0.0);
}

TEST(DbfTableRead, RecordCountsBeyondTheFileAreCutToTheRowsItHolds) {
  struct Case {
    std::int64_t claimed;
    std::string tail;
    int held;
  };
  const Case cases[] = {
      {0xFFFFFFFFll, "\x1a", 3},       // past int
      {119000000, "", 3},              // millions of rows for three
      {4, std::string(27, ' '), 3},    // one byte short of a fourth row
      {4, std::string(28, ' '), 4},    // a whole fourth row
      {2, std::string(28 * 5, ' '), 2},  // more rows than announced: the count holds
  };
  for (const Case& c : cases) {
    DbfTableLayout layout = MixedLayout();
    layout.recordCount = c.claimed;
    layout.tail = c.tail;
    DbfFile file(MakeDbf(layout));
    DbfTable t(file.path());
    ASSERT_TRUE(t.IsReady());
    EXPECT_EQ(t.GetRecordCount(), c.held) << c.claimed;
    EXPECT_EQ(t.GetClaimedRecordCount(), c.claimed);
    std::vector<double> column;
    ASSERT_TRUE(t.ReadNumberColumn(2, column));
    EXPECT_EQ(column.size(), static_cast<size_t>(c.held));
    EXPECT_TRUE(t.ReadRecord(c.held));
    EXPECT_FALSE(t.ReadRecord(c.held + 1));
    EXPECT_EQ(t.GetLastError(), DbfError::BadRow);
  }
}

TEST(DbfTableRead, ColumnOfManyRowsCrossesReadBlocks) {
  // Rows of 7 bytes do not divide the read block, so some rows straddle blocks.
  DbfTableLayout layout;
  layout.fields = {{"V", 'N', 6, 0}};
  const int rows = 100000;
  for (int i = 1; i <= rows; ++i) layout.rows.push_back(" " + Right(std::to_string(i), 6));
  DbfFile file(MakeDbf(layout));
  DbfTable t(file.path());
  ASSERT_TRUE(t.IsReady());
  double sum = 0;
  for (int i = 1; i <= rows; ++i) {
    ASSERT_TRUE(t.ReadRecord(i)) << i;
    double v = 0;
    t.GetNumber(1, v);
    ASSERT_EQ(v, double(i));
    sum += v;
  }
  EXPECT_EQ(sum, double(rows) * (rows + 1) / 2);
  // Backwards and scattered reads give the same values.
  for (int i : {rows, 1, 37449, 37450, 37451, 74898, 2}) {
    ASSERT_TRUE(t.ReadRecord(i));
    EXPECT_EQ(Number(t, 1), double(i));
  }
}

TEST(DbfTableGetNumber, ScansLikeTheCLibrary) {
  struct Case {
    std::string text;
    double value;
  };
  const std::vector<Case> cases = {
      {"        ", 0.0},       {"   12.50", 12.5},     {"12.50   ", 12.5},     {"  -3.25 ", -3.25},
      {"+7      ", 7.0},       {"   .5   ", 0.5},      {"  -.25  ", -0.25},    {"1e3     ", 1000.0},
      {" 1.5E-2 ", 0.015},     {"12abc   ", 12.0},     {"abc     ", 0.0},      {"********", 0.0},
      {"  1 2   ", 1.0},       {"\t\n 42  ", 42.0},     {"0x1A    ", 26.0},     {"1e      ", 1.0},
      {"  -     ", 0.0},       {"--5     ", 0.0},      {"1.2.3   ", 1.2},      {"  inf   ", INFINITY},
      {std::string("12\0" "99999", 8), 12.0},          {std::string("\0" "1234567", 8), 0.0},
      {"1,5     ", 1.0},       {"00000042", 42.0},     {"1e999   ", INFINITY}, {"-0      ", 0.0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseDbfNumber(c.text.data(), c.text.size()), c.value) << "\"" << c.text << "\"";
  }
  EXPECT_TRUE(std::isnan(ParseDbfNumber("nan", 3)));
  EXPECT_TRUE(std::signbit(ParseDbfNumber("-0", 2)));
  // The scan sees only the field, never the bytes after it.
  EXPECT_EQ(ParseDbfNumber("12345", 2), 12.0);
  EXPECT_EQ(ParseDbfNumber("1e5", 2), 1.0);
}

TEST(DbfTableGetNumber, DecimalsAreReadExactly) {
  // Long decimal texts must round exactly as the C library does.
  for (const char* s : {"29.389743589743588", "0.1", "1396.5056", "123456789012345678901234",
                        "2.2250738585072011e-308", "9007199254740993", "0.30000000000000004"}) {
    double expected = 0;
    ASSERT_EQ(std::sscanf(s, "%lf", &expected), 1);
    EXPECT_EQ(ParseDbfNumber(s, std::strlen(s)), expected) << s;
  }
  // Random field texts of 1 to 18 digits, up to 17 of them decimals, with
  // signs and padding: every one as the C library reads it.
  std::mt19937_64 random(7);
  for (int i = 0; i < 200000; ++i) {
    const int digits = 1 + int(random() % 18);
    const int decimals = int(random() % std::min(digits, 18));
    std::string text(random() % 3, ' ');
    if (random() % 4 == 0) text += random() % 2 ? '-' : '+';
    for (int d = 0; d < digits; ++d) {
      if (d == digits - decimals && decimals > 0) text += '.';
      text += char('0' + random() % 10);
    }
    text += std::string(random() % 3, ' ');
    double expected = 0;
    ASSERT_EQ(std::sscanf(text.c_str(), "%lf", &expected), 1) << text;
    ASSERT_EQ(ParseDbfNumber(text.data(), text.size()), expected) << "\"" << text << "\"";
  }
}

TEST(DbfTableGetString, TrimsTrailingSpacesAndFitsTheBuffer) {
  DbfTableLayout layout;
  layout.fields = {{"TEN", 'C', 10, 0}, {"FOUR", 'C', 4, 0}};
  layout.rows = {" " + Left("  lead tail", 10) + "ab  "};
  DbfFile file(MakeDbf(layout));
  DbfTable t(file.path());
  ASSERT_TRUE(t.ReadRecord(1));
  EXPECT_EQ(Field(t, 1), "  lead tai");  // leading spaces stay
  EXPECT_EQ(Field(t, 2), "ab");

  char buf[16];
  ASSERT_TRUE(t.GetString(2, buf, sizeof buf));
  EXPECT_STREQ(buf, "ab");
  ASSERT_TRUE(t.GetString(1, buf, 4));
  EXPECT_STREQ(buf, "  l");  // at most size - 1 characters
  ASSERT_TRUE(t.GetString(1, buf, 3));
  EXPECT_STREQ(buf, "");     // "  " trimmed away
  ASSERT_TRUE(t.GetString(1, buf, 1));
  EXPECT_STREQ(buf, "");
  buf[0] = 'x';
  EXPECT_FALSE(t.GetString(1, buf, 0));
  EXPECT_EQ(buf[0], 'x');
  EXPECT_FALSE(t.GetString(1, nullptr, 10));
}

TEST(DbfTableGetString, EndsAtAnEmbeddedNulLikeTheBufferForm) {
  DbfTableLayout layout;
  layout.fields = {{"T", 'C', 6, 0}};
  layout.rows = {std::string(" ab\0cd ", 7)};
  DbfFile file(MakeDbf(layout));
  DbfTable t(file.path());
  ASSERT_TRUE(t.ReadRecord(1));
  char buf[8];
  ASSERT_TRUE(t.GetString(1, buf, sizeof buf));
  EXPECT_STREQ(buf, "ab");
  EXPECT_EQ(Field(t, 1), "ab");
}

TEST(DbfTableSetNumber, WritesTheShortestDecimalOfTheValuePaddedToTheDecimals) {
  struct Case {
    double value;
    int width, decimals;
    const char* text;
  };
  const Case cases[] = {
      {123.45, 24, 15, "     123.450000000000000"},  // not 123.450000000000003
      {0.1, 10, 3, "     0.100"},
      {-2.5, 8, 4, " -2.5000"},
      {42.0, 6, 0, "    42"},
      {1e20, 24, 2, "100000000000000000000.00"},
      {0.1 + 0.2, 20, 15, "   0.300000000000000"},  // needs 17 digits: rounded to the field's 15
      {2.675, 6, 2, "  2.67"},                      // rounded as printf rounds the binary value
  };
  for (const Case& c : cases) EXPECT_EQ(FormatDbfNumber(c.value, c.width, c.decimals), c.text) << c.value;
  // Each reads back as the same double wherever the field keeps all its digits.
  EXPECT_EQ(ParseDbfNumber("     123.450000000000000", 24), 123.45);
}

TEST(DbfTableSetNumber, FormatsRightAlignedWithTheFieldDecimals) {
  DbfTableLayout layout;
  layout.fields = {{"N52", 'N', 5, 2}, {"N60", 'N', 6, 0}, {"N2415", 'N', 24, 15}, {"C8", 'C', 8, 0},
                 {"L", 'L', 1, 0}};
  layout.rows = {" " + std::string(5 + 6 + 24 + 8 + 1, ' ')};
  DbfFile file(MakeDbf(layout));
  DbfTable t(file.path());
  ASSERT_TRUE(t.ReadRecord(1));

  EXPECT_TRUE(t.SetNumber(1, 3.14159));
  EXPECT_EQ(RawField(t, 1), " 3.14");
  EXPECT_FALSE(t.SetNumber(1, -9.999));  // rounds to -10.00: six characters
  EXPECT_EQ(RawField(t, 1), " 3.14") << "a refused number leaves the field";
  EXPECT_TRUE(t.SetNumber(1, -9.99));
  EXPECT_EQ(RawField(t, 1), "-9.99");
  EXPECT_TRUE(t.SetNumber(1, 0.005));  // printf rounding of the binary value
  EXPECT_EQ(RawField(t, 1), " 0.01");

  EXPECT_TRUE(t.SetNumber(2, 2.5));
  EXPECT_EQ(RawField(t, 2), "     2");  // round half to even, as printf does
  EXPECT_TRUE(t.SetNumber(2, -12345));
  EXPECT_EQ(RawField(t, 2), "-12345");
  EXPECT_FALSE(t.SetNumber(2, -123456));
  // The shortest text of the double, padded to the decimals: the same value,
  // without the digits of its binary expansion.
  EXPECT_TRUE(t.SetNumber(3, 29.389743589743588));
  EXPECT_EQ(RawField(t, 3), "      29.389743589743590");
  EXPECT_EQ(Number(t, 3), 29.389743589743588);
  EXPECT_TRUE(t.SetNumber(4, 1.5));  // a character field takes the text of a number
  EXPECT_EQ(RawField(t, 4), "       2");
  EXPECT_TRUE(t.SetNumber(5, 1));
  EXPECT_EQ(RawField(t, 5), "1");
}

TEST(DbfTableSetNumber, TooWideOrUndefinedNumbersAreRefusedAndTheRowIsNotWritten) {
  DbfTableLayout layout;
  layout.fields = {{"N52", 'N', 5, 2}, {"RATE", 'N', 8, 1}};
  layout.rows = {" " + Right("1.00", 5) + Right("7.5", 8), " " + Right("2.00", 5) + Right("8.5", 8)};
  DbfFile file(MakeDbf(layout));
  const std::string original = file.bytes();
  DbfTable t(file.path());
  ASSERT_TRUE(t.ReadRecord(2));

  EXPECT_FALSE(t.SetNumber(1, 123.456));  // "123.46" has six characters
  EXPECT_EQ(t.GetLastError(), DbfError::ValueTooWide);
  EXPECT_EQ(RawField(t, 1), " 2.00");
  EXPECT_TRUE(t.SetNumber(2, 99.25));  // a later field still takes its value
  EXPECT_EQ(t.GetRejectedField(), 1);
  EXPECT_FALSE(t.WriteRecord(2));
  EXPECT_EQ(t.GetLastError(), DbfError::PendingRejection);
  EXPECT_EQ(file.bytes(), original);

  for (double bad : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                     -std::numeric_limits<double>::infinity(), 1e300}) {
    EXPECT_FALSE(t.SetNumber(2, bad)) << bad;
    EXPECT_EQ(RawField(t, 2), "    99.2") << bad;  // 99.25 rounds half to even
  }
  EXPECT_EQ(t.GetRejectedField(), 1);

  // Setting the refused field again with a value that fits clears the refusal.
  EXPECT_TRUE(t.SetNumber(1, 12.5));
  EXPECT_EQ(t.GetRejectedField(), 2);
  EXPECT_TRUE(t.SetNumber(2, 1));
  EXPECT_EQ(t.GetRejectedField(), 0);
  ASSERT_TRUE(t.WriteRecord(2));
  std::string expected = original;
  expected.replace(std::size_t(t.GetHeaderLength()) + 14, 14, " 12.50     1.0");
  EXPECT_EQ(file.bytes(), expected);

  // Reading a row forgets refusals made on the previous one.
  EXPECT_FALSE(t.SetNumber(1, 1000));
  ASSERT_TRUE(t.ReadRecord(1));
  EXPECT_EQ(t.GetRejectedField(), 0);
  EXPECT_TRUE(t.WriteRecord(1));
}

TEST(DbfTableSetNumber, WritesWithAPointWhateverTheLocale) {
  const char* old = std::setlocale(LC_ALL, nullptr);
  const std::string saved = old ? old : "C";
  if (!std::setlocale(LC_ALL, "de_DE.UTF-8") && !std::setlocale(LC_ALL, "de_DE.utf8")) {
    GTEST_SKIP() << "no German locale installed";
  }
  char check[16];
  std::snprintf(check, sizeof check, "%.1f", 1.5);
  const bool comma = std::string(check) == "1,5";
  EXPECT_EQ(FormatDbfNumber(1234.5, 10, 2), "   1234.50");
  EXPECT_EQ(ParseDbfNumber("  1234.5", 8), 1234.5);
  EXPECT_EQ(ParseDbfNumber("0x1p3", 5), 8.0);  // the library path, under the "C" locale
  std::setlocale(LC_ALL, saved.c_str());
  EXPECT_TRUE(comma) << "the locale did not switch, the test proved nothing";
}

TEST(DbfTableSetString, PadsCutsAndReportsTooLongTexts) {
  DbfTableLayout layout;
  layout.fields = {{"FOUR", 'C', 4, 0}, {"TEN", 'C', 10, 0}};
  layout.rows = {" " + Left("old", 4) + Left("keep", 10)};
  DbfFile file(MakeDbf(layout));
  const std::string original = file.bytes();
  DbfTable t(file.path());
  ASSERT_TRUE(t.ReadRecord(1));

  EXPECT_TRUE(t.SetString(2, "ab"));
  EXPECT_EQ(RawField(t, 2), "ab        ");
  EXPECT_TRUE(t.SetString(1, "abcd      "));  // trailing spaces are padding
  EXPECT_EQ(RawField(t, 1), "abcd");
  EXPECT_TRUE(t.SetString(1, std::string("x\0yz", 4)));  // the text ends at its NUL
  EXPECT_EQ(RawField(t, 1), "x   ");
  EXPECT_TRUE(t.SetString(1, ""));
  EXPECT_EQ(RawField(t, 1), "    ");
  EXPECT_TRUE(t.SetString(1, nullptr));
  EXPECT_EQ(RawField(t, 1), "    ");

  // Ten letters into four bytes: the buffer shows the first four, the setter
  // reports it, and the row is not written until the field is set again.
  EXPECT_FALSE(t.SetString(1, "ABCDEFGHIJ"));
  EXPECT_EQ(t.GetLastError(), DbfError::ValueTooWide);
  EXPECT_EQ(RawField(t, 1), "ABCD");
  EXPECT_EQ(Field(t, 1), "ABCD");
  EXPECT_EQ(t.GetRejectedField(), 1);
  EXPECT_FALSE(t.WriteRecord(1));
  EXPECT_EQ(file.bytes(), original);
  EXPECT_TRUE(t.SetString(1, "ABCD"));
  ASSERT_TRUE(t.WriteRecord(1));
  std::string expected = original;
  expected.replace(std::size_t(t.GetHeaderLength()) + 1, 14, "ABCDab        ");
  EXPECT_EQ(file.bytes(), expected);
}

TEST(DbfTableSetString, DateFieldsTakeOnlyRealDatesOrBlank) {
  DbfTableLayout layout;
  layout.fields = {{"WHEN", 'D', 8, 0}};
  layout.rows = {" 20200101"};
  DbfFile file(MakeDbf(layout));
  DbfTable t(file.path());
  ASSERT_TRUE(t.ReadRecord(1));
  for (const char* good : {"20240229", "20000229", "19991231", "00010101", "99991231"}) {
    EXPECT_TRUE(t.SetString(1, good)) << good;
    EXPECT_EQ(RawField(t, 1), good);
  }
  EXPECT_TRUE(t.SetString(1, ""));
  EXPECT_EQ(RawField(t, 1), "        ");
  EXPECT_TRUE(t.SetString(1, "20240101"));
  for (const char* bad : {"20230229", "19000229", "20241301", "20240001", "20240100", "20240431",
                          "00000101", "2024-1-1", "2024011", "202401011", " 2024010", "abcdefgh",
                          "20240101x"}) {
    EXPECT_FALSE(t.SetString(1, bad)) << bad;
    EXPECT_EQ(RawField(t, 1), "20240101") << bad;
    EXPECT_EQ(t.GetLastError(), std::strlen(bad) > 8 ? DbfError::ValueTooWide : DbfError::BadDate) << bad;
  }
  EXPECT_EQ(t.GetRejectedField(), 1);
  EXPECT_FALSE(t.WriteRecord(1));
  // A number can fill a date field only when it reads as a date.
  EXPECT_TRUE(t.SetNumber(1, 20251231));
  EXPECT_EQ(RawField(t, 1), "20251231");
  EXPECT_FALSE(t.SetNumber(1, 20251232));
  EXPECT_FALSE(t.SetNumber(1, -1));
  EXPECT_EQ(RawField(t, 1), "20251231");
  EXPECT_TRUE(t.SetString(1, "20251231"));
  EXPECT_TRUE(t.WriteRecord(1));
  EXPECT_TRUE(IsValidDbfDate("20240229"));
  EXPECT_FALSE(IsValidDbfDate("2024022"));
}

TEST(DbfTableWrite, OnlyTheWrittenRowChanges) {
  DbfFile file(MakeDbf(MixedLayout()));
  const std::string original = file.bytes();
  DbfTable t(file.path());
  ASSERT_TRUE(t.ReadRecord(2));
  ASSERT_TRUE(t.SetString(1, "Bravo"));
  ASSERT_TRUE(t.SetNumber(2, 4.5));
  ASSERT_TRUE(t.SetString(3, "20240301"));
  ASSERT_TRUE(t.WriteRecord(2));
  EXPECT_EQ(t.GetCurrentRow(), 2);

  const std::size_t rowStart = std::size_t(t.GetHeaderLength()) + 28;
  std::string expected = original;
  expected.replace(rowStart, 28, "*" + Left("Bravo", 10) + Right("4.50", 8) + "20240301" + "F");
  EXPECT_EQ(file.bytes(), expected);

  // Reading the rows around it, and the row itself, gives the new values.
  ASSERT_TRUE(t.ReadRecord(1));
  EXPECT_EQ(Field(t, 1), "Alpha");
  ASSERT_TRUE(t.ReadRecord(2));
  EXPECT_EQ(Field(t, 1), "Bravo");
  EXPECT_EQ(Number(t, 2), 4.5);
  t.Close();
  DbfTable again(file.path());
  ASSERT_TRUE(again.ReadRecord(2));
  EXPECT_EQ(Field(again, 1), "Bravo");
}

TEST(DbfTableWrite, TheBufferGoesToTheRowNamedEvenFromAnotherRow) {
  DbfFile file(MakeDbf(MixedLayout()));
  DbfTable t(file.path());
  ASSERT_TRUE(t.ReadRecord(1));
  ASSERT_TRUE(t.WriteRecord(3));
  ASSERT_TRUE(t.ReadRecord(3));
  EXPECT_EQ(Field(t, 1), "Alpha");
  EXPECT_EQ(Number(t, 2), 12.5);
  // The blank row of a fresh table can be written too.
  t.Close();
  ASSERT_TRUE(t.Open(file.path()));
  ASSERT_TRUE(t.WriteRecord(1));
  ASSERT_TRUE(t.ReadRecord(1));
  EXPECT_EQ(Field(t, 1), "");
  EXPECT_EQ(RawField(t, 2), "    0.00");
}

TEST(DbfTableWrite, RowsOutsideTheCountOrPastTheEndAreNeverWritten) {
  DbfTableLayout layout = MixedLayout();
  layout.recordCount = 5;
  layout.tail = " Delta";  // a partial fourth row
  DbfFile file(MakeDbf(layout));
  const std::string original = file.bytes();
  DbfTable t(file.path());
  ASSERT_TRUE(t.ReadRecord(1));
  // Rows 4 and 5 are announced but not in the file: the table does not have them.
  for (int row : {0, -3, 6, 4, 5}) {
    EXPECT_FALSE(t.WriteRecord(row)) << row;
    EXPECT_EQ(t.GetLastError(), DbfError::BadRow);
  }
  EXPECT_EQ(file.bytes(), original);
  EXPECT_TRUE(t.WriteRecord(3));
}

TEST(DbfTableWrite, ARowCutOffByAnotherProgramIsNotWrittenAndNotReportedWritten) {
  // Another program shortened the file while the table was open.
  DbfFile file(MakeDbf(MixedLayout()));
  DbfTable t(file.path());
  ASSERT_TRUE(t.ReadRecord(3));
  ASSERT_EQ(truncate(file.path().c_str(), t.GetHeaderLength() + 2 * 28 + 10), 0);
  EXPECT_FALSE(t.WriteRecord(3));
  EXPECT_EQ(t.GetLastError(), DbfError::RowPastEnd);
  EXPECT_EQ(file.bytes().size(), std::size_t(t.GetHeaderLength() + 2 * 28 + 10));
  EXPECT_NE(t.GetLastErrorText().find("row 3"), std::string::npos) << t.GetLastErrorText();
}

TEST(DbfTableWrite, AWriteTheSystemRefusesHalfWayReportsFailureAndLeavesTheFile) {
  DbfFile file(MakeDbf(MixedLayout()));
  const std::string original = file.bytes();
  DbfTable t(file.path());
  ASSERT_TRUE(t.ReadRecord(1));
  ASSERT_TRUE(t.SetString(1, "Changed"));
  // A file size limit in the middle of row 2 makes the system take the first
  // half of the row and refuse the rest (EFBIG), as a full disk would.
  const rlim_t limit = rlim_t(t.GetHeaderLength() + 28 + 14);
  struct rlimit old {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit lowered = old;
  lowered.rlim_cur = limit;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lowered), 0);
  const bool written = t.WriteRecord(2);
  const DbfError error = t.GetLastError();
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);

  EXPECT_FALSE(written);
  EXPECT_EQ(error, DbfError::IoFailed) << t.GetLastErrorText();
  // The half that reached the file was put back.
  EXPECT_EQ(file.bytes(), original);
  // Reads after the failure show the file as it is.
  ASSERT_TRUE(t.ReadRecord(2));
  EXPECT_EQ(Field(t, 1), "Beta");
  // Without the limit the same row is written.
  ASSERT_TRUE(t.ReadRecord(1));
  ASSERT_TRUE(t.SetString(1, "Changed"));
  ASSERT_TRUE(t.WriteRecord(2));
  ASSERT_TRUE(t.ReadRecord(2));
  EXPECT_EQ(Field(t, 1), "Changed");
}

}  // namespace
}  // namespace kestrune

namespace kestrune {
namespace {

// A whole column read at once gives, row by row, what ReadRecord and
// GetNumber give: every field, a header that claims more rows than the file
// holds (the last one cut short), a field that does not exist, and a table
// of many blocks.
TEST(DbfTableColumn, AColumnReadAtOnceIsWhatReadingRowByRowGives) {
  DbfTableLayout cut = MixedLayout();
  cut.recordCount = 5;
  cut.tail = " " + Left("Delta", 10);  // part of a fourth row, no fifth
  DbfTableLayout many;
  many.fields = {{"RATE", 'N', 10, 2}, {"NOTE", 'C', 3, 0}};
  for (int i = 0; i < 300000; ++i) many.rows.push_back(" " + Right(std::to_string(i % 977) + ".25", 10) + "abc");
  const struct {
    const char* name;
    DbfTableLayout layout;
    std::vector<int> fields;
  } cases[] = {{"mixed", MixedLayout(), {1, 2, 3, 4, 5}}, {"cut", cut, {2}}, {"many", many, {1}}};
  for (const auto& c : cases) {
    DbfFile file(MakeDbf(c.layout));
    DbfTable table(file.path());
    ASSERT_TRUE(table.IsReady()) << c.name;
    for (int field : c.fields) {
      std::vector<double> column;
      ASSERT_TRUE(table.ReadNumberColumn(field, column)) << c.name;
      std::vector<double> rows;
      for (int r = 1; r <= table.GetRecordCount(); ++r) {
        if (!table.ReadRecord(r)) break;
        double v = -1;
        table.GetNumber(field, v);
        rows.push_back(v);
      }
      EXPECT_EQ(column, rows) << c.name << " field " << field;
    }
  }
  DbfTable closed;
  std::vector<double> none{1.0};
  EXPECT_FALSE(closed.ReadNumberColumn(1, none));
  EXPECT_TRUE(none.empty());
}

}  // namespace
}  // namespace kestrune
