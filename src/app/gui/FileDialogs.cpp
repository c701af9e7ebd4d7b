#include "app/gui/FileDialogs.h"

#include <QFileDialog>
#include <QStringList>

#include "lang/gui/LangWidgets.h"


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

// Runs the Export Map Image dialog.
QString ChooseExportFile(QWidget* parent, const QString& startFolder) {
  QFileDialog dialog(parent);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  const QString png = LangQString("#20013003:PNG Image (*.png)");
  const QString pdf = LangQString("#20013004:PDF Document (*.pdf)");
  dialog.setNameFilters({png, pdf});
  dialog.setDefaultSuffix(QStringLiteral("png"));
  // The suffix a name without one gets follows the kind chosen.
  QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, pdf](const QString& filter) {
    dialog.setDefaultSuffix(filter == pdf ? QStringLiteral("pdf") : QStringLiteral("png"));
  });
  if (!startFolder.isEmpty()) dialog.setDirectory(startFolder);
  if (dialog.exec() != QDialog::Accepted) return QString();
  const QStringList files = dialog.selectedFiles();
  return files.isEmpty() ? QString() : files.front();
}

}  // namespace kestrune
