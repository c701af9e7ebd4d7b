// The viewer's entry point: one QApplication, the start-up steps, the event loop.
#include <string>
#include <vector>

#include <QApplication>

#include "app/gui/KestruneApp.h"

// Starts the viewer or hands over to the running one.
int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // Qt has taken its own options (-platform, -style ...) out of argv by now.
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) words.emplace_back(argv[i]);
  kestrune::CKestruneApp kestrune;
  if (!kestrune.InitInstance(words)) return 0;
  return app.exec();
}
