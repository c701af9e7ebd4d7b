// Translation of whole windows and menus through GetLangString, and the dialog
// base class that translates itself when it first opens.
#pragma once

#include <QDialog>
#include <QLocale>
#include <QString>

class QMenu;
class QMenuBar;
class QShowEvent;
class QTranslator;
class QWidget;

namespace kestrune {

// GetLangString over a QString (UTF-8 on the way through).
QString LangQString(const QString& text);
inline QString LangQString(const char* text) { return LangQString(QString::fromUtf8(text)); }

// Translates the widget's own text (the window title of a window, else its caption)
// and the captions of its direct child widgets: label and button texts, group box
// titles and tab labels. Grandchildren and child windows are left to themselves;
// empty captions are left alone, and so are editable contents (user data).
void TranslateWindow(QWidget* window);

// Translates every action text of a menu or menu bar and, recursively, of its
// submenus, in place: the actions (their data, check state, shortcuts) and the
// submenus stay the same objects. Separators and actions without text are left.
void TranslateMenu(QMenu* menu);
void TranslateMenu(QMenuBar* menuBar);

// Loads Qt's own translations (qtbase: the file, colour and print dialogs,
// standard buttons) for a locale (the user's by default), from Qt's
// translations folder. The translator installed, owned by the application, or
// none when there is no translation for the locale (the texts stay English).
QTranslator* InstallQtTranslations(const QLocale& locale = QLocale());

// Base of every dialog: built from a template id and a parent, it runs
// OnInitDialog once, just before it is shown for the first time.
class CLangDialog : public QDialog {
  Q_OBJECT
 public:
  explicit CLangDialog(int templateId, QWidget* parent = nullptr);

  int GetTemplateId() const { return templateId_; }

 protected:
  // Translates the dialog and its controls. Dialogs that override it call this one first.
  virtual void OnInitDialog();
  void showEvent(QShowEvent* event) override;

 private:
  int templateId_;
  bool initialised_ = false;
};

}  // namespace kestrune
