// The viewer's pictures by resource number: application icons, toolbar
// images, the zoom cursor and the splash and About pictures. They are drawn by
// tools/make_resources.cpp and compiled in from resources/kestrune.qrc.
#pragma once

#include <QCursor>
#include <QIcon>
#include <QPixmap>

namespace kestrune {

// Logical sizes the drawings are made at.
constexpr int kToolImageWidth = 16;
constexpr int kToolImageHeight = 15;
constexpr int kSplashWidth = 400;
constexpr int kSplashHeight = 250;
// The zoom cursor's hot spot: the centre of its lens.
constexpr int kZoomCursorHotX = 12;
constexpr int kZoomCursorHotY = 12;

// The layers window's file icon and active mark, 20 x 20.
constexpr int kFileIconBitmapId = 151;
constexpr int kActiveMarkBitmapId = 152;

// Makes the compiled-in pictures reachable (they live in a static library).
void EnsureAppResources();

// Icon 128 or 156 in every drawn size; an empty icon for other numbers.
QIcon AppIcon(int setId);
// The toolbar image of a command (with its double-size variant), or an empty icon.
QIcon CommandIcon(int commandId);
// Bitmap 146, 151, 152 or 157; a null pixmap for other numbers.
QPixmap AppBitmap(int bitmapId);
// Cursor 134 with its hot spot on the lens.
QCursor ZoomCursor();

}  // namespace kestrune
