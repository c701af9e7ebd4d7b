// The program's font family and its stand-ins.
#include "base/gui/AppFont.h"

#include <algorithm>

namespace kestrune {

// Arimo and Liberation Sans share Arial's widths; Nimbus Sans and Helvetica
// are close to them; DejaVu Sans is on nearly every Linux desktop.
QStringList AppFontFamilies() {
  return {QString::fromLatin1(kAppFontFamily), QStringLiteral("Arimo"),       QStringLiteral("Arial"),
          QStringLiteral("Nimbus Sans"),       QStringLiteral("Helvetica"),   QStringLiteral("DejaVu Sans"),
          QStringLiteral("sans-serif")};
}

QFont AppFont(int pixelSize, bool bold) {
  QFont font;
  font.setFamilies(AppFontFamilies());
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(std::max(1, pixelSize));
  font.setWeight(bold ? QFont::Bold : QFont::Normal);
  font.setStyleStrategy(QFont::PreferNoShaping);
  return font;
}

}  // namespace kestrune
