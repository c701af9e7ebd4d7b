// The layers window in the real main window: files listed newest first, the
// active layer following the selected line at once, the theme box of numeric
// fields, the legend lines and their pictures, the double clicks, the layout.
#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <QApplication>
#include <QAbstractItemView>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include "app/Commands.h"
#include "layers/DefaultTheme.h"
#include "layers/LayerTestFiles.h"
#include "layers/Legend.h"
#include "mapview/MapView.h"
#include "shapes/DbfTable.h"
#include "shapes/DbfTestTables.h"
#include "shapes/ShapeTestFiles.h"
#include "support/ViewerFixture.h"

namespace kestrune::test {
namespace {

// The texts of a list's lines, top first.
std::vector<std::string> LineTexts(QListWidget* list) {
  std::vector<std::string> texts;
  for (int i = 0; i < list->count(); ++i) {
    const LayerListItem* item = CLayersWnd::ItemOf(list->item(i));
    texts.push_back(item ? item->text : std::string("<none>"));
  }
  return texts;
}

std::vector<Color> LineColors(QListWidget* list) {
  std::vector<Color> colors;
  for (int i = 0; i < list->count(); ++i) colors.push_back(CLayersWnd::ItemOf(list->item(i))->color);
  return colors;
}

std::vector<std::string> ComboTexts(QComboBox* box) {
  std::vector<std::string> texts;
  for (int i = 0; i < box->count(); ++i) texts.push_back(box->itemText(i).toStdString());
  return texts;
}

std::vector<int> ComboFields(QComboBox* box) {
  std::vector<int> fields;
  for (int i = 0; i < box->count(); ++i) fields.push_back(box->itemData(i).toInt());
  return fields;
}

std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The value of a key in a ".gpe" file as text, read without the program's own reader.
std::string GpeValue(const std::filesystem::path& gpe, const std::string& key) {
  std::istringstream lines(ReadText(gpe));
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
  }
  return "<missing>";
}

// Double-clicks a list line as a user does: a click, then the double click.
void DoubleClickLine(QListWidget* list, int row) {
  const QPoint at = list->visualItemRect(list->item(row)).center();
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
}

using LayersWndTest = ViewerFixture;

TEST_F(LayersWndTest, WithNoFileAllThreeControlsAreEmptyAndDoubleClicksDoNothing) {
  CLayersWnd* wnd = LayersWnd();
  ASSERT_NE(wnd, nullptr);
  int calls = 0;
  wnd->SetDisplayDialogHandler([&](Layer*) { ++calls; });
  wnd->SetLegendSetupHandler([&](Legend&, QWidget*) { return ++calls > 0; });
  wnd->RefreshFileList();
  EXPECT_EQ(wnd->FileList()->count(), 0);
  EXPECT_EQ(wnd->ThemeBox()->count(), 0);
  EXPECT_EQ(wnd->LegendList()->count(), 0);
  EXPECT_EQ(wnd->GetActiveLayer(), nullptr);
  QTest::mouseDClick(wnd->FileList()->viewport(), Qt::LeftButton, {}, QPoint(10, 10));
  QTest::mouseDClick(wnd->LegendList()->viewport(), Qt::LeftButton, {}, QPoint(10, 10));
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(wnd->OpenFilesLabel()->text(), "Open Files");
  EXPECT_EQ(wnd->ThemeLabel()->text(), "Theme");
  EXPECT_EQ(wnd->LegendLabel()->text(), "Legend");
}

// A click on a file's check box hides or shows it and nothing else: the
// active file, its theme and its legend stay; a click on the name activates.
TEST_F(LayersWndTest, ACheckBoxClickLeavesTheActiveFileAlone) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  ASSERT_TRUE(Open(CopyTestSet("field/ssurgo-simple1.shp")));
  ASSERT_TRUE(Open(CopyTestSet("field/as-applied-simple1.shp")));
  CLayersWnd* wnd = LayersWnd();
  QListWidget* list = wnd->FileList();
  Layer* applied = Active();
  ASSERT_EQ(applied->GetFileName(), "as-applied-simple1.shp");
  const std::vector<std::string> theme = ComboTexts(wnd->ThemeBox());
  const QRect soils = list->visualItemRect(list->item(1));
  // The box sits right of the file icon; its middle.
  const QPoint box(soils.left() + 37 + 1 + 7, soils.center().y());
  Layer* soilLayer = CLayersWnd::ItemOf(list->item(1))->layer;
  for (bool hiddenAfter : {true, false}) {
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, box);
    EXPECT_EQ(soilLayer->IsHidden(), hiddenAfter);
    EXPECT_EQ(Active(), applied);
    EXPECT_EQ(frame_->Layers().GetActiveLayer(), applied);
    EXPECT_EQ(list->currentRow(), 0);
    EXPECT_EQ(ComboTexts(wnd->ThemeBox()), theme);
  }
  // A double click on the box toggles twice and zooms nowhere.
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, box);
  EXPECT_EQ(Active(), applied);
  // The name still makes the file active.
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(soils.right() - 10, soils.center().y()));
  EXPECT_EQ(Active(), soilLayer);
}

