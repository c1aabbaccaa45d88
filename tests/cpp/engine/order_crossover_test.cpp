#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <vector>

#include "engine/order_crossover.h"
#include "engine/random.h"

namespace tarsel {
namespace {

// Whether `child` keeps first[from..to] in place and holds every other
// target in the order `second` has them, read cyclically from just after
// position `to` and written from just after it.
bool KeepsSegmentAndOrder(const std::vector<size_t>& first, const std::vector<size_t>& second,
                          const std::vector<size_t>& child, size_t from, size_t to) {
  const size_t n = first.size();
  std::vector<char> kept(n + 10, 0);
  for (size_t i = from; i <= to; ++i) {
    if (child[i] != first[i]) return false;
    kept[first[i]] = 1;
  }
  std::vector<size_t> expected;
  for (size_t step = 0; step < n; ++step) {
    const size_t node = second[(to + 1 + step) % n];
    if (kept[node] == 0) expected.push_back(node);
  }
  for (size_t q = 0; q < expected.size(); ++q) {
    if (child[(to + 1 + q) % n] != expected[q]) return false;
  }
  return true;
}

// The child of two giant tours is a permutation of their targets that
// keeps one segment of the first parent in place and the rest in the
// second parent's order.
TEST(OrderCrossover, ChildIsAPermutationKeepingASegmentOfTheFirstParent) {
  Random random(5);
  for (size_t n : {1u, 2u, 5u, 9u, 30u}) {
    std::vector<size_t> first(n), second(n), child;
    // Targets 3 .. n + 2, as in a tour that leaves out the depots.
    std::iota(first.begin(), first.end(), size_t{3});
    std::vector<char> used(n + 3, 1);
    for (int trial = 0; trial < 50; ++trial) {
      random.Shuffle(first);
      second = first;
      random.Shuffle(second);
      OrderCrossover(first, second, random, used, child);
      ASSERT_EQ(child.size(), n);
      std::vector<size_t> sorted = child;
      std::sort(sorted.begin(), sorted.end());
      std::vector<size_t> targets = first;
      std::sort(targets.begin(), targets.end());
      EXPECT_EQ(sorted, targets) << "n " << n;
      bool explained = false;
      for (size_t from = 0; from < n && !explained; ++from) {
        for (size_t to = from; to < n && !explained; ++to) {
          explained = KeepsSegmentAndOrder(first, second, child, from, to);
        }
      }
      EXPECT_TRUE(explained) << "n " << n << " trial " << trial;
    }
  }
  // Identical parents give the parent back.
  std::vector<size_t> tour{4, 2, 7, 3, 5, 6}, child;
  std::vector<char> used(8, 0);
  OrderCrossover(tour, tour, random, used, child);
  EXPECT_EQ(child, tour);
}

}  // namespace
}  // namespace tarsel
