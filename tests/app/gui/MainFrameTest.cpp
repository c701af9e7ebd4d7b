// The main frame as a real window: menus, toolbar, translation, enabling
// rules, Units, About and Exit.
#include <string>
#include <vector>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QDragEnterEvent>
#include <QUrl>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QTimer>
#include <QToolBar>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include "app/Commands.h"
#include "app/gui/AboutDlg.h"
#include "app/gui/MainFrame.h"
#include "layers/gui/CLayersWnd.h"
#include "base/gui/PaneInterfaces.h"
#include "base/Preferences.h"
#include "lang/LangFile.h"
#include "lang/LangStringCache.h"
#include "mapview/MapView.h"
#include "support/TestSupport.h"

namespace kestrune::test {
namespace {

// "id|text" of each action of a menu, "-" for separators, "[title" ... "]" around submenus.
std::vector<std::string> Walk(const QList<QAction*>& actions) {
  std::vector<std::string> out;
  for (QAction* a : actions) {
    if (a->isSeparator()) {
      out.push_back("-");
    } else if (QMenu* sub = a->menu()) {
      out.push_back("[" + a->text().toStdString());
      for (const std::string& s : Walk(sub->actions())) out.push_back(s);
      out.push_back("]");
    } else {
      out.push_back(std::to_string(a->data().toInt()) + "|" + a->text().toStdString());
    }
  }
  return out;
}

// The toolbar's command ids with 0 for separators.
std::vector<int> ToolbarIds(QToolBar* bar) {
  std::vector<int> ids;
  for (QAction* a : bar->actions()) ids.push_back(a->isSeparator() ? 0 : a->data().toInt());
  return ids;
}

class MainFrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Nothing reaches the real settings of the user running the tests.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(dir_.path().string()));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromStdString(dir_.path().string()));
    GetPreferences() = CPreferences();
    SetLangFilePath((dir_ / "KRLang.dat").string());
    ResetLangStringCacheForTesting();
  }
  void TearDown() override {
    GetPreferences() = CPreferences();
    SetLangFilePath("KRLang.dat");
    ResetLangStringCacheForTesting();
  }

  TempDir dir_;
};

TEST_F(MainFrameTest, StandardSetMenuAndToolbarInOrderWithDefaultTexts) {
  CMainFrame frame(kStandardSet);
  EXPECT_EQ(frame.windowTitle(), "Quillmer Kestrune");
  EXPECT_EQ(Walk(frame.menuBar()->actions()),
            (std::vector<std::string>{
                "[&File  ", "32771|&Open...", "[Open &Recent", "]", "32871|&Import...", "32775|&Close", "32799|&Close &All", "-",
                "32801|Save As...", "32961|Save C&leaned As...", "32962|Save Se&lection As...",
                "32963|Save S&hown As...", "32773|&Print", "32774|Print Pre&view", "32810|&Export Map Image...", "-", "[Units", "32808|&U.S.", "32809|Metric", "]", "-", "32770|E&xit", "]",
                "[&Edit", "0|&Undo Attribute Edit", "]", "[&View  ", "32792|&Zoom Tool", "32850|&Measure", "32793|Zoom In \t &I", "32794|Zoom Out \t &O",
                "32795|Zoom All \t &A", "32800|Zoom Active &File", "-", "32797|&Display Settings",
                "32840|Layer &Table", "]", "[&Log  ", "32960|&Clean Log...", "32807|&Notes", "32845|Summarise by &Zones...", "]", "[&Help", "32790|&About...", "]"}));
  EXPECT_EQ(ToolbarIds(frame.ToolBar()), (std::vector<int>{32771, 32775, 32799, 0, 32801, 0, 32773, 0, 32792, 0,
                                                           32793, 32794, 32795, 32800, 0, 32797, 32840, 32807}));
  // Every button is 24 x 23 and shows a picture of our own.
  for (QAction* a : frame.ToolBar()->actions()) {
    if (a->isSeparator()) continue;
    QWidget* button = frame.ToolBar()->widgetForAction(a);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->size(), QSize(24, 23)) << a->data().toInt();
    EXPECT_FALSE(a->icon().isNull()) << a->data().toInt();
    EXPECT_FALSE(a->toolTip().isEmpty());
  }
  EXPECT_EQ(frame.Action(kIdZoomIn)->toolTip(), "Zoom In");
  EXPECT_EQ(frame.Action(kIdFileOpen)->toolTip(), "Open");
  EXPECT_EQ(frame.Action(kIdShowMe), nullptr);
  EXPECT_FALSE(frame.windowIcon().isNull());
}

