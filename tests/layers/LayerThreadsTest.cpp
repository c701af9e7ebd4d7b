// A layer read in a worker thread while this thread works on other layers:
// the point pool, the colour palette and the side table they share must give
// each layer exactly what a load alone gives it.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "layers/Layer.h"
#include "layers/LayerTestFiles.h"

namespace kestrune {
namespace {

using test::WritePointSet;
using test::XY;

// A log of n points whose values take many colours.
std::string WriteLog(const test::TempDir& dir, const std::string& name, int n, double offset) {
  std::vector<XY> points;
  std::vector<double> values;
  for (int i = 0; i < n; ++i) {
    points.push_back({-93.6 + (i % 300) * 1e-4, 42.0 + (i / 300) * 1e-4});
    values.push_back(offset + i % 997);
  }
  return WritePointSet(dir, name, points, values);
}

// Every record's number, value and colour, in list order.
struct RecordView {
  int number;
  double value;
  Color color;
  bool operator==(const RecordView& o) const { return number == o.number && value == o.value && color == o.color; }
};
std::vector<RecordView> Views(const Layer& layer) {
  std::vector<RecordView> views;
  for (const Shape* s : layer.Records()) views.push_back({s->GetRecordNumber(), s->GetValue(), s->GetColor()});
  return views;
}

bool LoadColoured(Layer& layer, const std::string& path) {
  if (!test::OpenAndLoad(layer, path)) return false;
  layer.SetThemeField(1);
  return true;
}

TEST(LayerThreads, ALoadInAWorkerMeetsCloseAndRecolourHereWithoutHarm) {
  test::TempDir dir;
  constexpr int kCount = 60000;
  const std::string logPath = WriteLog(dir, "log", kCount, 0.0);
  const std::string otherPath = WriteLog(dir, "other", kCount, 5000.0);

  // What a load alone gives.
  std::vector<RecordView> alone;
  {
    Layer layer;
    ASSERT_TRUE(LoadColoured(layer, logPath));
    alone = Views(layer);
  }
  ASSERT_EQ(alone.size(), static_cast<size_t>(kCount));

  for (int round = 0; round < 8; ++round) {
    SCOPED_TRACE(round);
    // Layers of this thread: one to close (its pool slots come free) and one
    // to recolour (new colours enter the palette) while the worker loads.
    auto doomed = std::make_unique<Layer>();
    ASSERT_TRUE(LoadColoured(*doomed, otherPath));
    Layer kept;
    ASSERT_TRUE(LoadColoured(kept, otherPath));
    const std::vector<RecordView> keptBefore = Views(kept);

    Layer loaded;
    std::atomic<bool> ok{false};
    std::thread worker([&] { ok = LoadColoured(loaded, logPath); });
    doomed.reset();
    for (int i = 0; i < 5; ++i) {
      Legend legend;
      legend.BuildAutomatic(7000.0 + i * 333.0, 5000.0 - i * 17.0);
      kept.SetLegend(legend);
      kept.ApplyColors();
    }
    worker.join();
    ASSERT_TRUE(ok);
    EXPECT_EQ(Views(loaded), alone) << "the worker's layer is what a load alone gives";
    for (const Shape* s : loaded.Records()) ASSERT_EQ(s->GetOwner(), &loaded);
    // This thread's layer took its last legend's colours.
    kept.SetLegend(Legend());
    kept.ComputeValues();
    kept.ApplyColors();
    EXPECT_EQ(Views(kept), keptBefore);
  }
}

}  // namespace
}  // namespace kestrune
