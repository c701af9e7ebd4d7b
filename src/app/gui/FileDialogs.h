// The platform file dialogs of the Open and Save As commands.
#pragma once

#include <QString>

class QWidget;

namespace kestrune {

// The Open Layer dialog: title "#10000024:Open Layer", the "#10000023" shape
// file filter, one file that need not exist, starting in startFolder. The
// chosen path, or an empty string on Cancel.
QString ChooseOpenFile(QWidget* parent, const QString& startFolder);

// The Save As dialog: "Shape Files (*.shp)", default extension ".shp", asks
// before overwriting, starts in startFolder. The chosen path or empty.
QString ChooseSaveFile(QWidget* parent, const QString& startFolder);

}  // namespace kestrune
