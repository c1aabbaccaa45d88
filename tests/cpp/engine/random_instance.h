#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <memory>
#include <random>
#include <vector>

#include "common/special_values.h"
#include "common/test_tables.h"
#include "graph/sparse_graph.h"
#include "tables/instance_tables.h"

namespace tarsel::engine_test {

// What a random instance may contain.
struct InstanceKinds {
  size_t nodes = 12;
  size_t agents = 3;
  size_t types = 2;
  bool windows = false;
  bool limits = false;
  bool open_routes = false;
  bool own_depots = false;     // every agent starts and ends at nodes of its own
  bool missing_arcs = false;
  bool restricted = false;     // some targets allow only some types
  bool symmetric = false;      // every matrix is symmetric
  bool capacities = false;     // targets have demands, most agents a capacity
};

// A random instance with its graph (which the tables point to).
struct RandomInstance {
  std::unique_ptr<SparseGraph> graph;
  InstanceTables tables;
};

inline RandomInstance MakeRandomInstance(const InstanceKinds& kinds, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> coordinate(0.0, 100.0);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const size_t n = kinds.nodes;
  std::vector<double> xs(n), ys(n);
  for (size_t i = 0; i < n; ++i) {
    xs[i] = coordinate(random);
    ys[i] = coordinate(random);
  }
  std::vector<std::vector<std::vector<double>>> per_type(kinds.types);
  std::vector<std::vector<double>> flat(kinds.types, std::vector<double>(n * n));
  for (size_t t = 0; t < kinds.types; ++t) {
    per_type[t].assign(n, std::vector<double>(n, 0.0));
    const double speed = 1.0 + 0.5 * static_cast<double>(t);
    for (size_t i = 0; i < n; ++i) {
      for (size_t j = 0; j < n; ++j) {
        double cost = i == j ? 0.0 : std::hypot(xs[i] - xs[j], ys[i] - ys[j]) / speed + unit(random);
        if (i != j && kinds.missing_arcs && unit(random) < 0.15) cost = kNoConnection;
        if (kinds.symmetric && j < i) cost = per_type[t][j][i];
        per_type[t][i][j] = cost;
        flat[t][i * n + j] = cost;
      }
    }
  }
  RandomInstance instance;
  instance.graph = std::make_unique<SparseGraph>(test_common::MatrixGraph(per_type));
  instance.tables.SetCostMatrices(flat, n, instance.graph.get());

  std::vector<size_t> starts, goals;
  std::vector<AgentInfo> agents(kinds.agents);
  for (size_t k = 0; k < kinds.agents; ++k) {
    agents[k].id = k;
    agents[k].type = static_cast<int64_t>(k % kinds.types);
    agents[k].time_limit = kinds.limits ? 150.0 + 150.0 * unit(random) : 0.0;
    if (kinds.own_depots) {
      starts.push_back(2 * k);
      goals.push_back(unit(random) < 0.5 ? 2 * k : 2 * k + 1);
    } else {
      starts.push_back(0);
      goals.push_back(0);
    }
  }
  std::vector<std::vector<size_t>> allowed(n);
  for (size_t i = 0; i < n; ++i) {
    const bool depot = std::find(starts.begin(), starts.end(), i) != starts.end() ||
                       std::find(goals.begin(), goals.end(), i) != goals.end();
    for (size_t t = 0; t < kinds.types; ++t) {
      if (!kinds.restricted || depot || t == 0 || unit(random) < 0.5) allowed[i].push_back(t);
    }
  }
  instance.tables.SetNodes(test_common::MakeNodes(allowed));
  instance.tables.SetAgents(agents);
  instance.tables.SetStarts(starts);
  instance.tables.SetGoals(goals);
  if (kinds.windows) {
    TimeWindowTable windows;
    for (size_t i = 0; i < n; ++i) {
      if (unit(random) < 0.6) {
        const double open = 200.0 * unit(random);
        windows[i] = {open, open + 40.0 + 200.0 * unit(random)};
      }
    }
    windows[starts[0]] = {0.0, 1000.0};
    instance.tables.SetTimeWindows(windows);
  }
  instance.tables.SetReturnToEnd(!kinds.open_routes);
  if (kinds.capacities) {
    // Drawn last, so that the rest of the instance does not depend on it.
    // Depots get demands too: the route rules must not count them.
    std::vector<double> demands(n);
    for (double& demand : demands) demand = std::floor(10.0 * unit(random));
    for (AgentInfo& agent : agents) agent.capacity_limit = unit(random) < 0.2 ? 0.0 : 10.0 + 20.0 * unit(random);
    instance.tables.SetAgents(agents);
    instance.tables.SetDemands(std::move(demands));
  }
  return instance;
}

// Every mix of constraint kinds the tests draw from.
// The constraint kinds of bits 1, 2, 4, 8, 16, 32 of `mask`: windows, limits,
// open routes, own depots, missing arcs, restricted types.
inline InstanceKinds KindsFromMask(int mask) {
  InstanceKinds kinds;
  kinds.windows = (mask & 1) != 0;
  kinds.limits = (mask & 2) != 0;
  kinds.open_routes = (mask & 4) != 0;
  kinds.own_depots = (mask & 8) != 0;
  kinds.missing_arcs = (mask & 16) != 0;
  kinds.restricted = (mask & 32) != 0;
  return kinds;
}

inline std::vector<InstanceKinds> AllKinds() {
  std::vector<InstanceKinds> all;
  for (int mask = 0; mask < 64; ++mask) {
    InstanceKinds kinds = KindsFromMask(mask);
    kinds.types = 1 + static_cast<size_t>(mask % 3);
    kinds.agents = 2 + static_cast<size_t>(mask % 3);
    kinds.capacities = mask % 4 == 1 || mask % 4 == 2;
    all.push_back(kinds);
  }
  return all;
}

}  // namespace tarsel::engine_test
