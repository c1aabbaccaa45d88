#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "plugins/objective_plugin.h"

namespace tarsel {

// Min-max objective: g is the longest route; f the larger of g and the
// average remaining load of the active agents.
class DefaultObjective : public ObjectivePlugin {
 public:
  std::string Name() const override { return "DefaultObjective"; }
  void SetGoals(const std::vector<size_t>& goals) override { this->goals = goals; }
  double Aggregate(const std::vector<double>& costs) const override;
  double Evaluate(const Label& label, size_t active_agents, double h) const override;

 private:
  std::vector<size_t> goals;
};

}  // namespace tarsel
