// The main window's desktop habits: the platform's keys, the map's keys from
// anywhere but a text field, the window kept between runs, Open Recent, the
// status bar's position and scale, the middle-button pan, the layers' check
// boxes and order, and Export Map Image against `render`.
#include <cmath>
#include <sstream>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMenu>
#include <QMouseEvent>
#include <QPalette>
#include <QSplitter>
#include <QStatusBar>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include "app/Commands.h"
#include "attributes/IdentifyReport.h"
#include "attributes/gui/DialogSupport.h"
#include "geo/MapProjection.h"
#include "layers/LayerTestFiles.h"
#include "mapview/gui/CliRender.h"
#include "mapview/gui/MapPrinting.h"
#include "shapes/AttributeReport.h"
#include "support/ViewerFixture.h"

namespace kestrune::test {
namespace {

class DesktopHabitsTest : public ViewerFixture {
 protected:
  // Two small files of our own: points in the west, a square area in the east.
  void WriteFiles() {
    points_ = WritePointSet(dir_, "points", {{-95.002, 42.0}, {-95.0, 42.001}, {-94.998, 42.002}}, {1, 2, 3});
    area_ = WriteAreaSet(dir_, "area", {Square(-94.99, 42.001, 0.003)}, {7});
  }
  bool OpenBoth() {
    WriteFiles();
    return Open(points_) && Open(area_);
  }
  MapView& View() { return frame_->MapPane()->GetMapView(); }
  // Sends a mouse event straight to the map window.
  void Mouse(QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons buttons, const QPoint& at) {
    QMouseEvent event(type, QPointF(at), MapWnd()->mapToGlobal(QPointF(at)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(MapWnd(), &event);
  }
  void Activate() {
    frame_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame_.get()));
  }
  void FocusOn(QWidget* widget) {
    widget->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return widget->hasFocus(); }, 2000));
  }

  std::string points_;
  std::string area_;
};

TEST_F(DesktopHabitsTest, ThePlatformsKeysRunTheMenuCommands) {
  ASSERT_TRUE(OpenBoth());
  Activate();
  FocusOn(MapWnd());
  int opened = 0;
  const FileChooser oldChooser = SetFileChooser([&](const FileDialogRequest&) {
    ++opened;
    return QString();
  });
  int printed = 0;
  const PrintDialogRunner oldRunner = SetPrintDialogRunner([&](QPrinter&, QWidget*) {
    ++printed;
    return false;
  });
  QTest::keyClick(MapWnd(), Qt::Key_O, Qt::ControlModifier);
  EXPECT_EQ(opened, 1);
  QTest::keyClick(MapWnd(), Qt::Key_P, Qt::ControlModifier);
  EXPECT_EQ(printed, 1);
  const int32_t width = View().Width();
  QTest::keyClick(MapWnd(), Qt::Key_Plus, Qt::ControlModifier);
  EXPECT_EQ(View().Width(), width / 2);
  QTest::keyClick(MapWnd(), Qt::Key_Minus, Qt::ControlModifier);
  EXPECT_EQ(View().Width(), width / 2 * 2);
  QTest::keyClick(MapWnd(), Qt::Key_W, Qt::ControlModifier);
  EXPECT_EQ(frame_->Layers().GetCount(), 1);
  QTest::keyClick(MapWnd(), Qt::Key_Q, Qt::ControlModifier);
  EXPECT_FALSE(frame_->isVisible());
  SetFileChooser(oldChooser);
  SetPrintDialogRunner(oldRunner);
}

TEST_F(DesktopHabitsTest, TheMapsKeysWorkEverywhereButInATextField) {
  ASSERT_TRUE(OpenBoth());
  Activate();
  auto* typed = new QLineEdit(frame_.get());
  frame_->statusBar()->addWidget(typed);
  typed->show();
  QWidget* list = LayersWnd()->FileList();
  QWidget* theme = LayersWnd()->ThemeBox();
  frame_->ExecuteCommand(kIdZoomAll);
  for (QWidget* focus : {static_cast<QWidget*>(MapWnd()), list, theme}) {
    FocusOn(focus);
    const MapPoint origin = View().Transform().GetWorldOrigin();
    const int32_t width = View().Width();
    QTest::keyClick(focus, Qt::Key_Left);
    EXPECT_EQ(View().Transform().GetWorldOrigin().x, origin.x - static_cast<int32_t>(width * 0.25))
        << focus->objectName().toStdString();
    QTest::keyClick(focus, Qt::Key_Down);
    EXPECT_GT(View().Transform().GetWorldOrigin().y, origin.y) << focus->objectName().toStdString();
    QTest::keyClick(focus, Qt::Key_I);
    EXPECT_EQ(View().Width(), width / 2) << focus->objectName().toStdString();
    QTest::keyClick(focus, Qt::Key_A);
    EXPECT_EQ(View().Width(), width) << focus->objectName().toStdString();
  }
  // A text field keeps its letters and arrows.
  FocusOn(typed);
  const MapPoint origin = View().Transform().GetWorldOrigin();
  const int32_t width = View().Width();
  QTest::keyClicks(typed, "oia");
  QTest::keyClick(typed, Qt::Key_Left);
  EXPECT_EQ(typed->text(), "oia");
  EXPECT_EQ(typed->cursorPosition(), 2);
  EXPECT_EQ(View().Width(), width);
  EXPECT_EQ(View().Transform().GetWorldOrigin().x, origin.x);
}

