#include "search/incumbent_record.h"

#include <string>
#include <vector>

#include "common/console.h"
#include "routes/pair_schedule.h"

namespace tarsel {

namespace {

constexpr double kImprovement = 1e-9;

}  // namespace

void IncumbentRecord::Start(ObjectiveType objective, const RouteEvaluator& rules,
                            size_t num_agents) {
  objective_ = objective;
  rules_ = &rules;
  num_agents_ = num_agents;
  value_.reset();
  best_ = Result();
  best_totals_ = CostTotals();
  log_.clear();
  last_update_time_ = 0;
}

IncumbentRecord::Outcome IncumbentRecord::Offer(double time, Result snapshot, Judge judge) {
  // A route the rules reject (the search and the post-optimisers disagree)
  // has no cost worth reporting.
  if (const std::optional<std::string> invalid = Recost(snapshot)) {
    ConsoleLine(ConsoleStream::kErr, ConsoleKind::kError, "[post-opt] solution dropped: ", *invalid);
    return Outcome::kInvalid;
  }
  // Costs from the schedule may differ from the finder's own.
  if (rules_->Costs().Tables().HasPrecedence()) judge = Judge::kByObjective;
  const CostTotals totals = TotalsOf(snapshot.times);
  const double value = totals.ValueFor(objective_);
  const bool better = judge == Judge::kKnownBetter || Better(value);
  if (better) {
    best_.paths = snapshot.paths;
    best_.times = snapshot.times;
    best_totals_ = totals;
    value_ = value;
  }
  log_.emplace_back(time, std::move(snapshot));
  last_update_time_ = time;
  return better ? Outcome::kKept : Outcome::kLogged;
}

bool IncumbentRecord::Better(double value) const {
  if (!value_) return true;
  return objective_ == ObjectiveType::MinSum ? value < *value_ - kImprovement
                                             : value <= *value_ + kImprovement;
}

std::optional<std::string> IncumbentRecord::Recost(Result& snapshot) const {
  auto invalid_route = [](size_t k) { return "invalid route for agent " + std::to_string(k); };
  for (size_t k = 0; k < num_agents_; ++k) {
    const auto path = snapshot.paths.find(k);
    if (path == snapshot.paths.end()) return invalid_route(k);
    const RouteEvaluation evaluation = rules_->EvaluateRoute(path->second, k);
    if (!evaluation.valid) return invalid_route(k);
    snapshot.times[k] = evaluation.cost;
  }
  const RouteCosts& costs = rules_->Costs();
  if (!costs.Tables().HasPrecedence()) return std::nullopt;
  std::vector<std::vector<size_t>> routes(num_agents_);
  for (size_t k = 0; k < num_agents_; ++k) {
    const std::vector<uint64_t>& path = snapshot.paths.at(k);
    routes[k].assign(path.begin(), path.end());
  }
  PairSchedule schedule;
  SchedulePairs(costs, routes, schedule);
  if (!schedule.violations.empty()) {
    const PrecedencePair& pair = costs.Tables().PrecedencePairs()[schedule.violations[0].pair];
    return "precedence pair (before " + std::to_string(pair.before_id) + ", after " +
           std::to_string(pair.after_id) + ", " + PairKindName(pair.kind) + ") broken";
  }
  if (schedule.cyclic) return "routes wait for each other's precedence pairs in a cycle";
  for (size_t k = 0; k < num_agents_; ++k) {
    if (!schedule.walks[k].feasible) {
      return invalid_route(k) + " once it waits for its precedence pairs";
    }
    snapshot.times[k] = schedule.Cost(k);
  }
  return std::nullopt;
}

}  // namespace tarsel
