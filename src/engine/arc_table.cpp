#include "engine/arc_table.h"

namespace tarsel {

ArcTable::ArcTable(const RouteRules& rules) : rules_(rules) {
  const InstanceTables& tables = rules.Tables();
  const size_t size = tables.DenseSize();
  // Open routes make legs into an agent's own start or end free, which
  // no matrix entry says.
  if (!tables.ReturnToEnd() || rules.NumNodes() > size) return;
  for (size_t k = 0; k < rules.NumAgents(); ++k) {
    const RouteAgent& agent = rules.Agent(k);
    if (agent.type >= tables.NumTypes()) return;
    if ((agent.start != kNoIndex && agent.start >= size) || (agent.goal != kNoIndex && agent.goal >= size)) return;
  }
  // Travel makes staying on a node free, whatever the diagonal holds.
  for (size_t type = 0; type < tables.NumTypes(); ++type) {
    const std::vector<double>& matrix = tables.CostMatrix(type);
    if (matrix.size() < size * size) return;
    for (size_t v = 0; v < size; ++v) {
      if (matrix[v * size + v] != 0.0) return;
    }
  }
  size_ = size;
  missing_cost_ = tables.MissingCost();
  matrix_of_.reserve(rules.NumAgents());
  for (size_t k = 0; k < rules.NumAgents(); ++k) matrix_of_.push_back(tables.CostMatrix(rules.Agent(k).type).data());
}

}  // namespace tarsel
