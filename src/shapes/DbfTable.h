// The dBase III attribute table (".dbf") of a shape file set: one row per shape
// record, read a row at a time into a record buffer, typed access to its fields,
// and a changed row written back in place. Fields and rows are numbered from 1.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrune {

// Type codes of the fields, as the layer, the dialogs and the legend see them.
constexpr int kDbfCharacter = 1;  // "C", "M" and every unknown letter
constexpr int kDbfNumeric = 2;    // "N" and "F"
constexpr int kDbfDate = 4;       // "D", text YYYYMMDD as stored
constexpr int kDbfLogical = 11;   // "L"

// Texts a caller (the Attributes dialog) shows when the table refuses a value;
// pass them through LangFormat with the field name and, for the width, its length.
constexpr const char* kDbfValueTooWideText =
    "#20000300:The value of the field \"%s\" does not fit its width of %d characters. The row was not written.";
constexpr const char* kDbfBadDateText =
    "#20000301:The field \"%s\" takes a date written YYYYMMDD, or nothing. The row was not written.";
constexpr const char* kDbfWriteFailedText = "#20000302:Row %d of \"%s\" could not be written.";

// One field descriptor of the table.
struct DbfField {
  std::string name;   // at most 11 bytes, as stored
  char letter = 'C';  // the type letter as stored
  int type = kDbfCharacter;
  int length = 0;     // bytes in a row, 0 to 255
  int decimals = 0;   // 0 to 255
  int offset = 0;     // within the row; the first field starts at 1, after the deletion flag
  // False for a field that runs past the row: listed, but never read or written.
  bool readable = true;
};

// Why the last operation on a table failed; None after success.
enum class DbfError {
  None,
  CannotOpen,      // missing, not a regular file, or no permission
  Locked,          // another table object holds the file
  NotATable,       // short header or a version byte other than 3 or 131
  BadHeader,       // header length below 32, descriptors past the end
  NotReady,        // the table is not open
  BadRow,          // row number outside 1 to the record count
  RowPastEnd,      // the row does not lie wholly inside the file
  BadField,        // field number outside 1 to the field count, or a field past the row
  ValueTooWide,    // the formatted value is longer than the field
  BadDate,         // not YYYYMMDD or blank for a date field
  BadNumber,       // not a finite number
  PendingRejection,// a value was refused since the last read; the row is not written
  ReadOnly,        // the file could be opened for reading only
  IoFailed,        // a read or write system call failed
};

class DbfTable {
 public:
  DbfTable() = default;
  // Opens at once, like Open.
  explicit DbfTable(const std::string& path);
  ~DbfTable();
  DbfTable(const DbfTable&) = delete;
  DbfTable& operator=(const DbfTable&) = delete;

  // Opens the file, reads its header and field descriptors and blanks the record
  // buffer. False (and a table with no fields and no buffer) when the file is
  // missing, held by another table, or not a sound table.
  bool Open(const std::string& path);
  // Closes the file and frees the buffer and the fields.
  void Close();

  // True between a successful Open and Close.
  bool IsReady() const { return fd_ >= 0 && ready_; }
  // True when rows can be written back (the file was opened for writing too).
  bool IsWritable() const { return IsReady() && writable_; }
  const std::string& GetPath() const { return path_; }

  // The rows the table holds: the header's count, or fewer when the file ends
  // before the rows it announces (only whole rows count).
  int GetRecordCount() const;
  // The row count the header announces, which may exceed what the file holds.
  std::int64_t GetClaimedRecordCount() const { return IsReady() ? claimedRecordCount_ : 0; }
  int GetFieldCount() const;
  bool GetFieldName(int field, std::string& name) const;
  bool GetFieldType(int field, int& type) const;
  bool GetFieldLength(int field, int& length) const;
  bool GetFieldDecimals(int field, int& decimals) const;
  bool GetFieldLetter(int field, char& letter) const;
  // The descriptor of a field, or null for a field number out of range.
  const DbfField* GetField(int field) const;
  // The first field of that exact name, or 0.
  int FindField(const std::string& name) const;

  // Header length and row length in bytes, 0 when not ready.
  int GetHeaderLength() const { return IsReady() ? headerLength_ : 0; }
  int GetRecordLength() const { return IsReady() ? recordLength_ : 0; }

