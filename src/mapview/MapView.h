// Which part of the map the map window shows: zoom, pan, centre and resize,
// acting on the window's transform. Headless, so the rules are tested without a window.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "geo/CMapTransform.h"
#include "geo/MapPoint.h"

namespace kestrune {

class MapView {
 public:
  // Widths and heights at or past these are refused with the beep.
  static constexpr double kMinHalfExtent = 50.0;
  static constexpr int32_t kMaxZoomOutExtent = 536870911;
  static constexpr int32_t kDefaultWidth = 5000;
  static constexpr int32_t kMinRectExtent = 50;

  MapView();

  CMapTransform& Transform() { return transform_; }
  const CMapTransform& Transform() const { return transform_; }

  // Called after every change of origin or extent (the window repaints everything).
  void SetInvalidateHandler(std::function<void()> handler) { invalidate_ = std::move(handler); }
  // Called instead after a move by whole pixels, with the pixels the view
  // moved east and south (the picture moves as much west and north).
  void SetPannedHandler(std::function<void(int, int)> handler) { panned_ = std::move(handler); }

  int ClientWidth() const { return clientWidth_; }
  int ClientHeight() const { return clientHeight_; }
  int32_t Width() const;
  int32_t Height() const;

  void Resize(int clientWidth, int clientHeight);
  void ZoomToWidth(int32_t width, const MapPoint* fixed = nullptr);
  void SetZoomWidth(int32_t width);
  void ZoomToRect(MapRect& rect, bool margin);
  void CenterOn(const MapPoint& point);
  void Pan(int32_t dx, int32_t dy);
  void ZoomIn(const MapPoint* point = nullptr);
  void ZoomOut(const MapPoint* point = nullptr);
  // Zooms to the union of the bounds, in list order; with none, to the default width.
  void ZoomAll(const std::vector<MapRect>& layerBounds);
  // Move the view by about a quarter of its width or height: a whole number
  // of pixels that is a whole number of map units, when the extent allows
  // one (nudged by a few map units when it does not).
  void PanLeft();
  void PanRight();
  void PanUp();
  void PanDown();
  // Moves the view so the map point under pixel `from` comes under pixel `to`
  // (a drag of the map by the hand); a move of whole pixels when it is one of
  // whole map units, or rounded to one within two pixels.
  void PanByPixels(int fromX, int fromY, int toX, int toY);
  // Moves the view dx pixels east and dy south when that is a whole number of
  // map units on both axes; false (nothing moved) otherwise.
  bool PanPixels(int dx, int dy);

  // The map's scale 1:N at the view's centre on a screen of dotsPerInch: the
  // ground a pixel covers there over the width of a pixel. 0 without a client area.
  double ScaleAtCentre(double dotsPerInch) const;

 private:
  bool HasClientArea() const { return clientWidth_ > 0 && clientHeight_ > 0; }
  void SetView(int64_t originX, int64_t originY, int64_t width, int64_t height);
  void Invalidate();
  // A quarter pan east (sx 1), west (-1), south (sy 1) or north (-1).
  void PanQuarter(int sx, int sy);

  CMapTransform transform_;
  int clientWidth_ = 0;
  int clientHeight_ = 0;
  std::function<void()> invalidate_;
  std::function<void(int, int)> panned_;
};

}  // namespace kestrune
