#pragma once

#include "engine/engine_settings.h"
#include "tables/instance_tables.h"

namespace tarsel {

// The improvement engine: a hybrid genetic search over complete solutions.
// It starts from `start` (may be null or hold no routes) and from its own
// regret constructions, improves each by local search, and breeds children
// by order crossover of giant tours (or, where routes are long, by an
// edge-assembly crossover chosen adaptively) cut into routes by the split,
// on large instances also improving subproblems of neighbouring routes;
// returns the best solution found when it beats `start`.
EngineOutcome RunImprovementEngine(const InstanceTables& tables, const Result* start,
                                   const EngineSettings& settings);

}  // namespace tarsel
