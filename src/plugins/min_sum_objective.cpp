#include "plugins/min_sum_objective.h"

namespace tarsel {

double MinSumObjective::Aggregate(const std::vector<double>& costs) const {
  double sum = 0;
  for (const double cost : costs) sum += cost;
  return sum;
}

double MinSumObjective::Evaluate(const Label& label, size_t, double h) const {
  return Aggregate(label.costs) + h;
}

}  // namespace tarsel
