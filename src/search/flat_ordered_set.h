#pragma once

#include <algorithm>
#include <array>
#include <cassert>
#include <cstddef>
#include <functional>
#include <iterator>
#include <utility>
#include <vector>

#include "search/double_ended_block.h"

namespace tarsel {

// Block capacity used when none is given: about 2 KiB, but at least 64
// elements. An insert moves part of one block, which costs by the byte;
// the directory's search and its moves on a split cost by the number of
// blocks. (Measured with benchmarks/cpp/flat_ordered_set_bench.cpp on the
// open and focal lists' patterns with 10 million inserts.)
template <class T>
constexpr size_t DefaultFlatBlockCapacity() {
  return std::max<size_t>(64, 2048 / sizeof(T));
}

// A sorted set with the behaviour of std::set<T, Less>: elements are unique
// under the comparator's equivalence (of two equivalent elements the one
// inserted first stays), ordered by a comparator object given at
// construction. The elements live in sorted blocks of BlockCapacity slots;
// a directory, sorted too, holds each block with a copy of its first
// element, so that a lookup is a binary search over the directory and then
// one inside a block. An insert moves elements inside one block; a full
// block first passes an element to a neighbour with room and splits only
// when neither has any, so blocks stay about 80 % full after random inserts
// and a split, the only time an insert allocates, is rare (freed blocks are
// kept for reuse, up to a few). Iteration walks contiguous arrays.
//
// Invariants: the directory's live slots are slots_[head_, slots_.size());
// no live block is empty; each slot's `first` equals its block's first
// element; every element of a block is below the next slot's `first`;
// size_ is the sum of the block sizes. Slots before head_ are the room left
// by blocks removed from the front, so that removing the first block is
// O(1).
//
// Unlike std::set, every modification invalidates all iterators.
template <class T, class Less = std::less<T>,
          size_t BlockCapacity = DefaultFlatBlockCapacity<T>()>
class FlatOrderedSet {
  using Block = DoubleEndedBlock<T, BlockCapacity>;
  struct Slot {
    T first;
    Block* block = nullptr;
  };

 public:
  static constexpr size_t kBlockCapacity = BlockCapacity;

  // Forward iterator over the elements in ascending order. Either cur_
  // points into the block of slot_, before stop_ (that block's end), or
  // cur_ is null, which is the end.
  class ConstIterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = T;
    using difference_type = std::ptrdiff_t;
    using pointer = const T*;
    using reference = const T&;

    ConstIterator() = default;
    reference operator*() const { return *cur_; }
    pointer operator->() const { return cur_; }
    ConstIterator& operator++() {
      if (++cur_ == stop_) Enter(slot_ + 1);
      return *this;
    }
    ConstIterator operator++(int) {
      ConstIterator old = *this;
      ++*this;
      return old;
    }
    friend bool operator==(const ConstIterator& a, const ConstIterator& b) {
      return a.cur_ == b.cur_;
    }
    friend bool operator!=(const ConstIterator& a, const ConstIterator& b) {
      return a.cur_ != b.cur_;
    }

   private:
    friend class FlatOrderedSet;
    // At element `cur` of the block of `slot`; at the end when cur is null.
    ConstIterator(const Slot* slot, const Slot* slots_end, const T* cur)
        : slot_(slot), slots_end_(slots_end), cur_(cur),
          stop_(cur ? slot->block->Last() : nullptr) {}
    // Moves to the first element of `slot`'s block, or to the end.
    void Enter(const Slot* slot) {
      slot_ = slot;
      if (slot == slots_end_) {
        cur_ = stop_ = nullptr;
      } else {
        cur_ = slot->block->First();
        stop_ = slot->block->Last();
      }
    }

    const Slot* slot_ = nullptr;
    const Slot* slots_end_ = nullptr;
    const T* cur_ = nullptr;
    const T* stop_ = nullptr;
  };

  explicit FlatOrderedSet(Less less = Less()) : less_(std::move(less)) {}
  ~FlatOrderedSet() { DeleteAllBlocks(); }