// A log opened without a theme of its own shows at once in colour by its
// rate, the Theme box on it and the choice in its ".gpe"; a ".gpe" naming a
// theme keeps it.
TEST_F(LayersWndTest, ANewLogIsThemedByItsRateAtOnce) {
  SetDefaultThemeOnOpen(true);
  const std::string shp =
      test::WritePointSet(dir_, "fresh", {{-95.0, 42.0}, {-95.1, 42.1}, {-95.2, 42.2}}, {10, 50, 90});
  const bool opened = Open(shp);
  SetDefaultThemeOnOpen(false);
  ASSERT_TRUE(opened);
  CLayersWnd* wnd = LayersWnd();
  EXPECT_EQ(wnd->ThemeBox()->currentText(), "Rate");
  EXPECT_EQ(Active()->GetLegendColumn(), 1);
  EXPECT_GT(wnd->LegendList()->count(), 1);
  std::set<Color> colours;
  for (Shape* s : Active()->Records()) colours.insert(s->GetColor());
  EXPECT_EQ(colours.size(), 3u) << "each rate its own colour";
  const std::filesystem::path gpe = std::filesystem::path(shp).replace_extension(".gpe");
  EXPECT_EQ(GpeValue(gpe, "LEGEND_COL"), "1");
  EXPECT_EQ(GpeValue(gpe, "COLOR_METHOD"), "1");

  // A file whose ".gpe" chose the solid colour stays solid.
  const std::string kept = test::WritePointSet(dir_, "kept", {{-95.0, 42.0}, {-95.1, 42.1}}, {10, 50});
  test::WriteFileBytes(std::filesystem::path(kept).replace_extension(".gpe"), "[Options]\r\nLEGEND_COL=-1\r\nCOLOR_METHOD=0\r\n");
  SetDefaultThemeOnOpen(true);
  const bool keptOpened = Open(kept);
  SetDefaultThemeOnOpen(false);
  ASSERT_TRUE(keptOpened);
  EXPECT_EQ(Active()->GetColorMethod(), kColorMethodSolid);
  EXPECT_EQ(wnd->ThemeBox()->currentIndex(), -1);
}

TEST_F(LayersWndTest, FilesAreListedNewestFirstAndTheNewestIsActive) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  ASSERT_TRUE(Open(CopyTestSet("field/boundary-simple1.shp")));
  ASSERT_TRUE(Open(CopyTestSet("field/ssurgo-simple1.shp")));
  ASSERT_TRUE(Open(CopyTestSet("field/as-applied-simple1.shp")));
  CLayersWnd* wnd = LayersWnd();
  EXPECT_EQ(LineTexts(wnd->FileList()), (std::vector<std::string>{"as-applied-simple1.shp", "ssurgo-simple1.shp",
                                                                   "boundary-simple1.shp"}));
  EXPECT_EQ(wnd->FileList()->currentRow(), 0);
  ASSERT_NE(Active(), nullptr);
  EXPECT_EQ(Active()->GetFileName(), "as-applied-simple1.shp");
  // The map's tools work on the same layer.
  EXPECT_EQ(frame_->Layers().GetActiveLayer(), Active());
  // Every file line carries its layer, in the list's order.
  const std::vector<Layer*>& layers = frame_->Layers().Layers();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(CLayersWnd::ItemOf(wnd->FileList()->item(i))->layer, layers[i]);
  EXPECT_TRUE(frame_->Action(kIdFileClose)->isEnabled());
}

