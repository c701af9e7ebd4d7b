// The map of files given on the command line, as an image.
#include "mapview/gui/CliRender.h"
#include "base/SideFileWrites.h"

#include <cerrno>
#include <chrono>

#include <QBuffer>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include "geo/gui/QPainterCanvas.h"
#include "base/PngEncoder.h"
#include "base/SafeFile.h"
#include "lang/FileErrorText.h"
#include "lang/LangString.h"
#include "layers/LayerCache.h"
#include "layers/LayerInfo.h"
#include "mapview/gui/CliMapFiles.h"
#include "mapview/gui/CMapWnd.h"
#include "mapview/gui/MapPrinting.h"

namespace kestrune {

namespace {

using Clock = std::chrono::steady_clock;

// A duration in milliseconds.
double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Shows the usage of the subcommand.
int Usage(std::ostream& err) {
  err << LangText(kMsgUsagePrefix) << ' ' << LangText(kRenderUsage) << '\n';
  return kCliUsage;
}

}  // namespace

// The window's picture of the layers.
QImage RenderMapImage(LayerList& layers, const CMapTransform& transform, int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  if (image.isNull()) return image;
  image.fill(ToQColor(kMapBackground));
  QPainter painter(&image);
  QPainterCanvas canvas(painter);
  layers.DrawAll(canvas, transform);
  return image;
}

bool IsPdfPath(const QString& path) { return QFileInfo(path).suffix().compare(QLatin1String("pdf"), Qt::CaseInsensitive) == 0; }

// Encoded in memory, then through the safe-write path: a full disk or a link
// in the output's place leaves any old picture as it was.
bool WriteMapImage(const QImage& image, const QString& path, FileWriteError* error) {
  // The name's suffix chooses the format; a name without a known one still gets a PNG.
  QByteArray format = QFileInfo(path).suffix().toLower().toLatin1();
  if (!QImageWriter::supportedImageFormats().contains(format)) format = "png";
  // An opaque picture (as the map always is) takes the fast encoder.
  if (format == "png" && image.format() == QImage::Format_RGB32) {
    const std::string png = EncodeOpaquePng(image.constBits(), image.width(), image.height(),
                                            static_cast<std::size_t>(image.bytesPerLine()), image.dotsPerMeterX(),
                                            image.dotsPerMeterY());
    if (png.empty()) {
      if (error) *error = FileWriteError{FileWriteFailure::System, path.toStdString(), EIO};
      return false;
    }
    return WriteFileSafely(path.toStdString(), png, error);
  }
  QByteArray encoded;
  QBuffer buffer(&encoded);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, format);
  if (!writer.write(image)) {
    if (error) *error = FileWriteError{FileWriteFailure::System, path.toStdString(), EIO};
    return false;
  }
  return WriteFileSafely(path.toStdString(), std::string_view(encoded.constData(), size_t(encoded.size())), error);
}

// One page the size of the window, the layers drawn on it as on the window,
// painted into the safe write's temporary file.
bool WriteMapPdf(LayerList& layers, const CMapTransform& transform, int width, int height, const QString& path,
                 FileWriteError* error) {
  constexpr int kPixelsPerInch = 96;
  SafeFile output;
  if (!output.Open(path.toStdString())) {
    if (error) *error = output.Error();
    return false;
  }
  bool drawn = false;
  {
    QPdfWriter pdf(QString::fromStdString(output.TemporaryPath()));
    pdf.setResolution(kPixelsPerInch);
    pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
    pdf.setPageSize(QPageSize(QSizeF(width * 72.0 / kPixelsPerInch, height * 72.0 / kPixelsPerInch), QPageSize::Point,
                              QString(), QPageSize::ExactMatch));
    QPainter painter;
    if (painter.begin(&pdf)) {
      painter.fillRect(QRect(0, 0, width, height), ToQColor(kMapBackground));
      {
        QPainterCanvas canvas(painter);
        layers.DrawAll(canvas, transform);
      }
      drawn = painter.end();
    }
  }
  if (!drawn || !PdfIsWhole(output.TemporaryPath())) {
    if (error) *error = FileWriteError{FileWriteFailure::System, path.toStdString(), LikelyWriteError(output.TemporaryPath())};
    return false;
  }
  if (!output.Commit()) {
    if (error) *error = output.Error();
    return false;
  }
  return true;
}

bool WriteMapPicture(LayerList& layers, const CMapTransform& transform, int width, int height, const QString& path,
                     FileWriteError* error) {
  if (IsPdfPath(path)) return WriteMapPdf(layers, transform, width, height, path, error);
  const QImage image = RenderMapImage(layers, transform, width, height);
  if (image.isNull()) {
    if (error) *error = FileWriteError{FileWriteFailure::System, path.toStdString(), ENOMEM};
    return false;
  }
  return WriteMapImage(image, path, error);
}

// Opens the files, zooms the virtual window to them, paints it and writes the image.
int RunRenderCommand(const std::vector<std::string>& args, std::ostream&, std::ostream& err) {
  // Only the outputs named on the command line are written; the inputs stay as they are.
  const ScopedSideFileWrites inputsUntouched(SideFileWrites::InMemory);
  // Loads are cached outside the user's folders, so the next render opens at
  // once; the layers are only drawn, so the cache is gathered beside the drawing.
  const ScopedLayerCache layerCache(LayerCacheFromPreferences(), true);
  CliMapArguments parsed;
  if (!ParseMapArguments(args, {"--size"}, parsed)) return Usage(err);
  int width = kDefaultRenderWidth, height = kDefaultRenderHeight;
  for (const auto& [name, value] : parsed.options) {
    if (name == "--size" && !ParseSizeArgument(value, kRenderSizeLimit, width, height)) return Usage(err);
  }

  const Clock::time_point start = Clock::now();
  CliMapFiles files;
  if (!files.Open(parsed.files, err)) return kCliFailed;
  files.ZoomAll(width, height);
  const Clock::time_point loaded = Clock::now();

  const QString output = QString::fromStdString(parsed.output);
  QImage image;
  if (!IsPdfPath(output)) {
    image = RenderMapImage(files.Layers(), files.View().Transform(), width, height);
    if (image.isNull()) {
      err << LangFormat(kMsgCannotWriteOutput, parsed.output.c_str()) << '\n';
      return kCliFailed;
    }
  }
  const Clock::time_point drawn = Clock::now();
  // A PDF is drawn as it is written.
  FileWriteError writeError;
  const bool ok = image.isNull()
                      ? WriteMapPdf(files.Layers(), files.View().Transform(), width, height, output, &writeError)
                      : WriteMapImage(image, output, &writeError);
  if (!ok) {
    err << FileWriteErrorText(writeError) << '\n';
    return kCliFailed;
  }
  const Clock::time_point written = Clock::now();
  if (parsed.timings) {
    err << LangFormat(kMsgCliTimings, Ms(loaded - start), Ms(drawn - loaded), Ms(written - drawn)) << '\n';
  }
  return kCliOk;
}

}  // namespace kestrune
