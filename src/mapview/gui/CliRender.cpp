// The map of files given on the command line, as an image.
#include "mapview/gui/CliRender.h"

#include <chrono>

#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>

#include "geo/gui/QPainterCanvas.h"
#include "lang/LangString.h"
#include "layers/LayerInfo.h"
#include "mapview/gui/CliMapFiles.h"
#include "mapview/gui/CMapWnd.h"

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

// Written beside the target and renamed over it only when complete.
bool WriteMapImage(const QImage& image, const QString& path) {
  // The name's suffix chooses the format; a name without a known one still gets a PNG.
  QByteArray format = QFileInfo(path).suffix().toLower().toLatin1();
  if (!QImageWriter::supportedImageFormats().contains(format)) format = "png";
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  QImageWriter writer(&file, format);
  if (!writer.write(image)) {
    file.cancelWriting();
    return false;
  }
  return file.commit();
}

// One page the size of the window, the layers drawn on it as on the window.
bool WriteMapPdf(LayerList& layers, const CMapTransform& transform, int width, int height, const QString& path) {
  constexpr int kPixelsPerInch = 96;
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  bool drawn = false;
  {
    QPdfWriter pdf(&file);
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
  if (!drawn) {
    file.cancelWriting();
    return false;
  }
  return file.commit();
}

bool WriteMapPicture(LayerList& layers, const CMapTransform& transform, int width, int height, const QString& path) {
  if (IsPdfPath(path)) return WriteMapPdf(layers, transform, width, height, path);
  const QImage image = RenderMapImage(layers, transform, width, height);
  return !image.isNull() && WriteMapImage(image, path);
}

// Opens the files, zooms the virtual window to them, paints it and writes the image.
int RunRenderCommand(const std::vector<std::string>& args, std::ostream&, std::ostream& err) {
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
  const bool ok = image.isNull() ? WriteMapPdf(files.Layers(), files.View().Transform(), width, height, output)
                                 : WriteMapImage(image, output);
  if (!ok) {
    err << LangFormat(kMsgCannotWriteOutput, parsed.output.c_str()) << '\n';
    return kCliFailed;
  }
  const Clock::time_point written = Clock::now();
  if (parsed.timings) {
    err << LangFormat(kMsgCliTimings, Ms(loaded - start), Ms(drawn - loaded), Ms(written - drawn)) << '\n';
  }
  return kCliOk;
}

}  // namespace kestrune
