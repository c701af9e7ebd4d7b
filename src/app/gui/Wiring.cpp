// The hooks of the lower levels filled in, and the frame's two panes made
// with what each asks of the frame and of the other.
#include "app/gui/Wiring.h"

#include <QLabel>
#include <QStatusBar>

#include "app/gui/GuiPlatform.h"
#include "app/gui/MainFrame.h"
#include "attributes/gui/DisplayDialog.h"
#include "attributes/gui/LegendSetupDialog.h"
#include "base/gui/PaneInterfaces.h"
#include "layers/gui/CLayersWnd.h"
#include "mapview/gui/CMapWnd.h"
#include "mapview/gui/LayerTablePanel.h"
#include "mapview/gui/MapPrinting.h"
#include "mapview/MapView.h"

namespace kestrune {

// Messages, the message pump, the beep and the wait cursor.
void InstallHooks(QWidget* messageParent) { InstallGuiPlatform(messageParent); }

// The layers window, with what it asks of the frame and of the map.
ILayersPane* CreateLayersPane(QWidget* parent, LayerList& layers) {
  auto* pane = new CLayersWnd(parent);
  pane->SetLayers(&layers);
  // The frame's pointers are read when asked, as the map pane is made after this one.
  pane->SetZoomHandler([](MapRect& rect) {
    if (CMainFrame* frame = GetMainFrame(); frame && frame->MapPane()) frame->MapPane()->GetMapView().ZoomToRect(rect, true);
  });
  pane->SetDisplayDialogHandler([](Layer* layer) {
    if (layer) ShowDisplayDialog(*layer, GetMainFrame());
    // New log fields change what Show Me hides and whether the totals apply.
    if (CMainFrame* frame = GetMainFrame()) frame->UpdateCommandStates();
  });
  pane->SetLegendSetupHandler(
      [](Legend& copy, QWidget* parent) { return RunLegendSetup(copy, parent) == QDialog::Accepted; });
  pane->SetActiveLayerChangedHandler([] {
    if (CMainFrame* frame = GetMainFrame()) frame->UpdateCommandStates();
  });
  return pane;
}

// The map window, which prints its view with the Print command.
IMapPane* CreateMapPane(QWidget* parent, LayerList& layers) {
  auto* pane = new CMapWnd(parent);
  pane->SetLayers(&layers);
  pane->SetPrintHandler([pane] { PrintMapView(pane, pane->GetMapView(), pane->Layers()); });
  // The frame's status bar follows the pointer and the view.
  pane->SetPointerHandler([](const MapPoint* at) {
    if (CMainFrame* frame = GetMainFrame()) frame->ShowPointerPosition(at);
  });
  pane->SetViewChangedHandler([] {
    if (CMainFrame* frame = GetMainFrame()) frame->ShowScale();
  });
  // The measure tool's length and area, at the left of the status bar; hidden with no tool.
  pane->SetMeasureHandler([](const std::string& text) {
    CMainFrame* frame = GetMainFrame();
    if (!frame) return;
    auto* label = frame->statusBar()->findChild<QLabel*>(QStringLiteral("StatusMeasure"));
    if (!label) {
      label = new QLabel(frame->statusBar());
      label->setObjectName(QStringLiteral("StatusMeasure"));
      frame->statusBar()->addWidget(label, 1);
    }
    label->setText(QString::fromStdString(text));
    label->setVisible(!text.empty());
  });
  return pane;
}

}  // namespace kestrune
