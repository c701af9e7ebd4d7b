// What the drawing subcommands of kestrune-cli share: sizes given as WxH, and
// files opened as the viewer opens them (each as the newest layer, the last
// one active, with its ".gpe", ".lgd" and notes) in a virtual map window
// zoomed to all of them.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "layers/LayerList.h"
#include "mapview/MapView.h"

namespace kestrune {

constexpr const char* kMsgCannotWriteOutput = "#20001201:Could not write %s.";
constexpr const char* kMsgUnknownPageSize = "#20001202:Unknown page size: %s";
constexpr const char* kMsgCliTimings = "#20001203:load %.1f ms, draw %.1f ms, write %.1f ms";

// "WIDTHxHEIGHT" with both from 1 to limit; false for anything else.
bool ParseSizeArgument(const std::string& text, int limit, int& width, int& height);

// The open files of a drawing subcommand and the window they are seen through.
class CliMapFiles {
 public:
  CliMapFiles() = default;
  // Closes the files.
  ~CliMapFiles();
  CliMapFiles(const CliMapFiles&) = delete;
  CliMapFiles& operator=(const CliMapFiles&) = delete;

  // Opens the files in order; the last is the active layer. False, with the
  // message on err, at the first file that is missing or refused.
  bool Open(const std::vector<std::string>& paths, std::ostream& err);
  // Sizes the virtual window and zooms it to all the files.
  void ZoomAll(int clientWidth, int clientHeight);

  LayerList& Layers() { return list_; }
  MapView& View() { return view_; }

 private:
  LayerList list_;
  MapView view_;
};

// The command's arguments: the output, the files and the options with their
// values. False for an option that is not known or lacks its value.
struct CliMapArguments {
  std::string output;
  std::vector<std::string> files;
  std::vector<std::pair<std::string, std::string>> options;  // name, value
  bool timings = false;
};
bool ParseMapArguments(const std::vector<std::string>& args, const std::vector<std::string>& valued,
                       CliMapArguments& parsed);

}  // namespace kestrune
