// The printed page laid out on an image of known resolution (100 dots per
// inch, a page of 850 by 1100 pixels): where the notes, the heading (with the
// log's date and times), the legend and the map go, what each prints, the
// reservation handed from block to block, and the map through a scaling painter.
#include <cmath>
#include <map>

#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <gtest/gtest.h>

#include "geo/gui/QPainterCanvas.h"
#include "layers/LayerList.h"
#include "layers/LayerTestFiles.h"
#include "layers/Legend.h"
#include "mapview/gui/PrintPage.h"
#include "mapview/MapView.h"
#include "support/TestSupport.h"

namespace kestrune {
namespace {

using test::TempDir;
using test::WriteFileBytes;

constexpr int kDpi = 100;
constexpr int kPageW = 850;
constexpr int kPageH = 1100;
constexpr QRgb kWhite = 0xFFFFFFFF;

// A white page of the test's size and resolution.
QImage Page(int w = kPageW, int h = kPageH) {
  QImage image(w, h, QImage::Format_RGB32);
  image.setDotsPerMeterX(static_cast<int>(kDpi / 0.0254 + 0.5));
  image.setDotsPerMeterY(static_cast<int>(kDpi / 0.0254 + 0.5));
  image.fill(kWhite);
  return image;
}

PageMetrics Metrics(int offset = 0) { return PageMetrics{kPageW, kPageH, kDpi, kDpi, offset, offset}; }

bool Dark(QRgb c) { return qGray(c) < 128; }

// Dark (text or rule) pixels inside a rectangle of the image.
int DarkPixels(const QImage& image, const QRect& r) {
  int n = 0;
  const QRect area = r & image.rect();
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) n += Dark(image.pixel(x, y));
  }
  return n;
}

int Count(const QImage& image, QRgb colour, const QRect& r) {
  int n = 0;
  const QRect area = r & image.rect();
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) n += image.pixel(x, y) == colour;
  }
  return n;
}

// The 0xAARRGGBB pixel of a 0x00BBGGRR colour.
QRgb Pixel(Color c) { return ToQColor(c).rgb(); }

constexpr Color kRed = 0x0000FF;
constexpr Color kYellow = 0x00FFFF;
constexpr Color kGreen = 0x00FF00;
constexpr Color kBlue = 0xFF0000;

// Files made for a test, opened as the viewer opens them, and a view of them.
class PrintPageTest : public ::testing::Test {
 protected:
  // A point file coloured by its Rate through the given legend, with notes when given.
  std::string PointFile(const std::string& name, const std::vector<test::XY>& points,
                        const std::vector<double>& values, const std::vector<LegendEntry>& legend,
                        const std::string& notes = {}, bool border = false, int sizeHundredthsFt = 3000) {
    const std::string shp = test::WritePointSet(dir_, name, points, values);
    Settings(name, border, sizeHundredthsFt);
    SaveLegend(name, legend);
    if (!notes.empty()) WriteFileBytes(dir_ / (name + ".txt"), notes);
    return shp;
  }

  // An area file of one square, coloured through a one-class legend.
  std::string AreaFile(const std::string& name, double cx, double cy, double half, Color colour) {
    const std::string shp = test::WriteAreaSet(dir_, name, {test::Square(cx, cy, half)}, {1.0});
    Settings(name, false, 3000);
    SaveLegend(name, {{10.0, colour}});
    return shp;
  }

  void Settings(const std::string& name, bool border, int size) {
    WriteFileBytes(dir_ / (name + ".gpe"), "[Options]\r\nLEGEND_COL=1\r\nCOLOR_METHOD=1\r\nDRAW_BORDER=" +
                                               std::string(border ? "1" : "0") +
                                               "\r\nDISPLAY_SIZE=" + std::to_string(size) + "\r\n");
  }

  void SaveLegend(const std::string& name, const std::vector<LegendEntry>& entries) {
    Legend legend;
    for (const LegendEntry& e : entries) legend.Insert(e);
    ASSERT_TRUE(legend.SaveFile((dir_ / (name + ".lgd")).string()));
  }

  Layer* Open(const std::string& shp, bool active = true) {
    Layer* layer = list_.AddLayer(shp, true);
    EXPECT_NE(layer, nullptr) << shp;
    if (active) list_.SetActiveLayer(layer);
    return layer;
  }

  // The window of the given size zoomed to every open file.
  void View(int w, int h) {
    view_.Resize(w, h);
    std::vector<MapRect> bounds;
    for (const Layer* layer : list_.Layers()) bounds.push_back(layer->GetBounds());
    view_.ZoomAll(bounds);
  }

  PrintSource Source() {
    PrintSource s;
    s.layers = &list_;
    s.active = list_.GetActiveLayer();
    s.clientWidth = view_.ClientWidth();
    s.clientHeight = view_.ClientHeight();
    s.transform = &view_.Transform();
    return s;
  }

