#include "clean/LogClean.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <thread>
#include <tuple>

namespace kestrune {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A mask of the records a filter may remove: 1 for a record still kept.
using Mask = std::vector<uint8_t>;

bool Finite(double v) { return std::isfinite(v); }

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

// The record positions in time order (file order among equal times, records
// without a time left out); file order without a time field.
std::vector<uint32_t> TimeOrder(const CleanInput& in) {
  const size_t n = in.size();
  std::vector<uint32_t> order;
  order.reserve(n);
  if (in.time.empty()) {
    order.resize(n);
    std::iota(order.begin(), order.end(), 0u);
    return order;
  }
  bool sorted = true;
  double last = -std::numeric_limits<double>::infinity();
  for (size_t i = 0; i < n; ++i) {
    if (!Finite(in.time[i])) continue;
    if (in.time[i] < last) sorted = false;
    last = in.time[i];
    order.push_back(static_cast<uint32_t>(i));
  }
  if (!sorted) {
    std::stable_sort(order.begin(), order.end(),
                     [&](uint32_t a, uint32_t b) { return in.time[a] < in.time[b]; });
  }
  return order;
}

// Each record's value after the shift; NaN for a record with no source (then
// marked in noSource) or a blank source value.
std::vector<double> ShiftValues(const CleanInput& in, const CleanSettings& s, const std::vector<uint32_t>& order,
                                std::vector<uint8_t>& noSource) {
  const std::vector<double>& v = *in.Values(s.flowField);
  const size_t n = in.size();
  std::vector<double> out(n, kNaN);
  noSource.assign(n, 1);
  const CleanDelay& d = s.flowDelay;
  if (d.records || in.time.empty()) {
    const long long r = std::llround(d.amount);
    const long long m = static_cast<long long>(order.size());
    for (long long k = 0; k < m; ++k) {
      const long long src = k + r;
      if (src >= 0 && src < m) {
        out[order[size_t(k)]] = v[order[size_t(src)]];
        noSource[order[size_t(k)]] = 0;
      }
    }
    return out;
  }
  // In seconds: the record logged at the time plus the delay, within half the
  // usual step between records.
  double step = 0.0;
  if (order.size() > 1) {
    std::vector<double> steps;
    steps.reserve(order.size() - 1);
    for (size_t k = 1; k < order.size(); ++k) {
      const double dt = in.time[order[k]] - in.time[order[k - 1]];
      if (dt > 0.0) steps.push_back(dt);
    }
    if (!steps.empty()) {
      std::nth_element(steps.begin(), steps.begin() + steps.size() / 2, steps.end());
      step = steps[steps.size() / 2];
    }
  }
  const double tolerance = step / 2.0 + 1e-9;
  size_t j = 0;
  const size_t m = order.size();
  if (d.amount >= 0.0) {
    for (size_t k = 0; k < m; ++k) {
      const double want = in.time[order[k]] + d.amount;
      if (j < k) j = k;
      while (j < m && in.time[order[j]] < want - tolerance) ++j;
      if (j < m && std::fabs(in.time[order[j]] - want) <= tolerance) {
        out[order[k]] = v[order[j]];
        noSource[order[k]] = 0;
      }
    }
  } else {
    // A negative delay looks back: walk from the end.
    j = m;
    for (size_t k = m; k-- > 0;) {
      const double want = in.time[order[k]] + d.amount;
      if (j > k + 1) j = k + 1;
      while (j > 0 && in.time[order[j - 1]] > want + tolerance) --j;
      if (j > 0 && std::fabs(in.time[order[j - 1]] - want) <= tolerance) {
        out[order[k]] = v[order[j - 1]];
        noSource[order[k]] = 0;
      }
    }
  }
  return out;
}

// ---- local outliers

// A grid over the kept records with a value, for the nearest-record search.
class NeighbourGrid {
 public:
  // perCell: about how many records a cell holds.
  NeighbourGrid(const CleanInput& in, const std::vector<uint32_t>& items, double perCell) : in_(in) {
    double x0 = std::numeric_limits<double>::infinity(), y0 = x0, x1 = -x0, y1 = -x0;
    for (uint32_t i : items) {
      x0 = std::min(x0, in.x[i]);
      x1 = std::max(x1, in.x[i]);
      y0 = std::min(y0, in.y[i]);
      y1 = std::max(y1, in.y[i]);
    }
    x0_ = x0;
    y0_ = y0;
    const double w = std::max(x1 - x0, 1e-9), h = std::max(y1 - y0, 1e-9);
    const double cells = std::max(1.0, double(items.size()) / std::max(perCell, 1.0));
    cell_ = std::max(std::sqrt(w * h / cells), std::max(w, h) / 4096.0);
    if (!(cell_ > 0.0)) cell_ = 1.0;
    cols_ = std::min<int64_t>(int64_t(w / cell_) + 1, 1 << 20);
    rows_ = std::min<int64_t>(int64_t(h / cell_) + 1, 1 << 20);
    start_.assign(size_t(cols_ * rows_) + 1, 0);
    for (uint32_t i : items) ++start_[CellOf(i) + 1];
    for (size_t c = 1; c < start_.size(); ++c) start_[c] += start_[c - 1];
    items_.resize(items.size());
    std::vector<uint32_t> fill(start_.begin(), start_.end() - 1);
    for (uint32_t i : items) items_[fill[CellOf(i)]++] = i;
  }

