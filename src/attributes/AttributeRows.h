// The rows of the Attributes dialog without the window: the file rows of one
// record of a dBase table, the rows a caller adds (position, area, length) with
// their replacement rule, and the writing of the edited file rows back into
// the table, with the reason when they could not be written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <QString>

#include "shapes/DbfTable.h"

namespace kestrune {

// Keys of added rows: -1 tells rows apart by their names; other keys are ids.
constexpr int kRowKeyByName = -1;
// Width of an added row's value, in characters.
constexpr int kAddedRowWidth = 40;

// Texts the dialog shows when OK could not store the edits.
constexpr const char* kAttrTableNotWritableText =
    "#20001100:The table \"%s\" cannot be opened for writing. The edits were not saved.";
constexpr const char* kAttrRowUnreadableText =
    "#20001101:Row %d of \"%s\" cannot be read. The edits were not saved.";
constexpr const char* kAttrRowWriteFailedText =
    "#20001102:Row %d of \"%s\" could not be written. The edits were not saved.";
constexpr const char* kAttrCharacterNotStorableText =
    "#20001103:The field \"%s\" cannot hold the character \"%s\". The row was not written.";
// Shown by the Attributes and Legend Setup dialogs for a number cell whose
// text is not a number; filled with the field (column) name and the text.
constexpr const char* kAttrNotANumberText = "#20011001:\"%s\" takes a number, and \"%s\" is not one.";
constexpr const char* kAttrFieldRefusedText =
    "#20001104:The field \"%s\" refused its value. The row was not written.";
constexpr const char* kAttrLayoutChangedText =
    "#20010040:The fields of \"%s\" changed since its values were read (another program replaced the "
    "table). The edits were not saved.";

// One row of the dialog.
struct AttributeRow {
  // Identity for AddRow's replacement: the field number of a file row, the
  // caller's key of an added row.
  int key = kRowKeyByName;
  int fieldNumber = -1;      // 1-based field of a file row; -1 for added rows
  int type = kDbfCharacter;  // kDbfCharacter, kDbfNumeric or kDbfDate
  int width = kAddedRowWidth;
  // Decimals a numeric row shows: the field's own, or more when the stored
  // text carries more, so that nothing the field holds is cut off.
  int decimals = 0;
  bool editable = false;
  QString name;
  QString valueText;
  double value = 0.0;
  // What the row showed when it was loaded, to tell an edited row.
  QString loadedText;
  double loadedValue = 0.0;

  bool IsFileRow() const { return fieldNumber >= 1; }
  bool IsNumeric() const { return type == kDbfNumeric; }
  // True when the value differs from what the row was loaded with.
  bool IsEdited() const;
};

class AttributeRowList {
 public:
  // Appends a row per character, numeric and date field of the record, in
  // field order, its text in the encoding the set's ".cpg" names. False,
  // with no file rows, when the path is empty or the table or the record
  // cannot be read.
  bool LoadFileRows(const std::string& dbfPath, int recordIndex);
  // Adds a computed row at the front, or replaces the name and value of the
  // row of the same identity (the same key; for key -1 the same name).
  void AddRow(const QString& name, const QString& valueText, int key, bool editable);

  const std::vector<AttributeRow>& Rows() const { return rows_; }
  std::vector<AttributeRow>& Rows() { return rows_; }
  size_t Count() const { return rows_.size(); }
  // The layout of the table the file rows were read from (TableLayoutOf), or
  // empty before LoadFileRows succeeded.
  const std::string& TableLayout() const { return layout_; }

 private:
  std::vector<AttributeRow> rows_;
  std::string layout_;
};

// A table's layout as one text: header and row lengths, and every field's
// name, type letter, length and decimals. Two tables with the same layout put
// the same field at the same bytes of a row.
std::string TableLayoutOf(const DbfTable& table);

// How writing the rows back ended.
enum class SaveStatus {
  Saved,         // the record was written (or there was no table to write to)
  NotWritable,   // the table could not be opened for writing
  RowUnreadable, // the record could not be read before writing
  Refused,       // a field refused its value; nothing was written
  WriteFailed,   // the table refused to write the record
  LayoutChanged, // the table no longer has the layout the rows were read with
};

struct SaveOutcome {
  SaveStatus status = SaveStatus::Saved;
  // Index into the rows of the row whose value was refused, else -1.
  int refusedRow = -1;
  // The translated message to show; empty when there is nothing to tell
  // (saved, or the table cannot be written but no value was edited).
  std::string message;
};

// Writes every file row into record recordIndex of the table and writes the
// record back. A field whose shown value equals what the file holds keeps its
// bytes, so a value written differently by another program is not reformatted.
// Nothing is written when the path is empty or recordIndex is negative, nor
// when expectedLayout is given and the table's layout is another one now.
SaveOutcome SaveAttributeRows(const std::string& dbfPath, int recordIndex,
                              const std::vector<AttributeRow>& rows, const std::string& expectedLayout = {});

// The text of a table field in the Western code page (1252), the encoding of
// a table without a ".cpg" (the rows above read the set's own through
// TableEncoding); every byte maps to one character and back.
QString DecodeTableText(const std::string& bytes);
// The bytes of a text in that code page. False, with the first character that
// has no byte there in *bad, when the text cannot be stored.
bool EncodeTableText(const QString& text, std::string& bytes, QString* bad = nullptr);

}  // namespace kestrune
