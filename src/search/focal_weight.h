#pragma once

#include <optional>

namespace tarsel {

// Focal weight of the next phase, from how far the incumbent is above the
// smallest open f: ratio - (ratio - 1) / 5, or exactly 1 once that step is
// below 0.001, and always before the first solution (no incumbent).
struct FocalWeightStep {
  double weight = 1.0;
  double ratio = 0;
  bool reached_one = true;
};

inline FocalWeightStep NextFocalWeight(std::optional<double> incumbent, double smallest_open_f) {
  FocalWeightStep step;
  if (!incumbent) return step;
  step.ratio = *incumbent / smallest_open_f;
  const double d = (step.ratio - 1) / 5;
  if (d < 0.001) return step;
  step.weight = step.ratio - d;
  step.reached_one = false;
  return step;
}

}  // namespace tarsel