TEST_F(DesktopHabitsTest, SizePositionAndSplitterAreKeptForTheNextStart) {
  frame_.reset();
  {
    // Nothing kept yet: the first start is told so (and opens maximised).
    CMainFrame first;
    EXPECT_FALSE(first.RestoreWindowState());
    first.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&first));
    first.setGeometry(40, 60, 900, 640);
    first.Splitter()->setSizes({230, 670});
    ASSERT_TRUE(QTest::qWaitFor([&] { return first.Splitter()->sizes().front() == 230; }, 2000));
    first.close();
  }
  CMainFrame next;
  ASSERT_TRUE(next.RestoreWindowState());
  next.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&next));
  EXPECT_EQ(next.size(), QSize(900, 640));
  EXPECT_EQ(next.geometry().topLeft(), QPoint(40, 60));
  EXPECT_EQ(next.Splitter()->sizes().front(), 230);
}

TEST_F(DesktopHabitsTest, OpenRecentListsTheFilesOpenedLastAndDropsOneThatIsGone) {
  WriteFiles();
  ASSERT_TRUE(Open(points_));
  ASSERT_TRUE(Open(area_));
  QMenu* recent = frame_->RecentMenu();
  ASSERT_NE(recent, nullptr);
  ASSERT_EQ(recent->actions().size(), 2);
  EXPECT_EQ(recent->actions()[0]->text(), QStringLiteral("&1 ") + QString::fromStdString(area_));
  EXPECT_EQ(recent->actions()[1]->text(), QStringLiteral("&2 ") + QString::fromStdString(points_));
  EXPECT_TRUE(frame_->Action(kIdFileOpenRecent)->isEnabled());
  // Kept in the preferences at once.
  CPreferences stored;
  stored.LoadFromConfigFile();
  EXPECT_EQ(stored.GetRecentFiles(), (std::vector<std::string>{area_, points_}));

  frame_->ExecuteCommand(kIdFileCloseAll);
  recent->actions()[1]->trigger();
  frame_->WaitForLoads();
  ASSERT_EQ(frame_->Layers().GetCount(), 1);
  EXPECT_EQ(Active()->GetFileName(), "points.shp");
  EXPECT_EQ(recent->actions()[0]->data().toString().toStdString(), points_);

  // The area's files are gone: choosing it says so and takes it off the list.
  std::filesystem::remove(area_);
  std::vector<std::string> messages;
  const MessageHandler old = SetMessageHandler([&](const MessageRequest& request) {
    messages.push_back(request.text);
    return MessageAnswer::Ok;
  });
  recent->actions()[1]->trigger();
  frame_->WaitForLoads();
  SetMessageHandler(old);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find(area_), std::string::npos) << messages[0];
  EXPECT_EQ(frame_->Layers().GetCount(), 1);
  ASSERT_EQ(recent->actions().size(), 1);
  stored.LoadFromConfigFile();
  EXPECT_EQ(stored.GetRecentFiles(), (std::vector<std::string>{points_}));
}

TEST_F(DesktopHabitsTest, TheStatusBarShowsThePointerAsTheIdentifyReportShowsAPoint) {
  ASSERT_TRUE(OpenBoth());
  const QPoint pixel(321, 234);
  const MapPoint at = MapOf(pixel);
  // A point record there, as its Attributes dialog would show it.
  PointShape record(1);
  record.SetPoint(at);
  for (int style = 1; style <= 5; ++style) {
    GetPreferences().SetLatLongStyle(style);
    Mouse(QEvent::MouseMove, Qt::NoButton, Qt::NoButton, pixel);
    const std::vector<ReportRow> rows = ComputeReportRows(record);
    ASSERT_EQ(rows.size(), 2u);
    // Latitude first, as the dialog shows it on top.
    EXPECT_EQ(frame_->PositionLabel()->text().toStdString(), rows[1].value + "  " + rows[0].value) << style;
    EXPECT_FALSE(rows[0].value.empty()) << style;
  }
  GetPreferences().SetLatLongStyle(1);
  Mouse(QEvent::MouseMove, Qt::NoButton, Qt::NoButton, pixel);
  double latitude = 0, longitude = 0;
  GetMapProjection().MapToGeo(at, latitude, longitude);
  const QString text = frame_->PositionLabel()->text();
  EXPECT_TRUE(text.startsWith(QString::number(latitude, 'f', 5) + QChar(0xB0) + QStringLiteral(" N"))) << text.toStdString();
  EXPECT_TRUE(text.endsWith(QString::number(-longitude, 'f', 5) + QChar(0xB0) + QStringLiteral(" W"))) << text.toStdString();
  // Off the map, no position.
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(MapWnd(), &leave);
  EXPECT_TRUE(frame_->PositionLabel()->text().isEmpty());
}

