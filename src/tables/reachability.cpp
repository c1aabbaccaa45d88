#include "tables/reachability.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <deque>
#include <limits>

namespace tarsel {

namespace {

constexpr double kUnreached = std::numeric_limits<double>::infinity();

// Relative tolerance of the limit test: a trip summed along another path
// than the search's may differ from it by rounding.
constexpr double kLimitTolerance = 1e-9;

// Whether `value` exceeds `limit` by more than rounding along another path
// than the search's could explain.
bool Exceeds(double value, double limit) {
  return value > limit + kLimitTolerance * std::max(1.0, std::abs(limit));
}

// The best any agent achieves at one target, gathered over the agents.
struct TargetBounds {
  double earliest_arrival = kUnreached;
  bool servable = false;          // some agent meets the window and its limit
  double least_excess = kUnreached;  // over the agents the window admits
  double least_cost = 0;
  size_t least_agent = 0;
};

bool IsTarget(const InstanceTables& tables, size_t node) {
  return !tables.IsStart(node) && !tables.IsGoal(node);
}

// Shortest costs from `source` (forward) or to it (backward) for `type`,
// passing only through nodes for which `passable` is set; other nodes are
// reached but not left. Dense Dijkstra, O(n^2).
std::vector<double> Distances(const InstanceTables& tables, size_t type, size_t source,
                              bool forward, const std::vector<uint8_t>& passable) {
  const size_t n = tables.NumNodes();
  std::vector<double> distance(n, kUnreached);
  std::vector<uint8_t> done(n, 0);
  distance[source] = 0;
  while (true) {
    size_t next = n;
    for (size_t i = 0; i < n; ++i) {
      if (!done[i] && distance[i] < kUnreached && (next == n || distance[i] < distance[next])) {
        next = i;
      }
    }
    if (next == n) break;
    done[next] = 1;
    if (next != source && !passable[next]) continue;
    for (size_t i = 0; i < n; ++i) {
      if (i == next || done[i]) continue;
      const double cost = forward ? tables.Cost(type, next, i) : tables.Cost(type, i, next);
      if (!tables.Connected(cost)) continue;
      distance[i] = std::min(distance[i], distance[next] + cost);
    }
  }
  return distance;
}

// Distances by (type, source, direction), computed once each; `passable`
// depends on the type alone.
class DistanceCache {
 public:
  const std::vector<double>& Get(const InstanceTables& tables, size_t type, size_t source,
                                 bool forward, const std::vector<uint8_t>& passable) {
    for (const Entry& entry : entries_) {
      if (entry.type == type && entry.source == source && entry.forward == forward) {
        return entry.distance;
      }
    }
    entries_.push_back(Entry{type, source, forward, Distances(tables, type, source, forward, passable)});
    return entries_.back().distance;
  }

