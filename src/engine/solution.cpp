#include "engine/solution.h"

#include <algorithm>

#include "common/special_values.h"

namespace tarsel {

Solution::Solution(const RouteRules& rules) : rules_(&rules), routes_(rules.NumAgents()) {
  const size_t n = rules.NumNodes();
  for (EngineRoute& route : routes_) {
    route.nodes.reserve(n + 2);
    route.prefix.reserve(n + 2);
    route.suffix.reserve(n + 2);
  }
  route_of_.assign(n, kNoIndex);
  position_of_.assign(n, 0);
  Clear(PenaltyWeights{});
}

void Solution::Clear(const PenaltyWeights& weights) {
  for (size_t v = 0; v < route_of_.size(); ++v) route_of_[v] = kNoIndex;
  unplaced_ = rules_->Targets().size();
  for (size_t k = 0; k < routes_.size(); ++k) {
    routes_[k].nodes.clear();
    routes_[k].nodes.push_back(rules_->Agent(k).start);
    routes_[k].nodes.push_back(rules_->Agent(k).goal);
    Refresh(k, weights);
  }
}

void Solution::Insert(size_t k, size_t position, size_t node) {
  std::vector<size_t>& nodes = routes_[k].nodes;
  nodes.insert(nodes.begin() + static_cast<std::ptrdiff_t>(position), node);
  if (route_of_[node] == kNoIndex) --unplaced_;
  route_of_[node] = k;
}

void Solution::Erase(size_t k, size_t position) {
  std::vector<size_t>& nodes = routes_[k].nodes;
  const size_t node = nodes[position];
  nodes.erase(nodes.begin() + static_cast<std::ptrdiff_t>(position));
  if (route_of_[node] == k) {
    route_of_[node] = kNoIndex;
    ++unplaced_;
  }
}

void Solution::SetTargets(size_t k, const size_t* targets, size_t count) {
  std::vector<size_t>& nodes = routes_[k].nodes;
  for (size_t i = 1; i + 1 < nodes.size(); ++i) {
    if (route_of_[nodes[i]] == k) {
      route_of_[nodes[i]] = kNoIndex;
      ++unplaced_;
    }
  }
  nodes.resize(1);
  for (size_t i = 0; i < count; ++i) {
    nodes.push_back(targets[i]);
    if (route_of_[targets[i]] == kNoIndex) --unplaced_;
    route_of_[targets[i]] = k;
  }
  nodes.push_back(rules_->Agent(k).goal);
}

void Solution::Refresh(size_t k, const PenaltyWeights& weights) {
  EngineRoute& route = routes_[k];
  const std::vector<size_t>& nodes = route.nodes;
  const size_t len = nodes.size();
  route.prefix.resize(len);
  route.suffix.resize(len);
  route.prefix[0] = rules_->StartSeg(k);
  for (size_t i = 1; i < len; ++i) {
    route.prefix[i] = rules_->Join(k, route.prefix[i - 1], nodes[i - 1], nodes[i], rules_->NodeSeg(nodes[i]));
  }
  route.suffix[len - 1] = rules_->NodeSeg(nodes[len - 1]);
  for (size_t i = len - 1; i-- > 0;) {
    const Segment own = i == 0 ? rules_->StartSeg(k) : rules_->NodeSeg(nodes[i]);
    route.suffix[i] = rules_->Join(k, own, nodes[i], nodes[i + 1], route.suffix[i + 1]);
  }
  for (size_t i = 1; i + 1 < len; ++i) {
    route_of_[nodes[i]] = k;
    position_of_[nodes[i]] = i;
  }
  route.walk = rules_->Walk(k, nodes);
  route.cost = RouteCosts::CostOf(route.walk, weights);
  RefreshTop();
}

void Solution::SetWalk(size_t k, const RouteWalk& walk, const PenaltyWeights& weights) {
  routes_[k].walk = walk;
  routes_[k].cost = RouteCosts::CostOf(walk, weights);
  RefreshTop();
}

void Solution::RefreshTop() {
  top_[0] = top_[1] = top_[2] = kNoIndex;
  value_ = ObjectiveValue{};
  for (size_t k = 0; k < routes_.size(); ++k) {
    const double cost = routes_[k].cost;
    value_.longest = std::max(value_.longest, cost);
    value_.total += cost;
    for (size_t slot = 0; slot < 3; ++slot) {
      if (top_[slot] == kNoIndex || cost > routes_[top_[slot]].cost) {
        for (size_t later = 2; later > slot; --later) top_[later] = top_[later - 1];
        top_[slot] = k;
        break;
      }
    }
  }
}

double Solution::LongestExcept(size_t a, size_t b) const {
  for (size_t slot = 0; slot < 3; ++slot) {
    const size_t k = top_[slot];
    if (k == kNoIndex) break;
    if (k != a && k != b) return routes_[k].cost;
  }
  return 0.0;
}

bool Solution::Complete() const {
  if (unplaced_ != 0) return false;
  for (const EngineRoute& route : routes_) {
    if (!(route.cost < RouteRules::kInfeasible)) return false;
  }
  return true;
}

bool Solution::Feasible() const {
  if (unplaced_ != 0) return false;
  for (const EngineRoute& route : routes_) {
    if (!route.walk.feasible) return false;
  }
  return true;
}

bool Solution::WithoutWarp() const {
  for (const EngineRoute& route : routes_) {
    if (route.walk.warp > 0) return false;
  }
  return true;
}

bool Solution::WithinLimits() const {
  for (const EngineRoute& route : routes_) {
    if (route.walk.excess > 0) return false;
  }
  return true;
}

bool Solution::WithinCapacity() const {
  for (const EngineRoute& route : routes_) {
    if (route.walk.overload > 0) return false;
  }
  return true;
}

void Solution::Recost(const PenaltyWeights& weights) {
  for (EngineRoute& route : routes_) route.cost = RouteCosts::CostOf(route.walk, weights);
  RefreshTop();
}

Segment Solution::SegmentFor(size_t k, size_t from, size_t to, size_t agent) const {
  const std::vector<size_t>& nodes = routes_[k].nodes;
  Segment segment = rules_->NodeSeg(nodes[from]);
  for (size_t i = from + 1; i <= to; ++i) {
    segment = rules_->Join(agent, segment, nodes[i - 1], nodes[i], rules_->NodeSeg(nodes[i]));
  }
  return segment;
}

void Solution::GiantTour(std::vector<size_t>& out) const {
  out.clear();
  for (const EngineRoute& route : routes_) {
    for (size_t i = 1; i + 1 < route.nodes.size(); ++i) out.push_back(route.nodes[i]);
  }
}

size_t Solution::MemoryBytes() const {
  size_t bytes = sizeof(Solution) + routes_.capacity() * sizeof(EngineRoute) +
                 (route_of_.capacity() + position_of_.capacity()) * sizeof(size_t);
  for (const EngineRoute& route : routes_) {
    bytes += route.nodes.capacity() * sizeof(size_t) +
             (route.prefix.capacity() + route.suffix.capacity()) * sizeof(Segment);
  }
  return bytes;
}

size_t Solution::CopyBytes(size_t nodes, size_t agents, size_t targets) {
  return sizeof(Solution) + agents * sizeof(EngineRoute) + 2 * nodes * sizeof(size_t) +
         (targets + 2 * agents) * (sizeof(size_t) + 2 * sizeof(Segment));
}

bool Solution::SameRoutes(const Solution& other) const {
  for (size_t k = 0; k < routes_.size(); ++k) {
    if (routes_[k].nodes != other.routes_[k].nodes) return false;
  }
  return true;
}

}  // namespace tarsel
