#include "mapview/gui/LayerTablePanel.h"

#include <QApplication>

#include <algorithm>
#include <limits>

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelection>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QHelpEvent>
#include <QStyledItemDelegate>
#include <QToolTip>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include "base/Platform.h"
#include "lang/gui/LangWidgets.h"
#include "lang/LangString.h"
#include "layers/Layer.h"
#include "layers/LayerList.h"
#include "mapview/MapView.h"
#include "mapview/gui/SelectionCommands.h"

namespace kestrune {

namespace {


// The find line's operators in box order.
struct OperatorChoice {
  FindOperator op;
  const char* text;
};
const OperatorChoice kOperators[] = {
    {FindOperator::Equal, "="},          {FindOperator::NotEqual, "\u2260"},
    {FindOperator::Less, "<"},           {FindOperator::LessEqual, "\u2264"},
    {FindOperator::Greater, ">"},        {FindOperator::GreaterEqual, "\u2265"},
    {FindOperator::Contains, kLayerTableContains}, {FindOperator::IsEmpty, kLayerTableIsEmpty},
};

// Paints a cell selected when its row's record is marked, whatever the
// view's selection model holds: a selection of any size costs the painting
// of a cell nothing.
class MarkDelegate : public QStyledItemDelegate {
 public:
  explicit MarkDelegate(CLayerTablePanel* panel) : QStyledItemDelegate(panel), panel_(panel) {}

  // A cut cell's whole text as its tooltip; no tooltip for a cell shown whole.
  bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                 const QModelIndex& index) override {
    if (event && event->type() == QEvent::ToolTip) {
      const QString tip = panel_->CellToolTip(index.row(), index.column());
      if (tip.isEmpty()) {
        QToolTip::hideText();
      } else {
        QToolTip::showText(event->globalPos(), tip, view, option.rect);
      }
      return true;
    }
    return QStyledItemDelegate::helpEvent(event, view, option, index);
  }

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    option->state.setFlag(QStyle::State_Selected, panel_->IsRowMarked(index.row()));
  }

 private:
  CLayerTablePanel* panel_;
};

}  // namespace

// ---------------------------------------------------------------- selection model

// Kept as the view expects, and told to the panel.
void GestureSelectionModel::select(const QItemSelection& selection, QItemSelectionModel::SelectionFlags command) {
  QItemSelectionModel::select(selection, command);
  if (handler_) handler_(selection, command);
}

// ---------------------------------------------------------------- model

// Opens the table and starts over.
bool LayerTableItemModel::SetTable(const std::string& dbfPath) {
  beginResetModel();
  const bool ok = !dbfPath.empty() && table_.Open(dbfPath);
  if (!ok) table_.Close();
  endResetModel();
  return ok;
}

// Drops the kept rows and repaints every cell.
void LayerTableItemModel::Refresh() {
  const int rows = table_.RowCount();
  const int columns = table_.ColumnCount();
  table_.Refresh();
  if (rows != table_.RowCount() || columns != table_.ColumnCount()) {
    beginResetModel();
    endResetModel();
  } else if (rows > 0 && columns > 0) {
    emit dataChanged(index(0, 0), index(rows - 1, columns - 1));
  }
}

int LayerTableItemModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : table_.RowCount();
}

int LayerTableItemModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : table_.ColumnCount();
}

// Cell texts, read on demand; numbers to the right.
QVariant LayerTableItemModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  if (role == Qt::DisplayRole) return table_.Text(index.row(), index.column());
  if (role == Qt::TextAlignmentRole) {
    const bool number = table_.Kind(index.column()) == ColumnKind::Number;
    return QVariant::fromValue(Qt::Alignment((number ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter));
  }
  return {};
}

// Field names above, record numbers beside; a new column sorts ascending first.
QVariant LayerTableItemModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role == Qt::InitialSortOrderRole) return int(Qt::AscendingOrder);
  // The whole field name, its type letter and width, however narrow the column.
  if (role == Qt::ToolTipRole && orientation == Qt::Horizontal && section >= 0 && section < table_.ColumnCount()) {
    const DbfField& field = table_.Field(section);
    QString tip = QStringLiteral("%1 (%2 %3").arg(table_.FieldName(section), QChar(field.letter)).arg(field.length);
    if (table_.Kind(section) == ColumnKind::Number) tip += QStringLiteral(".%1").arg(field.decimals);
    return tip + QLatin1Char(')');
  }
  if (role != Qt::DisplayRole) return QAbstractTableModel::headerData(section, orientation, role);
  if (orientation == Qt::Horizontal) {
    return section >= 0 && section < table_.ColumnCount() ? table_.FieldName(section) : QVariant();
  }
  return table_.RecordAt(section);
}

