// The dialogs the frame's layer commands open (Display Settings, Show Me,
// Notes and Summary Totals) and the layers window's Legend Setup. They are
// built beside the layers window; each installs its opener here, and until
// one is installed its command does nothing.
#pragma once

#include <functional>

class QWidget;

namespace kestrune {

class Layer;
class LayerList;
class Legend;

struct LayerDialogOpeners {
  // The Display dialog of a layer (its display settings and legend).
  std::function<void(Layer& layer, QWidget* parent)> showDisplayDialog;
  // The Show Me filter dialog of a layer.
  std::function<void(Layer& layer, QWidget* parent)> showFilterDialog;
  // The Notes dialog of a layer.
  std::function<void(Layer& layer, QWidget* parent)> editNotes;
  // The Summary Totals dialog over every open layer.
  std::function<void(LayerList& layers, QWidget* parent)> showTotals;
  // The Legend Setup dialog on a copy of a layer's legend (a double click on
  // the layers window's legend); true when it ended with OK.
  std::function<bool(Legend& copy, QWidget* parent)> runLegendSetup;
};

// The openers in use (empty ones until installed).
LayerDialogOpeners& GetLayerDialogOpeners();

}  // namespace kestrune
