// The frame's layer commands on real shape files: opening by name, by the
// Open command, by dropping and by hand-over; Close and Close All; Save As
// with the file dialog bypassed; zooming; and what waits while a file loads.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QMimeData>
#include <QProgressBar>
#include <QSignalSpy>
#include <QSettings>
#include <QStatusBar>
#include <QToolButton>
#include <QUrl>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include "app/Commands.h"
#include "app/gui/GuiPlatform.h"
#include "app/gui/MainFrame.h"
#include "attributes/gui/DialogSupport.h"
#include "base/gui/PaneInterfaces.h"
#include "base/Platform.h"
#include "base/Preferences.h"
#include "lang/LangFile.h"
#include "lang/LangStringCache.h"
#include "layers/Layer.h"
#include "layers/LayerList.h"
#include "mapview/MapView.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace kestrune::test {
namespace {

// Opens a file through the frame and waits for its reading to end; true when
// a layer came of it.
bool OpenAndWait(CMainFrame& frame, const QString& path) {
  const int before = frame.Layers().GetCount();
  frame.OpenByName(path);
  frame.WaitForLoads();
  return frame.Layers().GetCount() > before;
}

void HandOverAndWait(CMainFrame& frame, const QString& path) {
  frame.OnHandOver(path);
  frame.WaitForLoads();
}

class FrameLayersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(dir_.path().string()));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromStdString(dir_.path().string()));
    GetPreferences() = CPreferences();
    SetLangFilePath((dir_ / "KRLang.dat").string());
    ResetLangStringCacheForTesting();
    oldHandler_ = SetMessageHandler([this](const MessageRequest& r) {
      messages_.push_back(r);
      return MessageAnswer::Ok;
    });
  }
  void TearDown() override {
    SetMessageHandler(oldHandler_);
    GetPreferences() = CPreferences();
    SetLangFilePath("KRLang.dat");
    ResetLangStringCacheForTesting();
  }

  // Copies a set of the real test data into the scratch folder (sub-folder data/).
  QString Copy(const std::string& relative) {
    const fs::path data = dir_ / "data";
    fs::create_directories(data);
    return QString::fromStdString(CopyFileSet(testData_ / relative, data).string());
  }

  // The layers pane's file list (control 101 of the layers window).
  static QListWidget* FileList(CMainFrame& frame) {
    QWidget* pane = frame.LayersPane()->AsWidget();
    if (auto* list = qobject_cast<QListWidget*>(pane)) return list;
    return pane->findChild<QListWidget*>(QStringLiteral("List101"));
  }

  // The file names the layers pane lists, top first.
  static std::vector<std::string> Listed(CMainFrame& frame) {
    std::vector<std::string> names;
    QListWidget* list = FileList(frame);
    if (!list) return names;
    for (int i = 0; i < list->count(); ++i) names.push_back(list->item(i)->text().toStdString());
    return names;
  }

  // True when the view shows the whole rectangle.
  static bool ViewShows(CMainFrame& frame, const MapRect& r) {
    const CMapTransform& t = frame.MapPane()->GetMapView().Transform();
    const MapPoint origin = t.GetWorldOrigin();
    int32_t w = 0, h = 0;
    t.GetWorldExtent(w, h);
    return origin.x <= r.left && origin.y <= r.top && int64_t(origin.x) + w >= r.right &&
           int64_t(origin.y) + h >= r.bottom;
  }

  fs::path testData_;
  TempDir dir_;
  MessageHandler oldHandler_;
  std::vector<MessageRequest> messages_;
};

#define NEED_TESTDATA()                    \
  KESTRUNE_TESTDATA_OR_SKIP(testDataDir);  \
  testData_ = testDataDir

