// The printed page, block by block, with the reserved bottom height handed on.
#include "mapview/gui/PrintPage.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include <QFontMetrics>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QStringDecoder>
#include <QTransform>

#include "attributes/AttributeRows.h"
#include "geo/CMapTransform.h"
#include "geo/gui/QPainterCanvas.h"
#include "lang/LangString.h"
#include "layers/FileSummary.h"
#include "layers/Layer.h"
#include "layers/LayerList.h"
#include "layers/Legend.h"

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

// The names of the open files in bold over a rule across the page, 2.25
// inches above the page's bottom whatever has been reserved, and under the
// rule the log's date, start, end and duration.
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
  const int top = static_cast<int>(page.height - 2.25 * page.dpiY);
  out.headingBox = Box(Inches(1.25, page.dpiX), top, width, Inches(0.2, page.dpiY));
  if (!summary) return;
  const QString names = FileText(source.layers->GetNamesText());
  painter.setFont(bold);
  // The box may be narrower than the names (its width comes from the summary): the text runs on.
  DrawBottomLine(painter, out.headingBox, names, Qt::AlignLeft, false);
  const int bottom = top + Inches(0.2, page.dpiY);
  QPen rule(Qt::black, kHeadingLineWidth, Qt::SolidLine, Qt::RoundCap);
  painter.save();
  painter.setPen(rule);
  painter.drawLine(QPoint(0, bottom), QPoint(page.width, bottom));
  painter.restore();
  out.headingPrinted = true;
  out.heading = names.toStdString();
  // Under the rule, the log's date, start, end and duration, as far as the summary has them.
  const std::string log = summary->FormatLogLine();
  if (log.empty()) return;
  painter.setFont(normal);
  out.summaryBox = Box(out.headingBox.left(), bottom + Inches(0.05, page.dpiY), SingleLineWidth(painter, LangQ(log)),
                       Inches(0.2, page.dpiY));
  painter.drawText(out.summaryBox, Qt::TextSingleLine | Qt::AlignTop | Qt::AlignLeft | Qt::TextDontClip, LangQ(log));
  out.summaryText = log;
}

// The active layer's legend at the right, one line per class with the highest
// class on top; 2 inches are reserved whether or not a legend is printed.
void DrawLegendBlock(QPainter& painter, const PageMetrics& page, const PrintSource& source, PrintedPage& out) {
  if (source.active && source.active->IsCategorised() && source.active->GetColorMethod() != kColorMethodSolid) {
    // Categories top to bottom in the order of the layers pane, "Other" last.
    painter.setFont(PageFont(kPageTextPoints, page.dpiY, false, painter.device()));
    const std::vector<CategoryLegend::Line> lines = source.active->GetCategories().GetLines();
    int width = 0;
    for (const CategoryLegend::Line& l : lines) width = std::max(width, SingleLineWidth(painter, QString::fromStdString(l.label)));
    const int swatch = Inches(0.16, page.dpiX);
    const int gap = Inches(0.1, page.dpiX);
    const int left = page.width - width - swatch - gap - page.dpiX;
    // Up to thirteen lines share the two inches kept for the legend.
    const int row = std::min(Inches(0.2, page.dpiY), Inches(1.9, page.dpiY) / std::max<int>(1, int(lines.size())));
    int rowTop = static_cast<int>(page.height - out.reserved - 2.0 * page.dpiY) + row;
    painter.setPen(Qt::black);
    for (const CategoryLegend::Line& l : lines) {
      PrintedLegendRow line;
      line.swatch = Box(left, rowTop, swatch, swatch);
      line.firstBox = Box(left + swatch + gap, rowTop, width, row);
      painter.fillRect(line.swatch, Qt::black);
      if (swatch > 2) painter.fillRect(line.swatch.adjusted(1, 1, -1, -1), ToQColor(l.color));
      line.first = l.label;
      DrawBottomLine(painter, line.firstBox, QString::fromStdString(line.first), Qt::AlignLeft, false);
      out.legendRows.push_back(std::move(line));
      rowTop += row;
    }
  } else if (source.active) {
    painter.setFont(PageFont(kPageTextPoints, page.dpiY, false, painter.device()));
    const std::vector<LegendEntry>& entries = source.active->GetLegend().GetEntries();
    double largest = 0.0;
    for (const LegendEntry& e : entries) {
      if (e.value <= kLegendTopThreshold) largest = std::max(largest, e.value);
    }
    const int w1 = SingleLineWidth(painter, LangQ(LangFormat("%.2lf -", largest)));
    const int w2 = SingleLineWidth(painter, LangQ(LangFormat("%.2lf", largest)));
    const int left = page.width - w1 - w2 - page.dpiX;
    const int top = static_cast<int>(page.height - out.reserved - 2.0 * page.dpiY);
    const int row = Inches(0.2, page.dpiY);
    painter.setPen(Qt::black);
    if (source.layers->ComputeTotals().productCount > 1) {
      out.productText = LangFormat(kMsgProductLegend, source.active->GetProductSlot() + 1);
      out.productBox = Box(left, top, 2 * page.dpiX, row);
      DrawBottomLine(painter, out.productBox, LangQ(out.productText), Qt::AlignLeft, false);
    }
    const int swatch = Inches(0.16, page.dpiX);
    const int gap = Inches(0.1, page.dpiX);
    int rowTop = top + static_cast<int>(entries.size()) * row;
    double previous = 0.0;
    for (std::size_t i = 0; i < entries.size(); ++i, rowTop -= row) {
      const LegendEntry& entry = entries[i];
      PrintedLegendRow line;
      line.swatch = Box(left, rowTop, swatch, swatch);
      line.firstBox = Box(left + swatch + gap, rowTop, w1, row);
      line.secondBox = Box(line.firstBox.right() + 1 + gap, rowTop, w2, row);
      // The swatch as a desktop rectangle: a one-pixel black outline round the colour.
      painter.fillRect(line.swatch, Qt::black);
      if (swatch > 2) painter.fillRect(line.swatch.adjusted(1, 1, -1, -1), ToQColor(entry.color));
      // The lowest class goes first, so a one-class legend prints only its and-below line.
      if (i == 0) {
        line.first = LangFormat(kMsgLegendAndBelow, entry.value);
        DrawBottomLine(painter, line.firstBox, LangQ(line.first), Qt::AlignLeft, false);
      } else if (entry.value > kLegendTopThreshold) {
        line.first = LangFormat(kMsgLegendAbove, previous);
        DrawBottomLine(painter, line.firstBox, LangQ(line.first), Qt::AlignLeft, false);
      } else {
        line.first = LangFormat("%.2lf -", previous);
        line.second = LangFormat("%.2lf", entry.value);
        DrawBottomLine(painter, line.firstBox, LangQ(line.first), Qt::AlignRight, true);
        DrawBottomLine(painter, line.secondBox, LangQ(line.second), Qt::AlignRight, true);
      }
      previous = entry.value;
      out.legendRows.push_back(std::move(line));
    }
  }
  out.reserved += Inches(2.0, page.dpiY);
}