TEST_F(LayersWndTest, TheThemeBoxOffersNumericAndTextFieldsAndShowsTheLegendColumn) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  ASSERT_TRUE(Open(CopyTestSet("field/ssurgo-simple1.shp")));
  QComboBox* box = LayersWnd()->ThemeBox();
  // musym, muname, drclssd and drclssw are character fields: they colour by category.
  EXPECT_EQ(ComboTexts(box), (std::vector<std::string>{"musym", "mukey", "clay", "sand", "silt", "wtr_str", "muname",
                                                       "drclssd", "drclssw"}));
  EXPECT_EQ(ComboFields(box), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
  // Its ".gpe" colours by field 3.
  EXPECT_EQ(box->currentText().toStdString(), "clay");
}

TEST_F(LayersWndTest, NumericFloatAndCharacterFieldsAreOfferedNeverDateOrLogical) {
  const std::filesystem::path shp = dir_ / "mixed.shp";
  WriteFileBytes(shp, ShpBuilder(1).Point(-93.6, 42.0).Point(-93.61, 42.01).Bytes());
  DbfTableLayout table;
  table.fields = {{"NAME", 'C', 8, 0}, {"YIELD", 'F', 8, 2}, {"RATE", 'N', 6, 1}, {"WHEN", 'D', 8, 0},
                  {"BOOM", 'L', 1, 0}, {"COUNT", 'N', 4, 0}};
  table.rows = {" " + Left("a", 8) + Right("1.50", 8) + Right("12.5", 6) + "20240102" + "T" + Right("3", 4),
                " " + Left("b", 8) + Right("2.50", 8) + Right("20.0", 6) + "20240103" + "F" + Right("4", 4)};
  WriteFileBytes(dir_ / "mixed.dbf", MakeDbf(table));
  ASSERT_TRUE(Open(shp));
  CLayersWnd* wnd = LayersWnd();
  EXPECT_EQ(ComboTexts(wnd->ThemeBox()), (std::vector<std::string>{"NAME", "YIELD", "RATE", "COUNT"}));
  EXPECT_EQ(ComboFields(wnd->ThemeBox()), (std::vector<int>{1, 2, 3, 6}));
  // No legend column yet: nothing is shown as chosen, and the legend is the solid colour.
  EXPECT_EQ(wnd->ThemeBox()->currentIndex(), -1);
  EXPECT_EQ(LineTexts(wnd->LegendList()), (std::vector<std::string>{"Solid Color"}));
  EXPECT_EQ(LineColors(wnd->LegendList()), (std::vector<Color>{kNeutralColor}));

  // A table without a numeric or character field gives an empty box.
  const std::filesystem::path names = dir_ / "names.shp";
  WriteFileBytes(names, ShpBuilder(1).Point(-93.6, 42.0).Bytes());
  DbfTableLayout text;
  text.fields = {{"WHEN", 'D', 8, 0}};
  text.rows = {" 20240102"};
  WriteFileBytes(dir_ / "names.dbf", MakeDbf(text));
  ASSERT_TRUE(Open(names));
  EXPECT_EQ(wnd->ThemeBox()->count(), 0);
  EXPECT_EQ(LineTexts(wnd->LegendList()), (std::vector<std::string>{"Solid Color"}));
}

TEST_F(LayersWndTest, AZFileAlsoOffersZToColourByAndMWhenItHasMeasures) {
  // Two PointZ records, the second with a measure.
  auto pointZ = [](double x, double y, const std::vector<double>& zm) {
    std::string c;
    AppendLittle32(c, 11);
    AppendDouble(c, x);
    AppendDouble(c, y);
    for (double v : zm) AppendDouble(c, v);
    return c;
  };
  const std::filesystem::path shp = dir_ / "elev.shp";
  WriteFileBytes(shp, ShpBuilder(11).Record(pointZ(-93.6, 42.0, {300.0})).Record(pointZ(-93.61, 42.01, {320.0, 4.0})).Bytes());
  DbfTableLayout table;
  table.fields = {{"RATE", 'N', 6, 1}};
  table.rows = {" " + Right("12.5", 6), " " + Right("20.0", 6)};
  WriteFileBytes(dir_ / "elev.dbf", MakeDbf(table));
  ASSERT_TRUE(Open(shp));
  CLayersWnd* wnd = LayersWnd();
  QComboBox* box = wnd->ThemeBox();
  EXPECT_EQ(ComboTexts(box), (std::vector<std::string>{"RATE", "Z", "M"}));
  EXPECT_EQ(ComboFields(box), (std::vector<int>{1, kLegendColumnZ, kLegendColumnM}));
  // As the user's choice of the line tells it.
  box->setCurrentIndex(1);
  emit box->activated(1);
  EXPECT_EQ(Active()->GetLegendColumn(), kLegendColumnZ);
  EXPECT_EQ(GpeValue(dir_ / "elev.gpe", "LEGEND_COL"), "-2");
  // The records take the colours of their Z values.
  std::vector<double> values;
  std::vector<Color> colours;
  for (const Shape* s : Active()->Records()) {
    values.push_back(s->GetValue());
    colours.push_back(s->GetColor());
    EXPECT_EQ(s->GetColor(), Active()->GetValueColor(s->GetValue()));
  }
  std::sort(values.begin(), values.end());
  EXPECT_EQ(values, (std::vector<double>{300.0, 320.0}));
  ASSERT_EQ(colours.size(), 2u);
  EXPECT_NE(colours[0], colours[1]);
}

