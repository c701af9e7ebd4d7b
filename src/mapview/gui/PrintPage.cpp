// The printed page, block by block, with the reserved bottom height handed on.
#include "mapview/gui/PrintPage.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include <QFontMetrics>
#include <QFontMetricsF>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPolygonF>
#include <QStringDecoder>
#include <QTransform>

#include "attributes/AttributeRows.h"
#include "base/Paths.h"
#include "base/gui/AppFont.h"
#include "geo/CMapTransform.h"
#include "geo/gui/QPainterCanvas.h"
#include "lang/LangString.h"
#include "layers/FileSummary.h"
#include "layers/Layer.h"
#include "layers/LayerList.h"
#include "layers/Legend.h"
#include "layers/SummaryUnits.h"
#include "layers/TargetTheme.h"
#include "mapview/MapView.h"
#include "mapview/PageScale.h"
#include "shapes/DbfTable.h"

namespace kestrune {

namespace {

// Page fractions of an inch become pixels truncated toward zero.
int Inches(double inches, int dpi) { return static_cast<int>(inches * dpi); }

// A translated text for the painter.
QString LangQ(const std::string& text) { return QString::fromStdString(text); }

// File bytes (notes, names) as text: UTF-8 when they are, else code page 1252
// as files written on the desktop are; line ends become plain newlines.
QString FileText(const std::string& bytes) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
  if (utf8.hasError()) text = DecodeTableText(bytes);
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return text;
}

// The width of a text measured on one line in the painter's font.
int SingleLineWidth(QPainter& painter, const QString& text) {
  return painter.boundingRect(QRect(0, 0, 0, 0), Qt::TextSingleLine, text).width();
}

// The rectangle of a box given by left, top, width and height.
QRect Box(int left, int top, int width, int height) { return QRect(left, top, width, height); }

// Draws a one-line text at the bottom of its box; unclipped texts may run past it.
void DrawBottomLine(QPainter& painter, const QRect& box, const QString& text, Qt::Alignment horizontal,
                    bool clipped) {
  const int flags = Qt::TextSingleLine | Qt::AlignBottom | horizontal | (clipped ? 0 : Qt::TextDontClip);
  painter.drawText(box, flags, text);
}

// The notes of every open layer under their heading, word-wrapped at 5.5
// inches; the text's height is added to the reservation.
void DrawNotesBlock(QPainter& painter, const PageMetrics& page, const PrintSource& source, PrintedPage& out) {
  const std::string notes = source.layers->GatherNotes();
  if (notes.empty()) return;
  painter.setFont(PageFont(kPageTextPoints, page.dpiY, false, painter.device()));
  const QString text = FileText(notes);
  const int right = Inches(5.5, page.dpiX);
  const int indent = Inches(0.25, page.dpiX);
  // Measured in the width it is drawn in: a wider measure could wrap into
  // fewer lines than the drawing needs and cut the last ones off.
  const int h = painter.boundingRect(QRect(0, 0, right - indent, 0), Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, text)
                    .height();
  const int headingTop = static_cast<int>(page.height - out.reserved - 0.2 * page.dpiY - h - 0.5 * page.dpiY);
  out.notesHeadingBox = Box(0, headingTop, right, Inches(0.2, page.dpiY));
  DrawBottomLine(painter, out.notesHeadingBox, LangQ(LangText(kMsgNotesHeading)), Qt::AlignLeft, true);
  const int notesTop = headingTop + Inches(0.2, page.dpiY);
  out.notesBox = Box(indent, notesTop, right - indent, h);
  painter.drawText(out.notesBox, Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, text);
  out.notesPrinted = true;
  out.notes = text.toStdString();
  out.reserved += h;
}

// The summary whose texts size the heading: the totals over several files,
// else the active file's own; none with a single file and none active.
const FileSummary* HeadingSummary(const PrintSource& source) {
  if (source.layers->GetCount() > 1) return &source.layers->ComputeTotals();
  if (source.active) return &source.active->GetSummary();
  return nullptr;
}

// The vertical run [top, bottom) of the blocks printed below the heading that
// the heading's rule (across the whole page) must stay clear of.
struct Band {
  int top;
  int bottom;
};

// The bands the notes and legend blocks took.
std::vector<Band> PrintedBands(const PrintedPage& out) {
  std::vector<Band> bands;
  if (out.notesPrinted) bands.push_back({out.notesHeadingBox.top(), out.notesBox.bottom() + 1});
  QRect legend;
  for (const PrintedLegend& l : out.legends) {
    legend |= l.titleBox;
    for (const PrintedLegendRow& row : l.rows) legend |= row.swatch | row.firstBox;
  }
  if (!out.productBox.isEmpty()) legend |= out.productBox;
  if (!legend.isEmpty()) bands.push_back({legend.top(), legend.bottom() + 1});
  for (const QRect& box : out.extraBoxes) {
    if (!box.isEmpty()) bands.push_back({box.top(), box.bottom() + 1});
  }
  return bands;
}

// The names of the printed files, newest first, and after them those of the
// hidden ones, which the page leaves out.
std::string NamesText(const PrintSource& source, PrintedPage& out) {
  std::string shown;
  std::string hidden;
  out.hiddenNames.clear();
  for (const Layer* layer : source.layers->Layers()) {
    const std::string name = BasePathOf(layer->GetFileName());
    std::string& list = layer->IsHidden() ? hidden : shown;
    if (!list.empty()) list += ", ";
    list += name;
    if (layer->IsHidden()) out.hiddenNames.push_back(name);
  }
  if (hidden.empty()) return shown;
  if (shown.empty()) return LangFormat(kMsgNamesAllHidden, hidden.c_str());
  return LangFormat(kMsgNamesWithHidden, shown.c_str(), hidden.c_str());
}

// The log's date and times, then the applied area and volume with their units
// when the summary has a product; empty with none of them.
std::string LogLineWithTotals(const FileSummary& summary, bool metric) {
  const std::string line = summary.FormatLogLine();
  // A log without an applied area (no width field) has no totals to tell.
  if (summary.productCount <= 0 || !(summary.fieldArea[0] > 0.0)) return line;
  const std::string area = AreaWithUnit(LangFormat("%.2lf", summary.fieldArea[0]), metric);
  const std::string volume = VolumeWithUnit(LangFormat("%.2lf", summary.fieldVolume[0]), metric);
  if (line.empty()) return LangFormat(kMsgAppliedTotals, area.c_str(), volume.c_str());
  return LangFormat(kMsgLogLineWithTotals, line.c_str(), area.c_str(), volume.c_str());
}

// The names of the open files in bold over a rule across the page, 2.25
// inches above the page's bottom whatever has been reserved, and under the
// rule the log's date, start, end and duration. When the notes or the legend
// reach up there, the block goes just above the highest of them, so that no
// text and no rule runs through another block.
void DrawHeadingBlock(QPainter& painter, const PageMetrics& page, const PrintSource& source, PrintedPage& out) {
  const QFont bold = PageFont(kPageHeadingPoints, page.dpiY, true, painter.device());
  const QFont normal = PageFont(kPageTextPoints, page.dpiY, false, painter.device());
  const FileSummary* summary = HeadingSummary(source);
  int width = 0;
  if (summary) {
    painter.setFont(normal);
    const std::array<std::string, 4> texts{summary->FormatDate(), summary->FormatStartTime(),
                                           summary->FormatEndTime(), summary->FormatDuration()};
    for (const std::string& t : texts) width = std::max(width, SingleLineWidth(painter, LangQ(t)));
  }
  const int boxHeight = Inches(0.2, page.dpiY);
  int bottom = static_cast<int>(page.height - 2.25 * page.dpiY) + boxHeight;
  // What lies under the box's bottom: the rule drawn centred on it, kept a
  // twentieth of an inch off the block below, or the log line under the rule.
  const std::string log = summary ? LogLineWithTotals(*summary, source.metric) : std::string();
  const int below = Inches(0.05, page.dpiY) + (log.empty() ? kHeadingLineWidth / 2 + 1 : Inches(0.2, page.dpiY));
  const std::vector<Band> bands = PrintedBands(out);
  for (bool moved = true; moved;) {
    moved = false;
    for (const Band& band : bands) {
      if (bottom - boxHeight < band.bottom && bottom + below > band.top) {
        bottom = band.top - below;
        moved = true;
      }
    }
  }
  const int top = bottom - boxHeight;
  out.headingBox = Box(Inches(1.25, page.dpiX), top, width, boxHeight);
  if (!summary) return;
  const QString names = FileText(NamesText(source, out));
  painter.setFont(bold);
  // The box may be narrower than the names (its width comes from the summary): the text runs on.
  DrawBottomLine(painter, out.headingBox, names, Qt::AlignLeft, false);
  QPen rule(Qt::black, kHeadingLineWidth, Qt::SolidLine, Qt::RoundCap);
  painter.save();
  painter.setPen(rule);
  painter.drawLine(QPoint(0, bottom), QPoint(page.width, bottom));
  painter.restore();
  out.headingPrinted = true;
  out.heading = names.toStdString();
  // Under the rule, the log's date, start, end and duration, as far as the summary has them.
  if (log.empty()) return;
  painter.setFont(normal);
  out.summaryBox = Box(out.headingBox.left(), bottom + Inches(0.05, page.dpiY), SingleLineWidth(painter, LangQ(log)),
                       Inches(0.2, page.dpiY));
  painter.drawText(out.summaryBox, Qt::TextSingleLine | Qt::AlignTop | Qt::AlignLeft | Qt::TextDontClip, LangQ(log));
  out.summaryText = log;
}

// One line of a legend block: the product heading, the title, or a swatch
// with one text (left-aligned, may run on) or two (right-aligned in their boxes).
struct LegendLine {
  enum Kind { Product, Title, Swatch } kind = Swatch;
  Color color = 0;
  std::string first;
  std::string second;
};

// What one layer's legend prints, top line first, and the widths of its two text boxes.
struct LegendContent {
  const Layer* layer = nullptr;
  std::vector<LegendLine> lines;
  int w1 = 0;
  int w2 = 0;
};

// Whether a layer prints a legend: a visible layer coloured by a field, and
// the active one whatever its colouring.
bool PrintsLegend(const Layer& layer, const PrintSource& source) {
  if (layer.IsHidden()) return false;
  if (&layer == source.active) return true;
  if (layer.GetColorMethod() == kColorMethodSolid) return false;
  return layer.IsCategorised() || layer.GetLegendColumn() != kNoLegendColumn;
}

// The name of a layer's legend field, read from its table; empty without one.
std::string LegendFieldName(const Layer& layer) {
  if (layer.GetLegendColumn() == kNoLegendColumn || layer.GetColorMethod() == kColorMethodSolid) return {};
  if (IsTargetLegendColumn(layer.GetLegendColumn())) return TargetThemeLabel(layer.GetLegendColumn());
  DbfTable table;
  if (!table.Open(layer.GetTablePath())) return {};
  const DbfField* field = table.GetField(layer.GetLegendColumn());
  std::string name = field ? field->name : std::string();
  table.Close();
  return name;
}

// "file: field, unit", "file: field" or the file name alone.
std::string LegendTitle(const Layer& layer, bool metric) {
  const std::string file = BasePathOf(layer.GetFileName());
  const std::string field = LegendFieldName(layer);
  if (field.empty()) return file;
  const std::string unit = LegendFieldUnit(layer, metric);
  if (unit.empty()) return LangFormat(kMsgLegendTitle, file.c_str(), field.c_str());
  return LangFormat(kMsgLegendTitleUnit, file.c_str(), field.c_str(), unit.c_str());
}

// The lines of one layer's legend: categories top to bottom in the order of
// the layers pane ("Other" last); classes with the highest on top; one
// "Solid Color" line for a layer drawn in one colour.
LegendContent MakeLegendContent(QPainter& painter, const Layer& layer, const PrintSource& source) {
  LegendContent c;
  c.layer = &layer;
  if (&layer == source.active && source.layers->ComputeTotals().productCount > 1) {
    c.lines.push_back({LegendLine::Product, 0, LangFormat(kMsgProductLegend, layer.GetProductSlot() + 1), {}});
  }
  c.lines.push_back({LegendLine::Title, 0, LegendTitle(layer, source.metric), {}});
  const bool solid = layer.GetColorMethod() == kColorMethodSolid || layer.GetLegendColumn() == kNoLegendColumn;
  if (solid) {
    c.lines.push_back({LegendLine::Swatch, layer.GetSolidColor(), LangText(kLabelSolidColor), {}});
  } else if (layer.IsCategorised()) {
    for (const CategoryLegend::Line& l : layer.GetCategories().GetLines()) {
      c.lines.push_back({LegendLine::Swatch, l.color, l.label, {}});
    }
  } else {
    const std::vector<LegendEntry>& entries = layer.GetLegend().GetEntries();
    double largest = 0.0;
    for (const LegendEntry& e : entries) {
      if (e.value <= kLegendTopThreshold) largest = std::max(largest, e.value);
    }
    c.w1 = SingleLineWidth(painter, LangQ(LangFormat("%.2lf -", largest)));
    c.w2 = SingleLineWidth(painter, LangQ(LangFormat("%.2lf", largest)));
    std::vector<LegendLine> rows;
    double previous = 0.0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const LegendEntry& entry = entries[i];
      // The lowest class goes first, so a one-class legend prints only its and-below line.
      if (i == 0) {
        rows.push_back({LegendLine::Swatch, entry.color, LangFormat(kMsgLegendAndBelow, entry.value), {}});
      } else if (entry.value > kLegendTopThreshold) {
        rows.push_back({LegendLine::Swatch, entry.color, LangFormat(kMsgLegendAbove, previous), {}});
      } else {
        rows.push_back(
            {LegendLine::Swatch, entry.color, LangFormat("%.2lf -", previous), LangFormat("%.2lf", entry.value)});
      }
      previous = entry.value;
    }
    c.lines.insert(c.lines.end(), rows.rbegin(), rows.rend());
  }
  return c;
}

