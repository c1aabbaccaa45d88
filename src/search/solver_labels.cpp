#include <stdexcept>
#include <string>

#include "search/solver.h"

namespace tarsel {

void ThrowTooManyNodes(size_t num_nodes, bool name_improve) {
  std::string message = "instance has " + std::to_string(num_nodes) +
                        " nodes, but the solver supports at most " + std::to_string(kMaxSearchNodes);
  if (name_improve) {
    message += "; set the option \"improve\" to true to solve larger instances with the "
               "improvement engine";
  }
  throw std::length_error(message);
}

void ThrowCapacitiesNeedEngine() {
  throw std::invalid_argument(
      "the demands of this instance can exceed an agent's capacity, which only the improvement "
      "engine holds routes to: set the option \"improve\" to true, or \"enforce_capacity\" "
      "to false to solve without capacities");
}

void ThrowPairsNeedEngine() {
  throw std::invalid_argument(
      "instance has precedence pairs, which only the improvement engine honours; set the "
      "option \"improve\" to true, or \"enforce_precedence\" to false to carry the pairs "
      "without effect");
}

bool CarriesPrecedencePairs(const Problem& problem) {
  return !problem.precedence.empty() || !problem.precedence_same.empty() ||
         !problem.precedence_diff.empty();
}

int64_t Solver::NewLabel() { return label_store.Allocate(); }

int64_t Solver::CountVisited(const Label& label) const {
  return label.visited.CountBelow(label.num_nodes);
}

double Solver::TotalCost(const Label& label) const {
  double total = 0;
  const size_t agent_count = NumAgents();
  for (size_t k = 0; k < agent_count && k < label.costs.size(); ++k) total += label.costs[k];
  return total;
}

bool Solver::IsGoal(const Label& label) const {
  if (label.num_nodes > 0 && !label.visited.AllBelow(label.num_nodes)) return false;
  return label.active_agents == 0;
}

bool Solver::IsDominated(const Label& label) { return frontiers.IsDominated(label); }

void Solver::AddToFrontier(const Label& label) { frontiers.Insert(label); }

void Solver::ResetFrontiers() { frontiers.Reset(&label_store, exact_nodes); }

}  // namespace tarsel
