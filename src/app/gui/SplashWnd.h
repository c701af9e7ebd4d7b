// The start-up picture: a top-most bordered window exactly the size of
// bitmap 146, centred on the screen, gone after 2 seconds or at the first key
// press or left click on it.
#pragma once

#include <QBasicTimer>
#include <QPixmap>
#include <QWidget>

namespace kestrune {

class CSplashWnd : public QWidget {
  Q_OBJECT
 public:
  // Shows the picture at once; the window deletes itself when it goes.
  explicit CSplashWnd(const QPixmap& picture, int milliseconds);
  ~CSplashWnd() override;

  // Creates and shows the splash of bitmap 146 for the usual 2 seconds.
  static CSplashWnd* ShowSplash();

  const QPixmap& Picture() const { return picture_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void timerEvent(QTimerEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  // Stops the timer and closes the window (once).
  void Dismiss();

  QPixmap picture_;
  QBasicTimer timer_;
};

// The splash window while it exists, or none.
CSplashWnd* GetSplashWnd();

}  // namespace kestrune
