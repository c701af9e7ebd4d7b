#include "mapview/gui/SelectionCommands.h"

#include "attributes/gui/AttributeReportDlg.h"
#include "layers/Layer.h"
#include "mapview/gui/LayerTablePanel.h"
#include "shapes/Shape.h"

namespace kestrune {

// One record number selected: "Attributes"; several: nothing.
bool BuildSelectionMenu(const Layer& layer, MenuItems& menu) {
  if (layer.GetSelection().empty()) return false;
  if (layer.IsOneRecordSelected()) menu.push_back({kCommandShowAttributes, "Attributes"});
  return true;
}

// The report, or the removal, of the selection.
void RunSelectionCommand(Layer& layer, int command, QWidget* parent) {
  if (layer.GetSelection().empty()) return;
  if (command == kCommandShowAttributes) {
    ShowRecordAttributes(*layer.GetSelectionDrawOrder().front(), parent);
  } else if (command == kCommandRemoveRecords) {
    layer.RemoveSelectedRecords();
  }
}

// The report of the one selected record, then its value read again.
bool EditSelectedAttributes(Layer& layer, QWidget* parent) {
  if (!layer.IsOneRecordSelected()) return false;
  ShowRecordAttributes(*layer.GetSelection().front(), parent);
  return layer.RereadSelectedRecord();
}

// The report runs modally; a row it wrote shows in the Layer Tables at once.
void ShowRecordAttributes(Shape& shape, QWidget* parent) {
  ShowAttributeReport(shape, parent);
  RefreshLayerTables();
}

}  // namespace kestrune
