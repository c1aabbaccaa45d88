#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "common/label.h"
#include "common/visited_set.h"

namespace tarsel {

// All labels of one search, by id, with their parents. A label is one
// contiguous record of fixed size: the visited set, the parent id, the
// active agent count and the last agent moved, then per agent its cost, its
// node index (one byte; nodes of a search are below 256) and its finished
// flag (one bit). Records live in blocks of 4096 that never move, so storing
// a label allocates nothing once the capacity is there, growing neither
// copies nor leaves unused reserve behind, and everything a dominance test
// reads about a label lies in one or two cache lines.
//
// Not kept, because the search has them at hand: g (the objective's
// aggregate of the costs), f (carried by the list entry the label is taken
// from) and h (recomputed for every child). Get answers 0 for all three;
// num_nodes is the same for every label of a search and is kept once.
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
  // Writes label `id` into `out`, reusing out's vectors (g, f and h: 0).
  void Get(int64_t id, Label& out) const;

  int64_t Parent(int64_t id) const { return Head(id).parent; }
  int64_t LastAgent(int64_t id) const { return Head(id).last_agent; }
  int64_t ActiveAgents(int64_t id) const { return Head(id).active_agents; }
  size_t CurrentNode(int64_t id, size_t agent) const { return Record(id)[nodes_at_ + agent]; }
  double Cost(int64_t id, size_t agent) const {
    double cost;
    std::memcpy(&cost, Record(id) + costs_at_ + agent * sizeof(double), sizeof(cost));
    return cost;
  }
  bool Finished(int64_t id, size_t agent) const {
    return (Record(id)[flags_at_ + (agent >> 3)] >> (agent & 7)) & 1u;
  }
  const VisitedSet& Visited(int64_t id) const { return Head(id).visited; }
  // The finished flags of label `id`, one bit per agent in (NumAgents() + 7)
  // / 8 bytes, and its costs as NumAgents() doubles (unaligned: read them
  // with memcpy).
  const uint8_t* FlagBytes(int64_t id) const { return Record(id) + flags_at_; }
  const uint8_t* CostBytes(int64_t id) const { return Record(id) + costs_at_; }
  int32_t NumNodes() const { return num_nodes_; }
  size_t NumAgents() const { return num_agents_; }

  // Asks the processor to fetch the record of label `id`.
  void Prefetch(int64_t id) const {
    const uint8_t* record = Record(id);
    __builtin_prefetch(record);
    __builtin_prefetch(record + stride_ - 1);
  }

  // Bytes one more block of labels takes.
  size_t BlockBytes() const { return kBlockLabels * stride_; }

  // Bytes reserved by the store.
  size_t MemoryBytes() const;

 private:
  // The fixed part at the start of every record.
  struct RecordHead {
    VisitedSet visited;
    int32_t parent = 0;
    uint16_t active_agents = 0;
    uint16_t last_agent = 0;
  };
  static constexpr size_t kBlockShift = 12;
  static constexpr size_t kBlockLabels = size_t{1} << kBlockShift;

  const uint8_t* Record(int64_t id) const {
    const size_t index = static_cast<size_t>(id);
    return blocks_[index >> kBlockShift].get() + (index & (kBlockLabels - 1)) * stride_;
  }
  const RecordHead& Head(int64_t id) const {
    return *reinterpret_cast<const RecordHead*>(Record(id));
  }

  size_t num_agents_ = 0;
  int32_t num_nodes_ = 0;
  size_t costs_at_ = 0;  // offsets inside a record
  size_t nodes_at_ = 0;
  size_t flags_at_ = 0;
  size_t stride_ = 0;    // bytes per record, a multiple of 8
  int64_t count_ = 0;
  size_t chunk_ = 1024;
  size_t capacity_ = 0;
  std::vector<std::unique_ptr<uint8_t[]>> blocks_;
};

}  // namespace tarsel
