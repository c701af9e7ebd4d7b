// The map window in the real main window: selection by click, Shift/Ctrl and
// rectangle on a real file, the point-line-area preference, the double click
// and the right-button menu, the zoom tool, the wheel, the keys and the zoom
// limits, the rubber band and the drawing order of the layers.
#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include <tuple>

#include <QAction>
#include <QApplication>
#include <QImage>
#include <QListWidget>
#include <QMenu>
#include <QTimer>
#include <QWheelEvent>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include "app/Commands.h"
#include "mapview/gui/MapTools.h"
#include "mapview/MapView.h"
#include "shapes/DbfTestTables.h"
#include "shapes/ShapeTestFiles.h"
#include "mapview/gui/ReportWatcher.h"
#include "support/ViewerFixture.h"

namespace kestrune::test {
namespace {

std::set<Shape*> Selected(const Layer* layer) {
  const std::vector<Shape*>& s = layer->GetSelection();
  return std::set<Shape*>(s.begin(), s.end());
}

// Sends a turn of the wheel with the pointer at a screen position.
void Wheel(QWidget* target, const QPoint& global, int delta, Qt::Orientation orientation = Qt::Vertical) {
  const QPoint local = target->mapFromGlobal(global);
  const QPoint angle = orientation == Qt::Vertical ? QPoint(0, delta) : QPoint(delta, 0);
  QWheelEvent event(QPointF(local), QPointF(global), QPoint(), angle, Qt::NoButton, Qt::NoModifier,
                    Qt::NoScrollPhase, false);
  QApplication::sendEvent(target, &event);
}

// A drag with the left button from one pixel to another.
void Drag(QWidget* target, const QPoint& from, const QPoint& to, Qt::KeyboardModifiers modifiers = {}) {
  QTest::mousePress(target, Qt::LeftButton, modifiers, from);
  QTest::mouseMove(target, (from + to) / 2);
  QTest::mouseMove(target, to);
  QTest::mouseRelease(target, Qt::LeftButton, modifiers, to);
}

// The view of a headless MapView copied from the window's, to work out what
// an operation must give.
MapView CopyOf(MapView& view) {
  MapView copy;
  copy.Resize(view.ClientWidth(), view.ClientHeight());
  copy.Transform().SetWorldOrigin(view.Transform().GetWorldOrigin());
  copy.Transform().SetWorldExtent(view.Width(), view.Height());
  return copy;
}

class MapWndTest : public ViewerFixture {
 protected:
  // The applicator log, zoomed to itself, painted once.
  Layer* OpenPoints() {
    if (!Open(CopyTestSet("field/as-applied-simple1.shp"))) return nullptr;
    QApplication::processEvents();
    return Active();
  }

  // A record near the middle of the layer's list, and its pixel.
  Shape* MiddleRecord(Layer* layer, int which = 0) {
    auto it = layer->Records().begin();
    std::advance(it, static_cast<long>(layer->GetRecordCount() / 2 + static_cast<std::size_t>(which) * 37));
    return *it;
  }
  QPoint PixelOfRecord(Shape* shape) { return PixelOf(static_cast<PointShape*>(shape)->GetPoint()); }

  // What a click at a pixel must select: the layer's best record there.
  Shape* BestAt(Layer* layer, const QPoint& pixel) { return layer->HitTestPoint(MapOf(pixel)); }
};

TEST_F(MapWndTest, AClickSelectsTheRecordUnderItAndShiftOrCtrlAddToTheSelection) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  Layer* layer = OpenPoints();
  ASSERT_NE(layer, nullptr);
  CMapWnd* map = MapWnd();
  const QPoint p1 = PixelOfRecord(MiddleRecord(layer, 0));
  const QPoint p2 = PixelOfRecord(MiddleRecord(layer, 5));
  const QPoint p3 = PixelOfRecord(MiddleRecord(layer, 9));
  Shape* r1 = BestAt(layer, p1);
  Shape* r2 = BestAt(layer, p2);
  Shape* r3 = BestAt(layer, p3);
  ASSERT_TRUE(r1 && r2 && r3);
  ASSERT_TRUE(r1 != r2 && r2 != r3 && r1 != r3);

