#include "engine/route_segments.h"

#include <algorithm>
#include <vector>

namespace tarsel {

namespace {

// Resizes a route's store of `per_node` entries per node to `size`
// entries and gives back its room when it holds more than twice that and
// more than RouteSegments::kKeptNodes nodes' worth: routes grow and shrink
// during a run, and each would otherwise keep the room of its longest
// length so far (on identical agents under min-sum every route may once
// hold nearly every target). So all routes' stores stay within twice the
// nodes and kKeptNodes per route, which the engine's memory estimate counts
// (population_budget). Giving back is rare: a route must have lost half of
// its nodes since its store last grew.
template <typename Value>
void FitTo(std::vector<Value>& store, size_t size, size_t per_node) {
  store.resize(size);
  if (store.capacity() > 2 * size && store.capacity() > RouteSegments::kKeptNodes * per_node) {
    store.shrink_to_fit();
  }
}

}  // namespace

RouteSegments::RouteSegments(const RouteRules& rules, const std::vector<size_t>& types)
    : rules_(rules),
      slot_of_(rules.NumAgents(), 0),
      representative_(types.size(), 0),
      lengths_(rules.NumAgents(), 0),
      nodes_(rules.NumAgents()),
      between_(rules.NumAgents()),
      reversed_(rules.NumAgents()),
      long_(rules.NumAgents(), 0),
      keeps_cost_(rules.NumAgents(), 0),
      tails_(rules.NumAgents()),
      tail_servable_(rules.NumAgents()) {
  for (size_t k = 0; k < rules.NumAgents(); ++k) {
    const auto found = std::lower_bound(types.begin(), types.end(), rules.Agent(k).type);
    slot_of_[k] = static_cast<size_t>(found - types.begin());
    if (found != types.end() && *found == rules.Agent(k).type) representative_[slot_of_[k]] = k;
  }
  // Whether reversal keeps a segment's cost, decided once per type.
  const InstanceTables& tables = rules.Tables();
  bool windows = false;
  for (size_t u : rules.Targets()) windows = windows || tables.Window(u) != nullptr;
  std::vector<size_t> checked_types;
  std::vector<char> checked_answers;
  for (size_t k = 0; k < rules.NumAgents(); ++k) {
    const size_t type = rules.Agent(k).type;
    const auto found = std::find(checked_types.begin(), checked_types.end(), type);
    if (found != checked_types.end()) {
      keeps_cost_[k] = checked_answers[static_cast<size_t>(found - checked_types.begin())];
      continue;
    }
    bool symmetric = !windows;
    for (size_t u : rules.Targets()) {
      for (size_t v : rules.Targets()) {
        if (!symmetric) break;
        if (v < u && tables.Cost(type, u, v) != tables.Cost(type, v, u)) symmetric = false;
      }
    }
    keeps_cost_[k] = symmetric ? 1 : 0;
    checked_types.push_back(type);
    checked_answers.push_back(keeps_cost_[k]);
  }
}

void RouteSegments::RefreshAll(const Solution& solution) {
  for (size_t k = 0; k < solution.NumRoutes(); ++k) Refresh(solution, k);
}

void RouteSegments::Refresh(const Solution& solution, size_t k) {
  const std::vector<size_t>& nodes = solution.Route(k).nodes;
  const size_t len = nodes.size();
  lengths_[k] = len;
  // Segments of up to kWindow nodes of the own route, built by extending
  // each start to the right; the vectors keep their capacity, so a refresh
  // allocates only when a route grows beyond its largest size so far.
  nodes_[k].assign(nodes.begin(), nodes.end());
  std::vector<Segment>& between = between_[k];
  FitTo(between, len * kWindow, kWindow);
  for (size_t from = 1; from < len; ++from) {
    Segment segment = rules_.NodeSeg(nodes[from]);
    between[from * kWindow] = segment;
    const size_t last = std::min(len - 1, from + kWindow - 1);
    for (size_t to = from + 1; to <= last; ++to) {
      segment = rules_.Join(k, segment, nodes[to - 1], nodes[to], rules_.NodeSeg(nodes[to]));
      between[from * kWindow + (to - from)] = segment;
    }
  }
  // Backwards: each reversed segment grows at its front as `to` moves right.
  long_[k] = len > kLongRouteTargets + 2 ? 1 : 0;
  if (long_[k] != 0 && keeps_cost_[k] == 0) {
    std::vector<Segment>& reversed = reversed_[k];
    FitTo(reversed, len * kWindow, kWindow);
    for (size_t from = 1; from < len; ++from) {
      Segment segment = rules_.NodeSeg(nodes[from]);
      reversed[from * kWindow] = segment;
      const size_t last = std::min(len - 1, from + kWindow - 1);
      for (size_t to = from + 1; to <= last; ++to) {
        segment = rules_.Join(k, rules_.NodeSeg(nodes[to]), nodes[to], nodes[to - 1], segment);
        reversed[from * kWindow + (to - from)] = segment;
      }
    }
  }
  // Target tails per type, built from the last target leftwards. Arcs
  // between targets cost the same for every agent of a type (only arcs into
  // an agent's own start or end differ), so one agent prices for the type.
  const size_t slots = representative_.size();
  std::vector<Segment>& tails = tails_[k];
  std::vector<char>& servable = tail_servable_[k];
  FitTo(tails, slots * len, slots);
  FitTo(servable, slots * len, slots);
  for (size_t slot = 0; slot < slots; ++slot) {
    const size_t agent = representative_[slot];
    if (len < 3) continue;
    size_t from = len - 2;
    tails[slot * len + from] = rules_.NodeSeg(nodes[from]);
    servable[slot * len + from] = rules_.CanServe(agent, nodes[from]) ? 1 : 0;
    while (from-- > 1) {
      tails[slot * len + from] = rules_.Join(agent, rules_.NodeSeg(nodes[from]), nodes[from], nodes[from + 1],
                                             tails[slot * len + from + 1]);
      servable[slot * len + from] =
          servable[slot * len + from + 1] != 0 && rules_.CanServe(agent, nodes[from]) ? 1 : 0;
    }
  }
}

}  // namespace tarsel
