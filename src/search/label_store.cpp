#include "search/label_store.h"

#include <limits>
#include <stdexcept>

namespace tarsel {

namespace {

constexpr size_t kFirstChunk = 1024;
constexpr size_t kLargestChunk = 4096;

}  // namespace

void LabelStore::Reset(size_t num_agents, int32_t num_nodes) {
  if (num_agents > std::numeric_limits<uint16_t>::max()) {
    throw std::length_error("a search supports at most 65535 agents");
  }
  num_agents_ = num_agents;
  flag_bytes_ = (num_agents + 7) / 8;
  num_nodes_ = num_nodes;
  count_ = 0;
  chunk_ = kFirstChunk;
  capacity_ = 0;
  blocks_.clear();
}

int64_t LabelStore::Allocate() {
  const int64_t id = count_;
  if (id == std::numeric_limits<int32_t>::max()) {
    throw std::length_error("a search holds at most 2147483647 labels");
  }
  ++count_;
  if (capacity_ < static_cast<size_t>(count_)) {
    Resize(capacity_ + chunk_);
    if (chunk_ < kLargestChunk) chunk_ *= 2;
  }
  return id;
}

void LabelStore::Resize(size_t capacity) {
  capacity_ = capacity;
  while (blocks_.size() * kBlockLabels < capacity) {
    Block block;
    block.records.resize(kBlockLabels);
    block.costs.resize(kBlockLabels * num_agents_, 0.0);
    block.nodes.resize(kBlockLabels * num_agents_, 0);
    block.finished.resize(kBlockLabels * flag_bytes_, 0);
    blocks_.push_back(std::move(block));
  }
}

void LabelStore::Put(const Label& label, int64_t parent) {
  if (label.costs.size() != num_agents_ || label.current_nodes.size() != num_agents_ ||
      label.finished.size() != num_agents_) {
    throw std::logic_error("label does not hold one entry per agent");
  }
  Block& block = blocks_[static_cast<size_t>(label.id) >> kBlockShift];
  const size_t slot = Slot(label.id);
  Record& record = block.records[slot];
  record.visited = label.visited;
  record.g = label.g;
  record.f = label.f;
  record.parent = static_cast<int32_t>(parent);
  record.active_agents = static_cast<uint16_t>(label.active_agents);
  record.last_agent = static_cast<uint16_t>(label.last_agent);
  const size_t base = slot * num_agents_;
  uint8_t* flags = block.finished.data() + slot * flag_bytes_;
  for (size_t b = 0; b < flag_bytes_; ++b) flags[b] = 0;
  for (size_t k = 0; k < num_agents_; ++k) {
    // Node indices of a search are below 256 (checked when it starts).
    block.nodes[base + k] = static_cast<uint8_t>(label.current_nodes[k]);
    block.costs[base + k] = label.costs[k];
    if (label.finished[k] != 0) flags[k >> 3] |= static_cast<uint8_t>(1u << (k & 7));
  }
}

void LabelStore::Get(int64_t id, Label& out) const {
  const Block& block = BlockOf(id);
  const size_t slot = Slot(id);
  const Record& record = block.records[slot];
  out.id = id;
  out.visited = record.visited;
  out.h = 0;
  out.g = record.g;
  out.f = record.f;
  out.num_nodes = num_nodes_;
  out.active_agents = record.active_agents;
  out.last_agent = record.last_agent;
  const size_t base = slot * num_agents_;
  out.current_nodes.assign(block.nodes.begin() + base, block.nodes.begin() + base + num_agents_);
  out.costs.assign(block.costs.begin() + base, block.costs.begin() + base + num_agents_);
  out.finished.resize(num_agents_);
  const uint8_t* flags = block.finished.data() + slot * flag_bytes_;
  for (size_t k = 0; k < num_agents_; ++k) out.finished[k] = (flags[k >> 3] >> (k & 7)) & 1u;
}

size_t LabelStore::MemoryBytes() const {
  const size_t per_label =
      sizeof(Record) + num_agents_ * (sizeof(double) + sizeof(uint8_t)) + flag_bytes_;
  return blocks_.size() * kBlockLabels * per_label + blocks_.capacity() * sizeof(Block);
}

}  // namespace tarsel
