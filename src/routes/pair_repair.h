#pragma once

#include <cstddef>
#include <vector>

#include "routes/pair_schedule.h"

namespace tarsel {

// Mends the precedence pairs that `routes` (routes[k]: agent k's nodes from
// its start to its end) break, one at a time in the order the schedule
// names them: a "same" pair split over two routes, or any pair out of order
// on one route, has its `after` node moved behind its `before` node (or,
// when that agent may not serve it, its `before` node moved ahead of its
// `after` node); a "diff" pair on one route has its `after` node moved to
// another agent that may serve it. Each node goes to the place where its
// route costs least, a place within the route's rules first. Ends with the
// schedule of the final routes in `schedule`; true when they keep every
// pair (a waiting cycle or a pair no such move mends gives false, as does a
// repair that does not settle within a bounded number of moves).
bool RepairPairs(const RouteCosts& rules, std::vector<std::vector<size_t>>& routes,
                 PairSchedule& schedule);

}  // namespace tarsel
