#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

namespace tarsel {

// One stop of a route on the clock of its route's cost: when the agent
// gets there, when service starts (after waiting for the node's window or
// for a precedence partner on another route), when it leaves, and the
// demand served up to and including this stop.
struct ScheduledStop {
  uint64_t node = 0;  // node index, as in the route
  double arrival = 0;
  double start = 0;
  double departure = 0;
  double load = 0;
};

// A solution (routes of node indices keyed by agent index) and the search
// counters.
struct Result {
  std::unordered_map<uint64_t, std::vector<uint64_t>> paths;
  std::unordered_map<uint64_t, double> times;
  // Demand of the targets on each route, keyed as `paths`; filled by GetResult.
  std::unordered_map<uint64_t, double> loads;
  // Each route's stops, keyed as `paths`; filled by GetResult with the
  // option "schedule" only.
  std::unordered_map<uint64_t, std::vector<ScheduledStop>> stops;
  int64_t n_generated = 0;
  int64_t n_expanded = 0;
  double cpu_seconds = 0;
  bool timeout = false;
  double last_update_time = 0;
  // Wall-clock seconds since the solve started at which this solution was
  // found (the entries of the anytime log).
  double wall_seconds = 0;
};

}  // namespace tarsel
