#include "clean/LogClean.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <memory>
#include <numeric>
#include <thread>
#include <tuple>
#include <utility>

namespace kestrune {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// About how many records a filled cell of the local-outlier grid holds.
constexpr double kLocalPerCell = 3.0;

// The progress of one run over its filters: each filter run is a step, the
// local outliers weigh as many as kLocalWeight others.
constexpr double kLocalWeight = 20.0;
class RunProgress {
 public:
  RunProgress(const CleanProgress& tell, double total) : tell_(tell), total_(std::max(total, 1.0)) {}
  // Whether to go on, having done done steps and the fraction of the next span.
  bool Tell(double done, double span, double fraction) {
    if (stop_.load(std::memory_order_relaxed)) return false;
    if (!tell_) return true;
    const int percent = int(std::clamp(100.0 * (done + span * fraction) / total_, 0.0, 100.0));
    if (!tell_(percent)) stop_ = true;
    return !stop_;
  }
  bool Stopped() const { return stop_.load(std::memory_order_relaxed); }
  bool Active() const { return bool(tell_); }
  double done = 0.0;  // steps done before the filter running

 private:
  const CleanProgress& tell_;
  double total_;
  std::atomic<bool> stop_{false};
};

// A mask of the records a filter may remove: 1 for a record still kept.
using Mask = std::vector<uint8_t>;

bool Finite(double v) { return std::isfinite(v); }

// Runs body(part, from, to) over [0, count) cut into parts runs in order,
// the first on this thread and each other on a thread of its own; returns
// when all are done.
template <class Body>
void InParts(size_t count, size_t parts, const Body& body) {
  std::vector<std::thread> others;
  for (size_t part = 1; part < parts; ++part) {
    others.emplace_back([&, part] { body(part, count * part / parts, count * (part + 1) / parts); });
  }
  body(0, 0, count / std::max<size_t>(parts, 1));
  for (std::thread& t : others) t.join();
}

// Work on a thread of its own, beside the caller's; done at the latest when
// the object goes.
class Beside {
 public:
  template <class Work>
  explicit Beside(Work&& work) : thread_(std::forward<Work>(work)) {}
  ~Beside() { Join(); }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::thread thread_;
};

// ---- pass delay

// Whether each record belongs to a pass.
std::vector<uint8_t> PassMembers(const CleanInput& in) {
  const size_t n = in.size();
  std::vector<uint8_t> member(n, 1);
  if (!in.boom.empty()) {
    for (size_t i = 0; i < n; ++i) member[i] = in.boom[i] > 0.0 ? 1 : 0;
    return member;
  }
  // A turn: the heading from three records before to the record, and from it
  // to three records after, differ by more than 90 degrees (a negative dot product).
  for (size_t i = 3; i + 3 < n; ++i) {
    const double ax = in.x[i] - in.x[i - 3], ay = in.y[i] - in.y[i - 3];
    const double bx = in.x[i + 3] - in.x[i], by = in.y[i + 3] - in.y[i];
    if (ax * bx + ay * by < 0.0) member[i] = 0;
  }
  return member;
}

// Marks the records within the start and end delays of each pass.
void PassDelay(const CleanInput& in, const CleanSettings& s, const std::vector<uint8_t>& member, Mask& hit) {
  const size_t n = in.size();
  const bool haveTime = !in.time.empty();
  size_t i = 0;
  while (i < n) {
    if (!member[i]) {
      ++i;
      continue;
    }
    size_t end = i;
    while (end < n && member[end]) ++end;
    // The pass is [i, end).
    const auto within = [&](const CleanDelay& d, size_t k, size_t from) {
      if (d.amount <= 0.0) return false;
      if (d.records || !haveTime) {
        const double steps = k > from ? double(k - from) : double(from - k);
        return steps < d.amount;
      }
      const double dt = std::fabs(in.time[k] - in.time[from]);
      return Finite(dt) && dt < d.amount;
    };
    for (size_t k = i; k < end; ++k) {
      if (within(s.startDelay, k, i) || within(s.endDelay, k, end - 1)) hit[k] = 1;
    }
    i = end;
  }
}

// ---- flow delay

// The records in time order (file order among equal times, records without
// a time left out; file order without a time field) and their times in that
// order, read in one run by the flow delay and the duplicates.
struct TimeOrdering {
  std::vector<uint32_t> order;
  const double* times = nullptr;  // the input's own times when they are all there in order
  std::vector<double> sorted;     // else the times put in order
};

TimeOrdering TimeOrder(const CleanInput& in) {
  const size_t n = in.size();
  TimeOrdering out;
  std::vector<uint32_t>& order = out.order;
  order.reserve(n);
  if (in.time.empty()) {
    order.resize(n);
    std::iota(order.begin(), order.end(), 0u);
    return out;
  }
  // One pass (in a part of the records on each core): the records with a
  // time in file order, and whether the times are in order already (as a
  // log mostly is): then there is nothing to sort.
  struct Scan {
    std::vector<uint32_t> order;  // the first part's go straight into the result
    bool sorted = true, whole = true, any = false;
    double first = 0.0, last = -std::numeric_limits<double>::infinity();
    double low = std::numeric_limits<double>::infinity(), high = -std::numeric_limits<double>::infinity();
  };
  const size_t parts = n < 20000 ? 1 : std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 2);
  std::vector<Scan> scans(parts);
  InParts(n, parts, [&](size_t part, size_t from, size_t to) {
    Scan& scan = scans[part];
    std::vector<uint32_t>& into = part == 0 ? order : scan.order;
    if (part > 0) into.reserve(to - from);
    bool sorted = true, whole = true;
    double last = -std::numeric_limits<double>::infinity();
    double low = std::numeric_limits<double>::infinity(), high = -low;
    for (size_t i = from; i < to; ++i) {
      const double t = in.time[i];
      if (!Finite(t)) continue;
      if (!scan.any) {
        scan.any = true;
        scan.first = t;
      }
      sorted = sorted && t >= last;
      last = t;
      low = std::min(low, t);
      high = std::max(high, t);
      whole = whole && t == std::floor(t);
      into.push_back(static_cast<uint32_t>(i));
    }
    scan.sorted = sorted;
    scan.whole = whole;
    scan.last = last;
    scan.low = low;
    scan.high = high;
  });
  bool sorted = true, whole = true;
  double last = -std::numeric_limits<double>::infinity();
  double low = std::numeric_limits<double>::infinity(), high = -low;
  for (size_t part = 0; part < parts; ++part) {
    const Scan& scan = scans[part];
    if (!scan.any) continue;
    sorted = sorted && scan.sorted && scan.first >= last;
    last = scan.last;
    low = std::min(low, scan.low);
    high = std::max(high, scan.high);
    whole = whole && scan.whole;
    if (part > 0) order.insert(order.end(), scan.order.begin(), scan.order.end());
  }
  const size_t m = order.size();
  if (sorted && m == n) {
    out.times = in.time.data();
    return out;
  }
  std::vector<double>& times = out.sorted;
  times.resize(m);
  InParts(m, parts, [&](size_t, size_t from, size_t to) {
    for (size_t k = from; k < to; ++k) times[k] = in.time[order[k]];
  });
  out.times = times.data();
  if (sorted) return out;
  if (whole && high - low < double(std::max<size_t>(2 * m, size_t(1) << 16))) {
    // Whole seconds over a span of at most twice as many seconds as records:
    // counted by second (each core the records of a part), then each record
    // put at its second's place in file order (so equal times keep it): a
    // part's records of a second after those of the parts before.
    const size_t span = size_t(high - low) + 1;
    std::vector<std::vector<uint32_t>> counts(parts);
    InParts(m, parts, [&](size_t part, size_t from, size_t to) {
      std::vector<uint32_t>& count = counts[part];
      count.assign(span, 0);
      for (size_t k = from; k < to; ++k) ++count[size_t(times[k] - low)];
    });
    // start[b]: where second b begins; each part's count becomes where its
    // next record of that second goes.
    std::vector<uint32_t> start(span + 1);
    uint32_t next = 0;
    for (size_t b = 0; b < span; ++b) {
      start[b] = next;
      for (size_t part = 0; part < parts; ++part) {
        const uint32_t held = counts[part][b];
        counts[part][b] = next;
        next += held;
      }
    }
    start[span] = next;
    std::vector<uint32_t> sortedOrder(m);
    InParts(m, parts, [&](size_t part, size_t from, size_t to) {
      std::vector<uint32_t>& place = counts[part];
      for (size_t k = from; k < to; ++k) sortedOrder[place[size_t(times[k] - low)]++] = order[k];
    });
    order.swap(sortedOrder);
    InParts(span, parts, [&](size_t, size_t from, size_t to) {
      for (size_t b = from; b < to; ++b) {
        const double second = low + double(b);
        for (size_t k = start[b]; k < start[b + 1]; ++k) times[k] = second;
      }
    });
    return out;
  }
  if (whole && high - low < 4294967296.0) {
    // Whole seconds (as logs keep them) within 136 years: each record's
    // seconds from the earliest time above its position, sorted by those
    // seconds in stable passes of 8 bits (as many as the span needs, each
    // spreading over few enough places to stay in the caches), so equal
    // times keep their file order.
    std::vector<uint64_t> keys(m), other(m);
    for (size_t k = 0; k < m; ++k) keys[k] = uint64_t(times[k] - low) << 32 | order[k];
    const uint64_t span = uint64_t(high - low);
    for (int shift = 32; shift < 64 && (span >> (shift - 32)) > 0; shift += 8) {
      size_t start[257] = {};
      for (uint64_t key : keys) ++start[(key >> shift & 0xFF) + 1];
      for (size_t b = 1; b < 257; ++b) start[b] += start[b - 1];
      for (uint64_t key : keys) other[start[key >> shift & 0xFF]++] = key;
      keys.swap(other);
    }
    for (size_t k = 0; k < m; ++k) {
      order[k] = uint32_t(keys[k]);
      times[k] = low + double(keys[k] >> 32);
    }
    return out;
  }
  std::vector<std::pair<double, uint32_t>> timed(m);
  for (size_t k = 0; k < m; ++k) timed[k] = {times[k], order[k]};
  std::sort(timed.begin(), timed.end());
  for (size_t k = 0; k < m; ++k) {
    times[k] = timed[k].first;
    order[k] = timed[k].second;
  }
  return out;
}

