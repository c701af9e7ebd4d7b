#include "grid/gui/CSpreadSheet.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <QAbstractItemView>
#include <QApplication>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLayout>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>
#include <QWheelEvent>

#include "grid/gui/CellEditors.h"
#include "grid/SheetFormat.h"

namespace kestrune {

namespace {

// A 0x00BBGGRR colour as a QColor.
QColor ToQColor(Color c) { return QColor(RedOf(c), GreenOf(c), BlueOf(c)); }

// A half-open pixel rectangle as a QRect.
QRect ToQRect(const SheetRect& r) {
  return QRect(r.left, r.top, std::max(0, r.right - r.left), std::max(0, r.bottom - r.top));
}

// Kinds edited with the edit line, and kinds edited with a combo box.
bool IsTextKind(int32_t kind) { return kind == kCellText || kind == kCellNumber; }
bool IsListKind(int32_t kind) { return kind == kCellDropList || kind == kCellDropCombo; }

// The parent's child that stands for a control id, by property or name.
QWidget* FindControl(QWidget* parent, int id) {
  const QString name = QString::number(id);
  for (QWidget* w : parent->findChildren<QWidget*>()) {
    const QVariant property = w->property("controlId");
    if ((property.isValid() && property.toInt() == id) || w->objectName() == name) return w;
  }
  return nullptr;
}


}  // namespace

// The grid's canvas over a QPainter in client coordinates.
class QtSheetCanvas : public SheetCanvas {
 public:
  // Draws with the painter inside the area being repainted.
  QtSheetCanvas(QPainter& painter, const QRegion& area, const CSpreadSheet& grid)
      : painter_(painter), area_(area), grid_(grid), font_(grid.font()) {}

  // Fills exactly the pixels of the rectangle.
  void FillRect(int l, int t, int r, int b, Color colour) override {
    if (r > l && b > t) painter_.fillRect(QRect(l, t, r - l, b - t), ToQColor(colour));
  }
  // Draws the one-pixel edge of the rectangle.
  void FrameRect(int l, int t, int r, int b, Color colour) override {
    if (r <= l || b <= t) return;
    const QColor c = ToQColor(colour);
    painter_.fillRect(QRect(l, t, r - l, 1), c);
    painter_.fillRect(QRect(l, b - 1, r - l, 1), c);
    painter_.fillRect(QRect(l, t, 1, b - t), c);
    painter_.fillRect(QRect(r - 1, t, 1, b - t), c);
  }
  // Draws a one-pixel line without its end point.
  void Line(int x0, int y0, int x1, int y1, Color colour) override {
    const QColor c = ToQColor(colour);
    // The end point is not drawn: a line covers [start, end).
    if (y0 == y1) {
      if (x1 > x0) painter_.fillRect(QRect(x0, y0, x1 - x0, 1), c);
      if (x1 < x0) painter_.fillRect(QRect(x1 + 1, y0, x0 - x1, 1), c);
    } else if (x0 == x1) {
      if (y1 > y0) painter_.fillRect(QRect(x0, y0, 1, y1 - y0), c);
      if (y1 < y0) painter_.fillRect(QRect(x0, y1 + 1, 1, y0 - y1), c);
    } else {
      painter_.setPen(c);
      painter_.drawLine(x0, y0, x1, y1);
    }
  }
  // Draws one line of text placed by the cell's drawing flags.
  void Text(const QString& text, int l, int t, int r, int b, uint32_t format) override {
    if (r <= l || b <= t) return;
    int flags = Qt::TextSingleLine;
    if (format & kDtCenter) {
      flags |= Qt::AlignHCenter;
    } else if (format & kDtRight) {
      flags |= Qt::AlignRight;
    } else {
      flags |= Qt::AlignLeft;
    }
    if (format & kDtVCenter) {
      flags |= Qt::AlignVCenter;
    } else if (format & kDtBottom) {
      flags |= Qt::AlignBottom;
    } else {
      flags |= Qt::AlignTop;
    }
    if (format & kDtNoClip) flags |= Qt::TextDontClip;
    painter_.setFont(font_);
    painter_.setPen(ToQColor(textColour_));
    painter_.drawText(QRect(l, t, r - l, b - t), flags, text);
  }
  // Whether the grid holds the image.
  bool HasBitmap(int32_t set, int index) const override {
    return grid_.BitmapFor(set, index) != nullptr;
  }
  // Copies the top-left part of an image, unscaled.
  void Bitmap(int32_t set, int index, int x, int y, int w, int h) override {
    if (const QPixmap* pixmap = grid_.BitmapFor(set, index)) {
      painter_.drawPixmap(x, y, *pixmap, 0, 0, w, h);
    }
  }
  // Takes the font of a slot for the following text.
  void SelectFont(int32_t slot) override { font_ = grid_.FontForSlot(slot); }
  // Takes the colour of the following text.
  void SetTextColour(Color colour) override { textColour_ = colour; }
  // Limits drawing to the rectangle within the repaint area.
  void SetClip(int l, int t, int r, int b) override {
    painter_.setClipRegion(area_.intersected(QRect(l, t, std::max(0, r - l), std::max(0, b - t))));
  }
  // Back to the whole repaint area.
  void RestoreClip() override { painter_.setClipRegion(area_); }

 private:
  QPainter& painter_;
  QRegion area_;
  const CSpreadSheet& grid_;
  QFont font_;
  Color textColour_ = kBlack;
};

// Makes the grid with its bars, corner box and editors, all laid out.
CSpreadSheet::CSpreadSheet(QWidget* parent) : QWidget(parent) {
  setWindowTitle(QStringLiteral("TZELSpreadSheet"));
  setObjectName(QStringLiteral("TZELSpreadSheet"));
  setAttribute(Qt::WA_OpaquePaintEvent);
  setCursor(Qt::ArrowCursor);
  // Reached by Tab from the dialog; clicks leave the focus with the editor.
  setFocusPolicy(Qt::TabFocus);
  setMouseTracking(true);

  corner_ = new QWidget(this);
  corner_->setObjectName(QStringLiteral("SEWnd"));
  corner_->setWindowTitle(QStringLiteral("SEWnd"));
  corner_->setProperty("controlId", kCornerBoxId);
  corner_->setEnabled(false);
  corner_->setAutoFillBackground(true);
  corner_->setBackgroundRole(QPalette::Button);

  vbar_ = new QScrollBar(Qt::Vertical, this);
  hbar_ = new QScrollBar(Qt::Horizontal, this);
  vbar_->setProperty("controlId", kVertScrollBarId);
  hbar_->setProperty("controlId", kHorzScrollBarId);
  for (QScrollBar* bar : {vbar_, hbar_}) {
    bar->setFocusPolicy(Qt::NoFocus);
    bar->setRange(0, 0);
    bar->setSingleStep(1);
    bar->setPageStep(1);
  }
  corner_->raise();
  connect(vbar_, &QScrollBar::actionTriggered, this, [this](int action) { OnBarAction(true, action); });
  connect(hbar_, &QScrollBar::actionTriggered, this, [this](int action) { OnBarAction(false, action); });
  connect(vbar_, &QScrollBar::sliderReleased, this,
          [this] { OnVScroll(ScrollCode::ThumbPosition, vbar_->sliderPosition()); });
  connect(hbar_, &QScrollBar::sliderReleased, this,
          [this] { OnHScroll(ScrollCode::ThumbPosition, hbar_->sliderPosition()); });

  edit_ = new CCellEdit(this);
  combo_ = new CCellCombo(this, true);
  listCombo_ = new CCellCombo(this, false);
  currentCombo_ = combo_;
  for (CCellCombo* combo : {combo_, listCombo_}) {
    connect(combo, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this, combo](int index) { OnComboIndexChanged(combo, index); });
  }

