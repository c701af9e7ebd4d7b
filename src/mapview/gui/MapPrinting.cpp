// The Print command, from the dialog to the finished page.
#include "mapview/gui/MapPrinting.h"

#include <QCoreApplication>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>

#include <sys/statvfs.h>

#include <cerrno>
#include <fstream>
#include <utility>

#include "base/Platform.h"
#include "base/Preferences.h"
#include "base/ResourceIds.h"
#include "lang/FileErrorText.h"
#include "lang/LangString.h"
#include "layers/LayerList.h"
#include "mapview/gui/PrintPage.h"
#include "mapview/MapView.h"
#include "mapview/PageScale.h"

namespace kestrune {

namespace {

QPrinter* g_printer = nullptr;
// Whether a print or preview has gone ahead on the kept printer: from then on
// its orientation is the one chosen last, not the map's default.
bool g_settingsChosen = false;

// Drops the kept printer while the application still exists (a printer's
// engine must not outlive the platform it was made on).
void DeletePrinter() {
  delete g_printer;
  g_printer = nullptr;
  g_settingsChosen = false;
}

// The print dialog: no page ranges, no selection, copies and collation, and
// its print-to-file choice, which writes a PDF with no printer installed.
bool RunPrintDialog(QPrinter& printer, QWidget* parent) {
  QPrintDialog dialog(&printer, parent);
  dialog.setOptions(QAbstractPrintDialog::PrintToFile | QAbstractPrintDialog::PrintCollateCopies |
                    QAbstractPrintDialog::PrintShowPageSize);
  return dialog.exec() == QDialog::Accepted;
}

// The runner the Print command shows its dialog with.
PrintDialogRunner& DialogRunner() {
  static PrintDialogRunner runner = &RunPrintDialog;
  return runner;
}

// Shows the preview dialog until it is closed; true when it printed.
bool RunPreviewDialog(QPrintPreviewDialog& dialog) { return dialog.exec() == QDialog::Accepted; }

PreviewDialogRunner& PreviewRunner() {
  static PreviewDialogRunner runner = &RunPreviewDialog;
  return runner;
}

// Draws the page on a printer that has its output ready; ended tells whether
// the painter's end (which finishes the document) succeeded.
PrintResult PaintPage(QPrinter& printer, const PrintSource& source, PrintedPage* printed, bool& ended) {
  ended = false;
  printer.setDocName(QString::fromStdString(source.title.empty() ? LangText(kFrameTitle) : source.title));
  QPainter painter;
  if (!painter.begin(&printer)) return PrintResult::NotInitialised;
  const PageMetrics page = PageMetricsOf(printer);
  // Qt starts the first page with the document: a page with no printable area is its failure.
  if (page.width <= 0 || page.height <= 0 || page.dpiX <= 0 || page.dpiY <= 0) {
    printer.abort();
    painter.end();
    return PrintResult::NoPage;
  }
  PrintedPage result = DrawPrintPage(painter, page, source);
  ended = painter.end();
  if (printed) *printed = std::move(result);
  return PrintResult::Printed;
}

}  // namespace

// Whether a PDF file ends as a whole one does: its last bytes hold "%%EOF".
bool PdfIsWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return false;
  const std::streamoff size = in.tellg();
  if (size <= 0) return false;
  const std::streamoff tail = std::min<std::streamoff>(size, 1024);
  std::string bytes(static_cast<size_t>(tail), '\0');
  in.seekg(size - tail);
  in.read(bytes.data(), tail);
  return in && bytes.find("%%EOF") != std::string::npos;
}

// The reason a PDF writer's failure most likely had: Qt does not tell it.
int LikelyWriteError(const std::string& path) {
  struct statvfs fs {};
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  if (::statvfs(folder.c_str(), &fs) == 0 && fs.f_bavail == 0) return ENOSPC;
  return EIO;
}

// Starts the document and its one page, lays it out and ends both.
PrintResult PrintPageOn(QPrinter& printer, const PrintSource& source, PrintedPage* printed,
                        FileWriteError* writeError) {
  FileWriteError ignored;
  FileWriteError& error = writeError ? *writeError : ignored;
  error = FileWriteError{};
  // A printer Qt could not find gives nothing to print on; Qt turns an unknown
  // printer into a PDF printer without a file, which has nothing either.
  if (!printer.isValid() || (printer.outputFormat() == QPrinter::PdfFormat && printer.outputFileName().isEmpty())) {
    return PrintResult::NoPrinter;
  }
  bool ended = false;
  if (printer.outputFormat() != QPrinter::PdfFormat) return PaintPage(printer, source, printed, ended);
  // A PDF is painted into a temporary file and lands only when it is whole.
  const QString finalName = printer.outputFileName();
  SafeFile output;
  if (!output.Open(finalName.toStdString())) {
    error = output.Error();
    return PrintResult::NotWritten;
  }
  const std::string temp = output.TemporaryPath();
  printer.setOutputFileName(QString::fromStdString(temp));
  printer.setOutputFormat(QPrinter::PdfFormat);
  const PrintResult result = PaintPage(printer, source, printed, ended);
  printer.setOutputFileName(finalName);
  if (result != PrintResult::Printed) return result;
  if (!ended || !PdfIsWhole(temp)) {
    error = FileWriteError{FileWriteFailure::System, finalName.toStdString(), LikelyWriteError(temp)};
    return PrintResult::NotWritten;
  }
  if (!output.Commit()) {
    error = output.Error();
    return PrintResult::NotWritten;
  }
  return PrintResult::Printed;
}