TEST_F(FrameLayersTest, OpenByNameListsNewestFirstMakesItActiveAndZoomsToIt) {
  NEED_TESTDATA();
  CMainFrame frame(kStandardSet);
  frame.resize(900, 600);
  frame.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));

  EXPECT_TRUE(OpenAndWait(frame, Copy("field/boundary-simple1.shp")));
  EXPECT_TRUE(OpenAndWait(frame, Copy("field/as-applied-simple1.shp")));
  EXPECT_EQ(frame.Layers().GetCount(), 2);
  EXPECT_EQ(Listed(frame), (std::vector<std::string>{"as-applied-simple1.shp", "boundary-simple1.shp"}));
  Layer* active = frame.LayersPane()->GetActiveLayer();
  ASSERT_NE(active, nullptr);
  EXPECT_EQ(active, frame.Layers().Head());
  EXPECT_EQ(frame.Layers().GetActiveLayer(), active);
  EXPECT_TRUE(ViewShows(frame, active->GetBounds()));
  for (int id : {kIdFileClose, kIdFileCloseAll, kIdFileSaveAs, kIdFilePrint, kIdZoomTool, kIdZoomIn, kIdZoomOut,
                 kIdZoomAll, kIdZoomActiveFile, kIdDisplaySettings, kIdNotes}) {
    EXPECT_TRUE(frame.Action(id)->isEnabled()) << id;
  }
  EXPECT_TRUE(messages_.empty());
  // The status bar's reading report is gone once the file is in.
  EXPECT_TRUE(frame.statusBar()->currentMessage().isEmpty());
}

TEST_F(FrameLayersTest, SummaryTotalsNeedALogWithARateAndTheStatusBarTellsWhatShowMeHides) {
  NEED_TESTDATA();
  CMainFrame frame(kVantrelSet);
  frame.resize(900, 600);
  frame.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
  EXPECT_TRUE(OpenAndWait(frame, Copy("field/boundary-simple1.shp")));
  EXPECT_FALSE(frame.Action(kIdSummaryTotals)->isEnabled()) << "a boundary has no rate field";
  EXPECT_TRUE(OpenAndWait(frame, Copy("field/as-applied-simple1.shp")));
  EXPECT_TRUE(frame.Action(kIdSummaryTotals)->isEnabled());

  auto* note = frame.findChild<QLabel*>(QStringLiteral("StatusFilterNote"));
  ASSERT_NE(note, nullptr);
  EXPECT_TRUE(note->isHidden()) << "nothing is filtered yet";
  // The default mask (booms on, rates above zero) hides the log's 4 zero rates.
  frame.Layers().Head()->ApplyFilter();
  frame.UpdateCommandStates();
  EXPECT_FALSE(note->isHidden());
  EXPECT_EQ(note->text(), "Show Me: 4 of 2,081 records hidden");
  frame.Layers().Head()->SetFilterMask(0xF);
  frame.Layers().Head()->ApplyFilter();
  frame.UpdateCommandStates();
  EXPECT_TRUE(note->isHidden());
}

TEST_F(FrameLayersTest, MissingAndRefusedFilesAddNothing) {
  NEED_TESTDATA();
  CMainFrame frame(kStandardSet);
  EXPECT_FALSE(OpenAndWait(frame, QString::fromStdString((dir_ / "no such file.shp").string())));
  EXPECT_TRUE(messages_.empty()) << "a missing file named on the command line is passed over silently";
  EXPECT_FALSE(OpenAndWait(frame, Copy("shapes/multipatch.shp")));
  EXPECT_EQ(frame.Layers().GetCount(), 0);
  EXPECT_EQ(messages_.size(), 1u) << "the refused type is reported by the reader";
  EXPECT_FALSE(frame.Action(kIdFileClose)->isEnabled());
}

