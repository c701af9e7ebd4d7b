// The main window's commands, menus and toolbars as data: one table per
// resource set (the viewer's own set 128 and the Vantrel set 156), so the menu
// bar, the toolbar and their tests all come from one place. Also the rule that
// decides, from the state of the open layers, which commands are enabled and
// checked.
#pragma once

#include <string>
#include <vector>

#include "base/ResourceIds.h"

namespace kestrune {

// Command ids, as the menus and the toolbar carry them.
enum CommandId : int {
  kIdAppExit = 32770,
  kIdFileOpen = 32771,
  kIdFilePrint = 32773,
  kIdFilePrintPreview = 32774,
  kIdFileClose = 32775,
  kIdAppAbout = 32790,
  kIdZoomTool = 32792,
  // View > Measure: the ground length and area of clicked points.
  kIdMeasureTool = 32850,
  kIdZoomIn = 32793,
  kIdZoomOut = 32794,
  kIdZoomAll = 32795,
  kIdDisplaySettings = 32797,
  kIdSummaryTotals = 32798,
  kIdFileCloseAll = 32799,
  kIdZoomActiveFile = 32800,
  kIdFileSaveAs = 32801,
  kIdShowMe = 32806,
  kIdNotes = 32807,
  kIdUnitsUS = 32808,
  kIdUnitsMetric = 32809,
  kIdLayerTable = 32840,
  kIdSummariseZones = 32845,
  kIdFileExportImage = 32810,
  // The Open Recent submenu: the frame fills it with the recent files.
  kIdFileOpenRecent = 32811,
  // File > Import...: inputs that are not shape file sets, written as sets.
  kIdFileImport = 32871,
  // The log's cleaning and the subsets saved as new sets.
  kIdCleanLog = 32960,
  kIdFileSaveCleanedAs = 32961,
  kIdFileSaveSelectionAs = 32962,
  kIdFileSaveShownAs = 32963,
};

constexpr int kSplashTimerId = 101;
constexpr int kSplashMilliseconds = 2000;

// The private message that hands a file name to the running instance.
constexpr unsigned kFileHandOverMessage = 0x857;

// Toolbar buttons: the button size of the toolbar resource.
constexpr int kToolButtonWidth = 24;
constexpr int kToolButtonHeight = 23;
// A toolbar table's separator.
constexpr int kToolbarSeparator = 0;

// One entry of a menu table: a command (id > 0), a separator (id 0, no text)
// or a popup (id 0, text, children). Texts are the "#id:default" literals,
// translated when the menu is built. A shortcut is the map's key (Qt's key
// sequence text) for the command, the key the menu text names after its tab;
// it works anywhere in the main window except in a text field.
struct MenuEntry {
  int id = 0;
  std::string text;
  std::vector<MenuEntry> children;
  std::string shortcut;

  bool IsSeparator() const { return id == 0 && text.empty(); }
  bool IsPopup() const { return id == 0 && !text.empty(); }
};

// A resource set: what the frame loads when it is built.
struct ResourceSet {
  int id = kStandardSet;
  std::vector<MenuEntry> menu;  // the popups of the menu bar
  std::vector<int> toolbar;     // command ids, kToolbarSeparator between groups
  std::string title;            // title string of the set
  int aboutDialogId = kAboutDialogId;
  int aboutBitmapId = kSplashBitmapId;
};

const ResourceSet& GetResourceSet(int setId);

// The set an edition name selects: "Vantrel" (in any case, blanks around it
// ignored) selects set 156; anything else the viewer's own set 128.
int ResourceSetForEdition(const std::string& edition);


// The text of a command in a set's menu (the "#id:default" literal), or empty
// when the set's menu does not hold it. Toolbar tips are made from it.
std::string MenuTextOf(const ResourceSet& set, int commandId);
// The shortcut of a command in a set's menu, or empty.
std::string ShortcutOf(const ResourceSet& set, int commandId);

// A menu text as a tip: the part before a tab, without "&" markers and
// trailing blanks or dots ("Zoom In \t &I" gives "Zoom In", "&Open..." "Open").
std::string TipFromMenuText(const std::string& text);

// What the enabling rules look at.
struct CommandContext {
  int layerCount = 0;           // layers open
  bool hasActiveLayer = false;  // the layers window has an active layer
  bool totalsAvailable = false; // the active layer's product slot has area and volume
  bool zoomToolActive = false;
  bool measureToolActive = false;
  bool metric = true;
  bool busy = false;            // a layer is being filled; nothing may touch the list
  bool layerTableShown = false; // the Layer Table panel is open
  int recentFiles = 0;          // files in the Open Recent list
};

struct CommandState {
  bool enabled = false;
  bool checkable = false;
  bool checked = false;
};

// The enabled and check state of a command in the given context.
CommandState GetCommandState(int commandId, const CommandContext& context);

// Every command id of a set's menu, in menu order (separators and popups left out).
std::vector<int> MenuCommandIds(const ResourceSet& set);

}  // namespace kestrune