TEST_F(DesktopHabitsTest, TheScaleIsTheGroundAPixelCoversAtTheCentre) {
  ASSERT_TRUE(OpenBoth());
  MapPoint centre;
  GetMapProjection().GeoToMap(60.0, -95.0, centre);
  // Five map units (0.1 m of the Mercator plane, 0.05 m of ground at 60 degrees) a pixel.
  View().SetZoomWidth(5 * View().ClientWidth());
  View().CenterOn(centre);
  const double dpi = MapWnd()->logicalDpiX();
  const double expected = 0.05 / (0.0254 / dpi);
  EXPECT_NEAR(View().ScaleAtCentre(dpi), expected, expected * 1e-4);
  EXPECT_EQ(frame_->ScaleLabel()->text(), QStringLiteral("1:") + QLocale().toString(std::llround(expected)));
  // With every file closed there is no map to have a scale.
  frame_->ExecuteCommand(kIdFileCloseAll);
  EXPECT_TRUE(frame_->ScaleLabel()->text().isEmpty());
}

TEST_F(DesktopHabitsTest, TheMiddleButtonDragsTheMapWithEitherTool) {
  ASSERT_TRUE(OpenBoth());
  for (bool zoomTool : {false, true}) {
    if (zoomTool) frame_->ExecuteCommand(kIdZoomTool);
    ASSERT_EQ(frame_->MapPane()->IsZoomToolActive(), zoomTool);
    const QPoint from(400, 300), to(470, 260);
    const MapPoint grabbed = MapOf(from);
    const int32_t width = View().Width();
    Mouse(QEvent::MouseButtonPress, Qt::MiddleButton, Qt::MiddleButton, from);
    Mouse(QEvent::MouseMove, Qt::NoButton, Qt::MiddleButton, QPoint(430, 280));
    EXPECT_TRUE(MapWnd()->IsHandPanning());
    Mouse(QEvent::MouseMove, Qt::NoButton, Qt::MiddleButton, to);
    Mouse(QEvent::MouseButtonRelease, Qt::MiddleButton, Qt::NoButton, to);
    EXPECT_FALSE(MapWnd()->IsHandPanning());
    // The grabbed point lies under the pointer now; the zoom is as it was.
    const MapPoint now = MapOf(to);
    const double unitsPerPixel = static_cast<double>(width) / View().ClientWidth();
    EXPECT_NEAR(now.x, grabbed.x, unitsPerPixel + 1);
    EXPECT_NEAR(now.y, grabbed.y, unitsPerPixel + 1);
    EXPECT_EQ(View().Width(), width);
    // Neither tool took the drag as a selection or a zoom.
    EXPECT_EQ(Active()->GetSelectionCount(), 0);
  }
}

