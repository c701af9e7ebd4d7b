// What the main frame needs of its two panes: the layers window on the left
// and the map window on the right. The frame talks to them only through these
// interfaces, so the real windows plug in by implementing them and by being
// made in CreateLayersPane / CreateMapPane (src/app/gui/Wiring.h).
#pragma once

class QWidget;

namespace kestrune {

class Layer;
class MapView;

// The layers window: the list of open files, the theme and the legend. It
// decides which layer is active.
class ILayersPane {
 public:
  virtual ~ILayersPane() = default;

  // The pane's widget (the splitter's left pane).
  virtual QWidget* AsWidget() = 0;
  // Rebuilds the file list from the layer list (newest first), then the
  // theme and the legend. The frame calls it after opening, closing and Save As.
  virtual void RefreshFileList() = 0;
  // Rebuilds the legend of the active layer (after the Display dialog).
  virtual void RefreshLegend() = 0;
  // The layer whose file is selected, or none.
  virtual Layer* GetActiveLayer() const = 0;
};

// The map window: draws every layer through its view and runs the mouse tools.
class IMapPane {
 public:
  virtual ~IMapPane() = default;

  // The pane's widget (the splitter's right pane); it takes the frame's focus.
  virtual QWidget* AsWidget() = 0;
  // Creates the zoom tool, or deletes it when it exists.
  virtual void ToggleZoomTool() = 0;
  // Whether the zoom tool exists (the check mark of the Zoom Tool command).
  virtual bool IsZoomToolActive() const = 0;
  // Creates the measure tool, or deletes it when it exists; whether it exists.
  virtual void ToggleMeasureTool() {}
  virtual bool IsMeasureToolActive() const { return false; }
  // The view operations (zoom, pan) on the window's transform.
  virtual MapView& GetMapView() = 0;
  // Repaints the whole map; erase clears the background first.
  virtual void InvalidateMap(bool erase) = 0;
  // Prints the map page (map, legend, notes, file names).
  virtual void Print() = 0;
};

}  // namespace kestrune