// The reports of a print that did not happen.
void ShowPrintFailure(PrintResult result, const FileWriteError& writeError) {
  switch (result) {
    case PrintResult::NoPrinter:
      ShowMessage(LangText(kMsgNoPrinter), LangText(kFrameTitle), MessageIcon::Warning);
      break;
    case PrintResult::NotInitialised: ShowMessage(LangText(kMsgPrinterNotInitialised), {}, MessageIcon::Warning); break;
    case PrintResult::NoPage: ShowMessage(LangText(kMsgCannotStartPage), {}, MessageIcon::Warning); break;
    case PrintResult::NotWritten: ShowMessage(FileWriteErrorText(writeError), {}, MessageIcon::Warning); break;
    case PrintResult::Printed:
    case PrintResult::Cancelled: break;
  }
}

// Made on first use, so the choices of one print are there for the next.
QPrinter& GetPrinter() {
  if (!g_printer) {
    g_printer = new QPrinter(QPrinter::HighResolution);
    qAddPostRoutine(&DeletePrinter);
  }
  return *g_printer;
}

// Puts a runner in the dialog's place (none: the dialog again).
PrintDialogRunner SetPrintDialogRunner(PrintDialogRunner runner) {
  PrintDialogRunner old = std::move(DialogRunner());
  DialogRunner() = runner ? std::move(runner) : PrintDialogRunner(&RunPrintDialog);
  return old;
}

namespace {
PrintSourceHook& SourceHook() {
  static PrintSourceHook hook;
  return hook;
}
}  // namespace

PrintSourceHook SetPrintSourceHook(PrintSourceHook hook) {
  PrintSourceHook old = std::move(SourceHook());
  SourceHook() = std::move(hook);
  return old;
}

PrintSource PrintSourceOf(QWidget* parent, const MapView& view, LayerList* layers) {
  PrintSource source;
  source.layers = layers;
  source.active = layers ? layers->GetActiveLayer() : nullptr;
  source.clientWidth = view.ClientWidth();
  source.clientHeight = view.ClientHeight();
  source.transform = &view.Transform();
  source.metric = GetPreferences().IsMetric();
  if (parent && parent->window()) source.title = parent->window()->windowTitle().toStdString();
  if (SourceHook()) SourceHook()(source);
  return source;
}

// The paper's sides in inches, and the blocks under the map at about 2.5 inches.
void ChooseOrientation(QPrinter& printer, int viewWidth, int viewHeight) {
  const QSizeF paper = printer.pageLayout().pageSize().size(QPageSize::Inch);
  const bool landscape = LandscapePrintsLarger(viewWidth, viewHeight, paper.width(), paper.height(), kBlocksBelowInches);
  printer.setPageOrientation(landscape ? QPageLayout::Landscape : QPageLayout::Portrait);
}

PrintedPage DrawPageOn(QPrinter& printer, QPainter& painter, const PrintSource& source) {
  return DrawPrintPage(painter, PageMetricsOf(printer), source);
}

PreviewDialogRunner SetPreviewDialogRunner(PreviewDialogRunner runner) {
  PreviewDialogRunner old = std::move(PreviewRunner());
  PreviewRunner() = runner ? std::move(runner) : PreviewDialogRunner(&RunPreviewDialog);
  return old;
}

// The dialog, then the page of every open layer as the window shows it.
PrintResult PrintMapView(QWidget* parent, const MapView& view, LayerList* layers) {
  QPrinter& printer = GetPrinter();
  LayerList empty;
  const PrintSource source = PrintSourceOf(parent, view, layers ? layers : &empty);
  if (!g_settingsChosen) ChooseOrientation(printer, source.clientWidth, source.clientHeight);
  if (!DialogRunner()(printer, parent)) return PrintResult::Cancelled;
  g_settingsChosen = true;
  PrintResult result;
  FileWriteError error;
  {
    WaitCursor wait;
    result = PrintPageOn(printer, source, nullptr, &error);
  }
  ShowPrintFailure(result, error);
  return result;
}

PrintResult PreviewMapView(QWidget* parent, const MapView& view, LayerList* layers) {
  QPrinter& printer = GetPrinter();
  LayerList empty;
  const PrintSource source = PrintSourceOf(parent, view, layers ? layers : &empty);
  if (!g_settingsChosen) ChooseOrientation(printer, source.clientWidth, source.clientHeight);
  QPrintPreviewDialog dialog(&printer, parent);
  dialog.setObjectName(QStringLiteral("PrintPreview"));
  QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, &dialog, [&source](QPrinter* target) {
    target->setDocName(QString::fromStdString(source.title.empty() ? LangText(kFrameTitle) : source.title));
    QPainter painter(target);
    DrawPageOn(*target, painter, source);
  });
  const bool printed = PreviewRunner()(dialog);
  if (printed) g_settingsChosen = true;
  return printed ? PrintResult::Printed : PrintResult::Cancelled;
}

}  // namespace kestrune
