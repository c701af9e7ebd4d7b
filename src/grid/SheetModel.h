// The data side of the spreadsheet grid: the cell table, the attribute
// broadcast, the stores with their change rules, the pane geometry with
// scrolling, hit testing and keyboard moves, and the painting of the panes.
// The widget (CSpreadSheet) owns one and adds windows, editors and events.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include <QString>

#include "base/Error.h"
#include "grid/SheetCell.h"

namespace kestrune {

// A pixel rectangle [left, right) x [top, bottom) in the grid's client area.
struct SheetRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  bool IsEmpty() const { return left >= right || top >= bottom; }
  friend bool operator==(const SheetRect& a, const SheetRect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
  }
};

struct CellPos {
  int row = -1;
  int col = -1;
  bool IsNone() const { return row < 0 || col < 0; }
  friend bool operator==(const CellPos& a, const CellPos& b) {
    return a.row == b.row && a.col == b.col;
  }
};

enum class MoveDirection { Left, Right, Up, Down };

// Scroll bar requests, for either bar (Up/Down stand for Left/Right too).
enum class ScrollCode { LineUp, LineDown, PageUp, PageDown, ThumbPosition, ThumbTrack, Top,
                        Bottom, EndScroll };

// Objects handed to the grid to be destroyed with it.
class SheetOwnedObject {
 public:
  virtual ~SheetOwnedObject() = default;
};

// The message shown when the memory for a row array cannot be had (shown as is).
inline constexpr const char* kCellArrayFailureText = "Unable to create cell array.";
inline constexpr const char* kCellArrayFailureCaption = "Debug";
// More cells than this are treated as memory that cannot be had.
constexpr int64_t kMaxSheetCells = 4'000'000;

class SheetModel {
 public:
  SheetModel();
  ~SheetModel();
  SheetModel(const SheetModel&) = delete;
  SheetModel& operator=(const SheetModel&) = delete;

  // ---- Cells and rows
  // Once per grid: rows x cols default cells (rows may be 0, cols at least 1).
  bool AllocateCells(int rows, int cols);
  bool HasCells() const { return colCount_ > 0; }
  // Inserts a row of default cells before `at` (0..RowCount), applying the scroll rule.
  bool InsertRow(int at);
  // Deletes row `at` unless it is the only one, applying the scroll rule.
  bool DeleteRow(int at);
  // Why the last AllocateCells or InsertRow failed: a row array that could not
  // be made ("Unable to create cell array."); no error after a success or a
  // refusal of bad arguments. The widget shows it.
  const Error& LastError() const { return lastError_; }
  int RowCount() const { return static_cast<int>(rows_.size()); }
  int ColCount() const { return colCount_; }
  bool IsValidCell(int row, int col) const {
    return row >= 0 && col >= 0 && row < RowCount() && col < colCount_;
  }
  CSheetCell* Cell(int row, int col);
  const CSheetCell* Cell(int row, int col) const;
  // Height that cells made from now on start with.
  void SetDefaultCellHeight(int height);
  int DefaultCellHeight() const { return defaultCellHeight_; }

  // ---- Attributes (row or col -1: every row or column)
  void SetCellAttr(int row, int col, int attribute, uint32_t value, int32_t extra = 0);
  void SetCellChoices(int row, int col, const SheetChoiceList& choices);
  // Calls f(cell) on every cell the (row, col) pair names under the broadcast rule.
  void ForEachTarget(int row, int col, const std::function<void(CSheetCell&)>& f);
  Color GetCellBackColour(int row, int col) const;  // kNoColour when there is no cell
  uint32_t GetCellData(int row, int col) const;     // 0 when there is no cell
  int GetRowHeight(int row) const;                  // -1 when there is no row
  int GetColumnWidth(int col) const;                // -1 when there is no column or row
  // Sets the width of every cell of the column.
  void SetColumnWidth(int col, int width);

  // ---- Values
  enum class Store { NoCell, Refused, Unchanged, Changed };
  Store SetNumber(int row, int col, double value);
  Store SetText(int row, int col, const QString& text);
  // The display text, at most size - 1 characters.
  bool GetText(int row, int col, QString& text, int size) const;
  // True only for Number cells; others give 0.0.
  bool GetNumber(int row, int col, double& value) const;

  // ---- Pane geometry
  void SetClientSize(int width, int height);
  // The style's scroll bar extents (width of a vertical, height of a horizontal bar).
  void SetScrollBarMetrics(int vertWidth, int horzHeight);
  void SetVertBarShown(bool shown);
  void SetHorzBarShown(bool shown);
  bool VertBarShown() const { return showVert_; }
  bool HorzBarShown() const { return showHorz_; }
  // Frozen columns and rows at the edges (0 everywhere in the dialogs).
  void SetFixedCells(int leftCols, int rightCols, int topRows, int bottomRows);
  // Recomputes the pane boundaries from the sizes of the cells.
  void UpdateLayout();
  int ClientWidth() const { return clientWidth_; }
  int ClientHeight() const { return clientHeight_; }
  int SystemVertBarWidth() const { return sysVertWidth_; }
  int SystemHorzBarHeight() const { return sysHorzHeight_; }
  int VertBarWidth() const { return showVert_ ? sysVertWidth_ : 0; }
  int HorzBarHeight() const { return showHorz_ ? sysHorzHeight_ : 0; }
  int FixedLeftWidth() const { return fixedLeftWidth_; }
  int FixedTopHeight() const { return fixedTopHeight_; }
  int ScrollRight() const { return scrollRight_; }
  int ScrollBottom() const { return scrollBottom_; }
  int TopRow() const { return topRow_; }
  int LeftCol() const { return leftCol_; }
  int LastVisibleRow() const;
  int LastVisibleCol() const;
  bool CellOrigin(int row, int col, int& x, int& y) const;
  SheetRect CellRect(int row, int col) const;  // empty when there is no cell
  // The client area less the scroll bars.
  SheetRect CellArea() const;
  // The strip that vertical (horizontal) scrolling repaints.
  SheetRect VertScrollStrip() const;
  SheetRect HorzScrollStrip() const;
  bool HitTest(int x, int y, int& row, int& col, int& cellLeft, int& cellTop) const;
  // Whether a cell lies in the rows and columns currently shown in its panes.
  bool IsCellShown(int row, int col) const;
  struct ViewChange {
    bool top = false;
    bool left = false;
  };
  // Scrolls so that the cell shows; false for a cell that does not exist.
  bool EnsureVisible(int row, int col, ViewChange* change = nullptr);

