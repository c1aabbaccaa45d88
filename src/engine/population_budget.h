#pragma once

#include <cstddef>

#include "engine/subpopulation.h"

namespace tarsel {

// Sizes of the population's two parts that fit a memory budget: `wanted`
// when both parts at their largest (survivors + generation + 1 members each)
// fit beside `fixed_bytes`, else both shrunk in proportion. `fits` is false
// when not even one member per part fits (the engine cannot run).
SubPopulationSizes FitPopulationSizes(const SubPopulationSizes& wanted, double budget_bytes,
                                      size_t fixed_bytes, size_t member_bytes, bool& fits);

}  // namespace tarsel
