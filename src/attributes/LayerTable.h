// The whole attribute table of a layer as the Layer Table panel shows it,
// without the window: one row per record of the ".dbf", one column per field,
// read on demand a block of rows at a time (the table is opened for each block
// and let go again, so the Attributes dialog can always open it). Cells come
// formatted: numbers with the field's decimals, dates as dates, text decoded
// in the table's encoding. Sorting keeps one permutation of record numbers,
// the model's only memory per row; finding evaluates one condition on one field.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <QString>

#include "shapes/DbfTable.h"

namespace kestrune {

class Layer;
class Shape;

// How the text of a table is encoded: a ".cpg" beside the table naming UTF-8
// gives UTF-8; anything else (no ".cpg", "1252", "ISO-8859-1", ...) the
// Western code page 1252, as the Attributes dialog reads and writes it.
enum class TableEncoding { Western, Utf8 };

// The encoding a table's ".cpg" (found whatever the case of its extension) names.
TableEncoding TableEncodingOf(const std::string& dbfPath);
// Field bytes as text in an encoding; bytes that are no UTF-8 read as code page 1252.
QString DecodeTableTextAs(const std::string& bytes, TableEncoding encoding);

// What a column holds, from its field's type letter.
enum class ColumnKind { Text, Number, Date, Logical };

// The operators of a find condition.
enum class FindOperator { Equal, NotEqual, Less, LessEqual, Greater, GreaterEqual, Contains, IsEmpty };

// Texts of the find line's refusals; the value is passed through LangFormat.
constexpr const char* kFindNotANumberText = "#20014000:\"%s\" is not a number.";
constexpr const char* kFindNotADateText = "#20014001:\"%s\" is not a date; write it as YYYY-MM-DD.";
constexpr const char* kFindNoValueText = "#20014002:Give a value to compare with.";
constexpr const char* kFindUnreadableText = "#20014003:The table cannot be read.";

// One condition of the find line on one field (0-based column).
struct FindCondition {
  int column = 0;
  FindOperator op = FindOperator::Equal;
  QString value;
};

// What a find gave: the matching record numbers in record order, or why the
// condition was refused (and then no records).
struct FindResult {
  bool ok = false;
  std::string error;  // translated
  std::vector<int> records;
};

class LayerTable {
 public:
  // Rows read together, and the blocks kept at once.
  static constexpr int kBlockRows = 128;
  static constexpr int kBlocksKept = 4;

  // Reads the table's fields and record count and its encoding; the file is
  // not held open. False (an empty table) when it cannot be opened.
  bool Open(const std::string& dbfPath);
  void Close();
  bool IsOpen() const { return open_; }
  const std::string& GetPath() const { return path_; }
  TableEncoding GetEncoding() const { return encoding_; }

  int RowCount() const { return recordCount_; }
  int ColumnCount() const { return static_cast<int>(fields_.size()); }
  const DbfField& Field(int column) const { return fields_[static_cast<size_t>(column)]; }
  QString FieldName(int column) const;
  ColumnKind Kind(int column) const;

  // The record number (from 1) shown in a view row (from 0), and back (-1 when
  // outside the table). RowOfRecord searches the permutation: for one record;
  // RowsOfRecords inverts it once for many.
  int RecordAt(int row) const;
  int RowOfRecord(int record) const;
  std::vector<int> RowsOfRecords(const std::vector<int>& records) const;

  // A cell as shown, or an empty text when its row cannot be read (the table
  // is missing or held by another table for a moment; it is tried again later).
  QString Text(int row, int column);
  // The raw bytes of a cell without trailing blanks; false when unreadable.
  bool Raw(int row, int column, std::string& bytes);

  // Sorts the rows by a column, stably (equal values keep record order);
  // blank cells come first ascending. False, order unchanged, when the column
  // cannot be read.
  bool Sort(int column, bool ascending);
  // Back to record order.
  void ClearSort();
  int SortColumn() const { return sortColumn_; }
  bool SortAscending() const { return ascending_; }
  // Bytes the model holds per row (the permutation, once sorted).
  size_t BytesPerRow() const { return order_.empty() ? 0 : sizeof(int32_t); }

  // Forgets the rows read, so edits made elsewhere show at the next read.
  void Refresh();

  // The records meeting a condition, or the refusal of a value that does not
  // parse for the field's type.
  FindResult Find(const FindCondition& condition) const;

 private:
  struct Block {
    int index = -1;
    uint64_t used = 0;
    std::vector<unsigned char> bytes;  // kBlockRows rows of recordLength_
    std::vector<char> ok;
  };
  const unsigned char* RowBytes(int row);
  QString FormatCell(int column, const unsigned char* rowBytes) const;

  bool open_ = false;
  std::string path_;
  TableEncoding encoding_ = TableEncoding::Western;
  int recordCount_ = 0;
  int recordLength_ = 0;
  std::vector<DbfField> fields_;
  std::vector<int32_t> order_;  // view row -> record number - 1; empty in record order
  int sortColumn_ = -1;
  bool ascending_ = true;
  std::vector<Block> blocks_;
  uint64_t clock_ = 0;
};

// A cell's bytes formatted as the table shows them (no trailing blanks).
QString FormatTableCell(const DbfField& field, const std::string& bytes, TableEncoding encoding);
// The column kind of a field's type letter.
ColumnKind ColumnKindOf(char letter);

// ---- The layer's selection by record numbers.

// Every record of the layer whose record number is listed: all parcels of a
// record share its number and are all taken.
std::vector<Shape*> RecordsByNumber(const Layer& layer, const std::vector<int>& recordNumbers);
// The record numbers of the layer's selection, ascending, each once.
std::vector<int> SelectedRecordNumbers(const Layer& layer);

}  // namespace kestrune
