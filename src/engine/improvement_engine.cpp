#include "engine/improvement_engine.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>
#include <vector>

#include "common/special_values.h"
#include "engine/adaptive_choice.h"
#include "engine/decomposition.h"
#include "engine/edge_assembly.h"
#include "engine/giant_tour_split.h"
#include "engine/granular_neighbours.h"
#include "engine/local_search.h"
#include "engine/order_crossover.h"
#include "engine/penalty_manager.h"
#include "engine/population.h"
#include "engine/population_budget.h"
#include "engine/related_ruin.h"
#include "engine/route_rules.h"
#include "engine/same_pairs.h"
#include "engine/schedule_pricing.h"
#include "engine/solution.h"
#include "engine/target_insertion.h"
#include "engine/tour_candidates.h"
#include "postopt/route_evaluator.h"
#include "routes/pair_repair.h"
#include "routes/pair_schedule.h"

namespace tarsel {

namespace {

// Each part of the population at the standard sizes (`SubPopulationSizes`'
// defaults), which the memory estimate also counts on.
constexpr SubPopulationSizes kPopulationSizes{};
// On large instances one local search takes seconds: a smaller population
// leaves time for breeding.
constexpr SubPopulationSizes kLargePopulationSizes{4, 4, 1, 2};
// Under min-max, the first population is only this many constructions
// (besides the starting solution): each costs a local search from a poor
// start, children fill the population to its size within the first
// generation anyway, and on short budgets the constructions took half the
// run before the first child. Restarts build the full size.
constexpr size_t kFirstMinMaxPopulation = 4;
// Probability that an infeasible child is repaired with raised penalties.
constexpr double kRepairShare = 0.5;
constexpr double kConstructionNoise = 0.3;
constexpr double kRepairNoise = 0.2;
// Share of iterations that ruin and recreate a parent instead of crossing two.
constexpr double kMutationShare = 0.3;
// On large instances ruin and recreate of one area is cheaper than a child
// of two parents, whose split and local search rework every route.
constexpr double kLargeMutationShare = 0.7;
// Routes of at least this many targets on average are tours where the
// edge-assembly crossover may pay off; below it only the order crossover
// runs, as the engine did before, so that short-route instances keep the
// results the engine reaches without it.
constexpr size_t kEdgeAssemblyRouteTargets = 50;
// The crossovers, chosen adaptively where both run: each keeps at least
// this probability, and its quality follows the share of its children that
// beat both parents or the best solution.
enum Crossover : size_t { kOrderCrossover = 0, kEdgeAssembly = 1 };
constexpr double kCrossoverFloor = 0.1;
constexpr double kCrossoverRate = 0.05;
// Instances of this many targets or more (and three agents or more) are
// also improved piecewise: every few iterations, neighbouring routes of
// the best solution, about kSubproblemTargets targets in all, are solved
// as an instance of their own by this engine for a bounded number of
// iterations and a share of the run's time, and put back when the whole
// solution gets better.
constexpr size_t kDecomposeTargets = 500;
constexpr int64_t kDecomposeEvery = 10;
constexpr size_t kSubproblemTargets = 200;
constexpr int64_t kSubproblemIterations = 60;
constexpr double kSubproblemTimeShare = 0.08;
// The local search's asks whether to stop per reading of the clock.
constexpr size_t kStopAskEvery = 8;
// Where routes are long tours (at least this many targets per agent on
// average), every few iterations the best solution's routes get an
// iterated local search (`LocalSearch::KickTours`, kKicksPerTarget kicks
// per target of the instance), then the whole local search, and the result
// is kept when better: a child of two parents reworks every route, while
// kicks refine the tours of the best solution one local change at a time.
constexpr size_t kKickRouteTargets = 40;
constexpr int64_t kKickEvery = 10;
constexpr size_t kKicksPerTarget = 2;
// Where routes are long tours under min-max (at least kCandidateRouteTargets
// targets per agent on average, no precedence pairs), the tour pass's
// Or-3opt and chains of 2-opt steps draw their targets from each target's
// kTourCandidates alpha-nearest targets (`TourCandidates`, after
// kCandidateAscent steps of the subgradient ascent) instead of its 10
// nearest: a chain tries few targets per step, and the arcs of good tours
// rank higher by alpha than by distance. On routes of about 50 targets the
// nearest lists did as well or better in our runs (benchmarks/README.md),
// hence the gate.
constexpr size_t kCandidateRouteTargets = 60;
constexpr size_t kTourCandidates = 8;
constexpr size_t kCandidateAscent = 200;
// The ascent's steps, each a 1-tree of O(targets^2), are fewer on larger
// instances so that they stay within about this many arc reads (200 steps
// up to about 1,200 targets, 12 at 5,000), and the lists are not built
// above kCandidateMaxTargets, where even a few 1-trees would take seconds;
// the solve's deadline ends the work in any case.
constexpr double kCandidateAscentWork = 3e8;
constexpr size_t kCandidateMaxTargets = 6000;

size_t CandidateAscentSteps(size_t targets) {
  const double square = static_cast<double>(targets) * static_cast<double>(targets);
  const double steps = std::floor(kCandidateAscentWork / std::max(1.0, square));
  return std::max<size_t>(1, std::min<size_t>(kCandidateAscent, static_cast<size_t>(steps)));
}

ObjectiveValue ValueOfTimes(const Result& result, size_t agents) {
  ObjectiveValue value;
  for (size_t k = 0; k < agents; ++k) {
    const auto found = result.times.find(k);
    const double cost = found != result.times.end() ? found->second : 0.0;
    value.longest = std::max(value.longest, cost);
    value.total += cost;
  }
  return value;
}

// Loads the routes of `result` into `solution`, priced under `weights`;
// false when they are not routes the engine represents (start, targets,
// end) or not feasible.
bool LoadResult(const Result& result, const RouteRules& rules, const PenaltyWeights& weights,
                Solution& solution) {
  solution.Clear(weights);
  std::vector<size_t> targets;
  std::vector<char> seen(rules.NumNodes(), 0);
  for (size_t k = 0; k < rules.NumAgents(); ++k) {
    const auto found = result.paths.find(k);
    targets.clear();
    if (found != result.paths.end() && found->second.size() >= 2) {
      const std::vector<uint64_t>& path = found->second;
      if (path.front() != rules.Agent(k).start) return false;
      for (size_t i = 1; i + 1 < path.size(); ++i) {
        const size_t node = static_cast<size_t>(path[i]);
        if (!rules.IsTarget(node) || seen[node] != 0) return false;
        seen[node] = 1;
        targets.push_back(node);
      }
    }
    solution.SetTargets(k, targets.data(), targets.size());
  }
  for (size_t k = 0; k < rules.NumAgents(); ++k) solution.Refresh(k, weights);
  return solution.Complete();
}

class Engine {
 public:
  Engine(const InstanceTables& tables, const EngineSettings& settings)
      : settings_(settings),
        rules_(tables),
        neighbours_(rules_, kEngineNeighbours),
        search_(rules_, neighbours_),
        insertion_(rules_, neighbours_),
        split_(rules_),
        same_pairs_(rules_),
        related_ruin_(rules_, neighbours_),
        edge_assembly_(rules_, neighbours_),
        crossover_choice_(2, kCrossoverFloor, kCrossoverRate),
        random_(settings.seed),
        penalties_(rules_.HasSoftRules()),
        population_(rules_, settings.min_max, BaseSizes()),
        work_(rules_),
        mended_(rules_),
        used_(tables.NumNodes(), 0),
        pricing_(rules_) {
    rules_.SetMinMax(settings.min_max);
    if (rules_.HasLoads()) penalties_.SetOverloadWeight(StartingOverloadWeight(rules_));
    evaluator_.Attach(tables);
    // The local search asks at every target; reading the processor clock
    // costs about as much as trying a target's moves, so it is read at
    // every kStopAskEvery-th ask.
    stop_ = [this] { return stopped_ || (++stop_asks_ % kStopAskEvery == 0 && StopNow()); };
    next_exchange_ = settings.exchange_every;
    const size_t targets = rules_.Targets().size();
    edge_assembly_on_ = edge_assembly_.Applicable() && rules_.NumAgents() > 0 &&
                        targets >= kEdgeAssemblyRouteTargets * rules_.NumAgents();
    decompose_ = targets >= kDecomposeTargets && rules_.NumAgents() >= 3 && !tables.HasPrecedence();
    kick_ = rules_.NumAgents() > 0 && targets >= kKickRouteTargets * rules_.NumAgents() && !tables.HasPrecedence();
    if (settings.min_max && kick_ && targets >= kCandidateRouteTargets * rules_.NumAgents() &&
        targets <= kCandidateMaxTargets) {
      candidates_.emplace(rules_, neighbours_, kTourCandidates, CandidateAscentSteps(targets), stop_);
      search_.SetTourCandidates(&*candidates_);
    }
  }

