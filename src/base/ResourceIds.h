// Resource numbers of the menus, toolbars, icons, dialogs and pictures, and the
// window title, shared by the commands, the compiled-in pictures and printing.
#pragma once

namespace kestrune {

constexpr int kStandardSet = 128;       // menu, toolbar, icon and title string of the viewer
constexpr int kVantrelSet = 156;        // the Vantrel edition's menu, toolbar, icon and title
constexpr int kAboutDialogId = 100;     // About dialog of set 128
constexpr int kVantrelAboutDialogId = 155;
constexpr int kSplashBitmapId = 146;    // splash and About picture
constexpr int kVantrelBitmapId = 157;   // picture of About dialog 155
constexpr int kZoomCursorId = 134;

// The window title literal of the viewer, translated by the caller.
constexpr const char* kFrameTitle = "Quillmer Kestrune";

}  // namespace kestrune
