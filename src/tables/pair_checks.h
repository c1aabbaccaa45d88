#pragma once

#include <cstddef>
#include <optional>

#include "tables/instance_tables.h"

namespace tarsel {

// Why no schedule can satisfy a precedence pair.
enum class PairDefectReason {
  kUnknownNode,     // it names an id no node has
  kNotTarget,       // it names an agent's start or end node, which every route holds
  kOneNode,         // `before` and `after` are the same node
  kCycle,           // it lies on a cycle of pairs (each node before the next, back to the first)
  kNoCommonAgent,   // "same": no agent may serve both nodes
  kNoTwoAgents,     // "diff": no two different agents may serve one node each
};

struct PairDefect {
  size_t pair = 0;  // index into the tables' precedence pairs
  PairDefectReason reason = PairDefectReason::kUnknownNode;
};

// The first pair of the tables that no schedule can satisfy, checking each
// pair on its own in order first, then the pairs together for a cycle;
// nothing when every pair can be honoured as far as these checks see.
std::optional<PairDefect> FindUnsatisfiablePair(const InstanceTables& tables);

}  // namespace tarsel
