#include "app/CliCopy.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "app/FileSetCopy.h"
#include "base/JsonText.h"
#include "base/LandingJournal.h"
#include "base/Paths.h"
#include "clean/CliClean.h"
#include "lang/LangString.h"
#include "layers/LayerInfo.h"

namespace kestrune {

namespace {

// A name as a JSON string, of bytes (see AppendJsonByteString) when asked.
void AppendJsonName(std::string& out, const std::string& name, bool bytes) {
  if (bytes) {
    AppendJsonByteString(out, name);
  } else {
    AppendJsonString(out, name);
  }
}

// A JSON array of names.
void AppendJsonStrings(std::string& out, const std::vector<std::string>& items, bool bytes = false) {
  out += '[';
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += ',';
    AppendJsonName(out, items[i], bytes);
  }
  out += ']';
}

// Whether any of the names is not UTF-8.
bool AnyNotUtf8(const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    if (!IsValidUtf8(name)) return true;
  }
  return false;
}

// --recover DIR: every dead landing in the folder finished or rolled back.
int RunRecover(const std::string& folder, std::ostream& out, std::ostream& err) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    err << LangFormat(kMsgRecoverNoFolder, folder.c_str(), std::strerror(::stat(folder.c_str(), &st) != 0 ? errno : ENOTDIR))
        << '\n';
    return kCliFailed;
  }
  std::vector<std::string> finished, rolledBack, busy, refused;
  int status = kCliOk;
  for (const LandingRecovery& r : RecoverLandings(folder)) {
    switch (r.outcome) {
      case LandingOutcome::Finished: finished.push_back(r.journal); break;
      case LandingOutcome::RolledBack: rolledBack.push_back(r.journal); break;
      case LandingOutcome::Busy: busy.push_back(r.journal); break;
      case LandingOutcome::Refused: refused.push_back(r.journal); break;
      case LandingOutcome::Failed:
        err << LangFormat(kMsgRecoverFailed, r.journal.c_str(), r.failedPath.c_str(), std::strerror(r.error)) << '\n';
        status = kCliFailed;
        break;
    }
  }
  const bool bytes = AnyNotUtf8({folder}) || AnyNotUtf8(finished) || AnyNotUtf8(rolledBack) || AnyNotUtf8(busy) ||
                     AnyNotUtf8(refused);
  std::string line = "{\"recover\":";
  AppendJsonName(line, folder, bytes);
  line += ",\"finished\":";
  AppendJsonStrings(line, finished, bytes);
  line += ",\"rolled_back\":";
  AppendJsonStrings(line, rolledBack, bytes);
  line += ",\"busy\":";
  AppendJsonStrings(line, busy, bytes);
  line += ",\"refused\":";
  AppendJsonStrings(line, refused, bytes);
  if (bytes) line += ",\"file_bytes\":true";
  line += '}';
  out << line << '\n';
  return status;
}

}  // namespace

// Two file names, or --recover and a folder.
int RunCopyCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.size() == 2 && args[0] == "--recover" && !args[1].empty()) return RunRecover(args[1], out, err);
  // A record choice writes a new set of the chosen records.
  if (HasWhereArguments(args)) return RunCopyWhere(args, out, err);
  if (args.size() != 2 || args[0].empty() || args[1].empty() || args[0][0] == '-' || args[1][0] == '-') {
    err << LangText(kMsgUsagePrefix) << ' ' << LangText(kCopyUsage) << '\n';
    err << LangText(kMsgUsagePrefix) << ' ' << LangText(kRecoverUsage) << '\n';
    return kCliUsage;
  }
  // The source base as a layer takes it from its file name, the new one as Save As takes the chosen name.
  const FileSetCopyResult result = CopyShapeFileSet(BasePathOf(args[0]), BasePathOf(args[1]));
  if (!result.ok) {
    err << FileSetCopyErrorCaption() << ": " << FileSetCopyErrorText(result) << '\n';
    return kCliFailed;
  }
  // Names that are not UTF-8 make every name of the line come out byte for byte.
  const bool bytes = AnyNotUtf8({result.newShpPath}) || AnyNotUtf8(result.written) || AnyNotUtf8(result.removed);
  std::string line = "{\"copy\":";
  AppendJsonName(line, result.newShpPath, bytes);
  line += ",\"written\":";
  AppendJsonStrings(line, result.written, bytes);
  line += ",\"removed\":";
  AppendJsonStrings(line, result.removed, bytes);
  if (bytes) line += ",\"file_bytes\":true";
  line += '}';
  out << line << '\n';
  return kCliOk;
}

}  // namespace kestrune
