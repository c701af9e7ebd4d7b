// The printed page: the map window's view zoomed to fill the page above the
// blocks at its bottom (its centre kept), with a scale bar and a north arrow;
// below it a notes block, a heading with the names of the open files and a
// legend block for every visible themed layer. Every measure comes from the device's resolution,
// so the page has the same layout in inches on every printer, and the same
// function draws on a printer, a PDF writer or an image.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <QFont>
#include <QRect>

class QPainter;
class QPagedPaintDevice;
class QPaintDevice;

namespace kestrune {

class CMapTransform;
class Layer;
class LayerList;

constexpr const char* kMsgNotesHeading = "#10000053:Notes";
constexpr const char* kMsgProductLegend = "#10000062:Product %d Legend";
constexpr const char* kMsgLegendAbove = "#10000063:Above %.2lf";
constexpr const char* kMsgLegendAndBelow = "#10000064:%.2lf and below";
// Printed in the map's place when the map window has no area to scale from.
constexpr const char* kMsgNoMapArea = "#20001200:The map window has no area; the map was not printed.";

constexpr int kPageTextPoints = 14;     // notes, legend and measures
constexpr int kPageHeadingPoints = 16;  // the names of the open files, bold
constexpr int kHeadingLineWidth = 3;
// The legend's title: the file name, then the field and its unit where known.
constexpr const char* kMsgLegendTitle = "#20200030:%s: %s";
constexpr const char* kMsgLegendTitleUnit = "#20200031:%s: %s, %s";
// The names of the open files when some are hidden (and so not printed).
constexpr const char* kMsgNamesWithHidden = "#20200032:%s (hidden: %s)";
constexpr const char* kMsgNamesAllHidden = "#20200033:Hidden: %s";
constexpr const char* kMsgNorth = "#20200034:N";

// What the page is laid out from, in device pixels: the printable area's size,
// the resolution across and down, and the printable area's offset from the
// paper's corner.
struct PageMetrics {
  int width = 0;
  int height = 0;
  int dpiX = 0;
  int dpiY = 0;
  int offsetX = 0;
  int offsetY = 0;
};

// The metrics of a printer or PDF writer as its painter will see them.
PageMetrics PageMetricsOf(const QPagedPaintDevice& device);

// A further block at the bottom of the page (a table, say), printed after the
// legends and before the heading: it draws itself given the page and the
// height reserved at the bottom so far, and returns the box it took, which the
// heading, its rule and the map then keep clear of. It grows the reservation
// by what it returns in `reserve`.
using ExtraPageBlock = std::function<QRect(QPainter& painter, const PageMetrics& page, int reserved, int& reserve)>;

// What the page shows: the open layers, the active one (its legend, its
// summary), and the map window's client size and view transform.
struct PrintSource {
  LayerList* layers = nullptr;
  Layer* active = nullptr;
  int clientWidth = 0;
  int clientHeight = 0;
  const CMapTransform* transform = nullptr;
  bool metric = false;  // the units preference: the scale bar and the summary's units
  std::string title;    // the document's name: the window's title (empty: the program's name)
  std::vector<ExtraPageBlock> extraBlocks;
};

// One legend line as printed: the swatch and the two text boxes with their texts
// (the second empty for the lowest and the open top class).
struct PrintedLegendRow {
  QRect swatch;
  QRect firstBox;
  QRect secondBox;
  std::string first;
  std::string second;
};

// One layer's legend block: its title line and its swatch lines.
struct PrintedLegend {
  const Layer* layer = nullptr;
  std::string title;
  QRect titleBox;
  std::vector<PrintedLegendRow> rows;
};

// Where each block went, in device pixels, and what it said.
struct PrintedPage {
  bool notesPrinted = false;
  QRect notesHeadingBox;
  QRect notesBox;
  std::string notes;

  bool headingPrinted = false;
  QRect headingBox;
  std::string heading;
  // The log's date, start, end and duration under the rule (empty when the summary has none).
  QRect summaryBox;
  std::string summaryText;

  QRect productBox;  // empty unless the product heading was printed
  std::string productText;
  std::vector<PrintedLegendRow> legendRows;  // the active layer's (else the first) legend, lowest class first
  std::vector<PrintedLegend> legends;        // every printed legend, in the order of the names
  std::vector<std::string> hiddenNames;      // the files not printed because they are hidden

  bool mapPrinted = false;
  QRect mapArea;  // the map's box on the page: the area above the blocks
  double mapScale = 0.0;  // page pixels per window pixel
  std::string mapMessage;  // set when the map could not be printed
  double groundPerPixel = 0.0;  // metres of ground a page pixel covers at the map's centre

  QRect scaleBar;  // the bar alone
  QRect scaleLabelBox;
  std::string scaleLabel;
  double scaleMetres = 0.0;
  QRect northArrow;  // the arrow and its "N"

  std::vector<QRect> extraBoxes;  // the boxes the extra blocks took, in their order

  int reserved = 0;  // the reserved bottom height after every block
};

// The font of a block: the family at pointSize × dpiY ÷ 72 pixels of cell height
// (ascent plus descent) on the device, as printer fonts are sized.
QFont PageFont(int pointSize, int dpiY, bool bold, const QPaintDevice* device);

// Draws the whole page on an active painter in device pixels: the notes block,
// the heading block, the legend block and the map, in that order.
PrintedPage DrawPrintPage(QPainter& painter, const PageMetrics& page, const PrintSource& source);

}  // namespace kestrune