  PrintedPage Print(QImage& image, const PageMetrics& metrics) {
    QPainter painter(&image);
    return DrawPrintPage(painter, metrics, Source());
  }

  TempDir dir_;
  LayerList list_;
  MapView view_;
};

const std::vector<LegendEntry> kFiveClasses = {
    {1000.0, kRed}, {1200.0, kYellow}, {1400.0, kGreen}, {1600.0, 0x008000}, {kLegendTopValue, kBlue}};

TEST_F(PrintPageTest, NotesSitAboveTheBottomHalfInchUnderTheirHeadingAndReserveTheirHeight) {
  Open(PointFile("log", {{-95.0, 42.0}, {-94.99, 42.01}}, {900.0, 1500.0}, kFiveClasses,
                 "Applied UAN 32%, 15 April.\r\nNozzles checked at the north headland.\r\n"));
  View(400, 300);
  QImage image = Page();
  const PrintedPage page = Print(image, Metrics());

  ASSERT_TRUE(page.notesPrinted);
  EXPECT_EQ(page.notes, "Applied UAN 32%, 15 April.\nNozzles checked at the north headland.\n");
  const int h = page.notesBox.height();
  // Two lines and the empty one after the last line end, in a 14-point font at 100 dpi (19 px cells).
  EXPECT_GE(h, 3 * 15);
  EXPECT_LE(h, 3 * 30);
  // Heading box: 0 to 5.5 in, 0.2 in high, its top 0.2 in + h + 0.5 in above the page's bottom.
  EXPECT_EQ(page.notesHeadingBox, QRect(0, kPageH - 20 - h - 50, 550, 20));
  // The notes: indented 0.25 in, right under the heading, h high; they end half an inch above the bottom.
  EXPECT_EQ(page.notesBox, QRect(25, kPageH - h - 50, 525, h));
  // The notes' height and the legend's 2 inches are reserved; the map keeps the rest.
  EXPECT_EQ(page.reserved, h + 200);

  // "Notes" is printed in its box, the notes in theirs, nothing in the half inch below.
  EXPECT_GT(DarkPixels(image, page.notesHeadingBox), 20);
  EXPECT_GT(DarkPixels(image, page.notesBox.adjusted(0, 0, 0, -h / 2)), 20);  // first line
  EXPECT_GT(DarkPixels(image, page.notesBox.adjusted(0, h / 3, 0, 0)), 20);   // second line
  EXPECT_EQ(DarkPixels(image, QRect(0, page.notesHeadingBox.top(), 25, h + 20).adjusted(0, 20, 0, 0)), 0)
      << "the notes are indented";
  EXPECT_EQ(DarkPixels(image, QRect(0, kPageH - 49, 550, 49)), 0);
}

TEST_F(PrintPageTest, WithoutNotesOnlyTheLegendReservesTwoInches) {
  Open(PointFile("log", {{-95.0, 42.0}, {-94.99, 42.01}}, {900.0, 1500.0}, kFiveClasses));
  View(400, 300);
  QImage image = Page();
  const PrintedPage page = Print(image, Metrics());
  EXPECT_FALSE(page.notesPrinted);
  EXPECT_EQ(page.reserved, 200);
  // The legend block starts 2 inches above the bottom: its title one row down, the
  // highest class under it and the lowest four rows lower.
  ASSERT_EQ(page.legendRows.size(), 5u);
  ASSERT_EQ(page.legends.size(), 1u);
  EXPECT_EQ(page.legends[0].title, "log: Rate, per acre");
  EXPECT_EQ(page.legends[0].titleBox.top(), kPageH - 200 + 20);
  EXPECT_EQ(page.legendRows[0].swatch.top(), kPageH - 200 + 6 * 20);
  EXPECT_EQ(page.legendRows[4].swatch.top(), kPageH - 200 + 2 * 20);
}

TEST_F(PrintPageTest, WithNotesNoBlockRunsIntoAnother) {
  std::string notes;
  for (int lines : {1, 2, 4, 8, 12}) {
    notes.clear();
    for (int i = 0; i < lines; ++i) notes += "Pass " + std::to_string(i + 1) + ": nozzles checked.\n";
    list_.RemoveAll();
    Open(PointFile("log" + std::to_string(lines), {{-95.0, 42.0}, {-94.99, 42.01}}, {900.0, 1500.0},
                   kFiveClasses, notes));
    View(200, 800);  // tall: the map reaches down as far as it may
    QImage image = Page();
    const PrintedPage page = Print(image, Metrics());
    ASSERT_TRUE(page.headingPrinted && page.notesPrinted && page.mapPrinted) << lines;
    QRect legend;
    for (const PrintedLegendRow& row : page.legendRows) legend |= row.swatch | row.firstBox | row.secondBox;
    const QRect notesBlock = page.notesHeadingBox | page.notesBox;
    // The rule runs across the page at the heading's bottom, 3 pixels wide.
    const QRect rule(0, page.headingBox.bottom() - 1, kPageW, 4);
    EXPECT_FALSE(rule.intersects(legend)) << lines << " lines of notes";
    EXPECT_FALSE(rule.intersects(notesBlock)) << lines;
    EXPECT_FALSE(page.headingBox.intersects(legend)) << lines;
    EXPECT_FALSE(legend.intersects(notesBlock)) << lines;
    EXPECT_LE(page.mapArea.bottom(), std::min({page.headingBox.top(), legend.top(), notesBlock.top()})) << lines;
    // The heading only ever moves up from its place 2.25 inches above the bottom.
    EXPECT_LE(page.headingBox.top(), kPageH - 225) << lines;
  }
}

