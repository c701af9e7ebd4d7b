// CSpreadSheet: the spreadsheet-like grid control that dialogs embed to show
// and edit a table of typed cells. It paints its own panes and cells, has its
// own scroll bars and corner box, and lays an edit line or a combo box over
// the active cell. Notifications to the dialog are Qt signals.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include <QFont>
#include <QPixmap>
#include <QPointer>
#include <QWidget>

#include "grid/SheetModel.h"
#include "grid/gui/MouseKeys.h"

class QScrollBar;

namespace kestrune {

class CCellEdit;
class CCellCombo;

// Control ids of the grid's children (also their "controlId" property).
constexpr int kVertScrollBarId = 191;
constexpr int kHorzScrollBarId = 192;
constexpr int kCellEditId = 193;
constexpr int kCellComboId = 194;
constexpr int kCellListComboId = 195;
constexpr int kCornerBoxId = 590;
// The hidden static control that dialogs lay out to mark the grid's place.
constexpr int kGridPlaceholderId = 4000;

// The source argument of cellCommitted: the edit line (sent at once) or a
// combo box (posted: delivered after the current event is handled).
constexpr int kCommitFromCombo = 0;
constexpr int kCommitFromEdit = 1;

// Longest text an editor hands over, and the typing limit of Number cells.
constexpr int kMaxEditorText = 255;
constexpr int kNumberEditLimit = 20;

class CSpreadSheet : public QWidget {
  Q_OBJECT

 public:
  explicit CSpreadSheet(QWidget* parent = nullptr);
  ~CSpreadSheet() override;

  // ---- Set-up, in the order dialogs call it
  // Places the grid in `parent` at `rect` (parent coordinates) or, when
  // placeholderId >= 1, over the parent's child whose "controlId" property or
  // object name is that id (taking its place in a layout). bordered draws a
  // one-pixel frame around the client area.
  bool Create(QWidget* parent, const QRect& rect, int placeholderId = 0, bool bordered = true);
  bool Create(QWidget* parent, QWidget* placeholder, bool bordered = true);
  // Once per grid; rows may be 0 (rows come later with InsertRow).
  bool AllocateCells(int rows, int cols);
  void ShowVertScrollBar(bool show);
  void ShowHorzScrollBar(bool show);
  void SetVertScrollRange(int min, int max);
  void SetHorzScrollRange(int min, int max);
  void SetRowsPerPage(int n);
  void SetColsPerPage(int n);
  // Sets the width of every cell of the column, in pixels or dialog units.
  void SetColumnWidth(int col, double width, bool inDialogUnits = false);

  // ---- Rows
  bool InsertRow(int at);
  bool DeleteRow(int at);

  // ---- Attributes (row or col -1: every row or column)
  void SetCellAttr(int row, int col, int attribute, uint32_t value, int32_t extra = 0);
  void SetCellKind(int row, int col, int kind, int textCapacity = 0);
  // The font of the cells' text and editor; rows too low for it are raised.
  void SetCellFont(int row, int col, const QFont& font);
  void SetCellFormat(int row, int col, uint32_t textFormat);
  void SetCellBackColour(int row, int col, Color colour);
  void SetCellData(int row, int col, uint32_t data);
  void SetCellLocked(int row, int col, bool locked);
  void SetCellDecimals(int row, int col, int decimals);
  void SetCellBorders(int row, int col, uint32_t borders);
  void SetCellChoices(int row, int col, const SheetChoiceList& choices);
  void SetCellSkipData(int row, int col, uint32_t skipData);
  // Images of a Button cell by pressed state (0 up, 1 down, 2 spare).
  void SetCellBitmaps(int row, int col, const std::array<QPixmap, 3>& bitmaps);
  // Slots for the generic SetCellAttr forms of the font and bitmap attributes.
  int32_t RegisterFont(const QFont& font);
  int32_t RegisterBitmaps(const std::array<QPixmap, 3>& bitmaps);

  Color GetCellBackColour(int row, int col) const;  // kNoColour when there is no cell
  uint32_t GetCellData(int row, int col) const;     // 0 when there is no cell
  int GetRowHeight(int row) const;                  // -1 when there is no row
  int GetColumnWidth(int col) const;                // -1 when there is no column
  bool IsValidCell(int row, int col) const { return model_.IsValidCell(row, col); }
  bool IsCellModified(int row, int col) const;
  // Read access to a cell's record (nullptr when it does not exist).
  const CSheetCell* GetCell(int row, int col) const { return model_.Cell(row, col); }
  int RowCount() const { return model_.RowCount(); }
  int ColCount() const { return model_.ColCount(); }

