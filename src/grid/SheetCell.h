// One cell of the spreadsheet grid: its kind, look, value and text, the rules
// for storing into it, and how it draws itself on a grid canvas.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <QString>

#include "geo/MapPoint.h"

namespace kestrune {

// Cell kinds, by the numbers that SetCellAttr and the dialogs use.
enum CellKind : int32_t {
  kCellText = 0,
  kCellNumber = 1,
  kCellDropList = 2,
  kCellDropCombo = 3,
  kCellButton = 4,
};

// Attribute numbers of SetCellAttr.
enum CellAttribute : int32_t {
  kAttrKind = 0,          // value = kind, extra = text capacity
  kAttrFont = 1,          // value = font slot of the grid (0 = the grid's own font)
  kAttrTextFormat = 2,
  kAttrBorders = 3,
  kAttrDecimals = 4,
  kAttrTextCapacity = 5,  // limit only, never above the size of the existing buffer
  kAttrWidth = 6,
  kAttrHeight = 7,
  kAttrLocked = 8,
  kAttrBackColour = 9,
  kAttrItemData = 10,
  kAttrStoredValue = 11,
  kAttrBlankZero = 12,
  kAttrChoices = 13,      // through the generic form only 0 (clear) is meaningful
  kAttrModified = 14,
  kAttrSkipData = 15,
  kAttrBitmaps = 16,      // value = bitmap-set slot of the grid (0 = none)
  kAttrDropHeight = 18,
  kAttrTextColour = 19,
  kAttrFlag20 = 20,
  kAttrFlag21 = 21,
  kAttrFlag22 = 22,
  kAttrClipText = 23,
};

// Text-drawing flags of the cells, as bits: horizontal alignment in the low two,
// then vertical centring, bottom alignment, single line and no clipping.
constexpr uint32_t kDtLeft = 0x0;
constexpr uint32_t kDtCenter = 0x1;
constexpr uint32_t kDtRight = 0x2;
constexpr uint32_t kDtVCenter = 0x4;
constexpr uint32_t kDtBottom = 0x8;
constexpr uint32_t kDtSingleLine = 0x20;
constexpr uint32_t kDtNoClip = 0x100;

// Border bits; all four together draw a framed box.
constexpr uint32_t kBorderTop = 1;
constexpr uint32_t kBorderBottom = 2;
constexpr uint32_t kBorderLeft = 4;
constexpr uint32_t kBorderRight = 8;
constexpr uint32_t kBorderBox = 15;

// "No value" of itemData, skipData and choice data.
constexpr uint32_t kNoItemData = 0x80000000u;
// GetCellBackColour of a cell that does not exist (-1 as a 32-bit colour).
constexpr Color kNoColour = 0xFFFFFFFFu;
constexpr Color kWhite = 0xFFFFFF;
constexpr Color kBlack = 0x000000;

constexpr int32_t kDefaultCellWidth = 40;
constexpr int32_t kDefaultCellHeight = 20;
constexpr int32_t kDefaultDecimals = 2;
constexpr int32_t kDefaultTextCapacity = 64;
constexpr int32_t kDefaultDropHeight = 100;
// Caps that keep sizes and pixel sums far from integer overflow.
constexpr int32_t kMaxTextCapacity = 32768;
constexpr int32_t kMaxCellExtent = 32767;
// Longest display text a cell draws.
constexpr int kMaxDrawnText = 30;

// One entry of a list cell: its text and the caller's value.
struct SheetChoice {
  QString text;
  uint32_t data = kNoItemData;
  friend bool operator==(const SheetChoice& a, const SheetChoice& b) {
    return a.text == b.text && a.data == b.data;
  }
};
using SheetChoiceList = std::vector<SheetChoice>;

// The drawing surface of the grid; the GUI implements it over QPainter.
// Rectangles are pixel ranges [left, right) x [top, bottom).
class SheetCanvas {
 public:
  virtual ~SheetCanvas() = default;
  virtual void FillRect(int left, int top, int right, int bottom, Color colour) = 0;
  // A one-pixel outline on the edge pixels of the rectangle.
  virtual void FrameRect(int left, int top, int right, int bottom, Color colour) = 0;
  // A one-pixel horizontal or vertical line; the end point is not drawn.
  virtual void Line(int x0, int y0, int x1, int y1, Color colour) = 0;
  // Single-line text over the existing background, placed by the kDt* flags.
  virtual void Text(const QString& text, int left, int top, int right, int bottom,
                    uint32_t format) = 0;
  // Whether the bitmap set holds an image at the index (0 up, 1 down, 2 spare).
  virtual bool HasBitmap(int32_t bitmapSet, int index) const = 0;
  // Copies the top-left width x height of the image to (x, y), unscaled.
  virtual void Bitmap(int32_t bitmapSet, int index, int x, int y, int width, int height) = 0;
  virtual void SelectFont(int32_t fontSlot) = 0;  // 0: the grid's own font
  virtual void SetTextColour(Color colour) = 0;
  // Limits drawing to the rectangle within the area being repainted.
  virtual void SetClip(int left, int top, int right, int bottom) = 0;
  // Back to the whole area being repainted.
  virtual void RestoreClip() = 0;
};

class CSheetCell {
 public:
  CSheetCell() = default;
  CSheetCell(const CSheetCell&) = default;
  CSheetCell& operator=(const CSheetCell&) = default;
  virtual ~CSheetCell() = default;