TEST_F(PrintPageTest, ASolidColourLayerPrintsOneSolidColourSwatch) {
  const std::string shp = PointFile("log", {{-95.0, 42.0}, {-94.99, 42.01}}, {900.0, 1500.0}, kFiveClasses);
  WriteFileBytes(dir_ / "log.gpe", "[Options]\r\nCOLOR_METHOD=0\r\nLEGEND_COL=1\r\nSOLID_COLOR=255\r\nDISPLAY_SIZE=3000\r\n");
  Open(shp);
  View(400, 300);
  QImage image = Page();
  const PrintedPage page = Print(image, Metrics());
  ASSERT_EQ(page.legendRows.size(), 1u);
  EXPECT_EQ(page.legendRows[0].first, "Solid Color");
  // Under its title, the file's name alone: a solid colour comes from no field.
  EXPECT_EQ(page.legends.at(0).title, "log");
  EXPECT_EQ(page.legendRows[0].swatch.top(), kPageH - 200 + 40);
  EXPECT_EQ(image.pixel(page.legendRows[0].swatch.center()), Pixel(kRed));
}

TEST_F(PrintPageTest, LegendLinesAtTheRightWithTheHighestClassOnTop) {
  Open(PointFile("log", {{-95.0, 42.0}, {-94.99, 42.01}}, {900.0, 1500.0}, kFiveClasses));
  View(400, 300);
  QImage image = Page();
  const PrintedPage page = Print(image, Metrics());
  ASSERT_EQ(page.legendRows.size(), 5u);
  const std::vector<std::pair<std::string, std::string>> texts = {{"1000.00 and below", ""},
                                                                  {"1000.00 -", "1200.00"},
                                                                  {"1200.00 -", "1400.00"},
                                                                  {"1400.00 -", "1600.00"},
                                                                  {"Above 1600.00", ""}};
  const int blockTop = kPageH - 200;
  for (std::size_t i = 0; i < 5; ++i) {
    const PrintedLegendRow& row = page.legendRows[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(row.first, texts[i].first);
    EXPECT_EQ(row.second, texts[i].second);
    // Each class one 0.2-inch row higher than the one before, the title above the highest.
    EXPECT_EQ(row.swatch.top(), blockTop + static_cast<int>(6 - i) * 20);
    EXPECT_EQ(row.swatch.size(), QSize(16, 16));
    EXPECT_EQ(row.firstBox.top(), row.swatch.top());
    EXPECT_EQ(row.firstBox.height(), 20);
    // The boxes: 0.1 inch after the swatch, then 0.1 inch after the first.
    EXPECT_EQ(row.firstBox.left(), row.swatch.left() + 16 + 10);
    EXPECT_EQ(row.secondBox.left(), row.firstBox.right() + 1 + 10);
    // The column's left is its right edge, 0.64 inch from the page's, less the
    // wider of the title and the rows: the rows end there or left of it.
    EXPECT_LE(row.secondBox.right() + 1, kPageW - 100 + 16 + 10 + 10);
    EXPECT_EQ(row.swatch.left(), page.legends[0].titleBox.left());
    // The swatch in the class's colour inside a black outline.
    EXPECT_EQ(image.pixel(row.swatch.center()), Pixel(kFiveClasses[i].color));
    EXPECT_EQ(image.pixel(row.swatch.topLeft()), qRgb(0, 0, 0));
    EXPECT_EQ(image.pixel(row.swatch.bottomRight()), qRgb(0, 0, 0));
    EXPECT_GT(DarkPixels(image, row.firstBox), 10);
    // The middle classes have a second text; the others' one text may run on into it, unclipped.
    if (!texts[i].second.empty()) {
      EXPECT_GT(DarkPixels(image, row.secondBox), 10);
    }
  }
  // The widths are the measured sample texts of the largest break below the top class.
  EXPECT_GT(page.legendRows[0].firstBox.width(), page.legendRows[0].secondBox.width());
  EXPECT_TRUE(page.productBox.isNull()) << "one product slot: no product heading";
}

TEST_F(PrintPageTest, OneClassPrintsOnlyItsAndBelowLineAndTheTopClassItsAboveLine) {
  Open(PointFile("one", {{-95.0, 42.0}, {-94.99, 42.01}}, {5.0, 5.0}, {{5.0, kGreen}}));
  View(400, 300);
  QImage image = Page();
  PrintedPage page = Print(image, Metrics());
  ASSERT_EQ(page.legendRows.size(), 1u);
  EXPECT_EQ(page.legendRows[0].first, "5.00 and below");
  EXPECT_EQ(page.legendRows[0].second, "");
  EXPECT_EQ(page.legendRows[0].swatch.top(), kPageH - 200 + 40);

  Layer* two = Open(PointFile("two", {{-95.0, 42.0}, {-94.99, 42.01}}, {5.0, 7.0},
                              {{5.0, kGreen}, {kLegendTopValue, kBlue}}));
  ASSERT_NE(two, nullptr);
  QImage second = Page();
  page = Print(second, Metrics());
  ASSERT_EQ(page.legendRows.size(), 2u);
  EXPECT_EQ(page.legendRows[1].first, "Above 5.00");
  EXPECT_EQ(page.legendRows[1].second, "");
  EXPECT_LT(page.legendRows[1].swatch.top(), page.legendRows[0].swatch.top());
  EXPECT_EQ(second.pixel(page.legendRows[1].swatch.center()), Pixel(kBlue));
}

TEST_F(PrintPageTest, ProductHeadingOnlyWhenSeveralProductSlotsAreInUse) {
  Layer* layer = Open(PointFile("log", {{-95.0, 42.0}, {-94.99, 42.01}}, {5.0, 7.0}, {{5.0, kGreen}}));
  ASSERT_NE(layer, nullptr);
  layer->GetSummary().productCount = 2;
  layer->SetProductSlot(1);
  View(400, 300);
  QImage image = Page();
  const PrintedPage page = Print(image, Metrics());
  EXPECT_EQ(page.productText, "Product 2 Legend");
  ASSERT_EQ(page.legendRows.size(), 1u);
  // At the block's top-left, 2 inches wide and one row high, over the title and the legend's lines.
  EXPECT_EQ(page.productBox, QRect(page.legendRows[0].swatch.left(), kPageH - 200 + 20, 200, 20));
  EXPECT_EQ(page.legends.at(0).titleBox.top(), kPageH - 200 + 40);
  EXPECT_GT(DarkPixels(image, page.productBox), 20);
}

TEST_F(PrintPageTest, HeadingNamesTheFilesNewestFirstOverARuleAcrossThePage) {
  Open(AreaFile("field", -95.0, 42.0, 0.01, kGreen));
  Open(PointFile("log", {{-95.0, 42.0}, {-94.99, 42.01}}, {5.0, 7.0}, {{5.0, kRed}}));
  View(400, 300);
  QImage image = Page();
  const PrintedPage page = Print(image, Metrics());
  ASSERT_TRUE(page.headingPrinted);
  EXPECT_EQ(page.heading, "log, field");
  // 1.25 inch from the left, 2.25 inches above the bottom whatever is reserved, 0.2 inch high.
  EXPECT_EQ(page.headingBox.topLeft(), QPoint(125, kPageH - 225));
  EXPECT_EQ(page.headingBox.height(), 20);
  // The box is as wide as the widest summary text ("01/01/1601" of an empty summary and the like).
  EXPECT_GT(page.headingBox.width(), 30);
  EXPECT_LT(page.headingBox.width(), 150);
  // A rule 3 pixels wide at the box's bottom, from the page's left edge to its right.
  const int rule = kPageH - 225 + 20;
  for (int x : {0, 60, 425, kPageW - 1}) {
    SCOPED_TRACE(x);
    int black = 0;
    for (int y = rule - 2; y <= rule + 2; ++y) black += image.pixel(x, y) == qRgb(0, 0, 0);
    EXPECT_EQ(black, 3);
  }
  // The names in bold in the box (which may run on past its width), nothing left of it.
  EXPECT_GT(DarkPixels(image, QRect(125, rule - 20, 300, 19)), 50);
  EXPECT_EQ(DarkPixels(image, QRect(0, rule - 20, 124, 19)), 0);
}

TEST_F(PrintPageTest, UnderTheRuleTheLogsDateStartEndAndDuration) {
  // A log of three points with a date and a time of day each.
  test::ShpBuilder shp(1, -96.0, 41.0, -94.0, 43.0);
  for (double lat : {42.0, 42.001, 42.002}) shp.Point(-95.0, lat);
  const std::string path = (dir_ / "timed.shp").string();
  WriteFileBytes(path, shp.Bytes());
  test::DbfTableLayout table;
  table.fields = {{"Rate", 'N', 10, 2}, {"Logged", 'D', 8, 0}, {"Time", 'C', 8, 0}};
  table.rows = {" " + test::Number(5.0) + "20260415" + "07:59:30", " " + test::Number(6.0) + "20260415" + "09:15:00",
                " " + test::Number(7.0) + "20260416" + "08:30   "};
  WriteFileBytes(dir_ / "timed.dbf", test::MakeDbf(table));
  Settings("timed", false, 3000);
  SaveLegend("timed", {{10.0, kGreen}});
  Open(path);
  View(400, 300);
  QImage image = Page();
  PrintedPage page = Print(image, Metrics());
  ASSERT_TRUE(page.headingPrinted);
  // Points without a swath width apply no area: no totals follow.
  EXPECT_EQ(page.summaryText, "04/15/2026, 7:59 AM to 9:15 AM (1:16)");
  // At the names' left, a twentieth of an inch under the rule, one line high.
  const int rule = kPageH - 225 + 20;
  EXPECT_EQ(page.summaryBox.topLeft(), QPoint(125, rule + 5));
  EXPECT_EQ(page.summaryBox.height(), 20);
  EXPECT_GT(DarkPixels(image, page.summaryBox), 50);

  // With a file without times as well, the combined summary keeps the log's times.
  Open(AreaFile("field", -95.0, 42.0, 0.01, kGreen));
  QImage two = Page();
  page = Print(two, Metrics());
  EXPECT_EQ(page.heading, "field, timed");
  // The field's area joins the totals: the applied area and volume follow with their units.
  EXPECT_EQ(page.summaryText.rfind("04/15/2026, 7:59 AM to 9:15 AM (1:16); applied ", 0), 0u) << page.summaryText;
  EXPECT_NE(page.summaryText.find(" ac, volume "), std::string::npos) << page.summaryText;
  EXPECT_NE(page.summaryText.find(" (rate × ac)"), std::string::npos) << page.summaryText;

  // A file whose log has neither date nor times prints nothing under the rule.
  list_.RemoveAll();
  Open(PointFile("log", {{-95.0, 42.0}, {-94.99, 42.01}}, {5.0, 7.0}, {{5.0, kRed}}));
  QImage bare = Page();
  page = Print(bare, Metrics());
  EXPECT_TRUE(page.headingPrinted);
  EXPECT_EQ(page.summaryText, "");
  EXPECT_TRUE(page.summaryBox.isNull());
  EXPECT_EQ(DarkPixels(bare, QRect(0, rule + 3, 550, 25)), 0);  // the legend lies further right
}

TEST_F(PrintPageTest, NoHeadingWithOneFileAndNoneActive) {
  Open(PointFile("log", {{-95.0, 42.0}, {-94.99, 42.01}}, {5.0, 7.0}, {{5.0, kRed}}), false);
  View(400, 300);
  QImage image = Page();
  const PrintedPage page = Print(image, Metrics());
  EXPECT_FALSE(page.headingPrinted);
  EXPECT_EQ(page.headingBox.width(), 0);
  // A themed layer prints its legend whether or not it is active, in the 2 inches kept for it.
  ASSERT_EQ(page.legends.size(), 1u);
  EXPECT_EQ(page.legendRows.size(), 1u);
  EXPECT_EQ(page.reserved, 200);
  const int below = page.mapArea.bottom() + 1;
  EXPECT_EQ(DarkPixels(image, QRect(0, below, 550, kPageH - below)), 0) << "nothing but the legend at the right";

  // With a second file (still none active) the combined summary heads the page.
  Open(PointFile("more", {{-95.0, 42.0}, {-94.99, 42.01}}, {5.0, 7.0}, {{5.0, kRed}}), false);
  list_.SetActiveLayer(nullptr);
  QImage second = Page();
  EXPECT_TRUE(Print(second, Metrics()).headingPrinted);
}

TEST_F(PrintPageTest, TheMapFillsTheAreaAboveTheBlocksWithTheViewsCentreKept) {
  Open(AreaFile("field", -95.0, 42.0, 0.01, kGreen));
  // Zoomed in so the field covers the whole window and reaches past it.
  for (const QSize& window : {QSize(400, 300), QSize(200, 800)}) {
    SCOPED_TRACE(window.width());
    View(window.width(), window.height());
    view_.ZoomIn();
    view_.ZoomIn();
    QImage image = Page();
    const PrintedPage page = Print(image, Metrics(10));
    ASSERT_TRUE(page.mapPrinted && page.headingPrinted);
    // The whole width, from the printable corner down to a tenth of an inch
    // above the heading 2.25 inches up (875): 850 × 865, whatever the window's shape.
    EXPECT_EQ(page.headingBox.top(), 875);
    EXPECT_EQ(page.mapArea, QRect(0, 0, 850, 865));
    EXPECT_DOUBLE_EQ(page.mapScale, std::min(850.0 / window.width(), 865.0 / window.height()));
    // The field reaches the box's edges inside its one-pixel frame: all four
    // for the wide window; the tall one shows more of the map at the sides,
    // past the field's ends, but the field still reaches past where the
    // window's own picture would end.
    const int sides = window.width() == 400 ? 3 : 425 - static_cast<int>(page.mapScale * 100) - 20;
    for (const QPoint& at : {QPoint(sides, 432), QPoint(849 - sides, 432), QPoint(425, 3), QPoint(425, 780)}) {
      EXPECT_EQ(image.pixel(at), Pixel(kGreen)) << at.x() << "," << at.y();
    }
    EXPECT_EQ(image.pixel(0, 432), qRgb(0, 0, 0)) << "the frame";
    // Nothing of the map under the box, over the heading, legend and notes.
    EXPECT_EQ(Count(image, Pixel(kGreen), QRect(0, 866, 550, kPageH - 866)), 0);
  }
}

TEST_F(PrintPageTest, WindowWithoutAreaPrintsNoMapAndSaysSo) {
  Open(AreaFile("field", -95.0, 42.0, 0.01, kGreen));
  View(400, 300);
  for (const QSize& client : {QSize(0, 300), QSize(400, 0), QSize(0, 0)}) {
    SCOPED_TRACE(client.width());
    QImage image = Page();
    PrintSource source = Source();
    source.clientWidth = client.width();
    source.clientHeight = client.height();
    QPainter painter(&image);
    const PrintedPage page = DrawPrintPage(painter, Metrics(), source);
    painter.end();
    EXPECT_FALSE(page.mapPrinted);
    EXPECT_EQ(page.mapMessage, "The map window has no area; the map was not printed.");
    EXPECT_EQ(Count(image, Pixel(kGreen), QRect(0, 0, kPageW, 800)), 0);
    EXPECT_GT(DarkPixels(image, QRect(0, 0, 550, 20)), 30) << "the message is on the page";
    // The other blocks are printed all the same.
    EXPECT_EQ(page.legendRows.size(), 1u);
    EXPECT_TRUE(page.headingPrinted);
  }
}

TEST_F(PrintPageTest, PointSymbolsScaleToThePageWithOnePixelOutlines) {
  // Two points, far apart, coloured red and blue, with borders.
  Open(PointFile("log", {{-95.0, 42.0}, {-94.98, 42.02}}, {1.0, 9.0}, {{5.0, kRed}, {kLegendTopValue, kBlue}}, {},
                 true, 20000));
  View(200, 150);
  QImage image = Page();
  const PrintedPage page = Print(image, Metrics());
  ASSERT_TRUE(page.mapPrinted);
  // 850 × 865 above the heading; the window's 200 × 150 grows 4.25 times, its centre at the box's.
  EXPECT_EQ(page.mapArea, QRect(0, 0, 850, 865));
  const double scale = page.mapScale;
  EXPECT_DOUBLE_EQ(scale, 4.25);
  // Each record's colour at its point scaled onto the page.
  int found = 0;
  for (Shape* shape : list_.Head()->Records()) {
    MapPoint p{shape->GetBounds().left, shape->GetBounds().top};
    view_.Transform().WorldToDevice(p);
    const QPoint at(static_cast<int>(425 + (p.x - 100) * scale), static_cast<int>(432.5 + (p.y - 75) * scale));
    const QRgb colour = image.pixel(at);
    EXPECT_TRUE(colour == Pixel(kRed) || colour == Pixel(kBlue)) << at.x() << "," << at.y();
    // The outline is one device pixel, not a window pixel grown 4 times: walking left from
    // the centre, the colour runs up to a black edge at most 2 pixels thick.
    int x = at.x();
    while (x > 0 && image.pixel(x, at.y()) == colour) --x;
    int black = 0;
    while (x > 0 && image.pixel(x, at.y()) == qRgb(0, 0, 0)) --x, ++black;
    EXPECT_GE(black, 1);
    EXPECT_LE(black, 2);
    ++found;
  }
  EXPECT_EQ(found, 2);
  EXPECT_GT(Count(image, Pixel(kRed), image.rect()), 100) << "a scaled symbol, not a window-sized one";
}

// The boxes of every printed block, each named, the legends line by line.
std::vector<std::pair<std::string, QRect>> PrintedBlocks(const PrintedPage& page) {
  std::vector<std::pair<std::string, QRect>> blocks;
  if (page.mapPrinted) blocks.push_back({"map", page.mapArea});
  if (page.notesPrinted) blocks.push_back({"notes", page.notesHeadingBox | page.notesBox});
  if (page.headingPrinted) blocks.push_back({"names", page.headingBox});
  if (!page.summaryBox.isNull()) blocks.push_back({"summary", page.summaryBox});
  for (const PrintedLegend& legend : page.legends) {
    blocks.push_back({legend.title, legend.titleBox});
    for (const PrintedLegendRow& row : legend.rows) {
      blocks.push_back({legend.title + " / " + row.first, row.swatch | row.firstBox | row.secondBox});
    }
  }
  return blocks;
}

TEST_F(PrintPageTest, ThreeThemedLayersPrintTitledLegendsClearOfEveryOtherBlockOnEveryPage) {
  std::string notes;
  for (int i = 1; i <= 12; ++i) notes += "Pass " + std::to_string(i) + ": nozzles checked, rate steady at the headland.\n";
  Open(PointFile("soil", {{-95.0, 42.0}, {-94.99, 42.01}}, {900.0, 1500.0}, kFiveClasses));
  Open(AreaFile("field", -95.0, 42.0, 0.01, kGreen));
  Open(PointFile("applied", {{-95.0, 42.0}, {-94.98, 42.02}}, {900.0, 1500.0}, kFiveClasses, notes));
  // Letter and A4, upright and turned, at 100 dpi.
  for (const QSize& paper : {QSize(850, 1100), QSize(1100, 850), QSize(827, 1169), QSize(1169, 827)}) {
    SCOPED_TRACE(std::to_string(paper.width()) + "x" + std::to_string(paper.height()));
    View(1000, 700);
    QImage image = Page(paper.width(), paper.height());
    const PrintedPage page = Print(image, PageMetrics{paper.width(), paper.height(), kDpi, kDpi, 0, 0});
    ASSERT_TRUE(page.mapPrinted && page.notesPrinted && page.headingPrinted);
    ASSERT_EQ(page.legends.size(), 3u);
    EXPECT_EQ(page.legends[0].title, "applied: Rate, per acre");
    EXPECT_EQ(page.legends[1].title, "field: Rate, per acre");
    EXPECT_EQ(page.legends[2].title, "soil: Rate, per acre");
    EXPECT_EQ(page.legends[0].rows.size(), 5u);
    EXPECT_EQ(page.legends[1].rows.size(), 1u);
    for (const PrintedLegend& legend : page.legends) {
      EXPECT_GT(DarkPixels(image, legend.titleBox), 20) << legend.title << " is printed";
      EXPECT_EQ(legend.rows.front().swatch.left(), legend.titleBox.left()) << legend.title;
    }
    const auto blocks = PrintedBlocks(page);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
      EXPECT_TRUE(QRect(0, 0, paper.width(), paper.height()).contains(blocks[i].second)) << blocks[i].first;
      for (std::size_t j = i + 1; j < blocks.size(); ++j) {
        EXPECT_FALSE(blocks[i].second.intersects(blocks[j].second)) << blocks[i].first << " / " << blocks[j].first;
      }
    }
    // The map takes the width and all the height above the blocks but a tenth of an inch.
    int top = paper.height();
    for (const auto& [name, box] : blocks) {
      if (name != "map") top = std::min(top, box.top());
    }
    EXPECT_EQ(page.mapArea, QRect(0, 0, paper.width(), top - 10));
    // The north arrow in the map's top right corner, a quarter inch in; the scale bar at its bottom left.
    EXPECT_EQ(page.northArrow.right(), page.mapArea.right() - 25);
    EXPECT_EQ(page.northArrow.top(), 25);
    EXPECT_GT(DarkPixels(image, page.northArrow), 50);
    EXPECT_TRUE(page.mapArea.contains(page.scaleBar | page.scaleLabelBox));
    EXPECT_EQ(page.scaleBar.left(), 25);
  }
}

