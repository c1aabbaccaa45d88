#pragma once

#include <cstddef>

#include "engine/subpopulation.h"

namespace tarsel {

// Members of one part of the population at its largest (its survivors and
// the children between two selections at their standard sizes, and one
// more): each member keeps a distance to every other, so a member's bytes
// grow with it.
constexpr size_t kLargestPart = SubPopulationSizes{}.survivors + SubPopulationSizes{}.generation + 1;

// Sizes of the population's two parts that fit a memory budget: `wanted`
// when both parts at their largest (survivors + generation + 1 members each)
// fit beside `fixed_bytes`, else both shrunk in proportion. `fits` is false
// when not even one member per part fits (the engine cannot run).
SubPopulationSizes FitPopulationSizes(const SubPopulationSizes& wanted, double budget_bytes,
                                      size_t fixed_bytes, size_t member_bytes, bool& fits);

// Bytes one engine (one island) holds besides its population on an
// instance of `nodes` nodes, `agents` agents and `types` neighbour lists
// (agent types): its work, mended, elite and schedule-priced solutions with
// room for every target on every route, the neighbour lists, the local
// search's route pieces and work lists with the tour pass's don't-look bits
// and queues, SWAP*'s cache, the edge-assembly crossover's tables, the
// copies the schedule's pricing of pairs across routes works on, the
// construction's and the split's tables, and the solutions reported and
// exchanged between islands. Each of N islands holds this much of its own.
size_t EngineFixedBytes(size_t nodes, size_t agents, size_t types);

// Bytes the engine needs at the least, with the smallest population it
// runs with (two members in each part), on an instance of `nodes` nodes,
// `agents` agents and `types` agent types; known before anything is built.
size_t EngineLeastBytes(size_t nodes, size_t agents, size_t types);

}  // namespace tarsel
