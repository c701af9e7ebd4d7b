// The pieces the layer dialogs share.
#include "attributes/gui/DialogSupport.h"

#include <QColor>
#include <QColorDialog>
#include <QFileDialog>
#include <QStringList>

#include "base/FileFilter.h"
#include "geo/gui/QPainterCanvas.h"
#include "layers/Layer.h"

namespace kestrune {

namespace {

FileChooser& InstalledChooser() {
  static FileChooser chooser;
  return chooser;
}

}  // namespace

// Packs a Qt colour as 0x00BBGGRR.
Color FromQColor(const QColor& colour) {
  return RGBColor(colour.red(), colour.green(), colour.blue());
}

// Runs the colour picker on a colour; the choice replaces it only on OK.
bool ChooseColour(QWidget* parent, Color& colour) {
  QColorDialog dialog(ToQColor(colour), parent);
  dialog.setObjectName(QStringLiteral("ColourPicker"));
  if (dialog.exec() != QDialog::Accepted) return false;
  const QColor chosen = dialog.selectedColor();
  if (!chosen.isValid()) return false;
  colour = FromQColor(chosen);
  return true;
}

// The installed chooser's answer, or the platform dialog's.
QString ChooseFile(const FileDialogRequest& request) {
  const FileChooser& chooser = InstalledChooser();
  return chooser ? chooser(request) : RunFileDialog(request);
}

// Swaps the chooser and hands back the one it replaced.
FileChooser SetFileChooser(FileChooser chooser) {
  FileChooser old = std::move(InstalledChooser());
  InstalledChooser() = std::move(chooser);
  return old;
}

// A modal QFileDialog set up from the request.
QString RunFileDialog(const FileDialogRequest& request) {
  QFileDialog dialog(request.parent);
  dialog.setObjectName(QStringLiteral("FileDialog"));
  if (!request.title.isEmpty()) dialog.setWindowTitle(request.title);
  dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  // An open dialog may name a file that does not exist yet unless told otherwise.
  dialog.setFileMode(request.multiple && !request.save       ? QFileDialog::ExistingFiles
                     : request.save || !request.mustExist ? QFileDialog::AnyFile
                                                          : QFileDialog::ExistingFile);
  dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.confirmOverwrite);
  if (!request.filter.isEmpty()) dialog.setNameFilter(request.filter);
  if (!request.defaultSuffix.isEmpty()) dialog.setDefaultSuffix(request.defaultSuffix);
  if (!request.startFolder.isEmpty()) dialog.setDirectory(request.startFolder);
  if (dialog.exec() != QDialog::Accepted) return QString();
  const QStringList files = dialog.selectedFiles();
  if (request.multiple) return files.join(QLatin1Char('\n'));
  return files.isEmpty() ? QString() : files.front();
}

// The Qt filter list of a "description|patterns|" filter text.
QString QtFilterFromPairs(const QString& pairs) {
  QStringList filters;
  for (const std::string& f : NameFiltersFromPipeFilter(pairs.toStdString())) filters << QString::fromStdString(f);
  return filters.join(QStringLiteral(";;"));
}

// Asks the views of the layer for a full repaint.
void InvalidateMapWindow(Layer& layer) { layer.RequestRepaint(); }

}  // namespace kestrune
