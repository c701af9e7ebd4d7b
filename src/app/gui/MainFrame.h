// The main window: the layers pane and the map pane side by side in a
// splitter, the menu bar and the toolbar of the chosen resource set, and the
// commands they carry. It owns the process-wide layer list and projection,
// and opens the files handed over by later starts and dropped onto it.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>

#include <string>
#include <vector>

#include <QMainWindow>
#include <QStringList>

#include "app/Commands.h"
#include "geo/MapPoint.h"

class QAction;
class QLabel;
class QMenu;
class QProgressBar;
class QShortcut;
class QSplitter;
class QToolBar;
class QToolButton;

namespace kestrune {

class CLayerTablePanel;
class CZonesPanel;
class ILayersPane;
class IMapPane;
class Layer;
class LayerList;
class LayerLoader;
class MapProjection;
struct Error;

class CMainFrame : public QMainWindow {
  Q_OBJECT
 public:
  // Builds the frame from resource set 128 or 156.
  explicit CMainFrame(int resourceSet = kStandardSet, QWidget* parent = nullptr);
  ~CMainFrame() override;

  int ResourceSetId() const { return set_.id; }
  QSplitter* Splitter() const { return splitter_; }
  QToolBar* ToolBar() const { return toolBar_; }
  ILayersPane* LayersPane() const { return layersPane_; }
  IMapPane* MapPane() const { return mapPane_; }
  // The Layer Table panel once the command first opened it, else none.
  CLayerTablePanel* LayerTablePanel() const { return tablePanel_; }
  CZonesPanel* ZonesPanel() const { return zonesPanel_; }

  // The action of a command, or none when the set does not carry it.
  QAction* Action(int commandId) const;
  // Runs a command as its menu item would (nothing when it is disabled).
  void ExecuteCommand(int commandId);
  // What the enabling rules see now.
  CommandContext CurrentContext() const;
  // Brings every action's enabled state and check mark up to date, and the Show Me note.
  void UpdateCommandStates();

  // Starts reading an existing file into a new layer, in a worker thread:
  // once read it becomes the newest layer, the file list is refreshed and the
  // map zooms to it. While another file is being read the name waits its
  // turn. False when no reading started now (a missing file, or a wait).
  bool OpenByName(const QString& path);
  // A later start handed a file name over (empty: it only asked to be seen):
  // the window comes forward and the file is opened.
  void OnHandOver(const QString& path);

  // True while a file is being read; the window works on meanwhile.
  bool IsBusy() const;
  // Whether names wait behind the reading under way.
  bool HasPendingNames() const { return !pendingNames_.empty(); }
  // The folder of the last data file opened or saved, where Open and Save As
  // start; a file's folder becomes it.
  QString DataFolder() const;
  void RememberDataFolder(const QString& path);
  // Stops the reading in progress (the status bar's Cancel, or Esc): no layer
  // comes of it, and the names waiting their turn are opened next.
  void CancelLoad();
  // Runs the event loop until no file is being read or waits (tests, tools).
  void WaitForLoads();
  // The status bar's load progress and its Cancel button.
  QProgressBar* LoadProgressBar() const { return loadBar_; }
  QToolButton* LoadCancelButton() const { return loadCancel_; }

  // The layers this frame owns; it hands them to the views it makes.
  LayerList& Layers() const { return *layers_; }

  // The Save As file dialog: given the starting folder, it returns the chosen
  // path or an empty string. Tests put their own in its place. (The Open
  // dialog is the layer dialogs' chooser, SetFileChooser.)
  using FileChooser = std::function<QString(QWidget* parent, const QString& startFolder)>;
  void SetSaveFileChooser(FileChooser chooser) { saveChooser_ = std::move(chooser); }
  // The Export Map Image dialog, in the same way.
  void SetExportFileChooser(FileChooser chooser) { exportChooser_ = std::move(chooser); }

