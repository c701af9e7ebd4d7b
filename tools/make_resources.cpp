// Draws the viewer's pictures (application icons, toolbar images, the zoom
// cursor, the splash and About pictures) with QPainter and writes them, with
// the resource file that lists them, into a folder (normally resources/):
//
//   QT_QPA_PLATFORM=offscreen build/make_resources resources [SHEET.png]
//
// With a second argument it also writes a contact sheet of the toolbar images
// at four times their size, for looking them over.
// The pictures are committed; run this again only after changing a drawing.
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <vector>

#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTextStream>

#include "app/Commands.h"
#include "base/gui/AppResources.h"

namespace {

using kestrune::CommandId;

const QColor kInk(48, 48, 48);
const QColor kFolder(232, 184, 74);
const QColor kFolderDark(190, 140, 40);
const QColor kPaper(252, 252, 248);
const QColor kRed(200, 50, 40);
const QColor kBlue(58, 110, 165);
const QColor kGreen(76, 154, 42);
const QColor kGlass(214, 232, 248);

using Drawing = std::function<void(QPainter&)>;

// A picture of logical size w x h drawn at the given scale on a clear background.
QImage Render(int w, int h, double scale, const Drawing& draw) {
  QImage image(int(std::lround(w * scale)), int(std::lround(h * scale)), QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  p.scale(scale, scale);
  draw(p);
  p.end();
  return image;
}

// A pen with round joins and caps.
QPen Pen(const QColor& c, double width = 1.0) {
  QPen pen(c, width);
  pen.setJoinStyle(Qt::RoundJoin);
  pen.setCapStyle(Qt::RoundCap);
  return pen;
}

// A sheet of paper with a folded corner.
void Page(QPainter& p, double x, double y, double w, double h) {
  QPainterPath path;
  path.moveTo(x, y);
  path.lineTo(x + w - 3, y);
  path.lineTo(x + w, y + 3);
  path.lineTo(x + w, y + h);
  path.lineTo(x, y + h);
  path.closeSubpath();
  p.setPen(Pen(kInk));
  p.setBrush(kPaper);
  p.drawPath(path);
  p.drawLine(QPointF(x + w - 3, y), QPointF(x + w - 3, y + 3));
  p.drawLine(QPointF(x + w - 3, y + 3), QPointF(x + w, y + 3));
}

// A red cross, the sign of closing.
void Cross(QPainter& p, double cx, double cy, double r) {
  p.setPen(Pen(kRed, 2.0));
  p.drawLine(QPointF(cx - r, cy - r), QPointF(cx + r, cy + r));
  p.drawLine(QPointF(cx - r, cy + r), QPointF(cx + r, cy - r));
}

// A magnifier: lens centred at (cx, cy) with radius r and a handle to the lower right.
void Magnifier(QPainter& p, double cx, double cy, double r) {
  p.setPen(Pen(kInk, 2.2));
  const double d = r * 0.7071;
  p.drawLine(QPointF(cx + d + 0.8, cy + d + 0.8), QPointF(cx + d + 5.0, cy + d + 5.0));
  p.setPen(Pen(kInk, 1.4));
  p.setBrush(kGlass);
  p.drawEllipse(QPointF(cx, cy), r, r);
}

// Open: an open folder.
void DrawOpen(QPainter& p) {
  QPainterPath back;
  back.moveTo(1, 3);
  back.lineTo(5, 3);
  back.lineTo(6.5, 4.5);
  back.lineTo(12, 4.5);
  back.lineTo(12, 13);
  back.lineTo(1, 13);
  back.closeSubpath();
  p.setPen(Pen(kInk));
  p.setBrush(kFolderDark);
  p.drawPath(back);
  QPainterPath front;
  front.moveTo(1, 13);
  front.lineTo(4, 7);
  front.lineTo(15, 7);
  front.lineTo(12, 13);
  front.closeSubpath();
  p.setBrush(kFolder);
  p.drawPath(front);
}

// Close: a page with a cross.
void DrawClose(QPainter& p) {
  Page(p, 2, 1, 10, 13);
  Cross(p, 11.5, 10.5, 2.5);
}

// Close All: two pages with a cross.
void DrawCloseAll(QPainter& p) {
  Page(p, 4.5, 0.5, 9, 11);
  Page(p, 1.5, 3, 9, 11);
  Cross(p, 11.5, 11, 2.5);
}

// Save As: a disk.
void DrawSaveAs(QPainter& p) {
  p.setPen(Pen(kInk));
  p.setBrush(kBlue);
  QPainterPath disk;
  disk.moveTo(1, 1);
  disk.lineTo(12, 1);
  disk.lineTo(14, 3);
  disk.lineTo(14, 14);
  disk.lineTo(1, 14);
  disk.closeSubpath();
  p.drawPath(disk);
  p.setBrush(kPaper);
  p.drawRect(QRectF(3.5, 1, 8, 5));
  p.setBrush(QColor(200, 200, 200));
  p.drawRect(QRectF(3.5, 9, 8, 5));
  p.setPen(Pen(kBlue, 1.2));
  p.drawLine(QPointF(9, 2.2), QPointF(9, 4.8));
}

// Print: a printer with paper.
void DrawPrint(QPainter& p) {
  Page(p, 4, 0.5, 8, 6);
  p.setPen(Pen(kInk));
  p.setBrush(QColor(170, 170, 170));
  p.drawRoundedRect(QRectF(1, 5.5, 14, 6), 1.2, 1.2);
  Page(p, 4, 9, 8, 5.5);
  p.setPen(Pen(kGreen, 1.5));
  p.drawPoint(QPointF(13, 7.5));
}

// Zoom Tool: a magnifier over a dashed box.
void DrawZoomTool(QPainter& p) {
  QPen dashed = Pen(kInk, 1.0);
  dashed.setDashPattern({1.5, 1.5});
  p.setPen(dashed);
  p.setBrush(Qt::NoBrush);
  p.drawRect(QRectF(0.5, 0.5, 9, 7));
  Magnifier(p, 8.5, 7.5, 3.5);
}

// Zoom In: a magnifier with a plus.
void DrawZoomIn(QPainter& p) {
  Magnifier(p, 6.5, 6, 5);
  p.setPen(Pen(kInk, 1.6));
  p.drawLine(QPointF(4, 6), QPointF(9, 6));
  p.drawLine(QPointF(6.5, 3.5), QPointF(6.5, 8.5));
}

// Zoom Out: a magnifier with a minus.
void DrawZoomOut(QPainter& p) {
  Magnifier(p, 6.5, 6, 5);
  p.setPen(Pen(kInk, 1.6));
  p.drawLine(QPointF(4, 6), QPointF(9, 6));
}

// Zoom All: a field with arrows to the corners.
void DrawZoomAll(QPainter& p) {
  p.setPen(Pen(kInk));
  p.setBrush(QColor(150, 200, 120));
  p.drawRect(QRectF(4.5, 4, 7, 7));
  p.setPen(Pen(kBlue, 1.4));
  const double corners[4][4] = {{4, 3.5, 0.5, 0}, {12, 3.5, 15.5, 0}, {4, 11.5, 0.5, 15}, {12, 11.5, 15.5, 15}};
  for (const auto& c : corners) {
    p.drawLine(QPointF(c[0], c[1]), QPointF(c[2], c[3]));
    const double dx = c[2] > c[0] ? -2.5 : 2.5;
    const double dy = c[3] > c[1] ? -2.5 : 2.5;
    p.drawLine(QPointF(c[2], c[3]), QPointF(c[2] + dx, c[3]));
    p.drawLine(QPointF(c[2], c[3]), QPointF(c[2], c[3] + dy));
  }
}

// Zoom Active File: a magnifier over a page.
void DrawZoomActive(QPainter& p) {
  Page(p, 1, 0.5, 9, 12);
  p.setPen(Pen(kGreen, 1.0));
  for (double y = 4; y < 11; y += 2) p.drawLine(QPointF(2.5, y), QPointF(8, y));
  Magnifier(p, 10, 8.5, 3.5);
}

// Display Settings: legend swatches.
void DrawDisplay(QPainter& p) {
  const QColor swatches[3] = {QColor(220, 60, 40), QColor(240, 200, 40), QColor(60, 160, 60)};
  for (int i = 0; i < 3; ++i) {
    p.setPen(Pen(kInk));
    p.setBrush(swatches[i]);
    p.drawRect(QRectF(1.5, 1.5 + i * 4.5, 4, 3.5));
    p.setPen(Pen(kInk, 1.2));
    p.drawLine(QPointF(7.5, 3.3 + i * 4.5), QPointF(14.5, 3.3 + i * 4.5));
  }
}

// Show Me: a funnel.
void DrawShowMe(QPainter& p) {
  QPainterPath funnel;
  funnel.moveTo(1, 1.5);
  funnel.lineTo(15, 1.5);
  funnel.lineTo(9.5, 7.5);
  funnel.lineTo(9.5, 13.5);
  funnel.lineTo(6.5, 11.5);
  funnel.lineTo(6.5, 7.5);
  funnel.closeSubpath();
  p.setPen(Pen(kInk));
  p.setBrush(kBlue.lighter(140));
  p.drawPath(funnel);
}

// Notes: a notepad.
void DrawNotes(QPainter& p) {
  p.setPen(Pen(kInk));
  p.setBrush(QColor(255, 246, 170));
  p.drawRect(QRectF(2, 2, 12, 12.5));
  p.setPen(Pen(kBlue, 0.9));
  for (double y = 6; y < 14; y += 2.2) p.drawLine(QPointF(4, y), QPointF(12, y));
  p.setPen(Pen(kInk, 1.2));
  for (double x = 4; x < 13; x += 3) p.drawLine(QPointF(x, 0.5), QPointF(x, 3.5));
}

// Layer Table: a table with a header row, ruled columns and one selected row.
void DrawLayerTable(QPainter& p) {
  p.setPen(Pen(kInk));
  p.setBrush(kPaper);
  p.drawRect(QRectF(1.5, 1.5, 13, 12.5));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(200, 200, 200));
  p.drawRect(QRectF(2, 2, 12, 3));
  p.setBrush(kBlue.lighter(150));
  p.drawRect(QRectF(2, 8.2, 12, 2.6));
  p.setPen(Pen(kInk, 0.8));
  for (double y : {5.0, 8.0, 11.0}) p.drawLine(QPointF(1.5, y), QPointF(14.5, y));
  for (double x : {6.0, 10.5}) p.drawLine(QPointF(x, 1.5), QPointF(x, 14));
}

// Summary Totals: a sigma.
void DrawTotals(QPainter& p) {
  p.setPen(Pen(kInk, 1.8));
  p.setBrush(Qt::NoBrush);
  QPainterPath sigma;
  sigma.moveTo(13, 3);
  sigma.lineTo(13, 1.5);
  sigma.lineTo(2.5, 1.5);
  sigma.lineTo(8, 7.5);
  sigma.lineTo(2.5, 13.5);
  sigma.lineTo(13, 13.5);
  sigma.lineTo(13, 12);
  p.drawPath(sigma);
}

// The viewer's icon: a field with its boundary, coloured application rows and
// a guidance line, on a rounded tile (logical size 64).
void DrawAppIcon(QPainter& p, const QColor& tile, const QColor& tileDark, bool vantrel) {
  QLinearGradient g(0, 0, 0, 64);
  g.setColorAt(0, tile);
  g.setColorAt(1, tileDark);
  p.setPen(Qt::NoPen);
  p.setBrush(g);
  p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
  QPolygonF field;
  field << QPointF(10, 14) << QPointF(50, 9) << QPointF(55, 47) << QPointF(24, 55) << QPointF(9, 40);
  p.setBrush(QColor(236, 226, 190));
  p.setPen(Pen(QColor(250, 250, 250), 2.4));
  p.drawPolygon(field);
  p.save();
  QPainterPath clip;
  clip.addPolygon(field);
  p.setClipPath(clip);
  const QColor rates[5] = {QColor(215, 48, 39), QColor(252, 141, 89), QColor(254, 224, 139),
                           QColor(145, 207, 96), QColor(26, 152, 80)};
  for (int row = 0; row < 8; ++row) {
    for (int col = 0; col < 11; ++col) {
      const double x = 8 + col * 4.6 + (row % 2) * 1.5;
      const double y = 12 + row * 5.6 + col * -0.55;
      const int band = (row + col / 3) % 5;
      p.setPen(Qt::NoPen);
      p.setBrush(rates[band]);
      p.drawEllipse(QPointF(x, y), 1.9, 1.9);
    }
  }
  p.restore();
  p.setPen(Pen(vantrel ? QColor(255, 255, 255) : QColor(30, 60, 140), 2.2));
  p.drawLine(QPointF(6, 58), QPointF(58, 6));
  if (vantrel) {
    QFont font("DejaVu Sans", 20, QFont::Bold);
    p.setFont(font);
    p.setPen(QColor(255, 255, 255));
    p.drawText(QRectF(36, 34, 26, 28), Qt::AlignCenter, "V");
  }
}

// The splash and About picture (logical size 400 x 250): a field at dusk with
// rate-coloured rows, and the program's name.
void DrawSplash(QPainter& p, bool vantrel) {
  const double w = 400, h = 250;
  QLinearGradient sky(0, 0, 0, h * 0.55);
  sky.setColorAt(0, vantrel ? QColor(24, 54, 96) : QColor(64, 120, 190));
  sky.setColorAt(1, vantrel ? QColor(120, 170, 210) : QColor(250, 214, 150));
  p.fillRect(QRectF(0, 0, w, h), sky);
  // The field in perspective: rows converging on a point above the horizon.
  const double horizon = h * 0.52;
  p.fillRect(QRectF(0, horizon, w, h - horizon), QColor(110, 86, 52));
  const QColor rates[5] = {QColor(215, 48, 39), QColor(252, 141, 89), QColor(254, 224, 139),
                           QColor(145, 207, 96), QColor(26, 152, 80)};
  const QPointF vanish(w * 0.62, horizon - 40);
  for (int i = -14; i <= 22; ++i) {
    const double xb = w * 0.62 + i * 34.0;
    for (int k = 0; k < 14; ++k) {
      const double t0 = k / 14.0, t1 = (k + 0.7) / 14.0;
      auto at = [&](double t) {
        const double f = 0.18 + 0.82 * t * t;
        return QPointF(vanish.x() + (xb - vanish.x()) * f, horizon + (h - horizon) * t * t);
      };
      const QPointF a = at(t0), b = at(t1);
      const int band = std::abs((i * 3 + k * 2) / 4) % 5;
      p.setPen(Pen(rates[band], 1.0 + 5.0 * t1));
      p.drawLine(a, b);
    }
  }
  // A soft band over the sky holds the name.
  QLinearGradient band(0, 40, 0, 120);
  band.setColorAt(0, QColor(255, 255, 255, 0));
  band.setColorAt(0.5, QColor(255, 255, 255, 150));
  band.setColorAt(1, QColor(255, 255, 255, 0));
  p.fillRect(QRectF(0, 40, w, 80), band);
  QFont title("DejaVu Sans", 26, QFont::Bold);
  title.setPixelSize(34);
  p.setFont(title);
  p.setPen(vantrel ? QColor(16, 40, 80) : QColor(30, 48, 24));
  p.drawText(QRectF(0, 52, w, 40), Qt::AlignCenter, vantrel ? "Vantrel" : "Quillmer Kestrune");
  QFont sub("DejaVu Sans");
  sub.setPixelSize(14);
  p.setFont(sub);
  p.drawText(QRectF(0, 90, w, 22), Qt::AlignCenter,
             vantrel ? "Field records, legends and totals" : "Field records on the map");
  // The icon in the corner.
  p.save();
  p.translate(12, h - 76);
  DrawAppIcon(p, vantrel ? QColor(40, 90, 160) : QColor(90, 160, 70),
              vantrel ? QColor(20, 50, 100) : QColor(50, 110, 40), vantrel);
  p.restore();
}

// The zoom cursor (32 x 32): a magnifier whose lens centre is the hot spot.
void DrawZoomCursor(QPainter& p) {
  const double cx = kestrune::kZoomCursorHotX, cy = kestrune::kZoomCursorHotY;
  p.setPen(Pen(Qt::white, 6.0));
  p.drawLine(QPointF(cx + 7, cy + 7), QPointF(cx + 16, cy + 16));
  p.setPen(Pen(Qt::black, 3.6));
  p.drawLine(QPointF(cx + 7, cy + 7), QPointF(cx + 16, cy + 16));
  p.setPen(Pen(Qt::white, 4.0));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(QPointF(cx, cy), 8.5, 8.5);
  p.setPen(Pen(Qt::black, 2.0));
  p.setBrush(QColor(255, 255, 255, 90));
  p.drawEllipse(QPointF(cx, cy), 8.5, 8.5);
  p.setPen(Pen(Qt::black, 1.0));
  p.drawLine(QPointF(cx - 2, cy), QPointF(cx + 2, cy));
  p.drawLine(QPointF(cx, cy - 2), QPointF(cx, cy + 2));
}

// The layers window's file icon (20 x 20): a small field map in green and
// yellow strips with its boundary.
void DrawFileIcon(QPainter& p) {
  QPolygonF field;
  field << QPointF(3, 4) << QPointF(16, 2.5) << QPointF(17.5, 15) << QPointF(8, 17.5) << QPointF(2.5, 13);
  p.save();
  QPainterPath clip;
  clip.addPolygon(field);
  p.setClipPath(clip);
  const QColor strips[4] = {QColor(96, 168, 48), QColor(232, 208, 64), QColor(60, 130, 40), QColor(200, 220, 80)};
  for (int i = 0; i < 6; ++i) {
    p.fillRect(QRectF(0, i * 3.5, 20, 3.5), strips[i % 4]);
  }
  p.restore();
  p.setPen(Pen(QColor(40, 80, 30), 1.2));
  p.setBrush(Qt::NoBrush);
  p.drawPolygon(field);
}

// The layers window's active mark (20 x 20): a blue tick.
void DrawActiveMark(QPainter& p) {
  QPainterPath tick;
  tick.moveTo(3.5, 10.5);
  tick.lineTo(8, 15);
  tick.lineTo(16.5, 4.5);
  p.setBrush(Qt::NoBrush);
  p.setPen(Pen(QColor(20, 60, 170), 3.2));
  p.drawPath(tick);
}

// Writes a PNG and reports a failure.
bool Save(const QImage& image, const QString& path) {
  if (!image.save(path, "PNG")) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
  }
  return true;
}

}  // namespace

