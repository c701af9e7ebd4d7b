// A large file being read through the main window: the records read show as
// they grow, the window stays live, and what would close, re-theme or reopen
// a layer waits until the reading ends.
#include <string>
#include <vector>

#include <QApplication>
#include <QCoreApplication>
#include <QListWidget>
#include <QStatusBar>
#include <QTimer>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include "app/Commands.h"
#include "shapes/DbfTestTables.h"
#include "shapes/ShapeTestFiles.h"
#include "support/ViewerFixture.h"

namespace kestrune::test {
namespace {

constexpr int kBigCount = 150000;

class LoadingTest : public ViewerFixture {
 protected:
  void SetUp() override {
    ViewerFixture::SetUp();
    // The viewer's pump: windows repaint and timers fire while a file is read.
    oldPump_ = SetPumpHandler([] { QCoreApplication::processEvents(); });
  }
  void TearDown() override {
    SetPumpHandler(oldPump_);
    ViewerFixture::TearDown();
  }

  // A point file of n records on a grid, with a RATE column.
  std::filesystem::path WritePoints(const std::string& name, int n) {
    ShpBuilder shp(1);
    DbfTableLayout table;
    table.fields = {{"RATE", 'N', 6, 1}};
    table.rows.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
      shp.Point(-93.6 + (i % 400) * 1e-5, 42.0 + (i / 400) * 1e-5);
      table.rows.push_back(" " + Right(std::to_string(100 + i % 50) + ".0", 6));
    }
    const std::filesystem::path path = dir_ / (name + ".shp");
    WriteFileBytes(path, shp.Bytes());
    WriteFileBytes(dir_ / (name + ".dbf"), MakeDbf(table));
    return path;
  }

  std::function<void()> oldPump_;
};

TEST_F(LoadingTest, ProgressShowsAndLayerCommandsWaitUntilTheReadingEnds) {
  ASSERT_TRUE(Open(WritePoints("small", 10)));
  const std::filesystem::path big = WritePoints("big", kBigCount);
  const std::filesystem::path later = WritePoints("later", 5);

  std::vector<QString> messages;
  int busyTicks = 0;
  bool closeEnabled = false;
  bool closeAllEnabled = false;
  bool openEnabled = false;
  bool laterOpenedAtOnce = true;
  QTimer probe;
  probe.setInterval(0);
  QObject::connect(&probe, &QTimer::timeout, [&] {
    if (!frame_->IsBusy()) return;
    if (++busyTicks == 1) {
      // A hand-over arriving now waits its turn.
      laterOpenedAtOnce = frame_->OpenByName(QString::fromStdString(later.string()));
    }
    closeEnabled |= frame_->Action(kIdFileClose)->isEnabled();
    closeAllEnabled |= frame_->Action(kIdFileCloseAll)->isEnabled();
    openEnabled |= frame_->Action(kIdFileOpen)->isEnabled();
    // Run anyway, as a queued shortcut would: nothing may happen.
    frame_->ExecuteCommand(kIdFileCloseAll);
  });
  QObject::connect(frame_->statusBar(), &QStatusBar::messageChanged, [&](const QString& message) {
    if (!message.isEmpty()) messages.push_back(message);
  });
  probe.start();
  ASSERT_TRUE(Open(big));
  probe.stop();

  EXPECT_GT(busyTicks, 0);
  EXPECT_FALSE(laterOpenedAtOnce);
  EXPECT_FALSE(closeEnabled);
  EXPECT_FALSE(closeAllEnabled);
  EXPECT_FALSE(openEnabled);
  // The records read, counted up in steps.
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.front().left(17), "Reading big.shp: ");
  long long last = 0;
  for (const QString& m : messages) {
    const long long n = m.mid(17).section(' ', 0, 0).toLongLong();
    EXPECT_GT(n, last) << m.toStdString();
    EXPECT_TRUE(m.endsWith(" records")) << m.toStdString();
    last = n;
  }
  EXPECT_LE(last, kBigCount);
  // Nothing was closed, the whole file is there, and the count is gone.
  ASSERT_EQ(GetLayerList()->GetCount(), 2);
  EXPECT_EQ(Active()->GetFileName(), "big.shp");
  EXPECT_EQ(Active()->GetRecordCount(), static_cast<std::size_t>(kBigCount));
  EXPECT_TRUE(frame_->statusBar()->currentMessage().isEmpty());
  EXPECT_TRUE(frame_->Action(kIdFileCloseAll)->isEnabled());

  // The waiting name opens once the event loop turns.
  QTRY_COMPARE(GetLayerList()->GetCount(), 3);
  EXPECT_EQ(Active()->GetFileName(), "later.shp");
  EXPECT_EQ(LayersWnd()->FileList()->count(), 3);
}

TEST_F(LoadingTest, ClosingTheWindowDuringAReadClosesItAfterwards) {
  const std::filesystem::path big = WritePoints("big", kBigCount);
  bool askedToClose = false;
  bool closedAtOnce = false;
  QTimer probe;
  probe.setInterval(0);
  QObject::connect(&probe, &QTimer::timeout, [&] {
    if (!frame_->IsBusy() || askedToClose) return;
    askedToClose = true;
    frame_->close();
    closedAtOnce = !frame_->isVisible();
  });
  probe.start();
  ASSERT_TRUE(Open(big));
  probe.stop();
  ASSERT_TRUE(askedToClose);
  EXPECT_FALSE(closedAtOnce);
  EXPECT_EQ(Active()->GetRecordCount(), static_cast<std::size_t>(kBigCount));
  QTRY_VERIFY(!frame_->isVisible());
}

}  // namespace
}  // namespace kestrune::test
