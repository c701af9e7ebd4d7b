// The canvas over a QPainter, with the pixel conventions of the desktop device
// contexts the drawing code was written for.
#pragma once

#include <QBrush>
#include <QImage>
#include <QPen>

#include <memory>

#include "geo/Canvas.h"

class QPainter;

namespace kestrune {

class SymbolLayers;

// Draws on a painter (widget, image or printer) without antialiasing:
// - Rectangle(l, t, r, b) covers pixels l..r-1 by t..b-1: a one-pixel outline in
//   the pen on that box and the brush inside it; with the null pen only the
//   brush fills l..r-2 by t..b-2.
// - Ellipse likewise within the same box.
// - Polyline with pen widths 0 and 1 as one cosmetic pixel; the last point is
//   left out, as desktop lines do.
// - PolyPolygon filled even-odd (alternate), outlined with the pen.
// Through a scaling transform (a printed page) one-pixel pens stay one device
// pixel wide, rectangles are the scaled box and lines keep their last point.
// The painter must outlive the canvas; its state is restored when the canvas is destroyed.
class QPainterCanvas : public Canvas {
 public:
  explicit QPainterCanvas(QPainter& painter);
  ~QPainterCanvas() override;
  QPainterCanvas(const QPainterCanvas&) = delete;
  QPainterCanvas& operator=(const QPainterCanvas&) = delete;

  void SetPen(const Pen& pen) override;
  void SetBrush(const Brush& brush) override;
  Pen GetPen() const override { return pen_; }
  Brush GetBrush() const override { return brush_; }

  bool Polyline(const DevicePoint* points, int count) override;
  bool PolyPolygon(const DevicePoint* points, const int* ringSizes, int ringCount) override;
  bool Rectangle(int left, int top, int right, int bottom) override;
  bool Ellipse(int left, int top, int right, int bottom) override;
  bool RectVisible(const DeviceRect& rect) const override;
  // The device's area when the painter has neither transform nor clipping.
  bool GetPlainVisibleArea(DeviceRect& area) const override;
  // Writes the pixels straight into the image when the painter allows it.
  void SolidRectangles(const DeviceRect* rects, const Color* fills, int count) override;
  bool CanFillRowBands() const override;
  void SolidRectanglesInRows(const DeviceRect* rects, const Color* fills, int count, const Pen& pen, int top,
                             int bottom) override;
  void HatchedRectangles(const DeviceRect* rects, int count) override;
  // Layers of symbols over the image, when its pixels are written directly.
  bool BeginSymbolLayers(int layers) override;
  void SolidRectanglesInLayer(int layer, const DeviceRect* rects, const Color* fills, int count,
                              const Pen& pen) override;
  void MergeSymbolLayers(int top, int bottom) override;
  void EndSymbolLayers(bool merged) override;

  // Whether the painter scales (or rotates) logical pixels on their way to the device.
  static bool IsScaling(const QPainter& painter);

  // The Qt forms of the canvas's pen and brush (0x00BBGGRR colours converted).
  static QPen ToQPen(const Pen& pen);
  static QBrush ToQBrush(const Brush& brush);

 private:
  QPainter& painter_;
  Pen pen_ = BlackPen();
  // The image the last CanFillRowBands found writable, for the bands.
  mutable QImage* bandImage_ = nullptr;
  // The symbol layers between BeginSymbolLayers and EndSymbolLayers.
  std::unique_ptr<SymbolLayers> symbolLayers_;
  Brush brush_ = SolidBrush(0xFFFFFF);
};

// 0x00BBGGRR to a Qt colour.
QColor ToQColor(Color color);

}  // namespace kestrune