  const int extent = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, vbar_);
  model_.SetScrollBarMetrics(extent, extent);
  model_.SetDefaultCellHeight(RowHeightForFont(font()));

  // The focus widget before each change, so that arrival can tell where it came from.
  lastFocus_ = QApplication::focusWidget();
  focusTracking_ = connect(qApp, &QApplication::focusChanged, this,
                           [this](QWidget*, QWidget* now) { lastFocus_ = now; });
  Layout();
}

// Cuts the children off before the base class tears them down.
CSpreadSheet::~CSpreadSheet() {
  // The children outlive this part of the object: their focus changes during
  // the base class's teardown must not reach it.
  busy_ = true;
  disconnect(focusTracking_);
  edit_->Detach();
  combo_->Detach();
  listCombo_->Detach();
  combo_->disconnect(this);
  listCombo_->disconnect(this);
  vbar_->disconnect(this);
  hbar_->disconnect(this);
}

// ---- Set-up

// Places the grid in its dialog, over a placeholder control when one is named.
bool CSpreadSheet::Create(QWidget* parent, const QRect& rect, int placeholderId, bool bordered) {
  if (!parent) return false;
  QWidget* placeholder = placeholderId >= 1 ? FindControl(parent, placeholderId) : nullptr;
  if (placeholder) return Create(parent, placeholder, bordered);
  border_ = bordered ? 1 : 0;
  setParent(parent);
  setGeometry(rect);
  show();
  Layout();
  return true;
}

// Places the grid in its dialog where the placeholder control was.
bool CSpreadSheet::Create(QWidget* parent, QWidget* placeholder, bool bordered) {
  if (!parent) return false;
  border_ = bordered ? 1 : 0;
  setParent(parent);
  if (placeholder) {
    const QPoint topLeft = placeholder->parentWidget()
                               ? placeholder->parentWidget()->mapTo(parent, placeholder->pos())
                               : placeholder->pos();
    setGeometry(QRect(topLeft, placeholder->size()));
    // A placeholder in a layout hands its place over, so the grid follows resizes.
    QWidget* holder = placeholder->parentWidget();
    if (holder && holder->layout()) {
      if (QLayoutItem* old = holder->layout()->replaceWidget(placeholder, this)) delete old;
    }
    placeholder->hide();
  }
  show();
  Layout();
  return true;
}

// Makes the cell table once, rows sized for the grid's font.
bool CSpreadSheet::AllocateCells(int rows, int cols) {
  model_.SetDefaultCellHeight(RowHeightForFont(font()));
  if (!model_.AllocateCells(rows, cols)) {
    ShowError(model_.LastError());
    return false;
  }
  Redraw();
  return true;
}

// Shows or hides the vertical bar and lays the panes out again.
void CSpreadSheet::ShowVertScrollBar(bool show) {
  if (show == model_.VertBarShown()) return;
  model_.SetVertBarShown(show);
  Layout();
  update();
}

// Shows or hides the horizontal bar and lays the panes out again.
void CSpreadSheet::ShowHorzScrollBar(bool show) {
  if (show == model_.HorzBarShown()) return;
  model_.SetHorzBarShown(show);
  Layout();
  update();
}

// Sets the vertical range and hands it to the bar.
void CSpreadSheet::SetVertScrollRange(int min, int max) {
  const bool moved = model_.SetVertScrollRange(min, max);
  SyncVertBar();
  if (moved) {
    InvalidateClient(model_.VertScrollStrip());
    SyncEditorPlacement();
  }
}

// Sets the horizontal range and hands it to the bar.
void CSpreadSheet::SetHorzScrollRange(int min, int max) {
  const bool moved = model_.SetHorzScrollRange(min, max);
  SyncHorzBar();
  if (moved) {
    InvalidateClient(model_.HorzScrollStrip());
    SyncEditorPlacement();
  }
}

// Sets the vertical page step.
void CSpreadSheet::SetRowsPerPage(int n) {
  model_.SetRowsPerPage(n);
  SyncVertBar();
}

// Sets the horizontal page step.
void CSpreadSheet::SetColsPerPage(int n) {
  model_.SetColsPerPage(n);
  SyncHorzBar();
}

// Sets a column's width and fits an open editor to it.
void CSpreadSheet::SetColumnWidth(int col, double width, bool inDialogUnits) {
  const double pixels = inDialogUnits ? width * DialogBaseUnitX() * 0.25 : width;
  if (!std::isfinite(pixels)) return;
  const double limited = std::clamp(pixels, 0.0, static_cast<double>(kMaxCellExtent));
  model_.SetColumnWidth(col, static_cast<int>(limited));
  SyncEditorPlacement();
  Redraw();
}

// ---- Rows

// Inserts a row of default cells and follows the scroll rule.
bool CSpreadSheet::InsertRow(int at) {
  if (!model_.InsertRow(at)) {
    ShowError(model_.LastError());
    return false;
  }
  SyncVertBar();
  SyncEditorPlacement();
  if (model_.redrawOnChange) Redraw();
  return true;
}

// Deletes a row and follows the scroll rule.
bool CSpreadSheet::DeleteRow(int at) {
  if (!model_.DeleteRow(at)) return false;
  SyncVertBar();
  SyncEditorPlacement();
  if (model_.redrawOnChange) Redraw();
  return true;
}

// ---- Attributes

// Applies an attribute number under the broadcast rule and repaints.
void CSpreadSheet::SetCellAttr(int row, int col, int attribute, uint32_t value, int32_t extra) {
  model_.SetCellAttr(row, col, attribute, value, extra);
  if (attribute == kAttrWidth || attribute == kAttrHeight) SyncEditorPlacement();
  Redraw();
}

