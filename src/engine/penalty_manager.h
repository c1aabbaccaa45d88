#pragma once

#include <cstddef>

#include "routes/penalty_weights.h"

namespace tarsel {

class RouteRules;

// Adapts the penalty weights towards a target share of children that keep
// each rule after local search: every `period` children, a weight whose
// rule was kept by fewer children than the target (less a tolerance) grows,
// one kept by more shrinks; each rule (windows, length limits, capacities)
// on its own.
// Weights stay within [kMinWeight, kMaxWeight].
class PenaltyManager {
 public:
  struct Settings {
    double target_share = 0.43;  // of children that keep a rule
    double tolerance = 0.05;     // no change within target +- tolerance
    double increase = 1.2;
    double decrease = 0.85;
    size_t period = 100;         // children between two adaptations
    double repair_factor = 10.0; // weights of a repair, relative to the current ones
  };

  static constexpr double kMinWeight = 0.1;
  static constexpr double kMaxWeight = 100000.0;

  explicit PenaltyManager(bool active) : PenaltyManager(active, Settings{}) {}
  PenaltyManager(bool active, const Settings& settings);

  // The weights local search uses now.
  const PenaltyWeights& Weights() const { return weights_; }
  // Sets the weight of a unit of load over a capacity (clamped to the
  // weights' range): demands and costs come in units of their own, so the
  // engine starts it at a cost per unit of demand.
  void SetOverloadWeight(double weight);
  // The much higher weights of a repair attempt.
  PenaltyWeights RepairWeights() const;
  // Records whether a child kept the windows, the length limits and the
  // capacities; returns true when the weights changed (members' penalised
  // costs must be redone).
  bool Record(bool without_warp, bool within_limits, bool within_capacity = true);

 private:
  static double Adapt(double weight, double share, const Settings& settings);

  Settings settings_;
  PenaltyWeights weights_;
  size_t children_ = 0;
  size_t without_warp_ = 0;
  size_t within_limits_ = 0;
  size_t within_capacity_ = 0;
};

// The weight a unit of load over a capacity starts at (demands and costs
// come in units of their own): twice the cost of an average round trip from
// an agent's start to a target it may serve and on to its end, per unit of
// its capacity, averaged over the agents with a capacity (1 without any).
double StartingOverloadWeight(const RouteRules& rules);

}  // namespace tarsel
