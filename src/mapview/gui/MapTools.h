// The mouse tools of the map window (select and zoom) and the rubber band both
// draw while the left button is held.
#pragma once

#include <optional>

#include <QCursor>

#include "geo/Canvas.h"
#include "grid/gui/MouseKeys.h"

class QPainter;
class QWidget;

namespace kestrune {

class CMapWnd;
class CMapTransform;

// Rubber band drawing phases.
constexpr int kBandMove = 0;      // erase the last rectangle, draw the current one
constexpr int kBandEraseOnly = 1;
constexpr int kBandDrawOnly = 2;

// The band's two colours: a solid dark line under light dashes.
constexpr Color kRubberBandDark = 0x000000;
constexpr Color kRubberBandLight = 0xFFFFFF;

// The rectangle dragged out with the left button; one at a time per process.
// The map window paints the drawn rectangle over the layers, so "drawing" a
// phase asks the window to repaint where the old and new outlines lie; the
// picture is the one an inverting pen would leave: drawn twice, it is gone.
class CRubberBand {
 public:
  // Anchored at a client pixel; the band that existed before is deleted.
  CRubberBand(int anchorX, int anchorY);
  ~CRubberBand();
  CRubberBand(const CRubberBand&) = delete;
  CRubberBand& operator=(const CRubberBand&) = delete;

  // The band that exists now, or none.
  static CRubberBand* Current();

  void SetCurrentPoint(int x, int y);
  // Phase 0 moves the band, 1 only erases it, 2 only draws it; the window
  // repaints the outlines concerned.
  void Draw(QWidget& window, int phase);
  // Paints the drawn rectangle (the window's paint, after the layers).
  void Paint(QPainter& painter) const;
  // Anchor to current point, not normalised.
  DeviceRect GetRect() const { return {anchorX_, anchorY_, currentX_, currentY_}; }
  bool IsDrawn() const { return drawn_; }
  DeviceRect GetLastDrawn() const { return lastDrawn_; }

 private:
  int anchorX_;
  int anchorY_;
  int currentX_;
  int currentY_;
  bool drawn_ = false;
  DeviceRect lastDrawn_{};
};

// The base of the tools: what every mouse message does (nothing) and the
// cursor the tool shows over the whole map window while it exists.
class CMapTool {
 public:
  // A tool with a cursor puts it on the window and keeps the window's old one.
  CMapTool(CMapWnd& window, std::optional<QCursor> cursor);
  virtual ~CMapTool();
  CMapTool(const CMapTool&) = delete;
  CMapTool& operator=(const CMapTool&) = delete;

  virtual void OnLButtonDown(unsigned flags, int x, int y);
  virtual void OnLButtonUp(unsigned flags, int x, int y);
  virtual void OnRButtonDown(unsigned flags, int x, int y);
  virtual void OnRButtonUp(unsigned flags, int x, int y);
  virtual void OnMouseMove(unsigned flags, int x, int y);
  virtual void OnLButtonDblClk(unsigned flags, int x, int y);
  virtual void OnRButtonDblClk(unsigned flags, int x, int y);
  // The wheel's position comes in screen pixels.
  virtual void OnMouseWheel(unsigned flags, int delta, int screenX, int screenY);
  // Paints the current rubber band, if any, in draw-only mode.
  virtual void DrawOverlay(QPainter& painter);

  bool HasOwnCursor() const { return toolCursor_.has_value(); }

 protected:
  CMapWnd& Window() const { return window_; }
  CMapTransform& Transform() const { return transform_; }
  // A client pixel as a map point.
  MapPoint ToMap(int x, int y) const;
  // Starts a drag: the window captures the mouse and a band is anchored.
  void BeginDrag(int x, int y);
  // Ends a drag at (x, y): the band is erased, takes the point, and is deleted;
  // its rectangle is returned normalised. False when no drag was in progress.
  bool EndDrag(int x, int y, DeviceRect& rect, bool collapseClick);
  // Zooms in or out one step about the map point under the wheel.
  void WheelZoom(int delta, int screenX, int screenY);

 private:
  // The window's own cursor before the tool's, when it had one set.
  std::optional<QCursor> savedCursor_;
  std::optional<QCursor> toolCursor_;
  CMapWnd& window_;
  CMapTransform& transform_;
};

// Selects records by click or rectangle; a double click opens the record's
// attributes; the right button opens the selection's menu.
class CSelectTool : public CMapTool {
 public:
  // Drags no longer than this (pixels, both axes) count as a click at the anchor.
  static constexpr int kClickSlop = 5;

  explicit CSelectTool(CMapWnd& window);
  void OnLButtonDown(unsigned flags, int x, int y) override;
  void OnLButtonUp(unsigned flags, int x, int y) override;
  void OnMouseMove(unsigned flags, int x, int y) override;
  void OnLButtonDblClk(unsigned flags, int x, int y) override;
  void OnRButtonDown(unsigned flags, int x, int y) override;
  void OnMouseWheel(unsigned flags, int delta, int screenX, int screenY) override;
};

// Zooms to a dragged rectangle, in by two at a click, out by two at a right click.
class CZoomTool : public CMapTool {
 public:
  // A drag whose diagonal is shorter than this (pixels) is a click.
  static constexpr int kMinDragSquared = 100;

  explicit CZoomTool(CMapWnd& window);
  void OnLButtonDown(unsigned flags, int x, int y) override;
  void OnLButtonUp(unsigned flags, int x, int y) override;
  void OnMouseMove(unsigned flags, int x, int y) override;
  void OnRButtonDown(unsigned flags, int x, int y) override;
  void OnMouseWheel(unsigned flags, int delta, int screenX, int screenY) override;
};

}  // namespace kestrune
