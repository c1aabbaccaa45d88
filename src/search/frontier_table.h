#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/label.h"
#include "search/label_store.h"

namespace tarsel {

// Pareto frontiers of expanded labels, one per configuration of agent
// positions, over objective value, per-agent costs, finished routes and
// visited nodes.
//
// An entry is the label's g, the sum of its costs, its visited count, its
// visited set folded into one word, and its id in the label store, where
// the rest of the label lies in one record; a frontier keeps its entries
// sorted by g in one flat array, so the scan for entries that may dominate
// a label reads them contiguously, stops at the first larger g, and passes
// over entries that cannot dominate by these summaries (a larger cost sum,
// fewer visited nodes, a fold that misses one of the label's bits) without
// reading the store. No entry owns
// heap memory. Configurations are looked up in an open-addressing table
// whose keys (agent positions, 16 bits each) live in one flat array.
class FrontierTable {
 public:
  FrontierTable() { Reset(nullptr); }
  // Empties the table for labels kept in `store` (its agent count must not
  // change while the table is in use).
  void Reset(const LabelStore* store);

  // True if some entry of the label's configuration dominates it (equal
  // labels dominate each other); false when the configuration has none.
  // `label` need not be stored.
  bool IsDominated(const Label& label) const;
  // Removes the entries `label` dominates from its configuration's frontier
  // (opened on first use), adds it and returns how many went. `label` must
  // be stored under label.id.
  int Insert(const Label& label);

  size_t NumFrontiers() const { return frontiers_.size(); }
  size_t NumEntries() const { return num_entries_; }
  // Bytes reserved by the table (kept up to date as it grows: O(1)).
  size_t MemoryBytes() const;

 private:
  static constexpr uint32_t kEmpty = 0xFFFFFFFFu;
  // Summaries of a label that allow an early "cannot dominate".
  struct Summary {
    double cost_sum;         // costs summed in agent order
    uint64_t visited_fold;   // the OR of the visited words, without the
                             // bits every label of the search has set
    uint32_t visited_count;
  };
  struct Entry {
    double g;
    Summary summary;
    int32_t label_id;
  };
  Summary SummaryOf(const Label& label) const;
  // Whether a label with summary `a` may dominate one with summary `b`:
  // covering b's nodes needs as many nodes and every bit of b's fold, and
  // costs summed in the same order are monotone (unless a sum is NaN).
  static bool MayDominate(const Summary& a, const Summary& b) {
    if (a.visited_count < b.visited_count) return false;
    if ((b.visited_fold & ~a.visited_fold) != 0) return false;
    return !(a.cost_sum > b.cost_sum);
  }

  uint64_t Hash(const Label& label) const;
  bool KeyEquals(uint32_t frontier, const Label& label) const;
  // Frontier of the label's configuration, or kEmpty.
  uint32_t Find(const Label& label) const;
  uint32_t FindOrOpen(const Label& label);
  void Grow();
  // Writes the label's finished flags as the store keeps them into probe_flags_.
  void PackFlags(const Label& label) const;
  // Stored label `id` dominates `label` (g already compared).
  bool Dominates(int32_t id, const Label& label) const;
  // `label` dominates stored label `id` (g already compared).
  bool DominatedBy(int32_t id, const Label& label) const;

  const LabelStore* store_ = nullptr;
  size_t num_agents_ = 0;
  VisitedSet fold_mask_;  // the bits below the store's node count
  std::vector<uint16_t> keys_;                 // num_agents_ per frontier
  std::vector<std::vector<Entry>> frontiers_;  // ascending g, NaN last
  // Per slot: the frontier index (kEmpty when free) and the upper half of
  // its key's hash, compared before the key itself.
  std::vector<uint32_t> slots_;
  std::vector<uint32_t> tags_;
  size_t num_entries_ = 0;
  size_t entry_bytes_ = 0;  // capacity of every frontier's entries, in bytes
  mutable std::vector<uint8_t> probe_flags_;
  mutable std::vector<int32_t> candidates_;  // scratch of IsDominated
};

}  // namespace tarsel
