// The Legend Setup dialog on a real grid: the rows a legend opens as, the
// Under-to-Over mirroring, adding and removing rows, colour cells, OK's order
// check and changed mark, templates, and the layer writing the edited legend.
#include <cmath>

#include <QApplication>
#include <QColorDialog>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QDir>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QComboBox>
#include <QTest>
#include <QToolTip>

#include <gtest/gtest.h>

#include "attributes/gui/DialogSupport.h"
#include "attributes/gui/HistogramView.h"
#include "attributes/gui/LegendSetupDialog.h"
#include "grid/gui/CellEditors.h"
#include "layers/Classes.h"
#include "layers/LayerList.h"
#include "support/TestSupport.h"
#include "DialogTestSupport.h"

namespace kestrune::test {
namespace {

namespace fs = std::filesystem;

constexpr Color kLow = 0x0000FF;
constexpr Color kMid = 0x00FF00;
constexpr Color kTop = 0xFF0000;

// Breaks 10 and 20 and the top class.
Legend TwoBreakLegend() {
  Legend legend;
  legend.Insert(20.0, kMid);
  legend.Insert(10.0, kLow);
  legend.Insert(kLegendTopValue, kTop);
  return legend;
}

class LegendSetupTest : public ::testing::Test {
 protected:
  // Shows a dialog on the legend and makes it the active window.
  std::unique_ptr<CLegendSetupDialog> Open(Legend& legend) {
    auto dialog = std::make_unique<CLegendSetupDialog>(legend);
    dialog->show();
    dialog->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
    return dialog;
  }

  static QPushButton* Button(const QWidget* dialog, int id) {
    auto* button = FindControl<QPushButton>(dialog, id);
    EXPECT_NE(button, nullptr) << id;
    return button;
  }

  // The Over, Under and colour of every row below the header.
  struct Row {
    QString over;
    QString under;
    Color colour;
    friend bool operator==(const Row& a, const Row& b) {
      return a.over == b.over && a.under == b.under && a.colour == b.colour;
    }
    friend std::ostream& operator<<(std::ostream& os, const Row& r) {
      return os << "(" << r.over.toStdString() << ", " << r.under.toStdString() << ", " << std::hex
                << r.colour << std::dec << ")";
    }
  };
  static std::vector<Row> Rows(const CLegendGrid& grid) {
    std::vector<Row> rows;
    for (int r = 1; r < grid.RowCount(); ++r) {
      rows.push_back({grid.CellText(r, kColOver), grid.CellText(r, kColUnder), grid.GetCellBackColour(r, kColColor)});
    }
    return rows;
  }

  // Types a value into an Under cell and leaves it with Tab.
  static void TypeUnder(CLegendGrid* grid, int row, const QString& text) {
    grid->SetCurrentCell(row, kColUnder);
    ASSERT_TRUE(grid->IsEditOpen());
    grid->EditEditor()->selectAll();
    QTest::keyClicks(grid->EditEditor(), text);
    QTest::keyClick(grid->EditEditor(), Qt::Key_Tab);
  }