TEST_F(PrintPageTest, HiddenLayersPrintNeitherMapNorLegendAndTheNamesSaySo) {
  Layer* field = Open(AreaFile("field", -95.0, 42.0, 0.01, kGreen));
  Open(PointFile("log", {{-95.0, 42.0}, {-94.99, 42.01}}, {900.0, 1500.0}, kFiveClasses));
  ASSERT_NE(field, nullptr);
  field->SetHidden(true);
  View(400, 300);
  QImage image = Page();
  const PrintedPage page = Print(image, Metrics());
  EXPECT_EQ(page.heading, "log (hidden: field)");
  EXPECT_EQ(page.hiddenNames, std::vector<std::string>{"field"});
  ASSERT_EQ(page.legends.size(), 1u);
  EXPECT_EQ(page.legends[0].title, "log: Rate, per acre");
  EXPECT_EQ(Count(image, Pixel(kGreen), page.mapArea), 0) << "the hidden field is not drawn";
}

// The Mercator's ground along a parallel: the sphere's radius times the cosine of the latitude.
double GroundAcross(double degreesLongitude, double latitude) {
  constexpr double kRadius = 6378137.0;
  constexpr double kPi = 3.14159265358979323846;
  return kRadius * std::cos(latitude * kPi / 180.0) * degreesLongitude * kPi / 180.0;
}

