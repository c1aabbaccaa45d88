#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tarsel {

// Node id -> agent type names that may serve it.
struct AssignmentConstraint {
  std::unordered_map<uint64_t, std::vector<std::string>> allowed_types;

  void set_assignment(uint64_t node, const std::vector<std::string>& types) {
    allowed_types[node] = types;
  }
};

// Node id -> (start, end) of its time window.
struct TimeWindowConstraint {
  std::unordered_map<uint64_t, std::pair<double, double>> windows;

  void set_timewindow(uint64_t node, double start, double end) {
    windows[node] = std::make_pair(start, end);
  }
};

}  // namespace tarsel