TEST_F(DesktopHabitsTest, TheFileListsCheckBoxesAndOrderDecideWhatIsDrawnAndHit) {
  ASSERT_TRUE(OpenBoth());
  QListWidget* list = LayersWnd()->FileList();
  ASSERT_EQ(list->count(), 2);
  Layer* area = frame_->Layers().Layers()[0];
  Layer* points = frame_->Layers().Layers()[1];
  ASSERT_EQ(area->GetFileName(), "area.shp");
  EXPECT_EQ(list->item(0)->checkState(), Qt::Checked);

  // A click on the area's box hides it: the tools find nothing in it.
  const QRect line = list->visualItemRect(list->item(0));
  const QPoint box(line.left() + 37 + 1 + 7, line.center().y());
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, box);
  EXPECT_EQ(list->item(0)->checkState(), Qt::Unchecked);
  EXPECT_TRUE(area->IsHidden());
  EXPECT_FALSE(points->IsHidden());
  const MapRect b = area->GetBounds();
  const MapPoint inside{b.left / 2 + b.right / 2, b.top / 2 + b.bottom / 2};
  EXPECT_EQ(frame_->Layers().HitTestPoint(inside), nullptr);
  EXPECT_FALSE(MapWnd()->SelectInRect(MapRect{inside.x, inside.y, inside.x, inside.y}, false));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, box);
  EXPECT_FALSE(area->IsHidden());
  EXPECT_NE(frame_->Layers().HitTestPoint(inside), nullptr);
  // Space on the current line does the same.
  list->setCurrentRow(0);
  QTest::keyClick(list, Qt::Key_Space);
  EXPECT_TRUE(area->IsHidden());
  QTest::keyClick(list, Qt::Key_Space);
  EXPECT_FALSE(area->IsHidden());

  // The box's place on a legend line is the line's own: a double click there
  // opens the area's Display Settings as anywhere on its solid colour line.
  int displays = 0;
  LayersWnd()->SetDisplayDialogHandler([&](Layer*) { ++displays; });
  QListWidget* legend = LayersWnd()->LegendList();
  ASSERT_GE(legend->count(), 1);
  const QPoint onLegend(box.x(), legend->visualItemRect(legend->item(0)).center().y());
  QTest::mouseClick(legend->viewport(), Qt::LeftButton, {}, onLegend);
  QTest::mouseDClick(legend->viewport(), Qt::LeftButton, {}, onLegend);
  EXPECT_EQ(displays, 1);

  // Moving the points' line to the top draws the points last.
  QListWidgetItem* moved = list->takeItem(1);
  list->insertItem(0, moved);
  ASSERT_TRUE(QTest::qWaitFor([&] { return frame_->Layers().Layers()[0] == points; }, 2000));
  EXPECT_EQ(frame_->Layers().Layers()[1], area);
}

TEST_F(DesktopHabitsTest, TheFileListDrawsWithItsPalette) {
  ASSERT_TRUE(OpenBoth());
  QListWidget* list = LayersWnd()->FileList();
  const QRect line = list->visualItemRect(list->item(1));
  const QPoint ground(line.right() - 2, line.top() + 1);
  // The light palette: white as always.
  EXPECT_EQ(list->viewport()->grab().toImage().pixelColor(ground), QColor(Qt::white));
  QPalette dark = list->palette();
  dark.setColor(QPalette::Base, QColor(30, 30, 30));
  dark.setColor(QPalette::Text, QColor(230, 230, 230));
  list->setPalette(dark);
  const QImage picture = list->viewport()->grab().toImage();
  EXPECT_EQ(picture.pixelColor(ground), QColor(30, 30, 30));
  // The name is written in the light text colour.
  bool lightText = false;
  for (int x = line.left() + 60; x < line.right() && !lightText; ++x) {
    for (int y = line.top(); y <= line.bottom() && !lightText; ++y) lightText = picture.pixelColor(x, y).lightness() > 180;
  }
  EXPECT_TRUE(lightText);
}

TEST_F(DesktopHabitsTest, ExportWritesThePixelsRenderWritesAndAPdf) {
  ASSERT_TRUE(OpenBoth());
  frame_->ExecuteCommand(kIdZoomAll);
  const std::string exported = (dir_ / "export.png").string();
  frame_->SetExportFileChooser([&](QWidget*, const QString&) { return QString::fromStdString(exported); });
  frame_->ExecuteCommand(kIdFileExportImage);
  const QImage mine(QString::fromStdString(exported));
  ASSERT_FALSE(mine.isNull());
  ASSERT_EQ(mine.size(), QSize(View().ClientWidth(), View().ClientHeight()));

  std::ostringstream out, err;
  const std::string rendered = (dir_ / "render.png").string();
  const std::string size = std::to_string(mine.width()) + "x" + std::to_string(mine.height());
  ASSERT_EQ(RunRenderCommand({rendered, points_, area_, "--size", size}, out, err), kCliOk) << err.str();
  const QImage theirs(QString::fromStdString(rendered));
  ASSERT_EQ(theirs.size(), mine.size());
  int differing = 0;
  for (int y = 0; y < mine.height(); ++y) {
    for (int x = 0; x < mine.width(); ++x) differing += mine.pixel(x, y) != theirs.pixel(x, y);
  }
  EXPECT_EQ(differing, 0);
  // More than the background: the area's colour is in it.
  const MapRect b = frame_->Layers().Layers()[0]->GetBounds();
  const QPoint middle = PixelOf(MapPoint{b.left / 2 + b.right / 2, b.top / 2 + b.bottom / 2});
  EXPECT_NE(mine.pixel(middle), qRgb(255, 255, 255));

  const std::string pdf = (dir_ / "export.pdf").string();
  frame_->SetExportFileChooser([&](QWidget*, const QString&) { return QString::fromStdString(pdf); });
  frame_->ExecuteCommand(kIdFileExportImage);
  EXPECT_EQ(ReadFileBytes(pdf).substr(0, 5), "%PDF-");
}

}  // namespace
}  // namespace kestrune::test