  EngineOutcome Run(const Result* start) {
    EngineOutcome outcome;
    if (!rules_.AllAgentsUsable()) return outcome;
    if (!FitPopulation()) {
      outcome.stopped_early = outcome.memory_limited = true;
      return outcome;
    }
    const size_t m = rules_.NumAgents();
    const bool has_start = start != nullptr && !start->paths.empty();
    if (has_start) {
      reference_ = ValueOfTimes(*start, m);
    }
    if (has_start && LoadResult(*start, rules_, penalties_.Weights(), work_)) {
      Keep(work_);
      Improve(false);
    }
    Populate(settings_.min_max ? kFirstMinMaxPopulation : population_.Sizes().survivors);
    std::vector<size_t> order(m);
    for (size_t k = 0; k < m; ++k) order[k] = k;
    const size_t restart_after = RestartAfter();
    run_start_ = settings_.clock ? settings_.clock() : 0.0;
    while (population_.Size() > 0 && !StopNow() && !IterationsDone()) {
      ++iterations_;
      if (decompose_ && elite_ && iterations_ % kDecomposeEvery == 0) {
        Decompose();
      } else if (kick_ && elite_ && iterations_ % kKickEvery == kKickEvery / 2) {
        KickBest();
      } else {
        Breed(order);
      }
      if (++since_improvement_ >= restart_after) {
        Restart();
        ++outcome.restarts;
      }
      Exchange();
    }
    outcome.stopped_early = stopped_;
    outcome.iterations = iterations_;
    outcome.last_improvement = last_improvement_;
    if (best_) {
      outcome.improved = true;
      outcome.result = std::move(*best_);
    }
    return outcome;
  }

