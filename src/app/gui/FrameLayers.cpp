// The frame's calls on the process-wide layer list and projection.
#include "app/gui/FrameLayers.h"

#include <memory>

#include <QMainWindow>
#include <QPointer>
#include <QStatusBar>

#include "app/Preferences.h"
#include "app/gui/FileDialogs.h"
#include "lang/LangString.h"
#include "layers/LayerList.h"
#include "mapview/MapProjection.h"

namespace kestrune::shell {

namespace {

std::unique_ptr<LayerList> g_layers;
std::unique_ptr<SphereMercatorProjection> g_projection;

// The progress of a load, in the frame's status bar.
constexpr const char* kTextReadingRecords = "#20000900:Reading %s: %lld records";

// The folder part of a path (before its last "/" or "\"), or empty.
std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
}

// The file name part of a path.
std::string FileNameOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Adds a layer while the owner's status bar counts the records read; the
// loader dispatches events meanwhile, so the count shows as it grows.
Layer* AddLayerShowingProgress(const std::string& path, QWidget* owner, bool mustExist) {
  if (!g_layers) return nullptr;
  QPointer<QMainWindow> frame(qobject_cast<QMainWindow*>(owner));
  const std::string name = FileNameOf(path);
  if (frame) {
    g_layers->SetLoadProgressHandler([frame, name](int64_t recordsRead) {
      // A small file is read before anyone could read its count; the bar
      // would only make the map jump.
      if (!frame || recordsRead < Layer::kProgressInterval) return;
      frame->statusBar()->show();
      frame->statusBar()->showMessage(
          QString::fromStdString(LangFormat(kTextReadingRecords, name.c_str(), static_cast<long long>(recordsRead))));
    });
  }
  Layer* layer = g_layers->AddLayer(path, owner, mustExist, false);
  g_layers->SetLoadProgressHandler(nullptr);
  // The bar is there only while something is read.
  if (frame && frame->findChild<QStatusBar*>(QString(), Qt::FindDirectChildrenOnly)) {
    frame->statusBar()->clearMessage();
    frame->statusBar()->hide();
  }
  return layer;
}

}  // namespace

// Creates the process-wide projection and layer list, owned by the frame.
void CreateLayerCore(QWidget* owner) {
  g_projection = std::make_unique<SphereMercatorProjection>();
  SetMapProjection(g_projection.get());
  g_layers = std::make_unique<LayerList>(static_cast<void*>(owner));
  SetLayerList(g_layers.get());
}

// Deletes the projection, then the layer list.
void DestroyLayerCore() {
  // The projection goes first, then the list (which writes changed legends).
  SetMapProjection(nullptr);
  g_projection.reset();
  SetLayerList(nullptr);
  g_layers.reset();
}

// How many layers are open.
int LayerCount() { return g_layers ? g_layers->GetCount() : 0; }

// The open layers, newest first.
std::vector<Layer*> Layers() { return g_layers ? g_layers->Layers() : std::vector<Layer*>(); }

// The Open command: the file dialog, then the chosen file as the newest layer.
bool OpenLayerCommand(QWidget* owner) {
  if (!g_layers) return false;
  const std::string path = ChooseOpenFile(owner, QString::fromStdString(GetPreferences().GetOpenFolder())).toStdString();
  if (path.empty()) return false;
  const std::string folder = FolderOf(path);
  if (!folder.empty()) {
    GetPreferences().SetOpenFolder(folder);
    GetPreferences().SaveToRegistry();
  }
  return AddLayerShowingProgress(path, owner, false) != nullptr;
}

// Opens an existing file as the newest layer.
Layer* OpenLayerByName(const std::string& path, QWidget* owner) {
  return AddLayerShowingProgress(path, owner, true);
}

// Writes the layer's changed legend and closes it.
void CloseLayer(Layer* layer) {
  if (g_layers && layer) g_layers->RemoveLayer(layer, true);
}

// Closes every layer.
void CloseAllLayers() {
  if (g_layers) g_layers->RemoveAll();
}

// A layer's file name, path and base path.
std::string LayerFileName(Layer* layer) { return layer ? layer->GetFileName() : std::string(); }
std::string LayerPath(Layer* layer) { return layer ? layer->GetPathName() : std::string(); }
std::string LayerBasePath(Layer* layer) { return layer ? layer->GetBasePath() : std::string(); }

// Points a layer at another file (after Save As).
void SetLayerPathName(Layer* layer, const std::string& path) {
  if (layer) layer->SetPathName(path);
}

// A layer's bounds, or the empty bounds.
MapRect LayerBounds(Layer* layer) { return layer ? layer->GetBounds() : kEmptyBounds; }

// Every layer's bounds, newest first.
std::vector<MapRect> AllLayerBounds() {
  std::vector<MapRect> bounds;
  if (!g_layers) return bounds;
  for (const Layer* layer : g_layers->Layers()) bounds.push_back(layer->GetBounds());
  return bounds;
}

// The dialogs of the layers plug in here as they arrive.
void ShowDisplayDialog(Layer*) {}
void ShowFilterDialog(Layer*) {}
void EditNotes(Layer*) {}
void ShowTotals() {}

// Whether Summary Totals applies to the layer.
bool TotalsAvailable(Layer* layer) { return CanShowTotals(layer); }

}  // namespace kestrune::shell
