#pragma once

#include <string>

#include "tables/instance_tables.h"

namespace tarsel {

// Root of every exchangeable decision object of the search.
class PluginBase {
 public:
  virtual ~PluginBase() = default;
  virtual std::string Name() const = 0;
  // Makes the plugin read the instance tables of one solve; they outlive
  // the plugin's use. Plugins that need no tables ignore them.
  virtual void AttachTables(const InstanceTables& tables) { (void)tables; }
};

}  // namespace tarsel