TEST_F(FrameLayersTest, OpenCommandStartsInTheLastFolderAndRemembersTheNewOne) {
  NEED_TESTDATA();
  GetPreferences().SetOpenFolder("/home/grower/last");
  const QString file = Copy("field/yield-simple1.shp");
  CMainFrame frame(kStandardSet);
  QString startedIn;
  const FileChooser before = SetFileChooser([&](const FileDialogRequest& request) {
    startedIn = request.startFolder;
    return file;
  });
  frame.Action(kIdFileOpen)->trigger();
  frame.WaitForLoads();
  EXPECT_EQ(startedIn, "/home/grower/last");
  EXPECT_EQ(frame.Layers().GetCount(), 1);
  EXPECT_EQ(Listed(frame), (std::vector<std::string>{"yield-simple1.shp"}));
  const std::string folder = (dir_ / "data").string();
  EXPECT_EQ(GetPreferences().GetOpenFolder(), folder);
  CPreferences stored;
  stored.LoadFromConfigFile();
  EXPECT_EQ(stored.GetOpenFolder(), folder) << "the Open dialog's folder is saved at once";

  // Cancel adds nothing.
  SetFileChooser([](const FileDialogRequest&) { return QString(); });
  frame.Action(kIdFileOpen)->trigger();
  frame.WaitForLoads();
  EXPECT_EQ(frame.Layers().GetCount(), 1);
  SetFileChooser(before);
}

// Import starts where Open does: the last data folder, or the last Save As
// folder before anything was opened; its choice becomes the data folder.
TEST_F(FrameLayersTest, ImportStartsInTheDataFolderAndRemembersTheChoice) {
  CMainFrame frame(kStandardSet);
  std::vector<QString> startedIn;
  QString answer;
  const FileChooser before = SetFileChooser([&](const FileDialogRequest& request) {
    startedIn.push_back(request.startFolder);
    return answer;
  });
  GetPreferences().SetOpenFolder("");
  GetPreferences().SetSaveFolder("/home/grower/saved");
  frame.Action(kIdFileImport)->trigger();
  GetPreferences().SetOpenFolder("/home/grower/last");
  frame.Action(kIdFileImport)->trigger();
  const fs::path picked = dir_ / "incoming";
  fs::create_directories(picked);
  answer = QString::fromStdString((picked / "field.geojson").string());
  frame.Action(kIdFileImport)->trigger();
  frame.WaitForLoads();
  answer.clear();
  frame.Action(kIdFileOpen)->trigger();
  frame.WaitForLoads();
  SetFileChooser(before);
  EXPECT_EQ(startedIn, (std::vector<QString>{"/home/grower/saved", "/home/grower/last", "/home/grower/last",
                                             QString::fromStdString(picked.string())}));
  EXPECT_EQ(frame.Layers().GetCount(), 0);
}

TEST_F(FrameLayersTest, SaveAsCopiesTheWholeSetAndRenamesTheLayer) {
  NEED_TESTDATA();
  const QString source = Copy("field/as-applied-simple1.shp");
  const fs::path out = dir_ / "out";
  fs::create_directories(out);
  CMainFrame frame(kStandardSet);
  ASSERT_TRUE(OpenAndWait(frame, source));
  QString startedIn;
  frame.SetSaveFileChooser([&](QWidget*, const QString& start) {
    startedIn = start;
    return QString::fromStdString((out / "trial.v2").string());  // "v2" is taken as the extension
  });
  frame.Action(kIdFileSaveAs)->trigger();
  // Save As starts in the folder of the data last opened.
  EXPECT_EQ(startedIn.toStdString(), (dir_ / "data").string());
  EXPECT_TRUE(messages_.empty());
  const fs::path src = dir_ / "data";
  // The whole set, notes and all, so the copy opens as the original does.
  for (const char* ext : {"shp", "dbf", "shx", "lgd", "gpe", "txt", "prj"}) {
    const fs::path original = src / (std::string("as-applied-simple1.") + ext);
    if (!fs::exists(original)) {
      EXPECT_FALSE(fs::exists(out / (std::string("trial.") + ext))) << ext;
      continue;
    }
    EXPECT_EQ(ReadFileBytes(out / (std::string("trial.") + ext)), ReadFileBytes(original)) << ext;
  }
  Layer* layer = frame.LayersPane()->GetActiveLayer();
  ASSERT_NE(layer, nullptr);
  EXPECT_EQ(layer->GetPathName(), (out / "trial.shp").string());
  EXPECT_EQ(Listed(frame), (std::vector<std::string>{"trial.shp"}));
  EXPECT_EQ(GetPreferences().GetSaveFolder(), out.string());
  CPreferences stored;
  stored.LoadFromConfigFile();
  EXPECT_EQ(stored.GetSaveFolder(), out.string());
}

