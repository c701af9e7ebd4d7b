// The printed page of files given on the command line, as a PDF.
#include "mapview/gui/CliPrint.h"
#include "base/SideFileWrites.h"

#include <QPageSize>

#include <algorithm>
#include <cmath>
#include <QPrinter>

#include "base/Preferences.h"
#include "base/ResourceIds.h"
#include "lang/FileErrorText.h"
#include "layers/Layer.h"
#include "layers/LayerList.h"
#include "mapview/PageScale.h"
#include "lang/LangString.h"
#include "layers/LayerInfo.h"
#include "mapview/gui/CliMapFiles.h"
#include "mapview/gui/MapPrinting.h"
#include "mapview/gui/PrintPage.h"

namespace kestrune {

namespace {

// Shows the usage of the subcommand.
int Usage(std::ostream& err) {
  err << LangText(kMsgUsagePrefix) << ' ' << LangText(kPrintUsage) << '\n';
  return kCliUsage;
}

// The window's title of an edition: "Vantrel" for that edition (named in any
// case, blanks around it ignored), else the program's own.
std::string EditionTitle(const std::string& edition) {
  const QString e = QString::fromStdString(edition).trimmed();
  if (e.compare(QStringLiteral("vantrel"), Qt::CaseInsensitive) == 0) return LangText("Vantrel");
  return LangText(kFrameTitle);
}

// The union of the open files' bounds, in map units.
MapRect UnionBounds(const LayerList& layers) {
  MapRect all;
  bool any = false;
  for (const Layer* layer : layers.Layers()) {
    const MapRect b = layer->GetBounds();
    if (!any) {
      all = b;
      any = true;
      continue;
    }
    all.left = std::min(all.left, b.left);
    all.right = std::max(all.right, b.right);
    all.top = std::min(all.top, b.top);
    all.bottom = std::max(all.bottom, b.bottom);
  }
  return all;
}

}  // namespace

// Looks the name up among every page size Qt defines.
bool PageSizeByName(const std::string& name, QPageSize& size) {
  const QString wanted = QString::fromStdString(name).trimmed();
  if (wanted.isEmpty()) return false;
  for (int id = 0; id <= static_cast<int>(QPageSize::LastPageSize); ++id) {
    const auto pageId = static_cast<QPageSize::PageSizeId>(id);
    // Custom has no size of its own to print on.
    if (pageId == QPageSize::Custom) continue;
    if (QPageSize::key(pageId).compare(wanted, Qt::CaseInsensitive) == 0 ||
        QPageSize::name(pageId).compare(wanted, Qt::CaseInsensitive) == 0) {
      size = QPageSize(pageId);
      return true;
    }
  }
  return false;
}

// Opens the files, zooms the virtual window to them and prints the page to the PDF.
int RunPrintCommand(const std::vector<std::string>& args, std::ostream&, std::ostream& err) {
  // Only the outputs named on the command line are written; the inputs stay as they are.
  const ScopedSideFileWrites inputsUntouched(SideFileWrites::InMemory);
  CliMapArguments parsed;
  if (!ParseMapArguments(args, {"--view", "--page", "--orientation"}, parsed) || parsed.timings) return Usage(err);
  std::string orientation;
  int viewWidth = kDefaultViewWidth, viewHeight = kDefaultViewHeight;
  bool viewGiven = false;
  std::string pageName = kDefaultPageSize;
  for (const auto& [name, value] : parsed.options) {
    if (name == "--view" && !ParseSizeArgument(value, kViewSizeLimit, viewWidth, viewHeight)) return Usage(err);
    if (name == "--view") viewGiven = true;
    if (name == "--page") pageName = value;
    if (name == "--orientation") {
      if (value != "portrait" && value != "landscape") return Usage(err);
      orientation = value;
    }
  }
  QPageSize pageSize;
  if (!PageSizeByName(pageName, pageSize)) {
    err << LangFormat(kMsgUnknownPageSize, pageName.c_str()) << '\n';
    return Usage(err);
  }

  CliMapFiles files;
  if (!files.Open(parsed.files, err)) return kCliFailed;
  // Without a window's size, the map's own shape (the files' bounds) turns the
  // page, and the window is the page's map area, so the files fill the map.
  QPageLayout::Orientation turn = orientation == "landscape" ? QPageLayout::Landscape : QPageLayout::Portrait;
  if (!viewGiven) {
    const QSizeF paper = pageSize.size(QPageSize::Inch);
    if (orientation.empty()) {
      const MapRect bounds = UnionBounds(files.Layers());
      const double w = std::fabs(static_cast<double>(bounds.right) - bounds.left);
      const double h = std::fabs(static_cast<double>(bounds.top) - bounds.bottom);
      if (LandscapePrintsLarger(w, h, paper.width(), paper.height(), kBlocksBelowInches)) turn = QPageLayout::Landscape;
    }
    const bool landscape = turn == QPageLayout::Landscape;
    const double across = landscape ? std::max(paper.width(), paper.height()) : std::min(paper.width(), paper.height());
    const double down = landscape ? std::min(paper.width(), paper.height()) : std::max(paper.width(), paper.height());
    viewWidth = std::max(1, static_cast<int>(std::lround((across - kPaperMarginsInches) * 100.0)));
    viewHeight = std::max(1, static_cast<int>(std::lround((down - kPaperMarginsInches - kBlocksBelowInches) * 100.0)));
  }
  files.ZoomAll(viewWidth, viewHeight);

  // The printer the dialog's print-to-file choice makes, on the named paper.
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(QString::fromStdString(parsed.output));
  printer.setPageSize(pageSize);
  PrintSource source;
  source.layers = &files.Layers();
  source.active = files.Layers().GetActiveLayer();
  source.clientWidth = files.View().ClientWidth();
  source.clientHeight = files.View().ClientHeight();
  source.transform = &files.View().Transform();
  source.metric = GetPreferences().IsMetric();
  source.title = EditionTitle(GetPreferences().GetEdition());
  if (orientation.empty() && viewGiven) {
    ChooseOrientation(printer, viewWidth, viewHeight);
  } else {
    printer.setPageOrientation(turn);
  }
  FileWriteError writeError;
  const PrintResult result = PrintPageOn(printer, source, nullptr, &writeError);
  switch (result) {
    case PrintResult::Printed: return kCliOk;
    // The PDF writer fails to start only when it cannot create the file.
    case PrintResult::NotInitialised:
      err << LangFormat(kMsgCannotWriteOutput, parsed.output.c_str()) << '\n';
      return kCliFailed;
    case PrintResult::NoPrinter: err << LangText(kMsgNoPrinter) << '\n'; return kCliFailed;
    case PrintResult::NoPage: err << LangText(kMsgCannotStartPage) << '\n'; return kCliFailed;
    case PrintResult::NotWritten: err << FileWriteErrorText(writeError) << '\n'; return kCliFailed;
    case PrintResult::Cancelled: break;
  }
  return kCliFailed;
}

}  // namespace kestrune
