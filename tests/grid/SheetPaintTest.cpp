// Painting of the grid's panes and cells, recorded on a canvas that logs calls.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "grid/SheetModel.h"

namespace kestrune {
namespace {

struct Call {
  std::string op;
  int a = 0, b = 0, c = 0, d = 0;
  Color colour = 0;
  QString text;
  uint32_t format = 0;
};

// A canvas that records every call instead of drawing.
class RecordingCanvas : public SheetCanvas {
 public:
  void FillRect(int l, int t, int r, int b, Color colour) override {
    calls.push_back({"fill", l, t, r, b, colour, {}, 0});
  }
  void FrameRect(int l, int t, int r, int b, Color colour) override {
    calls.push_back({"frame", l, t, r, b, colour, {}, 0});
  }
  void Line(int x0, int y0, int x1, int y1, Color colour) override {
    calls.push_back({"line", x0, y0, x1, y1, colour, {}, 0});
  }
  void Text(const QString& text, int l, int t, int r, int b, uint32_t format) override {
    calls.push_back({"text", l, t, r, b, 0, text, format});
  }
  bool HasBitmap(int32_t set, int index) const override { return set == 3 && index <= 1; }
  void Bitmap(int32_t set, int index, int x, int y, int w, int h) override {
    calls.push_back({"bitmap", x, y, w, h, static_cast<Color>(set * 10 + index), {}, 0});
  }
  void SelectFont(int32_t slot) override { calls.push_back({"font", slot, 0, 0, 0, 0, {}, 0}); }
  void SetTextColour(Color) override {}
  void SetClip(int l, int t, int r, int b) override {
    calls.push_back({"clip", l, t, r, b, 0, {}, 0});
  }
  void RestoreClip() override { calls.push_back({"restore", 0, 0, 0, 0, 0, {}, 0}); }

  // The recorded calls of one kind.
  std::vector<Call> Of(const std::string& op) const {
    std::vector<Call> out;
    for (const Call& c : calls) {
      if (c.op == op) out.push_back(c);
    }
    return out;
  }
  // Whether exactly this fill was recorded.
  bool HasFill(int l, int t, int r, int b, Color colour) const {
    for (const Call& c : calls) {
      if (c.op == "fill" && c.a == l && c.b == t && c.c == r && c.d == b && c.colour == colour) {
        return true;
      }
    }
    return false;
  }
  std::vector<Call> calls;
};

constexpr Color kFace = 0xF0F0F0;

TEST(SheetPaint, TheStripRightOfTheLastColumnIsButtonFace) {
  SheetModel m;
  ASSERT_TRUE(m.AllocateCells(2, 2));
  m.SetColumnWidth(0, 100);
  m.SetColumnWidth(1, 65);
  m.SetScrollBarMetrics(16, 16);
  m.SetVertBarShown(false);
  m.SetHorzBarShown(false);
  m.SetClientSize(200, 60);
  RecordingCanvas canvas;
  m.Paint(canvas, {0, 0, 200, 60}, kFace);
  EXPECT_TRUE(canvas.HasFill(165, 0, 200, 40, kFace));  // right of the cells
  EXPECT_TRUE(canvas.HasFill(0, 40, 200, 60, kFace));   // below the last row
  // The middle pane is clipped one pixel above its top.
  const auto clips = canvas.Of("clip");
  ASSERT_EQ(clips.size(), 1u);
  EXPECT_EQ(clips[0].a, 0);
  EXPECT_EQ(clips[0].b, -1);
  EXPECT_EQ(clips[0].c, 200);
  EXPECT_EQ(clips[0].d, 60);
  EXPECT_EQ(canvas.calls.back().op, "restore");
}

TEST(SheetPaint, CellsFillTheirOwnPixelsAndDrawGridLines) {
  SheetModel m;
  ASSERT_TRUE(m.AllocateCells(1, 1));
  m.SetColumnWidth(0, 50);
  m.gridLineColour = 0x123456;
  RecordingCanvas canvas;
  m.Cell(0, 0)->Draw(canvas, 10, 20, true, m.gridLineColour);
  EXPECT_TRUE(canvas.HasFill(10, 20, 60, 40, 0xFFFFFF));
  const auto lines = canvas.Of("line");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].a, 59);  // right line inside the cell
  EXPECT_EQ(lines[0].b, 20);
  EXPECT_EQ(lines[0].c, 59);
  EXPECT_EQ(lines[0].d, 40);
  EXPECT_EQ(lines[1].b, 39);  // bottom line
  EXPECT_EQ(lines[1].colour, 0x123456u);
  canvas.calls.clear();
  m.Cell(0, 0)->Draw(canvas, 10, 20, false, 0);
  EXPECT_TRUE(canvas.Of("line").empty());
}

TEST(SheetPaint, ABoxedCellIsOnePixelLargerUpAndLeftWithoutGridLines) {
  CSheetCell cell;
  cell.borders = kBorderBox;
  cell.backColour = 0x00FF00;
  RecordingCanvas canvas;
  cell.Draw(canvas, 10, 20, true, 0xC0C0C0);
  EXPECT_TRUE(canvas.HasFill(9, 19, 50, 40, 0x00FF00));
  const auto frames = canvas.Of("frame");
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].a, 9);
  EXPECT_EQ(frames[0].b, 19);
  EXPECT_EQ(frames[0].colour, kBlack);
  EXPECT_TRUE(canvas.Of("line").empty());
}

