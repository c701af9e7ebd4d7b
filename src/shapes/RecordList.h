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
  RecordList(const RecordList&) = delete;
  RecordList& operator=(const RecordList&) = delete;

  // Links the record after the last one.
  void Append(Shape* shape);
  // Places the record where a walk from the head would: before the first
  // record that does not precede it in drawing order (PrecedesInDrawOrder).
  // The record's geometry must be complete: its outer area places it.
  void InsertOrdered(Shape* shape);
  // Unlinks the first entry holding the record; false when it is not listed.
  bool Remove(const Shape* shape);
  // Unlinks every record the predicate accepts, in one pass; gives the count.
  template <class Predicate>
  size_t RemoveIf(Predicate predicate) {
    return head_.RemoveIf([&](const KeyedShape& k) { return predicate(k.shape); }) +
           tail_.RemoveIf([&](Shape* s) { return predicate(s); });
  }
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

  const_iterator begin() const { return const_iterator(this, 0); }
  const_iterator end() const { return const_iterator(this, 2); }

  // Calls f(shape) for every record in drawing order.
  template <class F>
  void ForEach(F f) const {
    for (const auto* block : head_.blocks) {
      for (const KeyedShape& k : *block) f(k.shape);
    }
    for (const auto* block : tail_.blocks) {
      for (Shape* shape : *block) f(shape);
    }
  }

  // The number of leading records kept sorted for the binary search (tests).
  size_t SortedRunLength() const { return head_.count; }

  static constexpr size_t kBlockSize = 1024;

  // An area of the sorted head with its outer area beside it, so the search
  // reads contiguous keys instead of visiting the records.
  struct KeyedShape {
    double key;
    Shape* shape;
  };

  // A sequence in blocks of up to twice kBlockSize entries: inserting moves
  // at most one block's entries.
  template <class T>
  struct Blocks {
    std::vector<std::vector<T>*> blocks;
    size_t count = 0;

    Blocks() = default;
    Blocks(const Blocks&) = delete;
    Blocks& operator=(const Blocks&) = delete;
    ~Blocks() { Clear(); }

    // Frees the blocks (not the records).
    void Clear() {
      for (auto* block : blocks) delete block;
      blocks.clear();
      count = 0;
    }
    // Appends to the last block, starting a new one when it is full.
    void PushBack(const T& item) {
      if (blocks.empty() || blocks.back()->size() >= kBlockSize) blocks.push_back(NewBlock());
      blocks.back()->push_back(item);
      ++count;
    }
    // Inserts into a block, splitting it when it reaches twice the block size.
    void InsertAt(size_t block, size_t offset, const T& item) {
      if (blocks.empty()) {
        PushBack(item);
        return;
      }
      std::vector<T>& b = *blocks[block];
      b.insert(b.begin() + static_cast<std::ptrdiff_t>(offset), item);
      ++count;
      if (b.size() >= 2 * kBlockSize) {
        auto* second = NewBlock();
        second->assign(b.begin() + static_cast<std::ptrdiff_t>(kBlockSize), b.end());
        b.resize(kBlockSize);
        blocks.insert(blocks.begin() + static_cast<std::ptrdiff_t>(block) + 1, second);
      }
    }
    // Inserts at a position counted from the start (the end when beyond).
    void InsertAtIndex(size_t index, const T& item) {
      if (index >= count) {
        PushBack(item);
        return;
      }
      size_t block = 0;
      while (index >= blocks[block]->size()) {
        index -= blocks[block]->size();
        ++block;
      }
      InsertAt(block, index, item);
    }
    // Unlinks the first entry the predicate accepts.
    template <class Match>
    bool RemoveFirst(Match match) {
      for (size_t i = 0; i < blocks.size(); ++i) {
        std::vector<T>& b = *blocks[i];
        for (size_t j = 0; j < b.size(); ++j) {
          if (!match(b[j])) continue;
          b.erase(b.begin() + static_cast<std::ptrdiff_t>(j));
          --count;
          if (b.empty()) {
            delete blocks[i];
            blocks.erase(blocks.begin() + static_cast<std::ptrdiff_t>(i));
          }
          return true;
        }
      }
      return false;
    }
    // Unlinks every entry the predicate accepts, in one pass.
    template <class Predicate>
    size_t RemoveIf(Predicate predicate) {
      size_t removed = 0;
      std::vector<std::vector<T>*> kept;
      for (auto* block : blocks) {
        auto end = block->begin();
        for (const T& item : *block) {
          if (predicate(item)) {
            ++removed;
          } else {
            *end++ = item;
          }
        }
        block->erase(end, block->end());
        if (block->empty()) {
          delete block;
        } else {
          kept.push_back(block);
        }
      }
      blocks.swap(kept);
      count -= removed;
      return removed;
    }

   private:
    // An empty block with room for kBlockSize entries.
    static std::vector<T>* NewBlock() {
      auto* block = new std::vector<T>();
      block->reserve(kBlockSize);
      return block;
    }
  };

 private:
  // Moves the sorted head in front of the tail: the head is no longer sorted.
  void DissolveHead();

  // Leading areas in non-increasing order of outer area: searched by bisection.
  Blocks<KeyedShape> head_;
  // Everything after them, in drawing order.
  Blocks<Shape*> tail_;
};

}  // namespace kestrune
