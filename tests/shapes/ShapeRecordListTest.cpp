// The record list's ordered insert against the plain walk from the head.
#include <gtest/gtest.h>

#include <algorithm>
#include <list>
#include <memory>
#include <random>
#include <vector>

#include "shapes/RecordList.h"
#include "shapes/Shape.h"

namespace kestrune {
namespace {

// The list as a doubly linked list walked from its head.
struct NaiveList {
  std::list<Shape*> items;
  void InsertOrdered(Shape* s) {
    auto it = items.begin();
    while (it != items.end() && (*it)->PrecedesInDrawOrder(*s)) ++it;
    items.insert(it, s);
  }
  void Append(Shape* s) { items.push_back(s); }
  void Remove(Shape* s) {
    for (auto it = items.begin(); it != items.end(); ++it) {
      if (*it == s) {
        items.erase(it);
        return;
      }
    }
  }
};

std::vector<Shape*> Contents(const RecordList& list) {
  std::vector<Shape*> out(list.begin(), list.end());
  std::vector<Shape*> viaForEach;
  list.ForEach([&](Shape* s) { viaForEach.push_back(s); });
  EXPECT_EQ(out, viaForEach);
  EXPECT_EQ(out.size(), list.size());
  return out;
}

// An area whose outer area is side² square map units.
std::unique_ptr<AreaShape> SquareArea(int number, int side) {
  auto a = std::make_unique<AreaShape>(number);
  const MapPoint ring[] = {{0, 0}, {side, 0}, {side, side}, {0, side}, {0, 0}};
  a->AddPoints(ring, 5);
  return a;
}

TEST(RecordList, EqualAreasPutTheNewOneFirstAndLargerAreasLead) {
  std::vector<std::unique_ptr<Shape>> owned;
  RecordList list;
  for (int side : {5, 9, 5, 1, 9}) {
    owned.push_back(SquareArea(static_cast<int>(owned.size()) + 1, side));
    list.InsertOrdered(owned.back().get());
  }
  std::vector<int> numbers;
  for (Shape* s : list) numbers.push_back(s->GetRecordNumber());
  // 9 (newest first), 9, 5 (newest first), 5, 1.
  EXPECT_EQ(numbers, (std::vector<int>{5, 2, 3, 1, 4}));
  EXPECT_EQ(list.front()->GetRecordNumber(), 5);
  EXPECT_EQ(list.back()->GetRecordNumber(), 4);
}

TEST(RecordList, RecordsThatAreNotAreasGoToTheFrontWhenOrdered) {
  std::vector<std::unique_ptr<Shape>> owned;
  RecordList list;
  owned.push_back(SquareArea(1, 10));
  list.InsertOrdered(owned.back().get());
  owned.push_back(std::make_unique<PointShape>(2));
  list.Append(owned.back().get());
  owned.push_back(SquareArea(3, 4));
  list.InsertOrdered(owned.back().get());  // stops at the point
  owned.push_back(std::make_unique<LineShape>(4));
  list.InsertOrdered(owned.back().get());  // front
  owned.push_back(SquareArea(5, 20));
  list.InsertOrdered(owned.back().get());  // stops at the line in front
  std::vector<int> numbers;
  for (Shape* s : list) numbers.push_back(s->GetRecordNumber());
  EXPECT_EQ(numbers, (std::vector<int>{5, 4, 1, 3, 2}));
  EXPECT_TRUE(list.Remove(owned[0].get()));
  EXPECT_FALSE(list.Remove(owned[0].get()));
  EXPECT_EQ(list.size(), 4u);
  list.Clear();
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(list.front(), nullptr);
  EXPECT_EQ(list.begin(), list.end());
}

// Random mixes of appends, ordered inserts and removals, with many equal
// areas, give exactly the order of the walk from the head.
TEST(RecordList, MatchesTheWalkFromTheHeadOnRandomOperations) {
  for (unsigned seed = 1; seed <= 12; ++seed) {
    std::mt19937 rng(seed);
    std::vector<std::unique_ptr<Shape>> owned;
    RecordList list;
    NaiveList naive;
    const bool mixed = seed % 3 == 0;
    const int steps = seed <= 4 ? 5000 : 1200;
    for (int step = 0; step < steps; ++step) {
      const int op = static_cast<int>(rng() % 100);
      if (op < 70) {
        owned.push_back(SquareArea(step, 1 + static_cast<int>(rng() % (seed % 2 ? 30 : 3000))));
        list.InsertOrdered(owned.back().get());
        naive.InsertOrdered(owned.back().get());
      } else if (op < 80 && mixed) {
        owned.push_back(std::make_unique<PointShape>(step));
        if (rng() % 2) {
          list.Append(owned.back().get());
          naive.Append(owned.back().get());
        } else {
          list.InsertOrdered(owned.back().get());
          naive.InsertOrdered(owned.back().get());
        }
      } else if (op < 88) {
        // Appended areas, sometimes in order, sometimes not.
        owned.push_back(SquareArea(step, 1 + static_cast<int>(rng() % 40)));
        list.Append(owned.back().get());
        naive.Append(owned.back().get());
      } else if (!owned.empty()) {
        Shape* victim = owned[rng() % owned.size()].get();
        list.Remove(victim);
        naive.Remove(victim);
      }
      if (step % 97 == 0) {
        ASSERT_EQ(Contents(list), std::vector<Shape*>(naive.items.begin(), naive.items.end()))
            << "seed " << seed << " step " << step;
      }
    }
    ASSERT_EQ(Contents(list), std::vector<Shape*>(naive.items.begin(), naive.items.end())) << "seed " << seed;
  }
}

TEST(RecordList, OrderedInsertOfManyAreasIsFastAndSorted) {
  std::mt19937 rng(42);
  std::vector<std::unique_ptr<Shape>> owned;
  RecordList list;
  for (int i = 0; i < 100000; ++i) {
    owned.push_back(SquareArea(i, 1 + static_cast<int>(rng() % 5000)));
    list.InsertOrdered(owned.back().get());
  }
  EXPECT_EQ(list.SortedRunLength(), 100000u);
  double last = 1e300;
  int lastNumber = 1 << 30;
  for (Shape* s : list) {
    const double area = static_cast<AreaShape*>(s)->GetOuterArea();
    ASSERT_LE(area, last);
    // Equal areas: the later record first.
    if (area == last) {
      ASSERT_LT(s->GetRecordNumber(), lastNumber);
    }
    last = area;
    lastNumber = s->GetRecordNumber();
  }
  const size_t removed = list.RemoveIf([](Shape* s) { return s->GetRecordNumber() % 2 == 0; });
  EXPECT_EQ(removed, 50000u);
  EXPECT_EQ(list.size(), 50000u);
  for (Shape* s : list) ASSERT_EQ(s->GetRecordNumber() % 2, 1);
}

// The walks the loading threads share out: any range of positions and the
// runs give the records of the walk from the head, in its order, on a list
// of sorted areas, runs of pooled points and single records after edits.
TEST(RecordList, RangesAndRunsGiveTheRecordsOfTheWalk) {
  std::vector<std::unique_ptr<Shape>> owned;
  RecordList list;
  for (int side : {7, 3, 9}) {
    owned.push_back(SquareArea(-side, side));
    list.InsertOrdered(owned.back().get());
  }
  for (int i = 0; i < 3000; ++i) {
    owned.push_back(std::make_unique<PointShape>(i + 1));
    list.Append(owned.back().get());
  }
  // A record out of the middle of a run, and one placed in front of the points.
  list.Remove(owned[1500].get());
  owned.push_back(std::make_unique<PointShape>(-50));
  list.Append(owned.back().get());
  const std::vector<Shape*> walk = Contents(list);
  ASSERT_EQ(walk.size(), 3003u);

  struct Range {
    size_t from, to;
  };
  const Range ranges[] = {{0, 0},     {0, 1},       {0, 3},       {2, 4},       {3, 1027},   {1026, 1028},
                          {1500, 1510}, {1000, 2500}, {2990, 3003}, {0, 3003},  {3002, 5000}, {4000, 5000}};
  for (const Range& r : ranges) {
    std::vector<Shape*> got;
    list.ForEachInRange(r.from, r.to, [&](Shape* s) { got.push_back(s); });
    const size_t to = std::min(r.to, walk.size()), from = std::min(r.from, to);
    EXPECT_EQ(got, std::vector<Shape*>(walk.begin() + static_cast<std::ptrdiff_t>(from),
                                       walk.begin() + static_cast<std::ptrdiff_t>(to)))
        << r.from << ".." << r.to;
  }
  // Shares cut at any count join into the walk.
  for (size_t shares : {1u, 2u, 3u, 7u}) {
    std::vector<Shape*> joined;
    for (size_t k = 0; k < shares; ++k) {
      list.ForEachInRange(walk.size() * k / shares, walk.size() * (k + 1) / shares,
                          [&](Shape* s) { joined.push_back(s); });
    }
    EXPECT_EQ(joined, walk) << shares << " shares";
  }
  std::vector<Shape*> expanded;
  size_t runs = 0;
  list.ForEachRun([&](Shape* first, size_t count) {
    runs += count > 1 ? 1 : 0;
    for (size_t i = 0; i < count; ++i) expanded.push_back(RecordList::RunAt(first, i));
  });
  EXPECT_EQ(expanded, walk);
  // Three blocks of points, the one edited inside now single records.
  if (PointShape::IsPooled()) {
    EXPECT_EQ(runs, 2u);
  }
}

}  // namespace
}  // namespace kestrune