  QTest::mouseClick(map, Qt::LeftButton, {}, p1);
  EXPECT_EQ(Selected(layer), (std::set<Shape*>{r1}));
  QTest::mouseClick(map, Qt::LeftButton, Qt::ShiftModifier, p2);
  EXPECT_EQ(Selected(layer), (std::set<Shape*>{r1, r2}));
  QTest::mouseClick(map, Qt::LeftButton, Qt::ControlModifier, p3);
  EXPECT_EQ(Selected(layer), (std::set<Shape*>{r1, r2, r3}));
  // A plain click replaces the selection.
  QTest::mouseClick(map, Qt::LeftButton, {}, p2);
  EXPECT_EQ(Selected(layer), (std::set<Shape*>{r2}));
  // The map window has the keyboard focus after a click.
  EXPECT_TRUE(map->hasFocus());

  // A Shift-click on empty ground keeps the selection; a plain one clears it.
  const QPoint corner(3, 3);
  ASSERT_EQ(BestAt(layer, corner), nullptr);
  QTest::mouseClick(map, Qt::LeftButton, Qt::ShiftModifier, corner);
  EXPECT_EQ(Selected(layer), (std::set<Shape*>{r2}));
  QTest::mouseClick(map, Qt::LeftButton, {}, corner);
  EXPECT_TRUE(Selected(layer).empty());
}

TEST_F(MapWndTest, ADragOfUpToFivePixelsIsAClickAtItsStart) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  Layer* layer = OpenPoints();
  ASSERT_NE(layer, nullptr);
  const QPoint start = PixelOfRecord(MiddleRecord(layer, 2));
  Shape* expected = BestAt(layer, start);
  ASSERT_NE(expected, nullptr);
  Drag(MapWnd(), start, start + QPoint(5, -5));
  EXPECT_EQ(Selected(layer), (std::set<Shape*>{expected}));
  // Six pixels is a rectangle, too small to hold a whole symbol here.
  Drag(MapWnd(), start, start + QPoint(6, 5));
  EXPECT_TRUE(Selected(layer).empty());
}

TEST_F(MapWndTest, ARectangleSelectsOnlyRecordsWhollyInsideIt) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  Layer* layer = OpenPoints();
  ASSERT_NE(layer, nullptr);
  const QPoint centre = PixelOfRecord(MiddleRecord(layer));
  const QPoint from = centre - QPoint(90, 60);
  const QPoint to = centre + QPoint(90, 60);
  // Dragged from the bottom right to the top left: the same rectangle.
  Drag(MapWnd(), to, from);

  const MapPoint tl = MapOf(from), br = MapOf(to);
  std::set<Shape*> inside;
  int straddling = 0;
  for (Shape* s : layer->Records()) {
    const MapRect h = s->GetHitBounds();
    const bool wholly = h.left >= tl.x && h.right <= br.x && h.top >= tl.y && h.bottom <= br.y;
    const bool touches = h.right >= tl.x && h.left <= br.x && h.bottom >= tl.y && h.top <= br.y;
    if (wholly) inside.insert(s);
    if (touches && !wholly) ++straddling;
  }
  ASSERT_GT(inside.size(), 3u);
  // Records partly inside exist and are left out.
  EXPECT_GT(straddling, 0);
  EXPECT_EQ(Selected(layer), inside);

  // A Shift-drag elsewhere adds its records; a Shift-drag over empty ground changes nothing.
  const QPoint other = centre + QPoint(0, 150);
  Drag(MapWnd(), other - QPoint(40, 20), other + QPoint(40, 20), Qt::ShiftModifier);
  const MapPoint tl2 = MapOf(other - QPoint(40, 20)), br2 = MapOf(other + QPoint(40, 20));
  std::set<Shape*> both = inside;
  for (Shape* s : layer->Records()) {
    const MapRect h = s->GetHitBounds();
    if (h.left >= tl2.x && h.right <= br2.x && h.top >= tl2.y && h.bottom <= br2.y) both.insert(s);
  }
  ASSERT_GT(both.size(), inside.size());
  EXPECT_EQ(Selected(layer), both);
  Drag(MapWnd(), QPoint(2, 2), QPoint(30, 20), Qt::ShiftModifier);
  EXPECT_EQ(Selected(layer), both);
}

