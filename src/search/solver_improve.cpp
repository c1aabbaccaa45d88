#include <algorithm>

#include "common/console.h"
#include "engine/improvement_engine.h"
#include "model/anytime_points.h"
#include "search/solver.h"

namespace tarsel {

bool Solver::RunImprovement(bool found) {
  // Ctrl-C during the focal search ends the solve there.
  if (interrupt.Interrupted()) return false;
  EngineSettings settings;
  settings.min_max = solve_options.objective == ObjectiveType::MinMax;
  settings.seed = static_cast<uint64_t>(solve_options.seed);
  settings.max_iterations = solve_options.max_iterations;
  settings.max_no_improvement = solve_options.max_no_improvement;
  settings.deadline = time_limit;
  settings.clock = [this] { return timer.Elapsed(); };
  settings.interrupt = &interrupt;
  // The engine's stores count against the same budget as the tables and
  // the search's stores, which keep what they hold while the engine runs.
  settings.memory_budget_bytes = std::max(
      0.0, memory_limit_bytes - tables_memory_bytes - static_cast<double>(SearchMemoryBytes()));
  settings.on_improvement = [this](double time, const Result& improved) {
    Result snapshot = result;
    snapshot.paths = improved.paths;
    snapshot.times = improved.times;
    LogAnytime(time, std::move(snapshot));
    const CostTotals totals = TotalsOf(improved.times);
    progress.Solution(time, totals.max_cost, totals.sum_cost);
  };
  progress.SetPhase(ProgressPhase::kEngine);
  const EngineOutcome outcome = RunImprovementEngine(tables, found ? &best : nullptr, settings);
  if (outcome.memory_limited && !memory_limit_reached) {
    memory_limit_reached = true;
    ConsoleLine(ConsoleStream::kErr, "[memory] memory limit of ", memory_limit_bytes / (1 << 20),
                " MB reached before the improvement engine could start; the solve stops ",
                found ? "with the best solution found" : "without a solution");
  }
  // The focal search's own stop (a tenth of the budget) is no timeout of the solve.
  result.timeout = outcome.stopped_early || interrupt.Interrupted() || memory_limit_reached;
  if (!outcome.improved) return false;
  best.paths = outcome.result.paths;
  best.times = outcome.result.times;
  solution_found = 1;
  double longest = 0;
  for (const auto& [agent, cost] : best.times) longest = std::max(longest, cost);
  max_path_length = longest;
  FillSummary();
  return true;
}

int Solver::SolveWithEngineOnly() {
  ResetSearchState();
  timer.Start();
  if (unsolvable) {
    result.cpu_seconds = timer.Elapsed();
    return 0;
  }
  ConsoleLine(ConsoleStream::kErr, "[improve] instance has ", tables.NumNodes(),
              " nodes, more than the focal search supports (", kMaxSearchNodes,
              "): the focal search is skipped and the improvement engine builds its own "
              "starting solutions");
  RunImprovement(false);
  result.cpu_seconds = timer.Elapsed();
  return solution_found != 0 ? 1 : 0;
}

}  // namespace tarsel
