// The zones table on the printed page through the window: once summarised
// and asked for, the page's source carries the table as a block, which lies
// clear of the legends and under the heading and the map; without the tick
// the page has no such block.
#include <filesystem>
#include <string>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QListWidget>
#include <QPainter>
#include <QSettings>

#include <gtest/gtest.h>

#include "app/Commands.h"
#include "app/gui/MainFrame.h"
#include "base/Platform.h"
#include "base/Preferences.h"
#include "base/gui/PaneInterfaces.h"
#include "lang/LangFile.h"
#include "lang/LangStringCache.h"
#include "layers/LayerList.h"
#include "mapview/MapView.h"
#include "mapview/gui/MapPrinting.h"
#include "mapview/gui/PrintPage.h"
#include "support/TestSupport.h"
#include "zones/gui/ZonesPanel.h"

namespace fs = std::filesystem;

namespace kestrune::test {
namespace {

TEST(FrameZonesPrint, TheTablePrintsAsABlockClearOfTheOthersWhenAsked) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  TempDir dir;
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(dir.path().string()));
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromStdString(dir.path().string()));
  GetPreferences() = CPreferences();
  SetLangFilePath((dir / "KRLang.dat").string());
  ResetLangStringCacheForTesting();
  const MessageHandler old = SetMessageHandler([](const MessageRequest&) { return MessageAnswer::Ok; });
  {
    CMainFrame frame(kStandardSet);
    frame.resize(900, 600);
    for (const char* name : {"ssurgo-simple1.shp", "yield-simple1.shp"}) {
      frame.OpenByName(QString::fromStdString(CopyFileSet(data / "field" / name, dir.path()).string()));
      frame.WaitForLoads();
    }
    ASSERT_EQ(frame.Layers().GetCount(), 2);
    frame.Action(kIdSummariseZones)->trigger();
    CZonesPanel* panel = frame.ZonesPanel();
    ASSERT_TRUE(panel);
    panel->LogBox()->setCurrentIndex(panel->LogBox()->findText("yield-simple1.shp"));
    panel->FieldList()->item(0)->setCheckState(Qt::Checked);
    ASSERT_TRUE(panel->Summarise());

    const MapView& view = frame.MapPane()->GetMapView();
    EXPECT_TRUE(PrintSourceOf(&frame, view, &frame.Layers()).extraBlocks.empty());
    panel->PrintBox()->setChecked(true);
    const PrintSource source = PrintSourceOf(&frame, view, &frame.Layers());
    ASSERT_EQ(source.extraBlocks.size(), 1u);

    // A landscape letter page at 100 dpi.
    QImage image(1100, 850, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    const PrintedPage page = DrawPrintPage(painter, PageMetrics{1100, 850, 100, 100, 0, 0}, source);
    ASSERT_EQ(page.extraBoxes.size(), 1u);
    const QRect table = page.extraBoxes[0];
    EXPECT_GT(table.height(), 12 * 10);  // a title, a header, 11 zones and the outside row
    EXPECT_GE(table.top(), 0);
    for (const PrintedLegend& legend : page.legends) {
      EXPECT_FALSE(table.intersects(legend.titleBox)) << legend.title;
      for (const PrintedLegendRow& row : legend.rows) EXPECT_FALSE(table.intersects(row.swatch | row.firstBox));
    }
    EXPECT_LT(page.headingBox.bottom(), table.top());
    EXPECT_LE(page.mapArea.bottom(), table.top());
  }
  SetMessageHandler(old);
  GetPreferences() = CPreferences();
  SetLangFilePath("KRLang.dat");
  ResetLangStringCacheForTesting();
}

}  // namespace
}  // namespace kestrune::test