  // The row last asked for (1 after opening).
  int GetCurrentRow() const { return currentRow_; }
  // Reads a row into the record buffer and makes it the current row.
  bool ReadRecord(int row);
  // Writes the record buffer to a row. Refused while a value set since the last
  // read was refused, so a row is never written without one of its edits.
  bool WriteRecord(int row);
  // True when the buffered row carries the deletion mark "*".
  bool IsDeleted() const;

  // The number in a field of the buffered row; 0 when it holds none.
  bool GetNumber(int field, double& value) const;
  // The numbers of one field for every row ReadRecord can read, in row order
  // and in large blocks: values[i] is what GetNumber gives after
  // ReadRecord(i + 1) (0 for every row when the field does not exist). The
  // rows stop where the file does; false when the table is not open. The
  // buffered row is left as it was.
  bool ReadNumberColumn(int field, std::vector<double>& values);
  // The bytes of a row for a walk over the rows in order, read in blocks of
  // some megabytes apart from the buffered row; null for a row ReadRecord
  // could not read. Valid until the next call or Close.
  const unsigned char* RowBytes(int row);
  // The field's text without trailing spaces, cut to size - 1 bytes and terminated.
  bool GetString(int field, char* buffer, int size) const;
  // The same, whole (up to the first NUL byte).
  bool GetString(int field, std::string& text) const;
  // Writes a number right-aligned with the field's decimals; false, and the field
  // unchanged, when it does not fit.
  bool SetNumber(int field, double value);
  // Writes a text left-aligned and padded with spaces. A text longer than the
  // field (trailing spaces aside) is cut at the field length in the buffer but
  // answers false and keeps WriteRecord from storing the row; a date field takes
  // only a valid YYYYMMDD or blank and is otherwise left as it was.
  bool SetString(int field, const std::string& text);
  bool SetString(int field, const char* text) { return SetString(field, std::string(text ? text : "")); }

  // The first field whose value was refused since the last ReadRecord, or 0.
  int GetRejectedField() const;
  // Why the last operation failed, and a diagnostic naming the row or field and
  // the sizes involved (for logs; callers show their own translated texts).
  DbfError GetLastError() const { return lastError_; }
  const std::string& GetLastErrorText() const { return lastErrorText_; }

  // The record buffer, for tests and tools.
  const std::vector<unsigned char>& GetRecordBuffer() const { return record_; }

 private:
  bool Fail(DbfError error, std::string text) const;
  bool FailPastRow(int field) const;
  bool Succeed() const;
  bool ReadHeader();
  void BlankRecord();
  bool StoreNumber(int field, double value, bool markRejection);
  bool StoreText(const DbfField& f, const std::string& text);
  void MarkRejected(int field);
  void ClearRejected(int field);
  bool ReadAt(std::int64_t offset, unsigned char* out, std::size_t length, bool sequential);
  bool FillWindow(std::int64_t offset, std::size_t length, bool sequential);

  std::string path_;
  int fd_ = -1;
  bool ready_ = false;
  bool writable_ = false;
  std::int64_t fileSize_ = 0;
  std::int64_t recordCount_ = 0;
  std::int64_t claimedRecordCount_ = 0;
  int headerLength_ = 0;
  int recordLength_ = 0;
  int currentRow_ = 1;
  int lastReadRow_ = 0;  // decides between a large and a small read block
  std::vector<DbfField> fields_;
  std::vector<unsigned char> record_;
  std::vector<int> rejected_;  // field numbers refused since the last read

  // Rows are served from a window of the file read in large blocks, so reading a
  // column of a large table costs a system call per block, not per row.
  std::vector<unsigned char> window_;
  std::int64_t windowStart_ = 0;
  std::size_t windowLength_ = 0;
  // RowBytes' block: whole rows from blockFirstRow_ on.
  std::vector<unsigned char> block_;
  std::int64_t blockFirstRow_ = 0;
  std::int64_t blockRows_ = 0;

  mutable DbfError lastError_ = DbfError::None;
  mutable std::string lastErrorText_;
};

// Parses a number the way the C library's "%lf" scan does in the "C" locale:
// leading white space skipped, the longest number prefix taken; 0 when none.
double ParseDbfNumber(const char* text, std::size_t length);

// Formats a number right-aligned in width: the shortest decimal that reads back
// as the same double, padded with zeros to the decimals; a number that needs
// more digits than that is rounded as "%*.*f" does in the "C" locale.
std::string FormatDbfNumber(double value, int width, int decimals);

// True for a valid calendar date written YYYYMMDD (years 0001 to 9999).
bool IsValidDbfDate(const std::string& text);

}  // namespace kestrune
