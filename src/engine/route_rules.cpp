#include "engine/route_rules.h"

namespace tarsel {

RouteRules::RouteRules(const InstanceTables& tables) : RouteCosts(tables) {
  const size_t n = tables.NumNodes();
  is_target_.assign(n, 0);
  for (size_t v = 0; v < n; ++v) {
    if (!tables.IsStart(v) && !tables.IsGoal(v)) {
      is_target_[v] = 1;
      targets_.push_back(v);
    }
  }
}

}  // namespace tarsel
