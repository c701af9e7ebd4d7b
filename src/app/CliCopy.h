// kestrune-cli copy SRC.shp DEST.shp: Save As from the command line, through
// the same code as the viewer's command.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "base/CliCommand.h"

namespace kestrune {

constexpr const char* kCopyUsage = "#20010020:copy SRC.shp DEST.shp";
constexpr const char* kRecoverUsage = "#20100001:copy --recover FOLDER";
constexpr const char* kMsgRecoverNoFolder = "#20100002:%s is no folder that can be read: %s.";
constexpr const char* kMsgRecoverFailed = "#20100003:The interrupted copy of %s could not be finished at %s: %s. Nothing more was changed; run the recovery again.";

// With "--recover FOLDER": finishes (or rolls back) every copy into FOLDER
// that a kill cut short and prints {"recover":FOLDER,"finished":[journals],
// "rolled_back":[...],"busy":[...],"refused":[...]}; exit 1 when a step failed.
// Copies the set of the first name to the base of the second. On success one
// JSON line: {"copy":NEW.shp,"written":[...],"removed":[...]}. Exit 1 with the
// Save As message on stderr when the copy failed, 2 on bad arguments.
int RunCopyCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

constexpr CliCommand kCopyCommand{"copy", kCopyUsage, &RunCopyCommand};

}  // namespace kestrune