// Sets the kind (and text capacity) of the named cells.
void CSpreadSheet::SetCellKind(int row, int col, int kind, int textCapacity) {
  SetCellAttr(row, col, kAttrKind, static_cast<uint32_t>(kind), textCapacity);
}

// Sets the font of the named cells, raising rows that are too low for it.
void CSpreadSheet::SetCellFont(int row, int col, const QFont& font) {
  const int32_t slot = RegisterFont(font);
  const int needed = RowHeightForFont(font);
  model_.ForEachTarget(row, col, [&](CSheetCell& cell) {
    cell.font = slot;
    // Text in a taller font than the row was made for would be cut off.
    cell.height = std::max(cell.height, needed);
  });
  model_.UpdateLayout();
  SyncEditorPlacement();
  Redraw();
}

// Sets the text-drawing flags of the named cells.
void CSpreadSheet::SetCellFormat(int row, int col, uint32_t textFormat) {
  SetCellAttr(row, col, kAttrTextFormat, textFormat);
}

// Sets the fill colour of the named cells.
void CSpreadSheet::SetCellBackColour(int row, int col, Color colour) {
  SetCellAttr(row, col, kAttrBackColour, colour);
}

// Sets the caller's value of the named cells.
void CSpreadSheet::SetCellData(int row, int col, uint32_t data) {
  model_.SetCellAttr(row, col, kAttrItemData, data);
}

// Locks or unlocks the named cells.
void CSpreadSheet::SetCellLocked(int row, int col, bool locked) {
  SetCellAttr(row, col, kAttrLocked, locked ? 1u : 0u);
}

// Sets the decimals of the named Number cells.
void CSpreadSheet::SetCellDecimals(int row, int col, int decimals) {
  SetCellAttr(row, col, kAttrDecimals, static_cast<uint32_t>(decimals));
}

// Sets the border bits of the named cells.
void CSpreadSheet::SetCellBorders(int row, int col, uint32_t borders) {
  SetCellAttr(row, col, kAttrBorders, borders);
}

// Sets the list offered by the named list cells.
void CSpreadSheet::SetCellChoices(int row, int col, const SheetChoiceList& choices) {
  model_.SetCellChoices(row, col, choices);
}

// Sets the item value the keyboard steps over in the named list cells.
void CSpreadSheet::SetCellSkipData(int row, int col, uint32_t skipData) {
  model_.SetCellAttr(row, col, kAttrSkipData, skipData);
}

// Sets the images of the named Button cells.
void CSpreadSheet::SetCellBitmaps(int row, int col, const std::array<QPixmap, 3>& bitmaps) {
  SetCellAttr(row, col, kAttrBitmaps, static_cast<uint32_t>(RegisterBitmaps(bitmaps)));
}

// The slot of a font in the grid's table, added when new.
int32_t CSpreadSheet::RegisterFont(const QFont& font) {
  for (size_t i = 0; i < fonts_.size(); ++i) {
    if (fonts_[i] == font) return static_cast<int32_t>(i + 1);
  }
  fonts_.push_back(font);
  return static_cast<int32_t>(fonts_.size());
}

// Adds a set of Button images and returns its slot.
int32_t CSpreadSheet::RegisterBitmaps(const std::array<QPixmap, 3>& bitmaps) {
  bitmapSets_.push_back(bitmaps);
  return static_cast<int32_t>(bitmapSets_.size());
}

// The font of a slot; the grid's own font for 0 or an unknown slot.
QFont CSpreadSheet::FontForSlot(int32_t slot) const {
  if (slot >= 1 && static_cast<size_t>(slot) <= fonts_.size()) {
    return fonts_[static_cast<size_t>(slot - 1)];
  }
  return font();
}

// The image of a set for a pressed state, or nullptr when there is none.
const QPixmap* CSpreadSheet::BitmapFor(int32_t set, int index) const {
  if (set < 1 || static_cast<size_t>(set) > bitmapSets_.size() || index < 0 || index > 2) {
    return nullptr;
  }
  const QPixmap& pixmap = bitmapSets_[static_cast<size_t>(set - 1)][static_cast<size_t>(index)];
  return pixmap.isNull() ? nullptr : &pixmap;
}

// The cell's fill colour, or kNoColour.
Color CSpreadSheet::GetCellBackColour(int row, int col) const {
  return model_.GetCellBackColour(row, col);
}

// The cell's caller value, or 0.
uint32_t CSpreadSheet::GetCellData(int row, int col) const { return model_.GetCellData(row, col); }
// Row height and column width, -1 when they do not exist.
int CSpreadSheet::GetRowHeight(int row) const { return model_.GetRowHeight(row); }
int CSpreadSheet::GetColumnWidth(int col) const { return model_.GetColumnWidth(col); }

// Whether a store changed the cell since its mark was cleared.
bool CSpreadSheet::IsCellModified(int row, int col) const {
  const CSheetCell* cell = model_.Cell(row, col);
  return cell && cell->modified;
}

// Sets the colour of the lines between cells.
void CSpreadSheet::SetGridLineColour(Color colour) {
  model_.gridLineColour = colour;
  Redraw();
}

// Sets the frozen rows and columns at the edges.
void CSpreadSheet::SetFixedCells(int leftCols, int rightCols, int topRows, int bottomRows) {
  model_.SetFixedCells(leftCols, rightCols, topRows, bottomRows);
  SyncVertBar();
  SyncHorzBar();
  SyncEditorPlacement();
  update();
}

// Takes an object to destroy with the grid.
void CSpreadSheet::AddOwnedObject(std::unique_ptr<SheetOwnedObject> object) {
  model_.AddOwnedObject(std::move(object));
}

// ---- Values

// Stores a text, runs the change hook, and reloads an open editor if asked.
bool CSpreadSheet::SetCellText(int row, int col, const QString& text, bool refreshEditor) {
  const SheetModel::Store result = model_.SetText(row, col, text);
  if (result == SheetModel::Store::NoCell || result == SheetModel::Store::Refused) return false;
  if (result == SheetModel::Store::Changed) OnCellChanged(row, col);
  const CellPos current = model_.Current();
  if (refreshEditor && current.row == row && current.col == col && (IsEditOpen() || IsComboOpen())) {
    LoadEditor();
  }
  return true;
}

// Stores a UTF-8 text.
bool CSpreadSheet::SetCellText(int row, int col, const char* text, bool refreshEditor) {
  return SetCellText(row, col, QString::fromUtf8(text ? text : ""), refreshEditor);
}

