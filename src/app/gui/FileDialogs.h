// The file dialogs of the frame's commands: Open (with the opening of the
// chosen file as a layer), Save As and Export Map Image.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <QString>

class QWidget;

namespace kestrune {

class LayerList;

constexpr const char* kOpenLayerFilter = "#10000023:Shape Files (*.shp)|*.shp|";
constexpr const char* kOpenLayerTitle = "#10000024:Open Layer";
constexpr const char* kExportMapTitle = "#20700002:Export Map Image";

// The file dialog for shape files to open (through ChooseFile, so a test can
// answer it with SetFileChooser, several names one a line), starting in the
// preferences' open folder; several files may be chosen. On OK the first
// file's folder becomes that folder and the preferences are saved; paths are
// the chosen files in the dialog's order. False on Cancel.
bool OpenLayerDialog(QWidget* owner, std::vector<std::string>& paths);

// Runs the reading of a chosen file; the main frame wraps it in its busy state
// and its progress report.
using LayerLoadRunner = std::function<void(const std::string& path, const std::function<void()>& load)>;

// The Open command: the dialog, then each file in turn as the newest layer (a
// file that does not exist gives an empty layer named after it), read through
// run when one is given. True when a layer was added.
bool OpenLayerCommand(LayerList& list, QWidget* owner, const LayerLoadRunner& run = {});

// The Save As dialog: "Shape Files (*.shp)", default extension ".shp", asks
// before overwriting, starts in startFolder. The chosen path or empty.
QString ChooseSaveFile(QWidget* parent, const QString& startFolder);

// The Export Map Image dialog: PNG or PDF, asks before overwriting, starts in
// startFolder. The chosen path (with the chosen kind's extension) or empty.
QString ChooseExportFile(QWidget* parent, const QString& startFolder);

}  // namespace kestrune
