#pragma once

#include <cstddef>
#include <vector>

#include "common/result.h"
#include "engine/random.h"
#include "tables/instance_tables.h"

namespace tarsel {

// A subproblem of a solution: some of its routes, with their agents, their
// targets and the agents' start and end nodes, as instance tables of their
// own (nodes and agents renumbered; every cost matrix, window, demand,
// limit and capacity carried over), and those routes as its starting
// solution.
struct Subproblem {
  InstanceTables tables;
  std::vector<size_t> agents;  // agent of the whole for each agent of the subproblem
  std::vector<size_t> nodes;   // node of the whole for each node of the subproblem
  Result start;                // the chosen routes in the subproblem's numbering
};

// Builds the subproblem of the routes of `agents` in `routes` (one node
// sequence per agent of the whole: start, targets, end).
void ExtractSubproblem(const InstanceTables& whole, const std::vector<std::vector<size_t>>& routes,
                       const std::vector<size_t>& agents, Subproblem& sub);

// Writes the routes of `solved` (a solution of `sub`) back into `routes`
// in the whole's numbering; false (routes unchanged) when `solved` does not
// hold a route for every agent of the subproblem.
bool PutBack(const Subproblem& sub, const Result& solved, std::vector<std::vector<size_t>>& routes);

// `count` routes that lie next to each other, as agents of the whole in
// ascending order: consecutive in the polar angle of their targets'
// barycentre around the first agent's start, from a random route on; where
// the nodes carry no coordinates, a random route and those whose targets
// come nearest to it (by the first agent's costs). Routes without targets
// are never chosen; fewer than `count` come back when fewer have targets.
std::vector<size_t> NeighbouringRoutes(const InstanceTables& tables, const std::vector<std::vector<size_t>>& routes,
                                       size_t count, Random& random);

}  // namespace tarsel
