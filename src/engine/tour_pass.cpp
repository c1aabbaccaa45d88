// The tour pass of the local search: a long route improved as a travelling
// salesman tour. Each awake target tries the moves within its route against
// its neighbours (2-opt joining the two, its segments of 1 to 3 targets
// relocated next to the neighbour in both orientations, swap) and then
// Or-3opt and a chain of 2-opt steps; a target that finds nothing goes to sleep until a move changes
// its neighbours in the tour (don't-look bits), so a pass costs
// O(targets x neighbours) evaluations, each O(1) from stored segments
// (O(length / window) for segments longer than the stored window).
#include <algorithm>
#include <array>

#include "engine/local_search.h"
#include "engine/move_value.h"

namespace tarsel {

namespace {

// Neighbours of a target's predecessor and of the target itself that
// Or-3opt combines: the nearest few carry nearly all of its gains. Or-3opt
// and the chains read the alpha-nearest candidates instead where the
// engine sets them (`TourList`), at most as many as they hold.
constexpr size_t kOr3optNeighbours = 10;

// The chain of 2-opt steps: neighbours tried as t3 at each step, and how
// many of the best of them (by the running gain) are followed at each
// depth; the last depths follow only the best, as in Lin-Kernighan.
constexpr size_t kChainNeighbours = 10;
constexpr size_t kChainBreadth[ChainTour::kMaxReversals] = {5, 3, 1, 1, 1};

// The longest of the two segments a kick exchanges: near each other, so
// that the tour pass mends the kick locally.
constexpr size_t kKickSegment = 30;

}  // namespace

void LocalSearch::Wake(size_t node) {
  if (awake_[node] != 0) return;
  awake_[node] = 1;
  queue_.push_back(node);
}

void LocalSearch::WakeChanged(const Solution& solution, size_t k) {
  const std::vector<size_t>& before = saved_a_;
  for (size_t p = 1; p + 1 < before.size(); ++p) {
    old_prev_[before[p]] = before[p - 1];
    old_next_[before[p]] = before[p + 1];
  }
  const std::vector<size_t>& nodes = solution.Route(k).nodes;
  for (size_t p = 1; p + 1 < nodes.size(); ++p) {
    const size_t x = nodes[p], prev = nodes[p - 1], next = nodes[p + 1];
    const bool same = (prev == old_prev_[x] && next == old_next_[x]) || (prev == old_next_[x] && next == old_prev_[x]);
    if (!same) Wake(x);
  }
}

size_t LocalSearch::ImproveTour(Solution& solution, const PenaltyWeights& weights, size_t k,
                                const std::function<bool()>& stop) {
  segments_.Refresh(solution, k);
  size_t taken = 0;
  bool stopped = false;
  // Rounds until one wakes every target and none moves: a target whose
  // neighbour changed without its own tour neighbours changing is asked
  // again there, so the route ends at a local optimum of these moves.
  while (!stopped) {
    queue_.clear();
    const std::vector<size_t>& nodes = solution.Route(k).nodes;
    for (size_t p = 1; p + 1 < nodes.size(); ++p) Wake(nodes[p]);
    const size_t moved = DrainTour(solution, weights, k, stop, stopped);
    taken += moved;
    if (moved == 0) {
      tour_clean_[k] = stopped ? 0 : 1;
      break;
    }
  }
  return taken;
}

size_t LocalSearch::DrainTour(Solution& solution, const PenaltyWeights& weights, size_t k,
                              const std::function<bool()>& stop, bool& stopped) {
  size_t taken = 0;
  for (size_t head = 0; head < queue_.size(); ++head) {
    const size_t u = queue_[head];
    awake_[u] = 0;
    if (stopped || solution.RouteOf(u) != k) continue;
    if (stop && stop()) {
      stopped = true;
      continue;
    }
    if (TryTourAt(solution, weights, u)) {
      ++taken;
      WakeChanged(solution, k);
      Wake(u);
    }
  }
  queue_.clear();
  return taken;
}

size_t LocalSearch::KickTours(Solution& solution, const PenaltyWeights& weights, Random& random, size_t kicks,
                              const std::function<bool()>& stop) {
  segments_.RefreshAll(solution);
  swap_star_.Forget();
  std::fill(tour_clean_.begin(), tour_clean_.end(), 0);
  const bool min_max = rules_.MinMax();
  size_t kept = 0;
  bool stopped = false;
  for (size_t kick = 0; kick < kicks && !stopped; ++kick) {
    // Under min-max the longest route half of the time (only it lowers the
    // objective's first part), otherwise any route: a shorter route leaves
    // room for the longest one's targets.
    const size_t k = min_max && random.Unit() < 0.5 ? LongestRoute(solution) : random.Below(solution.NumRoutes());
    const size_t n = solution.Route(k).Targets();
    if (n <= kLongRouteTargets) continue;
    const ObjectiveValue before = solution.Value();
    kick_saved_ = solution.Route(k).nodes;
    // Two neighbouring segments of the tour exchanged (the double bridge):
    // a change no sequence of improving 2-opt steps makes.
    const size_t limit = std::min(kKickSegment, n / 3);
    const size_t first = 1 + random.Below(limit);
    const size_t second = 1 + random.Below(limit);
    const size_t i = 1 + random.Below(n - first - second + 1);
    relocate_within_.Apply(solution, RelocateWithin::Move{k, i, first, i + first + second - 1, false});
    solution.Refresh(k, weights);
    segments_.Refresh(solution, k);
    // The targets at the three changed joins try moves first.
    const std::vector<size_t>& nodes = solution.Route(k).nodes;
    queue_.clear();
    for (const size_t p : {i - 1, i, i + second - 1, i + second, i + first + second - 1, i + first + second}) {
      if (rules_.IsTarget(nodes[p])) Wake(nodes[p]);
    }
    DrainTour(solution, weights, k, stop, stopped);
    if (Improves(solution.Value(), before, min_max)) {
      ++kept;
      continue;
    }
    solution.MutableNodes(k) = kick_saved_;
    solution.Refresh(k, weights);
    segments_.Refresh(solution, k);
  }
  std::fill(tour_clean_.begin(), tour_clean_.end(), 0);
  return kept;
}

size_t LocalSearch::TourPasses(Solution& solution, const PenaltyWeights& weights,
                               const std::function<bool()>& stop) {
  size_t taken = 0;
  for (size_t k = 0; k < solution.NumRoutes(); ++k) {
    if (solution.Route(k).Targets() <= kLongRouteTargets || tour_clean_[k] != 0) continue;
    if (stop && stop()) break;
    taken += ImproveTour(solution, weights, k, stop);
  }
  return taken;
}

bool LocalSearch::TryTourAt(Solution& solution, const PenaltyWeights& weights, size_t u) {
  const size_t k = solution.RouteOf(u);
  const size_t* list = neighbours_.Begin(segments_.SlotOf(k), u);
  for (size_t index = 0; index < neighbours_.Count(); ++index) {
    const size_t v = list[index];
    if (solution.RouteOf(v) != k) continue;
    if (TryWithin(solution, weights, u, solution.PositionOf(v))) return true;
  }
  return TryOr3opt(solution, weights, u) || TryChain(solution, weights, u);
}

// Or-3opt: the segment from u (position i) to the target before w (a
// neighbour of u's predecessor p, later in the route) leaves, p joins w,
// and the segment goes in order after a neighbour v of u (v then u) or
// reversed before it (u then v). Candidates whose three new arcs do not
// cost less than the three removed ones (by the agent's matrix, waiting
// aside) are skipped; the rest are priced exactly.
bool LocalSearch::TryOr3opt(Solution& solution, const PenaltyWeights& weights, size_t u) {
  const size_t k = solution.RouteOf(u);
  const size_t i = solution.PositionOf(u);
  const std::vector<size_t>& nodes = solution.Route(k).nodes;
  const size_t last = nodes.size() - 2;
  const size_t p = nodes[i - 1];
  if (!rules_.IsTarget(p)) return false;
  const size_t slot = segments_.SlotOf(k);
  size_t count_limit = 0;
  const size_t* near_p = TourList(slot, p, kOr3optNeighbours, count_limit);
  const size_t* near_u = TourList(slot, u, kOr3optNeighbours, count_limit);
  bool blocked = false;
  auto arc = [&](size_t from, size_t to) { return rules_.Travel(k, from, to, blocked); };
  const double removed_p = arc(p, u);
  for (size_t a = 0; a < count_limit; ++a) {
    const size_t w = near_p[a];
    if (solution.RouteOf(w) != k) continue;
    const size_t q = solution.PositionOf(w);
    if (q < i + 2) continue;  // segments of at least two targets
    const size_t tail = nodes[q - 1];
    const double closing = removed_p + arc(tail, w) - arc(p, w);
    if (!(closing > 0)) continue;
    const size_t count = q - i;
    for (size_t b = 0; b < count_limit; ++b) {
      const size_t v = near_u[b];
      if (solution.RouteOf(v) != k) continue;
      const size_t r = solution.PositionOf(v);
      // In order after v: v -> u ... tail -> v's successor.
      if ((r + 1 < i || r >= q) && r <= last) {
        const size_t next = nodes[r + 1];
        if (closing + arc(v, next) - arc(v, u) - arc(tail, next) > 0) {
          const RelocateWithin::Move move{k, i, count, r, false};
          if (Take(solution, weights, relocate_within_, move, relocate_within_.Evaluate(solution, move, weights))) {
            return true;
          }
        }
      }
      // Reversed before v: v's predecessor -> tail ... u -> v.
      if (r >= 1 && (r < i || r - 1 >= q)) {
        const size_t prev = nodes[r - 1];
        if (closing + arc(prev, v) - arc(prev, tail) - arc(u, v) > 0) {
          const RelocateWithin::Move move{k, i, count, r - 1, true};
          if (Take(solution, weights, relocate_within_, move, relocate_within_.Evaluate(solution, move, weights))) {
            return true;
          }
        }
      }
    }
  }
  return false;
}

bool LocalSearch::TryChain(Solution& solution, const PenaltyWeights& weights, size_t u) {
  const size_t k = solution.RouteOf(u);
  const std::vector<size_t>& nodes = solution.Route(k).nodes;
  const size_t p = solution.PositionOf(u);
  bool blocked = false;
  if (chain_steps_ == 0) return false;
  for (const bool forward : {true, false}) {
    const size_t t2 = nodes[forward ? p + 1 : p - 1];
    if (!rules_.IsTarget(t2)) continue;
    chain_.k = k;
    chain_.tour.Reset(nodes.size());
    const double removed = forward ? rules_.Travel(k, u, t2, blocked) : rules_.Travel(k, t2, u, blocked);
    if (ChainStep(solution, weights, u, t2, forward, removed, 0)) return true;
  }
  return false;
}

// One step of the chain. t1 and t2 are joined by an arc of the tour as the
// chain has made it (t2 after t1 when `forward`), `gain` the removed arcs'
// cost less the added ones' with that arc counted as removed. For a
// neighbour t3 of t2 whose arc from t2 costs less than `gain`, t4 is t3's
// tour neighbour on the side that reversing the stretch between them
// detaches: the reversal removes t3-t4, adds t2-t3 and leaves t1-t4 as the
// arc the next step breaks. Arc costs follow the tour's direction; the
// closed tour is priced exactly, so an asymmetric matrix, windows or limits
// only make the filter approximate, never a move wrong.
bool LocalSearch::ChainStep(Solution& solution, const PenaltyWeights& weights, size_t t1, size_t t2, bool forward,
                            double gain, size_t depth) {
  struct Candidate {
    size_t first, last, t4;
    bool forward;
    double gain;
  };
  std::array<Candidate, 8> best{};
  const size_t breadth = kChainBreadth[depth];
  size_t found = 0;
  const size_t k = chain_.k;
  const std::vector<size_t>& nodes = solution.Route(k).nodes;
  const size_t last = nodes.size() - 2;
  bool blocked = false;
  auto arc = [&](size_t from, size_t to) { return rules_.Travel(k, from, to, blocked); };
  const size_t p = chain_.tour.Current(solution.PositionOf(t1));
  size_t tried = 0;
  const size_t* near = TourList(segments_.SlotOf(k), t2, kChainNeighbours, tried);
  for (size_t index = 0; index < tried; ++index) {
    const size_t t3 = near[index];
    if (t3 == t1 || solution.RouteOf(t3) != k) continue;
    const size_t q = chain_.tour.Current(solution.PositionOf(t3));
    Candidate next{};
    if (forward) {
      if (q > p + 2) {
        next = {p + 1, q - 1, 0, true, 0};
      } else if (q < p) {
        next = {q, p, 0, false, 0};
      } else {
        continue;
      }
      next.t4 = nodes[chain_.tour.Original(q - 1)];
    } else {
      if (q + 2 < p) {
        next = {q + 1, p - 1, 0, false, 0};
      } else if (q > p && q <= last) {
        next = {p, q, 0, true, 0};
      } else {
        continue;
      }
      next.t4 = nodes[chain_.tour.Original(q + 1)];
    }
    const double added = forward ? arc(t2, t3) : arc(t3, t2);
    if (!(gain - added > 0)) continue;
    next.gain = gain - added + (forward ? arc(next.t4, t3) : arc(t3, next.t4));
    // Keep the `breadth` best by running gain, best first.
    size_t at = std::min(found, breadth);
    while (at > 0 && best[at - 1].gain < next.gain) {
      if (at < breadth) best[at] = best[at - 1];
      --at;
    }
    if (at < breadth) {
      best[at] = next;
      found = std::min(found + 1, breadth);
    }
  }
  for (size_t c = 0; c < found; ++c) {
    const Candidate& next = best[c];
    const ChainTour saved = chain_.tour;
    if (!chain_.tour.Reverse(next.first, next.last)) continue;
    const double closed = next.gain - (next.forward ? arc(t1, next.t4) : arc(next.t4, t1));
    if (closed > 0 && Take(solution, weights, reverse_chain_, chain_,
                           reverse_chain_.Evaluate(solution, chain_, weights))) {
      return true;
    }
    if (depth + 1 < chain_steps_ && rules_.IsTarget(next.t4) &&
        ChainStep(solution, weights, t1, next.t4, next.forward, next.gain, depth + 1)) {
      return true;
    }
    chain_.tour = saved;
  }
  return false;
}

}  // namespace tarsel
