#include "plugins/default_heuristic.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "plugin_test_util.h"
#include "common/special_values.h"

namespace tarsel {
namespace {

using testing::MakeAgents;
using testing::MakeLabel;

constexpr double kUnconnectable = 1.1235582092889473e307;

// The forest computed the plain way: after every attached node, rescan the
// edge list from its start for the first usable edge.
double RescanningEstimate(const std::vector<MstEdge>& edges, size_t num_agents,
                          const Label& label) {
  VisitedSet tree = label.visited;
  VisitedSet closed = label.visited;
  for (size_t k = 0; k < num_agents; ++k) tree.Set(label.current_nodes[k]);
  for (size_t k = 0; k < num_agents; ++k) {
    if (label.finished[k] == 0) closed.Reset(label.current_nodes[k]);
  }
  const int64_t n = label.num_nodes;
  if (n < 1) return 0;
  double sum = 0;
  while (true) {
    bool all = true;
    for (int64_t i = 0; i < n; ++i) all = all && tree.Test(static_cast<size_t>(i));
    if (all) return sum;
    const MstEdge* taken = nullptr;
    for (const MstEdge& e : edges) {
      if (e.w < kNoConnection && tree.Test(e.u) != tree.Test(e.v) && !closed.Test(e.u) &&
          !closed.Test(e.v)) {
        taken = &e;
        break;
      }
    }
    if (taken == nullptr) return kMaxDouble / 16;
    sum += taken->w;
    tree.Set(tree.Test(taken->u) ? taken->v : taken->u);
  }
}

DefaultHeuristic MakeHeuristic(size_t num_agents, const std::vector<MstEdge>& edges) {
  DefaultHeuristic heuristic;
  heuristic.Initialize(nullptr, {}, MakeAgents(std::vector<int64_t>(num_agents, 0)));
  heuristic.SetMstEdges(edges);
  return heuristic;
}

TEST(DefaultHeuristicTest, MatchesRescanningForestOnRandomLabels) {
  std::mt19937_64 rng(20240611);
  int unconnectable_seen = 0;
  int finite_seen = 0;
  for (int round = 0; round < 400; ++round) {
    const int32_t n = round % 50 == 0 ? 256 : 1 + static_cast<int32_t>(rng() % 40);
    const size_t num_agents = 1 + rng() % 4;
    // Few distinct weights so that ties are frequent and the scan order
    // decides; some pairs missing or marked unconnected.
    std::vector<MstEdge> edges;
    std::uniform_real_distribution<double> fraction(0.0, 1.0);
    const double density = 0.2 + 0.8 * fraction(rng);
    for (size_t u = 1; u < static_cast<size_t>(n); ++u) {
      for (size_t v = 0; v < u; ++v) {
        if (fraction(rng) > density) continue;
        double w = static_cast<double>(rng() % 7) + (rng() % 3 == 0 ? 0.1 * fraction(rng) : 0.0);
        if (rng() % 15 == 0) w = rng() % 2 == 0 ? kNoConnection : 12000.0;
        edges.push_back({u, v, w});
      }
    }
    std::shuffle(edges.begin(), edges.end(), rng);
    std::stable_sort(edges.begin(), edges.end(),
                     [](const MstEdge& a, const MstEdge& b) { return a.w < b.w; });
    const DefaultHeuristic heuristic = MakeHeuristic(num_agents, edges);

    for (int sample = 0; sample < 10; ++sample) {
      Label label = MakeLabel(n, num_agents);
      const double visited_share = fraction(rng);
      for (size_t i = 0; i < static_cast<size_t>(n); ++i) {
        if (fraction(rng) < visited_share) label.visited.Set(i);
      }
      for (size_t k = 0; k < num_agents; ++k) {
        label.current_nodes[k] = rng() % static_cast<size_t>(n);
        if (rng() % 3 != 0) label.visited.Set(label.current_nodes[k]);
        label.finished[k] = rng() % 3 == 0 ? 1 : 0;
      }
      const double expected = RescanningEstimate(edges, num_agents, label);
      EXPECT_EQ(heuristic.Estimate(label), expected) << "round " << round << " sample " << sample;
      (expected == kUnconnectable ? unconnectable_seen : finite_seen)++;
    }
  }
  // The random cases must exercise both outcomes.
  EXPECT_GT(unconnectable_seen, 100);
  EXPECT_GT(finite_seen, 100);
}

// More candidate edges than 16-bit ranks can number, the usable ones ranked
// behind 70,000 unusable ones: the forest is the one the plain rescan finds,
// so ranks above 65,535 are kept whole.
TEST(DefaultHeuristicTest, LongEdgeListsGiveTheSameForest) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> fraction(0.0, 1.0);
  for (int round = 0; round < 20; ++round) {
    const int32_t n = 5 + static_cast<int32_t>(rng() % 60);
    const size_t num_agents = 1 + rng() % 3;
    std::vector<MstEdge> usable;
    for (size_t u = 1; u < static_cast<size_t>(n); ++u) {
      for (size_t v = 0; v < u; ++v) {
        if (fraction(rng) < 0.5) usable.push_back({u, v, static_cast<double>(rng() % 9)});
      }
    }
    std::stable_sort(usable.begin(), usable.end(),
                     [](const MstEdge& a, const MstEdge& b) { return a.w < b.w; });
    std::vector<MstEdge> edges;
    while (edges.size() < 70000) {
      edges.push_back({rng() % static_cast<size_t>(n), rng() % static_cast<size_t>(n), kNoConnection});
    }
    edges.insert(edges.end(), usable.begin(), usable.end());
    const DefaultHeuristic heuristic = MakeHeuristic(num_agents, edges);
    for (int sample = 0; sample < 10; ++sample) {
      Label label = MakeLabel(n, num_agents);
      for (size_t i = 0; i < static_cast<size_t>(n); ++i) {
        if (fraction(rng) < 0.5) label.visited.Set(i);
      }
      for (size_t k = 0; k < num_agents; ++k) {
        label.current_nodes[k] = rng() % static_cast<size_t>(n);
        label.finished[k] = rng() % 3 == 0 ? 1 : 0;
      }
      EXPECT_EQ(heuristic.Estimate(label), RescanningEstimate(usable, num_agents, label))
          << "round " << round << " sample " << sample;
    }
  }
}

TEST(DefaultHeuristicTest, TrivialLabels) {
  const std::vector<MstEdge> edges = {{1, 0, 1.0}, {2, 1, 2.0}, {2, 0, 4.0}};
  const DefaultHeuristic heuristic = MakeHeuristic(2, edges);

  Label all_visited = MakeLabel(3, 2);
  all_visited.visited.SetFrom(0);
  all_visited.current_nodes = {1, 2};
  EXPECT_EQ(heuristic.Estimate(all_visited), 0.0);

  Label no_nodes = MakeLabel(0, 2);
  EXPECT_EQ(heuristic.Estimate(no_nodes), 0.0);

  // An unvisited node whose only edge is marked unconnected.
  const DefaultHeuristic cut = MakeHeuristic(1, {{1, 0, 3.0}, {2, 0, kNoConnection}});
  Label stranded = MakeLabel(3, 1);
  stranded.visited.Set(0);
  EXPECT_EQ(cut.Estimate(stranded), kUnconnectable);
  EXPECT_EQ(kUnconnectable, kMaxDouble / 16);
}

// Edges at or above the tables' missing-cost threshold are no edges; a
// raised threshold makes them count.
TEST(DefaultHeuristicTest, EdgesAtTheMissingCostThresholdAreNotUsed) {
  const std::vector<MstEdge> edges = {{1, 0, 3.0}, {2, 0, 12000.0}};
  Label stranded = MakeLabel(3, 1);
  stranded.visited.Set(0);
  EXPECT_EQ(MakeHeuristic(1, edges).Estimate(stranded), kUnconnectable);
  InstanceTables tables;
  tables.SetAgents(MakeAgents({0}));
  tables.SetMissingCost(20000);
  DefaultHeuristic raised;
  raised.AttachTables(tables);
  raised.SetMstEdges(edges);
  EXPECT_EQ(raised.Estimate(stranded), 12003.0);
}

// Nodes 0..3; agent 0 stands on visited node 0, agent 1 on visited node 1,
// nodes 2 and 3 unvisited. Cheap edges touch node 1 only.
TEST(DefaultHeuristicTest, OnlyActiveAgentsPositionsAreAttachPoints) {
  const std::vector<MstEdge> edges = {{2, 1, 1.0}, {3, 1, 1.0}, {3, 2, 2.0}, {2, 0, 5.0}};
  const DefaultHeuristic heuristic = MakeHeuristic(2, edges);
  Label label = MakeLabel(4, 2);
  label.visited.Set(0);
  label.visited.Set(1);
  label.current_nodes = {0, 1};

  EXPECT_EQ(heuristic.Estimate(label), 2.0);  // both attach to node 1

  label.finished[1] = 1;  // node 1 is now closed: attach through node 0
  EXPECT_EQ(heuristic.Estimate(label), 7.0);

  label.finished[0] = 1;  // nothing left to grow from
  EXPECT_EQ(heuristic.Estimate(label), kUnconnectable);

  // A finished agent still counts as covering its own unvisited position.
  Label on_target = MakeLabel(4, 2);
  on_target.visited.Set(0);
  on_target.visited.Set(1);
  on_target.current_nodes = {0, 2};
  on_target.finished = {0, 1};
  EXPECT_EQ(heuristic.Estimate(on_target), 2.0);  // 3 via node 2

  // A visited node that no active agent stands on cannot be passed through.
  const DefaultHeuristic through = MakeHeuristic(1, {{1, 0, 1.0}, {2, 1, 1.0}, {2, 0, 10.0}});
  Label pass = MakeLabel(3, 1);
  pass.visited.Set(0);
  pass.visited.Set(1);
  EXPECT_EQ(through.Estimate(pass), 10.0);
}

// With open routes the leg into the agent's own start or end node is free:
// the forest leaves both out. Agent 0 returns to node 0, agent 1 ends at
// node 3; both stand on visited targets, target 4 is left.
TEST(DefaultHeuristicTest, OpenRoutesDoNotPayTheLastLeg) {
  const std::vector<MstEdge> edges = {{4, 0, 1.0}, {3, 1, 2.0}, {1, 0, 3.0}, {4, 2, 4.0}};
  auto estimate = [&edges](bool return_to_end) {
    InstanceTables tables;
    tables.SetAgents(MakeAgents({0, 0}));
    tables.SetStarts({0, 2});
    tables.SetGoals({0, 3});
    tables.SetReturnToEnd(return_to_end);
    DefaultHeuristic heuristic;
    heuristic.AttachTables(tables);
    heuristic.SetMstEdges(edges);
    Label label = MakeLabel(5, 2);
    label.visited.Set(1);
    label.visited.Set(2);
    label.current_nodes = {1, 2};
    return heuristic.Estimate(label);
  };
  // Closed: node 3 from 1 (2), node 0 from 1 (3), node 4 from 0 (1).
  EXPECT_EQ(estimate(true), 6.0);
  // Open: only target 4, from agent 1's position 2; node 0 is no hub.
  EXPECT_EQ(estimate(false), 4.0);
}

TEST(DefaultHeuristicTest, ReplacingTheEdgeListRebuildsTheLookups) {
  DefaultHeuristic heuristic = MakeHeuristic(1, {{1, 0, 1.0}, {2, 1, 1.0}});
  Label label = MakeLabel(3, 1);
  label.visited.Set(0);
  EXPECT_EQ(heuristic.Estimate(label), 2.0);
  heuristic.SetMstEdges({{2, 0, 4.0}, {1, 0, 5.0}});
  EXPECT_EQ(heuristic.Estimate(label), 9.0);
  heuristic.SetMstEdges({});
  EXPECT_EQ(heuristic.Estimate(label), kUnconnectable);
}

}  // namespace
}  // namespace tarsel