// The usual step between records in time order: the median of the steps
// above 0 (0 without any). Whole seconds below a day are counted rather than
// sorted.
double UsualStep(const double* times, size_t count) {
  constexpr size_t kCounted = 86400;
  std::vector<uint32_t> counts(kCounted, 0);
  size_t steps = 0;
  bool counted = true;
  for (size_t k = 1; k < count && counted; ++k) {
    const double dt = times[k] - times[k - 1];
    if (!(dt > 0.0)) continue;
    counted = dt < double(kCounted) && dt == std::floor(dt);
    if (counted) {
      ++counts[size_t(dt)];
      ++steps;
    }
  }
  if (counted) {
    if (steps == 0) return 0.0;
    // The (steps / 2)-th step from the least, as the selection below takes it.
    size_t seen = 0;
    for (size_t dt = 1; dt < kCounted; ++dt) {
      seen += counts[dt];
      if (seen > steps / 2) return double(dt);
    }
  }
  std::vector<double> all;
  all.reserve(count);
  for (size_t k = 1; k < count; ++k) {
    const double dt = times[k] - times[k - 1];
    if (dt > 0.0) all.push_back(dt);
  }
  if (all.empty()) return 0.0;
  std::nth_element(all.begin(), all.begin() + long(all.size() / 2), all.end());
  return all[all.size() / 2];
}

// Each record's value after the shift; NaN for a record with no source (then
// marked in noSource) or a blank source value.
std::vector<double> ShiftValues(const CleanInput& in, const CleanSettings& s, const TimeOrdering& timed,
                                std::vector<uint8_t>& noSource) {
  const std::vector<double>& v = *in.Values(s.flowField);
  const std::vector<uint32_t>& order = timed.order;
  const size_t n = in.size();
  std::vector<double> out(n, kNaN);
  noSource.assign(n, 1);
  // Each core takes a part of the records in time order.
  const size_t parts = n < 20000 ? 1 : std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 2);
  const CleanDelay& d = s.flowDelay;
  const size_t m = order.size();
  if (d.records || in.time.empty()) {
    const long long r = std::llround(d.amount);
    InParts(m, parts, [&](size_t, size_t from, size_t to) {
      for (long long k = (long long)from; k < (long long)to; ++k) {
        const long long src = k + r;
        if (src >= 0 && src < (long long)m) {
          out[order[size_t(k)]] = v[order[size_t(src)]];
          noSource[order[size_t(k)]] = 0;
        }
      }
    });
    return out;
  }
  // In seconds: the record logged at the time plus the delay, within half the
  // usual step between records.
  const double* const time = timed.times;
  const double tolerance = UsualStep(time, m) / 2.0 + 1e-9;
  InParts(m, parts, [&](size_t, size_t from, size_t to) {
    if (d.amount >= 0.0) {
      // The first record at or after k within reach of k's time plus the
      // delay: a walk that starts at the part's first record finds the same
      // one there as a walk from the first of all, none before k being one.
      size_t j = from;
      for (size_t k = from; k < to; ++k) {
        const double want = time[k] + d.amount;
        if (j < k) j = k;
        while (j < m && time[j] < want - tolerance) ++j;
        if (j < m && std::fabs(time[j] - want) <= tolerance) {
          out[order[k]] = v[order[j]];
          noSource[order[k]] = 0;
        }
      }
    } else {
      // A negative delay looks back: walk from the part's end.
      size_t j = to;
      for (size_t k = to; k-- > from;) {
        const double want = time[k] + d.amount;
        if (j > k + 1) j = k + 1;
        while (j > 0 && time[j - 1] > want + tolerance) --j;
        if (j > 0 && std::fabs(time[j - 1] - want) <= tolerance) {
          out[order[k]] = v[order[j - 1]];
          noSource[order[k]] = 0;
        }
      }
    }
  });
  return out;
}

// ---- local outliers

