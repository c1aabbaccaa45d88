#include "engine/swap_pairs.h"

#include <vector>

namespace tarsel {

double SwapPairs::BestPlaces(const Solution& solution, size_t k, size_t skip_i, size_t skip_j, size_t first,
                             size_t second, const PenaltyWeights& weights, size_t& p, size_t& q) const {
  const RouteRules& rules = joiner_.Rules();
  double best = RouteRules::kInfeasible;
  if (!rules.CanServe(k, first) || !rules.CanServe(k, second)) return best;
  // Places 1 .. left - 1 of the route without its pair (start and end kept).
  const size_t left = solution.Route(k).nodes.size() - 2;
  for (size_t place_p = 1; place_p < left; ++place_p) {
    for (size_t place_q = place_p; place_q < left; ++place_q) {
      const double cost = pair_.WithPair(solution, k, skip_i, skip_j, first, second, place_p, place_q, weights);
      if (cost < best) {
        best = cost;
        p = place_p;
        q = place_q;
      }
    }
  }
  return best;
}

MoveCosts SwapPairs::Best(const Solution& solution, Move& move, const PenaltyWeights& weights) const {
  MoveCosts costs{move.a, RouteRules::kInfeasible, move.b, RouteRules::kInfeasible};
  if (move.a == move.b) return costs;
  const std::vector<size_t>& na = solution.Route(move.a).nodes;
  const std::vector<size_t>& nb = solution.Route(move.b).nodes;
  const RouteRules& rules = joiner_.Rules();
  if (!rules.CanServe(move.b, na[move.i]) || !rules.CanServe(move.b, na[move.j])) return costs;
  costs.cost_a = BestPlaces(solution, move.a, move.i, move.j, nb[move.k], nb[move.l], weights, move.r, move.s);
  if (!(costs.cost_a < RouteRules::kInfeasible)) return costs;
  costs.cost_b = BestPlaces(solution, move.b, move.k, move.l, na[move.i], na[move.j], weights, move.p, move.q);
  return costs;
}

MoveCosts SwapPairs::Evaluate(const Solution& solution, const Move& move, const PenaltyWeights& weights) const {
  MoveCosts costs{move.a, RouteRules::kInfeasible, move.b, RouteRules::kInfeasible};
  if (move.a == move.b) return costs;
  const RouteRules& rules = joiner_.Rules();
  const std::vector<size_t>& na = solution.Route(move.a).nodes;
  const std::vector<size_t>& nb = solution.Route(move.b).nodes;
  if (!rules.CanServe(move.a, nb[move.k]) || !rules.CanServe(move.a, nb[move.l]) ||
      !rules.CanServe(move.b, na[move.i]) || !rules.CanServe(move.b, na[move.j])) {
    return costs;
  }
  costs.cost_a = pair_.WithPair(solution, move.a, move.i, move.j, nb[move.k], nb[move.l], move.r, move.s, weights);
  if (costs.cost_a < RouteRules::kInfeasible) {
    costs.cost_b = pair_.WithPair(solution, move.b, move.k, move.l, na[move.i], na[move.j], move.p, move.q, weights);
  }
  return costs;
}

void SwapPairs::Apply(Solution& solution, const Move& move) {
  std::vector<size_t>& from_a = solution.MutableNodes(move.a);
  std::vector<size_t>& from_b = solution.MutableNodes(move.b);
  const size_t first_a = from_a[move.i], second_a = from_a[move.j];
  const size_t first_b = from_b[move.k], second_b = from_b[move.l];
  from_a.erase(from_a.begin() + static_cast<std::ptrdiff_t>(move.j));
  from_a.erase(from_a.begin() + static_cast<std::ptrdiff_t>(move.i));
  from_b.erase(from_b.begin() + static_cast<std::ptrdiff_t>(move.l));
  from_b.erase(from_b.begin() + static_cast<std::ptrdiff_t>(move.k));
  from_a.insert(from_a.begin() + static_cast<std::ptrdiff_t>(move.s), second_b);
  from_a.insert(from_a.begin() + static_cast<std::ptrdiff_t>(move.r), first_b);
  from_b.insert(from_b.begin() + static_cast<std::ptrdiff_t>(move.q), second_a);
  from_b.insert(from_b.begin() + static_cast<std::ptrdiff_t>(move.p), first_a);
}

}  // namespace tarsel
