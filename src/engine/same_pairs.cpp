#include "engine/same_pairs.h"

#include "common/special_values.h"

namespace tarsel {

SamePairs::SamePairs(const RouteRules& rules) {
  for (const PrecedencePair& pair : rules.Tables().PrecedencePairs()) {
    if (pair.kind != PairKind::kSame || pair.before == pair.after || !rules.IsTarget(pair.before) ||
        !rules.IsTarget(pair.after)) {
      continue;
    }
    if (partners_.empty()) partners_.resize(rules.NumNodes());
    partners_[pair.before].push_back(pair.after);
    partners_[pair.after].push_back(pair.before);
  }
  if (Any()) at_.assign(rules.NumNodes(), kNoIndex);
}

size_t SamePairs::ErasePartners(Solution& solution, size_t node, const PenaltyWeights& weights) const {
  size_t erased = 0;
  ForEachPartner(node, [&](size_t other) {
    const size_t k = solution.RouteOf(other);
    if (k == kNoIndex) return;
    solution.Erase(k, solution.PositionOf(other));
    solution.Refresh(k, weights);
    ++erased;
  });
  return erased;
}

void SamePairs::CleanCuts(const std::vector<size_t>& tour, std::vector<char>& cuts) const {
  const size_t n = tour.size();
  cuts.assign(n + 1, 1);
  if (!Any()) return;
  for (size_t i = 0; i < n; ++i) at_[tour[i]] = i;
  // A pair at positions i < j is split by every cut c with i < c <= j: +1
  // at i, -1 at j, and a cut is clean where the running sum is 0.
  opened_.assign(n + 1, 0);
  for (size_t i = 0; i < n; ++i) {
    for (const size_t other : partners_[tour[i]]) {
      const size_t j = at_[other];
      if (j == kNoIndex || j <= i) continue;
      ++opened_[i];
      --opened_[j];
    }
  }
  int open = 0;
  for (size_t c = 1; c <= n; ++c) {
    open += opened_[c - 1];
    cuts[c] = open == 0 ? 1 : 0;
  }
  for (size_t i = 0; i < n; ++i) at_[tour[i]] = kNoIndex;
}

}  // namespace tarsel
