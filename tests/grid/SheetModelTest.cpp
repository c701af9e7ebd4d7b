// The grid's cell table: allocation, rows, the attribute broadcast, the store
// rules, kinds and text capacity.
#include <gtest/gtest.h>

#include "base/Platform.h"
#include "grid/SheetFormat.h"
#include "grid/SheetModel.h"

namespace kestrune {
namespace {

// Captures the message boxes the table asks for.
class MessageCapture {
 public:
  // Installs the capturing handler.
  MessageCapture() {
    old_ = SetMessageHandler([this](const MessageRequest& r) {
      requests.push_back(r);
      return MessageAnswer::Ok;
    });
  }
  // Puts the previous handler back.
  ~MessageCapture() { SetMessageHandler(old_); }
  std::vector<MessageRequest> requests;

 private:
  MessageHandler old_;
};

// Marks every cell with its own (row, col) in itemData so moves can be traced.
void MarkCells(SheetModel& m) {
  for (int r = 0; r < m.RowCount(); ++r) {
    for (int c = 0; c < m.ColCount(); ++c) {
      m.SetCellAttr(r, c, kAttrItemData, static_cast<uint32_t>(r * 100 + c));
    }
  }
}

TEST(SheetModelCells, ZeroRowsThenInsertedRowsHoldDefaultCells) {
  SheetModel m;
  ASSERT_TRUE(m.AllocateCells(0, 2));
  EXPECT_EQ(m.RowCount(), 0);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(m.InsertRow(0));
  ASSERT_EQ(m.RowCount(), 3);
  ASSERT_EQ(m.ColCount(), 2);
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 2; ++c) {
      const CSheetCell* cell = m.Cell(r, c);
      ASSERT_NE(cell, nullptr);
      EXPECT_EQ(cell->kind, kCellNumber);
      EXPECT_EQ(cell->width, 40);
      EXPECT_EQ(cell->height, 20);
      EXPECT_EQ(cell->backColour, 0xFFFFFFu);
      EXPECT_EQ(cell->itemData, kNoItemData);
      QString text;
      ASSERT_TRUE(m.GetText(r, c, text, 256));
      EXPECT_EQ(text, "0.00");
    }
  }
  EXPECT_EQ(m.Cell(3, 0), nullptr);
  EXPECT_EQ(m.Cell(0, 2), nullptr);
}

TEST(SheetModelCells, AllocationIsRefusedTwiceAndForBadSizes) {
  SheetModel m;
  EXPECT_FALSE(m.AllocateCells(2, 0));
  EXPECT_FALSE(m.AllocateCells(-1, 2));
  EXPECT_FALSE(m.HasCells());
  ASSERT_TRUE(m.AllocateCells(2, 3));
  EXPECT_FALSE(m.AllocateCells(4, 4));
  EXPECT_EQ(m.RowCount(), 2);
  EXPECT_EQ(m.ColCount(), 3);
}

TEST(SheetModelCells, AnUnallocatedTableRefusesEveryCellOperation) {
  SheetModel m;
  EXPECT_FALSE(m.InsertRow(0));
  EXPECT_FALSE(m.DeleteRow(0));
  m.SetCellAttr(-1, -1, kAttrBackColour, 0x123456);
  EXPECT_EQ(m.GetCellBackColour(0, 0), kNoColour);
  EXPECT_EQ(m.SetText(0, 0, "x"), SheetModel::Store::NoCell);
  double v = 5;
  EXPECT_FALSE(m.GetNumber(0, 0, v));
  EXPECT_EQ(v, 5);
}

TEST(SheetModelCells, AnArrayTooLargeToMakeIsReportedAndLeavesTheTable) {
  MessageCapture capture;
  SheetModel m;
  EXPECT_FALSE(m.AllocateCells(3'000'000, 2));
  ASSERT_TRUE(m.LastError());
  EXPECT_EQ(m.LastError().text, "Unable to create cell array.");
  EXPECT_EQ(m.LastError().caption, "Debug");
  EXPECT_EQ(m.LastError().icon, MessageIcon::Information);
  EXPECT_TRUE(capture.requests.empty()) << "the model shows nothing itself";
  EXPECT_FALSE(m.HasCells());
  // The table can still be made after the failure.
  ASSERT_TRUE(m.AllocateCells(1, 2));
  EXPECT_EQ(m.RowCount(), 1);
  EXPECT_FALSE(m.LastError());
}

