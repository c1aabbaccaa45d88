#pragma once

#include <cstddef>
#include <vector>

#include "engine/random.h"
#include "engine/solution.h"

namespace tarsel {

// A small population of distinct complete solutions: clones are refused,
// a newcomer replaces the worst member when better, parents are chosen by
// binary tournament.
class Population {
 public:
  Population(size_t capacity, bool min_max) : capacity_(capacity), min_max_(min_max) {}

  // Returns whether `solution` was taken.
  bool Offer(const Solution& solution);
  size_t Size() const { return members_.size(); }
  const Solution& Member(size_t index) const { return members_[index]; }
  const Solution& Tournament(Random& random) const;
  const Solution& Best() const;

 private:
  size_t Worst() const;

  size_t capacity_;
  bool min_max_;
  std::vector<Solution> members_;
};

}  // namespace tarsel
