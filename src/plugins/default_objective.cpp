#include "plugins/default_objective.h"

#include <algorithm>

namespace tarsel {

double DefaultObjective::Aggregate(const std::vector<double>& costs) const {
  if (costs.empty()) return 0;
  double largest = costs[0];
  for (size_t k = 1; k < costs.size(); ++k) largest = std::max(largest, costs[k]);
  return largest;
}

double DefaultObjective::Evaluate(const Label& label, size_t active_agents, double h) const {
  const double longest = Aggregate(label.costs);
  if (active_agents == 0) return longest;
  const size_t count = std::min(label.costs.size(), label.finished.size());
  double active_sum = 0;
  for (size_t k = 0; k < count; ++k) {
    if (label.finished[k] == 0) active_sum += label.costs[k];
  }
  // The active agents share their current costs and the remaining bound.
  const double average_load = (active_sum + h) / static_cast<double>(active_agents);
  return average_load < longest ? longest : average_load;
}

}  // namespace tarsel
