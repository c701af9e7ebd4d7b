#include "attributes/AttributeRows.h"

#include <algorithm>
#include <cmath>

#include "grid/SheetFormat.h"
#include "lang/LangString.h"

namespace kestrune {

namespace {

// Characters of code page 1252 at bytes 0x80 to 0x9F; 0 where the code page
// defines none (those bytes stand for the control character of that number).
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// The byte of one character in code page 1252, or -1 when it has none.
int Cp1252Byte(char16_t c) {
  // NUL would end the text in the table: it is no character a field can hold.
  if (c == 0) return -1;
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return c;
  for (int i = 0; i < 32; ++i) {
    if (kCp1252High[i] == c) return 0x80 + i;
    // The undefined bytes decode to their own control character and go back.
    if (kCp1252High[i] == 0 && c == 0x80 + i) return c;
  }
  return -1;
}

// Digits after the decimal point in a stored number text ("12.500" gives 3).
int StoredDecimals(const std::string& text) {
  const size_t point = text.find('.');
  if (point == std::string::npos) return 0;
  int count = 0;
  for (size_t i = point + 1; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) ++count;
  return count;
}

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
QString DecodeTableText(const std::string& bytes) {
  QString text;
  text.reserve(static_cast<qsizetype>(bytes.size()));
  for (unsigned char b : bytes) {
    if (b >= 0x80 && b < 0xA0 && kCp1252High[b - 0x80] != 0) {
      text.append(QChar(kCp1252High[b - 0x80]));
    } else {
      text.append(QChar(static_cast<char16_t>(b)));
    }
  }
  return text;
}

// Text to table bytes through code page 1252, naming the first character it lacks.
bool EncodeTableText(const QString& text, std::string& bytes, QString* bad) {
  bytes.clear();
  bytes.reserve(static_cast<size_t>(text.size()));
  for (qsizetype i = 0; i < text.size(); ++i) {
    const int b = Cp1252Byte(text[i].unicode());
    if (b < 0) {
      if (bad) {
        // A character outside the basic plane is named whole, not by half its pair.
        const bool pair = text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
        *bad = text.mid(i, pair ? 2 : 1);
      }
      return false;
    }
    bytes.push_back(static_cast<char>(b));
  }
  return true;
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
  layout_ = TableLayoutOf(table);
  for (int f = 1; f <= table.GetFieldCount(); ++f) {
    const DbfField* field = table.GetField(f);
    AttributeRow row;
    row.key = f;
    row.fieldNumber = f;
    row.width = field->length;
    row.editable = true;
    row.name = DecodeTableText(field->name);
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
        row.decimals = std::min(kMaxCellDecimals, std::max(field->decimals, StoredDecimals(stored)));
        break;
      case 'D':
      case 'd':
        // Shown as its text; the table takes back only a valid YYYYMMDD or blank.
        row.type = kDbfDate;
        row.valueText = DecodeTableText(stored);
        break;
      case 'C':
      case 'c':
        row.valueText = DecodeTableText(stored);
        break;
      case 'L':
      case 'l':
        // Logical fields have no row.
        continue;
      default:
        // Memo block numbers, binary and other fields the table reads as text:
        // shown, but not editable, since a typed text would break what they point at.
        row.valueText = DecodeTableText(stored);
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
      std::string bytes;
      QString bad;
      if (!EncodeTableText(row.valueText, bytes, &bad)) {
        outcome.status = SaveStatus::Refused;
        outcome.refusedRow = static_cast<int>(i);
        outcome.message = LangFormat(kAttrCharacterNotStorableText, row.name.toUtf8().constData(),
                                     bad.toUtf8().constData());
        return outcome;
      }
      std::string held;
      table.GetString(row.fieldNumber, held);
      if (held != bytes) stored = table.SetString(row.fieldNumber, bytes);
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
