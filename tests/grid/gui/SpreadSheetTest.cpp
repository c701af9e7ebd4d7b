// The grid control on a real window: typing and committing, keyboard moves,
// Button cells, focus passing, scrolling, rows, combo cells and painting.
#include <memory>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QWheelEvent>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include "grid/gui/CellEditors.h"
#include "grid/gui/CSpreadSheet.h"

namespace kestrune {
namespace {

// A dialog-like window: an edit before the grid, the grid, a button after it.
class GridWindow {
 public:
  // Builds the window around the given grid (or a new one).
  explicit GridWindow(CSpreadSheet* grid = nullptr) {
    window.resize(420, 320);
    before = new QLineEdit(&window);
    before->setGeometry(10, 5, 100, 24);
    this->grid = grid ? grid : new CSpreadSheet;
    this->grid->Create(&window, QRect(10, 40, 300, 202));
    after = new QPushButton(QStringLiteral("OK"), &window);
    after->setGeometry(320, 40, 80, 24);
  }

  // Shows the window and makes it the active one, as a dialog would be.
  bool Show() {
    window.show();
    window.activateWindow();
    return QTest::qWaitForWindowActive(&window);
  }

  // The Attributes dialog's shape: locked names in column 0, values in column 1.
  void FillNameValue(int rows, int valueKind = kCellNumber) {
    ASSERT_TRUE(grid->AllocateCells(rows, 2));
    grid->ShowHorzScrollBar(false);
    grid->SetColumnWidth(0, 100);
    grid->SetColumnWidth(1, 150);
    grid->SetCellKind(-1, 0, kCellText, 64);
    grid->SetCellLocked(-1, 0, true);
    if (valueKind != kCellNumber) grid->SetCellKind(-1, 1, valueKind, 64);
    for (int r = 0; r < rows; ++r) grid->SetCellText(r, 0, QStringLiteral("Field %1").arg(r));
    grid->SetVertScrollRange(0, std::max(0, rows - 5));
  }

  // The widget with the keyboard focus.
  static QWidget* Focus() { return QApplication::focusWidget(); }

