// The pieces the layer dialogs share.
#include "layers/gui/DialogSupport.h"

#include <QColor>
#include <QColorDialog>
#include <QFileDialog>
#include <QStringList>

#include "layers/MapWindowHost.h"
#include "mapview/gui/QPainterCanvas.h"

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
  dialog.setFileMode(request.save || !request.mustExist ? QFileDialog::AnyFile
                                                        : QFileDialog::ExistingFile);
  dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.confirmOverwrite);
  if (!request.filter.isEmpty()) dialog.setNameFilter(request.filter);
  if (!request.defaultSuffix.isEmpty()) dialog.setDefaultSuffix(request.defaultSuffix);
  if (!request.startFolder.isEmpty()) dialog.setDirectory(request.startFolder);
  if (dialog.exec() != QDialog::Accepted) return QString();
  const QStringList files = dialog.selectedFiles();
  return files.isEmpty() ? QString() : files.front();
}

// "desc|pat;pat|desc|pat|" pairs to "desc (pat pat);;desc (pat)".
QString QtFilterFromPairs(const QString& pairs) {
  const QStringList parts = pairs.split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QString description = parts[i].trimmed();
    // An empty description ends the list, as the terminator pair does.
    if (description.isEmpty()) break;
    QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (QString& p : patterns) p = p.trimmed();
    patterns.removeAll(QString());
    if (patterns.isEmpty()) patterns << QStringLiteral("*");
    const QString bracket = QLatin1Char('(') + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    filters << (description.endsWith(bracket) ? description
                                              : description + QLatin1Char(' ') + bracket);
  }
  return filters.join(QStringLiteral(";;"));
}

// Asks the map window, if any, for a full repaint.
void InvalidateMapWindow() {
  if (MapWindowHost* host = GetMapWindowHost()) host->InvalidateAll(true);
}

}  // namespace kestrune
