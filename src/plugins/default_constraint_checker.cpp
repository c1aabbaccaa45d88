#include "plugins/default_constraint_checker.h"

#include <algorithm>

namespace tarsel {

void DefaultConstraintChecker::Initialize(const PlannerGraph* graph,
                                          const std::vector<NodeInfo>& nodes,
                                          const std::vector<AgentInfo>& agents) {
  InstanceTables& own = reader.OwnTables();
  own.SetGraph(graph);
  own.SetNodes(nodes);
  own.SetAgents(agents);
  Reload();
}

// Once every agent of type 0 has ended its route, an unvisited node that only
// type 0 may visit can never be served.
bool DefaultConstraintChecker::IsDeadEnd(const Label& child) const {
  const size_t count = std::min(costs->NumAgents(), child.finished.size());
  for (size_t k = 0; k < count; ++k) {
    const RouteAgent& agent = costs->Agent(k);
    if (agent.typed && agent.type == 0 && child.finished[k] == 0) return false;
  }
  const InstanceTables& tables = reader.Tables();
  if (tables.Graph() == nullptr) return false;
  const VisitedSet& type0_only = tables.TypeZeroOnly();
  const size_t limit = std::min(tables.Graph()->NumVertex(), VisitedSet::kBits);
  for (size_t w = 0; w * 64 < limit; ++w) {
    uint64_t mask = ~uint64_t{0};
    if (limit - w * 64 < 64) mask = (uint64_t{1} << (limit - w * 64)) - 1;
    if ((type0_only.words[w] & ~child.visited.words[w] & mask) != 0) return true;
  }
  return false;
}

}  // namespace tarsel
