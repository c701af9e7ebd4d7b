// How a selected record looks: in its own colour, with a halo (points, lines)
// or a strong outline (areas) in the highlight colour, which the window sets
// from the platform's palette; point symbols at least kSelectedSymbolMinPixels
// wide, so a selection shows at every zoom.
#pragma once

#include "geo/Canvas.h"
#include "geo/MapPoint.h"

namespace kestrune {

// The highlight colour's default (where no palette speaks: the command line).
constexpr Color kDefaultSelectionHighlight = RGBColor(0x30, 0x8C, 0xC6);
constexpr int kSelectedSymbolMinPixels = 5;
constexpr int kSelectionHaloPixels = 2;
constexpr int kSelectedAreaPenWidth = 3;
// Pixels a selected record may reach beyond its bounds, for repaints.
constexpr int kSelectionRepaintPixels = kSelectedSymbolMinPixels / 2 + kSelectionHaloPixels + 2;

Color SelectionHighlight();
void SetSelectionHighlight(Color color);

// A selected symbol's two rectangles (drawn without a pen, halo first) from
// the box of the symbol as it is drawn unselected.
struct SelectedSymbolRects {
  DeviceRect halo;
  DeviceRect symbol;
};
SelectedSymbolRects SelectedSymbolBoxes(const DeviceRect& box);

}  // namespace kestrune