TEST(SheetModelRows, InsertPutsTheNewRowAtItsIndexAndAppendsAtTheEnd) {
  SheetModel m;
  ASSERT_TRUE(m.AllocateCells(3, 2));
  MarkCells(m);
  ASSERT_TRUE(m.InsertRow(1));
  ASSERT_EQ(m.RowCount(), 4);
  EXPECT_EQ(m.GetCellData(0, 1), 1u);
  EXPECT_EQ(m.GetCellData(1, 1), kNoItemData);
  EXPECT_EQ(m.GetCellData(2, 1), 101u);
  EXPECT_EQ(m.GetCellData(3, 0), 200u);
  ASSERT_TRUE(m.InsertRow(m.RowCount()));
  EXPECT_EQ(m.RowCount(), 5);
  EXPECT_EQ(m.GetCellData(4, 0), kNoItemData);
  EXPECT_EQ(m.GetCellData(3, 0), 200u);
  EXPECT_FALSE(m.InsertRow(6));
  EXPECT_FALSE(m.InsertRow(-1));
  EXPECT_EQ(m.RowCount(), 5);
}

TEST(SheetModelRows, DeleteMovesLaterRowsUpAndNeverRemovesTheLastRow) {
  SheetModel m;
  ASSERT_TRUE(m.AllocateCells(3, 1));
  MarkCells(m);
  EXPECT_FALSE(m.DeleteRow(3));
  EXPECT_FALSE(m.DeleteRow(-1));
  ASSERT_TRUE(m.DeleteRow(1));
  ASSERT_EQ(m.RowCount(), 2);
  EXPECT_EQ(m.GetCellData(0, 0), 0u);
  EXPECT_EQ(m.GetCellData(1, 0), 200u);
  ASSERT_TRUE(m.DeleteRow(0));
  EXPECT_FALSE(m.DeleteRow(0));
  EXPECT_EQ(m.RowCount(), 1);
  EXPECT_EQ(m.GetCellData(0, 0), 200u);
}

TEST(SheetModelRows, TheActiveCellStaysOnItsCellWhenRowsMove) {
  SheetModel m;
  ASSERT_TRUE(m.AllocateCells(4, 2));
  m.SetCurrent(2, 1);
  ASSERT_TRUE(m.InsertRow(1));
  EXPECT_EQ(m.Current(), (CellPos{3, 1}));
  ASSERT_TRUE(m.InsertRow(4));  // below the active row: no change
  EXPECT_EQ(m.Current(), (CellPos{3, 1}));
  ASSERT_TRUE(m.DeleteRow(0));
  EXPECT_EQ(m.Current(), (CellPos{2, 1}));
  ASSERT_TRUE(m.DeleteRow(2));  // the active row itself
  EXPECT_TRUE(m.Current().IsNone());
}

TEST(SheetModelAttributes, MinusOneBroadcastsAndOutsideCellsDoNothing) {
  SheetModel m;
  ASSERT_TRUE(m.AllocateCells(3, 3));
  m.SetCellAttr(-1, -1, kAttrBackColour, 0x00FF00);
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) EXPECT_EQ(m.GetCellBackColour(r, c), 0x00FF00u);
  }
  m.SetCellAttr(-1, 1, kAttrBackColour, 0x0000FF);  // one column
  m.SetCellAttr(2, -1, kAttrBackColour, 0xFF0000);  // one row
  EXPECT_EQ(m.GetCellBackColour(0, 1), 0x0000FFu);
  EXPECT_EQ(m.GetCellBackColour(0, 0), 0x00FF00u);
  EXPECT_EQ(m.GetCellBackColour(2, 1), 0xFF0000u);
  EXPECT_EQ(m.GetCellBackColour(1, 2), 0x00FF00u);

  m.SetCellAttr(5, 0, kAttrLocked, 1);
  m.SetCellAttr(0, 3, kAttrLocked, 1);
  m.SetCellAttr(-2, 0, kAttrLocked, 1);
  m.SetCellAttr(3, -1, kAttrLocked, 1);
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) EXPECT_FALSE(m.Cell(r, c)->locked);
  }
}

