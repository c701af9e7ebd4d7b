// The measure tool: each left click adds a map point; the status text gives
// the ground length along the points and, once the shape is closed (a double
// click, or a click on the first point), its ground area, in the user's units
// and with the ground computation of a record's Length and Area rows.
#pragma once

#include <string>
#include <vector>

#include "geo/MapPoint.h"
#include "mapview/gui/MapTools.h"

namespace kestrune {

constexpr const char* kMeasureLengthLabel = "#20710002:Length";
constexpr const char* kMeasureAreaLabel = "#20710003:Area";
constexpr const char* kMeasureStartText = "#20710004:Measure: click points on the map; double-click or click the first point to close; Esc clears.";

// Ground area of a closed ring of map points, in square metres or square
// feet: the ring's map area scaled by the ground size of its bounds, as a
// record's calculated area is. 0 for fewer than three points.
double GroundArea(const std::vector<MapPoint>& ring, bool inFeet);

class CMeasureTool : public CMapTool {
 public:
  // A click within this many pixels (both axes) of the first point closes the shape.
  static constexpr int kCloseSlop = 5;

  explicit CMeasureTool(CMapWnd& window);
  void OnLButtonDown(unsigned flags, int x, int y) override;
  void OnLButtonDblClk(unsigned flags, int x, int y) override;
  void OnMouseWheel(unsigned flags, int delta, int screenX, int screenY) override;
  void DrawOverlay(QPainter& painter) override;

  // Forgets the points (Esc).
  void Clear();
  const std::vector<MapPoint>& Points() const { return points_; }
  bool IsClosed() const { return closed_; }
  // Ground length along the points (back to the first when closed), metres or feet.
  double Length(bool inFeet) const;
  // Ground area when closed, else 0.
  double Area(bool inFeet) const;
  // "Length: 1.23 km  Area: 4.56 ha" in the preferences' units; the hint with no points.
  std::string Text() const;

 private:
  void Report();

  std::vector<MapPoint> points_;
  bool closed_ = false;
};

}  // namespace kestrune