  FlatOrderedSet(const FlatOrderedSet& other) : less_(other.less_) {
    slots_.reserve(other.slots_.size() - other.head_);
    try {
      for (size_t s = other.head_; s < other.slots_.size(); ++s) {
        slots_.push_back(Slot{other.slots_[s].first, new Block(*other.slots_[s].block)});
      }
    } catch (...) {
      DeleteAllBlocks();
      throw;
    }
    size_ = other.size_;
  }
  FlatOrderedSet(FlatOrderedSet&& other) noexcept
      : less_(std::move(other.less_)),
        slots_(std::move(other.slots_)),
        head_(std::exchange(other.head_, 0)),
        size_(std::exchange(other.size_, 0)),
        spare_(other.spare_),
        num_spare_(std::exchange(other.num_spare_, 0)) {
    other.slots_.clear();
  }
  // Copy or move assignment, through a by-value parameter.
  FlatOrderedSet& operator=(FlatOrderedSet other) noexcept {
    Swap(other);
    return *this;
  }
  void Swap(FlatOrderedSet& other) noexcept {
    using std::swap;
    swap(less_, other.less_);
    slots_.swap(other.slots_);
    swap(head_, other.head_);
    swap(size_, other.size_);
    swap(spare_, other.spare_);
    swap(num_spare_, other.num_spare_);
  }

  bool Empty() const { return size_ == 0; }
  size_t Size() const { return size_; }

  // The smallest element. The set must not be empty.
  const T& Front() const {
    assert(!Empty());
    return slots_[head_].first;
  }

  // Removes the smallest element in O(1). The set must not be empty.
  void PopFront() {
    assert(!Empty());
    Block* block = slots_[head_].block;
    ++block->begin;
    --size_;
    if (block->Empty()) {
      RemoveSlot(head_);
    } else {
      slots_[head_].first = *block->First();
    }
  }

  // Adds `value` unless an equivalent element is present; true if added.
  bool Insert(const T& value) {
    if (Empty()) {
      ReserveSlot();
      Block* block = NewBlock();
      block->Assign(&value, &value + 1);
      slots_.push_back(Slot{value, block});
      size_ = 1;
      return true;
    }
    const size_t s = Locate(value);
    Block* block = slots_[s].block;
    const T* pos = std::lower_bound(block->First(), block->Last(), value, less_);
    if (pos != block->Last() && !less_(value, *pos)) return false;
    const size_t at = static_cast<size_t>(pos - block->First());
    if (block->Full()) {
      if (!SpillAndInsert(s, at, value)) InsertIntoFull(s, at, value);
    } else {
      block->InsertAt(at, value);
      if (at == 0) slots_[s].first = value;
    }
    ++size_;
    return true;
  }

  // Removes the element equivalent to `value`; true if there was one.
  bool Erase(const T& value) {
    if (Empty()) return false;
    const size_t s = Locate(value);
    Block* block = slots_[s].block;
    const T* pos = std::lower_bound(block->First(), block->Last(), value, less_);
    if (pos == block->Last() || less_(value, *pos)) return false;
    const size_t at = static_cast<size_t>(pos - block->First());
    block->EraseAt(at);
    --size_;
    if (block->Empty()) {
      RemoveSlot(s);
      return true;
    }
    if (at == 0) slots_[s].first = *block->First();
    MergeWithNeighbour(s);
    return true;
  }

  // Removes every element. The directory keeps its capacity.
  void Clear() {
    for (size_t s = head_; s < slots_.size(); ++s) ReleaseBlock(slots_[s].block);
    slots_.clear();
    head_ = 0;
    size_ = 0;
  }

  // Lower-case names so that the set works with range-based for.
  ConstIterator begin() const {
    if (Empty()) return end();
    return At(head_, slots_[head_].block->First());
  }
  ConstIterator end() const { return ConstIterator(); }

  // First element not below `key`, or end().
  ConstIterator LowerBound(const T& key) const {
    if (Empty()) return end();
    const size_t s = Locate(key);
    const Block* block = slots_[s].block;
    return Next(s, std::lower_bound(block->First(), block->Last(), key, less_));
  }

  // First element above `key`, or end().
  ConstIterator UpperBound(const T& key) const {
    if (Empty()) return end();
    const size_t s = Locate(key);
    const Block* block = slots_[s].block;
    return Next(s, std::upper_bound(block->First(), block->Last(), key, less_));
  }

  // Removes `first` and every element after it (a tail of the set, for
  // example everything above a key with EraseFrom(UpperBound(key))).
  // Returns how many elements went.
  size_t EraseFrom(ConstIterator first) {
    if (first == end()) return 0;
    const size_t s = static_cast<size_t>(first.slot_ - slots_.data());
    Block* block = slots_[s].block;
    size_t erased = static_cast<size_t>(block->Last() - first.cur_);
    block->end = static_cast<uint32_t>(first.cur_ - block->items);
    for (size_t r = s + 1; r < slots_.size(); ++r) {
      erased += slots_[r].block->Size();
      ReleaseBlock(slots_[r].block);
    }
    slots_.resize(s + 1);
    size_ -= erased;
    if (block->Empty()) {
      RemoveSlot(s);
    } else {
      MergeWithNeighbour(s);
    }
    return erased;
  }