TEST_F(FrameLayersTest, SaveAsOntoItselfKeepsEveryFileIntact) {
  NEED_TESTDATA();
  const QString source = Copy("field/as-applied-simple1.shp");
  const fs::path src = dir_ / "data";
  std::vector<std::string> before;
  for (const char* ext : {"shp", "dbf", "shx", "lgd", "gpe", "txt"}) {
    before.push_back(ReadFileBytes(src / (std::string("as-applied-simple1.") + ext)));
  }
  CMainFrame frame(kStandardSet);
  ASSERT_TRUE(OpenAndWait(frame, source));
  frame.SetSaveFileChooser([&](QWidget*, const QString&) { return source; });
  frame.Action(kIdFileSaveAs)->trigger();
  EXPECT_TRUE(messages_.empty());
  int i = 0;
  for (const char* ext : {"shp", "dbf", "shx", "lgd", "gpe", "txt"}) {
    const std::string now = ReadFileBytes(src / (std::string("as-applied-simple1.") + ext));
    EXPECT_EQ(now.size(), before[size_t(i)].size()) << ext;
    EXPECT_EQ(now, before[size_t(i)]) << ext;
    ++i;
  }
  EXPECT_EQ(frame.LayersPane()->GetActiveLayer()->GetPathName(), source.toStdString());
}

TEST_F(FrameLayersTest, ASettingsFileThatIsALinkIsKeptAndTheStatusBarSaysSo) {
  NEED_TESTDATA();
  const QString source = Copy("field/as-applied-simple1.shp");
  const fs::path gpe = dir_ / "data" / "as-applied-simple1.gpe";
  const fs::path target = dir_ / "bashrc";
  WriteFileBytes(target, "alias ll='ls -l'\n");
  fs::remove(gpe);
  fs::create_symlink(target, gpe);
  CMainFrame frame(kStandardSet);
  InstallGuiPlatform(&frame);
  SetMessageHandler([this](const MessageRequest& r) {
    messages_.push_back(r);
    return MessageAnswer::Ok;
  });
  ASSERT_TRUE(OpenAndWait(frame, source));
  // The notice comes after the command that caused it has cleared the status bar.
  EXPECT_TRUE(QTest::qWaitFor([&] { return frame.statusBar()->currentMessage().contains("symbolic link"); }, 2000))
      << frame.statusBar()->currentMessage().toStdString();
  EXPECT_TRUE(frame.statusBar()->currentMessage().contains(QString::fromStdString(gpe.string())));
  EXPECT_EQ(ReadFileBytes(target), "alias ll='ls -l'\n");
  SetStatusHandler(nullptr);
  SetBeepHandler(nullptr);
  SetWaitCursorHandlers(nullptr, nullptr);
}

TEST_F(FrameLayersTest, AFailedSaveAsSaysWhichFileAndLeavesTheLayerAlone) {
  NEED_TESTDATA();
  const QString source = Copy("field/boundary-simple1.shp");
  CMainFrame frame(kStandardSet);
  ASSERT_TRUE(OpenAndWait(frame, source));
  const fs::path missing = dir_ / "gone";
  frame.SetSaveFileChooser([&](QWidget*, const QString&) { return QString::fromStdString((missing / "x.shp").string()); });
  frame.Action(kIdFileSaveAs)->trigger();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].text, "Unable to copy " + (dir_ / "data" / "boundary-simple1.shp").string() + " to " +
                                   (missing / "x.shp").string() + ".\n\nError Code = 2 (No such file or directory)");
  EXPECT_EQ(messages_[0].caption, "File Save As Error");
  EXPECT_EQ(messages_[0].icon, MessageIcon::Warning);
  EXPECT_EQ(frame.LayersPane()->GetActiveLayer()->GetPathName(), source.toStdString());
  // The folder is remembered either way.
  EXPECT_EQ(GetPreferences().GetSaveFolder(), missing.string());

  // Cancel does nothing at all.
  messages_.clear();
  frame.SetSaveFileChooser([](QWidget*, const QString&) { return QString(); });
  frame.Action(kIdFileSaveAs)->trigger();
  EXPECT_TRUE(messages_.empty());
}

