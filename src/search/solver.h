#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/agent_info.h"
#include "common/interrupt_check.h"
#include "common/label.h"
#include "common/mst_edge.h"
#include "common/node_info.h"
#include "common/progress.h"
#include "common/result.h"
#include "common/solve_summary.h"
#include "common/time_window_table.h"
#include "graph/sparse_graph.h"
#include "model/options.h"
#include "model/problem.h"
#include "postopt/route_evaluator.h"
#include "search/frontier_table.h"
#include "search/incumbent_record.h"
#include "search/label_store.h"
#include "search/search_lists.h"
#include "search/simple_timer.h"
#include "tables/instance_tables.h"
#include "wiring/search_plugins.h"

namespace tarsel {

// Largest number of nodes a search supports (the visited set has 256 bits).
// Larger instances are solved by the improvement engine alone.
constexpr size_t kMaxSearchNodes = 256;

// Throws std::length_error naming the node count and the limit; with
// `name_improve`, the message adds that the option "improve" solves larger
// instances.
[[noreturn]] void ThrowTooManyNodes(size_t num_nodes, bool name_improve);
// Throws std::invalid_argument naming the options "improve" and
// "enforce_precedence": the focal search alone cannot honour precedence pairs.
[[noreturn]] void ThrowPairsNeedEngine();
// Whether `problem` has any precedence pair.
bool CarriesPrecedencePairs(const Problem& problem);

// Throws std::invalid_argument saying that enforced capacities that can be
// exceeded need the option "improve" (or "enforce_capacity" off).
[[noreturn]] void ThrowCapacitiesNeedEngine();

// Threads the improvement engine runs on under `options` (at least 1).
size_t EngineThreads(const Options& options);

// Anytime focal search over partial joint solutions of all agents.
//
// Construction derives the instance tables once, chooses the plugins and
// hands the tables over (Prepare). Solve runs phases: in each, labels are
// taken from the focal list, checked against their configuration's
// frontier and the incumbent, and expanded by one move of the agent the
// expansion plugin picks; a goal label becomes a solution, is
// post-optimised and prunes the lists; the next phase's focal weight comes
// from the gap between the incumbent and the smallest open f.
class Solver {
 public:
  Solver(Problem problem, Options options);
  virtual ~Solver();
  Solver(const Solver&) = delete;
  Solver& operator=(const Solver&) = delete;

  virtual void SetNodes(const std::vector<NodeInfo>& nodes);
  virtual void SetAgents(const std::vector<AgentInfo>& agents);
  virtual void SetGraph(PlannerGraph* graph);
  // Runs the search on a caller's graph, nodes and agents (open routes).
  virtual int SetupAndSolve(PlannerGraph* graph, const std::vector<NodeInfo>& nodes,
                            const std::vector<AgentInfo>& agents, const std::vector<size_t>& starts,
                            const std::vector<size_t>& goals, const std::string& dump_name,
                            double time_limit);
  virtual Result GetResult();
  virtual SolveSummary GetSummary() const;
  virtual AnytimeLog GetResultProcess() const;
  // Returns 1 when a solution was found, 0 otherwise.
  virtual int Solve();
  virtual void Prepare();
  virtual void CheckReachability();
  virtual void BuildTimeWindowEdges();
  virtual int64_t NewLabel();
  virtual bool IsDominated(const Label& label);
  virtual void AddToFrontier(const Label& label);
  virtual void BuildSolution(int64_t label_id);
  virtual bool IsGoal(const Label& label) const;
  virtual double TotalCost(const Label& label) const;
  virtual void ResetFrontiers();
  virtual int64_t CountVisited(const Label& label) const;
  virtual void UpdateFocalBound(double old_bound, double new_bound);
  virtual void FillSummary();
  virtual void PruneByIncumbent(double cost);

  double TimeWindowEdgeCost(size_t a, size_t b) const;

  // Asked at least every 50 ms of processor time while a solve runs
  // (search and post-optimisation); answering true stops the solve as its
  // time limit would. An empty callback is never asked.
  void SetInterruptCallback(std::function<bool()> callback) {
    interrupt.SetCallback(std::move(callback));
  }
  // Whether the last solve stopped because the callback asked it to (or
  // RequestStop was called).
  bool Interrupted() const { return interrupt.Interrupted(); }
  // Stops a running solve as an interrupt does, e.g. from a progress sink.
  void RequestStop() { interrupt.Stop(); }
  // Called on every improving solution (focal search and engine, exactly the
  // entries of the filtered anytime log) and, between them, at most once per
  // second of processor time from the solve's interrupt polls. An empty sink
  // turns the reports off; without one the solve runs as before.
  void SetProgressSink(ProgressSink sink);
  // Whether the last solve stopped at its memory budget.
  bool MemoryLimitReached() const { return memory_limit_reached; }
  // Bytes held by the label store, the lists and the frontiers.
  size_t SearchMemoryBytes() const;

