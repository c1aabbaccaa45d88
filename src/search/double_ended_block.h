#pragma once

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace tarsel {

// A fixed-capacity array whose live elements are items[begin, end), with
// free room at both ends. Inserting or erasing at a position moves the
// shorter side (as long as that side has room), so removing the first
// element is O(1) and an insert moves at most about half of the elements.
// The block keeps the order it is given; keeping it sorted is up to the
// caller. Invariant: 0 <= begin <= end <= Capacity.
template <class T, size_t Capacity>
struct DoubleEndedBlock {
  static_assert(Capacity >= 2, "a block must hold at least two elements");
  static_assert(Capacity <= UINT32_MAX, "block offsets are 32 bits");
  static_assert(std::is_default_constructible_v<T>, "blocks default-construct their slots");
  static_assert(std::is_nothrow_move_assignable_v<T>, "moving elements must not throw");

  uint32_t begin = 0;
  uint32_t end = 0;
  T items[Capacity];

  size_t Size() const { return end - begin; }
  bool Empty() const { return begin == end; }
  bool Full() const { return Size() == Capacity; }
  T* First() { return items + begin; }
  T* Last() { return items + end; }
  const T* First() const { return items + begin; }
  const T* Last() const { return items + end; }

  // Inserts `value` before the element at offset `at` from begin
  // (0 <= at <= Size()). The block must not be full.
  void InsertAt(size_t at, const T& value) {
    assert(!Full() && at <= Size());
    const bool room_left = begin > 0;
    const bool room_right = end < Capacity;
    if (room_left && (!room_right || at < Size() - at)) {
      std::move(First(), First() + at, First() - 1);
      --begin;
    } else {
      std::move_backward(First() + at, Last(), Last() + 1);
      ++end;
    }
    items[begin + at] = value;
  }

  // Removes the element at offset `at` from begin (0 <= at < Size()).
  void EraseAt(size_t at) {
    assert(at < Size());
    if (at < Size() - 1 - at) {
      std::move_backward(First(), First() + at, First() + at + 1);
      ++begin;
    } else {
      std::move(First() + at + 1, Last(), First() + at);
      --end;
    }
  }

  // Appends the elements [first, last) after the live ones, first moving the
  // live ones to the start of the array if the room after them is short.
  void Append(const T* first, const T* last) {
    const size_t n = static_cast<size_t>(last - first);
    assert(Size() + n <= Capacity);
    if (Capacity - end < n) {
      std::move(First(), Last(), items);
      end -= begin;
      begin = 0;
    }
    std::copy(first, last, Last());
    end += static_cast<uint32_t>(n);
  }

  // Makes the block hold copies of [first, last), centred so that later
  // inserts find room on either side.
  void Assign(const T* first, const T* last) {
    const size_t n = static_cast<size_t>(last - first);
    assert(n <= Capacity);
    begin = static_cast<uint32_t>((Capacity - n) / 2);
    end = static_cast<uint32_t>(begin + n);
    std::copy(first, last, First());
  }
};

}  // namespace tarsel
