#include "attributes/LayerTable.h"

#include "attributes/NumberText.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>

#include <QDate>
#include <QLocale>
#include <QStringDecoder>

#include "attributes/AttributeRows.h"
#include "base/Paths.h"
#include "lang/LangString.h"
#include "layers/Layer.h"
#include "shapes/FileSet.h"

namespace kestrune {

namespace {

// A blank byte of a field: padding space or NUL.
bool IsBlankByte(unsigned char c) { return c == ' ' || c == '\0'; }

// The field's bytes in a row buffer, trailing blanks (and, for numbers and
// dates, leading blanks) left out.
std::string CellBytes(const DbfField& field, const unsigned char* row) {
  const unsigned char* begin = row + field.offset;
  const unsigned char* end = begin + field.length;
  // A field is a C string of its own: it ends at its first NUL.
  const unsigned char* nul = static_cast<const unsigned char*>(std::memchr(begin, 0, size_t(field.length)));
  if (nul) end = nul;
  while (end > begin && IsBlankByte(end[-1])) --end;
  if (field.letter != 'C' && field.letter != 'c') {
    while (begin < end && IsBlankByte(*begin)) ++begin;
  }
  return std::string(reinterpret_cast<const char*>(begin), size_t(end - begin));
}

// True when every byte of the field is blank.
bool IsBlankField(const DbfField& field, const unsigned char* row) {
  const unsigned char* p = row + field.offset;
  for (int i = 0; i < field.length; ++i) {
    if (!IsBlankByte(p[i])) return false;
  }
  return true;
}

// YYYYMMDD as a number, or -1 when the text is no valid date.
int DateKey(const std::string& text) {
  if (!IsValidDbfDate(text)) return -1;
  return std::stoi(text);
}

// The sort key of a number cell: blank and unreadable cells lowest.
double NumberKey(const DbfField& field, const unsigned char* row) {
  if (IsBlankField(field, row)) return -std::numeric_limits<double>::infinity();
  const double v = ParseDbfNumber(reinterpret_cast<const char*>(row + field.offset), size_t(field.length));
  // NaN has no place in an ordering.
  return std::isnan(v) ? -std::numeric_limits<double>::infinity() : v;
}

// A number typed into the find line, in the "C" form or the user's own.
bool ParseUserNumber(const QString& text, double& value) {
  bool ok = false;
  value = QLocale::c().toDouble(text, &ok);
  if (!ok) value = QLocale::system().toDouble(text, &ok);
  return ok && std::isfinite(value);
}

// A date typed into the find line: YYYY-MM-DD, YYYYMMDD or the user's short form.
bool ParseUserDate(const QString& text, int& key) {
  QDate date = QDate::fromString(text, Qt::ISODate);
  if (!date.isValid()) date = QDate::fromString(text, QStringLiteral("yyyyMMdd"));
  if (!date.isValid()) date = QLocale::system().toDate(text, QLocale::ShortFormat);
  if (!date.isValid() || date.year() < 1 || date.year() > 9999) return false;
  key = date.year() * 10000 + date.month() * 100 + date.day();
  return true;
}

// Whether a three-way comparison meets an ordering operator.
bool Meets(FindOperator op, int cmp) {
  switch (op) {
    case FindOperator::Equal: return cmp == 0;
    case FindOperator::NotEqual: return cmp != 0;
    case FindOperator::Less: return cmp < 0;
    case FindOperator::LessEqual: return cmp <= 0;
    case FindOperator::Greater: return cmp > 0;
    case FindOperator::GreaterEqual: return cmp >= 0;
    default: return false;
  }
}

template <typename T>
int Compare(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

}  // namespace

// ---------------------------------------------------------------- encoding

// UTF-8 when the ".cpg" beside the table says so.
TableEncoding TableEncodingOf(const std::string& dbfPath) {
  const std::string cpg = SideFilePath(BasePathOf(dbfPath), "cpg");
  std::ifstream in(cpg, std::ios::binary);
  if (!in) return TableEncoding::Western;
  std::string name;
  std::getline(in, name);
  std::string key;
  for (char c : name) {
    if (c == '-' || c == '_' || c == ' ' || c == '\r' || c == '\t') continue;
    key.push_back(char(std::toupper(static_cast<unsigned char>(c))));
  }
  return (key == "UTF8" || key == "65001") ? TableEncoding::Utf8 : TableEncoding::Western;
}

// UTF-8 where it is valid UTF-8, else code page 1252.
QString DecodeTableTextAs(const std::string& bytes, TableEncoding encoding) {
  if (encoding == TableEncoding::Utf8) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
    if (!decoder.hasError()) return text;
  }
  return DecodeTableText(bytes);
}

// The column kind of a type letter: "N" and "F" are numbers.
ColumnKind ColumnKindOf(char letter) {
  switch (letter) {
    case 'N': case 'n': case 'F': case 'f': return ColumnKind::Number;
    case 'D': case 'd': return ColumnKind::Date;
    case 'L': case 'l': return ColumnKind::Logical;
    default: return ColumnKind::Text;
  }
}

// Numbers with the field's decimals, valid dates as YYYY-MM-DD, the rest decoded.
QString FormatTableCell(const DbfField& field, const std::string& bytes, TableEncoding encoding) {
  if (bytes.empty()) return QString();
  switch (ColumnKindOf(field.letter)) {
    case ColumnKind::Number: {
      const double v = ParseDbfNumber(bytes.data(), bytes.size());
      return QString::fromStdString(FormatDbfNumber(v, 0, ShownNumberDecimals(bytes, v, field.decimals)));
    }
    case ColumnKind::Date:
      if (IsValidDbfDate(bytes)) {
        return QString::fromLatin1(bytes.substr(0, 4) + "-" + bytes.substr(4, 2) + "-" + bytes.substr(6, 2));
      }
      return DecodeTableTextAs(bytes, encoding);
    default:
      return DecodeTableTextAs(bytes, encoding);
  }
}

// ---------------------------------------------------------------- table

// The fields, record count and encoding; the file is let go again at once.
bool LayerTable::Open(const std::string& dbfPath) {
  Close();
  DbfTable table;
  if (!table.Open(dbfPath)) return false;
  path_ = dbfPath;
  encoding_ = TableEncodingOf(dbfPath);
  recordCount_ = table.GetRecordCount();
  recordLength_ = table.GetRecordLength();
  for (int f = 1; f <= table.GetFieldCount(); ++f) fields_.push_back(*table.GetField(f));
  open_ = true;
  return true;
}

// An empty table.
void LayerTable::Close() {
  open_ = false;
  path_.clear();
  encoding_ = TableEncoding::Western;
  recordCount_ = 0;
  recordLength_ = 0;
  fields_.clear();
  ClearSort();
  blocks_.clear();
}

QString LayerTable::FieldName(int column) const { return DecodeTableTextAs(Field(column).name, encoding_); }

ColumnKind LayerTable::Kind(int column) const { return ColumnKindOf(Field(column).letter); }

// The permutation's entry, or the row itself in record order.
int LayerTable::RecordAt(int row) const {
  if (row < 0 || row >= recordCount_) return -1;
  return order_.empty() ? row + 1 : order_[size_t(row)] + 1;
}

// The view row of one record.
int LayerTable::RowOfRecord(int record) const {
  if (record < 1 || record > recordCount_) return -1;
  if (order_.empty()) return record - 1;
  const auto it = std::find(order_.begin(), order_.end(), int32_t(record - 1));
  return it == order_.end() ? -1 : int(it - order_.begin());
}

// The view rows of many records, through one inversion of the permutation.
std::vector<int> LayerTable::RowsOfRecords(const std::vector<int>& records) const {
  std::vector<int> rows;
  rows.reserve(records.size());
  if (order_.empty() || records.size() < 8) {
    for (int r : records) {
      const int row = RowOfRecord(r);
      if (row >= 0) rows.push_back(row);
    }
    return rows;
  }
  std::vector<int32_t> inverse(order_.size());
  for (size_t i = 0; i < order_.size(); ++i) inverse[size_t(order_[i])] = int32_t(i);
  for (int r : records) {
    if (r >= 1 && r <= recordCount_) rows.push_back(inverse[size_t(r - 1)]);
  }
  return rows;
}

// The buffered bytes of a view row, reading its block when it is not kept.
const unsigned char* LayerTable::RowBytes(int row) {
  if (!open_ || row < 0 || row >= recordCount_ || recordLength_ <= 0) return nullptr;
  const int index = row / kBlockRows;
  const size_t slot = size_t(row % kBlockRows);
  for (Block& b : blocks_) {
    if (b.index == index) {
      b.used = ++clock_;
      return b.ok[slot] ? b.bytes.data() + slot * size_t(recordLength_) : nullptr;
    }
  }
  DbfTable table;
  // Held by another table for a moment (the Attributes dialog writing a row):
  // nothing is kept, so the next paint tries again.
  if (!table.Open(path_)) return nullptr;
  Block* block = nullptr;
  if (blocks_.size() < size_t(kBlocksKept)) {
    blocks_.emplace_back();
    block = &blocks_.back();
  } else {
    block = &*std::min_element(blocks_.begin(), blocks_.end(),
                               [](const Block& a, const Block& b) { return a.used < b.used; });
  }
  block->index = index;
  block->used = ++clock_;
  block->bytes.assign(size_t(kBlockRows) * size_t(recordLength_), 0);
  block->ok.assign(size_t(kBlockRows), 0);
  const int first = index * kBlockRows;
  const int last = std::min(recordCount_, first + kBlockRows);
  const size_t length = size_t(std::min(recordLength_, table.GetRecordLength()));
  for (int r = first; r < last; ++r) {
    if (!table.ReadRecord(RecordAt(r))) continue;
    std::memcpy(block->bytes.data() + size_t(r - first) * size_t(recordLength_), table.GetRecordBuffer().data(),
                length);
    block->ok[size_t(r - first)] = 1;
  }
  return block->ok[slot] ? block->bytes.data() + slot * size_t(recordLength_) : nullptr;
}

// A cell's bytes without blanks.
bool LayerTable::Raw(int row, int column, std::string& bytes) {
  bytes.clear();
  if (column < 0 || column >= ColumnCount()) return false;
  const unsigned char* p = RowBytes(row);
  if (!p) return false;
  bytes = CellBytes(Field(column), p);
  return true;
}

// A cell as shown.
QString LayerTable::Text(int row, int column) {
  std::string bytes;
  if (!Raw(row, column, bytes)) return QString();
  return FormatTableCell(Field(column), bytes, encoding_);
}

// Drops the kept rows.
void LayerTable::Refresh() {
  blocks_.clear();
  // A table rewritten elsewhere may have gained or lost rows or fields.
  DbfTable table;
  if (open_ && table.Open(path_) &&
      (table.GetRecordCount() != recordCount_ || table.GetRecordLength() != recordLength_ ||
       table.GetFieldCount() != ColumnCount())) {
    const int column = sortColumn_;
    const bool ascending = ascending_;
    table.Close();
    const std::string path = path_;
    Open(path);
    if (column >= 0 && column < ColumnCount()) Sort(column, ascending);
  }
}

// Record order again.
void LayerTable::ClearSort() {
  order_.clear();
  order_.shrink_to_fit();
  sortColumn_ = -1;
  ascending_ = true;
  blocks_.clear();
}

// Reads the column once into keys, then sorts the record numbers stably by them.
bool LayerTable::Sort(int column, bool ascending) {
  if (!open_ || column < 0 || column >= ColumnCount()) return false;
  DbfTable table;
  if (!table.Open(path_)) return false;
  const DbfField& field = Field(column);
  const int n = recordCount_;
  std::vector<int32_t> order(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) order[size_t(i)] = i;
  const ColumnKind kind = Kind(column);
  const double lowest = -std::numeric_limits<double>::infinity();
  if (kind == ColumnKind::Number || kind == ColumnKind::Date) {
    std::vector<double> keys(size_t(n), lowest);
    for (int r = 1; r <= n; ++r) {
      if (!table.ReadRecord(r)) continue;
      const unsigned char* row = table.GetRecordBuffer().data();
      if (kind == ColumnKind::Number) {
        keys[size_t(r - 1)] = NumberKey(field, row);
      } else {
        const int key = DateKey(CellBytes(field, row));
        if (key >= 0) keys[size_t(r - 1)] = key;
      }
    }
    if (ascending) {
      std::stable_sort(order.begin(), order.end(),
                       [&keys](int32_t a, int32_t b) { return keys[size_t(a)] < keys[size_t(b)]; });
    } else {
      std::stable_sort(order.begin(), order.end(),
                       [&keys](int32_t a, int32_t b) { return keys[size_t(b)] < keys[size_t(a)]; });
    }
  } else {
    // Text by its case-folded form, so "abc" and "ABC" sit together.
    std::vector<QString> keys(static_cast<size_t>(n));
    for (int r = 1; r <= n; ++r) {
      if (!table.ReadRecord(r)) continue;
      keys[size_t(r - 1)] = DecodeTableTextAs(CellBytes(field, table.GetRecordBuffer().data()), encoding_).toCaseFolded();
    }
    if (ascending) {
      std::stable_sort(order.begin(), order.end(),
                       [&keys](int32_t a, int32_t b) { return keys[size_t(a)] < keys[size_t(b)]; });
    } else {
      std::stable_sort(order.begin(), order.end(),
                       [&keys](int32_t a, int32_t b) { return keys[size_t(b)] < keys[size_t(a)]; });
    }
  }
  order_ = std::move(order);
  sortColumn_ = column;
  ascending_ = ascending;
  blocks_.clear();
  return true;
}

// One pass over the table in record order, the value parsed once for the field's type.
FindResult LayerTable::Find(const FindCondition& c) const {
  FindResult result;
  if (!open_ || c.column < 0 || c.column >= ColumnCount()) {
    result.error = LangText(kFindUnreadableText);
    return result;
  }
  const DbfField& field = Field(c.column);
  const ColumnKind kind = Kind(c.column);
  const QString value = c.value.trimmed();
  const bool ordering = c.op != FindOperator::Contains && c.op != FindOperator::IsEmpty;
  double number = 0.0;
  int date = 0;
  if (ordering && kind == ColumnKind::Number) {
    if (value.isEmpty()) {
      result.error = LangText(kFindNoValueText);
      return result;
    }
    if (!ParseUserNumber(value, number)) {
      result.error = LangFormat(kFindNotANumberText, value.toUtf8().constData());
      return result;
    }
  }
  if (ordering && kind == ColumnKind::Date) {
    if (value.isEmpty()) {
      result.error = LangText(kFindNoValueText);
      return result;
    }
    if (!ParseUserDate(value, date)) {
      result.error = LangFormat(kFindNotADateText, value.toUtf8().constData());
      return result;
    }
  }
  DbfTable table;
  if (!table.Open(path_)) {
    result.error = LangText(kFindUnreadableText);
    return result;
  }
  // Text compares as typed (blanks around it aside), except that "contains" ignores case.
  const QString& text = value;
  for (int r = 1; r <= recordCount_; ++r) {
    if (!table.ReadRecord(r)) continue;
    const std::string bytes = CellBytes(field, table.GetRecordBuffer().data());
    bool match = false;
    if (c.op == FindOperator::IsEmpty) {
      match = bytes.empty();
    } else if (c.op == FindOperator::Contains) {
      match = FormatTableCell(field, bytes, encoding_).contains(text, Qt::CaseInsensitive);
    } else if (kind == ColumnKind::Number) {
      // A blank number is no number: it meets no comparison.
      match = !bytes.empty() && Meets(c.op, Compare(ParseDbfNumber(bytes.data(), bytes.size()), number));
    } else if (kind == ColumnKind::Date) {
      const int key = DateKey(bytes);
      match = key >= 0 && Meets(c.op, Compare(key, date));
    } else {
      const int cmp = DecodeTableTextAs(bytes, encoding_).compare(text);
      match = Meets(c.op, cmp < 0 ? -1 : (cmp > 0 ? 1 : 0));
    }
    if (match) result.records.push_back(r);
  }
  result.ok = true;
  return result;
}

// ---------------------------------------------------------------- selection

// All records (parcels included) carrying one of the numbers, in list order.
std::vector<Shape*> RecordsByNumber(const Layer& layer, const std::vector<int>& recordNumbers) {
  std::vector<Shape*> found;
  if (recordNumbers.empty()) return found;
  const int top = *std::max_element(recordNumbers.begin(), recordNumbers.end());
  if (top < 1) return found;
  std::vector<char> wanted(size_t(top) + 1, 0);
  for (int r : recordNumbers) {
    if (r >= 1) wanted[size_t(r)] = 1;
  }
  for (Shape* shape : layer.Records()) {
    const int r = shape->GetRecordNumber();
    if (r >= 1 && r <= top && wanted[size_t(r)]) found.push_back(shape);
  }
  return found;
}

// The selection's record numbers, ascending and unique.
std::vector<int> SelectedRecordNumbers(const Layer& layer) {
  std::vector<int> numbers;
  numbers.reserve(layer.GetSelection().size());
  for (const Shape* shape : layer.GetSelection()) numbers.push_back(shape->GetRecordNumber());
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  return numbers;
}

}  // namespace kestrune
