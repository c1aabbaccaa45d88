#pragma once

#include <chrono>
#include <functional>
#include <utility>

namespace tarsel {

// The part of a solve that produced a progress record: the focal search
// (with its post-optimisers) or the improvement engine.
enum class ProgressPhase { kSearch, kEngine };

// One progress report of a running solve. Costs are those of the best
// solution so far; they are meaningful only when `has_solution`.
struct ProgressRecord {
  double cpu_time = 0.0;   // processor seconds since the solve started
  double wall_time = 0.0;  // wall-clock seconds since the solve started
  bool has_solution = false;
  double objective = 0.0;  // the longest route (min-max) or the total (min-sum)
  double max_cost = 0.0;
  double sum_cost = 0.0;
  ProgressPhase phase = ProgressPhase::kSearch;
  bool improving = false;  // a new best solution; false: a periodic report
};

using ProgressSink = std::function<void(const ProgressRecord&)>;

// Turns a solve's logged solutions and its periodic polls into progress
// records for a sink. A logged solution is reported when it improves on the
// last reported one by more than 1e-9 in the objective, the rule by which
// the result's "anytime" list is filtered, so the improving reports are
// exactly its entries. Between them, a periodic report goes out when at
// least kPeriodSeconds of processor time have passed since the last report
// of either kind. Without a sink nothing is computed.
class ProgressReporter {
 public:
  static constexpr double kPeriodSeconds = 1.0;
  static constexpr double kImprovement = 1e-9;

  void SetSink(ProgressSink sink) { sink_ = std::move(sink); }
  bool Active() const { return static_cast<bool>(sink_); }

  // Starts a solve: forgets earlier solutions, starts the wall clock.
  // `min_max`: the objective is the longest route, else the total.
  void Start(bool min_max) {
    min_max_ = min_max;
    record_ = ProgressRecord();
    last_report_ = 0.0;
    wall_start_ = std::chrono::steady_clock::now();
  }
  void SetPhase(ProgressPhase phase) { record_.phase = phase; }

  // A solution logged at `cpu_time` with these route-cost totals.
  void Solution(double cpu_time, double max_cost, double sum_cost) {
    if (!sink_) return;
    const double value = min_max_ ? max_cost : sum_cost;
    if (record_.has_solution && !(value < record_.objective - kImprovement)) return;
    record_.has_solution = true;
    record_.objective = value;
    record_.max_cost = max_cost;
    record_.sum_cost = sum_cost;
    Report(cpu_time, true);
  }

  // A poll of the running solve at `cpu_time`.
  void Tick(double cpu_time) {
    if (!sink_ || cpu_time - last_report_ < kPeriodSeconds) return;
    Report(cpu_time, false);
  }

 private:
  void Report(double cpu_time, bool improving) {
    record_.cpu_time = cpu_time;
    record_.wall_time =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start_).count();
    record_.improving = improving;
    last_report_ = cpu_time;
    sink_(record_);
  }

  ProgressSink sink_;
  bool min_max_ = true;
  ProgressRecord record_;
  double last_report_ = 0.0;
  std::chrono::steady_clock::time_point wall_start_ = std::chrono::steady_clock::now();
};

}  // namespace tarsel
