#include "app/gui/FileDialogs.h"

#include <QFileDialog>
#include <QStringList>


namespace kestrune {

// Runs the Save As dialog.
QString ChooseSaveFile(QWidget* parent, const QString& startFolder) {
  QFileDialog dialog(parent);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilter(QStringLiteral("Shape Files (*.shp)"));
  dialog.setDefaultSuffix(QStringLiteral("shp"));
  if (!startFolder.isEmpty()) dialog.setDirectory(startFolder);
  if (dialog.exec() != QDialog::Accepted) return QString();
  const QStringList files = dialog.selectedFiles();
  return files.isEmpty() ? QString() : files.front();
}

}  // namespace kestrune
