#include "app/gui/MainFrame.h"

#include "app/gui/Session.h"
#include "app/gui/UndoCommand.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QPainter>
#include <QPointer>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QKeySequence>
#include <QLabel>
#include <QMimeData>
#include <QEventLoop>
#include <QProgressBar>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

#include "app/FileSetCopy.h"
#include "app/gui/AboutDlg.h"
#include "app/gui/FileDialogs.h"
#include "app/gui/ImportCommand.h"
#include "app/gui/Wiring.h"
#include "attributes/gui/DisplayDialog.h"
#include "attributes/gui/LayerToolDialogs.h"
#include "clean/LayerCleaning.h"
#include "base/gui/AppResources.h"
#include "base/gui/PaneInterfaces.h"
#include "base/Error.h"
#include "base/Paths.h"
#include "base/Platform.h"
#include "base/Preferences.h"
#include "geo/MapProjection.h"
#include "lang/gui/LangWidgets.h"
#include "lang/LangString.h"
#include "base/Error.h"
#include "layers/LayerList.h"
#include "layers/LayerLoader.h"
#include "layers/LogFields.h"
#include "mapview/gui/LayerTablePanel.h"
#include "mapview/gui/MapPrinting.h"
#include "mapview/gui/PrintPage.h"
#include "zones/gui/ZoneTableBlock.h"
#include "zones/gui/ZonesPanel.h"
#include "mapview/MapView.h"