// Selectable, never editable: edits belong to the Attributes dialog.
Qt::ItemFlags LayerTableItemModel::flags(const QModelIndex& index) const {
  return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags;
}

// A new order of the rows.
void LayerTableItemModel::sort(int column, Qt::SortOrder order) {
  if (column == table_.SortColumn() && (order == Qt::AscendingOrder) == table_.SortAscending()) return;
  WaitCursor wait;
  beginResetModel();
  if (column < 0 || column >= table_.ColumnCount()) {
    table_.ClearSort();
  } else {
    table_.Sort(column, order == Qt::AscendingOrder);
  }
  endResetModel();
}

// ---------------------------------------------------------------- panel

// The find line above the table, the counts and Zoom to Selection beside it.
CLayerTablePanel::CLayerTablePanel(QWidget* parent) : QDockWidget(parent) {
  setObjectName(QStringLiteral("LayerTable"));
  setWindowTitle(LangQString(kLayerTableTitle));
  auto* body = new QWidget(this);
  auto* column = new QVBoxLayout(body);
  column->setContentsMargins(4, 2, 4, 2);
  auto* line = new QHBoxLayout;
  fieldBox_ = new QComboBox(body);
  fieldBox_->setObjectName(QStringLiteral("FindField"));
  fieldBox_->setToolTip(LangQString(kLayerTableFindTip));
  operatorBox_ = new QComboBox(body);
  operatorBox_->setObjectName(QStringLiteral("FindOperator"));
  for (const OperatorChoice& choice : kOperators) {
    operatorBox_->addItem(LangQString(choice.text), int(choice.op));
  }
  valueEdit_ = new QLineEdit(body);
  valueEdit_->setObjectName(QStringLiteral("FindValue"));
  errorLabel_ = new QLabel(body);
  errorLabel_->setObjectName(QStringLiteral("FindError"));
  errorLabel_->setStyleSheet(QStringLiteral("color: #b00000"));
  selectButton_ = new QPushButton(LangQString(kLayerTableSelect), body);
  addButton_ = new QPushButton(LangQString(kLayerTableAdd), body);
  zoomButton_ = new QPushButton(LangQString(kLayerTableZoom), body);
  countLabel_ = new QLabel(body);
  line->addWidget(fieldBox_);
  line->addWidget(operatorBox_);
  line->addWidget(valueEdit_, 1);
  line->addWidget(errorLabel_);
  line->addWidget(selectButton_);
  line->addWidget(addButton_);
  line->addStretch();
  line->addWidget(countLabel_);
  line->addWidget(zoomButton_);
  column->addLayout(line);

  model_ = new LayerTableItemModel(this);
  view_ = new QTableView(body);
  view_->setObjectName(QStringLiteral("LayerTableView"));
  view_->setModel(model_);
  QItemSelectionModel* defaultSelection = view_->selectionModel();
  auto* gestures = new GestureSelectionModel(model_, view_);
  gestures->SetHandler([this](const QItemSelection& selection, QItemSelectionModel::SelectionFlags command) {
    if (!syncing_) ApplyGesture(selection, command);
  });
  view_->setSelectionModel(gestures);
  delete defaultSelection;
  view_->setItemDelegate(new MarkDelegate(this));
  view_->viewport()->installEventFilter(this);
  view_->verticalHeader()->setHighlightSections(false);
  view_->horizontalHeader()->setHighlightSections(false);
  view_->setSelectionBehavior(QAbstractItemView::SelectRows);
  view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view_->setWordWrap(false);
  // Columns fit their content from the first rows read, not the whole table.
  view_->horizontalHeader()->setResizeContentsPrecision(LayerTable::kBlockRows);
  view_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  view_->verticalHeader()->setDefaultSectionSize(view_->fontMetrics().height() + 4);
  // No sort until a header is clicked; then ascending, then descending.
  view_->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
  view_->setSortingEnabled(true);
  column->addWidget(view_, 1);
  setWidget(body);

  connect(selectButton_, &QPushButton::clicked, this, [this] { RunFind(false); });
  connect(addButton_, &QPushButton::clicked, this, [this] { RunFind(true); });
  connect(valueEdit_, &QLineEdit::returnPressed, this, [this] { RunFind(false); });
  connect(zoomButton_, &QPushButton::clicked, this, [this] { ZoomToSelection(); });
  connect(valueEdit_, &QLineEdit::textEdited, errorLabel_, &QLabel::clear);
  connect(operatorBox_, qOverload<int>(&QComboBox::currentIndexChanged), this, [this] {
    errorLabel_->clear();
    valueEdit_->setEnabled(FindOperator(operatorBox_->currentData().toInt()) != FindOperator::IsEmpty);
  });
  connect(view_, &QTableView::doubleClicked, this, [this](const QModelIndex& index) { OpenAttributes(index.row()); });
  // A new order of the rows: the selection is put back from the map's.
  connect(model_, &QAbstractItemModel::modelReset, this, [this] { SyncFromLayer(); });

  ShowLayer(nullptr);
}

