// `kestrune-cli print OUT.pdf FILE.shp... [--view WxH] [--page SIZE]`: the page
// the Print command gives for the files opened in that order (the last one
// active) in a map window of the given size (else of the page's map area)
// zoomed to all of them, printed to a PDF file on paper of a size Qt knows by
// name (Letter unless given), upright or turned as asked, else as the files
// (or the given window) print larger.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "base/CliCommand.h"

class QPageSize;

namespace kestrune {

constexpr const char* kPrintUsage =
    "#20200040:print OUT.pdf FILE.shp... [--view WxH] [--page Letter|A4|...] [--orientation portrait|landscape]";
constexpr int kDefaultViewWidth = 1000;
constexpr int kDefaultViewHeight = 700;
constexpr const char* kDefaultPageSize = "Letter";
constexpr int kViewSizeLimit = 100000;

// The page size of a name, matched without regard to case against Qt's keys
// ("Letter", "A4", "Legal") and its display names; false for none.
bool PageSizeByName(const std::string& name, QPageSize& size);

// The subcommand: the PDF written (exit 0), a file refused or the output not
// written (message on err, exit 1), bad arguments (usage on err, exit 2).
int RunPrintCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

constexpr CliCommand kPrintCommand{"print", kPrintUsage, &RunPrintCommand, true};

}  // namespace kestrune
