// Stand-in panes used until the real layers window and map window exist: a
// plain list of the open files (its selected line is the active layer) and a
// map that draws every layer through its view and keeps the zoom tool's state
// (without mouse tools).
#pragma once

#include <QListWidget>
#include <QWidget>

#include "app/gui/PaneInterfaces.h"
#include "mapview/MapView.h"

namespace kestrune {

class CFileListPane : public QListWidget, public ILayersPane {
  Q_OBJECT
 public:
  explicit CFileListPane(QWidget* parent);

  QWidget* AsWidget() override { return this; }
  void RefreshFileList() override;
  void RefreshLegend() override {}
  Layer* GetActiveLayer() const override { return active_; }

 private:
  // The selected line's layer becomes active at once, also when the selection
  // is changed by the program.
  void OnSelectionChanged();

  Layer* active_ = nullptr;
};

class CBlankMapPane : public QWidget, public IMapPane {
  Q_OBJECT
 public:
  explicit CBlankMapPane(QWidget* parent);

  QWidget* AsWidget() override { return this; }
  void ToggleZoomTool() override;
  bool IsZoomToolActive() const override { return zoomTool_; }
  MapView& GetMapView() override { return view_; }
  void InvalidateMap(bool erase) override;
  void Print() override {}

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  MapView view_;
  bool zoomTool_ = false;
};

}  // namespace kestrune
