#include "engine/island_engine.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <algorithm>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "common/interrupt_check.h"
#include "engine/improvement_engine.h"
#include "engine/objective_value.h"
#include "engine/population_budget.h"
#include "model/anytime_points.h"

namespace tarsel {

namespace {

constexpr size_t kNoIsland = static_cast<size_t>(-1);

// Seeds of the islands: island 0 keeps the caller's, the others are spread
// by the golden-ratio increment so that neighbouring seeds give unrelated
// streams.
uint64_t IslandSeed(uint64_t seed, size_t island) {
  return seed + static_cast<uint64_t>(island) * 0x9E3779B97F4A7C15ULL;
}

ObjectiveValue ValueOf(const Result& result) {
  // Route costs summed in agent order: equal solutions, equal values.
  const CostTotals totals = TotalsOf(result.times);
  return ObjectiveValue{totals.max_cost, totals.sum_cost};
}

// The islands' meeting points. Each island still running arrives with its
// best solution and waits for the others; the last to arrive picks the best
// of them (ties: the lowest island) and lets everyone go. An island that has
// finished leaves for good, and no meeting waits for it any more. Which
// islands meet at each point depends only on their iteration counts.
class Meeting {
 public:
  Meeting(size_t islands, bool min_max)
      : min_max_(min_max), participants_(islands), offered_(islands), values_(islands), present_(islands, 0) {}

  // Island `island` offers `best` (may be null); returns the best solution
  // offered at this meeting when another island offered it, copied into
  // `inbox`, else null. While it waits, `idle` (when given) is called every
  // few milliseconds, without the meeting's lock.
  const Result* Meet(size_t island, const Result* best, Result& inbox, const std::function<void()>& idle) {
    std::unique_lock<std::mutex> lock(mutex_);
    present_[island] = 1;
    if (best != nullptr) {
      offered_[island] = *best;
      values_[island] = ValueOf(*best);
    } else {
      offered_[island].reset();
    }
    const uint64_t generation = generation_;
    if (++arrived_ == participants_) {
      Close();
    } else if (!idle) {
      changed_.wait(lock, [&] { return generation_ != generation; });
    } else {
      while (generation_ == generation) {
        if (changed_.wait_for(lock, std::chrono::milliseconds(10)) == std::cv_status::no_timeout) continue;
        lock.unlock();
        idle();
        lock.lock();
      }
    }
    if (winner_ == kNoIsland || winner_ == island) return nullptr;
    inbox = winner_result_;
    return &inbox;
  }

  // Island `island` has finished: the meetings go on without it.
  void Leave() {
    std::lock_guard<std::mutex> lock(mutex_);
    --participants_;
    if (arrived_ > 0 && arrived_ == participants_) Close();
  }

 private:
  // With the lock held: picks the winner of the meeting and opens the next.
  void Close() {
    winner_ = kNoIsland;
    for (size_t k = 0; k < present_.size(); ++k) {
      if (present_[k] == 0 || !offered_[k]) continue;
      if (winner_ == kNoIsland || Improves(values_[k], values_[winner_], min_max_)) winner_ = k;
    }
    // Copied: the next meeting overwrites the offers, but not this copy
    // before every island of this one has taken it (each must arrive there).
    if (winner_ != kNoIsland) winner_result_ = *offered_[winner_];
    std::fill(present_.begin(), present_.end(), 0);
    arrived_ = 0;
    ++generation_;
    changed_.notify_all();
  }

  const bool min_max_;
  std::mutex mutex_;
  std::condition_variable changed_;
  size_t participants_;
  size_t arrived_ = 0;
  uint64_t generation_ = 0;
  std::vector<std::optional<Result>> offered_;
  std::vector<ObjectiveValue> values_;
  std::vector<char> present_;
  size_t winner_ = kNoIsland;
  Result winner_result_;
};

// Improvements of all islands on their way to the calling thread, kept only
// when better than every one before them (in the order they came), so that
// what the caller receives improves each time, as from one engine.
class Mailbox {
 public:
  explicit Mailbox(bool min_max) : min_max_(min_max) {}

  void Post(double time, const Result& solution) {
    const ObjectiveValue value = ValueOf(solution);
    std::lock_guard<std::mutex> lock(mutex_);
    if (best_ && !Improves(value, *best_, min_max_)) return;
    best_ = value;
    pending_.emplace_back(time, solution);
  }

  // On the calling thread: hands what has come in to `deliver`.
  void Deliver(const std::function<void(double, const Result&)>& deliver) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (pending_.empty()) return;
      delivering_.swap(pending_);
    }
    for (const auto& [time, solution] : delivering_) {
      if (deliver) deliver(time, solution);
    }
    delivering_.clear();
  }

