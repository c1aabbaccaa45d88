#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarsel {

// The Solver's dense per-node record; index = position in Problem.nodes.
struct NodeInfo {
  int64_t x = 0;  // coordinates truncated toward zero
  int64_t y = 0;
  int64_t z = 0;
  size_t id = 0;
  std::vector<size_t> allowed_types;  // ascending, no duplicates
};

}  // namespace tarsel
