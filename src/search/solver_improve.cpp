#include <algorithm>

#include "common/console.h"
#include "engine/island_engine.h"
#include "model/anytime_points.h"
#include "search/solver.h"

namespace tarsel {

size_t EngineThreads(const Options& options) {
  return options.threads > 1 ? static_cast<size_t>(options.threads) : 1;
}

bool Solver::RunImprovement(bool found) {
  // Ctrl-C during the focal search ends the solve there.
  if (interrupt.Interrupted()) return false;
  EngineSettings settings;
  settings.min_max = options.objective == ObjectiveType::MinMax;
  settings.seed = static_cast<uint64_t>(options.seed);
  settings.max_iterations = options.max_iterations;
  settings.max_no_improvement = options.max_no_improvement;
  settings.deadline = options.time_limit;
  settings.clock = [this] { return timer.Elapsed(); };
  if (options.wall_time_limit > 0) {
    settings.wall_deadline = options.wall_time_limit;
    settings.wall_clock = [this] { return timer.WallElapsed(); };
  }
  settings.interrupt = &interrupt;
  // The engine's stores count against the same budget as the tables and
  // the search's stores, which keep what they hold while the engine runs.
  settings.memory_budget_bytes = std::max(
      0.0, MemoryLimitBytes() - tables_memory_bytes - static_cast<double>(SearchMemoryBytes()));
  // The engine reports only solutions better than all before it, by its
  // own order of the objective: each becomes the best.
  settings.on_improvement = [this](double time, const Result& improved) {
    Result snapshot = result;
    snapshot.paths = improved.paths;
    snapshot.times = improved.times;
    OfferSolution(time, std::move(snapshot), IncumbentRecord::Judge::kKnownBetter);
  };
  progress.SetPhase(ProgressPhase::kEngine);
  // A copy: the engine's reports replace the record's best while it runs.
  const Result start = record.Best();
  const size_t threads = EngineThreads(options);
  EngineOutcome outcome = RunIslands(tables, found ? &start : nullptr, settings, threads);
  // Islands report as they find, so of equally good solutions the record
  // holds the one reported first; the run's result (the best island's, ties
  // to the lowest) is the same every time, and it is what the solve returns.
  if (threads > 1 && outcome.improved && record.Best().paths != outcome.result.paths) {
    settings.on_improvement(timer.Elapsed(), outcome.result);
  }
  if (outcome.memory_limited && !memory_limit_reached) {
    memory_limit_reached = true;
    ConsoleCodedLine(ConsoleStream::kErr, ConsoleKind::kStop, console_code::kMemoryStop,
                     {{"memory_limit_mb", options.memory_limit_mb}}, "[memory] memory limit of ",
                     options.memory_limit_mb,
                     " MB reached before the improvement engine could start; the solve stops ",
                     found ? "with the best solution found" : "without a solution");
  }
  // The focal search's own stop (a tenth of the budget) is no timeout of the solve.
  result.timeout = outcome.stopped_early || interrupt.Interrupted() || memory_limit_reached;
  if (!outcome.improved) return false;
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
  if (pairs_enforced) {
    ConsoleCodedLine(ConsoleStream::kErr, ConsoleKind::kInfo, console_code::kPairsEnforced, {},
                     "[improve] instance has precedence pairs, which the focal search does not "
                     "honour: the focal search is skipped and the improvement engine builds its own "
                     "starting solutions");
  } else if (capacities_bind) {
    ConsoleCodedLine(ConsoleStream::kErr, ConsoleKind::kInfo, console_code::kCapacitiesBind, {},
                     "[improve] the demands can exceed a capacity, which the focal search does not "
                     "hold routes to: it is skipped and the improvement engine builds its own "
                     "starting solutions");
  } else {
    ConsoleCodedLine(ConsoleStream::kErr, ConsoleKind::kInfo, console_code::kLargeInstance,
                     {{"nodes", uint64_t{tables.NumNodes()}}}, "[improve] instance has ", tables.NumNodes(),
                     " nodes, more than the focal search supports (", kMaxSearchNodes,
                     "): the focal search is skipped and the improvement engine builds its own "
                     "starting solutions");
  }
  RunImprovement(false);
  result.cpu_seconds = timer.Elapsed();
  return record.Found() ? 1 : 0;
}

}  // namespace tarsel
