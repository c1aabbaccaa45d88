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
