#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/solution.h"

namespace tarsel {

// Broken-pairs distance between solutions. Each target has one pair key:
// the node that follows it on its route (or "the route's end") together
// with the profile of the agent serving it. A profile is what makes agents
// differ (type, start, end, length limit), so two solutions that only hand
// the same routes to interchangeable agents are at distance 0; routes are
// directed, as windows and asymmetric matrices make them. The distance is
// the share of targets whose keys differ: 0 for the same routes, 1 when no
// pair is shared.
class BrokenPairs {
 public:
  explicit BrokenPairs(const RouteRules& rules);

  // The keys of `solution`, one per target in the order of rules.Targets().
  void Keys(const Solution& solution, std::vector<uint32_t>& keys) const;
  static double Distance(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b);

  size_t Profile(size_t agent) const { return profile_[agent]; }

 private:
  size_t nodes_ = 0;
  std::vector<size_t> profile_;  // per agent
};

}  // namespace tarsel
