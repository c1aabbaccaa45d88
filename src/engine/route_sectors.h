#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/route_rules.h"
#include "engine/solution.h"

namespace tarsel {

// The angle around the depot that each route's targets span, when every
// agent starts at one node and the nodes carry coordinates: SWAP* is tried
// only between routes whose sectors overlap (widened by a small share of
// the circle), since routes on different sides of the depot rarely gain
// from exchanging targets and SWAP* costs O(|a| x |b|) per pair of routes.
// Angles are whole numbers of 1/65536 of the circle.
class RouteSectors {
 public:
  explicit RouteSectors(const RouteRules& rules);

  // Whether the instance has one depot and coordinates off one point.
  bool Applicable() const { return applicable_; }
  // Recomputes route k's sector from its targets (none: empty).
  void Update(const Solution& solution, size_t k);
  // Whether the sectors of routes a and b overlap; false when one is empty.
  bool Overlap(size_t a, size_t b) const;

  static constexpr int32_t kCircle = 65536;
  // How far apart two sectors may lie and still count as overlapping.
  static constexpr int32_t kTolerance = kCircle / 20;

 private:
  struct Sector {
    int32_t start = 0;
    int32_t width = -1;  // -1: no target
  };

  bool applicable_ = false;
  std::vector<int32_t> angle_;   // per node, around the depot
  std::vector<Sector> sectors_;  // per route
};

}  // namespace tarsel
