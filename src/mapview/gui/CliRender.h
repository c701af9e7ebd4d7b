// `kestrune-cli render OUT.png FILE.shp... [--size WxH] [--timings]`: the map
// alone, as the map window of that size paints the files opened in that order
// and zoomed to all of them, on its white background; OUT.pdf gives a PDF. With --timings the
// time spent loading, drawing and writing the image goes to stderr.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include <QImage>
#include <QString>

#include "base/CliCommand.h"
#include "base/SafeFile.h"

namespace kestrune {

constexpr const char* kRenderUsage = "#20001205:render OUT.png FILE.shp... [--size WxH] [--timings]";
constexpr int kDefaultRenderWidth = 1920;
constexpr int kDefaultRenderHeight = 1080;
constexpr int kRenderSizeLimit = 16384;

class CMapTransform;
class LayerList;

// The map as a map window of width x height paints it through the transform:
// its white background, then every layer that is not hidden, oldest first.
// A null image when that many pixels cannot be had.
QImage RenderMapImage(LayerList& layers, const CMapTransform& transform, int width, int height);
// Whether a path names a PDF (by its suffix, in any case).
bool IsPdfPath(const QString& path);
// Writes the image whole or not at all, through the safe-write path: the
// name's suffix chooses the format (PNG for a name without a known one).
// False when it was not written; error (when given) tells why.
bool WriteMapImage(const QImage& image, const QString& path, FileWriteError* error = nullptr);
// The same map as a one-page PDF of width x height pixels at 96 per inch,
// drawn as shapes rather than pixels, painted into a temporary file that
// lands only when whole. False when it was not written.
bool WriteMapPdf(LayerList& layers, const CMapTransform& transform, int width, int height, const QString& path,
                 FileWriteError* error = nullptr);
// A PDF for a ".pdf" name, else an image: what `render` and the viewer's
// Export Map Image write.
bool WriteMapPicture(LayerList& layers, const CMapTransform& transform, int width, int height, const QString& path,
                     FileWriteError* error = nullptr);

// The subcommand: the image written (exit 0), a file refused or the image not
// written (message on err, exit 1), bad arguments (usage on err, exit 2).
int RunRenderCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

constexpr CliCommand kRenderCommand{"render", kRenderUsage, &RunRenderCommand, true};

}  // namespace kestrune
