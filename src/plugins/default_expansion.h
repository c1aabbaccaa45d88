#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "plugins/expansion_plugin.h"

namespace tarsel {

// Extends the active agent with the smallest route cost (lowest index on ties).
class DefaultExpansion : public ExpansionPlugin {
 public:
  std::string Name() const override { return "DefaultExpansion"; }
  void SetGoals(const std::vector<size_t>& goals) override;
  size_t SelectAgent(const Label& label) const override;

 private:
  std::vector<size_t> goals;
  size_t num_agents = 0;
};

}  // namespace tarsel
