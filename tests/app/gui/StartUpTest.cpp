// Start-up: the splash rule, the preferences and edition read at start, and the
// real viewer started twice as separate processes.
#include <atomic>
#include <chrono>
#include <future>
#include <cstdlib>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QProcess>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include "app/Commands.h"
#include "app/gui/KestruneApp.h"
#include "app/gui/MainFrame.h"
#include "app/gui/SingleInstance.h"
#include "app/gui/SplashWnd.h"
#include "base/AppIdentity.h"
#include "base/gui/AppResources.h"
#include "base/Preferences.h"
#include "lang/LangFile.h"
#include "lang/LangStringCache.h"
#include "layers/Layer.h"
#include "layers/LayerList.h"
#include "support/TestSupport.h"

namespace kestrune::test {
namespace {

QString UniqueChannel() {
  static std::atomic<int> counter{0};
  return QString("kestrune-startup-test-%1-%2").arg(::getpid()).arg(counter++);
}

class StartUpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(dir_.path().string()));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromStdString(dir_.path().string()));
    GetPreferences() = CPreferences();
    SetLangFilePath((dir_ / "KRLang.dat").string());
    ResetLangStringCacheForTesting();
  }
  void TearDown() override {
    if (CSplashWnd* splash = GetSplashWnd()) delete splash;
    GetPreferences() = CPreferences();
    SetLangFilePath("KRLang.dat");
    ResetLangStringCacheForTesting();
  }

  void StorePrefs(std::initializer_list<std::pair<const char*, QVariant>> values) {
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Quillmer Software, Inc.", "Kestrune");
    settings.beginGroup("Prefs");
    for (const auto& [name, value] : values) settings.setValue(name, value);
    settings.endGroup();
    settings.sync();
  }

  TempDir dir_;
};

TEST_F(StartUpTest, WithoutAFileTheSplashShowsAndThePreferencesAreLoaded) {
  StorePrefs({{"IsMetric", 0}, {"SaveFileDir", "/home/grower/out"}});
  CKestruneApp app(UniqueChannel());
  ASSERT_TRUE(app.InitInstance({"-verbose"}));
  EXPECT_EQ(app.Role(), InstanceRole::First);
  EXPECT_EQ(app.FileName(), "");
  ASSERT_NE(app.Frame(), nullptr);
  EXPECT_TRUE(app.Frame()->isVisible());
  EXPECT_TRUE(app.Frame()->windowState() & Qt::WindowMaximized);
  EXPECT_EQ(app.Frame()->ResourceSetId(), kStandardSet);

  CSplashWnd* splash = GetSplashWnd();
  ASSERT_NE(splash, nullptr);
  EXPECT_TRUE(splash->isVisible());
  EXPECT_EQ(splash->size(), QSize(kSplashWidth, kSplashHeight));
  EXPECT_TRUE(splash->windowFlags() & Qt::WindowStaysOnTopHint);
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  EXPECT_LE(std::abs(splash->geometry().center().x() - screen.center().x()), 1);
  EXPECT_LE(std::abs(splash->geometry().center().y() - screen.center().y()), 1);

  // Loaded after the frame was built: the U.S. check mark shows it.
  EXPECT_FALSE(GetPreferences().IsMetric());
  EXPECT_EQ(GetPreferences().GetSaveFolder(), "/home/grower/out");
  EXPECT_TRUE(app.Frame()->Action(kIdUnitsUS)->isChecked());

  // A key press on the splash ends it.
  QTest::keyClick(splash, Qt::Key_Space);
  QTest::qWait(10);
  EXPECT_EQ(GetSplashWnd(), nullptr);
}