  // Read access for callers and tests.
  const InstanceTables& Tables() const { return tables; }
  const std::vector<NodeInfo>& Nodes() const { return tables.Nodes(); }
  const std::vector<AgentInfo>& Agents() const { return tables.Agents(); }
  const std::vector<MstEdge>& MstEdges() const { return mst_edges; }
  const std::vector<size_t>& UnreachableNodes() const { return unreachable_nodes; }
  // Whether the instance has more nodes than the focal search supports, or
  // precedence pairs it is to honour, so that a solve runs the improvement
  // engine alone.
  bool EngineOnly() const { return engine_only; }
  bool Unsolvable() const { return unsolvable; }
  const TimeWindowTable& TimeWindows() const { return tables.TimeWindows(); }
  const PlannerGraph* Graph() const { return graph; }
  const ConstraintCheckerPlugin& ConstraintChecker() const { return *plugins.constraint_checker; }
  const ObjectivePlugin& Objective() const { return *plugins.objective; }
  const PostOptimizerPlugin& PostOptimizer() const { return *plugins.post_optimizer; }
  double FocalBound() const { return lists.FocalBound(); }
  // The bound the lists were last pruned to: the objective value of the best
  // solution of the focal search; empty before its first.
  std::optional<double> Incumbent() const { return incumbent; }
  const IncumbentRecord& Record() const { return record; }
  size_t LabelCapacity() const { return label_store.Capacity(); }
  const LabelStore& Labels() const { return label_store; }
  const SearchLists& Lists() const { return lists; }
  const FrontierTable& Frontiers() const { return frontiers; }

 private:
  // Number of agents the search moves (the caller's start list on the
  // generic entry).
  size_t NumAgents() const { return tables.Starts().size(); }
  // Sets tables_memory_bytes; throws std::length_error naming the sizes
  // and "memory_limit_mb" when the tables, and with "improve" the engine at
  // its smallest, would not fit the memory budget.
  void CheckMemoryBudget(const Problem& problem, const Options& options);
  // Checks the node count and the agents' start and end nodes; throws.
  void ValidateSearch() const;
  // Reports targets nobody can reach and agents that cannot get to their
  // end node (over existing arcs, within their route-length limit); any of
  // them makes the instance unsolvable.
  void CheckConnectivity();
  // Reports the first precedence pair no schedule can satisfy, which makes
  // the instance unsolvable.
  void CheckPrecedencePairs();
  Label RootLabel();
  // Handles the goal label with id `label_id`: routes, post-optimisation,
  // anytime log, best solution, incumbent.
  void HandleSolution(int64_t label_id);
  // Offers a solution found at `time` to the record and reports it to the
  // progress sink when it becomes the best.
  void OfferSolution(double time, Result snapshot,
                     IncumbentRecord::Judge judge = IncumbentRecord::Judge::kByObjective);
  // Search memory budget in bytes (the option is in megabytes).
  double MemoryLimitBytes() const { return options.memory_limit_mb * (1 << 20); }
  void GenerateSuccessors(const Label& parent, size_t agent);
  // Whether the search must stop now (time limit, interrupt, memory budget);
  // reads the clock, so it is asked every few selections only.
  bool MustStop();
  // Refocuses the lists on the smallest open f times `weight`.
  void RefocusOn(double weight);
  // When the focal list has run empty while open labels lie within the
  // focal bound of `weight`, puts them back; returns whether it holds any.
  bool RefillFocalList(double weight);
  void StoreLabel(const Label& label, int64_t parent) { label_store.Put(label, parent); }
  // Clears every piece of search state so that a search starts afresh.
  void ResetSearchState();
  void WriteDebugDump() const;
  // Fills `answer.stops` from the timetable of its routes (the option "schedule").
  void FillStops(Result& answer) const;
  // Runs the improvement engine on the rest of the time limit, from the
  // focal search's solution when `found` (solver_improve.cpp).
  bool RunImprovement(bool found);
  // Solves an instance too large for the focal search with the improvement
  // engine alone (solver_improve.cpp).
  int SolveWithEngineOnly();

  SearchPlugins plugins;
  // The caller's options; SetupAndSolve replaces the time limit.
  Options options;
  RouteEvaluator route_rules;  // the post-optimisers' rules, on `tables`
  std::unique_ptr<SparseGraph> own_graph;  // the Problem's complete graph
  const PlannerGraph* graph = nullptr;     // the graph searched
  InstanceTables tables;
  std::vector<MstEdge> mst_edges;
  std::vector<size_t> unreachable_nodes;
  // Nodes the arcs do not let a route leave out at no cost (Prepare): the
  // frontiers compare them exactly.
  VisitedSet exact_nodes;
  bool unsolvable = false;  // CheckConnectivity found what no search can mend
  // More nodes than the focal search supports, or enforced precedence
  // pairs: no search state, plugins or arc lists of the graph are built,
  // and Solve runs the engine alone.
  bool engine_only = false;
  bool capacities_bind = false;  // enforced capacities made the solve engine_only
  bool pairs_enforced = false;  // the options enforce the document's precedence pairs
  double tables_memory_bytes = 0;  // what the tables hold of the budget
  bool list_blocked_edges = false;  // MTSP_DEBUG_TW_EDGES is set
  InterruptCheck interrupt;
  ProgressReporter progress;
  bool memory_limit_reached = false;

  LabelStore label_store;
  SearchLists lists;
  FrontierTable frontiers;

  std::vector<double> weights{100.0};
  // Objective value (the total for min-sum, the longest route for min-max)
  // the lists were last pruned to; empty before the first solution.
  std::optional<double> incumbent;
  int32_t max_phases = 100;
  SimpleTimer timer;
  Result result;  // the solution being handled and the search counters
  // The best solution, the anytime log and the time of its last entry.
  IncumbentRecord record;
  SolveSummary summary;
  std::string dump_name;

  Label child_scratch;  // successor under construction, reused across moves
  // A move that passed the constraint checks, with what it changes in the
  // parent: the moving agent's node, cost and finished flag, and the count
  // of agents still on their routes; and the hash of the child's agent
  // positions, for the frontier lookups.
  struct Move {
    size_t node;
    uint64_t key_hash;
    double cost;
    int64_t active_agents;
    uint8_t finished;
  };
  std::vector<Move> moves_scratch;  // the moves of one expansion
};

}  // namespace tarsel
