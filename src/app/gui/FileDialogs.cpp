#include "app/gui/FileDialogs.h"

#include <QFileDialog>
#include <QStringList>

#include "app/gui/ImportCommand.h"
#include "attributes/gui/DialogSupport.h"
#include "base/Paths.h"
#include "base/Preferences.h"
#include "lang/gui/LangWidgets.h"
#include "layers/LayerList.h"

namespace kestrune {

// The open dialog in the last folder; the chosen folder is remembered.
bool OpenLayerDialog(QWidget* owner, std::string& path) {
  path.clear();
  FileDialogRequest request;
  request.parent = owner;
  // Shape files, and the inputs an import turns into them.
  request.filter = QtFilterFromPairs(LangQString(kOpenAnyFilter));
  request.title = LangQString(kOpenLayerTitle);
  CPreferences& prefs = GetPreferences();
  request.startFolder = QString::fromStdString(prefs.GetOpenFolder());
  request.save = false;
  request.mustExist = false;
  const QString chosen = ChooseFile(request);
  if (chosen.isEmpty()) return false;
  prefs.SetOpenFolder(FolderOf(chosen.toStdString()));
  prefs.SaveToConfigFile();
  path = chosen.toStdString();
  return true;
}

// Asks for a file and adds it as the newest layer.
bool OpenLayerCommand(LayerList& list, QWidget* owner, const LayerLoadRunner& run) {
  std::string path;
  if (!OpenLayerDialog(owner, path)) return false;
  Layer* layer = nullptr;
  const auto load = [&] {
    std::vector<Error> errors;
    layer = list.AddLayer(path, false, false, &errors);
    for (const Error& error : errors) ShowError(error);
  };
  if (run) {
    run(path, load);
  } else {
    load();
  }
  return layer != nullptr;
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
