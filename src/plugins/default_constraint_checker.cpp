#include "plugins/default_constraint_checker.h"

#include <algorithm>

namespace tarsel {

void DefaultConstraintChecker::Initialize(const PlannerGraph* graph,
                                          const std::vector<NodeInfo>& nodes,
                                          const std::vector<AgentInfo>& agents) {
  this->graph = graph;
  this->nodes = nodes;
  this->agents = agents;
  num_agents = agents.size();
  type0_only.Clear();
  const size_t limit = std::min(this->nodes.size(), VisitedSet::kBits);
  for (size_t i = 0; i < limit; ++i) {
    const std::vector<size_t>& allowed = this->nodes[i].allowed_types;
    if (allowed.size() == 1 && allowed[0] == 0) type0_only.Set(i);
  }
}

bool DefaultConstraintChecker::TypeAllowed(int64_t type, size_t node) const {
  if (type < 0 || node >= nodes.size()) return false;
  const std::vector<size_t>& allowed = nodes[node].allowed_types;
  return std::find(allowed.begin(), allowed.end(), static_cast<size_t>(type)) != allowed.end();
}

bool DefaultConstraintChecker::IsForbidden(size_t agent, size_t node) const {
  if (agent >= agents.size()) return true;
  return !TypeAllowed(agents[agent].type, node);
}

// Once every agent of type 0 has ended its route, an unvisited node that only
// type 0 may visit can never be served.
bool DefaultConstraintChecker::IsDeadEnd(const Label& child) const {
  const size_t count = std::min(num_agents, child.finished.size());
  for (size_t k = 0; k < count; ++k) {
    if (agents[k].type == 0 && child.finished[k] == 0) return false;
  }
  if (graph == nullptr) return false;
  const size_t limit = std::min(graph->NumVertex(), VisitedSet::kBits);
  for (size_t w = 0; w * 64 < limit; ++w) {
    uint64_t mask = ~uint64_t{0};
    if (limit - w * 64 < 64) mask = (uint64_t{1} << (limit - w * 64)) - 1;
    if ((type0_only.words[w] & ~child.visited.words[w] & mask) != 0) return true;
  }
  return false;
}

}  // namespace tarsel
