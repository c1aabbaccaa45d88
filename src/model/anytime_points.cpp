#include "model/anytime_points.h"

#include <algorithm>

namespace tarsel {

CostTotals TotalsOf(const std::unordered_map<uint64_t, double>& times) {
  std::vector<std::pair<uint64_t, double>> ordered(times.begin(), times.end());
  std::sort(ordered.begin(), ordered.end());
  CostTotals totals;
  for (const auto& entry : ordered) totals.Add(entry.second);
  return totals;
}

std::vector<AnytimePoint> ImprovingPoints(const std::vector<std::pair<double, Result>>& log,
                                          ObjectiveType objective) {
  constexpr double kImprovement = 1e-9;
  double best = 1e18;
  std::vector<AnytimePoint> points;
  for (const auto& [time, snapshot] : log) {
    const CostTotals totals = TotalsOf(snapshot.times);
    const double value = totals.ValueFor(objective);
    if (value < best - kImprovement) {
      points.push_back(AnytimePoint{time, totals.max_cost, totals.sum_cost, snapshot.wall_seconds});
      best = value;
    }
  }
  return points;
}

}  // namespace tarsel
