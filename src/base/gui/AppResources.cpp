#include "base/gui/AppResources.h"

#include <QFile>
#include <QString>

#include "base/ResourceIds.h"

// Q_INIT_RESOURCE names a function outside every namespace.
static void InitKestruneResources() { Q_INIT_RESOURCE(kestrune); }

namespace kestrune {

// Registers the pictures once per process.
void EnsureAppResources() {
  static const bool done = (InitKestruneResources(), true);
  (void)done;
}

// The application icon of a set in all its sizes.
QIcon AppIcon(int setId) {
  EnsureAppResources();
  QIcon icon;
  if (setId != kStandardSet && setId != kVantrelSet) return icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256}) {
    const QString path = QString(":/icons/%1-%2.png").arg(setId).arg(size);
    if (QFile::exists(path)) icon.addFile(path, QSize(size, size));
  }
  return icon;
}

// The toolbar picture of a command.
QIcon CommandIcon(int commandId) {
  EnsureAppResources();
  const QString path = QString(":/toolbar/%1.png").arg(commandId);
  // QIcon picks up "@2x" beside the file by itself.
  return QFile::exists(path) ? QIcon(path) : QIcon();
}

// A splash or About picture.
QPixmap AppBitmap(int bitmapId) {
  EnsureAppResources();
  if (bitmapId != kSplashBitmapId && bitmapId != kVantrelBitmapId && bitmapId != kFileIconBitmapId &&
      bitmapId != kActiveMarkBitmapId) {
    return QPixmap();
  }
  return QPixmap(QString(":/bitmaps/%1.png").arg(bitmapId));
}

// The zoom tool's cursor.
QCursor ZoomCursor() {
  EnsureAppResources();
  const QPixmap picture(QString(":/cursors/%1.png").arg(kZoomCursorId));
  // Without the picture the cross still tells the zoom tool from the arrow.
  if (picture.isNull()) return QCursor(Qt::CrossCursor);
  return QCursor(picture, kZoomCursorHotX, kZoomCursorHotY);
}

}  // namespace kestrune