TEST_F(MapWndTest, APointBeatsALineWhichBeatsAnArea) {
  // One point record in a file; a line through it and an area around it are
  // added to the same layer.
  const double lon = -93.6, lat = 42.0;
  const std::filesystem::path shp = dir_ / "spot.shp";
  WriteFileBytes(shp, ShpBuilder(1).Point(lon, lat).Bytes());
  DbfTableLayout table;
  table.fields = {{"ID", 'N', 4, 0}};
  table.rows = {" " + Right("1", 4)};
  WriteFileBytes(dir_ / "spot.dbf", MakeDbf(table));
  ASSERT_TRUE(Open(shp));
  Layer* layer = Active();
  ASSERT_EQ(layer->GetRecordCount(), 1u);
  auto* point = static_cast<PointShape*>(*layer->Records().begin());
  const MapPoint p = point->GetPoint();
  Shape* line = layer->CreateRecord(kRecordLine, 2, true);
  const MapPoint linePoints[] = {{p.x - 3000, p.y}, {p.x + 3000, p.y}};
  line->AddPoints(linePoints, 2);
  line->FinishGeometry();
  Shape* area = layer->CreateRecord(kRecordArea, 3, true);
  const MapPoint ring[] = {{p.x - 5000, p.y - 5000}, {p.x + 5000, p.y - 5000}, {p.x + 5000, p.y + 5000},
                           {p.x - 5000, p.y + 5000}, {p.x - 5000, p.y - 5000}};
  area->AddPoints(ring, 5);
  area->FinishGeometry();
  layer->ApplyColors();
  frame_->ExecuteCommand(kIdZoomActiveFile);
  QApplication::processEvents();

  // One pixel right of the point's centre: still on its symbol, and on the line.
  const QPoint at = PixelOf(p) + QPoint(1, 0);
  ASSERT_LT(point->HitDistance(MapOf(at)), kNoHit);
  ASSERT_LT(line->HitDistance(MapOf(at)), kNoHit);
  ASSERT_LT(area->HitDistance(MapOf(at)), kNoHit);
  QTest::mouseClick(MapWnd(), Qt::LeftButton, {}, at);
  EXPECT_EQ(Selected(layer), (std::set<Shape*>{point}));
  layer->RemoveRecord(point);
  QTest::mouseClick(MapWnd(), Qt::LeftButton, {}, at);
  EXPECT_EQ(Selected(layer), (std::set<Shape*>{line}));
  layer->RemoveRecord(line);
  QTest::mouseClick(MapWnd(), Qt::LeftButton, {}, at);
  EXPECT_EQ(Selected(layer), (std::set<Shape*>{area}));
}

