// Files and sizes of the drawing subcommands.
#include "mapview/gui/CliMapFiles.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "base/Platform.h"
#include "geo/CMapTransform.h"
#include "lang/LangString.h"
#include "layers/Layer.h"
#include "layers/LayerInfo.h"

namespace kestrune {

namespace {

// A run of decimal digits as a number up to limit; false for anything else.
bool ParseDimension(const std::string& text, int limit, int& value) {
  if (text.empty() || text.size() > 9) return false;
  if (!std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; })) return false;
  const long number = std::stol(text);
  if (number < 1 || number > limit) return false;
  value = static_cast<int>(number);
  return true;
}

}  // namespace

// Two dimensions around an "x"; the outputs change only when both are good.
bool ParseSizeArgument(const std::string& text, int limit, int& width, int& height) {
  const std::size_t x = text.find_first_of("xX");
  if (x == std::string::npos) return false;
  int w = 0, h = 0;
  if (!ParseDimension(text.substr(0, x), limit, w) || !ParseDimension(text.substr(x + 1), limit, h)) return false;
  width = w;
  height = h;
  return true;
}

// Closes the files.
CliMapFiles::~CliMapFiles() { list_.RemoveAll(); }

// Each file as the newest layer, as the Open command adds it.
bool CliMapFiles::Open(const std::vector<std::string>& paths, std::ostream& err) {
  // The viewer's messages (a refused header, a bad legend file) go to err.
  MessageHandler previous = SetMessageHandler([&err](const MessageRequest& request) {
    err << request.text << '\n';
    return MessageAnswer::Ok;
  });
  bool opened = true;
  std::vector<Error> errors;
  for (const std::string& path : paths) {
    std::error_code ec;
    if (!std::filesystem::exists(std::filesystem::path(path), ec)) {
      err << path << ": " << LangText(kMsgFileMissing) << '\n';
      opened = false;
      break;
    }
    errors.clear();
    Layer* layer = list_.AddLayer(path, true, false, &errors);
    for (const Error& error : errors) err << error.text << '\n';
    if (!layer) {
      err << path << '\n';
      opened = false;
      break;
    }
    // The layers window makes the newest layer the active one.
    list_.SetActiveLayer(layer);
  }
  SetMessageHandler(std::move(previous));
  return opened;
}

// The window's size first, so the zoom fits the files to its shape.
void CliMapFiles::ZoomAll(int clientWidth, int clientHeight) {
  view_.Resize(clientWidth, clientHeight);
  std::vector<MapRect> bounds;
  for (const Layer* layer : list_.Layers()) bounds.push_back(layer->GetBounds());
  view_.ZoomAll(bounds);
}

// The output first, then files, with options anywhere; "--" ends the options.
bool ParseMapArguments(const std::vector<std::string>& args, const std::vector<std::string>& valued,
                       CliMapArguments& parsed) {
  bool optionsEnded = false;
  std::vector<std::string> words;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && arg == "--timings") {
      parsed.timings = true;
    } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
      if (std::find(valued.begin(), valued.end(), arg) == valued.end() || i + 1 >= args.size()) return false;
      parsed.options.emplace_back(arg, args[i + 1]);
      ++i;
    } else {
      words.push_back(arg);
    }
  }
  if (words.size() < 2 || words[0].empty()) return false;
  parsed.output = words[0];
  parsed.files.assign(words.begin() + 1, words.end());
  return std::none_of(parsed.files.begin(), parsed.files.end(), [](const std::string& f) { return f.empty(); });
}

}  // namespace kestrune