// The records of a local-outlier search in the cells of a fixed grid, stored
// cell by cell (positions, values and record numbers side by side), so a
// search reads neighbouring cells as runs of memory.
class NeighbourGrid {
 public:
  // perCell: about how many records a filled cell holds.
  // The grid's x and y are the input's x and y, or swapped (distances are
  // the same either way): the passes then run along the grid's rows.
  NeighbourGrid(const CleanInput& in, const std::vector<uint32_t>& items, const std::vector<double>& v,
                double perCell, bool swap) {
    const std::vector<double>& inX = swap ? in.y : in.x;
    const std::vector<double>& inY = swap ? in.x : in.y;
    const size_t m = items.size();
    // Each step over the records or the cells in parts, one a core; each
    // part's records go into a cell after those of the parts before, in the
    // order of the items, as one pass over them would put them.
    const size_t parts = m < 20000 ? 1 : std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 16);
    std::vector<std::array<double, 4>> box(parts);
    InParts(m, parts, [&](size_t part, size_t from, size_t to) {
      double x0 = std::numeric_limits<double>::infinity(), y0 = x0, x1 = -x0, y1 = -x0;
      for (size_t q = from; q < to; ++q) {
        const uint32_t i = items[q];
        x0 = std::min(x0, inX[i]);
        x1 = std::max(x1, inX[i]);
        y0 = std::min(y0, inY[i]);
        y1 = std::max(y1, inY[i]);
      }
      box[part] = {x0, y0, x1, y1};
    });
    double x0 = std::numeric_limits<double>::infinity(), y0 = x0, x1 = -x0, y1 = -x0;
    for (const auto& b : box) {
      x0 = std::min(x0, b[0]);
      y0 = std::min(y0, b[1]);
      x1 = std::max(x1, b[2]);
      y1 = std::max(y1, b[3]);
    }
    x0_ = x0;
    y0_ = y0;
    const double w = std::max(x1 - x0, 1e-9), h = std::max(y1 - y0, 1e-9);
    const double wanted = std::max(perCell, 1.0);
    double cells = std::max(1.0, double(items.size()) / wanted);
    // A log fills its box unevenly (passes, headlands, gaps): the cells are
    // sized again once for the records the filled cells actually hold.
    // Each record's cell is worked out once per sizing and kept for the
    // filling; the counts of the last sizing become the cells' starts.
    std::unique_ptr<uint32_t[]> cellOf(new uint32_t[m]);
    // Each part's count of records in each cell, later where its next one goes.
    std::vector<std::vector<uint32_t>> counts(parts);
    for (int attempt = 0; attempt < 2; ++attempt) {
      Size(w, h, std::min(cells, 4.0 * double(items.size()) + 1024.0));
      const size_t total = size_t(cols_ * rows_);
      InParts(m, parts, [&](size_t part, size_t from, size_t to) {
        std::vector<uint32_t>& count = counts[part];
        count.assign(total, 0);
        for (size_t q = from; q < to; ++q) {
          const uint32_t i = items[q];
          const uint32_t c = uint32_t(CellOf(inX[i], inY[i]));
          cellOf[q] = c;
          ++count[c];
        }
      });
      start_.resize(total + 1);
      start_[0] = 0;
      std::vector<size_t> filledIn(parts, 0);
      InParts(total, parts, [&](size_t part, size_t from, size_t to) {
        size_t filled = 0;
        for (size_t c = from; c < to; ++c) {
          uint32_t held = 0;
          for (size_t other = 0; other < parts; ++other) held += counts[other][c];
          start_[c + 1] = held;
          filled += held != 0;
        }
        filledIn[part] = filled;
      });
      const size_t filled = std::accumulate(filledIn.begin(), filledIn.end(), size_t(0));
      const double held = double(items.size()) / double(std::max<size_t>(filled, 1));
      if (attempt == 1 || held < 1.5 * wanted) break;
      cells *= held / wanted;
    }
    for (size_t c = 1; c < start_.size(); ++c) start_[c] += start_[c - 1];
    for (size_t c = 0; c + 1 < start_.size(); ++c) {
      uint32_t next = start_[c];
      for (size_t part = 0; part < parts; ++part) {
        const uint32_t held = counts[part][c];
        counts[part][c] = next;
        next += held;
      }
    }
    // Room past the last record for a whole vector read from any record on
    // (zeros). The rest is filled below on every core, which also takes the
    // first touch of each page, rather than zeroed here on one.
    x_.reset(new double[m + kPad]);
    y_.reset(new double[m + kPad]);
    v_.reset(new double[m + kPad]);
    id_.reset(new uint32_t[m]);
    for (size_t k = m; k < m + kPad; ++k) x_[k] = y_[k] = v_[k] = 0.0;
    InParts(m, parts, [&](size_t part, size_t from, size_t to) {
      std::vector<uint32_t>& fill = counts[part];
      for (size_t q = from; q < to; ++q) {
        const uint32_t i = items[q];
        const uint32_t slot = fill[cellOf[q]]++;
        x_[slot] = inX[i];
        y_[slot] = inY[i];
        v_[slot] = v[i];
        id_[slot] = i;
      }
    });
    counts.clear();
    // Within a cell, in the order of x: along a pass, the record judged
    // before is then mostly the one a step away. The parts take runs of
    // cells of about as many records.
    std::vector<size_t> cut(parts + 1, start_.size() - 1);
    cut[0] = 0;
    for (size_t part = 1; part < parts; ++part) {
      size_t c = cut[part - 1];
      while (c + 1 < start_.size() && start_[c] < m * part / parts) ++c;
      cut[part] = c;
    }
    InParts(parts, parts, [&](size_t part, size_t, size_t) {
      for (size_t c = cut[part]; c < cut[part + 1]; ++c) {
        for (uint32_t k = start_[c] + 1; k < start_[c + 1]; ++k) {
          uint32_t at = k;
          const double x = x_[k], y = y_[k], value = v_[k];
          const uint32_t id = id_[k];
          for (; at > start_[c] && x_[at - 1] > x; --at) {
            x_[at] = x_[at - 1];
            y_[at] = y_[at - 1];
            v_[at] = v_[at - 1];
            id_[at] = id_[at - 1];
          }
          x_[at] = x;
          y_[at] = y;
          v_[at] = value;
          id_[at] = id;
        }
      }
    });
    // The cells round a record's own, nearest first by the least distance any
    // of their records can lie from any point of its cell.
    const int64_t reach = std::min<int64_t>(kReach, std::max(cols_, rows_));
    for (int64_t dy = -reach; dy <= reach; ++dy) {
      for (int64_t dx = -reach; dx <= reach; ++dx) {
        const int64_t gx = std::max<int64_t>(std::llabs(dx) - 1, 0), gy = std::max<int64_t>(std::llabs(dy) - 1, 0);
        if (gx * gx + gy * gy < reach * reach) offsets_.push_back({int32_t(dx), int32_t(dy), double(gx * gx + gy * gy)});
      }
    }
    std::stable_sort(offsets_.begin(), offsets_.end(),
                     [](const Offset& a, const Offset& b) { return a.floor < b.floor; });
    reach_ = reach;
    tolerance_ = cell_ * 1e-6;
  }

  size_t Cells() const { return start_.size() - 1; }
  int64_t Cols() const { return cols_; }
  double Side() const { return cell_; }
  double Tolerance() const { return tolerance_; }
  double Left() const { return x0_; }
  double Bottom() const { return y0_; }
  const double* Xs() const { return x_.get(); }
  const double* Ys() const { return y_.get(); }
  uint32_t CellStart(size_t c) const { return start_[c]; }
  uint32_t Record(uint32_t slot) const { return id_[slot]; }
  double Value(uint32_t slot) const { return v_[slot]; }
  double X(uint32_t slot) const { return x_[slot]; }
  double Y(uint32_t slot) const { return y_[slot]; }
  const double* Values() const { return v_.get(); }

  // The n nearest records to the one in slot (itself left out) into near as
  // slots with their squared distances in dist, nearest first, ties going to
  // the lower record number; their count is returned. cap bounds the n-th
  // nearest's squared distance from above (infinity when nothing is known):
  // records beyond it are not looked at.
  size_t Nearest(uint32_t slot, size_t cell, size_t n, double cap, std::vector<double>& dist,
                 std::vector<uint32_t>& near) const {
    const double px = x_[slot], py = y_[slot];
    const int64_t cx = int64_t(cell % size_t(cols_)), cy = int64_t(cell / size_t(cols_));
    // Where the record lies in its cell.
    const double fx = (px - x0_) - double(cx) * cell_, fy = (py - y0_) - double(cy) * cell_;
    size_t have = 0;
    double limit = cap;  // the n-th nearest's squared distance once n are found
    const auto visit = [&](int64_t dx, int64_t dy) {
      const int64_t gx = cx + dx, gy = cy + dy;
      if (gx < 0 || gy < 0 || gx >= cols_ || gy >= rows_) return;
      // No record of the cell can lie nearer than its side: skip it when that
      // is beyond the limit.
      const double bx = dx > 0 ? double(dx) * cell_ - fx : dx < 0 ? fx + double(-dx - 1) * cell_ : 0.0;
      const double by = dy > 0 ? double(dy) * cell_ - fy : dy < 0 ? fy + double(-dy - 1) * cell_ : 0.0;
      const double ex = std::max(bx - tolerance_, 0.0), ey = std::max(by - tolerance_, 0.0);
      if (ex * ex + ey * ey > limit) return;
      const size_t c = size_t(gy * cols_ + gx);
      for (uint32_t k = start_[c], end = start_[c + 1]; k < end; ++k) {
        const double ddx = x_[k] - px, ddy = y_[k] - py;
        const double d = ddx * ddx + ddy * ddy;
        if (d > limit || k == slot) continue;
        if (have == n && d == limit && id_[k] > id_[near[n - 1]]) continue;
        // Into its place in the sorted list, the last one dropping out when full.
        size_t at = have < n ? have++ : n - 1;
        while (at > 0 && (dist[at - 1] > d || (dist[at - 1] == d && id_[near[at - 1]] > id_[k]))) {
          dist[at] = dist[at - 1];
          near[at] = near[at - 1];
          --at;
        }
        dist[at] = d;
        near[at] = k;
        if (have == n) limit = dist[n - 1];
      }
    };
    dist.resize(n);
    near.resize(n);
    bool settled = false;
    for (const Offset& o : offsets_) {
      const double floor = std::max(std::sqrt(o.floor) * cell_ - tolerance_, 0.0);
      if (floor * floor > limit) {
        settled = true;
        break;
      }
      visit(o.dx, o.dy);
    }
    if (!settled) {
      const double edge = std::max(double(reach_) * cell_ - tolerance_, 0.0);
      settled = edge * edge > limit;
    }
    if (have == n && settled) return n;
    // Not settled within the cells listed (a sparse corner, or a cap too
    // tight): rings of cells outward until no nearer record can lie beyond.
    have = 0;
    limit = std::numeric_limits<double>::infinity();
    const int64_t maxRing = std::max(cols_, rows_);
    for (int64_t r = 0; r <= maxRing; ++r) {
      const double floor = std::max(double(r - 1) * cell_ - tolerance_, 0.0);
      if (r > 0 && floor * floor > limit) break;
      for (int64_t dy = -r; dy <= r; ++dy) {
        const bool side = dy == -r || dy == r;
        for (int64_t dx = -r; dx <= r; dx += side || r == 0 ? 1 : 2 * r) visit(dx, dy);
      }
    }
    return have;
  }

  // Puts the nearest in order: by distance, ties by record number.
  void OrderNearest(size_t m, std::vector<double>& dist, std::vector<uint32_t>& near) const {
    for (size_t k = 1; k < m; ++k) {
      const double d = dist[k];
      const uint32_t slot = near[k];
      size_t at = k;
      while (at > 0 && (dist[at - 1] > d || (dist[at - 1] == d && id_[near[at - 1]] > id_[slot]))) {
        dist[at] = dist[at - 1];
        near[at] = near[at - 1];
        --at;
      }
      dist[at] = d;
      near[at] = slot;
    }
  }

  // The cell a point falls in.
  size_t CellOf(double x, double y) const {
    const int64_t col = std::clamp<int64_t>(int64_t((x - x0_) / cell_), 0, cols_ - 1);
    const int64_t row = std::clamp<int64_t>(int64_t((y - y0_) / cell_), 0, rows_ - 1);
    return size_t(row * cols_ + col);
  }

 private:
  static constexpr int64_t kReach = 6;
  static constexpr size_t kPad = 4;
  struct Offset {
    int32_t dx, dy;
    double floor;  // in cells squared
  };

  void Size(double w, double h, double cells) {
    cell_ = std::max(std::sqrt(w * h / cells), std::max(w, h) / std::min(8192.0, cells));
    if (!(cell_ > 0.0)) cell_ = 1.0;
    cols_ = std::min<int64_t>(int64_t(w / cell_) + 1, 1 << 14);
    rows_ = std::min<int64_t>(int64_t(h / cell_) + 1, 1 << 14);
    // Cells capped in number are widened to still cover the box.
    cell_ = std::max(cell_, std::max(w / double(cols_), h / double(rows_)) * (1 + 1e-12));
  }

  double x0_ = 0.0, y0_ = 0.0, cell_ = 1.0, tolerance_ = 0.0;
  int64_t cols_ = 1, rows_ = 1, reach_ = 0;
  std::vector<uint32_t> start_;
  std::unique_ptr<double[]> x_, y_, v_;
  std::unique_ptr<uint32_t[]> id_;
  std::vector<Offset> offsets_;
};

// ---- local outliers, judged cell by cell

// A record near the one judged and its squared distance.
struct Candidate {
  double d;
  uint32_t slot;
};

// The passes over the records gathered round the one judged work on W
// doubles at a time through the compiler's vector types: four in one AVX2
// instruction where the processor has it, two in one SSE2 instruction on
// any x86-64 (plain code elsewhere). A squared distance is the same double in
// every lane as (dx * dx + dy * dy) in plain code (on x86-64 neither path
// fuses a multiply and an add: AVX2 is asked for without FMA), and a sum over
// lanes differs from a sum in order in the last bits only, which the judging
// allows for. The helpers pass vectors by value
// within this file only, whatever the calling convention for them outside
// would be (the compiler's note on it comes at the file's end, so it stays
// off from here on).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif
#if defined(__GNUC__)
#define KESTRUNE_INLINE inline __attribute__((always_inline))
#else
#define KESTRUNE_INLINE inline
#endif

template <size_t W>
struct VectorTypes;
template <>
struct VectorTypes<2> {
  typedef double Doubles __attribute__((vector_size(16)));
  typedef long long Masks __attribute__((vector_size(16)));
};
template <>
struct VectorTypes<4> {
  typedef double Doubles __attribute__((vector_size(32)));
  typedef long long Masks __attribute__((vector_size(32)));
};

// Over the gathered records below a threshold: how many, the sum of their
// values, the greatest squared distance and the sum of the squared
// differences of their values from a centre.
struct LanesBelow {
  size_t count;
  double sum, most, squares;
};

// The least squared distance at or above a threshold (infinity when none),
// how many records lie on it, the sum of their values and of their squared
// differences from a centre.
struct LanesLeast {
  double d;
  size_t count;
  double sum, squares;
};

template <size_t W>
struct Lanes {
  using Doubles = typename VectorTypes<W>::Doubles;
  using Masks = typename VectorTypes<W>::Masks;
  static constexpr size_t kWidth = W;

