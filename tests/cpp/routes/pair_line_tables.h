#pragma once

#include <cmath>
#include <vector>

#include "common/precedence_pair.h"
#include "common/test_tables.h"
#include "tables/instance_tables.h"

namespace tarsel::pair_test {

// Node 0 is the depot of two agents of one type; the other nodes lie on a
// line at these places, and an arc costs the distance between them.
inline const std::vector<double> kPlaces = {0, 10, 4, 6, 2, 8};

inline InstanceTables LineTables(const std::vector<PrecedencePair>& pairs, const TimeWindowTable& windows = {}) {
  const size_t n = kPlaces.size();
  std::vector<double> matrix(n * n);
  for (size_t i = 0; i < n; ++i) {
    for (size_t j = 0; j < n; ++j) matrix[i * n + j] = std::fabs(kPlaces[i] - kPlaces[j]);
  }
  InstanceTables tables;
  tables.SetCostMatrices({matrix}, n, nullptr);
  tables.SetNodes(test_common::MakeNodes(std::vector<std::vector<size_t>>(n, {0})));
  tables.SetAgents({AgentInfo{1, 0, 0, 0}, AgentInfo{2, 0, 0, 0}});
  tables.SetStarts({0, 0});
  tables.SetGoals({0, 0});
  tables.SetTimeWindows(windows);
  tables.SetPrecedencePairs(pairs);
  return tables;
}

// A pair whose ids are its node indices.
inline PrecedencePair Pair(size_t before, size_t after, PairKind kind) {
  return PrecedencePair{before, after, before, after, kind};
}

}  // namespace tarsel::pair_test
