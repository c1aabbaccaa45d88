#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/label.h"
#include "common/visited_set.h"

namespace tarsel {

// All labels of one search, by id, with their parents. A label is kept as
// one fixed record plus per-agent slices of flat arrays (node indices in one
// byte, finished flags as bits), so that millions of labels cost a fraction
// of what Label objects with their own vectors would, and storing one
// allocates nothing once the capacity is there. Storage comes in blocks of
// 4096 labels that never move, so growing neither copies nor leaves unused
// reserve behind.
//
// Not kept: h (the search recomputes it for every child, Get answers 0) and
// num_nodes, which is the same for every label of a search and is kept once.
class LabelStore {
 public:
  // Empties the store for labels with `num_agents` agents each; Get answers
  // `num_nodes` for every label.
  void Reset(size_t num_agents, int32_t num_nodes = 0);
  // Hands out the next id, growing the capacity in chunks of 1024 labels
  // that double up to 4096.
  int64_t Allocate();
  // Ids handed out so far.
  int64_t Count() const { return count_; }
  size_t Capacity() const { return capacity_; }
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
    const Block& block = BlockOf(id);
    return block.nodes[Slot(id) * num_agents_ + agent];
  }
  double Cost(int64_t id, size_t agent) const {
    const Block& block = BlockOf(id);
    return block.costs[Slot(id) * num_agents_ + agent];
  }
  const VisitedSet& Visited(int64_t id) const { return At(id).visited; }
  int32_t NumNodes() const { return num_nodes_; }

  // Bytes reserved by the store.
  size_t MemoryBytes() const;

 private:
  struct Record {
    VisitedSet visited;
    double g = 0;
    double f = 0;
    int32_t parent = 0;
    uint16_t active_agents = 0;
    uint16_t last_agent = 0;
  };
  static constexpr size_t kBlockShift = 12;
  static constexpr size_t kBlockLabels = size_t{1} << kBlockShift;
  // Labels kBlockLabels * b .. kBlockLabels * (b + 1) - 1.
  struct Block {
    std::vector<Record> records;
    std::vector<double> costs;      // per agent
    std::vector<uint8_t> nodes;     // per agent
    std::vector<uint8_t> finished;  // flag_bytes_ per label
  };
  const Block& BlockOf(int64_t id) const {
    return blocks_[static_cast<size_t>(id) >> kBlockShift];
  }
  static size_t Slot(int64_t id) { return static_cast<size_t>(id) & (kBlockLabels - 1); }
  const Record& At(int64_t id) const { return BlockOf(id).records[Slot(id)]; }

  size_t num_agents_ = 0;
  size_t flag_bytes_ = 0;  // bytes of finished flags per label
  int32_t num_nodes_ = 0;
  int64_t count_ = 0;
  size_t chunk_ = 1024;
  size_t capacity_ = 0;
  std::vector<Block> blocks_;
};

}  // namespace tarsel
