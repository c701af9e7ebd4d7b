#include "attributes/AttributeRows.h"

#include <algorithm>
#include <cmath>

#include "attributes/NumberText.h"
#include "grid/SheetFormat.h"
#include "lang/LangString.h"
#include "shapes/TableEncoding.h"

namespace kestrune {

namespace {

// The translated message for a field that refused its value.
std::string RefusalMessage(const DbfTable& table, const AttributeRow& row) {
  // The name as the dialog shows it, so a name in the Western code page reads right.
  const QByteArray name = row.name.toUtf8();
  switch (table.GetLastError()) {
    case DbfError::ValueTooWide:
      return LangFormat(kDbfValueTooWideText, name.constData(), row.width);
    case DbfError::BadDate:
      return LangFormat(kDbfBadDateText, name.constData());
    default:
      return LangFormat(kAttrFieldRefusedText, name.constData());
  }
}

}  // namespace

// Table bytes to text through code page 1252.
QString DecodeTableText(const std::string& bytes) { return TableEncoding().Decode(bytes); }

// Text to table bytes through code page 1252, naming the first character it lacks.
bool EncodeTableText(const QString& text, std::string& bytes, QString* bad) {
  return TableEncoding().Encode(text, bytes, bad);
}

// Whether the user changed the value since the row was loaded.
bool AttributeRow::IsEdited() const {
  if (IsNumeric()) return value != loadedValue;
  return valueText != loadedText;
}

// One row per shown field of the record, in field order.
bool AttributeRowList::LoadFileRows(const std::string& dbfPath, int recordIndex) {
  if (dbfPath.empty()) return false;
  DbfTable table;
  if (!table.Open(dbfPath) || !table.ReadRecord(recordIndex)) return false;
  // Text is read in the encoding the set's ".cpg" names, else code page 1252.
  const TableEncoding encoding = TableEncoding::ForTable(dbfPath);
  layout_ = TableLayoutOf(table);
  for (int f = 1; f <= table.GetFieldCount(); ++f) {
    const DbfField* field = table.GetField(f);
    // A field running past the row has nothing to show or store.
    if (!field->readable) continue;
    AttributeRow row;
    row.key = f;
    row.fieldNumber = f;
    row.width = field->length;
    row.editable = true;
    row.name = encoding.Decode(field->name);
    std::string stored;
    table.GetString(f, stored);
    switch (field->letter) {
      case 'N':
      case 'F':
      case 'n':
      case 'f':
        // "F" is the float letter of later dBase versions: a number like "N".
        row.type = kDbfNumeric;
        table.GetNumber(f, row.value);
        row.decimals = std::min(kMaxCellDecimals, ShownNumberDecimals(stored, row.value, field->decimals));
        break;
      case 'D':
      case 'd':
        // Shown as its text; the table takes back only a valid YYYYMMDD or blank.
        row.type = kDbfDate;
        row.valueText = encoding.Decode(stored);
        break;
      case 'C':
      case 'c':
        row.valueText = encoding.Decode(stored);
        break;
      case 'L':
      case 'l':
        // Logical fields have no row.
        continue;
      default:
        // Memo block numbers, binary and other fields the table reads as text:
        // shown, but not editable, since a typed text would break what they point at.
        row.valueText = encoding.Decode(stored);
        row.editable = false;
        break;
    }
    row.loadedText = row.valueText;
    row.loadedValue = row.value;
    rows_.push_back(std::move(row));
  }
  return true;
}

// Replaces the row of the same identity or puts a new row on top.
void AttributeRowList::AddRow(const QString& name, const QString& valueText, int key, bool editable) {
  for (AttributeRow& row : rows_) {
    const bool same = key != kRowKeyByName ? row.key == key : row.key == kRowKeyByName && row.name == name;
    if (same) {
      row.name = name;
      row.valueText = valueText;
      row.loadedText = valueText;
      return;
    }
  }
  AttributeRow row;
  row.key = key;
  row.fieldNumber = -1;
  row.type = kDbfCharacter;
  row.width = kAddedRowWidth;
  row.editable = editable;
  row.name = name;
  row.valueText = valueText;
  row.loadedText = valueText;
  rows_.insert(rows_.begin(), std::move(row));
}

// Stores every file row into the record and writes it, or says why not.
// Lengths and field descriptors, one field a line.
std::string TableLayoutOf(const DbfTable& table) {
  std::string layout = std::to_string(table.GetHeaderLength()) + " " + std::to_string(table.GetRecordLength());
  for (int f = 1; f <= table.GetFieldCount(); ++f) {
    const DbfField* field = table.GetField(f);
    layout += "\n" + field->name + " " + field->letter + " " + std::to_string(field->length) + " " +
              std::to_string(field->decimals);
  }
  return layout;
}

SaveOutcome SaveAttributeRows(const std::string& dbfPath, int recordIndex,
                              const std::vector<AttributeRow>& rows, const std::string& expectedLayout) {
  SaveOutcome outcome;
  if (dbfPath.empty() || recordIndex < 0) return outcome;
  const bool edited = std::any_of(rows.begin(), rows.end(), [](const AttributeRow& row) {
    return row.IsFileRow() && row.IsEdited();
  });

  DbfTable table;
  if (!table.Open(dbfPath) || !table.IsWritable()) {
    outcome.status = SaveStatus::NotWritable;
    // With nothing edited nothing is lost: there is no need to alarm the user.
    if (edited) outcome.message = LangFormat(kAttrTableNotWritableText, dbfPath.c_str());
    return outcome;
  }
  // Field numbers mean something only in the table they were read from.
  if (!expectedLayout.empty() && TableLayoutOf(table) != expectedLayout) {
    outcome.status = SaveStatus::LayoutChanged;
    if (edited) outcome.message = LangFormat(kAttrLayoutChangedText, dbfPath.c_str());
    return outcome;
  }
  if (!table.ReadRecord(recordIndex)) {
    outcome.status = SaveStatus::RowUnreadable;
    if (edited) outcome.message = LangFormat(kAttrRowUnreadableText, recordIndex, dbfPath.c_str());
    return outcome;
  }
  const TableEncoding encoding = TableEncoding::ForTable(dbfPath);

  for (size_t i = 0; i < rows.size(); ++i) {
    const AttributeRow& row = rows[i];
    // Added rows have no field: the table would refuse them, and nothing is written for them.
    if (!row.IsFileRow() || row.fieldNumber > table.GetFieldCount()) continue;
    bool stored = true;
    if (row.IsNumeric()) {
      double held = 0.0;
      table.GetNumber(row.fieldNumber, held);
      // The same number stays as the file writes it (its spacing and digits).
      if (held != row.value || !std::isfinite(row.value)) stored = table.SetNumber(row.fieldNumber, row.value);
    } else {
      std::string held;
      table.GetString(row.fieldNumber, held);
      // A field that shows as the row's text keeps its bytes, even bytes its
      // encoding cannot show.
      if (encoding.Decode(held) == row.valueText) continue;
      std::string bytes;
      QString bad;
      if (!encoding.Encode(row.valueText, bytes, &bad)) {
        outcome.status = SaveStatus::Refused;
        outcome.refusedRow = static_cast<int>(i);
        outcome.message = LangFormat(kAttrCharacterNotStorableText, row.name.toUtf8().constData(),
                                     bad.toUtf8().constData());
        return outcome;
      }
      stored = table.SetString(row.fieldNumber, bytes);
    }
    if (!stored) {
      outcome.status = SaveStatus::Refused;
      outcome.refusedRow = static_cast<int>(i);
      outcome.message = RefusalMessage(table, row);
      return outcome;
    }
  }

  if (!table.WriteRecord(recordIndex)) {
    outcome.status = SaveStatus::WriteFailed;
    outcome.message = LangFormat(kAttrRowWriteFailedText, recordIndex, dbfPath.c_str());
    return outcome;
  }
  return outcome;
}

}  // namespace kestrune
