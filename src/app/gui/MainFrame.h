// The main window: the layers pane and the map pane side by side in a
// splitter, the menu bar and the toolbar of the chosen resource set, and the
// commands they carry. It owns the process-wide layer list and projection,
// and opens the files handed over by later starts and dropped onto it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>

#include <QMainWindow>
#include <QStringList>

#include "app/Commands.h"

class QAction;
class QLabel;
class QSplitter;
class QToolBar;

namespace kestrune {

class CLayerTablePanel;
class ILayersPane;
class IMapPane;
class Layer;
class LayerList;
class MapProjection;

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

  // The action of a command, or none when the set does not carry it.
  QAction* Action(int commandId) const;
  // Runs a command as its menu item would (nothing when it is disabled).
  void ExecuteCommand(int commandId);
  // What the enabling rules see now.
  CommandContext CurrentContext() const;
  // Brings every action's enabled state and check mark up to date, and the Show Me note.
  void UpdateCommandStates();

  // Opens an existing file as the newest layer, refreshes the file list and
  // zooms to the active file. While a layer is being read the name waits
  // and is opened after it. False when nothing was opened now.
  bool OpenByName(const QString& path);
  // A later start handed a file name over (empty: it only asked to be seen):
  // the window comes forward and the file is opened.
  void OnHandOver(const QString& path);

  // True while a layer is being read (commands that touch layers wait).
  bool IsBusy() const { return busy_ > 0; }

  // The layers this frame owns (also reachable through GetLayerList).
  LayerList& Layers() const { return *layers_; }

  // The Save As file dialog: given the starting folder, it returns the chosen
  // path or an empty string. Tests put their own in its place. (The Open
  // dialog is the layer dialogs' chooser, SetFileChooser.)
  using FileChooser = std::function<QString(QWidget* parent, const QString& startFolder)>;
  void SetSaveFileChooser(FileChooser chooser) { saveChooser_ = std::move(chooser); }

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
  void OnAppAbout();

  Layer* ActiveLayer() const;
  // Shows how many records of the file being read have arrived.
  void ShowLoadProgress(int64_t recordsRead);
  // Runs work that may read a layer: the layer commands stay disabled
  // meanwhile, and a close asked for during it happens afterwards.
  void RunBusy(const std::function<void()>& work);
  // Opens the names that arrived while a layer was being read.
  void OpenPendingNames();
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
  std::map<int, QAction*> actions_;
  FileChooser saveChooser_;
  QString loadingName_;
  int busy_ = 0;
  bool closePending_ = false;
  QStringList pendingNames_;
  QLabel* showMeNote_ = nullptr;
};

// The main frame while it exists, or none.
CMainFrame* GetMainFrame();

}  // namespace kestrune