  // ---- Grid-wide settings
  void SetGridLineColour(Color colour);
  Color GridLineColour() const { return model_.gridLineColour; }
  // Frozen rows and columns at the edges (the dialogs use none).
  void SetFixedCells(int leftCols, int rightCols, int topRows, int bottomRows);
  void AddOwnedObject(std::unique_ptr<SheetOwnedObject> object);

  // ---- Values (a cell that does not exist gives false)
  virtual bool SetCellText(int row, int col, const QString& text, bool refreshEditor = false);
  virtual bool SetCellText(int row, int col, const char* text, bool refreshEditor = false);
  virtual bool SetCellNumber(int row, int col, double value, bool refreshEditor = false);
  // The display text, at most size - 1 characters; commitFirst stores an open
  // editor of that cell first.
  virtual bool GetCellText(int row, int col, QString& text, int size = kMaxEditorText + 1,
                           bool commitFirst = false);
  // True only for Number cells (others give 0).
  virtual bool GetCellNumber(int row, int col, double& value, bool commitFirst = false);
  virtual bool GetCellNumber(int row, int col, int32_t& value, bool commitFirst = false);
  virtual bool GetCellNumber(int row, int col, uint32_t& value, bool commitFirst = false);
  // Convenience: the display text, or "" for a cell that does not exist.
  QString CellText(int row, int col) const;
  // Stores the open editor's text into the active cell, leaving it open.
  // A dialog's OK calls this before reading values. False when the text was
  // refused (see SetNumberRefusal): the cell stays active with the typed text.
  bool EndEdit();
  // Makes Number cells take only a number: a text that is not one (after
  // trimming spaces; an empty text still stores 0) is not stored, the handler
  // is called (it tells the user) and the cell stays active with the text.
  // Without a handler a Number cell takes the number at the start of the text.
  using NumberRefusal = std::function<void(int row, int col, const QString& text)>;
  void SetNumberRefusal(NumberRefusal handler) { numberRefusal_ = std::move(handler); }

  // ---- View
  bool EnsureVisible(int row, int col);
  void Redraw();
  bool CellOrigin(int row, int col, int& x, int& y) const;
  // Client coordinates: the area inside the border.
  bool HitTest(const QPoint& clientPoint, int& row, int& col, int& cellLeft, int& cellTop) const;
  int LastVisibleRow() const { return model_.LastVisibleRow(); }
  int LastVisibleCol() const { return model_.LastVisibleCol(); }
  int TopRow() const { return model_.TopRow(); }
  int LeftCol() const { return model_.LeftCol(); }
  int VertScrollPos() const { return model_.VertScrollPos(); }
  int VertScrollMin() const { return model_.VertScrollMin(); }
  int VertScrollMax() const { return model_.VertScrollMax(); }
  int RowsPerPage() const { return model_.RowsPerPage(); }
  QRect ClientRect() const;  // (0, 0, client width, client height)
  QPoint ClientToWidget(const QPoint& clientPoint) const;
  QRect CellRectInWidget(int row, int col) const;
  // The width of a vertical scroll bar and height of a horizontal one.
  int SystemVertScrollWidth() const { return model_.SystemVertBarWidth(); }
  int SystemHorzScrollHeight() const { return model_.SystemHorzBarHeight(); }
  // Horizontal dialog base unit (average character width of the grid's font).
  int DialogBaseUnitX() const;
  // The palette's button colour, as locked cells and the background use it.
  Color ButtonFaceColour() const;
  // The height a row needs for text in the font.
  static int RowHeightForFont(const QFont& font);
  const SheetModel& Model() const { return model_; }

