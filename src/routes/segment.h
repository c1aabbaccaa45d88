#pragma once

#include <algorithm>
#include <limits>

namespace tarsel {

// Summary of a node sequence travelled by one agent, so that sequences can
// be joined in O(1): `duration` is travel plus waiting, `warp` how much too
// late the sequence arrives in total (0 when every window end is met),
// `earliest`/`latest` the range of start times at its first node that
// achieve that duration and warp, `blocked` an arc without connection,
// `load` the demand its targets add up to.
struct Segment {
  double duration = 0;
  double warp = 0;
  double earliest = -std::numeric_limits<double>::infinity();
  double latest = std::numeric_limits<double>::infinity();
  bool blocked = false;
  double load = 0;
};

// One node with window [open, close] (use -inf/+inf without a window) and
// demand `load`.
inline Segment NodeSegment(double open, double close, double load = 0) {
  Segment segment;
  segment.earliest = open;
  segment.latest = close;
  segment.load = load;
  return segment;
}

// A route start: the clock at time 0, fixed.
inline Segment ClockSegment() { return Segment{0, 0, 0, 0, false, 0}; }

// `first` followed by `second`, with `travel` from the last node of the
// first to the first node of the second (`travel_blocked`: no connection).
inline Segment Concat(const Segment& first, double travel, bool travel_blocked,
                      const Segment& second) {
  const double delta = first.duration - first.warp + travel;
  const double wait = std::max(second.earliest - delta - first.latest, 0.0);
  const double warp = std::max(first.earliest + delta - second.latest, 0.0);
  Segment joined;
  joined.duration = first.duration + second.duration + travel + wait;
  joined.warp = first.warp + second.warp + warp;
  joined.earliest = std::max(second.earliest - delta, first.earliest) - wait;
  joined.latest = std::min(second.latest - delta, first.latest) + warp;
  joined.blocked = first.blocked || second.blocked || travel_blocked;
  joined.load = first.load + second.load;
  return joined;
}

}  // namespace tarsel