  QWidget window;
  QLineEdit* before = nullptr;
  CSpreadSheet* grid = nullptr;
  QPushButton* after = nullptr;
};

// The middle of a cell, in the grid widget's coordinates.
QPoint CellCentre(const CSpreadSheet& grid, int row, int col) {
  return grid.CellRectInWidget(row, col).center();
}

// Types a text as key presses into a widget.
void TypeInto(QWidget* widget, const QString& text) {
  ASSERT_NE(widget, nullptr);
  QTest::keyClicks(widget, text);
}

// ---- Committing typed text

TEST(SpreadSheetEditing, TypedNumberIsTruncatedOnTabAndTheParentIsToldAtOnce) {
  GridWindow w;
  w.FillNameValue(4);
  ASSERT_TRUE(w.Show());
  QSignalSpy committed(w.grid, &CSpreadSheet::cellCommitted);
  w.grid->SetCurrentCell(2, 1);
  ASSERT_EQ(GridWindow::Focus(), w.grid->EditEditor());
  EXPECT_EQ(w.grid->EditEditor()->text(), "0.00");
  TypeInto(GridWindow::Focus(), "3.14159");  // replaces the selected text
  QTest::keyClick(GridWindow::Focus(), Qt::Key_Tab);

  double value = 0;
  ASSERT_TRUE(w.grid->GetCellNumber(2, 1, value));
  EXPECT_DOUBLE_EQ(value, 3.14);
  EXPECT_EQ(w.grid->CellText(2, 1), "3.14");
  EXPECT_TRUE(w.grid->IsCellModified(2, 1));
  // Sent, not posted: the signal has arrived before any event processing.
  ASSERT_EQ(committed.count(), 1);
  EXPECT_EQ(committed[0][0].toInt(), 2);
  EXPECT_EQ(committed[0][1].toInt(), 1);
  EXPECT_EQ(committed[0][2].toInt(), kCommitFromEdit);
  // Tab moved on to the next value cell (the names are locked).
  EXPECT_EQ(w.grid->CurrentRow(), 3);
  EXPECT_EQ(w.grid->CurrentCol(), 1);
  EXPECT_EQ(GridWindow::Focus(), w.grid->EditEditor());
  EXPECT_EQ(w.grid->EditEditor()->geometry().topLeft(),
            w.grid->CellRectInWidget(3, 1).topLeft() - QPoint(1, 1));
}

TEST(SpreadSheetEditing, NumberTextsReadTheirLeadingNumberOrZero) {
  GridWindow w;
  w.FillNameValue(4);
  ASSERT_TRUE(w.Show());
  const struct {
    const char* typed;
    double expected;
  } cases[] = {{"12kg", 12.0}, {"abc", 0.0}, {"", 0.0}, {"-0.555", -0.55}};
  for (const auto& c : cases) {
    w.grid->SetCellNumber(1, 1, 99.0);
    w.grid->SetCurrentCell(1, 1);
    QLineEdit* edit = w.grid->EditEditor();
    edit->clear();
    TypeInto(edit, c.typed);
    QTest::keyClick(edit, Qt::Key_Return);  // stores, keeps the cell active
    double value = -1;
    ASSERT_TRUE(w.grid->GetCellNumber(1, 1, value));
    EXPECT_DOUBLE_EQ(value, c.expected) << c.typed;
    EXPECT_EQ(w.grid->CurrentRow(), 1);
    EXPECT_TRUE(w.grid->IsEditOpen());
  }
}

TEST(SpreadSheetEditing, EditorLimitsFollowTheCellKind) {
  GridWindow w;
  w.FillNameValue(3, kCellText);
  w.grid->SetCellKind(0, 1, kCellText, 11);  // a field of 10 characters
  w.grid->SetCellKind(1, -1, kCellNumber);
  w.grid->SetCellKind(2, 1, kCellNumber);
  ASSERT_TRUE(w.Show());
  w.grid->SetCurrentCell(0, 1);
  TypeInto(w.grid->EditEditor(), "ABCDEFGHIJKLMN");
  EXPECT_EQ(w.grid->EditEditor()->text(), "ABCDEFGHIJ");
  QTest::keyClick(w.grid->EditEditor(), Qt::Key_Tab);
  EXPECT_EQ(w.grid->CellText(0, 1), "ABCDEFGHIJ");

  w.grid->SetCurrentCell(1, 1);
  TypeInto(w.grid->EditEditor(), QString(30, QChar('7')));
  EXPECT_EQ(w.grid->EditEditor()->text().size(), kNumberEditLimit);
  // A stored value wider than the limit still loads whole, so nothing is lost.
  w.grid->SetCellDecimals(2, 1, 6);
  w.grid->SetCellNumber(2, 1, 123456789012.5);
  w.grid->SetCurrentCell(2, 1);
  EXPECT_EQ(w.grid->EditEditor()->text(), "123456789012.500000");
  w.grid->SetCellNumber(2, 1, 12345678901234.5);
  w.grid->LoadEditor();
  EXPECT_EQ(w.grid->EditEditor()->text(), "12345678901234.500000");
}

TEST(SpreadSheetEditing, EndEditStoresWhatIsBeingTypedAndLeavesTheEditorOpen) {
  GridWindow w;
  w.FillNameValue(3, kCellText);
  ASSERT_TRUE(w.Show());
  QSignalSpy committed(w.grid, &CSpreadSheet::cellCommitted);
  w.grid->SetCurrentCell(1, 1);
  TypeInto(GridWindow::Focus(), "Wheat");
  EXPECT_EQ(w.grid->CellText(1, 1), "");
  w.grid->EndEdit();
  EXPECT_EQ(w.grid->CellText(1, 1), "Wheat");
  EXPECT_EQ(committed.count(), 1);
  EXPECT_TRUE(w.grid->IsEditOpen());
  EXPECT_EQ(GridWindow::Focus(), w.grid->EditEditor());
  // A read that commits first stores the newest typing too.
  TypeInto(GridWindow::Focus(), " hard");
  QString text;
  ASSERT_TRUE(w.grid->GetCellText(1, 1, text, 256, true));
  EXPECT_EQ(text, "Wheat hard");
  ASSERT_TRUE(w.grid->GetCellText(1, 1, text, 4, false));
  EXPECT_EQ(text, "Whe");
}

TEST(SpreadSheetEditing, ClickingTheDialogsButtonStoresTheTextBeforeItsHandlerRuns) {
  GridWindow w;
  w.FillNameValue(3, kCellText);
  ASSERT_TRUE(w.Show());
  QString seenByHandler;
  QObject::connect(w.after, &QPushButton::clicked,
                   [&] { seenByHandler = w.grid->CellText(0, 1); });
  w.grid->SetCurrentCell(0, 1);
  TypeInto(GridWindow::Focus(), "Corn");
  QTest::mouseClick(w.after, Qt::LeftButton);
  EXPECT_EQ(seenByHandler, "Corn");
  EXPECT_FALSE(w.grid->IsEditOpen());  // focus loss closes the editor
}

TEST(SpreadSheetEditing, RefreshingAStoreReloadsTheOpenEditor) {
  GridWindow w;
  w.FillNameValue(3, kCellText);
  ASSERT_TRUE(w.Show());
  w.grid->SetCurrentCell(0, 1);
  TypeInto(GridWindow::Focus(), "typed");
  w.grid->SetCellText(0, 1, "quiet", false);
  EXPECT_EQ(w.grid->EditEditor()->text(), "typed");
  w.grid->SetCellText(0, 1, "loud", true);
  EXPECT_EQ(w.grid->EditEditor()->text(), "loud");
  EXPECT_FALSE(w.grid->SetCellText(0, 5, "nowhere"));
  EXPECT_TRUE(w.grid->SetCellNumber(0, 1, 2.0, true));  // a Text cell: nothing stored
  EXPECT_EQ(w.grid->CellText(0, 1), "loud");
  EXPECT_EQ(w.grid->EditEditor()->text(), "loud");
}

// ---- Keyboard

TEST(SpreadSheetKeys, CtrlArrowsMoveTheActiveCellAndPlainArrowsMoveTheCaret) {
  GridWindow w;
  ASSERT_TRUE(w.grid->AllocateCells(4, 3));
  w.grid->SetVertScrollRange(0, 0);
  ASSERT_TRUE(w.Show());
  w.grid->SetCurrentCell(1, 1);
  QLineEdit* edit = w.grid->EditEditor();
  edit->setText("12345");
  edit->setCursorPosition(5);
  QTest::keyClick(edit, Qt::Key_Left);
  QTest::keyClick(edit, Qt::Key_Left);
  EXPECT_EQ(edit->cursorPosition(), 3);
  QTest::keyClick(edit, Qt::Key_Right);
  EXPECT_EQ(edit->cursorPosition(), 4);
  EXPECT_EQ(w.grid->CurrentRow(), 1);
  EXPECT_EQ(w.grid->CurrentCol(), 1);

  QTest::keyClick(edit, Qt::Key_Left, Qt::ControlModifier);
  EXPECT_EQ(w.grid->CurrentCol(), 0);
  EXPECT_EQ(w.grid->CellText(1, 1), "12345.00");  // the move stored the old cell
  QTest::keyClick(edit, Qt::Key_Down, Qt::ControlModifier);
  EXPECT_EQ(w.grid->CurrentRow(), 2);
  QTest::keyClick(edit, Qt::Key_Right, Qt::ControlModifier);
  EXPECT_EQ(w.grid->CurrentCol(), 1);
  QTest::keyClick(edit, Qt::Key_Up, Qt::ControlModifier);
  EXPECT_EQ(w.grid->CurrentRow(), 1);
  EXPECT_EQ(w.grid->CurrentCol(), 1);
  // Down from the last row goes to the top of the next column.
  w.grid->SetCurrentCell(3, 0);
  QTest::keyClick(GridWindow::Focus(), Qt::Key_Down, Qt::ControlModifier);
  EXPECT_EQ(w.grid->CurrentRow(), 0);
  EXPECT_EQ(w.grid->CurrentCol(), 1);
}

TEST(SpreadSheetKeys, TabPassesTheFocusOnAtTheEndsOfTheBlock) {
  GridWindow w;
  w.FillNameValue(3, kCellText);
  ASSERT_TRUE(w.Show());
  w.grid->SetCurrentCell(2, 1);
  TypeInto(GridWindow::Focus(), "last");
  QSignalSpy committed(w.grid, &CSpreadSheet::cellCommitted);
  QTest::keyClick(GridWindow::Focus(), Qt::Key_Tab);
  EXPECT_EQ(GridWindow::Focus(), w.after);
  EXPECT_EQ(w.grid->CellText(2, 1), "last");
  EXPECT_EQ(committed.count(), 1);  // stored once, not again by the focus loss
  EXPECT_FALSE(w.grid->IsEditOpen());

  w.grid->SetCurrentCell(0, 1);
  QTest::keyClick(GridWindow::Focus(), Qt::Key_Tab, Qt::ShiftModifier);
  EXPECT_EQ(GridWindow::Focus(), w.before);
}

TEST(SpreadSheetKeys, WithoutAnotherControlTabWrapsInsideTheBlock) {
  QWidget window;
  window.resize(300, 200);
  auto* grid = new CSpreadSheet;
  grid->Create(&window, QRect(0, 0, 300, 200));
  ASSERT_TRUE(grid->AllocateCells(3, 2));
  grid->SetCellLocked(-1, 0, true);
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  grid->SetCurrentCell(2, 1);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  EXPECT_EQ(grid->CurrentRow(), 0);
  EXPECT_EQ(grid->CurrentCol(), 1);
  // A block whose only free cell is the active one leaves it where it is.
  grid->SetCellLocked(1, 1, true);
  grid->SetCellLocked(2, 1, true);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  EXPECT_EQ(grid->CurrentRow(), 0);
  EXPECT_EQ(grid->CurrentCol(), 1);
}

TEST(SpreadSheetKeys, FocusArrivingByTabActivatesTheFirstOrLastFreeCell) {
  GridWindow w;
  w.FillNameValue(4);
  ASSERT_TRUE(w.Show());
  w.before->setFocus();
  QTest::keyClick(w.before, Qt::Key_Tab);
  EXPECT_EQ(w.grid->CurrentRow(), 0);
  EXPECT_EQ(w.grid->CurrentCol(), 1);
  EXPECT_EQ(GridWindow::Focus(), w.grid->EditEditor());

  w.after->setFocus();
  EXPECT_FALSE(w.grid->IsEditOpen());
  QTest::keyClick(w.after, Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_EQ(w.grid->CurrentRow(), 3);
  EXPECT_EQ(w.grid->CurrentCol(), 1);
  EXPECT_EQ(GridWindow::Focus(), w.grid->EditEditor());
}

TEST(SpreadSheetKeys, FocusArrivingOnAGridWithoutFreeCellsPassesOn) {
  GridWindow w;
  w.FillNameValue(2);
  w.grid->SetCellLocked(-1, -1, true);
  ASSERT_TRUE(w.Show());
  w.before->setFocus();
  QTest::keyClick(w.before, Qt::Key_Tab);
  EXPECT_EQ(GridWindow::Focus(), w.after);
  EXPECT_EQ(w.grid->CurrentRow(), -1);
}

// ---- Mouse and Button cells

class ButtonGrid : public GridWindow {
 public:
  // Three rows, column 2 of Button cells.
  ButtonGrid() {
    EXPECT_TRUE(grid->AllocateCells(3, 3));
    grid->SetCellKind(-1, 2, kCellButton);
    grid->SetCellBackColour(1, 2, 0x0000FF);
    grid->SetVertScrollRange(0, 0);
  }
};

TEST(SpreadSheetMouse, AButtonCellNotifiesOnceWhenReleasedOverItself) {
  ButtonGrid w;
  ASSERT_TRUE(w.Show());
  QSignalSpy clicked(w.grid, &CSpreadSheet::buttonClicked);
  const QPoint at = CellCentre(*w.grid, 1, 2);
  QTest::mousePress(w.grid, Qt::LeftButton, Qt::NoModifier, at);
  EXPECT_EQ(w.grid->GetCell(1, 2)->pressed, 1);
  EXPECT_EQ(GridWindow::Focus(), w.grid);  // the grid took the focus
  EXPECT_EQ(clicked.count(), 0);
  QTest::mouseRelease(w.grid, Qt::LeftButton, Qt::NoModifier, at);
  EXPECT_EQ(w.grid->GetCell(1, 2)->pressed, 0);
  ASSERT_EQ(clicked.count(), 1);
  EXPECT_EQ(clicked[0][0].toInt(), 1);
  EXPECT_EQ(clicked[0][1].toInt(), 2);
  EXPECT_EQ(w.grid->CurrentRow(), 1);
  EXPECT_FALSE(w.grid->IsEditOpen());
}

TEST(SpreadSheetMouse, ADragOffAButtonCellShowsItUpAndNotifiesNothing) {
  ButtonGrid w;
  ASSERT_TRUE(w.Show());
  QSignalSpy clicked(w.grid, &CSpreadSheet::buttonClicked);
  QTest::mousePress(w.grid, Qt::LeftButton, Qt::NoModifier, CellCentre(*w.grid, 1, 2));
  QTest::mouseMove(w.grid, CellCentre(*w.grid, 1, 0));
  EXPECT_EQ(w.grid->GetCell(1, 2)->pressed, 0);
  QTest::mouseMove(w.grid, CellCentre(*w.grid, 1, 2));  // back over it: pressed again
  EXPECT_EQ(w.grid->GetCell(1, 2)->pressed, 1);
  QTest::mouseMove(w.grid, QPoint(5, 190));  // below the last row: a miss while held
  EXPECT_EQ(w.grid->GetCell(1, 2)->pressed, 0);
  QTest::mouseRelease(w.grid, Qt::LeftButton, Qt::NoModifier, CellCentre(*w.grid, 2, 0));
  EXPECT_EQ(clicked.count(), 0);
  EXPECT_EQ(w.grid->GetCell(1, 2)->pressed, 0);
  // The next click on it is a click again.
  QTest::mouseClick(w.grid, Qt::LeftButton, Qt::NoModifier, CellCentre(*w.grid, 1, 2));
  EXPECT_EQ(clicked.count(), 1);
}

TEST(SpreadSheetMouse, ClicksOnLockedCellsAndBelowTheRowsActivateNothing) {
  GridWindow w;
  w.FillNameValue(3);
  ASSERT_TRUE(w.Show());
  w.grid->SetCurrentCell(1, 1);
  QTest::mouseClick(w.grid, Qt::LeftButton, Qt::NoModifier, CellCentre(*w.grid, 0, 0));
  EXPECT_EQ(w.grid->CurrentRow(), 1);
  EXPECT_TRUE(w.grid->IsEditOpen());
  QTest::mouseClick(w.grid, Qt::LeftButton, Qt::NoModifier, QPoint(50, 150));
  EXPECT_EQ(w.grid->CurrentRow(), 1);
  // A click on another value cell stores the old one and opens the new one.
  QSignalSpy committed(w.grid, &CSpreadSheet::cellCommitted);
  TypeInto(w.grid->EditEditor(), "5");
  QTest::mouseClick(w.grid, Qt::LeftButton, Qt::NoModifier, CellCentre(*w.grid, 2, 1));
  EXPECT_EQ(committed.count(), 1);
  EXPECT_EQ(w.grid->CellText(1, 1), "5.00");
  EXPECT_EQ(w.grid->CurrentRow(), 2);
  EXPECT_EQ(GridWindow::Focus(), w.grid->EditEditor());
}

// ---- Scrolling and rows

TEST(SpreadSheetScrolling, ActivatingACellBelowTheViewScrollsItIn) {
  GridWindow w;
  w.FillNameValue(30);
  ASSERT_TRUE(w.Show());
  const int rowHeight = w.grid->GetRowHeight(0);
  const int shown = w.grid->ClientRect().height() / rowHeight;
  w.grid->SetCurrentCell(25, 1);
  EXPECT_EQ(w.grid->LastVisibleRow(), 25);
  EXPECT_EQ(w.grid->TopRow(), 25 - shown + 1);
  EXPECT_EQ(w.grid->VertScrollBar()->value(), w.grid->VertScrollPos());
  const QRect editor = w.grid->EditEditor()->geometry();
  EXPECT_EQ(editor.topLeft(), w.grid->CellRectInWidget(25, 1).topLeft() - QPoint(1, 1));
  EXPECT_LE(editor.bottom(), w.grid->height());
  // Walking with Ctrl+Down and Ctrl+Up keeps the active cell in view.
  const int top = w.grid->TopRow();
  QTest::keyClick(GridWindow::Focus(), Qt::Key_Down, Qt::ControlModifier);
  EXPECT_EQ(w.grid->CurrentRow(), 26);
  EXPECT_EQ(w.grid->TopRow(), top + 1);
  w.grid->SetCurrentCell(top + 1, 1);
  QTest::keyClick(GridWindow::Focus(), Qt::Key_Up, Qt::ControlModifier);
  EXPECT_EQ(w.grid->CurrentRow(), top);
  EXPECT_EQ(w.grid->TopRow(), top);
}

TEST(SpreadSheetScrolling, TheScrollBarStoresAndClosesTheEditor) {
  GridWindow w;
  w.FillNameValue(30, kCellText);
  ASSERT_TRUE(w.Show());
  w.grid->SetCurrentCell(1, 1);
  TypeInto(GridWindow::Focus(), "kept");
  QScrollBar* bar = w.grid->VertScrollBar();
  bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(w.grid->TopRow(), 1);
  EXPECT_EQ(bar->value(), 1);
  EXPECT_EQ(w.grid->CellText(1, 1), "kept");
  EXPECT_FALSE(w.grid->IsEditOpen());
  // The focus stays with the grid, not with some other control.
  EXPECT_EQ(GridWindow::Focus(), w.grid);
  bar->triggerAction(QAbstractSlider::SliderToMaximum);
  EXPECT_EQ(w.grid->TopRow(), 25);
  w.grid->SetRowsPerPage(9);
  w.grid->SetVertScrollRange(0, 4);
  EXPECT_EQ(w.grid->TopRow(), 4);
  w.grid->OnVScroll(ScrollCode::Top);
  w.grid->OnVScroll(ScrollCode::PageDown);
  EXPECT_EQ(w.grid->TopRow(), 4);
  EXPECT_EQ(bar->value(), 4);
}

TEST(SpreadSheetScrolling, InsertedAndDeletedRowsKeepTheScrollRulesAndTheEditorsCell) {
  GridWindow w;
  w.FillNameValue(20, kCellText);
  ASSERT_TRUE(w.Show());
  w.grid->SetVertScrollRange(0, 15);
  w.grid->SetCurrentCell(2, 1);
  TypeInto(GridWindow::Focus(), "typed");
  ASSERT_TRUE(w.grid->InsertRow(0));  // above the active row
  EXPECT_EQ(w.grid->CurrentRow(), 3);
  EXPECT_EQ(w.grid->EditEditor()->geometry().topLeft(),
            w.grid->CellRectInWidget(3, 1).topLeft() - QPoint(1, 1));
  w.grid->EndEdit();
  EXPECT_EQ(w.grid->CellText(3, 1), "typed");
  EXPECT_EQ(w.grid->CellText(2, 0), "Field 1");
  EXPECT_EQ(w.grid->GetCell(0, 1)->kind, kCellNumber);  // the new row: default cells

  const int last = w.grid->LastVisibleRow();
  ASSERT_TRUE(w.grid->InsertRow(last + 5));
  EXPECT_EQ(w.grid->TopRow(), 4);  // grows by at - last - 1
  EXPECT_EQ(w.grid->VertScrollBar()->value(), 4);

  w.grid->OnVScroll(ScrollCode::Bottom);
  EXPECT_EQ(w.grid->TopRow(), 15);
  ASSERT_TRUE(w.grid->DeleteRow(0));
  EXPECT_EQ(w.grid->VertScrollMax(), 14);
  EXPECT_EQ(w.grid->TopRow(), 14);
  EXPECT_EQ(w.grid->VertScrollBar()->maximum(), 14);
  EXPECT_EQ(w.grid->VertScrollBar()->value(), 14);
}

TEST(SpreadSheetScrolling, DeletingTheActiveRowDropsItsEditorWithoutStoring) {
  GridWindow w;
  w.FillNameValue(5, kCellText);
  ASSERT_TRUE(w.Show());
  w.grid->SetCurrentCell(2, 1);
  TypeInto(GridWindow::Focus(), "orphan");
  QSignalSpy committed(w.grid, &CSpreadSheet::cellCommitted);
  ASSERT_TRUE(w.grid->DeleteRow(2));
  EXPECT_FALSE(w.grid->IsEditOpen());
  EXPECT_EQ(w.grid->CurrentRow(), -1);
  EXPECT_EQ(committed.count(), 0);
  for (int r = 0; r < w.grid->RowCount(); ++r) EXPECT_NE(w.grid->CellText(r, 1), "orphan");
  EXPECT_FALSE(w.grid->DeleteRow(7));
}

TEST(SpreadSheetScrolling, NarrowingTheActiveColumnResizesItsEditorAtOnce) {
  GridWindow w;
  w.FillNameValue(3);
  ASSERT_TRUE(w.Show());
  w.grid->SetCurrentCell(0, 1);
  w.grid->SetColumnWidth(1, 80);
  EXPECT_EQ(w.grid->EditEditor()->width(), 81);
  w.grid->SetColumnWidth(0, 10, true);  // dialog units
  EXPECT_EQ(w.grid->GetColumnWidth(0), 10 * w.grid->DialogBaseUnitX() / 4);
  EXPECT_EQ(w.grid->EditEditor()->x(), w.grid->CellRectInWidget(0, 1).x() - 1);
}

// ---- Combo cells

class ComboGrid : public GridWindow {
 public:
  // A fixed list, an editable list and a fixed list, over one crop list.
  ComboGrid() {
    EXPECT_TRUE(grid->AllocateCells(3, 2));
    grid->SetColumnWidth(1, 150);
    grid->SetCellKind(-1, 0, kCellText);
    grid->SetCellKind(0, 1, kCellDropList, 32);
    grid->SetCellKind(1, 1, kCellDropCombo, 32);
    grid->SetCellKind(2, 1, kCellDropList, 32);
    const SheetChoiceList crops = {{"Wheat", 10}, {"----", 99}, {"Corn", 20}, {"Soybeans", 30}};
    grid->SetCellChoices(-1, 1, crops);
    grid->SetCellSkipData(-1, 1, 99);
    grid->SetVertScrollRange(0, 0);
  }
};

TEST(SpreadSheetCombos, ChoosingAListItemStoresItsTextAndDataAndPostsTheCommit) {
  ComboGrid w;
  ASSERT_TRUE(w.Show());
  w.grid->SetCellText(0, 1, "corn");  // matches "Corn" without regard to case
  w.grid->SetCurrentCell(0, 1);
  QComboBox* combo = w.grid->CurrentCombo();
  ASSERT_EQ(combo, w.grid->ListCombo());
  EXPECT_TRUE(w.grid->IsComboOpen());
  EXPECT_FALSE(w.grid->IsEditOpen());
  EXPECT_EQ(combo->count(), 4);
  EXPECT_EQ(combo->currentText(), "Corn");
  EXPECT_EQ(GridWindow::Focus(), combo);

  QSignalSpy committed(w.grid, &CSpreadSheet::cellCommitted);
  QTest::keyClick(combo, Qt::Key_Down);
  EXPECT_EQ(combo->currentText(), "Soybeans");
  EXPECT_EQ(w.grid->GetCellData(0, 1), 30u);  // the selection change stores the data
  QTest::keyClick(combo, Qt::Key_Tab);
  EXPECT_EQ(w.grid->CellText(0, 1), "Soybeans");
  EXPECT_EQ(w.grid->GetCellData(0, 1), 30u);
  EXPECT_EQ(committed.count(), 0);  // posted: after the current event
  QCoreApplication::processEvents();
  ASSERT_EQ(committed.count(), 1);
  EXPECT_EQ(committed[0][0].toInt(), 0);
  EXPECT_EQ(committed[0][1].toInt(), 1);
  EXPECT_EQ(committed[0][2].toInt(), kCommitFromCombo);
}

TEST(SpreadSheetCombos, KeyboardSelectionStepsOverTheMarkedItem) {
  ComboGrid w;
  ASSERT_TRUE(w.Show());
  w.grid->SetCellText(0, 1, "Wheat");
  w.grid->SetCurrentCell(0, 1);
  QComboBox* combo = w.grid->CurrentCombo();
  QTest::keyClick(combo, Qt::Key_Down);  // onto the separator: stepped over
  EXPECT_EQ(combo->currentText(), "Corn");
  EXPECT_EQ(w.grid->GetCellData(0, 1), 20u);
}

TEST(SpreadSheetCombos, AnEditableComboStoresFreeTextWithoutData) {
  ComboGrid w;
  ASSERT_TRUE(w.Show());
  w.grid->SetCurrentCell(1, 1);
  QComboBox* combo = w.grid->CurrentCombo();
  ASSERT_EQ(combo, w.grid->EditCombo());
  combo->lineEdit()->selectAll();
  TypeInto(combo, "Barley");
  QTest::keyClick(combo, Qt::Key_Tab);
  EXPECT_EQ(w.grid->CellText(1, 1), "Barley");
  EXPECT_EQ(w.grid->GetCellData(1, 1), kNoItemData);
  EXPECT_EQ(combo->count(), 4);  // typed text never becomes an item
  w.grid->SetCurrentCell(1, 1);
  combo->lineEdit()->selectAll();
  TypeInto(combo, "WHEAT");
  w.grid->EndEdit();
  EXPECT_EQ(w.grid->CellText(1, 1), "WHEAT");
  EXPECT_EQ(w.grid->GetCellData(1, 1), 10u);
}

TEST(SpreadSheetCombos, AFixedListKeepsACellTextThatIsNotOneOfItsItems) {
  ComboGrid w;
  ASSERT_TRUE(w.Show());
  w.grid->SetCellText(2, 1, "Oats");
  w.grid->SetCurrentCell(2, 1);
  EXPECT_EQ(w.grid->CurrentCombo()->currentIndex(), -1);
  w.after->setFocus();  // leaving without choosing
  EXPECT_EQ(w.grid->CellText(2, 1), "Oats");
  EXPECT_FALSE(w.grid->IsComboOpen());
}

// ---- Hooks

// A grid that mirrors each edited value of column 1 into column 0 of the row
// above, as the legend grid does with its break values.
class MirrorGrid : public CSpreadSheet {
 public:
  // Mirrors column 1 into column 0 of the row above.
  void OnCellChanged(int row, int col) override {
    CSpreadSheet::OnCellChanged(row, col);
    ++changes;
    double value = 0;
    if (col == 1 && row >= 1 && GetCellNumber(row, col, value)) SetCellNumber(row - 1, 0, value);
  }
  int changes = 0;
};

TEST(SpreadSheetHooks, ADerivedGridSeesEveryStoredChange) {
  auto* mirror = new MirrorGrid;
  GridWindow w(mirror);
  ASSERT_TRUE(mirror->AllocateCells(3, 2));
  mirror->SetCellLocked(-1, 0, true);
  ASSERT_TRUE(w.Show());
  mirror->SetCurrentCell(2, 1);
  TypeInto(GridWindow::Focus(), "25");
  QTest::keyClick(GridWindow::Focus(), Qt::Key_Tab);
  EXPECT_EQ(mirror->CellText(1, 0), "25.00");
  EXPECT_EQ(mirror->changes, 2);  // the edited cell and the mirrored one
  mirror->SetCellNumber(2, 1, 25.0);  // no change, no hook
  EXPECT_EQ(mirror->changes, 2);
}

// ---- Layout and painting

TEST(SpreadSheetLayout, BarsAndCornerBoxFollowWhatIsShown) {
  GridWindow w;
  ASSERT_TRUE(w.grid->AllocateCells(2, 2));
  ASSERT_TRUE(w.Show());
  const QRect client = w.grid->ClientRect();
  const int cx = w.grid->SystemVertScrollWidth();
  const int cy = w.grid->SystemHorzScrollHeight();
  ASSERT_TRUE(w.grid->CornerBox()->isVisible());
  EXPECT_FALSE(w.grid->CornerBox()->isEnabled());
  EXPECT_EQ(w.grid->CornerBox()->windowTitle(), "SEWnd");
  EXPECT_EQ(w.grid->VertScrollBar()->geometry(),
            QRect(w.grid->ClientToWidget(QPoint(client.width() - cx - 1, 0)),
                  QSize(cx + 1, client.height() - cy)));
  w.grid->ShowHorzScrollBar(false);
  EXPECT_FALSE(w.grid->CornerBox()->isVisible());
  EXPECT_FALSE(w.grid->HorzScrollBar()->isVisible());
  EXPECT_EQ(w.grid->VertScrollBar()->height(), client.height());
  EXPECT_EQ(w.grid->Model().ScrollBottom(), client.height());
  w.grid->ShowVertScrollBar(false);
  EXPECT_FALSE(w.grid->VertScrollBar()->isVisible());
  EXPECT_EQ(w.grid->Model().ScrollRight(), client.width());
}

TEST(SpreadSheetLayout, CreateTakesThePlaceOfThePlaceholderControl) {
  QWidget dialog;
  dialog.resize(400, 640);
  auto* placeholder = new QLabel(&dialog);
  placeholder->setProperty("controlId", kGridPlaceholderId);
  placeholder->setGeometry(16, 16, 376, 592);
  CSpreadSheet grid;
  ASSERT_TRUE(grid.Create(&dialog, QRect(0, 0, 10, 10), kGridPlaceholderId));
  EXPECT_EQ(grid.geometry(), QRect(16, 16, 376, 592));
  EXPECT_EQ(grid.parentWidget(), &dialog);
  EXPECT_EQ(grid.ClientRect().size(), QSize(374, 590));  // inside the border
  EXPECT_FALSE(grid.Create(nullptr, QRect()));
}

TEST(SpreadSheetLayout, RowsAreTallEnoughForTheirFont) {
  CSpreadSheet grid;
  ASSERT_TRUE(grid.AllocateCells(2, 1));
  EXPECT_EQ(grid.GetRowHeight(0), QFontMetrics(grid.font()).height() + 4);
  QFont big = grid.font();
  big.setPixelSize(40);
  grid.SetCellFont(1, -1, big);
  EXPECT_EQ(grid.GetRowHeight(1), QFontMetrics(big).height() + 4);
  EXPECT_EQ(grid.GetRowHeight(0), QFontMetrics(grid.font()).height() + 4);
}

// The colour of a client pixel in a grab of the grid.
QColor PixelAt(const QImage& image, const CSpreadSheet& grid, int x, int y) {
  return image.pixelColor(grid.ClientToWidget(QPoint(x, y)));
}

TEST(SpreadSheetPaint, PanesAreFilledBeyondTheLastColumnAndCellsDrawTheirLines) {
  QWidget window;
  auto* grid = new CSpreadSheet;
  grid->Create(&window, QRect(0, 0, 202, 82));  // client 200 x 80
  ASSERT_TRUE(grid->AllocateCells(2, 2));
  grid->ShowVertScrollBar(false);
  grid->ShowHorzScrollBar(false);
  grid->SetColumnWidth(0, 100);
  grid->SetColumnWidth(1, 65);
  grid->SetCellAttr(-1, -1, kAttrHeight, 20);
  grid->SetGridLineColour(0x0000FF);  // red lines
  grid->SetCellBackColour(1, 1, 0x00FF00);
  grid->SetCellBorders(1, 1, kBorderBox);
  window.resize(220, 100);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  const QImage image = grid->grab().toImage();
  const QColor face = QColor(RedOf(grid->ButtonFaceColour()), GreenOf(grid->ButtonFaceColour()),
                             BlueOf(grid->ButtonFaceColour()));
  EXPECT_EQ(PixelAt(image, *grid, 170, 5), face);    // right of the columns
  EXPECT_EQ(PixelAt(image, *grid, 199, 10), face);
  EXPECT_EQ(PixelAt(image, *grid, 50, 60), face);    // below the rows
  EXPECT_EQ(PixelAt(image, *grid, 50, 5), QColor(Qt::white));
  EXPECT_EQ(PixelAt(image, *grid, 99, 5), QColor(Qt::red));   // right grid line of (0, 0)
  EXPECT_EQ(PixelAt(image, *grid, 50, 19), QColor(Qt::red));  // bottom grid line
  // The boxed cell: black frame one pixel up and left, no grid lines.
  EXPECT_EQ(PixelAt(image, *grid, 120, 19), QColor(Qt::black));
  EXPECT_EQ(PixelAt(image, *grid, 99, 30), QColor(Qt::black));
  EXPECT_EQ(PixelAt(image, *grid, 164, 30), QColor(Qt::black));
  EXPECT_EQ(PixelAt(image, *grid, 120, 30), QColor(Qt::green));
  EXPECT_EQ(image.pixelColor(0, 0), QColor(Qt::black));  // the grid's own border
}

TEST(SpreadSheetPaint, ButtonCellsShowTheirBitmapForThePressedState) {
  QWidget window;
  auto* grid = new CSpreadSheet;
  grid->Create(&window, QRect(0, 0, 122, 42));
  ASSERT_TRUE(grid->AllocateCells(1, 1));
  grid->ShowVertScrollBar(false);
  grid->ShowHorzScrollBar(false);
  grid->SetColumnWidth(0, 60);
  grid->SetCellKind(0, 0, kCellButton);
  QPixmap up(60, 20);
  up.fill(Qt::blue);
  QPixmap down(60, 20);
  down.fill(Qt::yellow);
  grid->SetCellBitmaps(0, 0, {up, down, QPixmap()});
  window.resize(140, 60);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  EXPECT_EQ(PixelAt(grid->grab().toImage(), *grid, 10, 10), QColor(Qt::blue));
  QTest::mousePress(grid, Qt::LeftButton, Qt::NoModifier, CellCentre(*grid, 0, 0));
  EXPECT_EQ(PixelAt(grid->grab().toImage(), *grid, 10, 10), QColor(Qt::yellow));
  QTest::mouseRelease(grid, Qt::LeftButton, Qt::NoModifier, CellCentre(*grid, 0, 0));
  EXPECT_EQ(PixelAt(grid->grab().toImage(), *grid, 10, 10), QColor(Qt::blue));
}

}  // namespace
}  // namespace kestrune

namespace kestrune {
namespace {

TEST(SpreadSheetDialog, EnterStoresTheTypedValueAndStaysInTheCell) {
  QDialog dialog;
  dialog.resize(400, 260);
  auto* grid = new CSpreadSheet;
  grid->Create(&dialog, QRect(8, 8, 300, 200));
  ASSERT_TRUE(grid->AllocateCells(2, 2));
  grid->SetCellLocked(-1, 0, true);
  auto* ok = new QPushButton(QStringLiteral("OK"), &dialog);
  ok->setGeometry(320, 8, 70, 24);
  ok->setDefault(true);
  double seen = -1;
  QObject::connect(ok, &QPushButton::clicked, [&] {
    grid->EndEdit();  // what an OK handler does before reading
    grid->GetCellNumber(1, 1, seen, true);
    dialog.accept();
  });
  dialog.show();
  dialog.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
  grid->SetCurrentCell(1, 1);
  QTest::keyClicks(QApplication::focusWidget(), "7.519");
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  EXPECT_EQ(dialog.result(), 0) << "Enter does not press the default button";
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(grid->CellText(1, 1), "7.51");
  EXPECT_EQ(grid->CurrentRow(), 1);
  EXPECT_EQ(QApplication::focusWidget(), grid->EditEditor());
  QTest::mouseClick(ok, Qt::LeftButton);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_DOUBLE_EQ(seen, 7.51);
}

TEST(SpreadSheetDialog, ANumberCellWithARefusalTakesOnlyANumber) {
  QDialog dialog;
  dialog.resize(400, 260);
  auto* grid = new CSpreadSheet;
  grid->Create(&dialog, QRect(8, 8, 300, 200));
  ASSERT_TRUE(grid->AllocateCells(2, 2));
  grid->SetCellKind(-1, 1, kCellNumber);
  grid->SetCellDecimals(-1, 1, 2);
  std::vector<QString> refused;
  grid->SetNumberRefusal([&refused](int, int, const QString& text) { refused.push_back(text); });
  dialog.show();
  dialog.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
  grid->SetCurrentCell(0, 1);
  QTest::keyClicks(grid->EditEditor(), "3x");
  EXPECT_FALSE(grid->EndEdit());
  EXPECT_EQ(refused, std::vector<QString>{"3x"});
  // Moving down is refused too; the cell keeps the text and the focus.
  QTest::keyClick(grid->EditEditor(), Qt::Key_Down, Qt::ControlModifier);
  EXPECT_EQ(refused.size(), 2u);
  EXPECT_EQ(grid->CurrentRow(), 0);
  EXPECT_EQ(grid->EditEditor()->text(), "3x");
  double value = -1;
  EXPECT_TRUE(grid->GetCellNumber(0, 1, value, false));
  EXPECT_EQ(value, 0.0) << "the refused text was not stored";
  for (const char* good : {" 2.5 ", "-1e2", ""}) {
    grid->EditEditor()->setText(good);
    EXPECT_TRUE(grid->EndEdit()) << good;
  }
  EXPECT_EQ(refused.size(), 2u);
  // Without a refusal a Number cell takes the number at the start of the text.
  grid->SetNumberRefusal(nullptr);
  grid->EditEditor()->setText("12O.5");
  EXPECT_TRUE(grid->EndEdit());
  EXPECT_TRUE(grid->GetCellNumber(0, 1, value, false));
  EXPECT_EQ(value, 12.0);
}

TEST(SpreadSheetDialog, FocusComingBackFromAClosedWindowMovesOnToTheNextControl) {
  ButtonGrid w;
  ASSERT_TRUE(w.Show());
  QTest::mouseClick(w.grid, Qt::LeftButton, Qt::NoModifier, CellCentre(*w.grid, 1, 2));
  ASSERT_EQ(QApplication::focusWidget(), w.grid);
  {
    // A colour picker opened from the click, then closed.
    QDialog picker;
    auto* button = new QPushButton(QStringLiteral("Pick"), &picker);
    button->setFocus();
    picker.show();
    picker.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&picker));
    picker.hide();
  }
  w.window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w.window));
  EXPECT_EQ(QApplication::focusWidget(), w.after);
  EXPECT_EQ(w.grid->CurrentRow(), 1);
  EXPECT_EQ(w.grid->CurrentCol(), 2);
}

