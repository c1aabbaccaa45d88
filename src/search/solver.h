#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "graph/sparse_graph.h"
#include "model/options.h"
#include "model/problem.h"
#include "plugins/constraint_checker_plugin.h"
#include "plugins/expansion_plugin.h"
#include "plugins/focal_comparator_plugin.h"
#include "plugins/heuristic_plugin.h"
#include "plugins/objective_plugin.h"
#include "plugins/post_optimizer_plugin.h"
#include "common/agent_info.h"
#include "common/focal_entry.h"
#include "search/frontier.h"
#include "common/label.h"
#include "search/label_store.h"
#include "common/mst_edge.h"
#include "common/node_info.h"
#include "common/result.h"
#include "search/simple_timer.h"
#include "common/solve_summary.h"
#include "common/time_window_table.h"

namespace tarsel {

// Largest number of nodes a search supports (the visited set has 256 bits).
constexpr size_t kMaxSearchNodes = 256;

// Throws std::length_error naming the node count and the limit.
[[noreturn]] void ThrowTooManyNodes(size_t num_nodes);

using AnytimeLog = std::vector<std::pair<double, Result>>;

// Orders the focal list through the installed comparator plugin.
struct FocalOrder {
  const FocalComparatorPlugin* comparator = nullptr;
  bool operator()(const FocalEntry& a, const FocalEntry& b) const {
    return comparator->Compare(a, b);
  }
};

// Hash of a configuration of agent positions (the frontier key).
struct ConfigurationHash {
  size_t operator()(const std::vector<size_t>& nodes) const {
    uint64_t h = 1469598103934665603ull;
    for (size_t v : nodes) h = (h ^ v) * 1099511628211ull;
    return static_cast<size_t>(h);
  }
};

// Anytime focal search over partial joint solutions of all agents.
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

  // Read access for callers and tests.
  const std::vector<NodeInfo>& Nodes() const { return nodes; }
  const std::vector<AgentInfo>& Agents() const { return agents; }
  const std::vector<MstEdge>& MstEdges() const { return mst_edges; }
  const std::vector<size_t>& UnreachableNodes() const { return unreachable_nodes; }
  const TimeWindowTable& TimeWindows() const { return time_windows; }
  const PlannerGraph* Graph() const { return graph; }
  const ConstraintCheckerPlugin& ConstraintChecker() const { return *constraint_checker; }
  const ObjectivePlugin& Objective() const { return *objective; }
  const PostOptimizerPlugin& PostOptimizer() const { return *post_optimizer; }
  double FocalBound() const { return focal_bound; }
  double Incumbent() const { return incumbent; }
  size_t LabelCapacity() const { return label_capacity; }
  const std::set<std::pair<double, int64_t>>& OpenList() const { return open_list; }
  const std::set<FocalEntry, FocalOrder>& FocalList() const { return focal_list; }

 protected:
  // Stores `label` under its id with the given parent (the id comes from NewLabel).
  void StoreLabel(const Label& label, int64_t parent);
  void InsertOpen(double f, int64_t label_id) { open_list.emplace(f, label_id); }
  void InsertFocal(const FocalEntry& entry) { focal_list.insert(entry); }
  // Handles the goal label with id `label_id`; returns the incumbent cost.
  void HandleSolution(int64_t label_id);
  void GenerateSuccessors(const Label& parent, size_t agent);
  // When the focal list has run empty while open labels lie within the
  // focal bound of `phase`, puts them back; returns whether it holds any.
  bool RefillFocalList(size_t phase);
  // Focal entry of a stored open label, as entries taken from the open list
  // carry it: total cost 0.
  FocalEntry StoredFocalEntry(double f, int64_t label_id) const;
  // Clears every piece of search state so that a search starts afresh.
  void ResetSearchState();
  void WriteDebugDump() const;

  std::unique_ptr<FocalComparatorPlugin> focal_comparator;
  std::unique_ptr<HeuristicPlugin> heuristic;
  std::unique_ptr<PostOptimizerPlugin> post_optimizer;
  std::unique_ptr<ConstraintCheckerPlugin> constraint_checker;
  std::unique_ptr<ExpansionPlugin> expansion;
  std::unique_ptr<ObjectivePlugin> objective;
  PlannerGraph* graph = nullptr;

  std::vector<NodeInfo> nodes;
  std::vector<AgentInfo> agents;
  std::unordered_map<std::string, size_t> type_ids;
  std::unordered_map<size_t, std::string> type_name_map;
  size_t num_types = 0;
  std::unordered_map<size_t, size_t> node_index;
  std::unordered_map<size_t, size_t> agent_index;
  std::unordered_map<size_t, int64_t> agent_type_index;
  std::unique_ptr<SparseGraph> sparse_graph;
  std::vector<MstEdge> mst_edges;
  std::vector<size_t> starts;
  std::unordered_set<size_t> start_set;
  std::unordered_set<size_t> goal_set;
  int32_t num_agents = 0;
  std::vector<size_t> goals;
  std::vector<size_t> unreachable_nodes;
  TimeWindowTable time_windows;
  double time_limit = 60.0;
  bool return_to_end = true;

  // Label store: label k and its parent's id under id k.
  LabelStore label_store;
  int64_t label_count = 0;
  size_t label_capacity = 0;
  size_t label_chunk = 1024;
  size_t max_label_chunk = 4096;

  std::set<std::pair<double, int64_t>> open_list;  // (f, label id)
  std::set<FocalEntry, FocalOrder> focal_list;

  std::unordered_map<std::vector<size_t>, size_t, ConfigurationHash> frontier_index;
  std::vector<std::unique_ptr<Frontier>> frontiers;
  size_t frontier_count = 0;

  std::vector<double> weights{100.0};
  double focal_bound = 0;
  double incumbent = -1;
  int32_t max_phases = 100;
  int32_t solution_found = 0;
  double max_path_length = -1;
  double last_update_time = 0;
  SimpleTimer timer;
  Result result;
  SolveSummary summary;
  AnytimeLog anytime_log;
  std::string dump_name;

  Label child_scratch;  // successor under construction, reused across moves
  // start_set and goal_set as bit sets for successor generation.
  VisitedSet start_bits;
  VisitedSet goal_bits;
};

}  // namespace tarsel
