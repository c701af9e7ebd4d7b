// The Print command: one printer for the process (the printer and settings
// chosen last are offered again), the print dialog, and the page printed
// through the map window's view. Printing to a PDF file, which the dialog
// offers on every machine, needs no printer installed.
#pragma once

#include <functional>
#include <string>

#include "base/SafeFile.h"

class QPainter;
class QPrintPreviewDialog;
class QPrinter;
class QWidget;

namespace kestrune {

class LayerList;
class MapView;
struct PrintSource;
struct PrintedPage;

constexpr const char* kMsgNoPrinter = "#10000050:No printer selected.";
constexpr const char* kMsgPrinterNotInitialised = "#10000051:Printer would not initalize.";
constexpr const char* kMsgCannotStartPage = "#10000052:Could not start page.";

// NotWritten: a PDF that could not be written whole (a full disk, a link in
// its place); any old file of that name is left as it was.
enum class PrintResult { Printed, Cancelled, NoPrinter, NotInitialised, NoPage, NotWritten };

// Prints one page on a printer already chosen: the document (named with the
// translated title), the page and its layout. Shows no message. A PDF goes
// through the safe-write path: it is painted into a temporary file beside
// the chosen name, checked to be whole, flushed and renamed over it; why it
// did not land goes to writeError.
PrintResult PrintPageOn(QPrinter& printer, const PrintSource& source, PrintedPage* printed = nullptr,
                        FileWriteError* writeError = nullptr);

// Shows the message of a failed print; nothing for a printed or cancelled one.
void ShowPrintFailure(PrintResult result, const FileWriteError& writeError = {});

// The process's printer, made on first use and kept while the application runs.
QPrinter& GetPrinter();

// Shows the print dialog over the printer; true when the user chose to print.
// Tests put their own in place of the dialog; the previous runner is returned.
using PrintDialogRunner = std::function<bool(QPrinter& printer, QWidget* parent)>;
PrintDialogRunner SetPrintDialogRunner(PrintDialogRunner runner);

// The Print command of the map window: the dialog over the kept printer, then
// the open layers through the window's view, the active layer's legend, the
// notes and the names; failures are shown as messages.
PrintResult PrintMapView(QWidget* parent, const MapView& view, LayerList* layers);

// File › Print Preview: Qt's preview of exactly the page Print gives on the
// kept printer, whose page size and orientation it can change; printing from
// it prints that page. Returns how the print went (Cancelled when closed).
PrintResult PreviewMapView(QWidget* parent, const MapView& view, LayerList* layers);
// Tests put their own in place of showing the preview; the previous runner is returned.
using PreviewDialogRunner = std::function<bool(QPrintPreviewDialog& dialog)>;
PreviewDialogRunner SetPreviewDialogRunner(PreviewDialogRunner runner);

// What the page is printed from: the layers, the active one, the window's
// view, the units preference and the title of the window over it.
PrintSource PrintSourceOf(QWidget* parent, const MapView& view, LayerList* layers);

// Called on every page's source as it is made, to add further blocks (the
// window's zones table when asked for); none by default. The previous hook is
// returned.
using PrintSourceHook = std::function<void(PrintSource& source)>;
PrintSourceHook SetPrintSourceHook(PrintSourceHook hook);

// The orientation that prints a view of that shape larger on the printer's paper.
void ChooseOrientation(QPrinter& printer, int viewWidth, int viewHeight);

// Draws the page on a printer that has begun (a preview's, for one).
PrintedPage DrawPageOn(QPrinter& printer, QPainter& painter, const PrintSource& source);

// Whether a PDF file ends as a whole one does (its last bytes hold "%%EOF"):
// Qt's PDF writer does not report failed writes.
bool PdfIsWhole(const std::string& path);
// The reason a PDF writer's failure most likely had: ENOSPC on a full file
// system, otherwise EIO.
int LikelyWriteError(const std::string& path);

}  // namespace kestrune
