#include "app/gui/GuiPlatform.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QStatusBar>
#include <QTimer>
#include <QWidget>

#include "base/Platform.h"

namespace kestrune {

namespace {

QMessageBox::Icon ToQtIcon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Error: return QMessageBox::Critical;
    case MessageIcon::Warning: return QMessageBox::Warning;
    case MessageIcon::Information: return QMessageBox::Information;
    case MessageIcon::Question: return QMessageBox::Question;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

void InstallGuiPlatform(QWidget* messageParent) {
  QPointer<QWidget> parent(messageParent);
  SetMessageHandler([parent](const MessageRequest& request) {
    QMessageBox box(ToQtIcon(request.icon), QString::fromStdString(request.caption),
                    QString::fromStdString(request.text), QMessageBox::NoButton, parent.data());
    switch (request.buttons) {
      case MessageButtons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
      case MessageButtons::OkCancel: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
      case MessageButtons::YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
      case MessageButtons::YesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    }
    switch (box.exec()) {
      case QMessageBox::Ok: return MessageAnswer::Ok;
      case QMessageBox::Yes: return MessageAnswer::Yes;
      case QMessageBox::No: return MessageAnswer::No;
      default: return MessageAnswer::Cancel;
    }
  });
  // Dispatching on every call would cost more than the work between calls;
  // every 20 ms keeps a window live while a large file loads.
  SetPumpHandler([] {
    static QElapsedTimer since;
    if (since.isValid() && since.elapsed() < 20) return;
    since.start();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
  });
  // Shown once the command that caused it is done, so the command's own
  // clearing of the status bar does not wipe it.
  SetStatusHandler([parent](const std::string& text) {
    auto* window = qobject_cast<QMainWindow*>(parent.data());
    if (!window) return;
    const QString line = QString::fromStdString(text);
    QTimer::singleShot(0, window, [window, line] { window->statusBar()->showMessage(line, 15000); });
  });
  SetBeepHandler([] { QApplication::beep(); });
  SetWaitCursorHandlers([] { QApplication::setOverrideCursor(Qt::WaitCursor); },
                        [] { QApplication::restoreOverrideCursor(); });
}

}  // namespace kestrune
