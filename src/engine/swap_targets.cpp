#include "engine/swap_targets.h"

#include <utility>

namespace tarsel {

MoveCosts SwapTargets::Evaluate(const Solution& solution, const Move& move, const PenaltyWeights& weights) const {
  const RouteRules& rules = joiner_.Rules();
  const size_t u = solution.Route(move.a).nodes[move.i];
  const size_t v = solution.Route(move.b).nodes[move.j];
  MoveCosts costs{move.a, RouteRules::kInfeasible, move.b, RouteRules::kInfeasible};
  if (!rules.CanServe(move.b, u) || !rules.CanServe(move.a, v)) return costs;
  costs.cost_a = joiner_.Replace(solution, move.a, move.i, v, move.i, weights);
  if (costs.cost_a < RouteRules::kInfeasible) costs.cost_b = joiner_.Replace(solution, move.b, move.j, u, move.j, weights);
  return costs;
}

void SwapTargets::Apply(Solution& solution, const Move& move) {
  std::swap(solution.MutableNodes(move.a)[move.i], solution.MutableNodes(move.b)[move.j]);
}

}  // namespace tarsel
