#pragma once

#include <cstddef>
#include <vector>

#include "engine/random.h"

namespace tarsel {

// Adaptive choice among a few ways of doing one step (probability
// matching): each option keeps a quality, the running mean of its rewards
// (q += rate * (reward - q), starting at 1), and is picked with probability
// floor + (1 - options * floor) * q / sum of q, so that no option ever
// drops below `floor` and a better one is picked in proportion to how often
// it pays off. With every quality at 0 the options are picked uniformly.
class AdaptiveChoice {
 public:
  AdaptiveChoice(size_t options, double floor, double rate);

  size_t Options() const { return quality_.size(); }
  double Quality(size_t option) const { return quality_[option]; }
  double Probability(size_t option) const;
  size_t Pick(Random& random) const;
  // Records a reward in [0, 1] for an option just used.
  void Reward(size_t option, double reward);

 private:
  std::vector<double> quality_;
  double floor_;
  double rate_;
};

}  // namespace tarsel
