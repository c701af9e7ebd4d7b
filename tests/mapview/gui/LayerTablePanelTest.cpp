// The Layer Table panel in the real main window: the View command opens it on
// the active layer, row selections reach the map with every parcel of a
// record and map selections reach the rows, sorting keeps the selection, the
// find line selects or refuses, and a double click edits a row it shows at once.
#include <QComboBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
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
  // The view rows shown selected, ascending.
  static std::vector<int> SelectedRows(CLayerTablePanel* panel) { return panel->SelectedRows(); }
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

// Clicks, Ctrl+clicks, Shift+clicks and a drag that grows and shrinks reach
// the map as the same rows, and the rows paint selected.
TEST_F(LayerTablePanelTest, MouseGesturesOnRowsSelectTheirRecords) {
  CLayerTablePanel* panel = OpenPoints();
  ASSERT_NE(panel, nullptr);
  QTableView* view = panel->View();
  const auto at = [&](int row) { return view->visualRect(panel->Model()->index(row, 0)).center(); };
  struct Step {
    const char* what;
    Qt::KeyboardModifiers modifiers;
    int row;
    V records;
  };
  const Step steps[] = {
      {"click", {}, 1, {2}},
      {"ctrl adds", Qt::ControlModifier, 3, {2, 4}},
      {"ctrl removes", Qt::ControlModifier, 1, {4}},
      {"shift extends from the anchor", Qt::ShiftModifier, 4, {2, 3, 4, 5}},
      {"click replaces", {}, 0, {1}},
  };
  for (const Step& step : steps) {
    QTest::mouseClick(view->viewport(), Qt::LeftButton, step.modifiers, at(step.row));
    EXPECT_EQ(SelectedRecordNumbers(*Active()), step.records) << step.what;
    EXPECT_EQ(SelectedRows(panel), [&] {
      V rows;
      for (int r : step.records) rows.push_back(r - 1);
      return rows;
    }()) << step.what;
  }
  // A map selection added to by a Ctrl+click keeps what the map chose.
  Active()->ClearSelection();
  Active()->SelectRecords(RecordsByNumber(*Active(), {5}));
  QCoreApplication::processEvents();
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ControlModifier, at(0));
  EXPECT_EQ(SelectedRecordNumbers(*Active()), (V{1, 5}));
  // A Ctrl+click on a row the map selected takes it off.
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ControlModifier, at(4));
  EXPECT_EQ(SelectedRecordNumbers(*Active()), (V{1}));
  // A drag down to row 3 and back up to row 1 leaves rows 0 and 1.
  QTest::mousePress(view->viewport(), Qt::LeftButton, {}, at(0));
  QMouseEvent down(QEvent::MouseMove, at(3), view->viewport()->mapToGlobal(at(3)), Qt::NoButton, Qt::LeftButton, {});
  QApplication::sendEvent(view->viewport(), &down);
  EXPECT_EQ(SelectedRecordNumbers(*Active()), (V{1, 2, 3, 4}));
  QMouseEvent up(QEvent::MouseMove, at(1), view->viewport()->mapToGlobal(at(1)), Qt::NoButton, Qt::LeftButton, {});
  QApplication::sendEvent(view->viewport(), &up);
  QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, at(1));
  EXPECT_EQ(SelectedRecordNumbers(*Active()), (V{1, 2}));
  // The cells paint selected from the marks, not from the selection model.
  EXPECT_TRUE(panel->IsRowMarked(1));
  EXPECT_FALSE(panel->IsRowMarked(2));
}

