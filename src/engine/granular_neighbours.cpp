#include "engine/granular_neighbours.h"

#include <algorithm>
#include <utility>

namespace tarsel {

GranularNeighbours::GranularNeighbours(const RouteRules& rules, size_t count) {
  for (size_t k = 0; k < rules.NumAgents(); ++k) types_.push_back(rules.Agent(k).type);
  std::sort(types_.begin(), types_.end());
  types_.erase(std::unique(types_.begin(), types_.end()), types_.end());
  const std::vector<size_t>& targets = rules.Targets();
  nodes_ = rules.NumNodes();
  count_ = targets.empty() ? 0 : std::min(count, targets.size() - 1);
  lists_.assign(types_.size() * nodes_ * count_, 0);
  const InstanceTables& tables = rules.Tables();
  const double missing = tables.MissingCost();
  std::vector<std::pair<double, size_t>> order;
  order.reserve(targets.size());
  for (size_t slot = 0; slot < types_.size(); ++slot) {
    const size_t type = types_[slot];
    for (size_t u : targets) {
      order.clear();
      for (size_t v : targets) {
        if (v == u) continue;
        const double there = tables.Cost(type, u, v);
        const double back = tables.Cost(type, v, u);
        // Missing arcs rank last; ties keep node order, so lists never depend on sorting details.
        const double key = (there < missing ? there : missing) + (back < missing ? back : missing);
        order.emplace_back(key, v);
      }
      // Pairs are distinct (node indices differ), so the first count_ of a
      // partial sort are those of a full sort, in O(n log count_).
      std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(count_),
                        order.end());
      size_t* out = &lists_[(slot * nodes_ + u) * count_];
      for (size_t i = 0; i < count_; ++i) out[i] = order[i].second;
    }
  }
}

}  // namespace tarsel
