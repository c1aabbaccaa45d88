#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <utility>

#include "common/console.h"
#include "routes/pair_schedule.h"
#include "search/solver.h"

namespace tarsel {

void Solver::BuildSolution(int64_t label_id) {
  const size_t agent_count = NumAgents();
  const std::vector<size_t>& starts = tables.Starts();
  // Moves from the goal label back to the root, then every agent's start.
  std::vector<std::pair<size_t, size_t>> moves;
  for (int64_t k = label_id; k > 0; k = label_store.Parent(k)) {
    const size_t agent = static_cast<size_t>(label_store.LastAgent(k));
    moves.emplace_back(agent, label_store.CurrentNode(k, agent));
  }
  for (size_t a = 0; a < agent_count; ++a) moves.emplace_back(a, starts[a]);
  std::reverse(moves.begin(), moves.end());

  for (size_t a = 0; a < agent_count; ++a) result.times[a] = label_store.Cost(label_id, a);
  std::vector<std::vector<uint64_t>> routes(agent_count);
  for (const auto& [agent, node] : moves) routes[agent].push_back(node);
  for (size_t a = 0; a < agent_count; ++a) result.paths[a] = std::move(routes[a]);
}

Result Solver::GetResult() {
  result.last_update_time = record.LastUpdateTime();
  // The best solution with the counters of the search.
  Result answer = result;
  answer.paths = record.Best().paths;
  answer.times = record.Best().times;
  // Loads only where capacities are enforced (the tables then hold demands).
  if (tables.HasDemands()) {
    for (const auto& [agent, path] : answer.paths) answer.loads[agent] = route_rules.Costs().Load(path);
  }
  if (options.schedule) FillStops(answer);
  return answer;
}

void Solver::FillStops(Result& answer) const {
  const size_t agent_count = NumAgents();
  std::vector<std::vector<size_t>> routes(agent_count);
  for (size_t k = 0; k < agent_count; ++k) {
    const auto path = answer.paths.find(k);
    if (path != answer.paths.end()) routes[k].assign(path->second.begin(), path->second.end());
  }
  // The schedule every route cost comes from (with enforced precedence
  // pairs, the waits across routes included), so the last stop's departure
  // is the route's cost.
  PairSchedule schedule;
  SchedulePairs(route_rules.Costs(), routes, schedule);
  for (size_t k = 0; k < agent_count; ++k) {
    if (routes[k].empty()) continue;
    std::vector<ScheduledStop>& stops = answer.stops[k];
    stops.resize(routes[k].size());
    for (size_t i = 0; i < routes[k].size(); ++i) {
      // Service takes no time in this model: the agent leaves when it starts.
      stops[i] = {routes[k][i], schedule.arrivals[k][i], schedule.starts[k][i], schedule.starts[k][i],
                  schedule.loads[k][i]};
    }
  }
}

AnytimeLog Solver::GetResultProcess() const { return record.Log(); }

SolveSummary Solver::GetSummary() const { return summary; }

void Solver::FillSummary() {
  if (!record.Found()) return;
  summary.found = 1;
  summary.max_path_length = *record.LongestRoute();
  summary.num_agents = static_cast<int32_t>(NumAgents());
  summary.num_type1_agents = 0;
  summary.num_type0_agents = 0;
  summary.num_nodes_types01 = 0;
  summary.num_nodes_type0 = 0;
  summary.num_nodes = static_cast<int32_t>(tables.NumNodes());
  for (const NodeInfo& node : tables.Nodes()) {
    const std::vector<size_t>& types = node.allowed_types;
    if (types.size() == 1 && types[0] == 0) {
      summary.num_nodes_type0 += 1;
    } else if (types.size() == 2 && types[0] == 0 && types[1] == 1) {
      summary.num_nodes_types01 += 1;
    }
  }
  for (const AgentInfo& agent : tables.Agents()) {
    if (agent.type == 1) summary.num_type1_agents += 1;
    if (agent.type == 0) summary.num_type0_agents += 1;
  }
  const Result& best = record.Best();
  double sum = 0;
  const size_t entries = best.times.size();
  for (size_t key = 0; key < entries; ++key) {
    const auto found = best.times.find(key);
    if (found != best.times.end()) sum += found->second;
  }
  summary.sum_cost = sum;
  summary.last_update_time = record.LastUpdateTime();
}

void Solver::WriteDebugDump() const {
  nlohmann::json dump;
  dump["num_agents"] = NumAgents();
  dump["starts"] = tables.Starts();
  dump["goals"] = tables.Goals();
  // Written after a successful search only, so there is a best solution.
  dump["max_path_length"] = record.LongestRoute().value_or(-1);
  const Result& best = record.Best();
  nlohmann::json paths = nlohmann::json::object();
  for (size_t i = 0; i < best.paths.size(); ++i) {
    const auto found = best.paths.find(i);
    std::vector<uint64_t> route;
    if (found != best.paths.end() && !found->second.empty()) {
      route.assign(found->second.begin(), found->second.end() - 1);
    }
    paths[std::to_string(i)] = route;
  }
  dump["paths"] = paths;
  nlohmann::json total_costs = nlohmann::json::array();
  for (size_t i = 0; i < best.times.size(); ++i) {
    const auto found = best.times.find(i);
    total_costs.push_back(found != best.times.end() ? found->second : 0.0);
  }
  dump["total_costs"] = total_costs;

  std::filesystem::create_directories("paths/paths_astar");
  const std::string path = "paths/paths_astar/" + dump_name + "_astar.json";
  std::ofstream out(path, std::ios::trunc);
  if (!out) {
    ConsoleLine(ConsoleStream::kErr, ConsoleKind::kError, "Error: cannot open ", path, " for writing.");
    return;
  }
  out << dump.dump(2) << "\n";
  out.close();
  ConsoleLine(ConsoleStream::kOut, ConsoleKind::kInfo, "Saved to ", path);
}

}  // namespace tarsel
