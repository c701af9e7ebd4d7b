// The viewer's entry point: one QApplication, the start-up steps, the event loop.
#include <iostream>
#include <string>
#include <vector>

#include <QApplication>

#include "app/gui/KestruneApp.h"
#include "base/AppIdentity.h"
#include "lang/LangFile.h"
#include "layers/LayerCache.h"
#include "lang/gui/LangWidgets.h"

// Starts the viewer or hands over to the running one.
int main(int argc, char** argv) {
  // Told before any window system is needed.
  if (kestrune::AsksForVersion(std::vector<std::string>(argv + 1, argv + argc))) {
    std::cout << kestrune::VersionLine("kestrune") << '\n';
    return 0;
  }
  QApplication app(argc, argv);
  // The texts: Qt's own dialogs in the user's language, and the language file
  // from the current folder or the data folders.
  kestrune::InstallQtTranslations();
  kestrune::SetLangFilePath(kestrune::LocateLangFile(kestrune::LangFileFolders()));
  // Qt has taken its own options (-platform, -style ...) out of argv by now.
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) words.emplace_back(argv[i]);
  kestrune::CKestruneApp kestrune;
  if (!kestrune.InitInstance(words)) return 0;
  const int status = app.exec();
  // A cache write still running is finished, never cut off.
  kestrune::FinishLayerCacheWrites();
  return status;
}
