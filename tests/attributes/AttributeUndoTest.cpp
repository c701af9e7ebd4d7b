// The attribute edits kept for Undo: the newest comes back first, byte for
// byte, the oldest beyond the depth are forgotten, and a table whose fields
// changed since takes nothing back.
#include <gtest/gtest.h>

#include "attributes/AttributeUndo.h"
#include "shapes/DbfTable.h"
#include "shapes/DbfTestTables.h"
#include "support/TestSupport.h"

namespace kestrune {
namespace {

using test::TempDir;

std::string TwoRows() {
  test::DbfTableLayout t;
  t.fields = {{"NAME", 'C', 8, 0}, {"RATE", 'N', 8, 2}};
  t.rows = {" " + test::Left("north", 8) + test::Right("1.50", 8), " " + test::Left("south", 8) + test::Right("22.00", 8)};
  return test::MakeDbf(t);
}

// Writes a new rate into row 2 as an edit would, keeping the row first.
void Edit(AttributeUndo& undo, const std::string& dbf, double rate) {
  RowBefore before;
  ASSERT_TRUE(ReadRowBefore(dbf, 2, before));
  DbfTable table(dbf);
  ASSERT_TRUE(table.ReadRecord(2));
  ASSERT_TRUE(table.SetNumber(2, rate));
  ASSERT_TRUE(table.WriteRecord(2));
  undo.Push(std::move(before));
}

TEST(AttributeUndo, EditsComeBackNewestFirstAndTheOldestBeyondTheDepthAreForgotten) {
  TempDir dir;
  const std::string dbf = (dir / "t.dbf").string();
  test::WriteFileBytes(dbf, TwoRows());
  const std::string original = test::ReadFileBytes(dbf);
  AttributeUndo undo;
  std::vector<std::string> states{original};
  const int edits = int(kAttributeUndoDepth) + 5;
  for (int i = 1; i <= edits; ++i) {
    Edit(undo, dbf, 100.0 + i);
    states.push_back(test::ReadFileBytes(dbf));
  }
  EXPECT_EQ(undo.Count(), kAttributeUndoDepth);
  std::string message;
  for (int i = edits; i > edits - int(kAttributeUndoDepth); --i) {
    RowBefore undone;
    ASSERT_TRUE(undo.UndoNewest(undone, message)) << message;
    EXPECT_EQ(undone.record, 2);
    ASSERT_EQ(test::ReadFileBytes(dbf), states[size_t(i - 1)]) << i;
  }
  RowBefore none;
  EXPECT_FALSE(undo.UndoNewest(none, message));
  EXPECT_EQ(message, "There is no attribute edit to undo.");
}

TEST(AttributeUndo, ATableWithOtherFieldsSinceTakesNothingBack) {
  TempDir dir;
  const std::string dbf = (dir / "t.dbf").string();
  test::WriteFileBytes(dbf, TwoRows());
  AttributeUndo undo;
  Edit(undo, dbf, 5.0);
  // The table replaced by one of another layout.
  test::DbfTableLayout other;
  other.fields = {{"NAME", 'C', 8, 0}, {"RATE", 'N', 8, 3}};
  other.rows = {" " + test::Left("north", 8) + test::Right("1.500", 8),
                " " + test::Left("south", 8) + test::Right("22.000", 8)};
  test::WriteFileBytes(dbf, test::MakeDbf(other));
  const std::string replaced = test::ReadFileBytes(dbf);
  RowBefore undone;
  std::string message;
  EXPECT_FALSE(undo.UndoNewest(undone, message));
  EXPECT_NE(message.find("have changed since"), std::string::npos) << message;
  EXPECT_EQ(test::ReadFileBytes(dbf), replaced);
  EXPECT_TRUE(undo.IsEmpty()) << "a row that can never go back is dropped";
}

}  // namespace
}  // namespace kestrune