// Stores a number, runs the change hook, and reloads the editor if asked.
bool CSpreadSheet::SetCellNumber(int row, int col, double value, bool refreshEditor) {
  const SheetModel::Store result = model_.SetNumber(row, col, value);
  if (result == SheetModel::Store::NoCell || result == SheetModel::Store::Refused) return false;
  if (result == SheetModel::Store::Changed) OnCellChanged(row, col);
  const CellPos current = model_.Current();
  if (refreshEditor && current.row == row && current.col == col) LoadEditor();
  return true;
}

// Reads a cell's display text, storing its open editor first if asked.
bool CSpreadSheet::GetCellText(int row, int col, QString& text, int size, bool commitFirst) {
  const CellPos current = model_.Current();
  if (commitFirst && current.row == row && current.col == col) EndEdit();
  return model_.GetText(row, col, text, size);
}

// Reads a Number cell, storing its open editor first if asked.
bool CSpreadSheet::GetCellNumber(int row, int col, double& value, bool commitFirst) {
  const CellPos current = model_.Current();
  if (commitFirst && current.row == row && current.col == col) EndEdit();
  return model_.GetNumber(row, col, value);
}

// Reads a Number cell truncated toward zero into 32 bits.
bool CSpreadSheet::GetCellNumber(int row, int col, int32_t& value, bool commitFirst) {
  double v = 0.0;
  if (!model_.IsValidCell(row, col)) return false;
  const bool ok = GetCellNumber(row, col, v, commitFirst);
  const double t = std::trunc(v);
  value = static_cast<int32_t>(std::clamp(t, static_cast<double>(std::numeric_limits<int32_t>::min()),
                                          static_cast<double>(std::numeric_limits<int32_t>::max())));
  return ok;
}

// Reads a Number cell truncated toward zero into 32 unsigned bits.
bool CSpreadSheet::GetCellNumber(int row, int col, uint32_t& value, bool commitFirst) {
  double v = 0.0;
  if (!model_.IsValidCell(row, col)) return false;
  const bool ok = GetCellNumber(row, col, v, commitFirst);
  const double t = std::trunc(v);
  value = static_cast<uint32_t>(
      std::clamp(t, 0.0, static_cast<double>(std::numeric_limits<uint32_t>::max())));
  return ok;
}

// A cell's display text, or "" when it does not exist.
QString CSpreadSheet::CellText(int row, int col) const {
  QString text;
  model_.GetText(row, col, text, kMaxEditorText + 1);
  return text;
}

// Stores the open editor's text into the active cell, leaving it open; false
// when a Number cell refused the text.
bool CSpreadSheet::EndEdit() {
  const CellPos current = model_.Current();
  const CSheetCell* cell = model_.Cell(current.row, current.col);
  if (!cell) return true;
  if (IsTextKind(cell->kind)) {
    if (IsEditOpen() && EditTextRefused()) {
      CommitEdit(current.row, current.col);
      return false;
    }
    if (IsEditOpen()) CommitEdit(current.row, current.col);
  } else if (IsListKind(cell->kind)) {
    if (IsComboOpen()) CommitCombo(current.row, current.col);
  }
  return true;
}

// A Number cell with a refusal handler takes only a whole number (or nothing).
bool CSpreadSheet::EditTextRefused() const {
  if (!numberRefusal_ || !IsEditOpen()) return false;
  const CellPos current = model_.Current();
  const CSheetCell* cell = model_.Cell(current.row, current.col);
  if (!cell || cell->kind != kCellNumber) return false;
  const QString text = edit_->text().left(kMaxEditorText).trimmed();
  double value = 0.0;
  return !text.isEmpty() && !ParseWholeNumber(text, value);
}

// ---- View

// Scrolls the cell into view and repaints what moved.
bool CSpreadSheet::EnsureVisible(int row, int col) {
  SheetModel::ViewChange change;
  if (!model_.EnsureVisible(row, col, &change)) return false;
  ApplyViewChange(change);
  if (change.top || change.left) SyncEditorPlacement();
  return true;
}

// Moves the bars and repaints the strips a scroll changed.
void CSpreadSheet::ApplyViewChange(const SheetModel::ViewChange& change) {
  if (change.top) {
    SyncVertBar();
    InvalidateClient(model_.VertScrollStrip());
  }
  if (change.left) {
    SyncHorzBar();
    InvalidateClient(model_.HorzScrollStrip());
  }
}

// Repaints the client area less the scroll bars, without erasing.
void CSpreadSheet::Redraw() { InvalidateClient(model_.CellArea()); }

// Repaints part of the client area later, without erasing.
void CSpreadSheet::InvalidateClient(const SheetRect& rect) {
  if (rect.IsEmpty()) return;
  update(ToQRect(rect).translated(border_, border_));
}

// Top-left corner of a cell in client coordinates.
bool CSpreadSheet::CellOrigin(int row, int col, int& x, int& y) const {
  return model_.CellOrigin(row, col, x, y);
}

// Finds the cell under a client point.
bool CSpreadSheet::HitTest(const QPoint& p, int& row, int& col, int& cellLeft,
                           int& cellTop) const {
  return model_.HitTest(p.x(), p.y(), row, col, cellLeft, cellTop);
}

// The client area, inside the border.
QRect CSpreadSheet::ClientRect() const {
  return QRect(0, 0, std::max(0, width() - 2 * border_), std::max(0, height() - 2 * border_));
}

// A client point in the widget's own coordinates.
QPoint CSpreadSheet::ClientToWidget(const QPoint& p) const { return p + QPoint(border_, border_); }

// A cell's pixels in the widget's own coordinates.
QRect CSpreadSheet::CellRectInWidget(int row, int col) const {
  return ToQRect(model_.CellRect(row, col)).translated(border_, border_);
}

// The horizontal dialog base unit of the grid's font.
int CSpreadSheet::DialogBaseUnitX() const {
  return std::max(1, QFontMetrics(font()).averageCharWidth());
}

// The palette's button colour as a 0x00BBGGRR value.
Color CSpreadSheet::ButtonFaceColour() const {
  const QColor c = palette().color(QPalette::Button);
  return RGBColor(c.red(), c.green(), c.blue());
}

// The height a row needs for a line of text in the font.
int CSpreadSheet::RowHeightForFont(const QFont& font) {
  // The cells' 20 pixels hold 16-pixel text with room for the grid line and
  // the editor's frame; other fonts keep the same margin.
  return QFontMetrics(font).height() + 4;
}