  TempDir dir_;
};

TEST_F(LegendSetupTest, TwoBreaksAndTheTopClassOpenAsHeaderTopMiddleAndLowestRows) {
  Legend legend = TwoBreakLegend();
  auto dialog = Open(legend);
  EXPECT_EQ(dialog->windowTitle(), "Legend Setup");
  CLegendGrid* grid = dialog->Grid();
  ASSERT_NE(grid, nullptr);
  ASSERT_EQ(grid->RowCount(), 4);
  ASSERT_EQ(grid->ColCount(), 3);
  EXPECT_EQ(grid->CellText(0, 0), "Over");
  EXPECT_EQ(grid->CellText(0, 1), "Under");
  EXPECT_EQ(grid->CellText(0, 2), "Color");
  EXPECT_EQ(Rows(*grid), (std::vector<Row>{{"20.00", "...", kTop}, {"10.00", "20.00", kMid}, {"...", "10.00", kLow}}));

  // Only the Under values of the breaks are typed into; every colour is a button.
  const Color face = grid->ButtonFaceColour();
  for (int c = 0; c < 3; ++c) {
    EXPECT_TRUE(grid->GetCell(0, c)->locked);
    EXPECT_EQ(grid->GetCellBackColour(0, c), face);
  }
  EXPECT_TRUE(grid->GetCell(1, kColOver)->locked);
  EXPECT_TRUE(grid->GetCell(1, kColUnder)->locked);
  EXPECT_EQ(grid->GetCell(1, kColUnder)->textFormat & kDtCenter, kDtCenter);
  EXPECT_FALSE(grid->GetCell(2, kColUnder)->locked);
  EXPECT_EQ(grid->GetCell(2, kColUnder)->kind, kCellNumber);
  EXPECT_EQ(grid->GetCellBackColour(2, kColUnder), kWhite);
  EXPECT_TRUE(grid->GetCell(2, kColOver)->locked);
  EXPECT_EQ(grid->GetCellBackColour(2, kColOver), face);
  EXPECT_TRUE(grid->GetCell(3, kColOver)->locked);
  EXPECT_FALSE(grid->GetCell(3, kColUnder)->locked);
  EXPECT_EQ(grid->GetCell(3, kColUnder)->textFormat & kDtRight, kDtRight);
  for (int r = 1; r < 4; ++r) EXPECT_EQ(grid->GetCell(r, kColColor)->kind, kCellButton);

  EXPECT_EQ(grid->GetColumnWidth(0), kLegendValueColumnWidth);
  EXPECT_EQ(grid->GetColumnWidth(1), kLegendValueColumnWidth);
  EXPECT_EQ(grid->GetColumnWidth(2),
            grid->ClientRect().width() - grid->SystemVertScrollWidth() - 2 * kLegendValueColumnWidth);
  EXPECT_TRUE(grid->VertScrollBar()->isVisibleTo(grid));
  EXPECT_FALSE(grid->HorzScrollBar()->isVisibleTo(grid));

  // A legend without a top class opens with a grey one, which OK then adds.
  Legend noTop;
  noTop.Insert(5.0, kLow);
  auto second = Open(noTop);
  EXPECT_EQ(Rows(*second->Grid()), (std::vector<Row>{{"5.00", "...", kNeutralColor}, {"...", "5.00", kLow}}));
  QTest::mouseClick(Button(second.get(), kIdLegendOk), Qt::LeftButton);
  EXPECT_EQ(second->result(), QDialog::Accepted);
  ASSERT_EQ(noTop.GetCount(), 2u);
  EXPECT_EQ(noTop.GetEntries()[1], (LegendEntry{kLegendTopValue, kNeutralColor, 0, 0}));
}

TEST_F(LegendSetupTest, ATypedUnderBecomesTheOverOfTheRowAbove) {
  Legend legend = TwoBreakLegend();
  auto dialog = Open(legend);
  CLegendGrid* grid = dialog->Grid();
  TypeUnder(grid, 2, "25");
  EXPECT_EQ(grid->CellText(2, kColUnder), "25.00");
  EXPECT_EQ(grid->CellText(1, kColOver), "25.00");
  TypeUnder(grid, 3, "15.5");
  EXPECT_EQ(grid->CellText(2, kColOver), "15.50");
  // The top class's Over is untouched by a lower row.
  EXPECT_EQ(grid->CellText(1, kColOver), "25.00");
  EXPECT_EQ(Rows(*grid), (std::vector<Row>{{"25.00", "...", kTop}, {"15.50", "25.00", kMid}, {"...", "15.50", kLow}}));
}

TEST_F(LegendSetupTest, AddRowInsertsUnderTheTopClassAndTenRowsSetTheScrollRange) {
  Legend legend = TwoBreakLegend();
  auto dialog = Open(legend);
  CLegendGrid* grid = dialog->Grid();
  QPushButton* add = Button(dialog.get(), kIdAddRow);
  QTest::mouseClick(add, Qt::LeftButton);
  ASSERT_EQ(grid->RowCount(), 5);
  // The new class starts at 0.00 over the highest break, grey, its Over locked.
  EXPECT_EQ(Rows(*grid)[1], (Row{"20.00", "0.00", kNeutralColor}));
  EXPECT_TRUE(grid->GetCell(2, kColOver)->locked);
  EXPECT_FALSE(grid->GetCell(2, kColUnder)->locked);
  EXPECT_EQ(grid->GetColumnWidth(0), kLegendValueColumnWidth);
  EXPECT_EQ(grid->VertScrollMax(), 0);
  TypeUnder(grid, 2, "30");
  EXPECT_EQ(grid->CellText(1, kColOver), "30.00");

  for (int i = 1; i < 10; ++i) {
    QTest::mouseClick(add, Qt::LeftButton);
    // Below ten rows nothing scrolls; from ten rows on, the range is count - 10.
    EXPECT_EQ(grid->VertScrollMax(), std::max(0, grid->RowCount() - kLegendRowsShown)) << grid->RowCount();
  }
  EXPECT_EQ(grid->RowCount(), 14);
  EXPECT_EQ(grid->VertScrollMin(), 0);
  EXPECT_EQ(grid->VertScrollMax(), 4);
  // Scrolled to the end, the lowest class is the last row shown.
  grid->OnVScroll(ScrollCode::Bottom);
  EXPECT_EQ(grid->TopRow(), 4);
  EXPECT_EQ(grid->LastVisibleRow(), 13);

  // Removing rows brings the range back down.
  QPushButton* remove = Button(dialog.get(), kIdRemoveRow);
  for (int i = 0; i < 4; ++i) QTest::mouseClick(remove, Qt::LeftButton);
  EXPECT_EQ(grid->RowCount(), 10);
  EXPECT_EQ(grid->VertScrollMax(), 0);
}

TEST_F(LegendSetupTest, RemoveRowDropsTheHighestBreakButNeverTheLast) {
  Legend legend = TwoBreakLegend();
  auto dialog = Open(legend);
  CLegendGrid* grid = dialog->Grid();
  QPushButton* remove = Button(dialog.get(), kIdRemoveRow);
  QTest::mouseClick(remove, Qt::LeftButton);
  // The top class starts over the remaining break and takes the removed class's colour.
  EXPECT_EQ(Rows(*grid), (std::vector<Row>{{"10.00", "...", kMid}, {"...", "10.00", kLow}}));
  QTest::mouseClick(remove, Qt::LeftButton);
  EXPECT_EQ(Rows(*grid), (std::vector<Row>{{"10.00", "...", kMid}, {"...", "10.00", kLow}}));
  QTest::mouseClick(Button(dialog.get(), kIdLegendOk), Qt::LeftButton);
  ASSERT_EQ(legend.GetCount(), 2u);
  EXPECT_EQ(legend.GetEntries()[0], (LegendEntry{10.0, kLow, 0, 0}));
  EXPECT_EQ(legend.GetEntries()[1], (LegendEntry{kLegendTopValue, kMid, 0, 0}));
}

TEST_F(LegendSetupTest, OkRefusesBreaksOutOfOrderAndOtherwiseMarksTheLegendChanged) {
  Legend legend = TwoBreakLegend();
  auto dialog = Open(legend);
  CLegendGrid* grid = dialog->Grid();
  {
    MessageCapture messages;
    TypeUnder(grid, 3, "25");  // the lowest break above the one over it
    QTest::mouseClick(Button(dialog.get(), kIdLegendOk), Qt::LeftButton);
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text, "Break values must be in decending order.");
    EXPECT_EQ(messages.messages[0].caption, "Legend");
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(legend.IsChanged());
  }
  {
    // Equal breaks are no order either; a value still in the editor counts.
    MessageCapture messages;
    grid->SetCurrentCell(3, kColUnder);
    grid->EditEditor()->selectAll();
    QTest::keyClicks(grid->EditEditor(), "20");
    QTest::mouseClick(Button(dialog.get(), kIdLegendOk), Qt::LeftButton);
    EXPECT_EQ(messages.messages.size(), 1u);
    EXPECT_TRUE(dialog->isVisible());
  }
  MessageCapture messages;
  grid->SetCurrentCell(3, kColUnder);
  grid->EditEditor()->selectAll();
  QTest::keyClicks(grid->EditEditor(), "12.25");
  QTest::mouseClick(Button(dialog.get(), kIdLegendOk), Qt::LeftButton);
  EXPECT_TRUE(messages.messages.empty());
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_TRUE(legend.IsChanged());
  ASSERT_EQ(legend.GetCount(), 3u);
  EXPECT_EQ(legend.GetEntries()[0], (LegendEntry{12.25, kLow, 0, 0}));
  EXPECT_EQ(legend.GetEntries()[1], (LegendEntry{20.0, kMid, 0, 0}));
  EXPECT_EQ(legend.GetEntries()[2], (LegendEntry{kLegendTopValue, kTop, 0, 0}));
}

TEST_F(LegendSetupTest, ABreakThatIsNotANumberIsRefusedByItsColumn) {
  Legend legend = TwoBreakLegend();
  auto dialog = Open(legend);
  CLegendGrid* grid = dialog->Grid();
  const std::vector<Row> before = Rows(*grid);
  MessageCapture messages;
  grid->SetCurrentCell(3, kColUnder);
  grid->EditEditor()->selectAll();
  QTest::keyClicks(grid->EditEditor(), "1O");
  QTest::mouseClick(Button(dialog.get(), kIdLegendOk), Qt::LeftButton);
  ASSERT_EQ(messages.messages.size(), 1u);
  const std::string header = grid->CellText(0, kColUnder).toStdString();
  EXPECT_NE(messages.messages[0].text.find("\"" + header + "\""), std::string::npos) << messages.messages[0].text;
  EXPECT_NE(messages.messages[0].text.find("\"1O\""), std::string::npos);
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_FALSE(legend.IsChanged());
  EXPECT_EQ(grid->EditEditor()->text(), "1O");
  EXPECT_EQ(Rows(*grid), before) << "nothing was stored";
}

TEST_F(LegendSetupTest, AColourCellOpensThePickerOnItsColourAndTakesTheChoiceOnOk) {
  Legend legend = TwoBreakLegend();
  auto dialog = Open(legend);
  CLegendGrid* grid = dialog->Grid();
  const QPoint cell = grid->CellRectInWidget(2, kColColor).center();
  WhenModal("ColourPicker", [](QDialog* picker) {
    auto* colours = static_cast<QColorDialog*>(picker);
    EXPECT_EQ(colours->currentColor(), QColor(0, 255, 0));
    colours->setCurrentColor(QColor(10, 20, 30));
    picker->reject();
  });
  QTest::mouseClick(grid, Qt::LeftButton, Qt::NoModifier, cell);
  EXPECT_EQ(grid->GetCellBackColour(2, kColColor), kMid);

  WhenModal("ColourPicker", [](QDialog* picker) {
    static_cast<QColorDialog*>(picker)->setCurrentColor(QColor(10, 20, 30));
    picker->accept();
  });
  QTest::mouseClick(grid, Qt::LeftButton, Qt::NoModifier, cell);
  EXPECT_EQ(grid->GetCellBackColour(2, kColColor), RGBColor(10, 20, 30));
  QTest::mouseClick(Button(dialog.get(), kIdLegendOk), Qt::LeftButton);
  EXPECT_EQ(legend.GetEntries()[1].color, RGBColor(10, 20, 30));
}

TEST_F(LegendSetupTest, ATemplateSavedAndLoadedAgainGivesTheSameLegend) {
  const QString path = QString::fromStdString((dir_ / "rates.lgd").string());
  ChooserScope chooser(path);
  Legend legend = TwoBreakLegend();
  auto dialog = Open(legend);
  TypeUnder(dialog->Grid(), 3, "12.34");
  QTest::mouseClick(Button(dialog.get(), kIdSaveTemplate), Qt::LeftButton);
  ASSERT_EQ(chooser.requests.size(), 1u);
  const FileDialogRequest& save = chooser.requests[0];
  EXPECT_TRUE(save.save);
  EXPECT_TRUE(save.confirmOverwrite);
  EXPECT_EQ(save.filter, "Legend Templates (*.lgd)");
  EXPECT_EQ(save.defaultSuffix, "lgd");
  EXPECT_EQ(save.startFolder, QDir::currentPath());
  EXPECT_EQ(save.parent, dialog.get());
  ASSERT_TRUE(fs::exists(dir_ / "rates.lgd"));
  // Saving is no OK: the dialog stays and the legend is not marked.
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_FALSE(legend.IsChanged());
  dialog->reject();

  Legend other;
  other.Insert(1.0, 0x123456);
  auto second = Open(other);
  QTest::mouseClick(Button(second.get(), kIdLoadTemplate), Qt::LeftButton);
  ASSERT_EQ(chooser.requests.size(), 2u);
  EXPECT_FALSE(chooser.requests[1].save);
  EXPECT_EQ(chooser.requests[1].filter, "Legend Templates (*.lgd)");
  EXPECT_EQ(chooser.requests[1].startFolder, QDir::currentPath());
  EXPECT_EQ(Rows(*second->Grid()),
            (std::vector<Row>{{"20.00", "...", kTop}, {"12.34", "20.00", kMid}, {"...", "12.34", kLow}}));
  QTest::mouseClick(Button(second.get(), kIdLegendOk), Qt::LeftButton);
  Legend expected;
  expected.Insert(12.34, kLow);
  expected.Insert(20.0, kMid);
  expected.Insert(kLegendTopValue, kTop);
  expected.SetChanged(true);
  EXPECT_EQ(other, expected);
}

TEST_F(LegendSetupTest, TemplatesThatCannotBeReadOrWrittenSaySoAndKeepTheRows) {
  ChooserScope chooser{QString()};
  Legend legend = TwoBreakLegend();
  auto dialog = Open(legend);
  CLegendGrid* grid = dialog->Grid();
  TypeUnder(grid, 3, "5");
  const auto rowsBefore = Rows(*grid);

  // A file with another header.
  WriteFileBytes(dir_ / "bad.lgd", "NOTALEGEND and more");
  chooser.SetAnswer(QString::fromStdString((dir_ / "bad.lgd").string()));
  {
    MessageCapture messages;
    QTest::mouseClick(Button(dialog.get(), kIdLoadTemplate), Qt::LeftButton);
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text, "Invalid legend file.");
    EXPECT_EQ(Rows(*grid), rowsBefore);
  }
  // A file that cannot be opened (a folder by that name).
  fs::create_directory(dir_ / "folder.lgd");
  chooser.SetAnswer(QString::fromStdString((dir_ / "folder.lgd").string()));
  {
    MessageCapture messages;
    QTest::mouseClick(Button(dialog.get(), kIdLoadTemplate), Qt::LeftButton);
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text, "Unable to open legend file.");
    EXPECT_EQ(Rows(*grid), rowsBefore);
  }
  // A template that cannot be created.
  chooser.SetAnswer(QString::fromStdString((dir_ / "missing" / "t.lgd").string()));
  {
    MessageCapture messages;
    QTest::mouseClick(Button(dialog.get(), kIdSaveTemplate), Qt::LeftButton);
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text, "Could not write " + (dir_ / "missing" / "t.lgd").string() +
                                             ": No such file or directory. Any file of that name was left as it was.");
    EXPECT_EQ(messages.messages[0].caption, "Legend");
  }
  // Rows out of order stop the save before the file dialog.
  const std::size_t asked = chooser.requests.size();
  TypeUnder(grid, 3, "50");
  {
    MessageCapture messages;
    QTest::mouseClick(Button(dialog.get(), kIdSaveTemplate), Qt::LeftButton);
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text, "Break values must be in decending order.");
    EXPECT_EQ(chooser.requests.size(), asked);
  }
  // Cancelled file dialogs change nothing.
  chooser.SetAnswer(QString());
  QTest::mouseClick(Button(dialog.get(), kIdLoadTemplate), Qt::LeftButton);
  EXPECT_EQ(grid->CellText(3, kColUnder), "50.00");
  EXPECT_TRUE(dialog->isVisible());
}