CLayerTablePanel::~CLayerTablePanel() = default;

// Hears of every selection change of the list's layers.
void CLayerTablePanel::SetLayers(LayerList* layers) {
  if (layers_) layers_->disconnect(this);
  layers_ = layers;
  if (layers_) {
    connect(layers_, &LayerList::selectionChanged, this, [this](Layer* layer) { OnLayerSelectionChanged(*layer); });
  }
}

// The shown layer while it is still open.
Layer* CLayerTablePanel::ShownLayer() const {
  if (!layer_) return nullptr;
  if (LayerList* list = layers_) {
    const auto& layers = list->Layers();
    if (std::find(layers.begin(), layers.end(), layer_) == layers.end()) return nullptr;
  }
  return layer_;
}

// Opens the layer's table and shows its selection.
void CLayerTablePanel::ShowLayer(Layer* layer) {
  const std::string path = layer ? layer->GetTablePath() : std::string();
  if (layer == layer_ && path == path_ && (layer || !model_->Table().IsOpen())) return;
  layer_ = layer;
  path_ = path;
  errorLabel_->clear();
  fieldBox_->clear();
  view_->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
  const bool ok = model_->SetTable(path);
  if (layer && !ok) errorLabel_->setText(LangQString(kLayerTableNoTable));
  const LayerTable& table = model_->Table();
  for (int c = 0; c < table.ColumnCount(); ++c) fieldBox_->addItem(table.FieldName(c), c);
  for (QWidget* w : std::initializer_list<QWidget*>{fieldBox_, operatorBox_, valueEdit_, selectButton_, addButton_}) {
    w->setEnabled(ok && table.ColumnCount() > 0);
  }
  FitColumns();
  SyncFromLayer();
}

// Each column as wide as its name and the first rows' texts, up to a limit;
// a cell cut by it shows whole in its tooltip.
void CLayerTablePanel::FitColumns() {
  const int most = view_->fontMetrics().horizontalAdvance(QLatin1Char('0')) * kLayerTableWidestColumnChars;
  for (int c = 0; c < model_->columnCount(); ++c) {
    view_->resizeColumnToContents(c);
    if (view_->columnWidth(c) > most) view_->setColumnWidth(c, most);
  }
}

// The tooltip of a cell whose text does not fit its column: the whole text,
// wrapped when long; empty for a cell shown whole.
QString CLayerTablePanel::CellToolTip(int row, int column) const {
  const QString text = model_->data(model_->index(row, column), Qt::DisplayRole).toString();
  if (text.isEmpty()) return {};
  // The room the cell leaves its text: the column less the item's margins.
  const int margin = view_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view_) + 1;
  const int room = view_->columnWidth(column) - 2 * margin;
  if (view_->fontMetrics().horizontalAdvance(text) <= room) return {};
  // Rich text, so the tip wraps a long text instead of one line across the screen.
  return QStringLiteral("<p>") + text.toHtmlEscaped() + QStringLiteral("</p>");
}

