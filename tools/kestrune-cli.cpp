// kestrune-cli: the viewer's rules from the command line, for scripts and for
// checking files. Each subcommand lives with the code it exposes; this file
// only lists them and hands over the arguments.
#include <QCoreApplication>
#include <QGuiApplication>

#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "base/AppIdentity.h"
#include "app/CliCopy.h"
#include "base/CliCommand.h"
#include "clean/CliClean.h"
#include "base/Preferences.h"
#include "import/CliImport.h"
#include "lang/LangFile.h"
#include "lang/LangString.h"
#include "layers/LayerInfo.h"
#include "mapview/gui/CliPrint.h"
#include "mapview/gui/CliRender.h"
#include "zones/CliZones.h"

namespace {

using kestrune::CliCommand;

// Every subcommand, in the order the usage lists them.
const CliCommand* const kCommands[] = {&kestrune::kInfoCommand, &kestrune::kPrintCommand,
                                       &kestrune::kRenderCommand, &kestrune::kCopyCommand,
                                       &kestrune::kImportCommand, &kestrune::kCleanCommand,
                                       &kestrune::kZonesCommand};

constexpr const char* kUsagePrefix = kestrune::kMsgUsagePrefix;

// The usage of every subcommand on stderr.
int Usage() {
  for (const CliCommand* command : kCommands) {
    std::cerr << kestrune::LangText(kUsagePrefix) << ' ' << kestrune::LangText(command->usage) << '\n';
  }
  return kestrune::kCliUsage;
}

}  // namespace

int main(int argc, char** argv) {
  // Taken before Qt sees them: it removes the arguments it knows.
  const std::vector<std::string> words(argv + 1, argv + argc);
  if (kestrune::AsksForVersion(words)) {
    std::cout << kestrune::VersionLine("kestrune-cli") << '\n';
    return 0;
  }
  const CliCommand* chosen = nullptr;
  for (const CliCommand* command : kCommands) {
    if (!words.empty() && words[0] == command->name) chosen = command;
  }
  int qtArgc = 1;
  std::unique_ptr<QCoreApplication> app;
  if (chosen && chosen->drawing) {
    // Drawing needs fonts and a platform, but never a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    app = std::make_unique<QGuiApplication>(qtArgc, argv);
  } else {
    app = std::make_unique<QCoreApplication>(qtArgc, argv);
  }
  kestrune::SetApplicationIdentity();
  // The language file as the viewer finds it.
  kestrune::SetLangFilePath(kestrune::LocateLangFile(kestrune::LangFileFolders()));
  if (!chosen) return Usage();
  // The files are read with the user's own units and sizes, as the viewer would.
  kestrune::GetPreferences().LoadFromConfigFile();
  const std::vector<std::string> args(words.begin() + 1, words.end());
  return chosen->run(args, std::cout, std::cerr);
}
