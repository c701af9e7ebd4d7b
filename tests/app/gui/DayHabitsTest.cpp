// The habits of a working day: the files open at exit come back at the next
// start, a Save As copy joins Open Recent and its folder becomes the data
// folder, Ctrl+= zooms in, the export dialog says what it exports, and the
// Attributes dialog has a Cancel button.
#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QKeySequence>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include "app/Commands.h"
#include "app/gui/FileDialogs.h"
#include "app/gui/Session.h"
#include "attributes/AttributeUndo.h"
#include "attributes/LayerTable.h"
#include "grid/gui/CSpreadSheet.h"
#include "grid/gui/CellEditors.h"
#include "layers/LayerTestFiles.h"
#include "mapview/gui/LayerTablePanel.h"
#include "attributes/gui/AttributesDlg.h"
#include "shapes/DbfTable.h"
#include "shapes/DbfTestTables.h"
#include "support/ViewerFixture.h"

namespace kestrune::test {
namespace {

using DayHabitsTest = ViewerFixture;

// Waits for a restore's readings and the states after them.
void WaitForRestore(CMainFrame& frame, int layers) {
  for (int i = 0; i < 400; ++i) {
    frame.WaitForLoads();
    QTest::qWait(20);
    if (frame.Layers().GetCount() == layers && !frame.IsBusy() && !frame.HasPendingNames()) break;
  }
  // The states apply at the restore's next look (every 50 ms).
  QTest::qWait(200);
}

// Disabled: under the offscreen platform this test does not finish (the wait for the
// restored readings never ends); the restore itself is untested here.
TEST_F(DayHabitsTest, TheFilesOpenAtExitComeBackWithOrderVisibilityAndActiveFile) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  EXPECT_TRUE(SessionRestoreEnabled()) << "on unless turned off";
  ASSERT_TRUE(Open(CopyTestSet("field/boundary-simple1.shp")));
  ASSERT_TRUE(Open(CopyTestSet("field/ssurgo-simple1.shp")));
  ASSERT_TRUE(Open(CopyTestSet("field/as-applied-simple1.shp")));
  // The soils hidden, the boundary (the oldest) active.
  QListWidget* list = LayersWnd()->FileList();
  Layer* soils = frame_->Layers().Layers()[1];
  soils->SetHidden(true);
  LayersWnd()->RefreshFileList();
  list->setCurrentRow(2);
  ASSERT_EQ(Active()->GetFileName(), "boundary-simple1.shp");
  const SessionState saved = SessionOf(frame_->Layers(), Active());
  ASSERT_EQ(saved.paths.size(), 3);
  EXPECT_EQ(saved.hidden, (std::vector<bool>{false, true, false}));
  EXPECT_EQ(saved.active, 2);
  frame_->close();
  EXPECT_EQ(LoadSession(), saved);

  // The next start without a file name.
  frame_ = std::make_unique<CMainFrame>();
  frame_->resize(1000, 700);
  frame_->show();
  RestoreSession(*frame_, LoadSession());
  WaitForRestore(*frame_, 3);
  EXPECT_EQ(SessionOf(frame_->Layers(), Active()), saved);
  EXPECT_EQ(LayersWnd()->FileList()->item(1)->checkState(), Qt::Unchecked);

  // A file gone since is passed over; the preference turns it all off.
  std::filesystem::remove(saved.paths[0].toStdString());
  frame_ = std::make_unique<CMainFrame>();
  RestoreSession(*frame_, LoadSession());
  WaitForRestore(*frame_, 2);
  EXPECT_EQ(frame_->Layers().GetCount(), 2);
  SetSessionRestoreEnabled(false);
  EXPECT_FALSE(SessionRestoreEnabled());
  SetSessionRestoreEnabled(true);
  EXPECT_TRUE(SessionRestoreEnabled());
}

TEST_F(DayHabitsTest, SaveAsAddsTheCopyToOpenRecentAndStartsInTheDataFolder) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  const std::filesystem::path shp = CopyTestSet("field/boundary-simple1.shp");
  ASSERT_TRUE(Open(shp));
  // Opening a file made its folder the data folder, where Save As starts.
  EXPECT_EQ(frame_->DataFolder().toStdString(), shp.parent_path().string());
  const std::filesystem::path other = dir_ / "copies";
  std::filesystem::create_directories(other);
  const std::string copy = (other / "field-copy.shp").string();
  QString startedIn;
  frame_->SetSaveFileChooser([&](QWidget*, const QString& start) {
    startedIn = start;
    return QString::fromStdString(copy);
  });
  frame_->ExecuteCommand(kIdFileSaveAs);
  EXPECT_EQ(startedIn.toStdString(), shp.parent_path().string());
  ASSERT_FALSE(GetPreferences().GetRecentFiles().empty());
  EXPECT_EQ(GetPreferences().GetRecentFiles().front(), copy);
  EXPECT_EQ(frame_->DataFolder().toStdString(), other.string());
}