  // ---- Scroll bar state (the model is the bars' source of truth)
  // Clamps topRow into the range; true when topRow changed.
  bool SetVertScrollRange(int min, int max);
  bool SetHorzScrollRange(int min, int max);
  int VertScrollMin() const { return vertMin_; }
  int VertScrollMax() const { return vertMax_; }
  int VertScrollPos() const { return vertPos_; }
  int HorzScrollMin() const { return horzMin_; }
  int HorzScrollMax() const { return horzMax_; }
  int HorzScrollPos() const { return horzPos_; }
  void SetRowsPerPage(int n);
  void SetColsPerPage(int n);
  int RowsPerPage() const { return rowsPerPage_; }
  int ColsPerPage() const { return colsPerPage_; }
  // Applies a bar request; true when topRow (leftCol) changed.
  bool VScroll(ScrollCode code, int trackPos);
  bool HScroll(ScrollCode code, int trackPos);

  // ---- Active cell
  CellPos Current() const { return current_; }
  void SetCurrent(int row, int col) { current_ = {row, col}; }

  // ---- Keyboard
  // The cell a move from the active cell lands on inside its block, stepping
  // over locked and Button cells. When a step passes the block's end,
  // leaveBlock(forward) is asked first; a true answer (focus passed on) ends
  // the move with no cell. No cell also when every other cell was tried.
  CellPos FindMoveTarget(MoveDirection direction,
                         const std::function<bool(bool forward)>& leaveBlock) const;
  // The first (last) cell in row-major order that is neither locked nor a Button.
  CellPos FirstFreeCell(bool last) const;
  bool IsFreeCell(int row, int col) const;

  // ---- Painting
  // Paints the panes that meet `update` (client coordinates).
  void Paint(SheetCanvas& canvas, const SheetRect& update, Color buttonFace) const;

  // ---- Grid-wide settings
  Color gridLineColour = kNeutralColor;
  bool drawGridLines = true;
  bool recalcOnChange = true;
  bool redrawOnChange = true;

  void AddOwnedObject(std::unique_ptr<SheetOwnedObject> object);
  size_t OwnedObjectCount() const { return owned_.size(); }

 private:
  using Row = std::vector<CSheetCell>;
  struct Range {
    int first = 0;
    int last = -1;  // inclusive; empty when last < first
    int Count() const { return last >= first ? last - first + 1 : 0; }
  };
  Row MakeRow() const;
  bool FailArray();
  int RowHeight(int row) const;
  int ColWidth(int col) const;
  Range RowBlockOf(int row) const;
  Range ColBlockOf(int col) const;
  int LastVisible(bool rows) const;
  int FixedLeft() const;
  int FixedRight() const;
  int FixedTop() const;
  int FixedBottom() const;
  Range MiddleRows() const;
  Range MiddleCols() const;
  void PaintPane(SheetCanvas& canvas, int left, int top, int right, int bottom, Range rows,
                 Range cols, Color buttonFace) const;

  std::vector<std::unique_ptr<Row>> rows_;
  int colCount_ = 0;
  Error lastError_;
  int defaultCellHeight_ = kDefaultCellHeight;

  int clientWidth_ = 0;
  int clientHeight_ = 0;
  int sysVertWidth_ = 16;
  int sysHorzHeight_ = 16;
  bool showVert_ = true;
  bool showHorz_ = true;
  int fixedLeftCols_ = 0;
  int fixedRightCols_ = 0;
  int fixedTopRows_ = 0;
  int fixedBottomRows_ = 0;
  int fixedLeftWidth_ = 0;
  int fixedTopHeight_ = 0;
  int scrollRight_ = 0;
  int scrollBottom_ = 0;

  int topRow_ = 0;
  int leftCol_ = 0;
  // An empty range matching an untouched scroll bar, so that scrolling a grid
  // whose range was never set cannot hide row 0.
  int vertMin_ = 0;
  int vertMax_ = 0;
  int vertPos_ = 0;
  int horzMin_ = 0;
  int horzMax_ = 0;
  int horzPos_ = 0;
  int rowsPerPage_ = 1;
  int colsPerPage_ = 1;

  CellPos current_;
  std::vector<std::unique_ptr<SheetOwnedObject>> owned_;
};

}  // namespace kestrune
