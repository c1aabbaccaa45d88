#pragma once

#include <string>

#include "model/options.h"
#include "model/problem.h"

namespace tarsel {

// What a Problem must satisfy before a Solver derives anything from it. Each
// check throws std::invalid_argument (ValueError in Python) with a message
// that names the offending value and where it is.

// "missing_cost" must be positive and finite, "memory_limit_mb" positive and
// finite (megabytes).
void CheckOptions(const Options& options);

// Every entry must be finite and non-negative: the search's bound, the
// route-length limits and the time windows rely on costs that only add up.
void CheckCostMatrix(const std::string& agent_type, const CostMatrix& matrix);

// Node ids and agent ids must be unique (a repeated one makes every
// reference to it ambiguous), no agent's time_limit or capacity_limit may be NaN,
// and every cost matrix must pass CheckCostMatrix (matrices in the order of
// their type names).
void CheckProblem(const Problem& problem);

// Every node's demand must be finite and non-negative: a route's load only
// adds up. Checked when capacities are enforced.
void CheckDemands(const Problem& problem);

// Whether some agent's capacity (a positive one) is below the demands of all
// targets (nodes that are no agent's start or end) together: only then can
// a route exceed a capacity.
bool CapacitiesBind(const Problem& problem);

}  // namespace tarsel
