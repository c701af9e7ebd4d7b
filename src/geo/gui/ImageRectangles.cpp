#include "geo/gui/ImageRectangles.h"

#include <QImage>
#include <QPaintDevice>
#include <QPainter>
#include <QTransform>

#include "geo/gui/QPainterCanvas.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace kestrune {

namespace {

// 0x00BBGGRR to the image's opaque 0xAARRGGBB.
uint32_t ToPixel(Color c) {
  return 0xFF000000u | (uint32_t{static_cast<uint32_t>(RedOf(c))} << 16) |
         (uint32_t{static_cast<uint32_t>(GreenOf(c))} << 8) | uint32_t{static_cast<uint32_t>(BlueOf(c))};
}

// The 32-bit formats whose pixels are written as 0xAARRGGBB words.
bool IsDirectFormat(QImage::Format format) {
  return format == QImage::Format_RGB32 || format == QImage::Format_ARGB32 ||
         format == QImage::Format_ARGB32_Premultiplied;
}

// The pixels of one image, written row by row and clipped to the image.
class Pixels {
 public:
  // Rows top..bottom-1 of the image (all of them by default).
  // constBits, not bits: bits() may detach (and counts its calls), which
  // threads writing bands of one image must not do; the image is detached
  // already (see WriteSolidRectanglesInRows).
  explicit Pixels(QImage& image, int64_t top = 0, int64_t bottom = INT64_MAX)
      : bits_(const_cast<uchar*>(image.constBits())),
        stride_(image.bytesPerLine()),
        width_(image.width()),
        top_(std::max<int64_t>(top, 0)),
        height_(std::min<int64_t>(bottom, image.height())) {}

  // Fills columns left..right-1 of rows top..bottom-1 (64-bit bounds: the
  // rectangles' edges may sit at the ends of the int range).
  void Fill(int64_t left, int64_t top, int64_t right, int64_t bottom, uint32_t pixel) const {
    left = std::max<int64_t>(left, 0);
    top = std::max<int64_t>(top, top_);
    right = std::min<int64_t>(right, width_);
    bottom = std::min<int64_t>(bottom, height_);
    if (left >= right || top >= bottom) return;
    const auto n = static_cast<size_t>(right - left);
    for (int64_t y = top; y < bottom; ++y) {
      auto* row = reinterpret_cast<uint32_t*>(bits_ + y * stride_) + left;
      std::fill_n(row, n, pixel);
    }
  }

  // The one-pixel outline of columns left..right-1 by rows top..bottom-1,
  // clipped to the image.
  void Outline(int64_t left, int64_t top, int64_t right, int64_t bottom, uint32_t pixel) const {
    const int64_t w = right - left;
    const int64_t h = bottom - top;
    Fill(left, top, right, top + 1, pixel);
    if (h > 1) Fill(left, bottom - 1, right, bottom, pixel);
    if (h > 2) {
      Fill(left, top + 1, left + 1, bottom - 1, pixel);
      if (w > 1) Fill(right - 1, top + 1, right, bottom - 1, pixel);
    }
  }

  // Whether columns left..right-1 and rows top..bottom-1 all lie in the image.
  bool Contains(int64_t left, int64_t top, int64_t right, int64_t bottom) const {
    return left >= 0 && top >= top_ && right <= width_ && bottom <= height_;
  }

  // A box of at least 3 by 3 pixels inside the image: a one-pixel outline
  // around a filled inside, each pixel written once.
  void OutlinedBox(int64_t left, int64_t top, int64_t right, int64_t bottom, uint32_t outline, uint32_t fill) const {
    const auto w = static_cast<size_t>(right - left);
    uint32_t* row = Row(top) + left;
    std::fill_n(row, w, outline);
    for (int64_t y = top + 1; y < bottom - 1; ++y) {
      row = Row(y) + left;
      row[0] = outline;
      std::fill_n(row + 1, w - 2, fill);
      row[w - 1] = outline;
    }
    std::fill_n(Row(bottom - 1) + left, w, outline);
  }

 private:
  uint32_t* Row(int64_t y) const { return reinterpret_cast<uint32_t*>(bits_ + y * stride_); }

  uchar* bits_;
  int64_t stride_;
  int64_t width_;
  int64_t top_;     // the first row written
  int64_t height_;  // the row after the last one written
};

}  // namespace

// The painter's image when nothing stands between its pixels and a direct write.
QImage* DirectWritableImage(const QPainter& painter) {
  QPaintDevice* device = painter.device();
  if (!device || device->devType() != QInternal::Image) return nullptr;
  auto* image = static_cast<QImage*>(device);
  if (!IsDirectFormat(image->format()) || image->devicePixelRatio() != 1.0) return nullptr;
  if (painter.deviceTransform().type() != QTransform::TxNone || painter.hasClipping()) return nullptr;
  if (painter.compositionMode() != QPainter::CompositionMode_SourceOver || painter.opacity() != 1.0) {
    return nullptr;
  }
  return image;
}

// Writes each rectangle's outline and fill, clipped to the image.
bool WriteSolidRectangles(QImage& image, const Pen& pen, const DeviceRect* rects, const Color* fills,
                          int count) {
  image.bits();  // detached before its pixels are written
  return WriteSolidRectanglesInRows(image, pen, rects, fills, count, 0, image.height());
}

