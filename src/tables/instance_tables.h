#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/agent_info.h"
#include "common/node_info.h"
#include "common/precedence_pair.h"
#include "common/special_values.h"
#include "common/time_window_table.h"
#include "common/visited_set.h"
#include "graph/planner_graph.h"

namespace tarsel {

// Time window of one node in dense form.
struct WindowSlot {
  bool present = false;
  double start = 0;
  double end = 0;
};

// What every consumer of one solve derives from the instance, derived once:
// the node and agent tables, node roles (agents' starts and goals), dense
// time windows, allowed types per node, and one flat row-major cost matrix
// per agent type. The search, the constraint checkers and the
// post-optimisers read one shared value by const reference.
//
// Each setter recomputes what depends on its input, so a consumer used on
// its own (without a Solver) can fill a private copy piecewise.
//
// Costs: Cost(type, u, v) equals graph->ArcCost(u, v, type) of the graph the
// tables were made from (0 on the diagonal and for missing arcs); pairs
// outside the dense range fall back to the graph.
class InstanceTables {
 public:
  // Takes the graph's costs into dense matrices over its vertex indices (or
  // the node count, when larger) and keeps the pointer for the fallback.
  void SetGraph(const PlannerGraph* graph);
  // Takes dense matrices directly: `matrices[t]` is size*size, row-major.
  // `graph` (may be null) must carry the same costs; it serves indices
  // beyond `size`.
  void SetCostMatrices(std::vector<std::vector<double>> matrices, size_t size,
                       const PlannerGraph* graph);
  void SetNodes(const std::vector<NodeInfo>& nodes);
  void SetAgents(const std::vector<AgentInfo>& agents);
  void SetStarts(const std::vector<size_t>& starts);
  void SetGoals(const std::vector<size_t>& goals);
  void SetTimeWindows(const TimeWindowTable& time_windows);
  // Demand of each node of the node table (empty: none has any). Only
  // capacities that are enforced get demands here; the routes then keep
  // each agent's capacity_limit.
  void SetDemands(std::vector<double> demands) { demands_ = std::move(demands); }
  void SetReturnToEnd(bool return_to_end) { return_to_end_ = return_to_end; }
  // Costs at or above `missing_cost` are no connection (default kNoConnection).
  void SetMissingCost(double missing_cost) { missing_cost_ = missing_cost; }
  // The precedence pairs a solution must honour (none unless enforced).
  void SetPrecedencePairs(std::vector<PrecedencePair> pairs) { pairs_ = std::move(pairs); }

  const PlannerGraph* Graph() const { return graph_; }
  const std::vector<NodeInfo>& Nodes() const { return nodes_; }
  const std::vector<AgentInfo>& Agents() const { return agents_; }
  size_t NumNodes() const { return nodes_.size(); }
  size_t NumAgents() const { return agents_.size(); }
  size_t NumTypes() const { return matrices_.size(); }
  const std::vector<size_t>& Starts() const { return starts_; }
  const std::vector<size_t>& Goals() const { return goals_; }
  bool ReturnToEnd() const { return return_to_end_; }
  const std::vector<PrecedencePair>& PrecedencePairs() const { return pairs_; }
  bool HasPrecedence() const { return !pairs_.empty(); }

  // Node roles: some agent starts / ends at `node`.
  bool IsStart(size_t node) const {
    return node < VisitedSet::kBits ? start_bits_.Test(node) : IsListed(starts_, node);
  }
  bool IsGoal(size_t node) const {
    return node < VisitedSet::kBits ? goal_bits_.Test(node) : IsListed(goals_, node);
  }
  const VisitedSet& StartBits() const { return start_bits_; }  // starts below 256
  const VisitedSet& GoalBits() const { return goal_bits_; }    // goals below 256
  // Nodes of the node table whose allowed types are exactly [0], below 256.
  const VisitedSet& TypeZeroOnly() const { return type0_only_; }

  // Whether an agent of type index `type` may visit `node` (false for a
  // negative type and for nodes outside the node table).
  // Inline: the engine's moves ask it for every candidate.
  bool TypeAllowed(int64_t type, size_t node) const {
    if (type < 0 || node >= nodes_.size()) return false;
    const size_t t = static_cast<size_t>(type);
    return t < allowed_width_ && allowed_[node * allowed_width_ + t] != 0;
  }

  // Demand of `node`: 0 beyond the demand table.
  double Demand(size_t node) const { return node < demands_.size() ? demands_[node] : 0.0; }
  bool HasDemands() const { return !demands_.empty(); }

  const TimeWindowTable& TimeWindows() const { return time_windows_; }
  bool HasTimeWindows() const { return !time_windows_.empty(); }
  // Window of `node`, or nullptr when it has none.
  const WindowSlot* Window(size_t node) const;

  // Cost of the arc u -> v for `type` (see the class comment).
  double Cost(size_t type, size_t u, size_t v) const {
    if (type < matrices_.size() && u < size_ && v < size_) return matrices_[type][u * size_ + v];
    return graph_ != nullptr ? graph_->ArcCost(u, v, type) : 0.0;
  }
  // Row-major matrix of `type` over DenseSize() indices.
  const std::vector<double>& CostMatrix(size_t type) const { return matrices_[type]; }
  size_t DenseSize() const { return size_; }

  // The "no connection" threshold: an arc whose cost for the moving agent's
  // type is at or above it does not exist for that type. The heuristic, the
  // edge preparation, the search, the checkers and the post-optimisers all
  // read this one value.
  double MissingCost() const { return missing_cost_; }
  bool Connected(double cost) const { return cost < missing_cost_; }

 private:
  static bool IsListed(const std::vector<size_t>& list, size_t node);
  void RebuildAllowed();
  void RebuildWindows();

  const PlannerGraph* graph_ = nullptr;
  std::vector<std::vector<double>> matrices_;  // per type, size_ * size_
  size_t size_ = 0;
  std::vector<NodeInfo> nodes_;
  std::vector<AgentInfo> agents_;
  std::vector<size_t> starts_;
  std::vector<size_t> goals_;
  VisitedSet start_bits_;
  VisitedSet goal_bits_;
  VisitedSet type0_only_;
  size_t allowed_width_ = 0;        // type count covered by allowed_
  std::vector<uint8_t> allowed_;    // node * allowed_width_ + type
  TimeWindowTable time_windows_;
  std::vector<double> demands_;  // per node of the node table, or empty
  std::vector<WindowSlot> windows_;  // per node of the node table
  std::unordered_map<size_t, WindowSlot> windows_beyond_;  // windows of other indices
  bool return_to_end_ = true;
  double missing_cost_ = kNoConnection;
  std::vector<PrecedencePair> pairs_;
};

}  // namespace tarsel