 private:
  // Sizes the population to the memory budget; false when not even the
  // smallest population fits.
  bool FitPopulation() {
    bool fits = true;
    const SubPopulationSizes sizes =
        FitPopulationSizes(BaseSizes(), settings_.memory_budget_bytes, FixedBytes(),
                           Population::MemberBytes(rules_, BaseSizes()), fits);
    population_.SetSizes(sizes);
    return fits;
  }

  // Bytes of what the engine holds besides the population.
  size_t FixedBytes() const {
    return EngineFixedBytes(rules_.NumNodes(), rules_.NumAgents(), neighbours_.Types().size());
  }

  const SubPopulationSizes& BaseSizes() const {
    return insertion_.Large() ? kLargePopulationSizes : kPopulationSizes;
  }

  // Fills the population up to `wanted` members (at most its survivors)
  // with regret constructions (the first plain, the rest randomised), each
  // improved by local search; each counts as an iteration.
  void Populate(size_t wanted) {
    wanted = std::min(wanted, population_.Sizes().survivors);
    for (size_t attempt = 0; attempt < 2 * wanted && population_.Size() < wanted; ++attempt) {
      if (StopNow() || IterationsDone()) break;
      ++iterations_;
      work_.Clear(penalties_.Weights());
      if (Construct(attempt == 0 ? 0.0 : kConstructionNoise)) Improve(false);
    }
  }