  // Removes every element for which `pred(element)` is true, in one pass
  // over the elements, and returns how many went. Blocks left empty are
  // freed and neighbours left small are merged. `pred` must not throw.
  template <class Pred>
  size_t EraseIf(Pred pred) {
    size_t erased = 0;
    size_t kept = head_;  // slots [head_, kept) are final
    for (size_t r = head_; r < slots_.size(); ++r) {
      Block* block = slots_[r].block;
      T* last = std::remove_if(block->First(), block->Last(),
                               [&pred](const T& x) { return pred(x); });
      erased += static_cast<size_t>(block->Last() - last);
      block->end = static_cast<uint32_t>(last - block->items);
      if (block->Empty()) {
        ReleaseBlock(block);
      } else if (kept > head_ &&
                 slots_[kept - 1].block->Size() + block->Size() <= kMergeLimit) {
        slots_[kept - 1].block->Append(block->First(), block->Last());
        ReleaseBlock(block);
      } else {
        slots_[kept++] = Slot{*block->First(), block};
      }
    }
    slots_.resize(kept);
    if (kept == head_) {
      slots_.clear();
      head_ = 0;
    }
    size_ -= erased;
    return erased;
  }

  // Heap bytes held: the directory's capacity and every block, including
  // the freed blocks kept for reuse.
  size_t MemoryBytes() const {
    const size_t blocks = slots_.size() - head_ + num_spare_;
    return slots_.capacity() * sizeof(Slot) + blocks * sizeof(Block);
  }

 private:
  // Two neighbours that hold this many elements or fewer together become
  // one block. Half a block, so that a merged block does not split again
  // right away.
  static constexpr size_t kMergeLimit = BlockCapacity / 2;
  // How many freed blocks are kept for reuse instead of being deleted.
  static constexpr size_t kMaxSpareBlocks = 8;

  // The live slot whose block holds `key` or the place where it would go:
  // the last slot whose first element is not above key, or the first slot.
  // The set must not be empty.
  size_t Locate(const T& key) const {
    auto it = std::upper_bound(slots_.begin() + static_cast<std::ptrdiff_t>(head_) + 1,
                               slots_.end(), key,
                               [this](const T& k, const Slot& slot) { return less_(k, slot.first); });
    return static_cast<size_t>(it - slots_.begin()) - 1;
  }

  ConstIterator At(size_t s, const T* cur) const {
    return ConstIterator(slots_.data() + s, slots_.data() + slots_.size(), cur);
  }
  // Iterator at `pos` in the block of slot s; at the next block's first
  // element (or the end) when pos is past the block's last element.
  ConstIterator Next(size_t s, const T* pos) const {
    if (pos != slots_[s].block->Last()) return At(s, pos);
    if (s + 1 == slots_.size()) return end();
    return At(s + 1, slots_[s + 1].block->First());
  }

  // Makes room in the full block of slot s for `value` (at offset `at`) by
  // passing its last element to the next block or its first to the previous
  // one, when that neighbour has room, and inserts; false if neither has.
  // Filling neighbours before splitting keeps blocks fuller (less memory per
  // element) and makes splits rarer.
  bool SpillAndInsert(size_t s, size_t at, const T& value) {
    Block* block = slots_[s].block;
    if (s + 1 < slots_.size() && !slots_[s + 1].block->Full()) {
      Block* next = slots_[s + 1].block;
      if (at == BlockCapacity) {
        next->InsertAt(0, value);
      } else {
        next->InsertAt(0, *(block->Last() - 1));
        --block->end;
        block->InsertAt(at, value);
        if (at == 0) slots_[s].first = value;
      }
      slots_[s + 1].first = *next->First();
      return true;
    }
    // at > 0 below the first block: a smaller value would belong to the
    // block before.
    if (s > head_ && !slots_[s - 1].block->Full()) {
      Block* prev = slots_[s - 1].block;
      prev->InsertAt(prev->Size(), *block->First());
      ++block->begin;
      block->InsertAt(at - 1, value);
      slots_[s].first = *block->First();
      return true;
    }
    return false;
  }