  static KESTRUNE_INLINE Doubles Load(const double* p) {
    Doubles v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
  static KESTRUNE_INLINE void Store(double* p, Doubles v) { std::memcpy(p, &v, sizeof v); }
  static KESTRUNE_INLINE Doubles Splat(double d) {
    Doubles v;
    for (size_t lane = 0; lane < W; ++lane) v[lane] = d;
    return v;
  }
  static KESTRUNE_INLINE Masks NoMask() {
    Masks m;
    for (size_t lane = 0; lane < W; ++lane) m[lane] = 0;
    return m;
  }
  // A mask as plain bits: left as a vector of truths, two lanes of them turn
  // into a branch per lane on SSE2.
  static KESTRUNE_INLINE Masks Bits(Masks m) {
#if defined(__GNUC__) && defined(__x86_64__)
    if (W == 2) __asm__("" : "+x"(m));
#endif
    return m;
  }
  // a where the mask is set, else b.
  static KESTRUNE_INLINE Doubles Select(Masks m, Doubles a, Doubles b) {
    return reinterpret_cast<Doubles>((reinterpret_cast<Masks>(a) & m) | (reinterpret_cast<Masks>(b) & ~m));
  }
  static KESTRUNE_INLINE Doubles Zeroed(Masks keep, Doubles a) {
    return reinterpret_cast<Doubles>(reinterpret_cast<Masks>(a) & keep);
  }
  static KESTRUNE_INLINE long long Total(Masks m) {
    long long sum = 0;
    for (size_t lane = 0; lane < W; ++lane) sum += m[lane];
    return sum;
  }
  static KESTRUNE_INLINE double Sum(Doubles v) {
    double sum = 0.0;
    for (size_t lane = 0; lane < W; ++lane) sum += v[lane];
    return sum;
  }
  static KESTRUNE_INLINE double Greatest(Doubles v) {
    double most = v[0];
    for (size_t lane = 1; lane < W; ++lane) most = std::max(most, v[lane]);
    return most;
  }

  // Squared distances from (x, y) to the count records at xs, ys and their
  // values into d and v, in whole vectors: up to W - 1 past count are read
  // (the grid's arrays run on that far) and written (the buffers have room).
  // On the way, the sums over those below t (but the one at skip, the record
  // judged) go on in the lanes of the running sums.
  struct Sums {
    Masks count = NoMask();
    Doubles sum = Splat(0.0), most = Splat(-std::numeric_limits<double>::infinity()), squares = Splat(0.0);
    LanesBelow Total() const {
      return {size_t(Lanes::Total(count)), Lanes::Sum(sum), Lanes::Greatest(most), Lanes::Sum(squares)};
    }
  };
  // What one record's gathering compares with, set once for the record.
  struct Frame {
    Doubles px, py, limit, mid;
    Doubles none = Splat(-std::numeric_limits<double>::infinity()), width = Splat(double(W)), lanes;
    Frame(double x, double y, double t, double centre) : px(Splat(x)), py(Splat(y)), limit(Splat(t)), mid(Splat(centre)) {
      // Lane numbers as doubles: SSE2 compares doubles, not 64-bit integers.
      for (size_t lane = 0; lane < W; ++lane) lanes[lane] = double(lane);
    }
  };
  static KESTRUNE_INLINE void Gather(const double* xs, const double* ys, const double* vs, size_t count,
                                     const Frame& f, double* d, double* v, size_t skip, Sums& sums) {
    const Doubles px = f.px, py = f.py, limit = f.limit, mid = f.mid, none = f.none, width = f.width;
    Doubles index = f.lanes;
    const Doubles end = Splat(double(count)), self = Splat(skip == SIZE_MAX ? -1.0 : double(skip));
    for (size_t k = 0; k < count; k += W) {
      const Doubles dx = Load(xs + k) - px, dy = Load(ys + k) - py;
      const Doubles dd = dx * dx + dy * dy, vv = Load(vs + k);
      Store(d + k, dd);
      Store(v + k, vv);
      const Masks in = Bits(dd < limit) & Bits(index < end) & Bits(index != self);
      sums.count -= in;
      sums.sum += Zeroed(in, vv);
      const Doubles off = vv - mid;
      sums.squares += Zeroed(in, off * off);
      const Doubles high = Select(in, dd, none);
      sums.most = Select(Bits(high > sums.most), high, sums.most);
      index += width;
    }
  }

  // Over d[0, n) below t (n a whole number of vectors).
  static KESTRUNE_INLINE LanesBelow SumBelow(const double* d, const double* v, size_t n, double t, double centre) {
    const Doubles limit = Splat(t), none = Splat(-std::numeric_limits<double>::infinity()), mid = Splat(centre);
    Masks count = NoMask();
    Doubles sum = Splat(0.0), most = none, squares = Splat(0.0);
    for (size_t k = 0; k < n; k += W) {
      const Doubles dd = Load(d + k), vv = Load(v + k);
      const Masks in = Bits(dd < limit);
      count -= in;
      sum += Zeroed(in, vv);
      const Doubles off = vv - mid;
      squares += Zeroed(in, off * off);
      const Doubles high = Select(in, dd, none);
      most = Select(Bits(high > most), high, most);
    }
    return {size_t(Total(count)), Sum(sum), Greatest(most), Sum(squares)};
  }

  // The least of d[0, n) at or above t.
  static KESTRUNE_INLINE LanesLeast LeastFrom(const double* d, const double* v, size_t n, double t, double centre) {
    const Doubles limit = Splat(t), mid = Splat(centre);
    Doubles least = Splat(std::numeric_limits<double>::infinity()), sum = Splat(0.0), squares = Splat(0.0);
    Masks count = NoMask();
    for (size_t k = 0; k < n; k += W) {
      const Doubles dd = Load(d + k), vv = Load(v + k);
      const Masks lower = Bits(dd >= limit) & Bits(dd < least);
      const Masks same = Bits(dd == least);
      const Doubles off = vv - mid;
      least = Select(lower, dd, least);
      count = (lower & 1) | (~lower & (count - same));
      sum = Select(lower, vv, sum + Zeroed(same, vv));
      squares = Select(lower, off * off, squares + Zeroed(same, off * off));
    }
    LanesLeast out{least[0], 0, 0.0, 0.0};
    for (size_t lane = 1; lane < W; ++lane) out.d = std::min(out.d, least[lane]);
    if (!(out.d < std::numeric_limits<double>::infinity())) return out;
    for (size_t lane = 0; lane < W; ++lane) {
      if (least[lane] == out.d) {
        out.count += size_t(count[lane]);
        out.sum += sum[lane];
        out.squares += squares[lane];
      }
    }
    return out;
  }

  // The greatest of d[0, n) below t (minus infinity when none) and how many equal it.
  static KESTRUNE_INLINE std::pair<double, size_t> GreatestBelow(const double* d, size_t n, double t) {
    const Doubles limit = Splat(t), none = Splat(-std::numeric_limits<double>::infinity());
    Doubles most = none;
    for (size_t k = 0; k < n; k += W) {
      const Doubles dd = Select(Bits(Load(d + k) < limit), Load(d + k), none);
      most = Select(Bits(dd > most), dd, most);
    }
    const double top = Greatest(most);
    if (!(top > -std::numeric_limits<double>::infinity())) return {top, 0};
    Masks equal = NoMask();
    const Doubles at = Splat(top);
    for (size_t k = 0; k < n; k += W) equal -= Bits(Load(d + k) == at);
    return {top, size_t(Total(equal))};
  }

  // Over d[0, n) below t: the sum of (v - mean) squared.
  static KESTRUNE_INLINE double SquaresBelow(const double* d, const double* v, size_t n, double t, double mean) {
    const Doubles limit = Splat(t), centre = Splat(mean);
    Doubles sum = Splat(0.0);
    for (size_t k = 0; k < n; k += W) {
      const Doubles off = Load(v + k) - centre;
      sum += Zeroed(Bits(Load(d + k) < limit), off * off);
    }
    return Sum(sum);
  }
};

// The next double above a finite d >= 0.
inline double NextUp(double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  bits += 1;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

// A search bounded by the record judged before scans at most this many
// cells; a wider one goes ring by ring.
constexpr int64_t kMaxCapCells = 256;

// A cell index for a place q cells from the grid's edge, clamped to [0, last].
inline int64_t CellIndex(double q, int64_t last) {
  return q <= 0.0 ? 0 : q >= double(last) ? last : int64_t(q);
}

// The rows of cells a bounded search reads at most.
constexpr size_t kMaxCapRows = size_t(kMaxCapCells);

// Judges the records of cells [fromCell, toCell) of the grid in cell order
// (and, within a cell, in the order of x), so the record judged before mostly
// lies a step away along the pass and its neighbours are in the cache.
//
// Every one of the n nearest of the record judged before lies at most its
// n-th nearest distance plus the step from the record judged now, which caps
// the search: the records within the cap's circle are gathered, each row of
// cells over the columns the circle reaches in it, as runs of memory (their
// squared distances and values side by side). The n nearest are then the
// records below a threshold: first the n-th nearest distance of the record
// judged before, moved over the next distance up (or down) until exactly n
// lie below it, mostly in no step or one. Records on one distance at the edge
// (which no threshold parts) are put in order, ties going to the lower record
// number. A record without a record judged before, or a cap too wide, is
// searched ring by ring. The records removed go to hits by record number.
// With tells, the progress is told now and then; every share stops when told
// to.
template <size_t W>
KESTRUNE_INLINE void JudgeCells(const NeighbourGrid& grid, const CleanSettings& s, size_t fromCell, size_t toCell,
                                bool tells, RunProgress& progress, std::vector<uint32_t>& hits) {
  using L = Lanes<W>;
  constexpr size_t kWidth = W;
  const size_t wanted = size_t(s.localN);
  const double side = grid.Side(), tolerance = grid.Tolerance();
  // Places in cells by a product: the tolerance covers its rounding.
  const double perSide = 1.0 / side;
  const double left = grid.Left(), bottom = grid.Bottom();
  const int64_t cols = grid.Cols(), rows = int64_t(grid.Cells()) / cols;
  const double* const xs = grid.Xs();
  const double* const ys = grid.Ys();
  const double* const vs = grid.Values();
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<double> dist(wanted), vals(wanted), nearest(wanted);
  std::vector<uint32_t> near(wanted);
  // The records gathered: squared distances and values, run after run.
  std::vector<double> gd(1024), gv(1024);
  struct Run {
    uint32_t from, at, count;  // slots [from, from + count) at gd[at]
  };
  std::vector<Run> runs(kMaxCapRows);
  size_t runCount = 0;
  std::vector<Candidate> edge;
  const auto closer = [&](const Candidate& a, const Candidate& b) {
    return a.d < b.d || (a.d == b.d && grid.Record(a.slot) < grid.Record(b.slot));
  };
  const uint32_t first = grid.CellStart(fromCell);
  const double share = std::max(1.0, double(grid.CellStart(toCell) - first));
  uint32_t nextTell = first + 8192;
  bool previous = false;
  double lastX = 0.0, lastY = 0.0, lastNth = 0.0;  // lastNth squared
  for (size_t c = fromCell; c < toCell; ++c) {
    const uint32_t s0 = grid.CellStart(c), s1 = grid.CellStart(c + 1);
    if (s0 == s1) continue;
    if (s0 >= nextTell) {
      nextTell = s0 + 8192;
      if (tells ? !progress.Tell(progress.done, kLocalWeight, double(s0 - first) / share) : progress.Stopped()) return;
    }
    for (uint32_t slot = s0; slot < s1; ++slot) {
      const double x = xs[slot], y = ys[slot];
      const double value = grid.Value(slot);
      size_t m = 0;
      // Found by the threshold: the n nearest are those of gd below it.
      bool below = false;
      double threshold = 0.0, mean = 0.0, sigma = 0.0;
      size_t gathered = 0;
      runCount = 0;
      // Decided as kept by the sums alone.
      bool clear = false;
      if (previous) {
        const double step = std::sqrt((x - lastX) * (x - lastX) + (y - lastY) * (y - lastY));
        const double above = std::sqrt(lastNth) + step;
        const double cap = above * above * (1.0 + 1e-9) + 1e-12;
        const double r = std::sqrt(cap) + tolerance;
        const int64_t c0 = CellIndex((x - left - r) * perSide, cols - 1);
        const int64_t c1 = CellIndex((x - left + r) * perSide, cols - 1);
        const int64_t r0 = CellIndex((y - bottom - r) * perSide, rows - 1);
        const int64_t r1 = CellIndex((y - bottom + r) * perSide, rows - 1);
        size_t self = SIZE_MAX;
        typename L::Sums sums;
        const typename L::Frame frame(x, y, lastNth, value);
        if ((c1 - c0 + 1) * (r1 - r0 + 1) <= kMaxCapCells) {
          for (int64_t row = r0; row <= r1; ++row) {
            if (grid.CellStart(size_t(row * cols)) == grid.CellStart(size_t(row * cols + cols))) continue;
            // The columns the circle reaches in this row, across from the
            // record by the row's least distance from it.
            const double low = bottom + double(row) * side;
            const double gap = std::max(std::max(low - y, y - (low + side)) - tolerance, 0.0);
            const double reach = gap <= 0.0 ? r : gap * gap < cap ? std::sqrt(cap - gap * gap) + tolerance : tolerance;
            const int64_t a = CellIndex((x - left - reach) * perSide, cols - 1);
            const int64_t b = CellIndex((x - left + reach) * perSide, cols - 1);
            const uint32_t from = grid.CellStart(size_t(row * cols + a));
            const uint32_t to = grid.CellStart(size_t(row * cols + b) + 1);
            if (from >= to) continue;
            if (gd.size() < gathered + (to - from) + 2 * kWidth) {
              gd.resize(2 * (gathered + (to - from) + 2 * kWidth));
              gv.resize(gd.size());
            }
            const size_t skip = slot >= from && slot < to ? slot - from : SIZE_MAX;
            L::Gather(xs + from, ys + from, vs + from, to - from, frame, gd.data() + gathered, gv.data() + gathered,
                      skip, sums);
            if (skip != SIZE_MAX) self = gathered + skip;
            runs[runCount++] = Run{from, uint32_t(gathered), to - from};
            gathered += to - from;
          }
        }
        if (self != SIZE_MAX) {
          // Whole vectors: those past the last record are beyond reach.
          const size_t n = (gathered + kWidth - 1) / kWidth * kWidth;
          for (size_t k = gathered; k < n; ++k) {
            gd[k] = inf;
            gv[k] = 0.0;
          }
          gd[self] = inf;
          const double* const d = gd.data();
          const double* const v = gv.data();
          // Exactly n below the threshold; or count below it, plus some of
          // those on it (ties at the edge).
          threshold = lastNth;
          LanesBelow found = sums.Total();
          bool tied = false, lost = false;
          while (found.count < wanted) {
            const LanesLeast next = L::LeastFrom(d, v, n, threshold, value);
            if (!(next.d <= cap)) {
              lost = true;  // rounding beyond the cap: searched ring by ring
              break;
            }
            if (found.count + next.count > wanted) {
              threshold = next.d;
              tied = true;
              break;
            }
            found.count += next.count;
            found.sum += next.sum;
            found.squares += next.squares;
            found.most = next.d;
            threshold = NextUp(next.d);
          }
          if (!tied && !lost && found.count > wanted) {
            while (found.count > wanted) {
              const auto [most, equal] = L::GreatestBelow(d, n, threshold);
              found.count -= equal;
              threshold = most;
            }
            tied = found.count < wanted;
            if (!tied) found = L::SumBelow(d, v, n, threshold, value);
          }
          if (!lost && !tied) {
            below = true;
            m = wanted;
            lastNth = found.most;
            mean = found.sum / double(m);
            // The squared differences from the record's own value average
            // sigma squared plus off squared (off its distance from the
            // mean), so off well within (k - 1) sigma shows without sigma:
            // the median lies within one sigma of the mean.
            const double off = std::fabs(value - mean), k1 = s.localK - 1.0;
            clear = k1 > 0.0 && off * off * (1.0 + k1 * k1) <= k1 * k1 * (found.squares / double(m)) * (1.0 - 1e-9);
            if (!clear) sigma = std::sqrt(L::SquaresBelow(d, v, n, threshold, mean) / double(m));
          } else if (tied) {
            // Those below, then those on the threshold by record number.
            size_t in = 0;
            edge.clear();
            for (size_t q0 = 0; q0 < runCount; ++q0) {
              const Run& run = runs[q0];
              for (uint32_t q = 0; q < run.count; ++q) {
                const double dq = d[run.at + q];
                if (dq < threshold) {
                  dist[in] = dq;
                  near[in++] = run.from + q;
                } else if (dq == threshold) {
                  edge.push_back(Candidate{dq, run.from + q});
                }
              }
            }
            std::sort(edge.begin(), edge.end(), closer);
            for (size_t q = 0; in < wanted && q < edge.size(); ++q) {
              dist[in] = edge[q].d;
              near[in++] = edge[q].slot;
            }
            m = in == wanted ? wanted : 0;
          }
        }
      }
      if (m == 0) m = grid.Nearest(slot, c, wanted, inf, dist, near);
      previous = m == wanted;
      lastX = x;
      lastY = y;
      if (clear) continue;
      // The mean and deviation, summed nearest first. The sums in any
      // other order differ in the last bits only: they decide every
      // record but those within a hair of the limit, which are decided
      // again over the nearest put in order.
      const auto moments = [&](double& mean, double& sigma) {
        double sum = 0.0;
        for (size_t k = 0; k < m; ++k) {
          nearest[k] = grid.Value(near[k]);
          sum += nearest[k];
        }
        mean = sum / double(m);
        double squares = 0.0;
        for (size_t k = 0; k < m; ++k) squares += (nearest[k] - mean) * (nearest[k] - mean);
        sigma = std::sqrt(squares / double(m));
      };
      if (!below) {
        lastNth = 0.0;
        for (size_t k = 0; k < m; ++k) lastNth = std::max(lastNth, dist[k]);
        moments(mean, sigma);
      }
      // The median lies within one standard deviation of the mean, so a
      // value well inside (or well beyond) k - 1 (k + 1) of them from
      // the mean is decided without it; the margin is far above the
      // rounding of the sums.
      const double off = std::fabs(value - mean);
      const double margin = 1e-9 * (std::fabs(mean) + std::fabs(value) + sigma);
      if (off + margin <= (s.localK - 1.0) * sigma) continue;
      if (off - margin > (s.localK + 1.0) * sigma) {
        hits.push_back(grid.Record(slot));
        continue;
      }
      if (below) {
        size_t in = 0;
        for (size_t k = 0; k < gathered; ++k) {
          vals[in] = gv[k];
          in += gd[k] < threshold;
          if (in == m) break;
        }
      } else {
        std::copy(nearest.begin(), nearest.begin() + long(m), vals.begin());
      }
      const size_t half = m / 2;
      std::nth_element(vals.begin(), vals.begin() + long(half), vals.begin() + long(m));
      double median = vals[half];
      if (m % 2 == 0) median = (median + *std::max_element(vals.begin(), vals.begin() + long(half))) / 2.0;
      if (std::fabs(std::fabs(value - median) - s.localK * sigma) <= margin * (1.0 + s.localK)) {
        if (below) {
          // The nearest in the near list, to be put in order.
          size_t in = 0;
          for (size_t q0 = 0; q0 < runCount; ++q0) {
            const Run& run = runs[q0];
            for (uint32_t q = 0; q < run.count; ++q) {
              if (gd[run.at + q] < threshold) {
                dist[in] = gd[run.at + q];
                near[in++] = run.from + q;
              }
            }
          }
        }
        grid.OrderNearest(m, dist, near);
        moments(mean, sigma);
      }
      if (std::fabs(value - median) > s.localK * sigma) hits.push_back(grid.Record(slot));
    }
  }
}

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
// Four lanes at a time, for processors with AVX2.
__attribute__((target("avx2"))) void JudgeLocalWide(const NeighbourGrid& grid, const CleanSettings& s,
                                                    size_t fromCell, size_t toCell, bool tells, RunProgress& progress,
                                                    std::vector<uint32_t>& hits) {
  JudgeCells<4>(grid, s, fromCell, toCell, tells, progress, hits);
}
#endif

std::atomic<int> localLanes{0};

// Judges the records of cells [fromCell, toCell), four lanes at a time where
// the processor has AVX2, else two.
void JudgeLocal(const NeighbourGrid& grid, const CleanSettings& s, size_t fromCell, size_t toCell, bool tells,
                RunProgress& progress, std::vector<uint32_t>& hits) {
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
  if (localLanes.load(std::memory_order_relaxed) != 2 && __builtin_cpu_supports("avx2")) {
    JudgeLocalWide(grid, s, fromCell, toCell, tells, progress, hits);
    return;
  }
#endif
  JudgeCells<2>(grid, s, fromCell, toCell, tells, progress, hits);
}

// The values one filter reads: the shifted ones for the flow field.
const std::vector<double>& FieldValues(const CleanInput& in, const CleanSettings& s, const std::vector<double>& shifted,
                                       int field) {
  if (s.IsOn(CleanFilter::Flow) && field == s.flowField) return shifted;
  return *in.Values(field);
}

// A hash of a place, equal for equal places (minus zero as zero).
uint64_t PlaceHash(double x, double y) {
  x += 0.0;
  y += 0.0;
  uint64_t a, b;
  std::memcpy(&a, &x, sizeof a);
  std::memcpy(&b, &y, sizeof b);
  uint64_t h = (a ^ (b * 0x9E3779B97F4A7C15ull)) * 0xBF58476D1CE4E5B9ull;
  return h ^ (h >> 31);
}

// The records that may be duplicates: within each run of one time (in time
// order), the records with a place that share it with another, one group per
// place, in the run's order (file order). Which of a group go depends only
// on which are still kept when the filter runs (the first kept one stays),
// so the groups are found before, beside other work.
struct DuplicateGroups {
  std::vector<uint32_t> members;  // group after group
  std::vector<uint32_t> start;    // group g is members[start[g], start[g + 1])
};

DuplicateGroups FindDuplicateGroups(const CleanInput& in, const TimeOrdering& timeOrder) {
  DuplicateGroups out;
  out.start.push_back(0);
  const std::vector<uint32_t>& order = timeOrder.order;
  const double* const times = timeOrder.times;
  std::vector<uint32_t> table;
  std::vector<std::pair<uint32_t, uint32_t>> pairs;  // (the place's first record, a record), in run order
  for (size_t k = 0; k < order.size();) {
    size_t end = k + 1;
    while (end < order.size() && times[end] == times[k]) ++end;
    if (end - k == 2) {
      // Two records of one time (a log of whole seconds logged twice over):
      // a group when they share a place.
      const uint32_t a = order[k], b = order[k + 1];
      if (Finite(in.x[a]) && Finite(in.y[a]) && in.x[a] == in.x[b] && in.y[a] == in.y[b]) {
        out.members.push_back(a);
        out.members.push_back(b);
        out.start.push_back(uint32_t(out.members.size()));
      }
    } else if (end - k > 2) {
      size_t size = 16;
      while (size < 2 * (end - k)) size *= 2;
      table.assign(size, UINT32_MAX);
      pairs.clear();
      bool shared = false;
      for (size_t q = k; q < end; ++q) {
        const uint32_t i = order[q];
        if (!Finite(in.x[i]) || !Finite(in.y[i])) continue;
        const uint64_t h = PlaceHash(in.x[i], in.y[i]);
        for (size_t at = size_t(h) & (size - 1);; at = (at + 1) & (size - 1)) {
          const uint32_t other = table[at];
          if (other == UINT32_MAX) {
            table[at] = i;
            pairs.emplace_back(i, i);
            break;
          }
          if (in.x[other] == in.x[i] && in.y[other] == in.y[i]) {
            pairs.emplace_back(other, i);
            shared = true;
            break;
          }
        }
      }
      if (shared) {
        // Each place's records together, in the run's order (a stable sort
        // by the place's first record).
        std::stable_sort(pairs.begin(), pairs.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (size_t q = 0; q < pairs.size();) {
          size_t last = q + 1;
          while (last < pairs.size() && pairs[last].first == pairs[q].first) ++last;
          if (last - q > 1) {
            for (size_t r = q; r < last; ++r) out.members.push_back(pairs[r].second);
            out.start.push_back(uint32_t(out.members.size()));
          }
          q = last;
        }
      }
    }
    k = end;
  }
  return out;
}

// The local outliers among items (record numbers in file order, each with
// a finite value in v and a place), their grid's rows laid along y when swap
// (along x otherwise), in no particular order.
std::vector<uint32_t> LocalOutliers(const CleanInput& in, const CleanSettings& s, const std::vector<uint32_t>& items,
                                    const std::vector<double>& v, bool swap, RunProgress& progress) {
  if (items.size() < 2 || s.localN < 1) return {};
  const NeighbourGrid grid(in, items, v, kLocalPerCell, swap);
  // The cells are cut into runs of about as many records, more runs than
  // cores, which each core takes one after another as it gets done: a core
  // the machine gives less time to takes fewer. Each keeps its own list of
  // the records it removes. A run's first record is searched without a
  // record judged before.
  const size_t cores = std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 16);
  const size_t parts = items.size() < 20000 ? 1 : cores;
  const size_t runs = parts == 1 ? 1 : std::clamp<size_t>(items.size() / 1024, parts, 64 * parts);
  std::vector<size_t> cut(runs + 1, grid.Cells());
  cut[0] = 0;
  for (size_t t = 1; t < runs; ++t) {
    size_t c = cut[t - 1];
    while (c < grid.Cells() && grid.CellStart(c) < items.size() * t / runs) ++c;
    cut[t] = c;
  }
  std::vector<std::vector<uint32_t>> hits(parts);
  if (runs == 1) {
    JudgeLocal(grid, s, 0, grid.Cells(), true, progress, hits[0]);
    return std::move(hits[0]);
  }
  std::atomic<size_t> next{0};
  std::atomic<size_t> judged{0}, finished{0}, told{0};
  // Only this thread tells the progress (by the records of the runs done).
  // While it is told, the other cores keep at most a few runs ahead of what
  // this one last told, so the progress rises in small steps however little
  // time the machine gives this thread.
  const size_t lead = std::max<size_t>(2, runs / 32);
  const auto work = [&](size_t part) {
    for (;;) {
      while (part != 0 && progress.Active() && !progress.Stopped() && next.load() < runs &&
             next.load() > told.load() + lead) {
        std::this_thread::yield();
      }
      const size_t run = next.fetch_add(1);
      if (run >= runs || progress.Stopped()) return;
      JudgeLocal(grid, s, cut[run], cut[run + 1], false, progress, hits[part]);
      const size_t done = judged += grid.CellStart(cut[run + 1]) - grid.CellStart(cut[run]);
      const size_t runsDone = ++finished;
      if (part == 0) {
        if (!progress.Tell(progress.done, kLocalWeight, double(done) / double(items.size()))) return;
        told = runsDone;
      }
    }
  };
  std::vector<std::thread> workers;
  for (size_t t = 1; t < parts; ++t) workers.emplace_back(work, t);
  work(0);
  for (std::thread& w : workers) w.join();
  for (size_t t = 1; t < parts; ++t) hits[0].insert(hits[0].end(), hits[t].begin(), hits[t].end());
  return std::move(hits[0]);
}

// Marks in hit the records of keep that are local outliers of the values v.
void LocalHits(const CleanInput& in, const CleanSettings& s, const Mask& keep, const std::vector<double>& v, Mask& hit,
               RunProgress& progress) {
  const size_t n = in.size();
  std::vector<uint32_t> items;
  items.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    if (keep[i] && Finite(v[i]) && Finite(in.x[i]) && Finite(in.y[i])) items.push_back(uint32_t(i));
  }
  // The passes run along the axis the records move along the most.
  double alongX = 0.0, alongY = 0.0;
  for (size_t q = 1; q < items.size(); ++q) {
    alongX += std::fabs(in.x[items[q]] - in.x[items[q - 1]]);
    alongY += std::fabs(in.y[items[q]] - in.y[items[q - 1]]);
  }
  for (uint32_t i : LocalOutliers(in, s, items, v, alongY > alongX, progress)) hit[i] = 1;
}

// Marks in hit the records of keep that filter f removes.
void RunFilter(CleanFilter f, const CleanInput& in, const CleanSettings& s, const Mask& keep,
               const std::vector<double>& speeds, const std::vector<double>& shifted,
               const std::vector<uint8_t>& noSource, const std::vector<uint8_t>& passMember,
               const TimeOrdering& timeOrder, Mask& hit, RunProgress& progress) {
  const size_t n = in.size();
  // A record the shift leaves without a value is the flow filter's to remove.
  const bool skipNoSource = s.IsOn(CleanFilter::Flow) && s.rangeField == s.flowField;
  switch (f) {
    case CleanFilter::Range: {
      const std::vector<double>& v = FieldValues(in, s, shifted, s.rangeField);
      for (size_t i = 0; i < n; ++i) {
        if (skipNoSource && noSource[i]) continue;
        if (keep[i] && !(v[i] >= s.rangeMin && v[i] <= s.rangeMax)) hit[i] = 1;
      }
      break;
    }
    case CleanFilter::Speed:
      for (size_t i = 0; i < n; ++i) {
        if (keep[i] && Finite(speeds[i]) && (speeds[i] < s.speedMin || speeds[i] > s.speedMax)) hit[i] = 1;
      }
      break;
    case CleanFilter::StdDev: {
      const std::vector<double>& v = FieldValues(in, s, shifted, s.sdField);
      double sum = 0.0;
      size_t count = 0;
      for (size_t i = 0; i < n; ++i) {
        if (keep[i] && Finite(v[i])) {
          sum += v[i];
          ++count;
        }
      }
      if (count == 0) break;
      const double mean = sum / double(count);
      double squares = 0.0;
      for (size_t i = 0; i < n; ++i) {
        if (keep[i] && Finite(v[i])) squares += (v[i] - mean) * (v[i] - mean);
      }
      const double limit = s.sdK * std::sqrt(squares / double(count));
      for (size_t i = 0; i < n; ++i) {
        if (keep[i] && Finite(v[i]) && std::fabs(v[i] - mean) > limit) hit[i] = 1;
      }
      break;
    }
    case CleanFilter::Local:
      LocalHits(in, s, keep, FieldValues(in, s, shifted, s.localField), hit, progress);
      break;
    case CleanFilter::Pass: {
      Mask all(n, 0);
      PassDelay(in, s, passMember, all);
      for (size_t i = 0; i < n; ++i) hit[i] = keep[i] && all[i];
      break;
    }
    case CleanFilter::Flow:
      for (size_t i = 0; i < n; ++i) {
        if (keep[i] && noSource[i]) hit[i] = 1;
      }
      break;
    case CleanFilter::Duplicates: {
      if (!in.time.empty()) {
        // In time order, within each run of equal times, the first record of
        // each place in file order (the run's order) stays: the places seen
        // go into a small table keyed by their bits.
        const std::vector<uint32_t>& order = timeOrder.order;
        const double* const times = timeOrder.times;
        std::vector<uint32_t> table;
        for (size_t k = 0; k < order.size();) {
          size_t end = k + 1;
          while (end < order.size() && times[end] == times[k]) ++end;
          if (end - k > 1) {
            size_t size = 16;
            while (size < 2 * (end - k)) size *= 2;
            table.assign(size, UINT32_MAX);
            for (size_t q = k; q < end; ++q) {
              const uint32_t i = order[q];
              // A record without a place is nobody's duplicate.
              if (!keep[i] || !Finite(in.x[i]) || !Finite(in.y[i])) continue;
              const uint64_t h = PlaceHash(in.x[i], in.y[i]);
              for (size_t at = size_t(h) & (size - 1);; at = (at + 1) & (size - 1)) {
                const uint32_t other = table[at];
                if (other == UINT32_MAX) {
                  table[at] = i;
                  break;
                }
                if (in.x[other] == in.x[i] && in.y[other] == in.y[i]) {
                  hit[i] = 1;
                  break;
                }
              }
            }
          }
          k = end;
        }
        break;
      }
      std::vector<uint32_t> order;
      order.reserve(n);
      for (size_t i = 0; i < n; ++i) {
        if (keep[i] && Finite(in.x[i])) order.push_back(uint32_t(i));
      }
      const auto key = [&](uint32_t i) { return std::make_tuple(in.x[i], in.y[i]); };
      std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return key(a) < key(b); });
      // Within a run of equal places the first in file order stays.
      for (size_t k = 1; k < order.size(); ++k) {
        if (key(order[k]) == key(order[k - 1])) hit[order[k]] = 1;
      }
      break;
    }
    case CleanFilter::Width:
      for (size_t i = 0; i < n; ++i) {
        const double w = in.width[i];
        if (keep[i] && !(w > 0.0 && w >= s.minWidth)) hit[i] = 1;
      }
      break;
  }
}

