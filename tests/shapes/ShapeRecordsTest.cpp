// Records: geometry, bounds, hit tests, areas, drawing pens and brushes.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#include "base/Preferences.h"
#include "geo/CMapTransform.h"
#include "geo/MapProjection.h"
#include "geo/RecordingCanvas.h"
#include "shapes/Shape.h"
#include "shapes/SelectionLook.h"
#include "shapes/ShapeCollection.h"
#include "ShapeTestFiles.h"

namespace kestrune {
namespace {

using test::Map;
using Kind = RecordingCanvas::Kind;

// A view where one map unit is one pixel, the given map point at pixel (50, 50).
CMapTransform PixelView(const MapPoint& centre, int32_t size = 100) {
  CMapTransform t;
  t.SetWorldOrigin({centre.x - size / 2, centre.y - size / 2});
  t.SetWorldExtent(size, size);
  t.SetDeviceExtent(size, size);
  return t;
}

// A square ring of side s map units at (x, y), closed, counter-clockwise on screen.
std::vector<MapPoint> Square(int32_t x, int32_t y, int32_t s) {
  return {{x, y}, {x + s, y}, {x + s, y + s}, {x, y + s}, {x, y}};
}

class PointRecord : public ::testing::Test {
 protected:
  ShapeCollection owner;
  MapPoint at = Map(-93.62, 42.03);
};

TEST_F(PointRecord, PointAtMapXZeroHasNoGeometryAndIsNeitherDrawnNorHit) {
  PointShape p(1);
  p.SetOwner(&owner);
  p.SetPoint({0, 500});
  EXPECT_FALSE(p.HasGeometry());
  EXPECT_EQ(p.GetPointCount(), 0);
  EXPECT_EQ(p.GetBounds(), kEmptyBounds);
  EXPECT_EQ(p.HitDistance({0, 500}), kNoHit);
  RecordingCanvas dc;
  p.Draw(PixelView({0, 500}), dc);
  EXPECT_TRUE(dc.calls.empty());
  // y must be above zero too.
  p.SetPoint({5, 0});
  EXPECT_FALSE(p.HasGeometry());
  p.SetPoint({1, 1});
  EXPECT_TRUE(p.HasGeometry());
}

TEST_F(PointRecord, SymbolHalfSizeIsHalfTheDisplaySizeInMapUnitsAtThePoint) {
  owner.SetDisplaySizeFeet(15.0);
  PointShape p(1);
  p.SetOwner(&owner);
  p.SetPoint(at);
  MapPoint east = at;
  GetMapProjection().OffsetEast(east, 1.0, true);
  const int perFoot = east.x - at.x;
  ASSERT_GT(perFoot, 15);  // about 20 map units per foot at 42°
  const int32_t h = static_cast<int32_t>(15.0 * perFoot * 0.5);
  EXPECT_EQ(p.GetBounds(), (MapRect{at.x - h, at.y - h, at.x + h, at.y + h}));
  EXPECT_EQ(p.GetHitBounds(), p.GetBounds());
  // Hit: squared distance inside, left/top inclusive, right/bottom exclusive.
  EXPECT_DOUBLE_EQ(p.HitDistance({at.x + 3, at.y - 4}), 25.0);
  EXPECT_DOUBLE_EQ(p.HitDistance({at.x - h, at.y - h}), 2.0 * h * h);
  EXPECT_EQ(p.HitDistance({at.x + h, at.y}), kNoHit);
  EXPECT_EQ(p.HitDistance({at.x, at.y + h}), kNoHit);
  // Without a layer there is no symbol.
  PointShape loose(2);
  loose.SetPoint(at);
  EXPECT_EQ(loose.GetBounds(), kEmptyBounds);
  EXPECT_EQ(loose.HitDistance(at), kNoHit);
}

// The units per foot records keep come from a cache by rows of the map;
// every point must get what the projection itself gives, near the equator,
// the poles' limit and the 180th meridian too.
TEST(PointUnitsPerFoot, TheRowCacheGivesWhatTheProjectionGives) {
  const MapProjection& projection = GetMapProjection();
  std::mt19937 rng(8);
  std::uniform_real_distribution<double> lat(-85.0, 85.0), lon(-180.0, 180.0), small(-0.02, 0.02);
  std::vector<std::pair<double, double>> places;
  for (int i = 0; i < 20000; ++i) places.push_back({lat(rng), lon(rng)});
  // Dense logs: many points of one field, one band after the other.
  for (int i = 0; i < 20000; ++i) places.push_back({44.5 + small(rng), -93.2 + small(rng)});
  for (int i = 0; i < 2000; ++i) {
    places.push_back({small(rng), small(rng) * 100});         // the equator
    places.push_back({lat(rng), 180.0 - std::fabs(small(rng))});  // the 180th meridian
    places.push_back({84.99 - std::fabs(small(rng)), lon(rng)});
  }
  int compared = 0;
  for (const auto& [la, lo] : places) {
    MapPoint at;
    projection.GeoToMap(la, lo, at);
    PointShape p(1);
    p.SetPoint(at);
    ASSERT_EQ(p.UnitsPerFoot(), ComputeUnitsPerFoot(projection, at)) << la << ", " << lo;
    ++compared;
  }
  EXPECT_EQ(compared, 46000);
}

TEST_F(PointRecord, DisplaySizeZeroIsNeverHitButStillDrawnFourPixelsWide) {
  owner.SetDisplaySizeFeet(0.0);
  PointShape p(1);
  p.SetOwner(&owner);
  p.SetPoint(at);
  EXPECT_EQ(p.GetBounds(), (MapRect{at.x, at.y, at.x, at.y}));
  EXPECT_EQ(p.HitDistance(at), kNoHit);
  RecordingCanvas dc;
  p.Draw(PixelView(at), dc);
  ASSERT_EQ(dc.calls.size(), 1u);
  EXPECT_EQ(dc.calls[0].kind, Kind::Rectangle);
  // Map (x-1, y-1, x+1, y+1) is pixels (49, 49, 51, 51), a box one pixel
  // larger: too small for an outline, so the whole box is filled, by a
  // rectangle without a pen one pixel larger still on the right and bottom.
  EXPECT_EQ(dc.calls[0].pen, NullPen());
  EXPECT_EQ(dc.calls[0].points[0], (DevicePoint{48, 48}));
  EXPECT_EQ(dc.calls[0].points[1], (DevicePoint{53, 53}));
}

TEST_F(PointRecord, SymbolsUnderThreePixelsLoseTheirOutline) {
  // Drawn box widths: the square plus one pixel on each side.
  const struct {
    DeviceRect box;
    bool outlined;
  } cases[] = {
      {{10, 10, 14, 14}, false},  // a 2-pixel square
      {{10, 10, 15, 15}, true},   // 3 pixels
      {{10, 10, 15, 14}, false},  // 3 wide, 2 high
      {{15, 15, 10, 10}, true},   // inverted corners count alike
      {{10, 10, 10, 10}, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SymbolKeepsOutline(c.box), c.outlined) << c.box.left << "," << c.box.right << "," << c.box.bottom;
  }
  const DeviceRect filled = UnoutlinedSymbolRect({14, 14, 10, 10});
  EXPECT_EQ(std::vector<int>({filled.left, filled.top, filled.right, filled.bottom}), std::vector<int>({10, 10, 15, 15}));
}

TEST_F(PointRecord, PenAndBrushFollowBorderSelectionAndFilterAndAreRestored) {
  PointShape p(1);
  p.SetOwner(&owner);
  p.SetPoint(at);
  p.SetColor(0x00FF00);
  RecordingCanvas dc;
  const Pen before{PenStyle::Solid, 3, 0x123456};
  dc.SetPen(before);
  dc.SetBrush(SolidBrush(0x654321));
  const CMapTransform view = PixelView(at, 10000);

  p.Draw(view, dc);
  EXPECT_EQ(dc.calls.back().pen, BlackPen());
  EXPECT_EQ(dc.calls.back().brush, SolidBrush(0x00FF00));
  owner.SetDrawBorder(false);
  p.Draw(view, dc);
  EXPECT_EQ(dc.calls.back().pen.style, PenStyle::Null);
  p.SetFilteredOut(true);
  p.Draw(view, dc);
  EXPECT_EQ(dc.calls.back().brush, SolidBrush(0xE0E0E0));
  p.SetSelected(true);  // selection beats the shadow: its own colour in a halo
  dc.calls.clear();
  p.Draw(view, dc);
  ASSERT_EQ(dc.calls.size(), 2u);
  EXPECT_EQ(dc.calls[0].pen.style, PenStyle::Null);
  EXPECT_EQ(dc.calls[0].brush, SolidBrush(SelectionHighlight()));
  EXPECT_EQ(dc.calls[1].pen.style, PenStyle::Null);
  EXPECT_EQ(dc.calls[1].brush, SolidBrush(0x00FF00));
  EXPECT_EQ(dc.GetPen(), before);
  EXPECT_EQ(dc.GetBrush(), SolidBrush(0x654321));
}

TEST_F(PointRecord, PointRecordsStayWithinTheirMemoryBudget) {
  // A layer of points pays this per record; runs of them cost next to
  // nothing in the list.
  EXPECT_LE(sizeof(PointShape), 32u);
  // Pooled records are reused after deletion and stay distinct while alive.
  std::vector<PointShape*> many;
  for (int i = 0; i < 50000; ++i) many.push_back(new PointShape(i));
  for (int i = 0; i < 50000; ++i) many[i]->SetPoint({i + 1, i + 1});
  for (int i = 0; i < 50000; ++i) ASSERT_EQ(many[i]->GetPoint().x, i + 1);
  for (int i = 0; i < 50000; i += 2) delete many[i];
  for (int i = 0; i < 50000; i += 2) many[i] = new PointShape(-i);
  for (int i = 1; i < 50000; i += 2) ASSERT_EQ(many[i]->GetPoint().x, i + 1);
  for (PointShape* p : many) delete p;
}

TEST(Records, LineKeepsEveryVertexGrowsBoundsAndMarksItselfChanged) {
  LineShape line(7);
  EXPECT_FALSE(line.IsModified());
  EXPECT_EQ(line.GetBounds(), kEmptyBounds);
  line.SetPoint({100, 200});
  line.SetPoint({100, 200});
  line.SetPoint({50, 300});
  EXPECT_TRUE(line.IsModified());
  EXPECT_EQ(line.GetPointCount(), 3);
  EXPECT_EQ(line.GetBounds(), (MapRect{50, 200, 100, 300}));
  // A line keeps its base answer to HasGeometry.
  EXPECT_FALSE(line.HasGeometry());
  EXPECT_EQ(line.GetLabelPoint(), (MapPoint{100, 200}));
  EXPECT_EQ(line.GetRecordClass(), kRecordLine);
}

class LineRecord : public ::testing::Test {
 protected:
  void SetUp() override {
    LineShape::ResetWidthCache();
    Shape::SetMapUnitsPerPixel(1.0);
  }
  ShapeCollection owner;
};

TEST_F(LineRecord, HitPrefersThePerpendicularBesideASegmentOverAnOvershoot) {
  LineShape line(1);
  const MapPoint v[] = {{1000, 1000}, {2000, 1000}, {2000, 2000}};
  line.AddPoints(v, 3);
  // Tolerance: max(pen width / 2, 10) pixels, one map unit each here.
  EXPECT_DOUBLE_EQ(line.HitDistance({1500, 1006}), 6.0);
  EXPECT_EQ(line.HitDistance({1500, 1011}), kNoHit);
  // Just before the start of the first segment: the overshoot.
  EXPECT_DOUBLE_EQ(line.HitDistance({996, 1002}), 4.0);
  // Beside the second segment and past the end of the first: the perpendicular wins.
  EXPECT_DOUBLE_EQ(line.HitDistance({2003, 1500}), 3.0);
  // Past the end of the line within the tolerance: overshoot below its end.
  EXPECT_DOUBLE_EQ(line.HitDistance({2001, 2007}), 7.0);
  Shape::SetMapUnitsPerPixel(10.0);
  EXPECT_DOUBLE_EQ(line.HitDistance({1500, 1060}), 60.0);

  LineShape single(2);
  single.SetPoint({1000, 1000});
  EXPECT_EQ(single.HitDistance({1000, 1000}), kNoHit);
  // Zero-length segments are skipped rather than divided by.
  LineShape stuck(3);
  const MapPoint s[] = {{5, 5}, {5, 5}};
  stuck.AddPoints(s, 2);
  EXPECT_EQ(stuck.HitDistance({5, 5}), kNoHit);
}

TEST_F(LineRecord, DrawComputesThePenWidthAtTheViewCentreAndHalosASelection) {
  const MapPoint c = Map(-93.62, 42.03);
  LineShape line(1);
  line.SetOwner(&owner);
  owner.SetDisplaySizeFeet(30.0);
  const MapPoint v[] = {{c.x - 100, c.y}, {c.x + 100, c.y}};
  line.AddPoints(v, 2);
  line.SetColor(0x00AA00);
  CMapTransform view = PixelView(c, 1000);  // one map unit per pixel
  RecordingCanvas dc;
  line.Draw(view, dc);
  MapPoint east = {c.x, c.y};
  GetMapProjection().OffsetEast(east, 30.0, true);
  const int32_t mapWidth = east.x - c.x;
  EXPECT_EQ(line.GetMapWidth(), mapWidth);
  EXPECT_EQ(line.GetPenWidth(), mapWidth + 1);
  ASSERT_EQ(dc.CallsOf(Kind::Polyline).size(), 1u);
  EXPECT_EQ(dc.calls[0].pen, (Pen{PenStyle::Solid, mapWidth + 1, 0x00AA00}));
  // Selected: a wider line in the highlight colour, then the line in its own.
  line.SetSelected(true);
  dc.calls.clear();
  line.Draw(view, dc);
  ASSERT_EQ(dc.calls.size(), 2u);
  EXPECT_EQ(dc.calls[0].pen, (Pen{PenStyle::Solid, mapWidth + 1 + 2 * kSelectionHaloPixels, SelectionHighlight()}));
  EXPECT_EQ(dc.calls[1].pen, (Pen{PenStyle::Solid, mapWidth + 1, 0x00AA00}));
  EXPECT_EQ(dc.calls[0].points, dc.calls[1].points);
  line.SetSelected(false);

  // Hit bounds: widened by half the map width once the width is known.
  const MapRect hb = line.GetHitBounds();
  EXPECT_EQ(hb, (MapRect{c.x - 100 - mapWidth / 2, c.y - mapWidth / 2, c.x + 100 + mapWidth / 2,
                         c.y + mapWidth / 2}));

  // Zero width: a one-pixel pen and no widening.
  owner.SetDisplaySizeFeet(0.0);
  line.Draw(view, dc);
  EXPECT_EQ(dc.calls.back().pen.width, 0);
  EXPECT_EQ(line.GetHitBounds(), line.GetBounds());
}

// The map projection, counting the ground offsets asked of it.
class CountingProjection : public SphereMercatorProjection {
 public:
  void OffsetEast(MapPoint& point, double distance, bool inFeet) const override {
    ++offsets;
    SphereMercatorProjection::OffsetEast(point, distance, inFeet);
  }
  mutable int offsets = 0;
};

TEST_F(LineRecord, OneWidthComputationServesEveryLineOfTheSameView) {
  CountingProjection projection;
  SetMapProjection(&projection);
  const MapPoint c = Map(10.0, 50.0);
  owner.SetDisplaySizeFeet(20.0);
  const MapPoint v[] = {{c.x, c.y}, {c.x + 10, c.y}};
  LineShape a(1), b(2), c2(3);
  a.SetOwner(&owner);
  c2.SetOwner(&owner);
  for (LineShape* l : {&a, &b, &c2}) l->AddPoints(v, 2);
  CMapTransform view = PixelView(c, 1000);
  RecordingCanvas dc;
  a.Draw(view, dc);
  EXPECT_EQ(projection.offsets, 1);
  c2.Draw(view, dc);  // same view, same width: from the cache
  EXPECT_EQ(projection.offsets, 1);
  EXPECT_EQ(c2.GetPenWidth(), a.GetPenWidth());
  b.Draw(view, dc);  // no layer: 1 ft, another width
  EXPECT_EQ(projection.offsets, 2);
  EXPECT_LT(b.GetPenWidth(), a.GetPenWidth());
  // Zooming in doubles the pixels of the same ground width.
  view.SetWorldExtent(500, 500);
  view.SetWorldOrigin({c.x - 250, c.y - 250});
  c2.Draw(view, dc);
  EXPECT_EQ(projection.offsets, 3);
  EXPECT_NEAR(c2.GetPenWidth() - 1, 2 * (a.GetPenWidth() - 1), 2);
  EXPECT_EQ(a.GetWidth(true), 20.0 * kMetresPerFoot);
  EXPECT_EQ(b.GetWidth(false), 1.0);
  SetMapProjection(nullptr);
}

TEST(Records, RingAreaNeedsAClosedTriangleAndIgnoresOrientation) {
  const MapPoint tri[] = {{0, 0}, {10, 0}, {0, 10}, {0, 0}};
  EXPECT_DOUBLE_EQ(RingArea(tri, 4), 50.0);
  const MapPoint triCw[] = {{0, 0}, {0, 10}, {10, 0}, {0, 0}};
  EXPECT_DOUBLE_EQ(RingArea(triCw, 4), 50.0);
  const MapPoint sliver[] = {{0, 0}, {10, 10}, {0, 0}};
  EXPECT_DOUBLE_EQ(RingArea(sliver, 3), 0.0);
  // Far from the origin the sum is taken relative to the ring's corner, so
  // coordinates near 2e9 lose nothing.
  auto sq = Square(2000000000, 2000000000, 1000);
  EXPECT_DOUBLE_EQ(RingArea(sq.data(), 5), 1000000.0);
}

TEST(Records, AreaKeepsOuterAndNetAreaAndBoundsOfItsFirstRing) {
  AreaShape area(4);
  auto outer = Square(100, 100, 100);
  auto hole = Square(120, 120, 20);
  auto farHole = Square(5000, 5000, 10);  // outside the bounds: bounds ignore it
  ASSERT_TRUE(area.AddPoints(outer.data(), 5));
  EXPECT_EQ(area.GetOuterArea(), 10000.0);
  ASSERT_TRUE(area.AddPoints(hole.data(), 5));
  ASSERT_TRUE(area.AddPoints(farHole.data(), 5));
  EXPECT_EQ(area.GetOuterArea(), 10000.0);
  EXPECT_EQ(area.GetNetArea(), 10000.0 - 400.0 - 100.0);
  EXPECT_EQ(area.GetBounds(), (MapRect{100, 100, 200, 200}));
  EXPECT_EQ(area.GetHitBounds(), area.GetBounds());
  EXPECT_EQ(area.GetRingCount(), 3);
  EXPECT_TRUE(area.HasGeometry());
  EXPECT_FALSE(area.AddPoints(nullptr, 3));
  EXPECT_EQ(area.GetRingCount(), 3);

  // Inside the outer ring and outside every later ring.
  EXPECT_TRUE(area.Contains({150, 180}));
  EXPECT_EQ(area.HitDistance({150, 180}), 1.0);
  EXPECT_FALSE(area.Contains({130, 130}));  // in the hole
  EXPECT_EQ(area.HitDistance({130, 130}), kNoHit);
  EXPECT_FALSE(area.Contains({250, 150}));
}

TEST(Records, AreasPrecedeOnlySmallerAreas) {
  AreaShape big(1), small(2), same(3);
  auto a = Square(0, 0, 100), b = Square(0, 0, 10), c = Square(50, 50, 100);
  big.AddPoints(a.data(), 5);
  small.AddPoints(b.data(), 5);
  same.AddPoints(c.data(), 5);
  PointShape point(4);
  EXPECT_TRUE(big.PrecedesInDrawOrder(small));
  EXPECT_FALSE(small.PrecedesInDrawOrder(big));
  EXPECT_FALSE(big.PrecedesInDrawOrder(same));
  EXPECT_FALSE(big.PrecedesInDrawOrder(point));
  EXPECT_FALSE(point.PrecedesInDrawOrder(big));
}

TEST(Records, RingsBeyondSixteenBitCountsAreKeptWhole) {
  AreaShape area(1);
  std::vector<MapPoint> ring;
  for (int i = 0; i < 40000; ++i) ring.push_back({1000 + i, 1000 + (i % 2)});
  ring.push_back(ring.front());
  ASSERT_TRUE(area.AddPoints(ring.data(), static_cast<int>(ring.size())));
  auto small = Square(2000, 999, 2);
  for (int r = 0; r < 40000; ++r) ASSERT_TRUE(area.AddPoints(small.data(), 5));
  area.FinishGeometry();
  EXPECT_EQ(area.GetRingCount(), 40001);
  EXPECT_EQ(area.GetRingSize(0), 40001);
  EXPECT_EQ(area.GetPointCount(), 40001 + 40000 * 5);
  EXPECT_EQ(area.GetRingSize(40000), 5);
  EXPECT_EQ(area.GetPoints().back(), small.back());
}

TEST(Records, GroundAreaFollowsTheUnitsSetting) {
  CPreferences& prefs = GetPreferences();
  const bool wasMetric = prefs.IsMetric();
  const MapPoint sw = Map(-93.6, 42.0);
  // A square of 100 m on each side: 5000 map units east, north by latitude.
  MapPoint ne = sw;
  GetMapProjection().OffsetEast(ne, 100.0, false);
  double lat = 0, lon = 0;
  GetMapProjection().MapToGeo(sw, lat, lon);
  const MapPoint n = Map(lon, lat + 100.0 / 111194.93);
  std::vector<MapPoint> sq = {{sw.x, n.y}, {ne.x, n.y}, {ne.x, sw.y}, {sw.x, sw.y}, {sw.x, n.y}};
  AreaShape area(1);
  area.AddPoints(sq.data(), 5);
  prefs.SetMetric(true);
  EXPECT_NEAR(area.GetArea(false), 10000.0, 10.0);
  prefs.SetMetric(false);
  EXPECT_NEAR(area.GetArea(false), 10000.0 * kFeetPerMetre * kFeetPerMetre, 100.0);
  prefs.SetMetric(wasMetric);
  // A degenerate box has no ground area.
  AreaShape flat(2);
  const MapPoint line[] = {{10, 10}, {20, 10}, {30, 10}, {10, 10}};
  flat.AddPoints(line, 4);
  EXPECT_EQ(flat.GetArea(false), 0.0);
  EXPECT_EQ(AreaShape(3).GetArea(false), 0.0);
}

TEST(Records, AreaDrawsAllRingsInOneCallWithSelectionAndBorderPens) {
  ShapeCollection owner;
  AreaShape area(1);
  auto outer = Square(100, 100, 60);
  auto hole = Square(120, 120, 10);
  area.AddPoints(outer.data(), 5);
  area.AddPoints(hole.data(), 5);
  area.SetColor(0x336699);
  RecordingCanvas dc;
  const CMapTransform view = PixelView({130, 130}, 100);
  area.Draw(view, dc);
  EXPECT_TRUE(dc.calls.empty());  // no layer, nothing drawn
  area.SetOwner(&owner);
  area.Draw(view, dc);
  ASSERT_EQ(dc.calls.size(), 1u);
  EXPECT_EQ(dc.calls[0].kind, Kind::PolyPolygon);
  EXPECT_EQ(dc.calls[0].ringSizes, (std::vector<int>{5, 5}));
  EXPECT_EQ(dc.calls[0].points[0], (DevicePoint{20, 20}));
  EXPECT_EQ(dc.calls[0].pen, BlackPen());
  EXPECT_EQ(dc.calls[0].brush, SolidBrush(0x336699));
  owner.SetDrawBorder(false);
  area.Draw(view, dc);
  EXPECT_EQ(dc.calls.back().pen.style, PenStyle::Null);
  area.SetSelected(true);
  area.Draw(view, dc);
  EXPECT_EQ(dc.calls.back().pen, (Pen{PenStyle::Solid, kSelectedAreaPenWidth, SelectionHighlight()}));
  EXPECT_EQ(dc.calls.back().brush, SolidBrush(0x336699));
}

TEST(Records, AreaLabelPointLiesInsideEvenWhenTheCentreIsInAHole) {
  AreaShape donut(1);
  auto outer = Square(1000, 1000, 100);
  auto hole = Square(1040, 1040, 20);
  donut.AddPoints(outer.data(), 5);
  donut.AddPoints(hole.data(), 5);
  donut.SetLabel("x", false);
  const MapPoint p = donut.GetLabelPoint();
  // Centre (1050, 1050) is in the hole: halfway between the top edge and the hole.
  EXPECT_EQ(p, (MapPoint{1050, 1020}));
  EXPECT_TRUE(donut.Contains(p));
  AreaShape plain(2);
  plain.AddPoints(outer.data(), 5);
  EXPECT_EQ(plain.GetLabelPoint(), (MapPoint{1050, 1050}));
}

TEST(Records, CompactStateAndItsSideTableGiveBackWhatWasSet) {
  // Colours, filter bits and owners each have a compact form and a side-table
  // form; both must give back exactly what was set, and a record reborn at a
  // freed address starts afresh.
  ShapeCollection first, second;
  struct Case {
    uint32_t filter;
    Color color;
    ShapeOwner* owner;
  };
  const Case cases[] = {
      {0xFFFF, kNeutralColor, nullptr}, {0x5, 0x123456, &first},    {0xA, 0xFFFFFF, &second},
      {0xFD, 0x000000, &first},         {0xFE, 0x00FF00, &second},   {0xFF, 0x0000FF, nullptr},
      {0xABCD, 0x808080, &first},       {0x10000 | 0x7, 0x1, &second},
  };
  std::vector<std::unique_ptr<Shape>> records;
  for (int i = 0; i < 3; ++i) {
    records.push_back(std::make_unique<PointShape>(i));
    records.push_back(std::make_unique<LineShape>(i));
  }
  for (const Case& c : cases) {
    for (auto& r : records) {
      r->SetFilterFlags(c.filter);
      r->SetColor(c.color);
      r->SetOwner(c.owner);
    }
    for (auto& r : records) {
      EXPECT_EQ(r->GetFilterFlags(), c.filter & 0xFFFF);
      EXPECT_EQ(r->GetColor(), c.color);
      EXPECT_EQ(r->GetOwner(), c.owner);
    }
  }
  // Two owners in one pool block: the second keeps its own.
  auto a = std::make_unique<PointShape>(10);
  auto b = std::make_unique<PointShape>(11);
  a->SetOwner(&first);
  b->SetOwner(&second);
  EXPECT_EQ(a->GetOwner(), &first);
  EXPECT_EQ(b->GetOwner(), &second);
  b.reset();
  auto reborn = std::make_unique<PointShape>(12);
  EXPECT_EQ(reborn->GetOwner(), nullptr);
  EXPECT_EQ(reborn->GetFilterFlags(), 0xFFFFu);
  EXPECT_EQ(reborn->GetColor(), kNeutralColor);
}

TEST(Records, ColoursBeyondThePaletteGoToTheSideTable) {
  // 70,000 distinct colours overflow the two-byte palette; every record still
  // shows its own.
  std::vector<std::unique_ptr<PointShape>> records;
  for (int i = 0; i < 70000; ++i) {
    records.push_back(std::make_unique<PointShape>(i));
    records.back()->SetColor(static_cast<Color>(0x100000 + i));
  }
  for (int i = 0; i < 70000; ++i) ASSERT_EQ(records[i]->GetColor(), static_cast<Color>(0x100000 + i)) << i;
}

TEST(Records, LabelsLiveInASideTableAndGoWithTheRecord) {
  auto* p = new PointShape(1);
  EXPECT_EQ(p->GetLabel(), "");
  p->SetLabel("Field 7", true);
  EXPECT_EQ(p->GetLabel(), "Field 7");
  p->SetPoint({10, 10});
  EXPECT_EQ(p->GetLabelPoint(), (MapPoint{10, 10}));
  delete p;
  // A new record at the same address starts without a label.
  auto* q = new PointShape(2);
  EXPECT_EQ(q->GetLabel(), "");
  delete q;
}

TEST(Records, PrepareViewMeasuresMapUnitsPerPixelAtTheCentre) {
  CMapTransform view;
  view.SetWorldOrigin({1000, 1000});
  view.SetWorldExtent(2000, 1000);
  view.SetDeviceExtent(200, 100);
  Shape::PrepareView(view);
  EXPECT_EQ(Shape::GetMapUnitsPerPixel(), 10.0);
  // A window without a size keeps the last good scale.
  view.SetDeviceExtent(0, 0);
  Shape::PrepareView(view);
  EXPECT_EQ(Shape::GetMapUnitsPerPixel(), 10.0);
}

TEST(Records, DefaultsAndRecordsMadeByClass) {
  AreaShape area(9);
  EXPECT_EQ(area.GetRecordNumber(), 9);
  EXPECT_EQ(area.GetColor(), 0xC0C0C0u);
  EXPECT_EQ(area.GetFilterFlags(), 0xFFFFu);
  EXPECT_TRUE(area.IsVisible());
  EXPECT_FALSE(area.IsSelected());
  EXPECT_EQ(area.SetPoint({1, 1}), nullptr);
  std::unique_ptr<Shape> made(MakeRecord(kRecordPoint, 3));
  EXPECT_EQ(made->GetRecordClass(), kRecordPoint);
  EXPECT_EQ(MakeRecord(16, 1), nullptr);
}

}  // namespace
}  // namespace kestrune
