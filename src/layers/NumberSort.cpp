#include "layers/NumberSort.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <thread>

namespace kestrune {

namespace {

constexpr uint64_t kSign = uint64_t{1} << 63;
constexpr int kDigitBits = 11;
constexpr size_t kBuckets = size_t{1} << kDigitBits;
constexpr int kPasses = (64 + kDigitBits - 1) / kDigitBits;
// Below this many the comparisons cost less than the passes.
constexpr size_t kRadixFrom = 4096;
// From this many the halves are sorted by two threads and then merged.
constexpr size_t kTwoThreadsFrom = 200000;

// A key whose unsigned order is the numbers' order: negative numbers
// reversed below the positive ones.
uint64_t KeyOf(double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  return (bits & kSign) ? ~bits : bits | kSign;
}

double NumberOf(uint64_t key) {
  const uint64_t bits = (key & kSign) ? key & ~kSign : ~key;
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

// The keys of n values, sorted, into keys; spare (n too) serves the passes.
void SortKeys(const double* values, uint64_t* keys, uint64_t* spare, size_t n) {
  std::vector<std::array<size_t, kBuckets>> counts(kPasses);
  for (auto& c : counts) c.fill(0);
  for (size_t i = 0; i < n; ++i) {
    const uint64_t key = KeyOf(values[i]);
    keys[i] = key;
    for (int p = 0; p < kPasses; ++p) ++counts[static_cast<size_t>(p)][(key >> (p * kDigitBits)) & (kBuckets - 1)];
  }
  uint64_t* from = keys;
  uint64_t* to = spare;
  for (int p = 0; p < kPasses; ++p) {
    std::array<size_t, kBuckets>& count = counts[static_cast<size_t>(p)];
    const uint64_t digitOfFirst = (from[0] >> (p * kDigitBits)) & (kBuckets - 1);
    if (count[digitOfFirst] == n) continue;  // every key has this digit: the order stands
    size_t offset = 0;
    for (size_t& c : count) {
      const size_t here = c;
      c = offset;
      offset += here;
    }
    for (size_t i = 0; i < n; ++i) {
      const uint64_t key = from[i];
      to[count[(key >> (p * kDigitBits)) & (kBuckets - 1)]++] = key;
    }
    std::swap(from, to);
  }
  if (from != keys) std::copy(from, from + n, keys);
}

}  // namespace

void SortNumbers(std::vector<double>& values) {
  const size_t n = values.size();
  if (n < kRadixFrom) {
    std::sort(values.begin(), values.end());
    return;
  }
  std::vector<uint64_t> keys(n), spare(n);
  if (n < kTwoThreadsFrom) {
    SortKeys(values.data(), keys.data(), spare.data(), n);
  } else {
    const size_t half = n / 2;
    std::thread second(SortKeys, values.data() + half, keys.data() + half, spare.data() + half, n - half);
    SortKeys(values.data(), keys.data(), spare.data(), half);
    second.join();
    // Keys in one order for every number, a -0 below a 0 included.
    std::merge(keys.begin(), keys.begin() + static_cast<std::ptrdiff_t>(half),
               keys.begin() + static_cast<std::ptrdiff_t>(half), keys.end(), spare.begin());
    keys.swap(spare);
  }
  for (size_t i = 0; i < n; ++i) values[i] = NumberOf(keys[i]);
}

}  // namespace kestrune