TEST_F(LayersWndTest, ChoosingATextFieldListsItsValuesInTheLegend) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  ASSERT_TRUE(Open(CopyTestSet("field/ssurgo-simple1.shp")));
  CLayersWnd* wnd = LayersWnd();
  QComboBox* box = wnd->ThemeBox();
  // The user opens the box and steps up twice: from clay to musym. (On the
  // closed box the arrow keys are the map's.)
  box->setFocus();
  box->showPopup();
  QAbstractItemView* popup = box->view();
  ASSERT_TRUE(QTest::qWaitFor([&] { return popup->isVisible(); }, 2000));
  QTest::keyClick(popup, Qt::Key_Up);
  QTest::keyClick(popup, Qt::Key_Up);
  QTest::keyClick(popup, Qt::Key_Return);
  ASSERT_EQ(box->currentText().toStdString(), "musym");
  EXPECT_TRUE(Active()->IsCategorised());
  EXPECT_EQ(LineTexts(wnd->LegendList()),
            (std::vector<std::string>{"3A", "14C2", "584B2", "2A", "3B", "912A", "218A"}));
  EXPECT_EQ(LineColors(wnd->LegendList()),
            (std::vector<Color>(std::begin(kCategoryPalette), std::begin(kCategoryPalette) + 7)));
}

TEST_F(LayersWndTest, ChoosingAFieldRecoloursByItAndWritesTheSettings) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  const std::filesystem::path shp = CopyTestSet("field/ssurgo-simple1.shp");
  ASSERT_TRUE(Open(shp));
  CLayersWnd* wnd = LayersWnd();
  QComboBox* box = wnd->ThemeBox();
  ASSERT_EQ(box->currentText().toStdString(), "clay");
  // The user opens the box and steps down by one: from clay to sand. (On the
  // closed box the arrow keys are the map's.)
  box->setFocus();
  box->showPopup();
  QAbstractItemView* popup = box->view();
  ASSERT_TRUE(QTest::qWaitFor([&] { return popup->isVisible(); }, 2000));
  QTest::keyClick(popup, Qt::Key_Down);
  QTest::keyClick(popup, Qt::Key_Return);
  ASSERT_EQ(box->currentText().toStdString(), "sand");

  Layer* layer = Active();
  EXPECT_EQ(layer->GetLegendColumn(), 4);
  EXPECT_EQ(layer->GetColorMethod(), kColorMethodLegend);
  const std::filesystem::path gpe = dir_ / "ssurgo-simple1.gpe";
  EXPECT_EQ(GpeValue(gpe, "LEGEND_COL"), "4");
  EXPECT_EQ(GpeValue(gpe, "COLOR_METHOD"), "1");

  // Every record carries its sand value and the legend colour of it.
  DbfTable table;
  ASSERT_TRUE(table.Open((dir_ / "ssurgo-simple1.dbf").string()));
  double lowest = 1e99, highest = -1e99;
  for (Shape* shape : layer->Records()) {
    ASSERT_TRUE(table.ReadRecord(shape->GetRecordNumber()));
    double sand = 0.0;
    ASSERT_TRUE(table.GetNumber(4, sand));
    EXPECT_DOUBLE_EQ(shape->GetValue(), sand) << "record " << shape->GetRecordNumber();
    EXPECT_EQ(shape->GetColor(), layer->GetLegend().GetColor(sand)) << "record " << shape->GetRecordNumber();
    lowest = std::min(lowest, sand);
    highest = std::max(highest, sand);
  }
  table.Close();
  // The legend was rebuilt over the sand range and the list shows it, highest class first.
  const std::vector<LegendEntry>& entries = layer->GetLegend().GetEntries();
  Legend automatic;
  automatic.BuildAutomatic(highest, lowest);
  EXPECT_EQ(entries, automatic.GetEntries());
  ASSERT_GE(entries.size(), 2u);
  std::vector<std::string> labels = layer->GetLegend().GetClassLabels();
  std::reverse(labels.begin(), labels.end());
  EXPECT_EQ(LineTexts(wnd->LegendList()), labels);
  std::vector<Color> colors;
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) colors.push_back(it->color);
  EXPECT_EQ(LineColors(wnd->LegendList()), colors);
  EXPECT_GT(highest, lowest);
}

