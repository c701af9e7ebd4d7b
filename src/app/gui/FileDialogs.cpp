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
bool OpenLayerDialog(QWidget* owner, std::vector<std::string>& paths) {
  paths.clear();
  FileDialogRequest request;
  request.parent = owner;
  // Shape files, and the inputs an import turns into them.
  request.filter = QtFilterFromPairs(LangQString(kOpenAnyFilter));
  request.title = LangQString(kOpenLayerTitle);
  CPreferences& prefs = GetPreferences();
  request.startFolder = QString::fromStdString(prefs.GetOpenFolder());
  request.save = false;
  request.mustExist = false;
  request.multiple = true;
  const QString chosen = ChooseFile(request);
  for (const QString& name : chosen.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) paths.push_back(name.toStdString());
  if (paths.empty()) return false;
  prefs.SetOpenFolder(FolderOf(paths.front()));
  prefs.SaveToConfigFile();
  return true;
}

// Asks for files and adds each as the newest layer, in the order chosen.
bool OpenLayerCommand(LayerList& list, QWidget* owner, const LayerLoadRunner& run) {
  std::vector<std::string> paths;
  if (!OpenLayerDialog(owner, paths)) return false;
  bool added = false;
  for (const std::string& path : paths) {
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
    added = added || layer != nullptr;
  }
  return added;
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
  dialog.setWindowTitle(LangQString(kExportMapTitle));
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
