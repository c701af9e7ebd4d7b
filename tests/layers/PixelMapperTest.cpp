// The layer's inline view arithmetic must give exactly the transform's pixels
// and visibility, or symbols drawn in batches would land a pixel away from
// where the record would draw itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>

#include "geo/CMapTransform.h"
#include "geo/RecordingCanvas.h"
#include "layers/PixelMapper.h"

namespace kestrune {
namespace {

// RectVisible exactly as GetPlainVisibleArea promises: the rectangle, put in
// order, overlaps the area.
class PlainCanvas : public RecordingCanvas {
 public:
  explicit PlainCanvas(DeviceRect area) : area_(area) {}
  bool RectVisible(const DeviceRect& r) const override {
    const int l = std::min(r.left, r.right), rr = std::max(r.left, r.right);
    const int t = std::min(r.top, r.bottom), b = std::max(r.top, r.bottom);
    if (rr <= l || b <= t) return false;
    return std::max(l, area_.left) < std::min(rr, area_.right) && std::max(t, area_.top) < std::min(b, area_.bottom);
  }
  bool GetPlainVisibleArea(DeviceRect& area) const override {
    area = area_;
    return true;
  }

 private:
  DeviceRect area_;
};

CMapTransform MakeTransform(MapPoint origin, int32_t ww, int32_t wh, int32_t dw, int32_t dh, int32_t dx = 0,
                            int32_t dy = 0) {
  CMapTransform t;
  t.SetWorldOrigin(origin);
  t.SetWorldExtent(ww, wh);
  t.SetDeviceExtent(dw, dh);
  t.SetDeviceOrigin(dx, dy);
  return t;
}

// The transforms the checks run over: typical views, mirrored and extreme ones.
std::vector<CMapTransform> Transforms(std::mt19937& rng) {
  std::vector<CMapTransform> ts;
  ts.push_back(MakeTransform({957148121, 813272036}, 829085, 466361, 1920, 1080));
  ts.push_back(MakeTransform({1500000000, 1500000000}, 1501000000, 1501000000, 800, 600));
  ts.push_back(MakeTransform({100, 100}, 4, 4, 2, 2));           // exact half pixels
  ts.push_back(MakeTransform({0, 0}, 100, 100, 32767, 32767));   // zoomed far in
  ts.push_back(MakeTransform({5000, 5000}, -3000, -2000, 640, 480, 7, -3));  // mirrored
  ts.push_back(MakeTransform({0, 0}, 7, 3, 1000, 1000, 1 << 30, -(1 << 30)));  // huge device origin
  std::uniform_int_distribution<int32_t> any(std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());
  std::uniform_int_distribution<int32_t> extent(1, 2000000);
  std::uniform_int_distribution<int32_t> pixels(1, 4000);
  std::uniform_int_distribution<int32_t> offset(-50, 50);
  for (int i = 0; i < 40; ++i) {
    ts.push_back(MakeTransform({any(rng), any(rng)}, extent(rng), extent(rng), pixels(rng), pixels(rng), offset(rng),
                               offset(rng)));
  }
  return ts;
}

// Map values around a transform's view, near its edges and anywhere at all.
std::vector<int32_t> Values(std::mt19937& rng, int32_t origin, int32_t extent) {
  const auto end = static_cast<int32_t>(std::clamp<int64_t>(int64_t{origin} + extent, INT32_MIN, INT32_MAX));
  std::vector<int32_t> v = {std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(), 0, -1, 1,
                            origin, end};
  std::uniform_int_distribution<int64_t> near(int64_t{origin} - std::abs(int64_t{extent}),
                                              int64_t{origin} + 2 * std::abs(int64_t{extent}));
  std::uniform_int_distribution<int32_t> any(std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());
  for (int i = 0; i < 400; ++i) {
    const int64_t n = near(rng);
    v.push_back(static_cast<int32_t>(std::clamp<int64_t>(n, INT32_MIN, INT32_MAX)));
  }
  for (int i = 0; i < 100; ++i) v.push_back(any(rng));
  return v;
}

TEST(PixelMapper, CoordinatesMatchTheTransformEverywhere) {
  std::mt19937 rng(7);
  for (const CMapTransform& t : Transforms(rng)) {
    const PixelMapper m(t);
    ASSERT_TRUE(m.Usable());
    int32_t ww = 0, wh = 0;
    t.GetWorldExtent(ww, wh);
    const std::vector<int32_t> xs = Values(rng, t.GetWorldOrigin().x, ww);
    const std::vector<int32_t> ys = Values(rng, t.GetWorldOrigin().y, wh);
    for (size_t i = 0; i < xs.size(); ++i) {
      MapPoint p{xs[i], ys[i]};
      t.WorldToDevice(p);
      ASSERT_EQ(m.X(xs[i]), p.x) << "x " << xs[i];
      ASSERT_EQ(m.Y(ys[i]), p.y) << "y " << ys[i];
    }
  }
}

TEST(PixelMapper, ExactHalfPixelsRoundAwayFromZeroAsTheTransformDoes) {
  // (v - 100) * 2 / 4 is k + 0.5 for every odd v - 100: the quick path must
  // not take the reciprocal's neighbour of the tie.
  const CMapTransform t = MakeTransform({100, 100}, 4, 4, 2, 2);
  const PixelMapper m(t);
  for (int32_t v = -1001; v <= 1001; ++v) {
    MapPoint p{v, v};
    t.WorldToDevice(p);
    ASSERT_EQ(m.X(v), p.x) << v;
    const DeviceRect box = m.RectangleBox(v, v, v + 1, v + 1);
    RecordingCanvas canvas;
    t.DrawWorldRectangle(canvas, v, v, v + 1, v + 1);
    ASSERT_EQ(box.left, canvas.calls[0].points[0].x);
    ASSERT_EQ(box.bottom, canvas.calls[0].points[1].y);
  }
}

TEST(PixelMapper, RectangleBoxesAreTheTransformsDrawnRectangles) {
  std::mt19937 rng(11);
  for (const CMapTransform& t : Transforms(rng)) {
    const PixelMapper m(t);
    int32_t ww = 0, wh = 0;
    t.GetWorldExtent(ww, wh);
    const std::vector<int32_t> xs = Values(rng, t.GetWorldOrigin().x, ww);
    const std::vector<int32_t> ys = Values(rng, t.GetWorldOrigin().y, wh);
    for (size_t i = 0; i + 1 < xs.size(); ++i) {
      RecordingCanvas canvas;
      ASSERT_EQ(t.DrawWorldRectangle(canvas, xs[i], ys[i], xs[i + 1], ys[i + 1]), 1);
      const DeviceRect box = m.RectangleBox(xs[i], ys[i], xs[i + 1], ys[i + 1]);
      const auto& pts = canvas.calls.at(0).points;
      ASSERT_EQ(box.left, pts[0].x);
      ASSERT_EQ(box.top, pts[0].y);
      ASSERT_EQ(box.right, pts[1].x);
      ASSERT_EQ(box.bottom, pts[1].y);
    }
  }
}

TEST(PixelMapper, VisibilityMatchesTheTransformWithAndWithoutAPlainArea) {
  std::mt19937 rng(13);
  for (const CMapTransform& t : Transforms(rng)) {
    int32_t ww = 0, wh = 0, dw = 0, dh = 0;
    t.GetWorldExtent(ww, wh);
    t.GetDeviceExtent(dw, dh);
    const std::vector<int32_t> xs = Values(rng, t.GetWorldOrigin().x, ww);
    const std::vector<int32_t> ys = Values(rng, t.GetWorldOrigin().y, wh);
    // A clipped canvas asked every time, and plain canvases (the whole device, and less).
    RecordingCanvas clipped;
    clipped.SetClip({dw / 4, dh / 4, dw / 2, dh / 2});
    const PixelMapper asking(t);
    PlainCanvas whole({0, 0, dw, dh});
    PlainCanvas part({dw / 3, -5, dw - 2, dh / 2});
    PixelMapper plainWhole(t);
    plainWhole.SetPlainArea({0, 0, dw, dh});
    PixelMapper plainPart(t);
    plainPart.SetPlainArea({dw / 3, -5, dw - 2, dh / 2});
    for (size_t i = 0; i + 1 < xs.size(); ++i) {
      // Well-formed rectangles, small ones like symbols, and inverted ones.
      const int32_t half = static_cast<int32_t>(i % 7) * 300;
      const MapRect rects[] = {
          {std::min(xs[i], xs[i + 1]), std::min(ys[i], ys[i + 1]), std::max(xs[i], xs[i + 1]), std::max(ys[i], ys[i + 1])},
          {static_cast<int32_t>(std::clamp<int64_t>(int64_t{xs[i]} - half, INT32_MIN, INT32_MAX)),
           static_cast<int32_t>(std::clamp<int64_t>(int64_t{ys[i]} - half, INT32_MIN, INT32_MAX)),
           static_cast<int32_t>(std::clamp<int64_t>(int64_t{xs[i]} + half, INT32_MIN, INT32_MAX)),
           static_cast<int32_t>(std::clamp<int64_t>(int64_t{ys[i]} + half, INT32_MIN, INT32_MAX))},
          {xs[i], ys[i], xs[i + 1], ys[i + 1]}};
      for (const MapRect& r : rects) {
        ASSERT_EQ(asking.IsRectVisible(clipped, r), t.IsWorldRectVisible(clipped, r));
        ASSERT_EQ(plainWhole.IsRectVisible(whole, r), t.IsWorldRectVisible(whole, r));
        ASSERT_EQ(plainPart.IsRectVisible(part, r), t.IsWorldRectVisible(part, r));
      }
    }
  }
}

TEST(PixelMapper, BoxTestNeverClaimsAnInvisibleSymbol) {
  // Symbols around every edge of the view: whenever the drawing box settles
  // visibility, the exact test must agree.
  const CMapTransform t = MakeTransform({1000000, 2000000}, 640000, 480000, 640, 480);
  PixelMapper m(t);
  m.SetPlainArea({0, 0, 640, 480});
  PlainCanvas canvas({0, 0, 640, 480});
  int settled = 0;
  for (int32_t x = 1000000 - 5000; x <= 1640000 + 5000; x += 397) {
    for (int32_t y : {2000000 - 3000, 2000000 - 500, 2000000, 2000000 + 1500, 2480000 - 1500, 2480000, 2480000 + 800}) {
      for (int32_t h : {0, 100, 1000, 2600}) {
        const MapRect b{x - h, y - h, x + h, y + h};
        const DeviceRect box = m.RectangleBox(b.left - 1, b.top - 1, b.right + 1, b.bottom + 1);
        if (m.BoxShowsWholeBounds(box)) {
          ++settled;
          ASSERT_TRUE(t.IsWorldRectVisible(canvas, b)) << x << "," << y << " h " << h;
        }
      }
    }
  }
  EXPECT_GT(settled, 1000);
}

TEST(PixelMapper, ZeroExtentsConvertNothingAndShowNothing) {
  for (const CMapTransform& t : {MakeTransform({0, 0}, 0, 100, 640, 480), MakeTransform({0, 0}, 100, 0, 640, 480)}) {
    const PixelMapper m(t);
    EXPECT_FALSE(m.Usable());
    RecordingCanvas canvas;
    EXPECT_FALSE(m.IsRectVisible(canvas, {0, 0, 50, 50}));
  }
  // A window of no size shows nothing either, without dividing by it.
  const CMapTransform t = MakeTransform({0, 0}, 1000, 1000, 0, 0);
  const PixelMapper m(t);
  RecordingCanvas canvas;
  EXPECT_FALSE(m.IsRectVisible(canvas, {0, 0, 500, 500}));
  EXPECT_EQ(m.X(500), 0);
}

}  // namespace
}  // namespace kestrune
