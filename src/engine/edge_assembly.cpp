#include "engine/edge_assembly.h"

#include <algorithm>
#include <limits>

#include "common/special_values.h"

namespace tarsel {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// Removes the edge to `other` from a vertex's two slots.
void DropSlot(std::vector<size_t>& slots, size_t vertex, size_t other) {
  size_t* pair = &slots[2 * vertex];
  if (pair[0] == other) {
    pair[0] = kNoIndex;
  } else if (pair[1] == other) {
    pair[1] = kNoIndex;
  }
}

void FillSlot(std::vector<size_t>& slots, size_t vertex, size_t other) {
  size_t* pair = &slots[2 * vertex];
  if (pair[0] == kNoIndex) {
    pair[0] = other;
  } else {
    pair[1] = other;
  }
}

void Predecessors(const std::vector<size_t>& succ, const std::vector<size_t>& vertices, std::vector<size_t>& pred) {
  pred.assign(succ.size(), kNoIndex);
  for (const size_t v : vertices) pred[succ[v]] = v;
}

}  // namespace

EdgeAssembly::EdgeAssembly(const RouteRules& rules, const GranularNeighbours& neighbours)
    : rules_(rules), neighbours_(neighbours), nodes_(rules.NumNodes()) {
  const size_t m = rules.NumAgents();
  applicable_ = m > 0 && rules.Targets().size() >= 2;
  for (size_t k = 1; k < m; ++k) applicable_ = applicable_ && rules.Agent(k).type == rules.Agent(0).type;
  vertices_ = rules.Targets();
  for (size_t k = 0; k < m; ++k) vertices_.push_back(nodes_ + k);
  if (!applicable_) return;
  // Undirected when no edge's direction can change its cost: one depot node
  // for every start and end, closed routes and a symmetric matrix.
  const InstanceTables& tables = rules.Tables();
  const size_t depot = rules.Agent(0).start;
  undirected_ = tables.ReturnToEnd();
  for (size_t k = 0; k < m && undirected_; ++k) {
    undirected_ = rules.Agent(k).start == depot && rules.Agent(k).goal == depot;
  }
  std::vector<size_t> nodes = rules.Targets();
  nodes.push_back(depot);
  const size_t type = rules.Agent(0).type;
  for (size_t i = 0; i < nodes.size() && undirected_; ++i) {
    for (size_t j = i + 1; j < nodes.size() && undirected_; ++j) {
      undirected_ = tables.Cost(type, nodes[i], nodes[j]) == tables.Cost(type, nodes[j], nodes[i]);
    }
  }
}

double EdgeAssembly::Arc(size_t from, size_t to) const {
  const size_t m = rules_.NumAgents();
  size_t agent = 0;
  size_t u = from;
  size_t v = to;
  if (from >= nodes_) {
    agent = from - nodes_;
    u = rules_.Agent(agent).start;
  }
  if (to >= nodes_) {
    const size_t arriving = (to - nodes_ + m - 1) % m;  // the route that ends at this copy
    if (from < nodes_) agent = arriving;
    v = rules_.Agent(arriving).goal;
  }
  bool blocked = false;
  return rules_.Travel(agent, u, v, blocked);
}

void EdgeAssembly::ParentSuccessors(const Solution& parent, std::vector<size_t>& succ) const {
  const size_t m = rules_.NumAgents();
  succ.assign(nodes_ + m, kNoIndex);
  size_t at = nodes_;
  for (size_t k = 0; k < m; ++k) {
    const std::vector<size_t>& nodes = parent.Route(k).nodes;
    for (size_t i = 1; i + 1 < nodes.size(); ++i) {
      succ[at] = nodes[i];
      at = nodes[i];
    }
    const size_t next_copy = nodes_ + (k + 1) % m;
    succ[at] = next_copy;
    at = next_copy;
  }
}

void EdgeAssembly::FindCycles(Random& random) {
  cycles_.clear();
  begin_.assign(1, 0);
  if (undirected_) {
    FindUndirectedCycles(random);
  } else {
    FindDirectedCycles();
  }
}