TEST_F(LegendSetupTest, TheLayerWritesTheAcceptedLegendWhenItIsClosed) {
  LayerList list;
  // A layer without a shape file still has a legend and its side files.
  Layer* layer = list.AddLayer((dir_ / "field.shp").string());
  ASSERT_NE(layer, nullptr);
  layer->SetLegend(TwoBreakLegend());
  const fs::path lgd = layer->GetLegendPath();

  Legend copy = layer->GetLegend();
  WhenModal(ControlName(kLegendSetupDialogId), [](QDialog* d) {
    auto* dialog = static_cast<CLegendSetupDialog*>(d);
    dialog->Grid()->SetCellNumber(2, kColUnder, 40.0);
    QTest::mouseClick(FindControl<QPushButton>(d, kIdLegendOk), Qt::LeftButton);
  });
  ASSERT_EQ(RunLegendSetup(copy, nullptr), QDialog::Accepted);
  EXPECT_TRUE(copy.IsChanged());
  layer->SetLegend(copy);
  EXPECT_FALSE(fs::exists(lgd));

  list.RemoveLayer(layer, true);
  ASSERT_TRUE(fs::exists(lgd));
  Legend written;
  ASSERT_TRUE(written.LoadFile(lgd.string()));
  ASSERT_EQ(written.GetCount(), 3u);
  EXPECT_EQ(written.GetEntries()[0], (LegendEntry{10.0, kLow, 0, 0}));
  EXPECT_EQ(written.GetEntries()[1], (LegendEntry{40.0, kMid, 0, 0}));
  EXPECT_EQ(written.GetEntries()[2], (LegendEntry{kLegendTopValue, kTop, 0, 0}));

  // Cancel leaves the caller's copy as it was, and an unchanged legend is not written.
  Layer* second = list.AddLayer((dir_ / "other.shp").string());
  second->SetLegend(TwoBreakLegend());
  Legend untouched = second->GetLegend();
  WhenModal(ControlName(kLegendSetupDialogId), [](QDialog* d) {
    static_cast<CLegendSetupDialog*>(d)->Grid()->SetCellNumber(2, kColUnder, 40.0);
    QTest::mouseClick(FindControl<QPushButton>(d, kIdLegendCancel), Qt::LeftButton);
  });
  EXPECT_EQ(RunLegendSetup(untouched, nullptr), QDialog::Rejected);
  EXPECT_EQ(untouched, TwoBreakLegend());
  const fs::path secondLgd = second->GetLegendPath();
  list.RemoveAll();
  EXPECT_FALSE(fs::exists(secondLgd));
}

}  // namespace
}  // namespace kestrune::test

