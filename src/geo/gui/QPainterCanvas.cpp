// The canvas over a QPainter. Pixel conventions: a one-pixel outline lies
// inside its box (QPainter's pen would straddle the edge), a box filled
// without an outline is one pixel smaller, polygons fill even-odd, and a
// one-pixel line leaves out its last pixel.
#include "geo/gui/QPainterCanvas.h"

#include "geo/gui/ImageRectangles.h"
#include "geo/gui/SymbolLayers.h"

#include <algorithm>
#include <utility>
#include <vector>

#include <QPaintDevice>
#include <QPainter>
#include <QPainterPath>
#include <QPolygon>
#include <QRegion>

namespace kestrune {

QColor ToQColor(Color color) { return QColor(RedOf(color), GreenOf(color), BlueOf(color)); }

// Desktop pens of width 0 and 1 are one device pixel whatever the scale; wider
// pens have round ends and joins, as desktop geometric pens do.
QPen QPainterCanvas::ToQPen(const Pen& pen) {
  if (pen.style == PenStyle::Null) return QPen(Qt::NoPen);
  if (pen.width <= 1) {
    // Square caps make Qt draw both end pixels of every segment; with flat
    // caps it drops one end chosen by direction, not always the last.
    QPen q(ToQColor(pen.color), 0, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
    q.setCosmetic(true);
    return q;
  }
  return QPen(ToQColor(pen.color), pen.width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// The selection brush is a black cross hatch over whatever lies beneath.
QBrush QPainterCanvas::ToQBrush(const Brush& brush) {
  switch (brush.style) {
    case BrushStyle::Null: return QBrush(Qt::NoBrush);
    case BrushStyle::Solid: {
      QColor colour = ToQColor(brush.color);
      if (brush.alpha < 255) colour.setAlpha(std::max(0, brush.alpha));
      return QBrush(colour, Qt::SolidPattern);
    }
    case BrushStyle::SelectionHatch: return QBrush(Qt::black, Qt::DiagCrossPattern);
  }
  return QBrush(Qt::NoBrush);
}

QPainterCanvas::QPainterCanvas(QPainter& painter) : painter_(painter) {
  painter_.save();
  painter_.setRenderHint(QPainter::Antialiasing, false);
  painter_.setBackgroundMode(Qt::TransparentMode);
  painter_.setPen(ToQPen(pen_));
  painter_.setBrush(ToQBrush(brush_));
}

QPainterCanvas::~QPainterCanvas() {
  symbolLayers_.reset();
  painter_.restore();
}

void QPainterCanvas::SetPen(const Pen& pen) {
  pen_ = pen;
  painter_.setPen(ToQPen(pen));
}

void QPainterCanvas::SetBrush(const Brush& brush) {
  brush_ = brush;
  painter_.setBrush(ToQBrush(brush));
}

// Connected lines through the points. One-pixel lines leave out their final
// pixel, as desktop lines do (it matters where the runs of a clipped polyline
// meet, and for the exclusive-or drawing of rubber bands).
bool QPainterCanvas::Polyline(const DevicePoint* points, int count) {
  if (points == nullptr || count < 2) return false;
  if (pen_.style == PenStyle::Null) return true;
  QPolygon polygon(count);
  for (int i = 0; i < count; ++i) polygon.setPoint(i, points[i].x, points[i].y);
  painter_.save();
  painter_.setBrush(Qt::NoBrush);
  // Wide pens, and any line on a scaled page (where a window pixel spans many
  // device pixels and the line's end is not a pixel of its own), draw whole.
  if (pen_.width > 1 || IsScaling(painter_)) {
    painter_.drawPolyline(polygon);
    painter_.restore();
    return true;
  }
  // Everything up to the last vertex is drawn whole; the last segment is
  // drawn under a clip that excludes its end pixel, and its start pixel which
  // the first part drew already (every pixel is touched once, as exclusive-or
  // drawing needs). Qt rasterises a segment the same way with or without the
  // clip, so the other pixels match an unclipped line exactly.
  const QPoint before = polygon.at(count - 2);
  const QPoint last = polygon.at(count - 1);
  if (count > 2) painter_.drawPolyline(polygon.constData(), count - 1);
  // A last segment of no length draws nothing, as on the desktop.
  if (before != last) {
    constexpr int kFar = 1 << 20;
    QRegion allowed(QRect(-kFar, -kFar, 2 * kFar, 2 * kFar));
    allowed -= QRegion(QRect(last, QSize(1, 1)));
    if (count > 2) allowed -= QRegion(QRect(before, QSize(1, 1)));
    painter_.setClipRegion(allowed, Qt::IntersectClip);
    painter_.drawLine(before, last);
  }
  painter_.restore();
  return true;
}

bool QPainterCanvas::PolyPolygon(const DevicePoint* points, const int* ringSizes, int ringCount) {
  if (points == nullptr || ringSizes == nullptr || ringCount < 1) return false;
  QPainterPath path;
  path.setFillRule(Qt::OddEvenFill);
  long long start = 0;
  for (int r = 0; r < ringCount; ++r) {
    const int size = ringSizes[r];
    if (size < 2) {
      start += std::max(size, 0);
      continue;
    }
    QPolygonF ring;
    ring.reserve(size);
    for (int i = 0; i < size; ++i) {
      const DevicePoint& p = points[start + i];
      ring << QPointF(p.x, p.y);
    }
    path.addPolygon(ring);
    path.closeSubpath();
    start += size;
  }
  painter_.drawPath(path);
  return true;
}

namespace {

// Orders the corners so left <= right and top <= bottom, as the desktop does.
void Normalise(int& left, int& top, int& right, int& bottom) {
  if (left > right) std::swap(left, right);
  if (top > bottom) std::swap(top, bottom);
}

}  // namespace

// Whether the painter maps a logical pixel onto more or less than one device
// pixel (a printed page scales the map window's pixels up).
bool QPainterCanvas::IsScaling(const QPainter& painter) {
  const QTransform t = painter.combinedTransform();
  return t.type() > QTransform::TxTranslate;
}

bool QPainterCanvas::Rectangle(int left, int top, int right, int bottom) {
  Normalise(left, top, right, bottom);
  const QBrush brush = ToQBrush(brush_);
  if (pen_.style == PenStyle::Null && IsScaling(painter_)) {
    // The pixel given up on the right and bottom is a device pixel, not a scaled window pixel.
    if (right > left && bottom > top && brush.style() != Qt::NoBrush) {
      painter_.fillRect(QRectF(left, top, right - left, bottom - top), brush);
    }
    return true;
  }
  if (pen_.style == PenStyle::Null) {
    // Without a pen the filled area is one pixel narrower and shorter.
    if (right - left > 1 && bottom - top > 1 && brush.style() != Qt::NoBrush) {
      painter_.fillRect(QRect(left, top, right - left - 1, bottom - top - 1), brush);
    }
    return true;
  }
  if (right - left < 1 || bottom - top < 1) return true;
  // Scaled, a one-pixel pen stays one device pixel round the scaled box, as a
  // desktop pen does on a printer; outline pixels of the window would grow
  // with the scale and hide a small symbol's colour.
  if (pen_.width <= 1 && IsScaling(painter_)) {
    painter_.drawRect(QRectF(left, top, right - left, bottom - top));
    return true;
  }
  if (pen_.width <= 1) {
    if (right - left > 2 && bottom - top > 2 && brush.style() != Qt::NoBrush) {
      painter_.fillRect(QRect(left + 1, top + 1, right - left - 2, bottom - top - 2), brush);
    }
    // The outline is the border pixels of l..r-1 by t..b-1, each touched
    // once so that exclusive-or drawing (rubber bands) toggles every pixel.
    const QColor colour = ToQColor(pen_.color);
    painter_.fillRect(QRect(left, top, right - left, 1), colour);
    if (bottom - top > 1) painter_.fillRect(QRect(left, bottom - 1, right - left, 1), colour);
    if (bottom - top > 2) {
      painter_.fillRect(QRect(left, top + 1, 1, bottom - top - 2), colour);
      if (right - left > 1) painter_.fillRect(QRect(right - 1, top + 1, 1, bottom - top - 2), colour);
    }
    return true;
  }
  // Wide pens straddle the border line.
  painter_.drawRect(QRectF(left + 0.5, top + 0.5, right - left - 1, bottom - top - 1));
  return true;
}

bool QPainterCanvas::Ellipse(int left, int top, int right, int bottom) {
  Normalise(left, top, right, bottom);
  if (right - left < 2 || bottom - top < 2) return true;
  if (pen_.style == PenStyle::Null) {
    // The fill covers the pixel centres inside the ellipse through the box's
    // edges, which leaves the right and bottom pixels out.
    painter_.drawEllipse(QRectF(left, top, right - left - 1, bottom - top - 1));
    return true;
  }
  painter_.drawEllipse(QRect(left, top, right - left - 1, bottom - top - 1));
  return true;
}

// RectVisible below reduces to an overlap with the device's area when the
// painter neither transforms nor clips.
bool QPainterCanvas::GetPlainVisibleArea(DeviceRect& area) const {
  const QPaintDevice* device = painter_.device();
  // The combined transform: a window and viewport move logical pixels as a world transform does.
  if (!device || painter_.combinedTransform().type() != QTransform::TxNone || painter_.hasClipping()) return false;
  area = DeviceRect{0, 0, device->width(), device->height()};
  return true;
}

// Point symbols in bulk: straight into the image's pixels when the painter
// draws on a plain image, else one Rectangle each.
void QPainterCanvas::SolidRectangles(const DeviceRect* rects, const Color* fills, int count) {
  if (QImage* image = DirectWritableImage(painter_)) {
    if (WriteSolidRectangles(*image, pen_, rects, fills, count)) return;
  }
  Canvas::SolidRectangles(rects, fills, count);
}

// Bands of rows can be written at once when the pixels are written directly.
bool QPainterCanvas::CanFillRowBands() const {
  bandImage_ = DirectWritableImage(painter_);
  if (!bandImage_) return false;
  // Detached here, on the painter's thread, so the bands' threads never do it.
  bandImage_->bits();
  return true;
}

// One band of rows of a batch of symbols, straight into the image's pixels
// (the image CanFillRowBands found: the painter is not asked from the bands' threads).
void QPainterCanvas::SolidRectanglesInRows(const DeviceRect* rects, const Color* fills, int count, const Pen& pen,
                                           int top, int bottom) {
  if (bandImage_) WriteSolidRectanglesInRows(*bandImage_, pen, rects, fills, count, top, bottom);
}

// Layers of the image the painter writes directly (detached here, on the painter's thread).
bool QPainterCanvas::BeginSymbolLayers(int layers) {
  symbolLayers_.reset();
  QImage* image = DirectWritableImage(painter_);
  if (!image) return false;
  image->bits();
  auto made = std::make_unique<SymbolLayers>(*image, layers);
  if (!made->IsReady()) return false;
  symbolLayers_ = std::move(made);
  return true;
}

void QPainterCanvas::SolidRectanglesInLayer(int layer, const DeviceRect* rects, const Color* fills, int count,
                                            const Pen& pen) {
  if (symbolLayers_) symbolLayers_->Write(layer, pen, rects, fills, count);
}

void QPainterCanvas::MergeSymbolLayers(int top, int bottom) {
  if (symbolLayers_) symbolLayers_->Merge(top, bottom);
}

void QPainterCanvas::EndSymbolLayers(bool merged) {
  if (symbolLayers_ && !merged) symbolLayers_->Clear();
  symbolLayers_.reset();
}

// Selected point symbols in bulk, straight into the pixels when they can be.
void QPainterCanvas::HatchedRectangles(const DeviceRect* rects, int count) {
  if (QImage* image = DirectWritableImage(painter_)) {
    if (WriteHatchedRectangles(*image, pen_, rects, count)) return;
  }
  Canvas::HatchedRectangles(rects, count);
}

// Whether any pixel of the rectangle (right and bottom excluded) is on the device and in the clip.
bool QPainterCanvas::RectVisible(const DeviceRect& rect) const {
  int left = rect.left, top = rect.top, right = rect.right, bottom = rect.bottom;
  Normalise(left, top, right, bottom);
  if (right <= left || bottom <= top) return false;
  const QRect r(left, top, right - left, bottom - top);
  if (const QPaintDevice* device = painter_.device()) {
    const QRect deviceRect(0, 0, device->width(), device->height());
    const QRect logical = painter_.combinedTransform().inverted().mapRect(deviceRect);
    if (!logical.intersects(r)) return false;
  }
  if (painter_.hasClipping()) return painter_.clipRegion().intersects(r);
  return true;
}

}  // namespace kestrune