// CleanLog without the counts alone: the same removals, with the work that
// does not wait on the filters before it done beside the work that does.
//
// The range, speed, pass, flow and width filters judge each record on its
// own; what they would remove is worked out first (the speeds, passes and
// widths beside the time order and the flow delay's shift) and taken off in
// the filters' order, each from what the ones before it kept. The standard
// deviations and the local outliers depend on what those before kept and
// run in turn; the duplicates' groups (records of one time and place) are
// found beside the shift and the passes of range, speed and deviations, and
// the first record of each group still kept when the filter runs stays.
CleanResult CleanAtOnce(const CleanInput& in, const CleanSettings& s, const CleanProgress& tell) {
  const size_t n = in.size();
  CleanResult result;
  result.removedBy.assign(n, 0);
  result.alone.fill(-1);
  result.after.fill(-1);
  double steps = 0.0;
  for (int index = 0; index < kCleanFilterCount; ++index) {
    const CleanFilter f = static_cast<CleanFilter>(index);
    if (s.IsOn(f)) steps += f == CleanFilter::Local ? kLocalWeight : 1.0;
  }
  RunProgress progress(tell, steps);
  const auto stopped = [&] {
    result.cancelled = true;
    return result;
  };
  if (!progress.Tell(0.0, 0.0, 0.0)) return stopped();
  const bool flow = s.IsOn(CleanFilter::Flow);
  const bool timedDuplicates = s.IsOn(CleanFilter::Duplicates) && !in.time.empty();
  // The duplicates' groups are worth finding ahead only beside other work;
  // else the filter seeks the duplicates in its turn.
  const bool groupsAhead =
      timedDuplicates && (flow || s.IsOn(CleanFilter::Range) || s.IsOn(CleanFilter::Speed) ||
                          s.IsOn(CleanFilter::StdDev) || s.IsOn(CleanFilter::Local));
  if (flow) result.flowField = s.flowField;

  // What each filter that judges a record on its own would remove, a bit each.
  enum : uint8_t { kRange = 1, kSpeed = 2, kPass = 4, kFlow = 8, kWidth = 16 };
  std::vector<uint8_t> judged(n, 0);
  TimeOrdering timeOrder;
  std::vector<uint8_t> noSource;
  std::vector<double> speeds;
  DuplicateGroups groups;
  // The duplicates' groups, found beside the flow delay's shift and the
  // range, speed and standard deviations.
  std::unique_ptr<Beside> grouping;
  {
    // The time order beside the speeds, passes and widths.
    std::unique_ptr<Beside> ordering;
    if (flow || timedDuplicates) ordering = std::make_unique<Beside>([&] { timeOrder = TimeOrder(in); });
    if (s.IsOn(CleanFilter::Speed)) {
      speeds = RecordSpeeds(in);
      for (size_t i = 0; i < n; ++i) {
        if (Finite(speeds[i]) && (speeds[i] < s.speedMin || speeds[i] > s.speedMax)) judged[i] |= kSpeed;
      }
    }
    if (s.IsOn(CleanFilter::Pass)) {
      Mask all(n, 0);
      PassDelay(in, s, PassMembers(in), all);
      for (size_t i = 0; i < n; ++i) judged[i] |= all[i] ? kPass : 0;
    }
    if (s.IsOn(CleanFilter::Width)) {
      for (size_t i = 0; i < n; ++i) {
        const double w = in.width[i];
        if (!(w > 0.0 && w >= s.minWidth)) judged[i] |= kWidth;
      }
    }
    if (ordering) ordering->Join();
    if (groupsAhead) grouping = std::make_unique<Beside>([&] { groups = FindDuplicateGroups(in, timeOrder); });
    if (flow) result.shifted = ShiftValues(in, s, timeOrder, noSource);
    // Each record's range and flow bits, in a part of the log on each core.
    const bool range = s.IsOn(CleanFilter::Range);
    const std::vector<double>& v = range ? FieldValues(in, s, result.shifted, s.rangeField) : result.shifted;
    const bool skipNoSource = flow && s.rangeField == s.flowField;
    InParts(n, n < 20000 || !(range || flow) ? 1 : 2, [&](size_t, size_t from, size_t to) {
      if (!(range || flow)) return;
      for (size_t i = from; i < to; ++i) {
        if (flow && noSource[i]) judged[i] |= kFlow;
        if (!range || (skipNoSource && noSource[i])) continue;
        if (!(v[i] >= s.rangeMin && v[i] <= s.rangeMax)) judged[i] |= kRange;
      }
    });
  }

  Mask keep(n, 1);
  const auto off = [&](size_t i, CleanFilter f) {
    keep[i] = 0;
    result.removedBy[i] = uint8_t(int(f) + 1);
  };
  // Tells the progress before the filters of a step and counts them done
  // after; false when told to stop.
  const auto before = [&](std::initializer_list<CleanFilter> filters) {
    double weight = 0.0;
    for (CleanFilter f : filters) {
      if (s.IsOn(f)) weight += f == CleanFilter::Local ? kLocalWeight : 1.0;
    }
    return weight == 0.0 || progress.Tell(progress.done, weight, 0.0);
  };
  const auto done = [&](std::initializer_list<CleanFilter> filters) {
    for (CleanFilter f : filters) {
      if (s.IsOn(f)) progress.done += f == CleanFilter::Local ? kLocalWeight : 1.0;
    }
    return !progress.Stopped();
  };
  const auto counted = [&](CleanFilter f, int64_t count) {
    if (s.IsOn(f)) result.after[size_t(f)] = count;
  };

  // The range and the speed, and the sum of the values the standard
  // deviations then read, in one pass (in record order, as the filter sums).
  const bool sd = s.IsOn(CleanFilter::StdDev), local = s.IsOn(CleanFilter::Local);
  const bool firstPass = s.IsOn(CleanFilter::Range) || s.IsOn(CleanFilter::Speed) || sd;
  if (!before({CleanFilter::Range, CleanFilter::Speed, CleanFilter::StdDev})) return stopped();
  const std::vector<double>* sdValues = sd ? &FieldValues(in, s, result.shifted, s.sdField) : nullptr;
  int64_t rangeCount = 0, speedCount = 0, sdCount = 0;
  double sum = 0.0;
  size_t finite = 0;
  for (size_t i = 0; i < (firstPass ? n : 0); ++i) {
    const uint8_t bits = judged[i];
    if (bits & kRange) {
      off(i, CleanFilter::Range);
      ++rangeCount;
    } else if (bits & kSpeed) {
      off(i, CleanFilter::Speed);
      ++speedCount;
    } else if (sd && Finite((*sdValues)[i])) {
      sum += (*sdValues)[i];
      ++finite;
    }
  }
  counted(CleanFilter::Range, rangeCount);
  counted(CleanFilter::Speed, speedCount);
  double mean = 0.0, limit = 0.0;
  const bool deviations = sd && finite > 0;
  if (deviations) {
    const std::vector<double>& v = *sdValues;
    mean = sum / double(finite);
    double squares = 0.0;
    for (size_t i = 0; i < n; ++i) {
      if (keep[i] && Finite(v[i])) squares += (v[i] - mean) * (v[i] - mean);
    }
    limit = s.sdK * std::sqrt(squares / double(finite));
  }
  // The standard deviations' removals, and the records the local filter
  // judges, in one pass.
  const std::vector<double>* localValues = local ? &FieldValues(in, s, result.shifted, s.localField) : nullptr;
  std::vector<uint32_t> items;
  double alongX = 0.0, alongY = 0.0;
  if (local) items.reserve(n);
  for (size_t i = 0; i < (deviations || local ? n : 0); ++i) {
    if (!keep[i]) continue;
    if (deviations && Finite((*sdValues)[i]) && std::fabs((*sdValues)[i] - mean) > limit) {
      off(i, CleanFilter::StdDev);
      ++sdCount;
      continue;
    }
    if (local && Finite((*localValues)[i]) && Finite(in.x[i]) && Finite(in.y[i])) {
      if (!items.empty()) {
        alongX += std::fabs(in.x[i] - in.x[items.back()]);
        alongY += std::fabs(in.y[i] - in.y[items.back()]);
      }
      items.push_back(uint32_t(i));
    }
  }
  counted(CleanFilter::StdDev, sdCount);
  if (!done({CleanFilter::Range, CleanFilter::Speed, CleanFilter::StdDev})) return stopped();

  // The local filter takes both cores.
  if (grouping) grouping->Join();
  if (local) {
    if (!before({CleanFilter::Local})) return stopped();
    const std::vector<uint32_t> outliers = LocalOutliers(in, s, items, *localValues, alongY > alongX, progress);
    if (progress.Stopped()) return stopped();
    for (uint32_t i : outliers) off(i, CleanFilter::Local);
    counted(CleanFilter::Local, int64_t(outliers.size()));
    if (!done({CleanFilter::Local})) return stopped();
  }

  // The pass and flow delays in one pass; then the duplicates; then the
  // widths with the count of what is kept.
  if (!before({CleanFilter::Pass, CleanFilter::Flow})) return stopped();
  int64_t passCount = 0, flowCount = 0;
  for (size_t i = 0; i < (s.IsOn(CleanFilter::Pass) || flow ? n : 0); ++i) {
    if (!keep[i]) continue;
    if (judged[i] & kPass) {
      off(i, CleanFilter::Pass);
      ++passCount;
    } else if (judged[i] & kFlow) {
      off(i, CleanFilter::Flow);
      ++flowCount;
    }
  }
  counted(CleanFilter::Pass, passCount);
  counted(CleanFilter::Flow, flowCount);
  if (!done({CleanFilter::Pass, CleanFilter::Flow})) return stopped();
  if (s.IsOn(CleanFilter::Duplicates)) {
    if (!before({CleanFilter::Duplicates})) return stopped();
    int64_t count = 0;
    if (groupsAhead) {
      for (size_t g = 0; g + 1 < groups.start.size(); ++g) {
        bool first = true;
        for (uint32_t q = groups.start[g]; q < groups.start[g + 1]; ++q) {
          const uint32_t i = groups.members[q];
          if (!keep[i]) continue;
          if (!first) {
            off(i, CleanFilter::Duplicates);
            ++count;
          }
          first = false;
        }
      }
    } else {
      Mask hit(n, 0);
      RunFilter(CleanFilter::Duplicates, in, s, keep, {}, result.shifted, noSource, {}, timeOrder, hit, progress);
      for (size_t i = 0; i < n; ++i) {
        if (hit[i]) {
          off(i, CleanFilter::Duplicates);
          ++count;
        }
      }
    }
    counted(CleanFilter::Duplicates, count);
    if (!done({CleanFilter::Duplicates})) return stopped();
  }
  if (!before({CleanFilter::Width})) return stopped();
  int64_t widthCount = 0;
  for (size_t i = 0; i < (s.IsOn(CleanFilter::Width) ? n : 0); ++i) {
    if (keep[i] && (judged[i] & kWidth)) {
      off(i, CleanFilter::Width);
      ++widthCount;
    }
  }
  counted(CleanFilter::Width, widthCount);
  if (!done({CleanFilter::Width})) return stopped();
  result.kept = std::count(keep.begin(), keep.end(), uint8_t{1});
  progress.Tell(steps, 0.0, 0.0);
  return result;
}

}  // namespace

