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

// Bytes the engine holds besides its population on an instance of `nodes`
// nodes, `agents` agents and `types` neighbour lists (agent types): the work
// and elite solutions with room for every target on every route, the
// neighbour lists, the local search's route pieces, the construction's and
// the split's tables, buffers.
size_t EngineFixedBytes(size_t nodes, size_t agents, size_t types);

// Bytes the engine needs at the least, with the smallest population it
// runs with (two members in each part), on an instance of `nodes` nodes,
// `agents` agents and `types` agent types; known before anything is built.
size_t EngineLeastBytes(size_t nodes, size_t agents, size_t types);

}  // namespace tarsel
