// One subcommand of kestrune-cli: its name, its usage line and what runs it.
// Each subcommand lives with the code it exposes; the tool's dispatcher only
// lists them, so tests can run a subcommand in-process.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace kestrune {

struct CliCommand {
  const char* name;
  // The usage line after the program name, as a "#id:default" text.
  const char* usage;
  // Runs with the arguments after the subcommand's name; gives the exit status
  // (0 done, 1 the file was refused, 2 bad arguments).
  int (*run)(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
  // Whether it draws (fonts, images, printers): the tool then starts a GUI
  // application, on the offscreen platform unless another is asked for.
  bool drawing = false;
};

constexpr int kCliOk = 0;
constexpr int kCliFailed = 1;
constexpr int kCliUsage = 2;

}  // namespace kestrune
