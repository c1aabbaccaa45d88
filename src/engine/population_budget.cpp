#include "engine/population_budget.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "engine/engine_settings.h"
#include "engine/objective_value.h"
#include "engine/route_segments.h"
#include "routes/segment.h"
#include "engine/solution.h"
#include "engine/tour_candidates.h"
#include "routes/pair_schedule.h"
#include "common/result.h"

namespace tarsel {

SubPopulationSizes FitPopulationSizes(const SubPopulationSizes& wanted, double budget_bytes,
                                      size_t fixed_bytes, size_t member_bytes, bool& fits) {
  fits = true;
  const size_t largest = wanted.survivors + wanted.generation + 1;
  const double room = budget_bytes - static_cast<double>(fixed_bytes);
  const double per_part = room / (2.0 * static_cast<double>(std::max<size_t>(1, member_bytes)));
  if (!(per_part < static_cast<double>(largest))) return wanted;  // an infinite budget included
  const size_t members = per_part > 0 ? static_cast<size_t>(std::floor(per_part)) : 0;
  // Each part holds survivors + generation + 1 members at its largest.
  if (members < 2) {
    fits = false;
    return SubPopulationSizes{1, 0, wanted.elite, wanted.closest};
  }
  SubPopulationSizes sizes = wanted;
  const size_t spare = members - 1;  // survivors + generation
  sizes.generation = std::max<size_t>(1, spare * wanted.generation / (wanted.survivors + wanted.generation));
  sizes.survivors = std::max<size_t>(1, spare - sizes.generation);
  if (sizes.survivors + sizes.generation > spare) sizes.generation = spare - sizes.survivors;
  sizes.elite = std::min(sizes.elite, sizes.survivors);
  return sizes;
}

namespace {

// A solution of the engine: each route reserves room for every target.
size_t SolutionBytes(size_t n, size_t m) {
  return sizeof(Solution) + m * (sizeof(EngineRoute) + (n + 2) * (sizeof(size_t) + 2 * sizeof(Segment))) +
         2 * n * sizeof(size_t);
}

// A solution as the engine reports and exchanges it (a Result: a hash-map
// entry and a node list per route, and a cost per route).
size_t ResultBytes(size_t n, size_t m) {
  constexpr size_t kHashEntry = 64;  // a hash-map node with its bucket, rounded up
  return sizeof(Result) + m * (2 * kHashEntry + sizeof(std::vector<uint64_t>)) + (n + 2 * m) * sizeof(uint64_t);
}

// The local search's work lists (its orders, the two routes saved before a
// move and the one saved before a kick, the pairs naming each node, when
// each node was last tested and when an arc at it last changed) and the
// tour pass's don't-look bits, its queue of woken targets (up to four wakes
// per target) and the neighbours each target had before a move.
size_t LocalSearchBytes(size_t n, size_t m) {
  const size_t orders_and_saves =
      5 * n * sizeof(size_t) + n * sizeof(std::vector<size_t>) + 2 * n * sizeof(int64_t);
  const size_t tour_pass = n + 4 * n * sizeof(size_t) + 2 * n * sizeof(size_t) + m;
  return orders_and_saves + tour_pass;
}

// SWAP*'s cache: the three cheapest places of every target in every route
// with the route version they were found at, the versions of the pairs of
// routes examined, and per position of two routes the removal costs, the
// travel and load without the target there, and the places of one route's
// targets in the other.
size_t SwapStarBytes(size_t n, size_t m) {
  constexpr size_t kPlaces = 3;
  return m * n * (kPlaces * (sizeof(double) + sizeof(size_t)) + sizeof(uint64_t)) +
         m * m * 2 * sizeof(uint64_t) + m * sizeof(uint64_t) + 2 * (n + 2) * sizeof(double) +
         (n + 2) * (4 * sizeof(double) + sizeof(void*));
}

// The edge-assembly crossover's tables, all over its vertices (the targets
// and a depot copy per agent): both parents' successors and predecessors,
// the AB-cycles, the walk that finds them with its two slots per vertex,
// the child's successors, predecessors and adjacency, its subtours, the
// joining edges and the best child's copy: about 32 words per vertex.
size_t EdgeAssemblyBytes(size_t n, size_t m) {
  constexpr size_t kWordsPerVertex = 32;
  return kWordsPerVertex * (n + m) * sizeof(size_t);
}

// Pricing whole solutions by their schedule under pairs across routes:
// three copies of the routes with a schedule each (the pricing's, the
// mending's and the pair repair's: arrival, start and load per stop, a walk
// per route) and the schedule's own position tables while it is built.
size_t ScheduleBytes(size_t n, size_t m) {
  const size_t stops = n + 2 * m;
  const size_t copy = stops * sizeof(size_t) + m * sizeof(std::vector<size_t>) + 3 * stops * sizeof(double) +
                      m * (3 * sizeof(std::vector<double>) + sizeof(RouteWalk));
  const size_t positions = (m + 1 + stops + n) * sizeof(size_t);
  return 3 * copy + positions;
}

}  // namespace

size_t EngineFixedBytes(size_t nodes, size_t agents, size_t types) {
  const size_t n = nodes;
  const size_t m = agents;
  // The work solution, the mended one, the elite and the one priced by its schedule.
  const size_t solutions = 4 * SolutionBytes(n, m);
  // The nearest neighbours, and the tour pass's candidates where routes are long tours.
  const size_t neighbours =
      types * n * kEngineNeighbours * sizeof(size_t) + TourCandidates::Bytes(n, types, kEngineNeighbours);
  // Every segment of up to RouteSegments::kWindow nodes, and every tail for
  // each type, over all routes (whose nodes are the targets and two ends
  // each); the window twice, forwards and backwards (long routes whose
  // costs depend on the direction). Routes grow and shrink during a run,
  // and a route's stores keep room for up to twice its nodes and at least
  // RouteSegments::kKeptNodes (RouteSegments::Refresh).
  const size_t route_nodes = n + 2 * m;
  const size_t room = 2 * route_nodes + m * RouteSegments::kKeptNodes;
  const size_t segments = room * (2 * RouteSegments::kWindow + types) * (sizeof(Segment) + 1) +
                          route_nodes * sizeof(size_t);
  const size_t construction = n * m * 3 * sizeof(double);
  const size_t split = (m + 1) * (n + 1) * (sizeof(ObjectiveValue) + sizeof(size_t));
  const size_t buffers = 12 * (n + 2) * sizeof(size_t);
  // The arc tables of the arc pricing, SWAP*, the construction and the
  // split: a matrix pointer per agent each.
  const size_t arc_tables = 4 * m * sizeof(const double*);
  // The best solution reported, and with islands the one offered at a
  // meeting, the one received and those waiting in the mailbox.
  const size_t exchanged = 5 * ResultBytes(n, m);
  return solutions + neighbours + segments + construction + split + buffers + arc_tables + LocalSearchBytes(n, m) +
         SwapStarBytes(n, m) + EdgeAssemblyBytes(n, m) + ScheduleBytes(n, m) + exchanged;
}

size_t EngineLeastBytes(size_t nodes, size_t agents, size_t types) {
  // A member as Population::MemberBytes counts it: its solution, keys and
  // row of distances to the members of its part at their largest, with
  // every node a target at most.
  const size_t member = Solution::CopyBytes(nodes, agents, nodes) + nodes * sizeof(uint32_t) +
                        kLargestPart * sizeof(double) + sizeof(std::vector<double>) + 64;
  return EngineFixedBytes(nodes, agents, types) + 4 * member;
}

}  // namespace tarsel
