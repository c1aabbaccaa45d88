#pragma once

#include <cstddef>
#include <unordered_map>
#include <utility>

namespace tarsel {

// Time windows keyed by node index: (start, end).
using TimeWindowTable = std::unordered_map<size_t, std::pair<double, double>>;

}  // namespace tarsel