namespace kestrune::test {
namespace {

TEST_F(LegendSetupTest, AddRowGoesInAtTheSelectedRowAndEnterStaysInTheGrid) {
  Legend legend = TwoBreakLegend();
  auto dialog = Open(legend);
  CLegendGrid* grid = dialog->Grid();
  // The lowest class selected: the new class goes in above it, its Over
  // following the lowest break below it.
  grid->SetCurrentCell(3, kColUnder);
  QTest::mouseClick(Button(dialog.get(), kIdAddRow), Qt::LeftButton);
  ASSERT_EQ(grid->RowCount(), 5);
  EXPECT_EQ(Rows(*grid)[1], (Row{"10.00", "20.00", kMid}));
  EXPECT_EQ(Rows(*grid)[2], (Row{"10.00", "0.00", kNeutralColor}));
  EXPECT_EQ(Rows(*grid)[3].under, "10.00");

  // Enter in a cell stores it and leaves the dialog open.
  grid->SetCurrentCell(3, kColUnder);
  ASSERT_TRUE(grid->IsEditOpen());
  grid->EditEditor()->selectAll();
  QTest::keyClicks(grid->EditEditor(), "15");
  QTest::keyClick(grid->EditEditor(), Qt::Key_Return);
  QTest::keyClick(grid, Qt::Key_Return);
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(grid->CellText(3, kColUnder), "15.00");
  EXPECT_EQ(grid->CellText(2, kColOver), "15.00");

  // The Over column says what it follows.
  const QRect over = grid->CellRectInWidget(2, kColOver);
  QHelpEvent help(QEvent::ToolTip, over.center(), grid->mapToGlobal(over.center()));
  QApplication::sendEvent(grid, &help);
  EXPECT_TRUE(QToolTip::isVisible());
  EXPECT_TRUE(QToolTip::text().startsWith("Over follows the Under value")) << QToolTip::text().toStdString();
}

}  // namespace
}  // namespace kestrune::test

