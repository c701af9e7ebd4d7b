// The one font family the program draws its texts in: the printed page, the
// layers pane, the grid dialogs and rendered maps. "Liberation Sans" (metric
// compatible with Arial) comes first; the others stand in on a machine without
// it, so the texts keep their sizes as closely as the machine allows.
#pragma once

#include <QFont>
#include <QStringList>

namespace kestrune {

// The family the program asks for first.
constexpr const char* kAppFontFamily = "Liberation Sans";

// The families in the order they are tried: Liberation Sans, then the
// families of the same widths, then the common sans-serif ones.
QStringList AppFontFamilies();

// A font of the program's family at the given pixel size and weight, with
// letters as they are (no ligatures), so texts read and search as spelled.
QFont AppFont(int pixelSize, bool bold = false);

}  // namespace kestrune
