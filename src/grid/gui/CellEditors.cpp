#include "grid/gui/CellEditors.h"

#include <QAbstractItemView>
#include <QFocusEvent>
#include <QKeyEvent>

#include "grid/gui/CSpreadSheet.h"

namespace kestrune {

namespace {

// Tab or Shift+Tab.
bool IsTabKey(const QKeyEvent* key) {
  return key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab;
}

// Either Enter key.
bool IsEnterKey(const QKeyEvent* key) {
  return key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
}

// One of the four arrow keys.
bool IsArrowKey(int key) {
  return key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Up || key == Qt::Key_Down;
}

}  // namespace

// Tells a lasting focus loss from a passing one.
bool IsRealFocusLoss(Qt::FocusReason reason) {
  // A popup (the combo's own list, a context menu) or another window taking
  // over gives the focus back to the editor afterwards; the edit goes on.
  return reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason &&
         reason != Qt::MenuBarFocusReason;
}

// Makes the hidden edit line of a grid.
CCellEdit::CCellEdit(CSpreadSheet* grid) : QLineEdit(grid), grid_(grid) {
  setObjectName(QStringLiteral("CCellEdit"));
  setProperty("controlId", kCellEditId);
  // Reached by clicks and by the grid only, never by the dialog's Tab order.
  setFocusPolicy(Qt::ClickFocus);
  setFrame(false);
  setStyleSheet(QStringLiteral("QLineEdit { border: 1px solid black; padding: 0px; margin: 0px; }"));
  hide();
}

// Keeps Tab from the dialog's focus chain: the grid moves the active cell.
bool CCellEdit::event(QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (grid_ && IsTabKey(key)) {
      grid_->OnEditKey(key->key(), key->modifiers());
      return true;
    }
  }
  return QLineEdit::event(event);
}

// Hands Enter (which stores the cell) and Ctrl+arrows to the grid; other keys edit.
void CCellEdit::keyPressEvent(QKeyEvent* event) {
  if (grid_ && IsEnterKey(event)) {
    grid_->OnEditKey(event->key(), event->modifiers());
    // Enter stores the cell and stays in it; it does not press the dialog's
    // default button.
    event->accept();
    return;
  }
  if (grid_ && IsArrowKey(event->key()) && (event->modifiers() & Qt::ControlModifier)) {
    grid_->OnEditKey(event->key(), event->modifiers());
    return;
  }
  QLineEdit::keyPressEvent(event);
}

// Selects the whole text when the editor gets the focus.
void CCellEdit::focusInEvent(QFocusEvent* event) {
  QLineEdit::focusInEvent(event);
  selectAll();
}

// Lets the grid store and close the editor when the focus goes.
void CCellEdit::focusOutEvent(QFocusEvent* event) {
  QLineEdit::focusOutEvent(event);
  if (grid_ && IsRealFocusLoss(event->reason())) grid_->OnEditFocusLost();
}

// Makes one of the grid's hidden combo boxes.
CCellCombo::CCellCombo(CSpreadSheet* grid, bool editable) : QComboBox(grid), grid_(grid) {
  setObjectName(editable ? QStringLiteral("CCellCombo") : QStringLiteral("CCellListCombo"));
  setProperty("controlId", editable ? kCellComboId : kCellListComboId);
  if (editable) {
    setEditable(true);
    // Typed text is the cell's value, never a new list item, and is not
    // completed from the list behind the user's back.
    setInsertPolicy(QComboBox::NoInsert);
    setCompleter(nullptr);
  }
  setFocusPolicy(Qt::ClickFocus);
  view()->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  hide();
}

// Keeps Tab from the dialog's focus chain: the grid moves the active cell.
bool CCellCombo::event(QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (grid_ && IsTabKey(key)) {
      grid_->OnEditKey(key->key(), key->modifiers());
      return true;
    }
  }
  return QComboBox::event(event);
}

// Hands Enter to the grid; arrows step through the list.
void CCellCombo::keyPressEvent(QKeyEvent* event) {
  if (grid_ && IsEnterKey(event)) {
    grid_->OnEditKey(event->key(), event->modifiers());
    event->accept();
    return;
  }
  QComboBox::keyPressEvent(event);
}

// Selects the field's text when the combo gets the focus.
void CCellCombo::focusInEvent(QFocusEvent* event) {
  QComboBox::focusInEvent(event);
  if (lineEdit()) lineEdit()->selectAll();
}

// Lets the grid store and close the combo when the focus goes.
void CCellCombo::focusOutEvent(QFocusEvent* event) {
  QComboBox::focusOutEvent(event);
  if (grid_ && IsRealFocusLoss(event->reason())) grid_->OnComboFocusLost();
}

}  // namespace kestrune
