#pragma once

#include <algorithm>
#include <cstddef>
#include <functional>
#include <limits>
#include <vector>

#include "engine/granular_neighbours.h"
#include "engine/route_rules.h"

namespace tarsel {

// The minimum 1-tree over points 0..n-1 of a symmetric cost: a spanning
// tree over every point but `special`, plus the two cheapest edges at
// `special`. Its length is a lower bound on every tour; a tour is a 1-tree
// whose points all have degree 2.
struct OneTree {
  static constexpr size_t kNone = std::numeric_limits<size_t>::max();
  size_t special = 0;
  std::vector<size_t> parent;   // per point: its parent in the spanning tree (kNone: root, special)
  std::vector<size_t> order;    // the points of the tree, each after its parent (special excluded)
  size_t first = kNone;         // the special point's two edges, to these points
  size_t second = kNone;
  std::vector<int> degree;      // per point: its degree in the 1-tree
  double length = 0;
};

// Dense Prim over `cost(i, j)` (i != j), O(n^2) time, O(n) memory beyond the
// result; `key` is a work buffer. Ties go to the lower index.
template <typename Cost>
void MinimumOneTree(size_t n, size_t special, const Cost& cost, OneTree& tree, std::vector<double>& key) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  tree.special = special;
  tree.parent.assign(n, OneTree::kNone);
  tree.order.clear();
  tree.degree.assign(n, 0);
  tree.length = 0;
  tree.first = tree.second = OneTree::kNone;
  key.assign(n, kInf);  // -infinity: in the tree
  if (n < 3) return;
  size_t next = special == 0 ? 1 : 0;
  key[next] = 0;
  for (size_t added = 0; added + 1 < n; ++added) {
    const size_t u = next;
    tree.order.push_back(u);
    const size_t from = tree.parent[u];
    if (from != OneTree::kNone) {
      tree.length += key[u];
      ++tree.degree[u];
      ++tree.degree[from];
    }
    key[u] = -kInf;
    next = OneTree::kNone;
    double best = kInf;
    for (size_t v = 0; v < n; ++v) {
      if (v == special || key[v] == -kInf) continue;
      const double c = cost(u, v);
      if (c < key[v]) {
        key[v] = c;
        tree.parent[v] = u;
      }
      if (key[v] < best) {
        best = key[v];
        next = v;
      }
    }
  }
  // The special point's two cheapest edges.
  double c1 = kInf, c2 = kInf;
  for (size_t v = 0; v < n; ++v) {
    if (v == special) continue;
    const double c = cost(special, v);
    if (c < c1) {
      c2 = c1;
      tree.second = tree.first;
      c1 = c;
      tree.first = v;
    } else if (c < c2) {
      c2 = c;
      tree.second = v;
    }
  }
  tree.length += c1 + c2;
  tree.degree[special] = 2;
  ++tree.degree[tree.first];
  ++tree.degree[tree.second];
}

// Alpha-nearness of point i to every point j (Helsgaun): how much longer
// the minimum 1-tree gets when it must contain edge i-j. For i, j other
// than the special point: cost(i, j) less the costliest edge on the tree's
// path between them (0 for a tree edge); at the special point: cost less
// the dearer of its two 1-tree edges (0 for those two). O(n) per i; writes
// alpha[j] (alpha[i] = +infinity); `beta` and `mark` are work buffers.
template <typename Cost>
void AlphaRow(const OneTree& tree, size_t i, const Cost& cost, std::vector<double>& alpha,
              std::vector<double>& beta, std::vector<size_t>& mark) {
  const size_t n = tree.parent.size();
  const size_t s = tree.special;
  alpha.assign(n, 0);
  if (n < 3) {
    std::fill(alpha.begin(), alpha.end(), std::numeric_limits<double>::infinity());
    return;
  }
  const double second_edge = std::max(cost(s, tree.first), cost(s, tree.second));
  if (i == s) {
    for (size_t j = 0; j < n; ++j) {
      alpha[j] = j == s ? std::numeric_limits<double>::infinity()
                 : (j == tree.first || j == tree.second) ? 0.0
                                                         : cost(s, j) - second_edge;
    }
    return;
  }
  beta.assign(n, 0);
  mark.assign(n, OneTree::kNone);
  // beta[j]: the costliest edge on the tree's path from i to j. Up i's
  // path to the root first, then every other point from its parent's value
  // (each point comes after its parent in `order`).
  beta[i] = -std::numeric_limits<double>::infinity();
  mark[i] = i;
  for (size_t u = i; tree.parent[u] != OneTree::kNone; u = tree.parent[u]) {
    const size_t up = tree.parent[u];
    beta[up] = std::max(beta[u], cost(u, up));
    mark[up] = i;
  }
  for (const size_t j : tree.order) {
    if (mark[j] == i) continue;
    const size_t up = tree.parent[j];
    beta[j] = std::max(beta[up], cost(j, up));
  }
  for (size_t j = 0; j < n; ++j) {
    if (j == i) {
      alpha[j] = std::numeric_limits<double>::infinity();
    } else if (j == s) {
      alpha[j] = (i == tree.first || i == tree.second) ? 0.0 : cost(s, i) - second_edge;
    } else {
      alpha[j] = cost(i, j) - beta[j];
    }
  }
}

// The tour pass's candidates: for every agent type and target, the `count`
// targets nearest by alpha (ties by cost), on the type's costs shifted by a
// penalty per target, pi, found by subgradient ascent on the 1-tree's
// length (Held and Karp): a 1-tree on shifted costs is nearer to a tour, so
// its alpha values rank the arcs of good tours higher. Helsgaun (2000)
// reports nearly every arc of optimal tours among the 5 alpha-nearest,
// where nearest neighbour lists need many more. Computed once per solve,
// O(ascent x targets^2) per type. A type whose matrix over the targets is
// not symmetric or misses arcs keeps its nearest neighbours, and so does
// every type not finished when `stop` (asked between steps of the ascent
// and between rows of alpha; none: never) answers true: the solve's
// deadline bounds this work like the search's.
class TourCandidates {
 public:
  TourCandidates(const RouteRules& rules, const GranularNeighbours& nearest, size_t count, size_t ascent,
                 const std::function<bool()>& stop = nullptr);

  // Candidates of `node` for type slot `slot` (GranularNeighbours::Types()).
  const size_t* Begin(size_t slot, size_t node) const { return &lists_[(slot * nodes_ + node) * count_]; }
  size_t Count() const { return count_; }
  // Whether slot `slot` holds alpha-nearness lists (not the nearest neighbours).
  bool ByAlpha(size_t slot) const { return by_alpha_[slot] != 0; }
  // The penalties of slot `slot` per target (in the order of RouteRules::Targets()).
  const std::vector<double>& Penalties(size_t slot) const { return pi_[slot]; }

  // Bytes the lists and the computation's buffers take.
  static size_t Bytes(size_t nodes, size_t types, size_t count);

 private:
  size_t nodes_ = 0;
  size_t count_ = 0;
  std::vector<char> by_alpha_;
  std::vector<std::vector<double>> pi_;
  std::vector<size_t> lists_;  // (slot, node) -> count_ candidates
};

}  // namespace tarsel
