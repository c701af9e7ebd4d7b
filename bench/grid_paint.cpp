// Cost of painting the grid's cells: it should follow the cells on view, not
// the size of the table, and of formatting the numbers the cells show.
#include <benchmark/benchmark.h>

#include "grid/SheetFormat.h"
#include "grid/SheetModel.h"

namespace {

using kestrune::Color;

// A canvas that only counts what it is asked to draw.
class CountingCanvas : public kestrune::SheetCanvas {
 public:
  void FillRect(int, int, int, int, Color) override { ++calls; }
  void FrameRect(int, int, int, int, Color) override { ++calls; }
  void Line(int, int, int, int, Color) override { ++calls; }
  void Text(const QString& text, int, int, int, int, uint32_t) override { calls += text.size(); }
  bool HasBitmap(int32_t, int) const override { return false; }
  void Bitmap(int32_t, int, int, int, int, int) override {}
  void SelectFont(int32_t) override {}
  void SetTextColour(Color) override {}
  void SetClip(int, int, int, int) override {}
  void RestoreClip() override {}
  long long calls = 0;
};

// Paints a 300 x 400 view scrolled to the middle of a table of N rows.
void BM_PaintVisibleCells(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  kestrune::SheetModel model;
  model.AllocateCells(rows, 3);
  model.SetClientSize(300, 400);
  model.SetVertScrollRange(0, rows - 1);
  model.VScroll(kestrune::ScrollCode::ThumbPosition, rows / 2);
  for (int r = 0; r < rows; ++r) model.SetNumber(r, 1, r * 0.25);
  CountingCanvas canvas;
  for (auto _ : state) {
    model.Paint(canvas, {0, 0, 300, 400}, 0xF0F0F0);
    benchmark::DoNotOptimize(canvas.calls);
  }
}
BENCHMARK(BM_PaintVisibleCells)->Arg(100)->Arg(10000)->Arg(100000);

// Formats and truncates the numbers a Number cell stores and shows.
void BM_NumberStoreAndShow(benchmark::State& state) {
  double v = 1.15;
  for (auto _ : state) {
    const double t = kestrune::TruncateToDecimals(v, 2);
    benchmark::DoNotOptimize(kestrune::FormatFixed(t, 2));
    v += 0.37;
  }
}
BENCHMARK(BM_NumberStoreAndShow);

}  // namespace

BENCHMARK_MAIN();
