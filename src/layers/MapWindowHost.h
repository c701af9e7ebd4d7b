// What the layers ask of the map window: draw freshly selected records at once,
// repaint a part or the whole of the map, and the window that dialogs opened
// from the map belong to. The map window installs itself while it exists;
// without one (tools, tests) the layers draw and invalidate nothing.
#pragma once

#include <cstddef>

#include "geo/Canvas.h"

namespace kestrune {

class Layer;
class Shape;

class MapWindowHost : public InvalidateTarget {
 public:
  // Draws records of the layer over the current picture at once (a selection
  // just made), through the map transform. The layer's DrawRecords does the work.
  virtual void DrawRecordsNow(Layer& layer, Shape* const* records, std::size_t count) = 0;
  // Repaints the whole map.
  virtual void InvalidateAll(bool erase) = 0;
  // The window that parents dialogs opened from the map (the attribute report).
  virtual void* GetWindowHandle() { return nullptr; }
};

// The map window while one exists, else null.
MapWindowHost* GetMapWindowHost();
void SetMapWindowHost(MapWindowHost* host);

}  // namespace kestrune
