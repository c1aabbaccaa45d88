#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/engine_settings.h"
#include "tables/instance_tables.h"

namespace tarsel {

// The islands a memory budget of `budget_bytes` holds on `tables`, at most
// `islands` and at least 1: each island is a whole engine and needs its
// least bytes (EngineLeastBytes) of the budget.
size_t IslandsWithinBudget(const InstanceTables& tables, double budget_bytes, size_t islands);

// Iterations of each island between two exchanges of best solutions.
constexpr int64_t kIslandExchangeEvery = 100;

// Runs `islands` improvement engines at once, one per thread, each with its
// own seed (island 0 keeps `settings.seed`) and an equal share of
// `settings.memory_budget_bytes`, "max_iterations" and "max_no_improvement"
// counting each island's own iterations. Every kIslandExchangeEvery
// iterations the islands still running meet, and each adopts the best of
// their best solutions (ties: the lowest island), so that with iteration
// limits a run gives the same result every time.
//
// Island 0 runs on the calling thread, which alone calls
// `settings.on_improvement` and `settings.interrupt` (the caller's
// callbacks may need that thread); the other islands' improvements are
// handed over at its polls and once it has finished, while it waits for the
// others. An interrupt stops every island. The outcome is the best island's
// (ties: the lowest), with the iterations and restarts of all islands; it
// is `improved` as soon as any island improved. `islands` 1 is exactly
// RunImprovementEngine. When the budget cannot hold `islands` engines at
// their least (EngineLeastBytes each: the budget left once the focal
// search has kept its stores may be less than the solver's check before
// the solve granted), only as many islands run as it holds, at least one
// (IslandsWithinBudget).
EngineOutcome RunIslands(const InstanceTables& tables, const Result* start, const EngineSettings& settings,
                         size_t islands);

}  // namespace tarsel
