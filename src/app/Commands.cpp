#include "app/Commands.h"

#include <algorithm>
#include <cctype>

#include "base/Edition.h"

namespace kestrune {

namespace {

// A command entry, with the key that runs it from the map window.
MenuEntry Item(int id, const char* text, const char* shortcut = "") { return MenuEntry{id, text, {}, shortcut}; }
// A separator entry.
MenuEntry Separator() { return MenuEntry{}; }
// A popup entry with its items.
MenuEntry Popup(const char* text, std::vector<MenuEntry> children) {
  return MenuEntry{0, text, std::move(children), {}};
}

// The texts both sets share.
const char kFile[] = "#10244:&File  ";
const char kOpen[] = "#10245:&Open...";
const char kClose[] = "#10246:&Close";
const char kCloseAll[] = "#10247:&Close &All";
const char kSaveAs[] = "#10248:Save As...";
const char kPrint[] = "#10249:&Print";
const char kPrintPreview[] = "#20200050:Print Pre&view";
const char kOpenRecent[] = "#20013001:Open &Recent";
const char kExportImage[] = "#20013002:&Export Map Image...";
const char kExit[] = "#10250:E&xit";
const char kView[] = "#10251:&View  ";
const char kZoomTool[] = "#10252:&Zoom Tool";
const char kMeasure[] = "#20710001:&Measure";
const char kZoomIn[] = "#10253:Zoom In \t &I";
const char kZoomOut[] = "#10254:Zoom Out \t &O";
const char kZoomAll[] = "#10255:Zoom All \t &A";
const char kZoomActive[] = "#10256:Zoom Active &File";
const char kDisplay[] = "#10257:&Display Settings";
const char kLog[] = "#10259:&Log  ";
const char kNotes[] = "#10261:&Notes";
const char kHelp[] = "#10262:&Help";
const char kAbout[] = "#10263:&About...";
const char kShowMe[] = "#10096:&Show Me";
const char kTotals[] = "#10098:&Summary Totals";
const char kLayerTable[] = "#20014010:Layer &Table";
const char kImport[] = "#20300038:&Import...";
const char kCleanLog[] = "#20600070:&Clean Log...";
const char kSaveCleaned[] = "#20600071:Save C&leaned As...";
const char kSaveSelection[] = "#20600072:Save Se&lection As...";
const char kSaveShown[] = "#20600073:Save S&hown As...";
const char kSummariseZones[] = "#20500060:Summarise by &Zones...";

// The viewer's own set 128.
ResourceSet MakeStandardSet() {
  ResourceSet set;
  set.id = kStandardSet;
  set.menu = {
      Popup(kFile, {Item(kIdFileOpen, kOpen), Item(kIdFileOpenRecent, kOpenRecent), Item(kIdFileImport, kImport),
                    Item(kIdFileClose, kClose),
                    Item(kIdFileCloseAll, kCloseAll), Separator(), Item(kIdFileSaveAs, kSaveAs),
                    Item(kIdFileSaveCleanedAs, kSaveCleaned), Item(kIdFileSaveSelectionAs, kSaveSelection),
                    Item(kIdFileSaveShownAs, kSaveShown), Item(kIdFilePrint, kPrint), Item(kIdFilePrintPreview, kPrintPreview),
                    Item(kIdFileExportImage, kExportImage), Separator(),
                    Popup("Units", {Item(kIdUnitsUS, "&U.S."), Item(kIdUnitsMetric, "Metric")}), Separator(),
                    Item(kIdAppExit, kExit)}),
      Popup(kView, {Item(kIdZoomTool, kZoomTool), Item(kIdMeasureTool, kMeasure), Item(kIdZoomIn, kZoomIn, "I"), Item(kIdZoomOut, kZoomOut, "O"),
                    Item(kIdZoomAll, kZoomAll, "A"), Item(kIdZoomActiveFile, kZoomActive), Separator(),
                    Item(kIdDisplaySettings, kDisplay), Item(kIdLayerTable, kLayerTable)}),
      Popup(kLog, {Item(kIdCleanLog, kCleanLog), Item(kIdNotes, kNotes), Item(kIdSummariseZones, kSummariseZones)}),
      Popup(kHelp, {Item(kIdAppAbout, kAbout)}),
  };
  set.toolbar = {kIdFileOpen, kIdFileClose, kIdFileCloseAll, 0, kIdFileSaveAs, 0, kIdFilePrint, 0,
                 kIdZoomTool, 0, kIdZoomIn, kIdZoomOut, kIdZoomAll, kIdZoomActiveFile, 0,
                 kIdDisplaySettings, kIdLayerTable, kIdNotes};
  set.title = "Kestrune";
  set.aboutDialogId = kAboutDialogId;
  set.aboutBitmapId = kSplashBitmapId;
  return set;
}

// The Vantrel set lists its items without separators; the groups of the
// viewer's own menu are kept so both menus read alike.
ResourceSet MakeVantrelSet() {
  ResourceSet set;
  set.id = kVantrelSet;
  set.menu = {
      Popup(kFile, {Item(kIdFileOpen, kOpen), Item(kIdFileOpenRecent, kOpenRecent), Item(kIdFileImport, kImport),
                    Item(kIdFileClose, kClose),
                    Item(kIdFileCloseAll, kCloseAll), Separator(), Item(kIdFileSaveAs, kSaveAs),
                    Item(kIdFileSaveCleanedAs, kSaveCleaned), Item(kIdFileSaveSelectionAs, kSaveSelection),
                    Item(kIdFileSaveShownAs, kSaveShown), Item(kIdFilePrint, kPrint), Item(kIdFilePrintPreview, kPrintPreview),
                    Item(kIdFileExportImage, kExportImage), Separator(),
                    Item(kIdAppExit, kExit)}),
      Popup(kView, {Item(kIdZoomTool, kZoomTool), Item(kIdMeasureTool, kMeasure), Item(kIdZoomIn, kZoomIn, "I"), Item(kIdZoomOut, kZoomOut, "O"),
                    Item(kIdZoomAll, kZoomAll, "A"), Item(kIdZoomActiveFile, kZoomActive), Separator(),
                    Item(kIdDisplaySettings, kDisplay), Item(kIdShowMe, kShowMe), Item(kIdLayerTable, kLayerTable)}),
      Popup(kLog, {Item(kIdSummaryTotals, kTotals), Item(kIdCleanLog, kCleanLog), Item(kIdNotes, kNotes), Item(kIdSummariseZones, kSummariseZones)}),
      Popup(kHelp, {Item(kIdAppAbout, kAbout)}),
  };
  set.toolbar = {kIdFileOpen, kIdFileClose, kIdFileCloseAll, 0, kIdFileSaveAs, 0, kIdFilePrint, 0,
                 kIdZoomTool, 0, kIdZoomIn, kIdZoomOut, kIdZoomAll, kIdZoomActiveFile, 0,
                 kIdDisplaySettings, kIdShowMe, kIdLayerTable, 0, kIdNotes, 0, kIdSummaryTotals};
  set.title = "Vantrel";
  set.aboutDialogId = kVantrelAboutDialogId;
  set.aboutBitmapId = kVantrelBitmapId;
  return set;
}

// Depth-first search of a menu table for a command's text.
const MenuEntry* FindEntry(const std::vector<MenuEntry>& entries, int commandId) {
  for (const MenuEntry& e : entries) {
    if (e.id == commandId && commandId != 0) return &e;
    if (const MenuEntry* found = FindEntry(e.children, commandId)) return found;
  }
  return nullptr;
}

// Appends the command ids of a menu tree in menu order.
void CollectIds(const std::vector<MenuEntry>& entries, std::vector<int>& ids) {
  for (const MenuEntry& e : entries) {
    if (e.id != 0) ids.push_back(e.id);
    CollectIds(e.children, ids);
  }
}

}  // namespace

// The tables of a set, built once.
const ResourceSet& GetResourceSet(int setId) {
  static const ResourceSet standard = MakeStandardSet();
  static const ResourceSet vantrel = MakeVantrelSet();
  return setId == kVantrelSet ? vantrel : standard;
}

// Set 156 for the Vantrel edition, else 128.
int ResourceSetForEdition(const std::string& edition) {
  return IsVantrelEdition(edition) ? kVantrelSet : kStandardSet;
}

// The stored menu text of a command.
std::string MenuTextOf(const ResourceSet& set, int commandId) {
  const MenuEntry* entry = FindEntry(set.menu, commandId);
  return entry ? entry->text : std::string();
}

// The shortcut of a command.
std::string ShortcutOf(const ResourceSet& set, int commandId) {
  const MenuEntry* entry = FindEntry(set.menu, commandId);
  return entry ? entry->shortcut : std::string();
}

// The tip form of a menu text.
std::string TipFromMenuText(const std::string& text) {
  std::string tip = text.substr(0, text.find('\t'));
  tip.erase(std::remove(tip.begin(), tip.end(), '&'), tip.end());
  while (!tip.empty() && (tip.back() == ' ' || tip.back() == '.')) tip.pop_back();
  return tip;
}

// The enabling rule and check mark of each command.
CommandState GetCommandState(int commandId, const CommandContext& context) {
  CommandState state;
  const bool anyLayer = context.layerCount > 0;
  switch (commandId) {
    // Always available; Exit waits for a load in progress to end.
    case kIdFileOpen:
    case kIdFileImport:
      state.enabled = !context.busy;
      break;
    case kIdFileOpenRecent:
      state.enabled = context.recentFiles > 0 && !context.busy;
      break;
    case kIdAppExit:
    case kIdAppAbout:
      state.enabled = true;
      break;
    case kIdUnitsUS:
      state.enabled = true;
      state.checkable = true;
      state.checked = !context.metric;
      break;
    case kIdUnitsMetric:
      state.enabled = true;
      state.checkable = true;
      state.checked = context.metric;
      break;
    case kIdZoomTool:
      state.enabled = anyLayer;
      state.checkable = true;
      state.checked = context.zoomToolActive;
      break;
    case kIdMeasureTool:
      state.enabled = anyLayer;
      state.checkable = true;
      state.checked = context.measureToolActive;
      break;
    // Moving the view never touches a layer, so it stays open during a load.
    case kIdZoomIn:
    case kIdZoomOut:
    case kIdZoomAll:
    case kIdZoomActiveFile:
      state.enabled = anyLayer;
      break;
    case kIdFileClose:
    case kIdFileCloseAll:
    case kIdFileSaveAs:
    case kIdFilePrint:
    case kIdFilePrintPreview:
    case kIdFileExportImage:
    case kIdDisplaySettings:
    case kIdShowMe:
    case kIdNotes:
      // A layer being filled must not be closed, copied, re-themed or drawn
      // onto paper half-read.
      state.enabled = anyLayer && !context.busy;
      break;
    // Zones and logs are read while nothing is being loaded.
    case kIdSummariseZones:
      state.enabled = anyLayer && !context.busy;
      break;
    // The table of the active layer, read while nothing is being loaded.
    case kIdLayerTable:
      state.enabled = anyLayer && !context.busy;
      state.checkable = true;
      state.checked = context.layerTableShown;
      break;
    case kIdSummaryTotals:
      state.enabled = context.hasActiveLayer && context.totalsAvailable && !context.busy;
      break;
    // The active layer's records, read whole.
    case kIdCleanLog:
    case kIdFileSaveCleanedAs:
    case kIdFileSaveSelectionAs:
    case kIdFileSaveShownAs:
      state.enabled = context.hasActiveLayer && !context.busy;
      break;
    default:
      break;
  }
  return state;
}

// The command ids of a set's menu.
std::vector<int> MenuCommandIds(const ResourceSet& set) {
  std::vector<int> ids;
  CollectIds(set.menu, ids);
  return ids;
}

}  // namespace kestrune
