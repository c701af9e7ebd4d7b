// The Print command, from the dialog to the finished page.
#include "mapview/gui/MapPrinting.h"

#include <QCoreApplication>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>

#include <utility>

#include "base/Platform.h"
#include "base/ResourceIds.h"
#include "lang/LangString.h"
#include "layers/LayerList.h"
#include "mapview/gui/PrintPage.h"
#include "mapview/MapView.h"

namespace kestrune {

namespace {

QPrinter* g_printer = nullptr;

// Drops the kept printer while the application still exists (a printer's
// engine must not outlive the platform it was made on).
void DeletePrinter() {
  delete g_printer;
  g_printer = nullptr;
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

}  // namespace

// Starts the document and its one page, lays it out and ends both.
PrintResult PrintPageOn(QPrinter& printer, const PrintSource& source, PrintedPage* printed) {
  // A printer Qt could not find gives nothing to print on; Qt turns an unknown
  // printer into a PDF printer without a file, which has nothing either.
  if (!printer.isValid() || (printer.outputFormat() == QPrinter::PdfFormat && printer.outputFileName().isEmpty())) {
    return PrintResult::NoPrinter;
  }
  printer.setDocName(QString::fromStdString(LangText(kFrameTitle)));
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
  painter.end();
  if (printed) *printed = std::move(result);
  return PrintResult::Printed;
}

// The three reports of a print that did not happen.
void ShowPrintFailure(PrintResult result) {
  switch (result) {
    case PrintResult::NoPrinter:
      ShowMessage(LangText(kMsgNoPrinter), LangText(kFrameTitle), MessageIcon::Warning);
      break;
    case PrintResult::NotInitialised: ShowMessage(LangText(kMsgPrinterNotInitialised), {}, MessageIcon::Warning); break;
    case PrintResult::NoPage: ShowMessage(LangText(kMsgCannotStartPage), {}, MessageIcon::Warning); break;
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

// The dialog, then the page of every open layer as the window shows it.
PrintResult PrintMapView(QWidget* parent, const MapView& view) {
  QPrinter& printer = GetPrinter();
  if (!DialogRunner()(printer, parent)) return PrintResult::Cancelled;
  PrintSource source;
  LayerList empty;
  source.layers = GetLayerList() ? GetLayerList() : &empty;
  source.active = source.layers->GetActiveLayer();
  source.clientWidth = view.ClientWidth();
  source.clientHeight = view.ClientHeight();
  source.transform = &view.Transform();
  PrintResult result;
  {
    WaitCursor wait;
    result = PrintPageOn(printer, source);
  }
  ShowPrintFailure(result);
  return result;
}

}  // namespace kestrune
