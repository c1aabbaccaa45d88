#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <random>
#include <tuple>
#include <vector>

#include "engine/granular_neighbours.h"
#include "engine/local_search.h"
#include "engine/random_instance.h"
#include "engine/random_routes.h"
#include "engine/route_rules.h"
#include "engine/solution.h"
#include "engine/tour_candidates.h"

namespace tarsel {
namespace {

using engine_test::InstanceKinds;
using engine_test::MakeRandomInstance;

using Nodes = std::vector<size_t>;
using Matrix = std::vector<std::vector<double>>;

Matrix RandomSymmetric(size_t n, std::mt19937& random) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<double> xs(n), ys(n);
  for (size_t i = 0; i < n; ++i) {
    xs[i] = 100 * unit(random);
    ys[i] = 100 * unit(random);
  }
  Matrix cost(n, std::vector<double>(n, 0.0));
  for (size_t i = 0; i < n; ++i) {
    for (size_t j = i + 1; j < n; ++j) {
      cost[i][j] = cost[j][i] = std::hypot(xs[i] - xs[j], ys[i] - ys[j]) + unit(random);
    }
  }
  return cost;
}

// Every 1-tree over points 0..n-1 with `special` outside the spanning tree,
// enumerated: every spanning tree of the other points by its Pruefer
// sequence, with every pair of edges at the special point. Returns, per
// edge (i, j), the length of the shortest 1-tree containing it, less the
// shortest 1-tree's length: alpha by its definition.
Matrix BruteForceAlpha(const Matrix& cost, size_t special) {
  const size_t n = cost.size();
  Nodes others;
  for (size_t v = 0; v < n; ++v) {
    if (v != special) others.push_back(v);
  }
  const size_t r = others.size();
  constexpr double kInf = std::numeric_limits<double>::infinity();
  Matrix shortest(n, std::vector<double>(n, kInf));  // per edge: the shortest 1-tree holding it
  double overall = kInf;
  Nodes code(r - 2, 0);
  while (true) {
    // Decode the Pruefer sequence into the tree's edges.
    std::vector<size_t> degree(r, 1);
    for (const size_t c : code) ++degree[c];
    std::vector<std::pair<size_t, size_t>> edges;
    for (const size_t c : code) {
      for (size_t leaf = 0; leaf < r; ++leaf) {
        if (degree[leaf] == 1) {
          edges.emplace_back(others[leaf], others[c]);
          --degree[leaf];
          --degree[c];
          break;
        }
      }
    }
    size_t a = r, b = r;
    for (size_t v = 0; v < r; ++v) {
      if (degree[v] == 1) (a == r ? a : b) = v;
    }
    edges.emplace_back(others[a], others[b]);
    double tree = 0;
    for (const auto& [u, v] : edges) tree += cost[u][v];
    for (size_t x = 0; x < r; ++x) {
      for (size_t y = x + 1; y < r; ++y) {
        const double length = tree + cost[special][others[x]] + cost[special][others[y]];
        overall = std::min(overall, length);
        auto hold = [&](size_t u, size_t v) {
          shortest[u][v] = std::min(shortest[u][v], length);
          shortest[v][u] = shortest[u][v];
        };
        for (const auto& [u, v] : edges) hold(u, v);
        hold(special, others[x]);
        hold(special, others[y]);
      }
    }
    size_t at = 0;
    while (at < code.size() && ++code[at] == r) code[at++] = 0;
    if (at == code.size()) break;
  }
  for (auto& row : shortest) {
    for (double& value : row) value -= overall;
  }
  return shortest;
}

// Alpha from the 1-tree and the tree's path maxima equals alpha by
// definition (the shortest 1-tree forced to hold the edge), for every
// edge, at and away from the special point; the 1-tree is the shortest.
// Guards the path-maximum walk (points on and off the root path), the
// special point's rule and Prim's tree.
TEST(TourCandidates, AlphaEqualsTheShortestOneTreeHoldingTheEdge) {
  for (const size_t n : {6u, 7u}) {
    for (unsigned seed = 1; seed <= 6; ++seed) {
      std::mt19937 random(seed);
      const Matrix cost = RandomSymmetric(n, random);
      const size_t special = seed % n;
      auto at = [&](size_t i, size_t j) { return cost[i][j]; };
      OneTree tree;
      std::vector<double> key, alpha, beta;
      Nodes mark;
      MinimumOneTree(n, special, at, tree, key);
      const Matrix expected = BruteForceAlpha(cost, special);
      double shortest = std::numeric_limits<double>::infinity();
      for (size_t i = 0; i < n; ++i) {
        for (size_t j = 0; j < n; ++j) {
          if (i != j) shortest = std::min(shortest, expected[i][j]);
        }
      }
      EXPECT_NEAR(shortest, 0.0, 1e-9);
      int degrees = 0;
      for (const int d : tree.degree) degrees += d;
      EXPECT_EQ(degrees, static_cast<int>(2 * n));  // n edges
      for (size_t i = 0; i < n; ++i) {
        AlphaRow(tree, i, at, alpha, beta, mark);
        for (size_t j = 0; j < n; ++j) {
          if (j == i) continue;
          EXPECT_NEAR(alpha[j], expected[i][j], 1e-9) << "n " << n << " seed " << seed << " edge " << i << "-" << j;
        }
      }
    }
  }
}

// The candidates of a symmetric type are the `count` targets of least alpha
// (ties by cost) on the costs shifted by the ascent's penalties, alpha
// taken by its definition; every list holds distinct targets other than its
// own; the penalties only lengthen the 1-tree bound (length less twice the
// penalties), which stays below every tour (the shortest, enumerated).
TEST(TourCandidates, ListsHoldTheLeastAlphaOfTheShiftedCosts) {
  for (unsigned seed : {3u, 4u, 5u}) {
    InstanceKinds kinds;
    kinds.nodes = 8;  // a depot and 7 targets
    kinds.agents = 2;
    kinds.types = 1;
    kinds.symmetric = true;
    engine_test::RandomInstance instance = MakeRandomInstance(kinds, seed);
    RouteRules rules(instance.tables);
    GranularNeighbours nearest(rules, 20);
    const size_t count = 4;
    TourCandidates candidates(rules, nearest, count, 30);
    ASSERT_TRUE(candidates.ByAlpha(0));
    ASSERT_EQ(candidates.Count(), count);
    const Nodes& targets = rules.Targets();
    const size_t n = targets.size();
    const std::vector<double>& pi = candidates.Penalties(0);
    ASSERT_EQ(pi.size(), n);
    Matrix plain(n, std::vector<double>(n, 0.0)), shifted = plain;
    for (size_t i = 0; i < n; ++i) {
      for (size_t j = 0; j < n; ++j) {
        if (i == j) continue;
        plain[i][j] = instance.tables.Cost(0, targets[i], targets[j]);
        shifted[i][j] = plain[i][j] + pi[i] + pi[j];
      }
    }
    const Matrix alpha = BruteForceAlpha(shifted, 0);
    for (size_t i = 0; i < n; ++i) {
      std::vector<std::tuple<double, double, size_t>> ranked;
      for (size_t j = 0; j < n; ++j) {
        if (j != i) ranked.emplace_back(alpha[i][j], plain[i][j], targets[j]);
      }
      std::sort(ranked.begin(), ranked.end());
      const size_t* list = candidates.Begin(0, targets[i]);
      Nodes seen(list, list + count);
      std::sort(seen.begin(), seen.end());
      EXPECT_EQ(std::unique(seen.begin(), seen.end()), seen.end());
      for (size_t c = 0; c < count; ++c) {
        EXPECT_NE(list[c], targets[i]);
        // Equal alphas up to rounding may come in either order.
        const size_t at = std::find_if(ranked.begin(), ranked.end(),
                                       [&](const auto& entry) { return std::get<2>(entry) == list[c]; }) -
                          ranked.begin();
        ASSERT_LT(at, ranked.size());
        EXPECT_NEAR(std::get<0>(ranked[at]), std::get<0>(ranked[c]), 1e-9) << "target " << targets[i] << " rank " << c;
      }
    }
    // The bound: the shortest 1-tree on shifted costs less twice the penalties.
    auto bound = [&](const Matrix& cost, const std::vector<double>& penalties) {
      OneTree tree;
      std::vector<double> key;
      MinimumOneTree(n, 0, [&](size_t i, size_t j) { return cost[i][j]; }, tree, key);
      double sum = 0;
      for (const double p : penalties) sum += p;
      return tree.length - 2 * sum;
    };
    const double zero = bound(plain, std::vector<double>(n, 0.0));
    const double raised = bound(shifted, pi);
    EXPECT_GE(raised, zero - 1e-9);
    Nodes order(n);
    for (size_t i = 0; i < n; ++i) order[i] = i;
    double best_tour = std::numeric_limits<double>::infinity();
    do {
      double length = plain[order[n - 1]][order[0]];
      for (size_t i = 0; i + 1 < n; ++i) length += plain[order[i]][order[i + 1]];
      best_tour = std::min(best_tour, length);
    } while (std::next_permutation(order.begin() + 1, order.end()));
    EXPECT_LE(raised, best_tour + 1e-9);
  }
}

// A type whose matrix is not symmetric keeps its nearest neighbours, and
// so does a symmetric one whose ascent or alpha rows the stop check cuts
// short, at the first ask or later; without a stop it gets alpha lists.
TEST(TourCandidates, AsymmetricOrStoppedTypesKeepTheNearestNeighbours) {
  const auto expect_nearest = [](const RouteRules& rules, const GranularNeighbours& nearest,
                                 const TourCandidates& candidates) {
    EXPECT_FALSE(candidates.ByAlpha(0));
    for (const size_t u : rules.Targets()) {
      EXPECT_EQ(Nodes(candidates.Begin(0, u), candidates.Begin(0, u) + 6),
                Nodes(nearest.Begin(0, u), nearest.Begin(0, u) + 6));
    }
  };
  InstanceKinds kinds;
  kinds.nodes = 30;
  kinds.agents = 2;
  kinds.types = 1;
  engine_test::RandomInstance asymmetric = MakeRandomInstance(kinds, 7);
  RouteRules asymmetric_rules(asymmetric.tables);
  GranularNeighbours asymmetric_nearest(asymmetric_rules, 20);
  expect_nearest(asymmetric_rules, asymmetric_nearest, TourCandidates(asymmetric_rules, asymmetric_nearest, 6, 30));

  kinds.symmetric = true;
  engine_test::RandomInstance symmetric = MakeRandomInstance(kinds, 7);
  RouteRules rules(symmetric.tables);
  GranularNeighbours nearest(rules, 20);
  // Asked once before the ascent, at each of its steps and once per 64
  // rows of alpha: the last ask is the alpha rows'.
  size_t all_asks = 0;
  EXPECT_TRUE(TourCandidates(rules, nearest, 6, 30, [&] { return ++all_asks == 0; }).ByAlpha(0));
  ASSERT_GE(all_asks, 3u);
  for (const size_t stop_at : {size_t{1}, size_t{2}, all_asks}) {
    size_t asks = 0;
    const TourCandidates stopped(rules, nearest, 6, 30, [&] { return ++asks >= stop_at; });
    EXPECT_EQ(asks, stop_at);
    expect_nearest(rules, nearest, stopped);
  }
}

// The tour pass drawing its chains' and Or-3opt's targets from alpha lists:
// the route keeps its targets and no other route gains any, its stored cost
// is its exact cost, a second pass finds nothing, and the tour differs from
// the one the nearest lists give from the same start (the lists are used).
TEST(TourCandidates, TourPassWithAlphaListsKeepsTargetsAndEndsAtALocalOptimum) {
  for (unsigned seed : {21u, 22u}) {
    InstanceKinds kinds;
    kinds.nodes = 201;
    kinds.agents = 2;
    kinds.types = 1;
    kinds.symmetric = true;
    engine_test::RandomInstance instance = MakeRandomInstance(kinds, seed);
    RouteRules rules(instance.tables);
    rules.SetMinMax(false);
    GranularNeighbours neighbours(rules, 8);
    TourCandidates candidates(rules, neighbours, 6, 50);
    ASSERT_TRUE(candidates.ByAlpha(0));
    LocalSearch by_alpha(rules, neighbours);
    by_alpha.SetTourCandidates(&candidates);
    LocalSearch by_distance(rules, neighbours);
    const PenaltyWeights weights;
    Solution alpha_solution(rules), distance_solution(rules);
    for (Solution* solution : {&alpha_solution, &distance_solution}) {
      std::mt19937 random(seed);
      engine_test::OneRandomTour(rules, *solution, weights, random);
    }
    const Nodes before = alpha_solution.Route(0).nodes;
    const double initial = alpha_solution.Route(0).cost;
    EXPECT_GT(by_alpha.ImproveTour(alpha_solution, weights, 0, nullptr), 50u);
    by_distance.ImproveTour(distance_solution, weights, 0, nullptr);
    EXPECT_EQ(engine_test::Sorted(alpha_solution.Route(0).nodes), engine_test::Sorted(before));
    EXPECT_EQ(alpha_solution.Route(1).Targets(), 0u);
    EXPECT_NEAR(alpha_solution.Route(0).cost, rules.ExactCost(0, alpha_solution.Route(0).nodes, weights), 1e-6);
    EXPECT_LT(alpha_solution.Route(0).cost, initial / 3);
    EXPECT_NE(alpha_solution.Route(0).nodes, distance_solution.Route(0).nodes);
    EXPECT_EQ(by_alpha.ImproveTour(alpha_solution, weights, 0, nullptr), 0u);
  }
}

}  // namespace
}  // namespace tarsel
