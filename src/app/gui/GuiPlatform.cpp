#include "app/gui/GuiPlatform.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QStatusBar>
#include <QThread>
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
  // Shown once the command that caused it is done, so the command's own
  // clearing of the status bar does not wipe it. A notice from a loading
  // thread is queued to the window's thread the same way.
  auto* window = qobject_cast<QMainWindow*>(messageParent);
  QPointer<QMainWindow> target(window);
  SetStatusHandler([target](const std::string& text) {
    const QString line = QString::fromStdString(text);
    // Two turns of the window thread's queue: a load's notice then comes
    // after the load's own end, which clears the status bar.
    QMetaObject::invokeMethod(
        qApp,
        [target, line] {
          QMetaObject::invokeMethod(
              qApp,
              [target, line] {
                if (target) target->statusBar()->showMessage(line, 15000);
              },
              Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
  });
  SetBeepHandler([] { QApplication::beep(); });
  const auto inWindowThread = [] { return qApp && QThread::currentThread() == qApp->thread(); };
  SetWaitCursorHandlers(
      [inWindowThread] {
        if (inWindowThread()) QApplication::setOverrideCursor(Qt::WaitCursor);
      },
      [inWindowThread] {
        if (inWindowThread()) QApplication::restoreOverrideCursor();
      });
}

}  // namespace kestrune