// The width a line takes from its column's left.
int LineWidth(QPainter& painter, const LegendContent& c, const LegendLine& line, int swatch, int gap) {
  if (line.kind != LegendLine::Swatch) return SingleLineWidth(painter, LangQ(line.first));
  if (!line.second.empty()) return swatch + gap + c.w1 + gap + c.w2;
  return swatch + gap + std::max(c.w1 + gap + c.w2, SingleLineWidth(painter, LangQ(line.first)));
}

// A placed line: which legend, which of its lines, and its column and row.
struct Placed {
  std::size_t legend;
  std::size_t line;
  std::size_t column;
  int row;
};

// Lays the lines out in columns of at most `capacity` rows: a legend starts
// in the current column when its title and a first swatch fit there (one
// empty row after the legend before it), else in a new one, and runs on into
// the next column when the column is full.
std::vector<Placed> FlowLegends(const std::vector<LegendContent>& legends, int capacity, std::size_t& columns) {
  std::vector<Placed> placed;
  std::size_t column = 0;
  int used = 0;
  for (std::size_t i = 0; i < legends.size(); ++i) {
    const std::size_t headLines = legends[i].lines.size() > 1 ? 2 : 1;
    if (used > 0) {
      if (used + 1 + static_cast<int>(headLines) <= capacity) {
        ++used;
      } else {
        ++column;
        used = 0;
      }
    }
    for (std::size_t j = 0; j < legends[i].lines.size(); ++j) {
      if (used == capacity) {
        ++column;
        used = 0;
      }
      placed.push_back({i, j, column, used++});
    }
  }
  columns = placed.empty() ? 0 : column + 1;
  return placed;
}

