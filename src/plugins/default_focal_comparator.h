#pragma once

#include <string>

#include "plugins/focal_comparator_plugin.h"

namespace tarsel {

// More visited nodes first, then smaller f, then smaller total cost.
class DefaultFocalComparator : public FocalComparatorPlugin {
 public:
  std::string Name() const override { return "DefaultFocalComparator"; }
  bool Compare(const FocalEntry& a, const FocalEntry& b) const override;
};

}  // namespace tarsel
