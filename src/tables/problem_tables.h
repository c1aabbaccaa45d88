#pragma once

#include <memory>

#include "graph/sparse_graph.h"
#include "model/options.h"
#include "model/problem.h"
#include "tables/instance_tables.h"

namespace tarsel {

// The tables of one Problem and the complete graph built with them (one
// cost dimension per agent type; pairs no matrix gives stay "no
// connection"). The tables point at the graph, which the value owns.
struct ProblemTables {
  std::unique_ptr<SparseGraph> graph;
  InstanceTables tables;
};

// Which arcs the graph of BuildProblemTables holds: every pair (the focal
// search and its post-optimisers walk them), or none, the vertices only, for
// consumers that read costs from the tables' dense matrices (on 2,000 nodes
// the arc lists would hold four million arcs beside the matrices).
enum class GraphArcs { kComplete, kNone };

// Bytes the tables and graph of BuildProblemTables hold for `nodes` nodes
// and `types` agent types: the dense cost matrices (types x nodes^2
// doubles), and with kComplete an arc with its cost vector for every
// ordered pair. Known before anything is built.
size_t TablesMemoryBytes(size_t nodes, size_t types, GraphArcs arcs);

// Builds the tables of `problem`, in this order: types, nodes, agents with
// their start and end nodes (std::out_of_range naming the agent for an
// unknown id), allowed types per node (a warning per node without an
// assignment constraint, then one per unknown node id or agent type that an
// assignment or sequence constraint names), time windows by node index (a
// warning per unknown node id), the precedence pairs by node index when
// the options enforce them (else a warning when the document has any), the cost matrices (std::out_of_range naming
// the type of a matrix that no agent has; a warning per type whose matrix
// holds costs above the missing-cost threshold; one warning when demands and
// capacities are given but "enforce_capacity" is off), the graph, and the
// nodes' demands when "enforce_capacity" is on.
ProblemTables BuildProblemTables(const Problem& problem, const Options& options,
                                 GraphArcs arcs = GraphArcs::kComplete);

}  // namespace tarsel