TEST_F(MainFrameTest, VantrelSetAddsShowMeAndSummaryTotals) {
  CMainFrame frame(kVantrelSet);
  EXPECT_EQ(frame.windowTitle(), "Vantrel");
  const std::vector<std::string> menu = Walk(frame.menuBar()->actions());
  EXPECT_EQ(menu, (std::vector<std::string>{
                      "[&File  ", "32771|&Open...", "[Open &Recent", "]", "32871|&Import...", "32775|&Close", "32799|&Close &All", "-",
                      "32801|Save As...", "32961|Save C&leaned As...", "32962|Save Se&lection As...",
                      "32963|Save S&hown As...", "32773|&Print", "32774|Print Pre&view", "32810|&Export Map Image...", "-", "32770|E&xit", "]",
                      "[&Edit", "0|&Undo Attribute Edit", "]", "[&View  ", "32792|&Zoom Tool", "32850|&Measure", "32793|Zoom In \t &I", "32794|Zoom Out \t &O",
                      "32795|Zoom All \t &A", "32800|Zoom Active &File", "-", "32797|&Display Settings",
                      "32806|&Show Me", "32840|Layer &Table", "]",
                      "[&Log  ", "32798|&Summary Totals", "32960|&Clean Log...", "32807|&Notes", "32845|Summarise by &Zones...", "]", "[&Help", "32790|&About...", "]"}));
  EXPECT_EQ(ToolbarIds(frame.ToolBar()), (std::vector<int>{32771, 32775, 32799, 0, 32801, 0, 32773, 0, 32792, 0,
                                                           32793, 32794, 32795, 32800, 0, 32797, 32806, 32840, 0, 32807, 0,
                                                           32798}));
  EXPECT_EQ(frame.Action(kIdUnitsMetric), nullptr);
}

TEST_F(MainFrameTest, MenuTextsAndTipsComeFromTheLanguageFile) {
  ASSERT_TRUE(WriteLangFile((dir_ / "KRLang.dat").string(),
                            {{10244, "&Datei  "},
                             {10245, "Ö&ffnen..."},
                             {10253, "Vergrößern \t &I"},
                             {10261, "&Notizen"},
                             {10262, "&Hilfe"},
                             {10263, "Ü&ber..."}},
                            false, 0, nullptr));
  ResetLangStringCacheForTesting();
  CMainFrame frame(kStandardSet);
  const QList<QAction*> bar = frame.menuBar()->actions();
  ASSERT_EQ(bar.size(), 5);
  EXPECT_EQ(bar[0]->text(), "&Datei  ");
  EXPECT_EQ(bar[2]->text(), "&View  ");  // not in the file: the default
  EXPECT_EQ(bar[4]->text(), "&Hilfe");
  EXPECT_EQ(frame.Action(kIdFileOpen)->text(), "Ö&ffnen...");
  EXPECT_EQ(frame.Action(kIdZoomIn)->text(), "Vergrößern \t &I");
  EXPECT_EQ(frame.Action(kIdAppAbout)->text(), "Ü&ber...");
  // Texts without an id pass unchanged.
  EXPECT_EQ(frame.Action(kIdUnitsUS)->text(), "&U.S.");
  // The toolbar shares the actions, so its tips are translated too.
  EXPECT_EQ(frame.Action(kIdZoomIn)->toolTip(), "Vergrößern");
  EXPECT_EQ(frame.Action(kIdNotes)->toolTip(), "Notizen");
  EXPECT_EQ(frame.Action(kIdFileOpen)->toolTip(), "Öffnen");
}

TEST_F(MainFrameTest, WithNoLayerOnlyOpenExitAboutAndUnitsAreEnabled) {
  for (int set : {kStandardSet, kVantrelSet}) {
    CMainFrame frame(set);
    frame.show();
    // The File menu refreshes the states as it opens.
    QMenu* file = frame.menuBar()->actions().front()->menu();
    emit file->aboutToShow();
    for (int id : MenuCommandIds(GetResourceSet(set))) {
      const bool expected = id == kIdFileOpen || id == kIdFileImport || id == kIdAppExit || id == kIdAppAbout ||
                            id == kIdUnitsUS || id == kIdUnitsMetric;
      EXPECT_EQ(frame.Action(id)->isEnabled(), expected) << "set " << set << " command " << id;
    }
    // A disabled command does nothing when asked for directly.
    frame.ExecuteCommand(kIdZoomTool);
    EXPECT_FALSE(frame.MapPane()->IsZoomToolActive());
    EXPECT_FALSE(frame.Action(kIdZoomTool)->isChecked());
  }
}

TEST_F(MainFrameTest, UnitsMoveTheCheckMarkAndAreSavedAtOnce) {
  CMainFrame frame(kStandardSet);
  EXPECT_TRUE(frame.Action(kIdUnitsMetric)->isChecked());
  EXPECT_FALSE(frame.Action(kIdUnitsUS)->isChecked());

  frame.Action(kIdUnitsUS)->trigger();
  EXPECT_FALSE(GetPreferences().IsMetric());
  EXPECT_TRUE(frame.Action(kIdUnitsUS)->isChecked());
  EXPECT_FALSE(frame.Action(kIdUnitsMetric)->isChecked());
  // Choosing the checked one again keeps it checked.
  frame.Action(kIdUnitsUS)->trigger();
  EXPECT_TRUE(frame.Action(kIdUnitsUS)->isChecked());

  // Written at once: a restart finds U.S. units without an Open or Save As.
  CPreferences stored;
  stored.LoadFromConfigFile();
  EXPECT_FALSE(stored.IsMetric());

  frame.Action(kIdUnitsMetric)->trigger();
  EXPECT_TRUE(GetPreferences().IsMetric());
  EXPECT_TRUE(frame.Action(kIdUnitsMetric)->isChecked());
  EXPECT_FALSE(frame.Action(kIdUnitsUS)->isChecked());
  stored.LoadFromConfigFile();
  EXPECT_TRUE(stored.IsMetric());
}

