#pragma once

#include <cstddef>
#include <cstdint>

namespace tarsel {

// Fixed set of 256 node indices held in four 64-bit words, so that copying,
// subset tests and counting are word operations. Callers pass indices < 256.
struct VisitedSet {
  static constexpr size_t kBits = 256;
  uint64_t words[4] = {0, 0, 0, 0};

  bool Test(size_t i) const { return (words[i >> 6] >> (i & 63)) & 1u; }
  void Set(size_t i) { words[i >> 6] |= uint64_t{1} << (i & 63); }
  void Reset(size_t i) { words[i >> 6] &= ~(uint64_t{1} << (i & 63)); }
  void Clear() { words[0] = words[1] = words[2] = words[3] = 0; }
  // Sets bits from..255.
  void SetFrom(size_t from) {
    for (size_t i = from; i < kBits; ++i) Set(i);
  }
  // Index of the first set bit at or after `from` (at most kBits), kBits
  // when there is none.
  size_t NextSet(size_t from) const {
    for (size_t w = from >> 6; w < 4; ++w) {
      uint64_t bits = words[w];
      if (w == (from >> 6)) bits &= ~uint64_t{0} << (from & 63);
      if (bits != 0) return w * 64 + static_cast<size_t>(__builtin_ctzll(bits));
    }
    return kBits;
  }
  // True when every bit of `other` is set here.
  bool Contains(const VisitedSet& other) const {
    for (int w = 0; w < 4; ++w) {
      if ((other.words[w] & ~words[w]) != 0) return false;
    }
    return true;
  }
  // Number of set bits among bits 0 .. n-1.
  int64_t CountBelow(int64_t n) const {
    if (n <= 0) return 0;
    int64_t count = 0;
    for (int w = 0; w < 4 && n > 0; ++w, n -= 64) {
      const uint64_t mask = n >= 64 ? ~uint64_t{0} : ((uint64_t{1} << n) - 1);
      count += __builtin_popcountll(words[w] & mask);
    }
    return count;
  }
  // True when every bit 0 .. n-1 is set.
  bool AllBelow(int64_t n) const { return CountBelow(n) == (n < 0 ? 0 : n); }
  bool operator==(const VisitedSet& o) const {
    return words[0] == o.words[0] && words[1] == o.words[1] && words[2] == o.words[2] &&
           words[3] == o.words[3];
  }
};

}  // namespace tarsel
