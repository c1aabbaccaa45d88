#include "plugins/default_heuristic.h"

#include <algorithm>
#include <functional>

#include "search/special_values.h"
#include "search/visited_set.h"

namespace tarsel {

namespace {

// Estimate's answer when the remaining nodes cannot all be connected.
constexpr double kUnconnectable = kMaxDouble / 16;

}  // namespace

void DefaultHeuristic::Initialize(const PlannerGraph* graph, const std::vector<NodeInfo>& nodes,
                                  const std::vector<AgentInfo>& agents) {
  this->graph = graph;
  this->nodes = nodes;
  this->agents = agents;
  num_agents = agents.size();
  num_types = 0;
  for (const AgentInfo& agent : agents) {
    if (agent.type >= num_types) num_types = agent.type + 1;
  }
}

void DefaultHeuristic::SetMstEdges(const std::vector<MstEdge>& edges) {
  mst_edges = edges;
  // Counting sort of the usable edge indices by endpoint; each list stays
  // ascending because edges are visited in order.
  incident_begin.assign(VisitedSet::kBits + 1, 0);
  auto usable = [](const MstEdge& e) {
    return e.w < kNoConnection && e.u < VisitedSet::kBits && e.v < VisitedSet::kBits &&
           e.u != e.v;
  };
  for (const MstEdge& e : mst_edges) {
    if (!usable(e)) continue;
    ++incident_begin[e.u + 1];
    ++incident_begin[e.v + 1];
  }
  for (size_t x = 0; x < VisitedSet::kBits; ++x) incident_begin[x + 1] += incident_begin[x];
  incident_edges.assign(incident_begin.back(), 0);
  std::vector<uint32_t> fill(incident_begin.begin(), incident_begin.end() - 1);
  for (size_t i = 0; i < mst_edges.size(); ++i) {
    const MstEdge& e = mst_edges[i];
    if (!usable(e)) continue;
    incident_edges[fill[e.u]++] = static_cast<uint32_t>(i);
    incident_edges[fill[e.v]++] = static_cast<uint32_t>(i);
  }
  // Every node enters the tree at most once, so the heap never holds more
  // than all incidence entries.
  heap.clear();
  heap.reserve(incident_edges.size());
}

// Prim's algorithm over the edge list in its given order: each round attaches
// the lowest-index edge with exactly one endpoint in the tree and no endpoint
// in `closed`. Because the tree only grows and `closed` is fixed, that edge is
// the smallest index on a lazy min-heap fed with the edges of every node as it
// joins the tree; entries whose both ends have joined are dropped on the way.
double DefaultHeuristic::Estimate(const Label& label) const {
  VisitedSet tree = label.visited;
  VisitedSet closed = label.visited;
  const size_t agent_count =
      std::min({num_agents, label.current_nodes.size(), label.finished.size()});
  for (size_t k = 0; k < agent_count; ++k) {
    const size_t at = label.current_nodes[k];
    if (at >= VisitedSet::kBits) continue;
    tree.Set(at);
  }
  for (size_t k = 0; k < agent_count; ++k) {
    const size_t at = label.current_nodes[k];
    if (at < VisitedSet::kBits && label.finished[k] == 0) closed.Reset(at);
  }

  const int64_t n = label.num_nodes;
  if (n < 1) return 0;
  int64_t missing = n - tree.CountBelow(n);
  if (missing <= 0) return 0;
  if (incident_begin.empty()) return kUnconnectable;

  const std::greater<uint32_t> later;
  heap.clear();
  auto push_edges_of = [&](size_t x) {
    for (uint32_t p = incident_begin[x]; p < incident_begin[x + 1]; ++p) {
      heap.push_back(incident_edges[p]);
      std::push_heap(heap.begin(), heap.end(), later);
    }
  };
  // Seeds: the tree nodes that are not closed, i.e. agent positions that are
  // either active or not visited. Nodes attached later are never closed.
  VisitedSet seeded;
  for (size_t k = 0; k < agent_count; ++k) {
    const size_t at = label.current_nodes[k];
    if (at >= VisitedSet::kBits || closed.Test(at) || seeded.Test(at)) continue;
    seeded.Set(at);
    push_edges_of(at);
  }

  double sum = 0;
  while (!heap.empty()) {
    std::pop_heap(heap.begin(), heap.end(), later);
    const MstEdge& e = mst_edges[heap.back()];
    heap.pop_back();
    if (closed.Test(e.u) || closed.Test(e.v)) continue;
    const bool u_in = tree.Test(e.u);
    if (u_in == tree.Test(e.v)) continue;  // both ends already attached
    const size_t added = u_in ? e.v : e.u;
    sum += e.w;
    tree.Set(added);
    if (static_cast<int64_t>(added) < n && --missing == 0) return sum;
    push_edges_of(added);
  }
  return kUnconnectable;
}

}  // namespace tarsel
