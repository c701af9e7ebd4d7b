// The files open at exit, kept in the preferences file (section [Session]):
// their paths in the file list's order (newest first), which are hidden and
// which is active. A start without a file name opens them again, oldest
// first, then hides and activates as they were; "Restore=false" in that
// section turns it off.
#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace kestrune {

class CMainFrame;
class LayerList;
class Layer;

struct SessionState {
  QStringList paths;        // newest first, as the file list shows them
  std::vector<bool> hidden;  // one per path
  int active = -1;          // index into paths, -1 for none
  friend bool operator==(const SessionState& a, const SessionState& b) {
    return a.paths == b.paths && a.hidden == b.hidden && a.active == b.active;
  }
};

// The open layers (those with a file) and the active one.
SessionState SessionOf(const LayerList& layers, const Layer* active);
void SaveSession(const SessionState& state);
SessionState LoadSession();
// Whether a start without a file name restores the session (on unless turned off).
bool SessionRestoreEnabled();
void SetSessionRestoreEnabled(bool on);

// Opens the session's files that still exist, oldest first, behind any
// reading under way; once all are read, hides and activates as saved.
void RestoreSession(CMainFrame& frame, const SessionState& state);

}  // namespace kestrune
