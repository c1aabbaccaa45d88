#include "engine/broken_pairs.h"

#include "common/special_values.h"

namespace tarsel {

BrokenPairs::BrokenPairs(const RouteRules& rules) : nodes_(rules.NumNodes()) {
  const size_t m = rules.NumAgents();
  profile_.assign(m, 0);
  for (size_t k = 0; k < m; ++k) {
    const RouteAgent& agent = rules.Agent(k);
    profile_[k] = k;
    for (size_t earlier = 0; earlier < k; ++earlier) {
      const RouteAgent& other = rules.Agent(earlier);
      if (other.type == agent.type && other.start == agent.start && other.goal == agent.goal &&
          other.limit == agent.limit && other.usable == agent.usable) {
        profile_[k] = profile_[earlier];
        break;
      }
    }
  }
}

void BrokenPairs::Keys(const Solution& solution, std::vector<uint32_t>& keys) const {
  const std::vector<size_t>& targets = solution.Rules().Targets();
  keys.resize(targets.size());
  // Successor index: the next node, or nodes_ for the route's end.
  const uint64_t successors = nodes_ + 1;
  for (size_t index = 0; index < targets.size(); ++index) {
    const size_t node = targets[index];
    const size_t k = solution.RouteOf(node);
    if (k == kNoIndex) {
      keys[index] = UINT32_MAX;
      continue;
    }
    const std::vector<size_t>& route = solution.Route(k).nodes;
    const size_t position = solution.PositionOf(node);
    const size_t next = position + 2 < route.size() ? route[position + 1] : nodes_;
    keys[index] = static_cast<uint32_t>(profile_[k] * successors + next);
  }
}

double BrokenPairs::Distance(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  if (a.empty()) return 0.0;
  size_t broken = 0;
  for (size_t i = 0; i < a.size(); ++i) broken += a[i] != b[i] ? 1 : 0;
  return static_cast<double>(broken) / static_cast<double>(a.size());
}

}  // namespace tarsel
