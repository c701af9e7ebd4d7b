// Opens files in the main window, as a user would one after another, and saves
// a picture of the window: for the README and for looking at the viewer on a
// machine without a display.
//
//   QT_QPA_PLATFORM=offscreen build/kestrune_screenshot OUT.png WIDTH HEIGHT FILE...
#include <cstdio>
#include <cstdlib>

#include <QApplication>
#include <QPixmap>
#include <QSettings>
#include <QSplitter>
#include <QTemporaryDir>
#include <QtGlobal>

#include "app/Commands.h"
#include "app/gui/MainFrame.h"
#include "layers/LayerList.h"
#include "base/gui/PaneInterfaces.h"
#include "mapview/MapView.h"

// Opens the files, zooms to all and saves the window's picture.
int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 5) {
    std::fprintf(stderr, "usage: kestrune_screenshot OUT.png WIDTH HEIGHT FILE...\n");
    return 2;
  }
  const int width = std::atoi(argv[2]);
  const int height = std::atoi(argv[3]);
  if (width < 200 || height < 150 || width > 8000 || height > 8000) {
    std::fprintf(stderr, "kestrune_screenshot: a size from 200 x 150 to 8000 x 8000, please\n");
    return 2;
  }
  // The window as a new user sees it, and nothing of this run (the recent
  // files, the window's size) kept in the user's own settings.
  QTemporaryDir settings;
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
  kestrune::CMainFrame frame(kestrune::kStandardSet);
  frame.resize(width, height);
  frame.show();
  // Room for the file names beside their check boxes.
  constexpr int kLayersWidth = 200;
  frame.Splitter()->setSizes({kLayersWidth, width - kLayersWidth});
  QApplication::processEvents();
  // Each file is read in turn, as names handed to the window are.
  for (int i = 4; i < argc; ++i) {
    const int before = frame.Layers().GetCount();
    frame.OpenByName(QString::fromLocal8Bit(argv[i]));
    frame.WaitForLoads();
    if (frame.Layers().GetCount() == before) std::fprintf(stderr, "not opened: %s\n", argv[i]);
  }
  // Every file in view.
  frame.ExecuteCommand(kestrune::kIdZoomAll);
  // The status bar tells a position as it would under the pointer: the map's centre.
  const kestrune::MapView& view = frame.MapPane()->GetMapView();
  const kestrune::MapPoint origin = view.Transform().GetWorldOrigin();
  const kestrune::MapPoint centre{origin.x + view.Width() / 2, origin.y + view.Height() / 2};
  frame.ShowPointerPosition(&centre);
  QApplication::processEvents();
  if (!frame.grab().save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
