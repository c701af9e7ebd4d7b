// A walk over a layer's records by every core: the list cut into contiguous
// shares in drawing order, one thread each (the first on the calling thread).
// For work on each record that is independent of the others, whose per-share
// results join in share order.
#pragma once

#include <algorithm>
#include <cstddef>
#include <thread>
#include <vector>

#include "shapes/RecordList.h"

namespace kestrune {

// Lists shorter than this are walked on one thread.
constexpr size_t kRecordSharesMinRecords = 50000;

// The number of shares a list of count records is walked in.
inline unsigned RecordShareCount(size_t count) {
  if (count < kRecordSharesMinRecords) return 1;
  return std::max(1u, std::min(std::thread::hardware_concurrency(), 16u));
}

// Calls f(share, shape) for every record, share s taking the records from
// s * n / shares up to (s + 1) * n / shares.
template <class F>
void ForEachRecordInShares(const RecordList& records, unsigned shares, F f) {
  const size_t n = records.size();
  auto walk = [&records, &f, n, shares](unsigned share) {
    records.ForEachInRange(n * share / shares, n * (share + 1) / shares, [&f, share](Shape* shape) { f(share, shape); });
  };
  std::vector<std::thread> helpers;
  for (unsigned s = 1; s < shares; ++s) helpers.emplace_back(walk, s);
  walk(0);
  for (std::thread& helper : helpers) helper.join();
}

}  // namespace kestrune
