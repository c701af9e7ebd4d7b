// The measure tool in the real main window: clicks at known pixels give the
// ground length and area that an independent computation on the map's sphere
// gives; a click on the first point or a double click closes the shape; Esc
// clears it; the View menu item turns the tool on and off.
#include <cmath>
#include <vector>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QStatusBar>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include "app/Commands.h"
#include "geo/CMapTransform.h"
#include "geo/MapProjection.h"
#include "mapview/gui/MeasureTool.h"
#include "support/ViewerFixture.h"

namespace kestrune::test {
namespace {

constexpr double kRadius = 6370997.0;  // the map's sphere, metres
constexpr double kPi = 3.14159265358979323846;

struct Geo {
  double lat, lon;  // radians
};

Geo ToGeo(const MapPoint& p) {
  double lat = 0, lon = 0;
  GetMapProjection().MapToGeo(p, lat, lon);
  return {lat * kPi / 180.0, lon * kPi / 180.0};
}

// Great-circle distance (haversine) on the sphere, metres.
double Haversine(const Geo& a, const Geo& b) {
  const double s = std::sin((b.lat - a.lat) / 2), t = std::sin((b.lon - a.lon) / 2);
  return 2 * kRadius * std::asin(std::sqrt(s * s + std::cos(a.lat) * std::cos(b.lat) * t * t));
}

// Area of a small ring on a local equirectangular plane, square metres.
double LocalArea(const std::vector<Geo>& ring) {
  const double lat0 = ring[0].lat;
  double twice = 0;
  for (size_t i = 0; i < ring.size(); ++i) {
    const Geo& p = ring[i];
    const Geo& q = ring[(i + 1) % ring.size()];
    const double px = kRadius * std::cos(lat0) * p.lon, py = kRadius * p.lat;
    const double qx = kRadius * std::cos(lat0) * q.lon, qy = kRadius * q.lat;
    twice += px * qy - qx * py;
  }
  return std::fabs(twice / 2);
}

class MeasureToolTest : public ViewerFixture {
 protected:
  MapPoint At(const QPoint& pixel) {
    const DevicePoint d{pixel.x(), pixel.y()};
    MapPoint p;
    MapWnd()->Transform().DeviceToWorld(&d, 1, &p);
    return p;
  }
  QLabel* Label() { return frame_->statusBar()->findChild<QLabel*>(QStringLiteral("StatusMeasure")); }
};

TEST_F(MeasureToolTest, ClickedShapeGivesGroundLengthAndArea) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  ASSERT_TRUE(Open(CopyTestSet("field/as-applied-simple1.shp")));
  QApplication::processEvents();
  frame_->ExecuteCommand(kIdMeasureTool);
  ASSERT_TRUE(frame_->Action(kIdMeasureTool)->isChecked());
  CMeasureTool* tool = MapWnd()->MeasureTool();
  ASSERT_NE(tool, nullptr);

  const QPoint c = MapWnd()->rect().center();
  const std::vector<QPoint> pixels = {c + QPoint(-150, -100), c + QPoint(120, -90), c + QPoint(160, 110),
                                      c + QPoint(-130, 80)};
  std::vector<Geo> ring;
  for (const QPoint& p : pixels) {
    QTest::mouseClick(MapWnd(), Qt::LeftButton, {}, p);
    ring.push_back(ToGeo(At(p)));
  }
  ASSERT_EQ(tool->Points().size(), 4u);
  EXPECT_FALSE(tool->IsClosed());
  double open = 0;
  for (size_t i = 1; i < ring.size(); ++i) open += Haversine(ring[i - 1], ring[i]);
  EXPECT_NEAR(tool->Length(false), open, open * 0.001);
  EXPECT_NEAR(tool->Length(true), open / 0.3048, open / 0.3048 * 0.001);
  EXPECT_EQ(tool->Area(false), 0.0);
  ASSERT_NE(Label(), nullptr);
  EXPECT_TRUE(Label()->isVisible());
  EXPECT_FALSE(Label()->text().contains(QStringLiteral("Area")));

  // A click on the first point closes the shape.
  QTest::mouseClick(MapWnd(), Qt::LeftButton, {}, pixels[0] + QPoint(2, -2));
  ASSERT_TRUE(tool->IsClosed());
  EXPECT_EQ(tool->Points().size(), 4u);
  const double closed = open + Haversine(ring.back(), ring.front());
  EXPECT_NEAR(tool->Length(false), closed, closed * 0.001);
  const double area = LocalArea(ring);
  EXPECT_NEAR(tool->Area(false), area, area * 0.001);
  EXPECT_NEAR(tool->Area(true), area / (0.3048 * 0.3048), area / (0.3048 * 0.3048) * 0.001);
  EXPECT_TRUE(Label()->text().contains(QStringLiteral("Area")));

  // Esc clears; the tool stays.
  QTest::keyClick(MapWnd(), Qt::Key_Escape);
  EXPECT_TRUE(tool->Points().empty());
  EXPECT_FALSE(tool->IsClosed());

  // A double click closes a triangle.
  QTest::mouseClick(MapWnd(), Qt::LeftButton, {}, pixels[0]);
  QTest::mouseClick(MapWnd(), Qt::LeftButton, {}, pixels[1]);
  QTest::mouseClick(MapWnd(), Qt::LeftButton, {}, pixels[2]);
  QTest::mouseDClick(MapWnd(), Qt::LeftButton, {}, pixels[2]);
  QTest::mouseRelease(MapWnd(), Qt::LeftButton, {}, pixels[2]);
  EXPECT_EQ(tool->Points().size(), 3u);
  EXPECT_TRUE(tool->IsClosed());
  const std::vector<Geo> triangle(ring.begin(), ring.begin() + 3);
  EXPECT_NEAR(tool->Area(false), LocalArea(triangle), LocalArea(triangle) * 0.001);

  // The menu item turns the tool off, and the zoom tool replaces it.
  frame_->ExecuteCommand(kIdMeasureTool);
  EXPECT_EQ(MapWnd()->MeasureTool(), nullptr);
  EXPECT_FALSE(Label()->isVisible());
  frame_->ExecuteCommand(kIdMeasureTool);
  frame_->ExecuteCommand(kIdZoomTool);
  EXPECT_EQ(MapWnd()->MeasureTool(), nullptr);
  EXPECT_FALSE(frame_->Action(kIdMeasureTool)->isChecked());
}

}  // namespace
}  // namespace kestrune::test