void SetLocalOutlierLanes(int lanes) { localLanes = lanes; }

const char* CleanFilterName(CleanFilter filter) {
  static const char* const kNames[kCleanFilterCount] = {"range", "speed", "sd", "local",
                                                        "pass", "flow", "duplicates", "width"};
  return kNames[static_cast<int>(filter)];
}

bool CleanSettings::Any() const { return std::any_of(on.begin(), on.end(), [](bool b) { return b; }); }

std::vector<int> CleanSettings::ValueFields() const {
  std::vector<int> fields;
  const auto add = [&](CleanFilter f, int field) {
    if (IsOn(f) && field > 0 && std::find(fields.begin(), fields.end(), field) == fields.end()) fields.push_back(field);
  };
  add(CleanFilter::Range, rangeField);
  add(CleanFilter::StdDev, sdField);
  add(CleanFilter::Local, localField);
  add(CleanFilter::Flow, flowField);
  return fields;
}

const std::vector<double>* CleanInput::Values(int field) const {
  if (field <= 0 || size_t(field) >= values.size() || values[size_t(field)].size() != size()) return nullptr;
  return &values[size_t(field)];
}

std::string CleanSettingsProblem(const CleanInput& in, const CleanSettings& s) {
  for (CleanFilter f : {CleanFilter::Range, CleanFilter::StdDev, CleanFilter::Local, CleanFilter::Flow}) {
    const int field = f == CleanFilter::Range    ? s.rangeField
                      : f == CleanFilter::StdDev ? s.sdField
                      : f == CleanFilter::Local  ? s.localField
                                                 : s.flowField;
    if (s.IsOn(f) && !in.Values(field)) return std::string("the ") + CleanFilterName(f) + " filter has no numeric field";
  }
  const bool haveTime = !in.time.empty();
  if (s.IsOn(CleanFilter::Speed) && in.speed.empty() && !haveTime) {
    return "the speed filter needs a speed field or a time field";
  }
  if (s.IsOn(CleanFilter::Pass) && !haveTime &&
      ((!s.startDelay.records && s.startDelay.amount > 0) || (!s.endDelay.records && s.endDelay.amount > 0))) {
    return "a pass delay in seconds needs a time field";
  }
  if (s.IsOn(CleanFilter::Flow) && !haveTime && !s.flowDelay.records) {
    return "a flow delay in seconds needs a time field";
  }
  if (s.IsOn(CleanFilter::Width) && in.width.empty()) return "the width filter needs a width field";
  if (s.IsOn(CleanFilter::Local) && s.localN < 1) return "the local filter needs at least one neighbour";
  return {};
}

