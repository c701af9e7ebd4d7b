// Draws the main window with files opened in it into a PNG, as the README
// shows it:
//   QT_QPA_PLATFORM=offscreen make_screenshot OUTPUT.png FILE.shp...
// The files open oldest first, as if named one after the other on the command
// line; the last one is the active file whose legend the layers pane shows.
#include <cstdio>

#include <QApplication>
#include <QCoreApplication>
#include <QImage>
#include <QSettings>
#include <QTemporaryDir>

#include "app/Preferences.h"
#include "app/gui/MainFrame.h"

namespace {

constexpr int kWidth = 1100;
constexpr int kHeight = 720;

}  // namespace

// Opens the files in a main window and saves its picture.
int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: make_screenshot OUTPUT.png FILE.shp...\n");
    return 2;
  }
  // The user's own preferences stay out of the picture.
  QTemporaryDir settings;
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
  kestrune::GetPreferences() = kestrune::CPreferences();

  kestrune::CMainFrame frame;
  frame.resize(kWidth, kHeight);
  frame.show();
  QCoreApplication::processEvents();
  for (int i = 2; i < argc; ++i) {
    if (!frame.OpenByName(QString::fromLocal8Bit(argv[i]))) {
      std::fprintf(stderr, "cannot open %s\n", argv[i]);
      return 1;
    }
  }
  QCoreApplication::processEvents();
  const QImage picture = frame.grab().toImage();
  if (!picture.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
