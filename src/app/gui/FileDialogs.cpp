#include "app/gui/FileDialogs.h"

#include <QFileDialog>
#include <QStringList>

#include "app/FileFilter.h"
#include "lang/LangString.h"
#include "lang/gui/LangWidgets.h"

namespace kestrune {

// Runs the Open Layer dialog.
QString ChooseOpenFile(QWidget* parent, const QString& startFolder) {
  QFileDialog dialog(parent, LangQString("#10000024:Open Layer"));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  // A typed name that does not exist opens as an empty layer named after it.
  dialog.setFileMode(QFileDialog::AnyFile);
  QStringList filters;
  for (const std::string& f : NameFiltersFromPipeFilter(LangText("#10000023:Shape Files (*.shp)|*.shp|"))) {
    filters << QString::fromStdString(f);
  }
  if (!filters.isEmpty()) dialog.setNameFilters(filters);
  if (!startFolder.isEmpty()) dialog.setDirectory(startFolder);
  if (dialog.exec() != QDialog::Accepted) return QString();
  const QStringList files = dialog.selectedFiles();
  return files.isEmpty() ? QString() : files.front();
}

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