// Draws every picture and writes the resource file.
int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: make_resources OUTPUT_FOLDER [SHEET.png]\n");
    return 2;
  }
  const QDir out(QString::fromLocal8Bit(argv[1]));
  for (const char* sub : {"toolbar", "icons", "bitmaps", "cursors"}) out.mkpath(sub);

  const std::map<int, Drawing> buttons = {
      {kestrune::kIdFileOpen, DrawOpen},       {kestrune::kIdFileClose, DrawClose},
      {kestrune::kIdFileCloseAll, DrawCloseAll}, {kestrune::kIdFileSaveAs, DrawSaveAs},
      {kestrune::kIdFilePrint, DrawPrint},     {kestrune::kIdZoomTool, DrawZoomTool},
      {kestrune::kIdZoomIn, DrawZoomIn},       {kestrune::kIdZoomOut, DrawZoomOut},
      {kestrune::kIdZoomAll, DrawZoomAll},     {kestrune::kIdZoomActiveFile, DrawZoomActive},
      {kestrune::kIdDisplaySettings, DrawDisplay}, {kestrune::kIdShowMe, DrawShowMe},
      {kestrune::kIdNotes, DrawNotes},         {kestrune::kIdSummaryTotals, DrawTotals},
      {kestrune::kIdLayerTable, DrawLayerTable},
  };
  QStringList files;
  bool ok = true;
  for (const auto& [id, draw] : buttons) {
    const QString base = QString("toolbar/%1").arg(id);
    ok &= Save(Render(kestrune::kToolImageWidth, kestrune::kToolImageHeight, 1.0, draw), out.filePath(base + ".png"));
    ok &= Save(Render(kestrune::kToolImageWidth, kestrune::kToolImageHeight, 2.0, draw),
               out.filePath(base + "@2x.png"));
    files << base + ".png" << base + "@2x.png";
  }
  if (argc == 3) {
    const int cell = 80;
    QImage sheet(cell * int(buttons.size()), cell, QImage::Format_ARGB32);
    sheet.fill(QColor(236, 236, 236));
    QPainter p(&sheet);
    int i = 0;
    for (const auto& [id, draw] : buttons) {
      const QImage big = Render(kestrune::kToolImageWidth, kestrune::kToolImageHeight, 4.0, draw);
      p.drawImage(i * cell + (cell - big.width()) / 2, (cell - big.height()) / 2, big);
      ++i;
    }
    p.end();
    ok &= Save(sheet, QString::fromLocal8Bit(argv[2]));
  }
  for (int size : {16, 24, 32, 48, 64, 128, 256}) {
    const double scale = size / 64.0;
    const QString standard = QString("icons/%1-%2.png").arg(kestrune::kStandardSet).arg(size);
    const QString vantrel = QString("icons/%1-%2.png").arg(kestrune::kVantrelSet).arg(size);
    ok &= Save(Render(64, 64, scale, [](QPainter& p) { DrawAppIcon(p, QColor(90, 160, 70), QColor(50, 110, 40), false); }),
               out.filePath(standard));
    ok &= Save(Render(64, 64, scale, [](QPainter& p) { DrawAppIcon(p, QColor(40, 90, 160), QColor(20, 50, 100), true); }),
               out.filePath(vantrel));
    files << standard << vantrel;
  }
  ok &= Save(Render(kestrune::kSplashWidth, kestrune::kSplashHeight, 1.0, [](QPainter& p) { DrawSplash(p, false); }),
             out.filePath(QString("bitmaps/%1.png").arg(kestrune::kSplashBitmapId)));
  ok &= Save(Render(kestrune::kSplashWidth, kestrune::kSplashHeight, 1.0, [](QPainter& p) { DrawSplash(p, true); }),
             out.filePath(QString("bitmaps/%1.png").arg(kestrune::kVantrelBitmapId)));
  files << QString("bitmaps/%1.png").arg(kestrune::kSplashBitmapId)
        << QString("bitmaps/%1.png").arg(kestrune::kVantrelBitmapId);
  for (const auto& [id, draw] : std::map<int, Drawing>{{kestrune::kFileIconBitmapId, DrawFileIcon},
                                                        {kestrune::kActiveMarkBitmapId, DrawActiveMark}}) {
    const QString name = QString("bitmaps/%1.png").arg(id);
    ok &= Save(Render(20, 20, 1.0, draw), out.filePath(name));
    files << name;
  }
  ok &= Save(Render(32, 32, 1.0, DrawZoomCursor), out.filePath(QString("cursors/%1.png").arg(kestrune::kZoomCursorId)));
  files << QString("cursors/%1.png").arg(kestrune::kZoomCursorId);

  QFile qrc(out.filePath("kestrune.qrc"));
  if (!qrc.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(qrc.fileName()));
    return 1;
  }
  QTextStream qs(&qrc);
  qs << "<!DOCTYPE RCC>\n<!-- Written by tools/make_resources.cpp; the pictures are drawn there. -->\n"
     << "<RCC version=\"1.0\">\n  <qresource prefix=\"/\">\n";
  files.sort();
  for (const QString& f : files) qs << "    <file>" << f << "</file>\n";
  qs << "  </qresource>\n</RCC>\n";
  return ok ? 0 : 1;
}
