#pragma once

#include <cstddef>
#include <vector>

#include "plugins/plugin_base.h"
#include "common/label.h"

namespace tarsel {

// Turns per-agent costs into the label's g and f values.
class ObjectivePlugin : public PluginBase {
 public:
  virtual void SetGoals(const std::vector<size_t>& goals) = 0;
  virtual double Aggregate(const std::vector<double>& costs) const = 0;
  virtual double Evaluate(const Label& label, size_t active_agents, double h) const = 0;
};

}  // namespace tarsel