TEST_F(StartUpTest, TheApplicationIsNamedAsItsPreferencesAndALaterStartTakesTheKeptWindow) {
  {
    CKestruneApp app(UniqueChannel());
    ASSERT_TRUE(app.InitInstance({"/nowhere.shp"}));
    // One organisation: Qt's default settings are the preferences' own file.
    EXPECT_EQ(QSettings().fileName(),
              QSettings(QSettings::NativeFormat, QSettings::UserScope, "Quillmer Software, Inc.", "Kestrune").fileName());
    EXPECT_EQ(QCoreApplication::applicationVersion().toStdString(), ApplicationVersion());
    EXPECT_EQ(QGuiApplication::desktopFileName(), "com.quillmer.Kestrune");
    EXPECT_TRUE(app.Frame()->windowState() & Qt::WindowMaximized);
    app.Frame()->showNormal();
    app.Frame()->setGeometry(30, 40, 700, 500);
    app.Frame()->close();
  }
  CKestruneApp again(UniqueChannel());
  ASSERT_TRUE(again.InitInstance({"/nowhere.shp"}));
  EXPECT_FALSE(again.Frame()->windowState() & Qt::WindowMaximized);
  EXPECT_EQ(again.Frame()->size(), QSize(700, 500));
}

TEST_F(StartUpTest, AFileNamedOnTheCommandLineMeansNoSplash) {
  CKestruneApp app(UniqueChannel());
  ASSERT_TRUE(app.InitInstance({"-x", (dir_ / "My").string(), "Fields/north.shp"}));
  EXPECT_EQ(app.FileName(), (dir_ / "My").string() + " Fields/north.shp");
  EXPECT_EQ(GetSplashWnd(), nullptr);
  // The file does not exist: nothing is opened and nothing complains.
  EXPECT_FALSE(app.Frame()->Action(kIdFileClose)->isEnabled());
}

TEST_F(StartUpTest, TheVantrelEditionBuildsTheSecondSet) {
  StorePrefs({{"Edition", "Vantrel"}});
  CKestruneApp app(UniqueChannel());
  ASSERT_TRUE(app.InitInstance({"/nowhere.shp"}));
  EXPECT_EQ(app.Frame()->ResourceSetId(), kVantrelSet);
  EXPECT_EQ(app.Frame()->windowTitle(), "Vantrel");
  EXPECT_NE(app.Frame()->Action(kIdShowMe), nullptr);
}

TEST_F(StartUpTest, AHandOverReachesTheFrameAndOpensTheFile) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  const std::string file = CopyFileSet(data / "field" / "ab-line-simple1.shp", dir_.path()).string();
  const QString channel = UniqueChannel();
  CKestruneApp app(channel);
  ASSERT_TRUE(app.InitInstance({}));
  // The later start runs on another thread: it waits for the answer this
  // thread's event loop gives.
  auto later = std::async(std::launch::async, [channel, file] {
    return HandOverToRunningInstance(channel, QString::fromStdString(file), 5000);
  });
  while (later.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready) QTest::qWait(5);
  EXPECT_TRUE(later.get());
  ASSERT_TRUE(QTest::qWaitFor([&] { return app.Frame()->Layers().GetCount() == 1; }, 5000));
  EXPECT_EQ(app.Frame()->Layers().Head()->GetPathName(), file);
}

TEST_F(StartUpTest, SplashEndsOnItsTimerAndOnALeftClickOnly) {
  auto* timed = new CSplashWnd(AppBitmap(kSplashBitmapId), 30);
  EXPECT_EQ(GetSplashWnd(), timed);
  EXPECT_TRUE(QTest::qWaitFor([] { return GetSplashWnd() == nullptr; }, 2000));

  auto* clicked = new CSplashWnd(AppBitmap(kSplashBitmapId), 60000);
  QTest::mouseClick(clicked, Qt::RightButton);
  EXPECT_EQ(GetSplashWnd(), clicked);
  QTest::mouseClick(clicked, Qt::LeftButton);
  EXPECT_EQ(GetSplashWnd(), nullptr);
  QTest::qWait(10);  // the window deletes itself from the event loop
}

TEST_F(StartUpTest, TheSplashPictureIsCentredOnWhite) {
  CSplashWnd splash(AppBitmap(kSplashBitmapId), 60000);
  splash.setFixedSize(kSplashWidth + 20, kSplashHeight + 10);
  const QImage shot = splash.grab().toImage();
  // Inside the border, around the picture, only white.
  EXPECT_EQ(shot.pixelColor(5, 3), QColor(Qt::white));
  EXPECT_EQ(shot.pixelColor(shot.width() - 5, shot.height() - 3), QColor(Qt::white));
  const QImage picture = AppBitmap(kSplashBitmapId).toImage();
  EXPECT_EQ(shot.pixelColor(10 + 100, 5 + 200), picture.pixelColor(100, 200));
}

