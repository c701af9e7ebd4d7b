// A large file read through the main window: the reading runs beside the
// window, which keeps painting; it can be cancelled at any point without a
// trace; names that arrive meanwhile open after it; and closing the window
// ends it at once.
#include <chrono>
#include <cmath>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <QApplication>
#include <QCoreApplication>
#include <QProgressBar>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include "layers/LayerLoader.h"
#include "shapes/DbfTestTables.h"
#include "shapes/ShapeTestFiles.h"
#include "support/ViewerFixture.h"

namespace kestrune::test {
namespace {

constexpr int kBigCount = 2000000;

// The plain files of a folder, by name.
std::set<std::string> FilesIn(const std::filesystem::path& dir) {
  std::set<std::string> names;
  // The settings of the test's own user are kept in the folder too; only files count.
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.is_regular_file()) names.insert(entry.path().filename().string());
  }
  return names;
}

class LoadingTest : public ViewerFixture {
 protected:
  // A point log of n records on a grid, with a RATE column, written once per
  // test into the test's folder.
  std::filesystem::path WritePoints(const std::string& name, int n) {
    ShpBuilder shp(1);
    DbfTableLayout table;
    table.fields = {{"RATE", 'N', 6, 1}};
    table.rows.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
      shp.Point(-93.6 + (i % 1000) * 1e-5, 42.0 + (i / 1000) * 1e-5);
      table.rows.push_back(" " + Right(std::to_string(100 + i % 50) + ".0", 6));
    }
    const std::filesystem::path path = dir_ / (name + ".shp");
    WriteFileBytes(path, shp.Bytes());
    WriteFileBytes(dir_ / (name + ".dbf"), MakeDbf(table));
    return path;
  }
};

TEST_F(LoadingTest, ACancelAtAnyPointLeavesNoLayerAndNothingWritten) {
  ASSERT_TRUE(Open(WritePoints("small", 10)));
  const std::filesystem::path big = WritePoints("big", kBigCount);
  const std::set<std::string> before = FilesIn(dir_.path());
  for (const int cancelAt : {10, 50, 90}) {
    SCOPED_TRACE(cancelAt);
    int cancelledAt = -1;
    QMetaObject::Connection watch =
        QObject::connect(frame_->LoadProgressBar(), &QProgressBar::valueChanged, [&](int percent) {
          if (cancelledAt < 0 && percent >= cancelAt) {
            cancelledAt = percent;
            // The status bar's button, as the user would click it.
            frame_->LoadCancelButton()->click();
          }
        });
    ASSERT_TRUE(frame_->OpenByName(QString::fromStdString(big.string())));
    frame_->WaitForLoads();
    QObject::disconnect(watch);
    ASSERT_GE(cancelledAt, cancelAt) << "the load reported its progress";
    EXPECT_EQ(frame_->Layers().GetCount(), 1) << "no layer came of the cancelled load";
    EXPECT_EQ(Active()->GetFileName(), "small.shp");
    EXPECT_FALSE(frame_->LoadProgressBar()->isVisibleTo(frame_.get()));
    EXPECT_TRUE(frame_->statusBar()->currentMessage().isEmpty());
    EXPECT_EQ(FilesIn(dir_.path()), before) << "nothing was written beside the file";
  }
  // Esc cancels too.
  QMetaObject::Connection esc = QObject::connect(frame_->LoadProgressBar(), &QProgressBar::valueChanged, [&](int) {
    if (frame_->IsBusy()) QTest::keyClick(frame_.get(), Qt::Key_Escape);
  });
  frame_->OpenByName(QString::fromStdString(big.string()));
  frame_->WaitForLoads();
  QObject::disconnect(esc);
  EXPECT_EQ(frame_->Layers().GetCount(), 1);
  // And a load left alone gives the whole file.
  ASSERT_TRUE(Open(big));
  EXPECT_EQ(Active()->GetRecordCount(), static_cast<std::size_t>(kBigCount));
}

TEST_F(LoadingTest, TheWindowPaintsDuringALoadAndAHandOverOpensAfterIt) {
  const std::filesystem::path big = WritePoints("big", kBigCount);
  const std::filesystem::path later = WritePoints("later", 5);
  ASSERT_TRUE(frame_->OpenByName(QString::fromStdString(big.string())));
  // A name handed over now waits its turn.
  frame_->OnHandOver(QString::fromStdString(later.string()));
  EXPECT_EQ(frame_->Layers().GetCount(), 0);
  // Something asks the map to paint again every few milliseconds, as a pan would.
  const int paintsBefore = MapWnd()->PaintCount();
  int paintsDuringLoad = 0;
  QTimer nudge;
  nudge.setInterval(10);
  QObject::connect(&nudge, &QTimer::timeout, [&] {
    if (!frame_->IsBusy()) return;
    paintsDuringLoad = MapWnd()->PaintCount() - paintsBefore;
    MapWnd()->InvalidateMap(true);
  });
  nudge.start();
  frame_->WaitForLoads();
  nudge.stop();
  EXPECT_GT(paintsDuringLoad, 1) << "the window painted while the file was read";
  ASSERT_EQ(frame_->Layers().GetCount(), 2);
  // Opened in the order named: the later file is the newest.
  EXPECT_EQ(frame_->Layers().Layers()[0]->GetFileName(), "later.shp");
  EXPECT_EQ(frame_->Layers().Layers()[1]->GetFileName(), "big.shp");
  EXPECT_EQ(frame_->Layers().Layers()[1]->GetRecordCount(), static_cast<std::size_t>(kBigCount));
}

