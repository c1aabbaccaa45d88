#include "search/frontier_table.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace tarsel {

namespace {

// Order of entries by g, with NaN after every number.
bool LessG(double a, double b) {
  if (b != b) return a == a;
  return a < b;
}

// A sum as a float: rounded to the nearest, or infinite beyond the largest
// float (which a plain conversion leaves undefined). Both keep the order of
// the sums.
float SumAsFloat(double sum) {
  if (sum > std::numeric_limits<float>::max()) return std::numeric_limits<float>::infinity();
  if (sum < -std::numeric_limits<float>::max()) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(sum);
}

double CostAt(const uint8_t* costs, size_t k) {
  double cost;
  std::memcpy(&cost, costs + k * sizeof(double), sizeof(cost));
  return cost;
}

}  // namespace

void FrontierTable::Reset(const LabelStore* store, const VisitedSet& exact_nodes) {
  store_ = store;
  exact_nodes_ = exact_nodes;
  has_exact_nodes_ = !(exact_nodes == VisitedSet());
  num_agents_ = store != nullptr ? store->NumAgents() : 0;
  fold_mask_.Clear();
  const int32_t num_nodes = store != nullptr ? store->NumNodes() : 0;
  for (int32_t i = 0; i < num_nodes && i < static_cast<int32_t>(VisitedSet::kBits); ++i) {
    fold_mask_.Set(static_cast<size_t>(i));
  }
  exact_folds_ = num_nodes <= 128;
  keys_.clear();
  frontiers_.clear();
  slots_.assign(64, Slot{kEmpty, 0});
  num_entries_ = 0;
  entry_bytes_ = 0;
  probe_flags_.assign((num_agents_ + 7) / 8, 0);
}

namespace {

// Hash of agent positions: a mix step per agent, then a final scramble.
template <typename Position>
uint64_t HashPositions(const Position* positions, size_t count) {
  uint64_t h = 0x9E3779B97F4A7C15ull;
  for (size_t k = 0; k < count; ++k) {
    h = (h ^ positions[k]) * 0xBF58476D1CE4E5B9ull;
    h ^= h >> 31;
  }
  h *= 0x94D049BB133111EBull;
  return h ^ (h >> 32);
}

}  // namespace

uint64_t FrontierTable::Hash(const Label& label) const {
  return HashPositions(label.current_nodes.data(), num_agents_);
}

uint64_t FrontierTable::HashKey(const uint16_t* key) const {
  return HashPositions(key, num_agents_);
}

bool FrontierTable::KeyEquals(uint32_t frontier, const Label& label) const {
  const uint16_t* key = &keys_[static_cast<size_t>(frontier) * num_agents_];
  for (size_t k = 0; k < num_agents_; ++k) {
    if (key[k] != label.current_nodes[k]) return false;
  }
  return true;
}

uint64_t FrontierTable::KeyHash(const Label& label) const {
  if (label.current_nodes.size() != num_agents_ || label.costs.size() != num_agents_) {
    throw std::logic_error("label does not hold one position and one cost per agent");
  }
  return Hash(label);
}

uint32_t FrontierTable::Find(const Label& label, uint64_t hash) const {
  const size_t mask = slots_.size() - 1;
  const uint32_t tag = static_cast<uint32_t>(hash >> 32);
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    const Slot slot = slots_[i];
    if (slot.frontier == kEmpty) return kEmpty;
    if (slot.tag == tag && KeyEquals(slot.frontier, label)) return slot.frontier;
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
  const uint64_t hash = Hash(label);
  size_t i = hash & mask;
  while (slots_[i].frontier != kEmpty) i = (i + 1) & mask;
  slots_[i] = Slot{frontier, static_cast<uint32_t>(hash >> 32)};
  return frontier;
}

void FrontierTable::PrefetchSlot(uint64_t hash) const {
  __builtin_prefetch(&slots_[hash & (slots_.size() - 1)]);
}

void FrontierTable::PrefetchFrontier(uint64_t hash) const {
  // The first slot with the key's tag holds the key's frontier but for a
  // rare collision, which costs one useless fetch.
  const size_t mask = slots_.size() - 1;
  const uint32_t tag = static_cast<uint32_t>(hash >> 32);
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    const Slot slot = slots_[i];
    if (slot.frontier == kEmpty) return;
    if (slot.tag == tag) {
      __builtin_prefetch(&keys_[static_cast<size_t>(slot.frontier) * num_agents_]);
      __builtin_prefetch(&frontiers_[slot.frontier]);
      return;
    }
  }
}

