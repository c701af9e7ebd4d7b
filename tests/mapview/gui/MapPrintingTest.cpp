// The Print command of the main window with the print dialog replaced: the
// page written to a PDF through the one printer kept for the process, and the
// three failure messages. The PDFs are read back with poppler's tools.
#include <QGraphicsItem>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QImage>
#include <QPainter>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include "base/Platform.h"
#include "layers/LayerTestFiles.h"
#include "mapview/gui/MapPrinting.h"
#include "support/ViewerFixture.h"

namespace kestrune {
namespace {

using test::WriteFileBytes;

// The output of a poppler tool run on a file; empty when the tool is missing or fails.
QString RunTool(const char* tool, const QStringList& args) {
  const QString exe = QStandardPaths::findExecutable(QString::fromLatin1(tool));
  if (exe.isEmpty()) return {};
  QProcess process;
  process.start(exe, args);
  if (!process.waitForFinished(30000) || process.exitCode() != 0) return {};
  return QString::fromUtf8(process.readAllStandardOutput());
}

bool HavePoppler() {
  return !QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty() &&
         !QStandardPaths::findExecutable(QStringLiteral("pdftoppm")).isEmpty();
}

class MapPrintingTest : public test::ViewerFixture {
 protected:
  void SetUp() override {
    ViewerFixture::SetUp();
    oldRunner_ = SetPrintDialogRunner([this](QPrinter& printer, QWidget*) {
      ++dialogs_;
      seenPrinter_ = &printer;
      seenOutput_ = printer.outputFileName();
      return choose_ ? choose_(printer) : false;
    });
    oldMessages_ = SetMessageHandler([this](const MessageRequest& request) {
      messages_.push_back(request);
      return MessageAnswer::Ok;
    });
  }
  void TearDown() override {
    SetMessageHandler(oldMessages_);
    SetPrintDialogRunner(oldRunner_);
    ViewerFixture::TearDown();
  }

  // A field in blue with two lines of notes, opened as the newest layer.
  void OpenField() {
    const std::string shp = test::WriteAreaSet(dir_, "north-field", {test::Square(-95.0, 42.0, 0.01)}, {1.0});
    WriteFileBytes(dir_ / "north-field.gpe", "[Options]\r\nLEGEND_COL=1\r\nCOLOR_METHOD=1\r\nDRAW_BORDER=0\r\n");
    Legend legend;
    legend.Insert(10.0, 0xFF0000);
    ASSERT_TRUE(legend.SaveFile((dir_ / "north-field.lgd").string()));
    WriteFileBytes(dir_ / "north-field.txt", "Sprayed after the rain.\r\nWest gate locked.");
    ASSERT_TRUE(Open(shp));
  }

  // Prints to a PDF file in the test's folder; the dialog's print-to-file choice does this.
  void ChoosePdf(const std::string& name) {
    const QString path = QString::fromStdString((dir_ / name).string());
    choose_ = [path](QPrinter& printer) {
      printer.setOutputFormat(QPrinter::PdfFormat);
      printer.setOutputFileName(path);
      return true;
    };
  }

  void Print() { frame_->ExecuteCommand(kIdFilePrint); }