// The records of view rows become the layer's selection.
void CLayerTablePanel::SelectRows(const std::vector<int>& rows) {
  const LayerTable& table = model_->Table();
  marked_.assign(size_t(table.RowCount()) + 1, 0);
  for (int row : rows) {
    const int record = table.RecordAt(row);
    if (record >= 1) marked_[size_t(record)] = 1;
  }
  SyncToLayer();
}

// A Ctrl+click toggles by what the selection model holds: a row the map
// selected is put there first (one row, quietly), so the click takes it off.
bool CLayerTablePanel::eventFilter(QObject* watched, QEvent* event) {
  if (watched == view_->viewport() && event->type() == QEvent::MouseButtonPress) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    const QModelIndex index = view_->indexAt(mouse->position().toPoint());
    if ((mouse->modifiers() & Qt::ControlModifier) && index.isValid() && IsRowMarked(index.row()) &&
        !view_->selectionModel()->isSelected(index)) {
      syncing_ = true;
      view_->selectionModel()->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
      syncing_ = false;
    }
  }
  return QDockWidget::eventFilter(watched, event);
}

// Rows whose record is marked, in view order.
std::vector<int> CLayerTablePanel::SelectedRows() const {
  std::vector<int> rows;
  const LayerTable& table = model_->Table();
  for (int row = 0; row < table.RowCount(); ++row) {
    if (IsRowMarked(row)) rows.push_back(row);
  }
  return rows;
}

bool CLayerTablePanel::IsRowMarked(int row) const {
  const int record = model_->Table().RecordAt(row);
  return record >= 1 && size_t(record) < marked_.size() && marked_[size_t(record)];
}

// The rows of the gesture change the marks of the base it starts from: the
// marks as they are, none when it clears, or the last gesture's base when it
// continues that one (a drag that grows and shrinks).
void CLayerTablePanel::ApplyGesture(const QItemSelection& selection, QItemSelectionModel::SelectionFlags command) {
  if (command == QItemSelectionModel::NoUpdate) return;
  const LayerTable& table = model_->Table();
  const size_t size = size_t(table.RowCount()) + 1;
  if (marked_.size() != size) marked_.assign(size, 0);
  if (!(command & QItemSelectionModel::Current) || gestureBase_.size() != size) gestureBase_ = marked_;
  if (command & QItemSelectionModel::Clear) gestureBase_.assign(size, 0);
  marked_ = gestureBase_;
  for (const QItemSelectionRange& range : selection) {
    for (int row = std::max(0, range.top()); row <= range.bottom() && row < table.RowCount(); ++row) {
      const size_t record = size_t(table.RecordAt(row));
      if (command & QItemSelectionModel::Toggle) {
        marked_[record] = !gestureBase_[record];
      } else if (command & QItemSelectionModel::Deselect) {
        marked_[record] = 0;
      } else if (command & QItemSelectionModel::Select) {
        marked_[record] = 1;
      }
    }
  }
  SyncToLayer();
}

// The marked records become the map's selection, every parcel of each; the
// marks then show what the layer took.
void CLayerTablePanel::SyncToLayer() {
  if (syncing_) return;
  Layer* layer = ShownLayer();
  if (!layer) return;
  std::vector<int> records;
  for (size_t r = 1; r < marked_.size(); ++r) {
    if (marked_[r]) records.push_back(int(r));
  }
  syncing_ = true;
  layer->ClearSelection();
  layer->SelectRecords(RecordsByNumber(*layer, records));
  syncing_ = false;
  MarkFromLayer();
  view_->viewport()->update();
  UpdateCounts();
}

// The layer's selected record numbers as marks; false without a shown table.
bool CLayerTablePanel::MarkFromLayer() {
  Layer* layer = ShownLayer();
  const LayerTable& table = model_->Table();
  marked_.assign(size_t(table.RowCount()) + 1, 0);
  if (!layer || !table.IsOpen()) return false;
  bool any = false;
  for (int r : SelectedRecordNumbers(*layer)) {
    if (r >= 1 && r <= table.RowCount()) marked_[size_t(r)] = any = true;
  }
  return any;
}

