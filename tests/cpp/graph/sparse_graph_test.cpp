#include "graph/sparse_graph.h"

#include <gtest/gtest.h>

#include "common/console_capture.h"

#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace tarsel {
namespace {

using Costs = std::vector<double>;

// Runs `action`, which must throw runtime_error; returns the exception
// message and the text written to stdout.
template <typename Action>
std::pair<std::string, std::string> Failure(Action action) {
  testing::ConsoleCapture console;
  std::string message = "no exception";
  try {
    action();
  } catch (const std::runtime_error& e) {
    message = e.what();
  }
  return {message, console.TakeOut()};
}

// Checks that ArcCost agrees with GetArcCost on every pair (and one beyond).
void ExpectArcCostMatches(const SparseGraph& graph) {
  const size_t n = graph.NumVertex() + 1;
  for (size_t u = 0; u < n; ++u) {
    for (size_t v = 0; v < n; ++v) {
      const Costs full = graph.GetArcCost(u, v);
      for (size_t t = 0; t < graph.GetCostDim() + 1; ++t) {
        const double expected = t < full.size() ? full[t] : 0.0;
        EXPECT_EQ(graph.ArcCost(u, v, t), expected) << u << "->" << v << " dim " << t;
      }
    }
  }
}

TEST(SparseGraphTest, NewGraphIsEmpty) {
  SparseGraph graph;
  EXPECT_EQ(graph.NumVertex(), 0u);
  EXPECT_EQ(graph.NumArc(), 0u);
  EXPECT_EQ(graph.NumEdge(), 0u);
  EXPECT_EQ(graph.GetCostDim(), 0u);
  EXPECT_TRUE(graph.GetAllVertices().empty());
  EXPECT_EQ(graph.ToStr(),
            "=== SparseGraph Begin ===\n |V| = 0 outgoing edges \n incoming edges \n"
            "=== SparseGraph End ===");
}

TEST(SparseGraphTest, ToStrListsBothDirections) {
  SparseGraph graph;
  graph.AddArc(0, 1, {2.5});
  EXPECT_EQ(graph.ToStr(),
            "=== SparseGraph Begin ===\n |V| = 2 outgoing edges \n"
            " -- 0:[1([2.500000]),]\n -- 1:[]\n"
            " incoming edges \n"
            " -- 0:[]\n -- 1:[0([2.500000]),]\n"
            "=== SparseGraph End ===");

  SparseGraph wide;
  wide.AddArc(1, 0, {1, -0.125});
  wide.AddArc(1, 2, {1e7, 1.0 / 3});
  EXPECT_EQ(wide.ToStr(),
            "=== SparseGraph Begin ===\n |V| = 3 outgoing edges \n"
            " -- 0:[]\n -- 1:[0([1.000000,-0.125000]),2([10000000.000000,0.333333]),]\n -- 2:[]\n"
            " incoming edges \n"
            " -- 0:[1([1.000000,-0.125000]),]\n -- 1:[]\n -- 2:[1([10000000.000000,0.333333]),]\n"
            "=== SparseGraph End ===");
}

TEST(SparseGraphTest, AddArcCreatesVerticesAndOverwrites) {
  SparseGraph graph;
  graph.AddArc(3, 5, {1, 2});
  EXPECT_EQ(graph.NumVertex(), 6u);
  EXPECT_EQ(graph.GetAllVertices(), (std::vector<size_t>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(graph.GetCostDim(), 2u);
  EXPECT_EQ(graph.NumArc(), 2u);
  EXPECT_EQ(graph.NumEdge(), 1u);
  EXPECT_TRUE(graph.HasArc(3, 5));
  EXPECT_FALSE(graph.HasArc(5, 3));
  ExpectArcCostMatches(graph);

  graph.AddArc(3, 5, {4, 4});
  EXPECT_EQ(graph.NumArc(), 2u);
  EXPECT_EQ(graph.GetArcCost(3, 5), (Costs{4, 4}));
  EXPECT_EQ(graph.GetSuccCosts(3), (std::vector<Costs>{{4, 4}}));
  EXPECT_EQ(graph.GetPredCosts(5), (std::vector<Costs>{{4, 4}}));
  EXPECT_EQ(graph.GetPreds(5), (std::vector<size_t>{3}));
  ExpectArcCostMatches(graph);

  graph.AddArc(3, 1, {7, 8});
  graph.AddArc(3, 0, {9, 9});
  EXPECT_EQ(graph.GetSuccs(3), (std::vector<size_t>{5, 1, 0}));  // insertion order
  EXPECT_EQ(graph.NumArc(), 6u);
  graph.AddVertex(2);  // existing vertex: nothing changes
  EXPECT_EQ(graph.NumVertex(), 6u);
  graph.AddVertex(8);
  EXPECT_EQ(graph.NumVertex(), 9u);
  EXPECT_TRUE(graph.GetSuccs(8).empty());
  ExpectArcCostMatches(graph);
}

TEST(SparseGraphTest, AddArcDimensionMismatch) {
  SparseGraph graph;
  graph.AddArc(0, 1, {1, 2});
  const auto [message, out] = Failure([&] { graph.AddArc(4, 5, {1, 2, 3}); });
  EXPECT_EQ(message, "[ERROR] SparseGraph::AddArc cdim does not match");
  EXPECT_EQ(out, "[ERROR] SparseGraph::AddArc cdim does not match: 2 != 3\n");
  EXPECT_EQ(graph.NumVertex(), 6u);  // vertices created by the failed call stay
  EXPECT_EQ(graph.NumArc(), 2u);
  EXPECT_FALSE(graph.HasArc(4, 5));
}

TEST(SparseGraphTest, EmptyCostVectorLeavesDimensionOpen) {
  SparseGraph graph;
  graph.AddArc(0, 1, {});
  EXPECT_EQ(graph.GetCostDim(), 0u);
  graph.AddArc(1, 0, {3});
  EXPECT_EQ(graph.GetCostDim(), 1u);
  EXPECT_TRUE(graph.GetArcCost(0, 1).empty());
  EXPECT_EQ(graph.ArcCost(0, 1, 0), 0.0);
  EXPECT_EQ(graph.ArcCost(1, 0, 0), 3.0);
}

TEST(SparseGraphTest, AddEdgeAddsBothDirections) {
  SparseGraph graph;
  graph.AddEdge(0, 1, {5});
  EXPECT_EQ(graph.NumArc(), 4u);
  EXPECT_EQ(graph.NumEdge(), 2u);
  EXPECT_EQ(graph.GetArcCost(1, 0), (Costs{5}));
  EXPECT_EQ(graph.GetArcCost(0, 1), (Costs{5}));
}

TEST(SparseGraphTest, ChangeCostDimPadsAndTruncates) {
  SparseGraph graph;
  graph.AddArc(0, 1, {1, 2});
  graph.AddArc(1, 2, {3, 4});
  graph.ChangeCostDim(3, 9999.0);
  EXPECT_EQ(graph.GetCostDim(), 3u);
  EXPECT_EQ(graph.GetArcCost(0, 1), (Costs{1, 2, 9999.0}));
  EXPECT_EQ(graph.GetPredCosts(2), (std::vector<Costs>{{3, 4, 9999.0}}));
  ExpectArcCostMatches(graph);

  graph.ChangeCostDim(1, -1.0);
  EXPECT_EQ(graph.GetSuccCosts(1), (std::vector<Costs>{{3}}));
  EXPECT_EQ(graph.GetPredCosts(1), (std::vector<Costs>{{1}}));
  ExpectArcCostMatches(graph);
  EXPECT_THROW(graph.AddArc(0, 2, {1, 1}), std::runtime_error);
  graph.AddArc(0, 2, {6});
  EXPECT_EQ(graph.ArcCost(0, 2, 0), 6.0);
}

TEST(SparseGraphTest, ChangeCostDimOnEmptyGraphFixesDimension) {
  SparseGraph graph;
  graph.ChangeCostDim(2, 9999.0);
  EXPECT_EQ(graph.GetCostDim(), 2u);
  EXPECT_EQ(graph.NumVertex(), 0u);
  const auto [message, out] = Failure([&] { graph.AddArc(0, 1, {1}); });
  EXPECT_EQ(message, "[ERROR] SparseGraph::AddArc cdim does not match");
  EXPECT_EQ(out, "[ERROR] SparseGraph::AddArc cdim does not match: 2 != 1\n");
}

TEST(SparseGraphTest, SetArcCostChecksInOrder) {
  SparseGraph graph;
  graph.AddArc(0, 1, {1, 2});
  graph.AddVertex(2);

  const std::string dimension =
      "[ERROR] SparseGraph::SetArcCost new edge cost dimension does not match! Maybe call "
      "ChangeCostDim() at first.";
  // The dimension is checked before the vertices.
  auto [message, out] = Failure([&] { graph.SetArcCost(7, 8, {1}); });
  EXPECT_EQ(message, dimension);
  EXPECT_EQ(out, dimension + "\n");

  const std::string vertex = "[ERROR] SparseGraph::SetArcCost vertex does not exist!";
  std::tie(message, out) = Failure([&] { graph.SetArcCost(0, 3, {1, 1}); });
  EXPECT_EQ(message, vertex);
  EXPECT_EQ(out, vertex + "\n");

  const std::string arc = "[ERROR] SparseGraph::SetArcCost arc does not exist!";
  std::tie(message, out) = Failure([&] { graph.SetArcCost(1, 0, {1, 1}); });
  EXPECT_EQ(message, arc);
  EXPECT_EQ(out, arc + "\n");
  EXPECT_EQ(graph.NumVertex(), 3u);

  ExpectArcCostMatches(graph);  // fills the cost cache before the update
  EXPECT_TRUE(graph.SetArcCost(0, 1, {5, 6}));
  EXPECT_EQ(graph.GetArcCost(0, 1), (Costs{5, 6}));
  EXPECT_EQ(graph.GetPredCosts(1), (std::vector<Costs>{{5, 6}}));
  EXPECT_EQ(graph.NumArc(), 2u);
  ExpectArcCostMatches(graph);
}

TEST(SparseGraphTest, QueriesOnMissingVerticesAndArcs) {
  SparseGraph graph;
  graph.AddArc(0, 1, {1});
  EXPECT_FALSE(graph.HasVertex(2));
  EXPECT_TRUE(graph.HasVertex(1));
  EXPECT_TRUE(graph.GetArcCost(1, 0).empty());
  EXPECT_FALSE(graph.HasArc(5, 0));
  EXPECT_TRUE(graph.GetArcCost(5, 0).empty());
  EXPECT_EQ(graph.ArcCost(5, 0, 0), 0.0);
  EXPECT_EQ(graph.ArcCost(0, 5, 0), 0.0);
  EXPECT_TRUE(graph.GetSuccs(2).empty());
  EXPECT_TRUE(graph.GetPreds(2).empty());
  EXPECT_TRUE(graph.GetSuccCosts(2).empty());
  EXPECT_TRUE(graph.GetPredCosts(2).empty());
}

TEST(SparseGraphTest, CreateFromArcsRebuildsOneDirection) {
  SparseGraph graph;
  graph.AddArc(0, 4, {1, 1});
  graph.CreateFromArcs({}, {}, {});
  EXPECT_EQ(graph.NumVertex(), 1u);
  EXPECT_TRUE(graph.GetSuccs(0).empty());
  EXPECT_TRUE(graph.GetPreds(0).empty());
  EXPECT_EQ(graph.NumArc(), 2u);  // counter and dimension are kept
  EXPECT_EQ(graph.GetCostDim(), 2u);

  graph.CreateFromArcs({0, 2, 0}, {1, 1, 1}, {{1, 2}, {3, 4}, {5, 6}});
  EXPECT_EQ(graph.NumVertex(), 3u);
  EXPECT_EQ(graph.GetSuccs(0), (std::vector<size_t>{1, 1}));  // duplicates kept
  EXPECT_EQ(graph.GetPreds(1), (std::vector<size_t>{0, 2, 0}));
  EXPECT_EQ(graph.GetArcCost(0, 1), (Costs{1, 2}));  // the first entry answers
  EXPECT_FALSE(graph.HasArc(1, 0));
  ExpectArcCostMatches(graph);
}

TEST(SparseGraphTest, CreateFromEdgesRebuildsBothDirections) {
  SparseGraph graph;
  graph.CreateFromEdges({0}, {2}, {{7}});
  EXPECT_EQ(graph.NumVertex(), 3u);
  EXPECT_EQ(graph.GetArcCost(0, 2), (Costs{7}));
  EXPECT_EQ(graph.GetArcCost(2, 0), (Costs{7}));
  EXPECT_EQ(graph.GetPreds(0), (std::vector<size_t>{2}));
  EXPECT_EQ(graph.GetPreds(2), (std::vector<size_t>{0}));
  EXPECT_TRUE(graph.GetSuccs(1).empty());
  EXPECT_EQ(graph.NumArc(), 0u);
  EXPECT_EQ(graph.GetCostDim(), 0u);
  // The dimension was never fixed, so ArcCost answers from the stored vector.
  EXPECT_EQ(graph.ArcCost(2, 0, 0), 7.0);
  ExpectArcCostMatches(graph);

  // Mixed vector lengths after a rebuild are read exactly as stored.
  graph.ChangeCostDim(2, 0.5);
  graph.CreateFromEdges({0, 1}, {1, 3}, {{1, 2}, {3}});
  EXPECT_EQ(graph.ArcCost(1, 3, 0), 3.0);
  EXPECT_EQ(graph.ArcCost(1, 3, 1), 0.0);
  ExpectArcCostMatches(graph);
}

TEST(SparseGraphTest, ArcCostFollowsMutationsOfCompleteGraph) {
  SparseGraph graph;
  graph.ChangeCostDim(2, 9999.0);
  for (size_t j = 0; j < 5; ++j) graph.AddVertex(j);
  for (size_t j = 0; j < 5; ++j) {
    for (size_t k = 0; k < 5; ++k) {
      if (j != k) graph.AddArc(j, k, {double(j * 10 + k), double(k * 10 + j)});
    }
  }
  EXPECT_EQ(graph.NumEdge(), 20u);
  ExpectArcCostMatches(graph);
  graph.AddArc(4, 1, {-1, -2});
  ExpectArcCostMatches(graph);
  graph.SetArcCost(2, 3, {0.25, 0.5});
  ExpectArcCostMatches(graph);
  graph.AddArc(6, 0, {8, 9});
  ExpectArcCostMatches(graph);
  graph.ChangeCostDim(3, 1.5);
  ExpectArcCostMatches(graph);
  EXPECT_EQ(graph.ArcCost(6, 0, 2), 1.5);
}

}  // namespace
}  // namespace tarsel
