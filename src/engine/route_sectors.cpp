#include "engine/route_sectors.h"

#include <cmath>

namespace tarsel {

namespace {

int32_t Modulo(int32_t value) {
  return ((value % RouteSectors::kCircle) + RouteSectors::kCircle) % RouteSectors::kCircle;
}

}  // namespace

RouteSectors::RouteSectors(const RouteRules& rules) : sectors_(rules.NumAgents()) {
  const InstanceTables& tables = rules.Tables();
  const std::vector<NodeInfo>& nodes = tables.Nodes();
  const std::vector<size_t>& starts = tables.Starts();
  if (starts.empty() || nodes.size() < rules.NumNodes()) return;
  bool placed = false;
  for (const NodeInfo& node : nodes) placed = placed || node.x != nodes[0].x || node.y != nodes[0].y;
  bool one_depot = true;
  for (size_t k = 0; k < rules.NumAgents(); ++k) one_depot = one_depot && rules.Agent(k).start == starts[0];
  applicable_ = placed && one_depot && starts[0] < nodes.size();
  if (!applicable_) return;
  const NodeInfo& depot = nodes[starts[0]];
  const double pi = std::acos(-1.0);
  angle_.resize(rules.NumNodes());
  for (size_t v = 0; v < angle_.size(); ++v) {
    const double angle =
        std::atan2(static_cast<double>(nodes[v].y - depot.y), static_cast<double>(nodes[v].x - depot.x));
    angle_[v] = Modulo(static_cast<int32_t>(std::lround(angle / (2 * pi) * kCircle)));
  }
}

void RouteSectors::Update(const Solution& solution, size_t k) {
  Sector& sector = sectors_[k];
  sector = Sector{};
  const std::vector<size_t>& nodes = solution.Route(k).nodes;
  for (size_t i = 1; i + 1 < nodes.size(); ++i) {
    const int32_t angle = angle_[nodes[i]];
    if (sector.width < 0) {
      sector = {angle, 0};
      continue;
    }
    const int32_t offset = Modulo(angle - sector.start);
    if (offset <= sector.width) continue;
    // Grow on the side that needs the smaller extension.
    const int32_t before = Modulo(sector.start - angle);
    if (before < offset - sector.width) {
      sector.start = angle;
      sector.width += before;
    } else {
      sector.width = offset;
    }
  }
}

bool RouteSectors::Overlap(size_t a, size_t b) const {
  const Sector& first = sectors_[a];
  const Sector& second = sectors_[b];
  if (first.width < 0 || second.width < 0) return false;
  return Modulo(second.start - first.start) <= first.width + kTolerance ||
         Modulo(first.start - second.start) <= second.width + kTolerance;
}

}  // namespace tarsel