TEST(SheetPaint, SingleBordersAreBlackLinesOnTheirEdges) {
  CSheetCell cell;
  cell.borders = kBorderTop | kBorderLeft;
  RecordingCanvas canvas;
  cell.Draw(canvas, 10, 20, false, 0);
  const auto lines = canvas.Of("line");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].b, 19);  // top: one pixel above the cell
  EXPECT_EQ(lines[0].d, 19);
  EXPECT_EQ(lines[1].a, 9);   // left: one pixel left of the cell
  EXPECT_EQ(lines[1].c, 9);
  for (const Call& c : lines) EXPECT_EQ(c.colour, kBlack);
}

TEST(SheetPaint, TextGoesInsideTheMarginsWithTheCellsFormat) {
  CSheetCell cell;
  cell.width = 60;
  cell.value = 0.5;
  cell.textFormat = kDtRight;
  cell.font = 2;
  RecordingCanvas canvas;
  cell.Draw(canvas, 0, 0, true, 0);
  const auto texts = canvas.Of("text");
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].text, "0.50");
  EXPECT_EQ(texts[0].a, 2);
  EXPECT_EQ(texts[0].c, 58);
  EXPECT_EQ(texts[0].format, kDtRight | kDtSingleLine);
  const auto fonts = canvas.Of("font");
  ASSERT_EQ(fonts.size(), 2u);  // selected, then put back
  EXPECT_EQ(fonts[0].a, 2);
  EXPECT_EQ(fonts[1].a, 0);

  canvas.calls.clear();
  cell.clipText = false;
  cell.blankZero = true;
  cell.value = 0.0;
  cell.Draw(canvas, 0, 0, true, 0);
  EXPECT_TRUE(canvas.Of("text").empty());
  cell.value = 1e40;  // longer than a cell draws
  cell.Draw(canvas, 0, 0, true, 0);
  ASSERT_EQ(canvas.Of("text").size(), 1u);
  EXPECT_EQ(canvas.Of("text")[0].text.size(), kMaxDrawnText);
  EXPECT_EQ(canvas.Of("text")[0].format, kDtRight | kDtSingleLine | kDtNoClip);
}

TEST(SheetPaint, ButtonCellsShowTheBitmapOfTheirPressedState) {
  CSheetCell cell;
  cell.SetKind(kCellButton, 0);
  cell.text = "never drawn";
  cell.bitmaps = 3;
  RecordingCanvas canvas;
  cell.Draw(canvas, 5, 6, true, 0);
  cell.pressed = 1;
  cell.Draw(canvas, 5, 6, true, 0);
  const auto bitmaps = canvas.Of("bitmap");
  ASSERT_EQ(bitmaps.size(), 2u);
  EXPECT_EQ(bitmaps[0].colour, 30u);
  EXPECT_EQ(bitmaps[1].colour, 31u);
  EXPECT_EQ(bitmaps[1].a, 5);
  EXPECT_EQ(bitmaps[1].c, 40);
  EXPECT_TRUE(canvas.Of("text").empty());
  canvas.calls.clear();
  cell.bitmaps = 4;  // no such images: only the back colour
  cell.Draw(canvas, 5, 6, true, 0);
  EXPECT_TRUE(canvas.Of("bitmap").empty());
}

TEST(SheetPaint, OnlyTheVisibleCellsOfALargeTableArePainted) {
  SheetModel m;
  ASSERT_TRUE(m.AllocateCells(20000, 3));
  m.SetScrollBarMetrics(16, 16);
  m.SetHorzBarShown(false);
  m.SetClientSize(200, 100);
  m.SetVertScrollRange(0, 19990);
  m.VScroll(ScrollCode::ThumbPosition, 12345);
  for (int r = 12345; r < 12351; ++r) m.SetCellAttr(r, 0, kAttrBackColour, 0x0000FF);
  RecordingCanvas canvas;
  m.Paint(canvas, {0, 0, 200, 100}, kFace);
  int cellFills = 0;
  for (const Call& c : canvas.Of("fill")) cellFills += c.colour == 0x0000FF;
  // Rows 12345..12349 fill the 100 pixels and row 12350 starts on the bottom
  // edge (drawn, clipped); the pane stops there.
  EXPECT_EQ(cellFills, 6);
  EXPECT_EQ(canvas.Of("fill").size(), 6u * 3u + 2u);
}

TEST(SheetPaint, PanesOutsideTheRepaintAreaAreSkipped) {
  SheetModel m;
  ASSERT_TRUE(m.AllocateCells(5, 2));
  m.SetScrollBarMetrics(16, 16);
  m.SetClientSize(200, 200);
  m.SetFixedCells(0, 0, 1, 0);
  RecordingCanvas canvas;
  m.Paint(canvas, {0, 100, 200, 150}, kFace);  // only the scrolling rows
  const auto clips = canvas.Of("clip");
  ASSERT_EQ(clips.size(), 1u);
  EXPECT_EQ(clips[0].b, 19);  // the middle pane, starting under the frozen row
  canvas.calls.clear();
  m.Paint(canvas, {0, 0, 200, 10}, kFace);
  EXPECT_EQ(canvas.Of("clip").size(), 1u);  // the frozen row only
  canvas.calls.clear();
  m.Paint(canvas, {0, 0, 200, 20}, kFace);
  EXPECT_EQ(canvas.Of("clip").size(), 2u);  // row 19 is the pixel the middle pane owns above it
}

TEST(SheetPaint, AnUnallocatedGridPaintsNoPane) {
  SheetModel m;
  m.SetClientSize(100, 100);
  RecordingCanvas canvas;
  m.Paint(canvas, {0, 0, 100, 100}, kFace);
  ASSERT_EQ(canvas.calls.size(), 1u);
  EXPECT_EQ(canvas.calls[0].op, "restore");
}

}  // namespace
}  // namespace kestrune
