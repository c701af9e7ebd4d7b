#include "mapview/gui/MeasureTool.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include <QPainter>
#include <QPen>
#include <QPolygon>

#include "base/Preferences.h"
#include "geo/CMapTransform.h"
#include "geo/MapProjection.h"
#include "geo/gui/QPainterCanvas.h"
#include "lang/LangString.h"
#include "mapview/gui/CMapWnd.h"
#include "shapes/AttributeReport.h"

namespace kestrune {

double GroundArea(const std::vector<MapPoint>& ring, bool inFeet) {
  if (ring.size() < 3) return 0.0;
  double twice = 0.0;
  MapRect b{ring[0].x, ring[0].y, ring[0].x, ring[0].y};  // left, top, right, bottom
  for (size_t i = 0; i < ring.size(); ++i) {
    const MapPoint& p = ring[i];
    const MapPoint& q = ring[(i + 1) % ring.size()];
    twice += static_cast<double>(p.x) * q.y - static_cast<double>(q.x) * p.y;
    b.left = std::min(b.left, p.x);
    b.right = std::max(b.right, p.x);
    b.top = std::max(b.top, p.y);
    b.bottom = std::min(b.bottom, p.y);
  }
  const double box = (static_cast<double>(b.top) - b.bottom) * (static_cast<double>(b.right) - b.left);
  if (!(box > 0.0)) return 0.0;
  const MapProjection& projection = GetMapProjection();
  const double height = projection.Distance({b.left, b.top}, {b.left, b.bottom}, inFeet);
  const double width = projection.Distance({b.left, b.top}, {b.right, b.top}, inFeet);
  return std::fabs(width * height * (twice / 2.0) / box);
}

// The measure tool shows a cross over the map.
CMeasureTool::CMeasureTool(CMapWnd& window) : CMapTool(window, QCursor(Qt::CrossCursor)) { Report(); }

// Adds a point, closes the shape at its first point, or starts anew after a closed one.
void CMeasureTool::OnLButtonDown(unsigned, int x, int y) {
  if (closed_) Clear();
  if (points_.size() >= 3) {
    const MapPoint first = points_.front();
    DevicePoint at{};
    Transform().WorldToDeviceArray(&first, 1, &at);
    if (std::abs(at.x - x) <= kCloseSlop && std::abs(at.y - y) <= kCloseSlop) {
      closed_ = true;
      Report();
      return;
    }
  }
  const MapPoint p = ToMap(x, y);
  if (points_.empty() || !(points_.back() == p)) points_.push_back(p);
  Report();
}

// Closes the shape (the double click's own press has added its point).
void CMeasureTool::OnLButtonDblClk(unsigned, int, int) {
  if (points_.size() >= 3) closed_ = true;
  Report();
}

void CMeasureTool::OnMouseWheel(unsigned, int delta, int screenX, int screenY) {
  WheelZoom(delta, screenX, screenY);
}

void CMeasureTool::Clear() {
  points_.clear();
  closed_ = false;
  Report();
}

double CMeasureTool::Length(bool inFeet) const {
  std::vector<MapPoint> path = points_;
  if (closed_ && !path.empty()) path.push_back(path.front());
  return GroundLength(path, inFeet);
}

double CMeasureTool::Area(bool inFeet) const { return closed_ ? GroundArea(points_, inFeet) : 0.0; }

std::string CMeasureTool::Text() const {
  if (points_.empty()) return LangText(kMeasureStartText);
  const bool metric = GetPreferences().IsMetric();
  std::string length = FormatLengthText(Length(!metric), metric, false);
  if (length.empty()) length = metric ? "0.00 m" : "0.00 ft";
  std::string text = LangText(kMeasureLengthLabel) + ": " + length;
  if (closed_) {
    std::string area = FormatAreaText(Area(!metric), metric);
    if (area.empty()) area = metric ? "0.00 ha" : "0.00 ac";
    text += "  " + LangText(kMeasureAreaLabel) + ": " + area;
  }
  return text;
}

// Tells the window the text and repaints the drawn path.
void CMeasureTool::Report() {
  Window().ShowMeasureText(Text());
  Window().update();
}

// The path in two contrasting colours, closed once the shape is closed.
void CMeasureTool::DrawOverlay(QPainter& painter) {
  CMapTool::DrawOverlay(painter);
  if (points_.empty()) return;
  QPolygon polygon;
  for (const MapPoint& p : points_) {
    DevicePoint d{};
    Transform().WorldToDeviceArray(&p, 1, &d);
    polygon << QPoint(d.x, d.y);
  }
  painter.save();
  painter.setBrush(Qt::NoBrush);
  QPen dark(ToQColor(kRubberBandDark), 3);
  QPen light(ToQColor(kRubberBandLight), 1, Qt::DashLine);
  for (const QPen& pen : {dark, light}) {
    painter.setPen(pen);
    if (closed_) {
      painter.drawPolygon(polygon);
    } else {
      painter.drawPolyline(polygon);
    }
  }
  for (const QPoint& p : polygon) painter.fillRect(QRect(p.x() - 2, p.y() - 2, 5, 5), ToQColor(kRubberBandDark));
  painter.restore();
}

}  // namespace kestrune
