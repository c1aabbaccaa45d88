#include "engine/penalty_manager.h"

#include <algorithm>

namespace tarsel {

PenaltyManager::PenaltyManager(bool active, const Settings& settings) : settings_(settings) {
  weights_.active = active;
}

PenaltyWeights PenaltyManager::RepairWeights() const {
  PenaltyWeights repair = weights_;
  repair.warp = std::min(kMaxWeight, weights_.warp * settings_.repair_factor);
  repair.excess = std::min(kMaxWeight, weights_.excess * settings_.repair_factor);
  repair.overload = std::min(kMaxWeight, weights_.overload * settings_.repair_factor);
  return repair;
}

void PenaltyManager::SetOverloadWeight(double weight) {
  weights_.overload = std::clamp(weight, kMinWeight, kMaxWeight);
}

double PenaltyManager::Adapt(double weight, double share, const Settings& settings) {
  if (share < settings.target_share - settings.tolerance) weight *= settings.increase;
  if (share > settings.target_share + settings.tolerance) weight *= settings.decrease;
  return std::clamp(weight, kMinWeight, kMaxWeight);
}

bool PenaltyManager::Record(bool without_warp, bool within_limits, bool within_capacity) {
  if (!weights_.active) return false;
  ++children_;
  if (without_warp) ++without_warp_;
  if (within_limits) ++within_limits_;
  if (within_capacity) ++within_capacity_;
  if (children_ < settings_.period) return false;
  const double count = static_cast<double>(children_);
  const PenaltyWeights before = weights_;
  weights_.warp = Adapt(weights_.warp, static_cast<double>(without_warp_) / count, settings_);
  weights_.excess = Adapt(weights_.excess, static_cast<double>(within_limits_) / count, settings_);
  weights_.overload = Adapt(weights_.overload, static_cast<double>(within_capacity_) / count, settings_);
  children_ = without_warp_ = within_limits_ = within_capacity_ = 0;
  return weights_.warp != before.warp || weights_.excess != before.excess ||
         weights_.overload != before.overload;
}

}  // namespace tarsel
