// The measures of a printed map that come from its scale: the scale bar's
// round length and label, and the page orientation that prints the window's
// view largest.
#pragma once

#include <string>

namespace kestrune {

constexpr const char* kMsgScaleFeet = "#20200010:%s ft";
constexpr const char* kMsgScaleMiles = "#20200011:%s mi";
constexpr const char* kMsgScaleMetres = "#20200012:%s m";
constexpr const char* kMsgScaleKilometres = "#20200013:%s km";

constexpr double kScaleFootMetres = 0.3048;
// About how much of a page's height the blocks under the map take, in inches.
constexpr double kBlocksBelowInches = 2.5;
// About how much of a page's width and height a printer's margins take, in inches.
constexpr double kPaperMarginsInches = 0.3;
constexpr double kScaleMileFeet = 5280.0;

// A scale bar: its length on the ground in metres and its label ("500 ft").
struct ScaleBar {
  double metres = 0.0;
  std::string label;
};

// The round length (1, 2 or 5 × 10^n) nearest, by ratio, to a fifth of a map
// that is mapWidthMetres wide on the ground: in feet up to a mile and in
// miles from there, or in metres up to a kilometre and kilometres from there.
// No bar (0 metres) for a width that is not a positive number.
ScaleBar ChooseScaleBar(double mapWidthMetres, bool metric);

// Whether a view of viewWidth × viewHeight prints larger across a page area
// of areaWidth × areaHeight turned to landscape (areaHeight × areaWidth less
// the same height kept below the map) than upright. The widths and heights
// are in any one unit each; keptBelow is in the area's unit.
bool LandscapePrintsLarger(double viewWidth, double viewHeight, double paperWidth, double paperHeight,
                           double keptBelow);

}  // namespace kestrune
