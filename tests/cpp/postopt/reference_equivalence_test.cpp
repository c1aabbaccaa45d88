// The filtered post-optimisers must give exactly what the plain algorithm
// gives: same paths, bit-identical costs, same messages.

#include <gtest/gtest.h>

#include "common/console_capture.h"

#include <algorithm>
#include <random>
#include <string>

#include "postopt/default_post_optimizer.h"
#include "postopt/route_merging_post_optimizer.h"
#include "postopt_test_support.h"
#include "reference_post_optimizers.h"

namespace tarsel {
namespace {

using namespace postopt_testing;

struct Instance {
  SparseGraph graph;
  std::vector<NodeInfo> nodes;
  std::vector<AgentInfo> agents;
  RouteRules rules;
  Result input;
};

// Random instance: depots shared or per agent, targets with random allowed
// types, euclidean, random real or small integer costs (ties), some missing
// arcs, optional time windows and time limits, open or closed routes, and
// random initial routes (some invalid, some agents without a path).
Instance RandomInstance(std::mt19937& rng) {
  auto uniform = [&rng](double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(rng);
  };
  auto chance = [&](double p) { return uniform(0, 1) < p; };
  auto pick = [&rng](size_t lo, size_t hi) {
    return std::uniform_int_distribution<size_t>(lo, hi)(rng);
  };

  Instance instance;
  const size_t num_types = pick(1, 3);
  const size_t num_agents = pick(2, 5);
  const size_t depot_mode = pick(0, 2);  // shared, own depot, own start and goal
  const size_t num_depots = depot_mode == 0 ? 1 : depot_mode == 1 ? num_agents : 2 * num_agents;
  const size_t num_nodes = num_depots + pick(3, 18);

  std::vector<int64_t> types(num_agents);
  std::vector<double> limits(num_agents, 0.0);
  for (size_t k = 0; k < num_agents; ++k) {
    types[k] = chance(0.05) ? -1 : static_cast<int64_t>(pick(0, num_types - 1));
    if (chance(0.3)) limits[k] = uniform(40, 250);
  }
  instance.agents = MakeAgents(types, limits);

  std::vector<std::vector<size_t>> allowed(num_nodes);
  for (size_t v = 0; v < num_nodes; ++v) {
    for (size_t t = 0; t < num_types; ++t) {
      if (v < num_depots || (chance(0.75))) allowed[v].push_back(t);
    }
    if (v >= num_depots && chance(0.05)) allowed[v].clear();
  }
  instance.nodes = MakeNodes(allowed);

  RouteRules& rules = instance.rules;
  rules.return_to_end = chance(0.5);
  for (size_t k = 0; k < num_agents; ++k) {
    rules.starts.push_back(depot_mode == 0 ? 0 : k);
    rules.goals.push_back(depot_mode == 0 ? 0 : depot_mode == 1 ? k : num_agents + k);
  }
  if (chance(0.4)) {
    for (size_t v = num_depots; v < num_nodes; ++v) {
      if (chance(0.4)) {
        const double start = uniform(0, 60);
        rules.time_windows[v] = {start, start + uniform(10, 100)};
      }
    }
  }

  const size_t cost_mode = pick(0, 2);  // euclidean, real, small integers
  std::vector<double> xs(num_nodes), ys(num_nodes);
  for (size_t v = 0; v < num_nodes; ++v) xs[v] = uniform(0, 40), ys[v] = uniform(0, 40);
  const double missing = chance(0.3) ? 0.05 : 0.0;
  for (size_t u = 0; u < num_nodes; ++u) instance.graph.AddVertex(u);
  for (size_t u = 0; u < num_nodes; ++u) {
    for (size_t v = 0; v < num_nodes; ++v) {
      if (u == v || chance(missing)) continue;
      std::vector<double> cost(num_types);
      for (size_t t = 0; t < num_types; ++t) {
        if (cost_mode == 0) cost[t] = (1.0 + 0.5 * t) * std::hypot(xs[u] - xs[v], ys[u] - ys[v]);
        if (cost_mode == 1) cost[t] = uniform(1, 50);
        if (cost_mode == 2) cost[t] = static_cast<double>(pick(1, 9));
      }
      instance.graph.AddArc(u, v, cost);
    }
  }

  std::vector<std::vector<uint64_t>> inner(num_agents);
  for (size_t v = num_depots; v < num_nodes; ++v) inner[pick(0, num_agents - 1)].push_back(v);
  for (size_t k = 0; k < num_agents; ++k) {
    if (chance(0.08)) continue;  // no path entry
    std::vector<uint64_t> path = {rules.starts[k]};
    path.insert(path.end(), inner[k].begin(), inner[k].end());
    path.push_back(rules.return_to_end || chance(0.5) ? rules.goals[k] : rules.starts[k]);
    instance.input.paths[k] = path;
  }
  instance.input.n_generated = 17;
  return instance;
}

template <class Optimizer>
Result RunOptimized(const Instance& instance, const Result& input, std::string& messages) {
  Optimizer optimizer;
  Configure(optimizer, instance.rules);
  Result result = input;
  testing::ConsoleCapture console;
  optimizer.Optimize(&instance.graph, instance.nodes, instance.agents, result);
  messages = console.TakeErr();
  return result;
}

void ExpectSameResult(const Result& actual, const Result& expected, int seed) {
  EXPECT_EQ(actual.paths, expected.paths) << "seed " << seed;
  EXPECT_EQ(actual.times, expected.times) << "seed " << seed;  // exact equality
  EXPECT_EQ(actual.n_generated, expected.n_generated) << "seed " << seed;
}

TEST(ReferenceEquivalenceTest, FilteredOptimizersMatchThePlainAlgorithm) {
  int default_changed = 0;
  int merge_changed = 0;
  for (int seed = 0; seed < 400; ++seed) {
    std::mt19937 rng(static_cast<unsigned>(seed));
    const Instance instance = RandomInstance(rng);
    ReferencePostOptimizers reference(instance.rules, &instance.graph, instance.nodes,
                                      instance.agents);

    std::string messages;
    const Result balanced = RunOptimized<DefaultPostOptimizer>(instance, instance.input, messages);
    Result expected = instance.input;
    testing::ConsoleCapture console;
    reference.OptimizeDefault(expected);
    EXPECT_EQ(messages, console.TakeErr()) << "seed " << seed;
    ExpectSameResult(balanced, expected, seed);

    // The merger on raw routes (more to dissolve) and after the balancing.
    for (const Result* input : {&instance.input, &balanced}) {
      const Result merged = RunOptimized<RouteMergingPostOptimizer>(instance, *input, messages);
      EXPECT_TRUE(messages.empty());
      Result merged_expected = *input;
      reference.OptimizeMerging(merged_expected);
      ExpectSameResult(merged, merged_expected, seed);
      if (merged.paths != input->paths) ++merge_changed;
    }
    Result untouched = instance.input;
    for (size_t k = 0; k < instance.agents.size(); ++k) untouched.paths.try_emplace(k);
    if (balanced.paths != untouched.paths) ++default_changed;
  }
  // The comparison means something only if the optimisers had work to do.
  EXPECT_GT(default_changed, 100);
  EXPECT_GT(merge_changed, 100);
}

}  // namespace
}  // namespace tarsel
