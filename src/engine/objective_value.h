#pragma once

#include <algorithm>
#include <cmath>

namespace tarsel {

// Value of a solution: min-max compares (longest route, total)
// lexicographically, min-sum the total alone.
struct ObjectiveValue {
  double longest = 0;
  double total = 0;
};

// Smallest change that counts as an improvement: far above the rounding of
// route costs, far below any cost difference that matters.
// std::max rather than std::fmax: the same value for every input (NaN
// included), without a call into the maths library on the hot path.
inline double ImprovementMargin(double value) { return 1e-9 * std::max(1.0, std::fabs(value)); }

// The objective order, the one place it is written: whether `candidate`
// ranks before `other` (a strict order, no margin). Min-max: the longest
// route first, then the total; min-sum: the total.
inline bool RanksBefore(const ObjectiveValue& candidate, const ObjectiveValue& other, bool min_max) {
  if (!min_max) return candidate.total < other.total;
  if (candidate.longest != other.longest) return candidate.longest < other.longest;
  return candidate.total < other.total;
}

// True when `candidate` is better than `current` by more than the margin:
// the objective order with each part compared up to ImprovementMargin.
inline bool Improves(const ObjectiveValue& candidate, const ObjectiveValue& current, bool min_max) {
  if (!min_max) return candidate.total < current.total - ImprovementMargin(current.total);
  const double margin = ImprovementMargin(current.longest);
  if (candidate.longest < current.longest - margin) return true;
  if (candidate.longest > current.longest + margin) return false;
  return candidate.total < current.total - ImprovementMargin(current.total);
}

}  // namespace tarsel