  // Inserts `value` at offset `at` of the full block of slot s, splitting it.
  // A value past the last element of the last block (or before the first
  // of the first) gets a block of its own, so that ascending (descending)
  // inserts fill blocks completely.
  void InsertIntoFull(size_t s, size_t at, const T& value) {
    s -= ReserveSlot();
    Block* fresh = NewBlock();
    Block* block = slots_[s].block;
    if (at == BlockCapacity && s + 1 == slots_.size()) {
      fresh->Assign(&value, &value + 1);
      InsertSlot(s + 1, Slot{value, fresh});
      return;
    }
    if (at == 0 && s == head_) {
      fresh->Assign(&value, &value + 1);
      InsertSlot(s, Slot{value, fresh});
      return;
    }
    constexpr size_t keep = BlockCapacity / 2;
    fresh->Assign(block->First() + keep, block->Last());
    block->end = static_cast<uint32_t>(block->begin + keep);
    // at > 0 here: a value below a block's first element goes to the
    // block before, except below the first block, handled above.
    if (at <= keep) {
      block->InsertAt(at, value);
    } else {
      fresh->InsertAt(at - keep, value);
    }
    InsertSlot(s + 1, Slot{*fresh->First(), fresh});
  }

  // Merges the block of slot s with a neighbour when the two together hold
  // at most kMergeLimit elements.
  void MergeWithNeighbour(size_t s) {
    const size_t n = slots_[s].block->Size();
    if (s + 1 < slots_.size() && n + slots_[s + 1].block->Size() <= kMergeLimit) {
      MergeIntoPrevious(s + 1);
    } else if (s > head_ && slots_[s - 1].block->Size() + n <= kMergeLimit) {
      MergeIntoPrevious(s);
    }
  }
  // Appends the elements of slot s's block to the block before it and
  // removes slot s.
  void MergeIntoPrevious(size_t s) {
    Block* block = slots_[s].block;
    slots_[s - 1].block->Append(block->First(), block->Last());
    RemoveSlot(s);
  }

  // Makes sure one more slot fits in the directory without reallocating,
  // so that the inserts that follow cannot fail half-way. Returns by how
  // many places the live slots moved down (the room before head_ is
  // reclaimed when the directory is full).
  size_t ReserveSlot() {
    if (slots_.size() < slots_.capacity()) return 0;
    const size_t moved = head_;
    if (head_ > 0) {
      slots_.erase(slots_.begin(), slots_.begin() + static_cast<std::ptrdiff_t>(head_));
      head_ = 0;
    } else {
      slots_.reserve(std::max<size_t>(8, 2 * slots_.capacity()));
    }
    return moved;
  }
  // Puts `slot` before live slot `pos` (pos == slots_.size() appends),
  // moving the shorter side of the directory. Needs ReserveSlot first.
  void InsertSlot(size_t pos, const Slot& slot) {
    if (head_ > 0 && pos - head_ < slots_.size() - pos) {
      std::move(slots_.begin() + static_cast<std::ptrdiff_t>(head_),
                slots_.begin() + static_cast<std::ptrdiff_t>(pos),
                slots_.begin() + static_cast<std::ptrdiff_t>(head_) - 1);
      --head_;
      slots_[pos - 1] = slot;
    } else {
      slots_.insert(slots_.begin() + static_cast<std::ptrdiff_t>(pos), slot);
    }
  }
  // Frees the (empty) block of live slot `pos` and removes the slot, moving
  // the shorter side of the directory.
  void RemoveSlot(size_t pos) {
    ReleaseBlock(slots_[pos].block);
    if (pos - head_ < slots_.size() - 1 - pos) {
      std::move_backward(slots_.begin() + static_cast<std::ptrdiff_t>(head_),
                         slots_.begin() + static_cast<std::ptrdiff_t>(pos),
                         slots_.begin() + static_cast<std::ptrdiff_t>(pos) + 1);
      slots_[head_].block = nullptr;
      ++head_;
    } else {
      slots_.erase(slots_.begin() + static_cast<std::ptrdiff_t>(pos));
    }
    if (head_ == slots_.size()) {
      slots_.clear();
      head_ = 0;
    }
  }

  Block* NewBlock() {
    Block* block = num_spare_ > 0 ? spare_[--num_spare_] : new Block;
    block->begin = block->end = 0;
    return block;
  }
  void ReleaseBlock(Block* block) {
    if (num_spare_ < kMaxSpareBlocks) {
      spare_[num_spare_++] = block;
    } else {
      delete block;
    }
  }
  void DeleteAllBlocks() {
    for (size_t s = head_; s < slots_.size(); ++s) delete slots_[s].block;
    for (size_t i = 0; i < num_spare_; ++i) delete spare_[i];
    slots_.clear();
    head_ = 0;
    size_ = 0;
    num_spare_ = 0;
  }

  Less less_;
  std::vector<Slot> slots_;
  size_t head_ = 0;
  size_t size_ = 0;
  std::array<Block*, kMaxSpareBlocks> spare_{};  // freed blocks kept for reuse:
  size_t num_spare_ = 0;                           // spare_[0, num_spare_)
};

}  // namespace tarsel
