#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/broken_pairs.h"
#include "engine/random.h"
#include "engine/solution.h"
#include "engine/subpopulation.h"

namespace tarsel {

// The population: feasible and infeasible solutions kept apart, each part
// ranked by biased fitness (cost and diversity, see SubPopulation); parents
// are chosen by binary tournament on biased fitness over both parts.
class Population {
 public:
  Population(const RouteRules& rules, bool min_max, const SubPopulationSizes& sizes);

  // Adds `solution` to the part its feasibility selects; returns whether it
  // was taken (a clone of a member, or an incomplete solution, is not).
  bool Offer(const Solution& solution);
  size_t Size() const { return feasible_.Size() + infeasible_.Size(); }
  const SubPopulation& Feasible() const { return feasible_; }
  const SubPopulation& Infeasible() const { return infeasible_; }
  const Solution& Tournament(Random& random);
  // Recomputes the infeasible members' costs after the penalty weights
  // changed (feasible members cost the same under every weight).
  void Recost(const PenaltyWeights& weights) { infeasible_.Recost(weights); }
  void Clear();
  // Sizes of each part; shrinking takes effect at the next selection.
  void SetSizes(const SubPopulationSizes& sizes);
  const SubPopulationSizes& Sizes() const { return feasible_.Sizes(); }
  size_t MemoryBytes() const { return feasible_.MemoryBytes() + infeasible_.MemoryBytes(); }
  // Bytes one more member costs at most on this instance with parts of
  // `sizes` (its solution, keys and row of distances).
  static size_t MemberBytes(const RouteRules& rules, const SubPopulationSizes& sizes);

 private:
  size_t Pick(Random& random, SubPopulation*& part);

  BrokenPairs pairs_;
  SubPopulation feasible_;
  SubPopulation infeasible_;
  std::vector<uint32_t> keys_;
};

}  // namespace tarsel
