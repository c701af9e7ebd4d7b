#include "attributes/AttributeUndo.h"

#include <utility>

#include "attributes/AttributeRows.h"
#include "lang/LangString.h"
#include "shapes/DbfTable.h"

namespace kestrune {

bool ReadRowBefore(const std::string& dbfPath, int record, RowBefore& out) {
  DbfTable table;
  if (!table.Open(dbfPath) || !table.ReadRecord(record)) return false;
  out.dbfPath = dbfPath;
  out.record = record;
  out.layout = TableLayoutOf(table);
  out.bytes = table.GetRecordBuffer();
  return true;
}

bool WriteRowBack(const RowBefore& row, std::string& message) {
  DbfTable table;
  if (!table.Open(row.dbfPath) || TableLayoutOf(table) != row.layout || !table.ReadRecord(row.record) ||
      table.GetRecordBuffer().size() != row.bytes.size()) {
    message = LangFormat(kUndoLayoutChangedText, row.record, row.dbfPath.c_str());
    return false;
  }
  // Each field takes its old bytes as its text; the row is written only when
  // the buffer then holds exactly the row as it was.
  for (int f = 1; f <= table.GetFieldCount(); ++f) {
    const DbfField* field = table.GetField(f);
    if (!field || !field->readable) continue;
    const size_t at = size_t(field->offset);
    if (at + size_t(field->length) > row.bytes.size()) continue;
    table.SetString(f, std::string(reinterpret_cast<const char*>(row.bytes.data()) + at, size_t(field->length)));
  }
  if (table.GetRecordBuffer() != row.bytes) {
    message = LangFormat(kUndoWriteFailedText, row.record, row.dbfPath.c_str(), "its bytes cannot be put back exactly");
    return false;
  }
  if (!table.WriteRecord(row.record)) {
    message = LangFormat(kUndoWriteFailedText, row.record, row.dbfPath.c_str(), table.GetLastErrorText().c_str());
    return false;
  }
  return true;
}

void AttributeUndo::Push(RowBefore row) {
  rows_.push_back(std::move(row));
  while (rows_.size() > kAttributeUndoDepth) rows_.pop_front();
}

bool AttributeUndo::UndoNewest(RowBefore& undone, std::string& message) {
  if (rows_.empty()) {
    message = LangText(kUndoNothingText);
    return false;
  }
  const RowBefore& row = rows_.back();
  if (!WriteRowBack(row, message)) {
    // A table of another layout never takes the row: it goes. A failed write keeps it for another try.
    DbfTable table;
    if (!table.Open(row.dbfPath) || TableLayoutOf(table) != row.layout) rows_.pop_back();
    return false;
  }
  undone = std::move(rows_.back());
  rows_.pop_back();
  return true;
}

AttributeUndo& GetAttributeUndo() {
  static AttributeUndo undo;
  return undo;
}

}  // namespace kestrune