namespace kestrune {

namespace {

CMainFrame* g_frame = nullptr;

// The layers pane's initial width: room for a name such as
// "field-boundary.shp" beside the icon and check box, with a scroll bar.
constexpr int kLayersPaneWidth = 200;

// True for a rectangle that encloses nothing (a layer without records).
bool IsEmptyRect(const MapRect& r) { return r.left > r.right || r.top > r.bottom; }

// Removes every layer and tells each legend that could not be written.
void ShowRemovalErrors(LayerList& layers) {
  std::vector<Error> errors;
  layers.RemoveAll(&errors);
  for (const Error& error : errors) ShowError(error);
}

// The platform's standard keys of a command (Ctrl+O for Open ...), or none.
QList<QKeySequence> StandardKeysOf(int commandId) {
  switch (commandId) {
    case kIdFileOpen: return QKeySequence::keyBindings(QKeySequence::Open);
    case kIdFileClose: return QKeySequence::keyBindings(QKeySequence::Close);
    case kIdFilePrint: return QKeySequence::keyBindings(QKeySequence::Print);
    case kIdAppExit: {
      // Desktops whose key scheme names no Quit key get the usual Ctrl+Q.
      const QList<QKeySequence> quit = QKeySequence::keyBindings(QKeySequence::Quit);
      return quit.isEmpty() ? QList<QKeySequence>{QKeySequence(Qt::CTRL | Qt::Key_Q)} : quit;
    }
    case kIdZoomIn: {
      // Ctrl+= too: the same key as Ctrl++ without Shift on most keyboards.
      QList<QKeySequence> keys = QKeySequence::keyBindings(QKeySequence::ZoomIn);
      const QKeySequence equal(Qt::CTRL | Qt::Key_Equal);
      if (!keys.contains(equal)) keys << equal;
      return keys;
    }
    case kIdZoomOut: return QKeySequence::keyBindings(QKeySequence::ZoomOut);
    default: return {};
  }
}

}  // namespace

// The frame while it exists.
CMainFrame* GetMainFrame() { return g_frame; }

// Builds the frame: layers, projection, panes, menus, toolbar and title.
CMainFrame::CMainFrame(int resourceSet, QWidget* parent)
    : QMainWindow(parent),
      set_(GetResourceSet(resourceSet)),
      layers_(std::make_unique<LayerList>()),
      projection_(std::make_unique<SphereMercatorProjection>()),
      saveChooser_(ChooseSaveFile),
      exportChooser_(ChooseExportFile),
      loader_(std::make_unique<LayerLoader>()) {
  g_frame = this;
  setObjectName(QStringLiteral("MainFrame%1").arg(set_.id));
  SetMapProjection(projection_.get());
  connect(loader_.get(), &LayerLoader::progress, this, &CMainFrame::ShowLoadProgress);
  connect(loader_.get(), &LayerLoader::finished, this, &CMainFrame::OnLoadFinished);
  setWindowIcon(AppIcon(set_.id));
  // The toolbar belongs to the frame; no menu offers to hide it.
  setContextMenuPolicy(Qt::NoContextMenu);

  splitter_ = new QSplitter(Qt::Horizontal, this);
  splitter_->setObjectName(QStringLiteral("Splitter"));
  splitter_->setChildrenCollapsible(false);
  layersPane_ = CreateLayersPane(splitter_, *layers_);
  mapPane_ = CreateMapPane(splitter_, *layers_);
  splitter_->addWidget(layersPane_->AsWidget());
  splitter_->addWidget(mapPane_->AsWidget());
  // The map takes every pixel the window gains; the layers pane keeps its width.
  splitter_->setStretchFactor(0, 0);
  splitter_->setStretchFactor(1, 1);
  resize(800, 600);
  splitter_->setSizes({kLayersPaneWidth, 800 - kLayersPaneWidth});
  setCentralWidget(splitter_);
  // The frame's focus goes to the map window.
  setFocusProxy(mapPane_->AsWidget());

  BuildMenus();
  InstallUndoCommand(*this);
  BuildToolBar();
  AddMapKeys();
  TranslateMenu(menuBar());
  // Tips come from the translated menu texts.
  for (const auto& [id, action] : actions_) {
    action->setToolTip(QString::fromStdString(TipFromMenuText(action->text().toStdString())));
  }
  setWindowTitle(set_.id == kVantrelSet ? LangQString(QString::fromStdString(set_.title))
                                        : LangQString(kFrameTitle));
  setAcceptDrops(true);
  // Tells how far the reading of a large file has come.
  statusBar()->setSizeGripEnabled(true);
  BuildStatusBar();
  UpdateCommandStates();
}

// Takes the panes down, then the projection, then the layers.
CMainFrame::~CMainFrame() {
  g_frame = nullptr;
  // A reading in progress stops and its layer goes.
  loader_.reset();
  // The Layer Table watches the map view and the layers, and tells the frame
  // when it hides; it goes before anything it points at.
  delete tablePanel_;
  tablePanel_ = nullptr;
  // The panes hold pointers into the layers; they go first.
  delete splitter_;
  splitter_ = nullptr;
  layersPane_ = nullptr;
  mapPane_ = nullptr;
  // The projection goes first, then the layers (writing changed legends).
  if (&GetMapProjection() == projection_.get()) SetMapProjection(nullptr);
  projection_.reset();
  // Each legend that could not be written is told before the layers go.
  ShowRemovalErrors(*layers_);
  layers_.reset();
}

// The one action of a command, shared by the menu and the toolbar.
QAction* CMainFrame::MakeAction(int commandId, const std::string& text) {
  auto* action = new QAction(QString::fromStdString(text), this);
  action->setObjectName(QStringLiteral("ID_%1").arg(commandId));
  action->setData(commandId);
  action->setIcon(CommandIcon(commandId));
  // Menus show texts only, as the toolbar shows pictures only.
  action->setIconVisibleInMenu(false);
  action->setCheckable(GetCommandState(commandId, CommandContext{}).checkable);
  connect(action, &QAction::triggered, this, [this, commandId] { ExecuteCommand(commandId); });
  actions_[commandId] = action;
  return action;
}

// Fills a menu from its table entries, submenus included.
void CMainFrame::AddMenuEntries(QMenu* menu, const std::vector<MenuEntry>& entries) {
  for (const MenuEntry& entry : entries) {
    if (entry.IsSeparator()) {
      menu->addSeparator();
    } else if (entry.IsPopup()) {
      QMenu* sub = menu->addMenu(QString::fromStdString(entry.text));
      connect(sub, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandStates);
      AddMenuEntries(sub, entry.children);
    } else if (entry.id == kIdFileOpenRecent) {
      // Filled from the preferences; its own action carries the enabling.
      recentMenu_ = menu->addMenu(QString::fromStdString(entry.text));
      recentMenu_->setObjectName(QStringLiteral("RecentMenu"));
      QAction* action = recentMenu_->menuAction();
      action->setObjectName(QStringLiteral("ID_%1").arg(entry.id));
      action->setData(entry.id);
      actions_[entry.id] = action;
    } else {
      QAction* action = MakeAction(entry.id, entry.text);
      // The platform's key of the command, and the map's own key: both work
      // anywhere in the window, except that a text field keeps what it types.
      QList<QKeySequence> keys = StandardKeysOf(entry.id);
      if (!entry.shortcut.empty()) keys << QKeySequence(QString::fromStdString(entry.shortcut));
      if (!keys.isEmpty()) {
        action->setShortcuts(keys);
        action->setShortcutContext(Qt::WindowShortcut);
      }
      menu->addAction(action);
    }
  }
}

// The menu bar of the set.
void CMainFrame::BuildMenus() {
  for (const MenuEntry& popup : set_.menu) {
    QMenu* menu = menuBar()->addMenu(QString::fromStdString(popup.text));
    connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandStates);
    AddMenuEntries(menu, popup.children);
  }
}

