// The Summary by Zones panel on the soil zones and the yield log: the files
// offered, the table, sorting, a row selecting its zone, Copy and Export CSV.
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QListWidget>
#include <QLocale>
#include <QCheckBox>
#include <QTableWidget>

#include <gtest/gtest.h>

#include "layers/Layer.h"
#include "layers/LayerList.h"
#include "support/TestSupport.h"
#include "zones/gui/ZonesPanel.h"

namespace kestrune::test {
namespace {

namespace fs = std::filesystem;

TEST(ZonesPanel, SummarisesSortsSelectsCopiesAndExports) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  TempDir dir;
  LayerList list;
  Layer* zones = list.AddLayer(CopyFileSet(data / "field" / "ssurgo-simple1.shp", dir.path()).string(), true);
  Layer* log = list.AddLayer(CopyFileSet(data / "field" / "yield-simple1.shp", dir.path()).string(), true);
  ASSERT_TRUE(zones && log);
  CZonesPanel panel;
  panel.SetLayers(&list);
  // Only the area file is offered as zones; the log defaults to the other file.
  ASSERT_EQ(panel.ZonesBox()->count(), 1);
  EXPECT_EQ(panel.ZonesBox()->currentText(), "ssurgo-simple1.shp");
  EXPECT_EQ(panel.LogBox()->currentText(), "yield-simple1.shp");
  ASSERT_EQ(panel.FieldList()->count(), 1);
  panel.FieldList()->item(0)->setCheckState(Qt::Checked);
  panel.LabelBox()->setCurrentIndex(panel.LabelBox()->findText("musym"));
  ASSERT_TRUE(panel.Summarise());

  QTableWidget* table = panel.Table();
  ASSERT_EQ(table->rowCount(), 12);
  EXPECT_EQ(table->columnCount(), 4 + 5);
  int64_t total = 0;
  for (int r = 0; r < table->rowCount(); ++r) total += table->item(r, 2)->data(Qt::DisplayRole).toLongLong();
  EXPECT_EQ(total, static_cast<int64_t>(log->GetRecordCount()));
  // Sorted by count, highest first.
  table->sortItems(2, Qt::DescendingOrder);
  for (int r = 1; r < table->rowCount(); ++r) {
    EXPECT_GE(table->item(r - 1, 2)->data(Qt::DisplayRole).toDouble(), table->item(r, 2)->data(Qt::DisplayRole).toDouble());
  }
  // A row selects every parcel of its zone on the map.
  int row = 0;
  while (row < table->rowCount() && table->item(row, 0)->data(Qt::UserRole).toInt() == 0) ++row;
  const int record = table->item(row, 0)->data(Qt::UserRole).toInt();
  emit table->cellClicked(row, 0);
  ASSERT_GT(zones->GetSelectionCount(), 0);
  for (Shape* s : zones->GetSelection()) EXPECT_EQ(s->GetRecordNumber(), record);

  const char point = QLocale().decimalPoint().at(0).toLatin1();
  EXPECT_EQ(panel.TableText().toStdString(), ZoneSummaryTable(panel.Summary(), point, true));
  const fs::path csv = dir / "zones.csv";
  ASSERT_TRUE(panel.ExportCsv(QString::fromStdString(csv.string())));
  EXPECT_EQ(ReadFileBytes(csv), ZoneSummaryTable(panel.Summary(), point));

  // The zones as a set: ".shp" added to the name, one record per zone.
  ASSERT_TRUE(panel.ExportShapes(QString::fromStdString((dir / "zones-out").string())));
  LayerList back;
  Layer* written = back.AddLayer((dir / "zones-out.shp").string(), true);
  ASSERT_TRUE(written);
  EXPECT_EQ(written->GetRecordCount(), zones->GetRecordCount());
  // The table prints with the page only when asked and once summarised.
  EXPECT_FALSE(panel.PrintsWithPage());
  panel.PrintBox()->setChecked(true);
  EXPECT_TRUE(panel.PrintsWithPage());
  EXPECT_EQ(panel.SummaryZoneFile(), "ssurgo-simple1.shp");
}

}  // namespace
}  // namespace kestrune::test
