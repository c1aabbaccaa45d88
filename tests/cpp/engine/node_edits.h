#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace tarsel::engine_test {

// Node sequences edited by hand, the independent side of the operator
// tests: what an applied move must equal.

// Nodes i..i+count-1, in order or reversed.
inline std::vector<size_t> SegmentOf(const std::vector<size_t>& nodes, size_t i, size_t count, bool reversed) {
  std::vector<size_t> segment(nodes.begin() + static_cast<std::ptrdiff_t>(i),
                              nodes.begin() + static_cast<std::ptrdiff_t>(i + count));
  if (reversed) std::reverse(segment.begin(), segment.end());
  return segment;
}

// The nodes without i..i+count-1.
inline std::vector<size_t> Without(const std::vector<size_t>& nodes, size_t i, size_t count) {
  std::vector<size_t> out = nodes;
  out.erase(out.begin() + static_cast<std::ptrdiff_t>(i), out.begin() + static_cast<std::ptrdiff_t>(i + count));
  return out;
}

}  // namespace tarsel::engine_test