// The toolbar of the set with its 24 x 23 buttons.
void CMainFrame::BuildToolBar() {
  toolBar_ = new QToolBar(this);
  toolBar_->setObjectName(QStringLiteral("ToolBar%1").arg(set_.id));
  toolBar_->setMovable(false);
  toolBar_->setFloatable(false);
  toolBar_->setIconSize(QSize(kToolImageWidth, kToolImageHeight));
  addToolBar(Qt::TopToolBarArea, toolBar_);
  for (int id : set_.toolbar) {
    if (id == kToolbarSeparator) {
      toolBar_->addSeparator();
      continue;
    }
    QAction* action = Action(id);
    if (!action) continue;
    toolBar_->addAction(action);
    if (QWidget* button = toolBar_->widgetForAction(action)) button->setFixedSize(kToolButtonWidth, kToolButtonHeight);
  }
}

// The action of a command id.
QAction* CMainFrame::Action(int commandId) const {
  const auto it = actions_.find(commandId);
  return it == actions_.end() ? nullptr : it->second;
}

// The layers pane's active layer.
Layer* CMainFrame::ActiveLayer() const { return layersPane_ ? layersPane_->GetActiveLayer() : nullptr; }

// Gathers what the enabling rules look at.
CommandContext CMainFrame::CurrentContext() const {
  CommandContext context;
  context.layerCount = layers_ ? layers_->GetCount() : 0;
  Layer* active = ActiveLayer();
  context.hasActiveLayer = active != nullptr;
  context.totalsAvailable = CanShowTotals(active);
  context.zoomToolActive = mapPane_ && mapPane_->IsZoomToolActive();
  context.measureToolActive = mapPane_ && mapPane_->IsMeasureToolActive();
  context.metric = GetPreferences().IsMetric();
  context.layerTableShown = tablePanel_ && !tablePanel_->isHidden();
  context.recentFiles = static_cast<int>(GetPreferences().GetRecentFiles().size());
  return context;
}

// Applies the enabling rules and check marks to every action.
void CMainFrame::UpdateCommandStates() {
  if (recentMenu_ && recentShown_ != GetPreferences().GetRecentFiles()) RebuildRecentMenu();
  const CommandContext context = CurrentContext();
  for (const auto& [id, action] : actions_) {
    const CommandState state = GetCommandState(id, context);
    action->setEnabled(state.enabled);
    if (state.checkable) action->setChecked(state.checked);
  }
  // The Layer Table follows the active layer, once it is read whole.
  if (tablePanel_) tablePanel_->ShowLayer(ActiveLayer());
  // The scale goes with the last file closed.
  if (scaleLabel_) ShowScale();
  UpdateShowMeNote();
}

