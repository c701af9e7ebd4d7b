#include <gtest/gtest.h>

#include "base/Platform.h"
#include "geo/MapProjection.h"
#include "mapview/MapView.h"

namespace kestrune {
namespace {

// Counts beeps and invalidations for the life of a test.
class MapViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    oldBeep_ = SetBeepHandler([this] { ++beeps_; });
    view_.SetInvalidateHandler([this] { ++invalidations_; });
  }
  void TearDown() override { SetBeepHandler(oldBeep_); }

  void SetViewTo(int32_t x, int32_t y, int32_t w, int32_t h) {
    view_.Transform().SetWorldOrigin({x, y});
    view_.Transform().SetWorldExtent(w, h);
  }

  MapView view_;
  int beeps_ = 0;
  int invalidations_ = 0;
  std::function<void()> oldBeep_;
};

TEST_F(MapViewTest, StartsOnTheWholeWorldUntilTheFirstResize) {
  EXPECT_EQ(view_.Transform().GetWorldOrigin(), (MapPoint{1500000000, 1500000000}));
  EXPECT_EQ(view_.Width(), 1501000000);
  EXPECT_EQ(view_.Height(), 1501000000);
}

TEST_F(MapViewTest, ResizeKeepsCentreAndWidthAndFollowsTheAspect) {
  view_.Resize(400, 200);
  SetViewTo(1000, 2000, 4000, 2000);
  view_.Resize(400, 400);
  // Width stays 4000, height becomes 4000, the centre (3000, 3000) stays.
  EXPECT_EQ(view_.Width(), 4000);
  EXPECT_EQ(view_.Height(), 4000);
  EXPECT_EQ(view_.Transform().GetWorldOrigin(), (MapPoint{1000, 1000}));
  int32_t cx = 0, cy = 0;
  view_.Transform().GetDeviceExtent(cx, cy);
  EXPECT_EQ(cx, 400);
  EXPECT_EQ(cy, 400);
}

TEST_F(MapViewTest, ZoomInLimitIsHalfExtentAboveFifty) {
  view_.Resize(100, 100);
  SetViewTo(0, 0, 100, 100);
  view_.ZoomIn();
  EXPECT_EQ(beeps_, 1);
  EXPECT_EQ(view_.Width(), 100);

  SetViewTo(0, 0, 101, 101);
  view_.ZoomIn();
  EXPECT_EQ(beeps_, 1);
  EXPECT_EQ(view_.Width(), 50);
  EXPECT_EQ(view_.Height(), 50);
  // Centre kept: origin moves by (101 - 50) / 2 = 25.
  EXPECT_EQ(view_.Transform().GetWorldOrigin(), (MapPoint{25, 25}));

  // A wide but flat view is limited by its height.
  view_.Resize(400, 100);
  SetViewTo(0, 0, 400, 100);
  view_.ZoomIn();
  EXPECT_EQ(beeps_, 2);
}

TEST_F(MapViewTest, ZoomOutLimitAndDoubling) {
  view_.Resize(100, 100);
  SetViewTo(0, 0, 536870911, 1000);
  view_.ZoomOut();
  EXPECT_EQ(beeps_, 1);
  EXPECT_EQ(view_.Width(), 536870911);

  SetViewTo(1000, 1000, 536870910, 536870910);
  view_.ZoomOut();
  EXPECT_EQ(beeps_, 1);
  EXPECT_EQ(view_.Width(), 1073741820);
}

TEST_F(MapViewTest, ZoomAboutAPointKeepsThePointUnderItsPixel) {
  view_.Resize(200, 100);
  SetViewTo(0, 0, 2000, 1000);
  const MapPoint p{500, 250};
  view_.ZoomIn(&p);
  EXPECT_EQ(view_.Width(), 1000);
  EXPECT_EQ(view_.Height(), 500);
  // origin = p - (p - origin) * new / old
  EXPECT_EQ(view_.Transform().GetWorldOrigin(), (MapPoint{250, 125}));
  MapPoint q = p;
  view_.Transform().WorldToDevice(q);
  EXPECT_EQ(q, (MapPoint{50, 25}));
}

TEST_F(MapViewTest, ZoomAllWithNoLayersSetsTheDefaultWidthAndKeepsTheOrigin) {
  view_.Resize(200, 100);
  SetViewTo(7, 9, 100000, 50000);
  view_.ZoomAll({});
  EXPECT_EQ(view_.Width(), 5000);
  EXPECT_EQ(view_.Height(), 2500);
  EXPECT_EQ(view_.Transform().GetWorldOrigin(), (MapPoint{7, 9}));
}