  // ---- Active cell and editors
  int CurrentRow() const { return model_.Current().row; }
  int CurrentCol() const { return model_.Current().col; }
  void ActivateCell(int row, int col, int cellLeft, int cellTop);
  void LoadEditor();
  // Close an editor without storing its text.
  void DestroyEdit();
  void DestroyCombo();
  // Gives the focus to a window once the current event has been handled.
  void SetFocusLater(QWidget* window);
  CCellEdit* EditEditor() const { return edit_; }
  CCellCombo* EditCombo() const { return combo_; }
  CCellCombo* ListCombo() const { return listCombo_; }
  CCellCombo* CurrentCombo() const { return currentCombo_; }
  bool IsEditOpen() const;
  bool IsComboOpen() const;
  QScrollBar* VertScrollBar() const { return vbar_; }
  QScrollBar* HorzScrollBar() const { return hbar_; }
  QWidget* CornerBox() const { return corner_; }

  // ---- Keys and scrolling (also driven by the editors and the bars)
  // A key handed over by an editor (Tab, Backtab, Enter, Return, arrows).
  void OnEditKey(int key, Qt::KeyboardModifiers modifiers);
  void OnVScroll(ScrollCode code, int trackPos = 0);
  void OnHScroll(ScrollCode code, int trackPos = 0);

  // ---- Hooks; derived grids override them
  virtual void SetCurrentCell(int row, int col);
  virtual bool GetGridFlag() const { return false; }
  virtual void OnCellLButtonDown(int row, int col, int cellLeft, int cellTop);
  virtual void OnCellLButtonUp(int row, int col, int cellLeft, int cellTop);
  virtual void OnCellRButtonDown(int, int, int, int) {}
  virtual void OnCellRButtonUp(int, int, int, int) {}
  virtual void OnCellMouseMove(int row, int col, int cellLeft, int cellTop, uint32_t keyFlags);
  virtual void OnCellMouseMoveExtra(int, int, int, int, uint32_t) {}
  virtual void OnCellLButtonDblClk(int, int, int, int) {}
  // Emits buttonClicked.
  virtual void OnButtonCellClicked(int row, int col, int cellLeft, int cellTop);
  // Store the editor's text into the cell and notify (cellCommitted).
  virtual bool CommitEdit(int row, int col);
  virtual bool CommitCombo(int row, int col);
  // After a stored value changed: repaints the cell (the whole area for numbers).
  virtual void OnCellChanged(int row, int col);
  virtual void OnComboSelChanged(int, int) {}

  // Called by the editors.
  void OnEditFocusLost();
  void OnComboFocusLost();
  // Whether the open edit line holds a text its Number cell refuses.
  bool EditTextRefused() const;

 signals:
  // A Button cell was pressed and released over itself.
  void buttonClicked(int row, int col);
  // An editor's text was stored into (row, col);
  // source is kCommitFromEdit or kCommitFromCombo.
  void cellCommitted(int row, int col, int source);

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;

 private:
  friend class QtSheetCanvas;
  QFont FontForSlot(int32_t slot) const;
  const QPixmap* BitmapFor(int32_t set, int index) const;
  void Layout();
  void SyncVertBar();
  void SyncHorzBar();
  void InvalidateClient(const SheetRect& rect);
  void ApplyViewChange(const SheetModel::ViewChange& change);
  void Move(MoveDirection direction);
  bool PassFocus(bool forward);
  QWidget* FindTabNeighbour(bool forward) const;
  void OpenEdit(int x, int y);
  void OpenCombo(int x, int y);
  void LoadCombo(const CSheetCell& cell);
  void HideEditor(QWidget* editor);
  void CloseEditors();
  void SyncEditorPlacement();
  void PlaceEditor(QWidget* editor, int x, int y, const CSheetCell& cell);
  void OnComboIndexChanged(CCellCombo* combo, int index);
  void OnBarAction(bool vertical, int action);
  int Border() const { return border_; }

  SheetModel model_;
  std::vector<QFont> fonts_;
  std::vector<std::array<QPixmap, 3>> bitmapSets_;
  QScrollBar* vbar_ = nullptr;
  QScrollBar* hbar_ = nullptr;
  QWidget* corner_ = nullptr;
  CCellEdit* edit_ = nullptr;
  CCellCombo* combo_ = nullptr;
  CCellCombo* listCombo_ = nullptr;
  CCellCombo* currentCombo_ = nullptr;
  int border_ = 0;
  bool busy_ = false;
  bool capturing_ = false;
  bool inMousePress_ = false;
  bool loadingCombo_ = false;
  int wheelRemainder_ = 0;
  NumberRefusal numberRefusal_;
  QPointer<QWidget> lastFocus_;
  QMetaObject::Connection focusTracking_;
};

}  // namespace kestrune