// Places the bars and the corner box and recomputes the panes.
void CSpreadSheet::Layout() {
  const QRect client = ClientRect();
  model_.SetClientSize(client.width(), client.height());
  const int w = client.width();
  const int h = client.height();
  const int cx = model_.SystemVertBarWidth();
  const int cy = model_.SystemHorzBarHeight();
  const bool showV = model_.VertBarShown();
  const bool showH = model_.HorzBarShown();
  const QPoint o(border_, border_);
  if (showV) vbar_->setGeometry(QRect(o + QPoint(w - cx - 1, 0), QSize(cx + 1, showH ? h - cy : h)));
  if (showH) hbar_->setGeometry(QRect(o + QPoint(0, h - cy - 1), QSize(showV ? w - cx - 1 : w - 1, cy + 1)));
  vbar_->setVisible(showV);
  hbar_->setVisible(showH);
  if (showV && showH) {
    corner_->setGeometry(QRect(o + QPoint(w - cx - 2, h - cy - 2), QSize(cx + 1, cy + 1)));
    corner_->show();
    corner_->raise();
  } else {
    corner_->hide();
  }
  SyncEditorPlacement();
}

// Shows the vertical range, page and position on the bar.
void CSpreadSheet::SyncVertBar() {
  const QSignalBlocker block(vbar_);
  vbar_->setRange(model_.VertScrollMin(), model_.VertScrollMax());
  vbar_->setPageStep(model_.RowsPerPage());
  vbar_->setValue(model_.VertScrollPos());
}

// Shows the horizontal range, page and position on the bar.
void CSpreadSheet::SyncHorzBar() {
  const QSignalBlocker block(hbar_);
  hbar_->setRange(model_.HorzScrollMin(), model_.HorzScrollMax());
  hbar_->setPageStep(model_.ColsPerPage());
  hbar_->setValue(model_.HorzScrollPos());
}

// Turns a scroll bar action into a scroll request.
void CSpreadSheet::OnBarAction(bool vertical, int action) {
  QScrollBar* bar = vertical ? vbar_ : hbar_;
  ScrollCode code = ScrollCode::EndScroll;
  switch (action) {
    case QAbstractSlider::SliderSingleStepAdd: code = ScrollCode::LineDown; break;
    case QAbstractSlider::SliderSingleStepSub: code = ScrollCode::LineUp; break;
    case QAbstractSlider::SliderPageStepAdd: code = ScrollCode::PageDown; break;
    case QAbstractSlider::SliderPageStepSub: code = ScrollCode::PageUp; break;
    case QAbstractSlider::SliderToMinimum: code = ScrollCode::Top; break;
    case QAbstractSlider::SliderToMaximum: code = ScrollCode::Bottom; break;
    case QAbstractSlider::SliderMove: code = ScrollCode::ThumbTrack; break;
    default: return;
  }
  const int track = bar->sliderPosition();
  if (vertical) {
    OnVScroll(code, track);
    // The bar applies its proposed position after this signal; make it ours.
    if (code != ScrollCode::ThumbTrack) bar->setSliderPosition(model_.VertScrollPos());
  } else {
    OnHScroll(code, track);
    bar->setSliderPosition(model_.HorzScrollPos());
  }
}

// Stores and closes the editors, then scrolls vertically.
void CSpreadSheet::OnVScroll(ScrollCode code, int trackPos) {
  CloseEditors();
  const bool moved = model_.VScroll(code, trackPos);
  if (code != ScrollCode::ThumbTrack) SyncVertBar();
  if (moved) InvalidateClient(model_.VertScrollStrip());
}

// Stores and closes the editors, then scrolls horizontally.
void CSpreadSheet::OnHScroll(ScrollCode code, int trackPos) {
  CloseEditors();
  const bool moved = model_.HScroll(code, trackPos);
  SyncHorzBar();
  if (moved) InvalidateClient(model_.HorzScrollStrip());
}

// ---- Events

// Takes Tab for cell moves before the dialog's focus chain sees it.
bool CSpreadSheet::event(QEvent* event) {
  // Tab on the grid itself (after a Button cell took the focus) moves the
  // active cell instead of leaving the grid.
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if ((key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) &&
        !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
      OnEditKey(key->key(), key->modifiers());
      return true;
    }
  }
  return QWidget::event(event);
}

// Paints the border, the background and the panes in the repaint area.
void CSpreadSheet::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  const Color face = ButtonFaceColour();
  if (border_ > 0) {
    painter.setPen(Qt::black);
    painter.drawRect(0, 0, width() - 1, height() - 1);
  }
  const QRect client = ClientRect();
  const QRegion area = event->region().translated(-border_, -border_).intersected(client);
  if (area.isEmpty()) return;
  painter.translate(border_, border_);
  painter.setClipRegion(area);
  // The window's own background, under panes that do not cover everything.
  painter.fillRect(area.boundingRect(), ToQColor(face));
  QtSheetCanvas canvas(painter, area, *this);
  const QRect box = area.boundingRect();
  model_.Paint(canvas, {box.left(), box.top(), box.right() + 1, box.bottom() + 1}, face);
}

// Lays the children and panes out for the new size.
void CSpreadSheet::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Layout();
}

// Follows a change of the grid's font.
void CSpreadSheet::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  // Rows made from now on fit the grid's new font.
  if (event->type() == QEvent::FontChange) model_.SetDefaultCellHeight(RowHeightForFont(font()));
}

// Maps a button press to the cell hooks.
void CSpreadSheet::mousePressEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint() - QPoint(border_, border_);
  int row = -1, col = -1, left = 0, top = 0;
  const bool hit = model_.HitTest(p.x(), p.y(), row, col, left, top);
  if (event->button() == Qt::LeftButton) {
    inMousePress_ = true;
    if (hit) {
      OnCellLButtonDown(row, col, left, top);
    } else if (capturing_) {
      OnCellLButtonDown(-1, -1, 0, 0);
    }
    inMousePress_ = false;
  } else if (event->button() == Qt::RightButton && hit) {
    OnCellRButtonDown(row, col, left, top);
  }
}

// Maps a button release to the cell hooks.
void CSpreadSheet::mouseReleaseEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint() - QPoint(border_, border_);
  int row = -1, col = -1, left = 0, top = 0;
  const bool hit = model_.HitTest(p.x(), p.y(), row, col, left, top);
  if (event->button() == Qt::LeftButton) {
    if (hit) {
      OnCellLButtonUp(row, col, left, top);
    } else if (capturing_) {
      OnCellLButtonUp(-1, -1, 0, 0);
    }
  } else if (event->button() == Qt::RightButton && hit) {
    OnCellRButtonUp(row, col, left, top);
  }
}