TEST_F(MapViewTest, ZoomToASinglePointGivesFiftyBoxGrownToTheAspect) {
  view_.Resize(200, 100);
  MapRect r{10000, 20000, 10000, 20000};
  view_.ZoomToRect(r, true);
  // 50 x 50, then the width grows to 100 for the 2:1 window, centred on the point.
  EXPECT_EQ(r.right - r.left, 100);
  EXPECT_EQ(r.bottom - r.top, 50);
  EXPECT_EQ(r.left + (r.right - r.left) / 2, 10000);
  EXPECT_EQ(r.top + (r.bottom - r.top) / 2, 20000);
  EXPECT_EQ(view_.Transform().GetWorldOrigin(), (MapPoint{r.left, r.top}));
}

TEST_F(MapViewTest, ZoomAllTakesTheUnionWithAMargin) {
  view_.Resize(100, 100);
  view_.ZoomAll({{1000, 1000, 2000, 3000}, {0, 2000, 1500, 2500}});
  // Union (0, 1000, 2000, 3000); margin 100 each side gives 2200 x 2200.
  EXPECT_EQ(view_.Transform().GetWorldOrigin(), (MapPoint{-100, 900}));
  EXPECT_EQ(view_.Width(), 2200);
  EXPECT_EQ(view_.Height(), 2200);
}

TEST_F(MapViewTest, CenterOnIgnoresNegativeCoordinates) {
  view_.Resize(100, 100);
  SetViewTo(0, 0, 1000, 1000);
  view_.CenterOn({-1, 5000});
  EXPECT_EQ(view_.Transform().GetWorldOrigin(), (MapPoint{0, 0}));
  view_.CenterOn({5000, 5000});
  EXPECT_EQ(view_.Transform().GetWorldOrigin(), (MapPoint{4500, 4500}));
}

TEST_F(MapViewTest, KeyPansMoveAQuarterOfTheView) {
  view_.Resize(100, 50);
  SetViewTo(1000, 1000, 1002, 502);
  view_.PanLeft();
  EXPECT_EQ(view_.Transform().GetWorldOrigin(), (MapPoint{1000 - 250, 1000}));
  view_.PanRight();
  view_.PanUp();
  EXPECT_EQ(view_.Transform().GetWorldOrigin(), (MapPoint{1000, 1000 - 125}));
  view_.PanDown();
  EXPECT_EQ(view_.Transform().GetWorldOrigin(), (MapPoint{1000, 1000}));
  EXPECT_GE(invalidations_, 4);
}

TEST_F(MapViewTest, ZeroSizeClientAreaKeepsTheLastGoodView) {
  view_.Resize(200, 100);
  SetViewTo(100, 200, 4000, 2000);
  view_.Resize(0, 0);
  EXPECT_EQ(view_.Width(), 4000);
  EXPECT_EQ(view_.Height(), 2000);
  view_.ZoomIn();
  view_.ZoomOut();
  MapRect r{0, 0, 10, 10};
  view_.ZoomToRect(r, true);
  view_.ZoomAll({});
  EXPECT_EQ(view_.Transform().GetWorldOrigin(), (MapPoint{100, 200}));
  EXPECT_EQ(view_.Width(), 4000);
  // Restored, the view picks up where it was.
  view_.Resize(200, 100);
  EXPECT_EQ(view_.Width(), 4000);
  EXPECT_EQ(view_.Height(), 2000);
}

TEST_F(MapViewTest, AHandDragPutsTheGrabbedPointUnderThePointer) {
  view_.Resize(200, 100);
  SetViewTo(1000000, 1000000, 2000, 1000);
  const MapPoint origin = view_.Transform().GetWorldOrigin();
  // Ten map units a pixel: 30 pixels right and 5 up move the origin 300 west and 50 south.
  view_.PanByPixels(100, 50, 130, 45);
  EXPECT_EQ(view_.Transform().GetWorldOrigin().x, origin.x - 300);
  EXPECT_EQ(view_.Transform().GetWorldOrigin().y, origin.y + 50);
  EXPECT_EQ(view_.Width(), 2000);
}

TEST_F(MapViewTest, TheScaleIsTheGroundOfAPixelAtTheCentreOverThePixelsWidth) {
  EXPECT_EQ(view_.ScaleAtCentre(96.0), 0.0);  // no client area yet
  view_.Resize(400, 300);
  struct Case {
    double latitude;
    int32_t unitsPerPixel;
    double dpi;
    double scale;  // ground metres a pixel over 0.0254 / dpi
  };
  const Case cases[] = {{0.0, 1, 96.0, 0.02 * 96 / 0.0254},
                        {0.0, 50, 96.0, 1.0 * 96 / 0.0254},
                        {60.0, 50, 96.0, 0.5 * 96 / 0.0254},
                        {60.0, 50, 192.0, 0.5 * 192 / 0.0254}};
  for (const Case& c : cases) {
    MapPoint centre;
    GetMapProjection().GeoToMap(c.latitude, 10.0, centre);
    view_.ZoomToWidth(400 * c.unitsPerPixel);
    view_.CenterOn(centre);
    EXPECT_NEAR(view_.ScaleAtCentre(c.dpi), c.scale, c.scale * 1e-4) << c.latitude << " " << c.unitsPerPixel;
  }
}

}  // namespace
}  // namespace kestrune