 private:
  struct Entry {
    size_t type;
    size_t source;
    bool forward;
    std::vector<double> distance;
  };
  std::deque<Entry> entries_;  // references stay valid as entries are added
};

// Served targets whose demand alone is above the capacity of every agent
// whose type may visit them (an agent without a capacity carries any load).
void AddOverCapacityTargets(const InstanceTables& tables, size_t agents,
                            const std::vector<uint8_t>& served, ConnectionReport& report) {
  if (!tables.HasDemands()) return;
  const size_t listed = report.unservable_targets.size();
  for (size_t i = 0; i < tables.NumNodes(); ++i) {
    const double demand = tables.Demand(i);
    if (!served[i] || !(demand > 0) || !IsTarget(tables, i)) continue;
    bool fits = false;
    size_t largest = kNoIndex;
    for (size_t k = 0; k < agents && !fits; ++k) {
      const AgentInfo& agent = tables.Agents()[k];
      if (!tables.TypeAllowed(agent.type, i)) continue;
      const double capacity = agent.capacity_limit;
      fits = capacity <= 0 || !Exceeds(demand, capacity);
      if (largest == kNoIndex || capacity > tables.Agents()[largest].capacity_limit) largest = k;
    }
    const auto already = std::find_if(
        report.unservable_targets.begin(), report.unservable_targets.begin() + listed,
        [i](const UnservableTarget& target) { return target.node == i; });
    if (fits || largest == kNoIndex || already != report.unservable_targets.begin() + listed) continue;
    report.unservable_targets.push_back(UnservableTarget{i, UnservableReason::kOverCapacity, demand, largest});
  }
}

}  // namespace

double StartTime(const InstanceTables& tables, size_t start) {
  const WindowSlot* window = tables.Window(start);
  return window != nullptr && window->start > 0 ? window->start : 0.0;
}

ConnectionReport CheckConnections(const InstanceTables& tables, size_t agent_count) {
  ConnectionReport report;
  DistanceCache cache;
  const size_t n = tables.NumNodes();
  const bool closed = tables.ReturnToEnd();
  std::vector<uint8_t> wanted(n, 0);  // some agent's type may visit the target
  std::vector<uint8_t> served(n, 0);  // some agent can reach it
  std::vector<uint8_t> passable(n, 0);
  std::vector<TargetBounds> bounds(n);
  const size_t agents = std::min({agent_count, tables.NumAgents(), tables.Starts().size(),
                                  tables.Goals().size()});
  for (size_t k = 0; k < agents; ++k) {
    const int64_t type = tables.Agents()[k].type;
    const size_t start = tables.Starts()[k];
    const size_t goal = tables.Goals()[k];
    if (type < 0 || start >= n || goal >= n) continue;
    const size_t t = static_cast<size_t>(type);
    for (size_t i = 0; i < n; ++i) {
      passable[i] = IsTarget(tables, i) && tables.TypeAllowed(type, i) ? 1 : 0;
      if (passable[i]) wanted[i] = 1;
    }
    // Agents of one type at one depot share their distances (O(n^2) each).
    const std::vector<double>& from_start = cache.Get(tables, t, start, true, passable);
    const std::vector<double>& to_goal =
        closed ? cache.Get(tables, t, goal, false, passable) : from_start;
    const WindowSlot* start_window = tables.Window(start);
    const double limit = tables.Agents()[k].time_limit;
    const double departure = StartTime(tables, start);
    for (size_t i = 0; i < n; ++i) {
      if (!passable[i] || from_start[i] == kUnreached || (closed && to_goal[i] == kUnreached)) continue;
      served[i] = 1;
      // Waiting on the way only delays the arrival; waiting for the
      // target's own window and the trip on to the end only add to the cost.
      const double arrival = departure + from_start[i];
      TargetBounds& target = bounds[i];
      target.earliest_arrival = std::min(target.earliest_arrival, arrival);
      const WindowSlot* window = tables.Window(i);
      if (window != nullptr && Exceeds(arrival, window->end)) continue;
      const double leave = window != nullptr ? std::max(arrival, window->start) : arrival;
      const double cost = leave + (closed ? to_goal[i] : 0.0);
      if (limit <= 0 || !Exceeds(cost, limit)) {
        target.servable = true;
      } else if (cost - limit < target.least_excess) {
        target.least_excess = cost - limit;
        target.least_cost = cost;
        target.least_agent = k;
      }
    }

    // Open routes end anywhere at no cost; an agent that ends where it
    // starts may stay there.
    const double trip = !closed || start == goal ? 0.0 : from_start[goal];
    auto block = [&](BlockReason reason, double cost) {
      report.blocked_agents.push_back(BlockedAgent{k, reason, cost});
    };
    if (!tables.TypeAllowed(type, start)) {
      block(BlockReason::kStartNotAllowed, 0);
    } else if (closed && !tables.TypeAllowed(type, goal)) {
      block(BlockReason::kEndNotAllowed, 0);
    } else if (start_window != nullptr && start_window->end < 0) {
      block(BlockReason::kStartWindowClosed, 0);
    } else if (trip == kUnreached) {
      block(BlockReason::kNoTrip, 0);
    } else if (limit > 0 && departure + trip > limit + kLimitTolerance * std::max(1.0, limit)) {
      block(BlockReason::kTripOverLimit, departure + trip);
    }
  }
  for (size_t i = 0; i < n; ++i) {
    if (wanted[i] && !served[i]) report.unreachable_targets.push_back(i);
    const TargetBounds& target = bounds[i];
    if (!served[i] || target.servable) continue;
    if (target.least_excess == kUnreached) {
      report.unservable_targets.push_back(
          UnservableTarget{i, UnservableReason::kWindowClosed, target.earliest_arrival, 0});
    } else {
      report.unservable_targets.push_back(
          UnservableTarget{i, UnservableReason::kOverLimit, target.least_cost, target.least_agent});
    }
  }
  AddOverCapacityTargets(tables, agents, served, report);
  return report;
}

}  // namespace tarsel