TEST_F(MapWndTest, ADoubleClickOpensTheAttributesOfTheRecordUnderIt) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  Layer* layer = OpenPoints();
  ASSERT_NE(layer, nullptr);
  ReportWatcher reports;
  // Something else selected first: the double click selects its record alone.
  QTest::mouseClick(MapWnd(), Qt::LeftButton, {}, PixelOfRecord(MiddleRecord(layer, 3)));
  const QPoint at = PixelOfRecord(MiddleRecord(layer, 0));
  Shape* expected = BestAt(layer, at);
  ASSERT_NE(expected, nullptr);
  QTest::mouseClick(MapWnd(), Qt::LeftButton, {}, at);
  QTest::mouseDClick(MapWnd(), Qt::LeftButton, {}, at);
  QTest::mouseRelease(MapWnd(), Qt::LeftButton, {}, at);
  ASSERT_EQ(reports.records.size(), 1u);
  EXPECT_EQ(reports.records[0], expected->GetRecordNumber());
  EXPECT_EQ(reports.parents[0], static_cast<QWidget*>(MapWnd()));
  EXPECT_EQ(Selected(layer), (std::set<Shape*>{expected}));
  // On empty ground there is nothing to show.
  QTest::mouseDClick(MapWnd(), Qt::LeftButton, {}, QPoint(3, 3));
  QTest::qWait(30);
  EXPECT_EQ(reports.records.size(), 1u);
}

TEST_F(MapWndTest, TheRightButtonMenuOffersTheSelectionsCommands) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  Layer* layer = OpenPoints();
  ASSERT_NE(layer, nullptr);
  ReportWatcher reports;

  // Without a selection no menu comes up.
  bool sawMenu = false;
  QTimer guard;
  guard.setInterval(50);
  QObject::connect(&guard, &QTimer::timeout, [&] {
    if (QWidget* popup = QApplication::activePopupWidget()) {
      sawMenu = true;
      popup->close();
    }
  });
  guard.start();
  QTest::mouseClick(MapWnd(), Qt::RightButton, {}, QPoint(50, 50));
  QTest::qWait(120);
  guard.stop();
  EXPECT_FALSE(sawMenu);

  const QPoint at = PixelOfRecord(MiddleRecord(layer));
  QTest::mouseClick(MapWnd(), Qt::LeftButton, {}, at);
  Shape* selected = BestAt(layer, at);
  ASSERT_EQ(Selected(layer), (std::set<Shape*>{selected}));
  std::vector<std::string> items;
  QPoint menuPosition;
  QTimer::singleShot(0, [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu) return;
    for (QAction* a : menu->actions()) items.push_back(a->text().toStdString());
    menuPosition = menu->pos();
    QTest::keyClick(menu, Qt::Key_Down);
    QTest::keyClick(menu, Qt::Key_Return);
  });
  QTest::mousePress(MapWnd(), Qt::RightButton, {}, QPoint(200, 150));
  QTest::mouseRelease(MapWnd(), Qt::RightButton, {}, QPoint(200, 150));
  EXPECT_EQ(items, (std::vector<std::string>{"Attributes"}));
  EXPECT_EQ(menuPosition, MapWnd()->mapToGlobal(QPoint(200, 150)));
  QTest::qWait(30);
  EXPECT_EQ(reports.records, (std::vector<int>{selected->GetRecordNumber()}));
  EXPECT_EQ(reports.parents, (std::vector<QWidget*>{MapWnd()}));
}

