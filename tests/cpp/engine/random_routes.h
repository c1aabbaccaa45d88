#pragma once

#include <algorithm>
#include <cstddef>
#include <random>
#include <vector>

#include "engine/route_rules.h"
#include "engine/solution.h"

namespace tarsel::engine_test {

// Random targets for every route: each target to a random agent, each
// route's targets shuffled (types and assignment rules ignored: the full
// evaluation does not read them).
inline void RandomRoutes(const RouteRules& rules, Solution& solution, const PenaltyWeights& weights,
                         std::mt19937& random) {
  solution.Clear(weights);
  std::vector<std::vector<size_t>> targets(rules.NumAgents());
  for (size_t v : rules.Targets()) targets[random() % rules.NumAgents()].push_back(v);
  for (size_t k = 0; k < rules.NumAgents(); ++k) {
    std::shuffle(targets[k].begin(), targets[k].end(), random);
    solution.SetTargets(k, targets[k].data(), targets[k].size());
  }
  for (size_t k = 0; k < rules.NumAgents(); ++k) solution.Refresh(k, weights);
}

// One route holding every target in a random order, the other routes empty.
inline void OneRandomTour(const RouteRules& rules, Solution& solution, const PenaltyWeights& weights,
                          std::mt19937& random) {
  solution.Clear(weights);
  std::vector<size_t> targets = rules.Targets();
  std::shuffle(targets.begin(), targets.end(), random);
  solution.SetTargets(0, targets.data(), targets.size());
  for (size_t k = 0; k < rules.NumAgents(); ++k) solution.Refresh(k, weights);
}

// The nodes in increasing order.
inline std::vector<size_t> Sorted(std::vector<size_t> nodes) {
  std::sort(nodes.begin(), nodes.end());
  return nodes;
}

}  // namespace tarsel::engine_test
