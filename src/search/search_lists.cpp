#include "search/search_lists.h"

#include <cstdint>

namespace tarsel {

void SearchLists::Clear() {
  open_.Clear();
  focal_.Clear();
  focal_bound_ = 0;
}

FocalEntry SearchLists::PopFocal() {
  const FocalEntry first = focal_.Front().Expand();
  focal_.PopFront();
  return first;
}

FocalEntry SearchLists::EntryOfStoredLabel(double f, int64_t label_id, const LabelStore& store) {
  const int64_t visited = store.Visited(label_id).CountBelow(store.NumNodes());
  return FocalEntry{label_id, visited, store.ActiveAgents(label_id), f, 0.0};
}

void SearchLists::UpdateFocalBound(double old_bound, double new_bound, const LabelStore& store) {
  if (old_bound < new_bound) {
    for (auto it = open_.UpperBound({old_bound, INT64_MAX}); it != open_.end(); ++it) {
      if (it->first > new_bound) break;
      if (!(it->first > old_bound)) continue;
      InsertFocal(EntryOfStoredLabel(it->first, it->second, store));
    }
  } else {
    focal_.EraseIf([new_bound](const StoredFocalEntry& entry) { return entry.f > new_bound; });
  }
  focal_bound_ = new_bound;
}

bool SearchLists::RefillFocal(const LabelStore& store) {
  for (const auto& [f, id] : open_) {
    if (f > focal_bound_) break;
    InsertFocal(EntryOfStoredLabel(f, id, store));
  }
  return !focal_.Empty();
}

void SearchLists::PruneAbove(double cost) {
  focal_.EraseIf([cost](const StoredFocalEntry& entry) { return entry.f > cost; });
  open_.EraseFrom(open_.UpperBound({cost + 0.2, INT64_MAX}));
}

}  // namespace tarsel