TEST(SheetModelAttributes, GettersOfMissingCellsGiveTheirMarkers) {
  SheetModel m;
  ASSERT_TRUE(m.AllocateCells(2, 2));
  m.SetCellAttr(1, 1, kAttrItemData, 77);
  EXPECT_EQ(m.GetCellData(1, 1), 77u);
  EXPECT_EQ(m.GetCellBackColour(2, 0), 0xFFFFFFFFu);
  EXPECT_EQ(m.GetCellBackColour(0, -1), 0xFFFFFFFFu);
  EXPECT_EQ(m.GetCellData(0, 2), 0u);
  EXPECT_EQ(m.GetRowHeight(2), -1);
  EXPECT_EQ(m.GetRowHeight(-1), -1);
  m.SetCellAttr(1, 0, kAttrHeight, 33);
  EXPECT_EQ(m.GetRowHeight(1), 33);
  m.SetColumnWidth(1, 65);
  EXPECT_EQ(m.Cell(0, 1)->width, 65);
  EXPECT_EQ(m.Cell(1, 1)->width, 65);
  EXPECT_EQ(m.GetColumnWidth(1), 65);
  EXPECT_EQ(m.GetColumnWidth(2), -1);
}

TEST(SheetModelAttributes, FlagsAreTrueOnlyForOneAndSizesStayInRange) {
  SheetModel m;
  ASSERT_TRUE(m.AllocateCells(1, 1));
  CSheetCell* cell = m.Cell(0, 0);
  m.SetCellAttr(0, 0, kAttrLocked, 2);
  EXPECT_FALSE(cell->locked);
  m.SetCellAttr(0, 0, kAttrLocked, 1);
  EXPECT_TRUE(cell->locked);
  m.SetCellAttr(0, 0, kAttrClipText, 0);
  EXPECT_FALSE(cell->clipText);
  m.SetCellAttr(0, 0, kAttrWidth, static_cast<uint32_t>(-5));
  EXPECT_EQ(cell->width, 0);
  m.SetCellAttr(0, 0, kAttrHeight, 1'000'000);
  EXPECT_EQ(cell->height, kMaxCellExtent);
  m.SetCellAttr(0, 0, kAttrDecimals, 99);
  EXPECT_EQ(cell->decimals, kMaxCellDecimals);
  // Unknown attribute numbers change nothing.
  const CSheetCell before = *cell;
  m.SetCellAttr(0, 0, 17, 5);
  m.SetCellAttr(0, 0, 24, 5);
  EXPECT_EQ(cell->kind, before.kind);
  EXPECT_EQ(cell->backColour, before.backColour);
  EXPECT_EQ(cell->width, before.width);
}

TEST(SheetModelValues, NumbersAreTruncatedAndMarkModifiedOnlyWhenChanged) {
  SheetModel m;
  ASSERT_TRUE(m.AllocateCells(1, 2));
  EXPECT_EQ(m.SetNumber(0, 0, 1.239), SheetModel::Store::Changed);
  double v = 0;
  ASSERT_TRUE(m.GetNumber(0, 0, v));
  EXPECT_DOUBLE_EQ(v, 1.23);
  EXPECT_TRUE(m.Cell(0, 0)->modified);
  EXPECT_EQ(m.SetNumber(0, 1, -1.239), SheetModel::Store::Changed);
  ASSERT_TRUE(m.GetNumber(0, 1, v));
  EXPECT_DOUBLE_EQ(v, -1.23);

  m.SetCellAttr(0, 0, kAttrModified, 0);
  EXPECT_EQ(m.SetNumber(0, 0, 1.2345), SheetModel::Store::Unchanged);  // still 1.23
  EXPECT_FALSE(m.Cell(0, 0)->modified);
  EXPECT_EQ(m.SetNumber(0, 0, NAN), SheetModel::Store::Refused);
  EXPECT_EQ(m.SetNumber(0, 0, INFINITY), SheetModel::Store::Refused);
  ASSERT_TRUE(m.GetNumber(0, 0, v));
  EXPECT_DOUBLE_EQ(v, 1.23);
  EXPECT_EQ(m.SetNumber(2, 0, 1.0), SheetModel::Store::NoCell);
}

