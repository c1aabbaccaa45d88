#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "common/focal_entry.h"
#include "plugins/focal_comparator_plugin.h"
#include "search/flat_ordered_set.h"
#include "search/label_store.h"

namespace tarsel {

// A focal entry as the focal list keeps it: 24 bytes instead of 40 (label
// ids stay below 2^31, visited counts below 2^16 and agent counts below
// 2^16 in a search).
struct StoredFocalEntry {
  double f = 0;
  double total_cost = 0;
  int32_t label_id = 0;
  uint16_t visited_count = 0;
  uint16_t active_agents = 0;

  static StoredFocalEntry From(const FocalEntry& entry) {
    return StoredFocalEntry{entry.f, entry.total_cost, static_cast<int32_t>(entry.label_id),
                            static_cast<uint16_t>(entry.visited_count),
                            static_cast<uint16_t>(entry.active_agents)};
  }
  FocalEntry Expand() const {
    return FocalEntry{label_id, visited_count, active_agents, f, total_cost};
  }
};

// Orders the focal list through the installed comparator plugin.
struct FocalOrder {
  const FocalComparatorPlugin* comparator = nullptr;
  bool operator()(const StoredFocalEntry& a, const StoredFocalEntry& b) const {
    return comparator->Compare(a.Expand(), b.Expand());
  }
};

// The open list (every open label as (f, id), ascending) and the focal list
// (the open labels with f within the focal bound, in the comparator's
// order), with the bound that links them.
//
// The focal list is a set under the comparator: an entry equivalent to one
// it holds is turned away; such labels stay open and come back through
// Refill when the focal list runs empty.
class SearchLists {
 public:
  using OpenSet = FlatOrderedSet<std::pair<double, int64_t>>;
  using FocalSet = FlatOrderedSet<StoredFocalEntry, FocalOrder>;

  explicit SearchLists(const FocalComparatorPlugin* comparator)
      : focal_(FocalOrder{comparator}) {}

  void Clear();

  void InsertOpen(double f, int64_t label_id) { open_.Insert({f, label_id}); }
  void EraseOpen(double f, int64_t label_id) { open_.Erase({f, label_id}); }
  bool OpenEmpty() const { return open_.Empty(); }
  // Smallest f of the open list; the list must not be empty.
  double MinOpenF() const { return open_.Front().first; }

  void InsertFocal(const FocalEntry& entry) { focal_.Insert(StoredFocalEntry::From(entry)); }
  bool FocalEmpty() const { return focal_.Empty(); }
  // Removes and returns the first focal entry; the list must not be empty.
  FocalEntry PopFocal();

  double FocalBound() const { return focal_bound_; }
  void SetFocalBound(double bound) { focal_bound_ = bound; }

  // Moves the bound from `old_bound` to `new_bound`: a higher bound brings
  // the open labels in between into the focal list, a lower one drops the
  // focal entries above it.
  void UpdateFocalBound(double old_bound, double new_bound, const LabelStore& store);
  // Puts every open label within the focal bound back into the focal list;
  // returns whether the focal list holds any entry.
  bool RefillFocal(const LabelStore& store);
  // Drops focal entries with f above `cost` and open labels with f above
  // cost + 0.2.
  void PruneAbove(double cost);

  // Focal entry of a stored open label, as entries taken from the open list
  // carry it: total cost 0.
  static FocalEntry EntryOfStoredLabel(double f, int64_t label_id, const LabelStore& store);

  const OpenSet& Open() const { return open_; }
  const FocalSet& Focal() const { return focal_; }
  size_t MemoryBytes() const { return open_.MemoryBytes() + focal_.MemoryBytes(); }

 private:
  OpenSet open_;
  FocalSet focal_;
  double focal_bound_ = 0;
};

}  // namespace tarsel
