#include "shapes/RecordList.h"

#include <algorithm>

#include "shapes/Shape.h"

namespace kestrune {

static_assert(sizeof(PointShape) == RecordList::kRunStride, "runs are of pooled point records");

namespace {

// Whether the record is an area (the only class ordered by size).
bool IsArea(const Shape* shape) { return shape->GetRecordClass() == kRecordArea; }

}  // namespace

// Appends after everything. An appended record never joins the sorted head:
// it may still be empty and gain its area afterwards.
void RecordList::Append(Shape* shape) {
  if (!shape) return;
  tail_.PushBack(shape);
}

// The walk from the head stops at the first record that does not precede the
// new one. Only an area precedes, and only an area with a strictly larger outer
// area, so: a record that is not an area goes to the front; an area goes
// before the first head entry whose outer area is not larger (found by
// bisection, the head being sorted), or, when the whole head precedes it, on
// along the tail as far as its records precede it (at once, for records the
// reader makes, since only areas come ordered and areas form the head).
void RecordList::InsertOrdered(Shape* shape) {
  if (!shape) return;
  if (!IsArea(shape)) {
    DissolveHead();
    tail_.InsertAt(0, 0, shape);
    return;
  }
  const double area = static_cast<const AreaShape*>(shape)->GetOuterArea();
  const KeyedShape entry{area, shape};
  auto& blocks = head_.blocks;
  auto block = std::partition_point(blocks.begin(), blocks.end(),
                                    [area](const std::vector<KeyedShape>* b) { return b->back().key > area; });
  if (block != blocks.end()) {
    auto offset = std::partition_point((*block)->begin(), (*block)->end(),
                                       [area](const KeyedShape& k) { return k.key > area; });
    head_.InsertAt(static_cast<size_t>(block - blocks.begin()), static_cast<size_t>(offset - (*block)->begin()),
                   entry);
    return;
  }
  size_t steps = 0;
  for (auto it = const_iterator(this, 1); it != end() && (*it)->PrecedesInDrawOrder(*shape); ++it) ++steps;
  if (steps == 0) {
    head_.PushBack(entry);
  } else {
    tail_.InsertAtIndex(steps, shape);
  }
}

// Moves the head's entries in front of the tail's, without their keys.
void RecordList::DissolveHead() {
  if (head_.count == 0) return;
  std::vector<TailBlock> moved;
  for (const auto* block : head_.blocks) {
    TailBlock plain;
    plain.items.reserve(block->size());
    for (const KeyedShape& k : *block) plain.items.push_back(k.shape);
    moved.push_back(std::move(plain));
  }
  tail_.Prepend(std::move(moved), head_.count);
  head_.Clear();
}

// ---------------------------------------------------------------- tail

// A run becomes its records, listed.
void RecordList::TailBlock::Materialize() {
  if (!runFirst) return;
  items.reserve(runCount + 1);
  for (uint32_t i = 0; i < runCount; ++i) items.push_back(RunAt(runFirst, i));
  runFirst = nullptr;
  runCount = 0;
}

// The record extends the last block's run when it lies one stride after it;
// a full or explicit last block gets the record listed or a new run begun.
void RecordList::TailBlocks::PushBack(Shape* shape) {
  ++count;
  if (!blocks.empty()) {
    TailBlock& last = blocks.back();
    if (last.size() < kBlockSize) {
      if (last.runFirst && RunAt(last.runFirst, last.runCount) == shape) {
        ++last.runCount;
        return;
      }
      // A run of one is not yet a run: the second record decides.
      if (last.runFirst && last.runCount == 1) last.Materialize();
      if (!last.runFirst) {
        if (last.items.size() == 1 && RunAt(last.items[0], 1) == shape) {
          last.runFirst = last.items[0];
          last.runCount = 2;
          last.items = {};
          return;
        }
        last.items.push_back(shape);
        return;
      }
    }
  }
  TailBlock block;
  block.runFirst = shape;
  block.runCount = 1;
  blocks.push_back(std::move(block));
}

// Inserts into a block, splitting it when it reaches twice the block size.
void RecordList::TailBlocks::InsertAt(size_t block, size_t offset, Shape* shape) {
  if (blocks.empty()) {
    PushBack(shape);
    return;
  }
  TailBlock& b = blocks[block];
  b.Materialize();
  b.items.insert(b.items.begin() + static_cast<std::ptrdiff_t>(offset), shape);
  ++count;
  if (b.items.size() >= 2 * kBlockSize) {
    TailBlock second;
    second.items.assign(b.items.begin() + static_cast<std::ptrdiff_t>(kBlockSize), b.items.end());
    b.items.resize(kBlockSize);
    blocks.insert(blocks.begin() + static_cast<std::ptrdiff_t>(block) + 1, std::move(second));
  }
}

// Finds the block and offset of a position, then inserts there.
void RecordList::TailBlocks::InsertAtIndex(size_t index, Shape* shape) {
  if (index >= count) {
    PushBack(shape);
    return;
  }
  size_t block = 0;
  while (index >= blocks[block].size()) {
    index -= blocks[block].size();
    ++block;
  }
  InsertAt(block, index, shape);
}

// Whole blocks go in front of the first.
void RecordList::TailBlocks::Prepend(std::vector<TailBlock>&& front, size_t records) {
  blocks.insert(blocks.begin(), std::make_move_iterator(front.begin()), std::make_move_iterator(front.end()));
  count += records;
}

// Tail blocks kept as runs.
size_t RecordList::RunBlockCount() const {
  size_t runs = 0;
  for (const TailBlock& b : tail_.blocks) runs += b.runFirst ? 1 : 0;
  return runs;
}

// Unlinks the first entry holding the record; the head stays sorted.
bool RecordList::Remove(const Shape* shape) {
  return head_.RemoveFirst([shape](const KeyedShape& k) { return k.shape == shape; }) ||
         tail_.RemoveFirst([shape](Shape* s) { return s == shape; });
}

// Forgets every record (without deleting them).
void RecordList::Clear() {
  head_.Clear();
  tail_.Clear();
}

// The first record in drawing order, or none.
Shape* RecordList::front() const { return empty() ? nullptr : *begin(); }

// The last record in drawing order, or none.
Shape* RecordList::back() const {
  if (tail_.count) {
    const TailBlock& last = tail_.blocks.back();
    return last.at(last.size() - 1);
  }
  return head_.count ? head_.blocks.back()->back().shape : nullptr;
}

// ---------------------------------------------------------------- iterator

// The record under the iterator.
RecordList::const_iterator::reference RecordList::const_iterator::operator*() const {
  if (segment_ == 0) return (*list_->head_.blocks[block_])[offset_].shape;
  return list_->tail_.blocks[block_].at(offset_);
}

// Steps to the next record.
RecordList::const_iterator& RecordList::const_iterator::operator++() {
  ++offset_;
  Settle();
  return *this;
}

// Skips the ends of blocks and of the head.
void RecordList::const_iterator::Settle() {
  while (segment_ < 2) {
    const size_t blockCount = segment_ == 0 ? list_->head_.blocks.size() : list_->tail_.blocks.size();
    if (block_ < blockCount) {
      const size_t size =
          segment_ == 0 ? list_->head_.blocks[block_]->size() : list_->tail_.blocks[block_].size();
      if (offset_ < size) return;
      ++block_;
      offset_ = 0;
      continue;
    }
    ++segment_;
    block_ = 0;
    offset_ = 0;
  }
  block_ = 0;
  offset_ = 0;
}

}  // namespace kestrune