TEST_F(LayersWndTest, SelectingAnotherFileMakesItActiveAtOnceAndClearsTheOldSelection) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  ASSERT_TRUE(Open(CopyTestSet("field/ssurgo-simple1.shp")));
  ASSERT_TRUE(Open(CopyTestSet("field/as-applied-simple1.shp")));
  CLayersWnd* wnd = LayersWnd();
  Layer* points = Active();
  ASSERT_EQ(points->GetFileName(), "as-applied-simple1.shp");
  points->Select(*points->Records().begin());
  ASSERT_EQ(points->GetSelectionCount(), 1);

  // A selection made by the program counts, and before any event is handled.
  wnd->FileList()->setCurrentRow(1);
  Layer* soils = wnd->GetActiveLayer();
  ASSERT_NE(soils, nullptr);
  EXPECT_EQ(soils->GetFileName(), "ssurgo-simple1.shp");
  EXPECT_EQ(frame_->Layers().GetActiveLayer(), soils);
  EXPECT_EQ(points->GetSelectionCount(), 0);
  EXPECT_EQ(ComboTexts(wnd->ThemeBox()), (std::vector<std::string>{"musym", "mukey", "clay", "sand", "silt", "wtr_str",
                                                                   "muname", "drclssd", "drclssw"}));

  // A click on the other line by the user does the same.
  const QPoint first = wnd->FileList()->visualItemRect(wnd->FileList()->item(0)).center();
  QTest::mouseClick(wnd->FileList()->viewport(), Qt::LeftButton, {}, first);
  EXPECT_EQ(wnd->GetActiveLayer(), points);
  EXPECT_EQ(ComboTexts(wnd->ThemeBox()), (std::vector<std::string>{"Tgt_Rate_k", "Elevation_", "Speed_mph_"}));
}

TEST_F(LayersWndTest, ChildrenArePlacedFromTheHeight) {
  CLayersWnd wnd;
  wnd.resize(150, 400);
  wnd.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&wnd));
  // F = 400 * 0.25 - 32 = 68, L = 400 * 0.4 - 67 = 93.
  EXPECT_EQ(wnd.OpenFilesLabel()->geometry(), QRect(3, 5, 145, 17));
  EXPECT_EQ(wnd.FileList()->geometry(), QRect(1, 22, 147, 68));
  EXPECT_EQ(wnd.ThemeLabel()->geometry(), QRect(3, 100, 145, 17));
  EXPECT_EQ(wnd.ThemeBox()->geometry().topLeft(), QPoint(1, 117));
  EXPECT_EQ(wnd.ThemeBox()->width(), 147);
  EXPECT_EQ(wnd.LegendLabel()->geometry(), QRect(3, 152, 145, 17));
  EXPECT_EQ(wnd.LegendList()->geometry(), QRect(1, 169, 147, 93));
  // 1001 * 0.25 - 32 = 218.25 and 1001 * 0.4 - 67 = 333.4: integer parts.
  wnd.resize(200, 1001);
  QCoreApplication::sendPostedEvents();
  EXPECT_EQ(wnd.FileList()->geometry(), QRect(1, 22, 197, 218));
  EXPECT_EQ(wnd.LegendList()->geometry(), QRect(1, 101 + 218, 197, 333));
}