// A legend block for every visible themed layer (and the active one), at the
// bottom right in columns of 0.2-inch rows. The block takes the two inches
// above the notes (more rows a column when the columns would not fit across
// the page); its first row is left empty, and it goes up just above the notes
// where a column would reach into them. The reservation grows by its height.
void DrawLegendBlock(QPainter& painter, const PageMetrics& page, const PrintSource& source, PrintedPage& out) {
  painter.setFont(PageFont(kPageTextPoints, page.dpiY, false, painter.device()));
  const int row = std::max(Inches(0.2, page.dpiY), static_cast<int>(std::ceil(QFontMetricsF(painter.font(), painter.device()).height())));
  const int swatch = Inches(0.16, page.dpiX);
  const int gap = Inches(0.1, page.dpiX);
  const int columnGap = Inches(0.3, page.dpiX);
  const int right = page.width - page.dpiX + swatch + 2 * gap;
  std::vector<LegendContent> legends;
  for (const Layer* layer : source.layers->Layers()) {
    if (PrintsLegend(*layer, source)) legends.push_back(MakeLegendContent(painter, *layer, source));
  }
  int height = Inches(2.0, page.dpiY);
  int capacity = std::max(1, height / row - 1);
  std::vector<Placed> placed;
  std::vector<int> widths;
  for (;;) {
    std::size_t columns = 0;
    placed = FlowLegends(legends, capacity, columns);
    widths.assign(columns, 0);
    for (const Placed& p : placed) {
      const LegendContent& c = legends[p.legend];
      widths[p.column] = std::max(widths[p.column], LineWidth(painter, c, c.lines[p.line], swatch, gap));
    }
    int total = 0;
    for (int w : widths) total += w + columnGap;
    if (total - columnGap <= right || capacity >= 200) break;
    ++capacity;
    height = (capacity + 1) * row;
  }
  // Columns left to right, the last one ending at the block's right edge.
  std::vector<int> lefts(widths.size(), 0);
  int x = right;
  for (std::size_t i = widths.size(); i-- > 0;) {
    x -= widths[i];
    lefts[i] = x;
    x -= columnGap;
  }
  int top = page.height - out.reserved - height;
  if (out.notesPrinted && !placed.empty()) {
    const QRect notes = out.notesHeadingBox | out.notesBox;
    int lowest = top;
    for (const Placed& p : placed) {
      const QRect line(lefts[p.column], top + (p.row + 1) * row, widths[p.column], row);
      if (line.intersects(notes)) lowest = std::max(lowest, line.bottom());
    }
    if (lowest > top) {
      const int shift = lowest - notes.top() + 1 + Inches(0.05, page.dpiY);
      top -= shift;
      out.reserved += shift;
    }
  }
  painter.setPen(Qt::black);
  out.legends.resize(legends.size());
  for (std::size_t i = 0; i < legends.size(); ++i) out.legends[i].layer = legends[i].layer;
  for (const Placed& p : placed) {
    const LegendContent& c = legends[p.legend];
    const LegendLine& line = c.lines[p.line];
    PrintedLegend& legend = out.legends[p.legend];
    const int left = lefts[p.column];
    const int rowTop = top + (p.row + 1) * row;
    if (line.kind == LegendLine::Product) {
      out.productText = line.first;
      out.productBox = Box(left, rowTop, std::max(2 * page.dpiX, widths[p.column]), row);
      DrawBottomLine(painter, out.productBox, LangQ(out.productText), Qt::AlignLeft, false);
      continue;
    }
    if (line.kind == LegendLine::Title) {
      legend.title = line.first;
      legend.titleBox = Box(left, rowTop, SingleLineWidth(painter, LangQ(line.first)), row);
      DrawBottomLine(painter, legend.titleBox, LangQ(line.first), Qt::AlignLeft, false);
      continue;
    }
    PrintedLegendRow printed;
    printed.swatch = Box(left, rowTop, swatch, swatch);
    // The swatch as a desktop rectangle: a one-pixel black outline round the colour.
    painter.fillRect(printed.swatch, Qt::black);
    if (swatch > 2) painter.fillRect(printed.swatch.adjusted(1, 1, -1, -1), ToQColor(line.color));
    printed.first = line.first;
    printed.second = line.second;
    if (c.w2 == 0) {
      // A category or the solid colour: one text as wide as it is.
      printed.firstBox = Box(left + swatch + gap, rowTop, SingleLineWidth(painter, LangQ(line.first)), row);
      DrawBottomLine(painter, printed.firstBox, LangQ(line.first), Qt::AlignLeft, false);
    } else if (line.second.empty()) {
      // The lowest and the top class: one text from the first box's left, running on unclipped.
      printed.firstBox = Box(left + swatch + gap, rowTop, c.w1, row);
      printed.secondBox = Box(printed.firstBox.right() + 1 + gap, rowTop, c.w2, row);
      DrawBottomLine(painter, printed.firstBox, LangQ(line.first), Qt::AlignLeft, false);
    } else {
      printed.firstBox = Box(left + swatch + gap, rowTop, c.w1, row);
      printed.secondBox = Box(printed.firstBox.right() + 1 + gap, rowTop, c.w2, row);
      DrawBottomLine(painter, printed.firstBox, LangQ(line.first), Qt::AlignRight, true);
      DrawBottomLine(painter, printed.secondBox, LangQ(line.second), Qt::AlignRight, true);
    }
    legend.rows.push_back(std::move(printed));
  }
  // The rows were placed top line first; the legend's own order is lowest class first.
  for (PrintedLegend& legend : out.legends) {
    if (!legend.layer->IsCategorised()) std::reverse(legend.rows.begin(), legend.rows.end());
  }
  for (const PrintedLegend& legend : out.legends) {
    if (legend.layer == source.active || (out.legendRows.empty() && &legend == &out.legends.front())) {
      out.legendRows = legend.rows;
    }
  }
  out.reserved += height;
}