// Directed: from u the first parent's edge u -> v, then back along the
// second parent's edge into v to its tail; the map u -> pred_b(succ_a(u))
// is a permutation whose cycles off its fixed points (edges both share)
// are the AB-cycles.
void EdgeAssembly::FindDirectedCycles() {
  std::vector<size_t>& seen = at_even_;
  seen.assign(succ_a_.size(), 0);
  for (const size_t start : vertices_) {
    if (seen[start] != 0 || succ_a_[start] == succ_b_[start]) continue;
    size_t u = start;
    do {
      seen[u] = 1;
      const size_t v = succ_a_[u];
      cycles_.push_back(u);
      cycles_.push_back(v);
      u = pred_b_[v];
    } while (u != start);
    begin_.push_back(cycles_.size());
  }
}

// Undirected: a walk that takes, in turn, an edge of the first parent and
// one of the second not walked yet (a random one of two), and closes an
// AB-cycle whenever it comes back to a vertex it left by the same kind of
// edge it would take next. Every vertex has as many edges of one parent
// left as of the other, so the walk never gets stuck.
void EdgeAssembly::FindUndirectedCycles(Random& random) {
  const size_t size = succ_a_.size();
  left_a_.assign(2 * size, kNoIndex);
  left_b_.assign(2 * size, kNoIndex);
  for (const size_t v : vertices_) {
    const bool shared_succ = succ_a_[v] == succ_b_[v] || succ_a_[v] == pred_b_[v];
    const bool shared_pred = pred_a_[v] == succ_b_[v] || pred_a_[v] == pred_b_[v];
    if (!shared_succ) left_a_[2 * v] = succ_a_[v];
    if (!shared_pred) left_a_[2 * v + 1] = pred_a_[v];
    const bool b_shared_succ = succ_b_[v] == succ_a_[v] || succ_b_[v] == pred_a_[v];
    const bool b_shared_pred = pred_b_[v] == succ_a_[v] || pred_b_[v] == pred_a_[v];
    if (!b_shared_succ) left_b_[2 * v] = succ_b_[v];
    if (!b_shared_pred) left_b_[2 * v + 1] = pred_b_[v];
  }
  at_even_.assign(size, kNoIndex);
  at_odd_.assign(size, kNoIndex);
  const auto has_left = [](const std::vector<size_t>& slots, size_t v) {
    return slots[2 * v] != kNoIndex || slots[2 * v + 1] != kNoIndex;
  };
  for (const size_t start : vertices_) {
    while (has_left(left_a_, start)) {
      path_.assign(1, start);
      at_even_[start] = 0;
      while (true) {
        const size_t index = path_.size() - 1;
        const size_t at = path_.back();
        std::vector<size_t>& slots = index % 2 == 0 ? left_a_ : left_b_;
        if (index == 0 && !has_left(slots, at)) break;
        size_t* pair = &slots[2 * at];
        const size_t pick = pair[0] == kNoIndex ? 1 : pair[1] == kNoIndex ? 0 : random.Below(2);
        const size_t next = pair[pick];
        DropSlot(slots, at, next);
        DropSlot(slots, next, at);
        const size_t position = index + 1;
        path_.push_back(next);
        std::vector<size_t>& seen_at = position % 2 == 0 ? at_even_ : at_odd_;
        if (seen_at[next] == kNoIndex) {
          seen_at[next] = position;
          continue;
        }
        // path_[from .. position] closes an AB-cycle; keep it starting with
        // an edge of the first parent (taken from even positions).
        const size_t from = seen_at[next];
        const size_t first = from % 2 == 0 ? from : from + 1;
        for (size_t i = first; i < position; ++i) cycles_.push_back(path_[i]);
        if (first != from) cycles_.push_back(path_[from]);
        begin_.push_back(cycles_.size());
        for (size_t i = from + 1; i < position; ++i) (i % 2 == 0 ? at_even_ : at_odd_)[path_[i]] = kNoIndex;
        path_.resize(from + 1);
      }
      at_even_[start] = kNoIndex;
    }
  }
}

