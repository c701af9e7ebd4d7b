#include "import/CliImport.h"

#include "import/Importer.h"
#include "lang/LangString.h"
#include "layers/LayerInfo.h"

namespace kestrune {

int RunImportCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::vector<std::string> names;
  bool replace = false;
  bool optionsEnded = false;
  for (const std::string& arg : args) {
    if (!optionsEnded && arg == "--replace") {
      replace = true;
    } else if (!optionsEnded && arg == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
      names.clear();
      names.resize(3);  // refused below
      break;
    } else {
      names.push_back(arg);
    }
  }
  if (names.empty() || names.size() > 2 || names[0].empty() || (names.size() == 2 && names[1].empty())) {
    err << LangText(kMsgUsagePrefix) << ' ' << LangText(kImportUsage) << '\n';
    return kCliUsage;
  }
  ImportOptions options;
  if (names.size() == 2) options.outDir = names[1];
  options.confirmReplace = [replace](const std::string&) { return replace; };
  ImportResult result;
  Error error;
  if (!RunImport(names[0], options, result, error)) {
    err << error.text << '\n';
    return kCliFailed;
  }
  out << ImportResultJson(names[0], result) << '\n';
  out.flush();
  return kCliOk;
}

}  // namespace kestrune
