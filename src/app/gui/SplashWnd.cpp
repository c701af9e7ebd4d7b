#include "app/gui/SplashWnd.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimerEvent>

#include "app/Commands.h"
#include "base/gui/AppResources.h"

namespace kestrune {

namespace {
CSplashWnd* g_splash = nullptr;
}  // namespace

// Shows the picture centred on the screen and starts the timer.
CSplashWnd::CSplashWnd(const QPixmap& picture, int milliseconds)
    : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      picture_(picture) {
  // Only one splash at a time: a new one replaces the old.
  if (g_splash) g_splash->Dismiss();
  g_splash = this;
  setAttribute(Qt::WA_DeleteOnClose);
  // Closing the main window ends the program even while the picture shows.
  setAttribute(Qt::WA_QuitOnClose, false);
  setWindowTitle(QString());
  setCursor(Qt::ArrowCursor);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Qt::white);
  setPalette(pal);
  setAutoFillBackground(true);
  const QSize size = picture_.isNull() ? QSize(kSplashWidth, kSplashHeight)
                                       : picture_.size() / picture_.devicePixelRatio();
  setFixedSize(size);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->geometry();
    move(area.center() - QPoint(size.width() / 2, size.height() / 2));
  }
  timer_.start(milliseconds, this);
  show();
  raise();
  repaint();
}

// Clears the process-wide pointer.
CSplashWnd::~CSplashWnd() {
  if (g_splash == this) g_splash = nullptr;
}

// The start-up splash of picture 146.
CSplashWnd* CSplashWnd::ShowSplash() { return new CSplashWnd(AppBitmap(kSplashBitmapId), kSplashMilliseconds); }

// White ground, the picture centred, the thin border.
void CSplashWnd::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::white);
  const QSize pic = picture_.size() / picture_.devicePixelRatio();
  // Halves truncated toward zero, as the picture is placed in its window.
  const int left = (width() - pic.width()) / 2;
  const int top = (height() - pic.height()) / 2;
  p.drawPixmap(left, top, picture_);
  // The thin border of the pop-up.
  p.setPen(QColor(96, 96, 96));
  p.drawRect(rect().adjusted(0, 0, -1, -1));
}

// The timer ends the splash.
void CSplashWnd::timerEvent(QTimerEvent* event) {
  if (event->timerId() == timer_.timerId()) Dismiss();
  else QWidget::timerEvent(event);
}

// Any key ends the splash.
void CSplashWnd::keyPressEvent(QKeyEvent*) { Dismiss(); }

// A left click ends the splash.
void CSplashWnd::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) Dismiss();
}

// Stops the timer and closes the window once.
void CSplashWnd::Dismiss() {
  timer_.stop();
  if (g_splash == this) g_splash = nullptr;
  close();
}

// The splash while it exists.
CSplashWnd* GetSplashWnd() { return g_splash; }

}  // namespace kestrune