TEST_F(LayersWndTest, LinesShowTheFileIconTheActiveMarkAndColourSwatches) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  ASSERT_TRUE(Open(CopyTestSet("field/ssurgo-simple1.shp")));
  ASSERT_TRUE(Open(CopyTestSet("field/as-applied-simple1.shp")));
  CLayersWnd* wnd = LayersWnd();
  wnd->resize(200, 600);
  // Lists lay their lines out from the event loop.
  QApplication::processEvents();
  QListWidget* files = wnd->FileList();
  const QImage picture = files->viewport()->grab().toImage();
  const QRect row0 = files->visualItemRect(files->item(0));
  const QRect row1 = files->visualItemRect(files->item(1));
  ASSERT_EQ(row0.height(), kLayersItemHeight);
  // The active mark (left 20 pixels) is blue on the selected line only.
  const auto blueIn = [&](const QRect& r) {
    int count = 0;
    for (int y = r.top(); y <= r.bottom(); ++y) {
      for (int x = r.left(); x <= r.right(); ++x) {
        const QColor c = picture.pixelColor(x, y);
        if (c.blue() > 120 && c.red() < 100 && c.green() < 120) ++count;
      }
    }
    return count;
  };
  EXPECT_GT(blueIn(QRect(row0.left(), row0.top(), 17, 20)), 10);
  EXPECT_EQ(blueIn(QRect(row1.left(), row1.top(), 17, 20)), 0);
  // The file icon (from x = 17) has green on both lines; the line's ground is white.
  const auto greenIn = [&](const QRect& r) {
    int count = 0;
    for (int y = r.top(); y <= r.bottom(); ++y) {
      for (int x = r.left(); x <= r.right(); ++x) {
        const QColor c = picture.pixelColor(x, y);
        if (c.green() > 120 && c.red() < 140 && c.blue() < 100) ++count;
      }
    }
    return count;
  };
  EXPECT_GT(greenIn(QRect(row0.left() + 17, row0.top(), 20, 20)), 10);
  EXPECT_GT(greenIn(QRect(row1.left() + 17, row1.top(), 20, 20)), 10);
  EXPECT_EQ(picture.pixelColor(row1.right() - 2, row1.top() + 1), QColor(Qt::white));

  // Legend lines: a black outline from x = 5 to 20 around the class colour.
  QListWidget* legend = wnd->LegendList();
  ASSERT_GT(legend->count(), 2);
  const QImage legendPicture = legend->viewport()->grab().toImage();
  for (int i = 0; i < std::min(legend->count(), 5); ++i) {
    const QRect r = legend->visualItemRect(legend->item(i));
    const Color c = CLayersWnd::ItemOf(legend->item(i))->color;
    EXPECT_EQ(legendPicture.pixelColor(5, r.top() + 10), QColor(Qt::black)) << "line " << i;
    EXPECT_EQ(legendPicture.pixelColor(20, r.top() + 10), QColor(Qt::black)) << "line " << i;
    EXPECT_EQ(legendPicture.pixelColor(5 + 8, r.top() + 2), QColor(Qt::black)) << "line " << i;
    EXPECT_EQ(legendPicture.pixelColor(5 + 8, r.top() + 17), QColor(Qt::black)) << "line " << i;
    EXPECT_EQ(legendPicture.pixelColor(12, r.top() + 10), QColor(RedOf(c), GreenOf(c), BlueOf(c))) << "line " << i;
    EXPECT_EQ(legendPicture.pixelColor(21, r.top() + 10), QColor(Qt::white)) << "line " << i;
  }
}