  // The n nearest of the grid's records to record i (itself excluded), nearest
  // first, ties by record number.
  void Nearest(uint32_t i, size_t n, std::vector<std::pair<double, uint32_t>>& out) const {
    out.clear();
    const int64_t cx = Column(in_.x[i]), cy = Row(in_.y[i]);
    const int64_t maxRing = std::max(cols_, rows_);
    int64_t ring = 0;
    auto addRing = [&](int64_t r) {
      for (int64_t yy = cy - r; yy <= cy + r; ++yy) {
        if (yy < 0 || yy >= rows_) continue;
        const bool edge = yy == cy - r || yy == cy + r;
        for (int64_t xx = cx - r; xx <= cx + r; xx += edge ? 1 : 2 * r) {
          if (xx >= 0 && xx < cols_) {
            const size_t c = size_t(yy * cols_ + xx);
            for (uint32_t k = start_[c]; k < start_[c + 1]; ++k) {
              const uint32_t j = items_[k];
              if (j == i) continue;
              const double dx = in_.x[j] - in_.x[i], dy = in_.y[j] - in_.y[i];
              out.emplace_back(dx * dx + dy * dy, j);
            }
          }
          if (r == 0) break;
        }
      }
    };
    // Rings until n candidates, then until no closer record can lie outside.
    for (; ring <= maxRing && out.size() < n; ++ring) addRing(ring);
    // The n-th nearest so far bounds the search (also when exactly n were found).
    if (out.size() >= n) {
      std::nth_element(out.begin(), out.begin() + long(n - 1), out.end());
    }
    if (out.empty()) return;
    double reach = out.size() >= n ? out[n - 1].first : std::numeric_limits<double>::infinity();
    // A record not yet visited lies outside the square of the rings visited:
    // at least as far as that square's nearest side.
    const double px = in_.x[i] - x0_, py = in_.y[i] - y0_;
    const auto outside = [&](int64_t r) {
      const double d = std::min(std::min(px - double(cx - r + 1) * cell_, double(cx + r) * cell_ - px),
                                std::min(py - double(cy - r + 1) * cell_, double(cy + r) * cell_ - py));
      return std::max(d, 0.0);
    };
    while (ring <= maxRing && outside(ring) * outside(ring) <= reach) addRing(ring++);
    const size_t take = std::min(n, out.size());
    std::partial_sort(out.begin(), out.begin() + long(take), out.end());
    out.resize(take);
  }

 private:
  int64_t Column(double x) const { return std::clamp<int64_t>(int64_t((x - x0_) / cell_), 0, cols_ - 1); }
  int64_t Row(double y) const { return std::clamp<int64_t>(int64_t((y - y0_) / cell_), 0, rows_ - 1); }
  size_t CellOf(uint32_t i) const { return size_t(Row(in_.y[i]) * cols_ + Column(in_.x[i])); }

