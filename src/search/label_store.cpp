#include "search/label_store.h"

#include <stdexcept>

namespace tarsel {

void LabelStore::Reset(size_t num_agents) {
  num_agents_ = num_agents;
  records_.clear();
  costs_.clear();
  nodes_.clear();
  finished_.clear();
}

void LabelStore::Resize(size_t capacity) {
  records_.resize(capacity);
  costs_.resize(capacity * num_agents_, 0.0);
  nodes_.resize(capacity * num_agents_, 0);
  finished_.resize(capacity * num_agents_, 0);
}

void LabelStore::Put(const Label& label, int64_t parent) {
  if (label.costs.size() != num_agents_ || label.current_nodes.size() != num_agents_ ||
      label.finished.size() != num_agents_) {
    throw std::logic_error("label does not hold one entry per agent");
  }
  const size_t id = static_cast<size_t>(label.id);
  Record& record = records_[id];
  record.visited = label.visited;
  record.h = label.h;
  record.g = label.g;
  record.f = label.f;
  record.parent = parent;
  record.num_nodes = label.num_nodes;
  record.active_agents = static_cast<int32_t>(label.active_agents);
  record.last_agent = static_cast<int32_t>(label.last_agent);
  const size_t base = id * num_agents_;
  for (size_t k = 0; k < num_agents_; ++k) {
    // Node indices of a search are below 256 (checked when it starts).
    nodes_[base + k] = static_cast<uint16_t>(label.current_nodes[k]);
    costs_[base + k] = label.costs[k];
    finished_[base + k] = label.finished[k];
  }
}

void LabelStore::Get(int64_t id, Label& out) const {
  const Record& record = At(id);
  out.id = id;
  out.visited = record.visited;
  out.h = record.h;
  out.g = record.g;
  out.f = record.f;
  out.num_nodes = record.num_nodes;
  out.active_agents = record.active_agents;
  out.last_agent = record.last_agent;
  const size_t base = static_cast<size_t>(id) * num_agents_;
  out.current_nodes.assign(nodes_.begin() + base, nodes_.begin() + base + num_agents_);
  out.costs.assign(costs_.begin() + base, costs_.begin() + base + num_agents_);
  out.finished.assign(finished_.begin() + base, finished_.begin() + base + num_agents_);
}

}  // namespace tarsel
