#include "tables/shortcuts.h"

#include <limits>

namespace tarsel {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
// Rounding of two summed costs against one, relative to the sum.
constexpr double kTriangleSlack = 1e-12;

// Row-major costs of `type` over the node table, missing arcs infinite.
std::vector<double> ArcCosts(const InstanceTables& tables, size_t type) {
  const size_t n = tables.NumNodes();
  std::vector<double> costs(n * n, 0.0);
  for (size_t u = 0; u < n; ++u) {
    for (size_t v = 0; v < n; ++v) {
      if (u == v) continue;
      const double cost = tables.Cost(type, u, v);
      costs[u * n + v] = tables.Connected(cost) ? cost : kInfinity;
    }
  }
  return costs;
}

}  // namespace

VisitedSet SkippableNodes(const InstanceTables& tables) {
  const size_t n = tables.NumNodes() < VisitedSet::kBits ? tables.NumNodes() : VisitedSet::kBits;
  const size_t stride = tables.NumNodes();
  const bool open = !tables.ReturnToEnd();
  VisitedSet skippable;
  for (size_t w = 0; w < n; ++w) skippable.Set(w);
  std::vector<double> out_of_w(n);
  for (size_t t = 0; t < tables.NumTypes(); ++t) {
    const std::vector<double> costs = ArcCosts(tables, t);
    for (size_t w = 0; w < n; ++w) {
      if (!skippable.Test(w) || !tables.TypeAllowed(static_cast<int64_t>(t), w)) continue;
      // Legs out of w; a leg into a depot of open routes is the free last
      // leg and never a reason to keep w. q = p and q = w need no exception:
      // the diagonal is 0.
      for (size_t q = 0; q < n; ++q) {
        const bool free_leg = open && (tables.IsStart(q) || tables.IsGoal(q));
        out_of_w[q] = free_leg ? kInfinity : costs[w * stride + q];
      }
      bool broken = false;
      for (size_t p = 0; p < n && !broken; ++p) {
        const double into = costs[p * stride + w];
        if (p == w || into == kInfinity) continue;
        const double* direct = &costs[p * stride];
        // Without an early exit, so that the loop vectorises.
        bool row_broken = false;
        for (size_t q = 0; q < n; ++q) {
          const double via = into + out_of_w[q];
          row_broken |= direct[q] > via + kTriangleSlack * via;
        }
        broken = row_broken;
      }
      if (broken) skippable.Reset(w);
    }
  }
  return skippable;
}

std::vector<double> ShortestCosts(const InstanceTables& tables, size_t type) {
  const size_t n = tables.NumNodes();
  std::vector<double> costs = ArcCosts(tables, type);
  for (size_t k = 0; k < n; ++k) {
    for (size_t u = 0; u < n; ++u) {
      const double to_k = costs[u * n + k];
      if (to_k == kInfinity) continue;
      for (size_t v = 0; v < n; ++v) {
        // A chain shorter by rounding only leaves the arc's cost as it is.
        const double via = to_k + costs[k * n + v];
        if (via < costs[u * n + v] - kTriangleSlack * via) costs[u * n + v] = via;
      }
    }
  }
  return costs;
}

}  // namespace tarsel
