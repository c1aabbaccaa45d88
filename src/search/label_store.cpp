#include "search/label_store.h"

#include <limits>
#include <new>
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
  num_nodes_ = num_nodes;
  costs_at_ = sizeof(RecordHead);
  nodes_at_ = costs_at_ + num_agents * sizeof(double);
  flags_at_ = nodes_at_ + num_agents;
  stride_ = (flags_at_ + (num_agents + 7) / 8 + 7) / 8 * 8;
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
    // Zeroed, so that a slot never written reads as an empty label.
    std::unique_ptr<uint8_t[]> block(new uint8_t[kBlockLabels * stride_]());
    for (size_t slot = 0; slot < kBlockLabels; ++slot) new (block.get() + slot * stride_) RecordHead();
    blocks_.push_back(std::move(block));
  }
}

void LabelStore::Put(const Label& label, int64_t parent) {
  if (label.costs.size() != num_agents_ || label.current_nodes.size() != num_agents_ ||
      label.finished.size() != num_agents_) {
    throw std::logic_error("label does not hold one entry per agent");
  }
  uint8_t* record = const_cast<uint8_t*>(Record(label.id));
  RecordHead& head = *reinterpret_cast<RecordHead*>(record);
  head.visited = label.visited;
  head.parent = static_cast<int32_t>(parent);
  head.active_agents = static_cast<uint16_t>(label.active_agents);
  head.last_agent = static_cast<uint16_t>(label.last_agent);
  // Without agents the cost vector has no storage to copy from.
  if (num_agents_ > 0) {
    std::memcpy(record + costs_at_, label.costs.data(), num_agents_ * sizeof(double));
  }
  uint8_t* flags = record + flags_at_;
  for (size_t b = 0; b < (num_agents_ + 7) / 8; ++b) flags[b] = 0;
  for (size_t k = 0; k < num_agents_; ++k) {
    // Node indices of a search are below 256 (checked when it starts).
    record[nodes_at_ + k] = static_cast<uint8_t>(label.current_nodes[k]);
    if (label.finished[k] != 0) flags[k >> 3] |= static_cast<uint8_t>(1u << (k & 7));
  }
}

void LabelStore::Get(int64_t id, Label& out) const {
  const uint8_t* record = Record(id);
  const RecordHead& head = Head(id);
  out.id = id;
  out.visited = head.visited;
  out.h = 0;
  out.g = 0;
  out.f = 0;
  out.num_nodes = num_nodes_;
  out.active_agents = head.active_agents;
  out.last_agent = head.last_agent;
  out.current_nodes.assign(record + nodes_at_, record + nodes_at_ + num_agents_);
  out.costs.resize(num_agents_);
  if (num_agents_ > 0) {
    std::memcpy(out.costs.data(), record + costs_at_, num_agents_ * sizeof(double));
  }
  out.finished.resize(num_agents_);
  const uint8_t* flags = record + flags_at_;
  for (size_t k = 0; k < num_agents_; ++k) out.finished[k] = (flags[k >> 3] >> (k & 7)) & 1u;
}

size_t LabelStore::MemoryBytes() const {
  return blocks_.size() * kBlockLabels * stride_ +
         blocks_.capacity() * sizeof(std::unique_ptr<uint8_t[]>);
}

}  // namespace tarsel