  const CleanInput& in_;
  double x0_ = 0.0, y0_ = 0.0, cell_ = 1.0;
  int64_t cols_ = 1, rows_ = 1;
  std::vector<uint32_t> start_;
  std::vector<uint32_t> items_;
};

// The values one filter reads: the shifted ones for the flow field.
const std::vector<double>& FieldValues(const CleanInput& in, const CleanSettings& s, const std::vector<double>& shifted,
                                       int field) {
  if (s.IsOn(CleanFilter::Flow) && field == s.flowField) return shifted;
  return *in.Values(field);
}

// Marks in hit the records of keep that filter f removes.
void RunFilter(CleanFilter f, const CleanInput& in, const CleanSettings& s, const Mask& keep,
               const std::vector<double>& speeds, const std::vector<double>& shifted,
               const std::vector<uint8_t>& noSource, const std::vector<uint8_t>& passMember, Mask& hit) {
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
    case CleanFilter::Local: {
      const std::vector<double>& v = FieldValues(in, s, shifted, s.localField);
      std::vector<uint32_t> items;
      items.reserve(n);
      for (size_t i = 0; i < n; ++i) {
        if (keep[i] && Finite(v[i]) && Finite(in.x[i]) && Finite(in.y[i])) items.push_back(uint32_t(i));
      }
      if (items.size() < 2 || s.localN < 1) break;
      // A third of the neighbours a cell: the block of nine cells round a
      // record mostly holds them all.
      const NeighbourGrid grid(in, items, s.localN / 3.0);
      // Each record is judged on its own: the records are shared out among
      // the machine's cores, each writing only its own records' marks.
      const auto judge = [&](size_t from, size_t to) {
        std::vector<std::pair<double, uint32_t>> near;
        std::vector<double> vals;
        for (size_t k = from; k < to; ++k) {
          const uint32_t i = items[k];
          grid.Nearest(i, size_t(s.localN), near);
          vals.clear();
          double sum = 0.0;
          for (const auto& p : near) {
            vals.push_back(v[p.second]);
            sum += v[p.second];
          }
          const size_t m = vals.size();
          const double mean = sum / double(m);
          double squares = 0.0;
          for (double x : vals) squares += (x - mean) * (x - mean);
          const double sigma = std::sqrt(squares / double(m));
          std::nth_element(vals.begin(), vals.begin() + long(m / 2), vals.end());
          double median = vals[m / 2];
          if (m % 2 == 0) median = (median + *std::max_element(vals.begin(), vals.begin() + long(m / 2))) / 2.0;
          if (std::fabs(v[i] - median) > s.localK * sigma) hit[i] = 1;
        }
      };
      const size_t cores = std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 16);
      const size_t parts = items.size() < 20000 ? 1 : cores;
      std::vector<std::thread> workers;
      for (size_t t = 1; t < parts; ++t) {
        workers.emplace_back(judge, items.size() * t / parts, items.size() * (t + 1) / parts);
      }
      judge(0, items.size() / parts);
      for (std::thread& w : workers) w.join();
      break;
    }
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
      const bool haveTime = !in.time.empty();
      std::vector<uint32_t> order;
      order.reserve(n);
      for (size_t i = 0; i < n; ++i) {
        if (keep[i] && Finite(in.x[i]) && (!haveTime || Finite(in.time[i]))) order.push_back(uint32_t(i));
      }
      const auto key = [&](uint32_t i) {
        return std::make_tuple(haveTime ? in.time[i] : 0.0, in.x[i], in.y[i]);
      };
      // Logs come in time order: only equal neighbours are compared then.
      bool sorted = true;
      for (size_t k = 1; k < order.size() && sorted; ++k) {
        if (key(order[k]) < key(order[k - 1])) sorted = false;
      }
      if (!sorted) {
        std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return key(a) < key(b); });
      }
      // Within a run of equal keys the first in file order stays.
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

}  // namespace

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

CleanResult CleanLog(const CleanInput& in, const CleanSettings& s, bool countAlone) {
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
    result.shifted = ShiftValues(in, s, TimeOrder(in), noSource);
  }
  std::vector<uint8_t> passMember;
  if (s.IsOn(CleanFilter::Pass)) passMember = PassMembers(in);

  Mask keep(n, 1), hit(n, 0);
  const Mask all(n, 1);
  for (int index = 0; index < kCleanFilterCount; ++index) {
    const CleanFilter f = static_cast<CleanFilter>(index);
    if (!s.IsOn(f)) continue;
    if (countAlone) {
      std::fill(hit.begin(), hit.end(), 0);
      RunFilter(f, in, s, all, speeds, result.shifted, noSource, passMember, hit);
      result.alone[size_t(index)] = std::count(hit.begin(), hit.end(), uint8_t{1});
    }
    std::fill(hit.begin(), hit.end(), 0);
    RunFilter(f, in, s, keep, speeds, result.shifted, noSource, passMember, hit);
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
  return result;
}

}  // namespace kestrune
