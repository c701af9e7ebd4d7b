// `kestrune-cli info [--records] FILE.shp`: a shape file opened as a layer,
// described in JSON lines (the layer's summary, then with --records one line
// per record in drawing order).
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "base/CliCommand.h"

namespace kestrune {

class Layer;
class Shape;

constexpr const char* kInfoUsage = "#20000700:info [--records] FILE.shp";
constexpr const char* kMsgUsagePrefix = "#20000701:usage: kestrune-cli";
constexpr const char* kMsgFileMissing = "#10000069:File or path does not exist.";

// The summary line of a loaded layer; path is written as given.
std::string LayerSummaryJson(Layer& layer, const std::string& path);
// One record's line; with its layer, the category when it colours by a text field.
std::string RecordJson(Shape& shape, const Layer* layer = nullptr);
// Every line of the description.
std::vector<std::string> LayerInfoLines(Layer& layer, const std::string& path, bool records);

// The subcommand: output only when the file was opened, the messages of a
// refused file on err (exit 1), the usage on err for bad arguments (exit 2).
int RunInfoCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

constexpr CliCommand kInfoCommand{"info", kInfoUsage, &RunInfoCommand};

}  // namespace kestrune
