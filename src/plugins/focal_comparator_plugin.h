#pragma once

#include "plugins/plugin_base.h"
#include "common/focal_entry.h"

namespace tarsel {

// Strict weak ordering of the focal list: true when a comes before b.
class FocalComparatorPlugin : public PluginBase {
 public:
  virtual bool Compare(const FocalEntry& a, const FocalEntry& b) const = 0;
};

}  // namespace tarsel
