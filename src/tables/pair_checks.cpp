#include "tables/pair_checks.h"

#include <vector>

namespace tarsel {

namespace {

bool MayServe(const InstanceTables& tables, size_t agent, size_t node) {
  return tables.TypeAllowed(tables.Agents()[agent].type, node);
}

std::optional<PairDefectReason> CheckOnItsOwn(const InstanceTables& tables,
                                              const PrecedencePair& pair) {
  if (pair.before == kNoIndex || pair.after == kNoIndex) return PairDefectReason::kUnknownNode;
  for (const size_t node : {pair.before, pair.after}) {
    if (tables.IsStart(node) || tables.IsGoal(node)) return PairDefectReason::kNotTarget;
  }
  if (pair.before == pair.after) return PairDefectReason::kOneNode;
  const size_t m = tables.NumAgents();
  if (pair.kind == PairKind::kSame) {
    for (size_t k = 0; k < m; ++k) {
      if (MayServe(tables, k, pair.before) && MayServe(tables, k, pair.after)) return std::nullopt;
    }
    return PairDefectReason::kNoCommonAgent;
  }
  if (pair.kind == PairKind::kDiff) {
    for (size_t k = 0; k < m; ++k) {
      if (!MayServe(tables, k, pair.before)) continue;
      for (size_t l = 0; l < m; ++l) {
        if (l != k && MayServe(tables, l, pair.after)) return std::nullopt;
      }
    }
    return PairDefectReason::kNoTwoAgents;
  }
  return std::nullopt;
}

// A pair on a cycle of pairs, by Kahn's order over the nodes: what is left
// once every node without a pending `before` has been taken holds the
// cycles; walking back from a node that is left along pairs whose `before`
// is left too ends on a cycle within as many steps as there are nodes.
std::optional<size_t> PairOnCycle(const InstanceTables& tables) {
  const std::vector<PrecedencePair>& pairs = tables.PrecedencePairs();
  const size_t n = tables.NumNodes();
  std::vector<size_t> pending(n, 0);
  std::vector<std::vector<size_t>> leaving(n);  // pair indices by their `before`
  std::vector<size_t> entering(n, kNoIndex);    // one pair per `after`, refreshed below
  for (size_t p = 0; p < pairs.size(); ++p) {
    ++pending[pairs[p].after];
    leaving[pairs[p].before].push_back(p);
  }
  std::vector<size_t> ready;
  for (size_t v = 0; v < n; ++v) {
    if (pending[v] == 0) ready.push_back(v);
  }
  while (!ready.empty()) {
    const size_t v = ready.back();
    ready.pop_back();
    for (const size_t p : leaving[v]) {
      if (--pending[pairs[p].after] == 0) ready.push_back(pairs[p].after);
    }
  }
  size_t left = kNoIndex;
  for (size_t p = 0; p < pairs.size(); ++p) {
    if (pending[pairs[p].before] > 0 && pending[pairs[p].after] > 0) {
      entering[pairs[p].after] = p;
      if (left == kNoIndex) left = pairs[p].after;
    }
  }
  if (left == kNoIndex) return std::nullopt;
  size_t p = entering[left];
  for (size_t step = 0; step < n; ++step) p = entering[pairs[p].before];
  return p;
}

}  // namespace

std::optional<PairDefect> FindUnsatisfiablePair(const InstanceTables& tables) {
  const std::vector<PrecedencePair>& pairs = tables.PrecedencePairs();
  for (size_t p = 0; p < pairs.size(); ++p) {
    if (const auto reason = CheckOnItsOwn(tables, pairs[p])) return PairDefect{p, *reason};
  }
  if (const auto p = PairOnCycle(tables)) return PairDefect{*p, PairDefectReason::kCycle};
  return std::nullopt;
}

}  // namespace tarsel
