// The frame's two panes: the layers window and the map window, with what each
// asks of the frame and of the other.
#include "app/gui/PaneInterfaces.h"

#include "app/gui/LayerDialogs.h"
#include "app/gui/MainFrame.h"
#include "layers/gui/CLayersWnd.h"
#include "mapview/MapView.h"
#include "mapview/gui/CMapWnd.h"
#include "mapview/gui/MapPrinting.h"

namespace kestrune {

// The layers window, with what it asks of the frame and of the map.
ILayersPane* CreateLayersPane(QWidget* parent) {
  auto* pane = new CLayersWnd(parent);
  // The frame's pointers are read when asked, as the map pane is made after this one.
  pane->SetZoomHandler([](MapRect& rect) {
    if (CMainFrame* frame = GetMainFrame(); frame && frame->MapPane()) frame->MapPane()->GetMapView().ZoomToRect(rect, true);
  });
  pane->SetDisplayDialogHandler([](Layer* layer) {
    const auto& open = GetLayerDialogOpeners().showDisplayDialog;
    if (open && layer) open(*layer, GetMainFrame());
  });
  pane->SetLegendSetupHandler([](Legend& copy, QWidget* parent) {
    const auto& run = GetLayerDialogOpeners().runLegendSetup;
    return run ? run(copy, parent) : false;
  });
  pane->SetActiveLayerChangedHandler([] {
    if (CMainFrame* frame = GetMainFrame()) frame->UpdateCommandStates();
  });
  return pane;
}

// The map window, which prints its view with the Print command.
IMapPane* CreateMapPane(QWidget* parent) {
  auto* pane = new CMapWnd(parent);
  pane->SetPrintHandler([pane] { PrintMapView(pane, pane->GetMapView()); });
  return pane;
}

}  // namespace kestrune
