#include "zones/gui/ZoneTableBlock.h"

#include <algorithm>
#include <cmath>

#include <QFontMetrics>
#include <QPainter>

#include "base/JsonText.h"
#include "base/gui/AppFont.h"
#include "lang/LangString.h"
#include "layers/LogFields.h"

namespace kestrune {

namespace {

constexpr int kTablePoints = 10;
constexpr int kSmallestPoints = 6;

// A figure with two decimals (a count without), as the legend prints its breaks.
std::string Figure(bool present, double value, int decimals = 2) {
  if (!present || !std::isfinite(value)) return {};
  return LangFormat(decimals == 0 ? "%.0lf" : "%.2lf", value);
}

int Inches(double inches, int dpi) { return static_cast<int>(inches * dpi); }

}  // namespace

std::vector<std::string> ZoneTableHeader(const ZoneSummary& summary) {
  std::vector<std::string> header{LangText(kCsvZone), LangText(kCsvCount),
                                  LangText(summary.metric ? kCsvAreaHectares : kCsvAreaAcres)};
  for (const std::string& name : summary.fieldNames) {
    header.push_back(name + " " + LangText(kCsvStatNames[2]));
    header.push_back(name + " " + LangText(kCsvStatNames[3]));
  }
  if (summary.hasVolume) header.push_back(LangText(kCsvVolume));
  if (summary.hasTarget) {
    header.push_back(LangText(kCsvWithin5));
    header.push_back(LangText(kCsvWithin10));
  }
  return header;
}

std::vector<std::string> ZoneTableRow(const ZoneSummary& summary, const ZoneRow& row, bool outside) {
  (void)outside;
  std::vector<std::string> cells{row.label, GroupedCount(static_cast<uint64_t>(row.count)), Figure(true, row.area)};
  for (const ZoneFieldStats& f : row.fields) {
    cells.push_back(Figure(f.count > 0, f.mean));
    cells.push_back(Figure(f.HasWeightedMean(), f.HasWeightedMean() ? f.WeightedMean() : 0.0));
  }
  if (summary.hasVolume) cells.push_back(Figure(true, row.volume));
  if (summary.hasTarget) {
    cells.push_back(Figure(true, row.areaWithin5));
    cells.push_back(Figure(true, row.areaWithin10));
  }
  return cells;
}

PrintedZoneTable DrawZoneTable(QPainter& painter, const ZoneTablePage& page, int reserved, int& reserve,
                               const ZoneSummary& summary, const std::string& zoneFile, const std::string& logFile) {
  PrintedZoneTable out;
  reserve = 0;
  if (page.dpiX <= 0 || page.dpiY <= 0 || page.width <= 0) return out;
  std::vector<std::vector<std::string>> rows{ZoneTableHeader(summary)};
  for (const ZoneRow& row : summary.zones) rows.push_back(ZoneTableRow(summary, row, false));
  rows.push_back(ZoneTableRow(summary, summary.outside, true));
  const size_t columns = rows.front().size();

  // The font shrinks until the columns fit across the page.
  const int gap = Inches(0.12, page.dpiX);
  std::vector<int> widths;
  QFont font, bold;
  int points = kTablePoints;
  for (;; --points) {
    const int pixels = std::max(1, points * page.dpiY / 72);
    font = AppFont(pixels, false);
    bold = AppFont(pixels, true);
    widths.assign(columns, 0);
    for (size_t r = 0; r < rows.size(); ++r) {
      const QFontMetrics metrics(r == 0 ? bold : font, painter.device());
      for (size_t c = 0; c < columns && c < rows[r].size(); ++c) {
        widths[c] = std::max(widths[c], metrics.horizontalAdvance(QString::fromStdString(rows[r][c])));
      }
    }
    int total = 0;
    for (int w : widths) total += w + gap;
    if (total - gap <= page.width || points <= kSmallestPoints) break;
  }
  const int rowHeight = QFontMetrics(bold, painter.device()).height();
  // The rows that fit in 40 % of the page: the title, the header, the zones
  // and the outside row (the last zones give way to a line that says so).
  const int room = std::max(0, static_cast<int>(0.4 * page.height) / std::max(1, rowHeight) - 2);
  size_t shownZones = summary.zones.size();
  if (shownZones + 1 > static_cast<size_t>(room)) {
    shownZones = static_cast<size_t>(std::max(0, room - 2));
    out.leftOut = static_cast<int>(summary.zones.size() - shownZones);
  }
  const int lines = 2 + static_cast<int>(shownZones) + 1 + (out.leftOut > 0 ? 1 : 0);
  const int height = lines * rowHeight;
  const int bottom = page.height - reserved - Inches(0.1, page.dpiY);
  const int top = bottom - height;
  out.box = QRect(0, top, page.width, height);
  reserve = height + Inches(0.1, page.dpiY);

  painter.setPen(Qt::black);
  painter.setFont(bold);
  int y = top;
  painter.drawText(QRect(0, y, page.width, rowHeight), Qt::AlignLeft | Qt::AlignBottom | Qt::TextSingleLine,
                   QString::fromStdString(LangFormat(kZoneTableTitle, logFile.c_str(), zoneFile.c_str())));
  y += rowHeight;
  const auto drawRow = [&](const std::vector<std::string>& cells, bool header) {
    painter.setFont(header ? bold : font);
    int x = 0;
    for (size_t c = 0; c < columns && c < cells.size(); ++c) {
      // The zone's label to the left, the figures to the right of their column.
      const Qt::Alignment align = c == 0 ? Qt::AlignLeft : Qt::AlignRight;
      painter.drawText(QRect(x, y, widths[c], rowHeight), align | Qt::AlignBottom | Qt::TextSingleLine,
                       QString::fromStdString(cells[c]));
      x += widths[c] + gap;
    }
    out.rowBoxes.push_back(QRect(0, y, std::min(page.width, x - gap), rowHeight));
    out.rows.push_back(cells);
    if (header) painter.drawLine(QPoint(0, y + rowHeight - 1), QPoint(std::min(page.width, x - gap), y + rowHeight - 1));
    y += rowHeight;
  };
  drawRow(rows.front(), true);
  for (size_t i = 0; i < shownZones; ++i) drawRow(rows[i + 1], false);
  if (out.leftOut > 0) {
    painter.setFont(font);
    painter.drawText(QRect(0, y, page.width, rowHeight), Qt::AlignLeft | Qt::AlignBottom | Qt::TextSingleLine,
                     QString::fromStdString(LangFormat(kZoneTableMore, GroupedCount(static_cast<uint64_t>(out.leftOut)).c_str())));
    y += rowHeight;
  }
  drawRow(rows.back(), false);
  return out;
}

}  // namespace kestrune
