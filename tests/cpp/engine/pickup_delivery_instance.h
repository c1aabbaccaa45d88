#pragma once

#include <algorithm>
#include <random>
#include <vector>

#include "engine/random_instance.h"

namespace tarsel::engine_test {

// Pickup and delivery with capacities that leave no room to spare: one
// depot, every target in a "same" pair (its first node a demand of 3, its
// second 2), `agents` agents of one type each carrying exactly
// `pairs_per_agent` pairs (capacity 5 per pair).
inline RandomInstance MakeTightPickupDelivery(unsigned seed, size_t agents = 4, size_t pairs_per_agent = 3) {
  InstanceKinds kinds;
  kinds.nodes = 1 + 2 * agents * pairs_per_agent;
  kinds.agents = agents;
  kinds.types = 1;
  RandomInstance instance = MakeRandomInstance(kinds, seed);
  std::mt19937 random(seed);
  std::vector<size_t> targets;
  for (size_t node = 1; node < kinds.nodes; ++node) targets.push_back(node);
  std::shuffle(targets.begin(), targets.end(), random);
  std::vector<double> demands(kinds.nodes, 0.0);
  std::vector<PrecedencePair> pairs;
  for (size_t i = 0; i + 1 < targets.size(); i += 2) {
    demands[targets[i]] = 3.0;
    demands[targets[i + 1]] = 2.0;
    pairs.push_back(PrecedencePair{targets[i], targets[i + 1], targets[i], targets[i + 1], PairKind::kSame});
  }
  std::vector<AgentInfo> fleet = instance.tables.Agents();
  for (AgentInfo& agent : fleet) agent.capacity_limit = 5.0 * static_cast<double>(pairs_per_agent);
  instance.tables.SetAgents(fleet);
  instance.tables.SetDemands(std::move(demands));
  instance.tables.SetPrecedencePairs(std::move(pairs));
  return instance;
}

}  // namespace tarsel::engine_test
