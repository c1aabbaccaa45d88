#include "search/frontier_table.h"

#include <cstring>
#include <stdexcept>

namespace tarsel {

namespace {

constexpr size_t kNoPosition = ~size_t{0};

// Order of entries by g, with NaN after every number.
bool LessG(double a, double b) {
  if (b != b) return a == a;
  return a < b;
}

double CostAt(const uint8_t* costs, size_t k) {
  double cost;
  std::memcpy(&cost, costs + k * sizeof(double), sizeof(cost));
  return cost;
}

}  // namespace

void FrontierTable::Reset(const LabelStore* store) {
  store_ = store;
  num_agents_ = store != nullptr ? store->NumAgents() : 0;
  fold_mask_.Clear();
  const int32_t num_nodes = store != nullptr ? store->NumNodes() : 0;
  for (int32_t i = 0; i < num_nodes && i < static_cast<int32_t>(VisitedSet::kBits); ++i) {
    fold_mask_.Set(static_cast<size_t>(i));
  }
  keys_.clear();
  frontiers_.clear();
  slots_.assign(64, kEmpty);
  tags_.assign(64, 0);
  num_entries_ = 0;
  entry_bytes_ = 0;
  probe_flags_.assign((num_agents_ + 7) / 8, 0);
}

uint64_t FrontierTable::Hash(const Label& label) const {
  uint64_t h = 0x9E3779B97F4A7C15ull;
  for (size_t k = 0; k < num_agents_; ++k) {
    h = (h ^ label.current_nodes[k]) * 0xBF58476D1CE4E5B9ull;
    h ^= h >> 31;
  }
  h *= 0x94D049BB133111EBull;
  return h ^ (h >> 32);
}

bool FrontierTable::KeyEquals(uint32_t frontier, const Label& label) const {
  const uint16_t* key = &keys_[static_cast<size_t>(frontier) * num_agents_];
  for (size_t k = 0; k < num_agents_; ++k) {
    if (key[k] != label.current_nodes[k]) return false;
  }
  return true;
}

uint32_t FrontierTable::Find(const Label& label) const {
  if (label.current_nodes.size() != num_agents_ || label.costs.size() != num_agents_) {
    throw std::logic_error("label does not hold one position and one cost per agent");
  }
  const size_t mask = slots_.size() - 1;
  const uint64_t hash = Hash(label);
  const uint32_t tag = static_cast<uint32_t>(hash >> 32);
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    const uint32_t frontier = slots_[i];
    if (frontier == kEmpty) return kEmpty;
    if (tags_[i] == tag && KeyEquals(frontier, label)) return frontier;
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
  while (slots_[i] != kEmpty) i = (i + 1) & mask;
  slots_[i] = frontier;
  tags_[i] = static_cast<uint32_t>(hash >> 32);
  return frontier;
}

void FrontierTable::Grow() {
  std::vector<uint32_t> old;
  old.swap(slots_);
  slots_.assign(old.size() * 2, kEmpty);
  tags_.assign(slots_.size(), 0);
  const size_t mask = slots_.size() - 1;
  Label probe;
  probe.current_nodes.resize(num_agents_);
  for (const uint32_t frontier : old) {
    if (frontier == kEmpty) continue;
    const uint16_t* key = &keys_[static_cast<size_t>(frontier) * num_agents_];
    for (size_t k = 0; k < num_agents_; ++k) probe.current_nodes[k] = key[k];
    const uint64_t hash = Hash(probe);
    size_t i = hash & mask;
    while (slots_[i] != kEmpty) i = (i + 1) & mask;
    slots_[i] = frontier;
    tags_[i] = static_cast<uint32_t>(hash >> 32);
  }
}

FrontierTable::Summary FrontierTable::SummaryOf(const Label& label) const {
  double sum = 0;
  for (size_t k = 0; k < num_agents_; ++k) sum += label.costs[k];
  uint64_t fold = 0;
  for (size_t w = 0; w < 4; ++w) fold |= label.visited.words[w] & fold_mask_.words[w];
  return Summary{sum, fold, static_cast<uint32_t>(label.visited.CountBelow(VisitedSet::kBits))};
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
bool FrontierTable::Dominates(int32_t id, const Label& label) const {
  const uint8_t* flags = store_->FlagBytes(id);
  for (size_t b = 0; b < probe_flags_.size(); ++b) {
    if ((probe_flags_[b] & ~flags[b]) != 0) return false;
  }
  if (!store_->Visited(id).Contains(label.visited)) return false;
  const uint8_t* costs = store_->CostBytes(id);
  for (size_t k = 0; k < num_agents_; ++k) {
    if (!(CostAt(costs, k) <= label.costs[k])) return false;
  }
  return true;
}

bool FrontierTable::DominatedBy(int32_t id, const Label& label) const {
  const uint8_t* flags = store_->FlagBytes(id);
  for (size_t b = 0; b < probe_flags_.size(); ++b) {
    if ((flags[b] & ~probe_flags_[b]) != 0) return false;
  }
  if (!label.visited.Contains(store_->Visited(id))) return false;
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
  // Costs summed in the same order are monotone: an entry whose costs are
  // all at most the label's has a sum at most the label's, unless a sum is
  // NaN; and an entry covering the label's nodes visits at least as many.
  // The entries the summaries let through are gathered first and their
  // records fetched together, so that their cache misses overlap.
  const Summary probe = SummaryOf(label);
  std::vector<int32_t>& candidates = candidates_;
  candidates.clear();
  for (const Entry& entry : entries) {
    if (!(entry.g <= label.g)) break;
    if (!MayDominate(entry.summary, probe)) continue;
    candidates.push_back(entry.label_id);
    store_->Prefetch(entry.label_id);
  }
  for (const int32_t id : candidates) {
    if (Dominates(id, label)) return true;
  }
  return false;
}

int FrontierTable::Insert(const Label& label) {
  std::vector<Entry>& entries = frontiers_[FindOrOpen(label)];
  PackFlags(label);
  // Entries with a smaller g cannot be dominated by the label and stay
  // where they are; of the others, the survivors move up in order, and the
  // new entry goes after every entry whose g is not above its own.
  const Summary probe = SummaryOf(label);
  const size_t count = entries.size();
  size_t kept = 0;
  while (kept < count && entries[kept].g < label.g) ++kept;
  // Records of the entries the summaries cannot rule out are fetched
  // together first, so that their cache misses overlap.
  for (size_t e = kept; e < count; ++e) {
    if (label.g <= entries[e].g && MayDominate(probe, entries[e].summary)) {
      store_->Prefetch(entries[e].label_id);
    }
  }
  size_t insert_at = kNoPosition;
  int removed = 0;
  for (size_t e = kept; e < count; ++e) {
    const Entry entry = entries[e];
    if (label.g <= entry.g && MayDominate(probe, entry.summary) &&
        DominatedBy(entry.label_id, label)) {
      ++removed;
      continue;
    }
    if (insert_at == kNoPosition && LessG(label.g, entry.g)) insert_at = kept;
    entries[kept++] = entry;
  }
  entries.resize(kept);
  if (insert_at == kNoPosition) insert_at = kept;
  const size_t capacity_before = entries.capacity();
  entries.insert(entries.begin() + static_cast<std::ptrdiff_t>(insert_at),
                 Entry{label.g, probe, static_cast<int32_t>(label.id)});
  entry_bytes_ += (entries.capacity() - capacity_before) * sizeof(Entry);
  num_entries_ = num_entries_ + 1 - static_cast<size_t>(removed);
  return removed;
}

size_t FrontierTable::MemoryBytes() const {
  return keys_.capacity() * sizeof(uint16_t) +
         (slots_.capacity() + tags_.capacity()) * sizeof(uint32_t) +
         frontiers_.capacity() * sizeof(std::vector<Entry>) + entry_bytes_;
}

}  // namespace tarsel