  std::function<bool(QPrinter&)> choose_;
  int dialogs_ = 0;
  QPrinter* seenPrinter_ = nullptr;
  QString seenOutput_;
  std::vector<MessageRequest> messages_;
  PrintDialogRunner oldRunner_;
  MessageHandler oldMessages_;
};

TEST_F(MapPrintingTest, PrintToPdfNeedsNoPrinterAndKeepsTheChoiceForTheNextPrint) {
  OpenField();
  ChoosePdf("first.pdf");
  Print();
  EXPECT_EQ(dialogs_, 1);
  EXPECT_TRUE(messages_.empty());
  const std::filesystem::path pdf = dir_ / "first.pdf";
  ASSERT_TRUE(std::filesystem::exists(pdf));
  EXPECT_EQ(test::ReadFileBytes(pdf).substr(0, 5), "%PDF-");

  // The next print offers the same printer with the file chosen last.
  QPrinter* first = seenPrinter_;
  choose_ = [](QPrinter&) { return false; };
  Print();
  EXPECT_EQ(dialogs_, 2);
  EXPECT_EQ(seenPrinter_, first);
  EXPECT_EQ(seenOutput_.toStdString(), pdf.string());
  EXPECT_TRUE(messages_.empty()) << "a cancelled dialog says nothing";

  if (!HavePoppler()) GTEST_SKIP() << "poppler-utils absent: the page was not read back";
  const QString file = QString::fromStdString(pdf.string());
  const QString info = RunTool("pdfinfo", {file});
  EXPECT_TRUE(info.contains(QStringLiteral("Title:           Quillmer Kestrune"))) << info.toStdString();
  const QString text = RunTool("pdftotext", {QStringLiteral("-layout"), file, QStringLiteral("-")});
  for (const char* expected : {"Notes", "Sprayed after the rain.", "West gate locked.", "north-field",
                               "10.00 and below"}) {
    EXPECT_TRUE(text.contains(QString::fromLatin1(expected))) << expected << "\n" << text.toStdString();
  }
  // The map: the field's blue fills the window's view at the top of the page.
  const QString png = QString::fromStdString((dir_ / "page").string());
  RunTool("pdftoppm", {QStringLiteral("-r"), QStringLiteral("20"), QStringLiteral("-png"),
                       QStringLiteral("-singlefile"), file, png});
  const QImage page(png + QStringLiteral(".png"));
  ASSERT_FALSE(page.isNull());
  int blue = 0, blueLow = 0;
  for (int y = 0; y < page.height(); ++y) {
    for (int x = 0; x < page.width(); ++x) {
      if (page.pixel(x, y) != qRgb(0, 0, 255)) continue;
      ++blue;
      // The last 2 inches are the legend's (its blue swatch is at the right): the map stays above them.
      if (y > page.height() - 2 * 20 && x < page.width() / 2) ++blueLow;
    }
  }
  EXPECT_GT(blue, 200);
  EXPECT_EQ(blueLow, 0);
}

// The page of a preview's scene: its page item without the border of a
// twenty-fifth of the paper's longer side that the item draws round it.
QImage PreviewPage(QPrintPreviewDialog& dialog, const QSize& size) {
  auto* preview = dialog.findChild<QPrintPreviewWidget*>();
  if (!preview) return {};
  preview->updatePreview();
  auto* view = preview->findChild<QGraphicsView*>();
  if (!view || !view->scene() || view->scene()->items().isEmpty()) return {};
  QGraphicsItem* item = nullptr;
  for (QGraphicsItem* i : view->scene()->items()) {
    if (!item || i->boundingRect().width() > item->boundingRect().width()) item = i;
  }
  const QRectF b = item->boundingRect();
  const double border = std::max(b.width(), b.height()) / 27.0;  // the paper's longer side / 25
  const QRectF paper(b.left() + border, b.top() + border, b.width() - 2 * border, b.height() - 2 * border);
  QImage image(size, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  view->scene()->render(&painter, QRectF(QPointF(0, 0), QSizeF(size)), item->mapRectToScene(paper));
  return image;
}

TEST_F(MapPrintingTest, PreviewShowsThePagePrintGivesAndTheDocumentIsNamedAfterTheWindow) {
  if (!HavePoppler()) GTEST_SKIP() << "poppler-utils absent: the page cannot be read back";
  OpenField();
  frame_->setWindowTitle(QStringLiteral("Vantrel"));
  // The preview of the kept printer, on Letter.
  GetPrinter().setPageSize(QPageSize(QPageSize::Letter));
  QImage shown;
  const PreviewDialogRunner old = SetPreviewDialogRunner([&shown](QPrintPreviewDialog& dialog) {
    shown = PreviewPage(dialog, QSize(425, 550));
    return false;
  });
  frame_->ExecuteCommand(kIdFilePrintPreview);
  SetPreviewDialogRunner(old);
  ASSERT_FALSE(shown.isNull()) << "no page in the preview";

  ChoosePdf("printed.pdf");
  Print();
  const QString file = QString::fromStdString((dir_ / "printed.pdf").string());
  EXPECT_TRUE(RunTool("pdfinfo", {file}).contains(QStringLiteral("Title:           Vantrel")));
  const QString png = QString::fromStdString((dir_ / "printed").string());
  RunTool("pdftoppm", {QStringLiteral("-r"), QStringLiteral("50"), QStringLiteral("-png"),
                       QStringLiteral("-singlefile"), file, png});
  const QImage printed = QImage(png + QStringLiteral(".png")).convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(printed.size(), shown.size()) << "the preview's paper is the printed one's";
  // Pixel by pixel the same picture, but for the edges of texts and lines
  // that two renderers smooth differently.
  double difference = 0.0;
  int darkShown = 0, darkPrinted = 0;
  for (int y = 0; y < printed.height(); ++y) {
    for (int x = 0; x < printed.width(); ++x) {
      difference += std::abs(qGray(printed.pixel(x, y)) - qGray(shown.pixel(x, y)));
      darkShown += qGray(shown.pixel(x, y)) < 128;
      darkPrinted += qGray(printed.pixel(x, y)) < 128;
    }
  }
  EXPECT_LT(difference / (printed.width() * printed.height()), 6.0);
  EXPECT_NEAR(darkShown, darkPrinted, darkPrinted / 20 + 20);
  EXPECT_GT(darkPrinted, 2000) << "a page with a map, a legend and notes";
}

TEST_F(MapPrintingTest, NoPrinterIsReportedWithTheTitleAndTheExclamation) {
  OpenField();
  // A printer that does not exist (without printers installed Qt makes it a
  // PDF printer without a file), and a PDF printer without a file.
  const std::vector<std::function<bool(QPrinter&)>> choices = {
      [](QPrinter& printer) {
        printer.setOutputFileName(QString());
        printer.setOutputFormat(QPrinter::NativeFormat);
        printer.setPrinterName(QStringLiteral("kestrune-test-no-such-printer"));
        return true;
      },
      [](QPrinter& printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString());
        return true;
      }};
  for (const auto& choice : choices) {
    messages_.clear();
    choose_ = choice;
    Print();
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].text, "No printer selected.");
    EXPECT_EQ(messages_[0].caption, "Quillmer Kestrune");
    EXPECT_EQ(messages_[0].icon, MessageIcon::Warning);
  }
}

TEST_F(MapPrintingTest, AnOutputThatCannotBeCreatedIsToldWithItsNameAndReason) {
  OpenField();
  choose_ = [this](QPrinter& printer) {
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString((dir_ / "missing-folder" / "page.pdf").string()));
    return true;
  };
  Print();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].text, "Could not write " + (dir_ / "missing-folder" / "page.pdf").string() +
                                   ": No such file or directory. Any file of that name was left as it was.");
  EXPECT_EQ(messages_[0].caption, "");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "missing-folder"));
}

TEST_F(MapPrintingTest, FailureMessagesOfEachResult) {
  ShowPrintFailure(PrintResult::NoPage);
  ShowPrintFailure(PrintResult::Printed);
  ShowPrintFailure(PrintResult::Cancelled);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].text, "Could not start page.");
}

}  // namespace
}  // namespace kestrune