TEST_F(MainFrameTest, SplitterHoldsTheLayersPaneAt200PixelsAndTheMapGetsTheRest) {
  CMainFrame frame(kStandardSet);
  frame.resize(1000, 700);
  frame.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
  ASSERT_EQ(frame.Splitter()->count(), 2);
  EXPECT_EQ(frame.Splitter()->widget(0), frame.LayersPane()->AsWidget());
  EXPECT_EQ(frame.Splitter()->widget(1), frame.MapPane()->AsWidget());
  EXPECT_EQ(frame.Splitter()->sizes().at(0), 200);
  EXPECT_GT(frame.Splitter()->sizes().at(1), 700);
  // A usual file name fits its line: past the icon and the check box (55 pixels).
  auto* pane = dynamic_cast<CLayersWnd*>(frame.LayersPane());
  ASSERT_NE(pane, nullptr);
  EXPECT_GE(pane->FileList()->viewport()->width() - QFontMetrics(pane->NormalFont()).horizontalAdvance("field-boundary.shp"),
            55);
  frame.resize(1200, 700);
  QTest::qWait(20);
  EXPECT_EQ(frame.Splitter()->sizes().at(0), 200);
  // The map's view follows its window.
  EXPECT_EQ(frame.MapPane()->GetMapView().ClientWidth(), frame.MapPane()->AsWidget()->width());
  EXPECT_EQ(frame.focusProxy(), frame.MapPane()->AsWidget());
}

TEST_F(MainFrameTest, AboutShowsItsPictureAndClosesOnOk) {
  for (int set : {kStandardSet, kVantrelSet}) {
    CMainFrame frame(set);
    frame.show();
    int templateId = 0;
    QSize picture;
    QString title, button;
    QTimer::singleShot(0, [&] {
      auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
      if (!about) return;
      templateId = about->GetTemplateId();
      picture = about->PictureLabel()->pixmap().size();
      title = about->windowTitle();
      button = about->OkButton()->text();
      QTest::mouseClick(about->OkButton(), Qt::LeftButton);
    });
    frame.ExecuteCommand(kIdAppAbout);
    EXPECT_EQ(templateId, set == kVantrelSet ? 155 : 100);
    EXPECT_EQ(picture, QSize(400, 250));
    EXPECT_EQ(title, "About");
    EXPECT_EQ(button, "OK");
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  }
}

TEST_F(MainFrameTest, ExitClosesTheWindowAtOnce) {
  CMainFrame frame(kStandardSet);
  frame.show();
  ASSERT_TRUE(frame.isVisible());
  frame.Action(kIdAppExit)->trigger();
  EXPECT_FALSE(frame.isVisible());
  EXPECT_EQ(GetMainFrame(), &frame) << "closing hides; the frame lives until deleted";
}

TEST_F(MainFrameTest, ZoomToolTogglesWithItsCheckMarkOnceEnabled) {
  CMainFrame frame(kStandardSet);
  // With no layer the command is off; the tool itself still toggles from the map window.
  frame.MapPane()->ToggleZoomTool();
  frame.UpdateCommandStates();
  EXPECT_TRUE(frame.Action(kIdZoomTool)->isChecked());
  EXPECT_EQ(frame.MapPane()->AsWidget()->cursor().shape(), Qt::BitmapCursor);
  frame.MapPane()->ToggleZoomTool();
  frame.UpdateCommandStates();
  EXPECT_FALSE(frame.Action(kIdZoomTool)->isChecked());
}

}  // namespace
}  // namespace kestrune::test

namespace kestrune::test {
namespace {

TEST_F(MainFrameTest, OnlyLocalFilesAreAcceptedForDropping) {
  CMainFrame frame(kStandardSet);
  frame.show();
  EXPECT_TRUE(frame.acceptDrops());
  auto enter = [&](const QList<QUrl>& urls) {
    QMimeData mime;
    mime.setUrls(urls);
    QDragEnterEvent event(QPoint(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    event.setAccepted(false);
    QApplication::sendEvent(&frame, &event);
    return event.isAccepted();
  };
  EXPECT_TRUE(enter({QUrl::fromLocalFile("/data/north.shp")}));
  EXPECT_TRUE(enter({QUrl("https://example.com/a.shp"), QUrl::fromLocalFile("/data/My Fields/b.shp")}));
  EXPECT_FALSE(enter({QUrl("https://example.com/a.shp")}));
  EXPECT_FALSE(enter({}));
}

}  // namespace
}  // namespace kestrune::test
