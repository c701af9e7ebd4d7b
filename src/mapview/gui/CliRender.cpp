// The map of files given on the command line, as an image.
#include "mapview/gui/CliRender.h"

#include <chrono>

#include <QBuffer>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QPainter>

#include "geo/gui/QPainterCanvas.h"
#include "base/SafeFile.h"
#include "lang/FileErrorText.h"
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

  // The picture the map window paints: its background, then every layer, oldest first.
  QImage image(width, height, QImage::Format_RGB32);
  if (image.isNull()) {
    err << LangFormat(kMsgCannotWriteOutput, parsed.output.c_str()) << '\n';
    return kCliFailed;
  }
  image.fill(ToQColor(kMapBackground));
  {
    QPainter painter(&image);
    QPainterCanvas canvas(painter);
    files.Layers().DrawAll(canvas, files.View().Transform());
  }
  const Clock::time_point drawn = Clock::now();

  const QString output = QString::fromStdString(parsed.output);
  // The name's suffix chooses the format; a name without a known one still gets a PNG.
  QByteArray format = QFileInfo(output).suffix().toLower().toLatin1();
  if (!QImageWriter::supportedImageFormats().contains(format)) format = "png";
  // Encoded in memory, then through the safe-write path: a full disk or a
  // link in the output's place leaves any old picture as it was.
  QByteArray encoded;
  QBuffer buffer(&encoded);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, format);
  if (!writer.write(image)) {
    err << LangFormat(kMsgCannotWriteOutput, parsed.output.c_str()) << '\n';
    return kCliFailed;
  }
  FileWriteError writeError;
  if (!WriteFileSafely(parsed.output, std::string_view(encoded.constData(), size_t(encoded.size())), &writeError)) {
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
