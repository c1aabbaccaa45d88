#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/label.h"
#include "search/label_store.h"

namespace tarsel {

// Pareto frontiers of expanded labels, one per configuration of agent
// positions, over objective value, per-agent costs, finished routes and
// visited nodes (a superset, but the same on the nodes set as exact).
//
// An entry is the label's g, two partial sums of its costs, its visited
// count, its visited set folded into two words, and its id in the label
// store, where the rest of the label lies in one record; a frontier keeps
// its entries sorted by g in one flat array, so the scan for entries that
// may dominate a label reads them contiguously, stops at the first larger
// g, and passes over entries that cannot dominate by these summaries (a
// larger partial sum, fewer visited nodes, a fold that misses one of the
// label's bits) without reading the store. Where the folds are exact, the
// record is read for the finished flags and the costs only. No entry owns
// heap memory. Configurations are looked up in an open-addressing table
// whose keys (agent positions, 16 bits each) live in one flat array.
class FrontierTable {
 public:
  FrontierTable() { Reset(nullptr); }
  // Empties the table for labels kept in `store` (its agent count must not
  // change while the table is in use). A label dominates another only if
  // both have visited the same of the `exact_nodes`: nodes that a
  // completion cannot simply leave out (see tables/shortcuts.h).
  void Reset(const LabelStore* store, const VisitedSet& exact_nodes = VisitedSet());

  // True if some entry of the label's configuration dominates it (equal
  // labels dominate each other); false when the configuration has none.
  // `label` need not be stored.
  bool IsDominated(const Label& label) const;
  // Removes the entries `label` dominates from its configuration's frontier
  // (opened on first use), adds it and returns how many went. `label` must
  // be stored under label.id.
  int Insert(const Label& label);

  // Hints for a label whose dominance is asked soon, to be given in this
  // order for a batch of labels: each step fetches what the next one reads
  // (the lookup slot, then the configuration's key and frontier, then its
  // first entries), so that the cache misses of the batch overlap instead
  // of following one another. They change nothing.
  // `hash` is KeyHash(label).
  uint64_t KeyHash(const Label& label) const;
  void PrefetchSlot(uint64_t hash) const;
  void PrefetchFrontier(uint64_t hash) const;
  void PrefetchEntries(const Label& label, uint64_t hash) const;

  size_t NumFrontiers() const { return frontiers_.size(); }
  size_t NumEntries() const { return num_entries_; }
  // Bytes reserved by the table (kept up to date as it grows: O(1)).
  size_t MemoryBytes() const;

 private:
  static constexpr uint32_t kEmpty = 0xFFFFFFFFu;
  // Summaries of a label that allow an early "cannot dominate".
  //
  // Costs: the costs of the even-numbered and of the odd-numbered agents,
  // each summed in agent order and rounded to a float. Sums of costs that
  // are each at most another label's are at most that label's sums
  // (addition in a fixed order and rounding are both monotone), so a label
  // dominates another only if neither of its sums is larger; a NaN sum
  // rules nothing out.
  //
  // Visited nodes: the set below the store's node count folded into two
  // words (bits i and i + 128 share a bit), exact when there are at most 128
  // nodes; `rest_full` says that every bit from the node count up is set, as
  // in every label of a search. Between two such labels of a search of at
  // most 128 nodes, the folds alone decide whether one covers the other's
  // nodes.
  struct Summary {
    float sums[2];
    uint64_t fold[2];
    uint32_t visited_count;
    bool rest_full;
  };
  struct Entry {
    double g;
    float sums[2];
    uint64_t fold[2];
    int32_t label_id;
    uint32_t visited_count : 31;
    uint32_t rest_full : 1;
  };
  struct Slot {
    uint32_t frontier;  // kEmpty when free
    uint32_t tag;       // upper half of the key's hash, compared before the key
  };
  Summary SummaryOf(const Label& label) const;
  // Every test below is evaluated, without branching on its answer: which
  // entries pass is data the processor cannot predict, and a scan meets
  // dozens of them per label.
  template <typename A, typename B>
  static bool MayDominate(const A& a, const B& b) {
    return (a.visited_count >= b.visited_count) & ((b.fold[0] & ~a.fold[0]) == 0) &
           ((b.fold[1] & ~a.fold[1]) == 0) & !(a.sums[0] > b.sums[0]) &
           !(a.sums[1] > b.sums[1]);
  }
  // Whether MayDominate(a, b) already proves that a covers b's nodes.
  template <typename A, typename B>
  bool FoldsDecide(const A& a, const B& b) const {
    return exact_folds_ && a.rest_full && b.rest_full;
  }

  uint64_t Hash(const Label& label) const;
  uint64_t HashKey(const uint16_t* key) const;  // the same hash of a stored key
  bool KeyEquals(uint32_t frontier, const Label& label) const;
  // Frontier of the label's configuration, or kEmpty (`hash`: Hash(label)).
  uint32_t Find(const Label& label) const { return Find(label, KeyHash(label)); }
  uint32_t Find(const Label& label, uint64_t hash) const;
  uint32_t FindOrOpen(const Label& label);
  void Grow();
  // Writes the label's finished flags as the store keeps them into probe_flags_.
  void PackFlags(const Label& label) const;
  // Stored label `id` dominates `label` (g compared, and the visited sets
  // too when `visited_known`).
  bool Dominates(int32_t id, const Label& label, bool visited_known) const;
  // `label` dominates stored label `id` (likewise).
  bool DominatedBy(int32_t id, const Label& label, bool visited_known) const;

  // Whether stored label `id` and `label` agree on the exact nodes.
  bool SameExactNodes(int32_t id, const Label& label) const;

  const LabelStore* store_ = nullptr;
  size_t num_agents_ = 0;
  VisitedSet exact_nodes_;
  bool has_exact_nodes_ = false;
  VisitedSet fold_mask_;  // the bits below the store's node count
  bool exact_folds_ = false;  // the store's node count is at most 128
  std::vector<uint16_t> keys_;                 // num_agents_ per frontier
  std::vector<std::vector<Entry>> frontiers_;  // ascending g, NaN last
  std::vector<Slot> slots_;
  size_t num_entries_ = 0;
  size_t entry_bytes_ = 0;  // capacity of every frontier's entries, in bytes
  mutable std::vector<uint8_t> probe_flags_;
  mutable std::vector<int32_t> candidates_;  // scratch of IsDominated
  std::vector<uint32_t> positions_;          // scratch of Insert
};

}  // namespace tarsel