  // Changes the kind: Number drops the text buffer; other kinds get a buffer of
  // `capacity` characters (64 when not positive) keeping what fits of the text.
  // Kinds outside 0..4 are ignored.
  void SetKind(int32_t newKind, int32_t capacity);
  // Sets the recorded text limit, never above the existing buffer.
  void SetCapacityLimit(int32_t capacity);
  int32_t BufferSize() const { return bufferSize; }

  // Stores a text (refused, false, for Number cells); at most textCapacity - 1
  // characters are kept. changed tells whether the stored text differs.
  bool StoreText(const QString& newText, bool* changed);
  // Stores a number truncated to the cell's decimals (kept only by Number cells;
  // non-finite values are refused). changed tells whether the value differs.
  bool StoreNumber(double newValue, bool* changed);

  // The text the cell shows, at most size - 1 characters.
  QString DisplayText(int size) const;
  // The text an edit editor starts with: numbers without blankZero.
  QString EditText() const;

  // Paints the cell with its top-left corner at (x, y).
  virtual void Draw(SheetCanvas& canvas, int x, int y, bool drawGridLines,
                    Color gridLineColour) const;

  int32_t kind = kCellNumber;
  int32_t font = 0;                  // font slot of the grid; 0 = none
  int32_t bitmaps = 0;               // bitmap-set slot of the grid; 0 = none
  int32_t pressed = 0;               // Button cells: 0 up, 1 down
  uint32_t textFormat = 0;
  bool clipText = true;
  uint32_t borders = 0;
  int32_t decimals = kDefaultDecimals;
  int32_t textCapacity = 0;
  int32_t width = kDefaultCellWidth;
  int32_t height = kDefaultCellHeight;
  bool locked = false;
  Color backColour = kWhite;
  Color textColour = kBlack;
  uint32_t itemData = kNoItemData;
  bool blankZero = false;
  bool modified = false;
  uint32_t skipData = kNoItemData;
  std::shared_ptr<const SheetChoiceList> choices;
  int32_t dropHeight = kDefaultDropHeight;
  QString text;
  double value = 0.0;
  // Stored for callers, unused by the grid itself.
  uint32_t storedValue = 0;
  bool flag20 = true;
  uint32_t flag21 = 1;
  bool flag22 = true;

 private:
  int32_t bufferSize = 0;
};

// The characters of text that a buffer of `capacity` characters (terminator
// included) holds, never splitting a surrogate pair.
QString FitToCapacity(const QString& text, int capacity);

}  // namespace kestrune