// Maps pointer moves to the cell hooks.
void CSpreadSheet::mouseMoveEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint() - QPoint(border_, border_);
  int row = -1, col = -1, left = 0, top = 0;
  const uint32_t flags = MouseFlags(event->buttons(), event->modifiers());
  if (model_.HitTest(p.x(), p.y(), row, col, left, top)) {
    OnCellMouseMove(row, col, left, top, flags);
    OnCellMouseMoveExtra(row, col, left, top, flags);
  } else if (capturing_) {
    OnCellMouseMove(-1, -1, 0, 0, flags);
    OnCellMouseMoveExtra(-1, -1, 0, 0, flags);
  }
}

// Maps a double click to its hook.
void CSpreadSheet::mouseDoubleClickEvent(QMouseEvent* event) {
  // Only the hook: a double click is not a second press of a Button cell.
  if (event->button() != Qt::LeftButton) return;
  const QPoint p = event->position().toPoint() - QPoint(border_, border_);
  int row = -1, col = -1, left = 0, top = 0;
  if (model_.HitTest(p.x(), p.y(), row, col, left, top)) OnCellLButtonDblClk(row, col, left, top);
}

// Scrolls by lines for the mouse wheel.
void CSpreadSheet::wheelEvent(QWheelEvent* event) {
  wheelRemainder_ += event->angleDelta().y();
  const int lines = std::max(1, QApplication::wheelScrollLines());
  while (std::abs(wheelRemainder_) >= 120) {
    const bool up = wheelRemainder_ > 0;
    wheelRemainder_ += up ? -120 : 120;
    for (int i = 0; i < lines; ++i) OnVScroll(up ? ScrollCode::LineUp : ScrollCode::LineDown);
  }
  event->accept();
}

// Activates a cell or passes the focus on, by where the focus came from.
void CSpreadSheet::focusInEvent(QFocusEvent* event) {
  QWidget::focusInEvent(event);
  QWidget* from = lastFocus_.data();
  if (busy_) return;
  if (QApplication::mouseButtons() != Qt::NoButton || inMousePress_) return;
  if (from && isAncestorOf(from)) return;
  if (!from || from == parentWidget() || !from->isVisible()) {
    // Back from a closed window or from nowhere: the cell is activated again
    // and the focus moves on, as it would have from the dialog.
    const CellPos current = model_.Current();
    SetCurrentCell(current.row, current.col);
    PassFocus(true);
    return;
  }
  const bool backwards = event->reason() == Qt::BacktabFocusReason ||
                         (QGuiApplication::keyboardModifiers() & Qt::ShiftModifier);
  const CellPos target = model_.FirstFreeCell(backwards);
  if (target.IsNone()) {
    PassFocus(true);
  } else {
    SetCurrentCell(target.row, target.col);
  }
}

// ---- Mouse hooks

// Presses a Button cell and activates the clicked cell.
void CSpreadSheet::OnCellLButtonDown(int row, int col, int cellLeft, int cellTop) {
  CSheetCell* cell = model_.Cell(row, col);
  if (!cell || cell->locked) return;
  if (cell->kind == kCellButton) {
    cell->pressed = 1;
    if (!hasFocus()) setFocus(Qt::MouseFocusReason);
    capturing_ = true;
    InvalidateClient(model_.CellRect(row, col));
  }
  ActivateCell(row, col, cellLeft, cellTop);
}

// Releases a pressed Button cell, notifying when released over it.
void CSpreadSheet::OnCellLButtonUp(int row, int col, int cellLeft, int cellTop) {
  capturing_ = false;
  const CellPos current = model_.Current();
  CSheetCell* cell = model_.Cell(current.row, current.col);
  if (cell && cell->kind == kCellButton && cell->pressed) {
    cell->pressed = 0;
    InvalidateClient(model_.CellRect(current.row, current.col));
    if (row == current.row && col == current.col) OnButtonCellClicked(row, col, cellLeft, cellTop);
  }
}

// Shows a held Button cell pressed only while the pointer is over it.
void CSpreadSheet::OnCellMouseMove(int row, int col, int, int, uint32_t keyFlags) {
  if (!capturing_ || !(keyFlags & kMouseLeftButton)) return;
  const CellPos current = model_.Current();
  CSheetCell* cell = model_.Cell(current.row, current.col);
  if (!cell || cell->kind != kCellButton) return;
  const bool over = row == current.row && col == current.col;
  if (over == (cell->pressed != 0)) return;
  cell->pressed = over ? 1 : 0;
  InvalidateClient(model_.CellRect(current.row, current.col));
}

// Tells the parent that a Button cell was clicked.
void CSpreadSheet::OnButtonCellClicked(int row, int col, int, int) { emit buttonClicked(row, col); }

// ---- Keyboard

// Acts on a key handed over by an editor.
void CSpreadSheet::OnEditKey(int key, Qt::KeyboardModifiers modifiers) {
  const bool shift = modifiers & Qt::ShiftModifier;
  switch (key) {
    case Qt::Key_Tab: Move(shift ? MoveDirection::Left : MoveDirection::Right); break;
    case Qt::Key_Backtab: Move(MoveDirection::Left); break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      // Stores the cell, which stays active.
      EndEdit();
      break;
    case Qt::Key_Left: Move(MoveDirection::Left); break;
    case Qt::Key_Right: Move(MoveDirection::Right); break;
    case Qt::Key_Up: Move(MoveDirection::Up); break;
    case Qt::Key_Down: Move(MoveDirection::Down); break;
    default: break;
  }
}

// Moves the active cell inside its block or passes the focus on.
void CSpreadSheet::Move(MoveDirection direction) {
  const CellPos target =
      model_.FindMoveTarget(direction, [this](bool forward) { return PassFocus(forward); });
  if (!target.IsNone()) SetCurrentCell(target.row, target.col);
}

// The next (previous) control in the dialog's Tab order, or nullptr.
QWidget* CSpreadSheet::FindTabNeighbour(bool forward) const {
  QWidget* w = const_cast<CSpreadSheet*>(this);
  // The focus chain is a ring; the bound only guards against a broken one.
  for (int guard = 0; guard < 100000; ++guard) {
    w = forward ? w->nextInFocusChain() : w->previousInFocusChain();
    if (!w || w == this) return nullptr;
    if (isAncestorOf(w) || w->window() != window()) continue;
    if ((w->focusPolicy() & Qt::TabFocus) && !w->focusProxy() && w->isEnabled() &&
        w->isVisibleTo(window())) {
      return w;
    }
  }
  return nullptr;
}

// Stores the editor and gives the focus to the neighbouring control.
bool CSpreadSheet::PassFocus(bool forward) {
  QWidget* target = FindTabNeighbour(forward);
  if (!target) return false;
  const bool wasBusy = busy_;
  busy_ = true;
  if (!EndEdit()) {
    // A refused text keeps the cell, and the focus, where they are.
    busy_ = wasBusy;
    return true;
  }
  // The editors have been stored once; their focus loss must not store again.
  target->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
  currentCombo_->hidePopup();
  HideEditor(edit_);
  HideEditor(currentCombo_);
  busy_ = wasBusy;
  return true;
}

