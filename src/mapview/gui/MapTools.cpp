#include "mapview/gui/MapTools.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include <QPainter>
#include <QRegion>
#include <QWidget>

#include "base/gui/AppResources.h"
#include "geo/CMapTransform.h"
#include "geo/gui/QPainterCanvas.h"
#include "mapview/gui/CMapWnd.h"

namespace kestrune {

namespace {

CRubberBand* g_rubberBand = nullptr;

// The rectangle with left <= right and top <= bottom.
DeviceRect Normalised(DeviceRect r) {
  if (r.left > r.right) std::swap(r.left, r.right);
  if (r.top > r.bottom) std::swap(r.top, r.bottom);
  return r;
}

// The pixels a one-pixel outline of the rectangle covers (right and bottom
// excluded, as a box covers only its left and top edges).
QRegion OutlineRegion(const DeviceRect& rect) {
  const DeviceRect r = Normalised(rect);
  const int w = r.right - r.left;
  const int h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return QRegion();
  QRegion region(r.left, r.top, w, 1);
  region += QRect(r.left, r.bottom - 1, w, 1);
  region += QRect(r.left, r.top, 1, h);
  region += QRect(r.right - 1, r.top, 1, h);
  return region;
}

}  // namespace

// ---------------------------------------------------------------- rubber band

CRubberBand::CRubberBand(int anchorX, int anchorY)
    : anchorX_(anchorX), anchorY_(anchorY), currentX_(anchorX), currentY_(anchorY) {
  // One band per process: a new drag replaces whatever an earlier one left.
  delete g_rubberBand;
  g_rubberBand = this;
}

// Clears the process-wide band when it is this one.
CRubberBand::~CRubberBand() {
  if (g_rubberBand == this) g_rubberBand = nullptr;
}

// The band of the drag in progress, or none.
CRubberBand* CRubberBand::Current() { return g_rubberBand; }

// Moves the corner opposite the anchor.
void CRubberBand::SetCurrentPoint(int x, int y) {
  currentX_ = x;
  currentY_ = y;
}

// Erases the last outline and/or draws the current one, by phase.
void CRubberBand::Draw(QWidget& window, int phase) {
  if (drawn_ && phase != kBandDrawOnly) {
    drawn_ = false;
    window.update(OutlineRegion(lastDrawn_));
  }
  if (phase != kBandEraseOnly) {
    lastDrawn_ = GetRect();
    drawn_ = true;
    window.update(OutlineRegion(lastDrawn_));
  }
}

// The outline in two contrasting colours, black under white dashes, so it
// shows over any ground: dense points, white paper or a dark fill.
void CRubberBand::Paint(QPainter& painter) const {
  if (!drawn_) return;
  const DeviceRect r = Normalised(lastDrawn_);
  const int w = r.right - r.left;
  const int h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return;
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
  if (w <= 2 || h <= 2) {
    painter.fillRect(QRect(r.left, r.top, w, h), ToQColor(kRubberBandDark));
  } else {
    QPen dark(ToQColor(kRubberBandDark), 0, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
    dark.setCosmetic(true);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(dark);
    painter.drawRect(QRect(r.left, r.top, w - 1, h - 1));
    QPen light(ToQColor(kRubberBandLight), 0, Qt::CustomDashLine, Qt::FlatCap, Qt::MiterJoin);
    light.setCosmetic(true);
    light.setDashPattern({4, 4});
    painter.setPen(light);
    painter.drawRect(QRect(r.left, r.top, w - 1, h - 1));
  }
  painter.restore();
}

// ---------------------------------------------------------------- tool base

CMapTool::CMapTool(CMapWnd& window, std::optional<QCursor> cursor)
    : toolCursor_(std::move(cursor)), window_(window), transform_(window.Transform()) {
  if (toolCursor_) {
    // The window shows the tool's cursor everywhere over it until the tool goes.
    if (window_.testAttribute(Qt::WA_SetCursor)) savedCursor_ = window_.cursor();
    window_.setCursor(*toolCursor_);
  }
}

// Puts back the window's cursor when the tool had its own.
CMapTool::~CMapTool() {
  if (!toolCursor_) return;
  if (savedCursor_) {
    window_.setCursor(*savedCursor_);
  } else {
    window_.unsetCursor();
  }
}

// The base tool ignores every mouse message.
void CMapTool::OnLButtonDown(unsigned, int, int) {}
void CMapTool::OnLButtonUp(unsigned, int, int) {}
void CMapTool::OnRButtonDown(unsigned, int, int) {}
void CMapTool::OnRButtonUp(unsigned, int, int) {}
void CMapTool::OnMouseMove(unsigned, int, int) {}
void CMapTool::OnLButtonDblClk(unsigned, int, int) {}
void CMapTool::OnRButtonDblClk(unsigned, int, int) {}
void CMapTool::OnMouseWheel(unsigned, int, int, int) {}

// Paints the band of a drag in progress.
void CMapTool::DrawOverlay(QPainter& painter) {
  if (CRubberBand* band = CRubberBand::Current()) band->Paint(painter);
}

// A client pixel as a map point.
MapPoint CMapTool::ToMap(int x, int y) const {
  const DevicePoint pixel{x, y};
  MapPoint point;
  transform_.DeviceToWorld(&pixel, 1, &point);
  return point;
}

// Captures the mouse and anchors a band at the pixel.
void CMapTool::BeginDrag(int x, int y) {
  window_.SetCapture();
  new CRubberBand(x, y);
}

// Ends a drag at the pixel: erases and deletes the band, returns its rectangle in order.
bool CMapTool::EndDrag(int x, int y, DeviceRect& rect, bool collapseClick) {
  if (!window_.HasCapture()) return false;
  window_.ReleaseCapture();
  CRubberBand* band = CRubberBand::Current();
  if (!band) return false;
  band->Draw(window_, kBandEraseOnly);
  band->SetCurrentPoint(x, y);
  rect = band->GetRect();
  delete band;
  if (collapseClick && std::abs(rect.right - rect.left) <= CSelectTool::kClickSlop &&
      std::abs(rect.bottom - rect.top) <= CSelectTool::kClickSlop) {
    rect = {rect.left, rect.top, rect.left, rect.top};
  }
  rect = Normalised(rect);
  return true;
}

// Zooms one step about the map point under the wheel, if it is over the window.
void CMapTool::WheelZoom(int delta, int screenX, int screenY) {
  const QPoint topLeft = window_.mapToGlobal(QPoint(0, 0));
  // A wheel message can come to the window while the mouse is elsewhere (it
  // has the focus); only a position over the window zooms.
  if (!QRect(topLeft, window_.size()).contains(screenX, screenY)) return;
  const MapPoint at = ToMap(screenX - topLeft.x(), screenY - topLeft.y());
  if (delta < 0) {
    window_.GetMapView().ZoomOut(&at);
  } else {
    window_.GetMapView().ZoomIn(&at);
  }
}

// ---------------------------------------------------------------- select tool

// The select tool shows the window's own cursor.
CSelectTool::CSelectTool(CMapWnd& window) : CMapTool(window, std::nullopt) {}

// Starts a selection drag.
void CSelectTool::OnLButtonDown(unsigned, int x, int y) { BeginDrag(x, y); }

// Moves the band of a drag in progress.
void CSelectTool::OnMouseMove(unsigned, int x, int y) {
  CRubberBand* band = CRubberBand::Current();
  if (!Window().HasCapture() || !band) return;
  band->SetCurrentPoint(x, y);
  band->Draw(Window(), kBandMove);
}

// A click selects the record under it, a drag the records wholly inside;
// Shift or Ctrl adds to the selection.
void CSelectTool::OnLButtonUp(unsigned flags, int x, int y) {
  DeviceRect r;
  if (!EndDrag(x, y, r, true)) return;
  const MapPoint topLeft = ToMap(r.left, r.top);
  const MapPoint bottomRight = ToMap(r.right, r.bottom);
  const bool extend = (flags & (kMouseShift | kMouseControl)) != 0;
  Window().SelectInRect(MapRect{topLeft.x, topLeft.y, bottomRight.x, bottomRight.y}, extend);
}

// Selects the record under the pointer alone and opens its attributes.
void CSelectTool::OnLButtonDblClk(unsigned, int x, int y) {
  const MapPoint at = ToMap(x, y);
  Window().SelectInRect(MapRect{at.x, at.y, at.x, at.y}, false);
  Window().EditSelectedAttributes();
}

// Opens the selection's menu at the pixel.
void CSelectTool::OnRButtonDown(unsigned, int x, int y) { Window().ShowContextMenu(ToMap(x, y)); }

// Zooms about the pointer.
void CSelectTool::OnMouseWheel(unsigned, int delta, int screenX, int screenY) {
  WheelZoom(delta, screenX, screenY);
}

// ---------------------------------------------------------------- zoom tool

// The zoom tool shows cursor 134 over the map while it exists.
CZoomTool::CZoomTool(CMapWnd& window) : CMapTool(window, ZoomCursor()) {}

// Starts a zoom drag.
void CZoomTool::OnLButtonDown(unsigned, int x, int y) { BeginDrag(x, y); }

// Moves the band of a drag in progress.
void CZoomTool::OnMouseMove(unsigned, int x, int y) {
  CRubberBand* band = CRubberBand::Current();
  if (!Window().HasCapture() || !band) return;
  band->SetCurrentPoint(x, y);
  band->Draw(Window(), kBandMove);
}

// A drag zooms to its rectangle; a click centres on the point and zooms in by two.
void CZoomTool::OnLButtonUp(unsigned, int x, int y) {
  DeviceRect r;
  if (!EndDrag(x, y, r, false)) return;
  const int64_t w = r.right - r.left;
  const int64_t h = r.bottom - r.top;
  MapView& view = Window().GetMapView();
  if (w * w + h * h >= kMinDragSquared) {
    const MapPoint topLeft = ToMap(r.left, r.top);
    const MapPoint bottomRight = ToMap(r.right, r.bottom);
    MapRect rect{topLeft.x, topLeft.y, bottomRight.x, bottomRight.y};
    view.ZoomToRect(rect, true);
  } else {
    view.CenterOn(ToMap(x, y));
    view.ZoomIn(nullptr);
  }
}

// Centres on the pixel and zooms out by two.
void CZoomTool::OnRButtonDown(unsigned, int x, int y) {
  MapView& view = Window().GetMapView();
  view.CenterOn(ToMap(x, y));
  view.ZoomOut(nullptr);
}

// Zooms about the pointer.
void CZoomTool::OnMouseWheel(unsigned, int delta, int screenX, int screenY) {
  WheelZoom(delta, screenX, screenY);
}

}  // namespace kestrune
