#include "engine/insertion_pairs.h"

#include <algorithm>

#include "common/special_values.h"

namespace tarsel {

InsertionPairs::InsertionPairs(const RouteRules& rules) : rules_(rules) {
  const std::vector<PrecedencePair>& pairs = rules.Tables().PrecedencePairs();
  if (pairs.empty()) return;
  pairs_of_.resize(rules.NumNodes());
  for (size_t p = 0; p < pairs.size(); ++p) {
    const PrecedencePair& pair = pairs[p];
    if (pair.before >= pairs_of_.size() || pair.after >= pairs_of_.size() || pair.before == pair.after) continue;
    pairs_of_[pair.before].push_back(p);
    pairs_of_[pair.after].push_back(p);
  }
}

bool InsertionPairs::Waits(const Solution& solution, size_t node) const {
  if (node >= pairs_of_.size()) return false;
  const std::vector<PrecedencePair>& pairs = rules_.Tables().PrecedencePairs();
  for (const size_t p : pairs_of_[node]) {
    const PrecedencePair& pair = pairs[p];
    if (pair.kind == PairKind::kSame && pair.after == node && rules_.IsTarget(pair.before) &&
        solution.RouteOf(pair.before) == kNoIndex) {
      return true;
    }
  }
  return false;
}

size_t InsertionPairs::Companion(const Solution& solution, size_t node) const {
  if (node >= pairs_of_.size()) return kNoIndex;
  const std::vector<PrecedencePair>& pairs = rules_.Tables().PrecedencePairs();
  for (const size_t p : pairs_of_[node]) {
    const PrecedencePair& pair = pairs[p];
    if (pair.kind == PairKind::kSame && pair.before == node && rules_.IsTarget(pair.after) &&
        solution.RouteOf(pair.after) == kNoIndex) {
      return pair.after;
    }
  }
  return kNoIndex;
}

bool InsertionPairs::BestJoint(const Solution& solution, const PenaltyWeights& weights, size_t first,
                               size_t second, size_t k, size_t max_gap, JointPlace& best) const {
  best = JointPlace{};
  if (!rules_.CanServe(k, first) || !rules_.CanServe(k, second)) return false;
  size_t low = 1, high = 0, second_low = 1, second_high = 0;
  if (!Places(solution, first, k, low, high) || !Places(solution, second, k, second_low, second_high)) {
    return false;
  }
  const EngineRoute& route = solution.Route(k);
  const Segment first_seg = rules_.NodeSeg(first);
  const Segment second_seg = rules_.NodeSeg(second);
  for (size_t p = low; p <= high && p <= second_high; ++p) {
    // The route up to `first`, grown by one stored node per later q.
    Segment head = rules_.Join(k, route.prefix[p - 1], route.nodes[p - 1], first, first_seg);
    size_t last = first;
    const size_t q_end = max_gap < second_high - p ? p + max_gap : second_high;
    for (size_t q = p; q <= q_end; ++q) {
      if (q > p) {
        head = rules_.Join(k, head, last, route.nodes[q - 1], rules_.NodeSeg(route.nodes[q - 1]));
        last = route.nodes[q - 1];
      }
      if (q < second_low) continue;
      const Segment with_second = rules_.Join(k, head, last, second, second_seg);
      const Segment whole = rules_.Join(k, with_second, second, route.nodes[q], route.suffix[q]);
      const double cost = rules_.Cost(k, whole, weights);
      if (cost < best.cost) best = JointPlace{cost, p, q};
    }
  }
  return best.cost < RouteRules::kInfeasible;
}

void InsertionPairs::InsertJoint(Solution& solution, const PenaltyWeights& weights, size_t k, size_t first,
                                 size_t second, const JointPlace& place) {
  solution.Insert(k, place.first, first);
  // The node that stood at q has moved one place on behind `first`.
  solution.Insert(k, place.second + 1, second);
  solution.Refresh(k, weights);
}

bool InsertionPairs::Places(const Solution& solution, size_t node, size_t k, size_t& low, size_t& high) const {
  low = 1;
  high = solution.Route(k).nodes.size() - 1;
  if (node >= pairs_of_.size()) return true;
  const std::vector<PrecedencePair>& pairs = rules_.Tables().PrecedencePairs();
  for (const size_t p : pairs_of_[node]) {
    const PrecedencePair& pair = pairs[p];
    const bool is_after = pair.after == node;
    const size_t other = is_after ? pair.before : pair.after;
    const size_t route = solution.RouteOf(other);
    if (!rules_.IsTarget(other) || route == kNoIndex) continue;
    if (pair.kind == PairKind::kDiff) {
      if (route == k) return false;
      continue;
    }
    if (route != k) {
      if (pair.kind == PairKind::kSame) return false;
      continue;
    }
    const size_t at = solution.PositionOf(other);
    if (is_after) {
      low = std::max(low, at + 1);
    } else {
      high = std::min(high, at);
    }
  }
  return low <= high;
}

}  // namespace tarsel