TEST_F(MapWndTest, TheZoomToolZoomsToADragInAtAClickAndOutAtARightClick) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  ASSERT_NE(OpenPoints(), nullptr);
  CMapWnd* map = MapWnd();
  MapView& view = map->GetMapView();
  EXPECT_EQ(map->cursor().shape(), Qt::ArrowCursor);
  frame_->ExecuteCommand(kIdZoomTool);
  ASSERT_TRUE(map->IsZoomToolActive());
  EXPECT_TRUE(frame_->Action(kIdZoomTool)->isChecked());
  // Cursor 134 is a picture of its own.
  EXPECT_EQ(map->cursor().shape(), Qt::BitmapCursor);

  // A drag: the view becomes the dragged rectangle with the margin.
  MapView expected = CopyOf(view);
  const QPoint from(120, 100), to(420, 260);
  MapRect dragged{MapOf(from).x, MapOf(from).y, MapOf(to).x, MapOf(to).y};
  expected.ZoomToRect(dragged, true);
  Drag(map, from, to);
  EXPECT_EQ(view.Transform().GetWorldOrigin(), expected.Transform().GetWorldOrigin());
  EXPECT_EQ(view.Width(), expected.Width());
  EXPECT_EQ(view.Height(), expected.Height());

  // A click (a drag whose diagonal is under 10 pixels) centres on the release
  // point and halves the width.
  const int32_t width = view.Width();
  const QPoint release(300, 200);
  const MapPoint target = MapOf(release);
  Drag(map, release - QPoint(6, 7), release);
  EXPECT_EQ(view.Width(), static_cast<int32_t>(width * 0.5));
  const MapPoint centre = MapOf(QPoint(view.ClientWidth() / 2, view.ClientHeight() / 2));
  const double unitsPerPixel = static_cast<double>(view.Width()) / view.ClientWidth();
  EXPECT_NEAR(centre.x, target.x, 2 * unitsPerPixel);
  EXPECT_NEAR(centre.y, target.y, 2 * unitsPerPixel);

  // A right click centres on its point and doubles the width.
  const int32_t before = view.Width();
  const MapPoint outTarget = MapOf(QPoint(100, 80));
  QTest::mouseClick(map, Qt::RightButton, {}, QPoint(100, 80));
  EXPECT_EQ(view.Width(), before * 2);
  const MapPoint outCentre = MapOf(QPoint(view.ClientWidth() / 2, view.ClientHeight() / 2));
  EXPECT_NEAR(outCentre.x, outTarget.x, 2.0 * view.Width() / view.ClientWidth());
  EXPECT_NEAR(outCentre.y, outTarget.y, 2.0 * view.Width() / view.ClientWidth());

  // Nothing selects while the zoom tool is active.
  EXPECT_EQ(Active()->GetSelectionCount(), 0);
  frame_->ExecuteCommand(kIdZoomTool);
  EXPECT_FALSE(map->IsZoomToolActive());
  EXPECT_FALSE(frame_->Action(kIdZoomTool)->isChecked());
  EXPECT_EQ(map->cursor().shape(), Qt::ArrowCursor);
}

TEST_F(MapWndTest, AtTheZoomOutLimitARightClickCentresAndBeeps) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  ASSERT_NE(OpenPoints(), nullptr);
  CMapWnd* map = MapWnd();
  MapView& view = map->GetMapView();
  map->ToggleZoomTool();
  view.SetZoomWidth(MapView::kMaxZoomOutExtent);
  const int32_t width = view.Width();
  const MapPoint origin = view.Transform().GetWorldOrigin();
  ASSERT_EQ(beeps_, 0);
  QTest::mouseClick(map, Qt::RightButton, {}, QPoint(600, 100));
  EXPECT_EQ(beeps_, 1);
  EXPECT_EQ(view.Width(), width);
  EXPECT_NE(view.Transform().GetWorldOrigin(), origin);
}

