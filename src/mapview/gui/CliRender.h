// `kestrune-cli render OUT.png FILE.shp... [--size WxH] [--timings]`: the map
// alone, as the map window of that size paints the files opened in that order
// and zoomed to all of them, on its white background. With --timings the
// time spent loading, drawing and writing the image goes to stderr.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "base/CliCommand.h"

namespace kestrune {

constexpr const char* kRenderUsage = "#20001205:render OUT.png FILE.shp... [--size WxH] [--timings]";
constexpr int kDefaultRenderWidth = 1920;
constexpr int kDefaultRenderHeight = 1080;
constexpr int kRenderSizeLimit = 16384;

// The subcommand: the image written (exit 0), a file refused or the image not
// written (message on err, exit 1), bad arguments (usage on err, exit 2).
int RunRenderCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

constexpr CliCommand kRenderCommand{"render", kRenderUsage, &RunRenderCommand, true};

}  // namespace kestrune
