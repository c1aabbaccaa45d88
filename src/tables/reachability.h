#pragma once

#include <cstddef>
#include <vector>

#include "tables/instance_tables.h"

namespace tarsel {

// Why an agent cannot complete any route.
enum class BlockReason {
  kStartNotAllowed,    // its type may not visit its start node
  kEndNotAllowed,      // closed routes: its type may not visit its end node
  kStartWindowClosed,  // the window of its start node ends before time 0
  kNoTrip,             // closed routes: no arcs lead from its start to its end node
  kTripOverLimit,      // closed routes: the shortest such trip exceeds its limit
};

struct BlockedAgent {
  size_t agent = 0;  // agent index
  BlockReason reason = BlockReason::kNoTrip;
  double shortest_trip = 0;  // kTripOverLimit: its cost, waiting at the start included
};

// What the arcs of an instance rule out before any search, for the first
// `agent_count` agents of the tables. Agents pass only through targets
// (nodes that are nobody's start or end) their type may visit, over arcs
// below the tables' missing-cost threshold. Costs are taken as
// non-negative; waiting only adds to a trip, so a trip above the limit here
// is above it in every route.
struct ConnectionReport {
  // Targets that some agent's type may visit but no agent can reach (and,
  // with closed routes, leave towards its end node) over existing arcs.
  std::vector<size_t> unreachable_targets;
  // Agents that cannot complete a route, at most one entry each.
  std::vector<BlockedAgent> blocked_agents;

  bool Solvable() const { return unreachable_targets.empty() && blocked_agents.empty(); }
};

ConnectionReport CheckConnections(const InstanceTables& tables, size_t agent_count);

// Time at which an agent starting at `start` may leave it: the opening of
// its window when that lies after 0, else 0.
double StartTime(const InstanceTables& tables, size_t start);

}  // namespace tarsel
