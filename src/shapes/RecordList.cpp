#include "shapes/RecordList.h"

#include <algorithm>

#include "shapes/Shape.h"

namespace kestrune {

namespace {

using Block = std::vector<Shape*>;

// The outer area of a record known to be an area.
double OuterArea(const Shape* shape) { return static_cast<const AreaShape*>(shape)->GetOuterArea(); }

bool IsArea(const Shape* shape) { return shape->GetRecordClass() == kRecordArea; }

Block* NewBlock() {
  auto* block = new Block();
  block->reserve(RecordList::kBlockSize);
  return block;
}

}  // namespace

// ---------------------------------------------------------------- Segment

// Frees the blocks (not the records).
RecordList::Segment::~Segment() { Clear(); }

// Frees the blocks and forgets the records.
void RecordList::Segment::Clear() {
  for (Block* block : blocks) delete block;
  blocks.clear();
  count = 0;
}

// Appends to the last block, starting a new one when it is full.
void RecordList::Segment::PushBack(Shape* shape) {
  if (blocks.empty() || blocks.back()->size() >= kBlockSize) blocks.push_back(NewBlock());
  blocks.back()->push_back(shape);
  ++count;
}

// Inserts before the first record.
void RecordList::Segment::PushFront(Shape* shape) {
  if (blocks.empty()) {
    PushBack(shape);
    return;
  }
  InsertAt(0, 0, shape);
}

// Inserts into a block, splitting the block when it has grown to twice the
// block size so inserts stay cheap.
void RecordList::Segment::InsertAt(size_t block, size_t offset, Shape* shape) {
  if (blocks.empty()) {
    PushBack(shape);
    return;
  }
  Block& b = *blocks[block];
  b.insert(b.begin() + static_cast<std::ptrdiff_t>(offset), shape);
  ++count;
  if (b.size() >= 2 * kBlockSize) {
    Block* second = NewBlock();
    second->assign(b.begin() + static_cast<std::ptrdiff_t>(kBlockSize), b.end());
    b.resize(kBlockSize);
    blocks.insert(blocks.begin() + static_cast<std::ptrdiff_t>(block) + 1, second);
  }
}

// Finds the block of a position by walking the block sizes.
void RecordList::Segment::InsertAtIndex(size_t index, Shape* shape) {
  if (index >= count) {
    PushBack(shape);
    return;
  }
  size_t block = 0;
  while (index >= blocks[block]->size()) {
    index -= blocks[block]->size();
    ++block;
  }
  InsertAt(block, index, shape);
}

// Unlinks the first entry holding the record.
bool RecordList::Segment::Remove(const Shape* shape) {
  for (size_t i = 0; i < blocks.size(); ++i) {
    Block& b = *blocks[i];
    auto it = std::find(b.begin(), b.end(), shape);
    if (it == b.end()) continue;
    b.erase(it);
    --count;
    if (b.empty()) {
      delete blocks[i];
      blocks.erase(blocks.begin() + static_cast<std::ptrdiff_t>(i));
    }
    return true;
  }
  return false;
}

// ---------------------------------------------------------------- RecordList

// Appends; an area that keeps the sorted head sorted joins it while nothing follows.
void RecordList::Append(Shape* shape) {
  if (!shape) return;
  if (tail_.count == 0 && IsArea(shape) &&
      (head_.count == 0 || OuterArea(head_.blocks.back()->back()) >= OuterArea(shape))) {
    head_.PushBack(shape);
  } else {
    tail_.PushBack(shape);
  }
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
    tail_.PushFront(shape);
    return;
  }
  const double area = OuterArea(shape);
  auto& blocks = head_.blocks;
  auto block = std::partition_point(blocks.begin(), blocks.end(),
                                    [area](const Block* b) { return OuterArea(b->back()) > area; });
  if (block != blocks.end()) {
    auto offset = std::partition_point((*block)->begin(), (*block)->end(),
                                       [area](const Shape* s) { return OuterArea(s) > area; });
    head_.InsertAt(static_cast<size_t>(block - blocks.begin()),
                   static_cast<size_t>(offset - (*block)->begin()), shape);
    return;
  }
  size_t steps = 0;
  for (auto it = const_iterator(this, 1); it != end() && (*it)->PrecedesInDrawOrder(*shape); ++it) ++steps;
  if (steps == 0) {
    head_.PushBack(shape);
  } else {
    tail_.InsertAtIndex(steps, shape);
  }
}

// Moves the head's blocks in front of the tail's.
void RecordList::DissolveHead() {
  if (head_.blocks.empty()) return;
  tail_.blocks.insert(tail_.blocks.begin(), head_.blocks.begin(), head_.blocks.end());
  tail_.count += head_.count;
  head_.blocks.clear();
  head_.count = 0;
}

// Unlinks the first entry holding the record; the head stays sorted.
bool RecordList::Remove(const Shape* shape) { return head_.Remove(shape) || tail_.Remove(shape); }

// Forgets every record (without deleting them).
void RecordList::Clear() {
  head_.Clear();
  tail_.Clear();
}

// The first record in drawing order, or none.
Shape* RecordList::front() const { return empty() ? nullptr : *begin(); }

// The last record in drawing order, or none.
Shape* RecordList::back() const {
  const Segment& s = tail_.count ? tail_ : head_;
  return s.count ? s.blocks.back()->back() : nullptr;
}

RecordList::const_iterator RecordList::begin() const { return const_iterator(this, 0); }
RecordList::const_iterator RecordList::end() const { return const_iterator(this, 2); }

// ---------------------------------------------------------------- iterator

RecordList::const_iterator::reference RecordList::const_iterator::operator*() const {
  const Segment& s = segment_ == 0 ? list_->head_ : list_->tail_;
  return (*s.blocks[block_])[offset_];
}

RecordList::const_iterator& RecordList::const_iterator::operator++() {
  ++offset_;
  Settle();
  return *this;
}

void RecordList::const_iterator::Settle() {
  while (segment_ < 2) {
    const Segment& s = segment_ == 0 ? list_->head_ : list_->tail_;
    if (block_ < s.blocks.size()) {
      if (offset_ < s.blocks[block_]->size()) return;
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
