#pragma once

#include <cstddef>
#include <vector>

#include "common/visited_set.h"
#include "tables/instance_tables.h"

namespace tarsel {

// Where the arcs of an instance keep the triangle inequality, and what a
// route costs at least between two nodes where they do not.

// Nodes below 256 that a route can leave out without costing more: for every
// agent type that may visit w, cost(p, q) <= cost(p, w) + cost(w, q) for all
// other nodes p and q, arcs at or above the missing cost counting as
// infinite. With open routes a leg into a start or end node is the free last
// leg, so q ranges over the targets only. A label that has visited such a
// node where another has not can stand in for the other by leaving it out of
// the other's completions; for the other nodes that argument fails (a missing
// arc, an asymmetric or non-metric matrix), and the search compares them
// exactly. Euclidean matrices keep every node; a relative slack of 1e-12
// covers the rounding of their sums.
VisitedSet SkippableNodes(const InstanceTables& tables);

// Cheapest cost from u to v for `type` over any chain of arcs (Floyd-Warshall
// over the dense matrix, row-major, NumNodes() squared entries; infinity
// where no chain exists). Equals the arc's cost where the arcs keep the
// triangle inequality (within the same rounding slack).
std::vector<double> ShortestCosts(const InstanceTables& tables, size_t type);

}  // namespace tarsel
