#pragma once

#include <string>

namespace tarsel {

// Root of every exchangeable decision object of the search.
class PluginBase {
 public:
  virtual ~PluginBase() = default;
  virtual std::string Name() const = 0;
};

}  // namespace tarsel
