// The printed page: the map window's current view scaled to the page, with a
// notes block, a heading with the names of the open files and the legend of
// the active layer below it. Every measure comes from the device's resolution,
// so the page has the same layout in inches on every printer, and the same
// function draws on a printer, a PDF writer or an image.
#pragma once

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
constexpr const char* kPageFontFamily = "Arial";
constexpr int kHeadingLineWidth = 3;

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

// What the page shows: the open layers, the active one (its legend, its
// summary), and the map window's client size and view transform.
struct PrintSource {
  LayerList* layers = nullptr;
  Layer* active = nullptr;
  int clientWidth = 0;
  int clientHeight = 0;
  const CMapTransform* transform = nullptr;
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
  std::vector<PrintedLegendRow> legendRows;  // in legend order: lowest class first

  bool mapPrinted = false;
  QRect mapArea;  // the client area's place on the page
  std::string mapMessage;  // set when the map could not be printed

  int reserved = 0;  // the reserved bottom height after every block
};

// The font of a block: the family at pointSize × dpiY ÷ 72 pixels of cell height
// (ascent plus descent) on the device, as printer fonts are sized.
QFont PageFont(int pointSize, int dpiY, bool bold, const QPaintDevice* device);

// Draws the whole page on an active painter in device pixels: the notes block,
// the heading block, the legend block and the map, in that order.
PrintedPage DrawPrintPage(QPainter& painter, const PageMetrics& page, const PrintSource& source);

}  // namespace kestrune
