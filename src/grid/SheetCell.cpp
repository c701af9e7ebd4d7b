#include "grid/SheetCell.h"

#include <algorithm>
#include <cmath>

#include "grid/SheetFormat.h"

namespace kestrune {

// Cuts a text to what a buffer of `capacity` characters holds.
QString FitToCapacity(const QString& text, int capacity) {
  const int keep = std::max(0, capacity - 1);
  if (text.size() <= keep) return text;
  int cut = keep;
  // Half of a surrogate pair is not a character; drop it with its partner.
  if (cut > 0 && text.at(cut - 1).isHighSurrogate()) --cut;
  return text.left(cut);
}

// Switches the kind and makes or drops the text buffer.
void CSheetCell::SetKind(int32_t newKind, int32_t capacity) {
  if (newKind < kCellText || newKind > kCellButton) return;
  kind = newKind;
  if (newKind == kCellNumber) {
    text.clear();
    bufferSize = 0;
    textCapacity = 0;
    return;
  }
  const int32_t size = capacity <= 0 ? kDefaultTextCapacity : std::min(capacity, kMaxTextCapacity);
  bufferSize = size;
  textCapacity = size;
  text = FitToCapacity(text, size);
}

// Records a smaller text limit; growing needs a new buffer (SetKind).
void CSheetCell::SetCapacityLimit(int32_t capacity) {
  textCapacity = std::clamp(capacity, 0, bufferSize);
}

// Stores a text into a text-kind cell.
bool CSheetCell::StoreText(const QString& newText, bool* changed) {
  if (changed) *changed = false;
  if (kind == kCellNumber) return false;
  const QString fitted = FitToCapacity(newText, textCapacity);
  if (fitted != text) {
    modified = true;
    text = fitted;
    if (changed) *changed = true;
  }
  return true;
}

// Stores a number into a Number cell, cut to its decimals.
bool CSheetCell::StoreNumber(double newValue, bool* changed) {
  if (changed) *changed = false;
  // A NaN or infinity would be shown as text and written to a table as garbage.
  if (!std::isfinite(newValue)) return false;
  if (kind != kCellNumber) return true;
  const double truncated = TruncateToDecimals(newValue, decimals);
  if (truncated != value) {
    modified = true;
    value = truncated;
    if (changed) *changed = true;
  }
  return true;
}

// The text a cell shows: formatted number or stored text, cut to the size.
QString CSheetCell::DisplayText(int size) const {
  if (size <= 0) return QString();
  QString shown;
  if (kind == kCellNumber) {
    if (!(blankZero && value == 0.0)) shown = FormatFixed(value, decimals);
  } else {
    shown = text;
  }
  return FitToCapacity(shown, size);
}

// The text an edit editor is loaded with.
QString CSheetCell::EditText() const {
  if (kind == kCellNumber) return FormatFixed(value, decimals);
  return text;
}

// Paints background, content, grid lines and borders of the cell.
void CSheetCell::Draw(SheetCanvas& canvas, int x, int y, bool drawGridLines,
                      Color gridLineColour) const {
  const int right = x + width;
  const int bottom = y + height;
  if (borders == kBorderBox) {
    // The framed box covers the neighbours' grid lines above and to the left.
    canvas.FillRect(x - 1, y - 1, right, bottom, backColour);
    canvas.FrameRect(x - 1, y - 1, right, bottom, kBlack);
  } else {
    canvas.FillRect(x, y, right, bottom, backColour);
  }

  if (font != 0) canvas.SelectFont(font);
  canvas.SetTextColour(textColour);
  const uint32_t format = textFormat | kDtSingleLine | (clipText ? 0u : kDtNoClip);
  if (kind == kCellButton) {
    const int index = std::clamp(pressed, 0, 2);
    if (canvas.HasBitmap(bitmaps, index)) canvas.Bitmap(bitmaps, index, x, y, width, height);
  } else {
    const QString shown = DisplayText(kMaxDrawnText + 1);
    if (!shown.isEmpty()) canvas.Text(shown, x + 2, y, right - 2, bottom, format);
  }
  if (font != 0) canvas.SelectFont(0);
  canvas.SetTextColour(kBlack);

  if (drawGridLines && borders != kBorderBox) {
    canvas.Line(right - 1, y, right - 1, bottom, gridLineColour);
    canvas.Line(x, bottom - 1, right, bottom - 1, gridLineColour);
  }
  if (borders != 0 && borders != kBorderBox) {
    if (borders & kBorderTop) canvas.Line(x, y - 1, right, y - 1, kBlack);
    if (borders & kBorderRight) canvas.Line(right - 1, y, right - 1, bottom, kBlack);
    if (borders & kBorderBottom) canvas.Line(x, bottom - 1, right, bottom - 1, kBlack);
    if (borders & kBorderLeft) canvas.Line(x - 1, y, x - 1, bottom, kBlack);
  }
}

}  // namespace kestrune
