#include "search/frontier_table.h"

#include <cstring>
#include <stdexcept>

namespace tarsel {

namespace {

// Entry layout in words.
constexpr size_t kG = 0;
constexpr size_t kVisited = 1;  // four words
constexpr size_t kFlags = 5;

double AsDouble(uint64_t word) {
  double value;
  std::memcpy(&value, &word, sizeof(value));
  return value;
}

uint64_t AsWord(double value) {
  uint64_t word;
  std::memcpy(&word, &value, sizeof(word));
  return word;
}

}  // namespace

void FrontierTable::Reset(size_t num_agents) {
  num_agents_ = num_agents;
  flag_words_ = (num_agents + 63) / 64;
  stride_ = kFlags + flag_words_ + num_agents;
  keys_.clear();
  frontiers_.clear();
  slots_.assign(64, kEmpty);
  num_entries_ = 0;
  scratch_.assign(stride_, 0);
}

uint64_t FrontierTable::Hash(const Label& label) const {
  uint64_t h = 1469598103934665603ull;
  for (size_t k = 0; k < num_agents_; ++k) h = (h ^ label.current_nodes[k]) * 1099511628211ull;
  return h ^ (h >> 29);
}

bool FrontierTable::KeyEquals(uint32_t frontier, const Label& label) const {
  const uint16_t* key = &keys_[static_cast<size_t>(frontier) * num_agents_];
  for (size_t k = 0; k < num_agents_; ++k) {
    if (key[k] != label.current_nodes[k]) return false;
  }
  return true;
}

uint32_t FrontierTable::Find(const Label& label) const {
  if (label.current_nodes.size() != num_agents_) {
    throw std::logic_error("label does not hold one position per agent");
  }
  const size_t mask = slots_.size() - 1;
  for (size_t i = Hash(label) & mask;; i = (i + 1) & mask) {
    const uint32_t frontier = slots_[i];
    if (frontier == kEmpty || KeyEquals(frontier, label)) return frontier;
  }
}

uint32_t FrontierTable::FindOrOpen(const Label& label) {
  const uint32_t found = Find(label);
  if (found != kEmpty) return found;
  for (size_t k = 0; k < num_agents_; ++k) {
    if (label.current_nodes[k] > UINT16_MAX) {
      throw std::length_error("agent positions of a search are below 65536");
    }
  }
  if ((frontiers_.size() + 1) * 2 > slots_.size()) Grow();
  const uint32_t frontier = static_cast<uint32_t>(frontiers_.size());
  for (size_t k = 0; k < num_agents_; ++k) {
    keys_.push_back(static_cast<uint16_t>(label.current_nodes[k]));
  }
  frontiers_.emplace_back();
  const size_t mask = slots_.size() - 1;
  size_t i = Hash(label) & mask;
  while (slots_[i] != kEmpty) i = (i + 1) & mask;
  slots_[i] = frontier;
  return frontier;
}

void FrontierTable::Grow() {
  std::vector<uint32_t> old;
  old.swap(slots_);
  slots_.assign(old.size() * 2, kEmpty);
  const size_t mask = slots_.size() - 1;
  Label probe;
  probe.current_nodes.resize(num_agents_);
  for (const uint32_t frontier : old) {
    if (frontier == kEmpty) continue;
    const uint16_t* key = &keys_[static_cast<size_t>(frontier) * num_agents_];
    for (size_t k = 0; k < num_agents_; ++k) probe.current_nodes[k] = key[k];
    size_t i = Hash(probe) & mask;
    while (slots_[i] != kEmpty) i = (i + 1) & mask;
    slots_[i] = frontier;
  }
}

void FrontierTable::WriteEntry(const Label& label, uint64_t* out) const {
  out[kG] = AsWord(label.g);
  for (size_t w = 0; w < 4; ++w) out[kVisited + w] = label.visited.words[w];
  uint64_t* flags = out + kFlags;
  for (size_t w = 0; w < flag_words_; ++w) flags[w] = 0;
  const size_t flag_count = label.finished.size() < num_agents_ ? label.finished.size() : num_agents_;
  for (size_t k = 0; k < flag_count; ++k) {
    if (label.finished[k] != 0) flags[k >> 6] |= uint64_t{1} << (k & 63);
  }
  uint64_t* costs = out + kFlags + flag_words_;
  for (size_t k = 0; k < num_agents_; ++k) costs[k] = AsWord(label.costs[k]);
}

// a dominates b: no worse objective, no agent costs more, covers b's nodes,
// and every route ended in b has ended in a. A label in which more routes
// have ended is never dominated by one in which they have not: ending a
// route where the agent stands changes nothing else, so without this rule
// the parent would discard that move and an agent with nothing to visit
// could never finish. Tests run cheapest first: g, the finished mask, the
// visited words, then the costs.
bool FrontierTable::Dominates(const uint64_t* entry, const Label& label) const {
  const uint64_t* probe = scratch_.data();
  if (!(AsDouble(entry[kG]) <= label.g)) return false;
  for (size_t w = 0; w < flag_words_; ++w) {
    if ((probe[kFlags + w] & ~entry[kFlags + w]) != 0) return false;
  }
  for (size_t w = 0; w < 4; ++w) {
    if ((probe[kVisited + w] & ~entry[kVisited + w]) != 0) return false;
  }
  const uint64_t* entry_costs = entry + kFlags + flag_words_;
  for (size_t k = 0; k < num_agents_; ++k) {
    if (!(AsDouble(entry_costs[k]) <= label.costs[k])) return false;
  }
  return true;
}

bool FrontierTable::DominatedBy(const uint64_t* entry, const Label& label) const {
  const uint64_t* probe = scratch_.data();
  if (!(label.g <= AsDouble(entry[kG]))) return false;
  for (size_t w = 0; w < flag_words_; ++w) {
    if ((entry[kFlags + w] & ~probe[kFlags + w]) != 0) return false;
  }
  for (size_t w = 0; w < 4; ++w) {
    if ((entry[kVisited + w] & ~probe[kVisited + w]) != 0) return false;
  }
  const uint64_t* entry_costs = entry + kFlags + flag_words_;
  for (size_t k = 0; k < num_agents_; ++k) {
    if (!(label.costs[k] <= AsDouble(entry_costs[k]))) return false;
  }
  return true;
}

bool FrontierTable::IsDominated(const Label& label) const {
  const uint32_t frontier = Find(label);
  if (frontier == kEmpty) return false;
  if (label.costs.size() != num_agents_) {
    throw std::logic_error("label does not hold one cost per agent");
  }
  WriteEntry(label, scratch_.data());
  const std::vector<uint64_t>& entries = frontiers_[frontier];
  for (size_t at = 0; at < entries.size(); at += stride_) {
    if (Dominates(&entries[at], label)) return true;
  }
  return false;
}

int FrontierTable::Insert(const Label& label) {
  if (label.costs.size() != num_agents_) {
    throw std::logic_error("label does not hold one cost per agent");
  }
  const uint32_t frontier = FindOrOpen(label);
  WriteEntry(label, scratch_.data());
  std::vector<uint64_t>& entries = frontiers_[frontier];
  // Dominated entries are overwritten by the last one, as order does not
  // matter to the dominance question.
  size_t end = entries.size();
  int removed = 0;
  for (size_t at = end; at >= stride_;) {
    at -= stride_;
    if (DominatedBy(&entries[at], label)) {
      end -= stride_;
      if (at != end) std::memcpy(&entries[at], &entries[end], stride_ * sizeof(uint64_t));
      ++removed;
    }
  }
  entries.resize(end);
  entries.insert(entries.end(), scratch_.begin(), scratch_.end());
  num_entries_ = num_entries_ + 1 - static_cast<size_t>(removed);
  return removed;
}

size_t FrontierTable::MemoryBytes() const {
  size_t bytes = keys_.capacity() * sizeof(uint16_t) + slots_.capacity() * sizeof(uint32_t) +
                 frontiers_.capacity() * sizeof(std::vector<uint64_t>);
  for (const std::vector<uint64_t>& entries : frontiers_) bytes += entries.capacity() * sizeof(uint64_t);
  return bytes;
}

}  // namespace tarsel