TEST_F(PrintPageTest, ScaleBarLengthAndLabelAgreeWithTheMapsGroundWithinOnePercent) {
  // A square 0.02 degrees across at 42° north, drawn in green: its printed width is the page's scale.
  Open(AreaFile("field", -95.0, 42.0, 0.01, kGreen));
  for (const bool metric : {false, true}) {
    SCOPED_TRACE(metric);
    View(400, 300);
    QImage image = Page();
    PrintSource source = Source();
    source.metric = metric;
    QPainter painter(&image);
    const PrintedPage page = DrawPrintPage(painter, Metrics(), source);
    painter.end();
    ASSERT_TRUE(page.mapPrinted);
    // The green run across the square's middle row.
    int first = -1, last = -1;
    const int y = page.mapArea.center().y();
    for (int x = 0; x < kPageW; ++x) {
      if (image.pixel(x, y) != Pixel(kGreen)) continue;
      if (first < 0) first = x;
      last = x;
    }
    ASSERT_GT(last - first, 200);
    const double groundPerPixel = GroundAcross(0.02, 42.0) / (last - first + 1);
    EXPECT_NEAR(page.groundPerPixel / groundPerPixel, 1.0, 0.01);
    // The bar's length on the page, read as ground, is what its label says.
    ASSERT_GT(page.scaleBar.width(), 0);
    EXPECT_NEAR(page.scaleBar.width() * groundPerPixel / page.scaleMetres, 1.0, 0.01);
    const double number = std::stod(page.scaleLabel);
    const std::string unit = page.scaleLabel.substr(page.scaleLabel.find(' ') + 1);
    const std::map<std::string, double> metres = {{"ft", 0.3048}, {"mi", 1609.344}, {"m", 1.0}, {"km", 1000.0}};
    ASSERT_TRUE(metres.count(unit)) << page.scaleLabel;
    EXPECT_EQ(metric, unit == "m" || unit == "km") << page.scaleLabel;
    EXPECT_NEAR(number * metres.at(unit), page.scaleMetres, 1e-6 * page.scaleMetres);
    // About a fifth of the map's width: the nearest 1, 2 or 5 × 10^n is within a factor of 1.6 of it.
    const double fifth = page.mapArea.width() / 5.0;
    EXPECT_GT(page.scaleBar.width(), fifth / 1.6);
    EXPECT_LT(page.scaleBar.width(), fifth * 1.6);
    EXPECT_GT(DarkPixels(image, page.scaleBar), page.scaleBar.width() * page.scaleBar.height() * 9 / 10);
    EXPECT_GT(DarkPixels(image, page.scaleLabelBox), 20);
  }
}