  // One construction into work_. While no solution is known, it first tries
  // under the hard rules (no late arrival, no route over its limit), so that
  // the first solution is feasible as soon as a construction can make it so
  // instead of after a local search; otherwise, and when that fails, under
  // the current penalties. work_ leaves priced under the current penalties.
  bool Construct(double noise) {
    const PenaltyWeights& weights = penalties_.Weights();
    if (!reference_ && weights.active) {
      const bool made = insertion_.Fill(work_, PenaltyWeights{}, random_, noise);
      work_.Recost(weights);
      if (made && work_.Complete()) return true;
      work_.Clear(weights);
    }
    return insertion_.Fill(work_, weights, random_, noise);
  }

  // Children bred without a better solution before the population starts
  // afresh: a few thousand, more on larger instances.
  size_t RestartAfter() const {
    return std::clamp<size_t>(30 * rules_.Targets().size(), 2000, 10000);
  }

  // A new population from fresh constructions and the best solution found.
  void Restart() {
    since_improvement_ = 0;
    population_.Clear();
    if (elite_) population_.Offer(*elite_);
    Populate(population_.Sizes().survivors);
  }

  // At each multiple of the exchange interval the iterations have passed:
  // hands out the best solution and takes in the one the exchange gives.
  void Exchange() {
    if (!settings_.exchange || settings_.exchange_every <= 0 || iterations_ < next_exchange_) return;
    next_exchange_ = (iterations_ / settings_.exchange_every + 1) * settings_.exchange_every;
    const Result* incoming = settings_.exchange(best_ ? &*best_ : nullptr);
    if (incoming != nullptr && LoadResult(*incoming, rules_, penalties_.Weights(), work_)) Keep(work_);
  }

  // Whether "max_iterations" or "max_no_improvement" ends the run: both
  // count iterations, so a run they end is the same on every machine.
  bool IterationsDone() const {
    if (settings_.max_iterations > 0 && iterations_ >= settings_.max_iterations) return true;
    return settings_.max_no_improvement > 0 &&
           iterations_ - last_improvement_ >= settings_.max_no_improvement;
  }

  bool StopNow() {
    if (stopped_) return true;
    const double now = settings_.clock ? settings_.clock() : 0.0;
    if (settings_.clock && now > settings_.deadline) stopped_ = true;
    if (settings_.wall_clock && settings_.wall_clock() > settings_.wall_deadline) stopped_ = true;
    if (settings_.interrupt != nullptr && settings_.interrupt->Poll(now)) stopped_ = true;
    return stopped_;
  }

  void Breed(std::vector<size_t>& order) {
    const Solution& first = population_.Tournament(random_);
    const Solution& second = population_.Tournament(random_);
    bool made = false;
    std::optional<size_t> crossover;
    ObjectiveValue better_parent;
    const double mutation_share = insertion_.Large() ? kLargeMutationShare : kMutationShare;
    if (random_.Unit() >= mutation_share && rules_.Targets().size() >= 2) {
      crossover = edge_assembly_on_ ? crossover_choice_.Pick(random_) : kOrderCrossover;
      better_parent = RanksBefore(first.Value(), second.Value(), settings_.min_max) ? first.Value() : second.Value();
      made = *crossover == kEdgeAssembly ? CrossEdges(first, second, order) : CrossOrder(first, second, order);
      if (made && rules_.Tables().HasPrecedence()) MendPairs(work_);
    }
    if (!made) {
      crossover.reset();
      work_ = first;
      // A member is priced by its schedule; the local search prices routes alone.
      if (pricing_.Active()) RewalkAll(work_);
      if (insertion_.Large()) {
        related_ruin_.Apply(work_, penalties_.Weights(), random_);
      } else {
        Ruin(work_);
      }
      made = insertion_.Fill(work_, penalties_.Weights(), random_, kRepairNoise);
    }
    if (!made) return;
    Improve(true);
    if (crossover && edge_assembly_on_) {
      const bool better = last_improvement_ == iterations_ ||
                          (work_.Complete() && Improves(work_.Value(), better_parent, settings_.min_max));
      crossover_choice_.Reward(*crossover, better ? 1.0 : 0.0);
    }
  }

