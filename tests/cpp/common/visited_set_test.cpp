#include <gtest/gtest.h>

#include <random>

#include "common/visited_set.h"

namespace tarsel {
namespace {

// NextSet walks exactly the set bits, in ascending order, from any start,
// across word boundaries and up to the last bit.
TEST(VisitedSet, NextSetFindsEveryBitInOrder) {
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    VisitedSet set;
    const int density = round % 5;  // from empty to nearly full
    for (size_t i = 0; i < VisitedSet::kBits; ++i) {
      if (static_cast<int>(rng() % 4) < density) set.Set(i);
    }
    if (round % 7 == 0) set.Set(VisitedSet::kBits - 1);
    for (size_t from = 0; from <= VisitedSet::kBits; ++from) {
      size_t expected = from;
      while (expected < VisitedSet::kBits && !set.Test(expected)) ++expected;
      ASSERT_EQ(set.NextSet(from), expected) << "round " << round << ", from " << from;
    }
  }
}

}  // namespace
}  // namespace tarsel