// The Show Me note of the status bar, shown only while a filter hides records.
void CMainFrame::UpdateShowMeNote() {
  if (!filterNoteLabel_) return;
  QString note;
  if (layers_) {
    // Show Me's hidden records, then the cleaning's removed ones.
    note = QString::fromStdString(ShowMeStatusNote(*layers_));
    const QString cleaning = QString::fromStdString(CleaningStatusNote(*layers_));
    if (!cleaning.isEmpty()) note += (note.isEmpty() ? QString() : QStringLiteral("   ")) + cleaning;
  }
  SetFilterNote(note);
}

// Runs the handler of an enabled command.
void CMainFrame::ExecuteCommand(int commandId) {
  // The state may have changed since the menu was drawn (a layer closed by a
  // pane, a load started by a hand-over).
  if (!GetCommandState(commandId, CurrentContext()).enabled) {
    UpdateCommandStates();
    return;
  }
  switch (commandId) {
    case kIdFileOpen: OnFileOpen(); break;
    case kIdFileImport: {
      // Starts in the data folder as Open and Save As do; the choice becomes it.
      const QString chosen = ChooseImportFile(this, DataFolder());
      if (chosen.isEmpty()) break;
      RememberDataFolder(chosen);
      OpenByName(chosen);
      break;
    }
    case kIdFileClose: OnFileClose(); break;
    case kIdFileCloseAll: OnFileCloseAll(); break;
    case kIdFileSaveAs: OnFileSaveAs(); break;
    case kIdFilePrint: OnFilePrint(); break;
    case kIdFilePrintPreview: OnFilePrintPreview(); break;
    case kIdFileExportImage: OnFileExportImage(); break;
    case kIdAppExit: OnAppExit(); break;
    case kIdUnitsUS: OnUnits(false); break;
    case kIdUnitsMetric: OnUnits(true); break;
    case kIdZoomTool: OnZoomTool(); break;
    case kIdMeasureTool: mapPane_->ToggleMeasureTool(); break;
    case kIdZoomIn: OnZoomIn(); break;
    case kIdZoomOut: OnZoomOut(); break;
    case kIdZoomAll: OnZoomAll(); break;
    case kIdZoomActiveFile: OnZoomActiveFile(); break;
    case kIdDisplaySettings: OnDisplaySettings(); break;
    case kIdSummaryTotals: OnSummaryTotals(); break;
    case kIdShowMe: OnShowMe(); break;
    case kIdNotes: OnNotes(); break;
    case kIdLayerTable: OnLayerTable(); break;
    case kIdCleanLog: OnCleanLog(); break;
    case kIdFileSaveCleanedAs: OnSaveRecords(0); break;
    case kIdFileSaveSelectionAs: OnSaveRecords(1); break;
    case kIdFileSaveShownAs: OnSaveRecords(2); break;
    case kIdSummariseZones: OnSummariseZones(); break;
    case kIdAppAbout: OnAppAbout(); break;
    default: break;
  }
  // Exit may have closed the window; the actions still exist until it is deleted.
  UpdateCommandStates();
}

// Whether a file is being read.
bool CMainFrame::IsBusy() const { return loader_ && loader_->IsRunning(); }

// Starts the reading of a file, or queues its name behind the one being read.
bool CMainFrame::OpenByName(const QString& path) {
  if (IsBusy() || !pendingNames_.empty()) {
    pendingNames_.push_back(path);
    return false;
  }
  // A missing file opens nothing, and says nothing (a start that named it,
  // or a recent file, tells the user itself).
  if (!QFileInfo::exists(path)) return false;
  // An input to import is written as shape file sets, which then open in order.
  if (IsImportPath(path)) {
    bool started = false;
    for (const std::string& set : ImportWithProgress(this, path.toStdString())) {
      started = OpenByName(QString::fromStdString(set)) || started;
    }
    return started;
  }
  loadingName_ = QFileInfo(path).fileName();
  loadingPath_ = path;
  if (!loader_->Start(path.toStdString())) return false;
  ShowLoadControls(true);
  ShowLoadProgress(0, 0);
  UpdateCommandStates();
  return true;
}

// Asks the reading to stop.
void CMainFrame::CancelLoad() {
  if (IsBusy()) loader_->Cancel();
}