void EdgeAssembly::Apply(const std::vector<size_t>& chosen) {
  if (!undirected_) {
    succ_ = succ_a_;
    for (const size_t c : chosen) {
      const size_t length = begin_[c + 1] - begin_[c];
      const size_t* cycle = &cycles_[begin_[c]];
      // The second parent's edge from the next even vertex into this odd one.
      for (size_t i = 1; i < length; i += 2) succ_[cycle[(i + 1) % length]] = cycle[i];
    }
  } else {
    adjacent_.assign(2 * succ_a_.size(), kNoIndex);
    for (const size_t v : vertices_) {
      adjacent_[2 * v] = succ_a_[v];
      adjacent_[2 * v + 1] = pred_a_[v];
    }
    // All removals before all additions, so no vertex holds three edges.
    for (const size_t c : chosen) {
      const size_t length = begin_[c + 1] - begin_[c];
      const size_t* cycle = &cycles_[begin_[c]];
      for (size_t i = 0; i < length; i += 2) {
        DropSlot(adjacent_, cycle[i], cycle[i + 1]);
        DropSlot(adjacent_, cycle[i + 1], cycle[i]);
      }
    }
    for (const size_t c : chosen) {
      const size_t length = begin_[c + 1] - begin_[c];
      const size_t* cycle = &cycles_[begin_[c]];
      for (size_t i = 1; i < length; i += 2) {
        FillSlot(adjacent_, cycle[i], cycle[(i + 1) % length]);
        FillSlot(adjacent_, cycle[(i + 1) % length], cycle[i]);
      }
    }
    // Orient each subtour.
    succ_.assign(succ_a_.size(), kNoIndex);
    for (const size_t start : vertices_) {
      if (succ_[start] != kNoIndex) continue;
      size_t previous = start;
      size_t at = adjacent_[2 * start];
      succ_[start] = at;
      while (at != start) {
        const size_t next = adjacent_[2 * at] != previous ? adjacent_[2 * at] : adjacent_[2 * at + 1];
        succ_[at] = next;
        previous = at;
        at = next;
      }
    }
  }
  Predecessors(succ_, vertices_, pred_);
}

bool EdgeAssembly::Joined(size_t u, size_t v, bool reversed, size_t cycle, double& best_delta, size_t& best_u,
                          size_t& best_v, bool& best_reversed) const {
  if (cycle_of_[v] == cycle) return false;
  const size_t su = succ_[u];
  const size_t sv = succ_[v];
  const double removed = Arc(u, su) + Arc(v, sv);
  const double added = reversed ? Arc(v, u) + Arc(su, sv) : Arc(u, sv) + Arc(v, su);
  const double delta = added - removed;
  if (delta >= best_delta) return true;
  best_delta = delta;
  best_u = u;
  best_v = v;
  best_reversed = reversed;
  return true;
}