TEST_F(PrintPageTest, AnExtraBlockIsPrintedAndTheHeadingAndMapKeepClearOfIt) {
  Open(PointFile("log", {{-95.0, 42.0}, {-94.99, 42.01}}, {900.0, 1500.0}, kFiveClasses));
  View(400, 300);
  PrintSource source = Source();
  // A table of 1.5 inches at the left, just above what the notes and legend reserved.
  int seenReserved = -1;
  source.extraBlocks.push_back([&seenReserved](QPainter& painter, const PageMetrics& page, int reserved, int& reserve) {
    seenReserved = reserved;
    const QRect box(0, page.height - reserved - 150, 300, 150);
    painter.fillRect(box, Qt::black);
    reserve = 150;
    return box;
  });
  QImage image = Page();
  QPainter painter(&image);
  const PrintedPage page = DrawPrintPage(painter, Metrics(), source);
  painter.end();
  EXPECT_EQ(seenReserved, 200) << "after the legend's two inches";
  ASSERT_EQ(page.extraBoxes.size(), 1u);
  EXPECT_EQ(page.extraBoxes[0], QRect(0, kPageH - 350, 300, 150));
  EXPECT_EQ(page.reserved, 350);
  // The names and their rule go above the block, and the map above them.
  EXPECT_LT(page.headingBox.bottom() + 2, page.extraBoxes[0].top());
  EXPECT_LT(page.mapArea.bottom(), page.headingBox.top());
}

