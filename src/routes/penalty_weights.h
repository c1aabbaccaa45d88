#pragma once

namespace tarsel {

// How the route rules price a route while the engine searches. Inactive:
// a late arrival, a route over its length limit or a load over its agent's
// capacity is infeasible (+inf). Active: such a route costs its duration
// plus `warp` per unit of time warp (lateness summed over the route) plus
// `excess` per unit of duration over the agent's limit plus `overload` per
// unit of load over its capacity. A missing connection stays infeasible in
// both modes.
struct PenaltyWeights {
  bool active = false;
  double warp = 1.0;
  double excess = 1.0;
  double overload = 1.0;
};

}  // namespace tarsel