  // Order crossover of the parents' giant tours, split for the agents in
  // their own order or, half of the time, in a random order.
  bool CrossOrder(const Solution& first, const Solution& second, std::vector<size_t>& order) {
    first.GiantTour(tour_first_);
    second.GiantTour(tour_second_);
    OrderCrossover(tour_first_, tour_second_, random_, used_, child_tour_);
    for (size_t k = 0; k < order.size(); ++k) order[k] = k;
    if (random_.Unit() < 0.5) random_.Shuffle(order);
    work_.Clear(penalties_.Weights());
    return split_.Split(child_tour_, order, penalties_.Weights(), work_);
  }

  // Edge-assembly crossover, its tour split for the agents in the order
  // the child's tour meets them.
  bool CrossEdges(const Solution& first, const Solution& second, std::vector<size_t>& order) {
    if (!edge_assembly_.Cross(first, second, random_, child_tour_, order)) return false;
    work_.Clear(penalties_.Weights());
    return split_.Split(child_tour_, order, penalties_.Weights(), work_);
  }

  // Solves a subproblem of neighbouring routes of the best solution with
  // an engine of its own, and keeps the result when the whole improves.
  void Decompose() {
    const Solution& elite = *elite_;
    const size_t m = rules_.NumAgents();
    whole_routes_.resize(m);
    for (size_t k = 0; k < m; ++k) whole_routes_[k] = elite.Route(k).nodes;
    const size_t per_route = std::max<size_t>(1, rules_.Targets().size() / m);
    const size_t count = std::clamp<size_t>((kSubproblemTargets + per_route / 2) / per_route, 2, m - 1);
    const std::vector<size_t> agents = NeighbouringRoutes(rules_.Tables(), whole_routes_, count, random_);
    if (agents.size() < 2) return;
    ExtractSubproblem(rules_.Tables(), whole_routes_, agents, subproblem_);
    for (size_t i = 0; i < agents.size(); ++i) subproblem_.start.times[i] = elite.Route(agents[i]).cost;
    EngineSettings settings = settings_;
    settings.seed = random_.Next();
    settings.max_iterations = kSubproblemIterations;
    settings.max_no_improvement = kSubproblemIterations / 2;
    if (settings_.clock) {
      const double now = settings_.clock();
      settings.deadline = std::min(settings_.deadline, now + kSubproblemTimeShare * (settings_.deadline - run_start_));
    }
    settings.on_improvement = nullptr;
    const EngineOutcome outcome = RunImprovementEngine(subproblem_.tables, &subproblem_.start, settings);
    if (!outcome.improved || !PutBack(subproblem_, outcome.result, whole_routes_)) return;
    work_ = elite;
    for (const size_t k : agents) {
      const std::vector<size_t>& nodes = whole_routes_[k];
      work_.SetTargets(k, nodes.data() + 1, nodes.size() - 2);
      work_.Refresh(k, penalties_.Weights());
    }
    if (work_.Complete() && Improves(work_.Value(), elite_->Value(), settings_.min_max)) Keep(work_);
  }

  // Iterated local search on the best solution's long routes, then the
  // whole local search; kept when better.
  void KickBest() {
    work_ = *elite_;
    search_.KickTours(work_, penalties_.Weights(), random_, kKicksPerTarget * rules_.Targets().size(), stop_);
    Improve(false);
  }

  // Removes a random share (up to a third) of the targets, each with the
  // other node of its "same" pairs, so that the repair moves pairs whole.
  void Ruin(Solution& solution) {
    const std::vector<size_t>& targets = rules_.Targets();
    if (targets.empty()) return;
    size_t count = 1 + random_.Below(std::max<size_t>(1, targets.size() / 3));
    if (same_pairs_.Any()) count = (count + 1) / 2;  // most steps remove two
    for (size_t step = 0; step < count; ++step) {
      const size_t node = targets[random_.Below(targets.size())];
      const size_t k = solution.RouteOf(node);
      if (k == kNoIndex) continue;
      solution.Erase(k, solution.PositionOf(node));
      solution.Refresh(k, penalties_.Weights());
      same_pairs_.ErasePartners(solution, node, penalties_.Weights());
    }
  }