TEST_F(LoadingTest, ClosingTheWindowDuringALoadEndsItAtOnce) {
  const std::filesystem::path big = WritePoints("big", kBigCount);
  const std::set<std::string> before = FilesIn(dir_.path());
  ASSERT_TRUE(frame_->OpenByName(QString::fromStdString(big.string())));
  frame_->OnHandOver(QString::fromStdString(big.string()));
  // Well into the reading.
  ASSERT_TRUE(QTest::qWaitFor([&] { return frame_->LoadProgressBar()->value() >= 20; }, 60000));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(frame_->close());
  frame_.reset();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 1.0) << "the window and its reading are gone within a second";
  EXPECT_EQ(FilesIn(dir_.path()), before);
}

// The loader alone, as a tool would use it: the finished layer is handed
// over with its records, a refused file gives its reason, and a loader
// destroyed mid-load takes its layer with it.
TEST_F(LoadingTest, TheLoaderHandsOverTheLayerOrTheRefusal) {
  const std::filesystem::path small = WritePoints("small", 25);
  LayerLoader loader;
  Layer* got = nullptr;
  Error refusal;
  bool done = false;
  QObject::connect(&loader, &LayerLoader::finished,
                   [&](Layer* layer, const Error& error, bool cancelled, const std::vector<Error>&) {
                     got = layer;
                     refusal = error;
                     done = true;
                     EXPECT_FALSE(cancelled);
                   });
  ASSERT_TRUE(loader.Start(small.string()));
  EXPECT_FALSE(loader.Start(small.string())) << "one load at a time";
  ASSERT_TRUE(QTest::qWaitFor([&] { return done; }, 10000));
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(got->GetRecordCount(), 25u);
  EXPECT_FALSE(got->IsLoading());
  delete got;

  // A file that is no shape file: the reader's reason, with the file.
  const std::filesystem::path bad = dir_ / "bad.shp";
  WriteFileBytes(bad, std::string(100, 'x'));
  done = false;
  ASSERT_TRUE(loader.Start(bad.string()));
  ASSERT_TRUE(QTest::qWaitFor([&] { return done; }, 10000));
  EXPECT_EQ(got, nullptr);
  EXPECT_TRUE(refusal.IsSet());
  EXPECT_EQ(refusal.file, bad.string());

  // Destroyed in the middle: no leak, no wait for the whole file.
  const std::filesystem::path big = WritePoints("big", kBigCount);
  auto doomed = std::make_unique<LayerLoader>();
  ASSERT_TRUE(doomed->Start(big.string()));
  QTest::qWait(50);
  const auto start = std::chrono::steady_clock::now();
  doomed.reset();
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 1.0);
}

}  // namespace
// Records a load could not read are told: a few as a status-line notice, a tail
// lost before the end of the file in a message; coordinates that are not
// degrees under a box of degrees refuse the file.
TEST_F(LoadingTest, SkippedRecordsAreToldOnTheStatusLineAndALostTailInAMessage) {
  std::vector<MessageRequest> messages;
  const MessageHandler old = SetMessageHandler([&messages](const MessageRequest& r) {
    messages.push_back(r);
    return MessageAnswer::Ok;
  });
  std::vector<std::string> notices;
  const StatusHandler oldStatus = SetStatusHandler([&notices](const std::string& text) { notices.push_back(text); });
  const std::filesystem::path some = dir_ / "some.shp";
  WriteFileBytes(some, ShpBuilder(1, -94, 41, -93, 43).Point(-93.6, 42).Point(NAN, 42).Point(-93.5, 42).Bytes());
  ASSERT_TRUE(Open(some));
  EXPECT_EQ(frame_->Layers().Layers()[0]->GetRecordCount(), 2u);
  EXPECT_EQ(notices, (std::vector<std::string>{"1 records of \"some.shp\" were not read: 1 with unusable coordinates."}));
  EXPECT_TRUE(messages.empty());

  const std::filesystem::path tail = dir_ / "tail.shp";
  WriteFileBytes(tail, ShpBuilder(1, -94, 41, -93, 43).Point(-93.6, 42).RawBytes(std::string(28, '\xaa')).Bytes());
  ASSERT_TRUE(Open(tail));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].icon, MessageIcon::Warning);
  EXPECT_EQ(messages[0].text,
            "Reading \"tail.shp\" stopped before the end of the file: 1 records were not read (1 after bytes that "
            "are no record). The records before that point are shown.");

  const std::filesystem::path metres = dir_ / "metres.shp";
  WriteFileBytes(metres, ShpBuilder(1, -94, 41, -93, 43).Point(500000, 4600000).Bytes());
  EXPECT_FALSE(Open(metres));
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[1].text.rfind("The coordinate system of this file is unknown", 0), 0u) << messages[1].text;
  EXPECT_EQ(notices.size(), 1u);
  SetMessageHandler(old);
  SetStatusHandler(oldStatus);
}

}  // namespace kestrune::test