// The ground a page pixel covers at the centre of a view, in metres.
double GroundPerPixel(const MapView& view, double pagePixelsPerViewPixel) {
  constexpr double kMetresPerInch = 0.0254;
  return view.ScaleAtCentre(1.0) * kMetresPerInch / pagePixelsPerViewPixel;
}

// The scale bar at the map's bottom left on a white ground: a round length
// about a fifth of the map's width, in the units preference, its label after it.
void DrawScaleBar(QPainter& painter, const PageMetrics& page, const PrintSource& source, PrintedPage& out) {
  if (!(out.groundPerPixel > 0.0)) return;
  const ScaleBar bar = ChooseScaleBar(out.mapArea.width() * out.groundPerPixel, source.metric);
  if (!(bar.metres > 0.0)) return;
  painter.setFont(PageFont(kPageTextPoints, page.dpiY, false, painter.device()));
  const int length = static_cast<int>(std::lround(bar.metres / out.groundPerPixel));
  const int inset = Inches(0.25, page.dpiX);
  const int row = Inches(0.2, page.dpiY);
  const int thick = std::max(1, Inches(0.06, page.dpiY));
  const int labelWidth = SingleLineWidth(painter, LangQ(bar.label));
  const int left = out.mapArea.left() + inset;
  const int bottom = out.mapArea.bottom() - inset;
  out.scaleLabelBox = Box(left + length + Inches(0.1, page.dpiX), bottom - row + 1, labelWidth, row);
  out.scaleBar = Box(left, out.scaleLabelBox.center().y() - thick / 2, length, thick);
  const QRect ground = (out.scaleBar | out.scaleLabelBox).adjusted(-Inches(0.08, page.dpiX), -Inches(0.05, page.dpiY),
                                                                    Inches(0.08, page.dpiX), Inches(0.05, page.dpiY));
  painter.fillRect(ground, Qt::white);
  painter.fillRect(out.scaleBar, Qt::black);
  // Ticks at the ends, as tall as the label's letters.
  const int tick = std::max(1, Inches(0.015, page.dpiX));
  const int tickHeight = Inches(0.15, page.dpiY);
  for (int at : {out.scaleBar.left(), out.scaleBar.right() + 1 - tick}) {
    painter.fillRect(QRect(at, out.scaleBar.center().y() - tickHeight / 2, tick, tickHeight), Qt::black);
  }
  painter.setPen(Qt::black);
  painter.drawText(out.scaleLabelBox, Qt::TextSingleLine | Qt::AlignLeft | Qt::AlignVCenter | Qt::TextDontClip,
                   LangQ(bar.label));
  out.scaleLabel = bar.label;
  out.scaleMetres = bar.metres;
}

