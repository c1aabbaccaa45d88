#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "plugins/objective_plugin.h"

namespace tarsel {

// Min-sum objective: g is the sum of the route costs, f = g + h.
class MinSumObjective : public ObjectivePlugin {
 public:
  std::string Name() const override { return "MinSumObjective"; }
  void SetGoals(const std::vector<size_t>&) override {}
  double Aggregate(const std::vector<double>& costs) const override;
  double Evaluate(const Label& label, size_t active_agents, double h) const override;
};

}  // namespace tarsel
