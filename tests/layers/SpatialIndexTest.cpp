// The spatial index, by blocks and by the grid, against a look at every
// record: a query marks every point within its rectangle and every record
// outside the grid, marks as sure only points inside the narrowed rectangle
// (never a record outside the grid), keeps every mark within the words it
// reports, and a click's positions come sorted, once each.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include <cstdlib>
#include <string>

#include "layers/Layer.h"
#include "layers/SpatialIndex.h"
#include "shapes/RecordList.h"
#include "shapes/Shape.h"
#include "support/TestSupport.h"

namespace kestrune {
namespace {

enum class Order { Passes, Shuffled };

struct Records {
  RecordList list;
  std::vector<std::unique_ptr<Shape>> owned;
  ~Records() { list.Clear(); }
};

// count records: points along east-west passes (or the same shuffled), with
// a record outside the grid (a point without a position, or a line) now and
// then when others is set.
void Fill(Records& r, size_t count, Order order, bool others) {
  std::vector<MapPoint> points;
  const int32_t perPass = 300;
  for (size_t i = 0; i < count; ++i) {
    const int32_t pass = static_cast<int32_t>(i / perPass), along = static_cast<int32_t>(i % perPass);
    const int32_t x = 900000000 + ((pass % 2) ? (perPass - along) : along) * 40;
    points.push_back({x, 800000000 + pass * 400 + static_cast<int32_t>(i % 7)});
  }
  if (order == Order::Shuffled) std::shuffle(points.begin(), points.end(), std::mt19937(7));
  for (size_t i = 0; i < count; ++i) {
    const int number = static_cast<int>(i + 1);
    if (others && i % 97 == 50) {
      auto line = std::make_unique<LineShape>(number);
      const MapPoint pts[] = {points[i], {points[i].x + 500, points[i].y + 300}};
      line->AddPoints(pts, 2);
      r.list.Append(line.get());
      r.owned.push_back(std::move(line));
      continue;
    }
    auto point = std::make_unique<PointShape>(number);
    if (!(others && i % 131 == 3)) point->SetPoint(points[i]);
    r.list.Append(point.get());
    r.owned.push_back(std::move(point));
  }
}

bool IsSet(const SpatialIndex::Bits& bits, size_t position) {
  return position / 64 < bits.size() && ((bits[position / 64] >> (position % 64)) & 1) != 0;
}

class SpatialIndexLayouts : public ::testing::Test {
 protected:
  void TearDown() override { SpatialIndex::SetLayout(0); }
};

TEST_F(SpatialIndexLayouts, QueriesMarkWhatALookAtEveryRecordFinds) {
  struct Case {
    size_t count;
    Order order;
    bool others;
  };
  // Block and group edges: one below and above 64 and 4096 records.
  const Case cases[] = {{1, Order::Passes, false},   {63, Order::Passes, true},    {65, Order::Passes, false},
                        {4095, Order::Passes, true}, {4097, Order::Passes, true},  {9000, Order::Shuffled, true},
                        {20000, Order::Passes, true}};
  for (const Case& c : cases) {
    Records r;
    Fill(r, c.count, c.order, c.others);
    std::vector<const Shape*> byPosition;
    for (Shape* s : r.list) byPosition.push_back(s);
    for (int layout : {1, 2}) {
      SCOPED_TRACE(testing::Message() << c.count << " records, layout " << layout);
      SpatialIndex::SetLayout(layout);
      SpatialIndex index;
      index.Build(r.list);
      ASSERT_EQ(index.size(), c.count);
      EXPECT_EQ(index.UsesBlocks(), layout == 1);
      for (size_t p = 0; p < c.count; ++p) ASSERT_EQ(index.At(p), byPosition[p]);
      std::mt19937 rng(static_cast<unsigned>(c.count) + static_cast<unsigned>(layout));
      std::uniform_int_distribution<int32_t> x(899990000, 900013000), y(799990000, 800000000 + 30000);
      std::uniform_int_distribution<int32_t> side(0, 9000);
      SpatialIndex::Bits bits, sure;
      for (int q = 0; q < 60; ++q) {
        const MapRect rect{x(rng), y(rng), 0, 0};
        const MapRect view{rect.left, rect.top, rect.left + side(rng), rect.top + side(rng)};
        const int64_t margin = q % 3 * 150, sureMargin = q % 2 * 200;
        size_t low = 0, high = 0, marked = 0;
        index.MarkSparse(view, margin, bits, sure, sureMargin, low, high, &marked);
        std::vector<uint32_t> clicked;
        index.Collect(view, margin, clicked);
        EXPECT_TRUE(std::is_sorted(clicked.begin(), clicked.end()));
        EXPECT_EQ(std::adjacent_find(clicked.begin(), clicked.end()), clicked.end());
        size_t within = 0;
        for (size_t p = 0; p < c.count; ++p) {
          const Shape* s = byPosition[p];
          const bool gridPoint = s->GetRecordClass() == kRecordPoint && s->HasGeometry();
          const bool listed = std::binary_search(clicked.begin(), clicked.end(), static_cast<uint32_t>(p));
          if (!gridPoint) {
            ASSERT_TRUE(IsSet(bits, p)) << p;
            ASSERT_FALSE(IsSet(sure, p)) << p;
            ASSERT_TRUE(listed) << p;
            continue;
          }
          const MapPoint pt = static_cast<const PointShape*>(s)->GetPoint();
          const bool inWidened = pt.x >= view.left - margin && pt.x <= view.right + margin &&
                                 pt.y >= view.top - margin && pt.y <= view.bottom + margin;
          if (inWidened) {
            ++within;
            ASSERT_TRUE(IsSet(bits, p) || IsSet(sure, p)) << p;
            ASSERT_TRUE(listed) << p;
          }
          if (IsSet(sure, p)) {
            ASSERT_FALSE(IsSet(bits, p)) << p;
            ASSERT_TRUE(pt.x >= view.left + sureMargin && pt.x <= view.right - sureMargin &&
                        pt.y >= view.top + sureMargin && pt.y <= view.bottom - sureMargin)
                << p;
          }
        }
        EXPECT_GE(marked, within);
        // Every mark lies within [low, high]; clearing those words leaves all clear.
        for (size_t w = low; w <= high && low <= high; ++w) bits[w] = sure[w] = 0;
        ASSERT_TRUE(std::all_of(bits.begin(), bits.end(), [](uint64_t w) { return w == 0; }));
        ASSERT_TRUE(std::all_of(sure.begin(), sure.end(), [](uint64_t w) { return w == 0; }));
      }
    }
  }
}

// Points along passes take blocks, shuffled ones the grid; the blocks cost
// far fewer bytes than the grid, and a cache's kept index builds them again.
TEST_F(SpatialIndexLayouts, PassesTakeBlocksShuffledPointsTheGrid) {
  Records passes, shuffled;
  Fill(passes, 50000, Order::Passes, false);
  Fill(shuffled, 50000, Order::Shuffled, false);
  SpatialIndex a, b, grid;
  a.Build(passes.list);
  b.Build(shuffled.list);
  EXPECT_TRUE(a.UsesBlocks());
  EXPECT_FALSE(b.UsesBlocks());
  // The grid's cells and items cost at least 4 bytes a point more than the
  // blocks, whether or not the records lie in runs the index can walk.
  EXPECT_LE(a.MemoryBytes() + 4 * 50000, b.MemoryBytes());
  SpatialIndex adopted;
  ASSERT_TRUE(adopted.Adopt(passes.list, a.GetGrid()));
  EXPECT_TRUE(adopted.UsesBlocks());
  EXPECT_TRUE(adopted.GetGrid() == a.GetGrid());
  EXPECT_EQ(adopted.GetMaxUnitsPerFoot(), a.GetMaxUnitsPerFoot());
  SpatialIndex::SetLayout(2);
  grid.Build(passes.list);
  EXPECT_FALSE(grid.UsesBlocks());
  SpatialIndex::SetLayout(0);
  ASSERT_TRUE(adopted.Adopt(passes.list, grid.GetGrid()));
  EXPECT_FALSE(adopted.UsesBlocks());
  EXPECT_TRUE(adopted.GetGrid() == grid.GetGrid());
}

// The bounds the indexing walk finds are those of the walk over every record
// (the index off), at every display size, on real and generated logs, in
// either layout, and with a record of another kind among the points.
TEST_F(SpatialIndexLayouts, TheIndexingWalkFindsTheBoundsOfTheRecordWalk) {
  const test::TempDir dir;
  std::vector<std::string> files;
  const std::string command = std::string("/usr/bin/python3 '") + KESTRUNE_SHARED_TOOLS_DIR + "/make_field_log.py' '" +
                              dir.path().string() + "' --points 70001 >/dev/null 2>&1";
  if (std::system(command.c_str()) == 0) files.push_back((dir.path() / "points.shp").string());
  if (!test::TestDataDir().empty() && std::filesystem::exists(test::TestDataDir() / "field/yield-simple1.shp")) {
    files.push_back(test::CopyFileSet(test::TestDataDir() / "field/yield-simple1.shp", dir.path()).string());
  } else if (test::TestDataRequired()) {
    FAIL() << "no test data";
  }
  ASSERT_FALSE(files.empty());
  for (const std::string& shp : files) {
    for (int layout : {0, 1, 2}) {
      for (bool foreign : {false, true}) {
        SCOPED_TRACE(testing::Message() << shp << " layout " << layout << (foreign ? " with a line" : ""));
        SpatialIndex::SetLayout(layout);
        Layer layer;
        layer.SetPathName(shp);
        ASSERT_TRUE(layer.Open() && layer.Load());
        ASSERT_GT(layer.GetRecordCount(), 100u);
        if (foreign) {
          // A line far east of the points: it widens the bounds.
          Shape* line = layer.CreateRecord(kRecordLine, 999999, true);
          const MapRect b = layer.GetBounds();
          const MapPoint pts[] = {{b.right + 5000, b.top}, {b.right + 9000, b.bottom}};
          line->AddPoints(pts, 2);
          line->FinishGeometry();
        }
        // A record added and removed drops the index.
        const auto dropIndex = [&layer] { layer.RemoveRecord(layer.CreateRecord(kRecordPoint, 1, true)); };
        for (double sizeFt : {30.0, 0.5, 400.0}) {
          layer.SetDisplaySize(sizeFt, false);
          layer.SetSpatialIndexUsed(true);
          dropIndex();
          layer.FindInRect({0, 0, 1, 1});  // builds the index, and keeps the bounds its walk found
          ASSERT_TRUE(layer.GetSpatialIndex().IsBuilt());
          const MapRect indexed = layer.GetBounds();
          layer.SetSpatialIndexUsed(false);
          dropIndex();
          const MapRect walked = layer.GetBounds();
          EXPECT_EQ(indexed, walked) << sizeFt;
          EXPECT_LT(indexed.left, indexed.right);
        }
      }
    }
  }
}

}  // namespace
}  // namespace kestrune