// The map window's view scaled into the height left above the reservation,
// keeping its shape, drawn through the window's own transform.
void DrawMap(QPainter& painter, const PageMetrics& page, const PrintSource& source, PrintedPage& out) {
  const int64_t usable = int64_t{page.height} - out.reserved;
  const int64_t clientW = source.clientWidth;
  const int64_t clientH = source.clientHeight;
  // Without a client area there is no scale to print at; the page says so instead.
  if (clientW <= 0 || clientH <= 0 || !source.transform) {
    out.mapMessage = LangText(kMsgNoMapArea);
    painter.setFont(PageFont(kPageTextPoints, page.dpiY, false, painter.device()));
    painter.setPen(Qt::black);
    const QRect where(page.offsetX, page.offsetY, std::max(Inches(5.5, page.dpiX), 1), Inches(0.2, page.dpiY));
    DrawBottomLine(painter, where, LangQ(out.mapMessage), Qt::AlignLeft, false);
    return;
  }
  const int64_t printedH = std::min(usable, clientH * page.width / clientW);
  const int64_t printedW = clientW * printedH / clientH;
  const int64_t viewportW = std::min<int64_t>(page.width, printedW);
  // A page too small for any map after the reservation prints none.
  if (printedH <= 0 || viewportW <= 0) return;
  // Isotropic: one scale for both axes, the smaller of the two the extents ask for.
  const double scale = std::min(static_cast<double>(viewportW) / static_cast<double>(clientW),
                                static_cast<double>(printedH) / static_cast<double>(clientH));
  painter.save();
  painter.setTransform(QTransform(scale, 0.0, 0.0, scale, page.offsetX, page.offsetY));
  // The window shows only its client area; records reaching past it stay off the legend and notes.
  const QRect client(0, 0, source.clientWidth, source.clientHeight);
  painter.setClipRect(client);
  {
    QPainterCanvas canvas(painter);
    source.layers->DrawAll(canvas, *source.transform);
  }
  out.mapArea = painter.transform().mapRect(client);
  painter.restore();
  out.mapPrinted = true;
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

// Asks for the height in pixels and shrinks the font until its cell fits it,
// since a font's pixel size sets its em, which is smaller than its cell.
QFont PageFont(int pointSize, int dpiY, bool bold, const QPaintDevice* device) {
  const int height = std::max(1, pointSize * dpiY / 72);
  QFont font(QString::fromLatin1(kPageFontFamily));
  font.setPixelSize(height);
  font.setWeight(bold ? QFont::Bold : QFont::Normal);
  // Letters as they are, without ligatures: a printed file name reads (and
  // searches) as it is spelled.
  font.setStyleStrategy(QFont::PreferNoShaping);
  const int cell = QFontMetrics(font, device).height();
  if (cell > height) font.setPixelSize(std::max(1, static_cast<int>(int64_t{height} * height / cell)));
  return font;
}

// The blocks in their order, each reading the reservation the ones before left.
PrintedPage DrawPrintPage(QPainter& painter, const PageMetrics& page, const PrintSource& source) {
  PrintedPage out;
  if (!source.layers) return out;
  painter.save();
  painter.setPen(Qt::black);
  DrawNotesBlock(painter, page, source, out);
  DrawHeadingBlock(painter, page, source, out);
  DrawLegendBlock(painter, page, source, out);
  DrawMap(painter, page, source, out);
  painter.restore();
  return out;
}

}  // namespace kestrune