// Gives a window the focus once the current event is handled.
void CSpreadSheet::SetFocusLater(QWidget* window) {
  QPointer<QWidget> target(window);
  QTimer::singleShot(0, this, [target] {
    if (target) target->setFocus(Qt::OtherFocusReason);
  });
}

// ---- Editors

// Whether the edit line (the current combo) is open over the active cell.
bool CSpreadSheet::IsEditOpen() const { return !edit_->isHidden(); }
bool CSpreadSheet::IsComboOpen() const { return !currentCombo_->isHidden(); }

// Activates a cell at its current position.
void CSpreadSheet::SetCurrentCell(int row, int col) {
  int x = 0;
  int y = 0;
  model_.CellOrigin(row, col, x, y);
  ActivateCell(row, col, x, y);
}

// Stores the old cell's editor, makes the cell active and opens its editor.
void CSpreadSheet::ActivateCell(int row, int col, int, int) {
  const bool wasBusy = busy_;
  busy_ = true;
  const CellPos old = model_.Current();
  if (const CSheetCell* oldCell = model_.Cell(old.row, old.col)) {
    if (IsTextKind(oldCell->kind) && IsEditOpen() && EditTextRefused()) {
      // The refused text stays in its cell, which stays active (a click on
      // that same cell just goes on editing).
      if (old.row != row || old.col != col) CommitEdit(old.row, old.col);
      busy_ = wasBusy;
      return;
    }
    if (IsTextKind(oldCell->kind) && IsEditOpen()) {
      CommitEdit(old.row, old.col);
    } else if (IsListKind(oldCell->kind) && IsComboOpen()) {
      CommitCombo(old.row, old.col);
    }
  }
  model_.SetCurrent(row, col);
  const CSheetCell* cell = model_.Cell(row, col);
  if (!cell) {
    // No active cell: nothing stays open over a cell it no longer edits.
    HideEditor(edit_);
    HideEditor(currentCombo_);
    busy_ = wasBusy;
    return;
  }
  SheetModel::ViewChange change;
  model_.EnsureVisible(row, col, &change);
  ApplyViewChange(change);
  int x = 0;
  int y = 0;
  model_.CellOrigin(row, col, x, y);
  if (IsTextKind(cell->kind)) {
    HideEditor(currentCombo_);
    OpenEdit(x, y);
  } else if (IsListKind(cell->kind)) {
    HideEditor(edit_);
    OpenCombo(x, y);
  } else {
    HideEditor(edit_);
    HideEditor(currentCombo_);
  }
  busy_ = wasBusy;
}

// Lays an editor over a cell.
void CSpreadSheet::PlaceEditor(QWidget* editor, int x, int y, const CSheetCell& cell) {
  // One pixel up and left, one larger: the editor covers the cell's grid lines.
  editor->setGeometry(QRect(ClientToWidget(QPoint(x - 1, y - 1)),
                            QSize(cell.width + 1, cell.height + 1)));
}

// Opens the edit line over the active cell and gives it the focus.
void CSpreadSheet::OpenEdit(int x, int y) {
  const CellPos current = model_.Current();
  const CSheetCell* cell = model_.Cell(current.row, current.col);
  if (!cell) return;
  // Kept (not re-created) so that a key handler of the editor that led here
  // is not left running on a deleted window; a fresh text clears its undo.
  edit_->setFont(FontForSlot(cell->font));
  edit_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  PlaceEditor(edit_, x, y, *cell);
  edit_->show();
  edit_->raise();
  LoadEditor();
  edit_->setFocus(Qt::OtherFocusReason);
  edit_->selectAll();
}

// Opens the right combo box over the active cell and gives it the focus.
void CSpreadSheet::OpenCombo(int x, int y) {
  const CellPos current = model_.Current();
  const CSheetCell* cell = model_.Cell(current.row, current.col);
  if (!cell) return;
  CCellCombo* next = cell->kind == kCellDropList ? listCombo_ : combo_;
  currentCombo_->hidePopup();
  if (next != currentCombo_) HideEditor(currentCombo_);
  currentCombo_ = next;
  currentCombo_->setFont(FontForSlot(cell->font));
  PlaceEditor(currentCombo_, x, y, *cell);
  // The room of the open list, in whole items.
  const int itemHeight = std::max(1, QFontMetrics(currentCombo_->font()).height() + 2);
  currentCombo_->setMaxVisibleItems(std::max(1, cell->dropHeight / itemHeight));
  currentCombo_->show();
  currentCombo_->raise();
  LoadEditor();
  currentCombo_->setFocus(Qt::OtherFocusReason);
}

// Fills the open editor from the active cell.
void CSpreadSheet::LoadEditor() {
  const CellPos current = model_.Current();
  const CSheetCell* cell = model_.Cell(current.row, current.col);
  if (!cell) return;
  if (cell->kind == kCellText) {
    // The editor takes what the cell can store, no more.
    edit_->setMaxLength(std::max(0, cell->textCapacity - 1));
    edit_->setText(cell->DisplayText(kMaxEditorText + 1));
  } else if (cell->kind == kCellNumber) {
    const QString text = cell->EditText();
    // A value wider than the typing limit still loads whole.
    edit_->setMaxLength(std::max<int>(kNumberEditLimit, static_cast<int>(text.size())));
    edit_->setText(text);
  } else if (IsListKind(cell->kind)) {
    LoadCombo(*cell);
  }
}

// Fills the current combo with the cell's choices and selects its text.
void CSpreadSheet::LoadCombo(const CSheetCell& cell) {
  CCellCombo* combo = currentCombo_;
  loadingCombo_ = true;
  {
    const QSignalBlocker block(combo);
    combo->clear();
    if (cell.choices) {
      for (const SheetChoice& choice : *cell.choices) {
        combo->addItem(choice.text.left(kMaxEditorText), QVariant::fromValue(choice.data));
      }
    }
    const QString text = cell.DisplayText(kMaxEditorText + 1);
    const int index = combo->findText(text, Qt::MatchFixedString);
    combo->setCurrentIndex(index);
    if (index < 0) {
      if (combo->isEditable()) {
        combo->setEditText(text);
      } else {
        combo->setPlaceholderText(text);
      }
    }
  }
  loadingCombo_ = false;
}

