#pragma once

#include <cstddef>
#include <vector>

#include "engine/route_rules.h"
#include "engine/solution.h"

namespace tarsel {

// For every agent type and target, the nearest other targets of that type's
// matrix (arc there plus arc back), computed once per solve; moves are only
// tried between a target and its neighbours.
class GranularNeighbours {
 public:
  GranularNeighbours(const RouteRules& rules, size_t count);

  // Agent types of the instance's agents, ascending, each once.
  const std::vector<size_t>& Types() const { return types_; }
  // Neighbours of `node` for type slot `slot` (index into Types()).
  const size_t* Begin(size_t slot, size_t node) const { return &lists_[(slot * nodes_ + node) * count_]; }
  size_t Count() const { return count_; }

  // Calls visit(route, position) for every neighbour of `node` that
  // `solution` has placed in a route whose agent has the neighbour list's
  // type. The placement is read afresh for each neighbour, so `visit` may
  // change the solution.
  template <class Visit>
  void ForEachPlaced(const Solution& solution, size_t node, Visit&& visit) const {
    const RouteRules& rules = solution.Rules();
    for (size_t slot = 0; slot < types_.size(); ++slot) {
      const size_t* list = Begin(slot, node);
      for (size_t index = 0; index < count_; ++index) {
        const size_t route = solution.RouteOf(list[index]);
        if (route == kNoIndex || rules.Agent(route).type != types_[slot]) continue;
        visit(route, solution.PositionOf(list[index]));
      }
    }
  }

 private:
  size_t nodes_ = 0;
  size_t count_ = 0;
  std::vector<size_t> types_;
  std::vector<size_t> lists_;  // (slot, node) -> count_ neighbours
};

}  // namespace tarsel