void FrontierTable::PrefetchEntries(const Label& label, uint64_t hash) const {
  const uint32_t index = Find(label, hash);
  if (index == kEmpty || frontiers_[index].empty()) return;
  __builtin_prefetch(frontiers_[index].data());
}

void FrontierTable::Grow() {
  std::vector<Slot> old;
  old.swap(slots_);
  slots_.assign(old.size() * 2, Slot{kEmpty, 0});
  const size_t mask = slots_.size() - 1;
  for (const Slot& slot : old) {
    if (slot.frontier == kEmpty) continue;
    // The tag is the upper half of the hash; the lower half picked the slot,
    // and re-hashing the key gives it back.
    const uint16_t* key = &keys_[static_cast<size_t>(slot.frontier) * num_agents_];
    const uint64_t hash = HashKey(key);
    size_t i = hash & mask;
    while (slots_[i].frontier != kEmpty) i = (i + 1) & mask;
    slots_[i] = slot;
  }
}

FrontierTable::Summary FrontierTable::SummaryOf(const Label& label) const {
  double sums[2] = {0, 0};
  for (size_t k = 0; k < num_agents_; ++k) sums[k & 1] += label.costs[k];
  const uint64_t* words = label.visited.words;
  const uint64_t* mask = fold_mask_.words;
  Summary summary;
  summary.sums[0] = SumAsFloat(sums[0]);
  summary.sums[1] = SumAsFloat(sums[1]);
  summary.fold[0] = (words[0] & mask[0]) | (words[2] & mask[2]);
  summary.fold[1] = (words[1] & mask[1]) | (words[3] & mask[3]);
  summary.visited_count = static_cast<uint32_t>(label.visited.CountBelow(VisitedSet::kBits));
  summary.rest_full = true;
  for (size_t w = 0; w < 4; ++w) {
    if ((words[w] | mask[w]) != ~uint64_t{0}) summary.rest_full = false;
  }
  return summary;
}

void FrontierTable::PackFlags(const Label& label) const {
  for (uint8_t& byte : probe_flags_) byte = 0;
  const size_t count = label.finished.size() < num_agents_ ? label.finished.size() : num_agents_;
  for (size_t k = 0; k < count; ++k) {
    if (label.finished[k] != 0) probe_flags_[k >> 3] |= static_cast<uint8_t>(1u << (k & 7));
  }
}

// a dominates b: no worse objective, no agent costs more, covers b's nodes,
// and every route ended in b has ended in a. A label in which more routes
// have ended is never dominated by one in which they have not: ending a
// route where the agent stands changes nothing else, so without this rule
// the parent would discard that move and an agent with nothing to visit
// could never finish. Tests run cheapest first: g (by the caller), the
// finished flags, the visited words, then the costs.
bool FrontierTable::SameExactNodes(int32_t id, const Label& label) const {
  const VisitedSet& stored = store_->Visited(id);
  for (size_t w = 0; w < 4; ++w) {
    if (((stored.words[w] ^ label.visited.words[w]) & exact_nodes_.words[w]) != 0) return false;
  }
  return true;
}

bool FrontierTable::Dominates(int32_t id, const Label& label, bool visited_known) const {
  const uint8_t* flags = store_->FlagBytes(id);
  for (size_t b = 0; b < probe_flags_.size(); ++b) {
    if ((probe_flags_[b] & ~flags[b]) != 0) return false;
  }
  if (!visited_known && !store_->Visited(id).Contains(label.visited)) return false;
  if (has_exact_nodes_ && !SameExactNodes(id, label)) return false;
  const uint8_t* costs = store_->CostBytes(id);
  for (size_t k = 0; k < num_agents_; ++k) {
    if (!(CostAt(costs, k) <= label.costs[k])) return false;
  }
  return true;
}

bool FrontierTable::DominatedBy(int32_t id, const Label& label, bool visited_known) const {
  const uint8_t* flags = store_->FlagBytes(id);
  for (size_t b = 0; b < probe_flags_.size(); ++b) {
    if ((flags[b] & ~probe_flags_[b]) != 0) return false;
  }
  if (!visited_known && !label.visited.Contains(store_->Visited(id))) return false;
  if (has_exact_nodes_ && !SameExactNodes(id, label)) return false;
  const uint8_t* costs = store_->CostBytes(id);
  for (size_t k = 0; k < num_agents_; ++k) {
    if (!(label.costs[k] <= CostAt(costs, k))) return false;
  }
  return true;
}