// The north arrow at the map's top right on a white ground: the map's
// Mercator has north straight up.
void DrawNorthArrow(QPainter& painter, const PageMetrics& page, PrintedPage& out) {
  const int inset = Inches(0.25, page.dpiX);
  const int width = Inches(0.3, page.dpiX);
  const int height = Inches(0.6, page.dpiY);
  out.northArrow = Box(out.mapArea.right() - inset - width + 1, out.mapArea.top() + inset, width, height);
  const QRect& a = out.northArrow;
  painter.fillRect(a.adjusted(-Inches(0.05, page.dpiX), -Inches(0.05, page.dpiY), Inches(0.05, page.dpiX), 0), Qt::white);
  painter.setFont(PageFont(kPageTextPoints, page.dpiY, true, painter.device()));
  painter.setPen(Qt::black);
  const QRect letter(a.left(), a.top(), a.width(), Inches(0.22, page.dpiY));
  painter.drawText(letter, Qt::TextSingleLine | Qt::AlignHCenter | Qt::AlignTop | Qt::TextDontClip,
                   LangQ(LangText(kMsgNorth)));
  const QPointF tip(a.center().x() + 0.5, letter.bottom() + Inches(0.04, page.dpiY));
  const QPointF base(tip.x(), a.bottom());
  const QPolygonF head({tip, QPointF(a.left(), base.y()), QPointF(tip.x(), base.y() - Inches(0.1, page.dpiY)),
                        QPointF(a.right() + 1, base.y())});
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.setPen(Qt::NoPen);
  painter.setBrush(Qt::black);
  painter.drawPolygon(head);
  painter.restore();
}

