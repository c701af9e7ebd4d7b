// The last attribute edits, newest last: before each edit is written, the
// row's bytes as they were. Undo writes the newest back through the table's
// own checked row write, after making sure the table still has the layout it
// was read with.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

namespace kestrune {

constexpr std::size_t kAttributeUndoDepth = 50;
constexpr const char* kUndoNothingText = "#20700010:There is no attribute edit to undo.";
constexpr const char* kUndoLayoutChangedText =
    "#20700011:The edit of record %d cannot be undone: the fields of \"%s\" have changed since.";
constexpr const char* kUndoWriteFailedText = "#20700012:The edit of record %d of \"%s\" could not be undone: %s";
constexpr const char* kUndoCaption = "#20700013:Undo";

struct RowBefore {
  std::string dbfPath;
  int record = 0;  // from 1
  std::string layout;
  std::vector<unsigned char> bytes;  // the whole row, its deletion flag first
};

// Reads a row as it is now; false when the table or row cannot be read.
bool ReadRowBefore(const std::string& dbfPath, int record, RowBefore& out);
// Writes a row back; false with the translated reason when the layout changed
// or the write failed (the table is then as it was).
bool WriteRowBack(const RowBefore& row, std::string& message);

class AttributeUndo {
 public:
  // Keeps a row, forgetting the oldest beyond the depth.
  void Push(RowBefore row);
  bool IsEmpty() const { return rows_.empty(); }
  std::size_t Count() const { return rows_.size(); }
  const RowBefore& Newest() const { return rows_.back(); }
  // Writes the newest row back and forgets it; a row that can no longer be
  // written (its table's layout changed) is forgotten too. False with the
  // reason when nothing was written.
  bool UndoNewest(RowBefore& undone, std::string& message);
  void Clear() { rows_.clear(); }

 private:
  std::deque<RowBefore> rows_;
};

// The edits of this run.
AttributeUndo& GetAttributeUndo();

}  // namespace kestrune