namespace kestrune::test {
namespace {

TEST_F(LegendSetupTest, HistogramShowsTheBreaksAppliesMethodsAndDragsABreak) {
  Legend legend = TwoBreakLegend();
  auto dialog = Open(legend);
  std::vector<double> values;
  for (int i = 1; i <= 100; ++i) values.push_back(i);
  values.push_back(std::nan(""));
  dialog->SetValues(values);
  CHistogramView* histogram = dialog->HistogramView();
  ASSERT_TRUE(histogram->isVisible());
  ASSERT_EQ(histogram->Counts().size(), 40u);
  size_t total = 0;
  for (size_t c : histogram->Counts()) total += c;
  EXPECT_EQ(total, 100u);
  EXPECT_EQ(histogram->Breaks(), (std::vector<double>{10, 20}));

  // Quantiles in four classes: the rows and the lines follow.
  dialog->MethodBox()->setCurrentIndex(static_cast<int>(ClassMethod::Quantiles));
  dialog->ClassCountBox()->setValue(4);
  dialog->ApplyMethod();
  CLegendGrid* grid = dialog->Grid();
  ASSERT_EQ(grid->RowCount(), 5);
  EXPECT_EQ(histogram->Breaks(), (std::vector<double>{25, 50, 75}));
  EXPECT_EQ(dialog->AppliedMethod(), static_cast<int>(ClassMethod::Quantiles));

  // Dragging the lowest break's line to about 30 moves its Under cell and the Over above.
  const int y = histogram->height() / 2;
  const QPoint from(static_cast<int>(std::lround(histogram->XOf(25))), y);
  const QPoint to(static_cast<int>(std::lround(histogram->XOf(30))), y);
  QTest::mousePress(histogram, Qt::LeftButton, Qt::NoModifier, from);
  QMouseEvent move(QEvent::MouseMove, QPointF(to), histogram->mapToGlobal(QPointF(to)), Qt::NoButton, Qt::LeftButton,
                   Qt::NoModifier);
  QApplication::sendEvent(histogram, &move);
  QTest::mouseRelease(histogram, Qt::LeftButton, Qt::NoModifier, to);
  double under = 0.0;
  ASSERT_TRUE(grid->GetCellNumber(4, kColUnder, under));
  EXPECT_NEAR(under, 30.0, (histogram->Max() - histogram->Min()) / histogram->width() * 2);
  EXPECT_EQ(grid->CellText(3, kColOver), grid->CellText(4, kColUnder));
  QTest::mouseClick(Button(dialog.get(), kIdLegendOk), Qt::LeftButton);
  EXPECT_EQ(legend.GetEntries().front().value, Legend::RoundTo(under, 2));
}

}  // namespace
}  // namespace kestrune::test
