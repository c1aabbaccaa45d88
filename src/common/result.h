#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

namespace tarsel {

// A solution (routes of node indices keyed by agent index) and the search
// counters.
struct Result {
  std::unordered_map<uint64_t, std::vector<uint64_t>> paths;
  std::unordered_map<uint64_t, double> times;
  // Demand of the targets on each route, keyed as `paths`; filled by GetResult.
  std::unordered_map<uint64_t, double> loads;
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
