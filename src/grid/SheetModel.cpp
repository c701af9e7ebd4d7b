#include "grid/SheetModel.h"

#include <algorithm>
#include <climits>
#include <new>

#include "base/Platform.h"
#include "grid/SheetFormat.h"

namespace kestrune {

namespace {

// Reads a 32-bit attribute as a pixel size within the cell limits.
int ClampExtent(uint32_t value) {
  return std::clamp(static_cast<int32_t>(value), 0, kMaxCellExtent);
}

// Narrows a pixel sum, far from the ends of the int range.
int ClampToInt(long long v) {
  return static_cast<int>(std::clamp<long long>(v, INT_MIN / 2, INT_MAX / 2));
}

// Applies one attribute number to one cell.
void ApplyAttribute(CSheetCell& cell, int attribute, uint32_t value, int32_t extra) {
  const auto asInt = static_cast<int32_t>(value);
  switch (attribute) {
    case kAttrKind: cell.SetKind(asInt, extra); break;
    case kAttrFont: cell.font = std::max(asInt, 0); break;
    case kAttrTextFormat: cell.textFormat = value; break;
    case kAttrBorders: cell.borders = value; break;
    case kAttrDecimals: cell.decimals = std::clamp(asInt, 0, kMaxCellDecimals); break;
    case kAttrTextCapacity: cell.SetCapacityLimit(asInt); break;
    case kAttrWidth: cell.width = ClampExtent(value); break;
    case kAttrHeight: cell.height = ClampExtent(value); break;
    case kAttrLocked: cell.locked = value == 1; break;
    case kAttrBackColour: cell.backColour = value; break;
    case kAttrItemData: cell.itemData = value; break;
    case kAttrStoredValue: cell.storedValue = value; break;
    case kAttrBlankZero: cell.blankZero = value == 1; break;
    // A list cannot travel in 32 bits; the generic form only clears it.
    case kAttrChoices: if (value == 0) cell.choices.reset(); break;
    case kAttrModified: cell.modified = value == 1; break;
    case kAttrSkipData: cell.skipData = value; break;
    case kAttrBitmaps: cell.bitmaps = std::max(asInt, 0); break;
    case kAttrDropHeight: cell.dropHeight = ClampExtent(value); break;
    case kAttrTextColour: cell.textColour = value; break;
    case kAttrFlag20: cell.flag20 = value == 1; break;
    case kAttrFlag21: cell.flag21 = value; break;
    case kAttrFlag22: cell.flag22 = value == 1; break;
    case kAttrClipText: cell.clipText = value == 1; break;
    default: break;  // 17 and above 23 are not attributes
  }
}

}  // namespace

// An empty table: no cells until AllocateCells.
SheetModel::SheetModel() = default;
// Destroys the rows, their cells and the owned objects.
SheetModel::~SheetModel() = default;

// A row of default cells of the grid's width.
SheetModel::Row SheetModel::MakeRow() const {
  CSheetCell cell;
  cell.height = defaultCellHeight_;
  return Row(static_cast<size_t>(colCount_), cell);
}

// Keeps the error of a row array that could not be made; always false.
bool SheetModel::FailArray() {
  Error error;
  error.text = kCellArrayFailureText;
  error.caption = kCellArrayFailureCaption;
  error.icon = MessageIcon::Information;
  return Fail(&lastError_, std::move(error));
}

// Makes the cell table once.
bool SheetModel::AllocateCells(int rows, int cols) {
  lastError_ = {};
  if (HasCells() || rows < 0 || cols <= 0) return false;
  if (static_cast<int64_t>(rows) * cols > kMaxSheetCells ||
      static_cast<int64_t>(cols) > kMaxSheetCells) {
    return FailArray();
  }
  try {
    std::vector<std::unique_ptr<Row>> made;
    made.reserve(static_cast<size_t>(rows));
    colCount_ = cols;
    for (int r = 0; r < rows; ++r) made.push_back(std::make_unique<Row>(MakeRow()));
    rows_ = std::move(made);
  } catch (const std::bad_alloc&) {
    colCount_ = 0;
    return FailArray();
  }
  UpdateLayout();
  return true;
}

// Inserts a default row and keeps the view where the rule says.
bool SheetModel::InsertRow(int at) {
  lastError_ = {};
  if (!HasCells() || at < 0 || at > RowCount()) return false;
  if (static_cast<int64_t>(RowCount() + 1) * colCount_ > kMaxSheetCells) {
    return FailArray();
  }
  try {
    auto row = std::make_unique<Row>(MakeRow());
    rows_.insert(rows_.begin() + at, std::move(row));
  } catch (const std::bad_alloc&) {
    return FailArray();
  }
  // The active cell moves with its row, so an open editor keeps its cell.
  if (current_.row >= at) ++current_.row;
  UpdateLayout();
  if (at < topRow_) {
    topRow_ = at;
  } else {
    const int last = LastVisibleRow();
    if (at > last) topRow_ += at - last - 1;
  }
  vertPos_ = std::clamp(topRow_, vertMin_, vertMax_);
  return true;
}

// Deletes a row and pulls the scroll range in by one.
bool SheetModel::DeleteRow(int at) {
  if (!HasCells() || at < 0 || at >= RowCount() || RowCount() == 1) return false;
  rows_.erase(rows_.begin() + at);
  // The active cell follows its row; when its row goes, there is no active cell.
  if (current_.row == at) {
    current_ = {};
  } else if (current_.row > at) {
    --current_.row;
  }
  UpdateLayout();
  const int posBefore = vertPos_;
  vertMax_ = std::max(vertMax_ - 1, vertMin_);
  topRow_ = std::min(posBefore, vertMax_);
  vertPos_ = topRow_;
  return true;
}

// The cell at (row, col), or nullptr outside the table.
CSheetCell* SheetModel::Cell(int row, int col) {
  return IsValidCell(row, col) ? &(*rows_[static_cast<size_t>(row)])[static_cast<size_t>(col)]
                               : nullptr;
}

// The cell at (row, col), or nullptr outside the table.
const CSheetCell* SheetModel::Cell(int row, int col) const {
  return IsValidCell(row, col) ? &(*rows_[static_cast<size_t>(row)])[static_cast<size_t>(col)]
                               : nullptr;
}

// Sets the height new cells start with.
void SheetModel::SetDefaultCellHeight(int height) {
  defaultCellHeight_ = std::clamp(height, 0, kMaxCellExtent);
}

// Visits the cells a (row, col) pair names: -1 is every row or column.
void SheetModel::ForEachTarget(int row, int col, const std::function<void(CSheetCell&)>& f) {
  if (!HasCells() || row < -1 || col < -1 || row >= RowCount() || col >= colCount_) return;
  const int r0 = row == -1 ? 0 : row;
  const int r1 = row == -1 ? RowCount() - 1 : row;
  const int c0 = col == -1 ? 0 : col;
  const int c1 = col == -1 ? colCount_ - 1 : col;
  for (int r = r0; r <= r1; ++r) {
    Row& cells = *rows_[static_cast<size_t>(r)];
    for (int c = c0; c <= c1; ++c) f(cells[static_cast<size_t>(c)]);
  }
}

// Applies an attribute number to the cells named under the broadcast rule.
void SheetModel::SetCellAttr(int row, int col, int attribute, uint32_t value, int32_t extra) {
  ForEachTarget(row, col, [&](CSheetCell& cell) { ApplyAttribute(cell, attribute, value, extra); });
  // Widths and heights of frozen cells move the pane boundaries.
  if (attribute == kAttrWidth || attribute == kAttrHeight) UpdateLayout();
}

// Gives the named cells one shared copy of a choice list.
void SheetModel::SetCellChoices(int row, int col, const SheetChoiceList& choices) {
  auto shared = std::make_shared<const SheetChoiceList>(choices);
  ForEachTarget(row, col, [&](CSheetCell& cell) { cell.choices = shared; });
}

// The cell's fill colour, or kNoColour outside the table.
Color SheetModel::GetCellBackColour(int row, int col) const {
  const CSheetCell* cell = Cell(row, col);
  return cell ? cell->backColour : kNoColour;
}

// The caller's value of the cell, or 0 outside the table.
uint32_t SheetModel::GetCellData(int row, int col) const {
  const CSheetCell* cell = Cell(row, col);
  return cell ? cell->itemData : 0;
}

// The row's height (its cell in column 0), or -1.
int SheetModel::GetRowHeight(int row) const {
  return row >= 0 && row < RowCount() ? RowHeight(row) : -1;
}

// The column's width (its cell in row 0), or -1.
int SheetModel::GetColumnWidth(int col) const {
  return col >= 0 && col < colCount_ && !rows_.empty() ? ColWidth(col) : -1;
}

// Sets the width of every cell of a column.
void SheetModel::SetColumnWidth(int col, int width) {
  if (col < 0 || col >= colCount_) return;
  const int w = std::clamp(width, 0, kMaxCellExtent);
  for (auto& row : rows_) (*row)[static_cast<size_t>(col)].width = w;
  UpdateLayout();
}

// Stores a number and tells how the store went.
SheetModel::Store SheetModel::SetNumber(int row, int col, double value) {
  CSheetCell* cell = Cell(row, col);
  if (!cell) return Store::NoCell;
  bool changed = false;
  if (!cell->StoreNumber(value, &changed)) return Store::Refused;
  return changed ? Store::Changed : Store::Unchanged;
}

// Stores a text and tells how the store went.
SheetModel::Store SheetModel::SetText(int row, int col, const QString& text) {
  CSheetCell* cell = Cell(row, col);
  if (!cell) return Store::NoCell;
  bool changed = false;
  if (!cell->StoreText(text, &changed)) return Store::Refused;
  return changed ? Store::Changed : Store::Unchanged;
}

// Reads the display text of a cell.
bool SheetModel::GetText(int row, int col, QString& text, int size) const {
  const CSheetCell* cell = Cell(row, col);
  if (!cell) return false;
  text = cell->DisplayText(size);
  return true;
}

// Reads the number of a Number cell.
bool SheetModel::GetNumber(int row, int col, double& value) const {
  const CSheetCell* cell = Cell(row, col);
  if (!cell) return false;
  if (cell->kind != kCellNumber) {
    value = 0.0;
    return false;
  }
  value = cell->value;
  return true;
}

// ---- Geometry

// Height of an existing row (its cell in column 0).
int SheetModel::RowHeight(int row) const { return (*rows_[static_cast<size_t>(row)])[0].height; }

// Width of a column (0 while there are no rows).
int SheetModel::ColWidth(int col) const {
  return rows_.empty() ? 0 : (*rows_[0])[static_cast<size_t>(col)].width;
}

// The frozen counts, limited to what the table holds now.
int SheetModel::FixedLeft() const { return std::min(fixedLeftCols_, colCount_); }
int SheetModel::FixedRight() const { return std::min(fixedRightCols_, colCount_ - FixedLeft()); }
int SheetModel::FixedTop() const { return std::min(fixedTopRows_, RowCount()); }
int SheetModel::FixedBottom() const { return std::min(fixedBottomRows_, RowCount() - FixedTop()); }

// The rows of the scrolling pane.
SheetModel::Range SheetModel::MiddleRows() const {
  return {FixedTop(), RowCount() - FixedBottom() - 1};
}

// The columns of the scrolling pane.
SheetModel::Range SheetModel::MiddleCols() const {
  return {FixedLeft(), colCount_ - FixedRight() - 1};
}

// Takes the client size and recomputes the panes.
void SheetModel::SetClientSize(int width, int height) {
  clientWidth_ = std::max(width, 0);
  clientHeight_ = std::max(height, 0);
  UpdateLayout();
}

// Takes the style's scroll bar extents.
void SheetModel::SetScrollBarMetrics(int vertWidth, int horzHeight) {
  sysVertWidth_ = std::max(vertWidth, 0);
  sysHorzHeight_ = std::max(horzHeight, 0);
  UpdateLayout();
}

// Shows or hides the vertical bar in the pane geometry.
void SheetModel::SetVertBarShown(bool shown) {
  showVert_ = shown;
  UpdateLayout();
}

// Shows or hides the horizontal bar in the pane geometry.
void SheetModel::SetHorzBarShown(bool shown) {
  showHorz_ = shown;
  UpdateLayout();
}

// Sets the frozen edge counts and keeps the view off them.
void SheetModel::SetFixedCells(int leftCols, int rightCols, int topRows, int bottomRows) {
  fixedLeftCols_ = std::max(leftCols, 0);
  fixedRightCols_ = std::max(rightCols, 0);
  fixedTopRows_ = std::max(topRows, 0);
  fixedBottomRows_ = std::max(bottomRows, 0);
  topRow_ = std::max(topRow_, FixedTop());
  leftCol_ = std::max(leftCol_, FixedLeft());
  UpdateLayout();
}

// Pane boundaries in the order the layout computes them.
void SheetModel::UpdateLayout() {
  long long sum = 0;
  for (int c = 0; c < FixedLeft(); ++c) sum += ColWidth(c);
  fixedLeftWidth_ = ClampToInt(sum);
  sum = 0;
  for (int c = colCount_ - FixedRight(); c < colCount_; ++c) sum += ColWidth(c);
  scrollRight_ = ClampToInt(clientWidth_ - (showVert_ ? sysVertWidth_ : 0) - sum);
  sum = 0;
  for (int r = 0; r < FixedTop(); ++r) sum += RowHeight(r);
  fixedTopHeight_ = ClampToInt(sum);
  sum = 0;
  for (int r = RowCount() - FixedBottom(); r < RowCount(); ++r) sum += RowHeight(r);
  scrollBottom_ = ClampToInt(clientHeight_ - (showHorz_ ? sysHorzHeight_ + 1 : 0) - sum);
}

// The last row (column) of the middle pane that fits whole, at least the first shown.
int SheetModel::LastVisible(bool rows) const {
  const int first = rows ? topRow_ : leftCol_;
  long long edge = rows ? fixedTopHeight_ : fixedLeftWidth_;
  const int limit = rows ? scrollBottom_ : scrollRight_;
  const int end = rows ? RowCount() - FixedBottom() : colCount_ - FixedRight();
  int last = first - 1;
  for (int i = first; edge < limit && i < end; ++i) {
    edge += rows ? RowHeight(i) : ColWidth(i);
    last = i;
  }
  // A row whose bottom runs past the pane is only partly shown.
  if (last >= first && edge > limit + 1) --last;
  return std::max(last, first);
}

// The last row of the scrolling pane that fits whole.
int SheetModel::LastVisibleRow() const { return LastVisible(true); }
// The last column of the scrolling pane that fits whole.
int SheetModel::LastVisibleCol() const { return LastVisible(false); }

// Top-left corner of a cell in the current scroll state.
bool SheetModel::CellOrigin(int row, int col, int& x, int& y) const {
  if (!IsValidCell(row, col)) return false;
  long long px = 0;
  int first = 0;
  if (col < FixedLeft()) {
    px = 0;
    first = 0;
  } else if (col >= colCount_ - FixedRight()) {
    px = scrollRight_;
    first = colCount_ - FixedRight();
  } else {
    px = fixedLeftWidth_;
    first = leftCol_;
  }
  // Columns scrolled off to the left lie before the pane's edge.
  for (int c = first; c < col; ++c) px += ColWidth(c);
  for (int c = col; c < std::min(first, colCount_); ++c) px -= ColWidth(c);

  long long py = 0;
  if (row < FixedTop()) {
    py = 0;
    first = 0;
  } else if (row >= RowCount() - FixedBottom()) {
    py = scrollBottom_;
    first = RowCount() - FixedBottom();
  } else {
    py = fixedTopHeight_;
    first = topRow_;
  }
  for (int r = first; r < row; ++r) py += RowHeight(r);
  for (int r = row; r < std::min(first, RowCount()); ++r) py -= RowHeight(r);
  x = ClampToInt(px);
  y = ClampToInt(py);
  return true;
}

// The pixels a cell covers in the current scroll state.
SheetRect SheetModel::CellRect(int row, int col) const {
  int x = 0;
  int y = 0;
  if (!CellOrigin(row, col, x, y)) return {};
  const CSheetCell* cell = Cell(row, col);
  return {x, y, x + cell->width, y + cell->height};
}

// The client area less the scroll bars.
SheetRect SheetModel::CellArea() const {
  return {0, 0, clientWidth_ - VertBarWidth(), clientHeight_ - HorzBarHeight()};
}

// What vertical scrolling repaints.
SheetRect SheetModel::VertScrollStrip() const {
  return {0, fixedTopHeight_, clientWidth_ - VertBarWidth(), scrollBottom_};
}

// What horizontal scrolling repaints.
SheetRect SheetModel::HorzScrollStrip() const {
  return {fixedLeftWidth_, 0, scrollRight_, clientHeight_ - HorzBarHeight()};
}

// Finds the cell under a client point.
bool SheetModel::HitTest(int x, int y, int& row, int& col, int& cellLeft, int& cellTop) const {
  if (x < 0 || y < 0 || !HasCells()) return false;
  // Walks one pane's columns (rows) until the edge passes the point.
  auto walk = [this](int point, int first, int end, long long edge, bool rows, int& hit,
                     int& start) {
    for (int i = first; i < end; ++i) {
      const int size = rows ? RowHeight(i) : ColWidth(i);
      edge += size;
      if (edge > point) {
        hit = i;
        start = ClampToInt(edge - size);
        return true;
      }
    }
    return false;
  };
  bool found = false;
  if (x < fixedLeftWidth_) {
    found = walk(x, 0, FixedLeft(), 0, false, col, cellLeft);
  } else if (x <= scrollRight_) {
    found = walk(x, leftCol_, colCount_ - FixedRight(), fixedLeftWidth_, false, col, cellLeft);
  } else {
    found = walk(x, colCount_ - FixedRight(), colCount_, scrollRight_, false, col, cellLeft);
  }
  if (!found) return false;
  if (y < fixedTopHeight_) {
    found = walk(y, 0, FixedTop(), 0, true, row, cellTop);
  } else if (y <= scrollBottom_) {
    found = walk(y, topRow_, RowCount() - FixedBottom(), fixedTopHeight_, true, row, cellTop);
  } else {
    found = walk(y, RowCount() - FixedBottom(), RowCount(), scrollBottom_, true, row, cellTop);
  }
  return found;
}

// Whether the cell lies within the rows and columns on view.
bool SheetModel::IsCellShown(int row, int col) const {
  if (!IsValidCell(row, col)) return false;
  const Range rows = MiddleRows();
  const Range cols = MiddleCols();
  if (row >= rows.first && row <= rows.last && (row < topRow_ || row > LastVisibleRow())) {
    return false;
  }
  if (col >= cols.first && col <= cols.last && (col < leftCol_ || col > LastVisibleCol())) {
    return false;
  }
  return true;
}

// Scrolls the least that brings the cell into view.
bool SheetModel::EnsureVisible(int row, int col, ViewChange* change) {
  if (change) *change = {};
  if (!IsValidCell(row, col)) return false;
  const int oldTop = topRow_;
  const int oldLeft = leftCol_;
  const Range rows = MiddleRows();
  if (row >= rows.first && row <= rows.last) {
    if (row < topRow_) {
      topRow_ = row;
    } else {
      for (int last = LastVisibleRow(); last < row; last = LastVisibleRow()) topRow_ += row - last;
    }
  }
  const Range cols = MiddleCols();
  if (col >= cols.first && col <= cols.last) {
    if (col < leftCol_) {
      leftCol_ = col;
    } else {
      for (int last = LastVisibleCol(); last < col; last = LastVisibleCol()) leftCol_ += col - last;
    }
  }
  if (topRow_ != oldTop) vertPos_ = std::clamp(topRow_, vertMin_, vertMax_);
  if (leftCol_ != oldLeft) horzPos_ = std::clamp(leftCol_, horzMin_, horzMax_);
  if (change) *change = {topRow_ != oldTop, leftCol_ != oldLeft};
  return true;
}

// ---- Scroll bars

// Sets the vertical bar's range, pulling the view into it.
bool SheetModel::SetVertScrollRange(int min, int max) {
  // Rows before the first do not exist; a negative start would scroll into nothing.
  min = std::max(min, 0);
  max = std::max(max, min);
  vertMin_ = min;
  vertMax_ = max;
  vertPos_ = std::clamp(vertPos_, min, max);
  const int oldTop = topRow_;
  topRow_ = std::clamp(topRow_, min, max);
  return topRow_ != oldTop;
}

// Sets the horizontal bar's range, pulling the view into it.
bool SheetModel::SetHorzScrollRange(int min, int max) {
  min = std::max(min, 0);
  max = std::max(max, min);
  horzMin_ = min;
  horzMax_ = max;
  horzPos_ = std::clamp(horzPos_, min, max);
  const int oldLeft = leftCol_;
  leftCol_ = std::clamp(leftCol_, min, max);
  return leftCol_ != oldLeft;
}

// Page steps of the bars, never less than one row or column.
void SheetModel::SetRowsPerPage(int n) { rowsPerPage_ = std::max(n, 1); }
void SheetModel::SetColsPerPage(int n) { colsPerPage_ = std::max(n, 1); }

// Applies a vertical bar request to the view.
bool SheetModel::VScroll(ScrollCode code, int trackPos) {
  long long pos = vertPos_;
  switch (code) {
    case ScrollCode::LineUp: pos -= 1; break;
    case ScrollCode::LineDown: pos += 1; break;
    case ScrollCode::PageUp: pos -= rowsPerPage_; break;
    case ScrollCode::PageDown: pos += rowsPerPage_; break;
    case ScrollCode::ThumbPosition:
    case ScrollCode::ThumbTrack: pos = trackPos; break;
    case ScrollCode::Top: pos = vertMin_; break;
    case ScrollCode::Bottom: pos = vertMax_; break;
    case ScrollCode::EndScroll: pos = vertPos_; break;
  }
  const int clamped = static_cast<int>(std::clamp<long long>(pos, vertMin_, vertMax_));
  // While the thumb is dragged the bar keeps its own position.
  if (code != ScrollCode::ThumbTrack) vertPos_ = clamped;
  if (clamped == topRow_) return false;
  topRow_ = clamped;
  return true;
}

// Applies a horizontal bar request to the view.
bool SheetModel::HScroll(ScrollCode code, int trackPos) {
  long long pos = horzPos_;
  switch (code) {
    case ScrollCode::LineUp: pos -= 1; break;
    case ScrollCode::LineDown: pos += 1; break;
    case ScrollCode::PageUp: pos -= colsPerPage_; break;
    case ScrollCode::PageDown: pos += colsPerPage_; break;
    case ScrollCode::ThumbTrack: pos = trackPos; break;
    case ScrollCode::Top: pos = horzMin_; break;
    case ScrollCode::Bottom: pos = horzMax_; break;
    default: break;  // thumb position and end of scrolling keep the position
  }
  horzPos_ = static_cast<int>(std::clamp<long long>(pos, horzMin_, horzMax_));
  if (horzPos_ == leftCol_) return false;
  leftCol_ = horzPos_;
  return true;
}

// ---- Keyboard

// The rows of the pane a row belongs to.
SheetModel::Range SheetModel::RowBlockOf(int row) const {
  if (row < FixedTop()) return {0, FixedTop() - 1};
  if (row >= RowCount() - FixedBottom()) return {RowCount() - FixedBottom(), RowCount() - 1};
  return MiddleRows();
}

// The columns of the pane a column belongs to.
SheetModel::Range SheetModel::ColBlockOf(int col) const {
  if (col < FixedLeft()) return {0, FixedLeft() - 1};
  if (col >= colCount_ - FixedRight()) return {colCount_ - FixedRight(), colCount_ - 1};
  return MiddleCols();
}

// Whether the keyboard may land on the cell.
bool SheetModel::IsFreeCell(int row, int col) const {
  const CSheetCell* cell = Cell(row, col);
  return cell && !cell->locked && cell->kind != kCellButton;
}

CellPos SheetModel::FindMoveTarget(MoveDirection direction,
                                   const std::function<bool(bool forward)>& leaveBlock) const {
  const bool inBlock = IsValidCell(current_.row, current_.col);
  const Range rows = inBlock ? RowBlockOf(current_.row) : MiddleRows();
  const Range cols = inBlock ? ColBlockOf(current_.col) : MiddleCols();
  const long long nr = rows.Count();
  const long long nc = cols.Count();
  const long long n = nr * nc;
  if (n == 0) return {};
  // Left and Right walk the block row by row, Up and Down column by column.
  const bool rowMajor = direction == MoveDirection::Left || direction == MoveDirection::Right;
  const bool forward = direction == MoveDirection::Right || direction == MoveDirection::Down;
  auto cellAt = [&](long long index) {
    if (rowMajor) {
      return CellPos{rows.first + static_cast<int>(index / nc), cols.first + static_cast<int>(index % nc)};
    }
    return CellPos{rows.first + static_cast<int>(index % nr), cols.first + static_cast<int>(index / nr)};
  };
  long long index = forward ? -1 : n;
  if (inBlock) {
    const long long r = current_.row - rows.first;
    const long long c = current_.col - cols.first;
    index = rowMajor ? r * nc + c : c * nr + r;
  }
  for (long long tries = 0; tries < n; ++tries) {
    index += forward ? 1 : -1;
    if (index < 0 || index >= n) {
      if (leaveBlock && leaveBlock(forward)) return {};
      index = forward ? 0 : n - 1;
    }
    const CellPos pos = cellAt(index);
    // Back at the start: every other cell was tried.
    if (inBlock && pos == current_) return {};
    if (IsFreeCell(pos.row, pos.col)) return pos;
  }
  return {};
}

// Finds the first or last cell the keyboard may land on.
CellPos SheetModel::FirstFreeCell(bool last) const {
  const int count = RowCount();
  if (last) {
    for (int r = count - 1; r >= 0; --r) {
      for (int c = colCount_ - 1; c >= 0; --c) {
        if (IsFreeCell(r, c)) return {r, c};
      }
    }
  } else {
    for (int r = 0; r < count; ++r) {
      for (int c = 0; c < colCount_; ++c) {
        if (IsFreeCell(r, c)) return {r, c};
      }
    }
  }
  return {};
}

// ---- Painting

// Paints every pane that meets the area being repainted.
void SheetModel::Paint(SheetCanvas& canvas, const SheetRect& update, Color buttonFace) const {
  const int xb[4] = {0, fixedLeftWidth_, scrollRight_, clientWidth_ - VertBarWidth() - 1};
  const int yb[4] = {0, fixedTopHeight_, scrollBottom_, clientHeight_ - HorzBarHeight() - 1};
  const Range colRanges[3] = {{0, FixedLeft() - 1},
                              {leftCol_, colCount_ - FixedRight() - 1},
                              {colCount_ - FixedRight(), colCount_ - 1}};
  const Range rowRanges[3] = {{0, FixedTop() - 1},
                              {topRow_, RowCount() - FixedBottom() - 1},
                              {RowCount() - FixedBottom(), RowCount() - 1}};
  for (int j = 0; j < 3; ++j) {
    for (int i = 0; i < 3; ++i) {
      if (colRanges[i].Count() == 0 || rowRanges[j].Count() == 0) continue;
      const int left = xb[i];
      const int right = xb[i + 1];
      const int top = yb[j];
      const int bottom = yb[j + 1];
      // The pane draws into [left, right) x [top - 1, bottom).
      if (left >= update.right || right <= update.left || top - 1 >= update.bottom ||
          bottom <= update.top) {
        continue;
      }
      PaintPane(canvas, left, top, right, bottom, rowRanges[j], colRanges[i], buttonFace);
    }
  }
  canvas.RestoreClip();
}

void SheetModel::PaintPane(SheetCanvas& canvas, int left, int top, int right, int bottom,
                           Range rows, Range cols, Color buttonFace) const {
  // One pixel above the pane belongs to it: a framed cell's top edge lies there.
  canvas.SetClip(left, top - 1, right, bottom);
  int x = left;
  int y = top;
  for (int r = rows.first; r <= rows.last && y <= bottom; ++r) {
    x = left;
    const Row& cells = *rows_[static_cast<size_t>(r)];
    for (int c = cols.first; c <= cols.last && x <= right; ++c) {
      const CSheetCell& cell = cells[static_cast<size_t>(c)];
      cell.Draw(canvas, x, y, drawGridLines, gridLineColour);
      x += cell.width;
    }
    y += RowHeight(r);
  }
  if (x < right || y < bottom) {
    canvas.FillRect(x, top, right, y, buttonFace);
    canvas.FillRect(left, y, right, bottom, buttonFace);
  }
}

// Takes an object to destroy with the table.
void SheetModel::AddOwnedObject(std::unique_ptr<SheetOwnedObject> object) {
  if (object) owned_.push_back(std::move(object));
}

}  // namespace kestrune
