#pragma once

#include <cstddef>
#include <cstdint>

#include "common/special_values.h"

namespace tarsel {

// What a precedence pair asks of its two nodes. Plain: `before` is served
// no later than `after` (earlier on one route; across routes the agent of
// `after` waits for the service of `before`). Same: both on one route,
// `before` earlier. Diff: on two different routes, timed as plain.
enum class PairKind : uint8_t { kPlain, kSame, kDiff };

// One precedence pair by node index (kNoIndex for an id no node has), with
// the ids the document gave, which messages name.
struct PrecedencePair {
  size_t before = kNoIndex;
  size_t after = kNoIndex;
  uint64_t before_id = 0;
  uint64_t after_id = 0;
  PairKind kind = PairKind::kPlain;
};

// Whether the routes' order keeps a pair of `kind`: `one_route` when both
// nodes are on one route, `before_first` when `before` comes earlier there.
// A pair on two routes that the order keeps is then a matter of timing.
inline bool PairOrderKept(PairKind kind, bool one_route, bool before_first) {
  if (one_route) return kind != PairKind::kDiff && before_first;
  return kind != PairKind::kSame;
}

inline const char* PairKindName(PairKind kind) {
  switch (kind) {
    case PairKind::kSame:
      return "same";
    case PairKind::kDiff:
      return "diff";
    case PairKind::kPlain:
      break;
  }
  return "plain";
}

}  // namespace tarsel