 private:
  const bool min_max_;
  std::mutex mutex_;
  std::optional<ObjectiveValue> best_;
  std::vector<std::pair<double, Result>> pending_;
  std::vector<std::pair<double, Result>> delivering_;  // the calling thread's only
};

}  // namespace

size_t IslandsWithinBudget(const InstanceTables& tables, double budget_bytes, size_t islands) {
  const double least =
      static_cast<double>(EngineLeastBytes(tables.NumNodes(), tables.NumAgents(), tables.NumTypes()));
  if (islands <= 1 || !(budget_bytes < least * static_cast<double>(islands))) return std::max<size_t>(1, islands);
  return std::max<size_t>(1, static_cast<size_t>(std::floor(budget_bytes / least)));
}

EngineOutcome RunIslands(const InstanceTables& tables, const Result* start, const EngineSettings& settings,
                         size_t islands) {
  islands = IslandsWithinBudget(tables, settings.memory_budget_bytes, islands);
  if (islands <= 1) return RunImprovementEngine(tables, start, settings);

  Meeting meeting(islands, settings.min_max);
  Mailbox mailbox(settings.min_max);
  std::atomic<bool> stop_all{false};
  const auto now = [&settings] { return settings.clock ? settings.clock() : 0.0; };
  // On the calling thread: hands over the islands' improvements and asks
  // the caller's interrupt check; a yes stops every island.
  const auto serve = [&] {
    mailbox.Deliver(settings.on_improvement);
    if (settings.interrupt != nullptr && settings.interrupt->Poll(now())) stop_all = true;
    return stop_all.load();
  };

  std::vector<InterruptCheck> checks(islands);
  std::vector<EngineSettings> own(islands, settings);
  std::vector<Result> inboxes(islands);
  for (size_t i = 0; i < islands; ++i) {
    EngineSettings& island = own[i];
    island.seed = IslandSeed(settings.seed, i);
    island.memory_budget_bytes = settings.memory_budget_bytes / static_cast<double>(islands);
    island.interrupt = &checks[i];
    island.exchange_every = kIslandExchangeEvery;
    if (i == 0) {
      // The calling thread keeps serving while it waits for the others.
      island.exchange = [&meeting, &inboxes, &serve](const Result* best) {
        return meeting.Meet(0, best, inboxes[0], [&serve] { serve(); });
      };
      checks[i].SetCallback(serve);
      island.on_improvement = [&](double time, const Result& solution) {
        mailbox.Post(time, solution);
        mailbox.Deliver(settings.on_improvement);
      };
    } else {
      island.exchange = [&meeting, &inboxes, i](const Result* best) {
        return meeting.Meet(i, best, inboxes[i], {});
      };
      checks[i].SetCallback([&stop_all] { return stop_all.load(); });
      island.on_improvement = [&mailbox](double time, const Result& solution) { mailbox.Post(time, solution); };
    }
  }

  std::vector<EngineOutcome> outcomes(islands);
  std::vector<std::exception_ptr> failures(islands);
  std::mutex done_mutex;
  std::condition_variable done_changed;
  size_t running = islands;
  const auto run_island = [&](size_t i) {
    try {
      outcomes[i] = RunImprovementEngine(tables, start, own[i]);
    } catch (...) {
      failures[i] = std::current_exception();
      stop_all = true;
    }
    meeting.Leave();
    std::lock_guard<std::mutex> lock(done_mutex);
    --running;
    done_changed.notify_all();
  };

  std::vector<std::thread> threads;
  threads.reserve(islands - 1);
  for (size_t i = 1; i < islands; ++i) threads.emplace_back(run_island, i);
  run_island(0);
  // Island 0 has finished; the others' improvements and the interrupt
  // check are still served here until they have too.
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(done_mutex);
      if (running == 0) break;
      done_changed.wait_for(lock, std::chrono::milliseconds(10));
    }
    serve();
  }
  for (std::thread& thread : threads) thread.join();
  mailbox.Deliver(settings.on_improvement);
  for (const std::exception_ptr& failure : failures) {
    if (failure) std::rethrow_exception(failure);
  }

  EngineOutcome merged;
  size_t best = kNoIsland;
  for (size_t i = 0; i < islands; ++i) {
    const EngineOutcome& outcome = outcomes[i];
    merged.stopped_early = merged.stopped_early || outcome.stopped_early;
    merged.memory_limited = merged.memory_limited || outcome.memory_limited;
    merged.iterations += outcome.iterations;
    merged.restarts += outcome.restarts;
    if (!outcome.improved) continue;
    if (best == kNoIsland ||
        Improves(ValueOf(outcome.result), ValueOf(outcomes[best].result), settings.min_max)) {
      best = i;
    }
  }
  if (best != kNoIsland) {
    merged.improved = true;
    merged.last_improvement = outcomes[best].last_improvement;
    merged.result = std::move(outcomes[best].result);
  }
  return merged;
}

}  // namespace tarsel
