// The viewer's entry point.
#include <QApplication>
#include <QLabel>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QLabel placeholder("Kestrune: the main window arrives with the viewer work; the core is being built.");
  placeholder.setWindowTitle("Kestrune");
  placeholder.setMargin(24);
  placeholder.show();
  return app.exec();
}
