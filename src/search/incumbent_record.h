#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/result.h"
#include "model/anytime_points.h"
#include "model/options.h"
#include "postopt/route_evaluator.h"

namespace tarsel {

using AnytimeLog = std::vector<std::pair<double, Result>>;

// The best solution of a solve and its bookkeeping. Every solution offered,
// by the focal search or by the improvement engine, has its routes checked
// and re-costed by the post-optimisers' route rules, goes into the anytime
// log with its time, and is kept when it beats the best so far. The log's
// last time and `LastUpdateTime` are stamped together, in one place.
class IncumbentRecord {
 public:
  // How an offered solution is judged against the best so far.
  enum class Judge {
    // Min-sum keeps the first solution of the smallest total (the anytime
    // filter's rule); min-max takes every solution whose longest route is no
    // longer, as each later solution of the focal search is. Both within 1e-9.
    kByObjective,
    // The caller has already found it better (the engine reports only
    // solutions that improve on all before it).
    kKnownBetter,
  };
  // What became of an offered solution.
  enum class Outcome {
    kInvalid,  // a route the rules reject: neither logged nor kept
    kLogged,   // logged, not better than the best
    kKept,     // logged and now the best
  };

  // Starts a solve: forgets every solution. `rules` (which must outlive the
  // solve) check and re-cost the routes of agents 0 .. num_agents-1 of every
  // solution offered; `objective` orders them.
  void Start(ObjectiveType objective, const RouteEvaluator& rules, size_t num_agents);

  // Offers `snapshot`, found at `time` (processor seconds since the solve
  // began). A route the rules reject drops the solution with a note on
  // standard error naming the agent, and so does a broken precedence pair
  // or routes that wait for each other in a cycle. With precedence pairs
  // the solution is always judged by its re-costed objective.
  Outcome Offer(double time, Result snapshot, Judge judge = Judge::kByObjective);

  bool Found() const { return value_.has_value(); }
  // Objective value of the best solution: the total for min-sum, the
  // longest route for min-max.
  std::optional<double> Value() const { return value_; }
  // Longest route of the best solution.
  std::optional<double> LongestRoute() const {
    return Found() ? std::optional<double>(best_totals_.max_cost) : std::nullopt;
  }
  // Routes and costs of the best solution (empty before the first).
  const Result& Best() const { return best_; }
  const CostTotals& BestTotals() const { return best_totals_; }
  const AnytimeLog& Log() const { return log_; }
  // Time of the anytime log's last entry; 0 before the first.
  double LastUpdateTime() const { return last_update_time_; }

 private:
  // Checks every route of `snapshot` and replaces its costs by the rules'
  // (with precedence pairs, by the schedule of all routes, cross-route
  // waits included); returns why the solution is rejected: the first agent
  // whose route is missing or invalid, or the first pair it breaks.
  std::optional<std::string> Recost(Result& snapshot) const;
  bool Better(double value) const;

  ObjectiveType objective_ = ObjectiveType::MinMax;
  const RouteEvaluator* rules_ = nullptr;
  size_t num_agents_ = 0;
  std::optional<double> value_;  // empty until a solution is kept
  Result best_;                  // paths and times only
  CostTotals best_totals_;
  AnytimeLog log_;
  double last_update_time_ = 0;
};

}  // namespace tarsel
