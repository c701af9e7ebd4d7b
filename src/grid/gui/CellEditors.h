// The in-cell editors of the grid: an edit line for Text and Number cells and
// combo boxes for the list kinds. They hand Tab, Enter and the grid's cell
// moves to the grid and tell it when they lose the keyboard focus.
#pragma once

#include <QComboBox>
#include <QLineEdit>

namespace kestrune {

class CSpreadSheet;

class CCellEdit : public QLineEdit {
  Q_OBJECT
 public:
  explicit CCellEdit(CSpreadSheet* grid);
  // Stops the editor from calling a grid that is being destroyed.
  void Detach() { grid_ = nullptr; }

 protected:
  bool event(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  CSpreadSheet* grid_;
};

class CCellCombo : public QComboBox {
  Q_OBJECT
 public:
  // editable: a DropCombo field that takes typing; otherwise a fixed list.
  CCellCombo(CSpreadSheet* grid, bool editable);
  void Detach() { grid_ = nullptr; }

 protected:
  bool event(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  CSpreadSheet* grid_;
};

// Whether a focus change is a real loss (not a popup or a window switch, after
// which the focus comes straight back).
bool IsRealFocusLoss(Qt::FocusReason reason);

}  // namespace kestrune