// A selection made elsewhere is taken over once the event that made it is done
// (a drag selects record by record).
void CLayerTablePanel::OnLayerSelectionChanged(Layer& layer) {
  if (syncing_ || &layer != layer_ || syncQueued_ || isHidden()) return;
  syncQueued_ = true;
  QTimer::singleShot(0, this, [this] {
    syncQueued_ = false;
    SyncFromLayer();
  });
}

// Shown again: the map's selection as it is now.
void CLayerTablePanel::showEvent(QShowEvent* event) {
  QDockWidget::showEvent(event);
  SyncFromLayer();
}

// The layer's selection into the marks, the first marked row into view. The
// view's selection model keeps no rows of it: painting a row asks its mark,
// so restoring a selection after a sort costs one pass over the table.
void CLayerTablePanel::SyncFromLayer() {
  syncing_ = true;
  view_->selectionModel()->clearSelection();
  syncing_ = false;
  gestureBase_.clear();
  if (MarkFromLayer()) {
    const LayerTable& table = model_->Table();
    for (int row = 0; row < table.RowCount(); ++row) {
      if (IsRowMarked(row)) {
        view_->scrollTo(model_->index(row, 0));
        break;
      }
    }
  }
  view_->viewport()->update();
  UpdateCounts();
}

// "N records, M selected".
void CLayerTablePanel::UpdateCounts() {
  Layer* layer = ShownLayer();
  const int selected = layer ? int(SelectedRecordNumbers(*layer).size()) : 0;
  countLabel_->setText(QString::fromStdString(LangFormat(kLayerTableCounts, model_->Table().RowCount(), selected)));
}

// The condition of the find line, refused next to the value when it does not parse.
void CLayerTablePanel::RunFind(bool add) {
  Layer* layer = ShownLayer();
  if (!layer || fieldBox_->currentIndex() < 0) return;
  FindCondition condition;
  condition.column = fieldBox_->currentData().toInt();
  condition.op = FindOperator(operatorBox_->currentData().toInt());
  condition.value = valueEdit_->text();
  FindResult result;
  {
    WaitCursor wait;
    result = model_->Table().Find(condition);
  }
  if (!result.ok) {
    errorLabel_->setText(QString::fromStdString(result.error));
    return;
  }
  errorLabel_->clear();
  syncing_ = true;
  if (!add) layer->ClearSelection();
  layer->SelectRecords(RecordsByNumber(*layer, result.records));
  syncing_ = false;
  SyncFromLayer();
}

// The map shows the whole selection.
void CLayerTablePanel::ZoomToSelection() {
  Layer* layer = ShownLayer();
  if (!layer || !mapView_ || layer->GetSelection().empty()) return;
  MapRect rect{std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::max(),
               std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::min()};
  for (Shape* shape : layer->GetSelection()) {
    const MapRect b = shape->GetHitBounds();
    if (b.left > b.right || b.top > b.bottom) continue;
    rect.left = std::min(rect.left, b.left);
    rect.top = std::min(rect.top, b.top);
    rect.right = std::max(rect.right, b.right);
    rect.bottom = std::max(rect.bottom, b.bottom);
  }
  if (rect.left > rect.right) return;
  mapView_->ZoomToRect(rect, true);
}

// The record of the row alone selected, then its Attributes dialog.
void CLayerTablePanel::OpenAttributes(int row) {
  Layer* layer = ShownLayer();
  if (!layer) return;
  const std::vector<Shape*> shapes = RecordsByNumber(*layer, {model_->Table().RecordAt(row)});
  if (shapes.empty()) return;
  syncing_ = true;
  layer->ClearSelection();
  layer->SelectRecords(shapes);
  syncing_ = false;
  // One parcel: the selection's command, which also recolours the record.
  if (layer->GetSelectionCount() == 1) {
    EditSelectedAttributes(*layer, this);
  } else {
    ShowRecordAttributes(*shapes.front(), this);
  }
  Refresh();
}

// Rows read again, the selection shown again.
void CLayerTablePanel::Refresh() {
  model_->Refresh();
  SyncFromLayer();
}

// Every open panel rereads its rows.
void RefreshLayerTables() {
  for (QWidget* window : QApplication::topLevelWidgets()) {
    for (CLayerTablePanel* panel : window->findChildren<CLayerTablePanel*>()) panel->Refresh();
  }
}

}  // namespace kestrune
