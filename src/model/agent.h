#pragma once

#include <cstdint>
#include <string>

namespace tarsel {

struct Agent {
  uint64_t id = 0;
  std::string type;         // agent type name: selects the cost matrix
  uint64_t start_node = 0;  // node id
  uint64_t end_node = 0;    // node id
  double capacity_limit = 0;
  double time_limit = 0;  // maximum route length; 0 or less means unlimited
};

}  // namespace tarsel