bool FrontierTable::IsDominated(const Label& label) const {
  const uint32_t index = Find(label);
  if (index == kEmpty) return false;
  // Only an entry with g <= label.g can dominate, and those come first (an
  // entry whose g is NaN dominates nothing and sorts last).
  const std::vector<Entry>& entries = frontiers_[index];
  if (entries.empty() || !(entries[0].g <= label.g)) return false;
  PackFlags(label);
  // The entries the summaries let through are gathered first and their
  // records fetched together, so that their cache misses overlap.
  const Summary probe = SummaryOf(label);
  std::vector<int32_t>& candidates = candidates_;
  if (candidates.size() < entries.size()) candidates.resize(entries.size());
  int32_t* gathered = candidates.data();
  size_t found = 0;
  // A candidate whose folds settled the visited sets is kept complemented
  // (sign bit set). Every entry is written; only those that pass advance.
  const uint32_t decide = exact_folds_ && probe.rest_full ? 1u : 0u;
  for (const Entry& entry : entries) {
    if (!(entry.g <= label.g)) break;
    const int32_t known = static_cast<int32_t>(decide & entry.rest_full);
    gathered[found] = entry.label_id ^ -known;
    found += MayDominate(entry, probe) ? 1 : 0;
  }
  for (size_t c = 0; c < found; ++c) {
    store_->Prefetch(gathered[c] < 0 ? ~gathered[c] : gathered[c]);
  }
  for (size_t c = 0; c < found; ++c) {
    const bool known = gathered[c] < 0;
    if (Dominates(known ? ~gathered[c] : gathered[c], label, known)) return true;
  }
  return false;
}

int FrontierTable::Insert(const Label& label) {
  std::vector<Entry>& entries = frontiers_[FindOrOpen(label)];
  PackFlags(label);
  // Entries with a smaller g cannot be dominated by the label and stay
  // where they are; of the others, the survivors move up in order.
  const Summary probe = SummaryOf(label);
  const size_t count = entries.size();
  // Entries with g below the label's come first (NaN sorts last).
  const size_t kept = static_cast<size_t>(
      std::partition_point(entries.begin(), entries.end(),
                           [&label](const Entry& entry) { return entry.g < label.g; }) -
      entries.begin());
  // The entries the summaries cannot rule out are gathered first and their
  // records fetched together, so that their cache misses overlap; most
  // inserts find none and leave the frontier as it is.
  std::vector<uint32_t>& positions = positions_;
  if (positions.size() < count) positions.resize(count);
  size_t found = 0;
  for (size_t e = kept; e < count; ++e) {
    positions[found] = static_cast<uint32_t>(e);
    found += (label.g <= entries[e].g) & MayDominate(probe, entries[e]) ? 1 : 0;
  }
  for (size_t c = 0; c < found; ++c) store_->Prefetch(entries[positions[c]].label_id);
  int removed = 0;
  if (found > 0) {
    size_t write = positions[0];
    size_t next = 0;
    for (size_t e = positions[0]; e < count; ++e) {
      if (next < found && positions[next] == e) {
        ++next;
        if (DominatedBy(entries[e].label_id, label, FoldsDecide(probe, entries[e]))) {
          ++removed;
          continue;
        }
      }
      entries[write++] = entries[e];
    }
    entries.resize(write);
  }
  // The new entry goes after every entry whose g is not above its own.
  const size_t insert_at = static_cast<size_t>(
      std::partition_point(entries.begin() + static_cast<std::ptrdiff_t>(kept), entries.end(),
                           [&label](const Entry& entry) { return !LessG(label.g, entry.g); }) -
      entries.begin());
  const size_t capacity_before = entries.capacity();
  Entry added;
  added.g = label.g;
  added.sums[0] = probe.sums[0];
  added.sums[1] = probe.sums[1];
  added.fold[0] = probe.fold[0];
  added.fold[1] = probe.fold[1];
  added.label_id = static_cast<int32_t>(label.id);
  added.visited_count = probe.visited_count;
  added.rest_full = probe.rest_full ? 1 : 0;
  entries.insert(entries.begin() + static_cast<std::ptrdiff_t>(insert_at), added);
  entry_bytes_ += (entries.capacity() - capacity_before) * sizeof(Entry);
  num_entries_ = num_entries_ + 1 - static_cast<size_t>(removed);
  return removed;
}

size_t FrontierTable::MemoryBytes() const {
  return keys_.capacity() * sizeof(uint16_t) + slots_.capacity() * sizeof(Slot) +
         frontiers_.capacity() * sizeof(std::vector<Entry>) + entry_bytes_;
}

}  // namespace tarsel
