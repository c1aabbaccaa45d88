#include "search/incumbent_record.h"

#include "common/console.h"

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
  if (const std::optional<size_t> invalid = Recost(snapshot)) {
    ConsoleLine(ConsoleStream::kErr, ConsoleKind::kError, "[post-opt] solution dropped: invalid route for agent ",
                *invalid);
    return Outcome::kInvalid;
  }
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

std::optional<size_t> IncumbentRecord::Recost(Result& snapshot) const {
  for (size_t k = 0; k < num_agents_; ++k) {
    const auto path = snapshot.paths.find(k);
    if (path == snapshot.paths.end()) return k;
    const RouteEvaluation evaluation = rules_->EvaluateRoute(path->second, k);
    if (!evaluation.valid) return k;
    snapshot.times[k] = evaluation.cost;
  }
  return std::nullopt;
}

}  // namespace tarsel
