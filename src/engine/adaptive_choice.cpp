#include "engine/adaptive_choice.h"

#include <numeric>

namespace tarsel {

AdaptiveChoice::AdaptiveChoice(size_t options, double floor, double rate)
    : quality_(options, 1.0), floor_(floor), rate_(rate) {}

double AdaptiveChoice::Probability(size_t option) const {
  const double options = static_cast<double>(quality_.size());
  const double sum = std::accumulate(quality_.begin(), quality_.end(), 0.0);
  if (sum <= 0) return 1.0 / options;
  return floor_ + (1.0 - options * floor_) * quality_[option] / sum;
}

size_t AdaptiveChoice::Pick(Random& random) const {
  double draw = random.Unit();
  for (size_t option = 0; option + 1 < quality_.size(); ++option) {
    draw -= Probability(option);
    if (draw < 0) return option;
  }
  return quality_.size() - 1;
}

void AdaptiveChoice::Reward(size_t option, double reward) {
  quality_[option] += rate_ * (reward - quality_[option]);
}

}  // namespace tarsel