// A large scattered selection survives sorts both ways, row for row.
TEST_F(LayerTablePanelTest, SortingKeepsALargeScatteredSelection) {
  std::vector<XY> points;
  std::vector<double> rates;
  for (int i = 0; i < 20000; ++i) {
    points.push_back({-95.0 + 0.00001 * i, 42.0});
    rates.push_back((i * 7919) % 20000);
  }
  ASSERT_TRUE(Open(WritePointSet(dir_, "big", points, rates)));
  frame_->ExecuteCommand(kIdLayerTable);
  CLayerTablePanel* panel = frame_->LayerTablePanel();
  ASSERT_NE(panel, nullptr);
  V chosen;
  for (int r = 1; r <= 20000; r += 3) chosen.push_back(r);
  Active()->SelectRecords(RecordsByNumber(*Active(), chosen));
  QCoreApplication::processEvents();
  for (Qt::SortOrder order : {Qt::AscendingOrder, Qt::DescendingOrder}) {
    panel->Model()->sort(0, order);
    const V rows = SelectedRows(panel);
    ASSERT_EQ(rows.size(), chosen.size());
    V records;
    for (int row : rows) records.push_back(panel->Model()->Table().RecordAt(row));
    std::sort(records.begin(), records.end());
    EXPECT_EQ(records, chosen);
    EXPECT_EQ(SelectedRecordNumbers(*Active()), chosen);
  }
}

// Numbers show without binary rounding, columns fit their names and texts,
// the header tells the whole field name and a cut cell its whole text.
TEST_F(LayerTablePanelTest, CellsShowNumbersAsWrittenAndColumnsFitWithTooltips) {
  DbfTableLayout t;
  t.fields = {{"OWNER_NAMI", 'C', 254, 0}, {"CLAY", 'N', 24, 15}, {"RATE", 'N', 10, 2}};
  const std::string longText(250, 'w');
  t.rows = {" " + Left("Ann", 254) + Right("902.853600000000029", 24) + Right("10.50", 10),
            " " + Left(longText, 254) + Right("29.389743589743590", 24) + Right("7", 10)};
  ShpBuilder shp(1, -100.0, 40.0, -90.0, 45.0);
  shp.Point(-95.0, 42.0);
  shp.Point(-95.1, 42.1);
  const std::string path = (dir_ / "owners.shp").string();
  WriteFileBytes(path, shp.Bytes());
  WriteFileBytes(dir_ / "owners.dbf", MakeDbf(t));
  ASSERT_TRUE(Open(path));
  frame_->ExecuteCommand(kIdLayerTable);
  QCoreApplication::processEvents();
  CLayerTablePanel* panel = frame_->LayerTablePanel();
  ASSERT_NE(panel, nullptr);
  LayerTableItemModel* model = panel->Model();
  const auto text = [&](int row, int column) { return model->data(model->index(row, column), Qt::DisplayRole).toString(); };
  EXPECT_EQ(text(0, 1), "902.8536");
  EXPECT_EQ(text(1, 1), "29.389743589743590");  // zeros as written
  EXPECT_EQ(text(0, 2), "10.50");
  EXPECT_EQ(text(1, 2), "7.00");
  EXPECT_EQ(model->headerData(0, Qt::Horizontal, Qt::ToolTipRole).toString(), "OWNER_NAMI (C 254)");
  EXPECT_EQ(model->headerData(1, Qt::Horizontal, Qt::ToolTipRole).toString(), "CLAY (N 24.15)");
  QTableView* view = panel->View();
  const QFontMetrics metrics = view->fontMetrics();
  // Every column shows its whole name; the numbers fit; the long text is cut at the limit.
  for (int c = 0; c < 3; ++c) {
    EXPECT_GE(view->columnWidth(c), metrics.horizontalAdvance(model->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString()))
        << c;
  }
  EXPECT_GE(view->columnWidth(1), metrics.horizontalAdvance("29.389743589743590"));
  EXPECT_LE(view->columnWidth(0), metrics.horizontalAdvance('0') * kLayerTableWidestColumnChars);
  EXPECT_TRUE(panel->CellToolTip(0, 0).isEmpty());
  EXPECT_TRUE(panel->CellToolTip(1, 1).isEmpty());
  const QString tip = panel->CellToolTip(1, 0);
  EXPECT_TRUE(tip.contains(QString::fromStdString(longText))) << tip.toStdString();
  EXPECT_TRUE(Qt::mightBeRichText(tip));  // a rich-text tip wraps
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