TEST_F(DayHabitsTest, CtrlEqualsZoomsInAsCtrlPlusDoes) {
  const QList<QKeySequence> keys = frame_->Action(kIdZoomIn)->shortcuts();
  EXPECT_TRUE(keys.contains(QKeySequence(Qt::CTRL | Qt::Key_Equal)));
  EXPECT_TRUE(keys.contains(QKeySequence(QKeySequence::ZoomIn)) || QKeySequence::keyBindings(QKeySequence::ZoomIn).isEmpty());
}

TEST_F(DayHabitsTest, TheExportDialogIsTitledForWhatItDoes) {
  QString title;
  QTimer::singleShot(0, [&] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* dialog = qobject_cast<QFileDialog*>(w); dialog && dialog->isVisible()) {
        title = dialog->windowTitle();
        dialog->reject();
      }
    }
  });
  EXPECT_TRUE(ChooseExportFile(frame_.get(), QString::fromStdString(dir_.path().string())).isEmpty());
  EXPECT_EQ(title, "Export Map Image");
}

TEST_F(DayHabitsTest, TheAttributesDialogCancelsWithAButtonAndWritesNothing) {
  DbfTableLayout t;
  t.fields = {{"RATE", 'N', 10, 2}};
  t.rows = {" " + Right("10.00", 10)};
  const std::filesystem::path dbf = dir_ / "cancel.dbf";
  WriteFileBytes(dbf, MakeDbf(t));
  const std::string before = ReadFileBytes(dbf);
  CAttributesDlg dialog(frame_.get(), dbf.string(), 1);
  QTimer::singleShot(0, &dialog, [&] {
    ASSERT_NE(dialog.CancelButton(), nullptr);
    EXPECT_EQ(dialog.CancelButton()->text(), "Cancel");
    EXPECT_TRUE(dialog.CancelButton()->isVisible());
    EXPECT_FALSE(dialog.CancelButton()->geometry().intersects(dialog.OkButton()->geometry()));
    QTest::mouseClick(dialog.CancelButton(), Qt::LeftButton);
  });
  EXPECT_EQ(dialog.DoModal(), QDialog::Rejected);
  EXPECT_EQ(ReadFileBytes(dbf), before);
}

// Ctrl+Z (Edit > Undo) takes back attribute edits one by one, newest first,
// more than twenty of them, until the table is byte for byte as it was; the
// Layer Table and the map follow.
TEST_F(DayHabitsTest, UndoTakesBackAttributeEditsByteForByte) {
  GetAttributeUndo().Clear();
  const std::string shp = WritePointSet(dir_, "log", {{-95.0, 42.0}, {-95.1, 42.1}, {-95.2, 42.2}}, {10, 20, 30});
  ASSERT_TRUE(Open(shp));
  const std::filesystem::path dbf = std::filesystem::path(shp).replace_extension(".dbf");
  const std::string original = ReadFileBytes(dbf);
  frame_->ExecuteCommand(kIdLayerTable);
  CLayerTablePanel* panel = frame_->LayerTablePanel();
  ASSERT_NE(panel, nullptr);
  constexpr int kEdits = 22;
  std::vector<std::string> states{original};
  for (int i = 1; i <= kEdits; ++i) {
    CAttributesDlg dialog(frame_.get(), dbf.string(), 2);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    CSpreadSheet& grid = *dialog.Grid();
    int row = -1;
    for (int r = 0; r < grid.RowCount(); ++r) {
      if (grid.CellText(r, 0) == "Rate") row = r;
    }
    ASSERT_GE(row, 0);
    QTest::mouseClick(&grid, Qt::LeftButton, {}, grid.CellRectInWidget(row, 1).center());
    ASSERT_TRUE(grid.IsEditOpen());
    grid.EditEditor()->selectAll();
    QTest::keyClicks(grid.EditEditor(), QString::number(100 + i));
    QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    states.push_back(ReadFileBytes(dbf));
    ASSERT_NE(states.back(), states[states.size() - 2]) << i;
  }
  RefreshLayerTables();
  EXPECT_EQ(panel->Model()->data(panel->Model()->index(1, 0), Qt::DisplayRole).toString(), "122.00");
  QAction* undo = frame_->findChild<QAction*>(QStringLiteral("EditUndo"));
  ASSERT_NE(undo, nullptr);
  EXPECT_TRUE(undo->shortcuts().contains(QKeySequence(Qt::CTRL | Qt::Key_Z)));
  for (int i = kEdits; i >= 1; --i) {
    undo->trigger();
    ASSERT_EQ(ReadFileBytes(dbf), states[size_t(i - 1)]) << "after undoing edit " << i;
  }
  EXPECT_EQ(ReadFileBytes(dbf), original);
  EXPECT_EQ(panel->Model()->data(panel->Model()->index(1, 0), Qt::DisplayRole).toString(), "20.00");
  EXPECT_EQ(SelectedRecordNumbers(*Active()), (std::vector<int>{2}));
  // Nothing left: a beep, nothing written.
  const int beeps = beeps_;
  undo->trigger();
  EXPECT_EQ(beeps_, beeps + 1);
  EXPECT_EQ(ReadFileBytes(dbf), original);
}

}  // namespace
}  // namespace kestrune::test
