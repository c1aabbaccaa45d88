#pragma once

#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

#include "model/options.h"
#include "common/result.h"

namespace tarsel {

// Running maximum and sum of route costs. The maximum starts at 0.0, so it
// never drops below zero (no routes, or only negative costs, give 0.0).
struct CostTotals {
  double max_cost = 0.0;
  double sum_cost = 0.0;

  void Add(double cost) {
    if (cost > max_cost) max_cost = cost;
    sum_cost += cost;
  }
  double ValueFor(ObjectiveType objective) const {
    return objective == ObjectiveType::MinSum ? sum_cost : max_cost;
  }
};

// Totals over every route cost of `times`, added in ascending agent order so
// that equal maps always give bit-identical sums.
CostTotals TotalsOf(const std::unordered_map<uint64_t, double>& times);

// One improving solution of the anytime log.
struct AnytimePoint {
  double time = 0.0;
  double max_cost = 0.0;
  double sum_cost = 0.0;
  double wall_time = 0.0;  // wall-clock seconds since the solve started
};

// The entries of `log` (time, snapshot) that improve on every earlier kept
// entry by more than 1e-9 in `objective`, in log order.
std::vector<AnytimePoint> ImprovingPoints(const std::vector<std::pair<double, Result>>& log,
                                          ObjectiveType objective);

}  // namespace tarsel
