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
#include <QPushButton>
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

}  // namespace

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
  view_->setSelectionBehavior(QAbstractItemView::SelectRows);
  view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view_->setWordWrap(false);
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
  connect(view_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { SyncToLayer(); });
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
  SyncFromLayer();
}

// The records of view rows become the layer's selection.
void CLayerTablePanel::SelectRows(const std::vector<int>& rows) {
  QItemSelection selection;
  std::vector<int> sorted = rows;
  std::sort(sorted.begin(), sorted.end());
  const int columns = std::max(1, model_->columnCount());
  for (size_t i = 0; i < sorted.size();) {
    size_t j = i;
    while (j + 1 < sorted.size() && sorted[j + 1] <= sorted[j] + 1) ++j;
    selection.select(model_->index(sorted[i], 0), model_->index(sorted[j], columns - 1));
    i = j + 1;
  }
  view_->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

// The view's rows onto the map: their records, every parcel of each.
void CLayerTablePanel::SyncToLayer() {
  if (syncing_) return;
  Layer* layer = ShownLayer();
  if (!layer) return;
  const LayerTable& table = model_->Table();
  std::vector<int> records;
  for (const QItemSelectionRange& range : view_->selectionModel()->selection()) {
    for (int row = range.top(); row <= range.bottom(); ++row) records.push_back(table.RecordAt(row));
  }
  syncing_ = true;
  layer->ClearSelection();
  layer->SelectRecords(RecordsByNumber(*layer, records));
  syncing_ = false;
  UpdateCounts();
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

// The layer's selection into the rows, the first of them into view.
void CLayerTablePanel::SyncFromLayer() {
  Layer* layer = ShownLayer();
  syncing_ = true;
  if (!layer || !model_->Table().IsOpen()) {
    view_->clearSelection();
  } else {
    const std::vector<int> rows = model_->Table().RowsOfRecords(SelectedRecordNumbers(*layer));
    SelectRows(rows);
    if (!rows.empty()) {
      view_->scrollTo(model_->index(*std::min_element(rows.begin(), rows.end()), 0));
    }
  }
  syncing_ = false;
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
