// The command tables of both resource sets, the enabling rules and the
// command-line rule.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/CommandLine.h"
#include "app/Commands.h"

namespace kestrune::test {
namespace {

TEST(CommandTables, StandardToolbarIsInTheViewersOrder) {
  const ResourceSet& set = GetResourceSet(kStandardSet);
  EXPECT_EQ(set.toolbar, (std::vector<int>{32771, 32775, 32799, 0, 32801, 0, 32773, 0, 32792, 0, 32793, 32794,
                                           32795, 32800, 0, 32797, 32840, 32807}));
  EXPECT_EQ(set.title, "Kestrune");
  EXPECT_EQ(set.aboutDialogId, 100);
  EXPECT_EQ(set.aboutBitmapId, 146);
}

TEST(CommandTables, VantrelToolbarAddsShowMeNotesAndTotalsInTheirGroups) {
  const ResourceSet& set = GetResourceSet(kVantrelSet);
  EXPECT_EQ(set.toolbar, (std::vector<int>{32771, 32775, 32799, 0, 32801, 0, 32773, 0, 32792, 0, 32793, 32794,
                                           32795, 32800, 0, 32797, 32806, 32840, 0, 32807, 0, 32798}));
  EXPECT_EQ(set.title, "Vantrel");
  EXPECT_EQ(set.aboutDialogId, 155);
  EXPECT_EQ(set.aboutBitmapId, 157);
}

// The popup titles and, per popup, "id:text" of each command and "-" for separators.
std::vector<std::string> Flatten(const std::vector<MenuEntry>& entries) {
  std::vector<std::string> out;
  for (const MenuEntry& e : entries) {
    if (e.IsSeparator()) {
      out.push_back("-");
    } else if (e.IsPopup()) {
      out.push_back("[" + e.text);
      for (const std::string& s : Flatten(e.children)) out.push_back(s);
      out.push_back("]");
    } else {
      out.push_back(std::to_string(e.id) + ":" + e.text);
    }
  }
  return out;
}

TEST(CommandTables, StandardMenuHoldsTheStoredTextsAndIds) {
  EXPECT_EQ(Flatten(GetResourceSet(kStandardSet).menu),
            (std::vector<std::string>{
                "[#10244:&File  ", "32771:#10245:&Open...", "32811:#20013001:Open &Recent",
                "32871:#20300038:&Import...", "32775:#10246:&Close",
                "32799:#10247:&Close &All", "-", "32801:#10248:Save As...", "32961:#20600071:Save C&leaned As...",
                "32962:#20600072:Save Se&lection As...", "32963:#20600073:Save S&hown As...", "32773:#10249:&Print",
                "32774:#20200050:Print Pre&view", "32810:#20013002:&Export Map Image...", "-", "[Units", "32808:&U.S.", "32809:Metric", "]",
                "-", "32770:#10250:E&xit", "]",
                "[#10251:&View  ", "32792:#10252:&Zoom Tool", "32850:#20710001:&Measure", "32793:#10253:Zoom In \t &I",
                "32794:#10254:Zoom Out \t &O", "32795:#10255:Zoom All \t &A", "32800:#10256:Zoom Active &File", "-",
                "32797:#10257:&Display Settings", "32840:#20014010:Layer &Table", "]",
                "[#10259:&Log  ", "32960:#20600070:&Clean Log...", "32807:#10261:&Notes",
                "32845:#20500060:Summarise by &Zones...", "]", "[#10262:&Help", "32790:#10263:&About...", "]"}));
}

TEST(CommandTables, VantrelMenuAddsShowMeAndSummaryTotalsAndHasNoUnits) {
  const ResourceSet& set = GetResourceSet(kVantrelSet);
  EXPECT_EQ(MenuCommandIds(set), (std::vector<int>{32771, 32811, 32871, 32775, 32799, 32801, 32961, 32962, 32963,
                                                   32773, 32774, 32810, 32770, 32792, 32850, 32793, 32794, 32795, 32800,
                                                   32797, 32806, 32840, 32798, 32960, 32807, 32845, 32790}));
  EXPECT_EQ(MenuTextOf(set, kIdShowMe), "#10096:&Show Me");
  EXPECT_EQ(MenuTextOf(set, kIdSummaryTotals), "#10098:&Summary Totals");
  EXPECT_EQ(MenuTextOf(set, kIdUnitsMetric), "");
  EXPECT_EQ(MenuTextOf(GetResourceSet(kStandardSet), kIdShowMe), "");
}

TEST(CommandTables, TheZoomsCarryTheMapWindowsKeys) {
  for (int id : {kStandardSet, kVantrelSet}) {
    const ResourceSet& set = GetResourceSet(id);
    EXPECT_EQ(ShortcutOf(set, kIdZoomIn), "I");
    EXPECT_EQ(ShortcutOf(set, kIdZoomOut), "O");
    EXPECT_EQ(ShortcutOf(set, kIdZoomAll), "A");
    // Every other command has none: the keys are the ones the menu texts name.
    for (int command : MenuCommandIds(set)) {
      if (command == kIdZoomIn || command == kIdZoomOut || command == kIdZoomAll) continue;
      EXPECT_EQ(ShortcutOf(set, command), "") << command;
    }
  }
}

TEST(CommandTables, EveryToolbarButtonIsAMenuCommandOfItsSet) {
  for (int id : {kStandardSet, kVantrelSet}) {
    const ResourceSet& set = GetResourceSet(id);
    for (int button : set.toolbar) {
      if (button == kToolbarSeparator) continue;
      EXPECT_FALSE(MenuTextOf(set, button).empty()) << "set " << id << " button " << button;
    }
  }
}

TEST(CommandTables, EditionSelectsTheSet) {
  EXPECT_EQ(ResourceSetForEdition(""), kStandardSet);
  EXPECT_EQ(ResourceSetForEdition("Vantrel"), kVantrelSet);
  EXPECT_EQ(ResourceSetForEdition("  VANTREL "), kVantrelSet);
  EXPECT_EQ(ResourceSetForEdition("Vantrel Pro"), kStandardSet);
  EXPECT_EQ(ResourceSetForEdition("Kestrune"), kStandardSet);
  // An unknown set number falls back to the viewer's own set.
  EXPECT_EQ(GetResourceSet(999).id, kStandardSet);
}

TEST(CommandTables, TipsDropMnemonicsTabPartsAndEllipses) {
  EXPECT_EQ(TipFromMenuText("Zoom In \t &I"), "Zoom In");
  EXPECT_EQ(TipFromMenuText("&Open..."), "Open");
  EXPECT_EQ(TipFromMenuText("&Close &All"), "Close All");
  EXPECT_EQ(TipFromMenuText("Zoom Active &File"), "Zoom Active File");
  EXPECT_EQ(TipFromMenuText(""), "");
}

TEST(CommandRules, WithNoLayerOnlyOpenImportExitAboutAndUnitsAreEnabled) {
  CommandContext none;
  const std::vector<int> always = {kIdFileOpen, kIdFileImport, kIdAppExit, kIdAppAbout, kIdUnitsUS, kIdUnitsMetric};
  for (int id : MenuCommandIds(GetResourceSet(kVantrelSet))) {
    const bool expected = std::find(always.begin(), always.end(), id) != always.end();
    EXPECT_EQ(GetCommandState(id, none).enabled, expected) << id;
  }
  EXPECT_TRUE(GetCommandState(kIdUnitsMetric, none).enabled);
  EXPECT_TRUE(GetCommandState(kIdUnitsUS, none).enabled);
}

TEST(CommandRules, OneLayerEnablesTheLayerCommandsButNotTotalsWithoutData) {
  CommandContext one;
  one.layerCount = 1;
  one.hasActiveLayer = true;
  for (int id : {kIdFileClose, kIdFileCloseAll, kIdFileSaveAs, kIdFilePrint, kIdFileExportImage, kIdZoomTool,
                 kIdMeasureTool, kIdZoomIn, kIdZoomOut, kIdZoomAll, kIdZoomActiveFile, kIdDisplaySettings, kIdShowMe, kIdNotes,
                 kIdLayerTable}) {
    EXPECT_TRUE(GetCommandState(id, one).enabled) << id;
  }
  EXPECT_FALSE(GetCommandState(kIdSummaryTotals, one).enabled);
  one.totalsAvailable = true;
  EXPECT_TRUE(GetCommandState(kIdSummaryTotals, one).enabled);
  one.hasActiveLayer = false;
  EXPECT_FALSE(GetCommandState(kIdSummaryTotals, one).enabled);
}

TEST(CommandRules, OpenRecentNeedsAListedFile) {
  CommandContext c;
  EXPECT_FALSE(GetCommandState(kIdFileOpenRecent, c).enabled);
  c.recentFiles = 1;
  EXPECT_TRUE(GetCommandState(kIdFileOpenRecent, c).enabled);
}

TEST(CommandRules, UnitsAndZoomToolCarryCheckMarks) {
  CommandContext c;
  c.metric = true;
  EXPECT_TRUE(GetCommandState(kIdUnitsMetric, c).checked);
  EXPECT_FALSE(GetCommandState(kIdUnitsUS, c).checked);
  c.metric = false;
  EXPECT_FALSE(GetCommandState(kIdUnitsMetric, c).checked);
  EXPECT_TRUE(GetCommandState(kIdUnitsUS, c).checked);
  EXPECT_TRUE(GetCommandState(kIdUnitsUS, c).checkable);

  EXPECT_FALSE(GetCommandState(kIdZoomTool, c).checked);
  c.zoomToolActive = true;
  EXPECT_TRUE(GetCommandState(kIdZoomTool, c).checked);
  EXPECT_FALSE(GetCommandState(kIdMeasureTool, c).checked);
  c.measureToolActive = true;
  EXPECT_TRUE(GetCommandState(kIdMeasureTool, c).checked);
  EXPECT_TRUE(GetCommandState(kIdMeasureTool, c).checkable);
  EXPECT_FALSE(GetCommandState(kIdZoomIn, c).checkable);

  EXPECT_TRUE(GetCommandState(kIdLayerTable, c).checkable);
  EXPECT_FALSE(GetCommandState(kIdLayerTable, c).checked);
  c.layerTableShown = true;
  EXPECT_TRUE(GetCommandState(kIdLayerTable, c).checked);
}

TEST(CommandRules, ALoadInProgressBlocksWhatWouldTouchTheLayers) {
  CommandContext c;
  c.layerCount = 2;
  c.hasActiveLayer = true;
  c.totalsAvailable = true;
  c.busy = true;
  c.recentFiles = 3;
  for (int id : {kIdFileOpen, kIdFileOpenRecent, kIdFileClose, kIdFileCloseAll, kIdFileSaveAs, kIdFilePrint,
                 kIdFileExportImage, kIdDisplaySettings, kIdShowMe, kIdNotes, kIdSummaryTotals, kIdLayerTable,
                 kIdCleanLog, kIdFileSaveCleanedAs, kIdFileSaveSelectionAs, kIdFileSaveShownAs}) {
    EXPECT_FALSE(GetCommandState(id, c).enabled) << id;
  }
  for (int id : {kIdZoomTool, kIdZoomIn, kIdZoomOut, kIdZoomAll, kIdZoomActiveFile, kIdAppExit, kIdAppAbout,
                 kIdUnitsUS, kIdUnitsMetric}) {
    EXPECT_TRUE(GetCommandState(id, c).enabled) << id;
  }
}

TEST(CommandLine, WordsThatAreNotSwitchesJoinWithSingleSpaces) {
  EXPECT_EQ(FileNameFromCommandLine({}), "");
  EXPECT_EQ(FileNameFromCommandLine({"/home/grower/north.shp"}), "/home/grower/north.shp");
  // An unquoted path with spaces arrives as several words and is put back whole.
  EXPECT_EQ(FileNameFromCommandLine({"/home/grower/My", "Fields/north", "40.shp"}),
            "/home/grower/My Fields/north 40.shp");
  EXPECT_EQ(FileNameFromCommandLine({"-nosplash", "/data/a.shp", "--verbose"}), "/data/a.shp");
  EXPECT_EQ(FileNameFromCommandLine({"-x", "-"}), "");
  // Only "-" starts a switch here: "/" starts every absolute path.
  EXPECT_TRUE(IsCommandLineSwitch("-p"));
  EXPECT_FALSE(IsCommandLineSwitch("/p"));
  EXPECT_FALSE(IsCommandLineSwitch(""));
  EXPECT_EQ(FileNameFromCommandLine({"relative", "name.shp"}), "relative name.shp");
}

}  // namespace
}  // namespace kestrune::test

#include "base/FileFilter.h"

namespace kestrune::test {
namespace {

TEST(FileFilter, PipeFiltersBecomeQtNameFilters) {
  EXPECT_EQ(NameFiltersFromPipeFilter("Shape Files (*.shp)|*.shp|"),
            (std::vector<std::string>{"Shape Files (*.shp)"}));
  // A translation whose description shows other patterns still filters by the listed ones.
  EXPECT_EQ(NameFiltersFromPipeFilter("Formdateien (*.SHP)|*.shp;*.SHP||"),
            (std::vector<std::string>{"Formdateien (*.shp *.SHP)"}));
  EXPECT_EQ(NameFiltersFromPipeFilter("Shapes|*.shp|All files|*|"),
            (std::vector<std::string>{"Shapes (*.shp)", "All files (*)"}));
  EXPECT_EQ(NameFiltersFromPipeFilter("Dangling description"), std::vector<std::string>{});
  EXPECT_EQ(NameFiltersFromPipeFilter("|*.shp|"), (std::vector<std::string>{"*.shp"}));
  EXPECT_EQ(NameFiltersFromPipeFilter(""), std::vector<std::string>{});
}

}  // namespace
}  // namespace kestrune::test