  // Local search on work_, then offers it to the population and to the
  // best. A child (`bred`) counts towards the penalty adaptation; one that
  // stays infeasible is repaired, with some probability, by local search
  // under much higher penalties and offered again if that makes it feasible.
  void Improve(bool bred) {
    if (!work_.Complete()) return;
    // Without a solution yet, a large instance reports its construction at
    // once: the local search to come takes seconds there.
    if (insertion_.Large() && !reference_) Report(work_);
    search_.Run(work_, penalties_.Weights(), random_, stop_);
    if (bred && penalties_.Record(work_.WithoutWarp(), work_.WithinLimits(), work_.WithinCapacity())) {
      work_.Recost(penalties_.Weights());
      population_.Recost(penalties_.Weights());
    }
    Keep(work_);
    if (work_.Feasible() || !penalties_.Weights().active || random_.Unit() >= kRepairShare) return;
    const PenaltyWeights repair = penalties_.RepairWeights();
    work_.Recost(repair);
    search_.Run(work_, repair, random_, stop_);
    work_.Recost(penalties_.Weights());
    if (work_.Feasible()) Keep(work_);
  }

  // Offers `solution` to the population, the elite and the report; the
  // first two rank it by the schedule of the whole solution when pairs
  // across routes make routes wait.
  void Keep(const Solution& solution) {
    const Solution& ranked = Ranked(solution);
    population_.Offer(ranked);
    if (!solution.Feasible()) return;
    if (ranked.Feasible() && (!elite_ || Improves(ranked.Value(), elite_->Value(), settings_.min_max))) {
      elite_ = ranked;
    }
    Report(solution);
  }

  // With plain or "diff" pairs, `solution` priced by the schedule of the
  // whole solution (`SchedulePricing`; routes waiting in a cycle leave it
  // incomplete, so the population refuses it); otherwise `solution` itself.
  const Solution& Ranked(const Solution& solution) {
    if (!pricing_.Active()) return solution;
    if (ranked_) {
      *ranked_ = solution;
    } else {
      ranked_.emplace(solution);
    }
    pricing_.Apply(*ranked_, penalties_.Weights());
    return *ranked_;
  }

  void RewalkAll(Solution& solution) {
    for (size_t k = 0; k < solution.NumRoutes(); ++k) solution.Refresh(k, penalties_.Weights());
  }

  // Mends the pairs a child of the crossover breaks before its local
  // search, which undoes moves that break more of them but makes none whole.
  void MendPairs(Solution& solution) {
    mend_routes_.resize(solution.NumRoutes());
    for (size_t k = 0; k < solution.NumRoutes(); ++k) mend_routes_[k] = solution.Route(k).nodes;
    SchedulePairs(rules_, mend_routes_, mend_schedule_);
    if (mend_schedule_.violations.empty()) return;
    RepairPairs(rules_, mend_routes_, mend_schedule_);
    for (size_t k = 0; k < solution.NumRoutes(); ++k) {
      const std::vector<size_t>& nodes = mend_routes_[k];
      solution.SetTargets(k, nodes.data() + 1, nodes.size() - 2);
    }
    RewalkAll(solution);
  }

