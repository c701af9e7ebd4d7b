// The view transform: conversions and their rounding, the 16-bit limits, the
// clipped polyline runs, ring clipping, visibility, invalidation and the
// geometry helpers.
#include <vector>

#include <gtest/gtest.h>

#include "geo/CMapTransform.h"
#include "geo/RecordingCanvas.h"

namespace kestrune {
namespace {

using Kind = RecordingCanvas::Kind;

// One map unit per pixel with the world origin at the device origin, so map
// coordinates read directly as pixels.
CMapTransform IdentityTransform(int width = 1000, int height = 1000) {
  CMapTransform t;
  t.SetWorldOrigin({0, 0});
  t.SetWorldExtent(width, height);
  t.SetDeviceExtent(width, height);
  return t;
}

std::vector<DevicePoint> Pts(std::initializer_list<DevicePoint> list) { return list; }

TEST(MapTransformConversion, ScalesOffsetsAndRoundsHalfAwayFromZero) {
  CMapTransform t;
  t.SetWorldOrigin({1000, 2000});
  t.SetWorldExtent(200, 400);
  t.SetDeviceExtent(100, 100);
  MapPoint p{1000, 2000};
  t.WorldToDevice(p);
  EXPECT_EQ(p, (MapPoint{0, 0}));
  // 2.5 -> 3 and -2.5 -> -3 on x (two map units per pixel).
  p = {1005, 2000};
  t.WorldToDevice(p);
  EXPECT_EQ(p.x, 3);
  p = {995, 2000};
  t.WorldToDevice(p);
  EXPECT_EQ(p.x, -3);
  // 0.5 -> 1 and -0.5 -> -1; 0.25 -> 0.
  p = {1001, 2001};
  t.WorldToDevice(p);
  EXPECT_EQ(p, (MapPoint{1, 0}));
  p = {999, 2000};
  t.WorldToDevice(p);
  EXPECT_EQ(p.x, -1);
  // The device origin is added before rounding.
  t.SetDeviceOrigin(10, 20);
  p = {1200, 2400};
  t.WorldToDevice(p);
  EXPECT_EQ(p, (MapPoint{110, 120}));
  int32_t a = 0, b = 0;
  t.GetDeviceOrigin(a, b);
  EXPECT_EQ(a, 10);
  EXPECT_EQ(b, 20);
  t.GetWorldExtent(a, b);
  EXPECT_EQ(a, 200);
  EXPECT_EQ(b, 400);
  t.GetDeviceExtent(a, b);
  EXPECT_EQ(a, 100);
  EXPECT_EQ(b, 100);
  EXPECT_EQ(t.GetWorldOrigin(), (MapPoint{1000, 2000}));
}

TEST(MapTransformConversion, ZeroWorldExtentLeavesPointsAlone) {
  CMapTransform t;
  t.SetDeviceExtent(100, 100);
  t.SetWorldExtent(0, 100);
  MapPoint p{12345, 678};
  t.WorldToDevice(p);
  EXPECT_EQ(p, (MapPoint{12345, 678}));
  DevicePoint out[1] = {{-1, -1}};
  const MapPoint in[1] = {{1, 1}};
  EXPECT_FALSE(t.WorldToDeviceArray(in, 1, out));
  EXPECT_EQ(out[0], (DevicePoint{-1, -1}));
}

TEST(MapTransformConversion, FarPointsSaturateInsteadOfOverflowing) {
  CMapTransform t;
  t.SetWorldOrigin({0, 0});
  t.SetWorldExtent(1, 1);
  t.SetDeviceExtent(1000, 1000);
  MapPoint p{2000000000, -2000000000};
  t.WorldToDevice(p);
  EXPECT_EQ(p, (MapPoint{INT32_MAX, INT32_MIN}));
}

TEST(MapTransformConversion, DeviceToWorldRoundsAndNeedsADeviceExtent) {
  CMapTransform t;
  t.SetWorldOrigin({0, 2000});
  t.SetWorldExtent(5, 300);
  t.SetDeviceExtent(2, 100);
  const DevicePoint px[3] = {{1, 1}, {-1, 50}, {0, 0}};
  MapPoint out[3];
  ASSERT_TRUE(t.DeviceToWorld(px, 3, out));
  EXPECT_EQ(out[0], (MapPoint{3, 2003}));   // 2.5 -> 3
  EXPECT_EQ(out[1], (MapPoint{-3, 2150}));  // -2.5 -> -3
  EXPECT_EQ(out[2], (MapPoint{0, 2000}));
  // The world origin is added before rounding: 997.5 rounds up to 998.
  t.SetWorldOrigin({1000, 0});
  ASSERT_TRUE(t.DeviceToWorld(px, 2, out));
  EXPECT_EQ(out[1].x, 998);
  EXPECT_TRUE(t.DeviceToWorld(px, 0, out));
  t.SetDeviceExtent(0, 100);
  EXPECT_FALSE(t.DeviceToWorld(px, 3, out));
  EXPECT_FALSE(t.DeviceToWorld(px, 0, out));
}

TEST(MapTransformConversion, ArrayReportsPixelsPast16Bits) {
  CMapTransform t = IdentityTransform();
  const MapPoint fits[2] = {{32767, -32767}, {0, 5}};
  DevicePoint out[2];
  EXPECT_TRUE(t.WorldToDeviceArray(fits, 2, out));
  EXPECT_EQ(out[0], (DevicePoint{32767, -32767}));
  // Every point is still converted when one of them is too far.
  const MapPoint far[3] = {{32768, 0}, {1, 2}, {0, -40000}};
  DevicePoint out3[3];
  EXPECT_FALSE(t.WorldToDeviceArray(far, 3, out3));
  EXPECT_EQ(out3[0], (DevicePoint{32768, 0}));
  EXPECT_EQ(out3[1], (DevicePoint{1, 2}));
  EXPECT_EQ(out3[2], (DevicePoint{0, -40000}));
  const MapPoint low[1] = {{-32768, 0}};
  EXPECT_FALSE(t.WorldToDeviceArray(low, 1, out));
}

TEST(MapTransformShapes, RectangleGrowsByOnePixelAndClamps) {
  CMapTransform t = IdentityTransform();
  RecordingCanvas dc;
  EXPECT_EQ(t.DrawWorldRectangle(dc, 10, 20, 30, 40), 1);
  EXPECT_EQ(t.DrawWorldRectangle(dc, -50000, -40000, 50000, 32767), 1);
  ASSERT_EQ(dc.calls.size(), 2u);
  EXPECT_EQ(dc.calls[0].kind, Kind::Rectangle);
  EXPECT_EQ(dc.calls[0].points, Pts({{9, 19}, {31, 41}}));
  EXPECT_EQ(dc.calls[1].points, Pts({{-32768, -32768}, {32768, 32768}}));
  dc.result = false;
  EXPECT_EQ(t.DrawWorldRectangle(dc, 1, 1, 2, 2), 0);
}

TEST(MapTransformShapes, EllipseUsesClampedCornersAsTheyAre) {
  CMapTransform t = IdentityTransform();
  RecordingCanvas dc;
  dc.SetPen({PenStyle::Solid, 2, 0x0000FF});
  dc.SetBrush(SolidBrush(0x00FF00));
  EXPECT_EQ(t.DrawWorldEllipse(dc, 10, 20, 30, 40000), 1);
  ASSERT_EQ(dc.calls.size(), 1u);
  EXPECT_EQ(dc.calls[0].kind, Kind::Ellipse);
  EXPECT_EQ(dc.calls[0].points, Pts({{10, 20}, {30, 32767}}));
  // The canvas's current pen and brush are used as found.
  EXPECT_EQ(dc.calls[0].pen, (Pen{PenStyle::Solid, 2, 0x0000FF}));
  EXPECT_EQ(dc.calls[0].brush, SolidBrush(0x00FF00));
}

TEST(MapTransformShapes, ZeroWorldExtentDrawsNothing) {
  CMapTransform t;
  t.SetDeviceExtent(100, 100);
  RecordingCanvas dc;
  const std::vector<MapPoint> line{{0, 0}, {10, 10}};
  const int32_t sizes[1] = {4};
  const MapPoint ring[4] = {{0, 0}, {10, 0}, {0, 10}, {0, 0}};
  EXPECT_EQ(t.DrawWorldRectangle(dc, 0, 0, 10, 10), 0);
  EXPECT_EQ(t.DrawWorldEllipse(dc, 0, 0, 10, 10), 0);
  EXPECT_FALSE(t.DrawWorldPolyline(dc, line));
  EXPECT_FALSE(t.DrawWorldPolyPolygon(dc, ring, sizes, 1));
  EXPECT_FALSE(t.IsWorldRectVisible(dc, {0, 0, 10, 10}));
  RecordingCanvas::Window window;
  t.InvalidateWorldRect(window, {0, 0, 10, 10}, true, 2);
  EXPECT_TRUE(dc.calls.empty());
  EXPECT_TRUE(window.invalidated.empty());
}

TEST(MapTransformPolyline, InsideLineIsOneCallOfItsPoints) {
  CMapTransform t = IdentityTransform();
  RecordingCanvas dc;
  EXPECT_TRUE(t.DrawWorldPolyline(dc, {{0, 0}, {100, 50}, {-20, 7}}));
  ASSERT_EQ(dc.calls.size(), 1u);
  EXPECT_EQ(dc.calls[0].points, Pts({{0, 0}, {100, 50}, {-20, 7}}));
  // Points on the clip box edges are inside.
  dc.Clear();
  EXPECT_TRUE(t.DrawWorldPolyline(dc, {{-10000, -10000}, {10000, 10000}}));
  ASSERT_EQ(dc.calls.size(), 1u);
  EXPECT_EQ(dc.calls[0].points, Pts({{-10000, -10000}, {10000, 10000}}));
}

TEST(MapTransformPolyline, TooFewPointsDrawNothing) {
  CMapTransform t = IdentityTransform();
  RecordingCanvas dc;
  EXPECT_FALSE(t.DrawWorldPolyline(dc, std::vector<MapPoint>{}));
  EXPECT_FALSE(t.DrawWorldPolyline(dc, {{5, 5}}));
  EXPECT_TRUE(dc.calls.empty());
}

TEST(MapTransformPolyline, LeavingAndReenteringGivesSeparateRuns) {
  CMapTransform t = IdentityTransform();
  RecordingCanvas dc;
  EXPECT_TRUE(t.DrawWorldPolyline(dc, {{0, 0}, {20000, 0}, {0, 100}, {0, 200}}));
  ASSERT_EQ(dc.calls.size(), 2u);
  // The first run stops where the line leaves through the right edge.
  EXPECT_EQ(dc.calls[0].points, Pts({{0, 0}, {10000, 0}}));
  // The second starts at the outside point, clipped to the edge: y = 100 - 100/20000*10000.
  EXPECT_EQ(dc.calls[1].points, Pts({{10000, 50}, {0, 100}, {0, 200}}));
}

TEST(MapTransformPolyline, WhollyOutsideDrawsNothing) {
  CMapTransform t = IdentityTransform();
  RecordingCanvas dc;
  EXPECT_FALSE(t.DrawWorldPolyline(dc, {{20000, 0}, {30000, 5}, {25000, 20000}, {10001, -10001}}));
  EXPECT_FALSE(t.DrawWorldPolyline(dc, {{-20000, -20000}, {-30000, 15000}}));
  EXPECT_TRUE(dc.calls.empty());
}

TEST(MapTransformPolyline, LeadingInvisibleSegmentsAreSkippedWithinTheRun) {
  CMapTransform t = IdentityTransform();
  RecordingCanvas dc;
  EXPECT_TRUE(t.DrawWorldPolyline(dc, {{20000, 0}, {30000, 0}, {5, 5}, {6, 6}}));
  ASSERT_EQ(dc.calls.size(), 1u);
  // 5 + (0 - 5) / (30000 - 5) * (10000 - 5) = 3.33, truncated to 3.
  EXPECT_EQ(dc.calls[0].points, Pts({{10000, 3}, {5, 5}, {6, 6}}));
}

TEST(MapTransformPolyline, SegmentCrossingTheWholeBoxIsClippedAtBothEnds) {
  CMapTransform t = IdentityTransform();
  RecordingCanvas dc;
  EXPECT_TRUE(t.DrawWorldPolyline(dc, {{-20000, 0}, {20000, 100}}));
  ASSERT_EQ(dc.calls.size(), 1u);
  // Right edge: 0 + 100/40000*30000 = 75; left edge: 75 + (0-75)/(-30000)*(-20000) = 25.
  EXPECT_EQ(dc.calls[0].points, Pts({{-10000, 25}, {10000, 75}}));
}

TEST(MapTransformPolyline, ClippedCoordinatesTruncateTowardZero) {
  CMapTransform t = IdentityTransform();
  RecordingCanvas dc;
  // Left edge first: y = -30001/-20000 * -10000 = -15000.5 -> -15000; then the top
  // edge: x = -10000/-15000 * -10000 = -6666.67 -> -6666 (not -6667).
  EXPECT_TRUE(t.DrawWorldPolyline(dc, {{0, 0}, {-20000, -30001}}));
  ASSERT_EQ(dc.calls.size(), 1u);
  EXPECT_EQ(dc.calls[0].points, Pts({{0, 0}, {-6666, -10000}}));
}

TEST(MapTransformPolyline, LongInsideLineIsDrawnInOverlappingRuns) {
  CMapTransform t = IdentityTransform();
  RecordingCanvas dc;
  std::vector<MapPoint> line;
  for (int i = 0; i < 300; ++i) line.push_back({i, i % 7});
  EXPECT_TRUE(t.DrawWorldPolyline(dc, line));
  ASSERT_EQ(dc.calls.size(), 3u);
  auto expectRun = [&](const RecordingCanvas::Call& call, int first, int last) {
    ASSERT_EQ(call.points.size(), static_cast<size_t>(last - first + 1));
    for (int i = first; i <= last; ++i) {
      EXPECT_EQ(call.points[i - first], (DevicePoint{i, i % 7})) << i;
    }
  };
  // A full run of 128 steps back two nodes: the next run starts one segment back.
  expectRun(dc.calls[0], 0, 127);
  expectRun(dc.calls[1], 126, 253);
  // The last run is limited by the points remaining.
  expectRun(dc.calls[2], 252, 299);
}

TEST(MapTransformPolyline, ExactlyOneRunOf128Points) {
  CMapTransform t = IdentityTransform();
  RecordingCanvas dc;
  std::vector<MapPoint> line;
  for (int i = 0; i < 128; ++i) line.push_back({i, 0});
  EXPECT_TRUE(t.DrawWorldPolyline(dc, line));
  ASSERT_EQ(dc.calls.size(), 1u);
  EXPECT_EQ(dc.calls[0].points.size(), 128u);
  // One more point gives a second run of the last two-point overlap and the new point.
  dc.Clear();
  line.push_back({128, 0});
  EXPECT_TRUE(t.DrawWorldPolyline(dc, line));
  ASSERT_EQ(dc.calls.size(), 2u);
  EXPECT_EQ(dc.calls[1].points, Pts({{126, 0}, {127, 0}, {128, 0}}));
}

TEST(MapTransformPolyline, ResultIsThatOfTheLastRun) {
  CMapTransform t = IdentityTransform();
  RecordingCanvas dc;
  dc.result = false;
  EXPECT_FALSE(t.DrawWorldPolyline(dc, {{0, 0}, {20000, 0}, {0, 100}}));
  EXPECT_EQ(dc.calls.size(), 2u);
}

TEST(MapTransformPolyline, ConvertsThroughTheView) {
  CMapTransform t;
  t.SetWorldOrigin({1000000, 2000000});
  t.SetWorldExtent(10000, 10000);
  t.SetDeviceExtent(100, 100);
  RecordingCanvas dc;
  EXPECT_TRUE(t.DrawWorldPolyline(dc, {{1000000, 2000000}, {1005000, 2002550}}));
  ASSERT_EQ(dc.calls.size(), 1u);
  EXPECT_EQ(dc.calls[0].points, Pts({{0, 0}, {50, 26}}));
}

TEST(MapTransformPolygon, InsideRingsDrawnAsGiven) {
  CMapTransform t = IdentityTransform();
  RecordingCanvas dc;
  const MapPoint pts[10] = {{0, 0}, {100, 0}, {100, 100}, {0, 100}, {0, 0},
                            {10, 10}, {10, 20}, {20, 20}, {20, 10}, {10, 10}};
  const int32_t sizes[2] = {5, 5};
  EXPECT_TRUE(t.DrawWorldPolyPolygon(dc, pts, sizes, 2));
  ASSERT_EQ(dc.calls.size(), 1u);
  EXPECT_EQ(dc.calls[0].kind, Kind::PolyPolygon);
  EXPECT_EQ(dc.calls[0].ringSizes, (std::vector<int>{5, 5}));
  EXPECT_EQ(dc.calls[0].points.size(), 10u);
  EXPECT_EQ(dc.calls[0].points[5], (DevicePoint{10, 10}));
}

TEST(MapTransformPolygon, RingsOfThreePointsOrFewerAreDropped) {
  CMapTransform t = IdentityTransform();
  RecordingCanvas dc;
  const MapPoint pts[9] = {{0, 0}, {10, 0}, {0, 0}, {0, 0}, {50, 0}, {50, 50}, {0, 0}, {1, 1}, {2, 2}};
  const int32_t sizes[4] = {3, 4, 0, -2};
  EXPECT_TRUE(t.DrawWorldPolyPolygon(dc, pts, sizes, 4));
  ASSERT_EQ(dc.calls.size(), 1u);
  EXPECT_EQ(dc.calls[0].ringSizes, (std::vector<int>{4}));
  EXPECT_EQ(dc.calls[0].points, Pts({{0, 0}, {50, 0}, {50, 50}, {0, 0}}));
  dc.Clear();
  const int32_t small[1] = {3};
  EXPECT_FALSE(t.DrawWorldPolyPolygon(dc, pts, small, 1));
  EXPECT_TRUE(dc.calls.empty());
}

TEST(MapTransformPolygon, PartlyOutsideIsClippedToTheBox) {
  CMapTransform t = IdentityTransform();
  RecordingCanvas dc;
  // A triangle reaching past the right and bottom edges.
  const MapPoint tri[4] = {{0, 0}, {30000, 0}, {0, 30000}, {0, 0}};
  const int32_t sizes[1] = {4};
  EXPECT_TRUE(t.DrawWorldPolyPolygon(dc, tri, sizes, 1));
  ASSERT_EQ(dc.calls.size(), 1u);
  EXPECT_EQ(dc.calls[0].ringSizes, (std::vector<int>{5}));
  // Right: the slanted edge meets x = 10000 at y = 20000; bottom cuts at y = 10000.
  EXPECT_EQ(dc.calls[0].points, Pts({{0, 0}, {10000, 0}, {10000, 10000}, {0, 10000}, {0, 0}}));
}

TEST(MapTransformPolygon, WideRingLosesOnlyItsOutsidePart) {
  CMapTransform t = IdentityTransform();
  RecordingCanvas dc;
  const MapPoint pts[5] = {{-20000, -100}, {100, -100}, {100, 100}, {-20000, 100}, {-20000, -100}};
  const int32_t sizes[1] = {5};
  EXPECT_TRUE(t.DrawWorldPolyPolygon(dc, pts, sizes, 1));
  ASSERT_EQ(dc.calls.size(), 1u);
  EXPECT_EQ(dc.calls[0].points,
            Pts({{-10000, -100}, {100, -100}, {100, 100}, {-10000, 100}, {-10000, -100}}));
}

TEST(MapTransformPolygon, OutsideRingsVanishAndInsideOnesStay) {
  CMapTransform t = IdentityTransform();
  RecordingCanvas dc;
  const MapPoint pts[9] = {{20000, 0}, {30000, 0}, {30000, 500}, {20000, 0},
                           {0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}};
  const int32_t sizes[2] = {4, 5};
  EXPECT_TRUE(t.DrawWorldPolyPolygon(dc, pts, sizes, 2));
  ASSERT_EQ(dc.calls.size(), 1u);
  EXPECT_EQ(dc.calls[0].ringSizes, (std::vector<int>{5}));
  // Each pass starts the re-closed ring one point later: four passes of a
  // four-cornered ring bring it back to where it began.
  EXPECT_EQ(dc.calls[0].points, Pts({{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}}));
  dc.Clear();
  EXPECT_FALSE(t.DrawWorldPolyPolygon(dc, pts, sizes, 1));
  EXPECT_TRUE(dc.calls.empty());
}

TEST(MapTransformPolygon, RingsLongerThan16BitsDrawWhole) {
  CMapTransform t = IdentityTransform();
  RecordingCanvas dc;
  std::vector<MapPoint> ring;
  const int n = 40000;
  for (int i = 0; i < n - 1; ++i) ring.push_back({i % 5000, i / 5000});
  ring.push_back(ring.front());
  const int32_t sizes[1] = {n};
  EXPECT_TRUE(t.DrawWorldPolyPolygon(dc, ring.data(), sizes, 1));
  ASSERT_EQ(dc.calls.size(), 1u);
  EXPECT_EQ(dc.calls[0].ringSizes, (std::vector<int>{n}));
}

TEST(MapTransformVisibility, ClampsToTheClientAndAsksTheCanvas) {
  CMapTransform t = IdentityTransform(100, 100);
  RecordingCanvas dc;
  EXPECT_TRUE(t.IsWorldRectVisible(dc, {10, 10, 20, 20}));
  ASSERT_EQ(dc.visibleQueries.size(), 1u);
  EXPECT_EQ(dc.visibleQueries[0].right, 21);
  EXPECT_EQ(dc.visibleQueries[0].bottom, 21);
  // Beside the client area: not visible, the canvas is not asked.
  EXPECT_FALSE(t.IsWorldRectVisible(dc, {100, 0, 200, 50}));
  EXPECT_FALSE(t.IsWorldRectVisible(dc, {-50, -50, -1, -1}));
  EXPECT_EQ(dc.visibleQueries.size(), 1u);
  // The right and bottom edges count one pixel in: a rectangle ending at -1 + 1 = 0 is
  // empty, one ending at 0 touches pixel 0.
  EXPECT_TRUE(t.IsWorldRectVisible(dc, {-50, -50, 0, 0}));
  // A huge rectangle reaches the canvas clamped to +-10000.
  dc.Clear();
  EXPECT_TRUE(t.IsWorldRectVisible(dc, {-2000000, -2000000, 2000000, 2000000}));
  ASSERT_EQ(dc.visibleQueries.size(), 1u);
  EXPECT_EQ(dc.visibleQueries[0].left, -10000);
  EXPECT_EQ(dc.visibleQueries[0].top, -10000);
  EXPECT_EQ(dc.visibleQueries[0].right, 10001);
  EXPECT_EQ(dc.visibleQueries[0].bottom, 10001);
  // Inside the client but outside the canvas's clip region.
  dc.SetClip({50, 50, 60, 60});
  EXPECT_FALSE(t.IsWorldRectVisible(dc, {0, 0, 10, 10}));
  EXPECT_TRUE(t.IsWorldRectVisible(dc, {0, 0, 55, 55}));
}

TEST(MapTransformInvalidate, WidensByTheMarginAndStaysInRange) {
  CMapTransform t = IdentityTransform();
  RecordingCanvas::Window window;
  t.InvalidateWorldRect(window, {10, 20, 30, 40}, true, 2);
  ASSERT_EQ(window.invalidated.size(), 1u);
  const DeviceRect& r = window.invalidated[0].rect;
  EXPECT_EQ(r.left, 8);
  EXPECT_EQ(r.top, 18);
  EXPECT_EQ(r.right, 33);
  EXPECT_EQ(r.bottom, 43);
  EXPECT_TRUE(window.invalidated[0].erase);
  // Left and top are raised to the margin; right and bottom kept to 32000.
  t.InvalidateWorldRect(window, {-500, -7, 900000, 40000}, false, 3);
  ASSERT_EQ(window.invalidated.size(), 2u);
  const DeviceRect& s = window.invalidated[1].rect;
  EXPECT_EQ(s.left, 0);
  EXPECT_EQ(s.top, 0);
  EXPECT_EQ(s.right, 32001);
  EXPECT_EQ(s.bottom, 32001);
  EXPECT_FALSE(window.invalidated[1].erase);
  // A rectangle wholly above and left of the client is nothing to repaint.
  t.InvalidateWorldRect(window, {-500, -500, -100, -100}, true, 2);
  EXPECT_EQ(window.invalidated.size(), 2u);
}

TEST(MapGeometry, BoundingBoxOfPointsAndOfNothing) {
  EXPECT_EQ(BoundingBox(nullptr, 0), (MapRect{INT32_MAX, INT32_MAX, -INT32_MAX, -INT32_MAX}));
  const MapPoint pts[3] = {{5, -7}, {-3, 9}, {2, 2}};
  EXPECT_EQ(BoundingBox(pts, 3), (MapRect{-3, -7, 5, 9}));
  EXPECT_EQ(BoundingBox(pts, 1), (MapRect{5, -7, 5, -7}));
}

TEST(MapGeometry, PointInPolygonEdgesAndWinding) {
  const MapPoint square[5] = {{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}};
  EXPECT_TRUE(PointInPolygon({5, 5}, square, 5));
  EXPECT_TRUE(PointInPolygon({1, 9}, square, 5));
  // Right and bottom edges are outside the box test.
  EXPECT_FALSE(PointInPolygon({10, 5}, square, 5));
  EXPECT_FALSE(PointInPolygon({5, 10}, square, 5));
  // The left edge passes the box test but no edge is crossed strictly right of it.
  EXPECT_FALSE(PointInPolygon({0, 5}, square, 5));
  // The top edge: crossings of the top and bottom edges cancel.
  EXPECT_FALSE(PointInPolygon({5, 0}, square, 5));
  EXPECT_FALSE(PointInPolygon({50, 5}, square, 5));
  // The same ring the other way round.
  const MapPoint reversed[5] = {{0, 0}, {0, 10}, {10, 10}, {10, 0}, {0, 0}};
  EXPECT_TRUE(PointInPolygon({5, 5}, reversed, 5));
  // Too few points contain nothing.
  EXPECT_FALSE(PointInPolygon({1, 1}, square, 3));
}

TEST(MapGeometry, PointInConcaveAndSlantedRings) {
  // A U open to the north (smaller y): the notch is outside.
  const MapPoint u[9] = {{0, 0}, {3, 0}, {3, 7}, {7, 7}, {7, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}};
  EXPECT_TRUE(PointInPolygon({1, 5}, u, 9));
  EXPECT_TRUE(PointInPolygon({5, 8}, u, 9));
  EXPECT_FALSE(PointInPolygon({5, 3}, u, 9));
  EXPECT_TRUE(PointInPolygon({8, 3}, u, 9));
  // A triangle with a slanted edge from (0,0) to (10,10): below-left is outside.
  const MapPoint tri[4] = {{0, 0}, {10, 10}, {0, 10}, {0, 0}};
  EXPECT_TRUE(PointInPolygon({2, 8}, tri, 4));
  EXPECT_FALSE(PointInPolygon({8, 2}, tri, 4));
  // On the slanted edge both it and the bottom edge count as crossed: outside.
  EXPECT_FALSE(PointInPolygon({5, 5}, tri, 4));
}

}  // namespace
}  // namespace kestrune