namespace kestrune {
namespace {

TEST(RecordList, RunsOfPooledPointsKeepTheirOrderThroughEveryEdit) {
  // Points made one after another lie a stride apart and are kept as runs;
  // each edit inside a run must still give the walk from the head.
  std::mt19937 rng(5);
  std::vector<std::unique_ptr<Shape>> owned;
  RecordList list;
  NaiveList naive;
  const auto appendPoints = [&](int count) {
    for (int i = 0; i < count; ++i) {
      owned.push_back(std::make_unique<PointShape>(static_cast<int>(owned.size())));
      list.Append(owned.back().get());
      naive.Append(owned.back().get());
    }
  };
  appendPoints(5000);
  // 5,000 points in runs of up to 1,024 take five blocks, none listed.
  if (PointShape::IsPooled()) {
    EXPECT_EQ(list.RunBlockCount(), 5u);
  }
  for (int round = 0; round < 40; ++round) {
    switch (rng() % 5) {
      case 0:  // one record out of the middle of a run
        if (!owned.empty()) {
          Shape* victim = owned[rng() % owned.size()].get();
          list.Remove(victim);
          naive.Remove(victim);
        }
        break;
      case 1: {  // every record of some numbers out at once
        const int modulus = 2 + static_cast<int>(rng() % 7);
        const auto pick = [modulus](const Shape* s) { return s->GetRecordNumber() % modulus == 0; };
        list.RemoveIf(pick);
        naive.items.remove_if(pick);
        break;
      }
      case 2: {  // a record that is not an area, placed in drawing order: the front
        owned.push_back(std::make_unique<PointShape>(-round));
        list.InsertOrdered(owned.back().get());
        naive.InsertOrdered(owned.back().get());
        break;
      }
      case 3:  // an area placed in order among the points
        owned.push_back(SquareArea(-1000 - round, 1 + static_cast<int>(rng() % 50)));
        list.InsertOrdered(owned.back().get());
        naive.InsertOrdered(owned.back().get());
        break;
      default:
        appendPoints(1 + static_cast<int>(rng() % 3000));
    }
    ASSERT_EQ(Contents(list), std::vector<Shape*>(naive.items.begin(), naive.items.end())) << "round " << round;
    ASSERT_EQ(list.back(), naive.items.empty() ? nullptr : naive.items.back());
  }
}

}  // namespace
}  // namespace kestrune