// The map window's view zoomed to fill the page's width and the height left
// above the blocks at the bottom, the view's centre at the area's centre: the
// window's picture grows by the smaller of the two ratios and shows more of
// the map along the other side. Framed, with its scale bar and north arrow.
void DrawMap(QPainter& painter, const PageMetrics& page, const PrintSource& source, PrintedPage& out) {
  const int64_t clientW = source.clientWidth;
  const int64_t clientH = source.clientHeight;
  // Without a client area there is no scale to print at; the page says so instead.
  if (clientW <= 0 || clientH <= 0 || !source.transform) {
    out.mapMessage = LangText(kMsgNoMapArea);
    painter.setFont(PageFont(kPageTextPoints, page.dpiY, false, painter.device()));
    painter.setPen(Qt::black);
    const QRect where(0, 0, std::max(Inches(5.5, page.dpiX), 1), Inches(0.2, page.dpiY));
    DrawBottomLine(painter, where, LangQ(out.mapMessage), Qt::AlignLeft, false);
    return;
  }
  // Drawn from the printable area's corner down, the map stops a tenth of an
  // inch short of the heading and the blocks under it.
  int64_t clear = int64_t{page.height} - out.reserved;
  if (out.headingPrinted) {
    clear = std::min<int64_t>(clear, out.headingBox.top());
  }
  for (const Band& band : PrintedBands(out)) clear = std::min<int64_t>(clear, band.top);
  const int64_t areaH = clear - Inches(0.1, page.dpiY);
  const int64_t areaW = page.width;
  // A page too small for any map after the blocks prints none.
  if (areaH <= 0 || areaW <= 0) return;
  const double scale = std::min(static_cast<double>(areaW) / static_cast<double>(clientW),
                                static_cast<double>(areaH) / static_cast<double>(clientH));
  // The window as large as the area at this scale, with its centre and its
  // ground per window pixel kept.
  const int virtualW = static_cast<int>(std::lround(static_cast<double>(areaW) / scale));
  const int virtualH = static_cast<int>(std::lround(static_cast<double>(areaH) / scale));
  MapView pageView;
  pageView.Transform() = *source.transform;
  pageView.Resize(static_cast<int>(clientW), static_cast<int>(clientH));
  const int64_t width = pageView.Width();
  pageView.Resize(virtualW, virtualH);
  pageView.ZoomToWidth(static_cast<int32_t>(std::clamp<int64_t>(width * virtualW / clientW, 1, MapView::kMaxZoomOutExtent)));
  out.mapArea = QRect(0, 0, static_cast<int>(areaW), static_cast<int>(areaH));
  painter.save();
  painter.setTransform(QTransform(scale, 0.0, 0.0, scale, 0.0, 0.0));
  painter.setClipRect(QRectF(0.0, 0.0, areaW / scale, areaH / scale));
  {
    QPainterCanvas canvas(painter);
    source.layers->DrawAll(canvas, pageView.Transform());
  }
  painter.restore();
  out.mapPrinted = true;
  out.mapScale = scale;
  out.groundPerPixel = GroundPerPixel(pageView, scale);
  painter.save();
  painter.setPen(QPen(Qt::black, std::max(1, Inches(0.01, page.dpiX))));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(out.mapArea.adjusted(0, 0, -1, -1));
  painter.restore();
  DrawScaleBar(painter, page, source, out);
  DrawNorthArrow(painter, page, out);
}

}  // namespace