TEST_F(FrameLayersTest, CloseTakesTheActiveLayerAndCloseAllTheRest) {
  NEED_TESTDATA();
  CMainFrame frame(kStandardSet);
  ASSERT_TRUE(OpenAndWait(frame, Copy("field/boundary-simple1.shp")));
  ASSERT_TRUE(OpenAndWait(frame, Copy("field/ab-line-simple1.shp")));
  ASSERT_TRUE(OpenAndWait(frame, Copy("field/ssurgo-simple1.shp")));
  // Choosing a line in the list makes its layer the active one at once.
  QListWidget* list = FileList(frame);
  ASSERT_NE(list, nullptr);
  list->setCurrentRow(1);
  EXPECT_EQ(frame.LayersPane()->GetActiveLayer()->GetFileName(), "ab-line-simple1.shp");

  frame.Action(kIdFileClose)->trigger();
  EXPECT_EQ(Listed(frame), (std::vector<std::string>{"ssurgo-simple1.shp", "boundary-simple1.shp"}));
  EXPECT_EQ(frame.LayersPane()->GetActiveLayer(), frame.Layers().Head());

  frame.Action(kIdFileCloseAll)->trigger();
  EXPECT_EQ(frame.Layers().GetCount(), 0);
  EXPECT_TRUE(Listed(frame).empty());
  EXPECT_EQ(frame.LayersPane()->GetActiveLayer(), nullptr);
  EXPECT_FALSE(frame.Action(kIdFileClose)->isEnabled());
  EXPECT_FALSE(frame.Action(kIdZoomAll)->isEnabled());
  EXPECT_TRUE(frame.Action(kIdFileOpen)->isEnabled());
}

TEST_F(FrameLayersTest, EveryLegendThatCannotBeWrittenOnClosingIsToldOnce) {
  NEED_TESTDATA();
  const fs::path target = dir_ / "elsewhere.txt";
  WriteFileBytes(target, "kept");
  // A changed legend whose file is a link: the save is refused and told.
  const auto changeLegend = [&](Layer* layer) {
    fs::create_symlink(target, layer->GetLegendPath());
    Legend legend;
    legend.Insert(5.0, 0xFF);
    legend.SetChanged(true);
    layer->SetLegend(legend);
  };
  const auto legendMessages = [&] {
    return std::count_if(messages_.begin(), messages_.end(), [](const MessageRequest& r) {
      return r.caption == "Legend" && r.text.find("symbolic link") != std::string::npos &&
             r.icon == MessageIcon::Warning;
    });
  };
  {
    CMainFrame frame(kStandardSet);
    for (const char* set : {"field/boundary-simple1.shp", "field/ab-line-simple1.shp", "field/ssurgo-simple1.shp"}) {
      ASSERT_TRUE(OpenAndWait(frame, Copy(set)));
    }
    messages_.clear();
    for (Layer* layer : frame.Layers().Layers()) changeLegend(layer);
    frame.Action(kIdFileClose)->trigger();
    EXPECT_EQ(legendMessages(), 1);
    EXPECT_EQ(messages_.size(), 1u);
    frame.Action(kIdFileCloseAll)->trigger();
    EXPECT_EQ(legendMessages(), 3);
    EXPECT_EQ(messages_.size(), 3u);

    ASSERT_TRUE(OpenAndWait(frame, QString::fromStdString((dir_ / "data" / "boundary-simple1.shp").string())));
    fs::remove(frame.Layers().Head()->GetLegendPath());
    messages_.clear();
    changeLegend(frame.Layers().Head());
  }
  // The frame going tells the last one.
  EXPECT_EQ(legendMessages(), 1);
  EXPECT_EQ(ReadFileBytes(target), "kept");
}