// The real viewer, started as its own process under the offscreen platform.
class ViewerProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    binary_ = QString(KESTRUNE_BINARY_DIR) + "/kestrune";
    if (!QFile::exists(binary_)) GTEST_SKIP() << "the kestrune target is not built";
    oldTmp_ = qgetenv("TMPDIR");
    oldRuntime_ = qgetenv("XDG_RUNTIME_DIR");
    // The sockets live in the runtime folder: a private one keeps these
    // processes away from a viewer the user is running.
    ::chmod(tmp_.path().c_str(), 0700);
    qputenv("TMPDIR", QByteArray::fromStdString(tmp_.path().string()));
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(tmp_.path().string()));
    env_ = QProcessEnvironment::systemEnvironment();
    env_.insert("TMPDIR", QString::fromStdString(tmp_.path().string()));
    env_.insert("XDG_CONFIG_HOME", QString::fromStdString((tmp_ / "config").string()));
    env_.insert("XDG_RUNTIME_DIR", QString::fromStdString(tmp_.path().string()));
    env_.insert("QT_QPA_PLATFORM", "offscreen");
    channel_ = InstanceChannelName("Quillmer Kestrune", CurrentUserName());
  }
  void TearDown() override {
    for (QProcess* p : processes_) {
      if (p->state() != QProcess::NotRunning) {
        p->kill();
        p->waitForFinished(5000);
      }
      delete p;
    }
    if (oldTmp_.isNull()) qunsetenv("TMPDIR");
    else qputenv("TMPDIR", oldTmp_);
    if (oldRuntime_.isNull()) qunsetenv("XDG_RUNTIME_DIR");
    else qputenv("XDG_RUNTIME_DIR", oldRuntime_);
  }

  QProcess* Start(const QStringList& args) {
    auto* p = new QProcess;
    processes_.push_back(p);
    p->setProcessEnvironment(env_);
    p->setWorkingDirectory(QString::fromStdString(tmp_.path().string()));
    p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p->start(binary_, args);
    return p;
  }

  TempDir tmp_;
  QString binary_;
  QByteArray oldTmp_;
  QByteArray oldRuntime_;
  QProcessEnvironment env_;
  QString channel_;
  std::vector<QProcess*> processes_;
};

TEST_F(ViewerProcessTest, ASecondViewerHandsItsJoinedFileNameOverAndEnds) {
  CInstanceServer first;
  ASSERT_TRUE(first.Listen(channel_));
  QSignalSpy spy(&first, &CInstanceServer::HandOverReceived);
  QProcess* second = Start({"-platform", "offscreen", "-x", "/data/My", "Fields/north", "40.shp", "--switch"});
  ASSERT_TRUE(second->waitForStarted(5000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return spy.count() > 0; }, 15000));
  ASSERT_EQ(spy.count(), 1);
  EXPECT_EQ(spy.at(0).at(0).toString(), "/data/My Fields/north 40.shp");
  EXPECT_TRUE(QTest::qWaitFor([&] { return second->state() == QProcess::NotRunning; }, 10000));
  EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second->exitCode(), 0);
}

TEST_F(ViewerProcessTest, TheFirstViewerServesLaterStartsAndKeepsRunning) {
  QProcess* first = Start({});
  ASSERT_TRUE(first->waitForStarted(5000));
  const QString socket = InstanceSocketPath(channel_);
  ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(socket); }, 15000)) << socket.toStdString();
  // The running viewer answers a hand-over (from this test, as a later start would).
  EXPECT_TRUE(HandOverToRunningInstance(channel_, "/no/such/file.shp", 5000));

  for (const QStringList& args : {QStringList{"/no/such", "file.shp"}, QStringList{}}) {
    QProcess* later = Start(args);
    ASSERT_TRUE(later->waitForFinished(15000));
    EXPECT_EQ(later->exitCode(), 0);
  }
  EXPECT_EQ(first->state(), QProcess::Running);
}

}  // namespace
}  // namespace kestrune::test
