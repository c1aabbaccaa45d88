#pragma once

#include <optional>

namespace tarsel {

// Answer of a constraint checker to one candidate move.
struct MoveCheck {
  bool feasible = true;
  std::optional<double> new_cost;  // the moving agent's cost after the move
};

}  // namespace tarsel
