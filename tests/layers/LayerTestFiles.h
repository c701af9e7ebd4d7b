// Hand-made shape file sets and a recording map window for the layer tests.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "geo/CMapTransform.h"
#include "geo/RecordingCanvas.h"
#include "layers/Layer.h"
#include "shapes/DbfTestTables.h"
#include "shapes/ShapeTestFiles.h"
#include "support/TestSupport.h"

namespace kestrune::test {

// A numeric field's text ("%*.2f") at its width.
inline std::string Number(double value, int width = 10) {
  char text[64];
  std::snprintf(text, sizeof text, "%*.2f", width, value);
  return std::string(text).substr(0, static_cast<size_t>(width));
}

// A table with one numeric field "Rate" (N 10.2), one row per value.
inline std::string RateTable(const std::vector<double>& values) {
  DbfTableLayout layout;
  layout.fields = {{"Rate", 'N', 10, 2}};
  for (double v : values) layout.rows.push_back(" " + Number(v));
  return MakeDbf(layout);
}

// Writes NAME.shp with one Point record per position (degrees) and NAME.dbf
// with their values; returns the ".shp" path.
inline std::string WritePointSet(const TempDir& dir, const std::string& name, const std::vector<XY>& points,
                                 const std::vector<double>& values) {
  ShpBuilder shp(1, -100.0, 40.0, -90.0, 45.0);
  for (const XY& p : points) shp.Point(p.first, p.second);
  const std::string path = (dir / (name + ".shp")).string();
  WriteFileBytes(path, shp.Bytes());
  WriteFileBytes(dir / (name + ".dbf"), RateTable(values));
  return path;
}

// Writes NAME.shp of Polygon records (one ring each) with a table of values.
inline std::string WriteAreaSet(const TempDir& dir, const std::string& name, const std::vector<Ring>& rings,
                                const std::vector<double>& values) {
  ShpBuilder shp(5, -100.0, 40.0, -90.0, 45.0);
  for (const Ring& r : rings) shp.Poly(5, {r});
  const std::string path = (dir / (name + ".shp")).string();
  WriteFileBytes(path, shp.Bytes());
  WriteFileBytes(dir / (name + ".dbf"), RateTable(values));
  return path;
}

// A square ring of the given half side (degrees) around a centre, closed.
inline Ring Square(double cx, double cy, double half) {
  return {{cx - half, cy - half}, {cx - half, cy + half}, {cx + half, cy + half}, {cx + half, cy - half},
          {cx - half, cy - half}};
}

// A map window as a test sees it: listens to layers and records what they
// ask of it. A repaint of a map area reaches it in pixels through the view
// given to SetTransform (none: only whole-map repaints are recorded).
class RecordingHost : public InvalidateTarget {
 public:
  RecordingHost() = default;
  ~RecordingHost() override {
    for (QMetaObject::Connection& c : connections_) QObject::disconnect(c);
  }
  RecordingHost(const RecordingHost&) = delete;
  RecordingHost& operator=(const RecordingHost&) = delete;

  // Hears what the layer signals from now on.
  void Listen(Layer& layer) {
    connections_.push_back(QObject::connect(&layer, &Layer::recordsSelected, [this](const std::vector<Shape*>& r) {
      drawn.insert(drawn.end(), r.begin(), r.end());
      ++drawCalls;
    }));
    connections_.push_back(QObject::connect(&layer, &Layer::repaintRequested, [this](const MapRect& area) {
      if (area == kWholeMap) {
        allInvalidated.push_back(true);
      } else if (transform_) {
        transform_->InvalidateWorldRect(*this, area, true, 1);
      }
    }));
  }
  void SetTransform(const CMapTransform* transform) { transform_ = transform; }

  void InvalidateRect(const DeviceRect& rect, bool erase) override { invalidated.push_back({rect, erase}); }

  std::vector<Shape*> drawn;
  int drawCalls = 0;
  std::vector<bool> allInvalidated;
  std::vector<RecordingCanvas::Window::Invalidation> invalidated;

 private:
  const CMapTransform* transform_ = nullptr;
  std::vector<QMetaObject::Connection> connections_;
};

// Opens and loads a layer of a path; fails the test when that does not work.
// What the layer gives back (a refusal, notices of its load) is shown as the
// window shows it.
inline bool OpenAndLoad(Layer& layer, const std::string& path) {
  layer.SetPathName(path);
  if (!layer.Open()) {
    ShowError(layer.GetLoadError());
    return false;
  }
  const bool loaded = layer.Load();
  for (const Error& notice : layer.TakeLoadNotices()) ShowError(notice);
  return loaded;
}

}  // namespace kestrune::test