TEST(SheetModelValues, NumbersGoOnlyIntoNumberCellsAndTextsOnlyIntoOthers) {
  SheetModel m;
  ASSERT_TRUE(m.AllocateCells(1, 2));
  m.SetCellAttr(0, 1, kAttrKind, kCellText, 6);
  EXPECT_EQ(m.SetText(0, 0, "abc"), SheetModel::Store::Refused);
  EXPECT_EQ(m.SetNumber(0, 1, 4.5), SheetModel::Store::Unchanged);
  double v = 9;
  EXPECT_FALSE(m.GetNumber(0, 1, v));
  EXPECT_EQ(v, 0.0);
  EXPECT_EQ(m.SetText(0, 1, "abcdefgh"), SheetModel::Store::Changed);
  QString text;
  ASSERT_TRUE(m.GetText(0, 1, text, 256));
  EXPECT_EQ(text, "abcde");
}

TEST(SheetModelValues, StoringTheSameTextKeepsTheModifiedFlagAsItWas) {
  SheetModel m;
  ASSERT_TRUE(m.AllocateCells(1, 1));
  m.SetCellAttr(0, 0, kAttrKind, kCellText, 20);
  ASSERT_EQ(m.SetText(0, 0, "field"), SheetModel::Store::Changed);
  EXPECT_TRUE(m.Cell(0, 0)->modified);
  EXPECT_EQ(m.SetText(0, 0, "field"), SheetModel::Store::Unchanged);
  EXPECT_TRUE(m.Cell(0, 0)->modified);
  m.SetCellAttr(0, 0, kAttrModified, 0);
  EXPECT_EQ(m.SetText(0, 0, "field"), SheetModel::Store::Unchanged);
  EXPECT_FALSE(m.Cell(0, 0)->modified);
  // A longer text that cuts down to the stored one is no change either.
  m.SetCellAttr(0, 0, kAttrTextCapacity, 6);
  EXPECT_EQ(m.SetText(0, 0, "fields and more"), SheetModel::Store::Unchanged);
}

TEST(SheetModelValues, DisplayTextHonoursBlankZeroDecimalsAndSize) {
  SheetModel m;
  ASSERT_TRUE(m.AllocateCells(1, 2));
  m.SetCellAttr(0, 0, kAttrBlankZero, 1);
  QString text = "x";
  ASSERT_TRUE(m.GetText(0, 0, text, 256));
  EXPECT_EQ(text, "");
  m.SetNumber(0, 0, 0.5);
  ASSERT_TRUE(m.GetText(0, 0, text, 256));
  EXPECT_EQ(text, "0.50");
  ASSERT_TRUE(m.GetText(0, 0, text, 3));
  EXPECT_EQ(text, "0.");
  m.SetCellAttr(0, 1, kAttrDecimals, 0);
  m.SetNumber(0, 1, 3.99);
  ASSERT_TRUE(m.GetText(0, 1, text, 256));
  EXPECT_EQ(text, "3");
  // blankZero does not reach the text an editor starts with.
  EXPECT_EQ(CSheetCell(*m.Cell(0, 0)).EditText(), "0.50");
  m.SetNumber(0, 0, 0.0);
  EXPECT_EQ(m.Cell(0, 0)->EditText(), "0.00");
}

