// The zones table as a block of the printed page: where it sits above what
// was reserved, what each row says, how it bounds its height with many zones
// and shrinks its text to fit a narrow page.
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include "zones/gui/ZoneTableBlock.h"

namespace kestrune {
namespace {

ZoneSummary Summary(int zones) {
  ZoneSummary s;
  s.fieldNames = {"Rate"};
  s.hasVolume = true;
  for (int i = 1; i <= zones; ++i) {
    ZoneRow row;
    row.label = "Zone " + std::to_string(i);
    row.record = i;
    row.count = 1000 + i;
    row.area = 2.5 * i;
    row.volume = 25.0 * i;
    row.fields.resize(1);
    row.fields[0].Add(10.0, 1.0);
    row.fields[0].Add(12.0, 3.0);
    s.zones.push_back(row);
  }
  s.outside.label = "Outside every zone";
  s.outside.fields.resize(1);
  return s;
}

struct Drawn {
  PrintedZoneTable table;
  int reserve = 0;
};

Drawn Draw(const ZoneSummary& summary, int width, int height, int reserved) {
  QImage image(width, height, QImage::Format_RGB32);
  image.setDotsPerMeterX(static_cast<int>(100 / 0.0254));
  image.setDotsPerMeterY(static_cast<int>(100 / 0.0254));
  image.fill(Qt::white);
  QPainter painter(&image);
  Drawn d;
  d.table = DrawZoneTable(painter, {width, height, 100, 100}, reserved, d.reserve, summary, "soil.shp", "log.shp");
  return d;
}

TEST(ZoneTableBlock, SitsAboveTheReservedBottomWithOneRowPerZone) {
  const ZoneSummary summary = Summary(3);
  const Drawn d = Draw(summary, 1000, 750, 200);  // 10 × 7.5 inches at 100 dpi
  const QRect& box = d.table.box;
  EXPECT_EQ(box.bottom() + 1, 750 - 200 - 10);  // a tenth of an inch over what was reserved
  EXPECT_EQ(d.reserve, box.height() + 10);
  EXPECT_GE(box.top(), 0);
  ASSERT_EQ(d.table.rows.size(), 5u);  // header, three zones, outside
  EXPECT_EQ(d.table.rows[0], (std::vector<std::string>{"Zone", "Count", "Area (ac)", "Rate mean",
                                                       "Rate area-weighted mean", "Volume"}));
  EXPECT_EQ(d.table.rows[2], (std::vector<std::string>{"Zone 2", "1,002", "5.00", "11.00", "11.50", "50.00"}));
  EXPECT_EQ(d.table.rows[4], (std::vector<std::string>{"Outside every zone", "0", "0.00", "", "", "0.00"}));
  // Rows one under the other inside the block, within the page's width.
  for (size_t i = 0; i < d.table.rowBoxes.size(); ++i) {
    EXPECT_TRUE(box.contains(d.table.rowBoxes[i])) << i;
    if (i) {
      EXPECT_EQ(d.table.rowBoxes[i].top(), d.table.rowBoxes[i - 1].bottom() + 1) << i;
    }
  }
  EXPECT_EQ(d.table.leftOut, 0);
}

TEST(ZoneTableBlock, ManyZonesTakeAtMostTwoFifthsOfThePage) {
  const ZoneSummary summary = Summary(300);
  const Drawn d = Draw(summary, 1000, 750, 100);
  EXPECT_LE(d.table.box.height(), 0.4 * 750 + 1);
  EXPECT_GT(d.table.leftOut, 0);
  // The header, the zones shown and the outside row; the left-out line is apart.
  EXPECT_EQ(d.table.rows.size() + static_cast<size_t>(d.table.leftOut), 300u + 2u);
  EXPECT_EQ(d.table.rows.back()[0], "Outside every zone");
}

TEST(ZoneTableBlock, TextShrinksToFitANarrowPage) {
  ZoneSummary summary = Summary(2);
  summary.fieldNames = {"Rate", "Speed", "Elevation"};
  for (ZoneRow& row : summary.zones) row.fields.resize(3, row.fields[0]);
  summary.outside.fields.resize(3);
  const Drawn wide = Draw(summary, 2000, 750, 0);
  const Drawn narrow = Draw(summary, 1000, 750, 0);
  EXPECT_LT(narrow.table.rowBoxes[1].height(), wide.table.rowBoxes[1].height());
  for (const QRect& row : narrow.table.rowBoxes) EXPECT_LE(row.right(), 1000);
}

}  // namespace
}  // namespace kestrune
