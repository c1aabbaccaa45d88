#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

namespace tarsel {

// Node, agent and type indices use the all-ones value for "no index".
constexpr size_t kNoIndex = std::numeric_limits<size_t>::max();

// Default of the "no connection" threshold: arc costs at or above it are no
// arcs (Options::missing_cost sets the threshold of a solve).
constexpr double kNoConnection = 9999.0;

// Largest finite double: start value of minima and mark of a blocked edge.
constexpr double kMaxDouble = std::numeric_limits<double>::max();

}  // namespace tarsel
