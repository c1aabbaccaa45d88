#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/label.h"
#include "common/visited_set.h"

namespace tarsel {

// All labels of one search, by id, with their parents. A label is kept as
// one fixed record plus per-agent slices of flat arrays (node indices as 16
// bits, one byte per finished flag), so that millions of labels cost about
// half of what Label objects with their own vectors would, and storing one
// allocates nothing once the capacity is there.
class LabelStore {
 public:
  // Empties the store for labels with `num_agents` agents each.
  void Reset(size_t num_agents);
  size_t Capacity() const { return records_.size(); }
  // Makes room for ids 0 .. capacity-1; new slots hold empty labels.
  void Resize(size_t capacity);

  // Stores `label` under label.id, which must be below Capacity(), with the
  // per-agent vectors of the agent count given to Reset.
  void Put(const Label& label, int64_t parent);
  // Writes label `id` into `out`, reusing out's vectors.
  void Get(int64_t id, Label& out) const;

  int64_t Parent(int64_t id) const { return At(id).parent; }
  int64_t LastAgent(int64_t id) const { return At(id).last_agent; }
  int64_t ActiveAgents(int64_t id) const { return At(id).active_agents; }
  size_t CurrentNode(int64_t id, size_t agent) const {
    return nodes_[static_cast<size_t>(id) * num_agents_ + agent];
  }
  double Cost(int64_t id, size_t agent) const {
    return costs_[static_cast<size_t>(id) * num_agents_ + agent];
  }
  const VisitedSet& Visited(int64_t id) const { return At(id).visited; }
  int32_t NumNodes(int64_t id) const { return At(id).num_nodes; }

 private:
  struct Record {
    VisitedSet visited;
    double h = 0;
    double g = 0;
    double f = 0;
    int64_t parent = 0;
    int32_t num_nodes = 0;
    int32_t active_agents = 0;
    int32_t last_agent = 0;
  };
  const Record& At(int64_t id) const { return records_[static_cast<size_t>(id)]; }

  size_t num_agents_ = 0;
  std::vector<Record> records_;
  std::vector<double> costs_;
  std::vector<uint16_t> nodes_;
  std::vector<uint8_t> finished_;
};

}  // namespace tarsel