TEST_F(FrameLayersTest, ZoomCommandsMoveTheView) {
  NEED_TESTDATA();
  CMainFrame frame(kStandardSet);
  frame.resize(900, 600);
  frame.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
  ASSERT_TRUE(OpenAndWait(frame, Copy("field/boundary-simple1.shp")));
  ASSERT_TRUE(OpenAndWait(frame, Copy("field/ab-line-simple1.shp")));
  MapView& view = frame.MapPane()->GetMapView();
  const int32_t fitted = view.Width();
  frame.Action(kIdZoomIn)->trigger();
  EXPECT_LT(view.Width(), fitted);
  frame.Action(kIdZoomOut)->trigger();
  frame.Action(kIdZoomOut)->trigger();
  EXPECT_GT(view.Width(), fitted);
  frame.Action(kIdZoomAll)->trigger();
  EXPECT_TRUE(ViewShows(frame, frame.Layers().GetBounds()));
  frame.Action(kIdZoomActiveFile)->trigger();
  EXPECT_EQ(view.Width(), fitted);
  frame.Action(kIdZoomTool)->trigger();
  EXPECT_TRUE(frame.MapPane()->IsZoomToolActive());
  EXPECT_TRUE(frame.Action(kIdZoomTool)->isChecked());
  frame.Action(kIdZoomTool)->trigger();
  EXPECT_FALSE(frame.Action(kIdZoomTool)->isChecked());
}

TEST_F(FrameLayersTest, TheZoomKeysWorkInTheMapWindowAndTheLayersPane) {
  NEED_TESTDATA();
  CMainFrame frame(kStandardSet);
  frame.resize(900, 600);
  frame.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
  frame.activateWindow();
  ASSERT_TRUE(OpenAndWait(frame, Copy("field/boundary-simple1.shp")));
  MapView& view = frame.MapPane()->GetMapView();
  const int32_t fitted = view.Width();
  QWidget* map = frame.MapPane()->AsWidget();
  map->setFocus();
  ASSERT_TRUE(QTest::qWaitFor([&] { return map->hasFocus(); }, 2000));
  QTest::keyClick(map, Qt::Key_I);
  EXPECT_LT(view.Width(), fitted);
  const int32_t zoomedIn = view.Width();
  QTest::keyClick(map, Qt::Key_O);
  EXPECT_GT(view.Width(), zoomedIn);
  QTest::keyClick(map, Qt::Key_A);
  EXPECT_TRUE(ViewShows(frame, frame.Layers().GetBounds()));
  // Typed in the layers pane, the letters are the map's too.
  const int32_t before = view.Width();
  QWidget* list = frame.LayersPane()->AsWidget();
  list->setFocus();
  ASSERT_TRUE(QTest::qWaitFor([&] { return list->hasFocus(); }, 2000));
  QTest::keyClick(list, Qt::Key_I);
  EXPECT_LT(view.Width(), before);
  QTest::keyClick(list, Qt::Key_O);
  EXPECT_EQ(view.Width(), before);
}

TEST_F(FrameLayersTest, SummaryTotalsFollowsTheActiveLayersProductSlot) {
  NEED_TESTDATA();
  CMainFrame frame(kVantrelSet);
  ASSERT_TRUE(OpenAndWait(frame, Copy("field/yield-simple1.shp")));
  EXPECT_FALSE(frame.Action(kIdSummaryTotals)->isEnabled());
  EXPECT_TRUE(frame.Action(kIdShowMe)->isEnabled());
  Layer* layer = frame.LayersPane()->GetActiveLayer();
  layer->SetFieldKnown(0, true, false);
  frame.UpdateCommandStates();
  EXPECT_FALSE(frame.Action(kIdSummaryTotals)->isEnabled());
  layer->SetFieldKnown(0, true, true);
  frame.UpdateCommandStates();
  EXPECT_TRUE(frame.Action(kIdSummaryTotals)->isEnabled());
  layer->SetProductSlot(10);
  frame.UpdateCommandStates();
  EXPECT_FALSE(frame.Action(kIdSummaryTotals)->isEnabled());
}

