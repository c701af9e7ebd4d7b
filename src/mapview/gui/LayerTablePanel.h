// The Layer Table: a dockable panel under the map with the active layer's
// whole ".dbf" (one row per record, one column per field) in a read-only
// table view, sortable by a header click, its row selection tied both ways
// with the map's selection, a find line above it (field, operator, value;
// Select and Add) and Zoom to Selection. A double click on a row opens the
// Attributes dialog on its record; the table shows the edits at once.
#pragma once

#include <QAbstractTableModel>
#include <QDockWidget>
#include <QItemSelectionModel>

#include <functional>
#include <vector>

#include "attributes/LayerTable.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace kestrune {

class Layer;
class LayerList;
class MapView;

// Texts of the panel.
constexpr const char* kLayerTableTitle = "#20014020:Layer Table";
constexpr const char* kLayerTableSelect = "#20014021:&Select";
constexpr const char* kLayerTableAdd = "#20014022:A&dd";
constexpr const char* kLayerTableZoom = "#20014023:&Zoom to Selection";
constexpr const char* kLayerTableContains = "#20014024:contains";
constexpr const char* kLayerTableIsEmpty = "#20014025:is empty";
constexpr const char* kLayerTableCounts = "#20014026:%d records, %d selected";
constexpr const char* kLayerTableNoTable = "#20014027:The active file has no table that can be read.";
constexpr const char* kLayerTableFindTip = "#20014028:Find records by one field's value";
// The widest a column is made to fit its content, in digit widths.
constexpr int kLayerTableWidestColumnChars = 40;

// The table view's model over a LayerTable: cells read on demand, numbers
// right-aligned, the record number in the row header, read-only.
class LayerTableItemModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  explicit LayerTableItemModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

  // Shows another table (closed when the path is empty or unreadable).
  bool SetTable(const std::string& dbfPath);
  LayerTable& Table() { return table_; }
  // Forgets the rows read and repaints them, for edits made elsewhere.
  void Refresh();

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  // Sorts by a column (-1: record order again); selections follow in the panel.
  void sort(int column, Qt::SortOrder order) override;

 private:
  // Reading fills the block cache, so the const view functions use it mutably.
  mutable LayerTable table_;
};

// The view's selection model: every gesture (a click, a drag, a key, Select
// All) is handed to a handler as well as kept, so the panel turns it into
// the layer's selection; what shows as selected comes from the panel's marks.
class GestureSelectionModel : public QItemSelectionModel {
  Q_OBJECT
 public:
  using Handler = std::function<void(const QItemSelection&, QItemSelectionModel::SelectionFlags)>;
  GestureSelectionModel(QAbstractItemModel* model, QObject* parent) : QItemSelectionModel(model, parent) {}
  void SetHandler(Handler handler) { handler_ = std::move(handler); }
  using QItemSelectionModel::select;
  void select(const QItemSelection& selection, QItemSelectionModel::SelectionFlags command) override;

 private:
  Handler handler_;
};

class CLayerTablePanel : public QDockWidget {
  Q_OBJECT
 public:
  explicit CLayerTablePanel(QWidget* parent = nullptr);
  ~CLayerTablePanel() override;

  // The layer whose table shows (none: an empty panel). Nothing happens
  // when it already shows that layer's file.
  void ShowLayer(Layer* layer);
  Layer* ShownLayer() const;
  // The map view Zoom to Selection moves.
  void SetMapView(MapView* view) { mapView_ = view; }
  // The open layers: the panel follows the selection changes of theirs.
  void SetLayers(LayerList* layers);

  // Selects the records of the view rows (from 0) on the map, as a row selection would.
  void SelectRows(const std::vector<int>& rows);
  // The view rows (from 0, ascending) whose records are selected on the map.
  std::vector<int> SelectedRows() const;
  // Whether a view row's record is selected (as the view paints it).
  bool IsRowMarked(int row) const;
  // The whole text of a cell its column cuts (wrapped rich text), else empty.
  QString CellToolTip(int row, int column) const;
  // Sizes the columns to their names and first rows, up to a limit.
  void FitColumns();
  // Runs the find line's condition: replace the selection, or add to it.
  void RunFind(bool add);
  // Zooms the map to the layer's selection.
  void ZoomToSelection();
  // Opens the Attributes dialog on a view row's record.
  void OpenAttributes(int row);
  // Rereads the rows (after an edit) and the selection.
  void Refresh();

  QTableView* View() const { return view_; }
  LayerTableItemModel* Model() const { return model_; }
  QComboBox* FieldBox() const { return fieldBox_; }
  QComboBox* OperatorBox() const { return operatorBox_; }
  QLineEdit* ValueEdit() const { return valueEdit_; }
  QLabel* ErrorLabel() const { return errorLabel_; }

 protected:
  // A hidden panel follows no selection; shown again, it takes the map's.
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The map's selection into the view's rows (and the first one into view).
  void SyncFromLayer();
  // A gesture of the view's selection model onto the marks and the map: the
  // rows selected, deselected or toggled, cleared first when it says so; a
  // gesture that continues the last one (a drag) starts from the same base.
  void ApplyGesture(const QItemSelection& selection, QItemSelectionModel::SelectionFlags command);
  // The marks onto the map, as its selection.
  void SyncToLayer();
  bool MarkFromLayer();
  void UpdateCounts();
  void OnLayerSelectionChanged(Layer& layer);

  Layer* layer_ = nullptr;
  LayerList* layers_ = nullptr;
  std::string path_;
  MapView* mapView_ = nullptr;
  LayerTableItemModel* model_ = nullptr;
  QTableView* view_ = nullptr;
  QComboBox* fieldBox_ = nullptr;
  QComboBox* operatorBox_ = nullptr;
  QLineEdit* valueEdit_ = nullptr;
  QLabel* errorLabel_ = nullptr;
  QLabel* countLabel_ = nullptr;
  QPushButton* selectButton_ = nullptr;
  QPushButton* addButton_ = nullptr;
  QPushButton* zoomButton_ = nullptr;
  // Per record number (index 0 unused): selected on the map; the base a
  // continued gesture starts from.
  std::vector<char> marked_;
  std::vector<char> gestureBase_;
  bool syncing_ = false;
  bool syncQueued_ = false;
};

// Rereads every open Layer Table (after the Attributes dialog wrote a row).
void RefreshLayerTables();

}  // namespace kestrune
