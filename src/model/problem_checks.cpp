#include "model/problem_checks.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <sstream>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace tarsel {

namespace {

template <class... Pieces>
[[noreturn]] void Reject(const Pieces&... pieces) {
  std::ostringstream text;
  (text << ... << pieces);
  throw std::invalid_argument(text.str());
}

// Throws for the first id of `records` (in order) that an earlier record
// already has.
template <class Records>
void CheckUniqueIds(const Records& records, const char* what) {
  std::unordered_map<uint64_t, size_t> first_position;
  for (size_t i = 0; i < records.size(); ++i) {
    const auto [it, inserted] = first_position.emplace(records[i].id, i);
    if (!inserted) {
      Reject(what, " id ", records[i].id, " occurs twice: at positions ", it->second, " and ", i,
             " of the ", what, "s");
    }
  }
}

// NaN fails every comparison, so a NaN limit would be dropped without a word.
void CheckAgentLimits(const Problem& problem) {
  for (size_t i = 0; i < problem.agents_ordered.size(); ++i) {
    const Agent& agent = problem.agents_ordered[i];
    for (const auto& [name, value] : {std::pair<const char*, double>{"time_limit", agent.time_limit},
                                      {"capacity_limit", agent.capacity_limit}}) {
      if (std::isnan(value)) {
        Reject("agent ", agent.id, " (agents[", i, "]) has a ", name,
               " of nan; a limit must be a number (0 or less for none)");
      }
    }
  }
}

}  // namespace

void CheckOptions(const Options& options) {
  if (!(options.missing_cost > 0) || !std::isfinite(options.missing_cost)) {
    Reject("missing_cost must be a positive finite number, got ", options.missing_cost);
  }
  if (options.threads > kMaxThreads) {
    Reject("threads must be at most ", kMaxThreads, ", got ", options.threads);
  }
  if (!(options.memory_limit_mb > 0) || !std::isfinite(options.memory_limit_mb)) {
    Reject("memory_limit_mb must be a positive number of megabytes, got ",
           options.memory_limit_mb);
  }
}

void CheckCostMatrix(const std::string& agent_type, const CostMatrix& matrix) {
  for (size_t r = 0; r < matrix.size(); ++r) {
    for (size_t c = 0; c < matrix[r].size(); ++c) {
      const double cost = matrix[r][c];
      if (!(cost >= 0) || !std::isfinite(cost)) {
        Reject("cost matrix of type \"", agent_type, "\" holds ", cost, " at row ", r, ", column ",
               c, "; costs must be finite and non-negative");
      }
    }
  }
}

void CheckProblem(const Problem& problem) {
  CheckUniqueIds(problem.nodes, "node");
  CheckUniqueIds(problem.agents_ordered, "agent");
  CheckAgentLimits(problem);
  std::vector<const std::string*> names;
  for (const auto& entry : problem.cost_matrices) names.push_back(&entry.first);
  std::sort(names.begin(), names.end(),
            [](const std::string* a, const std::string* b) { return *a < *b; });
  for (const std::string* name : names) CheckCostMatrix(*name, problem.cost_matrices.at(*name));
}

void CheckDemands(const Problem& problem) {
  for (size_t i = 0; i < problem.nodes.size(); ++i) {
    const Node& node = problem.nodes[i];
    if (!(node.demand >= 0) || !std::isfinite(node.demand)) {
      Reject("node ", node.id, " (nodes[", i, "]) has a demand of ", node.demand,
             "; demands must be finite and non-negative");
    }
  }
}

bool CapacitiesBind(const Problem& problem) {
  std::unordered_set<uint64_t> depots;
  for (const Agent& agent : problem.agents_ordered) {
    depots.insert(agent.start_node);
    depots.insert(agent.end_node);
  }
  double total = 0;
  for (const Node& node : problem.nodes) {
    if (depots.count(node.id) == 0 && node.demand > 0) total += node.demand;
  }
  return std::any_of(problem.agents_ordered.begin(), problem.agents_ordered.end(),
                     [total](const Agent& agent) {
                       return agent.capacity_limit > 0 && total > agent.capacity_limit;
                     });
}

}  // namespace tarsel
