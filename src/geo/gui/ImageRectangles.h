// Point symbols come by the million, and a QPainter call per symbol costs far
// more than the few pixels each one covers. When a painter draws on a plain
// 32-bit image without transform, clip or blending, the symbols' pixels are
// written straight into the image instead, exactly as QPainterCanvas's
// Rectangle would have set them.
#pragma once

#include "geo/Canvas.h"

class QImage;
class QPainter;

namespace kestrune {

// The image the painter writes to, when its pixels can be written directly:
// an RGB32 or ARGB32 image, device pixel ratio 1, identity transform, no
// clipping, source-over at full opacity. Null otherwise.
QImage* DirectWritableImage(const QPainter& painter);

// Writes the rectangles in order, each with QPainterCanvas::Rectangle's pixels
// for the pen and a solid brush of its colour. False (nothing written) for a
// pen wider than one pixel or an image of another format.
bool WriteSolidRectangles(QImage& image, const Pen& pen, const DeviceRect* rects, const Color* fills,
                          int count);
// The same limited to rows top..bottom-1: the pixels of those rows are those
// of the whole drawing, and no other row is touched (bands of one image may
// be written from several threads at once). The image must not share its
// pixels with another (bits() called once before, as a painter on it does).
bool WriteSolidRectanglesInRows(QImage& image, const Pen& pen, const DeviceRect* rects, const Color* fills, int count,
                                int top, int bottom);

// The same with QPainterCanvas's selection hatch brush, whose pattern is
// learnt once from QPainter itself. False (nothing written) as above, or
// when the pattern does not repeat every 8 pixels.
bool WriteHatchedRectangles(QImage& image, const Pen& pen, const DeviceRect* rects, int count);

}  // namespace kestrune