TEST_F(FrameLayersTest, DroppedFilesOpenInOrderAsIfNamedOnTheCommandLine) {
  NEED_TESTDATA();
  const QString a = Copy("field/boundary-simple1.shp");
  const QString b = Copy("field/ab-line-simple1.shp");
  CMainFrame frame(kStandardSet);
  frame.show();
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(a), QUrl("https://example.com/x.shp"), QUrl::fromLocalFile(b)});
  QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  // Without a drag in progress the application does not route a drop; the
  // window's own handler gets it as a real drag's end would.
  static_cast<QObject*>(&frame)->event(&drop);
  EXPECT_TRUE(drop.isAccepted());
  ASSERT_TRUE(QTest::qWaitFor([&] { return frame.Layers().GetCount() == 2; }, 5000));
  EXPECT_EQ(Listed(frame), (std::vector<std::string>{"ab-line-simple1.shp", "boundary-simple1.shp"}));
}

TEST_F(FrameLayersTest, AHandOverRestoresTheWindowAndOpensTheFile) {
  NEED_TESTDATA();
  CMainFrame frame(kStandardSet);
  frame.showMinimized();
  HandOverAndWait(frame, Copy("field/ssurgo-simple1.shp"));
  EXPECT_FALSE(frame.isMinimized());
  EXPECT_TRUE(frame.isVisible());
  EXPECT_EQ(Listed(frame), (std::vector<std::string>{"ssurgo-simple1.shp"}));
  // Without a name it only comes forward.
  frame.OnHandOver(QString());
  EXPECT_EQ(frame.Layers().GetCount(), 1);
}

TEST_F(FrameLayersTest, WhileAFileLoadsTheOtherLayersStayUsableAndAHandOverWaitsItsTurn) {
  NEED_TESTDATA();
  const QString first = Copy("field/yield-simple1.shp");
  const QString second = Copy("field/boundary-simple1.shp");
  CMainFrame frame(kStandardSet);
  frame.show();
  ASSERT_TRUE(OpenAndWait(frame, Copy("field/ab-line-simple1.shp")));
  ASSERT_TRUE(frame.OpenByName(first));
  // Straight after the start: the reading runs in its own thread.
  EXPECT_TRUE(frame.IsBusy());
  EXPECT_TRUE(frame.LoadProgressBar()->isVisibleTo(&frame));
  EXPECT_TRUE(frame.LoadCancelButton()->isVisibleTo(&frame));
  frame.UpdateCommandStates();
  EXPECT_TRUE(frame.Action(kIdFileClose)->isEnabled()) << "the open layer can be closed meanwhile";
  EXPECT_TRUE(frame.Action(kIdZoomAll)->isEnabled());
  EXPECT_FALSE(frame.OpenByName(second)) << "a name arriving during a load waits";
  frame.WaitForLoads();
  EXPECT_FALSE(frame.IsBusy());
  EXPECT_FALSE(frame.LoadProgressBar()->isVisibleTo(&frame));
  EXPECT_EQ(Listed(frame),
            (std::vector<std::string>{"boundary-simple1.shp", "yield-simple1.shp", "ab-line-simple1.shp"}));
}

TEST_F(FrameLayersTest, LoadingReportsItsProgressInTheStatusBar) {
  NEED_TESTDATA();
  CMainFrame frame(kStandardSet);
  frame.show();
  QSignalSpy spy(frame.statusBar(), &QStatusBar::messageChanged);
  ASSERT_TRUE(OpenAndWait(frame, Copy("field/yield-simple1.shp")));
  std::vector<std::string> shown;
  for (const QList<QVariant>& args : spy) shown.push_back(args.at(0).toString().toStdString());
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.front().rfind("Reading yield-simple1.shp: ", 0), 0u) << shown.front();
  EXPECT_NE(std::find(shown.begin(), shown.end(), "Reading yield-simple1.shp: 3365 records"), shown.end());
  EXPECT_EQ(shown.back(), "") << "cleared when the file is in";
}

}  // namespace
}  // namespace kestrune::test
