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

// Why no agent can serve a target its arcs reach.
enum class UnservableReason {
  kWindowClosed,  // its window ends before any agent can arrive
  kOverLimit,     // every route through it exceeds its agent's limit
  kOverCapacity,  // its demand alone exceeds every allowed agent's capacity
};

struct UnservableTarget {
  size_t node = 0;  // node index
  UnservableReason reason = UnservableReason::kWindowClosed;
  // kWindowClosed: the earliest arrival of any agent. kOverLimit: the least
  // cost of a route through the target, for `agent`, the agent whose limit
  // it exceeds by the least. kOverCapacity: its demand, for `agent`, the
  // allowed agent of the largest capacity.
  double bound = 0;
  size_t agent = 0;  // kOverLimit, kOverCapacity: agent index
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
  // Reachable targets that no agent can serve within the target's window
  // and its own route-length limit, by lower bounds: the shortest path to
  // the target (waiting at the start included) and, with closed routes, on
  // to the agent's end node; then those whose demand no agent that may
  // visit them can carry.
  std::vector<UnservableTarget> unservable_targets;

  bool Solvable() const {
    return unreachable_targets.empty() && blocked_agents.empty() && unservable_targets.empty();
  }
};

ConnectionReport CheckConnections(const InstanceTables& tables, size_t agent_count);

// Time at which an agent starting at `start` may leave it: the opening of
// its window when that lies after 0, else 0.
double StartTime(const InstanceTables& tables, size_t start);

}  // namespace tarsel
