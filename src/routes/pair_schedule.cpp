#include "routes/pair_schedule.h"

#include <algorithm>
#include <limits>

namespace tarsel {

bool PairSchedule::Feasible() const {
  if (cyclic || !violations.empty()) return false;
  return std::all_of(walks.begin(), walks.end(), [](const RouteWalk& walk) { return walk.feasible; });
}

void SchedulePairs(const RouteCosts& rules, const std::vector<std::vector<size_t>>& routes,
                   PairSchedule& schedule) {
  const std::vector<PrecedencePair>& pairs = rules.Tables().PrecedencePairs();
  const size_t m = routes.size();
  schedule.violations.clear();
  schedule.cyclic = false;
  schedule.walks.assign(m, RouteWalk{});
  schedule.arrivals.resize(m);
  schedule.starts.resize(m);
  schedule.loads.resize(m);

  // Positions numbered route after route; where each node is served (its
  // first position when a route repeats it).
  std::vector<size_t> first_of(m + 1, 0);
  for (size_t k = 0; k < m; ++k) first_of[k + 1] = first_of[k] + routes[k].size();
  const size_t count = first_of[m];
  std::vector<size_t> route_of(count);
  std::vector<size_t> position_of(rules.NumNodes(), kNoIndex);
  for (size_t k = 0; k < m; ++k) {
    schedule.arrivals[k].assign(routes[k].size(), 0.0);
    schedule.starts[k].assign(routes[k].size(), 0.0);
    schedule.loads[k].assign(routes[k].size(), 0.0);
    for (size_t i = 0; i < routes[k].size(); ++i) {
      route_of[first_of[k] + i] = k;
      size_t& position = position_of[routes[k][i]];
      if (position == kNoIndex) position = first_of[k] + i;
    }
  }

  // The pairs kept or broken by the routes' order; waits across routes.
  std::vector<std::vector<size_t>> waiting(count);  // positions that wait for a position
  std::vector<size_t> pending(count, 0);             // what a position still waits for
  for (size_t p = 0; p < pairs.size(); ++p) {
    const PrecedencePair& pair = pairs[p];
    const size_t before = pair.before < position_of.size() ? position_of[pair.before] : kNoIndex;
    const size_t after = pair.after < position_of.size() ? position_of[pair.after] : kNoIndex;
    if (before == kNoIndex || after == kNoIndex) {
      schedule.violations.push_back({p, PairBreak::kUnserved});
      continue;
    }
    const bool one_route = route_of[before] == route_of[after];
    if (!PairOrderKept(pair.kind, one_route, before < after)) {
      const PairBreak why = !one_route                     ? PairBreak::kSplit
                            : pair.kind == PairKind::kDiff ? PairBreak::kJoined
                                                           : PairBreak::kOutOfOrder;
      schedule.violations.push_back({p, why});
    } else if (!one_route) {
      waiting[before].push_back(after);
      ++pending[after];
    }
  }

  // Kahn's order over the positions: a position is timed once its
  // predecessor on the route and every `before` it waits for are.
  std::vector<double> release(count, -std::numeric_limits<double>::infinity());
  std::vector<size_t> ready;
  for (size_t k = 0; k < m; ++k) {
    for (size_t i = 1; i < routes[k].size(); ++i) ++pending[first_of[k] + i];
    if (!routes[k].empty() && pending[first_of[k]] == 0) ready.push_back(first_of[k]);
  }
  size_t timed = 0;
  while (!ready.empty()) {
    const size_t at = ready.back();
    ready.pop_back();
    ++timed;
    const size_t k = route_of[at];
    const size_t i = at - first_of[k];
    const std::vector<size_t>& route = routes[k];
    RouteWalk& walk = schedule.walks[k];
    double clock = 0.0;
    if (i > 0) {
      bool blocked = false;
      clock = schedule.starts[k][i - 1] + rules.Travel(k, route[i - 1], route[i], blocked);
      if (blocked) walk.blocked = true;
    }
    schedule.arrivals[k][i] = clock;
    clock = std::max(clock, release[at]);
    rules.Serve(route[i], clock, walk);
    schedule.starts[k][i] = clock;
    schedule.loads[k][i] = walk.load;
    if (i + 1 < route.size() && --pending[at + 1] == 0) ready.push_back(at + 1);
    for (const size_t other : waiting[at]) {
      release[other] = std::max(release[other], clock);
      if (--pending[other] == 0) ready.push_back(other);
    }
    if (i + 1 == route.size()) rules.Finish(k, route.size(), clock, walk);
  }
  if (timed == count) return;
  // Routes holding a position never timed wait in a cycle.
  schedule.cyclic = true;
  for (size_t k = 0; k < m; ++k) {
    for (size_t at = first_of[k]; at < first_of[k + 1]; ++at) {
      if (pending[at] == 0) continue;
      schedule.walks[k].blocked = true;
      schedule.walks[k].feasible = false;
      break;
    }
  }
}

}  // namespace tarsel
