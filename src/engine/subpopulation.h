#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/broken_pairs.h"
#include "engine/objective_value.h"
#include "engine/solution.h"

namespace tarsel {

// Sizes of one part of the population (feasible or infeasible solutions).
struct SubPopulationSizes {
  size_t survivors = 25;  // members kept after a survivor selection (mu)
  size_t generation = 40; // members added before the next selection (lambda)
  size_t elite = 4;       // members the cost rank protects from the diversity term
  size_t closest = 5;     // neighbours whose mean distance is the diversity contribution
};

// One part of the population: distinct solutions with their broken-pairs
// keys and the distance between every two of them. Ranked by biased
// fitness: cost rank + (1 - elite / size) * diversity rank, both scaled to
// [0, 1], lower is better; the diversity contribution of a member is its
// mean distance to its `closest` nearest members. A clone of a member (at
// distance 0) is refused on entry; when the part grows past survivors +
// generation, the member of worst biased fitness is removed, one at a
// time, until `survivors` remain.
class SubPopulation {
 public:
  SubPopulation(bool min_max, const SubPopulationSizes& sizes) : min_max_(min_max), sizes_(sizes) {}

  // Returns whether `solution` (with `keys`) was taken.
  bool Add(const Solution& solution, const std::vector<uint32_t>& keys);
  size_t Size() const { return members_.size(); }
  const Solution& Member(size_t index) const { return members_[index].solution; }
  // Biased fitness of member `index` (recomputed when members changed).
  double Fitness(size_t index);
  double Distance(size_t a, size_t b) const { return distance_[a][b]; }
  // Index of the member of best cost, or Size() when empty.
  size_t Best() const;
  // Recomputes members' costs under `weights`.
  void Recost(const PenaltyWeights& weights);
  void Clear();
  void SetSizes(const SubPopulationSizes& sizes) { sizes_ = sizes; }
  const SubPopulationSizes& Sizes() const { return sizes_; }
  // Bytes held by the members, their keys and distances.
  size_t MemoryBytes() const;

 private:
  struct Entry {
    Solution solution;
    std::vector<uint32_t> keys;
    ObjectiveValue value;
  };
  bool CostLess(size_t a, size_t b) const;
  void UpdateFitness();
  void Remove(size_t index);

  bool min_max_;
  SubPopulationSizes sizes_;
  std::vector<Entry> members_;
  std::vector<std::vector<double>> distance_;
  std::vector<double> fitness_;
  bool fitness_current_ = false;
  // Buffers of the ranking.
  std::vector<size_t> order_;
  std::vector<double> diversity_;
  std::vector<double> nearest_;
};

}  // namespace tarsel
