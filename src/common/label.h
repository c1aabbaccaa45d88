#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/visited_set.h"

namespace tarsel {

// One search node: every agent's partial route, represented by where it ends
// and what it cost; the routes themselves follow from the parent chain.
struct Label {
  int64_t id = 0;
  std::vector<size_t> current_nodes;  // per agent
  std::vector<double> costs;          // per agent, accumulated cost (= time)
  VisitedSet visited;                 // bits num_nodes..255 always set
  int32_t num_nodes = 0;
  double h = 0;
  double g = 0;
  double f = 0;
  int64_t active_agents = 0;
  int64_t last_agent = 0;
  std::vector<uint8_t> finished;  // per agent, 1 once its route has ended
};

}  // namespace tarsel
