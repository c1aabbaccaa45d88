#include "search/search_lists.h"

#include <iterator>

namespace tarsel {

void SearchLists::Clear() {
  open_.clear();
  focal_.clear();
  focal_bound_ = 0;
}

FocalEntry SearchLists::PopFocal() {
  const FocalEntry first = *focal_.begin();
  focal_.erase(focal_.begin());
  return first;
}

FocalEntry SearchLists::StoredFocalEntry(double f, int64_t label_id, const LabelStore& store) {
  const int64_t visited = store.Visited(label_id).CountBelow(store.NumNodes());
  return FocalEntry{label_id, visited, store.ActiveAgents(label_id), f, 0.0};
}

void SearchLists::UpdateFocalBound(double old_bound, double new_bound, const LabelStore& store) {
  if (old_bound < new_bound) {
    for (auto it = open_.upper_bound({old_bound, INT64_MAX}); it != open_.end(); ++it) {
      if (it->first > new_bound) break;
      if (!(it->first > old_bound)) continue;
      focal_.insert(StoredFocalEntry(it->first, it->second, store));
    }
  } else {
    for (auto it = focal_.begin(); it != focal_.end();) {
      it = it->f > new_bound ? focal_.erase(it) : std::next(it);
    }
  }
  focal_bound_ = new_bound;
}

bool SearchLists::RefillFocal(const LabelStore& store) {
  for (const auto& [f, id] : open_) {
    if (f > focal_bound_) break;
    focal_.insert(StoredFocalEntry(f, id, store));
  }
  return !focal_.empty();
}

void SearchLists::PruneAbove(double cost) {
  for (auto it = focal_.begin(); it != focal_.end();) {
    it = it->f > cost ? focal_.erase(it) : std::next(it);
  }
  open_.erase(open_.upper_bound({cost + 0.2, INT64_MAX}), open_.end());
}

}  // namespace tarsel
