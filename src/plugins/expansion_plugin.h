#pragma once

#include <cstddef>
#include <vector>

#include "plugins/plugin_base.h"
#include "common/label.h"

namespace tarsel {

// Chooses the agent whose route the search extends from a label; kNoIndex
// (all bits set) when none can be extended.
class ExpansionPlugin : public PluginBase {
 public:
  virtual void SetGoals(const std::vector<size_t>& goals) = 0;
  virtual size_t SelectAgent(const Label& label) const = 0;
};

}  // namespace tarsel