// Writes each rectangle's outline and fill, clipped to the image and the rows.
bool WriteSolidRectanglesInRows(QImage& image, const Pen& pen, const DeviceRect* rects, const Color* fills, int count,
                                int top, int bottom) {
  if (!IsDirectFormat(image.format())) return false;
  if (pen.style != PenStyle::Null && pen.width > 1) return false;
  const Pixels pixels(image, top, bottom);
  const uint32_t outline = ToPixel(pen.color);
  const bool nullPen = pen.style == PenStyle::Null;
  for (int i = 0; i < count; ++i) {
    int64_t l = rects[i].left, t = rects[i].top, r = rects[i].right, b = rects[i].bottom;
    if (l > r) std::swap(l, r);
    if (t > b) std::swap(t, b);
    const int64_t w = r - l;
    const int64_t h = b - t;
    const uint32_t fill = ToPixel(fills[i]);
    if (nullPen) {
      // Without a pen the filled area is one pixel narrower and shorter.
      if (w > 1 && h > 1) pixels.Fill(l, t, r - 1, b - 1, fill);
      continue;
    }
    if (w < 1 || h < 1) continue;
    if (pixels.Contains(l, t, r, b) && w > 2 && h > 2) {
      // Wholly inside the image, as nearly every symbol is: row by row, unclipped.
      pixels.OutlinedBox(l, t, r, b, outline, fill);
      continue;
    }
    if (w > 2 && h > 2) pixels.Fill(l + 1, t + 1, r - 1, b - 1, fill);
    pixels.Outline(l, t, r, b, outline);
  }
  return true;
}

}  // namespace kestrune

namespace kestrune {

namespace {

// The selection hatch as QPainter fills it on a plain image: bit x of row y
// (both taken modulo 8 from the image's corner) is set where the pattern
// paints its colour; every other pixel keeps what was there.
struct HatchPattern {
  bool valid = false;
  uint8_t rows[8] = {};
  uint32_t pixel = 0;
};

// Filled once by QPainter on two backgrounds: a pixel that changed on both is the pattern's.
const HatchPattern& SelectionHatch() {
  static const HatchPattern pattern = [] {
    HatchPattern p;
    constexpr int kSide = 32;
    QImage onWhite(kSide, kSide, QImage::Format_RGB32), onGrey(kSide, kSide, QImage::Format_RGB32);
    onWhite.fill(QColor(255, 255, 255));
    onGrey.fill(QColor(0x12, 0x34, 0x56));
    for (QImage* image : {&onWhite, &onGrey}) {
      QPainter painter(image);
      painter.setBackgroundMode(Qt::TransparentMode);
      painter.fillRect(QRect(0, 0, kSide, kSide), QPainterCanvas::ToQBrush(Brush{BrushStyle::SelectionHatch, 0}));
    }
    bool seen = false;
    for (int y = 0; y < kSide; ++y) {
      for (int x = 0; x < kSide; ++x) {
        const QRgb a = onWhite.pixel(x, y), b = onGrey.pixel(x, y);
        const bool set = a == b;
        if (set) {
          if (seen && a != p.pixel) return HatchPattern{};  // more than one colour
          p.pixel = a;
          seen = true;
        } else if (a != qRgb(255, 255, 255) || b != qRgb(0x12, 0x34, 0x56)) {
          return HatchPattern{};  // blended pixels
        }
        const uint8_t bit = static_cast<uint8_t>(1u << (x & 7));
        if (y < 8 && x < 8) {
          if (set) p.rows[y] |= bit;
        } else if (((p.rows[y & 7] & bit) != 0) != set) {
          return HatchPattern{};  // not 8 by 8
        }
      }
    }
    p.valid = true;
    return p;
  }();
  return pattern;
}

// Writes the pattern's pixels of columns left..right-1 of rows top..bottom-1, clipped to the image.
void HatchFill(QImage& image, const HatchPattern& pattern, int64_t left, int64_t top, int64_t right, int64_t bottom) {
  left = std::max<int64_t>(left, 0);
  top = std::max<int64_t>(top, 0);
  right = std::min<int64_t>(right, image.width());
  bottom = std::min<int64_t>(bottom, image.height());
  for (int64_t y = top; y < bottom; ++y) {
    const uint8_t row = pattern.rows[y & 7];
    if (row == 0) continue;
    auto* pixels = reinterpret_cast<uint32_t*>(image.scanLine(static_cast<int>(y)));
    for (int64_t x = left; x < right; ++x) {
      if ((row >> (x & 7)) & 1) pixels[x] = pattern.pixel;
    }
  }
}

}  // namespace

// The fill as QPainterCanvas's Rectangle covers it, in the hatch; the outline as in WriteSolidRectangles.
bool WriteHatchedRectangles(QImage& image, const Pen& pen, const DeviceRect* rects, int count) {
  if (!IsDirectFormat(image.format())) return false;
  if (pen.style != PenStyle::Null && pen.width > 1) return false;
  const HatchPattern& pattern = SelectionHatch();
  if (!pattern.valid) return false;
  const Pixels pixels(image);
  const uint32_t outline = ToPixel(pen.color);
  const bool nullPen = pen.style == PenStyle::Null;
  for (int i = 0; i < count; ++i) {
    int64_t l = rects[i].left, t = rects[i].top, r = rects[i].right, b = rects[i].bottom;
    if (l > r) std::swap(l, r);
    if (t > b) std::swap(t, b);
    const int64_t w = r - l;
    const int64_t h = b - t;
    if (nullPen) {
      if (w > 1 && h > 1) HatchFill(image, pattern, l, t, r - 1, b - 1);
      continue;
    }
    if (w < 1 || h < 1) continue;
    if (w > 2 && h > 2) HatchFill(image, pattern, l + 1, t + 1, r - 1, b - 1);
    pixels.Outline(l, t, r, b, outline);
  }
  return true;
}

}  // namespace kestrune