TEST(SpreadSheetDialog, NoActiveCellClosesTheEditorAfterStoringIt) {
  GridWindow w;
  w.FillNameValue(3, kCellText);
  ASSERT_TRUE(w.Show());
  w.grid->SetCurrentCell(1, 1);
  QTest::keyClicks(QApplication::focusWidget(), "Rye");
  w.grid->SetCurrentCell(-1, -1);
  EXPECT_EQ(w.grid->CellText(1, 1), "Rye");
  EXPECT_FALSE(w.grid->IsEditOpen());
  EXPECT_EQ(w.grid->CurrentRow(), -1);
}

TEST(SpreadSheetDialog, TheWheelScrollsLinesAndClosesTheEditor) {
  GridWindow w;
  w.FillNameValue(30, kCellText);
  ASSERT_TRUE(w.Show());
  w.grid->SetCurrentCell(0, 1);
  QTest::keyClicks(QApplication::focusWidget(), "kept");
  const QPointF at = CellCentre(*w.grid, 2, 0);
  QWheelEvent wheel(at, w.grid->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(w.grid, &wheel);
  EXPECT_EQ(w.grid->TopRow(), QApplication::wheelScrollLines());
  EXPECT_EQ(w.grid->CellText(0, 1), "kept");
  EXPECT_FALSE(w.grid->IsEditOpen());
}

// The model keeps why a row array could not be made; the widget shows it once.
TEST(SpreadSheetCells, AnArrayTooLargeToMakeIsShownOnceAndTheGridStaysUsable) {
  std::vector<MessageRequest> shown;
  MessageHandler previous = SetMessageHandler([&](const MessageRequest& r) {
    shown.push_back(r);
    return MessageAnswer::Ok;
  });
  CSpreadSheet grid;
  EXPECT_FALSE(grid.AllocateCells(3'000'000, 2));
  EXPECT_FALSE(grid.AllocateCells(-1, 2)) << "bad arguments are refused without a message";
  ASSERT_TRUE(grid.AllocateCells(2, 2));
  SetMessageHandler(std::move(previous));
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "Unable to create cell array.");
  EXPECT_EQ(shown[0].caption, "Debug");
  EXPECT_EQ(shown[0].icon, MessageIcon::Information);
}

}  // namespace
}  // namespace kestrune