TEST_F(LayersWndTest, LegendDoubleClickEditsACopyAndCloseWritesTheChangedLegend) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  const std::filesystem::path shp = CopyTestSet("field/as-applied-simple1.shp");
  ASSERT_TRUE(Open(shp));
  CLayersWnd* wnd = LayersWnd();
  Layer* layer = Active();
  ASSERT_EQ(layer->GetColorMethod(), kColorMethodLegend);
  const Legend before = layer->GetLegend();
  const std::string lgdBefore = ReadFileBytes(dir_ / "as-applied-simple1.lgd");

  // Cancel: the layer's legend stays as it was.
  int runs = 0;
  wnd->SetLegendSetupHandler([&](Legend& copy, QWidget* parent) {
    ++runs;
    EXPECT_EQ(parent, wnd);
    EXPECT_EQ(copy, before);
    copy.RemoveAll();
    return false;
  });
  DoubleClickLine(wnd->LegendList(), 0);
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(layer->GetLegend(), before);

  // OK: three classes of our own replace it, the records take their colours
  // and the list shows them.
  wnd->SetLegendSetupHandler([&](Legend& copy, QWidget*) {
    ++runs;
    copy.RemoveAll();
    copy.Insert(100.0, 0x0000FF);
    copy.Insert(200.0, 0x00FF00);
    copy.Insert(kLegendTopValue, 0xFF0000);
    return true;
  });
  DoubleClickLine(wnd->LegendList(), 1);
  EXPECT_EQ(runs, 2);
  ASSERT_EQ(layer->GetLegend().GetCount(), 3u);
  EXPECT_TRUE(layer->GetLegend().IsChanged());
  EXPECT_EQ(LineColors(wnd->LegendList()), (std::vector<Color>{0xFF0000, 0x00FF00, 0x0000FF}));
  for (Shape* shape : layer->Records()) {
    const double v = shape->GetValue();
    EXPECT_EQ(shape->GetColor(), v <= 100.0 ? 0x0000FFu : v <= 200.0 ? 0x00FF00u : 0xFF0000u);
  }
  // The file is written when the layer closes, not before.
  EXPECT_EQ(ReadFileBytes(dir_ / "as-applied-simple1.lgd"), lgdBefore);
  frame_->ExecuteCommand(kIdFileClose);
  EXPECT_EQ(frame_->Layers().GetCount(), 0);
  Legend written;
  ASSERT_TRUE(written.LoadFile((dir_ / "as-applied-simple1.lgd").string()));
  ASSERT_EQ(written.GetCount(), 3u);
  EXPECT_EQ(written.GetEntries()[0], (LegendEntry{100.0, 0x0000FF, 0, 0}));
  EXPECT_EQ(written.GetEntries()[1], (LegendEntry{200.0, 0x00FF00, 0, 0}));
  EXPECT_EQ(written.GetEntries()[2], (LegendEntry{kLegendTopValue, 0xFF0000, 0, 0}));
}

TEST_F(LayersWndTest, LegendDoubleClickUnderTheSolidColourOpensTheDisplayDialog) {
  const std::filesystem::path shp = dir_ / "plain.shp";
  WriteFileBytes(shp, ShpBuilder(1).Point(-93.6, 42.0).Bytes());
  DbfTableLayout table;
  table.fields = {{"RATE", 'N', 6, 1}};
  table.rows = {" " + Right("12.5", 6)};
  WriteFileBytes(dir_ / "plain.dbf", MakeDbf(table));
  ASSERT_TRUE(Open(shp));
  CLayersWnd* wnd = LayersWnd();
  std::vector<Layer*> shown;
  int legendRuns = 0;
  wnd->SetDisplayDialogHandler([&](Layer* layer) {
    shown.push_back(layer);
    // What the Display dialog's OK does: a new solid colour, shown at once.
    layer->SetSolidColor(0x00FFFF);
  });
  wnd->SetLegendSetupHandler([&](Legend&, QWidget*) { return ++legendRuns > 0; });
  DoubleClickLine(wnd->LegendList(), 0);
  EXPECT_EQ(shown, (std::vector<Layer*>{Active()}));
  EXPECT_EQ(legendRuns, 0);
  EXPECT_EQ(LineColors(wnd->LegendList()), (std::vector<Color>{0x00FFFF}));
}

TEST_F(LayersWndTest, FileDoubleClickZoomsTheMapToTheActiveFile) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  ASSERT_TRUE(Open(CopyTestSet("field/boundary-simple1.shp")));
  ASSERT_TRUE(Open(CopyTestSet("field/ab-line-simple1.shp")));
  MapView& view = MapWnd()->GetMapView();
  // Away from the field first: two steps out.
  QTest::keyClick(MapWnd(), Qt::Key_O);
  QTest::keyClick(MapWnd(), Qt::Key_O);
  const int32_t outWidth = view.Width();
  CLayersWnd* wnd = LayersWnd();
  DoubleClickLine(wnd->FileList(), 1);
  ASSERT_EQ(Active()->GetFileName(), "boundary-simple1.shp");
  // The view is what zooming to the field's bounds with the margin gives.
  MapView expected;
  expected.Resize(view.ClientWidth(), view.ClientHeight());
  MapRect bounds = Active()->GetBounds();
  expected.ZoomToRect(bounds, true);
  EXPECT_EQ(view.Transform().GetWorldOrigin(), expected.Transform().GetWorldOrigin());
  EXPECT_EQ(view.Width(), expected.Width());
  EXPECT_EQ(view.Height(), expected.Height());
  EXPECT_NE(view.Width(), outWidth);
}

}  // namespace
}  // namespace kestrune::test
