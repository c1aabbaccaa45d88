#include "engine/penalty_manager.h"

#include <algorithm>

#include "engine/route_rules.h"

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

// The starting weight of a unit of load over a capacity: twice what a
// unit of capacity costs on an average round trip (an agent's start to a
// target it may serve and on to its end, over its capacity), averaged over
// the agents with a capacity. Capacitated instances of 100 to 200 targets
// reach about 43 % of children within their capacities at 1.5 to 2.5 times
// that trip cost per unit, so the adaptation starts near its goal; the
// longest arc over the largest demand, tried before, was 3 to 10 times too
// high, and with a few hundred children per run the adaptation never came
// down from it (every child feasible, no search through overloads).
double StartingOverloadWeight(const RouteRules& rules) {
  double sum = 0;
  size_t agents = 0;
  for (size_t k = 0; k < rules.NumAgents(); ++k) {
    const RouteAgent& agent = rules.Agent(k);
    if (!(agent.capacity > 0)) continue;
    double trips = 0;
    size_t served = 0;
    for (const size_t node : rules.Targets()) {
      if (!rules.CanServe(k, node)) continue;
      bool out_blocked = false, back_blocked = false;
      const double trip =
          rules.Travel(k, agent.start, node, out_blocked) + rules.Travel(k, node, agent.goal, back_blocked);
      if (out_blocked || back_blocked) continue;
      trips += trip;
      ++served;
    }
    if (served == 0) continue;
    sum += trips / static_cast<double>(served) / agent.capacity;
    ++agents;
  }
  return agents > 0 && sum > 0 ? 2.0 * sum / static_cast<double>(agents) : 1.0;
}

}  // namespace tarsel
