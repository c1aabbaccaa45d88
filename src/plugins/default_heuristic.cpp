#include "plugins/default_heuristic.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "common/special_values.h"
#include "common/visited_set.h"
#include "tables/instance_tables.h"

namespace tarsel {

namespace {

// Estimate's answer when the remaining nodes cannot all be connected.
constexpr double kUnconnectable = kMaxDouble / 16;

}  // namespace

void DefaultHeuristic::Initialize(const PlannerGraph* graph, const std::vector<NodeInfo>& nodes,
                                  const std::vector<AgentInfo>& agents) {
  (void)graph;
  (void)nodes;
  num_agents = agents.size();
}

void DefaultHeuristic::AttachTables(const InstanceTables& tables) {
  num_agents = tables.NumAgents();
  missing_cost = tables.MissingCost();
  free_ends.Clear();
  if (!tables.ReturnToEnd()) {
    for (size_t w = 0; w < 4; ++w) {
      free_ends.words[w] = tables.StartBits().words[w] | tables.GoalBits().words[w];
    }
  }
}

namespace {

template <typename Rank>
void FillRanks(const std::vector<MstEdge>& edges, double missing_cost, size_t stride,
               std::vector<Rank>& ranks) {
  constexpr Rank kNone = std::numeric_limits<Rank>::max();
  ranks.assign(stride * stride, kNone);
  for (size_t i = 0; i < edges.size(); ++i) {
    const MstEdge& e = edges[i];
    if (!(e.w < missing_cost) || e.u >= stride || e.v >= stride || e.u == e.v) continue;
    // A repeated pair keeps its first (lowest-ranked) edge.
    Rank& forward = ranks[e.u * stride + e.v];
    Rank& backward = ranks[e.v * stride + e.u];
    forward = std::min(forward, static_cast<Rank>(i));
    backward = std::min(backward, static_cast<Rank>(i));
  }
}

}  // namespace

void DefaultHeuristic::SetMstEdges(const std::vector<MstEdge>& edges) {
  mst_edges = edges;
  has_table = true;
  stride = 0;
  for (const MstEdge& e : mst_edges) {
    if (!(e.w < missing_cost) || e.u >= VisitedSet::kBits || e.v >= VisitedSet::kBits ||
        e.u == e.v) {
      continue;
    }
    stride = std::max({stride, e.u + 1, e.v + 1});
  }
  rank16.clear();
  rank32.clear();
  if (mst_edges.size() < std::numeric_limits<uint16_t>::max()) {
    FillRanks(mst_edges, missing_cost, stride, rank16);
  } else {
    FillRanks(mst_edges, missing_cost, stride, rank32);
  }
}

double DefaultHeuristic::Estimate(const Label& label) const {
  return rank32.empty() ? EstimateWith(rank16, label) : EstimateWith(rank32, label);
}

// Prim's algorithm over the edge list in its given order: each round attaches
// the lowest-ranked edge with exactly one endpoint in the tree and no endpoint
// in `closed`. Since `closed` lies inside the tree and the tree only grows,
// that edge is found by keeping, for every node outside the tree, the best
// rank of an edge to a non-closed tree node (dense Prim, O(nodes^2) per call).
template <typename Rank>
double DefaultHeuristic::EstimateWith(const std::vector<Rank>& ranks, const Label& label) const {
  constexpr Rank kNone = std::numeric_limits<Rank>::max();
  VisitedSet tree = label.visited;
  VisitedSet closed = label.visited;
  for (size_t w = 0; w < 4; ++w) {
    tree.words[w] |= free_ends.words[w];
    closed.words[w] |= free_ends.words[w];
  }
  const size_t agent_count =
      std::min({num_agents, label.current_nodes.size(), label.finished.size()});
  for (size_t k = 0; k < agent_count; ++k) {
    const size_t at = label.current_nodes[k];
    if (at < VisitedSet::kBits) tree.Set(at);
  }
  for (size_t k = 0; k < agent_count; ++k) {
    const size_t at = label.current_nodes[k];
    if (at < VisitedSet::kBits && label.finished[k] == 0) closed.Reset(at);
  }

  const int64_t n = label.num_nodes;
  if (n < 1) return 0;
  int64_t missing = n - tree.CountBelow(n);
  if (missing <= 0) return 0;
  if (!has_table) return kUnconnectable;

  // Nodes outside the tree with the best rank of an edge into it. Nodes
  // without any usable edge are left out: they can never be attached, and
  // the forest ends unconnected once only such nodes are missing, with or
  // without them on the list.
  uint16_t outside[VisitedSet::kBits];
  Rank best_rank[VisitedSet::kBits];
  size_t outside_count = 0;
  for (size_t w = 0; w < 4 && w * 64 < stride; ++w) {
    for (uint64_t free = ~tree.words[w]; free != 0; free &= free - 1) {
      const size_t node = w * 64 + static_cast<size_t>(__builtin_ctzll(free));
      if (node >= stride) break;
      outside[outside_count] = static_cast<uint16_t>(node);
      best_rank[outside_count] = kNone;
      ++outside_count;
    }
  }
  auto relax_from = [&](size_t attached) {
    const Rank* row = &ranks[attached * stride];
    for (size_t k = 0; k < outside_count; ++k) {
      best_rank[k] = std::min(best_rank[k], row[outside[k]]);
    }
  };
  // The tree nodes that are not closed are agent positions; nodes attached
  // later are never closed.
  for (size_t k = 0; k < agent_count; ++k) {
    const size_t at = label.current_nodes[k];
    if (at < stride && !closed.Test(at)) relax_from(at);
  }

  // Each round relaxes from the node attached last and finds the best rank
  // in the same pass. Ranks of usable edges are unique and two outside nodes
  // never share one (an edge has one end in the tree), so the pick is the
  // node the separate passes would find.
  size_t pick = 0;
  for (size_t k = 1; k < outside_count; ++k) {
    if (best_rank[k] < best_rank[pick]) pick = k;
  }
  double sum = 0;
  while (outside_count > 0) {
    if (best_rank[pick] == kNone) break;
    sum += mst_edges[best_rank[pick]].w;
    const size_t added = outside[pick];
    --outside_count;
    outside[pick] = outside[outside_count];
    best_rank[pick] = best_rank[outside_count];
    if (static_cast<int64_t>(added) < n && --missing == 0) return sum;
    const Rank* row = &ranks[added * stride];
    pick = 0;
    for (size_t k = 0; k < outside_count; ++k) {
      best_rank[k] = std::min(best_rank[k], row[outside[k]]);
      if (best_rank[k] < best_rank[pick]) pick = k;
    }
  }
  return kUnconnectable;
}

}  // namespace tarsel