TEST(SheetModelKinds, ChangingKindMakesOrDropsTheTextBuffer) {
  SheetModel m;
  ASSERT_TRUE(m.AllocateCells(1, 1));
  CSheetCell* cell = m.Cell(0, 0);
  m.SetCellAttr(0, 0, kAttrKind, kCellText, 0);
  EXPECT_EQ(cell->textCapacity, 64);
  ASSERT_EQ(m.SetText(0, 0, "abcdefgh"), SheetModel::Store::Changed);
  m.SetCellAttr(0, 0, kAttrKind, kCellDropList, 4);  // keeps what fits: 3 characters
  EXPECT_EQ(cell->kind, kCellDropList);
  EXPECT_EQ(cell->text, "abc");
  EXPECT_EQ(cell->textCapacity, 4);
  m.SetCellAttr(0, 0, kAttrKind, 9, 10);  // not a kind
  EXPECT_EQ(cell->kind, kCellDropList);
  m.SetCellAttr(0, 0, kAttrKind, kCellNumber, 30);
  EXPECT_EQ(cell->textCapacity, 0);
  EXPECT_EQ(cell->text, "");
  m.SetCellAttr(0, 0, kAttrKind, kCellText, 30);
  EXPECT_EQ(cell->text, "");  // the old text went with the buffer
}

TEST(SheetModelKinds, TheCapacityAttributeNeverGrowsTheBuffer) {
  SheetModel m;
  ASSERT_TRUE(m.AllocateCells(1, 2));
  m.SetCellAttr(0, 0, kAttrKind, kCellText, 10);
  m.SetCellAttr(0, 0, kAttrTextCapacity, 20);
  EXPECT_EQ(m.Cell(0, 0)->textCapacity, 10);
  m.SetCellAttr(0, 0, kAttrTextCapacity, 3);
  EXPECT_EQ(m.Cell(0, 0)->textCapacity, 3);
  m.SetText(0, 0, "abcdef");
  EXPECT_EQ(m.Cell(0, 0)->text, "ab");
  m.SetCellAttr(0, 1, kAttrTextCapacity, 8);  // a Number cell has no buffer
  EXPECT_EQ(m.Cell(0, 1)->textCapacity, 0);
}

TEST(SheetModelKinds, CapacityCutsNeverSplitASurrogatePair) {
  SheetModel m;
  ASSERT_TRUE(m.AllocateCells(1, 1));
  m.SetCellAttr(0, 0, kAttrKind, kCellText, 3);  // two characters of room
  const QString clef = QString::fromUtf8("a\xF0\x9D\x84\x9E");  // 'a' + one character in two units
  m.SetText(0, 0, clef);
  EXPECT_EQ(m.Cell(0, 0)->text, "a");
}

TEST(SheetModelKinds, ChoicesAreSharedAcrossTheBroadcastAndClearedByTheGenericForm) {
  SheetModel m;
  ASSERT_TRUE(m.AllocateCells(2, 2));
  m.SetCellChoices(-1, 1, {{"Wheat", 1}, {"Corn", 2}});
  ASSERT_TRUE(m.Cell(0, 1)->choices);
  ASSERT_TRUE(m.Cell(1, 1)->choices);
  EXPECT_EQ(m.Cell(1, 1)->choices->at(1).text, "Corn");
  EXPECT_FALSE(m.Cell(0, 0)->choices);
  m.SetCellAttr(0, 1, kAttrChoices, 0);
  EXPECT_FALSE(m.Cell(0, 1)->choices);
  EXPECT_TRUE(m.Cell(1, 1)->choices);
}

TEST(SheetModelOwned, OwnedObjectsAreDestroyedWithTheTable) {
  struct Probe : SheetOwnedObject {
    explicit Probe(int* counter) : counter_(counter) {}
    ~Probe() override { ++*counter_; }
    int* counter_;
  };
  int destroyed = 0;
  {
    SheetModel m;
    m.AddOwnedObject(std::make_unique<Probe>(&destroyed));
    m.AddOwnedObject(std::make_unique<Probe>(&destroyed));
    EXPECT_EQ(m.OwnedObjectCount(), 2u);
  }
  EXPECT_EQ(destroyed, 2);
}

}  // namespace
}  // namespace kestrune
