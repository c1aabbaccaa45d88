#pragma once

#include <cstdint>

namespace tarsel {

enum class NodeType : int32_t { DEPOT = 0, TARGET = 1 };

struct Position {
  double x = 0;
  double y = 0;
  double z = 0;
};

struct Node {
  uint64_t id = 0;
  Position position;  // stored only; travel costs come from the cost matrices
  NodeType type = NodeType::TARGET;
  double demand = 0;
};

}  // namespace tarsel
