#include "plugins/default_expansion.h"

#include <algorithm>

#include "common/special_values.h"

namespace tarsel {

void DefaultExpansion::SetGoals(const std::vector<size_t>& goals) {
  this->goals = goals;
  num_agents = goals.size();
}

size_t DefaultExpansion::SelectAgent(const Label& label) const {
  const size_t count = std::min({num_agents, label.costs.size(), label.finished.size()});
  size_t best = kNoIndex;
  double best_cost = kMaxDouble;
  // Strict comparison: equal costs keep the lowest index.
  for (size_t k = 0; k < count; ++k) {
    if (label.finished[k] == 0 && label.costs[k] < best_cost) {
      best = k;
      best_cost = label.costs[k];
    }
  }
  return best;
}

}  // namespace tarsel