// The event loop turns until every reading, waiting ones too, is done.
void CMainFrame::WaitForLoads() {
  while (IsBusy() || !pendingNames_.empty()) {
    if (!IsBusy()) OpenNextPending();
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
  }
}

// The layer joins the list as the newest and the map zooms to it; a refused
// file is told; then the next name waiting.
void CMainFrame::OnLoadFinished(Layer* layer, const Error& error, bool cancelled,
                                const std::vector<Error>& notices) {
  ShowLoadControls(false);
  // The count goes; a notice the load told meanwhile stays.
  if (statusBar()->currentMessage() == progressMessage_) statusBar()->clearMessage();
  progressMessage_.clear();
  const QString path = loadingPath_;
  loadingPath_.clear();
  if (layer) {
    layers_->Adopt(layer);
    // A log kept cleaned opens cleaned.
    Error cleaning;
    if (!ApplyStoredCleaning(*layer, &cleaning)) ShowError(cleaning);
    RememberRecentFile(path);
    RememberDataFolder(path);
    if (layersPane_) layersPane_->RefreshFileList();
    OnZoomActiveFile();
  }
  UpdateCommandStates();
  if (!cancelled) ShowError(error);
  for (const Error& notice : notices) ShowError(notice);
  if (!pendingNames_.empty()) QTimer::singleShot(0, this, [this] { OpenNextPending(); });
}

// Opens the first waiting name (a missing one is passed over).
void CMainFrame::OpenNextPending() {
  while (!IsBusy() && !pendingNames_.empty()) {
    // The name starts with nothing waiting before it; names queued meanwhile
    // go after those that already waited.
    std::deque<QString> waiting;
    waiting.swap(pendingNames_);
    const QString next = waiting.front();
    waiting.pop_front();
    OpenByName(next);
    for (QString& name : pendingNames_) waiting.push_back(std::move(name));
    pendingNames_.swap(waiting);
  }
}

// The progress bar and the Cancel button, with Esc, show during a reading.
void CMainFrame::ShowLoadControls(bool shown) {
  if (loadBar_) loadBar_->setVisible(shown);
  if (loadCancel_) loadCancel_->setVisible(shown);
  if (cancelKey_) cancelKey_->setEnabled(shown);
  if (loadBar_ && shown) loadBar_->setValue(0);
}

// Comes forward and opens a handed-over file.
void CMainFrame::OnHandOver(const QString& path) {
  // Restored when minimised, kept maximised when it was, and brought forward.
  if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  raise();
  activateWindow();
  // A dialog the user left open comes first, as it owns the input.
  if (QWidget* modal = QApplication::activeModalWidget()) {
    modal->raise();
    modal->activateWindow();
  }
  if (!path.isEmpty()) OpenByName(path);
}

// Writes the reading report into the status bar and moves the progress bar.
void CMainFrame::ShowLoadProgress(int64_t recordsRead, int percent) {
  if (!IsBusy()) return;
  if (loadBar_) loadBar_->setValue(percent);
  if (recordsRead <= 0) return;
  // A notice the load told stays until the load ends.
  const QString shown = statusBar()->currentMessage();
  if (!shown.isEmpty() && shown != progressMessage_) return;
  progressMessage_ = QString::fromStdString(LangFormat("#20000800:Reading %s: %lld records",
                                                       loadingName_.toUtf8().constData(),
                                                       static_cast<long long>(recordsRead)));
  statusBar()->showMessage(progressMessage_);
}

// The folder of the last data file opened or saved: where Open and Save As start.
QString CMainFrame::DataFolder() const {
  const std::string& open = GetPreferences().GetOpenFolder();
  return QString::fromStdString(open.empty() ? GetPreferences().GetSaveFolder() : open);
}

// A file's folder becomes the data folder, kept in the preferences.
void CMainFrame::RememberDataFolder(const QString& path) {
  const std::string folder = FolderOf(path.toStdString());
  if (folder.empty() || folder == GetPreferences().GetOpenFolder()) return;
  GetPreferences().SetOpenFolder(folder);
  GetPreferences().SaveToConfigFile();
}

