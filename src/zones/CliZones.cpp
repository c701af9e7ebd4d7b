#include "zones/CliZones.h"

#include <filesystem>
#include <system_error>
#include <utility>

#include "base/SideFileWrites.h"
#include "base/Platform.h"
#include "lang/LangString.h"
#include "layers/Layer.h"
#include "layers/LayerInfo.h"
#include "layers/LayerList.h"
#include "shapes/DbfTable.h"
#include "zones/ZoneExport.h"
#include "zones/ZoneSummary.h"

namespace kestrune {

namespace {

int Usage(std::ostream& err) {
  err << LangText(kMsgUsagePrefix) << ' ' << LangText(kZonesUsage) << '\n';
  return kCliUsage;
}

}  // namespace

int RunZonesCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::vector<std::string> files, fieldNames;
  std::string label, outPath;
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!optionsEnded && (arg == "--field" || arg == "--label" || arg == "--out")) {
      if (i + 1 >= args.size() || args[i + 1].empty()) return Usage(err);
      (arg == "--field" ? fieldNames.emplace_back() : arg == "--label" ? label : outPath) = args[++i];
    } else if (!optionsEnded && arg == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
      return Usage(err);
    } else {
      files.push_back(arg);
    }
  }
  if (files.size() != 2 || fieldNames.empty() || files[0].empty() || files[1].empty()) return Usage(err);
  for (const std::string& file : files) {
    std::error_code ec;
    if (!std::filesystem::exists(std::filesystem::path(file), ec)) {
      err << file << ": " << LangText(kMsgFileMissing) << '\n';
      return kCliFailed;
    }
  }

  // Both files are read as the viewer reads them; what a load would write
  // beside them stays in memory.
  const ScopedSideFileWrites inputsUntouched(SideFileWrites::InMemory);
  MessageHandler previous = SetMessageHandler([&err](const MessageRequest& request) {
    err << request.text << '\n';
    return MessageAnswer::Ok;
  });
  std::vector<std::string> lines;
  int status = kCliFailed;
  {
    LayerList list;
    std::vector<Error> errors;
    Layer* zones = list.AddLayer(files[0], true, false, &errors);
    Layer* log = zones ? list.AddLayer(files[1], true, false, &errors) : nullptr;
    for (const Error& e : errors) err << e.text << '\n';
    if (zones && log) {
      ZoneSummaryRequest request;
      DbfTable logTable, zoneTable;
      bool fieldsFound = logTable.Open(log->GetTablePath());
      for (const std::string& name : fieldNames) {
        const int field = fieldsFound ? FindFieldByName(logTable, name, true) : 0;
        if (field == 0) {
          err << LangFormat(kMsgZonesNoField, files[1].c_str(), name.c_str()) << '\n';
          fieldsFound = false;
          break;
        }
        request.fields.push_back(field);
      }
      logTable.Close();
      if (fieldsFound && !label.empty()) {
        request.labelField = zoneTable.Open(zones->GetTablePath()) ? FindFieldByName(zoneTable, label, false) : 0;
        zoneTable.Close();
        if (request.labelField == 0) {
          err << LangFormat(kMsgZonesNoLabel, files[0].c_str(), label.c_str()) << '\n';
          fieldsFound = false;
        }
      }
      ZoneSummary summary;
      Error error;
      if (fieldsFound) {
        if (!SummariseByZones(*zones, *log, request, summary, &error)) {
          err << error.text << '\n';
        } else if (!outPath.empty() && !ExportZones(*zones, *log, summary, outPath, error)) {
          err << error.text << '\n';
        } else {
          lines = ZoneSummaryJsonLines(summary);
          status = kCliOk;
        }
      }
    }
    errors.clear();
    list.RemoveAll(&errors);
  }
  SetMessageHandler(std::move(previous));
  for (const std::string& line : lines) out << line << '\n';
  out.flush();
  return status;
}

}  // namespace kestrune
