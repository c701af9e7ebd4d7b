// The Layer Table panel in the real main window: the View command opens it on
// the active layer, row selections reach the map with every parcel of a
// record and map selections reach the rows, sorting keeps the selection, the
// find line selects or refuses, and a double click edits a row it shows at once.
#include <QComboBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>

#include "app/Commands.h"
#include "layers/LayerTestFiles.h"
#include "mapview/gui/LayerTablePanel.h"
#include "shapes/DbfTable.h"
#include "mapview/gui/ReportWatcher.h"
#include "support/ViewerFixture.h"

namespace kestrune::test {
namespace {

class LayerTablePanelTest : public ViewerFixture {
 protected:
  // Opens a point set of five records (rates 10 to 50) and the panel on it;
  // record 2 gets a second parcel.
  CLayerTablePanel* OpenPoints() {
    const std::string shp = WritePointSet(dir_, "pts", {{-95.0, 42.0}, {-95.1, 42.1}, {-95.2, 42.2}, {-95.3, 42.3}, {-95.4, 42.4}},
                                          {30, 10, 50, 20, 40});
    EXPECT_TRUE(Open(shp));
    Shape* parcel = Active()->CreateRecord(kRecordPoint, 2, true);
    EXPECT_NE(parcel, nullptr);
    frame_->ExecuteCommand(kIdLayerTable);
    QCoreApplication::processEvents();
    return frame_->LayerTablePanel();
  }
  // The view rows selected, ascending.
  static std::vector<int> SelectedRows(CLayerTablePanel* panel) {
    std::vector<int> rows;
    for (const QModelIndex& index : panel->View()->selectionModel()->selectedRows()) rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
  }
};

using V = std::vector<int>;

TEST_F(LayerTablePanelTest, TheCommandDocksThePanelUnderTheMapOnTheActiveLayer) {
  CLayerTablePanel* panel = OpenPoints();
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(frame_->dockWidgetArea(panel), Qt::BottomDockWidgetArea);
  EXPECT_TRUE(frame_->Action(kIdLayerTable)->isChecked());
  LayerTableItemModel* model = panel->Model();
  EXPECT_EQ(model->rowCount(), 5);
  EXPECT_EQ(model->columnCount(), 1);
  EXPECT_EQ(model->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), "Rate");
  EXPECT_EQ(model->data(model->index(1, 0), Qt::DisplayRole).toString(), "10.00");
  EXPECT_TRUE(model->data(model->index(1, 0), Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignRight);
  EXPECT_FALSE(model->flags(model->index(1, 0)) & Qt::ItemIsEditable);
  frame_->ExecuteCommand(kIdLayerTable);
  EXPECT_TRUE(panel->isHidden());
  EXPECT_FALSE(frame_->Action(kIdLayerTable)->isChecked());
  // Closing the file empties the panel.
  frame_->ExecuteCommand(kIdLayerTable);
  frame_->ExecuteCommand(kIdFileClose);
  EXPECT_EQ(model->rowCount(), 0);
}

TEST_F(LayerTablePanelTest, SelectionIsTiedBothWaysWithEveryParcel) {
  CLayerTablePanel* panel = OpenPoints();
  ASSERT_NE(panel, nullptr);
  Layer* layer = Active();
  // Rows to the map: record 2 has two parcels, both are selected.
  panel->SelectRows({1, 3});
  EXPECT_EQ(layer->GetSelectionCount(), 3);
  EXPECT_EQ(SelectedRecordNumbers(*layer), (V{2, 4}));
  // The map to the rows.
  layer->ClearSelection();
  layer->SelectRecords(RecordsByNumber(*layer, {5}));
  QCoreApplication::processEvents();
  EXPECT_EQ(SelectedRows(panel), (V{4}));
  // A rectangle drawn on the map around the first point.
  const MapRect all = layer->GetBounds();
  ASSERT_TRUE(MapWnd()->SelectInRect(all, false));
  QCoreApplication::processEvents();
  EXPECT_EQ(SelectedRows(panel), (V{0, 1, 2, 3, 4}));
  layer->ClearSelection();
  QCoreApplication::processEvents();
  EXPECT_TRUE(SelectedRows(panel).empty());
}

TEST_F(LayerTablePanelTest, AMapSelectionFarDownScrollsItsRowIntoView) {
  std::vector<XY> points;
  std::vector<double> rates;
  for (int i = 0; i < 600; ++i) {
    points.push_back({-95.0 + 0.001 * i, 42.0});
    rates.push_back(i);
  }
  ASSERT_TRUE(Open(WritePointSet(dir_, "many", points, rates)));
  frame_->ExecuteCommand(kIdLayerTable);
  CLayerTablePanel* panel = frame_->LayerTablePanel();
  ASSERT_NE(panel, nullptr);
  QTableView* view = panel->View();
  EXPECT_EQ(view->rowAt(0), 0);
  Active()->SelectRecords(RecordsByNumber(*Active(), {450}));
  QCoreApplication::processEvents();
  EXPECT_EQ(SelectedRows(panel), (V{449}));
  const QRect cell = view->visualRect(panel->Model()->index(449, 0));
  EXPECT_TRUE(view->viewport()->rect().intersects(cell)) << cell.y();
}

TEST_F(LayerTablePanelTest, HeaderClicksSortAscendingThenDescendingKeepingTheSelection) {
  CLayerTablePanel* panel = OpenPoints();
  ASSERT_NE(panel, nullptr);
  panel->SelectRows({2});  // record 3, rate 50
  QHeaderView* header = panel->View()->horizontalHeader();
  const QPoint at(header->sectionViewportPosition(0) + 5, header->height() / 2);
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
  LayerTableItemModel* model = panel->Model();
  std::vector<QString> rates;
  for (int r = 0; r < 5; ++r) rates.push_back(model->data(model->index(r, 0), Qt::DisplayRole).toString());
  EXPECT_EQ(rates, (std::vector<QString>{"10.00", "20.00", "30.00", "40.00", "50.00"}));
  EXPECT_EQ(model->headerData(0, Qt::Vertical, Qt::DisplayRole).toInt(), 2);
  EXPECT_EQ(SelectedRows(panel), (V{4}));
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
  EXPECT_EQ(model->data(model->index(0, 0), Qt::DisplayRole).toString(), "50.00");
  EXPECT_EQ(SelectedRows(panel), (V{0}));
  EXPECT_EQ(SelectedRecordNumbers(*Active()), (V{3}));
}

TEST_F(LayerTablePanelTest, FindSelectsAddsAndRefusesWhatDoesNotParse) {
  CLayerTablePanel* panel = OpenPoints();
  ASSERT_NE(panel, nullptr);
  panel->OperatorBox()->setCurrentIndex(4);  // >
  panel->ValueEdit()->setText("25");
  panel->RunFind(false);
  EXPECT_EQ(SelectedRecordNumbers(*Active()), (V{1, 3, 5}));
  EXPECT_EQ(SelectedRows(panel), (V{0, 2, 4}));
  panel->OperatorBox()->setCurrentIndex(0);  // =
  panel->ValueEdit()->setText("10");
  panel->RunFind(true);
  EXPECT_EQ(SelectedRecordNumbers(*Active()), (V{1, 2, 3, 5}));
  EXPECT_EQ(Active()->GetSelectionCount(), 5);  // record 2's two parcels
  panel->ValueEdit()->setText("ten");
  panel->RunFind(false);
  EXPECT_EQ(panel->ErrorLabel()->text(), "\"ten\" is not a number.");
  EXPECT_EQ(SelectedRecordNumbers(*Active()), (V{1, 2, 3, 5}));
  panel->OperatorBox()->setCurrentIndex(7);  // is empty
  EXPECT_FALSE(panel->ValueEdit()->isEnabled());
  EXPECT_TRUE(panel->ErrorLabel()->text().isEmpty());
}

TEST_F(LayerTablePanelTest, ADoubleClickOpensTheAttributesOfTheRowAndItsEditShowsAtOnce) {
  CLayerTablePanel* panel = OpenPoints();
  ASSERT_NE(panel, nullptr);
  const std::string dbf = Active()->GetTablePath();
  ReportWatcher reports([&](CAttributesDlg&) {
    DbfTable table(dbf);
    ASSERT_TRUE(table.ReadRecord(4));
    ASSERT_TRUE(table.SetNumber(1, 77.0));
    ASSERT_TRUE(table.WriteRecord(4));
  });
  LayerTableItemModel* model = panel->Model();
  EXPECT_EQ(model->data(model->index(3, 0), Qt::DisplayRole).toString(), "20.00");
  QTableView* view = panel->View();
  const QRect cell = view->visualRect(model->index(3, 0));
  // A real double click: a click, then the second press that doubles it.
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
  QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, cell.center());
  EXPECT_EQ(reports.records, (std::vector<int>{4}));
  EXPECT_EQ(SelectedRecordNumbers(*Active()), (V{4}));
  EXPECT_EQ(model->data(model->index(3, 0), Qt::DisplayRole).toString(), "77.00");
}

TEST_F(LayerTablePanelTest, ZoomToSelectionShowsTheSelectedRecords) {
  CLayerTablePanel* panel = OpenPoints();
  ASSERT_NE(panel, nullptr);
  panel->SelectRows({0, 1});
  const int32_t before = MapWnd()->GetMapView().Width();
  panel->ZoomToSelection();
  EXPECT_LT(MapWnd()->GetMapView().Width(), before);
}

}  // namespace
}  // namespace kestrune::test