// Open: the dialog and the opening, then the file list and the zoom.
void CMainFrame::OnFileOpen() {
  // The chosen file is read like any other name: after the one being read.
  OpenLayerCommand(*layers_, this, [this](const std::string& path, const std::function<void()>&) {
    OpenByName(QString::fromStdString(path));
  });
}

// Close: removes the active layer.
void CMainFrame::OnFileClose() {
  Layer* active = ActiveLayer();
  if (!active) return;
  Error error;
  layers_->RemoveLayer(active, true, &error);
  ShowError(error);
  mapPane_->InvalidateMap(true);
  layersPane_->RefreshFileList();
}

// Close All: removes every layer.
void CMainFrame::OnFileCloseAll() {
  ShowRemovalErrors(*layers_);
  mapPane_->InvalidateMap(true);
  layersPane_->RefreshFileList();
}

// Save As: copies the active layer's set and renames the layer.
void CMainFrame::OnFileSaveAs() {
  Layer* active = ActiveLayer();
  if (!active) return;
  const QString chosen = saveChooser_ ? saveChooser_(this, DataFolder()) : QString();
  if (chosen.isEmpty()) return;
  const std::string path = chosen.toStdString();
  const FileSetCopyResult result = CopyShapeFileSet(active->GetBasePath(), BasePathOf(path));
  if (!result.ok) {
    ShowMessage(FileSetCopyErrorText(result), FileSetCopyErrorCaption(), MessageIcon::Warning);
  } else {
    // The layer now stands for the copy; its records are not read again.
    active->SetPathName(result.newShpPath);
    layersPane_->RefreshFileList();
    // The copy is a file of the user's like any other opened.
    RememberRecentFile(QString::fromStdString(result.newShpPath));
  }
  const std::string folder = FolderOf(path);
  if (!folder.empty()) {
    GetPreferences().SetSaveFolder(folder);
    GetPreferences().SaveToConfigFile();
    RememberDataFolder(QString::fromStdString(path));
  }
}

// Print: the map window prints its page.
void CMainFrame::OnFilePrint() { mapPane_->Print(); }

// Print Preview: the page Print gives, in Qt's preview over the same printer.
void CMainFrame::OnFilePrintPreview() {
  PreviewMapView(mapPane_->AsWidget(), mapPane_->GetMapView(), layers_.get());
}

// Exit: closes the window without asking.
void CMainFrame::OnAppExit() { close(); }

// U.S. and Metric: the preference in memory only.
void CMainFrame::OnUnits(bool metric) {
  GetPreferences().SetMetric(metric);
  // Kept at once, not only when an Open or Save As writes the preferences next.
  GetPreferences().SaveToConfigFile();
  // Summaries are in acres or hectares, and widths read in feet or metres, by the units.
  for (Layer* layer : layers_->Layers()) ComputeLogValues(*layer);
}

// Zoom Tool: creates or deletes the map's zoom tool.
void CMainFrame::OnZoomTool() { mapPane_->ToggleZoomTool(); }

// Zoom In about the centre.
void CMainFrame::OnZoomIn() { mapPane_->GetMapView().ZoomIn(); }

// Zoom Out about the centre.
void CMainFrame::OnZoomOut() { mapPane_->GetMapView().ZoomOut(); }

// Zoom All: every layer in view.
void CMainFrame::OnZoomAll() {
  std::vector<MapRect> bounds;
  for (Layer* layer : layers_->Layers()) bounds.push_back(layer->GetBounds());
  mapPane_->GetMapView().ZoomAll(bounds);
}

// Zoom Active File: the active layer's bounds with a margin.
void CMainFrame::OnZoomActiveFile() {
  Layer* active = ActiveLayer();
  if (!active) return;
  MapRect bounds = active->GetBounds();
  // A layer without records has no place to zoom to; the view stays.
  if (IsEmptyRect(bounds)) return;
  mapPane_->GetMapView().ZoomToRect(bounds, true);
}

// Display Settings of the active layer, then its legend anew.
void CMainFrame::OnDisplaySettings() {
  Layer* active = ActiveLayer();
  if (!active) return;
  ShowDisplayDialog(*active, this);
  layersPane_->RefreshLegend();
}

