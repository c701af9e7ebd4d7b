// The summary by zones as a table block at the bottom of the printed page:
// a title, a header row and one row per zone and the outside row, across
// the page's width above what the blocks before it reserved. Every measure
// comes from the device's resolution, so it lays out alike on every printer.
#pragma once

#include <string>
#include <vector>

#include <QRect>

#include "zones/ZoneSummary.h"

class QPainter;

namespace kestrune {

constexpr const char* kZoneTableTitle = "#20830020:Summary by zones: %s by %s";
constexpr const char* kZoneTableMore = "#20830021:... and %s more zones (the whole table is in the panel)";

// The page as the block sees it, in device pixels.
struct ZoneTablePage {
  int width = 0;
  int height = 0;
  int dpiX = 0;
  int dpiY = 0;
};

// What the block printed: its box and each row's texts (header first).
struct PrintedZoneTable {
  QRect box;
  std::vector<QRect> rowBoxes;
  std::vector<std::vector<std::string>> rows;
  int leftOut = 0;  // zone rows that did not fit
};

// The columns printed: the zone, count and area, each field's mean and
// area-weighted mean, the volume and the on-target areas when there are any.
std::vector<std::string> ZoneTableHeader(const ZoneSummary& summary);
std::vector<std::string> ZoneTableRow(const ZoneSummary& summary, const ZoneRow& row, bool outside);

// Draws the block with its bottom at page.height - reserved and gives the
// height it takes (with a gap above it) in reserve. At most 40 % of the page
// height is taken: the zones that do not fit are told in a last line. The
// text shrinks (down to 6 points) until the columns fit the width.
PrintedZoneTable DrawZoneTable(QPainter& painter, const ZoneTablePage& page, int reserved, int& reserve,
                               const ZoneSummary& summary, const std::string& zoneFile, const std::string& logFile);

}  // namespace kestrune
