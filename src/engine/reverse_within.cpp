#include "engine/reverse_within.h"

#include <algorithm>

namespace tarsel {

namespace {

// Whether a segment of targets costs the same in both directions for type
// `type`: a symmetric matrix and no target window (waiting depends on the
// direction otherwise).
bool ReversalKeepsCost(const RouteRules& rules, size_t type) {
  const InstanceTables& tables = rules.Tables();
  for (size_t u : rules.Targets()) {
    if (tables.Window(u) != nullptr) return false;
    for (size_t v : rules.Targets()) {
      if (v < u && tables.Cost(type, u, v) != tables.Cost(type, v, u)) return false;
    }
  }
  return true;
}

void Reverse(std::vector<size_t>& nodes, size_t first, size_t last) {
  std::reverse(nodes.begin() + static_cast<std::ptrdiff_t>(first) + 1,
               nodes.begin() + static_cast<std::ptrdiff_t>(last) + 1);
}

}  // namespace

ReverseWithin::ReverseWithin(const SegmentJoiner& joiner, size_t num_nodes)
    : joiner_(joiner), reversible_(joiner.Rules().NumAgents(), 0) {
  const RouteRules& rules = joiner.Rules();
  std::vector<size_t> checked_types;
  std::vector<char> checked_answers;
  for (size_t k = 0; k < rules.NumAgents(); ++k) {
    const size_t type = rules.Agent(k).type;
    const auto found = std::find(checked_types.begin(), checked_types.end(), type);
    if (found != checked_types.end()) {
      reversible_[k] = checked_answers[static_cast<size_t>(found - checked_types.begin())];
      continue;
    }
    reversible_[k] = ReversalKeepsCost(rules, type) ? 1 : 0;
    checked_types.push_back(type);
    checked_answers.push_back(reversible_[k]);
  }
  scratch_.reserve(num_nodes + 2);
}

MoveCosts ReverseWithin::Evaluate(const Solution& solution, const Move& move, const PenaltyWeights& weights) const {
  const size_t k = move.k, first = move.first, last = move.last;
  const std::vector<size_t>& nodes = solution.Route(k).nodes;
  double cost;
  if (reversible_[k] == 0) {
    scratch_ = nodes;
    Reverse(scratch_, first, last);
    cost = joiner_.Rules().ExactCost(k, scratch_, weights);
  } else {
    // Same segment backwards: only its end nodes swap places.
    const SegmentJoiner::Ends reversed{joiner_.Segments().Between(k, first + 1, last), nodes[last], nodes[first + 1]};
    const SegmentJoiner::Ends route = joiner_.Link(
        k, joiner_.Link(k, joiner_.Prefix(solution, k, first), reversed), joiner_.Suffix(solution, k, last + 1));
    cost = joiner_.Cost(k, route, weights);
  }
  return {k, cost, k, cost};
}

void ReverseWithin::Apply(Solution& solution, const Move& move) {
  Reverse(solution.MutableNodes(move.k), move.first, move.last);
}

}  // namespace tarsel
