// How the levels are wired together. Lower folders never include higher
// ones; where a lower level must call up (a core message box, a record's
// attributes, a dialog the layers window opens), it offers a hook that this
// file fills at start-up. Every such hook of the program is listed here:
//
//   SetMessageHandler, SetStatusHandler, SetBeepHandler,
//       SetWaitCursorHandlers (base/Platform.h): core code shows the messages
//       of callers that take no error back, status-line notices (from any
//       thread, a layer's load too), beeps and shows the wait cursor (window
//       thread only) through their Qt implementation (InstallGuiPlatform);
//       without them it writes to stderr.
//   CLayersWnd::SetZoomHandler, SetDisplayDialogHandler, SetLegendSetupHandler,
//       SetActiveLayerChangedHandler, CMapWnd::SetPrintHandler,
//       SetPointerHandler, SetViewChangedHandler: the two panes reach the map,
//       the dialogs, the frame, its status bar and printing (CreateLayersPane,
//       CreateMapPane below). The layers window lies below the attributes
//       level, so its Display Settings and Legend Setup dialogs come through
//       these handlers.
//
// The levels above the attributes call its dialogs directly: the frame's
// Open, Display Settings, Show Me, Notes and Summary Totals commands
// (app/gui/MainFrame.cpp, FileDialogs.h), and the map window's and the Layer
// Table's attribute report of a record (mapview/gui/SelectionCommands.h),
// after which the Layer Tables reread their rows. The frame shows what the
// core gives back as an Error (base/Error.h), such as a legend that could
// not be written on closing.
//
// And the process-wide objects, each set by its owner:
//
//   GetPreferences (base/Preferences.h): the preferences, loaded at start-up.
//   SetMapProjection / GetMapProjection (geo/MapProjection.h): the map's
//       projection, installed by the main frame for its lifetime.
//   GetMainFrame (app/gui/MainFrame.h): the one main window, for the panes.
#pragma once

class QWidget;

namespace kestrune {

class ILayersPane;
class IMapPane;
class LayerList;

// Installs every hook above that is process-wide; messages are shown over
// messageParent.
void InstallHooks(QWidget* messageParent);

// The panes the frame puts in its splitter. A pane that changes something the
// frame's commands depend on (the active layer, the zoom tool) calls
// CMainFrame::UpdateCommandStates (through GetMainFrame) so the menu and the
// toolbar follow.
ILayersPane* CreateLayersPane(QWidget* parent, LayerList& layers);
IMapPane* CreateMapPane(QWidget* parent, LayerList& layers);

}  // namespace kestrune
