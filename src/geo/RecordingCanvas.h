// A canvas that draws nothing and records every call, with the pen and brush
// current at the time, so tests of any subsystem can check what was drawn.
#pragma once

#include <string>
#include <vector>

#include "geo/Canvas.h"

namespace kestrune {

class RecordingCanvas : public Canvas {
 public:
  enum class Kind { Polyline, PolyPolygon, Rectangle, Ellipse };

  struct Call {
    Kind kind = Kind::Polyline;
    Pen pen;
    Brush brush;
    std::vector<DevicePoint> points;  // Rectangle and Ellipse: (left, top), (right, bottom)
    std::vector<int> ringSizes;       // PolyPolygon only
  };

  // A window area that records its invalidations.
  class Window : public InvalidateTarget {
   public:
    struct Invalidation {
      DeviceRect rect;
      bool erase = false;
    };
    void InvalidateRect(const DeviceRect& rect, bool erase) override { invalidated.push_back({rect, erase}); }
    std::vector<Invalidation> invalidated;
  };

  void SetPen(const Pen& pen) override { pen_ = pen; }
  void SetBrush(const Brush& brush) override { brush_ = brush; }
  Pen GetPen() const override { return pen_; }
  Brush GetBrush() const override { return brush_; }

  bool Polyline(const DevicePoint* points, int count) override {
    Call call = Begin(Kind::Polyline);
    if (count > 0) call.points.assign(points, points + count);
    calls.push_back(std::move(call));
    return result;
  }

  bool PolyPolygon(const DevicePoint* points, const int* ringSizes, int ringCount) override {
    Call call = Begin(Kind::PolyPolygon);
    long long total = 0;
    for (int i = 0; i < ringCount; ++i) {
      call.ringSizes.push_back(ringSizes[i]);
      total += ringSizes[i] > 0 ? ringSizes[i] : 0;
    }
    if (total > 0) call.points.assign(points, points + total);
    calls.push_back(std::move(call));
    return result;
  }

  bool Rectangle(int left, int top, int right, int bottom) override {
    return Box(Kind::Rectangle, left, top, right, bottom);
  }

  bool Ellipse(int left, int top, int right, int bottom) override {
    return Box(Kind::Ellipse, left, top, right, bottom);
  }

  // Visible when the rectangle overlaps the clip rectangle (the whole plane by default).
  bool RectVisible(const DeviceRect& rect) const override {
    visibleQueries.push_back(rect);
    if (!hasClip) return true;
    return rect.left < clip.right && clip.left < rect.right && rect.top < clip.bottom && clip.top < rect.bottom;
  }

  void SetClip(const DeviceRect& rect) {
    clip = rect;
    hasClip = true;
  }

  // The recorded calls of one kind, in order.
  std::vector<Call> CallsOf(Kind kind) const {
    std::vector<Call> out;
    for (const Call& c : calls) {
      if (c.kind == kind) out.push_back(c);
    }
    return out;
  }

  void Clear() {
    calls.clear();
    visibleQueries.clear();
  }

  std::vector<Call> calls;
  mutable std::vector<DeviceRect> visibleQueries;
  bool result = true;  // what every drawing call reports
  DeviceRect clip;
  bool hasClip = false;

 private:
  Call Begin(Kind kind) const {
    Call call;
    call.kind = kind;
    call.pen = pen_;
    call.brush = brush_;
    return call;
  }

  bool Box(Kind kind, int left, int top, int right, int bottom) {
    Call call = Begin(kind);
    call.points = {DevicePoint{left, top}, DevicePoint{right, bottom}};
    calls.push_back(std::move(call));
    return result;
  }

  Pen pen_ = BlackPen();
  Brush brush_ = SolidBrush(0xFFFFFF);
};

}  // namespace kestrune