TEST_F(MapWndTest, TheWheelZoomsOneStepPerNotchAboutThePointer) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  ASSERT_NE(OpenPoints(), nullptr);
  CMapWnd* map = MapWnd();
  MapView& view = map->GetMapView();
  const QPoint pixel(250, 180);
  const QPoint global = map->mapToGlobal(pixel);

  for (const bool withZoomTool : {false, true}) {
    if (withZoomTool) map->ToggleZoomTool();
    const int32_t width = view.Width();
    const MapPoint under = MapOf(pixel);
    // A smooth wheel splits a notch (120) into eighths: one step in the eighth.
    for (int i = 0; i < 7; ++i) Wheel(map, global, 15);
    EXPECT_EQ(view.Width(), width);
    Wheel(map, global, 15);
    const int32_t once = static_cast<int32_t>(width * 0.5);
    EXPECT_EQ(view.Width(), once);
    EXPECT_NEAR(MapOf(pixel).x, under.x, 2.0 * view.Width() / view.ClientWidth());
    EXPECT_NEAR(MapOf(pixel).y, under.y, 2.0 * view.Width() / view.ClientWidth());
    // Two notches in one event, two steps.
    Wheel(map, global, 240);
    const int32_t thrice = static_cast<int32_t>(static_cast<int32_t>(once * 0.5) * 0.5);
    EXPECT_EQ(view.Width(), thrice);
    // Turning back: a part notch left over the other way does not count.
    Wheel(map, global, 100);
    Wheel(map, global, -60);
    EXPECT_EQ(view.Width(), thrice);
    Wheel(map, global, -60);
    EXPECT_EQ(view.Width(), thrice * 2);
    EXPECT_NEAR(MapOf(pixel).x, under.x, 2.0 * view.Width() / view.ClientWidth());
    Wheel(map, global, -240);
    EXPECT_EQ(view.Width(), thrice * 8);
  }

  // Outside the window, or sideways, nothing changes.
  const int32_t width = view.Width();
  const MapPoint origin = view.Transform().GetWorldOrigin();
  Wheel(map, map->mapToGlobal(QPoint(map->width() + 5, 10)), 120);
  Wheel(map, map->mapToGlobal(QPoint(-3, 10)), 120);
  Wheel(map, global, 120, Qt::Horizontal);
  EXPECT_EQ(view.Width(), width);
  EXPECT_EQ(view.Transform().GetWorldOrigin(), origin);
}

TEST_F(MapWndTest, KeysPanAndZoomAndTheZoomInLimitBeeps) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  ASSERT_TRUE(Open(CopyTestSet("field/boundary-simple1.shp")));
  ASSERT_NE(OpenPoints(), nullptr);
  CMapWnd* map = MapWnd();
  MapView& view = map->GetMapView();
  map->setFocus();

  const auto origin = [&] { return view.Transform().GetWorldOrigin(); };
  MapPoint o = origin();
  const int32_t w = view.Width(), h = view.Height();
  QTest::keyClick(map, Qt::Key_Left);
  EXPECT_EQ(origin(), (MapPoint{o.x + static_cast<int32_t>(-w * 0.25), o.y}));
  QTest::keyClick(map, Qt::Key_Right);
  EXPECT_EQ(origin(), o);
  QTest::keyClick(map, Qt::Key_Up);
  EXPECT_EQ(origin(), (MapPoint{o.x, o.y + static_cast<int32_t>(-h * 0.25)}));
  QTest::keyClick(map, Qt::Key_Down);
  EXPECT_EQ(origin(), o);
  QTest::keyClick(map, Qt::Key_I);
  EXPECT_EQ(view.Width(), static_cast<int32_t>(w * 0.5));
  QTest::keyClick(map, Qt::Key_O);
  EXPECT_EQ(view.Width(), static_cast<int32_t>(w * 0.5) * 2);

  // A zooms to all files together.
  MapView expected = CopyOf(view);
  std::vector<MapRect> bounds;
  for (Layer* layer : frame_->Layers().Layers()) bounds.push_back(layer->GetBounds());
  expected.ZoomAll(bounds);
  QTest::keyClick(map, Qt::Key_A);
  EXPECT_EQ(origin(), expected.Transform().GetWorldOrigin());
  EXPECT_EQ(view.Width(), expected.Width());
  EXPECT_EQ(beeps_, 0);

  // At the closest zoom I beeps and the view stays.
  MapRect tiny{o.x, o.y, o.x + 10, o.y + 10};
  view.ZoomToRect(tiny, false);
  const int32_t closest = view.Width();
  QTest::keyClick(map, Qt::Key_I);
  if (closest * 0.5 > MapView::kMinHalfExtent && view.Height() * 0.5 > MapView::kMinHalfExtent) {
    QTest::keyClick(map, Qt::Key_I);
  }
  const int32_t settled = view.Width();
  const int beepsBefore = beeps_;
  QTest::keyClick(map, Qt::Key_I);
  EXPECT_EQ(beeps_, beepsBefore + 1);
  EXPECT_EQ(view.Width(), settled);
  EXPECT_GE(beeps_, 1);
}

