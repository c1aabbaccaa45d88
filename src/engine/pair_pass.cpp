// The local search's pickup-and-delivery moves: a "same" pair relocated as
// a whole, and two such pairs of two routes exchanged, so that each stays
// on one route in order while it moves.
#include "common/special_values.h"
#include "engine/local_search.h"

namespace tarsel {

void LocalSearch::PairPlaces(const Solution& solution, size_t node, size_t a, size_t i, size_t j,
                             bool route_starts, std::vector<std::pair<size_t, size_t>>& places) const {
  places.clear();
  neighbours_.ForEachPlaced(solution, node, [&](size_t b, size_t x) {
    if (b == a && (x == i || x == j)) return;
    // The place of x in route b once the pair has left it.
    const size_t place = b != a ? x : x - (x > i ? 1 : 0) - (x > j ? 1 : 0);
    places.emplace_back(b, place);      // before the neighbour
    places.emplace_back(b, place + 1);  // behind it
  });
  if (!route_starts) return;
  for (size_t b = 0; b < solution.NumRoutes(); ++b) places.emplace_back(b, 1);
}

bool LocalSearch::TryRelocatePairs(Solution& solution, const PenaltyWeights& weights, size_t u) {
  if (u >= pairs_of_.size()) return false;
  const std::vector<PrecedencePair>& pairs = rules_.Tables().PrecedencePairs();
  for (const size_t index : pairs_of_[u]) {
    const PrecedencePair& pair = pairs[index];
    if (pair.kind != PairKind::kSame || pair.before != u) continue;
    size_t a = 0, i = 0, j = 0;
    if (!SamePairPlaced(solution, pair, a, i, j)) continue;
    const double a_without = relocate_pair_.Removed(solution, a, i, j, weights);
    PairPlaces(solution, u, a, i, j, true, first_places_);
    PairPlaces(solution, pair.after, a, i, j, false, second_places_);
    for (const auto& first : first_places_) {
      const size_t b = first.first;
      const size_t p = first.second;
      if (b != a && (!(a_without < RouteRules::kInfeasible) || !rules_.CanServe(b, u) ||
                     !rules_.CanServe(b, pair.after))) {
        continue;
      }
      // Right behind the first node, or next to a neighbour of the second
      // further on in the same route.
      auto try_place = [&](size_t q) {
        const RelocatePair::Move move{a, i, j, b, p, q};
        const double b_with = relocate_pair_.Inserted(solution, move, weights);
        const MoveCosts costs{a, b == a ? b_with : a_without, b, b_with};
        return Take(solution, weights, relocate_pair_, move, costs);
      };
      if (try_place(p)) return true;
      for (const auto& second : second_places_) {
        if (second.first == b && second.second > p && try_place(second.second)) return true;
      }
    }
  }
  return false;
}

bool LocalSearch::SamePairPlaced(const Solution& solution, const PrecedencePair& pair, size_t& k, size_t& i,
                                 size_t& j) const {
  k = solution.RouteOf(pair.before);
  if (k == kNoIndex || solution.RouteOf(pair.after) != k) return false;
  i = solution.PositionOf(pair.before);
  j = solution.PositionOf(pair.after);
  return i < j;  // out of order: the pair repair's to mend, not a move's
}

size_t LocalSearch::SwapPairsPass(Solution& solution, const PenaltyWeights& weights,
                                  const std::function<bool()>& stop) {
  const std::vector<PrecedencePair>& pairs = rules_.Tables().PrecedencePairs();
  size_t taken = 0;
  for (size_t x = 0; x < same_pairs_.size(); ++x) {
    if (stop && stop()) break;
    for (size_t y = x + 1; y < same_pairs_.size(); ++y) {
      // Positions are read again for each candidate: a taken exchange
      // moves the pairs it touches and shifts their routes' other nodes.
      SwapPairs::Move move;
      if (!SamePairPlaced(solution, pairs[same_pairs_[x]], move.a, move.i, move.j) ||
          !SamePairPlaced(solution, pairs[same_pairs_[y]], move.b, move.k, move.l) || move.a == move.b) {
        continue;
      }
      const MoveCosts costs = swap_pairs_.Best(solution, move, weights);
      if (Take(solution, weights, swap_pairs_, move, costs)) ++taken;
    }
  }
  return taken;
}

}  // namespace tarsel
