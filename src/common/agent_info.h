#pragma once

#include <cstddef>
#include <cstdint>

namespace tarsel {

// The Solver's dense per-agent record; index = position in agents_ordered.
// Data as the problem gives it: the route rules read it once, into
// routes/'s RouteAgent.
struct AgentInfo {
  size_t id = 0;
  int64_t type = -1;  // type index = cost dimension; -1 when unknown
  double capacity_limit = 0;
  double time_limit = 0;  // maximum route length; 0 or less means unlimited
};

}  // namespace tarsel
