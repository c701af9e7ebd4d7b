// Hand-made shape file sets and a recording map window for the layer tests.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "geo/CMapTransform.h"
#include "geo/RecordingCanvas.h"
#include "layers/Layer.h"
#include "layers/MapWindowHost.h"
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

// The map window as a test sees it: records what it is asked to do.
class RecordingHost : public MapWindowHost {
 public:
  RecordingHost() { SetMapWindowHost(this); }
  ~RecordingHost() override { SetMapWindowHost(nullptr); }
  RecordingHost(const RecordingHost&) = delete;
  RecordingHost& operator=(const RecordingHost&) = delete;

  void DrawRecordsNow(Layer& layer, Shape* const* records, size_t count) override {
    drawn.insert(drawn.end(), records, records + count);
    ++drawCalls;
    (void)layer;
  }
  void InvalidateAll(bool erase) override { allInvalidated.push_back(erase); }
  void InvalidateRect(const DeviceRect& rect, bool erase) override { invalidated.push_back({rect, erase}); }
  void* GetWindowHandle() override { return this; }

  std::vector<Shape*> drawn;
  int drawCalls = 0;
  std::vector<bool> allInvalidated;
  std::vector<RecordingCanvas::Window::Invalidation> invalidated;
};

// Installs a transform as the map window's while it lives.
class ScopedMapTransform {
 public:
  explicit ScopedMapTransform(CMapTransform* transform) : old_(GetMapTransform()) { SetMapTransform(transform); }
  ~ScopedMapTransform() { SetMapTransform(old_); }
  ScopedMapTransform(const ScopedMapTransform&) = delete;
  ScopedMapTransform& operator=(const ScopedMapTransform&) = delete;

 private:
  CMapTransform* old_;
};

// Opens and loads a layer of a path; fails the test when that does not work.
inline bool OpenAndLoad(Layer& layer, const std::string& path) {
  layer.SetPathName(path);
  return layer.Open() && layer.Load();
}

}  // namespace kestrune::test
