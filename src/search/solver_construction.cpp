#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <iomanip>
#include <limits>
#include <optional>
#include <sstream>
#include <utility>

#include "common/console.h"
#include "common/special_values.h"
#include "engine/population_budget.h"
#include "model/problem_checks.h"
#include "search/solver.h"
#include "tables/pair_checks.h"
#include "tables/problem_tables.h"
#include "tables/reachability.h"
#include "tables/shortcuts.h"

namespace tarsel {

Solver::Solver(Problem problem, Options given_options)
    : plugins(DefaultSearchPlugins()),
      options(std::move(given_options)),
      list_blocked_edges(std::getenv("MTSP_DEBUG_TW_EDGES") != nullptr),
      lists(plugins.focal_comparator.get()) {
  // Fail before any table is built: the search cannot take more nodes, and
  // the tables below grow with the square of the node count. The
  // improvement engine alone takes larger instances.
  const bool too_large = problem.nodes.size() > kMaxSearchNodes;
  if (too_large && !options.improve) ThrowTooManyNodes(problem.nodes.size(), true);
  // The focal search does not honour precedence pairs; the engine does.
  pairs_enforced = options.enforce_precedence && CarriesPrecedencePairs(problem);
  if (pairs_enforced && !options.improve) ThrowPairsNeedEngine();
  engine_only = too_large || pairs_enforced;
  // Then what would make the tables ambiguous or the costs meaningless.
  CheckOptions(options);
  CheckProblem(problem);
  if (options.enforce_capacity) {
    CheckDemands(problem);
    // The focal search knows no loads: capacities that can be exceeded
    // leave the instance to the improvement engine, which prices them.
    if (!engine_only && CapacitiesBind(problem)) {
      if (!options.improve) ThrowCapacitiesNeedEngine();
      engine_only = capacities_bind = true;
    }
  }
  CheckMemoryBudget(problem, options);

  // The engine reads costs from the dense matrices only; the graph's arc
  // lists serve the focal search and its post-optimisers.
  ProblemTables built =
      BuildProblemTables(problem, options, engine_only ? GraphArcs::kNone : GraphArcs::kComplete);
  own_graph = std::move(built.graph);
  tables = std::move(built.tables);
  graph = own_graph.get();
  if (engine_only) {
    // Only what the engine and the result need: the checks of reachability
    // and of the agents' trips, and the route rules reported routes pass.
    CheckReachability();
    CheckConnectivity();
    CheckPrecedencePairs();
    route_rules.Attach(tables);
    return;
  }
  ChooseInstancePlugins(plugins, tables, options);
  Prepare();
  label_store.Reset(NumAgents(), static_cast<int32_t>(graph->NumVertex()));
  ResetFrontiers();
}

Solver::~Solver() = default;

void Solver::CheckMemoryBudget(const Problem& problem, const Options& options) {
  const size_t n = problem.nodes.size();
  const size_t types = problem.type_names.size();
  tables_memory_bytes = static_cast<double>(
      TablesMemoryBytes(n, types, engine_only ? GraphArcs::kNone : GraphArcs::kComplete));
  // Each of the engine's threads runs an engine of its own.
  const double engine_bytes =
      options.improve ? static_cast<double>(EngineLeastBytes(n, problem.agents_ordered.size(), types)) *
                            static_cast<double>(EngineThreads(options))
                      : 0.0;
  if (tables_memory_bytes + engine_bytes <= options.memory_limit_mb * (1 << 20)) return;
  // Megabytes rounded up to a tenth.
  auto megabytes = [](double bytes) { return std::ceil(bytes / (1 << 20) * 10) / 10; };
  std::ostringstream message;
  message << std::fixed << std::setprecision(1) << "instance of " << n << " nodes and " << types
          << (types == 1 ? " agent type" : " agent types") << " needs about "
          << megabytes(tables_memory_bytes + engine_bytes) << " MB for its cost tables ("
          << megabytes(tables_memory_bytes) << " MB)";
  if (options.improve) {
    message << " and the improvement engine (" << megabytes(engine_bytes) << " MB";
    if (EngineThreads(options) > 1) message << " on " << EngineThreads(options) << " threads";
    message << ")";
  }
  message << ", more than the memory budget of " << std::setprecision(6) << std::defaultfloat
          << options.memory_limit_mb
          << " MB; raise the option \"memory_limit_mb\"";
  // Each thread of the engine is an engine of its own: fewer of them need less.
  if (options.improve && EngineThreads(options) > 1) message << ", lower the option \"threads\"";
  message << " or solve a smaller instance";
  throw std::length_error(message.str());
}

void Solver::Prepare() {
  BuildTimeWindowEdges();
  CheckReachability();
  CheckConnectivity();
  CheckPrecedencePairs();
  exact_nodes.Clear();
  const VisitedSet skippable = SkippableNodes(tables);
  for (size_t i = 0; i < tables.NumNodes() && i < VisitedSet::kBits; ++i) {
    if (!skippable.Test(i)) exact_nodes.Set(i);
  }
  HandOverTables(plugins, tables, mst_edges, &interrupt);
  route_rules.Attach(tables);
}

double Solver::TimeWindowEdgeCost(size_t a, size_t b) const {
  const double infinity = std::numeric_limits<double>::infinity();
  const WindowSlot* window_a = tables.Window(a);
  const double start_a = window_a != nullptr ? window_a->start : 0;
  const double end_a = window_a != nullptr ? window_a->end : infinity;
  const WindowSlot* window_b = tables.Window(b);
  const bool has_b = window_b != nullptr;
  const double start_b = has_b ? window_b->start : 0;
  const double end_b = has_b ? window_b->end : infinity;

  double best = kMaxDouble;
  for (size_t t = 0; t < tables.NumTypes(); ++t) {
    const double c = tables.Cost(t, a, b);
    if (!tables.Connected(c)) continue;
    // Even leaving a at its window start, b's window has closed.
    if (has_b && start_a + c > end_b) continue;
    // Waiting that remains even when leaving a as late as its window allows.
    double wait = 0;
    if (has_b && std::isfinite(end_a)) {
      const double gap = start_b - (end_a + c);
      if (gap > 0) wait = gap;
    }
    best = std::min(best, c + wait);
  }
  return best;
}

void Solver::BuildTimeWindowEdges() {
  mst_edges.clear();
  const size_t n = graph->NumVertex();
  size_t blocked = 0;
  for (size_t j = 0; j < n; ++j) {
    for (size_t k = 0; k < j; ++k) {
      const double w = std::min(TimeWindowEdgeCost(j, k), TimeWindowEdgeCost(k, j));
      if (w == kMaxDouble) {
        ++blocked;
        if (list_blocked_edges) {
          ConsoleLineUnflushed(ConsoleStream::kOut, ConsoleKind::kDebug, "edge: ", j, "->", k, " cost: ", w);
        }
      } else {
        mst_edges.push_back(MstEdge{j, k, w});
      }
    }
  }
  if (blocked > 0) {
    const size_t pairs = n * (n - 1) / 2;
    ConsoleCodedLine(ConsoleStream::kOut, ConsoleKind::kInfo, console_code::kBlockedPairs,
                     {{"blocked", uint64_t{blocked}}, {"pairs", uint64_t{pairs}},
                      {"time_windows", tables.HasTimeWindows()}},
                     "[TW-MST] blocked edges: ", blocked, " / ", pairs, " (set MTSP_DEBUG_TW_EDGES=1 for details)");
  }
  // Stable, so that equal weights keep their generation order and every run
  // sees the same list.
  std::stable_sort(mst_edges.begin(), mst_edges.end(),
                   [](const MstEdge& a, const MstEdge& b) { return a.w < b.w; });
}

void Solver::CheckReachability() {
  unreachable_nodes.clear();
  const size_t n = graph->NumVertex();
  for (size_t i = 0; i < n; ++i) {
    if (!tables.IsStart(i) && !tables.IsGoal(i)) continue;
    double cheapest = kMaxDouble;
    for (size_t j = 0; j < n; ++j) {
      if (j != i) cheapest = std::min(cheapest, tables.Cost(0, i, j));
    }
    // A node without any other node (cheapest stays kMaxDouble) has no arcs
    // to miss.
    if (cheapest != kMaxDouble && !tables.Connected(cheapest)) {
      ConsoleWarning(console_code::kUnreachableNode, {{"node", uint64_t{i}}}, "point: ", i, " can't be reached");
      unreachable_nodes.push_back(i);
    }
  }
}

void Solver::CheckConnectivity() {
  const ConnectionReport report = CheckConnections(tables, NumAgents());
  for (const size_t node : report.unreachable_targets) {
    ConsoleWarning(console_code::kUnreachableNode, {{"node", uint64_t{node}}}, "point: ", node, " can't be reached");
  }
  for (const BlockedAgent& blocked : report.blocked_agents) {
    const AgentInfo& agent = tables.Agents()[blocked.agent];
    const size_t start = tables.Nodes()[tables.Starts()[blocked.agent]].id;
    const size_t end = tables.Nodes()[tables.Goals()[blocked.agent]].id;
    switch (blocked.reason) {
      case BlockReason::kStartNotAllowed:
        ConsoleWarning(console_code::kAgentBlocked, {{"agent", agent.id}}, "[warning] agent ", agent.id,
                       " can't start: its type may not visit its start node ", start);
        break;
      case BlockReason::kEndNotAllowed:
        ConsoleWarning(console_code::kAgentBlocked, {{"agent", agent.id}}, "[warning] agent ", agent.id,
                       " can't finish: its type may not visit its end node ", end);
        break;
      case BlockReason::kStartWindowClosed:
        ConsoleWarning(console_code::kAgentBlocked, {{"agent", agent.id}}, "[warning] agent ", agent.id,
                       " can't start: the time window of its start node ", start, " ends before time 0");
        break;
      case BlockReason::kNoTrip:
        ConsoleWarning(console_code::kAgentBlocked, {{"agent", agent.id}}, "[warning] agent ", agent.id,
                       " can't reach its end node ", end, " from its start node ", start, ": no connection");
        break;
      case BlockReason::kTripOverLimit:
        ConsoleWarning(console_code::kAgentBlocked, {{"agent", agent.id}}, "[warning] agent ", agent.id,
                       " can't reach its end node ", end, " from its start node ", start,
                       " within its route-length limit ", agent.time_limit, ": the shortest trip costs ",
                       blocked.shortest_trip);
        break;
    }
  }
  for (const UnservableTarget& target : report.unservable_targets) {
    const size_t node = tables.Nodes()[target.node].id;
    if (target.reason == UnservableReason::kWindowClosed) {
      const WindowSlot* window = tables.Window(target.node);
      ConsoleWarning(console_code::kNodeUnservable, {{"node", uint64_t{node}}}, "[warning] node ", node,
                     " can't be served: its time window [", window->start, ", ", window->end,
                     "] closes before any agent can arrive (the earliest arrival is ", target.bound, ")");
    } else if (target.reason == UnservableReason::kOverCapacity) {
      const AgentInfo& agent = tables.Agents()[target.agent];
      ConsoleWarning(console_code::kNodeUnservable, {{"node", uint64_t{node}}}, "[warning] node ", node,
                     " can't be served: its demand ", target.bound,
                     " is above the capacity of every agent that may visit it (the largest, agent ", agent.id,
                     "'s, is ", agent.capacity_limit, ")");
    } else {
      const AgentInfo& agent = tables.Agents()[target.agent];
      ConsoleWarning(console_code::kNodeUnservable, {{"node", uint64_t{node}}}, "[warning] node ", node,
                     " can't be served within any agent's route-length limit: the cheapest route "
                     "through it, agent ",
                     agent.id, "'s, costs at least ", target.bound, " against its limit ",
                     agent.time_limit);
    }
  }
  unsolvable = !report.Solvable();
}

void Solver::CheckPrecedencePairs() {
  const std::optional<PairDefect> defect = FindUnsatisfiablePair(tables);
  if (!defect) return;
  const PrecedencePair& pair = tables.PrecedencePairs()[defect->pair];
  const char* why = "";
  switch (defect->reason) {
    case PairDefectReason::kUnknownNode:
      why = "it names a node id that no node has";
      break;
    case PairDefectReason::kNotTarget:
      why = "it names an agent's start or end node";
      break;
    case PairDefectReason::kOneNode:
      why = "it names one node twice";
      break;
    case PairDefectReason::kCycle:
      why = "it lies on a cycle of precedence pairs";
      break;
    case PairDefectReason::kNoCommonAgent:
      why = "no agent may serve both nodes";
      break;
    case PairDefectReason::kNoTwoAgents:
      why = "no two different agents may serve one node each";
      break;
  }
  ConsoleWarning(console_code::kPairUnsatisfiable,
                 {{"before", uint64_t{pair.before_id}}, {"after", uint64_t{pair.after_id}}},
                 "[warning] precedence pair (before ", pair.before_id, ", after ", pair.after_id, ", ",
                 PairKindName(pair.kind), ") can't be satisfied: ", why);
  unsolvable = true;
}

}  // namespace tarsel
