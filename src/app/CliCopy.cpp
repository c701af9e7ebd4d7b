#include "app/CliCopy.h"

#include "app/FileSetCopy.h"
#include "base/JsonText.h"
#include "base/Paths.h"
#include "clean/CliClean.h"
#include "lang/LangString.h"
#include "layers/LayerInfo.h"

namespace kestrune {

namespace {

// A JSON array of strings.
void AppendJsonStrings(std::string& out, const std::vector<std::string>& items) {
  out += '[';
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += ',';
    AppendJsonString(out, items[i]);
  }
  out += ']';
}

}  // namespace

// Two file names, nothing else.
int RunCopyCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  // A record choice writes a new set of the chosen records.
  if (HasWhereArguments(args)) return RunCopyWhere(args, out, err);
  if (args.size() != 2 || args[0].empty() || args[1].empty() || args[0][0] == '-' || args[1][0] == '-') {
    err << LangText(kMsgUsagePrefix) << ' ' << LangText(kCopyUsage) << '\n';
    return kCliUsage;
  }
  // The source base as a layer takes it from its file name, the new one as Save As takes the chosen name.
  const FileSetCopyResult result = CopyShapeFileSet(BasePathOf(args[0]), BasePathOf(args[1]));
  if (!result.ok) {
    err << FileSetCopyErrorCaption() << ": " << FileSetCopyErrorText(result) << '\n';
    return kCliFailed;
  }
  std::string line = "{\"copy\":";
  AppendJsonString(line, result.newShpPath);
  line += ",\"written\":";
  AppendJsonStrings(line, result.written);
  line += ",\"removed\":";
  AppendJsonStrings(line, result.removed);
  line += '}';
  out << line << '\n';
  return kCliOk;
}

}  // namespace kestrune
