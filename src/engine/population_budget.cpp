#include "engine/population_budget.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "engine/engine_settings.h"
#include "engine/objective_value.h"
#include "engine/route_segments.h"
#include "routes/segment.h"
#include "engine/solution.h"

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

size_t EngineFixedBytes(size_t nodes, size_t agents, size_t types) {
  const size_t n = nodes;
  const size_t m = agents;
  const size_t solution = sizeof(Solution) +
                          m * (sizeof(EngineRoute) + (n + 2) * (sizeof(size_t) + 2 * sizeof(Segment))) +
                          2 * n * sizeof(size_t);
  const size_t neighbours = types * n * kEngineNeighbours * sizeof(size_t);
  // Every segment of up to RouteSegments::kWindow nodes, and every tail for
  // each type, over all routes (whose nodes are the targets and two ends each).
  const size_t route_nodes = n + 2 * m;
  const size_t segments = route_nodes * (RouteSegments::kWindow + types) * (sizeof(Segment) + 1) +
                        route_nodes * sizeof(size_t);
  const size_t construction = n * m * 3 * sizeof(double);
  const size_t split = (m + 1) * (n + 1) * (sizeof(ObjectiveValue) + sizeof(size_t));
  const size_t buffers = 12 * (n + 2) * sizeof(size_t);
  return 3 * solution + neighbours + segments + construction + split + buffers;
}

size_t EngineLeastBytes(size_t nodes, size_t agents, size_t types) {
  // A member: its solution, keys and row of distances (Population::MemberBytes
  // at the smallest sizes), with every node a target at most.
  const size_t member = Solution::CopyBytes(nodes, agents, nodes) + nodes * sizeof(uint32_t) + 64;
  return EngineFixedBytes(nodes, agents, types) + 4 * member;
}

}  // namespace tarsel
