#pragma once

#include <cstdint>

namespace tarsel {

// Short description of the latest solution of a search.
struct SolveSummary {
  int32_t found = 0;
  int32_t num_nodes = -1;
  int32_t num_agents = -1;
  int32_t num_type1_agents = -1;
  int32_t num_type0_agents = -1;
  int32_t num_nodes_types01 = -1;  // nodes whose allowed types are exactly [0, 1]
  int32_t num_nodes_type0 = -1;    // nodes whose allowed types are exactly [0]
  double sum_cost = -1;
  double max_path_length = -1;
  double last_update_time = -1;
  double bound_ratio = -1;
};

}  // namespace tarsel
