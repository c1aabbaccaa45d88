#pragma once

#include <cstddef>
#include <vector>

#include "engine/random.h"

namespace tarsel {

// Order crossover of two giant tours (each a permutation of the same
// targets): a random segment of `first` is kept in place, the other
// positions are filled, from just after the segment onwards (cyclically),
// with the remaining targets in the order of `second` read from the same
// place. `used` is a flag per node (at least as long as the largest target
// + 1), cleared here; `child` gets the result.
void OrderCrossover(const std::vector<size_t>& first, const std::vector<size_t>& second, Random& random,
                    std::vector<char>& used, std::vector<size_t>& child);

}  // namespace tarsel
