// What the layer dialogs share: control lookup by id, the owner window a
// layer was given, colour conversion and the colour picker, the platform file
// dialog (replaceable, so tests can answer it) and the map repaint.
#pragma once

#include <functional>

#include <QString>
#include <QWidget>

#include "geo/MapPoint.h"

class QColor;

namespace kestrune {

class Layer;

// The object name a control carries: its numeric id ("1045").
inline QString ControlName(int id) { return QString::number(id); }

// The dialog's control with that id, or null.
template <class T>
T* FindControl(const QWidget* dialog, int id) {
  return dialog ? dialog->findChild<T*>(ControlName(id)) : nullptr;
}

// Layers and the layer list carry their owner window as an untyped handle; in
// the viewer it is always the main frame's QWidget (or null).
inline QWidget* OwnerWidget(void* owner) { return static_cast<QWidget*>(owner); }

// 0x00BBGGRR from a Qt colour (alpha dropped).
Color FromQColor(const QColor& colour);

// The platform colour picker, opened on colour; true and the choice in colour
// when it ends with OK.
bool ChooseColour(QWidget* parent, Color& colour);

// What a dialog asks of the platform file dialog.
struct FileDialogRequest {
  QWidget* parent = nullptr;
  QString title;          // empty: the platform's own
  QString filter;         // Qt form: "Legend Templates (*.lgd)", several joined by ";;"
  QString startFolder;
  QString defaultSuffix;  // without the "."
  bool save = false;      // a save dialog (else an open dialog)
  bool mustExist = false; // open dialogs: only an existing file may be chosen
  bool confirmOverwrite = false;
  bool multiple = false;  // open dialogs: several existing files, answered one a line
};

// Answers a file dialog request with the chosen path, or an empty string on Cancel.
using FileChooser = std::function<QString(const FileDialogRequest&)>;

// Runs the installed chooser (by default RunFileDialog).
QString ChooseFile(const FileDialogRequest& request);
// Installs a chooser (an empty one restores the platform dialog); returns the old one.
FileChooser SetFileChooser(FileChooser chooser);
// The platform file dialog itself (QFileDialog), modal.
QString RunFileDialog(const FileDialogRequest& request);

// Turns a filter of "description|patterns|" pairs (patterns separated by ";")
// into Qt's form: "description (patterns)" entries joined by ";;" (the
// conversion of NameFiltersFromPipeFilter).
QString QtFilterFromPairs(const QString& pairs);

// Has the views of the layer repaint the whole map.
void InvalidateMapWindow(Layer& layer);

}  // namespace kestrune