TEST(PageFontTest, CellHeightIsThePointSizeAtTheDeviceResolution) {
  QImage image = Page(10, 10);
  for (int points : {kPageTextPoints, kPageHeadingPoints}) {
    SCOPED_TRACE(points);
    const QFont font = PageFont(points, kDpi, points == kPageHeadingPoints, &image);
    const int cell = QFontMetrics(font, &image).height();
    EXPECT_LE(cell, points * kDpi / 72);
    EXPECT_GE(cell, points * kDpi / 72 - 3);
  }
  EXPECT_TRUE(PageFont(kPageHeadingPoints, kDpi, true, &image).bold());
  EXPECT_FALSE(PageFont(kPageTextPoints, kDpi, false, &image).bold());
}

TEST(PageMetricsTest, PdfWriterGivesItsPrintableAreaResolutionAndOffsets) {
  TempDir dir;
  QPdfWriter writer(QString::fromStdString((dir / "m.pdf").string()));
  writer.setResolution(300);
  writer.setPageLayout(QPageLayout(QPageSize(QPageSize::Letter), QPageLayout::Portrait,
                                   QMarginsF(36, 72, 36, 72), QPageLayout::Point));
  const PageMetrics m = PageMetricsOf(writer);
  EXPECT_EQ(m.dpiX, 300);
  EXPECT_EQ(m.dpiY, 300);
  // Half an inch and an inch of margin at 300 dpi.
  EXPECT_EQ(m.offsetX, 150);
  EXPECT_EQ(m.offsetY, 300);
  EXPECT_EQ(m.width, 2550 - 300);
  EXPECT_EQ(m.height, 3300 - 600);
}

}  // namespace
}  // namespace kestrune