double EdgeAssembly::JoinSubtours() {
  joins_.clear();
  cycle_of_.assign(succ_.size(), kNoIndex);
  cycle_size_.clear();
  std::vector<size_t>& representative = representative_;
  representative.clear();
  for (const size_t start : vertices_) {
    if (cycle_of_[start] != kNoIndex) continue;
    const size_t id = cycle_size_.size();
    size_t size = 0;
    size_t at = start;
    do {
      cycle_of_[at] = id;
      ++size;
      at = succ_[at];
    } while (at != start);
    cycle_size_.push_back(size);
    representative.push_back(start);
  }
  double added = 0;
  size_t remaining = cycle_size_.size();
  std::vector<size_t>& members = path_;
  while (remaining > 1) {
    size_t smallest = kNoIndex;
    for (size_t c = 0; c < cycle_size_.size(); ++c) {
      if (cycle_size_[c] > 0 && (smallest == kNoIndex || cycle_size_[c] < cycle_size_[smallest])) smallest = c;
    }
    members.clear();
    size_t at = representative[smallest];
    do {
      members.push_back(at);
      at = succ_[at];
    } while (at != representative[smallest]);
    double best_delta = kInfinity;
    size_t best_u = kNoIndex;
    size_t best_v = kNoIndex;
    bool best_reversed = false;
    bool found = false;
    for (const size_t u : members) {
      if (u >= nodes_ || neighbours_.Count() == 0) continue;
      const size_t* list = neighbours_.Begin(0, u);
      for (size_t i = 0; i < neighbours_.Count(); ++i) {
        const size_t x = list[i];
        if (cycle_of_[x] == smallest) continue;
        found = true;
        // Each join that makes u and x adjacent.
        Joined(u, pred_[x], false, smallest, best_delta, best_u, best_v, best_reversed);
        Joined(pred_[u], x, false, smallest, best_delta, best_u, best_v, best_reversed);
        if (undirected_) Joined(u, x, true, smallest, best_delta, best_u, best_v, best_reversed);
      }
    }
    if (!found) {
      for (const size_t u : members) {
        for (const size_t v : vertices_) {
          Joined(u, v, false, smallest, best_delta, best_u, best_v, best_reversed);
          if (undirected_) Joined(u, v, true, smallest, best_delta, best_u, best_v, best_reversed);
        }
      }
    }
    if (best_reversed) {
      // Turn the subtour around; then the old successor of best_u leads
      // into best_u and the join below is the plain one.
      const size_t old_succ = succ_[best_u];
      for (const size_t w : members) std::swap(succ_[w], pred_[w]);
      best_u = old_succ;
    }
    const size_t su = succ_[best_u];
    const size_t sv = succ_[best_v];
    succ_[best_u] = sv;
    pred_[sv] = best_u;
    succ_[best_v] = su;
    pred_[su] = best_v;
    joins_.emplace_back(best_u, sv);
    joins_.emplace_back(best_v, su);
    added += best_delta;
    const size_t into = cycle_of_[best_v];
    for (const size_t w : members) cycle_of_[w] = into;
    cycle_size_[into] += cycle_size_[smallest];
    cycle_size_[smallest] = 0;
    --remaining;
  }
  return added;
}

double EdgeAssembly::TourCost() const {
  double cost = 0;
  for (const size_t v : vertices_) cost += Arc(v, succ_[v]);
  return cost;
}

bool EdgeAssembly::Cross(const Solution& first, const Solution& second, Random& random,
                         std::vector<size_t>& tour, std::vector<size_t>& order) {
  if (!applicable_) return false;
  ParentSuccessors(first, succ_a_);
  ParentSuccessors(second, succ_b_);
  Predecessors(succ_a_, vertices_, pred_a_);
  Predecessors(succ_b_, vertices_, pred_b_);
  FindCycles(random);
  const size_t cycles = begin_.size() - 1;
  if (cycles == 0) return false;
  std::vector<size_t>& shuffled = shuffled_;
  shuffled.resize(cycles);
  for (size_t c = 0; c < cycles; ++c) shuffled[c] = c;
  random.Shuffle(shuffled);
  double best = kInfinity;
  std::vector<size_t>& chosen = chosen_;
  for (size_t child = 0; child < kChildren; ++child) {
    chosen.clear();
    if (child % 2 == 0) {
      // One AB-cycle: a child close to the first parent.
      if (child / 2 >= cycles) continue;
      chosen.push_back(shuffled[child / 2]);
    } else {
      // Each AB-cycle with probability one half (at least one).
      for (size_t c = 0; c < cycles; ++c) {
        if (random.Unit() < 0.5) chosen.push_back(c);
      }
      if (chosen.empty()) chosen.push_back(shuffled[random.Below(cycles)]);
    }
    Apply(chosen);
    JoinSubtours();
    const double cost = TourCost();
    if (cost < best) {
      best = cost;
      best_succ_ = succ_;
      best_joins_ = joins_;
    }
  }
  tour.clear();
  order.assign(1, 0);
  for (size_t at = best_succ_[nodes_]; at != nodes_; at = best_succ_[at]) {
    if (at >= nodes_) {
      order.push_back(at - nodes_);
    } else {
      tour.push_back(at);
    }
  }
  return true;
}

}  // namespace tarsel
