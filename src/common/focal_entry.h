#pragma once

#include <cstdint>

namespace tarsel {

// Element of the focal list.
struct FocalEntry {
  int64_t label_id = 0;
  int64_t visited_count = 0;
  int64_t active_agents = 0;
  double f = 0;
  double total_cost = 0;
};

}  // namespace tarsel
