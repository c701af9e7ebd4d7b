// The platform file dialog of the Save As command.
#pragma once

#include <QString>

class QWidget;

namespace kestrune {

// The Save As dialog: "Shape Files (*.shp)", default extension ".shp", asks
// before overwriting, starts in startFolder. The chosen path or empty.
QString ChooseSaveFile(QWidget* parent, const QString& startFolder);

// The Export Map Image dialog: PNG or PDF, asks before overwriting, starts in
// startFolder. The chosen path (with the chosen kind's extension) or empty.
QString ChooseExportFile(QWidget* parent, const QString& startFolder);

}  // namespace kestrune