// Black and white pixels along a row or column of the picture.
std::pair<int, int> DarkAndLight(const QImage& picture, QPoint from, QPoint step, int count) {
  int dark = 0, light = 0;
  for (int i = 0; i < count; ++i, from += step) {
    const QColor c = picture.pixelColor(from);
    if (c == QColor(Qt::black)) ++dark;
    if (c == QColor(Qt::white)) ++light;
  }
  return {dark, light};
}

TEST_F(MapWndTest, TheRubberBandIsDrawnInTwoColoursAndGoesWithTheRelease) {
  CMapWnd* map = MapWnd();
  QApplication::processEvents();
  const QColor white(Qt::white);
  EXPECT_EQ(map->grab().toImage().pixelColor(60, 20), white);
  QTest::mousePress(map, Qt::LeftButton, {}, QPoint(20, 20));
  QTest::mouseMove(map, QPoint(120, 80));
  QImage picture = map->grab().toImage();
  // The outline covers x 20..119 and y 20..79 in dark and light dashes; inside stays white.
  for (const auto& [from, step, count] : {std::tuple{QPoint(20, 20), QPoint(1, 0), 100},
                                          std::tuple{QPoint(20, 20), QPoint(0, 1), 60},
                                          std::tuple{QPoint(119, 20), QPoint(0, 1), 60},
                                          std::tuple{QPoint(20, 79), QPoint(1, 0), 100}}) {
    const auto [dark, light] = DarkAndLight(picture, from, step, count);
    EXPECT_GE(dark, count / 3) << from.x() << "," << from.y();
    EXPECT_GE(light, count / 3) << from.x() << "," << from.y();
    EXPECT_EQ(dark + light, count);
  }
  EXPECT_EQ(picture.pixelColor(60, 50), white);
  EXPECT_EQ(picture.pixelColor(120, 50), white);
  EXPECT_EQ(picture.pixelColor(60, 80), white);
  // A repaint of everything keeps the band; a move leaves no trace of the old one.
  map->InvalidateMap(true);
  QTest::mouseMove(map, QPoint(100, 60));
  picture = map->grab().toImage();
  EXPECT_EQ(DarkAndLight(picture, QPoint(101, 20), QPoint(1, 0), 19).second, 19);
  EXPECT_EQ(DarkAndLight(picture, QPoint(20, 79), QPoint(1, 0), 100).second, 100);
  EXPECT_GE(DarkAndLight(picture, QPoint(20, 59), QPoint(1, 0), 80).first, 20);
  ASSERT_NE(CRubberBand::Current(), nullptr);
  QTest::mouseRelease(map, Qt::LeftButton, {}, QPoint(100, 60));
  EXPECT_EQ(CRubberBand::Current(), nullptr);
  EXPECT_FALSE(map->HasCapture());
  picture = map->grab().toImage();
  EXPECT_EQ(DarkAndLight(picture, QPoint(20, 59), QPoint(1, 0), 80).second, 80);
  // A release without a press in the window does nothing.
  QTest::mouseRelease(map, Qt::LeftButton, {}, QPoint(10, 10));
  EXPECT_EQ(CRubberBand::Current(), nullptr);
}

