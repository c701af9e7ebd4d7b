// The records of a layer in drawing order: appends, the ordered insert of
// areas (largest outer area first, a new area before an equal one) in
// logarithmic time, removal and iteration. It holds pointers and owns
// nothing: the layer deletes its records. Records appended one after another
// from the point pool lie kRunStride bytes apart; such a run is kept as its
// first record and its length, so ten million points cost next to nothing
// here; any other record costs eight bytes.
#pragma once

#include <cstddef>
#include <cstdint>
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
    using reference = Shape*;  // a run's records are computed, not stored

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
    for (const TailBlock& block : tail_.blocks) {
      if (block.runFirst) {
        for (uint32_t i = 0; i < block.runCount; ++i) f(RunAt(block.runFirst, i));
      } else {
        for (Shape* shape : block.items) f(shape);
      }
    }
  }

  // Calls f(shape) for the records at positions [from, to) in drawing order,
  // going straight to the block holding from: shares of the list walked by
  // several threads at once.
  template <class F>
  void ForEachInRange(size_t from, size_t to, F f) const {
    size_t at = 0;
    for (const auto* block : head_.blocks) {
      const size_t n = block->size();
      if (at + n > from && at < to) {
        for (size_t i = from > at ? from - at : 0; i < n && at + i < to; ++i) f((*block)[i].shape);
      }
      at += n;
      if (at >= to) return;
    }
    for (const TailBlock& block : tail_.blocks) {
      const size_t n = block.size();
      if (at + n > from && at < to) {
        for (size_t i = from > at ? from - at : 0; i < n && at + i < to; ++i) f(block.at(i));
      }
      at += n;
      if (at >= to) return;
    }
  }

  // Calls f(first, count) for every run of records lying kRunStride bytes
  // apart, and f(shape, 1) for every other record, in drawing order.
  template <class F>
  void ForEachRun(F f) const {
    for (const auto* block : head_.blocks) {
      for (const KeyedShape& k : *block) f(k.shape, size_t{1});
    }
    for (const TailBlock& block : tail_.blocks) {
      if (block.runFirst) {
        f(block.runFirst, static_cast<size_t>(block.runCount));
      } else {
        for (Shape* shape : block.items) f(shape, size_t{1});
      }
    }
  }

  // The number of leading records kept sorted for the binary search (tests).
  size_t SortedRunLength() const { return head_.count; }

  static constexpr size_t kBlockSize = 1024;
  // The distance between neighbouring records of a run: the size of a
  // pooled point record.
  static constexpr size_t kRunStride = 32;
  // The record i strides after first.
  static Shape* RunAt(Shape* first, size_t i) {
    return reinterpret_cast<Shape*>(reinterpret_cast<char*>(first) + i * kRunStride);
  }

  // Tail blocks kept as runs and as explicit entries (tests).
  size_t RunBlockCount() const;

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

  // Up to kBlockSize records: a run (runFirst set, runCount records kRunStride
  // bytes apart) or explicit entries. A block past kBlockSize is split.
  struct TailBlock {
    std::vector<Shape*> items;
    Shape* runFirst = nullptr;
    uint32_t runCount = 0;

    size_t size() const { return runFirst ? runCount : items.size(); }
    Shape* at(size_t i) const { return runFirst ? RunAt(runFirst, i) : items[i]; }
    // Turns a run into explicit entries, before an edit inside it.
    void Materialize();
  };

  // The tail: blocks that compress runs of pooled points.
  struct TailBlocks {
    std::vector<TailBlock> blocks;
    size_t count = 0;

    void Clear() {
      blocks.clear();
      count = 0;
    }
    // Appends, extending the last run when the record is its next stride.
    void PushBack(Shape* shape);
    // Inserts at a block and offset (explicit entries from then on).
    void InsertAt(size_t block, size_t offset, Shape* shape);
    // Inserts at a position counted from the start (the end when beyond).
    void InsertAtIndex(size_t index, Shape* shape);
    // Puts whole blocks of explicit entries in front.
    void Prepend(std::vector<TailBlock>&& front, size_t records);
    // Unlinks the first entry the predicate accepts.
    template <class Match>
    bool RemoveFirst(Match match) {
      for (size_t i = 0; i < blocks.size(); ++i) {
        TailBlock& b = blocks[i];
        for (size_t j = 0; j < b.size(); ++j) {
          if (!match(b.at(j))) continue;
          b.Materialize();
          b.items.erase(b.items.begin() + static_cast<std::ptrdiff_t>(j));
          --count;
          if (b.items.empty()) blocks.erase(blocks.begin() + static_cast<std::ptrdiff_t>(i));
          return true;
        }
      }
      return false;
    }
    // Unlinks every entry the predicate accepts, in one pass; what stays is
    // appended afresh, so runs form again.
    template <class Predicate>
    size_t RemoveIf(Predicate predicate) {
      std::vector<TailBlock> old;
      old.swap(blocks);
      const size_t before = count;
      count = 0;
      for (const TailBlock& b : old) {
        for (size_t j = 0; j < b.size(); ++j) {
          Shape* shape = b.at(j);
          if (!predicate(shape)) PushBack(shape);
        }
      }
      return before - count;
    }
  };

 private:
  // Moves the sorted head in front of the tail: the head is no longer sorted.
  void DissolveHead();

  // Leading areas in non-increasing order of outer area: searched by bisection.
  Blocks<KeyedShape> head_;
  // Everything after them, in drawing order.
  TailBlocks tail_;
};

}  // namespace kestrune
