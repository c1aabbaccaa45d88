#pragma once

#include <cstddef>

namespace tarsel {

// Candidate edge of the spanning-forest heuristic between node indices u > v.
struct MstEdge {
  size_t u = 0;
  size_t v = 0;
  double w = 0;
};

}  // namespace tarsel
