#pragma once

#include <vector>

#include "common/label.h"

namespace tarsel {

// Pareto set of the labels that share one configuration of agent positions,
// over objective value, per-agent costs and visited nodes.
class Frontier {
 public:
  virtual ~Frontier() = default;
  // True if some entry dominates `label` (equal labels dominate each other).
  virtual bool IsDominated(const Label& label) const;
  // Removes the entries `label` dominates, appends it, returns how many went.
  virtual int Insert(const Label& label);

  std::vector<Label> entries;
};

}  // namespace tarsel
