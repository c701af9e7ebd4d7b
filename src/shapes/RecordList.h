// The records of a layer in drawing order, eight bytes per record: appends,
// the ordered insert of areas (largest outer area first, a new area before an
// equal one) in logarithmic time, removal and iteration. It holds pointers and
// owns nothing: the layer deletes its records.
#pragma once

#include <cstddef>
#include <iterator>
#include <vector>

namespace kestrune {

class Shape;

class RecordList {
 public:
  RecordList() = default;

  // Links the record after the last one.
  void Append(Shape* shape);
  // Places the record where a walk from the head would: before the first
  // record that does not precede it in drawing order (PrecedesInDrawOrder).
  void InsertOrdered(Shape* shape);
  // Unlinks the first entry holding the record; false when it is not listed.
  bool Remove(const Shape* shape);
  // Unlinks every record the predicate accepts, in one pass; gives the count.
  template <class Predicate>
  size_t RemoveIf(Predicate predicate);
  void Clear();

  size_t size() const { return head_.count + tail_.count; }
  bool empty() const { return size() == 0; }
  Shape* front() const;
  Shape* back() const;

  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = Shape*;
    using difference_type = std::ptrdiff_t;
    using pointer = Shape* const*;
    using reference = Shape* const&;

    const_iterator() = default;
    reference operator*() const;
    const_iterator& operator++();
    const_iterator operator++(int) {
      const_iterator old = *this;
      ++*this;
      return old;
    }
    friend bool operator==(const const_iterator& a, const const_iterator& b) {
      return a.list_ == b.list_ && a.segment_ == b.segment_ && a.block_ == b.block_ &&
             a.offset_ == b.offset_;
    }
    friend bool operator!=(const const_iterator& a, const const_iterator& b) { return !(a == b); }

   private:
    friend class RecordList;
    const_iterator(const RecordList* list, int segment) : list_(list), segment_(segment) { Settle(); }
    // Moves past empty places to the next record, or to the end (segment 2).
    void Settle();

    const RecordList* list_ = nullptr;
    int segment_ = 2;
    size_t block_ = 0;
    size_t offset_ = 0;
  };

  const_iterator begin() const;
  const_iterator end() const;

  // Calls f(shape) for every record in drawing order.
  template <class F>
  void ForEach(F f) const {
    for (const Segment* s : {&head_, &tail_}) {
      for (const auto& block : s->blocks) {
        for (Shape* shape : *block) f(shape);
      }
    }
  }

  // The number of leading records kept sorted for the binary search (tests).
  size_t SortedRunLength() const { return head_.count; }

  static constexpr size_t kBlockSize = 1024;

  struct Segment {
    std::vector<std::vector<Shape*>*> blocks;
    size_t count = 0;

    Segment() = default;
    Segment(const Segment&) = delete;
    Segment& operator=(const Segment&) = delete;
    ~Segment();
    void PushBack(Shape* shape);
    void PushFront(Shape* shape);
    void InsertAt(size_t block, size_t offset, Shape* shape);
    // Inserts at a position counted from the segment's start.
    void InsertAtIndex(size_t index, Shape* shape);
    bool Remove(const Shape* shape);
    void Clear();
  };

 private:
  RecordList(const RecordList&) = delete;
  RecordList& operator=(const RecordList&) = delete;

  // Moves the sorted head in front of the tail: the head is no longer sorted.
  void DissolveHead();

  // Leading areas in non-increasing order of outer area: searched by bisection.
  Segment head_;
  // Everything after them, in drawing order.
  Segment tail_;
};

template <class Predicate>
size_t RecordList::RemoveIf(Predicate predicate) {
  size_t removed = 0;
  for (Segment* s : {&head_, &tail_}) {
    std::vector<std::vector<Shape*>*> kept;
    for (auto* block : s->blocks) {
      auto end = block->begin();
      for (Shape* shape : *block) {
        if (predicate(shape)) {
          ++removed;
        } else {
          *end++ = shape;
        }
      }
      block->erase(end, block->end());
      if (block->empty()) {
        delete block;
      } else {
        kept.push_back(block);
      }
    }
    s->blocks.swap(kept);
    s->count = 0;
    for (auto* block : s->blocks) s->count += block->size();
  }
  return removed;
}

}  // namespace kestrune
