// The few calls the shell makes on the open layers (the layer list and its
// layers), in one place, so the frame and the stand-in panes read like the
// commands they carry out.
#pragma once

#include <string>
#include <vector>

#include "mapview/MapPoint.h"

class QWidget;

namespace kestrune {

class Layer;

namespace shell {

// Creates the process-wide layer list and projection (the frame's constructor)
// and deletes them, projection first (its destructor).
void CreateLayerCore(QWidget* owner);
void DestroyLayerCore();

int LayerCount();
// The open layers, newest first.
std::vector<Layer*> Layers();

// The Open command's dialog and opening; true when a layer was added.
bool OpenLayerCommand(QWidget* owner);
// Opens an existing file at the head of the list; none when it does not exist
// or cannot be read.
Layer* OpenLayerByName(const std::string& path, QWidget* owner);
void CloseLayer(Layer* layer);
void CloseAllLayers();

std::string LayerFileName(Layer* layer);
std::string LayerPath(Layer* layer);
std::string LayerBasePath(Layer* layer);
void SetLayerPathName(Layer* layer, const std::string& path);
MapRect LayerBounds(Layer* layer);
// Every layer's bounds, newest first (zoom all).
std::vector<MapRect> AllLayerBounds();

void ShowDisplayDialog(Layer* layer);
void ShowFilterDialog(Layer* layer);
void EditNotes(Layer* layer);
void ShowTotals();
// The active layer's product slot lies in 0..9 with both its area and volume known.
bool TotalsAvailable(Layer* layer);

}  // namespace shell
}  // namespace kestrune
