// Runs the text lookup over windows, their controls and menu trees.
#include "lang/gui/LangWidgets.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <QAbstractButton>
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSet>
#include <QShowEvent>
#include <QTabWidget>

#include "lang/LangString.h"

namespace kestrune {

namespace {

// The caption of a control, or a null string when the widget has none we translate.
QString CaptionOf(QWidget* w) {
  if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
  if (auto* button = qobject_cast<QAbstractButton*>(w)) return button->text();
  if (auto* box = qobject_cast<QGroupBox*>(w)) return box->title();
  return QString();
}

// Sets the caption CaptionOf read.
void SetCaption(QWidget* w, const QString& text) {
  if (auto* label = qobject_cast<QLabel*>(w)) label->setText(text);
  else if (auto* button = qobject_cast<QAbstractButton*>(w)) button->setText(text);
  else if (auto* box = qobject_cast<QGroupBox*>(w)) box->setTitle(text);
}

// Tab labels belong to the tab widget itself, as a list box's items would.
void TranslateTabs(QWidget* w) {
  auto* tabs = qobject_cast<QTabWidget*>(w);
  if (!tabs) return;
  for (int i = 0; i < tabs->count(); ++i) {
    const QString text = tabs->tabText(i);
    if (!text.isEmpty()) tabs->setTabText(i, LangQString(text));
  }
}

// Every action of a menu or menu bar, then each submenu once (a menu reachable
// twice, or from itself, is translated once).
void TranslateActions(QWidget* menu, QSet<QWidget*>& visited) {
  if (!menu || visited.contains(menu)) return;
  visited.insert(menu);
  const QList<QAction*> actions = menu->actions();
  for (QAction* action : actions) {
    if (action->isSeparator()) continue;
    const QString text = action->text();
    if (!text.isEmpty()) action->setText(LangQString(text));
    if (QMenu* sub = action->menu()) TranslateActions(sub, visited);
  }
}

}  // namespace

QString LangQString(const QString& text) {
  if (!text.startsWith(QLatin1Char('#'))) return text;
  const QByteArray utf8 = text.toUtf8();
  return QString::fromUtf8(GetLangString(utf8.constData()));
}

void TranslateWindow(QWidget* window) {
  if (!window) return;
  // A window's own text is its title; a control passed alone has its caption.
  if (window->isWindow()) {
    window->setWindowTitle(LangQString(window->windowTitle()));
  } else {
    const QString caption = CaptionOf(window);
    if (!caption.isEmpty()) SetCaption(window, LangQString(caption));
    else window->setWindowTitle(LangQString(window->windowTitle()));
  }
  TranslateTabs(window);

  const QObjectList children = window->children();
  for (QObject* child : children) {
    auto* w = qobject_cast<QWidget*>(child);
    // Child windows (dialogs, popups parented here) translate themselves.
    if (!w || w->isWindow()) continue;
    const QString caption = CaptionOf(w);
    if (!caption.isEmpty()) SetCaption(w, LangQString(caption));
    TranslateTabs(w);
  }
}

void TranslateMenu(QMenu* menu) {
  QSet<QWidget*> visited;
  TranslateActions(menu, visited);
}

void TranslateMenu(QMenuBar* menuBar) {
  QSet<QWidget*> visited;
  TranslateActions(menuBar, visited);
}

CLangDialog::CLangDialog(int templateId, QWidget* parent) : QDialog(parent), templateId_(templateId) {}

void CLangDialog::OnInitDialog() { TranslateWindow(this); }

void CLangDialog::showEvent(QShowEvent* event) {
  // Only the first showing initialises; a dialog shown again keeps its texts.
  if (!initialised_ && !event->spontaneous()) {
    initialised_ = true;
    OnInitDialog();
  }
  QDialog::showEvent(event);
}

// One translator, owned by the application.
QTranslator* InstallQtTranslations(const QLocale& locale) {
  if (!QCoreApplication::instance()) return nullptr;
  auto* translator = new QTranslator(QCoreApplication::instance());
  if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
      !QCoreApplication::installTranslator(translator)) {
    delete translator;
    return nullptr;
  }
  return translator;
}

}  // namespace kestrune
