// Pane geometry, hit testing, scrolling rules and keyboard moves of the grid.
#include <gtest/gtest.h>

#include "grid/SheetModel.h"

namespace kestrune {
namespace {

// A grid of `rows` rows of 20 pixels and columns of 100 pixels in a client of
// the given size, vertical bar 16 pixels wide, horizontal bar hidden.
void MakeGrid(SheetModel& m, int rows, int cols, int width = 300, int height = 100) {
  ASSERT_TRUE(m.AllocateCells(rows, cols));
  for (int c = 0; c < cols; ++c) m.SetColumnWidth(c, 100);
  m.SetScrollBarMetrics(16, 16);
  m.SetHorzBarShown(false);
  m.SetClientSize(width, height);
}

TEST(SheetGeometry, PaneBoundariesFollowTheBarsShown) {
  SheetModel m;
  MakeGrid(m, 3, 2, 200, 100);
  EXPECT_EQ(m.ScrollRight(), 184);
  EXPECT_EQ(m.ScrollBottom(), 100);  // no horizontal bar: the full height
  EXPECT_EQ(m.VertBarWidth(), 16);
  EXPECT_EQ(m.HorzBarHeight(), 0);
  m.SetHorzBarShown(true);
  EXPECT_EQ(m.ScrollBottom(), 83);
  EXPECT_EQ(m.HorzBarHeight(), 16);
  m.SetVertBarShown(false);
  EXPECT_EQ(m.ScrollRight(), 200);
  EXPECT_EQ(m.CellArea(), (SheetRect{0, 0, 200, 84}));
}

TEST(SheetGeometry, LastVisibleRowCountsOnlyRowsThatFitWhole) {
  SheetModel m;
  MakeGrid(m, 20, 1, 300, 100);
  EXPECT_EQ(m.LastVisibleRow(), 4);  // rows 0..4 end exactly at 100
  m.SetClientSize(300, 99);          // row 4 loses only its bottom grid line
  EXPECT_EQ(m.LastVisibleRow(), 4);
  m.SetClientSize(300, 90);
  EXPECT_EQ(m.LastVisibleRow(), 3);
  m.SetClientSize(300, 5);  // never less than the first row shown
  EXPECT_EQ(m.LastVisibleRow(), 0);
  SheetModel few;
  MakeGrid(few, 2, 1, 300, 100);
  EXPECT_EQ(few.LastVisibleRow(), 1);  // runs out of rows
}

TEST(SheetGeometry, HitTestFindsCellsAndMissesBeyondTheLastCell) {
  SheetModel m;
  MakeGrid(m, 3, 2, 300, 100);
  int row = -1, col = -1, left = -1, top = -1;
  ASSERT_TRUE(m.HitTest(150, 45, row, col, left, top));
  EXPECT_EQ(row, 2);
  EXPECT_EQ(col, 1);
  EXPECT_EQ(left, 100);
  EXPECT_EQ(top, 40);
  ASSERT_TRUE(m.HitTest(0, 0, row, col, left, top));
  EXPECT_EQ(row, 0);
  EXPECT_EQ(col, 0);
  EXPECT_FALSE(m.HitTest(150, 65, row, col, left, top));  // below the last row
  EXPECT_FALSE(m.HitTest(250, 5, row, col, left, top));   // right of the last column
  EXPECT_FALSE(m.HitTest(-1, 5, row, col, left, top));
  EXPECT_FALSE(m.HitTest(5, -1, row, col, left, top));
}

TEST(SheetGeometry, ScrolledCellsMoveInOriginAndHitTest) {
  SheetModel m;
  MakeGrid(m, 20, 1, 300, 100);
  m.SetVertScrollRange(0, 15);
  m.VScroll(ScrollCode::ThumbPosition, 7);
  EXPECT_EQ(m.TopRow(), 7);
  int x = -1, y = -1;
  ASSERT_TRUE(m.CellOrigin(9, 0, x, y));
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 40);
  ASSERT_TRUE(m.CellOrigin(5, 0, x, y));  // above the view
  EXPECT_EQ(y, -40);
  int row = -1, col = -1, left = 0, top = 0;
  ASSERT_TRUE(m.HitTest(10, 5, row, col, left, top));
  EXPECT_EQ(row, 7);
  EXPECT_EQ(m.CellRect(8, 0), (SheetRect{0, 20, 100, 40}));
  EXPECT_TRUE(m.IsCellShown(11, 0));
  EXPECT_FALSE(m.IsCellShown(12, 0));
  EXPECT_FALSE(m.IsCellShown(6, 0));
}

TEST(SheetGeometry, EnsureVisibleScrollsJustEnoughAndMovesTheBar) {
  SheetModel m;
  MakeGrid(m, 20, 4, 300, 100);  // columns 0..1 fit whole, 2 partly
  m.SetVertScrollRange(0, 15);
  SheetModel::ViewChange change;
  ASSERT_TRUE(m.EnsureVisible(10, 0, &change));
  EXPECT_TRUE(change.top);
  EXPECT_FALSE(change.left);
  EXPECT_EQ(m.TopRow(), 6);
  EXPECT_EQ(m.LastVisibleRow(), 10);
  EXPECT_EQ(m.VertScrollPos(), 6);
  ASSERT_TRUE(m.EnsureVisible(8, 0, &change));  // already shown
  EXPECT_FALSE(change.top);
  ASSERT_TRUE(m.EnsureVisible(3, 0, &change));
  EXPECT_EQ(m.TopRow(), 3);
  ASSERT_TRUE(m.EnsureVisible(19, 3, &change));
  EXPECT_EQ(m.TopRow(), 15);
  EXPECT_EQ(m.LeftCol(), 2);
  EXPECT_TRUE(change.left);
  // The bar clamps to its range even when the rows go further.
  m.SetVertScrollRange(0, 10);
  EXPECT_EQ(m.TopRow(), 10);
  EXPECT_FALSE(m.EnsureVisible(20, 0));
  EXPECT_FALSE(m.EnsureVisible(0, 4));
}

TEST(SheetGeometry, InsertingARowScrollsByTheInsertionRule) {
  SheetModel m;
  MakeGrid(m, 10, 1, 300, 100);  // rows 0..4 shown
  m.SetVertScrollRange(0, 20);
  ASSERT_TRUE(m.InsertRow(7));   // rows 0..10: last shown 4, so top grows by 7 - 4 - 1
  EXPECT_EQ(m.TopRow(), 2);
  EXPECT_EQ(m.VertScrollPos(), 2);
  ASSERT_TRUE(m.InsertRow(7));   // top 2, last shown 6: just below the view, no scrolling
  EXPECT_EQ(m.TopRow(), 2);
  ASSERT_TRUE(m.InsertRow(1));   // above the view: the view moves up to it
  EXPECT_EQ(m.TopRow(), 1);
  ASSERT_TRUE(m.InsertRow(3));   // inside the view: no scrolling
  EXPECT_EQ(m.TopRow(), 1);
}

TEST(SheetGeometry, InsertingSetsTheBarPositionWithinItsRange) {
  SheetModel m;
  MakeGrid(m, 10, 1, 300, 100);
  m.SetVertScrollRange(0, 1);
  ASSERT_TRUE(m.InsertRow(10));  // top grows by 10 - 4 - 1 = 5, the bar stops at 1
  EXPECT_EQ(m.TopRow(), 5);
  EXPECT_EQ(m.VertScrollPos(), 1);
  EXPECT_EQ(m.VertScrollMax(), 1);  // the range is the caller's business
}

TEST(SheetGeometry, DeletingARowLowersTheRangeAndTheTopRow) {
  SheetModel m;
  MakeGrid(m, 15, 1, 300, 100);
  m.SetVertScrollRange(0, 10);
  m.VScroll(ScrollCode::Bottom, 0);
  ASSERT_EQ(m.TopRow(), 10);
  ASSERT_TRUE(m.DeleteRow(14));
  EXPECT_EQ(m.VertScrollMax(), 9);
  EXPECT_EQ(m.TopRow(), 9);
  EXPECT_EQ(m.VertScrollPos(), 9);
  m.VScroll(ScrollCode::ThumbPosition, 2);
  ASSERT_TRUE(m.DeleteRow(0));  // position 2 is under the new maximum 8
  EXPECT_EQ(m.TopRow(), 2);
  EXPECT_EQ(m.VertScrollMax(), 8);
  SheetModel flat;
  MakeGrid(flat, 3, 1);
  flat.SetVertScrollRange(3, 3);
  ASSERT_TRUE(flat.DeleteRow(0));
  EXPECT_EQ(flat.VertScrollMax(), 3);  // never below the minimum
}

TEST(SheetGeometry, VerticalScrollCodesClampToTheRange) {
  SheetModel m;
  MakeGrid(m, 20, 1);
  m.SetVertScrollRange(0, 4);
  m.SetRowsPerPage(9);
  EXPECT_TRUE(m.VScroll(ScrollCode::PageDown, 0));
  EXPECT_EQ(m.TopRow(), 4);
  EXPECT_FALSE(m.VScroll(ScrollCode::LineDown, 0));
  EXPECT_TRUE(m.VScroll(ScrollCode::LineUp, 0));
  EXPECT_EQ(m.TopRow(), 3);
  EXPECT_TRUE(m.VScroll(ScrollCode::Top, 0));
  EXPECT_EQ(m.TopRow(), 0);
  EXPECT_FALSE(m.VScroll(ScrollCode::PageUp, 0));
  // Dragging moves the view but not the bar until the thumb is let go.
  EXPECT_TRUE(m.VScroll(ScrollCode::ThumbTrack, 3));
  EXPECT_EQ(m.TopRow(), 3);
  EXPECT_EQ(m.VertScrollPos(), 0);
  m.VScroll(ScrollCode::ThumbPosition, 3);
  m.VScroll(ScrollCode::EndScroll, 0);
  EXPECT_EQ(m.TopRow(), 3);
  EXPECT_EQ(m.VertScrollPos(), 3);
}

TEST(SheetGeometry, AGridWhoseRangeWasNeverSetDoesNotScrollAwayFromRowZero) {
  SheetModel m;
  MakeGrid(m, 20, 1);
  EXPECT_FALSE(m.VScroll(ScrollCode::LineDown, 0));
  EXPECT_FALSE(m.VScroll(ScrollCode::Bottom, 0));
  EXPECT_EQ(m.TopRow(), 0);
  EXPECT_TRUE(m.SetVertScrollRange(5, 8));  // clamps the top row into the range
  EXPECT_EQ(m.TopRow(), 5);
  m.SetVertScrollRange(-4, -9);  // a range before row 0 is pulled up to it
  EXPECT_EQ(m.VertScrollMin(), 0);
  EXPECT_EQ(m.VertScrollMax(), 0);
  EXPECT_EQ(m.TopRow(), 0);
}

TEST(SheetGeometry, HorizontalScrollingFollowsTheBarPosition) {
  SheetModel m;
  MakeGrid(m, 2, 8);
  EXPECT_FALSE(m.HScroll(ScrollCode::LineDown, 0));  // untouched bar: empty range
  m.SetHorzScrollRange(0, 5);
  m.SetColsPerPage(3);
  EXPECT_TRUE(m.HScroll(ScrollCode::PageDown, 0));
  EXPECT_EQ(m.LeftCol(), 3);
  EXPECT_FALSE(m.HScroll(ScrollCode::ThumbPosition, 1));  // kept position
  EXPECT_TRUE(m.HScroll(ScrollCode::ThumbTrack, 9));
  EXPECT_EQ(m.LeftCol(), 5);
  EXPECT_TRUE(m.HScroll(ScrollCode::Top, 0));
  EXPECT_EQ(m.LeftCol(), 0);
  int row = 0, col = 0, left = 0, top = 0;
  m.HScroll(ScrollCode::LineDown, 0);
  ASSERT_TRUE(m.HitTest(150, 5, row, col, left, top));
  EXPECT_EQ(col, 2);
  EXPECT_EQ(left, 100);
}

TEST(SheetGeometry, FrozenRowsStayWhileTheMiddleScrolls) {
  SheetModel m;
  MakeGrid(m, 20, 2, 300, 100);
  m.SetFixedCells(0, 0, 1, 0);
  m.SetVertScrollRange(1, 15);
  m.VScroll(ScrollCode::ThumbPosition, 6);
  EXPECT_EQ(m.FixedTopHeight(), 20);
  int row = -1, col = -1, left = 0, top = 0;
  ASSERT_TRUE(m.HitTest(10, 5, row, col, left, top));
  EXPECT_EQ(row, 0);
  ASSERT_TRUE(m.HitTest(10, 25, row, col, left, top));
  EXPECT_EQ(row, 6);
  EXPECT_EQ(top, 20);
  int x = 0, y = 0;
  ASSERT_TRUE(m.CellOrigin(0, 1, x, y));
  EXPECT_EQ(y, 0);
  ASSERT_TRUE(m.CellOrigin(7, 1, x, y));
  EXPECT_EQ(y, 40);
  EXPECT_EQ(m.LastVisibleRow(), 9);  // 80 pixels below the frozen row
}

// ---- Keyboard moves

// The Attributes dialog's shape: names locked in column 0, values in column 1.
void MakeNameValueGrid(SheetModel& m, int rows) {
  MakeGrid(m, rows, 2);
  m.SetCellAttr(-1, 0, kAttrLocked, 1);
}

TEST(SheetMoves, TabWalksTheValueColumnAndLeavesTheBlockAtTheEnd) {
  SheetModel m;
  MakeNameValueGrid(m, 3);
  m.SetCurrent(0, 1);
  int asked = 0;
  auto noControl = [&](bool) { ++asked; return false; };
  EXPECT_EQ(m.FindMoveTarget(MoveDirection::Right, noControl), (CellPos{1, 1}));
  m.SetCurrent(2, 1);
  EXPECT_EQ(m.FindMoveTarget(MoveDirection::Right, noControl), (CellPos{0, 1}));
  EXPECT_EQ(asked, 1);
  bool forward = false;
  auto control = [&](bool f) { forward = f; return true; };
  EXPECT_TRUE(m.FindMoveTarget(MoveDirection::Right, control).IsNone());
  EXPECT_TRUE(forward);
  m.SetCurrent(0, 1);
  EXPECT_TRUE(m.FindMoveTarget(MoveDirection::Left, control).IsNone());
  EXPECT_FALSE(forward);
  EXPECT_EQ(m.FindMoveTarget(MoveDirection::Left, noControl), (CellPos{2, 1}));
}

TEST(SheetMoves, UpAndDownWalkColumnByColumn) {
  SheetModel m;
  MakeGrid(m, 3, 2);
  auto none = [](bool) { return false; };
  m.SetCurrent(0, 0);
  EXPECT_EQ(m.FindMoveTarget(MoveDirection::Down, none), (CellPos{1, 0}));
  m.SetCurrent(2, 0);
  EXPECT_EQ(m.FindMoveTarget(MoveDirection::Down, none), (CellPos{0, 1}));
  m.SetCurrent(2, 1);
  EXPECT_EQ(m.FindMoveTarget(MoveDirection::Down, none), (CellPos{0, 0}));
  m.SetCurrent(0, 1);
  EXPECT_EQ(m.FindMoveTarget(MoveDirection::Up, none), (CellPos{2, 0}));
  m.SetCurrent(1, 1);
  EXPECT_EQ(m.FindMoveTarget(MoveDirection::Left, none), (CellPos{1, 0}));
  m.SetCurrent(1, 0);
  EXPECT_EQ(m.FindMoveTarget(MoveDirection::Left, none), (CellPos{0, 1}));
}

TEST(SheetMoves, LockedAndButtonCellsAreSteppedOver) {
  SheetModel m;
  MakeGrid(m, 2, 4);
  m.SetCellAttr(0, 1, kAttrLocked, 1);
  m.SetCellAttr(0, 2, kAttrKind, kCellButton, 0);
  m.SetCellAttr(0, 3, kAttrLocked, 1);
  m.SetCurrent(0, 0);
  auto none = [](bool) { return false; };
  EXPECT_EQ(m.FindMoveTarget(MoveDirection::Right, none), (CellPos{1, 0}));
  m.SetCurrent(1, 0);
  EXPECT_EQ(m.FindMoveTarget(MoveDirection::Left, none), (CellPos{0, 0}));
}

TEST(SheetMoves, ABlockWithoutAnotherFreeCellLeavesTheActiveCell) {
  SheetModel m;
  MakeGrid(m, 3, 2);
  m.SetCellAttr(-1, -1, kAttrLocked, 1);
  m.SetCurrent(1, 1);
  int asked = 0;
  auto none = [&](bool) { ++asked; return false; };
  EXPECT_TRUE(m.FindMoveTarget(MoveDirection::Right, none).IsNone());
  EXPECT_EQ(asked, 1);
  m.Cell(1, 1)->locked = false;  // only the active cell itself is free
  EXPECT_TRUE(m.FindMoveTarget(MoveDirection::Down, none).IsNone());
  // With no active cell, the first free cell in the direction is found.
  m.SetCurrent(-1, -1);
  EXPECT_EQ(m.FindMoveTarget(MoveDirection::Right, none), (CellPos{1, 1}));
  EXPECT_EQ(m.FindMoveTarget(MoveDirection::Up, none), (CellPos{1, 1}));
}

TEST(SheetMoves, FirstAndLastFreeCellsInRowOrder) {
  SheetModel m;
  MakeGrid(m, 3, 3);
  m.SetCellAttr(0, -1, kAttrLocked, 1);
  m.SetCellAttr(1, 0, kAttrKind, kCellButton, 0);
  m.SetCellAttr(2, 2, kAttrLocked, 1);
  EXPECT_EQ(m.FirstFreeCell(false), (CellPos{1, 1}));
  EXPECT_EQ(m.FirstFreeCell(true), (CellPos{2, 1}));
  m.SetCellAttr(-1, -1, kAttrLocked, 1);
  EXPECT_TRUE(m.FirstFreeCell(false).IsNone());
}

}  // namespace
}  // namespace kestrune