// Summary Totals over all layers.
void CMainFrame::OnSummaryTotals() {
  ShowTotals(*layers_, this);
}

// Show Me: the filter dialog of the active layer.
void CMainFrame::OnShowMe() {
  Layer* active = ActiveLayer();
  if (!active) return;
  ShowFilterDialog(*active, this);
}

// Notes of the active layer.
void CMainFrame::OnNotes() {
  Layer* active = ActiveLayer();
  if (!active) return;
  EditNotes(*active, this);
}

// Layer Table: the panel under the map, opened or closed.
void CMainFrame::OnLayerTable() {
  if (!tablePanel_) {
    tablePanel_ = new CLayerTablePanel(this);
    tablePanel_->SetMapView(&mapPane_->GetMapView());
    tablePanel_->SetLayers(layers_.get());
    addDockWidget(Qt::BottomDockWidgetArea, tablePanel_);
    // Its own close button unticks the command.
    connect(tablePanel_, &QDockWidget::visibilityChanged, this, [this] { UpdateCommandStates(); });
    tablePanel_->show();
  } else {
    tablePanel_->setVisible(tablePanel_->isHidden());
  }
  if (!tablePanel_->isHidden()) tablePanel_->ShowLayer(ActiveLayer());
}

// Summarise by Zones: the panel beside the map, shown and brought forward.
void CMainFrame::OnSummariseZones() {
  if (!zonesPanel_) {
    zonesPanel_ = new CZonesPanel(this);
    zonesPanel_->SetLayers(layers_.get());
    addDockWidget(Qt::RightDockWidgetArea, zonesPanel_);
    // The panel's table prints as a block of the page when it is asked to.
    SetPrintSourceHook([panel = QPointer<CZonesPanel>(zonesPanel_)](PrintSource& source) {
      if (!panel || !panel->PrintsWithPage()) return;
      source.extraBlocks.push_back([panel](QPainter& painter, const PageMetrics& page, int reserved, int& reserve) {
        reserve = 0;
        if (!panel) return QRect();
        return DrawZoneTable(painter, {page.width, page.height, page.dpiX, page.dpiY}, reserved, reserve,
                             panel->Summary(), panel->SummaryZoneFile(), panel->SummaryLogFile())
            .box;
      });
    });
  }
  zonesPanel_->show();
  zonesPanel_->raise();
}

// About: the set's About dialog.
void CMainFrame::OnAppAbout() {
  CAboutDlg about(set_.aboutDialogId, this);
  about.exec();
}

// Closes at once: a reading in progress is cancelled, waiting names dropped.
void CMainFrame::closeEvent(QCloseEvent* event) {
  pendingNames_.clear();
  if (IsBusy()) {
    loader_->Cancel();
    // The worker stops at its next look at the flag; its layer goes with it.
    loader_ = std::make_unique<LayerLoader>();
    connect(loader_.get(), &LayerLoader::progress, this, &CMainFrame::ShowLoadProgress);
    connect(loader_.get(), &LayerLoader::finished, this, &CMainFrame::OnLoadFinished);
    ShowLoadControls(false);
    statusBar()->clearMessage();
  }
  SaveWindowState();
  // The files open now reopen at the next start without a file name.
  SaveSession(SessionOf(*layers_, ActiveLayer()));
  QMainWindow::closeEvent(event);
}

// Accepts drags that carry local files.
void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
  const QMimeData* mime = event->mimeData();
  if (!mime->hasUrls()) return;
  for (const QUrl& url : mime->urls()) {
    if (url.isLocalFile()) {
      event->acceptProposedAction();
      return;
    }
  }
}

// Opens dropped local files as layers.
void CMainFrame::dropEvent(QDropEvent* event) {
  QStringList names;
  for (const QUrl& url : event->mimeData()->urls()) {
    if (url.isLocalFile()) names << url.toLocalFile();
  }
  if (names.isEmpty()) return;
  event->acceptProposedAction();
  // The drag source waits for the drop to finish; the files open afterwards,
  // each as if named on the command line.
  QTimer::singleShot(0, this, [this, names] {
    for (const QString& name : names) OpenByName(name);
  });
}

}  // namespace kestrune
