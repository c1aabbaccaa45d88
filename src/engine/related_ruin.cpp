#include "engine/related_ruin.h"

#include <algorithm>

#include "common/special_values.h"

namespace tarsel {

RelatedRuin::RelatedRuin(const RouteRules& rules, const GranularNeighbours& neighbours)
    : rules_(rules), neighbours_(neighbours), same_pairs_(rules), taken_(rules.NumNodes(), 0), touched_(rules.NumAgents(), 0) {
  group_.reserve(rules.Targets().size());
}

size_t RelatedRuin::Apply(Solution& solution, const PenaltyWeights& weights, Random& random) {
  const std::vector<size_t>& targets = rules_.Targets();
  if (targets.empty() || neighbours_.Types().empty()) return 0;
  const size_t most = std::max<size_t>(1, std::min(kMaxRemoved, targets.size() / 3));
  const size_t least = std::min(kMinRemoved, most);
  const size_t wanted = least + random.Below(most - least + 1);
  const size_t slots = neighbours_.Types().size();
  group_.clear();
  group_.push_back(targets[random.Below(targets.size())]);
  taken_[group_[0]] = 1;
  for (size_t head = 0; head < group_.size() && group_.size() < wanted; ++head) {
    // The neighbours in a random type's matrix, so that every type's
    // notion of "near" takes part.
    const size_t* list = neighbours_.Begin(random.Below(slots), group_[head]);
    for (size_t index = 0; index < neighbours_.Count() && group_.size() < wanted; ++index) {
      // Skip some, so that the group is no ball of fixed shape.
      if (random.Unit() < 0.3) continue;
      const size_t v = list[index];
      if (taken_[v] != 0) continue;
      taken_[v] = 1;
      group_.push_back(v);
    }
  }
  std::fill(touched_.begin(), touched_.end(), 0);
  size_t removed = 0;
  for (size_t node : group_) {
    taken_[node] = 0;
    const size_t k = solution.RouteOf(node);
    if (k == kNoIndex) continue;
    solution.Erase(k, solution.PositionOf(node));
    // Positions after the removed one shift; Refresh renews them, so each
    // touched route is refreshed before the next removal from it.
    solution.Refresh(k, weights);
    touched_[k] = 1;
    ++removed;
    removed += same_pairs_.ErasePartners(solution, node, weights);
  }
  return removed;
}

}  // namespace tarsel