// Stores the edit line's text into the cell and tells the parent at once.
bool CSpreadSheet::CommitEdit(int row, int col) {
  const CSheetCell* cell = model_.Cell(row, col);
  if (!cell || !IsEditOpen()) return false;
  const QString text = edit_->text().left(kMaxEditorText);
  const CellPos current = model_.Current();
  if (current.row == row && current.col == col && EditTextRefused()) {
    // Not stored: the user is told and goes on typing in the cell.
    const QString typed = edit_->text();
    const NumberRefusal handler = numberRefusal_;
    handler(row, col, typed);
    if (IsEditOpen()) {
      edit_->setFocus(Qt::OtherFocusReason);
      edit_->setText(typed);
      edit_->selectAll();
    }
    return false;
  }
  if (cell->kind == kCellNumber) {
    SetCellNumber(row, col, text.isEmpty() ? 0.0 : ParseNumberPrefix(text), false);
  } else {
    SetCellText(row, col, text, false);
  }
  emit cellCommitted(row, col, kCommitFromEdit);
  return true;
}

// Stores the combo's text and item value and tells the parent afterwards.
bool CSpreadSheet::CommitCombo(int row, int col) {
  const CSheetCell* cell = model_.Cell(row, col);
  if (!cell || !IsComboOpen()) return false;
  QString text = currentCombo_->currentText().left(kMaxEditorText);
  // A fixed list with nothing chosen keeps the cell's own text rather than
  // wiping it with the empty field.
  if (!currentCombo_->isEditable() && currentCombo_->currentIndex() < 0) text = cell->text;
  uint32_t data = kNoItemData;
  for (int i = 0; i < currentCombo_->count(); ++i) {
    if (currentCombo_->itemText(i).compare(text, Qt::CaseInsensitive) == 0) {
      data = currentCombo_->itemData(i).toUInt();
      break;
    }
  }
  SetCellText(row, col, text, false);
  SetCellData(row, col, data);
  QMetaObject::invokeMethod(
      this, [this, row, col] { emit cellCommitted(row, col, kCommitFromCombo); },
      Qt::QueuedConnection);
  return true;
}

// Stores the value of a newly selected list item.
void CSpreadSheet::OnComboIndexChanged(CCellCombo* combo, int index) {
  if (loadingCombo_ || combo != currentCombo_ || combo->isHidden()) return;
  const CellPos current = model_.Current();
  const CSheetCell* cell = model_.Cell(current.row, current.col);
  uint32_t data = index >= 0 ? combo->itemData(index).toUInt() : kNoItemData;
  if (cell && !combo->view()->isVisible() && data != kNoItemData && data == cell->skipData &&
      index < combo->count() - 1) {
    // A marked item (a separator) is stepped over when the keyboard moves onto it.
    const QSignalBlocker block(combo);
    combo->setCurrentIndex(index + 1);
    data = combo->itemData(index + 1).toUInt();
  }
  OnComboSelChanged(current.row, current.col);
  SetCellData(current.row, current.col, data);
}

// Stores and closes the edit line when the focus leaves it.
void CSpreadSheet::OnEditFocusLost() {
  if (busy_ || !IsEditOpen()) return;
  // A text its cell refuses stays open for the user to correct (OK or a move
  // to another cell says why).
  if (EditTextRefused()) return;
  const CellPos current = model_.Current();
  CommitEdit(current.row, current.col);
  HideEditor(edit_);
}

// Stores and closes the combo when the focus leaves it.
void CSpreadSheet::OnComboFocusLost() {
  if (busy_) return;
  busy_ = true;
  const CellPos current = model_.Current();
  CommitCombo(current.row, current.col);
  currentCombo_->hidePopup();
  HideEditor(currentCombo_);
  busy_ = false;
}

// Hides an editor without sending the focus to another control.
void CSpreadSheet::HideEditor(QWidget* editor) {
  if (editor->isHidden()) return;
  QWidget* focus = QApplication::focusWidget();
  if (focus && (focus == editor || editor->isAncestorOf(focus))) {
    // Hiding the focus window would send the focus on to the next control;
    // the grid keeps it instead, quietly.
    const bool wasBusy = busy_;
    busy_ = true;
    setFocus(Qt::OtherFocusReason);
    busy_ = wasBusy;
  }
  editor->hide();
}

// Stores and closes whatever editor is open, as scrolling does.
void CSpreadSheet::CloseEditors() {
  const bool wasBusy = busy_;
  busy_ = true;
  const CellPos current = model_.Current();
  if (IsEditOpen() && !EditTextRefused()) {
    CommitEdit(current.row, current.col);
    HideEditor(edit_);
  }
  if (IsComboOpen()) {
    CommitCombo(current.row, current.col);
    currentCombo_->hidePopup();
    HideEditor(currentCombo_);
  }
  busy_ = wasBusy;
}

// Keeps an open editor over its cell after the view or the rows changed.
void CSpreadSheet::SyncEditorPlacement() {
  QWidget* open = IsEditOpen() ? static_cast<QWidget*>(edit_)
                               : (IsComboOpen() ? static_cast<QWidget*>(currentCombo_) : nullptr);
  if (!open) return;
  const CellPos current = model_.Current();
  const CSheetCell* cell = model_.Cell(current.row, current.col);
  if (!cell) {
    // Its row is gone: what was typed has no cell left to go to.
    const bool wasBusy = busy_;
    busy_ = true;
    currentCombo_->hidePopup();
    HideEditor(edit_);
    HideEditor(currentCombo_);
    busy_ = wasBusy;
    return;
  }
  if (!model_.IsCellShown(current.row, current.col)) {
    CloseEditors();
    return;
  }
  int x = 0;
  int y = 0;
  model_.CellOrigin(current.row, current.col, x, y);
  PlaceEditor(open, x, y, *cell);
}

// Closes the edit line without storing it.
void CSpreadSheet::DestroyEdit() {
  const bool wasBusy = busy_;
  busy_ = true;
  HideEditor(edit_);
  edit_->clear();
  busy_ = wasBusy;
}

// Closes the current combo without storing it.
void CSpreadSheet::DestroyCombo() {
  const bool wasBusy = busy_;
  busy_ = true;
  currentCombo_->hidePopup();
  HideEditor(currentCombo_);
  {
    const QSignalBlocker block(currentCombo_);
    currentCombo_->clear();
  }
  busy_ = wasBusy;
}

// Repaints a changed cell (every cell for a number that others may follow).
void CSpreadSheet::OnCellChanged(int row, int col) {
  if (!model_.redrawOnChange) return;
  const CSheetCell* cell = model_.Cell(row, col);
  if (!cell) return;
  if (cell->kind == kCellNumber && model_.recalcOnChange) {
    InvalidateClient(model_.CellArea());
  } else {
    InvalidateClient(model_.CellRect(row, col));
  }
}

}  // namespace kestrune