  // ---- Window state, recent files, status bar (MainFrameDesktop.cpp).
  // Puts back the size, position and splitter of the last run; false when none
  // was kept (the first start, which shows the window maximised).
  bool RestoreWindowState();
  // Keeps them for the next start (closing the window does).
  void SaveWindowState() const;
  // The Open Recent submenu, listing the preferences' recent files.
  QMenu* RecentMenu() const { return recentMenu_; }
  // Opens a recent file; one that no longer exists leaves the list with a message.
  void OpenRecentFile(const QString& path);
  // The pointer's position over the map in the user's position style; none
  // clears it (the pointer left the map).
  void ShowPointerPosition(const MapPoint* at);
  // The map's scale at the view's centre.
  void ShowScale();
  // A note on what the active layer's filter hides (empty for none).
  void SetFilterNote(const QString& note);
  QLabel* PositionLabel() const { return positionLabel_; }
  QLabel* ScaleLabel() const { return scaleLabel_; }
  QLabel* FilterNoteLabel() const { return filterNoteLabel_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void BuildMenus();
  void BuildToolBar();
  QAction* MakeAction(int commandId, const std::string& text);
  void AddMenuEntries(class QMenu* menu, const std::vector<MenuEntry>& entries);

  // Command handlers, one per command id.
  void OnFileOpen();
  void OnFileClose();
  void OnFileCloseAll();
  void OnFileSaveAs();
  void OnFilePrint();
  void OnFilePrintPreview();
  void OnAppExit();
  void OnUnits(bool metric);
  void OnZoomTool();
  void OnZoomIn();
  void OnZoomOut();
  void OnZoomAll();
  void OnZoomActiveFile();
  void OnDisplaySettings();
  void OnSummaryTotals();
  void OnShowMe();
  void OnNotes();
  void OnLayerTable();
  void OnSummariseZones();
  void OnAppAbout();
  void OnFileExportImage();
  // Log › Clean Log… and the File menu's subsets (0 cleaned, 1 selection, 2 shown).
  void OnCleanLog();
  void OnSaveRecords(int which);

  // The status bar's permanent fields: filter note, position and scale.
  void BuildStatusBar();
  // The arrow keys pan the map from anywhere in the window but a text field.
  void AddMapKeys();
  // A file opened by name or through a dialog goes to the top of the recent files.
  void RememberRecentFile(const QString& path);
  void RebuildRecentMenu();

  Layer* ActiveLayer() const;
  // Shows how many records of the file being read have arrived.
  void ShowLoadProgress(int64_t recordsRead, int percent);
  // A reading ended: the layer joins the list, or the refusal is told.
  void OnLoadFinished(Layer* layer, const Error& error, bool cancelled, const std::vector<Error>& notices);
  // Starts the next name that waited for a reading.
  void OpenNextPending();
  void ShowLoadControls(bool shown);
  // Shows or hides the status bar's note of the records Show Me hides.
  void UpdateShowMeNote();

  const ResourceSet& set_;
  std::unique_ptr<LayerList> layers_;
  std::unique_ptr<MapProjection> projection_;
  QToolBar* toolBar_ = nullptr;
  QSplitter* splitter_ = nullptr;
  IMapPane* mapPane_ = nullptr;
  ILayersPane* layersPane_ = nullptr;
  CLayerTablePanel* tablePanel_ = nullptr;
  CZonesPanel* zonesPanel_ = nullptr;
  std::map<int, QAction*> actions_;
  FileChooser saveChooser_;
  FileChooser exportChooser_;
  QMenu* recentMenu_ = nullptr;
  std::vector<std::string> recentShown_;
  QLabel* filterNoteLabel_ = nullptr;
  QLabel* positionLabel_ = nullptr;
  QLabel* scaleLabel_ = nullptr;
  QString loadingName_;
  QString loadingPath_;
  // The status bar's last count of records read.
  QString progressMessage_;
  std::unique_ptr<LayerLoader> loader_;
  std::deque<QString> pendingNames_;
  QProgressBar* loadBar_ = nullptr;
  QToolButton* loadCancel_ = nullptr;
  QShortcut* cancelKey_ = nullptr;
};

// The main frame while it exists, or none.
CMainFrame* GetMainFrame();

}  // namespace kestrune
