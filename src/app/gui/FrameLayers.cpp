// Until the layer core is merged, no layer can be opened: every call answers
// as the list would with no layers. Replaced by the calls on LayerList.
#include "app/gui/FrameLayers.h"

namespace kestrune::shell {

void CreateLayerCore(QWidget*) {}
void DestroyLayerCore() {}
int LayerCount() { return 0; }
std::vector<Layer*> Layers() { return {}; }
bool OpenLayerCommand(QWidget*) { return false; }
Layer* OpenLayerByName(const std::string&, QWidget*) { return nullptr; }
void CloseLayer(Layer*) {}
void CloseAllLayers() {}
std::string LayerFileName(Layer*) { return {}; }
std::string LayerPath(Layer*) { return {}; }
std::string LayerBasePath(Layer*) { return {}; }
void SetLayerPathName(Layer*, const std::string&) {}
MapRect LayerBounds(Layer*) { return kEmptyBounds; }
std::vector<MapRect> AllLayerBounds() { return {}; }
void ShowDisplayDialog(Layer*) {}
void ShowFilterDialog(Layer*) {}
void EditNotes(Layer*) {}
void ShowTotals() {}
bool TotalsAvailable(Layer*) { return false; }

}  // namespace kestrune::shell
