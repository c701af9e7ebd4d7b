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
// The layers reach no view: each layer and the LayerList signal what changed
// (layers/Layer.h, LayerList.h), and the frame hands its list to the views it
// makes (CreateLayersPane, CreateMapPane, the Layer Table), which connect to it.
//
// And the process-wide objects that remain, each with its reason:
//
//   GetPreferences (base/Preferences.h): the user's preferences, one file for
//       every program here, loaded at start-up.
//   SetMapProjection / GetMapProjection (geo/MapProjection.h): the map's
//       projection, which every record's map points were made through;
//       installed by the main frame for its lifetime.
//   GetMainFrame (app/gui/MainFrame.h): the one main window, for the panes'
//       handlers above.
//   GetSplashWnd (app/gui/SplashWnd.h), CRubberBand::Current
//       (mapview/gui/MapTools.h), the printer (mapview/gui/MapPrinting.cpp):
//       one start-up picture, one drag band and one kept printer set-up at a
//       time, as the desktop has.
//   SetLangFilePath (lang/LangFile.h) and the looked-up texts
//       (lang/LangStringCache.h): one language for the process; the cache
//       takes a lock, as a loading thread looks texts up too.
//   The shape records' point pool, colour palette and side table
//       (shapes/Shape.cpp): shared by every layer so a point record stays 32
//       bytes; each takes a lock where a loading thread and the window meet.
//       The map units per foot and line widths are each thread's own.
//   The PROJ context and its lock (geo/ZoneCalls.cpp): one context for the
//       process, never destroyed, as converters made in it may outlive statics.
//   The test seams SetFileChooser (attributes/gui/DialogSupport.h),
//       SetPrintDialogRunner (mapview/gui/MapPrinting.h) and the write-fault
//       injections of base/SafeFile.h and app/FileSetCopy.h: tests put their
//       own dialog or failure in place of the real one.
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
