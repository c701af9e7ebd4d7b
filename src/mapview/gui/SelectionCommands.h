// The commands on a layer's selection that the map window offers: its
// right-button menu and the attribute report a double click (or a Layer Table
// row) opens.
#pragma once

#include <string>
#include <vector>

class QWidget;

namespace kestrune {

class Layer;
class Shape;

// One item of a context menu, kept as data until the window shows it.
struct MenuItem {
  int commandId = 0;
  std::string text;
  friend bool operator==(const MenuItem& a, const MenuItem& b) {
    return a.commandId == b.commandId && a.text == b.text;
  }
};
using MenuItems = std::vector<MenuItem>;

// Context commands of a layer's selection.
constexpr int kCommandShowAttributes = 101;
constexpr int kCommandRemoveRecords = 102;

// The selection's commands: "Attributes" when it is one record number,
// nothing for several. False when nothing is selected (no choice to run).
bool BuildSelectionMenu(const Layer& layer, MenuItems& menu);

// Runs a context command on the selection: Attributes opens the report of
// the first record in drawing order, Remove deletes the selected records.
// Nothing without a selection or for another command.
void RunSelectionCommand(Layer& layer, int command, QWidget* parent);

// Opens the attribute report of the one selected record over parent, then
// the Layer Tables reread their rows and the layer rereads and recolours the
// record; false (nothing opened) unless the selection is one record number.
bool EditSelectedAttributes(Layer& layer, QWidget* parent);

// The attribute report of any record, after which the Layer Tables reread
// their rows.
void ShowRecordAttributes(Shape& shape, QWidget* parent);

}  // namespace kestrune