std::vector<double> RecordSpeeds(const CleanInput& in) {
  const size_t n = in.size();
  if (!in.speed.empty()) return in.speed;
  std::vector<double> speeds(n, kNaN);
  if (in.time.empty()) return speeds;
  const auto between = [&](size_t a, size_t b) {
    const double dt = in.time[b] - in.time[a];
    if (!(dt > 0.0)) return kNaN;
    return std::hypot(in.x[b] - in.x[a], in.y[b] - in.y[a]) / dt * in.speedUnitsPerMps;
  };
  for (size_t i = 1; i < n; ++i) speeds[i] = between(i - 1, i);
  if (n > 1) speeds[0] = between(0, 1);
  return speeds;
}

double Percentile(std::vector<double> values, double q) {
  values.erase(std::remove_if(values.begin(), values.end(), [](double v) { return !Finite(v); }), values.end());
  if (values.empty()) return kNaN;
  std::sort(values.begin(), values.end());
  const double at = std::clamp(q, 0.0, 1.0) * double(values.size() - 1);
  const size_t lo = size_t(at);
  const size_t hi = std::min(lo + 1, values.size() - 1);
  return values[lo] + (values[hi] - values[lo]) * (at - double(lo));
}

CleanResult CleanLog(const CleanInput& in, const CleanSettings& s, bool countAlone, const CleanProgress& tell) {
  if (!countAlone) return CleanAtOnce(in, s, tell);
  const size_t n = in.size();
  CleanResult result;
  result.removedBy.assign(n, 0);
  result.alone.fill(-1);
  result.after.fill(-1);
  std::vector<double> speeds;
  if (s.IsOn(CleanFilter::Speed)) speeds = RecordSpeeds(in);
  std::vector<uint8_t> noSource;
  if (s.IsOn(CleanFilter::Flow)) {
    result.flowField = s.flowField;
  }
  // The time order, for the flow delay and the duplicates.
  TimeOrdering timeOrder;
  if (s.IsOn(CleanFilter::Flow) || (s.IsOn(CleanFilter::Duplicates) && !in.time.empty())) timeOrder = TimeOrder(in);
  if (s.IsOn(CleanFilter::Flow)) result.shifted = ShiftValues(in, s, timeOrder, noSource);
  std::vector<uint8_t> passMember;
  if (s.IsOn(CleanFilter::Pass)) passMember = PassMembers(in);

  Mask keep(n, 1), hit(n, 0);
  const Mask all(n, 1);
  double steps = 0.0;
  for (int index = 0; index < kCleanFilterCount; ++index) {
    const CleanFilter f = static_cast<CleanFilter>(index);
    if (s.IsOn(f)) steps += (f == CleanFilter::Local ? kLocalWeight : 1.0) * (countAlone ? 2.0 : 1.0);
  }
  RunProgress progress(tell, steps);
  // Runs one filter as a step of the progress; false when told to stop.
  const auto run = [&](CleanFilter f, const Mask& from) {
    const double weight = f == CleanFilter::Local ? kLocalWeight : 1.0;
    if (!progress.Tell(progress.done, weight, 0.0)) return false;
    std::fill(hit.begin(), hit.end(), 0);
    RunFilter(f, in, s, from, speeds, result.shifted, noSource, passMember, timeOrder, hit, progress);
    progress.done += weight;
    return !progress.Stopped();
  };
  for (int index = 0; index < kCleanFilterCount; ++index) {
    const CleanFilter f = static_cast<CleanFilter>(index);
    if (!s.IsOn(f)) continue;
    if (countAlone) {
      if (!run(f, all)) break;
      result.alone[size_t(index)] = std::count(hit.begin(), hit.end(), uint8_t{1});
    }
    if (!run(f, keep)) break;
    int64_t count = 0;
    for (size_t i = 0; i < n; ++i) {
      if (hit[i]) {
        keep[i] = 0;
        result.removedBy[i] = uint8_t(index + 1);
        ++count;
      }
    }
    result.after[size_t(index)] = count;
  }
  result.kept = std::count(keep.begin(), keep.end(), uint8_t{1});
  result.cancelled = progress.Stopped();
  if (!result.cancelled) progress.Tell(steps, 0.0, 0.0);
  return result;
}

}  // namespace kestrune