TEST_F(MapWndTest, EscCancelsADragInProgressWithoutItsAction) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  Layer* points = OpenPoints();
  ASSERT_NE(points, nullptr);
  CMapWnd* map = MapWnd();
  QApplication::processEvents();
  QTest::mousePress(map, Qt::LeftButton, {}, QPoint(2, 2));
  QTest::mouseMove(map, QPoint(map->width() - 2, map->height() - 2));
  ASSERT_NE(CRubberBand::Current(), nullptr);
  QTest::keyClick(map, Qt::Key_Escape);
  EXPECT_EQ(CRubberBand::Current(), nullptr);
  EXPECT_FALSE(map->HasCapture());
  QTest::mouseRelease(map, Qt::LeftButton, {}, QPoint(map->width() - 2, map->height() - 2));
  EXPECT_EQ(points->GetSelectionCount(), 0);
  // Without a drag, Esc changes nothing and the next drag selects.
  QTest::mousePress(map, Qt::LeftButton, {}, QPoint(2, 2));
  QTest::mouseMove(map, QPoint(map->width() - 2, map->height() - 2));
  QTest::mouseRelease(map, Qt::LeftButton, {}, QPoint(map->width() - 2, map->height() - 2));
  EXPECT_GT(points->GetSelectionCount(), 0);
}

TEST_F(MapWndTest, LayersAreDrawnOldestFirstSoTheNewestLiesOnTop) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  // The soil zones are opened last, so their filled areas cover the points.
  Layer* points = OpenPoints();
  ASSERT_NE(points, nullptr);
  ASSERT_TRUE(Open(CopyTestSet("field/ssurgo-simple1.shp")));
  Layer* soils = Active();
  frame_->ExecuteCommand(kIdZoomActiveFile);
  QApplication::processEvents();
  auto* record = static_cast<PointShape*>(MiddleRecord(points));
  const QPoint at = PixelOf(record->GetPoint());
  Shape* zone = soils->HitTestPoint(record->GetPoint());
  ASSERT_NE(zone, nullptr);
  const Color zoneColor = zone->GetColor();
  ASSERT_NE(zoneColor, record->GetColor());
  const QImage picture = MapWnd()->grab().toImage();
  EXPECT_EQ(picture.pixelColor(at), QColor(RedOf(zoneColor), GreenOf(zoneColor), BlueOf(zoneColor)));

  // With the points opened again, newest, they lie on top.
  ASSERT_TRUE(Open(CopyTestSet("field/as-applied-simple1.shp")));
  Layer* again = Active();
  MapRect b = soils->GetBounds();
  MapWnd()->GetMapView().ZoomToRect(b, true);
  QApplication::processEvents();
  auto* copy = static_cast<PointShape*>(MiddleRecord(again));
  const QImage over = MapWnd()->grab().toImage();
  const Color c = copy->GetColor();
  EXPECT_EQ(over.pixelColor(PixelOf(copy->GetPoint())), QColor(RedOf(c), GreenOf(c), BlueOf(c)));
}

TEST_F(MapWndTest, APartDrawnAgainMatchesTheWholePicture) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  ASSERT_TRUE(Open(CopyTestSet("field/ssurgo-simple1.shp")));
  Layer* points = OpenPoints();
  ASSERT_NE(points, nullptr);
  points->Select(MiddleRecord(points));
  MapWnd()->InvalidateMap(true);
  const QImage whole = MapWnd()->grab().toImage();
  // Parts at odd places, one reaching past the window's edge.
  for (const DeviceRect& part : {DeviceRect{101, 83, 297, 211}, DeviceRect{0, 0, 17, 9},
                                 DeviceRect{MapWnd()->width() - 50, 300, MapWnd()->width() + 40, 333}}) {
    MapWnd()->InvalidateRect(part, true);
    const QImage again = MapWnd()->grab().toImage();
    ASSERT_EQ(again.size(), whole.size());
    int differing = 0;
    for (int y = 0; y < whole.height(); ++y) {
      for (int x = 0; x < whole.width(); ++x) differing += whole.pixel(x, y) != again.pixel(x, y);
    }
    EXPECT_EQ(differing, 0) << "part at " << part.left << "," << part.top;
  }
}

}  // namespace
}  // namespace kestrune::test
