#include "layers/Classes.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "layers/NumberSort.h"

namespace kestrune {

namespace {

// Ascending, without repeats.
std::vector<double> Distinct(std::vector<double> breaks) {
  std::sort(breaks.begin(), breaks.end());
  breaks.erase(std::unique(breaks.begin(), breaks.end()), breaks.end());
  return breaks;
}

std::vector<double> EqualSteps(double min, double max, int classes) {
  std::vector<double> breaks;
  const double step = (max - min) / classes;
  for (int k = 1; k < classes; ++k) breaks.push_back(min + step * k);
  return breaks;
}

std::vector<double> QuantileBreaks(const std::vector<double>& sorted, int classes) {
  std::vector<double> breaks;
  const size_t n = sorted.size();
  for (int k = 1; k < classes; ++k) {
    // The class's upper bound is the last of its share of the values.
    const size_t rank = (n * static_cast<size_t>(k) + static_cast<size_t>(classes) - 1) / static_cast<size_t>(classes);
    breaks.push_back(sorted[std::max<size_t>(rank, 1) - 1]);
  }
  // The top value closes no class below the open top class.
  breaks.erase(std::remove(breaks.begin(), breaks.end(), sorted.back()), breaks.end());
  return breaks;
}

// Jenks over distinct values with their counts: the least total squared
// deviation within classes, by dynamic programming over prefix sums.
std::vector<double> JenksBreaks(const std::vector<double>& x, const std::vector<double>& w, int classes) {
  const size_t m = x.size();
  const size_t k = std::min<size_t>(static_cast<size_t>(classes), m);
  if (k < 2) return {};
  std::vector<double> sw(m + 1, 0.0), swx(m + 1, 0.0), swxx(m + 1, 0.0);
  const double origin = x[0];
  for (size_t i = 0; i < m; ++i) {
    const double v = x[i] - origin;
    sw[i + 1] = sw[i] + w[i];
    swx[i + 1] = swx[i] + w[i] * v;
    swxx[i + 1] = swxx[i] + w[i] * v * v;
  }
  // Squared deviation of values i..j-1 (0-based, half open).
  const auto ssd = [&](size_t i, size_t j) {
    const double n = sw[j] - sw[i], s = swx[j] - swx[i];
    return std::max(0.0, (swxx[j] - swxx[i]) - s * s / n);
  };
  constexpr double kInf = std::numeric_limits<double>::infinity();
  // cost[c][j]: the best c + 1 classes of the first j values; from[c][j] where the last begins.
  std::vector<std::vector<double>> cost(k, std::vector<double>(m + 1, kInf));
  std::vector<std::vector<uint32_t>> from(k, std::vector<uint32_t>(m + 1, 0));
  for (size_t j = 1; j <= m; ++j) cost[0][j] = ssd(0, j);
  for (size_t c = 1; c < k; ++c) {
    for (size_t j = c + 1; j <= m; ++j) {
      double best = kInf;
      uint32_t at = 0;
      for (size_t i = c; i < j; ++i) {
        const double v = cost[c - 1][i] + ssd(i, j);
        if (v < best) {
          best = v;
          at = static_cast<uint32_t>(i);
        }
      }
      cost[c][j] = best;
      from[c][j] = at;
    }
  }
  std::vector<double> breaks;
  size_t end = m;
  for (size_t c = k - 1; c >= 1; --c) {
    const size_t start = from[c][end];
    breaks.push_back(x[start - 1]);
    end = start;
  }
  return Distinct(breaks);
}

std::vector<double> NaturalBreaks(const std::vector<double>& sorted, int classes) {
  std::vector<double> sample;
  if (sorted.size() > kNaturalBreaksExactLimit) {
    // An evenly spaced sample of the sorted values, both ends kept.
    sample.reserve(kNaturalBreaksExactLimit);
    const size_t n = sorted.size();
    for (size_t i = 0; i < kNaturalBreaksExactLimit; ++i) sample.push_back(sorted[i * (n - 1) / (kNaturalBreaksExactLimit - 1)]);
  }
  const std::vector<double>& values = sample.empty() ? sorted : sample;
  std::vector<double> x, w;
  for (double v : values) {
    if (!x.empty() && x.back() == v) {
      w.back() += 1.0;
    } else {
      x.push_back(v);
      w.push_back(1.0);
    }
  }
  return JenksBreaks(x, w, classes);
}

std::vector<double> StdDevBreaks(const std::vector<double>& sorted, int classes) {
  double mean = 0.0;
  for (double v : sorted) mean += v;
  mean /= static_cast<double>(sorted.size());
  double ss = 0.0;
  for (double v : sorted) ss += (v - mean) * (v - mean);
  const double sd = std::sqrt(ss / static_cast<double>(sorted.size()));
  if (!(sd > 0.0)) return {};
  std::vector<double> breaks;
  // Classes one deviation wide, centred on the mean.
  for (int k = 0; k <= classes - 2; ++k) breaks.push_back(mean + (k - (classes - 2) / 2.0) * sd);
  return breaks;
}

// Multiples of a step of 1, 2, 5 or 10 times a power of ten, the nearest to
// the range's share of each class; each written as k × digit / 10^n (or
// × 10^n) so a break is the double nearest its round number.
std::vector<double> PrettyBreaks(double min, double max, int classes) {
  const double share = (max - min) / classes;
  if (!(share > 0.0) || !std::isfinite(share)) return {};
  int e = static_cast<int>(std::floor(std::log10(share)));
  const double f = share / std::pow(10.0, e);
  double digit = f < 1.5 ? 1.0 : f < 3.0 ? 2.0 : f < 7.0 ? 5.0 : 10.0;
  if (digit == 10.0) {
    digit = 1.0;
    ++e;
  }
  const double scale = std::pow(10.0, std::abs(e));
  const auto at = [&](double k) { return e < 0 ? k * digit / scale : k * digit * scale; };
  std::vector<double> breaks;
  for (double k = std::floor(min / at(1.0)) + 1.0; at(k) < max; k += 1.0) {
    breaks.push_back(at(k));
    if (breaks.size() > static_cast<size_t>(2 * classes)) break;
  }
  return breaks;
}

}  // namespace

std::vector<double> ClassBreaks(ClassMethod method, const std::vector<double>& sorted, int classes) {
  classes = std::clamp(classes, kMinClasses, kMaxClasses);
  if (sorted.empty()) return {};
  const double min = sorted.front(), max = sorted.back();
  if (!(max > min)) return {};
  std::vector<double> breaks;
  switch (method) {
    case ClassMethod::EqualInterval: breaks = EqualSteps(min, max, classes); break;
    case ClassMethod::Quantiles: breaks = QuantileBreaks(sorted, classes); break;
    case ClassMethod::NaturalBreaks: breaks = NaturalBreaks(sorted, classes); break;
    case ClassMethod::StdDeviations: breaks = StdDevBreaks(sorted, classes); break;
    case ClassMethod::Pretty: breaks = PrettyBreaks(min, max, classes); break;
  }
  return Distinct(breaks);
}

double Percentile(const std::vector<double>& sorted, double p) {
  if (sorted.empty()) return std::numeric_limits<double>::quiet_NaN();
  const double rank = std::clamp(p, 0.0, 100.0) / 100.0 * static_cast<double>(sorted.size() - 1);
  const size_t lo = static_cast<size_t>(std::floor(rank));
  const size_t hi = std::min(lo + 1, sorted.size() - 1);
  return sorted[lo] + (rank - static_cast<double>(lo)) * (sorted[hi] - sorted[lo]);
}

ValueStats ComputeValueStats(const std::vector<double>& values, std::vector<double>* sortedOut) {
  ValueStats s;
  std::vector<double> sorted;
  sorted.reserve(values.size());
  for (double v : values) {
    if (std::isnan(v)) {
      ++s.blanks;
    } else {
      sorted.push_back(v);
    }
  }
  SortNumbers(sorted);
  s.count = sorted.size();
  if (s.count > 0) {
    s.min = sorted.front();
    s.max = sorted.back();
    double mean = 0.0, m2 = 0.0;
    size_t n = 0;
    for (double v : sorted) {
      ++n;
      const double d = v - mean;
      mean += d / static_cast<double>(n);
      m2 += d * (v - mean);
    }
    s.mean = mean;
    s.sd = s.count > 1 ? std::sqrt(m2 / static_cast<double>(s.count - 1)) : 0.0;
    s.median = Percentile(sorted, 50.0);
    s.p5 = Percentile(sorted, 5.0);
    s.p95 = Percentile(sorted, 95.0);
  }
  if (sortedOut) *sortedOut = std::move(sorted);
  return s;
}

std::vector<size_t> Histogram(const std::vector<double>& values, double min, double max, int bins) {
  if (bins < 1) return {};
  std::vector<size_t> counts(static_cast<size_t>(bins), 0);
  const double width = (max - min) / bins;
  for (double v : values) {
    if (std::isnan(v) || v < min || v > max) continue;
    size_t b = width > 0.0 ? static_cast<size_t>((v - min) / width) : 0;
    if (b >= counts.size()) b = counts.size() - 1;
    ++counts[b];
  }
  return counts;
}

}  // namespace kestrune