// The printable area in device pixels and its corner's place on the paper.
PageMetrics PageMetricsOf(const QPagedPaintDevice& device) {
  PageMetrics m;
  m.width = device.width();
  m.height = device.height();
  m.dpiX = device.logicalDpiX();
  m.dpiY = device.logicalDpiY();
  const QPageLayout layout = device.pageLayout();
  const QRect paint = layout.paintRectPixels(m.dpiX);
  const QRect full = layout.fullRectPixels(m.dpiX);
  m.offsetX = paint.left() - full.left();
  m.offsetY = paint.top() - full.top();
  return m;
}

// Asks for the height in pixels and shrinks the font until the cell of the
// font actually found (ascent plus descent, measured on the device) fits it,
// since a font's pixel size sets its em, which is smaller than its cell.
QFont PageFont(int pointSize, int dpiY, bool bold, const QPaintDevice* device) {
  const int height = std::max(1, pointSize * dpiY / 72);
  QFont font = AppFont(height, bold);
  for (int i = 0; i < 4; ++i) {
    const qreal cell = QFontMetricsF(font, device).height();
    if (cell <= height || font.pixelSize() <= 1) break;
    font.setPixelSize(std::max(1, static_cast<int>(std::floor(font.pixelSize() * height / cell))));
  }
  return font;
}

// The blocks in their order, each reading the reservation the ones before left.
PrintedPage DrawPrintPage(QPainter& painter, const PageMetrics& page, const PrintSource& source) {
  PrintedPage out;
  if (!source.layers) return out;
  painter.save();
  painter.setPen(Qt::black);
  DrawNotesBlock(painter, page, source, out);
  // The legend is laid out before the heading, which then keeps clear of it.
  DrawLegendBlock(painter, page, source, out);
  for (const ExtraPageBlock& block : source.extraBlocks) {
    int reserve = 0;
    painter.save();
    out.extraBoxes.push_back(block(painter, page, out.reserved, reserve));
    painter.restore();
    out.reserved += std::max(0, reserve);
  }
  DrawHeadingBlock(painter, page, source, out);
  DrawMap(painter, page, source, out);
  painter.restore();
  return out;
}

}  // namespace kestrune
