// The drawing surface that records and the view transform draw on. The GUI
// implements it over QPainter; tests record the calls.
#pragma once

#include <string>

#include "geo/MapPoint.h"

namespace kestrune {

struct DevicePoint {
  int x = 0;
  int y = 0;
  friend bool operator==(const DevicePoint& a, const DevicePoint& b) { return a.x == b.x && a.y == b.y; }
};

struct DeviceRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};

enum class PenStyle { Null, Solid };
struct Pen {
  PenStyle style = PenStyle::Solid;
  int width = 0;  // 0 and 1 both mean one pixel, as on the desktop device contexts
  Color color = 0;
  friend bool operator==(const Pen& a, const Pen& b) {
    return a.style == b.style && a.width == b.width && a.color == b.color;
  }
};

// SelectionHatch is the pattern brush of the selection; Solid takes the colour.
enum class BrushStyle { Null, Solid, SelectionHatch };
// A solid brush's alpha below 255 lets what lies beneath show through.
struct Brush {
  BrushStyle style = BrushStyle::Solid;
  Color color = 0xFFFFFF;
  int alpha = 255;
  friend bool operator==(const Brush& a, const Brush& b) {
    return a.style == b.style && (a.style != BrushStyle::Solid || (a.color == b.color && a.alpha == b.alpha));
  }
};

inline Pen NullPen() { return {PenStyle::Null, 0, 0}; }
inline Pen BlackPen() { return {PenStyle::Solid, 0, 0}; }
inline Brush SolidBrush(Color c) { return {BrushStyle::Solid, c}; }

// Shapes follow the desktop conventions: Rectangle and Ellipse take the
// bounding box with right and bottom excluded, outlined with the current pen
// and filled with the current brush; PolyPolygon fills in alternate mode.
class Canvas {
 public:
  virtual ~Canvas() = default;

  virtual void SetPen(const Pen& pen) = 0;
  virtual void SetBrush(const Brush& brush) = 0;
  virtual Pen GetPen() const = 0;
  virtual Brush GetBrush() const = 0;

  virtual bool Polyline(const DevicePoint* points, int count) = 0;
  virtual bool PolyPolygon(const DevicePoint* points, const int* ringSizes, int ringCount) = 0;
  virtual bool Rectangle(int left, int top, int right, int bottom) = 0;
  virtual bool Ellipse(int left, int top, int right, int bottom) = 0;
  // Whether any part of the rectangle falls in the clip region.
  virtual bool RectVisible(const DeviceRect& rect) const = 0;

  // When RectVisible answers for every rectangle exactly whether it (put in
  // order, right and bottom excluded) overlaps one device area, because there
  // is no clip region and no transform, gives that area and true, so callers
  // testing many rectangles can skip the call. False by default.
  virtual bool GetPlainVisibleArea(DeviceRect& area) const {
    (void)area;
    return false;
  }

  // Draws the rectangles in order, each exactly as Rectangle would with the
  // current pen and a solid brush of its own colour; the current brush is
  // kept. Canvases that can write pixels faster (point symbols come by the
  // million) override this.
  virtual void SolidRectangles(const DeviceRect* rects, const Color* fills, int count) {
    const Brush old = GetBrush();
    for (int i = 0; i < count; ++i) {
      SetBrush(SolidBrush(fills[i]));
      Rectangle(rects[i].left, rects[i].top, rects[i].right, rects[i].bottom);
    }
    SetBrush(old);
  }

  // Whether SolidRectanglesInRows can be used: the canvas writes its pixels
  // itself, so calls for disjoint rows may run on several threads at once.
  virtual bool CanFillRowBands() const { return false; }

  // SolidRectangles' pixels in rows top..bottom-1 only, drawn with the given
  // pen rather than the current one; nothing outside those rows is touched.
  // Only when CanFillRowBands; the canvas's state is not changed.
  virtual void SolidRectanglesInRows(const DeviceRect* rects, const Color* fills, int count, const Pen& pen, int top,
                                     int bottom) {
    (void)rects;
    (void)fills;
    (void)count;
    (void)pen;
    (void)top;
    (void)bottom;
  }

  // Point symbols written by several threads at once, each into its own
  // layer of the picture, the layers then laid over the picture in their
  // order. A symbol's pixels replace whatever lies beneath them, so the
  // result is what writing layer 0's symbols, then layer 1's and so on, on
  // one thread would leave. BeginSymbolLayers gives whether the canvas can
  // (false by default); every layer starts empty.
  virtual bool BeginSymbolLayers(int layers) {
    (void)layers;
    return false;
  }
  // SolidRectanglesInRows' pixels over the whole picture, into one layer;
  // different layers may be written from different threads at once.
  virtual void SolidRectanglesInLayer(int layer, const DeviceRect* rects, const Color* fills, int count,
                                      const Pen& pen) {
    (void)layer;
    (void)rects;
    (void)fills;
    (void)count;
    (void)pen;
  }
  // Lays every layer's written pixels over the picture in rows top..bottom-1,
  // layer 0 first; disjoint rows may be merged from several threads at once.
  virtual void MergeSymbolLayers(int top, int bottom) {
    (void)top;
    (void)bottom;
  }
  // Ends the layers; with merged false whatever they hold is dropped and the
  // picture stays as it was.
  virtual void EndSymbolLayers(bool merged) { (void)merged; }

  // Draws the rectangles in order, each exactly as Rectangle would with the
  // current pen and the selection hatch brush; the current brush is kept.
  virtual void HatchedRectangles(const DeviceRect* rects, int count) {
    const Brush old = GetBrush();
    SetBrush(Brush{BrushStyle::SelectionHatch, 0});
    for (int i = 0; i < count; ++i) Rectangle(rects[i].left, rects[i].top, rects[i].right, rects[i].bottom);
    SetBrush(old);
  }
};

// A window area that can be asked to repaint part of itself.
class InvalidateTarget {
 public:
  virtual ~InvalidateTarget() = default;
  virtual void InvalidateRect(const DeviceRect& rect, bool erase) = 0;
};

}  // namespace kestrune