  void Report(const Solution& solution) {
    const bool pairs = rules_.Tables().HasPrecedence();
    if (pairs) {
      // The search itself does not see the pairs: a solution that breaks
      // one is mended first, and a mended one joins the population.
      pair_routes_.resize(solution.NumRoutes());
      for (size_t k = 0; k < solution.NumRoutes(); ++k) pair_routes_[k] = solution.Route(k).nodes;
      if (!RepairPairs(evaluator_.Costs(), pair_routes_, pair_schedule_) ||
          !pair_schedule_.Feasible()) {
        return;
      }
    }
    Result candidate;
    ObjectiveValue value;
    for (size_t k = 0; k < solution.NumRoutes(); ++k) {
      const std::vector<size_t>& nodes = pairs ? pair_routes_[k] : solution.Route(k).nodes;
      // The post-optimisers' evaluation walks the route as the engine's
      // rules do, with their checks of the node sequence on top.
      const RouteEvaluation evaluation = evaluator_.EvaluateRoute(nodes, k);
      if (!evaluation.valid) return;  // never hand out a route the route rules reject
      // With pairs, the schedule's cost: cross-route waits included.
      const double cost = pairs ? pair_schedule_.Cost(k) : evaluation.cost;
      candidate.paths[k] = std::vector<uint64_t>(nodes.begin(), nodes.end());
      candidate.times[k] = cost;
      value.longest = std::max(value.longest, cost);
      value.total += cost;
    }
    if (pairs && MendedDiffers(solution) &&
        LoadResult(candidate, rules_, penalties_.Weights(), mended_)) {
      population_.Offer(Ranked(mended_));
    }
    if (reference_ && !Improves(value, *reference_, settings_.min_max)) return;
    reference_ = value;
    since_improvement_ = 0;
    last_improvement_ = iterations_;
    best_ = std::move(candidate);
    if (settings_.on_improvement) settings_.on_improvement(settings_.clock ? settings_.clock() : 0.0, *best_);
  }

  bool MendedDiffers(const Solution& solution) const {
    for (size_t k = 0; k < solution.NumRoutes(); ++k) {
      if (pair_routes_[k] != solution.Route(k).nodes) return true;
    }
    return false;
  }

  const EngineSettings& settings_;
  RouteRules rules_;
  GranularNeighbours neighbours_;
  std::optional<TourCandidates> candidates_;  // the tour pass's lists, where routes are long tours
  LocalSearch search_;
  TargetInsertion insertion_;
  GiantTourSplit split_;
  SamePairs same_pairs_;
  RelatedRuin related_ruin_;
  EdgeAssembly edge_assembly_;
  AdaptiveChoice crossover_choice_;
  bool edge_assembly_on_ = false;  // routes long enough for the edge-assembly crossover
  bool decompose_ = false;         // large enough to be improved piecewise as well
  bool kick_ = false;              // routes long enough for kicks on the best solution's tours
  double run_start_ = 0;           // clock at the start of breeding
  Subproblem subproblem_;
  std::vector<std::vector<size_t>> whole_routes_;
  RouteEvaluator evaluator_;
  Random random_;
  PenaltyManager penalties_;
  Population population_;
  Solution work_;
  Solution mended_;  // a solution whose precedence pairs were mended
  std::optional<Solution> elite_;  // the best feasible solution, kept over restarts
  size_t since_improvement_ = 0;  // children since the last better solution (restarts)
  int64_t iterations_ = 0;        // constructions and children so far
  int64_t last_improvement_ = 0;  // the iteration of the last better solution
  int64_t next_exchange_ = 0;     // the iteration count of the next exchange
  std::vector<char> used_;
  std::vector<size_t> tour_first_;
  std::vector<size_t> tour_second_;
  std::vector<size_t> child_tour_;
  std::function<bool()> stop_;
  size_t stop_asks_ = 0;
  bool stopped_ = false;
  // Value of the best solution known, the starting solution's included.
  std::optional<ObjectiveValue> reference_;
  std::optional<Result> best_;  // the best solution reported
  // Precedence pairs: the routes of a solution being mended, and their schedule.
  std::vector<std::vector<size_t>> pair_routes_;
  PairSchedule pair_schedule_;
  // Plain or "diff" pairs, whose waits across routes the schedule prices;
  // a solution so priced (made only then). Routes and schedule of a child
  // being mended.
  SchedulePricing pricing_;
  std::optional<Solution> ranked_;
  std::vector<std::vector<size_t>> mend_routes_;
  PairSchedule mend_schedule_;
};

}  // namespace

EngineOutcome RunImprovementEngine(const InstanceTables& tables, const Result* start,
                                   const EngineSettings& settings) {
  // Every agent needs a start and an end for the engine's routes.
  const size_t m = tables.NumAgents();
  if (tables.Starts().size() < m || tables.Goals().size() < m) return EngineOutcome{};
  Engine engine(tables, settings);
  return engine.Run(start);
}

}  // namespace tarsel
