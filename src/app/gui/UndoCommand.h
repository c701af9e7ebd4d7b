// Edit > Undo (Ctrl+Z): the newest attribute edit of this run is written back
// as the row was, the Layer Tables reread their rows and the record is
// selected and recoloured on the map.
#pragma once

namespace kestrune {

class CMainFrame;

constexpr const char* kEditMenuText = "#20700014:&Edit";
constexpr const char* kUndoMenuText = "#20700015:&Undo Attribute Edit";

// Adds the Edit menu after the File menu.
void InstallUndoCommand(CMainFrame& frame);
// Undoes the newest edit; false (told, or a beep with none left) when nothing was written.
bool UndoLastAttributeEdit(CMainFrame& frame);

}  // namespace kestrune
