#pragma once

#include <string>

#include "common/interrupt_check.h"
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
  // Gives a plugin whose work can take long the solve's interrupt check, to
  // poll while it works (it then stops early with a valid state).
  virtual void AttachInterruptCheck(InterruptCheck* check) { (void)check; }
};

}  // namespace tarsel
